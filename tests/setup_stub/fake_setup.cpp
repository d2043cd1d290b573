// The scripted setup library: complete_info answers from the script,
// complete_error records the text it was shown.
#include "fake_setup.h"

#include <string.h>

static fake_setup_state state;

extern "C" fake_setup_state *fake_setup(void) { return &state; }

static void note(const char *what)
{
    if (state.log[0])
        strncat(state.log, ",", sizeof state.log - strlen(state.log) - 1);
    strncat(state.log, what, sizeof state.log - strlen(state.log) - 1);
}

static bool all_zero(const my_prompt *r)
{
    const unsigned char *p = (const unsigned char *)r;
    for (size_t i = 0; i < sizeof *r; i++)
        if (p[i])
            return false;
    return true;
}

extern "C" int complete_info(my_connection *, void *window, my_prompt *record)
{
    int n = state.info_calls++;
    note("info");
    if (n == 0)
        state.first_record_zero = all_zero(record);
    if (n >= FAKE_MAX_CALLS)
        return 100;
    state.records[n] = record;
    state.windows[n] = window;
    if (state.results[n] == 0)
        memcpy(record, &state.answers[n], sizeof *record);
    return state.results[n];
}

extern "C" void complete_error(my_connection *, const char *text, void *)
{
    state.error_calls++;
    note("error");
    strncpy(state.error_text, text, sizeof state.error_text - 1);
}

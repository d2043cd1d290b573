/*
 * A scripted stand-in for the setup library (built as libqvmysqlS.so) so the
 * driver's prompting can be tested without a windowing system. The test
 * opens the library itself to reach its state, which therefore stays put
 * while the driver loads and unloads it around each call.
 */
#ifndef QV_FAKE_SETUP_H
#define QV_FAKE_SETUP_H

#include "my_prompt.h"

enum { FAKE_MAX_CALLS = 8 };

struct fake_setup_state {
    /* script: what the n-th complete_info call answers (past the script: 100) */
    int results[FAKE_MAX_CALLS];
    my_prompt answers[FAKE_MAX_CALLS];   /* copied into the record when the result is 0 */
    /* record of what happened */
    int info_calls;
    int error_calls;
    char log[256];                       /* "info", "error" in call order, comma-separated */
    const my_prompt *records[FAKE_MAX_CALLS];
    void *windows[FAKE_MAX_CALLS];
    int first_record_zero;               /* the record was all zero at the first call */
    char error_text[2048];
};

extern "C" fake_setup_state *fake_setup(void);
typedef fake_setup_state *(*fake_setup_fn)(void);

#endif

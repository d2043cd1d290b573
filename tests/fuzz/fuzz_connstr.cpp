// Fuzz target: the connection-string parser, the output string built from
// what it parsed, and the masking of passwords for trace lines. The input's
// first byte picks how the rest is read: 0 UTF-8 bytes, 1 Latin-1 bytes,
// 2 UTF-16 units (the wide entry points), and whether the application's
// narrow text counts as UTF-8 (bit 4).
//
// A string may turn tracing on and name a LogFile: the target works in a
// scratch directory of its own, turns every '/' of the input into '_' so
// that such a file can only be made there, and removes it after each input.
#include <dirent.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <sql.h>
#include <sqlext.h>

#include "connect/my_connect.h"
#include "frame/my_handle.h"
#include "fuzz/fuzz_support.h"
#include "my_settings.h"

namespace {

const char DEFAULT_TRACE[] = "qvfuzz-trace.log";
char scratch[] = "/tmp/qvfuzz-connstr-XXXXXX";

// Removes every file a trace made in the scratch directory (the working
// directory): names with the process and thread appended too.
void empty_scratch()
{
    DIR *d = opendir(scratch);
    if (!d)
        return;
    while (struct dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            unlinkat(dirfd(d), e->d_name, 0);
    closedir(d);
}

void remove_scratch()
{
    empty_scratch();
    if (chdir("/") == 0)
        rmdir(scratch);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!mkdtemp(scratch) || chdir(scratch) != 0)
        abort();
    atexit(remove_scratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 8192)
        return 0;
    unsigned mode = data[0];
    std::vector<uint8_t> text(data + 1, data + size);
    for (uint8_t &b : text)
        if (b == '/')
            b = '_';

    my_string *in;
    switch (mode & 3) {
    case 0: in = ms_from_utf8((const char *)text.data(), (int64_t)text.size()); break;
    case 1: in = ms_from_latin1_n((const char *)text.data(), text.size()); break;
    default: {
        std::vector<uint16_t> units(text.size() / 2);
        if (!units.empty())
            memcpy(units.data(), text.data(), units.size() * 2);
        for (uint16_t &u : units)
            if (u == '/')
                u = '_';
        in = ms_from_utf16(units.data(), (int64_t)units.size());
        break;
    }
    }
    if (!in)   // no units at all (a null pointer makes no string)
        return 0;

    qvfuzz::link l(nullptr, 0, false);
    my_connection *c = l.c;
    memcpy(c->LogFile, DEFAULT_TRACE, sizeof DEFAULT_TRACE);
    setting_given given;
    if (parse_connect_string(c, in, (mode & 16) != 0, &given, "SQLDriverConnect") == 0) {
        c->hdr.log_flags = 0;
        my_string *out = build_out_string(c);
        ms_free(out);
    }
    my_string *masked = mask_password(in);
    ms_free(masked);
    if (c->LogFile[0])
        empty_scratch();
    ms_free(in);
    return 0;
}

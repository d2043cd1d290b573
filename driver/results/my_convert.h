/*
 * Converters: one per target C type, each reading the held value of one
 * column (data_storage, see my_data.h) and writing the application's
 * buffer, length/indicator and octet length. my_get_data picks one by the
 * target type and owns the per-column retrieval state around it.
 *
 * Every converter:
 *   - leaves NULL values to deliver_null (the dispatcher calls it first);
 *   - posts 07006 for a held representation it does not take;
 *   - never allocates: rendered texts live in stack buffers and character
 *     values are copied straight from where they are held.
 */
#ifndef QV_MY_CONVERT_H
#define QV_MY_CONVERT_H

#include <stddef.h>

#include <sql.h>
#include <sqlext.h>

#include "my_handles.h"

struct conv_ctx {
    my_statement *s;
    int column;                /* for diagnostics and the trace */
    field *ird;                /* the column's record; its storage holds the value */
    void *target;              /* null: only the lengths are wanted */
    SQLLEN buffer_length;
    SQLLEN *ind;
    SQLLEN *oct;               /* null when the caller shares it with ind */
    const unsigned char *bytes;/* the held bytes (character, binary, decimal text) */
    int keep_open;             /* out: the value has more to deliver (or was
                                  only measured); the column stays open */
};

typedef SQLRETURN (*converter)(conv_ctx &c);

/* A NULL value: SQL_NULL_DATA and octet length 0; without an indicator
 * 22002 and SQL_ERROR. */
SQLRETURN deliver_null(conv_ctx &c);

SQLRETURN get_char(conv_ctx &c);
/* SQL_C_WCHAR when the application's wide buffers carry UTF-8 bytes. */
SQLRETURN get_wchar_utf8(conv_ctx &c);
SQLRETURN get_wchar(conv_ctx &c);
SQLRETURN get_numeric(conv_ctx &c);
SQLRETURN get_slong(conv_ctx &c);
SQLRETURN get_ulong(conv_ctx &c);
SQLRETURN get_sshort(conv_ctx &c);
SQLRETURN get_ushort(conv_ctx &c);
SQLRETURN get_stiny(conv_ctx &c);
SQLRETURN get_utiny(conv_ctx &c);
SQLRETURN get_bit(conv_ctx &c);
SQLRETURN get_sbigint(conv_ctx &c);
SQLRETURN get_ubigint(conv_ctx &c);
SQLRETURN get_float(conv_ctx &c);
SQLRETURN get_double(conv_ctx &c);
SQLRETURN get_date(conv_ctx &c);
SQLRETURN get_time(conv_ctx &c);
SQLRETURN get_timestamp(conv_ctx &c);
SQLRETURN get_binary(conv_ctx &c);
SQLRETURN get_guid(conv_ctx &c);

/* Number text of a character value: blanks, an optional sign, digits,
 * optionally '.' and digits, blanks; at least one digit. 0 with the counts
 * of all digits and of fraction digits, or -1. Nothing past len is read. */
int scan_number_text(const char *text, size_t len, int *digits, int *fraction_digits);


#endif

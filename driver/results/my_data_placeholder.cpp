/*
 * PLACEHOLDER, to be removed when the column-value module (my_data.cpp)
 * lands: a text-row reader that holds every value as its bytes, and a
 * converter for SQL_C_CHAR and the integer types, so that fetching and
 * binding can run before the real conversions exist. Weak, so the real
 * definitions win when both are linked.
 */
#include <stdlib.h>
#include <string.h>

#include "frame/my_handle.h"
#include "protocol/my_pkt.h"
#include "results/my_data.h"
#include "stmt/my_desc.h"

__attribute__((weak)) int read_text_column(my_statement *s, int index)
{
    my_descriptor *ird = s->ird;
    my_packet *row = s->current_row;
    if (!ird || !row || index < 0 || index >= ird->field_count)
        return -1;
    data_storage *ds = &ird->records[index].storage;
    ds->isnull = 0;
    ds->value_offset = 0;
    ds->data_done = 0;
    ds->alloc_length = 0;
    ds->data_type = SQL_CHAR;
    if (packet_remaining(row) > 0 && packet_peek_u8(row) == LENENC_NULL) {
        packet_get_u8(row, nullptr);
        ds->isnull = 1;
        return 0;
    }
    uint64_t len;
    if (packet_get_lenenc(row, &len) != 0 || len > (uint64_t)packet_remaining(row)) {
        post_error_col(s, ST_08S01, 0, index + 1, "row data ends before its columns do");
        return -1;
    }
    if (len + 1 > ds->capacity) {
        unsigned char *b = (unsigned char *)realloc(ds->buffer, (size_t)len + 1);
        if (!b) {
            post_error(s, ST_HY001, 0, nullptr);
            return -1;
        }
        ds->buffer = b;
        ds->capacity = (uint32_t)len + 1;
    }
    packet_get_bytes(row, ds->buffer, (size_t)len);
    ds->buffer[len] = 0;
    ds->alloc_length = (int32_t)len;
    return 0;
}

__attribute__((weak)) SQLRETURN my_get_data(my_statement *s, int column, int target_type,
                                             void *target, SQLLEN buffer_length, SQLLEN *ind,
                                             SQLLEN *oct)
{
    my_descriptor *ird = s->ird;
    if (!ird || column < 1 || column > ird->field_count)
        return SQL_ERROR;
    data_storage *ds = &ird->records[column - 1].storage;
    if (ds->data_done)
        return SQL_NO_DATA;
    if (oct == ind)
        oct = nullptr;
    ds->data_done = 1;
    if (ds->isnull) {
        if (ind)
            *ind = SQL_NULL_DATA;
        if (oct)
            *oct = 0;
        return SQL_SUCCESS;
    }
    const char *text = ds->buffer ? (const char *)ds->buffer : "";
    SQLLEN n = ds->alloc_length;
    switch (target_type) {
    case SQL_C_CHAR:
    case SQL_C_DEFAULT: {
        if (ind)
            *ind = n;
        if (oct)
            *oct = n;
        if (!target || buffer_length < 1)
            return SQL_SUCCESS;
        if (n < buffer_length) {
            memcpy(target, text, (size_t)n + 1);
            return SQL_SUCCESS;
        }
        memcpy(target, text, (size_t)buffer_length - 1);
        ((char *)target)[buffer_length - 1] = 0;
        post_error_col(s, ST_01004, 0, column, nullptr);
        return SQL_SUCCESS_WITH_INFO;
    }
    case SQL_C_LONG:
    case SQL_C_SLONG:
        if (target)
            *(SQLINTEGER *)target = (SQLINTEGER)strtol(text, nullptr, 10);
        if (ind)
            *ind = 4;
        return SQL_SUCCESS;
    case SQL_C_SBIGINT:
        if (target)
            *(SQLBIGINT *)target = strtoll(text, nullptr, 10);
        if (ind)
            *ind = 8;
        return SQL_SUCCESS;
    default:
        post_error_col(s, ST_07006, 0, column, nullptr);
        return SQL_ERROR;
    }
}

__attribute__((weak)) void reset_column_values(my_statement *s)
{
    my_descriptor *ird = s->ird;
    for (int i = 0; ird && i < ird->field_count; i++) {
        data_storage *ds = &ird->records[i].storage;
        ds->isnull = ds->value_offset = ds->data_done = ds->alloc_length = 0;
    }
}

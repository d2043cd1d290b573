/*
 * What the descriptor entry points (SQLGetDescField, SQLSetDescField,
 * SQLGetDescRec, SQLSetDescRec and their wide twins) share: the table of
 * record fields, the role a descriptor plays for its statement, picking the
 * record a call addresses, describing an implementation descriptor on
 * demand and writing values with their ODBC widths.
 *
 * All functions are called with the descriptor's entry_lock held and post
 * their diagnostics on the descriptor.
 */
#ifndef QV_MY_DESC_FIELD_H
#define QV_MY_DESC_FIELD_H

#include <stddef.h>
#include <stdint.h>

#include <sql.h>

#include "my_handles.h"

/* ---- the role a descriptor plays ---- */
enum desc_role {
    ROLE_IRD,            /* its statement's IRD */
    ROLE_IPD,            /* its statement's IPD */
    ROLE_ARD,            /* the current ARD of its statement (implicit or explicit) */
    ROLE_APD,            /* the current APD of its statement */
    ROLE_UNASSOCIATED,   /* an explicit descriptor no statement uses at present */
};
desc_role desc_role_of(const my_descriptor *d);

/* ---- the record fields, one row each ---- */
/* How a field's value is held in `field`. */
enum member_kind {
    MK_INT32,    /* int32_t member */
    MK_INT64,    /* int64_t member */
    MK_PTR,      /* pointer member */
    MK_STRING,   /* my_string* member */
    MK_UNNAMED,  /* derived: SQL_UNNAMED when the name is absent */
};

/* What SQLSetDescField does with a field (the IRD refuses them all). */
enum set_rule {
    SET_IGNORED,          /* accepted and ignored */
    SET_IGNORED_NOT_IPD,  /* HY091 on the IPD, ignored elsewhere */
    SET_STORE,            /* stored with the field's ODBC width */
    SET_CONCISE_TYPE,     /* stored, then the type fields re-derived */
    SET_TYPE,
    SET_INTERVAL_CODE,
    SET_BINDING_PTR,      /* indicator / octet-length pointer: not stored on the IPD */
    SET_DATA_PTR,         /* not stored on the IPD; elsewhere consistency-checked */
    SET_PARAMETER_TYPE,   /* IPD only */
    SET_NAME,             /* IPD only */
    SET_UNNAMED,          /* IPD only */
};

struct desc_field_row {
    int16_t identifier;
    member_kind kind;
    int width;             /* bytes of the ODBC type: 2, 4 or 8; 0 for strings */
    size_t member;         /* offsetof(field, ...) */
    size_t fallback;       /* string read when the member is absent; NO_FALLBACK */
    set_rule rule;
};
enum : size_t { NO_FALLBACK = (size_t)-1 };

/* The row of a record field, or null for an identifier that is not one. */
const desc_field_row *desc_field_lookup(int identifier);
/* Header identifiers: SQL_DESC_ARRAY_SIZE and friends. */
int desc_is_header_field(int identifier);

/* The value of an integer or pointer field of f as a 64-bit number. */
int64_t desc_field_number(const field *f, const desc_field_row *row);
/* Stores v into an integer or pointer field of f, cut to the field's ODBC
 * width first (the application passes it in a pointer-sized argument). */
void desc_field_store(field *f, const desc_field_row *row, int64_t v);
/* The text of a string field of f (the fallback when absent); null: absent. */
const my_string *desc_field_text(const field *f, const desc_field_row *row);

/* Writes v into *value with exactly `width` bytes (2, 4 or 8) when value is
 * not null, and the width into *string_length when that is not null. */
void put_number(void *value, int width, int64_t v, SQLINTEGER *string_length);

/* ---- the record a call addresses ---- */
/* For reading: record rec (0 is the bookmark record), or null with 07009
 * posted for a negative rec, one above the count, or 0 on an APD or IPD. */
field *desc_record_for_get(my_descriptor *d, int rec);
/* For changing: record rec, growing the list up to rec. Null with 07009
 * posted for a negative rec or rec 0 on the IPD; null with HY001 "failed
 * expanding descriptor" posted (and "<fname>: failed to expand descriptor"
 * logged) when memory runs out. */
field *desc_record_for_set(my_descriptor *d, desc_role role, int rec, const char *fname);

/* ---- describing on demand ---- */
/* For the IRD or IPD of a statement with SQL text that is not prepared or
 * not yet described: prepares and describes it so the records reflect the
 * statement. SQL_SUCCESS, or SQL_ERROR with diagnostics on d. Application
 * descriptors and explicit descriptors are left alone (SQL_SUCCESS). */
SQLRETURN desc_describe_on_demand(my_descriptor *d, const char *fname);

/* Copies a string result by the copy-out rule: mode is a copy_mode of
 * frame/my_handle.h; *full receives the full length (0 for an absent
 * string). An absent string reads as an empty one that fits whenever the
 * buffer holds a terminator. Returns 1 when the text was cut, after posting
 * 01004 on d. */
int desc_copy_text(my_descriptor *d, const my_string *s, int mode, void *buf,
                   int64_t buf_len, int64_t *full);

#endif

/*
 * Machinery the catalog functions share: their name arguments, the SQL they
 * compose from them, the inner statements that run it, and the rows they
 * put into the application statement's internal result set.
 *
 * Every caller-supplied name reaches a query only through sql_add_literal
 * (a '...' string literal, escaped the way parameter literals are) or
 * sql_add_ident (a `...` identifier with doubled backquotes): a name is
 * data, never SQL, whatever characters it holds.
 */
#ifndef QV_MY_CATALOG_H
#define QV_MY_CATALOG_H

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frame/my_handle.h"
#include "results/my_internalrs.h"

/* A driver string freed when it goes out of scope (an exception included). */
struct ms_deleter {
    void operator()(my_string *s) const { ms_free(s); }
};
typedef std::unique_ptr<my_string, ms_deleter> ms_ptr;

/* One name argument, converted on entry (narrow by the connection's narrow
 * rules, wide by its wide rules, lengths in characters). */
struct cat_arg {
    my_string *s = nullptr;   /* null when the pointer was null */
    int64_t len = 0;          /* the length argument as given */
    int given = 0;            /* the pointer was not null */
    int ident = 0;            /* an identifier (SQL_ATTR_METADATA_ID): never a pattern */
    cat_arg() = default;
    cat_arg(const cat_arg &) = delete;
    cat_arg &operator=(const cat_arg &) = delete;
    ~cat_arg() { ms_free(s); }
};

/* Converts one argument. With the statement's SQL_ATTR_METADATA_ID set, a
 * name argument (not a value list such as SQLTables' table types) is an
 * identifier: surrounding blanks go, a `quoted` or "quoted" name loses its
 * quotes (doubled quotes inside become one), and it is never a pattern.
 * 0, or -1 with HY090 posted for a negative length other than SQL_NTS, or
 * HY001 when memory runs out. */
int cat_arg_init(my_statement *stmt, cat_arg *a, const void *text, int64_t len, int wide,
                 int value_list = 0);

/* Empty: no text, from a null pointer or an empty string. (The driver
 * manager hands a null pointer on with length 0 whatever the application
 * passed, and clients pass null for the "" of the ODBC enumerations.) */
int cat_empty(const cat_arg &a);
/* The pointer is there and the text is not empty. */
int cat_has_text(const cat_arg &a);
/* The converted text is the single character %, whatever form the length
 * took (SQL_NTS or a count). */
int cat_is_percent(const cat_arg &a);
/* Has text and is not "%": a name that filters. */
int cat_filters(const cat_arg &a);
/* A name holding %, _ or the escape character (a backslash) is a LIKE
 * pattern; anything else, and every identifier, is compared with =. */
int cat_is_pattern(const cat_arg &a);
/* Whether name passes the argument as a name filter would on the server:
 * an argument that does not filter passes everything, a pattern matches by
 * LIKE rules (% any run, _ one character, a backslash takes the next
 * character literally), anything else by equality; letters compare without
 * regard to case, as the server compares column names. */
int cat_name_matches(const my_string *name, const cat_arg &a);

/* Case-insensitive equality of names: ASCII letters fold, every other
 * character must match exactly (never a partial match on its low byte). */
int cat_equal_ci(const my_string *a, const my_string *b);
int cat_equal_ci_ascii(const my_string *a, const char *lit);

/* ---- composing SQL ---- */
/* All append to q and return 0, or -1 with HY001 posted on stmt. */
int sql_add(my_statement *stmt, my_string *q, const char *ascii);
/* name as a '...' literal in the session's escaping rules. */
int sql_add_literal(my_statement *stmt, my_string *q, const my_string *name);
/* name as a `...` identifier, backquotes doubled. */
int sql_add_ident(my_statement *stmt, my_string *q, const my_string *name);
/* " <column> LIKE '<name>' ESCAPE '\'" for a pattern (no ESCAPE clause on
 * MemSQL), " <column>='<name>'" for a plain name; lead is " WHERE" or
 * " AND". */
int sql_add_match(my_statement *stmt, my_string *q, const char *lead, const char *column,
                  const cat_arg &name);

/* The server's index listing of a table: "SHOW <verb> FROM `catalog`.`table`"
 * (verb "KEYS" or "INDEX"), or "... FROM `table`" without a catalog. A new
 * query, or null with HY001 posted. */
my_string *sql_index_listing(my_statement *stmt, const char *verb, const my_string *catalog,
                             const my_string *table);
/* Columns of the index listing by position. */
enum { IX_TABLE = 1, IX_NON_UNIQUE = 2, IX_KEY_NAME = 3, IX_SEQ = 4, IX_COLUMN = 5,
       IX_CARDINALITY = 7, IX_TYPE = 11 };

/* For a name that filters (cat_filters): " WHERE <column>='<name>'", or
 * " AND ..." once *where is set (it is set afterwards). */
int sql_add_filter(my_statement *stmt, my_string *q, int *where, const char *column,
                   const cat_arg &name);

/* ---- inner statements ---- */
/* Runs q (taken over) on a new inner statement of stmt's connection and
 * calls row for every row; row returns 0 to go on or -1 to stop with
 * failure (having posted on stmt). When the query fails its diagnostics are
 * copied onto stmt; *native (if given) receives the first one's native
 * error. 0, or -1. */
int catalog_query(my_statement *stmt, my_string *q,
                  const std::function<int(my_statement *inner)> &row, int *native = nullptr);
/* A new inner statement for work beyond one query (field lists); null with
 * HY001 posted on stmt. Free it with inner_release. */
my_statement *inner_create(my_statement *stmt);
void inner_release(my_statement *inner);
/* Copies every diagnostic of inner onto stmt, in order. */
void copy_inner_diagnostics(my_statement *stmt, my_statement *inner);

/* Column (1-based) of inner's current row, in the connection's text bytes
 * (what internal_rs_insert expects); nullptr with *is_null for SQL NULL. */
struct cat_text {
    std::string bytes;
    int is_null = 1;
    const char *get() const { return is_null ? nullptr : bytes.c_str(); }
};
cat_text inner_text(my_statement *inner, int column, uint32_t max_chars);

/* ---- result rows ---- */
/* The values of one result row, owned here until inserted. */
struct cat_row {
    std::vector<std::string> text;
    std::vector<char> null;
    explicit cat_row(size_t n) : text(n), null(n, 1) {}
    void set(size_t i, const char *v);
    void set(size_t i, const cat_text &v) { set(i, v.get()); }
    void set_ms(size_t i, const my_connection *c, const my_string *v);
    void set_int(size_t i, long v);
    /* 0, or -1 with the insert's diagnostic posted. */
    int insert(my_statement *stmt) const;
};

/* The type columns SQLColumns and SQLProcedureColumns share, for the
 * column or parameter f, from DATA_TYPE at index at: DATA_TYPE, TYPE_NAME,
 * COLUMN_SIZE, BUFFER_LENGTH, DECIMAL_DIGITS, NUM_PREC_RADIX (at + 0..5),
 * and SQL_DATA_TYPE, SQL_DATETIME_SUB, CHAR_OCTET_LENGTH (at + 9..11). */
void cat_set_type_columns(cat_row *r, size_t at, const field *f);

/* Text of a driver string in the connection's text bytes. */
std::string conn_bytes(const my_connection *c, const my_string *s);

/* Server 5.2 or later: INFORMATION_SCHEMA is there. */
int server_has_information_schema(const my_connection *c);

/* ---- the frame around a built result ---- */
/* Prepares stmt for a new catalog result: its previous result is closed and
 * a new internal result set with layout and keys is attached. 0 or -1. */
int catalog_begin(my_statement *stmt, const internal_rs_layout *layout, const int *keys);
/* A built result: optionally holds the connection like an open server
 * result until it is read or closed, and optionally runs the cursor check. */
SQLRETURN catalog_done(my_statement *stmt, int hold_connection, int cursor_check);

/* The asynchronous-operation rule of the catalog entry points: a recorded
 * operation that is the function's own (own_a, own_b) fails without a
 * diagnostic, run_a / run_b let the call go on, any other posts HY010.
 * 1 when the call must fail. */
int catalog_async_refused(my_statement *stmt, const char *fname, int own_a, int own_b,
                          int run_a = 0, int run_b = 0);

/* QV_STMT_ENTRY with that rule in place of the plain HY010 check. */
#define QV_CATALOG_ENTRY(handle, var, fname, own_a, own_b, run_a, run_b, ...)       \
    my_statement *var = as_stmt(handle);                                            \
    if (!var) return SQL_INVALID_HANDLE;                                            \
    entry_frame qv_frame_(var, &var->entry_lock, fname);                            \
    clear_diagnostics(var);                                                         \
    QV_TRACE(var, LOG_ENTRY, __VA_ARGS__);                                          \
    if (catalog_async_refused(var, fname, own_a, own_b, run_a, run_b))              \
        return QV_LEAVE(SQL_ERROR);

#endif

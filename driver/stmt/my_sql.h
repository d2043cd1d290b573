/*
 * SQL text processing and the statement command builders.
 *
 * my_process_sql trims an application's SQL text, drops byte-order marks,
 * counts the parameter markers and classifies the statement. The builders
 * turn a statement into the command packet that executes it: a COM_QUERY with
 * the parameter values substituted as literals, or the binary-protocol
 * COM_STMT_EXECUTE / CLOSE / RESET.
 *
 * Both the counting and the substitution walk the text with the one scanner
 * below, so a '?' is a parameter marker in exactly the places where both
 * agree it is one, and the n-th marker replaced is the n-th marker counted.
 */
#ifndef QV_MY_SQL_H
#define QV_MY_SQL_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "my_handles.h"
#include "protocol/my_pkt.h"

// ---- the scanner ------------------------------------------------------
// Splits UTF-16 SQL text into the pieces that matter for finding markers.
// Like the server, it knows string literals ('...' and "..." with doubled
// quotes and, unless the session has NO_BACKSLASH_ESCAPES, backslash
// escapes), quoted identifiers (`...` with doubled backquotes, and [...]),
// comments ("-- " up to the end of the line, # up to the end of the line,
// /* ... */; an unterminated one runs to the end of the text) and
// executable comments (/*! and /*M!), whose content is SQL the server runs.
// A '?' inside a literal, identifier or comment is ordinary text.
enum sql_token_kind {
    SQL_TOKEN_TEXT = 0,   /* one code unit of plain SQL */
    SQL_TOKEN_QUOTED,     /* a literal or quoted identifier, its quotes included */
    SQL_TOKEN_COMMENT,    /* a comment, or the opener or closer of an executable comment */
    SQL_TOKEN_MARKER,     /* a parameter marker '?' */
    SQL_TOKEN_BOM,        /* U+FEFF or U+FFFE outside literals and comments */
};

/* Session modes that change how the server reads quotes. */
enum {
    SQL_SCAN_NO_BACKSLASH_ESCAPES = 1, /* sql_mode NO_BACKSLASH_ESCAPES */
    SQL_SCAN_ANSI_QUOTES = 2,          /* "..." is an identifier: no backslash escapes */
};

struct sql_token {
    int kind;             /* sql_token_kind */
    uint32_t start;       /* first unit */
    uint32_t end;         /* one past the last unit */
};

struct sql_scanner {
    const uint16_t *units;
    uint32_t length;
    uint32_t pos;
    int flags;            /* SQL_SCAN_* */
    int in_exec_comment;  // between /*! and its closing */
};

/* Scanner flags for the connection's current session state. */
int sql_scan_flags(const my_connection *c);
void sql_scan_init(sql_scanner *sc, const uint16_t *units, uint32_t length, int flags);
/* Next token: 1 with *t filled, 0 at the end. Never reads past length. */
int sql_scan_next(sql_scanner *sc, sql_token *t);

/* ---- text processing --------------------------------------------------- */
/* Trims text (leading blanks and byte-order marks; trailing blanks, then
 * trailing ';'), drops byte-order marks outside literals and comments,
 * and sets s->found_param_count, s->is_select and s->single_query (one
 * SELECT or WITH, no markers, no ';' left outside literals and comments:
 * the text of several statements). Returns a new string the
 * caller owns (the input stays the caller's), or null with HY001 posted. */
my_string *my_process_sql(my_statement *s, const my_string *text);

/* ---- LOCAL INFILE -------------------------------------------------------
 * "LOAD {DATA | XML} [LOW_PRIORITY | CONCURRENT] LOCAL INFILE 'name'" lets
 * the server ask for that file; my_process_sql counts such statements in
 * s->local_infile_statements. */

/* Appends to *names the file names the LOAD ... LOCAL INFILE statements of a
 * command text give, as the server reads them (quotes and escapes undone by
 * the rules flags describe). text is in the wire encoding. May throw
 * std::bad_alloc. */
void sql_local_infile_names(const unsigned char *text, size_t n, int flags,
                            std::vector<std::string> *names);
/* Called with the command about to execute the statement (a COM_QUERY text
 * with its parameter values, or COM_STMT_EXECUTE): sets
 * s->local_infile_files to the files its statements name, the only ones the
 * command layer will upload while the command runs. None for the driver's
 * own statements or with LocalInfile=0. 0, or -1 with HY001 posted. */
int allow_local_infile(my_statement *s, const my_packet *p);

/* ---- command builders --------------------------------------------------
 * Each resets the statement's sequence counter and returns a new packet the
 * caller owns (send it, then packet_free), or null with a diagnostic posted:
 * HY001 when memory runs out, or the parameter converter's diagnostic. */

/* COM_QUERY for text (a processed text) with the values of parameter row
 * s->param_row substituted for its markers. Without markers the text is
 * followed by one zero byte; with markers nothing follows it. */
my_packet *create_exec_string(my_statement *s, const my_string *text);
/* create_exec_string with the literal writer given: create_exec_string
 * passes my_append_param_as_string; tests pass their own to see the bytes. */
typedef int (*param_literal_fn)(my_statement *s, my_packet *p, int number);
my_packet *build_exec_string(my_statement *s, const my_string *text, param_literal_fn put_param);
/* 1 when the statement's first word is INSERT, UPDATE, DELETE or REPLACE
 * (comments and blanks before it passed over): statements the server
 * answers with an update count or an error. */
int sql_answers_count_only(const my_connection *c, const my_string *text);
/* The text execution of the prepared s->sql_text (Text_Prepare). */
my_packet *create_text_execute(my_statement *s);
/* COM_STMT_EXECUTE of s->statement_id with the parameter block, or the text
 * execution when the connection has Text_Prepare. */
my_packet *create_execute(my_statement *s);
/* The payload of COM_STMT_EXECUTE with a row's converted parameter block,
 * appended to p (a command of a parameter array, gathered with others).
 * 0, or -1 with a diagnostic posted. */
struct param_block;
int put_execute(my_statement *s, my_packet *p, const param_block *b);
/* Its size in bytes. */
int64_t execute_size(const param_block *b);
/* COM_STMT_CLOSE / COM_STMT_RESET of s->statement_id. */
my_packet *create_close(my_statement *s);
my_packet *create_reset(my_statement *s);

#endif

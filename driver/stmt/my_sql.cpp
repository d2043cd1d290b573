/*
 * SQL text processing (trimming, marker counting, classification) and the
 * builders of the commands that execute a statement.
 */
#include "stmt/my_sql.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "frame/my_handle.h"
#include "stmt/my_param.h"

enum {
    COM_QUERY = 0x03,
    COM_STMT_EXECUTE = 0x17,
    COM_STMT_CLOSE = 0x19,
    COM_STMT_RESET = 0x1A,
};

enum { SERVER_STATUS_NO_BACKSLASH_ESCAPES = 0x200 };

static int is_blank(uint16_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
static int is_bom(uint16_t c) { return c == 0xFEFF || c == 0xFFFE; }
static int is_digit(uint16_t c) { return c >= '0' && c <= '9'; }
static uint16_t ascii_lower(uint16_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

/* ================================================================ scanner */

int sql_scan_flags(const my_connection *c)
{
    if (!c)
        return 0;
    int flags = 0;
    if (c->server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES)
        flags |= SQL_SCAN_NO_BACKSLASH_ESCAPES;
    /* AnsiMode puts the session into ANSI_QUOTES (session setup). */
    if (c->AnsiMode)
        flags |= SQL_SCAN_ANSI_QUOTES;
    return flags;
}

void sql_scan_init(sql_scanner *sc, const uint16_t *units, uint32_t length, int flags)
{
    sc->units = units;
    sc->length = units ? length : 0;
    sc->pos = 0;
    sc->flags = flags;
    sc->in_exec_comment = 0;
}

static uint16_t unit_at(const sql_scanner *sc, uint32_t i) { return i < sc->length ? sc->units[i] : 0; }

/* End of the literal or quoted identifier opened by quote q at i. A doubled
 * quote stays inside; in string literals a backslash also escapes the next
 * unit unless the session reads backslashes literally. Identifiers (`...`,
 * and "..." under ANSI_QUOTES) never take backslash escapes. */
static uint32_t quoted_end(const sql_scanner *sc, uint32_t i, uint16_t q)
{
    int escapes = !(sc->flags & SQL_SCAN_NO_BACKSLASH_ESCAPES) &&
                  (q == '\'' || (q == '"' && !(sc->flags & SQL_SCAN_ANSI_QUOTES)));
    for (i++; i < sc->length; i++) {
        uint16_t c = sc->units[i];
        if (escapes && c == '\\') {
            i++;   /* skip the escaped unit; a trailing backslash ends the text */
            continue;
        }
        if (c == q) {
            if (unit_at(sc, i + 1) == q) {
                i++;
                continue;
            }
            return i + 1;
        }
    }
    return sc->length;
}

static uint32_t find_unit(const sql_scanner *sc, uint32_t i, uint16_t c)
{
    while (i < sc->length && sc->units[i] != c)
        i++;
    return i;
}

/* The server ends "--" and "#" comments at LF only; a CR before it is part
 * of the comment. */
static uint32_t line_comment_end(const sql_scanner *sc, uint32_t i) { return find_unit(sc, i, '\n'); }

static uint32_t block_comment_end(const sql_scanner *sc, uint32_t i)
{
    for (i += 2; i + 1 < sc->length; i++)
        if (sc->units[i] == '*' && sc->units[i + 1] == '/')
            return i + 2;
    return sc->length;
}

/* "--" opens a comment for the server only when a blank or control
 * character (or the end) follows: "1--1" is 1 minus -1. */
static int dash_comment_at(const sql_scanner *sc, uint32_t i)
{
    if (unit_at(sc, i + 1) != '-')
        return 0;
    if (i + 2 >= sc->length)
        return 1;
    uint16_t c = sc->units[i + 2];
    return c <= ' ' || c == 0x7F;
}

// Length of an executable-comment opener at i ("/*!" or "/*M!" and up to six
// version digits), 0 when i starts an ordinary comment.
static uint32_t exec_opener_length(const sql_scanner *sc, uint32_t i)
{
    uint32_t k;
    if (unit_at(sc, i + 2) == '!')
        k = 3;
    else if (unit_at(sc, i + 2) == 'M' && unit_at(sc, i + 3) == '!')
        k = 4;
    else
        return 0;
    for (int d = 0; d < 6 && i + k < sc->length && is_digit(sc->units[i + k]); d++)
        k++;
    return k;
}

/* A slash-star: an executable comment's opener (its content is scanned as
 * SQL) or a whole ordinary comment. */
static uint32_t slash_star_end(sql_scanner *sc, uint32_t i)
{
    uint32_t k = exec_opener_length(sc, i);
    if (k > 0) {
        sc->in_exec_comment = 1;
        return i + k;
    }
    return block_comment_end(sc, i);
}

int sql_scan_next(sql_scanner *sc, sql_token *t)
{
    if (sc->pos >= sc->length)
        return 0;
    uint32_t i = sc->pos;
    uint16_t c = sc->units[i];
    uint16_t next = unit_at(sc, i + 1);
    int kind = SQL_TOKEN_TEXT;
    uint32_t end = i + 1;

    if (c == '\'' || c == '"' || c == '`') {
        kind = SQL_TOKEN_QUOTED;
        end = quoted_end(sc, i, c);
    } else if (c == '[') {
        kind = SQL_TOKEN_QUOTED;
        end = find_unit(sc, i + 1, ']');
        end = end < sc->length ? end + 1 : end;
    } else if (c == '?') {
        kind = SQL_TOKEN_MARKER;
    } else if (is_bom(c)) {
        kind = SQL_TOKEN_BOM;
    } else if (c == '#' || (c == '-' && dash_comment_at(sc, i))) {
        kind = SQL_TOKEN_COMMENT;
        end = line_comment_end(sc, i);
    } else if (c == '/' && next == '*') {
        kind = SQL_TOKEN_COMMENT;
        end = slash_star_end(sc, i);
    } else if (c == '*' && next == '/' && sc->in_exec_comment) {
        kind = SQL_TOKEN_COMMENT;
        end = i + 2;
        sc->in_exec_comment = 0;
    }
    t->kind = kind;
    t->start = i;
    t->end = end;
    sc->pos = end;
    return 1;
}

/* ============================================================ LOCAL INFILE */

/* "LOAD {DATA | XML} [LOW_PRIORITY | CONCURRENT] LOCAL INFILE 'name'" makes
 * the server ask the client for that file. The matcher follows the head of
 * every statement of a text, token by token as the scanner gives them (so
 * comments, literals and case are read as the server reads them), and points
 * at the token that names the file. */
struct infile_matcher {
    int state;
    uint32_t word_start, word_end;   /* the word being collected; empty when equal */
};

enum {
    INFILE_HEAD,      /* at a statement's start: wants LOAD */
    INFILE_LOAD,      /* wants DATA or XML */
    INFILE_OPTIONS,   /* wants LOW_PRIORITY, CONCURRENT, LOCAL or INFILE */
    INFILE_LOCAL,     /* after LOCAL: wants INFILE */
    INFILE_NAME,      /* after LOCAL INFILE: wants the name */
    INFILE_NONE,      /* not such a statement: waits for the next ';' */
};

/* A word of plain text, as far as the keywords go: letters, digits, '_',
 * '$' and anything beyond ASCII (part of an identifier to the server). */
static int is_word_unit(uint16_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_' ||
           c == '$' || c > 0x7F;
}

static int word_is(const uint16_t *u, uint32_t from, uint32_t to, const char *kw)
{
    uint32_t n = (uint32_t)strlen(kw);
    if (to - from != n)
        return 0;
    for (uint32_t i = 0; i < n; i++)
        if (ascii_lower(u[from + i]) != (uint16_t)kw[i])
            return 0;
    return 1;
}

static void infile_word(infile_matcher *m, const uint16_t *u, uint32_t from, uint32_t to)
{
    int next = INFILE_NONE;
    switch (m->state) {
    case INFILE_HEAD:
        if (word_is(u, from, to, "load"))
            next = INFILE_LOAD;
        break;
    case INFILE_LOAD:
        if (word_is(u, from, to, "data") || word_is(u, from, to, "xml"))
            next = INFILE_OPTIONS;
        break;
    case INFILE_OPTIONS:
        if (word_is(u, from, to, "low_priority") || word_is(u, from, to, "concurrent"))
            next = INFILE_OPTIONS;
        else if (word_is(u, from, to, "local"))
            next = INFILE_LOCAL;
        /* INFILE without LOCAL: the server reads a file of its own */
        break;
    case INFILE_LOCAL:
        if (word_is(u, from, to, "infile"))
            next = INFILE_NAME;
        break;
    }
    m->state = next;
}

static void infile_matcher_init(infile_matcher *m)
{
    m->state = INFILE_HEAD;
    m->word_start = m->word_end = 0;
}

/* Ends the word being collected, if any. */
static void infile_flush(infile_matcher *m, const uint16_t *u)
{
    if (m->word_end > m->word_start)
        infile_word(m, u, m->word_start, m->word_end);
    m->word_start = m->word_end = 0;
}

/* Feeds one token; 1 when it names the file of a LOCAL INFILE statement (a
 * literal, or a parameter marker standing for one). */
static int infile_feed(infile_matcher *m, const sql_scanner *sc, const sql_token *t)
{
    const uint16_t *u = sc->units;
    if (t->kind == SQL_TOKEN_TEXT) {
        uint16_t c = u[t->start];
        if (m->state == INFILE_NONE) {   /* the common case: one test per unit */
            if (c == ';')
                m->state = INFILE_HEAD;
            return 0;
        }
        if (is_word_unit(c)) {
            if (m->word_end == m->word_start)
                m->word_start = t->start;
            m->word_end = t->end;
            return 0;
        }
        infile_flush(m, u);
        if (c == ';')
            m->state = INFILE_HEAD;
        else if (!is_blank(c))
            m->state = INFILE_NONE;
        return 0;
    }
    if (m->state == INFILE_NONE)
        return 0;
    infile_flush(m, u);
    if (t->kind == SQL_TOKEN_COMMENT || t->kind == SQL_TOKEN_BOM)
        return 0;   /* the server reads a comment as a blank */
    int named = 0;
    if (m->state == INFILE_NAME) {
        uint16_t q = u[t->start];
        /* a string literal; "..." is an identifier under ANSI_QUOTES */
        named = t->kind == SQL_TOKEN_MARKER ||
                (t->kind == SQL_TOKEN_QUOTED &&
                 (q == '\'' || (q == '"' && !(sc->flags & SQL_SCAN_ANSI_QUOTES))));
    }
    m->state = INFILE_NONE;
    return named;
}

/* A file name literal as the server reads it: between its quotes, doubled
 * quotes and backslash escapes undone (\% and \_ keep their backslash). The
 * units are bytes of the wire encoding, one per unit. */
static std::string unquote_name(const uint16_t *u, uint32_t from, uint32_t to, int flags)
{
    const uint16_t q = u[from];
    const int escapes = !(flags & SQL_SCAN_NO_BACKSLASH_ESCAPES);
    std::string out;
    for (uint32_t i = from + 1; i < to; i++) {
        uint16_t c = u[i];
        if (c == q) {
            if (i + 1 < to && u[i + 1] == q) {
                out += (char)q;
                i++;
                continue;
            }
            break;
        }
        if (escapes && c == '\\' && i + 1 < to) {
            uint16_t e = u[++i];
            switch (e) {
            case '0': out += '\0'; break;
            case 'b': out += '\b'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'Z': out += '\x1A'; break;
            case '%':
            case '_': out += '\\'; out += (char)e; break;
            default: out += (char)e; break;
            }
            continue;
        }
        out += (char)c;
    }
    return out;
}

void sql_local_infile_names(const unsigned char *text, size_t n, int flags,
                            std::vector<std::string> *names)
{
    /* one unit per byte: the scanner and the keywords only look at ASCII,
     * which no byte of a UTF-8 sequence can be mistaken for */
    std::vector<uint16_t> u(text, text + n);
    sql_scanner sc;
    sql_token t;
    infile_matcher m;
    infile_matcher_init(&m);
    sql_scan_init(&sc, u.data(), (uint32_t)u.size(), flags);
    while (sql_scan_next(&sc, &t))
        if (infile_feed(&m, &sc, &t) && t.kind == SQL_TOKEN_QUOTED)
            names->push_back(unquote_name(u.data(), t.start, t.end, flags));
}

/* The names of text into s->local_infile_files. 0, or -1 with HY001 posted. */
static int collect_infile_names(my_statement *s, const unsigned char *text, size_t n, int flags)
{
    try {
        sql_local_infile_names(text, n, flags, &s->local_infile_files);
    } catch (...) {
        s->local_infile_files.clear();
        post_error(s, ST_HY001, 0, nullptr);
        return -1;
    }
    for (const std::string &f : s->local_infile_files)
        QV_TRACE(s, LOG_DETAIL, "allow_local_infile: '%s'", f.c_str());
    return 0;
}

int allow_local_infile(my_statement *s, const my_packet *p)
{
    s->local_infile_files.clear();
    my_connection *c = handle_conn(s);
    if (s->local_infile_statements <= 0 || s->driver_own || !c || !c->LocalInfile || !p)
        return 0;
    int flags = sql_scan_flags(c);
    /* the text the server parses, parameter values in place */
    if (p->length > 4 && p->data[4] == COM_QUERY)
        return collect_infile_names(s, p->data + 5, (size_t)(p->length - 5), flags);
    if (!s->sql_text)
        return 0;
    /* a server-side prepared statement: its text, in the encoding it was
     * prepared in */
    char *b = conn_wire_utf8(c) ? ms_to_utf8(s->sql_text) : ms_to_latin1(s->sql_text);
    if (!b) {
        post_error(s, ST_HY001, 0, nullptr);
        return -1;
    }
    int rc = collect_infile_names(s, (const unsigned char *)b, strlen(b), flags);
    free(b);
    return rc;
}

/* ======================================================== my_process_sql */

/* Keywords whose positions the trace line reports (only there). */
static const char *const trace_keywords[] = {"where", "from", "into", "set",
                                             "group", "order", "values"};
enum { KW_WHERE, KW_FROM, KW_INTO, KW_SET, KW_GROUP, KW_ORDER, KW_VALUES, KW_COUNT };

enum { VERB_MAX = 63 };
enum { VERB_WAITING, VERB_COLLECTING, VERB_DONE };

/* What the scan learns besides the output text. */
struct sql_summary {
    char verb[VERB_MAX + 1];
    int verb_length;
    int verb_state;
    int depth;                    /* parenthesis depth of plain text */
    int keyword_pos[KW_COUNT];    /* output position before the keyword, -1 unseen */
    int markers;
    int semicolons;               /* in plain text, after the trailing ones went */
    infile_matcher infile;        /* LOAD ... LOCAL INFILE statements */
    int infile_statements;
};

/* The first word: plain text up to a blank or a unit above 128. Comments
 * and blanks before it are skipped, so a commented SELECT is still a query;
 * ODBC braces are neither part of it nor end it. */
static void verb_text_unit(sql_summary *m, uint16_t c)
{
    if (m->verb_state == VERB_DONE || c == '{' || c == '}')
        return;
    if (is_blank(c) || c > 128) {
        if (m->verb_state == VERB_COLLECTING || c > 128)
            m->verb_state = VERB_DONE;
        return;
    }
    m->verb_state = VERB_COLLECTING;
    m->verb[m->verb_length++] = (char)(c & 0xFF);
    m->verb[m->verb_length] = 0;
    if (m->verb_length == VERB_MAX)
        m->verb_state = VERB_DONE;
}

static void verb_other_token(sql_summary *m, int kind)
{
    if (kind == SQL_TOKEN_BOM)
        return;
    if (kind == SQL_TOKEN_COMMENT && m->verb_state == VERB_WAITING)
        return;
    m->verb_state = VERB_DONE;
}

/* A keyword at in[i] counts when the previous output unit is a blank or ')'
 * and a blank, '(', ';' or the end follows it. Looks ahead at most the
 * keyword's length. */
static int keyword_at(const uint16_t *in, uint32_t i, uint32_t n, const char *kw)
{
    uint32_t k = (uint32_t)strlen(kw);
    if (n - i < k)
        return 0;
    for (uint32_t j = 0; j < k; j++)
        if (ascii_lower(in[i + j]) != (uint16_t)kw[j])
            return 0;
    if (i + k == n)
        return 1;
    uint16_t after = in[i + k];
    return is_blank(after) || after == '(' || after == ';';
}

static void note_keywords(sql_summary *m, const uint16_t *in, uint32_t i, uint32_t n,
                          const uint16_t *out, uint32_t o)
{
    uint16_t c = ascii_lower(in[i]);
    if (m->depth != 0 || o == 0 || c < 'a' || c > 'z')
        return;
    if (!is_blank(out[o - 1]) && out[o - 1] != ')')
        return;
    for (int k = 0; k < KW_COUNT; k++)
        if (m->keyword_pos[k] < 0 && keyword_at(in, i, n, trace_keywords[k]))
            m->keyword_pos[k] = (int)o - 1;
}

static void note_text_unit(sql_summary *m, const uint16_t *in, uint32_t i, uint32_t n,
                           const uint16_t *out, uint32_t o)
{
    uint16_t c = in[i];
    verb_text_unit(m, c);
    note_keywords(m, in, i, n, out, o);
    if (c == '(')
        m->depth++;
    else if (c == ')')
        m->depth--;
    else if (c == ';')
        m->semicolons++;
}

/* Leading and trailing blanks go (byte-order marks with them: the scan
 * drops those anyway), then trailing semicolons; blanks before the
 * semicolons stay: "select 1 ;;" keeps "select 1 ". */
static void trim_range(const my_string *text, uint32_t *start, uint32_t *end)
{
    uint32_t b = 0, e = text ? text->length : 0;
    while (b < e && (is_blank(text->data[b]) || is_bom(text->data[b])))
        b++;
    while (e > b && (is_blank(text->data[e - 1]) || is_bom(text->data[e - 1])))
        e--;
    while (e > b && text->data[e - 1] == ';')
        e--;
    *start = b;
    *end = e;
}

/* One pass: copies in[0..n) to out without byte-order marks and fills m.
 * Returns the number of units written. */
static uint32_t scan_into(const uint16_t *in, uint32_t n, int flags, uint16_t *out,
                          sql_summary *m)
{
    sql_scanner sc;
    sql_token t;
    uint32_t o = 0;
    sql_scan_init(&sc, in, n, flags);
    infile_matcher_init(&m->infile);
    while (sql_scan_next(&sc, &t)) {
        m->infile_statements += infile_feed(&m->infile, &sc, &t);
        if (t.kind == SQL_TOKEN_TEXT) {
            note_text_unit(m, in, t.start, n, out, o);
            out[o++] = in[t.start];
            continue;
        }
        verb_other_token(m, t.kind);
        if (t.kind == SQL_TOKEN_BOM)
            continue;
        if (t.kind == SQL_TOKEN_MARKER)
            m->markers++;
        memcpy(out + o, in + t.start, (t.end - t.start) * sizeof(uint16_t));
        o += t.end - t.start;
    }
    return o;
}

/* "(SELECT ...) UNION (SELECT ...)" is a query too. */
static int verb_is_select(const char *verb)
{
    while (*verb == '(')
        verb++;
    return (verb[0] | 0x20) == 's' && (verb[1] | 0x20) == 'e' && (verb[2] | 0x20) == 'l';
}

static int verb_is_with(const char *verb)
{
    return strcasecmp(verb, "with") == 0;
}

static void trace_summary(my_statement *s, const my_string *out, const sql_summary *m)
{
    const int *k = m->keyword_pos;
    QV_TRACE(s, LOG_DETAIL, "at end of my_process_sql output string %T", out->data,
             (int64_t)out->length);
    QV_TRACE(s, LOG_DETAIL,
             "initial verb '%s', from_offset=%d, where_offset=%d, into_offset=%d, "
             "set_offset=%d, group_offset=%d, order_offset=%d, values_offset=%d, "
             "into_offset=%d",
             m->verb, k[KW_FROM], k[KW_WHERE], k[KW_INTO], k[KW_SET], k[KW_GROUP],
             k[KW_ORDER], k[KW_VALUES], k[KW_INTO]);
    QV_TRACE(s, LOG_DETAIL, "parameter count=%d", m->markers);
}

my_string *my_process_sql(my_statement *s, const my_string *text)
{
    QV_TRACE(s, LOG_DETAIL, "at start of my_process_sql input string '%S'", text);
    uint32_t start, end;
    trim_range(text, &start, &end);

    /* The output is never longer than the trimmed input. */
    my_string *out = ms_new(end - start);
    if (!out) {
        post_error(s, ST_HY001, 0, "failed processing SQL");
        return nullptr;
    }
    sql_summary m;
    memset(&m, 0, sizeof m);
    for (int k = 0; k < KW_COUNT; k++)
        m.keyword_pos[k] = -1;
    uint32_t n = end > start ? scan_into(text->data + start, end - start,
                                         sql_scan_flags(handle_conn(s)), out->data, &m)
                             : 0;
    if (n == 0) {
        free(out->data);   /* an empty string carries no buffer */
        out->data = nullptr;
    }
    out->length = n;

    s->found_param_count = m.markers;
    s->is_select = verb_is_select(m.verb);
    /* trailing semicolons are gone: one left separates statements */
    s->single_query = (s->is_select || verb_is_with(m.verb)) && m.markers == 0 &&
                      m.semicolons == 0;
    s->local_infile_statements = m.infile_statements;
    trace_summary(s, out, &m);
    return out;
}

/* ===================================================== statement kind */

int sql_answers_count_only(const my_connection *c, const my_string *text)
{
    static const char *const words[] = {"insert", "update", "delete", "replace"};
    if (!text)
        return 0;
    sql_scanner sc;
    sql_token t;
    char word[8];
    int n = 0;
    sql_scan_init(&sc, text->data, text->length, sql_scan_flags(c));
    while (sql_scan_next(&sc, &t)) {
        if (t.kind == SQL_TOKEN_COMMENT || t.kind == SQL_TOKEN_BOM)
            continue;
        uint16_t u = text->data[t.start];
        if (t.kind == SQL_TOKEN_TEXT && ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'))) {
            if (n == (int)sizeof word - 1)
                return 0;
            word[n++] = (char)ascii_lower(u);
            continue;
        }
        if (n > 0 && t.kind == SQL_TOKEN_TEXT && (is_digit(u) || u == '_' || u == '$'))
            return 0;   /* a longer word */
        if (n > 0 || t.kind != SQL_TOKEN_TEXT || !is_blank(u))
            break;
    }
    word[n] = 0;
    for (const char *w : words)
        if (strcmp(word, w) == 0)
            return 1;
    return 0;
}

/* ======================================================= command builders */

/* The statement has no diagnostic beyond the first `before`: the failure was
 * memory, which no lower layer reported. */
static void post_build_failure(my_statement *s, int before)
{
    if (diag_count(s) == before)
        post_error(s, ST_HY001, 0, nullptr);
}

/* A new packet for a command of the statement, starting a new exchange. */
static my_packet *new_command(my_statement *s, unsigned command)
{
    packet_reset_seq(s);
    my_packet *p = packet_new(s);
    if (p && packet_put_u8(p, command) == 0)
        return p;
    packet_free(p);
    post_error(s, ST_HY001, 0, nullptr);
    return nullptr;
}

/* Appends text[from, to) in the wire encoding in one piece. Markers are
 * ASCII, so a run never splits a surrogate pair. */
static int put_run(my_packet *p, const my_string *text, uint32_t from, uint32_t to)
{
    if (to <= from)
        return 0;
    my_string view = {text->data + from, to - from, 1};
    return packet_put_string(p, &view);
}

/* The text with each marker replaced by its parameter's literal. Markers are
 * found by the scanner my_process_sql counted them with, so the n-th marker
 * here is parameter n. */
static int put_substituted(my_statement *s, my_packet *p, const my_string *text,
                           param_literal_fn put_param)
{
    sql_scanner sc;
    sql_token t;
    uint32_t run = 0;
    int number = 0;
    sql_scan_init(&sc, text->data, text->length, sql_scan_flags(handle_conn(s)));
    while (sql_scan_next(&sc, &t)) {
        if (t.kind != SQL_TOKEN_MARKER)
            continue;
        if (put_run(p, text, run, t.start) != 0)
            return -1;
        /* The session's quoting mode may have changed since the text was
         * counted; never read a parameter that was not checked. */
        if (++number > s->found_param_count) {
            post_error_col(s, ST_07002, 0, number, nullptr);
            return -1;
        }
        QV_TRACE(s, LOG_DETAIL, "appending param %d", number);
        if (put_param(s, p, number) != 0)
            return -1;
        run = t.end;
    }
    return put_run(p, text, run, text->length);
}

my_packet *build_exec_string(my_statement *s, const my_string *text, param_literal_fn put_param)
{
    QV_TRACE(s, LOG_DETAIL, "create_exec_string: stmt=%p, sqllen=%d, sql='%S'", s,
             text ? (int)text->length : 0, text);
    QV_TRACE(s, LOG_DETAIL, "found_param_count=%d", s->found_param_count);
    my_packet *p = new_command(s, COM_QUERY);
    if (!p)
        return nullptr;
    int before = diag_count(s);
    int rc;
    if (s->found_param_count <= 0 || !text)
        rc = packet_put_string(p, text) || packet_put_u8(p, 0);
    else
        rc = put_substituted(s, p, text, put_param);
    if (rc != 0) {
        post_build_failure(s, before);
        packet_free(p);
        return nullptr;
    }
    return p;
}

my_packet *create_exec_string(my_statement *s, const my_string *text)
{
    return build_exec_string(s, text, my_append_param_as_string);
}

my_packet *create_text_execute(my_statement *s)
{
    QV_TRACE(s, LOG_DETAIL, "create_text_execute");
    return create_exec_string(s, s->sql_text);
}

my_packet *create_execute(my_statement *s)
{
    int described = s->ipd ? s->ipd->described_count : 0;
    QV_TRACE(s, LOG_DETAIL, "create_execute: stmt=%p", s);
    QV_TRACE(s, LOG_DETAIL, "found_param_count=%d", s->found_param_count);
    QV_TRACE(s, LOG_DETAIL, "described field count=%d", described);
    my_connection *c = handle_conn(s);
    if (c && c->Text_Prepare)
        return create_text_execute(s);

    my_packet *p = new_command(s, COM_STMT_EXECUTE);
    if (!p)
        return nullptr;
    int before = diag_count(s);
    int rc = packet_put_u32(p, s->statement_id) ||
             packet_put_u8(p, 0) ||        /* flags: no cursor */
             packet_put_u32(p, 1);         /* iteration count */
    if (rc == 0 && (s->found_param_count > 0 || described != 0))
        rc = my_append_params(s, p);
    if (rc != 0) {
        post_build_failure(s, before);
        packet_free(p);
        return nullptr;
    }
    return p;
}

enum { EXECUTE_HEAD = 10 };   /* command, statement id, flags, iteration count */

int64_t execute_size(const param_block *b) { return EXECUTE_HEAD + b->bytes; }

int put_execute(my_statement *s, my_packet *p, const param_block *b)
{
    int before = diag_count(s);
    unsigned char head[EXECUTE_HEAD] = {COM_STMT_EXECUTE};
    uint32_t id = s->statement_id;
    for (int i = 0; i < 4; i++)
        head[1 + i] = (unsigned char)(id >> (8 * i));
    head[5] = 0;   /* flags: no cursor */
    head[6] = 1;   /* iteration count */
    if (packet_put_bytes(p, head, sizeof head) != 0 || param_block_write(s, p, b) != 0) {
        post_build_failure(s, before);
        return -1;
    }
    return 0;
}

static my_packet *statement_command(my_statement *s, unsigned command)
{
    my_packet *p = new_command(s, command);
    if (p && packet_put_u32(p, s->statement_id) != 0) {
        packet_free(p);
        post_error(s, ST_HY001, 0, nullptr);
        return nullptr;
    }
    return p;
}

my_packet *create_close(my_statement *s)
{
    QV_TRACE(s, LOG_DETAIL, "create_close: stmt=%p", s);
    return statement_command(s, COM_STMT_CLOSE);
}

my_packet *create_reset(my_statement *s)
{
    QV_TRACE(s, LOG_DETAIL, "create_reset: stmt=%p", s);
    return statement_command(s, COM_STMT_RESET);
}

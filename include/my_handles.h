/*
 * The four handle records. Both the driver and the setup library compile
 * against this file: the setup dialog reads a connection's settings straight
 * from my_connection.
 *
 * Every record starts with handle_header. Internal code reaches the header of
 * any handle through handle_hdr() (frame/my_handle.h), never by casting.
 *
 * Ownership: an environment owns its connections; a connection owns its
 * statements and descriptors (one list); a statement owns its implicit
 * descriptors, its packet queue, its texts and its internal result set.
 */
#ifndef QV_MY_HANDLES_H
#define QV_MY_HANDLES_H

#include <stddef.h>
#include <stdint.h>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "my_string.h"

enum {
    MY_ENVIRONMENT_HANDLE = 0x5A50,
    MY_CONNECTION_HANDLE = 0x5A51,
    MY_STATEMENT_HANDLE = 0x5A52,
    MY_DESCRIPTOR_HANDLE = 0x5A53,
};

/* log_flags bits */
enum {
    LOG_ENTRY = 0x01,
    LOG_EXIT = 0x02,
    LOG_DETAIL = 0x04,
    LOG_ERROR = 0x08,
    LOG_PKTDUMP = 0x10,
    LOG_PROCESS = 0x20,
    LOG_MEMORY = 0x40,
    LOG_CONTINUE = 0x1000, /* line mode only: continuation of a detail */
};

struct diag_record;
struct my_environment;
struct my_connection;
struct my_statement;
struct my_descriptor;
struct my_packet;
struct internal_rs;
struct trace_ring;
struct ssl_st;
struct ssl_ctx_st;
struct ssl_method_st;
struct bio_method_st;

typedef std::recursive_mutex qv_mutex;

struct handle_header {
    uint32_t handle_type;
    diag_record *diag_list;
    uint32_t timed_out;     /* a read made for this handle timed out */
    uint32_t log_flags;     /* 0: no trace output at all */
    handle_header *next;    /* sibling in the parent's list */
    void *owner;            /* environment of a connection; connection of a stmt/desc */
    /* Guards diag_list: the driver manager may read a handle's records on
     * one thread while the application works on a sibling on another.
     * Innermost: nothing else is locked while it is held. */
    std::mutex diag_lock;
    /* Bookkeeping of diag_list (frame/my_err.cpp), so that posting and
     * reading record after record stay linear: the last record of each
     * rank (errors, no data, warnings, success), the number of records, and
     * the record a reader holding diag_lock took last with its position. */
    diag_record *diag_rank_tail[4] = {};
    int32_t diag_number = 0;
    diag_record *diag_seen = nullptr;
    int32_t diag_seen_pos = 0;
};

/* Status values a command's response leaves on the handle that issued it. */
struct command_status {
    int64_t affected_rows;
    uint32_t server_status;
    int32_t warnings;
};

/* --------------------------------------------------------------------- */
struct collation_entry {
    int32_t id;
    char charset_name[65];
};

struct my_environment {
    handle_header hdr;
    int32_t odbc_version;          /* SQL_ATTR_ODBC_VERSION; 2 at allocation */
    handle_header *connections;    /* newest first */
    qv_mutex list_lock;
    qv_mutex attr_lock;
    qv_mutex log_lock;
    ssl_ctx_st *tls_ctx;           /* TLS client context, created with the environment */

    /* TLS information (my_ssl): made when the environment is allocated and
     * shared by its connections. tls_method null: every TLS start fails. */
    const ssl_method_st *tls_method;   /* version-flexible client method */
    bio_method_st *tls_bio;        /* socket I/O with time-outs and no SIGPIPE */
    int32_t tls_entropy_loaded;    /* Entropy is loaded once per environment (attr_lock) */
};

/* --------------------------------------------------------------------- */
/* A descriptor record: one column or parameter. */
struct dae_chunk {
    int64_t length;                /* negative: a NULL piece */
    unsigned char *data;           /* owned when length >= 0 */
};

struct sql_numeric_value {         /* SQL_NUMERIC_STRUCT layout */
    unsigned char precision;
    signed char scale;
    unsigned char sign;            /* 1 positive, 0 negative */
    unsigned char val[16];
};

struct sql_date_value { int16_t year; uint16_t month; uint16_t day; };
struct sql_time_value { uint16_t hour; uint16_t minute; uint16_t second; };
struct sql_timestamp_value {
    int16_t year; uint16_t month; uint16_t day;
    uint16_t hour; uint16_t minute; uint16_t second;
    uint32_t fraction;             /* nanoseconds */
};

/* The current value of a result column. data_type names the representation by
 * the ODBC type code that fits it: 1 text, -2 binary (both in buffer), 2 numeric,
 * 4 int32, -5 int64, 6 float, 8 double, 9/91 date, 92 time, 93 timestamp. */
struct data_storage {
    int32_t data_type;
    int32_t isnull;
    int32_t alloc_length;          /* bytes of a text or binary value */
    int32_t value_offset;          /* bytes already delivered piecewise */
    int32_t data_done;             /* delivered completely */
    uint32_t capacity;             /* allocated size of buffer (reused across rows) */
    unsigned char *buffer;         /* owned text/binary bytes */
    union {
        int32_t i32;
        int64_t i64;
        float f;
        double d;
        sql_numeric_value numeric;
        sql_date_value date;
        sql_time_value time;
        sql_timestamp_value timestamp;
    } v;
    int32_t is_unsigned;           /* i32/i64 hold an unsigned value */
    int32_t wide_offset;           /* units already delivered to a wide buffer */

    /* Where the bytes of a character or binary value (or of a decimal held
     * as its text) lie. Readers point at the value where it already is
     * instead of copying it: into the row packet bytes_row (the view dies
     * with that packet, so the converters check it is still the current
     * row), into memory that lives as long as the result (bytes_row null),
     * or at buffer. Null: the bytes are in buffer. */
    const unsigned char *bytes;
    const my_packet *bytes_row;

    /* The column's text encoding for wide conversions, looked up once per
     * result rather than once per value: charset_checked is the
     * character-set number looked up, charset_utf8 0 when nothing was
     * looked up yet, 1 for UTF-8 text, 2 for one byte per character. */
    int32_t charset_checked;
    int32_t charset_utf8;

    /* 0, or the row's value did not read as the column's type: the
     * SQLSTATE-table row of the diagnostic posted when the row was read. A
     * text row keeps the server's text (a value is present); a binary row
     * keeps nothing. */
    int32_t refused;
};

struct field {
    my_string *catalog_name;
    my_string *schema_name;
    my_string *table_name;
    my_string *base_table_name;
    my_string *name;
    my_string *base_column_name;
    int32_t mysql_type;
    int32_t column_flags;
    int32_t charset_number;
    int32_t concise_type;
    int64_t display_size;
    int32_t parameter_type;
    int32_t precision;
    int32_t scale;
    int32_t type;
    int32_t datetime_interval_code;
    int32_t datetime_interval_precision;
    int64_t octet_length;
    void *indicator_ptr;
    void *octet_length_ptr;
    void *data_ptr;
    int32_t param_sql_type;
    int32_t auto_unique_value;
    int32_t case_sensitive;
    int32_t fixed_prec_scale;
    int64_t length;
    my_string *literal_prefix;
    my_string *literal_suffix;
    my_string *local_type_name;
    int32_t nullable;
    int32_t num_prec_radix;
    int32_t searchable;
    my_string *type_name;
    int32_t is_unsigned;
    int32_t updatable;
    int32_t rowver;
    int32_t unnamed;
    data_storage storage;
    std::vector<dae_chunk> *dae_chunks;   /* data-at-execution pieces; null when none */
};

/* --------------------------------------------------------------------- */
struct my_descriptor {
    handle_header hdr;
    int32_t field_count;
    int32_t described_count;
    int32_t described_valid;
    int32_t alloc_implicit;
    int32_t app_desc;
    int32_t bind_type;
    void *bind_offset_ptr;
    void *array_status_ptr;
    void *rows_processed_ptr;
    uint64_t array_size;
    my_statement *owner_statement;
    field bookmark_record;
    field *records;                /* records 1..field_count at records[0..] */
    /* Changes whenever the records, their number or their types may have
     * changed (desc_touch): what a statement chose from them is chosen
     * again. Unique across descriptors, so a descriptor freed and another
     * made at its address never match. */
    uint64_t stamp;
    qv_mutex entry_lock;
};

/* Marks a descriptor changed (my_descriptor::stamp). */
inline void desc_touch(my_descriptor *d)
{
    static std::atomic<uint64_t> stamps{0};
    d->stamp = stamps.fetch_add(1, std::memory_order_relaxed) + 1;
}

/* How one bound column is filled, chosen once when the binding, the ARD or
 * the IRD changed (results/my_fetch.cpp), so that each row only moves
 * values. */
struct conv_ctx;
struct bound_column {
    int32_t column;                /* 1-based */
    int32_t c_type;                /* the target type, SQL_C_DEFAULT and SQL_ARD_TYPE resolved */
    short (*convert)(conv_ctx &c); /* its converter (results/my_convert.h) */
    int32_t direct;                /* a copy the held value takes as it is (BC_*), or 0 */
    int32_t held_type;             /* the representation that copy takes */
    int64_t element_size;          /* bytes between values in a column-wise array */
};

struct bind_plan {
    std::vector<bound_column> columns;
    const my_descriptor *ard, *ird;
    uint64_t ard_stamp, ird_stamp;
    int32_t limit;                 /* records of the IRD the plan saw */
    int32_t bookmarks;             /* use_bookmarks when chosen */
    int32_t charset;               /* the connection's character set when chosen */
    int32_t valid;
};

/* --------------------------------------------------------------------- */
/* Statement-attribute defaults kept on the connection and copied into every
 * new statement. */
struct stmt_attr_defaults {
    int64_t query_timeout;
    int64_t max_rows;
    int64_t noscan;
    int64_t max_length;
    int64_t async_enable;
    int64_t bind_type;
    int64_t cursor_type;
    int64_t concurrency;
    int64_t keyset_size;
    int64_t rowset_size;
    int64_t simulate_cursor;
    int64_t retrieve_data;
    int64_t use_bookmarks;
    int64_t cursor_scrollable;
    int64_t cursor_sensitivity;
};

struct my_connection {
    handle_header hdr;
    int32_t odbc_behaviour;        /* 2 or 3, fixed at allocation */

    /* ---- settings, named by their keywords ---- */
    my_string *DSN;
    my_string *UID;
    my_string *PWD;
    my_string *SERVER;
    my_string *SOCKET;
    my_string *DATABASE;
    int32_t PORT;
    int32_t IPV6;
    int32_t RCVBUFFER;
    int32_t SOKEEPALIVE;
    int32_t PacketSize;
    my_string *PrivateKeyFile;
    my_string *CertificateFile;
    my_string *PublicKeyFile;
    my_string *Entropy;
    int32_t TrustServerCertificate;
    int32_t Compress;
    my_string *character_set_client;
    my_string *character_set_results;
    int32_t ReqCharSet;
    my_string *collation_connection;
    int32_t Text_Prepare;          /* also forced on for pre-4.1 servers */
    int32_t NoCache;
    int32_t ConvToUtf;
    int32_t ConvWToUtf;
    int32_t AnsiMode;
    my_string *SQLMode;
    my_string *WindowsUser;
    int32_t NTLMv2;
    int32_t Kerberos;
    my_string *GSSLIB;
    int32_t GSSFLAG;
    my_string *Principal;
    int32_t NullDatetimes;
    int32_t TimeAsTime;
    int32_t LocalInfile;           /* 1: the application's own LOAD DATA LOCAL INFILE may upload */
    int32_t EnableCleartextPlugin; /* mysql_clear_password also without TLS or a local socket */
    my_string *HostNameInCertificate; /* name the server's certificate must carry; null: SERVER */
    int32_t NoBinaryDirect;        /* 1: SQLExecDirect sends queries as text (text rows) */
    int32_t Encrypt;               /* 0 no, 1 yes, 2 optional */
    int32_t LogonTimeout;          /* ms */
    int32_t ConnectionTimeout;     /* ms; read time-out */
    char LogFile[260];             /* empty: standard error */
    /* Logging is hdr.log_flags */

    int32_t wchar_type;            /* 1: wide text is UTF-16 */

    /* ---- session ---- */
    int sock;                      /* -1 when none */
    int32_t closed;
    int32_t connected;
    int32_t link_broken;
    my_string *current_database;
    my_string *server_in_use;
    int32_t port_in_use;
    int32_t effective_logon_timeout; /* ms */
    int32_t protocol_version;
    my_string *server_version;
    int32_t version_major, version_minor, version_patch;
    int32_t server_mariadb;        /* the server is MariaDB (version text or capabilities) */
    unsigned char connection_id[4];
    unsigned char scramble[256];
    int32_t scramble_length;
    uint32_t server_caps;
    uint32_t client_caps;
    int32_t charset;               /* character-set number in use */
    int32_t requested_charset;
    /* Latest status flags of the session (NO_BACKSLASH_ESCAPES decides how
     * literals are written): written inside exchanges, read by any thread
     * that builds SQL text. */
    std::atomic<uint32_t> server_status;
    int32_t auth_plugin_data_length;
    my_string *auth_plugin_name;
    command_status status;         /* of connection-level commands */
    int32_t memsql;
    std::vector<collation_entry> *collations;
    int64_t select_limit;          /* in force on the server; 0 none */

    /* busy mark: a statement owns an open result (the rule SQLExecDirect
     * applies). Guarded by wire_lock. */
    int32_t busy;
    my_statement *busy_owner;
    /* The statement whose response is still partly on the wire: until it
     * has read it, no other handle may send a command. Guarded by wire_lock. */
    my_statement *wire_owner;

    /* ---- packet layer and transport ---- */
    int32_t seq;                   /* connection sequence counter */
    int32_t comp_seq;              /* compressed-frame counter */
    int32_t compress_active;
    unsigned char *comp_buf;       /* decompressed bytes not yet delivered */
    uint32_t comp_len;
    uint32_t comp_off;
    uint32_t comp_cap;             /* allocated size of comp_buf: kept across frames */
    unsigned char *rbuf;           /* receive buffer: one recv serves many packets */
    uint32_t rbuf_cap, rbuf_len, rbuf_off;
    int32_t net_errno;             /* errno of the last failed socket call, for messages */

    /* TLS (set up during logon) and Kerberos */
    ssl_st *ssl;
    int32_t ssl_active;
    ssl_ctx_st *ssl_ctx;           /* the context ssl was made from; owned with it */
    int64_t tls_deadline_ms;       /* monotonic end of the TLS handshake; 0 none */
    int32_t tls_timed_out;         /* a TLS socket read gave up waiting */
    void *krb_context;             /* krb_context record of my_winkrb, or null */
    /* NTLM account chosen from UID / WindowsUser for the running logon */
    my_string *ntlm_user;
    my_string *ntlm_domain;

    /* ---- connection attributes ---- */
    int32_t autocommit;            /* 1 at allocation */
    int32_t access_mode;
    int32_t login_timeout;         /* seconds */
    int32_t connection_timeout;    /* seconds */
    void *quiet_mode;
    int32_t txn_isolation;         /* 4 = SQL_TXN_REPEATABLE_READ */
    int32_t metadata_id;
    int32_t auto_ipd;
    stmt_attr_defaults stmt_defaults;

    /* ---- children and locks ---- */
    handle_header *statements;     /* statements and descriptors, newest first */
    int32_t statement_counter;
    int32_t async_count;
    qv_mutex entry_lock;
    qv_mutex list_lock;
    /* Held for each exchange with the server: from building a command
     * through the last packet of its response (or the point where the whole
     * response is queued on the statement), and for each packet read while
     * a streamed result is fetched. Taken after any handle's entry_lock;
     * diag_lock and the environment's log_lock are taken inside it. */
    qv_mutex wire_lock;
    /* In-memory trace lines of this connection and its statements and
     * descriptors ("onerror" logging), dumped by an error line; created on
     * the first such line, freed with the connection. */
    trace_ring *ring;
};

/* --------------------------------------------------------------------- */
/* The packets of a response waiting on a statement, filled by the command
 * layer straight from the connection's receive buffer. Records [int32
 * size][size bytes: 4-byte header, payload] lie in chunks that are never
 * moved once a record is in them, read in order: pulling a large result
 * costs no allocation per packet and no copy of what is held, and rows are
 * decoded where they lie. A record never straddles two chunks; chunks grow
 * geometrically up to a cap, and a record larger than that gets a chunk of
 * its own. */
struct queue_chunk {
    queue_chunk *next;             /* the chunk filled after this one */
    size_t cap;                    /* bytes after the chunk's header */
    size_t fill;                   /* bytes of complete records */
    /* the records follow the header */
};

struct packet_queue {
    queue_chunk *first;            /* owned list, in order of arrival */
    queue_chunk *last;             /* the chunk being filled */
    queue_chunk *before_last;      /* the one whose next is last; null when last is first */
    queue_chunk *read_chunk;       /* chunk of the next record not taken */
    size_t read;                   /* its offset in that chunk */
    size_t pending;                /* bytes handed out for the record being read */
    int64_t count;                 /* records not taken yet */
};

/* A static cursor over a result held in the statement's queue: where each
 * row lies (the address of its record in the queue, in row order) and where
 * the cursor stands. Built once when the result opens; the rows stay where
 * the queue put them. */
struct row_index {
    std::vector<const unsigned char *> at;   /* one record per row of the open result */
    int32_t active;                /* the open result is read through the index */
    int64_t rowset_start;          /* first row of the rowset (1-based); 0 before the
                                      start, rows + 1 after the end */
    uint64_t rowset_size;          /* rows the last fetch asked for */
};

struct my_statement {
    handle_header hdr;

    my_descriptor *implicit_ird;
    my_descriptor *implicit_ard;
    my_descriptor *implicit_ipd;
    my_descriptor *implicit_apd;
    my_descriptor *implicit_fdd;   /* receives field-definition kind 2 */
    my_descriptor *ird;
    my_descriptor *ipd;
    my_descriptor *ard;
    my_descriptor *apd;

    /* attributes */
    int64_t query_timeout;
    int64_t max_rows;
    int64_t noscan;
    int64_t max_length;
    int64_t async_enable;
    int64_t cursor_type;
    int64_t concurrency;
    int64_t keyset_size;
    int64_t rowset_size;
    int64_t simulate_cursor;
    int64_t retrieve_data;
    int64_t use_bookmarks;
    int64_t cursor_scrollable;
    int64_t cursor_sensitivity;
    int64_t enable_auto_ipd;
    int64_t metadata_id;
    void *fetch_bookmark_ptr;

    int32_t statement_number;
    int32_t async_operation;
    uint32_t seq;                  /* statement sequence counter */

    /* lifecycle (statement execution) */
    my_string *sql_text;
    my_string *cursor_name;
    int32_t found_param_count;
    int32_t is_select;
    int32_t single_query;          /* the text is one SELECT (or WITH) statement, no
                                      parameter markers */
    uint32_t statement_id;
    int32_t prepared;
    int32_t binary_result;         /* the open result's rows are binary: a direct query
                                      that ran as prepare and execute */
    int32_t executed;
    int32_t described;
    int32_t params_described;
    int32_t data_waiting;
    int32_t more_results;
    int32_t cursor_exists;
    int32_t row_count_valid;
    int64_t row_count;
    command_status status;
    int32_t param_row;
    int64_t total_row_count, ok_count, info_count, error_count;

    /* LOCAL INFILE: the server may read a client file only while the
     * application's own LOAD ... LOCAL INFILE runs, and only the file it
     * names. local_infile_statements counts such statements in the text (set
     * with found_param_count); local_infile_files holds the names the running
     * execution gives, in the bytes the server will ask for them with. The
     * driver's own statements (driver_own) never get any. */
    int32_t local_infile_statements;
    int32_t driver_own;
    std::vector<std::string> local_infile_files;

    /* data at execution */
    int32_t current_dae_param;
    int32_t current_dae_op;
    int32_t current_dae_first;
    int32_t dae_active;            /* a data-at-execution sequence is under way */
    int32_t dae_ready;             /* its data is complete: the execution may use it */
    int32_t dae_row;               /* parameter row whose pieces were collected */
    int32_t dae_pieces;            /* SQLPutData calls for current_dae_param */
    int32_t dae_null;              /* its first piece was SQL_NULL_DATA */
    /* Long data of a wide parameter goes out converted; a piece may end inside
     * a UTF-16 unit or between the halves of a surrogate pair, and those bytes
     * wait here for the next piece. */
    unsigned char dae_tail[4];
    int32_t dae_tail_len;

    /* Parameter arrays go out in windows of rows: the commands of a window
     * are built back to back into one buffer, kept from window to window
     * and from call to call (freed with the statement). */
    struct owned_packet {
        my_packet *p = nullptr;
        owned_packet() = default;
        owned_packet(const owned_packet &) = delete;
        owned_packet &operator=(const owned_packet &) = delete;
        ~owned_packet();
    } exec_window;

    /* results */
    packet_queue queue;
    my_packet *current_row;        /* the row being decoded: row_view or row_wire (any
                                      other packet put here is freed with the rows) */
    my_packet *row_view;           /* a queued packet seen in place (data not owned) */
    my_packet *row_wire;           /* rows read from the wire reuse its buffer */
    int32_t row_offset;
    int64_t row_number;            /* SQL_ATTR_ROW_NUMBER: the current row, 0 for none */
    int64_t rows_read;             /* rows of the open result read forward so far */
    row_index rows;
    bind_plan plan;                /* how the bound columns are filled */
    struct internal_rs *internal_rs;

    qv_mutex entry_lock;
};

#endif

// Descriptor records: the protocol-type table, deriving the type fields of
// application records, the consistency check, the C/SQL type tables and the
// record-list operations.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_proto.h"
#include "support/unit_support.h"

namespace {

const char *const NONE = "<none>";

std::string str(const my_string *s) { return s ? unit_support::ascii_of(s) : NONE; }
std::string diag_state(const void *h, int n = 1) { return unit_support::diag_state(h, n, NONE); }
std::string diag_text(const void *h, int n = 1) { return unit_support::diag_text(h, n, NONE); }

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";

struct desc_fixture : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    void SetUp() override
    {
        env->odbc_version = SQL_OV_ODBC3;
        conn->collations = new std::vector<collation_entry>();
        add_collation(8, "latin1");
        add_collation(33, "utf8");
        add_collation(45, "utf8mb4");
        add_collation(63, "binary");
        add_collation(76, "utf8mb3");
    }
    void TearDown() override { env_release(env); }
    void add_collation(int id, const char *name)
    {
        collation_entry e{};
        e.id = id;
        strncpy(e.charset_name, name, sizeof e.charset_name - 1);
        conn->collations->push_back(e);
    }
};

} // namespace

// ------------------------------------------------------------ type table

namespace {

struct column_case {
    const char *what;
    int mysql_type;
    uint32_t L;
    int D, F, C;
    int time_as_time, odbc2;
    // expected
    int concise, type, code;
    int64_t display;
    int32_t precision;
    int scale;
    int64_t length, octet;
    int radix, searchable;
    const char *prefix, *suffix, *local_name, *type_name;
};

const uint32_t LMAX = 4294967295u;
const int BIN = BINARY_FLAG;

const column_case column_cases[] = {
    {"DECIMAL(10,2)", 0, 12, 2, 0, 8, 0, 0, 3, 3, 0, 12, 10, 2, 12, 12, 10, 2, NONE, NONE, "decimal", "decimal"},
    {"NEWDECIMAL(10,0)", 246, 11, 0, 0, 8, 0, 0, 3, 3, 0, 11, 10, 0, 11, 11, 10, 2, NONE, NONE, "newdecimal", "newdecimal"},
    {"NEWDECIMAL(10,2) UNSIGNED", 246, 11, 2, UNSIGNED_FLAG, 8, 0, 0, 3, 3, 0, 11, 10, 2, 11, 11, 10, 2, NONE, NONE, "newdecimal", "newdecimal"},
    {"NEWDECIMAL(10,0) UNSIGNED", 246, 10, 0, UNSIGNED_FLAG, 8, 0, 0, 3, 3, 0, 10, 10, 0, 10, 10, 10, 2, NONE, NONE, "newdecimal", "newdecimal"},
    {"TINY", 1, 4, 0, 0, 63, 0, 0, -6, -6, 0, 4, 3, 0, 3, 1, 0, 2, NONE, NONE, "tiny", "tiny"},
    {"NULL", 6, 0, 0, 0, 63, 0, 0, -6, -6, 0, 4, 3, 0, 3, 1, 0, 2, NONE, NONE, "tiny", "tiny"},
    {"SHORT", 2, 6, 0, 0, 63, 0, 0, 5, 5, 0, 6, 5, 0, 5, 2, 0, 2, NONE, NONE, "short", "short"},
    {"LONG", 3, 11, 0, 0, 63, 0, 0, 4, 4, 0, 11, 10, 0, 10, 4, 0, 2, NONE, NONE, "int", "int"},
    {"INT24", 9, 9, 0, 0, 63, 0, 0, 4, 4, 0, 8, 7, 0, 7, 4, 0, 2, NONE, NONE, "int24", "int24"},
    {"LONGLONG", 8, 20, 0, 0, 63, 0, 0, -5, -5, 0, 20, 19, 0, 19, 8, 0, 2, NONE, NONE, "longlong", "longlong"},
    {"YEAR", 13, 4, 0, 0, 63, 0, 0, 5, 5, 0, 6, 4, 0, 4, 2, 0, 2, NONE, NONE, "year", "year"},
    {"FLOAT", 4, 12, 31, 0, 63, 0, 0, 7, 7, 0, 14, 24, 0, 24, 4, 2, 2, NONE, NONE, "float", "float"},
    {"DOUBLE", 5, 22, 31, 0, 63, 0, 0, 8, 8, 0, 24, 53, 0, 53, 8, 2, 2, NONE, NONE, "double", "double"},
    {"TIMESTAMP", 7, 19, 0, 0, 63, 0, 0, 93, 9, 3, 19, 0, 0, 19, 16, 0, 3, "{ts '", "'}", "timestamp", "timestamp"},
    {"DATETIME(3)", 12, 23, 3, 0, 63, 0, 0, 93, 9, 3, 23, 3, 3, 23, 16, 0, 3, "{ts '", "'}", "datetime", "datetime"},
    {"DATETIME ODBC 2", 12, 19, 0, 0, 63, 0, 1, 11, 9, 3, 19, 0, 0, 19, 16, 0, 3, "{ts '", "'}", "datetime", "datetime"},
    {"DATE", 10, 10, 0, 0, 63, 0, 0, 91, 9, 1, 10, 0, 0, 6, 6, 0, 3, "{d '", "'}", "date", "date"},
    {"DATE ODBC 2", 10, 10, 0, 0, 63, 0, 1, 9, 9, 1, 10, 0, 0, 6, 6, 0, 3, "{d '", "'}", "date", "date"},
    {"TIME TimeAsTime", 11, 10, 0, 0, 63, 1, 0, 92, 9, 2, 8, 0, 0, 6, 6, 0, 3, "{t '", "'}", "time", "time"},
    {"TIME TimeAsTime ODBC 2", 11, 10, 0, 0, 63, 1, 1, 10, 9, 2, 8, 0, 0, 6, 6, 0, 3, "{t '", "'}", "time", "time"},
    {"TIME as text", 11, 10, 0, 0, 63, 0, 0, 12, 12, 0, 11, 11, 0, 11, 11, 0, 3, "'", "'", "time", "varchar"},
    {"TIME(3) as text", 11, 14, 3, 0, 63, 0, 0, 12, 12, 0, 15, 15, 0, 15, 15, 0, 3, "'", "'", "time", "varchar"},
    {"BIT(1)", 16, 1, 0, 0, 63, 0, 0, -7, -7, 0, 1, 1, 0, 1, 1, 0, 2, NONE, NONE, "bit", "bit"},
    {"BIT(10)", 16, 10, 0, 0, 63, 0, 0, -2, -2, 0, 4, 2, 0, 2, 2, 0, 2, NONE, NONE, "bit[]", "binary"},
    {"BIT(16)", 16, 16, 0, 0, 63, 0, 0, -2, -2, 0, 4, 2, 0, 2, 3, 0, 2, NONE, NONE, "bit[]", "binary"},
    {"VARCHAR utf8mb4", 15, 40, 0, 0, 45, 0, 0, 12, 12, 0, 10, 10, 0, 40, 40, 0, 3, "'", "'", "varchar", "varchar"},
    {"VAR_STRING utf8mb4", 253, 40, 0, 0, 45, 0, 0, 12, 12, 0, 10, 10, 0, 40, 40, 0, 3, "'", "'", "varchar", "varchar"},
    {"VAR_STRING utf8", 253, 30, 0, 0, 33, 0, 0, 12, 12, 0, 10, 10, 0, 30, 30, 0, 3, "'", "'", "varchar", "varchar"},
    {"VAR_STRING utf8mb3", 253, 30, 0, 0, 76, 0, 0, 12, 12, 0, 10, 10, 0, 30, 30, 0, 3, "'", "'", "varchar", "varchar"},
    {"VAR_STRING latin1", 253, 30, 0, 0, 8, 0, 0, 12, 12, 0, 30, 30, 0, 30, 30, 0, 3, "'", "'", "varchar", "varchar"},
    {"VAR_STRING unknown charset", 253, 30, 0, 0, 250, 0, 0, 12, 12, 0, 30, 30, 0, 30, 30, 0, 3, "'", "'", "varchar", "varchar"},
    {"VAR_STRING binary", 253, 40, 0, BIN, 63, 0, 0, -3, -3, 0, 40, 40, 0, 40, 40, 0, 2, "0x", NONE, "varchar_bin", "varchar_bin"},
    {"STRING utf8mb4", 254, 12, 0, 0, 45, 0, 0, 1, 1, 0, 3, 3, 0, 12, 12, 0, 3, "'", "'", "char", "char"},
    {"STRING binary", 254, 12, 0, BIN, 63, 0, 0, -2, -2, 0, 12, 12, 0, 12, 12, 0, 2, "0x", NONE, "char_bin", "char_bin"},
    {"JSON", 245, 100, 0, 0, 45, 0, 0, 1, 1, 0, 100, 100, 0, 100, 100, 0, 3, "'", "'", "char", "char"},
    {"JSON unlimited", 245, LMAX, 0, 0, 45, 0, 0, 1, 1, 0, 4294967295LL, INT32_MAX, 0, 4294967295LL, 4294967295LL, 0, 3, "'", "'", "char", "char"},
    {"TINY_BLOB text", 249, 255, 0, 0, 8, 0, 0, 12, 12, 0, 255, 255, 0, 255, 255, 0, 3, "'", "'", "varchar", "varchar"},
    {"TINY_BLOB binary", 249, 255, 0, BIN, 63, 0, 0, -3, -3, 0, 510, 255, 0, 255, 255, 0, 2, "0x", NONE, "tiny_blob", "tiny_blob"},
    {"MEDIUM_BLOB text", 250, 16777215, 0, 0, 8, 0, 0, -1, -1, 0, 2147483647, 2147483647, 0, 2147483647, 2147483647, 0, 1, "'", "'", "text", "text"},
    {"MEDIUM_BLOB binary", 250, 16777215, 0, BIN, 63, 0, 0, -4, -4, 0, 4294967294LL, 2147483647, 0, 2147483647, 2147483647, 0, 2, "0x", NONE, "medium_blob", "medium_blob"},
    {"LONG_BLOB text", 251, LMAX, 0, 0, 8, 0, 0, -1, -1, 0, 2147483647, 2147483647, 0, 2147483647, 2147483647, 0, 1, "'", "'", "text", "text"},
    {"LONG_BLOB binary", 251, LMAX, 0, BIN, 63, 0, 0, -4, -4, 0, 4294967294LL, 2147483647, 0, 2147483647, 2147483647, 0, 2, "0x", NONE, "long_blob", "long_blob"},
    {"TEXT", 252, 65535, 0, 0, 8, 0, 0, -1, -1, 0, 65535, 65535, 0, 65535, 65535, 0, 1, "'", "'", "text", "text"},
    {"BLOB", 252, 65535, 0, BIN, 63, 0, 0, -4, -4, 0, 131070, 65535, 0, 65535, 65535, 0, 2, "0x", NONE, "blob", "blob"},
    {"LONGTEXT as BLOB", 252, LMAX, 0, 0, 45, 0, 0, -1, -1, 0, 4294967294LL, 2147483647, 0, 2147483647, 2147483647, 0, 1, "'", "'", "text", "text"},
    {"LONGBLOB as BLOB", 252, LMAX, 0, BIN, 63, 0, 0, -4, -4, 0, 4294967294LL, 2147483647, 0, 2147483647, 2147483647, 0, 2, "0x", NONE, "blob", "blob"},
    // text in a binary collation carries the binary flag too: still text
    {"TINYTEXT utf8mb4_bin", 249, 255, 0, BIN, 46, 0, 0, 12, 12, 0, 255, 255, 0, 255, 255, 0, 3, "'", "'", "varchar", "varchar"},
    {"TEXT utf8mb4_bin", 252, 65535, 0, BIN, 46, 0, 0, -1, -1, 0, 65535, 65535, 0, 65535, 65535, 0, 1, "'", "'", "text", "text"},
    {"LONGTEXT utf8mb4_bin (JSON)", 252, LMAX, 0, BIN, 46, 0, 0, -1, -1, 0, 4294967294LL, 2147483647, 0, 2147483647, 2147483647, 0, 1, "'", "'", "text", "text"},
    {"MEDIUMTEXT utf8mb4_bin", 250, 16777215, 0, BIN, 46, 0, 0, -1, -1, 0, 2147483647, 2147483647, 0, 2147483647, 2147483647, 0, 1, "'", "'", "text", "text"},
    {"GEOMETRY", 255, LMAX, 0, BIN, 63, 0, 0, -2, -2, 0, 50, 25, 0, 15, 4294967295LL, 0, 3, "0x", "", "geometry", "binary"},
};

} // namespace

using DescTypes = desc_fixture;

TEST_F(DescTypes, EveryRowOfTheTypeTable)
{
    ASSERT_EQ(desc_set_records(stmt->implicit_ird, 1), 0);
    for (const column_case &c : column_cases) {
        SCOPED_TRACE(c.what);
        conn->TimeAsTime = c.time_as_time;
        env->odbc_version = c.odbc2 ? SQL_OV_ODBC2 : SQL_OV_ODBC3;
        ASSERT_EQ(desc_set_records(stmt->implicit_ird, 1), 0);   // a fresh record each time
        ASSERT_EQ(fill_field_from_column(stmt, stmt->implicit_ird, 0, nullptr, nullptr, nullptr,
                                         nullptr, ms_from_latin1("c"), nullptr, c.C, c.L,
                                         c.mysql_type, c.F, c.D),
                  0);
        const field &f = stmt->implicit_ird->records[0];
        EXPECT_EQ(f.concise_type, c.concise);
        EXPECT_EQ(f.type, c.type);
        EXPECT_EQ(f.datetime_interval_code, c.code);
        EXPECT_EQ(f.display_size, c.display);
        EXPECT_EQ(f.precision, c.precision);
        EXPECT_EQ(f.scale, c.scale);
        EXPECT_EQ(f.length, c.length);
        EXPECT_EQ(f.octet_length, c.octet);
        EXPECT_EQ(f.num_prec_radix, c.radix);
        EXPECT_EQ(f.searchable, c.searchable);
        EXPECT_EQ(f.fixed_prec_scale, 0);
        EXPECT_EQ(str(f.literal_prefix), c.prefix);
        EXPECT_EQ(str(f.literal_suffix), c.suffix);
        EXPECT_EQ(str(f.local_type_name), c.local_name);
        EXPECT_EQ(str(f.type_name), c.type_name);
        EXPECT_EQ(f.mysql_type, c.mysql_type);
        EXPECT_EQ(f.charset_number, c.C);
        EXPECT_EQ(diag_count(stmt), 0);
    }
}

TEST_F(DescTypes, FlagsAndNamesOfAColumn)
{
    ASSERT_EQ(desc_set_records(stmt->implicit_ird, 2), 0);
    // id INT UNSIGNED NOT NULL AUTO_INCREMENT
    int flags = NOT_NULL_FLAG | UNSIGNED_FLAG | AUTO_INCREMENT_FLAG;
    ASSERT_EQ(fill_field_from_column(stmt, stmt->implicit_ird, 1, ms_from_latin1("def"),
                                     ms_from_latin1("shop"), ms_from_latin1("o"),
                                     ms_from_latin1("orders"), ms_from_latin1("order_id"),
                                     ms_from_latin1("id"), 63, 10, MYSQL_TYPE_LONG, flags, 0),
              0);
    const field &f = stmt->implicit_ird->records[1];
    EXPECT_EQ(f.is_unsigned, SQL_TRUE);
    EXPECT_EQ(f.auto_unique_value, SQL_TRUE);
    EXPECT_EQ(f.nullable, SQL_NO_NULLS);
    EXPECT_EQ(f.column_flags, flags);
    EXPECT_EQ(f.updatable, SQL_ATTR_READWRITE_UNKNOWN);
    EXPECT_EQ(f.case_sensitive, 0);
    EXPECT_EQ(f.rowver, 0);
    EXPECT_EQ(f.unnamed, 0);
    EXPECT_EQ(str(f.catalog_name), "def");
    EXPECT_EQ(str(f.schema_name), "shop");
    EXPECT_EQ(str(f.table_name), "o");
    EXPECT_EQ(str(f.base_table_name), "orders");
    EXPECT_EQ(str(f.name), "order_id");
    EXPECT_EQ(str(f.base_column_name), "id");

    // A nullable signed column without a name.
    ASSERT_EQ(fill_field_from_column(stmt, stmt->implicit_ird, 0, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, 63, 11, MYSQL_TYPE_LONG, 0, 0),
              0);
    const field &g = stmt->implicit_ird->records[0];
    EXPECT_EQ(g.is_unsigned, SQL_FALSE);
    EXPECT_EQ(g.auto_unique_value, SQL_FALSE);
    EXPECT_EQ(g.nullable, SQL_NULLABLE);
    EXPECT_EQ(g.unnamed, 1);
}

TEST_F(DescTypes, UnsupportedTypesAreProtocolErrors)
{
    ASSERT_EQ(desc_set_records(stmt->implicit_ird, 1), 0);
    for (int type : {(int)MYSQL_TYPE_ENUM, (int)MYSQL_TYPE_SET, (int)MYSQL_TYPE_NEWDATE, 17, 100, 244}) {
        SCOPED_TRACE(type);
        clear_diagnostics(stmt);
        EXPECT_EQ(fill_field_from_column(stmt, stmt->implicit_ird, 0, nullptr, nullptr, nullptr,
                                         nullptr, ms_from_latin1("e"), nullptr, 45, 4, type,
                                         NOT_NULL_FLAG, 0),
                  -6);
        EXPECT_EQ(diag_state(stmt), "08S01");
        EXPECT_EQ(diag_text(stmt), PREFIX + "Communication link failure: type not supported");
        // The common attributes are set before the type is looked at.
        const field &f = stmt->implicit_ird->records[0];
        EXPECT_EQ(f.mysql_type, type);
        EXPECT_EQ(f.nullable, SQL_NO_NULLS);
        EXPECT_EQ(str(f.name), "e");
    }
}

TEST_F(DescTypes, RecordOutsideTheListIsRefused)
{
    ASSERT_EQ(desc_set_records(stmt->implicit_ird, 1), 0);
    // The names are freed even so (the sanitizer build checks for leaks).
    EXPECT_EQ(fill_field_from_column(stmt, stmt->implicit_ird, 1, ms_from_latin1("a"), nullptr,
                                     nullptr, nullptr, ms_from_latin1("b"), nullptr, 8, 4,
                                     MYSQL_TYPE_LONG, 0, 0),
              -1);
    EXPECT_EQ(diag_state(stmt), "HY000");
}

TEST_F(DescTypes, CharsetWidths)
{
    EXPECT_EQ(charset_max_bytes(conn, 45), 4);
    EXPECT_EQ(charset_max_bytes(conn, 33), 3);
    EXPECT_EQ(charset_max_bytes(conn, 76), 3);
    EXPECT_EQ(charset_max_bytes(conn, 8), 1);
    EXPECT_EQ(charset_max_bytes(conn, 63), 1);
    EXPECT_EQ(charset_max_bytes(conn, 999), 1);
    EXPECT_EQ(charset_max_bytes(nullptr, 45), 1);
    delete conn->collations;
    conn->collations = nullptr;
    EXPECT_EQ(charset_max_bytes(conn, 45), 1);
}

// ------------------------------------------------- deriving type fields

namespace {

struct c_type_case {
    int concise;
    int type, code;
    int64_t octet, display;
    int precision, dt_precision;
    int64_t length;
    int radix;
    const char *prefix, *suffix, *name;
};

// Records start with octet_length 10 and datetime_interval_precision 7 so
// that "unchanged" is visible.
const c_type_case c_type_cases[] = {
    {SQL_C_CHAR, 1, 0, 10, 0, 0, 0, 1, 0, "'", "'", "char"},
    {SQL_C_NUMERIC, 2, 0, 19, 0, 38, 0, 38, 10, NONE, NONE, "numeric"},
    {SQL_C_LONG, 4, 0, 4, 11, 0, 0, 10, 0, NONE, NONE, "int"},
    {SQL_C_SLONG, -16, 0, 4, 11, 0, 0, 10, 0, NONE, NONE, "int"},
    {SQL_C_ULONG, -18, 0, 4, 11, 0, 0, 10, 0, NONE, NONE, "int"},
    {SQL_C_SHORT, 5, 0, 2, 5, 0, 0, 5, 0, NONE, NONE, "smallint"},
    {SQL_C_SSHORT, -15, 0, 2, 5, 0, 0, 5, 0, NONE, NONE, "smallint"},
    {SQL_C_USHORT, -17, 0, 2, 5, 0, 0, 5, 0, NONE, NONE, "smallint"},
    {SQL_C_FLOAT, 7, 0, 4, 15, 24, 0, 15, 2, NONE, NONE, "float"},
    {SQL_C_DOUBLE, 8, 0, 8, 15, 53, 0, 15, 2, NONE, NONE, "double"},
    {SQL_C_DATE, 9, 1, 6, 10, 0, 0, 10, 0, "{d '", "'}", "date"},
    {SQL_C_TYPE_DATE, 9, 1, 6, 10, 0, 0, 10, 0, "{d '", "'}", "date"},
    {SQL_C_TIME, 9, 2, 6, 8, 0, 0, 8, 0, "{t '", "'}", "time"},
    {SQL_C_TYPE_TIME, 9, 2, 6, 8, 0, 0, 8, 0, "{t '", "'}", "time"},
    {SQL_C_TIMESTAMP, 9, 3, 16, 23, 3, 3, 23, 0, "{ts '", "'}", "timestamp"},
    {SQL_C_TYPE_TIMESTAMP, 9, 3, 16, 23, 3, 3, 23, 0, "{ts '", "'}", "timestamp"},
    {SQL_C_TINYINT, -6, 0, 1, 1, 0, 0, 1, 0, NONE, NONE, "bit"},
    {SQL_C_BIT, -7, 0, 1, 1, 0, 0, 1, 0, NONE, NONE, "bit"},
    {SQL_C_STINYINT, -26, 0, 1, 1, 0, 0, 1, 0, NONE, NONE, "bit"},
    {SQL_C_UTINYINT, -28, 0, 1, 1, 0, 0, 1, 0, NONE, NONE, "bit"},
    {SQL_C_SBIGINT, -25, 0, 8, 20, 0, 7, 20, 0, NONE, NONE, "bigint"},
    {SQL_C_UBIGINT, -27, 0, 8, 20, 0, 7, 20, 0, NONE, NONE, "bigint"},
    {SQL_C_GUID, -11, 0, 16, 36, 36, 7, 36, 0, NONE, NONE, "uniqueidentifier"},
    {SQL_C_WCHAR, -8, 0, 10, 5, 0, 0, 1, 0, "N'", "'", "nchar"},
    {SQL_C_BINARY, -2, 0, 10, 22, 0, 0, 10, 0, "0x", "", "binary"},
};

} // namespace

using DescDerive = desc_fixture;

TEST_F(DescDerive, ConciseTypeGivesEveryDependentField)
{
    my_descriptor *ard = stmt->implicit_ard;
    ASSERT_EQ(desc_set_records(ard, 1), 0);
    field *f = &ard->records[0];
    for (const c_type_case &c : c_type_cases) {
        SCOPED_TRACE(c.concise);
        f->octet_length = 10;
        f->datetime_interval_precision = 7;
        f->scale = 4;
        f->fixed_prec_scale = 1;
        f->concise_type = c.concise;
        ASSERT_EQ(my_update_desc_type(ard, f, 0), SQL_SUCCESS);
        EXPECT_EQ(f->concise_type, c.concise);
        EXPECT_EQ(f->type, c.type);
        EXPECT_EQ(f->datetime_interval_code, c.code);
        EXPECT_EQ(f->octet_length, c.octet);
        EXPECT_EQ(f->display_size, c.display);
        EXPECT_EQ(f->precision, c.precision);
        EXPECT_EQ(f->scale, 0);
        EXPECT_EQ(f->datetime_interval_precision, c.dt_precision);
        EXPECT_EQ(f->length, c.length);
        EXPECT_EQ(f->num_prec_radix, c.radix);
        EXPECT_EQ(f->fixed_prec_scale, 0);
        EXPECT_EQ(str(f->literal_prefix), c.prefix);
        EXPECT_EQ(str(f->literal_suffix), c.suffix);
        EXPECT_EQ(str(f->local_type_name), c.name);
        EXPECT_EQ(str(f->type_name), c.name);
    }
    EXPECT_EQ(diag_count(ard), 0);
}

TEST_F(DescDerive, SqlOnlyTypesAreOutOfRange)
{
    my_descriptor *ard = stmt->implicit_ard;
    ASSERT_EQ(desc_set_records(ard, 1), 0);
    field *f = &ard->records[0];
    for (int t : {SQL_VARCHAR, SQL_DECIMAL, SQL_FLOAT, SQL_LONGVARCHAR, SQL_VARBINARY,
                  SQL_LONGVARBINARY, SQL_BIGINT, SQL_WVARCHAR, SQL_WLONGVARCHAR, SQL_C_DEFAULT}) {
        SCOPED_TRACE(t);
        clear_diagnostics(ard);
        f->concise_type = SQL_C_CHAR;
        ASSERT_EQ(my_update_desc_type(ard, f, 0), SQL_SUCCESS);
        f->concise_type = t;
        EXPECT_EQ(my_update_desc_type(ard, f, 0), SQL_ERROR);
        EXPECT_EQ(diag_state(ard), "HY003");
        EXPECT_EQ(diag_text(ard), PREFIX + "Program type out of range");
        EXPECT_EQ(f->literal_prefix, nullptr);   // the names stay freed
        EXPECT_EQ(f->type_name, nullptr);
        EXPECT_EQ(f->type, t);
    }
}

TEST_F(DescDerive, IntervalCodeAndTypeModes)
{
    my_descriptor *ard = stmt->implicit_ard;
    ASSERT_EQ(desc_set_records(ard, 1), 0);
    field *f = &ard->records[0];

    struct mode_case {
        int mode, type, code, concise;     // record before
        SQLRETURN rc;
        const char *state;
        int want_type, want_code, want_concise;
    } cases[] = {
        {1, 4, 0, 4, SQL_SUCCESS, NONE, 4, 0, 4},           // code 0 changes nothing
        {1, 4, 1, 4, SQL_SUCCESS, NONE, 9, 1, 91},
        {1, 4, 2, 4, SQL_SUCCESS, NONE, 9, 2, 92},
        {1, 4, 3, 4, SQL_SUCCESS, NONE, 9, 3, 93},
        {1, 4, 4, 4, SQL_ERROR, "HY021", 4, 4, 4},
        {1, 4, -1, 4, SQL_ERROR, "HY021", 4, -1, 4},
        {2, 9, 2, 1, SQL_SUCCESS, NONE, 9, 2, 92},
        {2, 9, 3, 1, SQL_SUCCESS, NONE, 9, 3, 93},
        {2, 9, 0, 1, SQL_ERROR, "HY021", 9, 0, 1},
        {2, 4, 3, 93, SQL_SUCCESS, NONE, 4, 0, 4},
        {2, 12, 0, 1, SQL_ERROR, "HY003", 12, 0, 12},
        {7, 4, 0, 4, SQL_ERROR, "HY021", 4, 0, 4},          // no such mode
    };
    for (const mode_case &c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " type " << c.type << " code "
                                        << c.code);
        clear_diagnostics(ard);
        f->type = c.type;
        f->datetime_interval_code = c.code;
        f->concise_type = c.concise;
        EXPECT_EQ(my_update_desc_type(ard, f, c.mode), c.rc);
        EXPECT_EQ(diag_state(ard), c.state);
        EXPECT_EQ(f->type, c.want_type);
        EXPECT_EQ(f->datetime_interval_code, c.want_code);
        EXPECT_EQ(f->concise_type, c.want_concise);
    }
    clear_diagnostics(ard);
    f->datetime_interval_code = 4;
    my_update_desc_type(ard, f, 1);
    EXPECT_EQ(diag_text(ard), PREFIX + "Inconsistent descriptor information");
}

// --------------------------------------------------------- consistency

TEST_F(DescDerive, ConsistencyCheckTexts)
{
    my_descriptor *ard = stmt->implicit_ard;
    const std::string base = PREFIX + "Inconsistent descriptor information";
    struct consistency_case {
        int concise, type, code, precision, scale;
        int64_t octet;
        const char *text;   // null: consistent
    } cases[] = {
        {SQL_C_CHAR, 1, 0, 0, 0, 10, nullptr},
        {SQL_C_CHAR, 1, 0, -1, 0, 10, nullptr},
        {SQL_C_CHAR, 1, 0, -2, 0, 10, ": Negative precision value"},
        {SQL_VARCHAR, 12, 0, -5, 0, 10, ": Negative precision value"},
        {SQL_C_WCHAR, -8, 0, -2, 0, 10, ": Negative precision value"},
        {SQL_C_NUMERIC, 2, 0, 10, 2, 19, nullptr},
        {SQL_C_NUMERIC, 2, 0, 0, 0, 19, ": Invalid precision value"},
        {SQL_C_NUMERIC, 2, 0, 10, -1, 19, ": Negative scale value"},
        {SQL_C_NUMERIC, 2, 0, -1, -1, 19, ": Negative scale value"},
        {SQL_DECIMAL, 3, 0, -1, 0, 19, ": Negative precision value"},
        {SQL_C_SLONG, -16, 0, 0, 0, -1, ": Negative octet length value"},
        {SQL_C_TYPE_TIMESTAMP, 9, 3, 3, 0, 16, nullptr},
        {SQL_C_TIMESTAMP, 9, 3, 3, 0, 16, nullptr},
        {SQL_C_TYPE_TIMESTAMP, 93, 0, 3, 0, 16, ""},
        {SQL_C_TYPE_DATE, 9, 2, 0, 0, 6, nullptr},   // code only has to be a datetime one
        {SQL_C_TYPE_DATE, 9, 4, 0, 0, 6, ""},
        {SQL_C_DEFAULT, 99, 0, 0, 0, 0, ""},
        {SQL_C_SLONG, 99, 0, 0, 0, 4, ""},
        {-12, -12, 0, 0, 0, 4, ""},
        {-19, -19, 0, 0, 0, 4, ""},
        {-28, -28, 0, 0, 0, 1, nullptr},
    };
    field f;
    field_init(&f);
    for (const consistency_case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.concise << "/" << c.type);
        clear_diagnostics(ard);
        f.concise_type = c.concise;
        f.type = c.type;
        f.datetime_interval_code = c.code;
        f.precision = c.precision;
        f.scale = c.scale;
        f.octet_length = c.octet;
        if (!c.text) {
            EXPECT_EQ(check_desc_consistency(ard, &f), SQL_SUCCESS);
            EXPECT_EQ(diag_count(ard), 0);
        } else {
            EXPECT_EQ(check_desc_consistency(ard, &f), SQL_ERROR);
            EXPECT_EQ(diag_state(ard), "HY021");
            EXPECT_EQ(diag_text(ard), base + c.text);
        }
    }
}

// ---------------------------------------------------------- type tables

TEST(DescTables, ValidTypeSets)
{
    std::vector<int> c_ok, sql_ok;
    for (int t = -40; t <= 120; t++) {
        if (is_valid_c_type(t))
            c_ok.push_back(t);
        if (is_valid_sql_type(t))
            sql_ok.push_back(t);
    }
    std::vector<int> c_want = {-28, -27, -26, -25, -18, -17, -16, -15, -11, -8, -7, -6, -2,
                               1, 2, 4, 5, 7, 8, 9, 10, 11, 91, 92, 93, 99};
    for (int t = 101; t <= 113; t++)
        c_want.push_back(t);
    std::vector<int> sql_want = {-28, -27, -26, -25, -18, -17, -16, -15, -11, -10, -9, -8,
                                 -7, -6, -5, -4, -3, -2, -1, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                                 10, 11, 12, 91, 92, 93};
    EXPECT_EQ(c_ok, c_want);
    EXPECT_EQ(sql_ok, sql_want);
}

// ------------------------------------------------------- record lists

using DescList = desc_fixture;

TEST_F(DescList, SetGrowTruncate)
{
    my_descriptor *apd = stmt->implicit_apd;
    ASSERT_EQ(desc_set_records(apd, 3), 0);
    ASSERT_EQ(apd->field_count, 3);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(apd->records[i].parameter_type, SQL_PARAM_INPUT);
        EXPECT_EQ(apd->records[i].unnamed, 1);
        EXPECT_EQ(apd->records[i].name, nullptr);
        EXPECT_EQ(apd->records[i].concise_type, 0);
    }
    // Give record 2 everything a record can own; the sanitizer build
    // reports whatever a list operation forgets to free.
    field *r2 = &apd->records[1];
    r2->name = ms_from_latin1("p2");
    r2->type_name = ms_from_latin1("int");
    r2->storage.buffer = (unsigned char *)malloc(16);
    r2->storage.capacity = 16;
    r2->storage.data_type = 1;
    r2->dae_chunks = new std::vector<dae_chunk>{{3, (unsigned char *)malloc(3)}, {-1, nullptr}};
    apd->records[2].name = ms_from_latin1("p3");

    ASSERT_EQ(desc_grow(apd, 2), 0);   // already long enough
    EXPECT_EQ(apd->field_count, 3);
    ASSERT_EQ(desc_grow(apd, 6), 0);
    EXPECT_EQ(apd->field_count, 6);
    EXPECT_EQ(str(apd->records[1].name), "p2");   // kept across the move
    EXPECT_EQ(apd->records[5].parameter_type, SQL_PARAM_INPUT);

    ASSERT_EQ(desc_truncate(apd, 8), 0);   // shorter than 8: nothing to do
    EXPECT_EQ(apd->field_count, 6);
    ASSERT_EQ(desc_truncate(apd, 2), 0);
    EXPECT_EQ(apd->field_count, 2);
    EXPECT_EQ(str(apd->records[1].name), "p2");
    ASSERT_EQ(desc_truncate(apd, 0), 0);
    EXPECT_EQ(apd->field_count, 0);
    EXPECT_EQ(apd->records, nullptr);

    EXPECT_EQ(desc_grow(apd, -1), -1);
    EXPECT_EQ(desc_truncate(apd, -1), -1);
    EXPECT_EQ(desc_set_records(apd, -1), -1);
    EXPECT_EQ(apd->field_count, 0);
}

TEST_F(DescList, SetRecordsReplacesAndResetUnbinds)
{
    my_descriptor *ard = stmt->implicit_ard;
    ASSERT_EQ(desc_set_records(ard, 2), 0);
    int target;
    ard->records[0].data_ptr = &target;
    ard->records[0].indicator_ptr = &target;
    ard->records[0].octet_length_ptr = &target;
    ard->records[0].literal_prefix = ms_from_latin1("'");
    ard->records[0].storage.buffer = (unsigned char *)malloc(8);
    ard->records[0].storage.alloc_length = 8;
    ard->records[0].concise_type = SQL_C_CHAR;

    field_reset(&ard->records[0]);
    EXPECT_EQ(ard->records[0].data_ptr, nullptr);
    EXPECT_EQ(ard->records[0].indicator_ptr, nullptr);
    EXPECT_EQ(ard->records[0].octet_length_ptr, nullptr);
    EXPECT_EQ(ard->records[0].literal_prefix, nullptr);
    EXPECT_EQ(ard->records[0].storage.buffer, nullptr);
    EXPECT_EQ(ard->records[0].storage.alloc_length, 0);
    EXPECT_EQ(ard->records[0].concise_type, SQL_C_CHAR);   // type attributes stay

    ard->records[1].name = ms_from_latin1("x");
    ASSERT_EQ(desc_set_records(ard, 1), 0);
    EXPECT_EQ(ard->field_count, 1);
    EXPECT_EQ(ard->records[0].name, nullptr);
    EXPECT_EQ(ard->records[0].concise_type, 0);
    ASSERT_EQ(desc_set_records(ard, 0), 0);
    EXPECT_EQ(ard->records, nullptr);
}

TEST_F(DescList, ColumnCount)
{
    my_descriptor *ird = stmt->implicit_ird;
    ASSERT_EQ(desc_set_records(ird, 4), 0);
    EXPECT_EQ(desc_column_count(ird), 4);
    ird->described_count = 2;
    EXPECT_EQ(desc_column_count(ird), 4);   // not valid yet
    ird->described_valid = 1;
    EXPECT_EQ(desc_column_count(ird), 2);
    ird->described_count = 9;
    EXPECT_EQ(desc_column_count(ird), 4);
}

// Internal result sets: key ordering (NULL first, byte-wise text, numeric
// integers, stable on equal keys), the column descriptions written into the
// IRD, the value holders a fetch fills, the empty and exhausted set, the
// refusals, and a large set inserted in reverse order.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "results/my_internalrs.h"

namespace {

const char *const NUL = nullptr;

/* The SQLTables layout: sorted by TABLE_TYPE, TABLE_CAT, TABLE_SCHEM, TABLE_NAME. */
const internal_rs_column tables_cols[] = {
    {"TABLE_CAT", SQL_VARCHAR, 64, SQL_NULLABLE},   {"TABLE_SCHEM", SQL_VARCHAR, 64, SQL_NULLABLE},
    {"TABLE_NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},  {"TABLE_TYPE", SQL_VARCHAR, 64, SQL_NO_NULLS},
    {"REMARKS", SQL_VARCHAR, 256, SQL_NULLABLE},
};
const int tables_keys[] = {4, 1, 2, 3, 0};

/* A numeric key followed by a tag that shows where each row came from. */
const internal_rs_column num_cols[] = {
    {"N", SQL_INTEGER, 0, SQL_NULLABLE},
    {"S", SQL_SMALLINT, 0, SQL_NULLABLE},
    {"TAG", SQL_VARCHAR, 16, SQL_NO_NULLS},
};

std::string cell(const field &f)
{
    const data_storage &d = f.storage;
    if (d.isnull)
        return "<null>";
    if (d.data_type == SQL_INTEGER)
        return std::to_string(d.v.i32);
    return std::string((const char *)d.buffer, (size_t)d.alloc_length);
}

struct irs : ::testing::Test {
    my_environment *env = env_create();
    my_connection *conn = conn_create(env, 3);
    my_statement *stmt = stmt_create(conn);
    void TearDown() override { env_release(env); }

    void insert(std::vector<const char *> v) { ASSERT_EQ(internal_rs_insert(stmt, v.data()), 0); }

    /* Fetches every row and returns column col of each. */
    std::vector<std::string> column(int col)
    {
        std::vector<std::string> out;
        SQLRETURN rc;
        while ((rc = internal_rs_fetch(stmt)) == SQL_SUCCESS)
            out.push_back(cell(stmt->ird->records[col]));
        EXPECT_EQ(rc, SQL_NO_DATA);
        return out;
    }

    std::string message()
    {
        SQLCHAR st[6] = "", msg[256] = "";
        SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, st, nullptr, msg, sizeof msg, nullptr);
        return std::string((const char *)st) + " " + (const char *)msg;
    }
};

} // namespace

TEST_F(irs, TablesOrderTypeThenCatalogSchemaNameWithNullsFirst)
{
    const internal_rs_layout l = irs_layout(tables_cols);
    ASSERT_EQ(internal_rs_create(stmt, &l, tables_keys), 0);
    insert({"db2", NUL, "t1", "VIEW", NUL});
    insert({"db1", NUL, "zeta", "TABLE", NUL});
    insert({"db1", NUL, "alpha", "TABLE", "first alpha"});
    insert({NUL, NUL, "orphan", "TABLE", NUL});
    insert({"db1", NUL, "alpha", "TABLE", "second alpha"});
    insert({"db0", NUL, "b", "SYSTEM TABLE", NUL});
    insert({"Db1", NUL, "upper", "TABLE", NUL});   // 'D' (0x44) sorts before 'd' (0x64)

    std::vector<std::string> expect = {"b", "orphan", "upper", "alpha", "alpha", "zeta", "t1"};
    EXPECT_EQ(column(2), expect);
}

TEST_F(irs, EqualKeysKeepInsertionOrderAndRemarksFollow)
{
    const internal_rs_layout l = irs_layout(tables_cols);
    ASSERT_EQ(internal_rs_create(stmt, &l, tables_keys), 0);
    for (const char *r : {"3", "1", "2", "4"})
        insert({"c", NUL, "same", "TABLE", r});
    EXPECT_EQ(column(4), (std::vector<std::string>{"3", "1", "2", "4"}));
}

TEST_F(irs, TextKeysCompareAsUnsignedBytes)
{
    const internal_rs_layout l = irs_layout(tables_cols);
    const int keys[] = {3, 0};
    ASSERT_EQ(internal_rs_create(stmt, &l, keys), 0);
    for (const char *n : {"\xC3\xA9t\xC3\xA9", "abc", "ab", "B", "a", ""})
        insert({NUL, NUL, n, "T", NUL});
    EXPECT_EQ(column(2), (std::vector<std::string>{"", "B", "a", "ab", "abc", "\xC3\xA9t\xC3\xA9"}));
}

TEST_F(irs, IntegerKeysCompareNumerically)
{
    const internal_rs_layout l = irs_layout(num_cols);
    struct {
        int key;                       // 1-based column number
        std::vector<std::vector<const char *>> rows;
        std::vector<std::string> tags;
    } cases[] = {
        {1,
         {{"10", "0", "ten"}, {"9", "0", "nine"}, {NUL, "0", "null"}, {"-3", "0", "minus"},
          {"100", "0", "hundred"}, {"9", "0", "nine again"}},
         {"null", "minus", "nine", "nine again", "ten", "hundred"}},
        {2,
         {{"0", "20", "b"}, {"0", "3", "a"}, {"0", NUL, "n"}, {"0", "-20", "m"}},
         {"n", "m", "a", "b"}},
    };
    for (auto &c : cases) {
        const int keys[] = {c.key, 0};
        ASSERT_EQ(internal_rs_create(stmt, &l, keys), 0);
        for (auto &r : c.rows)
            insert(r);
        EXPECT_EQ(column(2), c.tags) << "key " << c.key;
    }
}

TEST_F(irs, NoKeysKeepInsertionOrderAndKeysPastTheLayoutAreIgnored)
{
    const internal_rs_layout l = irs_layout(num_cols);
    const int none[] = {0};
    ASSERT_EQ(internal_rs_create(stmt, &l, none), 0);
    for (const char *t : {"c", "a", "b"})
        insert({"1", "1", t});
    EXPECT_EQ(column(2), (std::vector<std::string>{"c", "a", "b"}));

    const int bad[] = {7, 3, 0};   // column 7 does not exist
    ASSERT_EQ(internal_rs_create(stmt, &l, bad), 0);
    for (const char *t : {"c", "a", "b"})
        insert({"1", "1", t});
    EXPECT_EQ(column(2), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(irs, EmptyAndExhaustedSetsAnswerNoDataForever)
{
    const internal_rs_layout l = irs_layout(num_cols);
    const int keys[] = {1, 0};
    ASSERT_EQ(internal_rs_create(stmt, &l, keys), 0);
    EXPECT_EQ(stmt->data_waiting, 1);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(internal_rs_fetch(stmt), SQL_NO_DATA);

    insert({"1", "1", "only"});
    EXPECT_EQ(internal_rs_fetch(stmt), SQL_SUCCESS);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(internal_rs_fetch(stmt), SQL_NO_DATA);
    EXPECT_EQ(diag_count(stmt), 0);
}

TEST_F(irs, RowsInsertedAfterFetchingBeganJoinTheUnreadRowsInOrder)
{
    const internal_rs_layout l = irs_layout(num_cols);
    const int keys[] = {1, 0};
    ASSERT_EQ(internal_rs_create(stmt, &l, keys), 0);
    insert({"5", "0", "five"});
    insert({"1", "0", "one"});
    ASSERT_EQ(internal_rs_fetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(cell(stmt->ird->records[2]), "one");
    insert({"3", "0", "three"});
    EXPECT_EQ(column(2), (std::vector<std::string>{"three", "five"}));
}

TEST_F(irs, Refusals)
{
    const char *row[] = {"1", "1", "x"};
    EXPECT_EQ(internal_rs_insert(stmt, row), -1);
    EXPECT_EQ(message(), "HY000 [Quorvane][MySQL Driver][MySQL]General error: "
                         "Attempting to insert to empty internal result set");
    clear_diagnostics(stmt);

    const internal_rs_layout l = irs_layout(num_cols);
    ASSERT_EQ(internal_rs_create(stmt, &l, nullptr), 0);
    insert({"1", "1", "x"});
    EXPECT_EQ(internal_rs_fetch(stmt, SQL_FETCH_ABSOLUTE), SQL_ERROR);
    EXPECT_EQ(message(), "HY000 [Quorvane][MySQL Driver][MySQL]General error: "
                         "Scrolling fetch from internal result set");
    EXPECT_EQ(internal_rs_fetch(stmt), SQL_SUCCESS);   // the refusal moved nothing
}

TEST_F(irs, ColumnDescriptionsInTheImplicitIrd)
{
    const internal_rs_column cols[] = {
        {"NAME", SQL_VARCHAR, 64, SQL_NO_NULLS},
        {"SIZE", SQL_INTEGER, 0, SQL_NULLABLE},
        {"KIND", SQL_SMALLINT, 0, SQL_NO_NULLS},
    };
    const internal_rs_layout l = irs_layout(cols);
    stmt->ird = nullptr;   // whatever it pointed at, the set takes the implicit IRD
    ASSERT_EQ(internal_rs_create(stmt, &l, nullptr), 0);
    ASSERT_EQ(stmt->ird, stmt->implicit_ird);
    EXPECT_EQ(stmt->ird->field_count, 3);
    EXPECT_EQ(stmt->ird->described_count, 3);
    EXPECT_EQ(stmt->ird->described_valid, 1);
    EXPECT_EQ(stmt->data_waiting, 1);
    EXPECT_EQ(stmt->described, 1);

    struct expect {
        const char *name;
        int concise, size, octet, fixed, radix, case_sensitive, searchable, nullable;
        const char *type_name, *quote;
    } want[] = {
        {"NAME", SQL_VARCHAR, 64, 64, 0, 0, 1, SQL_PRED_SEARCHABLE, SQL_NO_NULLS, "VARCHAR", "'"},
        {"SIZE", SQL_INTEGER, 10, 4, 1, 10, 0, SQL_PRED_BASIC, SQL_NULLABLE, "INTEGER", nullptr},
        {"KIND", SQL_SMALLINT, 5, 2, 1, 10, 0, SQL_PRED_BASIC, SQL_NO_NULLS, "SMALLINT", nullptr},
    };
    auto text = [](const my_string *s) {
        char *p = ms_to_latin1(s);
        std::string r = p ? p : "<absent>";
        free(p);
        return r;
    };
    for (int i = 0; i < 3; i++) {
        const field &f = stmt->ird->records[i];
        const expect &w = want[i];
        SCOPED_TRACE(w.name);
        EXPECT_EQ(text(f.name), w.name);
        EXPECT_EQ(f.concise_type, w.concise);
        EXPECT_EQ(f.type, w.concise);
        EXPECT_EQ(f.display_size, w.size);
        EXPECT_EQ(f.length, w.size);
        EXPECT_EQ(f.precision, w.size);
        EXPECT_EQ(f.scale, 0);
        EXPECT_EQ(f.octet_length, w.octet);
        EXPECT_EQ(f.fixed_prec_scale, w.fixed);
        EXPECT_EQ(text(f.literal_prefix), w.quote ? w.quote : "<absent>");
        EXPECT_EQ(text(f.literal_suffix), w.quote ? w.quote : "<absent>");
        EXPECT_EQ(text(f.type_name), w.type_name);
        EXPECT_EQ(text(f.local_type_name), w.type_name);
        EXPECT_EQ(f.num_prec_radix, w.radix);
        EXPECT_EQ(f.case_sensitive, w.case_sensitive);
        EXPECT_EQ(f.searchable, w.searchable);
        EXPECT_EQ(f.nullable, w.nullable);
        EXPECT_EQ(f.is_unsigned, 0);
        EXPECT_EQ(f.auto_unique_value, 0);
        EXPECT_EQ(f.updatable, SQL_ATTR_READWRITE_UNKNOWN);
        EXPECT_EQ(f.unnamed, 0);
    }
}

TEST_F(irs, ValueHoldersAndBufferReuse)
{
    const internal_rs_layout l = irs_layout(num_cols);
    ASSERT_EQ(internal_rs_create(stmt, &l, nullptr), 0);
    insert({"42", "-7", "a rather longer text value"});
    insert({NUL, NUL, "short"});
    insert({"2147483648000", "x", "x"});   // out of range and not a number

    ASSERT_EQ(internal_rs_fetch(stmt), SQL_SUCCESS);
    field *f = stmt->ird->records;
    EXPECT_EQ(f[0].storage.data_type, SQL_INTEGER);
    EXPECT_EQ(f[0].storage.v.i32, 42);
    EXPECT_EQ(f[1].storage.data_type, SQL_INTEGER);
    EXPECT_EQ(f[1].storage.v.i32, -7);
    EXPECT_EQ(f[2].storage.data_type, SQL_CHAR);
    EXPECT_EQ(cell(f[2]), "a rather longer text value");
    const unsigned char *buffer = f[2].storage.buffer;
    f[2].storage.value_offset = 5;   // as a partial SQLGetData leaves it
    f[2].storage.data_done = 1;

    ASSERT_EQ(internal_rs_fetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(f[0].storage.isnull, 1);
    EXPECT_EQ(f[0].storage.data_type, SQL_INTEGER);
    EXPECT_EQ(f[1].storage.isnull, 1);
    EXPECT_EQ(f[2].storage.isnull, 0);
    EXPECT_EQ(cell(f[2]), "short");
    EXPECT_EQ(f[2].storage.buffer, buffer) << "the holder's buffer is reused";
    EXPECT_EQ(f[2].storage.value_offset, 0);
    EXPECT_EQ(f[2].storage.data_done, 0);

    ASSERT_EQ(internal_rs_fetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(f[0].storage.v.i32, INT32_MAX);
    EXPECT_EQ(f[1].storage.v.i32, 0);
}

TEST_F(irs, NullTextHolderAndReplacedSet)
{
    const internal_rs_layout t = irs_layout(tables_cols);
    ASSERT_EQ(internal_rs_create(stmt, &t, tables_keys), 0);
    insert({NUL, NUL, "t", "TABLE", NUL});
    ASSERT_EQ(internal_rs_fetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(stmt->ird->records[0].storage.isnull, 1);
    EXPECT_EQ(stmt->ird->records[0].storage.data_type, SQL_CHAR);
    EXPECT_EQ(stmt->ird->records[0].storage.alloc_length, 0);

    // A second creation replaces the set and the IRD records wholesale.
    const internal_rs_layout n = irs_layout(num_cols);
    ASSERT_EQ(internal_rs_create(stmt, &n, nullptr), 0);
    EXPECT_EQ(internal_rs_row_count(stmt), 0u);
    EXPECT_EQ(stmt->ird->field_count, 3);
    internal_rs_free(stmt);
    EXPECT_EQ(stmt->internal_rs, nullptr);
    internal_rs_free(stmt);   // harmless twice
}

TEST_F(irs, HundredThousandRowsInReverseOrder)
{
    const internal_rs_layout l = irs_layout(tables_cols);
    const int n = 100000;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(internal_rs_create(stmt, &l, tables_keys), 0);
    char name[16];
    for (int i = n - 1; i >= 0; i--) {
        snprintf(name, sizeof name, "t%07d", i);
        const char *row[] = {"db", NUL, name, "TABLE", "a remark"};
        ASSERT_EQ(internal_rs_insert(stmt, row), 0);
    }
    int seen = 0;
    bool ordered = true;
    while (internal_rs_fetch(stmt) == SQL_SUCCESS) {
        snprintf(name, sizeof name, "t%07d", seen++);
        ordered = ordered && cell(stmt->ird->records[2]) == name;
    }
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    printf("[          ] %d rows inserted in reverse order and fetched in %.1f ms\n", n, ms);
    EXPECT_EQ(seen, n);
    EXPECT_TRUE(ordered);
    EXPECT_LT(ms, 5000.0);   // generous: catches only a return to quadratic insertion
}

TEST_F(irs, IrdGrownPastTheLayoutIsNotReadPastTheRow)
{
    const internal_rs_layout l = irs_layout(num_cols);
    ASSERT_EQ(internal_rs_create(stmt, &l, nullptr), 0);
    insert({"1", "2", "x"});
    // SQLBindCol on column 6 grows the IRD; an undescribed IRD counts every record.
    ASSERT_EQ(desc_grow(stmt->ird, 6), 0);
    stmt->ird->described_valid = 0;
    ASSERT_EQ(internal_rs_fetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(cell(stmt->ird->records[2]), "x");
    EXPECT_EQ(stmt->ird->records[5].storage.data_type, 0);
}

// The descriptor entry points: every field of the four implicit descriptors,
// the copy-out of string fields, changing application records field by field
// and record by record, explicit descriptors as ARD of two statements, the
// IPD's SQL types, and the refusals.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "desc/my_desc.h"
#include "frame/my_handle.h"
#include "protocol/my_proto.h"

namespace {

std::string states(SQLSMALLINT type, SQLHANDLE h)
{
    std::string out;
    SQLCHAR st[6];
    for (SQLSMALLINT i = 1;
         SQLGetDiagRec(type, h, i, st, nullptr, nullptr, 0, nullptr) == SQL_SUCCESS; i++)
        out += std::string(out.empty() ? "" : ",") + (const char *)st;
    return out;
}

std::string message(SQLSMALLINT type, SQLHANDLE h)
{
    SQLCHAR st[6], msg[512] = "";
    SQLINTEGER native;
    SQLSMALLINT len;
    SQLGetDiagRec(type, h, 1, st, &native, msg, sizeof msg, &len);
    return (const char *)msg;
}

const std::string PREFIX = "[Quorvane][MySQL Driver][MySQL]";

struct descapi : ::testing::Test {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    SQLHDESC ard = nullptr, apd = nullptr, ird = nullptr, ipd = nullptr;

    void SetUp() override
    {
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &env), SQL_SUCCESS);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
        as_conn(dbc)->collations = new std::vector<collation_entry>();
        add_collation(33, "utf8");
        add_collation(45, "utf8mb4");
        add_collation(63, "binary");
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
        ard = handle_of(stmt, SQL_ATTR_APP_ROW_DESC);
        apd = handle_of(stmt, SQL_ATTR_APP_PARAM_DESC);
        ird = handle_of(stmt, SQL_ATTR_IMP_ROW_DESC);
        ipd = handle_of(stmt, SQL_ATTR_IMP_PARAM_DESC);
    }
    void TearDown() override { SQLFreeHandle(SQL_HANDLE_ENV, env); }

    void add_collation(int id, const char *name)
    {
        collation_entry e{};
        e.id = id;
        strncpy(e.charset_name, name, sizeof e.charset_name - 1);
        as_conn(dbc)->collations->push_back(e);
    }
    static SQLHDESC handle_of(SQLHSTMT s, SQLINTEGER attr)
    {
        SQLHDESC h = nullptr;
        EXPECT_EQ(SQLGetStmtAttr(s, attr, &h, 0, nullptr), SQL_SUCCESS);
        return h;
    }

    // What the column decoder leaves for
    //   SELECT o.id AS order_id, city FROM shop.orders o, t
    // (id INT UNSIGNED NOT NULL AUTO_INCREMENT, city VARCHAR(10) utf8mb4),
    // and the parameter decoder for one marker.
    void describe_by_hand()
    {
        my_statement *s = as_stmt(stmt);
        ASSERT_EQ(desc_set_records(s->implicit_ird, 2), 0);
        ASSERT_EQ(fill_field_from_column(s, s->implicit_ird, 0, ms_from_latin1("def"),
                                         ms_from_latin1("shop"), ms_from_latin1("o"),
                                         ms_from_latin1("orders"), ms_from_latin1("order_id"),
                                         ms_from_latin1("id"), 63, 10, MYSQL_TYPE_LONG,
                                         NOT_NULL_FLAG | UNSIGNED_FLAG | AUTO_INCREMENT_FLAG, 0),
                  0);
        ASSERT_EQ(fill_field_from_column(s, s->implicit_ird, 1, ms_from_latin1("def"),
                                         ms_from_latin1("shop"), ms_from_latin1("t"), nullptr,
                                         ms_from_latin1("city"), nullptr, 45, 40,
                                         MYSQL_TYPE_VAR_STRING, 0, 0),
                  0);
        ASSERT_EQ(desc_set_records(s->implicit_ipd, 1), 0);
        ASSERT_EQ(fill_field_from_column(s, s->implicit_ipd, 0, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, 33, 255,
                                         MYSQL_TYPE_VARCHAR, 0, 0),
                  0);
    }

    // Reads a numeric field into a buffer of 0xAA bytes; checks that exactly
    // `width` bytes were written and reported.
    int64_t number(SQLHDESC d, int rec, int id, int width)
    {
        unsigned char buf[16];
        memset(buf, 0xAA, sizeof buf);
        SQLINTEGER len = -1;
        EXPECT_EQ(SQLGetDescField(d, (SQLSMALLINT)rec, (SQLSMALLINT)id, buf, sizeof buf, &len),
                  SQL_SUCCESS)
            << "field " << id << " " << states(SQL_HANDLE_DESC, d);
        EXPECT_EQ(len, width) << "field " << id;
        for (int i = width; i < (int)sizeof buf; i++)
            EXPECT_EQ(buf[i], 0xAA) << "field " << id << " wrote byte " << i;
        if (width == 2) {
            SQLSMALLINT v;
            memcpy(&v, buf, 2);
            return v;
        }
        if (width == 4) {
            SQLINTEGER v;
            memcpy(&v, buf, 4);
            return v;
        }
        SQLLEN v;
        memcpy(&v, buf, 8);
        return v;
    }

    std::string text(SQLHDESC d, int rec, int id)
    {
        char buf[64];
        memset(buf, 'x', sizeof buf);
        SQLINTEGER len = -1;
        EXPECT_EQ(SQLGetDescField(d, (SQLSMALLINT)rec, (SQLSMALLINT)id, buf, sizeof buf, &len),
                  SQL_SUCCESS)
            << "field " << id;
        EXPECT_EQ(len, (SQLINTEGER)strlen(buf)) << "field " << id;
        return buf;
    }

    SQLRETURN set(SQLHDESC d, int rec, int id, SQLLEN value)
    {
        return SQLSetDescField(d, (SQLSMALLINT)rec, (SQLSMALLINT)id, (SQLPOINTER)value, 0);
    }
};

struct number_case {
    const char *what;
    int rec;
    int id;
    int width;   // the field's ODBC width
    int64_t want;
};

} // namespace

// ------------------------------------------------------------ reading

TEST_F(descapi, HeaderFieldsOfTheFourImplicitDescriptors)
{
    describe_by_hand();
    struct {
        SQLHDESC *d;
        int id, width;
        int64_t want;
    } cases[] = {
        {&ard, SQL_DESC_COUNT, 2, 0},
        {&ard, SQL_DESC_ARRAY_SIZE, 8, 1},
        {&ard, SQL_DESC_ALLOC_TYPE, 2, SQL_DESC_ALLOC_AUTO},
        {&ard, SQL_DESC_BIND_TYPE, 4, SQL_BIND_BY_COLUMN},
        {&ard, SQL_DESC_BIND_OFFSET_PTR, 8, 0},
        {&ard, SQL_DESC_ARRAY_STATUS_PTR, 8, 0},
        {&ard, SQL_DESC_ROWS_PROCESSED_PTR, 8, 0},
        {&apd, SQL_DESC_COUNT, 2, 0},
        {&apd, SQL_DESC_ARRAY_SIZE, 8, 1},
        {&apd, SQL_DESC_ALLOC_TYPE, 2, SQL_DESC_ALLOC_AUTO},
        {&ird, SQL_DESC_COUNT, 2, 2},
        {&ird, SQL_DESC_ALLOC_TYPE, 2, SQL_DESC_ALLOC_AUTO},
        {&ipd, SQL_DESC_COUNT, 2, 1},
        {&ipd, SQL_DESC_ALLOC_TYPE, 2, SQL_DESC_ALLOC_AUTO},
    };
    for (auto &c : cases)
        EXPECT_EQ(number(*c.d, 0, c.id, c.width), c.want) << c.id;

    // Pointers set through the statement come back whole.
    SQLUSMALLINT status[4];
    SQLULEN fetched = 0;
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)5000000000LL, 0);
    EXPECT_EQ(number(ird, 0, SQL_DESC_ARRAY_STATUS_PTR, 8), (int64_t)(intptr_t)status);
    EXPECT_EQ(number(ird, 0, SQL_DESC_ROWS_PROCESSED_PTR, 8), (int64_t)(intptr_t)&fetched);
    EXPECT_EQ(number(ard, 0, SQL_DESC_ARRAY_SIZE, 8), 5000000000LL);
}

TEST_F(descapi, EveryRecordFieldOfTheRowDescriptor)
{
    describe_by_hand();
    const number_case cases[] = {
        {"id", 1, SQL_DESC_CONCISE_TYPE, 2, SQL_INTEGER},
        {"id", 1, SQL_DESC_TYPE, 2, SQL_INTEGER},
        {"id", 1, SQL_DESC_DISPLAY_SIZE, 8, 11},
        {"id", 1, SQL_DESC_UNSIGNED, 2, SQL_TRUE},
        {"id", 1, SQL_DESC_FIXED_PREC_SCALE, 2, 0},
        {"id", 1, SQL_DESC_UPDATABLE, 2, SQL_ATTR_READWRITE_UNKNOWN},
        {"id", 1, SQL_DESC_AUTO_UNIQUE_VALUE, 4, SQL_TRUE},
        {"id", 1, SQL_DESC_CASE_SENSITIVE, 4, 0},
        {"id", 1, SQL_DESC_SEARCHABLE, 2, SQL_PRED_BASIC},
        {"id", 1, SQL_DESC_DATETIME_INTERVAL_PRECISION, 4, 0},
        {"id", 1, SQL_DESC_NUM_PREC_RADIX, 4, 0},
        {"id", 1, SQL_DESC_PARAMETER_TYPE, 2, SQL_PARAM_INPUT},
        {"id", 1, SQL_DESC_ROWVER, 2, 0},
        {"id", 1, SQL_DESC_LENGTH, 8, 10},
        {"id", 1, SQL_DESC_OCTET_LENGTH_PTR, 8, 0},
        {"id", 1, SQL_DESC_PRECISION, 2, 10},
        {"id", 1, SQL_DESC_SCALE, 2, 0},
        {"id", 1, SQL_DESC_DATETIME_INTERVAL_CODE, 2, 0},
        {"id", 1, SQL_DESC_NULLABLE, 2, SQL_NO_NULLS},
        {"id", 1, SQL_DESC_INDICATOR_PTR, 8, 0},
        {"id", 1, SQL_DESC_DATA_PTR, 8, 0},
        {"id", 1, SQL_DESC_UNNAMED, 2, SQL_NAMED},
        {"id", 1, SQL_DESC_OCTET_LENGTH, 8, 4},
        {"city", 2, SQL_DESC_CONCISE_TYPE, 2, SQL_VARCHAR},
        {"city", 2, SQL_DESC_DISPLAY_SIZE, 8, 10},   // 40 bytes of 4-byte characters
        {"city", 2, SQL_DESC_PRECISION, 2, 10},
        {"city", 2, SQL_DESC_LENGTH, 8, 40},
        {"city", 2, SQL_DESC_OCTET_LENGTH, 8, 40},
        {"city", 2, SQL_DESC_NULLABLE, 2, SQL_NULLABLE},
        {"city", 2, SQL_DESC_UNSIGNED, 2, SQL_FALSE},
        {"city", 2, SQL_DESC_SEARCHABLE, 2, SQL_SEARCHABLE},
        {"bookmark", 0, SQL_DESC_CONCISE_TYPE, 2, SQL_VARBINARY},
        {"bookmark", 0, SQL_DESC_OCTET_LENGTH, 8, 4},
        {"bookmark", 0, SQL_DESC_LENGTH, 8, 8},
    };
    for (auto &c : cases)
        EXPECT_EQ(number(ird, c.rec, c.id, c.width), c.want) << c.what << " field " << c.id;

    struct {
        int rec, id;
        const char *want;
    } texts[] = {
        {1, SQL_DESC_TYPE_NAME, "int"},
        {1, SQL_DESC_LOCAL_TYPE_NAME, "int"},
        {1, SQL_DESC_TABLE_NAME, "o"},
        {1, SQL_DESC_BASE_TABLE_NAME, "orders"},
        {1, SQL_DESC_SCHEMA_NAME, "shop"},
        {1, SQL_DESC_CATALOG_NAME, "def"},
        {1, SQL_DESC_LABEL, "order_id"},
        {1, SQL_DESC_NAME, "order_id"},
        {1, SQL_DESC_BASE_COLUMN_NAME, "id"},
        {1, SQL_DESC_LITERAL_PREFIX, ""},   // absent: an empty answer
        {1, SQL_DESC_LITERAL_SUFFIX, ""},
        {2, SQL_DESC_BASE_COLUMN_NAME, "city"},   // no own name: the label
        {2, SQL_DESC_BASE_TABLE_NAME, "t"},       // no own name: the table as used
        {2, SQL_DESC_LITERAL_PREFIX, "'"},
        {2, SQL_DESC_LITERAL_SUFFIX, "'"},
        {2, SQL_DESC_TYPE_NAME, "varchar"},
    };
    for (auto &t : texts)
        EXPECT_EQ(text(ird, t.rec, t.id), t.want) << "record " << t.rec << " field " << t.id;
}

TEST_F(descapi, RecordFieldsOfTheParameterDescriptors)
{
    describe_by_hand();
    const number_case ipd_cases[] = {
        {"marker", 1, SQL_DESC_CONCISE_TYPE, 2, SQL_VARCHAR},
        {"marker", 1, SQL_DESC_LENGTH, 8, 255},
        {"marker", 1, SQL_DESC_DISPLAY_SIZE, 8, 85},   // 255 bytes of 3-byte characters
        {"marker", 1, SQL_DESC_PARAMETER_TYPE, 2, SQL_PARAM_INPUT},
        {"marker", 1, SQL_DESC_UNNAMED, 2, SQL_UNNAMED},
    };
    for (auto &c : ipd_cases)
        EXPECT_EQ(number(ipd, c.rec, c.id, c.width), c.want) << c.what << " field " << c.id;
    EXPECT_EQ(text(ipd, 1, SQL_DESC_NAME), "");

    // An APD record made by SQL_DESC_COUNT answers the fresh-record values.
    ASSERT_EQ(set(apd, 0, SQL_DESC_COUNT, 3), SQL_SUCCESS);
    EXPECT_EQ(number(apd, 0, SQL_DESC_COUNT, 2), 3);
    for (int rec = 1; rec <= 3; rec++) {
        EXPECT_EQ(number(apd, rec, SQL_DESC_PARAMETER_TYPE, 2), SQL_PARAM_INPUT);
        EXPECT_EQ(number(apd, rec, SQL_DESC_DATA_PTR, 8), 0);
    }
    ASSERT_EQ(set(apd, 0, SQL_DESC_COUNT, 0), SQL_SUCCESS);
    EXPECT_EQ(number(apd, 0, SQL_DESC_COUNT, 2), 0);
    EXPECT_EQ(as_desc(apd)->records, nullptr);
}

TEST_F(descapi, StringFieldsFollowTheCopyOutRule)
{
    describe_by_hand();
    field &f = as_stmt(stmt)->implicit_ird->records[0];
    ms_free(f.name);
    f.name = ms_from_latin1("amount_total");   // 12 characters

    // Narrow: a 10-byte buffer takes 9 characters and a terminator.
    char buf[32];
    SQLINTEGER len = 0;
    EXPECT_EQ(SQLGetDescField(ird, 1, SQL_DESC_NAME, buf, 10, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(buf, "amount_to");
    EXPECT_EQ(len, 12);
    EXPECT_EQ(states(SQL_HANDLE_DESC, ird), "01004");
    EXPECT_EQ(SQLGetDescField(ird, 1, SQL_DESC_NAME, buf, 13, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "amount_total");
    EXPECT_EQ(states(SQL_HANDLE_DESC, ird), "");
    // A null buffer only reports the length.
    EXPECT_EQ(SQLGetDescField(ird, 1, SQL_DESC_NAME, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 12);

    // Wide: lengths in bytes, at most buffer_length/2 - 1 units.
    SQLWCHAR w[32];
    EXPECT_EQ(SQLGetDescFieldW(ird, 1, SQL_DESC_NAME, w, 20, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 24);
    EXPECT_EQ(w[8], 'o');
    EXPECT_EQ(w[9], 0);
    EXPECT_EQ(SQLGetDescFieldW(ird, 1, SQL_DESC_NAME, w, 26, &len), SQL_SUCCESS);
    EXPECT_EQ(w[11], 'l');
    EXPECT_EQ(w[12], 0);
    // The wide form answers SQL_DESC_ROWVER like the narrow one.
    SQLSMALLINT rowver = -1;
    EXPECT_EQ(SQLGetDescFieldW(ird, 1, SQL_DESC_ROWVER, &rowver, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(rowver, 0);

    // An absent string with no room is empty, not truncated.
    EXPECT_EQ(SQLGetDescField(ird, 1, SQL_DESC_LITERAL_PREFIX, buf, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 0);

    // SQLGetDescRec: the name and the main type fields; the wide form counts
    // characters.
    SQLSMALLINT name_len = 0, type = 0, sub = -1, prec = 0, scale = -1, nullable = -1;
    SQLLEN length = 0;
    EXPECT_EQ(SQLGetDescRec(ird, 1, (SQLCHAR *)buf, 10, &name_len, &type, &sub, &length, &prec,
                            &scale, &nullable),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(buf, "amount_to");
    EXPECT_EQ(name_len, 12);
    EXPECT_EQ(type, SQL_INTEGER);
    EXPECT_EQ(sub, 0);
    EXPECT_EQ(length, 4);   // the octet length
    EXPECT_EQ(prec, 10);
    EXPECT_EQ(scale, 0);
    EXPECT_EQ(nullable, SQL_NO_NULLS);
    EXPECT_EQ(SQLGetDescRecW(ird, 1, w, 10, &name_len, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(name_len, 12);
    EXPECT_EQ(w[8], 'o');
    EXPECT_EQ(w[9], 0);
    EXPECT_EQ(SQLGetDescRecW(ird, 2, w, 10, &name_len, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(name_len, 4);
    EXPECT_EQ(std::u16string((const char16_t *)w), u"city");
}

// ------------------------------------------------------------ changing

TEST_F(descapi, ArdFieldsDeriveTheirDependents)
{
    ASSERT_EQ(set(ard, 1, SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIMESTAMP), SQL_SUCCESS);
    EXPECT_EQ(number(ard, 0, SQL_DESC_COUNT, 2), 1);   // setting record 1 made it
    EXPECT_EQ(number(ard, 1, SQL_DESC_TYPE, 2), SQL_DATETIME);
    EXPECT_EQ(number(ard, 1, SQL_DESC_DATETIME_INTERVAL_CODE, 2), SQL_CODE_TIMESTAMP);
    EXPECT_EQ(number(ard, 1, SQL_DESC_OCTET_LENGTH, 8), 16);
    EXPECT_EQ(number(ard, 1, SQL_DESC_PRECISION, 2), 3);
    EXPECT_EQ(text(ard, 1, SQL_DESC_TYPE_NAME), "timestamp");

    // The interval code and the verbose type lead the concise type too.
    ASSERT_EQ(set(ard, 1, SQL_DESC_DATETIME_INTERVAL_CODE, SQL_CODE_DATE), SQL_SUCCESS);
    EXPECT_EQ(number(ard, 1, SQL_DESC_CONCISE_TYPE, 2), SQL_C_TYPE_DATE);
    EXPECT_EQ(number(ard, 1, SQL_DESC_OCTET_LENGTH, 8), 6);
    ASSERT_EQ(set(ard, 1, SQL_DESC_TYPE, SQL_C_SBIGINT), SQL_SUCCESS);
    EXPECT_EQ(number(ard, 1, SQL_DESC_CONCISE_TYPE, 2), SQL_C_SBIGINT);
    EXPECT_EQ(number(ard, 1, SQL_DESC_DATETIME_INTERVAL_CODE, 2), 0);
    EXPECT_EQ(number(ard, 1, SQL_DESC_OCTET_LENGTH, 8), 8);

    // Plain fields: 64-bit lengths whole, the rest with their own width.
    ASSERT_EQ(set(ard, 1, SQL_DESC_OCTET_LENGTH, 6000000000LL), SQL_SUCCESS);
    EXPECT_EQ(number(ard, 1, SQL_DESC_OCTET_LENGTH, 8), 6000000000LL);
    ASSERT_EQ(set(ard, 1, SQL_DESC_SCALE, -2), SQL_SUCCESS);
    EXPECT_EQ(number(ard, 1, SQL_DESC_SCALE, 2), -2);
    // Read-only answers of the server are accepted and ignored.
    ASSERT_EQ(set(ard, 1, SQL_DESC_DISPLAY_SIZE, 99), SQL_SUCCESS);
    EXPECT_EQ(number(ard, 1, SQL_DESC_DISPLAY_SIZE, 8), 20);

    // Changing a field other than the buffers unbinds the record.
    SQLLEN ind = 0, olen = 0;
    char data[8];
    ASSERT_EQ(set(ard, 1, SQL_DESC_DATA_PTR, (SQLLEN)data), SQL_SUCCESS);
    ASSERT_EQ(set(ard, 1, SQL_DESC_INDICATOR_PTR, (SQLLEN)&ind), SQL_SUCCESS);
    ASSERT_EQ(set(ard, 1, SQL_DESC_OCTET_LENGTH_PTR, (SQLLEN)&olen), SQL_SUCCESS);
    const field &f = as_desc(ard)->records[0];
    EXPECT_EQ(f.data_ptr, (void *)data);
    EXPECT_EQ(f.indicator_ptr, (void *)&ind);
    ASSERT_EQ(set(ard, 1, SQL_DESC_SCALE, 0), SQL_SUCCESS);
    EXPECT_EQ(f.data_ptr, nullptr);
    EXPECT_EQ(f.indicator_ptr, nullptr);
    EXPECT_EQ(f.octet_length_ptr, nullptr);

    // Header fields of an application descriptor.
    SQLLEN offset = 0;
    ASSERT_EQ(set(ard, 0, SQL_DESC_BIND_OFFSET_PTR, (SQLLEN)&offset), SQL_SUCCESS);
    ASSERT_EQ(set(ard, 0, SQL_DESC_BIND_TYPE, 48), SQL_SUCCESS);
    ASSERT_EQ(set(ard, 0, SQL_DESC_ARRAY_SIZE, 0), SQL_SUCCESS);
    EXPECT_EQ(number(ard, 0, SQL_DESC_ARRAY_SIZE, 8), 1);   // as SQL_ATTR_ROW_ARRAY_SIZE
    SQLULEN bind_type = 0;
    SQLGetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, &bind_type, 0, nullptr);
    EXPECT_EQ(bind_type, 48u);
    EXPECT_EQ(as_stmt(stmt)->ard->bind_offset_ptr, (void *)&offset);
}

TEST_F(descapi, SetDescRecBindsAWholeRecord)
{
    SQL_NUMERIC_STRUCT num;
    SQLLEN olen = 0, ind = 0;
    ASSERT_EQ(SQLSetDescRec(ard, 2, SQL_C_NUMERIC, 0, sizeof num, 12, 3, &num, &olen, &ind),
              SQL_SUCCESS)
        << states(SQL_HANDLE_DESC, ard);
    EXPECT_EQ(number(ard, 0, SQL_DESC_COUNT, 2), 2);
    const field &f = as_desc(ard)->records[1];
    EXPECT_EQ(f.concise_type, SQL_C_NUMERIC);
    EXPECT_EQ(f.type, SQL_C_NUMERIC);
    EXPECT_EQ(f.precision, 12);   // the caller's values over the type's defaults
    EXPECT_EQ(f.scale, 3);
    EXPECT_EQ(f.octet_length, (int64_t)sizeof num);
    EXPECT_EQ(f.data_ptr, (void *)&num);
    EXPECT_EQ(f.octet_length_ptr, (void *)&olen);
    EXPECT_EQ(f.indicator_ptr, (void *)&ind);
    EXPECT_EQ(f.num_prec_radix, 10);

    // A datetime type with its sub-type.
    SQL_TIMESTAMP_STRUCT ts;
    ASSERT_EQ(SQLSetDescRec(ard, 1, SQL_DATETIME, SQL_CODE_TIMESTAMP, sizeof ts, 0, 0, &ts,
                            nullptr, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(as_desc(ard)->records[0].concise_type, SQL_C_TYPE_TIMESTAMP);

    // The consistency check runs last: precision 0 of a NUMERIC.
    EXPECT_EQ(SQLSetDescRec(ard, 2, SQL_C_NUMERIC, 0, sizeof num, 0, 0, &num, nullptr, nullptr),
              SQL_ERROR);
    EXPECT_EQ(states(SQL_HANDLE_DESC, ard), "HY021");
    EXPECT_EQ(message(SQL_HANDLE_DESC, ard),
              PREFIX + "Inconsistent descriptor information: Invalid precision value");
}

TEST_F(descapi, TheParameterDescriptorTakesSqlTypes)
{
    describe_by_hand();
    // SQL types, not C types: VARCHAR and DECIMAL are what an IPD holds.
    ASSERT_EQ(set(ipd, 1, SQL_DESC_CONCISE_TYPE, SQL_DECIMAL), SQL_SUCCESS)
        << states(SQL_HANDLE_DESC, ipd);
    EXPECT_EQ(number(ipd, 1, SQL_DESC_TYPE, 2), SQL_DECIMAL);
    ASSERT_EQ(set(ipd, 1, SQL_DESC_CONCISE_TYPE, SQL_TYPE_DATE), SQL_SUCCESS);
    EXPECT_EQ(number(ipd, 1, SQL_DESC_TYPE, 2), SQL_DATETIME);
    EXPECT_EQ(number(ipd, 1, SQL_DESC_DATETIME_INTERVAL_CODE, 2), SQL_CODE_DATE);
    EXPECT_EQ(set(ipd, 1, SQL_DESC_CONCISE_TYPE, SQL_C_DEFAULT), SQL_ERROR);
    EXPECT_EQ(states(SQL_HANDLE_DESC, ipd), "HY004");

    ASSERT_EQ(SQLSetDescRec(ipd, 1, SQL_DECIMAL, 0, 0, 12, 2, nullptr, nullptr, nullptr),
              SQL_SUCCESS)
        << states(SQL_HANDLE_DESC, ipd);
    const field &f = as_desc(ipd)->records[0];
    EXPECT_EQ(f.concise_type, SQL_DECIMAL);
    EXPECT_EQ(f.precision, 12);
    EXPECT_EQ(f.scale, 2);

    // Parameter direction and name.
    ASSERT_EQ(set(ipd, 1, SQL_DESC_PARAMETER_TYPE, SQL_PARAM_OUTPUT), SQL_SUCCESS);
    EXPECT_EQ(number(ipd, 1, SQL_DESC_PARAMETER_TYPE, 2), SQL_PARAM_OUTPUT);
    ASSERT_EQ(SQLSetDescField(ipd, 1, SQL_DESC_NAME, (SQLPOINTER) "@total_sum", 6), SQL_SUCCESS);
    EXPECT_EQ(text(ipd, 1, SQL_DESC_NAME), "@total");
    EXPECT_EQ(number(ipd, 1, SQL_DESC_UNNAMED, 2), SQL_NAMED);
    const SQLWCHAR wname[] = {'@', 'p', 0};
    ASSERT_EQ(SQLSetDescFieldW(ipd, 1, SQL_DESC_NAME, (SQLPOINTER)wname, SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(text(ipd, 1, SQL_DESC_NAME), "@p");
    ASSERT_EQ(SQLSetDescFieldW(ipd, 1, SQL_DESC_NAME, (SQLPOINTER)wname, 2), SQL_SUCCESS);
    EXPECT_EQ(text(ipd, 1, SQL_DESC_NAME), "@");   // 2 bytes: one unit
    ASSERT_EQ(set(ipd, 1, SQL_DESC_UNNAMED, SQL_UNNAMED), SQL_SUCCESS);
    EXPECT_EQ(number(ipd, 1, SQL_DESC_UNNAMED, 2), SQL_UNNAMED);

    // No buffers on the IPD: accepted, not stored.
    char data[4];
    EXPECT_EQ(set(ipd, 1, SQL_DESC_DATA_PTR, (SQLLEN)data), SQL_SUCCESS);
    EXPECT_EQ(f.data_ptr, nullptr);
}

// ------------------------------------------------------------ explicit descriptors

TEST_F(descapi, ExplicitArdServesTwoStatementsInTurn)
{
    SQLHDESC desc = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    EXPECT_EQ(number(desc, 0, SQL_DESC_ALLOC_TYPE, 2), SQL_DESC_ALLOC_USER);
    EXPECT_EQ(number(desc, 0, SQL_DESC_COUNT, 2), 0);

    // Set up before any statement uses it, as applications do.
    SQLINTEGER value = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(set(desc, 0, SQL_DESC_ARRAY_SIZE, 1), SQL_SUCCESS) << states(SQL_HANDLE_DESC, desc);
    ASSERT_EQ(set(desc, 1, SQL_DESC_CONCISE_TYPE, SQL_C_SLONG), SQL_SUCCESS);
    ASSERT_EQ(set(desc, 1, SQL_DESC_DATA_PTR, (SQLLEN)&value), SQL_SUCCESS);
    ASSERT_EQ(set(desc, 1, SQL_DESC_INDICATOR_PTR, (SQLLEN)&ind), SQL_SUCCESS);

    SQLHSTMT other = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &other), SQL_SUCCESS);
    my_statement *s1 = as_stmt(stmt), *s2 = as_stmt(other);

    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, desc, 0), SQL_SUCCESS);
    EXPECT_EQ(handle_of(stmt, SQL_ATTR_APP_ROW_DESC), desc);
    EXPECT_EQ(s1->ard->records[0].data_ptr, (void *)&value);   // what the fetch reads
    // Statement attributes now reach the explicit descriptor, and back.
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)3, 0);
    EXPECT_EQ(number(desc, 0, SQL_DESC_ARRAY_SIZE, 8), 3);
    ASSERT_EQ(set(desc, 0, SQL_DESC_ARRAY_SIZE, 1), SQL_SUCCESS);

    // The second statement takes it over; the first still binds through it.
    ASSERT_EQ(SQLSetStmtAttr(other, SQL_ATTR_APP_ROW_DESC, desc, 0), SQL_SUCCESS);
    EXPECT_EQ(s2->ard, as_desc(desc));
    EXPECT_EQ(s2->ard->records[0].indicator_ptr, (void *)&ind);
    ASSERT_EQ(set(desc, 1, SQL_DESC_OCTET_LENGTH, 4), SQL_SUCCESS);
    EXPECT_EQ(s1->ard->records[0].octet_length, 4);

    // The first statement going back to its own ARD leaves the second's alone.
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(s1->ard, s1->implicit_ard);
    EXPECT_EQ(as_desc(desc)->owner_statement, s2);
    ASSERT_EQ(set(desc, 0, SQL_DESC_BIND_TYPE, 16), SQL_SUCCESS);

    // Freeing the descriptor returns every statement that uses it to its own.
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, desc, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(other, SQL_ATTR_APP_ROW_DESC, desc, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_DESC, desc), SQL_SUCCESS);
    EXPECT_EQ(s1->ard, s1->implicit_ard);
    EXPECT_EQ(s2->ard, s2->implicit_ard);
    EXPECT_EQ(handle_of(stmt, SQL_ATTR_APP_ROW_DESC), (SQLHDESC)s1->implicit_ard);
}

TEST_F(descapi, FreeingAStatementLeavesASharedDescriptorWithTheOther)
{
    SQLHDESC desc = nullptr;
    SQLHSTMT other = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &other), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(other, SQL_ATTR_APP_PARAM_DESC, desc, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_APP_PARAM_DESC, desc, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_SUCCESS);
    stmt = nullptr;
    // Still the APD of `other`: its header fields stay settable.
    EXPECT_EQ(as_desc(desc)->owner_statement, as_stmt(other));
    EXPECT_EQ(set(desc, 0, SQL_DESC_BIND_TYPE, 8), SQL_SUCCESS);
    EXPECT_EQ(set(desc, 0, SQL_DESC_COUNT, 2), SQL_SUCCESS);
    EXPECT_EQ(SQLGetDescField(desc, 0, SQL_DESC_NAME, nullptr, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(states(SQL_HANDLE_DESC, desc), "07009");   // parameters have no bookmark
}

// ------------------------------------------------------------ refusals

TEST_F(descapi, Refusals)
{
    describe_by_hand();
    SQLHDESC desc = nullptr;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DESC, dbc, &desc), SQL_SUCCESS);
    ASSERT_EQ(set(ard, 1, SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC), SQL_SUCCESS);
    ASSERT_EQ(set(ard, 1, SQL_DESC_PRECISION, 0), SQL_SUCCESS);

    enum { GET, SET };
    struct {
        const char *what;
        SQLHDESC *d;
        int op, rec, id;
        SQLLEN value;
        const char *state;
        const char *text;   // after the prefix; null: not compared
    } cases[] = {
        {"IRD record field", &ird, SET, 1, SQL_DESC_CONCISE_TYPE, SQL_C_CHAR, "HY016",
         "Cannot modify an implementation row descriptor"},
        {"IRD count", &ird, SET, 0, SQL_DESC_COUNT, 1, "HY016", nullptr},
        {"IRD array size", &ird, SET, 0, SQL_DESC_ARRAY_SIZE, 2, "HY016", nullptr},
        {"IPD bind offset", &ipd, SET, 0, SQL_DESC_BIND_OFFSET_PTR, 8, "HY016", nullptr},
        {"IRD unknown field", &ird, SET, 1, 3, 0, "HY016", nullptr},
        {"alloc type set", &ard, SET, 0, SQL_DESC_ALLOC_TYPE, SQL_DESC_ALLOC_USER, "HY091",
         "Invalid descriptor field identifier"},
        {"unknown field get", &ird, GET, 1, 3, 0, "HY091", nullptr},
        {"unknown field get 30", &ard, GET, 1, 30, 0, "HY091", nullptr},
        {"unknown field set", &ard, SET, 1, 31, 0, "HY091", nullptr},
        {"IPD unsigned", &ipd, SET, 1, SQL_DESC_UNSIGNED, 1, "HY091", nullptr},
        {"IPD nullable", &ipd, SET, 1, SQL_DESC_NULLABLE, 1, "HY091", nullptr},
        {"interval code 4", &ard, SET, 2, SQL_DESC_DATETIME_INTERVAL_CODE, 4, "HY021",
         "Inconsistent descriptor information"},
        {"datetime type without code", &ard, SET, 2, SQL_DESC_TYPE, SQL_DATETIME, "HY021",
         nullptr},
        {"data pointer, NUMERIC precision 0", &ard, SET, 1, SQL_DESC_DATA_PTR, 8, "HY021",
         "Inconsistent descriptor information: Invalid precision value"},
        {"SQL type in ARD", &ard, SET, 2, SQL_DESC_CONCISE_TYPE, SQL_VARCHAR, "HY003",
         "Program type out of range"},
        {"negative record get", &ird, GET, -1, SQL_DESC_NAME, 0, "07009",
         "Invalid descriptor index"},
        {"record above the count", &ird, GET, 3, SQL_DESC_TYPE, 0, "07009", nullptr},
        {"bookmark of the APD", &apd, GET, 0, SQL_DESC_TYPE, 0, "07009", nullptr},
        {"bookmark of the IPD", &ipd, GET, 0, SQL_DESC_TYPE, 0, "07009", nullptr},
        {"bookmark of the IPD set", &ipd, SET, 0, SQL_DESC_SCALE, 1, "07009", nullptr},
        {"negative record set", &ard, SET, -2, SQL_DESC_SCALE, 1, "07009", nullptr},
        {"negative count", &apd, SET, 0, SQL_DESC_COUNT, -1, "07009", nullptr},
        {"parameter type 3", &ipd, SET, 1, SQL_DESC_PARAMETER_TYPE, 3, "HY105",
         "Invalid parameter type"},
        {"named by SQL_DESC_UNNAMED", &ipd, SET, 1, SQL_DESC_UNNAMED, SQL_NAMED, "HY092",
         nullptr},
        {"string into a negative buffer", &ird, GET, 1, SQL_DESC_NAME, -5, "HY090", nullptr},
        {"name with a negative length", &ipd, SET, 1, SQL_DESC_NAME, -5, "HY090", nullptr},
    };
    for (auto &c : cases) {
        SQLRETURN rc;
        char buf[16];
        if (c.op == GET)
            rc = SQLGetDescField(*c.d, (SQLSMALLINT)c.rec, (SQLSMALLINT)c.id, buf,
                                 c.value < 0 ? (SQLINTEGER)c.value : sizeof buf, nullptr);
        else if (c.id == SQL_DESC_NAME)
            rc = SQLSetDescField(*c.d, (SQLSMALLINT)c.rec, (SQLSMALLINT)c.id, (SQLPOINTER) "x",
                                 (SQLINTEGER)c.value);
        else
            rc = set(*c.d, c.rec, c.id, c.value);
        EXPECT_EQ(rc, SQL_ERROR) << c.what;
        EXPECT_EQ(states(SQL_HANDLE_DESC, *c.d), c.state) << c.what;
        if (c.text) {
            EXPECT_EQ(message(SQL_HANDLE_DESC, *c.d), PREFIX + c.text) << c.what;
        }
    }

    // SQLSetDescRec and SQLGetDescRec refuse the same way.
    EXPECT_EQ(SQLSetDescRec(ird, 1, SQL_C_CHAR, 0, 10, 0, 0, nullptr, nullptr, nullptr),
              SQL_ERROR);
    EXPECT_EQ(states(SQL_HANDLE_DESC, ird), "HY016");
    EXPECT_EQ(SQLSetDescRec(ipd, 0, SQL_CHAR, 0, 10, 0, 0, nullptr, nullptr, nullptr),
              SQL_ERROR);
    EXPECT_EQ(states(SQL_HANDLE_DESC, ipd), "07009");
    EXPECT_EQ(SQLSetDescRec(ard, 1, SQL_DATETIME, 7, 0, 0, 0, nullptr, nullptr, nullptr),
              SQL_ERROR);
    EXPECT_EQ(states(SQL_HANDLE_DESC, ard), "HY021");
    EXPECT_EQ(SQLGetDescRec(ird, 5, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr),
              SQL_ERROR);
    EXPECT_EQ(states(SQL_HANDLE_DESC, ird), "07009");

    // A handle that is not a descriptor.
    EXPECT_EQ(SQLGetDescField(stmt, 0, SQL_DESC_COUNT, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLSetDescField(nullptr, 0, SQL_DESC_COUNT, nullptr, 0), SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLGetDescRec(dbc, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr),
              SQL_INVALID_HANDLE);
    EXPECT_EQ(SQLSetDescRec(env, 1, 1, 0, 0, 0, 0, nullptr, nullptr, nullptr),
              SQL_INVALID_HANDLE);

    // A refused change of a bound record still unbinds it; a refused read
    // changes nothing.
    SQLINTEGER v;
    ASSERT_EQ(set(ard, 3, SQL_DESC_CONCISE_TYPE, SQL_C_SLONG), SQL_SUCCESS);
    ASSERT_EQ(set(ard, 3, SQL_DESC_DATA_PTR, (SQLLEN)&v), SQL_SUCCESS);
    EXPECT_EQ(set(ard, 3, SQL_DESC_CONCISE_TYPE, SQL_VARCHAR), SQL_ERROR);
    EXPECT_EQ(as_desc(ard)->records[2].data_ptr, nullptr);
}


// Writes the seed corpora of the fuzz targets: exchanges built with the
// scripted fake server's building blocks (greetings, OK, ERR and EOF
// packets, column definitions, rows), each laid out as its target reads
// its input. The committed corpora under tests/fuzz/corpus/ come from it:
//
//   fuzz_seeds tests/fuzz/corpus
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include <zlib.h>

#include "fake/fake_server.h"

using fake::bytes;
using fake::operator+;

namespace {

std::string root;

void write_seed(const std::string &target, const std::string &name, const bytes &b)
{
    std::string dir = root + "/" + target;
    mkdir(root.c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/" + name;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(b.data(), 1, b.size(), f) != b.size()) {
        perror(path.c_str());
        exit(1);
    }
    fclose(f);
}

bytes byte(uint8_t v) { return bytes{v}; }

// Packets numbered from first.
bytes stream(const std::vector<bytes> &payloads, uint8_t first)
{
    bytes out;
    for (const bytes &p : payloads)
        out = out + fake::packet_bytes(first++, p);
    return out;
}

using fake::utf16;

bytes frame(const bytes &data, uint8_t seq) { return fake::compressed_frame(data, seq); }

fake::column_info col(const std::string &name, uint8_t type, uint16_t charset = 33,
                      uint16_t flags = 0, uint8_t decimals = 0, uint32_t length = 255)
{
    return fake::column(name, type, charset, flags, decimals, length);
}

// A text result: column count, definitions, EOF, rows, end (EOF or, with
// deprecate_eof, its OK form).
std::vector<bytes> text_result(const std::vector<fake::column_info> &cols,
                               const std::vector<bytes> &rows, uint16_t end_status,
                               bool deprecate_eof = false)
{
    std::vector<bytes> r{byte((uint8_t)cols.size())};
    for (const auto &c : cols)
        r.push_back(fake::column_def(c));
    if (!deprecate_eof)
        r.push_back(fake::eof_packet(0, 2));
    r.insert(r.end(), rows.begin(), rows.end());
    if (deprecate_eof) {
        bytes end{0xFE, 0, 0};
        fake::put_u16(end, end_status);
        fake::put_u16(end, 0);
        r.push_back(end);
    } else {
        r.push_back(fake::eof_packet(0, end_status));
    }
    return r;
}

std::vector<fake::column_info> mixed_columns()
{
    return {col("i", 3, 63, 0x1000, 0, 11), col("v", 253), col("d", 246, 63, 0, 2, 10),
            col("t", 12, 63, 0, 0, 19), col("b", 252, 63, 0x90, 0, 65535), col("f", 5, 63, 0, 31, 22)};
}

std::vector<bytes> mixed_rows()
{
    return {fake::text_row({std::string("42"), std::string("h\xC3\xA9llo \xF0\x9F\x98\x80"),
                            std::string("3.14"), std::string("2020-01-02 03:04:05"),
                            std::string("\x00\x01\xFF", 3), std::string("2.5")}),
            fake::text_row({std::string("-7"), std::nullopt, std::string("-0.01"),
                            std::string("0000-00-00 00:00:00"), std::string(""),
                            std::string("1e308")})};
}

using fake::binary_row;

// ---------------------------------------------------------------- packet

void packet_seeds()
{
    std::vector<bytes> session = text_result(mixed_columns(), mixed_rows(), 2);
    bytes plain = fake::packet_bytes(0, fake::greeting()) + stream(session, 1);
    for (uint8_t mode : {0, 2, 4, 8})
        write_seed("packet", "plain-mode" + std::to_string(mode), byte(mode) + plain);
    bytes one = stream(session, 0);
    write_seed("packet", "compressed", byte(1) + frame(one, 0));
    write_seed("packet", "compressed-reused", byte(3) + frame(one, 0));
    // two frames, the second one holding the end of a packet begun in the first
    bytes split = frame(bytes(one.begin(), one.begin() + 40), 0) +
                  frame(bytes(one.begin() + 40, one.end()), 1);
    write_seed("packet", "compressed-split", byte(1) + split);
    // an empty payload, a lone NULL cell, a 0xFF lead
    write_seed("packet", "small", byte(0) + stream({bytes{}, bytes{0xFB}, bytes{0xFF, 0x01}}, 0));
}

// -------------------------------------------------------------- response

void response_seeds()
{
    write_seed("response", "ok", byte(0) + fake::ok_packet(5, 77, 2, 1, "Records: 5  Duplicates: 0  Warnings: 1"));
    write_seed("response", "ok-matched", byte(0) + fake::ok_packet(1, 0, 2, 0, "Rows matched: 1  Changed: 1  Warnings: 0"));
    write_seed("response", "error", byte(1) + fake::err_packet(1146, "42S02", "Table 'test.nope' doesn't exist"));
    write_seed("response", "error-old", byte(1) + fake::err_packet(1045, "", "Access denied"));
    write_seed("response", "eof", byte(2) + fake::eof_packet(3, 0x0A));

    bytes list;
    for (const auto &c : mixed_columns()) {
        bytes d = fake::column_def(c);
        fake::put_u16(list, (uint16_t)d.size());
        list = list + d;
    }
    write_seed("response", "field-list-direct", byte(3) + list);

    const uint16_t MORE = 0x0A;   // more results, autocommit
    std::vector<bytes> q = text_result(mixed_columns(), mixed_rows(), MORE);
    q.push_back(fake::ok_packet(1, 0, 2, 0, "Rows matched: 1  Changed: 1  Warnings: 0"));
    write_seed("response", "query", byte(4) + stream(q, 1));
    write_seed("response", "query-nocache", byte(7) + stream(q, 1));
    std::vector<bytes> qd = text_result(mixed_columns(), mixed_rows(), MORE, true);
    qd.push_back(fake::ok_packet(1, 0, 2, 0, ""));
    write_seed("response", "query-deprecate-eof", byte(4 | 8) + stream(qd, 1));
    write_seed("response", "query-compressed", byte(4 | 16) + frame(stream(q, 1), 1));
    write_seed("response", "query-latin1", byte(4 | 32) + stream(q, 1));
    write_seed("response", "query-error",
               byte(4) + stream({fake::err_packet(1146, "42S02", "Table 'test.t' doesn't exist")}, 1));
    write_seed("response", "query-update", byte(4) + stream({fake::ok_packet(3, 9, 2, 0, "")}, 1));

    // prepare: OK (id 1, 4 columns, 1 parameter), definitions; execute: binary rows
    std::vector<bytes> pr = fake::prepare_answer(), ex = fake::binary_result();
    write_seed("response", "prepared", byte(5) + stream(pr, 1) + stream(ex, 1));
    write_seed("response", "prepared-compressed", byte(5 | 16) + frame(stream(pr, 1), 1) + frame(stream(ex, 1), 1));
    write_seed("response", "prepared-text", byte(5 | 64) + stream(q, 1));

    // a direct query on MariaDB: prepare (no parameters), execute, close
    std::vector<bytes> pd = pr;
    pd[0][7] = 0;                          // no parameters
    pd.erase(pd.begin() + 1, pd.begin() + 3);   // nor their definition and EOF
    write_seed("response", "direct-binary", byte(4 | 128) + stream(pd, 1) + stream(ex, 1));
    write_seed("response", "direct-binary-nocache", byte(7 | 128) + stream(pd, 1) + stream(ex, 1));
    write_seed("response", "direct-binary-compressed",
               byte(4 | 16 | 128) + frame(stream(pd, 1), 1) + frame(stream(ex, 1), 2));
    write_seed("response", "direct-refused",
               byte(4 | 128) +
                   stream({fake::err_packet(1295, "HY000", "This command is not supported in the "
                                                           "prepared statement protocol yet")}, 1) +
                   stream({fake::err_packet(1243, "HY000", "Unknown prepared statement handler "
                                                           "(4294967295) given to mysqld_stmt_execute")}, 1) +
                   stream(q, 1));

    std::vector<bytes> fl;
    for (const auto &c : mixed_columns())
        fl.push_back(fake::column_def(c));
    fl.push_back(fake::eof_packet());
    write_seed("response", "field-list", byte(6) + stream(fl, 1));
}

// ----------------------------------------------------------------- logon

const char PUBLIC_KEY[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQDGojFTfjdmOct9zwkwDwwDw2g+\n"
    "OBSlkJ8LTSCs+eIbdGLqaR7Rr+78UxZTIOuiG9heSMtOv6Xmhc61rnO3wTmcG77t\n"
    "Tf6rciUyyyhxGV1R5fYIaZkbTkGd6dWQ6WfWvc7h9R2p5irhjrHReQqNJwmoPu4b\n"
    "Df2Vw6QZ4Kgl3WzTSwIDAQAB\n"
    "-----END PUBLIC KEY-----\n";

// An NTLM CHALLENGE with a target name and target information.
bytes ntlm_challenge()
{
    bytes target = utf16("FUZZDOM");
    bytes info;
    for (auto [id, text] : {std::pair<uint16_t, std::string>{2, "FUZZDOM"}, {1, "SERVER"},
                            {4, "fuzz.example"}, {3, "server.fuzz.example"}}) {
        bytes v = utf16(text);
        fake::put_u16(info, id);
        fake::put_u16(info, (uint16_t)v.size());
        info = info + v;
    }
    fake::put_u16(info, 7);   // timestamp
    fake::put_u16(info, 8);
    info = info + bytes{1, 2, 3, 4, 5, 6, 7, 8};
    fake::put_u32(info, 0);   // end of the list
    const uint32_t header = 56;
    bytes m;
    fake::put_str(m, std::string("NTLMSSP\0", 8));
    fake::put_u32(m, 2);
    fake::put_u16(m, (uint16_t)target.size());
    fake::put_u16(m, (uint16_t)target.size());
    fake::put_u32(m, header);
    fake::put_u32(m, 0x00000001 | 0x00000004 | 0x00000200 | 0x00010000 | 0x00080000 | 0x00800000 |
                         0x02000000 | 0x20000000 | 0x80000000);
    m = m + bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    m = m + bytes(8, 0);
    fake::put_u16(m, (uint16_t)info.size());
    fake::put_u16(m, (uint16_t)info.size());
    fake::put_u32(m, header + (uint32_t)target.size());
    m = m + bytes{10, 0, 0x63, 0x45, 0, 0, 0, 15};   // version
    return m + target + info;
}

bytes switch_to(const std::string &method, const std::string &data)
{
    bytes sw{0xFE};
    fake::put_str(sw, method);
    sw.push_back(0);
    fake::put_str(sw, data);
    return sw;
}

void logon_seeds()
{
    fake::greeting_info g;
    bytes greet = fake::packet_bytes(0, fake::greeting(g));
    for (uint8_t set : {0, 1, 4, 16, 32, 64, 128})
        write_seed("logon", "native-set" + std::to_string(set),
                   byte(set) + greet + fake::packet_bytes(2, fake::ok_packet()));
    write_seed("logon", "refused",
               byte(0) + greet + fake::packet_bytes(2, fake::err_packet(1045, "28000", "Access denied for user 'fuzz'")));
    write_seed("logon", "greeting-error",
               byte(0) + fake::packet_bytes(0, fake::err_packet(1040, "08004", "Too many connections")));

    const std::string scramble = std::string("ABCDEFGHIJKLMNOPQRST") + '\0';
    write_seed("logon", "switch-native",
               byte(0) + greet + fake::packet_bytes(2, switch_to("mysql_native_password", scramble)) +
                   fake::packet_bytes(4, fake::ok_packet()));
    write_seed("logon", "switch-clear",
               byte(0) + greet + fake::packet_bytes(2, switch_to("mysql_clear_password", "")) +
                   fake::packet_bytes(4, fake::ok_packet()));
    write_seed("logon", "switch-unknown",
               byte(0) + greet + fake::packet_bytes(2, switch_to("dialog_x", scramble)));
    write_seed("logon", "switch-ed25519",
               byte(0) + greet +
                   fake::packet_bytes(2, switch_to("client_ed25519", "0123456789abcdef0123456789ABCDEF")) +
                   fake::packet_bytes(4, fake::ok_packet()));
    write_seed("logon", "old-password",
               byte(0) + greet + fake::packet_bytes(2, bytes{0xFE}) + fake::packet_bytes(4, fake::ok_packet()));

    bytes key{0x01};
    fake::put_str(key, PUBLIC_KEY);
    write_seed("logon", "sha256-key",
               byte(0) + greet + fake::packet_bytes(2, switch_to("sha256_password", scramble)) +
                   fake::packet_bytes(4, key) + fake::packet_bytes(6, fake::ok_packet()));

    // caching_sha2_password: announced in the greeting (fast path; full path
    // with the server's key) and requested by a switch
    fake::greeting_info mysql8 = g;
    mysql8.server_version = "8.4.0";
    mysql8.auth_plugin = "caching_sha2_password";
    bytes greet8 = fake::packet_bytes(0, fake::greeting(mysql8));
    write_seed("logon", "sha2-fast",
               byte(0) + greet8 + fake::packet_bytes(2, bytes{0x01, 0x03}) +
                   fake::packet_bytes(3, fake::ok_packet()));
    write_seed("logon", "sha2-full-key",
               byte(0) + greet8 + fake::packet_bytes(2, bytes{0x01, 0x04}) + fake::packet_bytes(4, key) +
                   fake::packet_bytes(6, fake::ok_packet()));
    write_seed("logon", "sha2-switch",
               byte(0) + greet + fake::packet_bytes(2, switch_to("caching_sha2_password", scramble)) +
                   fake::packet_bytes(4, bytes{0x01, 0x03}) + fake::packet_bytes(5, fake::ok_packet()));

    bytes challenge = byte(0x01) + ntlm_challenge();
    for (uint8_t set : {0, 4, 8, 12})
        write_seed("logon", "ntlm-set" + std::to_string(set),
                   byte(set) + greet + fake::packet_bytes(2, switch_to("authentication_windows_client", "")) +
                       fake::packet_bytes(4, challenge) + fake::packet_bytes(6, fake::ok_packet()));

    fake::greeting_info old = g;
    old.capabilities &= ~(fake::CAP_PROTOCOL_41 | fake::CAP_PLUGIN_AUTH | fake::CAP_SECURE_CONNECTION);
    old.server_version = "4.0.30";
    write_seed("logon", "pre41", byte(0) + fake::packet_bytes(0, fake::greeting(old)) +
                                     fake::packet_bytes(2, fake::ok_packet()));
    bytes v9{9};
    fake::put_str(v9, "3.22.32");
    v9.push_back(0);
    fake::put_u32(v9, 5);
    fake::put_str(v9, "abcdefgh");
    v9.push_back(0);
    write_seed("logon", "protocol9", byte(0) + fake::packet_bytes(0, v9));

    fake::greeting_info maria = g;
    maria.server_version = "5.5.5-10.11.6-MariaDB";
    bytes session = fake::packet_bytes(0, fake::greeting(maria)) + fake::packet_bytes(2, fake::ok_packet());
    std::vector<fake::column_info> coll = {col("Collation", 253), col("Charset", 253), col("Id", 8, 63)};
    std::vector<bytes> rows = {fake::text_row({std::string("utf8mb4_general_ci"), std::string("utf8mb4"), std::string("45")}),
                               fake::text_row({std::string("latin1_swedish_ci"), std::string("latin1"), std::string("8")})};
    for (int i = 0; i < 4; i++)
        session = session + fake::packet_bytes(1, fake::ok_packet());
    session = session + stream(text_result(coll, rows, 2), 1);
    for (int i = 0; i < 4; i++)
        session = session + fake::packet_bytes(1, fake::ok_packet());
    write_seed("logon", "session-setup", byte(2) + session);
}

// ------------------------------------------------------------------ rows

// mode, count, per column 6 bytes (type, flags u16, charset index, decimals,
// length index), piece, bind column, bind type index, rows (u16 length each)
bytes rows_input(uint8_t mode, const std::vector<bytes> &columns, uint8_t piece, uint8_t bind,
                 uint8_t bind_type, const std::vector<bytes> &rows)
{
    bytes b{mode, (uint8_t)(columns.size() - 1)};
    for (const bytes &c : columns)
        b = b + c;
    b = b + bytes{piece, bind, bind_type};
    for (const bytes &r : rows) {
        fake::put_u16(b, (uint16_t)r.size());
        b = b + r;
    }
    return b;
}

// type, flags, charset index (0 utf8mb4, 1 binary, 2 latin1), decimals, length index
bytes coldesc(uint8_t type, uint16_t flags, uint8_t charset, uint8_t decimals, uint8_t length)
{
    return bytes{type, (uint8_t)flags, (uint8_t)(flags >> 8), charset, decimals, length};
}

void rows_seeds()
{
    std::vector<bytes> mixed = {coldesc(3, 0x1000, 1, 0, 3), coldesc(253, 0, 0, 0, 7),
                                coldesc(246, 0, 1, 2, 3), coldesc(12, 0, 1, 0, 4),
                                coldesc(252, 0x90, 1, 0, 8), coldesc(5, 0, 1, 31, 6)};
    write_seed("rows", "text-mixed", rows_input(0, mixed, 5, 0, 0, mixed_rows()));
    write_seed("rows", "text-mixed-latin1-odbc2", rows_input(2 | 64, mixed, 3, 1, 1, mixed_rows()));
    write_seed("rows", "text-mixed-utf8-wide", rows_input(4 | 8 | 16, mixed, 7, 3, 19, mixed_rows()));

    std::vector<bytes> numbers = {coldesc(1, 0, 1, 0, 1), coldesc(2, 0x20, 1, 0, 2), coldesc(8, 0x20, 1, 0, 5),
                                  coldesc(9, 0, 1, 0, 3), coldesc(4, 0, 1, 31, 4), coldesc(16, 0x20, 1, 0, 1),
                                  coldesc(13, 0x20, 1, 0, 1), coldesc(0, 0, 1, 4, 4)};
    write_seed("rows", "text-numbers",
               rows_input(0, numbers, 4, 2, 10,
                          {fake::text_row({std::string("-128"), std::string("65535"), std::string("18446744073709551615"),
                                           std::string("-8388608"), std::string("3.4e38"), std::string("\x01", 1),
                                           std::string("2155"), std::string("-12345.6789")}),
                           fake::text_row({std::string("127"), std::string("0"), std::string("1"), std::string("0"),
                                           std::string("-0"), std::string("\x00", 1), std::string("0000"),
                                           std::string("99999999999999999999999999999999999999.9")})}));

    std::vector<bytes> times = {coldesc(10, 0, 1, 0, 3), coldesc(11, 0, 1, 6, 4), coldesc(7, 0, 1, 3, 6),
                                coldesc(12, 0, 1, 6, 6), coldesc(253, 0, 0, 0, 7)};
    write_seed("rows", "text-times",
               rows_input(0, times, 6, 1, 21,
                          {fake::text_row({std::string("2024-02-29"), std::string("-838:59:59.000000"),
                                           std::string("1970-01-01 00:00:01.123"), std::string("9999-12-31 23:59:59.999999"),
                                           std::string("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")}),
                           fake::text_row({std::string("0000-00-00"), std::string("00:00:00"),
                                           std::string("0000-00-00 00:00:00"), std::nullopt,
                                           std::string("2020-13-45")})}));

    std::vector<bytes> bin = {coldesc(3, 0, 1, 0, 3), coldesc(253, 0, 0, 0, 7), coldesc(12, 0, 1, 0, 4),
                              coldesc(5, 0, 1, 31, 6)};
    write_seed("rows", "binary-mixed", rows_input(1, bin, 5, 2, 19, {binary_row(false), binary_row(true)}));

    // binary: tiny, short, longlong, float, date, time, decimal text, bit
    std::vector<bytes> bin2 = {coldesc(1, 0, 1, 0, 1), coldesc(2, 0, 1, 0, 2), coldesc(8, 0x20, 1, 0, 5),
                               coldesc(4, 0, 1, 31, 4), coldesc(10, 0, 1, 0, 3), coldesc(11, 0, 1, 6, 4),
                               coldesc(246, 0, 1, 2, 3), coldesc(16, 0x20, 1, 0, 1)};
    bytes r{0x00, 0x00, 0x00};
    r.push_back(0x80);
    fake::put_u16(r, 0x7FFF);
    for (int i = 0; i < 8; i++)
        r.push_back(0xFF);
    float f = 1.5f;
    uint8_t fr[4];
    memcpy(fr, &f, 4);
    r.insert(r.end(), fr, fr + 4);
    r = r + bytes{4};
    fake::put_u16(r, 2024);
    r = r + bytes{2, 29};
    r = r + bytes{12, 1};
    fake::put_u32(r, 34);
    r = r + bytes{22, 59, 59};
    fake::put_u32(r, 999999);
    fake::put_lenenc_str(r, "-12.50");
    fake::put_lenenc_str(r, std::string("\x01", 1));
    write_seed("rows", "binary-types", rows_input(1 | 32, bin2, 2, 5, 20, {r}));
}

// --------------------------------------------------------------- connstr

void connstr_seeds()
{
    const char *strings[] = {
        "DSN=qvtest;UID=qvuser;PWD=qv-Secret_42;SERVER=127.0.0.1;PORT=3306;DATABASE=qvtest",
        "DRIVER={Quorvane MySQL ODBC Driver};SERVER=db1,db2:3307;UID=u;PWD={p;w}}d};Compress=yes;"
        "Encrypt=optional;TrustServerCertificate=1;ReqCharSet=33;NoCache=yes;Text_Prepare=1",
        "server=[::1]:3306;ipv6=1;ConnectionTimeout=500;LogonTimeout=2000;NullDatetimes=yes;"
        "TimeAsTime=1;AnsiMode=yes;SQLMode=ANSI_QUOTES;character_set_client=utf8mb4",
        "WindowsUser=DOM\\user;NTLMv2=yes;Kerberos=no;Principal=mysql@EXAMPLE;GSSFLAG=6;"
        "PublicKeyFile=key.pem;Entropy=abc;PacketSize=65536;RCVBUFFER=8192;SOKEEPALIVE=yes",
        "Logging=error;LogFile=trace.out;UID=us\xC3\xA9r;PWD=p\xC3\xA4ss;DATABASE={db;name}",
        " uid = a ; ; pwd= ;=x;;port=-5;port=99999999999;{odd}=1;",
    };
    int i = 0;
    for (const char *s : strings) {
        write_seed("connstr", "utf8-" + std::to_string(i), byte(0x10) + bytes(s, s + strlen(s)));
        write_seed("connstr", "latin1-" + std::to_string(i), byte(1) + bytes(s, s + strlen(s)));
        bytes w{2};
        for (const char *p = s; *p; p++) {
            w.push_back((uint8_t)*p);
            w.push_back(0);
        }
        write_seed("connstr", "utf16-" + std::to_string(i), w);
        i++;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    root = argv[1];
    packet_seeds();
    response_seeds();
    logon_seeds();
    rows_seeds();
    connstr_seeds();
    return 0;
}

// qvraw: the floor under the benchmark workloads. Speaks the MySQL
// client/server protocol directly over one TCP socket, with no driver, no
// driver manager and no client library: the least work a client on this
// machine can do for the same rows. OpenSSL gives SHA-1 for the logon.
//
// Usage: qvraw WORKLOAD HOST PORT USER PASSWORD DATABASE [COUNT]
//   fetch            COM_STMT_PREPARE + COM_STMT_EXECUTE of the fetch query,
//                    binary rows decoded into typed values; prints
//                    "rows SUM(i) SUM(b) SUM(LENGTH(v)) SUM(m*100) secs SUM(d)"
//   insert COUNT     one prepared INSERT executed COUNT times in one
//                    transaction, 1,000 executions pipelined per round trip
//   connect COUNT    COUNT logons (handshake, mysql_native_password, COM_QUIT)
//   roundtrip COUNT  COUNT times COM_QUERY "SELECT 1", the text result read
//   prepared_select COUNT  a prepared primary-key SELECT executed COUNT
//                    times; prints SUM(b)
// Exit 0 on success; any protocol error is printed and exits 1.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/sha.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

[[noreturn]] void die(const char *what, const char *detail = "")
{
    fprintf(stderr, "qvraw: %s%s%s\n", what, *detail ? ": " : "", detail);
    exit(1);
}

enum : uint32_t {
    CLIENT_LONG_PASSWORD = 1, CLIENT_FOUND_ROWS = 2, CLIENT_LONG_FLAG = 4,
    CLIENT_CONNECT_WITH_DB = 8, CLIENT_PROTOCOL_41 = 512, CLIENT_TRANSACTIONS = 8192,
    CLIENT_SECURE_CONNECTION = 32768, CLIENT_PLUGIN_AUTH = 1u << 19,
};
enum : uint8_t {
    COM_QUIT = 1, COM_QUERY = 3, COM_STMT_PREPARE = 0x16, COM_STMT_EXECUTE = 0x17,
};
enum : uint8_t {
    T_DECIMAL = 0, T_TINY = 1, T_SHORT = 2, T_LONG = 3, T_FLOAT = 4, T_DOUBLE = 5,
    T_LONGLONG = 8, T_INT24 = 9, T_DATE = 10, T_TIME = 11, T_DATETIME = 12, T_YEAR = 13,
    T_TIMESTAMP = 7, T_NEWDECIMAL = 246, T_VAR_STRING = 253, T_STRING = 254, T_BLOB = 252,
};

/* One connection: a socket, a read buffer that packets are views into, and
 * an output buffer that holds one or many packets before a single send. */
struct link {
    int fd = -1;
    std::vector<uint8_t> in = std::vector<uint8_t>(1 << 20);
    size_t have = 0, pos = 0;
    std::vector<uint8_t> out;
    std::vector<uint8_t> big;  /* a packet that did not fit the buffer */
};

void fill(link &l, size_t want)
{
    if (l.pos + want > l.in.size()) {
        memmove(l.in.data(), l.in.data() + l.pos, l.have - l.pos);
        l.have -= l.pos;
        l.pos = 0;
        if (want > l.in.size())
            l.in.resize(want);
    }
    while (l.have - l.pos < want) {
        ssize_t n = recv(l.fd, l.in.data() + l.have, l.in.size() - l.have, 0);
        if (n <= 0)
            die("read failed");
        l.have += (size_t)n;
    }
}

/* The next packet's payload (valid until the next read). */
const uint8_t *read_packet(link &l, size_t &len)
{
    fill(l, 4);
    const uint8_t *h = l.in.data() + l.pos;
    len = h[0] | h[1] << 8 | h[2] << 16;
    if (len == 0xFFFFFF)
        die("packets of 16 MiB are not needed here");
    fill(l, 4 + len);
    const uint8_t *p = l.in.data() + l.pos + 4;
    l.pos += 4 + len;
    if (len == 0)
        die("empty packet");
    return p;
}

void put_packet(link &l, uint8_t seq, const uint8_t *data, size_t len)
{
    uint8_t h[4] = {(uint8_t)len, (uint8_t)(len >> 8), (uint8_t)(len >> 16), seq};
    l.out.insert(l.out.end(), h, h + 4);
    l.out.insert(l.out.end(), data, data + len);
}

void flush(link &l)
{
    size_t done = 0;
    while (done < l.out.size()) {
        ssize_t n = send(l.fd, l.out.data() + done, l.out.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            die("send failed");
        done += (size_t)n;
    }
    l.out.clear();
}

void fail_on_error(const uint8_t *p, size_t len)
{
    if (p[0] == 0xFF) {
        std::string msg(len > 9 ? (const char *)p + 9 : "", len > 9 ? len - 9 : 0);
        die("server error", msg.c_str());
    }
}

uint64_t lenenc(const uint8_t *&p)
{
    uint8_t c = *p++;
    uint64_t v;
    if (c < 0xFB)
        return c;
    if (c == 0xFC) {
        v = p[0] | p[1] << 8;
        p += 2;
    } else if (c == 0xFD) {
        v = p[0] | p[1] << 8 | p[2] << 16;
        p += 3;
    } else {
        memcpy(&v, p, 8);
        p += 8;
    }
    return v;
}

void put_lenenc_str(std::vector<uint8_t> &b, const char *s, size_t n)
{
    b.push_back((uint8_t)n);  /* values here are shorter than 251 bytes */
    b.insert(b.end(), s, s + n);
}

/* mysql_native_password: SHA1(pw) XOR SHA1(scramble + SHA1(SHA1(pw))). */
void native_scramble(const char *pw, const uint8_t *seed, uint8_t out[20])
{
    uint8_t h1[20], h2[20], h3[20];
    SHA1((const uint8_t *)pw, strlen(pw), h1);
    SHA1(h1, 20, h2);
    uint8_t both[40];
    memcpy(both, seed, 20);
    memcpy(both + 20, h2, 20);
    SHA1(both, 40, h3);
    for (int k = 0; k < 20; k++)
        out[k] = h1[k] ^ h3[k];
}

struct target {
    const char *host, *port, *user, *password, *database;
};

void logon(link &l, const target &t)
{
    struct addrinfo hints = {}, *ai = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(t.host, t.port, &hints, &ai) != 0 || !ai)
        die("cannot resolve", t.host);
    l.fd = socket(ai->ai_family, SOCK_STREAM, 0);
    if (l.fd < 0 || connect(l.fd, ai->ai_addr, ai->ai_addrlen) != 0)
        die("cannot connect", t.host);
    freeaddrinfo(ai);
    int one = 1;
    setsockopt(l.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    l.have = l.pos = 0;

    size_t len;
    const uint8_t *p = read_packet(l, len), *end = p + len;
    fail_on_error(p, len);
    if (p[0] != 10)
        die("not a protocol-10 greeting");
    const uint8_t *q = (const uint8_t *)memchr(p + 1, 0, len - 1);
    if (!q || q + 1 + 4 + 8 + 1 + 2 + 1 + 2 + 2 + 1 + 10 + 12 > end)
        die("short greeting");
    q += 1 + 4;  /* thread id */
    uint8_t seed[20];
    memcpy(seed, q, 8);
    q += 8 + 1 + 2 + 1 + 2 + 2 + 1 + 10;
    memcpy(seed + 8, q, 12);

    uint32_t caps = CLIENT_LONG_PASSWORD | CLIENT_FOUND_ROWS | CLIENT_LONG_FLAG |
                    CLIENT_CONNECT_WITH_DB | CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS |
                    CLIENT_SECURE_CONNECTION | CLIENT_PLUGIN_AUTH;
    std::vector<uint8_t> b(32, 0);
    memcpy(b.data(), &caps, 4);
    uint32_t max_packet = 1 << 24;
    memcpy(b.data() + 4, &max_packet, 4);
    b[8] = 45;  /* utf8mb4_general_ci */
    b.insert(b.end(), t.user, t.user + strlen(t.user) + 1);
    uint8_t scr[20];
    native_scramble(t.password, seed, scr);
    b.push_back(20);
    b.insert(b.end(), scr, scr + 20);
    b.insert(b.end(), t.database, t.database + strlen(t.database) + 1);
    const char plugin[] = "mysql_native_password";
    b.insert(b.end(), plugin, plugin + sizeof plugin);
    put_packet(l, 1, b.data(), b.size());
    flush(l);

    p = read_packet(l, len);
    if (p[0] == 0xFE && len > 1) {  /* switch: only mysql_native_password is played here */
        const uint8_t *name = p + 1, *z = (const uint8_t *)memchr(name, 0, len - 1);
        if (!z || strcmp((const char *)name, plugin) != 0 || (size_t)(p + len - z - 1) < 20)
            die("the server wants another logon method");
        native_scramble(t.password, z + 1, scr);
        put_packet(l, 3, scr, 20);
        flush(l);
        p = read_packet(l, len);
    }
    fail_on_error(p, len);
    if (p[0] != 0x00)
        die("logon not accepted");
}

void quit(link &l)
{
    uint8_t c = COM_QUIT;
    put_packet(l, 0, &c, 1);
    flush(l);
    close(l.fd);
    l.fd = -1;
}

bool is_eof(const uint8_t *p, size_t len) { return p[0] == 0xFE && len < 9; }

/* Reads column definitions up to their EOF; their types into types. */
void read_columns(link &l, uint64_t n, std::vector<uint8_t> *types)
{
    for (uint64_t k = 0; k < n; k++) {
        size_t len;
        const uint8_t *p = read_packet(l, len);
        if (types) {
            const uint8_t *q = p;
            for (int s = 0; s < 6; s++) {  /* catalog schema table org_table name org_name */
                uint64_t m = lenenc(q);
                q += m;
            }
            q++;  /* length of the fixed fields */
            types->push_back(q[6]);
        }
    }
    size_t len;
    const uint8_t *p = read_packet(l, len);
    if (!is_eof(p, len))
        die("no EOF after the column definitions");
}

struct prepared {
    uint32_t id;
    std::vector<uint8_t> types;
    uint16_t params;
};

/* Sends a command carrying a statement text; the first packet of the answer. */
const uint8_t *command(link &l, uint8_t cmd, const char *sql, size_t &len)
{
    std::vector<uint8_t> b;
    b.push_back(cmd);
    b.insert(b.end(), sql, sql + strlen(sql));
    put_packet(l, 0, b.data(), b.size());
    flush(l);
    const uint8_t *p = read_packet(l, len);
    fail_on_error(p, len);
    return p;
}

prepared prepare(link &l, const char *sql)
{
    size_t len;
    const uint8_t *p = command(l, COM_STMT_PREPARE, sql, len);
    if (p[0] != 0 || len < 12)
        die("bad prepare response");
    prepared s;
    memcpy(&s.id, p + 1, 4);
    uint16_t cols = p[5] | p[6] << 8;
    s.params = p[7] | p[8] << 8;
    if (s.params)
        read_columns(l, s.params, nullptr);
    if (cols)
        read_columns(l, cols, &s.types);
    return s;
}

/* The head of COM_STMT_EXECUTE; parameter types follow when params > 0. */
void execute_head(std::vector<uint8_t> &b, const prepared &s)
{
    b.push_back(COM_STMT_EXECUTE);
    b.insert(b.end(), (const uint8_t *)&s.id, (const uint8_t *)&s.id + 4);
    b.push_back(0);  /* no cursor */
    uint32_t iterations = 1;
    b.insert(b.end(), (const uint8_t *)&iterations, (const uint8_t *)&iterations + 4);
    if (s.params) {
        b.insert(b.end(), (s.params + 7) / 8, 0);  /* no NULLs */
        b.push_back(1);                            /* types follow */
    }
}

template <class T> void put(std::vector<uint8_t> &b, T v)
{
    b.insert(b.end(), (const uint8_t *)&v, (const uint8_t *)&v + sizeof v);
}

/* The rest of a result set whose first packet (the column count) is p:
 * the column definitions (their types into types, when given), then each
 * row's payload to row, up to the closing EOF. */
template <class F> void read_result(link &l, const uint8_t *p, std::vector<uint8_t> *types, F row)
{
    uint64_t ncol = lenenc(p);
    read_columns(l, ncol, types);
    for (;;) {
        size_t len;
        p = read_packet(l, len);
        if (is_eof(p, len))
            return;
        fail_on_error(p, len);
        row(p);
    }
}

struct sums {
    long long rows = 0, i = 0, b = 0, vlen = 0, cents = 0, secs = 0;
    double d = 0;
};

long long cents_of(const uint8_t *s, size_t n)
{
    long long v = 0;
    bool neg = n && s[0] == '-';
    for (size_t k = neg; k < n; k++)
        if (s[k] >= '0' && s[k] <= '9')
            v = v * 10 + (s[k] - '0');
    return neg ? -v : v;
}

void fetch(const target &t)
{
    link l;
    logon(l, t);
    prepared s = prepare(l, "SELECT i, b, v, d, dt, m FROM fetch_rows ORDER BY i");
    std::vector<uint8_t> b;
    execute_head(b, s);
    put_packet(l, 0, b.data(), b.size());
    flush(l);
    size_t len;
    const uint8_t *p = read_packet(l, len);
    fail_on_error(p, len);
    uint64_t ncol = lenenc(p);
    std::vector<uint8_t> types;
    read_columns(l, ncol, &types);
    if (ncol != 6 || types[0] != T_LONG || types[1] != T_LONGLONG || types[3] != T_DOUBLE ||
        types[4] != T_DATETIME || types[5] != T_NEWDECIMAL)
        die("unexpected column types");
    const size_t bitmap = (ncol + 7 + 2) / 8;
    sums got;
    for (;;) {
        p = read_packet(l, len);
        if (is_eof(p, len))
            break;
        fail_on_error(p, len);
        const uint8_t *q = p + 1 + bitmap;  /* no column is NULL in this table */
        int32_t i;
        int64_t bb;
        double d;
        memcpy(&i, q, 4);
        q += 4;
        memcpy(&bb, q, 8);
        q += 8;
        uint64_t vlen = lenenc(q);
        q += vlen;
        memcpy(&d, q, 8);
        q += 8;
        uint8_t tl = *q++;
        int day = tl >= 4 ? q[3] : 0, hour = tl >= 7 ? q[4] : 0, minute = tl >= 7 ? q[5] : 0,
            second = tl >= 7 ? q[6] : 0;
        q += tl;
        uint64_t mlen = lenenc(q);
        got.rows++;
        got.i += i;
        got.b += bb;
        got.vlen += (long long)vlen;
        got.d += d;
        got.secs += hour * 3600 + minute * 60 + second + day;
        got.cents += cents_of(q, mlen);
    }
    quit(l);
    printf("%lld %lld %lld %lld %lld %lld %.6f\n", got.rows, got.i, got.b, got.vlen, got.cents,
           got.secs, got.d);
}

/* A simple COM_QUERY whose answer is an OK packet or a result to skip. */
void query(link &l, const char *sql)
{
    size_t len;
    const uint8_t *p = command(l, COM_QUERY, sql, len);
    if (p[0] != 0x00)
        read_result(l, p, nullptr, [](const uint8_t *) {});
}

void insert(const target &t, int n)
{
    enum { PIPELINE = 1000 };
    link l;
    logon(l, t);
    query(l, "SET autocommit=0");
    prepared s = prepare(l, "INSERT INTO insert_rows (i, b, v, d, dt, m) VALUES (?, ?, ?, ?, ?, ?)");
    std::vector<uint8_t> b;
    for (int base = 0; base < n; base += PIPELINE) {
        int count = n - base < PIPELINE ? n - base : PIPELINE;
        for (int k = base; k < base + count; k++) {
            b.clear();
            execute_head(b, s);
            for (uint8_t type : {T_LONG, T_LONGLONG, T_VAR_STRING, T_DOUBLE, T_DATETIME, T_NEWDECIMAL}) {
                b.push_back(type);
                b.push_back(0);
            }
            /* the rows qvbench's make_row gives */
            char v[33], m[16];
            int vn = snprintf(v, sizeof v, "name-%d", k);
            int mn = snprintf(m, sizeof m, "%d.%02d", k % 100000, k % 100);
            put<int32_t>(b, k);
            put<int64_t>(b, (int64_t)k * 1000003);
            put_lenenc_str(b, v, (size_t)vn);
            put<double>(b, k / 7.0);
            b.push_back(7);
            put<uint16_t>(b, 2020);
            b.push_back(1);
            b.push_back((uint8_t)(1 + k % 28));
            b.push_back((uint8_t)(k % 24));
            b.push_back((uint8_t)(k % 60));
            b.push_back((uint8_t)(k % 60));
            put_lenenc_str(b, m, (size_t)mn);
            put_packet(l, 0, b.data(), b.size());
        }
        flush(l);
        for (int k = 0; k < count; k++) {
            size_t len;
            const uint8_t *p = read_packet(l, len);
            fail_on_error(p, len);
        }
    }
    query(l, "COMMIT");
    quit(l);
}

void connect_many(const target &t, int n)
{
    for (int k = 0; k < n; k++) {
        link l;
        logon(l, t);
        quit(l);
    }
}

void roundtrip(const target &t, int n)
{
    link l;
    logon(l, t);
    long long total = 0;
    for (int k = 0; k < n; k++) {
        query(l, "SELECT 1");
        total++;
    }
    quit(l);
    printf("%lld\n", total);
}

void prepared_select(const target &t, int n)
{
    link l;
    logon(l, t);
    prepared s = prepare(l, "SELECT b FROM fetch_rows WHERE i = ?");
    long long sum = 0;
    std::vector<uint8_t> b;
    for (int k = 1; k <= n; k++) {
        b.clear();
        execute_head(b, s);
        b.push_back(T_LONG);
        b.push_back(0);
        put<int32_t>(b, k);
        put_packet(l, 0, b.data(), b.size());
        flush(l);
        size_t len;
        const uint8_t *p = read_packet(l, len);
        fail_on_error(p, len);
        read_result(l, p, nullptr, [&](const uint8_t *row) {
            int64_t v;
            memcpy(&v, row + 1 + 1, 8);  /* header, one-byte NULL bitmap */
            sum += v;
        });
    }
    quit(l);
    printf("%lld\n", sum);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 7) {
        fprintf(stderr, "usage: %s WORKLOAD HOST PORT USER PASSWORD DATABASE [COUNT]\n", argv[0]);
        return 64;
    }
    target t{argv[2], argv[3], argv[4], argv[5], argv[6]};
    int n = argc > 7 ? atoi(argv[7]) : 0;
    std::string w = argv[1];
    if (w == "fetch")
        fetch(t);
    else if (w == "insert")
        insert(t, n);
    else if (w == "connect")
        connect_many(t, n);
    else if (w == "roundtrip")
        roundtrip(t, n);
    else if (w == "prepared_select")
        prepared_select(t, n);
    else
        die("unknown workload", argv[1]);
    return 0;
}

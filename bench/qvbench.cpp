// qvbench: workloads through the unixODBC driver manager against a private
// server, each checked against values the server computes itself, with the
// `mariadb` command-line client reading the same rows as the yardstick.
//
// Usage: qvbench [--raw QVRAW HOST PORT USER PASSWORD DATABASE]
//                CONNECTION-STRING MARIADB-ARGS... [-- workload...]
//   MARIADB-ARGS are the arguments that make `mariadb` reach the same
//   server and database (e.g. -h127.0.0.1 -P3307 -uqvuser -psecret qvbench).
//   --raw names qvraw, the floor: the same work spoken straight over a
//   socket, and the server it reaches.
//
// Workloads: idle (connected, nothing else: the base of peak memory),
// fetch_bound, fetch_bound_nocache, fetch_array, fetch_getdata, fetch_blob,
// roundtrip, fetch_prepared, insert_prepared, insert_array,
// insert_array_errors, prepared_select, connect; none named: all but idle.
//
// Output: one line per workload with rows/s, wall seconds, client CPU
// seconds and peak resident memory (getrusage), the same figures of the
// yardstick and of the floor, and the driver's ratios to both. The driver's
// peak memory is the process's, so run one workload per process to read it.
#include <sql.h>
#include <sqlext.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/tcp.h>   /* struct tcp_info with the byte counts */
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

std::string g_connstr;
std::vector<std::string> g_mariadb_args;
std::vector<std::string> g_raw;  /* qvraw and its server, empty without --raw */
SQLHENV g_env;
SQLHDBC g_dbc;

[[noreturn]] void die(const char *what, SQLSMALLINT type = 0, SQLHANDLE h = nullptr)
{
    fprintf(stderr, "qvbench: %s\n", what);
    if (h) {
        SQLCHAR state[6], msg[1024];
        SQLINTEGER native;
        SQLSMALLINT len;
        for (SQLSMALLINT i = 1;
             SQLGetDiagRec(type, h, i, state, &native, msg, sizeof msg, &len) == SQL_SUCCESS; i++)
            fprintf(stderr, "  %s %d %s\n", state, (int)native, msg);
    }
    exit(1);
}

void check(SQLRETURN rc, const char *what, SQLSMALLINT type, SQLHANDLE h)
{
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
        die(what, type, h);
}

struct stmt {
    SQLHSTMT h = nullptr;
    stmt() { check(SQLAllocHandle(SQL_HANDLE_STMT, g_dbc, &h), "alloc stmt", SQL_HANDLE_DBC, g_dbc); }
    ~stmt() { SQLFreeHandle(SQL_HANDLE_STMT, h); }
    void exec(const std::string &sql)
    {
        check(SQLExecDirect(h, (SQLCHAR *)sql.c_str(), SQL_NTS), sql.c_str(), SQL_HANDLE_STMT, h);
    }
    void ok(SQLRETURN rc, const char *what) { check(rc, what, SQL_HANDLE_STMT, h); }
};

/* One number from the server (sums and counts the checks compare with). */
std::string server_value(const std::string &sql)
{
    stmt s;
    s.exec(sql);
    s.ok(SQLFetch(s.h), "fetch check value");
    char buf[128] = "";
    SQLLEN ind;
    s.ok(SQLGetData(s.h, 1, SQL_C_CHAR, buf, sizeof buf, &ind), "get check value");
    return buf;
}

struct measure {
    double wall = 0, cpu = 0;
    long rss_kb = 0;  /* peak resident set */
};

double now()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec + tv.tv_usec / 1e6;
}

double cpu_self()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
           ru.ru_stime.tv_usec / 1e6;
}

measure run_self(const std::function<void()> &fn)
{
    double w0 = now(), c0 = cpu_self();
    fn();
    measure m{now() - w0, cpu_self() - c0};
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    m.rss_kb = ru.ru_maxrss;
    return m;
}

/* Bytes this process has received on its TCP sockets so far (the kernel's
 * count of each connection, whatever reads them: the driver's socket among
 * them). Read around an execution, it gives the bytes of its result. */
long long tcp_bytes_received()
{
    long long total = 0;
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    while (struct dirent *e = readdir(d)) {
        int fd = atoi(e->d_name);
        if (fd <= 2 || fd == dirfd(d))
            continue;
        struct tcp_info ti;
        socklen_t len = sizeof ti;
        memset(&ti, 0, sizeof ti);
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &ti, &len) == 0 &&
            len >= offsetof(struct tcp_info, tcpi_bytes_received) + sizeof ti.tcpi_bytes_received)
            total += (long long)ti.tcpi_bytes_received;
    }
    closedir(d);
    return total;
}

/* Runs argv with the file at in_path (or /dev/null) on standard input and
 * standard output into out (or /dev/null); wall time, the child's CPU time
 * and peak memory. A forked child's peak counts the pages it shares with
 * this process until it runs another program, so the peak is read through
 * /usr/bin/time, whose own small process forks the program measured. */
measure run_child(const std::vector<std::string> &program, const char *in_path, std::string *out)
{
    char rss_path[] = "/tmp/qvbenchrssXXXXXX";
    std::vector<std::string> args = program;
    bool timed = access("/usr/bin/time", X_OK) == 0;
    if (timed) {
        int fd = mkstemp(rss_path);
        if (fd < 0)
            die("making the memory file");
        close(fd);
        args.insert(args.begin(), {"/usr/bin/time", "-f", "%M", "-o", rss_path});
    }
    char out_path[] = "/tmp/qvbenchoutXXXXXX";
    int ofd = out ? mkstemp(out_path) : open("/dev/null", O_WRONLY);
    if (ofd < 0)
        die("making the output file");
    double w0 = now();
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(in_path ? in_path : "/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(ofd, 1);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back((char *)a.c_str());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage ru;
    wait4(pid, &status, 0, &ru);
    double wall = now() - w0;
    if (out) {
        out->clear();
        char buf[4096];
        ssize_t n;
        lseek(ofd, 0, SEEK_SET);
        while ((n = read(ofd, buf, sizeof buf)) > 0)
            out->append(buf, (size_t)n);
        unlink(out_path);
    }
    close(ofd);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die((program[0] + " failed").c_str());
    measure m{wall,
              ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                  ru.ru_stime.tv_usec / 1e6,
              ru.ru_maxrss};
    if (timed) {
        FILE *f = fopen(rss_path, "r");
        if (!f || fscanf(f, "%ld", &m.rss_kb) != 1)
            die("reading the peak memory");
        fclose(f);
        unlink(rss_path);
    }
    return m;
}

/* Runs the floor's workload; its standard output into out. */
measure run_raw(const char *workload, long count, std::string *out)
{
    std::vector<std::string> args = {g_raw[0], workload};
    args.insert(args.end(), g_raw.begin() + 1, g_raw.end());
    if (count)
        args.push_back(std::to_string(count));
    return run_child(args, nullptr, out);
}

/* Runs `mariadb` with the given statement text on standard input, output to
 * /dev/null. */
measure run_mariadb(const std::string &input, const std::vector<std::string> &extra)
{
    char path[] = "/tmp/qvbenchXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || write(fd, input.data(), input.size()) != (ssize_t)input.size())
        die("writing the mariadb input");
    close(fd);
    std::vector<std::string> args = {"mariadb"};
    args.insert(args.end(), g_mariadb_args.begin(), g_mariadb_args.end());
    args.insert(args.end(), extra.begin(), extra.end());
    measure m = run_child(args, path, nullptr);
    unlink(path);
    return m;
}

double ratio(double a, double b) { return a / (b > 0 ? b : 1e-9); }

void report(const char *name, long rows, const measure &m, const measure *yard,
            const measure *floor = nullptr)
{
    printf("%-16s %9ld rows  %10.0f rows/s  wall %7.3f s  cpu %7.3f s  rss %6ld KiB", name,
           rows, rows / (m.wall > 0 ? m.wall : 1e-9), m.wall, m.cpu, m.rss_kb);
    for (const measure *o : {yard, floor})
        if (o)
            printf("  | %s wall %7.3f s cpu %7.3f s rss %6ld KiB, ratio wall %.2fx cpu %.2fx",
                   o == yard ? "mariadb" : "floor", o->wall, o->cpu, o->rss_kb,
                   ratio(m.wall, o->wall), ratio(m.cpu, o->cpu));
    printf("\n");
    fflush(stdout);
}

/* ------------------------------------------------------------ the data */

const char *ROWS_QUERY = "SELECT i, b, v, d, dt, m FROM fetch_rows ORDER BY i";

struct sums {
    long long i = 0, b = 0, vlen = 0, cents = 0, secs = 0;
    double d = 0;
    long rows = 0;
};

sums expected_sums()
{
    sums e;
    e.i = atoll(server_value("SELECT SUM(i) FROM fetch_rows").c_str());
    e.b = atoll(server_value("SELECT SUM(b) FROM fetch_rows").c_str());
    e.vlen = atoll(server_value("SELECT SUM(LENGTH(v)) FROM fetch_rows").c_str());
    e.cents = atoll(server_value("SELECT SUM(m * 100) FROM fetch_rows").c_str());
    e.secs = atoll(server_value("SELECT SUM(TIME_TO_SEC(TIME(dt)) + DAYOFMONTH(dt)) FROM fetch_rows").c_str());
    e.d = atof(server_value("SELECT SUM(d) FROM fetch_rows").c_str());
    e.rows = atol(server_value("SELECT COUNT(*) FROM fetch_rows").c_str());
    return e;
}

long long cents_of(const char *text)
{
    /* DECIMAL(12,2) as text: optional sign, digits, '.', two digits */
    long long v = 0;
    int neg = *text == '-';
    for (const char *p = text + neg; *p; p++)
        if (*p >= '0' && *p <= '9')
            v = v * 10 + (*p - '0');
    return neg ? -v : v;
}

void verify(const char *name, const sums &got, const sums &want)
{
    bool ok = got.rows == want.rows && got.i == want.i && got.b == want.b &&
              got.vlen == want.vlen && got.cents == want.cents && got.secs == want.secs &&
              std::fabs(got.d - want.d) <= 1e-6 * std::fabs(want.d) + 1e-6;
    if (!ok) {
        fprintf(stderr,
                "%s: WRONG RESULT rows %ld/%ld i %lld/%lld b %lld/%lld vlen %lld/%lld "
                "cents %lld/%lld secs %lld/%lld d %.6f/%.6f\n",
                name, got.rows, want.rows, got.i, want.i, got.b, want.b, got.vlen, want.vlen,
                got.cents, want.cents, got.secs, want.secs, got.d, want.d);
        exit(2);
    }
}

void add_row(sums &s, SQLINTEGER i, SQLBIGINT b, SQLLEN vlen, double d,
             const SQL_TIMESTAMP_STRUCT &ts, const char *m)
{
    s.rows++;
    s.i += i;
    s.b += b;
    s.vlen += vlen;
    s.d += d;
    s.secs += ts.hour * 3600 + ts.minute * 60 + ts.second + ts.day;
    s.cents += cents_of(m);
}

/* The floor reading the same rows, its sums checked like the driver's. */
const measure *g_rows_floor = nullptr;

measure floor_rows(const sums &want)
{
    std::string out;
    measure m = run_raw("fetch", 0, &out);
    sums got;
    if (sscanf(out.c_str(), "%ld %lld %lld %lld %lld %lld %lf", &got.rows, &got.i, &got.b,
               &got.vlen, &got.cents, &got.secs, &got.d) != 7)
        die("unreadable floor output");
    verify("floor fetch", got, want);
    return m;
}

/* -------------------------------------------------------- the workloads */

/* Bound columns, one row per SQLFetch: the default cached mode, or with
 * NoCache=1 (name fetch_bound_nocache). Also reports the bytes received for
 * the result, which the peak memory of the cached mode is compared with. */
void fetch_bound(const char *name, const sums &want, const measure &yard)
{
    sums got;
    long long received = 0;
    measure m = run_self([&] {
        stmt s;
        SQLINTEGER i;
        SQLBIGINT b;
        char v[40], mtext[32];
        double d;
        SQL_TIMESTAMP_STRUCT ts;
        SQLLEN ind[6];
        s.ok(SQLBindCol(s.h, 1, SQL_C_SLONG, &i, 0, &ind[0]), "bind");
        s.ok(SQLBindCol(s.h, 2, SQL_C_SBIGINT, &b, 0, &ind[1]), "bind");
        s.ok(SQLBindCol(s.h, 3, SQL_C_CHAR, v, sizeof v, &ind[2]), "bind");
        s.ok(SQLBindCol(s.h, 4, SQL_C_DOUBLE, &d, 0, &ind[3]), "bind");
        s.ok(SQLBindCol(s.h, 5, SQL_C_TYPE_TIMESTAMP, &ts, 0, &ind[4]), "bind");
        s.ok(SQLBindCol(s.h, 6, SQL_C_CHAR, mtext, sizeof mtext, &ind[5]), "bind");
        long long before = tcp_bytes_received();
        s.exec(ROWS_QUERY);
        SQLRETURN rc;
        while ((rc = SQLFetch(s.h)) == SQL_SUCCESS)
            add_row(got, i, b, ind[2], d, ts, mtext);
        if (rc != SQL_NO_DATA)
            s.ok(rc, "fetch");
        received = tcp_bytes_received() - before;
    });
    verify(name, got, want);
    report(name, got.rows, m, &yard, g_rows_floor);
    if (received > 0)
        printf("%-16s received %lld bytes for the result\n", name, received);
}

/* A connected process that does nothing else: the base its peak memory
 * starts from (a workload's growth is its peak less this one). */
void idle()
{
    measure m = run_self([] {});
    report("idle", 0, m, nullptr);
}

void fetch_array(const sums &want, const measure &yard)
{
    enum { N = 1000 };
    sums got;
    measure m = run_self([&] {
        stmt s;
        static SQLINTEGER i[N];
        static SQLBIGINT b[N];
        static char v[N][40], mtext[N][32];
        static double d[N];
        static SQL_TIMESTAMP_STRUCT ts[N];
        static SQLLEN ind[6][N];
        SQLULEN fetched = 0;
        s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_ROW_BIND_TYPE, (SQLPOINTER)SQL_BIND_BY_COLUMN, 0), "attr");
        s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)(SQLULEN)N, 0), "attr");
        s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), "attr");
        s.ok(SQLBindCol(s.h, 1, SQL_C_SLONG, i, 0, ind[0]), "bind");
        s.ok(SQLBindCol(s.h, 2, SQL_C_SBIGINT, b, 0, ind[1]), "bind");
        s.ok(SQLBindCol(s.h, 3, SQL_C_CHAR, v, 40, ind[2]), "bind");
        s.ok(SQLBindCol(s.h, 4, SQL_C_DOUBLE, d, 0, ind[3]), "bind");
        s.ok(SQLBindCol(s.h, 5, SQL_C_TYPE_TIMESTAMP, ts, 0, ind[4]), "bind");
        s.ok(SQLBindCol(s.h, 6, SQL_C_CHAR, mtext, 32, ind[5]), "bind");
        s.exec(ROWS_QUERY);
        SQLRETURN rc;
        while ((rc = SQLFetch(s.h)) == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
            for (SQLULEN r = 0; r < fetched; r++)
                add_row(got, i[r], b[r], ind[2][r], d[r], ts[r], mtext[r]);
        if (rc != SQL_NO_DATA)
            s.ok(rc, "fetch");
    });
    verify("fetch_array", got, want);
    report("fetch_array", got.rows, m, &yard, g_rows_floor);
}

void fetch_getdata(const sums &want, const measure &yard)
{
    sums got;
    measure m = run_self([&] {
        stmt s;
        s.exec(ROWS_QUERY);
        SQLINTEGER i;
        SQLBIGINT b;
        char v[40], mtext[32];
        double d;
        SQL_TIMESTAMP_STRUCT ts;
        SQLLEN ind, vlen;
        SQLRETURN rc;
        while ((rc = SQLFetch(s.h)) == SQL_SUCCESS) {
            s.ok(SQLGetData(s.h, 1, SQL_C_SLONG, &i, 0, &ind), "get");
            s.ok(SQLGetData(s.h, 2, SQL_C_SBIGINT, &b, 0, &ind), "get");
            s.ok(SQLGetData(s.h, 3, SQL_C_CHAR, v, sizeof v, &vlen), "get");
            s.ok(SQLGetData(s.h, 4, SQL_C_DOUBLE, &d, 0, &ind), "get");
            s.ok(SQLGetData(s.h, 5, SQL_C_TYPE_TIMESTAMP, &ts, 0, &ind), "get");
            s.ok(SQLGetData(s.h, 6, SQL_C_CHAR, mtext, sizeof mtext, &ind), "get");
            add_row(got, i, b, vlen, d, ts, mtext);
        }
        if (rc != SQL_NO_DATA)
            s.ok(rc, "fetch");
    });
    verify("fetch_getdata", got, want);
    report("fetch_getdata", got.rows, m, &yard, g_rows_floor);
}

void fetch_blob(const measure &yard)
{
    long long want_crc = atoll(server_value("SELECT SUM(CRC32(data)) FROM blob_rows").c_str());
    long long want_len = atoll(server_value("SELECT SUM(LENGTH(data)) FROM blob_rows").c_str());
    long long got_crc = 0, got_len = 0;
    long rows = 0;
    measure m = run_self([&] {
        stmt s;
        s.exec("SELECT data FROM blob_rows ORDER BY id");
        static unsigned char piece[8192];
        SQLRETURN rc;
        while ((rc = SQLFetch(s.h)) == SQL_SUCCESS) {
            rows++;
            uLong crc = crc32(0, nullptr, 0);
            SQLLEN ind;
            SQLRETURN g;
            while ((g = SQLGetData(s.h, 1, SQL_C_BINARY, piece, sizeof piece, &ind)) ==
                       SQL_SUCCESS_WITH_INFO || g == SQL_SUCCESS) {
                SQLLEN n = (g == SQL_SUCCESS_WITH_INFO || ind == SQL_NO_TOTAL || ind > (SQLLEN)sizeof piece)
                               ? (SQLLEN)sizeof piece : ind;
                crc = crc32(crc, piece, (uInt)n);
                got_len += n;
                if (g == SQL_SUCCESS)
                    break;
            }
            got_crc += crc;
        }
        if (rc != SQL_NO_DATA)
            s.ok(rc, "fetch");
    });
    if (got_crc != want_crc || got_len != want_len) {
        fprintf(stderr, "fetch_blob: WRONG RESULT crc %lld/%lld len %lld/%lld\n", got_crc,
                want_crc, got_len, want_len);
        exit(2);
    }
    report("fetch_blob", rows, m, &yard);
}

/* A workload of n round trips: the floor's run of it (whose output must be
 * want), the report, and the time per call of each client. */
void report_per_call(const char *name, const char *unit, int n, const measure &m,
                     const measure &yard, long long want)
{
    measure floor, *fp = nullptr;
    if (!g_raw.empty()) {
        std::string out;
        floor = run_raw(name, n, &out);
        if (atoll(out.c_str()) != want)
            die((std::string(name) + ": WRONG RESULT from the floor").c_str());
        fp = &floor;
    }
    report(name, n, m, &yard, fp);
    printf("%-16s per %s: driver %.1f us, mariadb %.1f us, ratio %.2fx", name, unit,
           m.wall / n * 1e6, yard.wall / n * 1e6, ratio(m.wall, yard.wall));
    if (fp)
        printf(", floor %.1f us, ratio %.2fx", fp->wall / n * 1e6, ratio(m.wall, fp->wall));
    printf("\n");
}

void roundtrip(const measure &yard, int n)
{
    long long total = 0;
    measure m = run_self([&] {
        stmt s;
        for (int k = 0; k < n; k++) {
            s.exec("SELECT 1");
            SQLINTEGER one = 0;
            SQLLEN ind;
            s.ok(SQLFetch(s.h), "fetch");
            s.ok(SQLGetData(s.h, 1, SQL_C_SLONG, &one, 0, &ind), "get");
            total += one;
            s.ok(SQLCloseCursor(s.h), "close");
        }
    });
    if (total != n) {
        fprintf(stderr, "roundtrip: WRONG RESULT %lld/%d\n", total, n);
        exit(2);
    }
    report_per_call("roundtrip", "call", n, m, yard, n);
}

void fetch_prepared(const sums &want, const measure &yard)
{
    sums got;
    measure m = run_self([&] {
        stmt s;
        SQLINTEGER i;
        SQLBIGINT b;
        char v[40], mtext[32];
        double d;
        SQL_TIMESTAMP_STRUCT ts;
        SQLLEN ind[6];
        s.ok(SQLPrepare(s.h, (SQLCHAR *)ROWS_QUERY, SQL_NTS), "prepare");
        s.ok(SQLBindCol(s.h, 1, SQL_C_SLONG, &i, 0, &ind[0]), "bind");
        s.ok(SQLBindCol(s.h, 2, SQL_C_SBIGINT, &b, 0, &ind[1]), "bind");
        s.ok(SQLBindCol(s.h, 3, SQL_C_CHAR, v, sizeof v, &ind[2]), "bind");
        s.ok(SQLBindCol(s.h, 4, SQL_C_DOUBLE, &d, 0, &ind[3]), "bind");
        s.ok(SQLBindCol(s.h, 5, SQL_C_TYPE_TIMESTAMP, &ts, 0, &ind[4]), "bind");
        s.ok(SQLBindCol(s.h, 6, SQL_C_CHAR, mtext, sizeof mtext, &ind[5]), "bind");
        s.ok(SQLExecute(s.h), "execute");
        SQLRETURN rc;
        while ((rc = SQLFetch(s.h)) == SQL_SUCCESS)
            add_row(got, i, b, ind[2], d, ts, mtext);
        if (rc != SQL_NO_DATA)
            s.ok(rc, "fetch");
    });
    verify("fetch_prepared", got, want);
    report("fetch_prepared", got.rows, m, &yard, g_rows_floor);
}

/* The six values inserted for row k; the checks recompute them. */
struct insert_row {
    SQLINTEGER i;
    SQLBIGINT b;
    char v[33];
    double d;
    SQL_TIMESTAMP_STRUCT ts;
    char m[16];
};

void make_row(int k, insert_row &r)
{
    r.i = k;
    r.b = (SQLBIGINT)k * 1000003;
    snprintf(r.v, sizeof r.v, "name-%d", k);
    r.d = k / 7.0;
    r.ts = {2020, 1, (SQLUSMALLINT)(1 + k % 28), (SQLUSMALLINT)(k % 24), (SQLUSMALLINT)(k % 60),
            (SQLUSMALLINT)(k % 60), 0};
    snprintf(r.m, sizeof r.m, "%d.%02d", k % 100000, k % 100);
}

void check_inserted(const char *name, int n)
{
    long long count = atoll(server_value("SELECT COUNT(*) FROM insert_rows").c_str());
    long long si = atoll(server_value("SELECT SUM(i) FROM insert_rows").c_str());
    long long sb = atoll(server_value("SELECT SUM(b) FROM insert_rows").c_str());
    long long sv = atoll(server_value("SELECT SUM(LENGTH(v)) FROM insert_rows").c_str());
    long long sm = atoll(server_value("SELECT SUM(m * 100) FROM insert_rows").c_str());
    long long wi = 0, wb = 0, wv = 0, wm = 0;
    insert_row r;
    for (int k = 0; k < n; k++) {
        make_row(k, r);
        wi += r.i;
        wb += r.b;
        wv += (long long)strlen(r.v);
        wm += cents_of(r.m);
    }
    if (count != n || si != wi || sb != wb || sv != wv || sm != wm) {
        fprintf(stderr, "%s: WRONG RESULT count %lld/%d\n", name, count, n);
        exit(2);
    }
}

const char *INSERT_SQL = "INSERT INTO insert_rows (i, b, v, d, dt, m) VALUES (?, ?, ?, ?, ?, ?)";

void bind_insert(stmt &s, insert_row *rows, SQLLEN *vlen)
{
    s.ok(SQLBindParameter(s.h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &rows->i, 0, nullptr), "bindp");
    s.ok(SQLBindParameter(s.h, 2, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &rows->b, 0, nullptr), "bindp");
    s.ok(SQLBindParameter(s.h, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 32, 0, rows->v, 33, vlen), "bindp");
    s.ok(SQLBindParameter(s.h, 4, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &rows->d, 0, nullptr), "bindp");
    s.ok(SQLBindParameter(s.h, 5, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19, 0, &rows->ts, 0, nullptr), "bindp");
    s.ok(SQLBindParameter(s.h, 6, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 12, 2, rows->m, 16, nullptr), "bindp");
}

measure insert_prepared(int n)
{
    { stmt t; t.exec("TRUNCATE TABLE insert_rows"); }
    measure m = run_self([&] {
        check(SQLSetConnectAttr(g_dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0),
              "autocommit off", SQL_HANDLE_DBC, g_dbc);
        stmt s;
        insert_row r;
        SQLLEN vlen = SQL_NTS;
        s.ok(SQLPrepare(s.h, (SQLCHAR *)INSERT_SQL, SQL_NTS), "prepare");
        bind_insert(s, &r, &vlen);
        for (int k = 0; k < n; k++) {
            make_row(k, r);
            s.ok(SQLExecute(s.h), "execute");
        }
        check(SQLEndTran(SQL_HANDLE_DBC, g_dbc, SQL_COMMIT), "commit", SQL_HANDLE_DBC, g_dbc);
        check(SQLSetConnectAttr(g_dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0),
              "autocommit on", SQL_HANDLE_DBC, g_dbc);
    });
    check_inserted("insert_prepared", n);
    return m;
}

measure insert_array(int n)
{
    enum { N = 1000 };
    { stmt t; t.exec("TRUNCATE TABLE insert_rows"); }
    measure m = run_self([&] {
        check(SQLSetConnectAttr(g_dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0),
              "autocommit off", SQL_HANDLE_DBC, g_dbc);
        stmt s;
        static insert_row rows[N];
        SQLULEN done = 0;
        s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_PARAM_BIND_TYPE, (SQLPOINTER)sizeof(insert_row), 0), "attr");
        s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)(SQLULEN)N, 0), "attr");
        s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_PARAMS_PROCESSED_PTR, &done, 0), "attr");
        static SQLUSMALLINT status[N];
        s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_PARAM_STATUS_PTR, status, 0), "attr");
        s.ok(SQLPrepare(s.h, (SQLCHAR *)INSERT_SQL, SQL_NTS), "prepare");
        bind_insert(s, rows, nullptr);   /* NUL-terminated strings */
        for (int base = 0; base < n; base += N) {
            int count = n - base < N ? n - base : N;
            for (int k = 0; k < count; k++)
                make_row(base + k, rows[k]);
            if (count != N)
                s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)(SQLULEN)count, 0), "attr");
            s.ok(SQLExecute(s.h), "execute");
            for (int k = 0; k < count; k++)
                if (status[k] != SQL_PARAM_SUCCESS)
                    die("insert_array: a row's status is not SQL_PARAM_SUCCESS");
        }
        check(SQLEndTran(SQL_HANDLE_DBC, g_dbc, SQL_COMMIT), "commit", SQL_HANDLE_DBC, g_dbc);
        check(SQLSetConnectAttr(g_dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0),
              "autocommit on", SQL_HANDLE_DBC, g_dbc);
    });
    check_inserted("insert_array", n);
    return m;
}

/* One SQLExecute over n parameter sets of which every tenth (when failing)
 * hits a key already in the table: the failed sets' records are posted on
 * the statement, each naming its set. Timed once with and once without the
 * failures; the records are checked, not just counted. */
void insert_array_errors(int n)
{
    static std::vector<insert_row> rows;
    static std::vector<SQLUSMALLINT> status;
    rows.resize(n);
    status.resize(n);
    for (int k = 0; k < n; k++)
        make_row(k, rows[k]);
    for (int failing = 0; failing <= 1; failing++) {
        {
            stmt t;
            t.exec("TRUNCATE TABLE insert_rows");
            if (failing)
                t.exec("INSERT INTO insert_rows (i, b, v, d, dt, m) SELECT seq, 0, 'taken', 0, "
                       "'2020-01-01', 0 FROM seq_0_to_" + std::to_string(n - 1) + "_step_10");
        }
        SQLRETURN rc = SQL_SUCCESS;
        SQLINTEGER records = 0;
        double exec_wall = 0, read_wall = 0;
        measure m = run_self([&] {
            check(SQLSetConnectAttr(g_dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0),
                  "autocommit off", SQL_HANDLE_DBC, g_dbc);
            stmt s;
            SQLULEN done = 0;
            s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_PARAM_BIND_TYPE, (SQLPOINTER)sizeof(insert_row), 0), "attr");
            s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)(SQLULEN)n, 0), "attr");
            s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_PARAMS_PROCESSED_PTR, &done, 0), "attr");
            s.ok(SQLSetStmtAttr(s.h, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0), "attr");
            s.ok(SQLPrepare(s.h, (SQLCHAR *)INSERT_SQL, SQL_NTS), "prepare");
            bind_insert(s, rows.data(), nullptr);
            double t0 = now();
            rc = SQLExecute(s.h);
            exec_wall = now() - t0;
            /* what an application does next: count the records and read them */
            SQLGetDiagField(SQL_HANDLE_STMT, s.h, 0, SQL_DIAG_NUMBER, &records, 0, nullptr);
            SQLINTEGER readable = records < 32767 ? records : 32767;
            for (SQLSMALLINT r = 1; r <= readable; r++) {
                SQLCHAR state[6];
                SQLLEN row = 0;
                if (SQLGetDiagRec(SQL_HANDLE_STMT, s.h, r, state, nullptr, nullptr, 0, nullptr) != SQL_SUCCESS ||
                    SQLGetDiagField(SQL_HANDLE_STMT, s.h, r, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr) != SQL_SUCCESS ||
                    strcmp((const char *)state, "23000") != 0 || row != (SQLLEN)(r - 1) * 10 + 1) {
                    fprintf(stderr, "insert_array_errors: WRONG RECORD %d (%s, row %ld)\n", (int)r,
                            (const char *)state, (long)row);
                    exit(2);
                }
            }
            read_wall = now() - t0 - exec_wall;
            check(SQLEndTran(SQL_HANDLE_DBC, g_dbc, SQL_COMMIT), "commit", SQL_HANDLE_DBC, g_dbc);
            check(SQLSetConnectAttr(g_dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0),
                  "autocommit on", SQL_HANDLE_DBC, g_dbc);
        });
        int errors = 0;
        for (int k = 0; k < n; k++) {
            bool want_error = failing && k % 10 == 0;
            if (status[k] != (want_error ? SQL_PARAM_ERROR : SQL_PARAM_SUCCESS)) {
                fprintf(stderr, "insert_array_errors: WRONG STATUS %d at set %d\n", (int)status[k], k);
                exit(2);
            }
            errors += want_error;
        }
        SQLRETURN want_rc = failing ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
        if (rc != want_rc || records != errors) {
            fprintf(stderr, "insert_array_errors: WRONG RESULT rc %d, %d records for %d failed sets\n",
                    (int)rc, (int)records, errors);
            exit(2);
        }
        report(failing ? "array_10%_fail" : "array_no_fail", n, m, nullptr);
        printf("%-16s SQLExecute alone: wall %7.3f s; reading its %d records: wall %7.3f s\n",
               failing ? "array_10%_fail" : "array_no_fail", exec_wall, (int)records, read_wall);
    }
}

void prepared_select(const measure &yard, int n)
{
    long long want = 0;
    for (int k = 1; k <= n; k++)
        want += (long long)k * 1000003;
    long long got = 0;
    measure m = run_self([&] {
        stmt s;
        SQLINTEGER key = 0;
        SQLBIGINT b = 0;
        SQLLEN ind;
        s.ok(SQLPrepare(s.h, (SQLCHAR *)"SELECT b FROM fetch_rows WHERE i = ?", SQL_NTS), "prepare");
        s.ok(SQLBindParameter(s.h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &key, 0, nullptr), "bindp");
        s.ok(SQLBindCol(s.h, 1, SQL_C_SBIGINT, &b, 0, &ind), "bind");
        for (int k = 1; k <= n; k++) {
            key = k;
            s.ok(SQLExecute(s.h), "execute");
            s.ok(SQLFetch(s.h), "fetch");
            got += b;
            s.ok(SQLCloseCursor(s.h), "close");
        }
    });
    if (got != want) {
        fprintf(stderr, "prepared_select: WRONG RESULT %lld/%lld\n", got, want);
        exit(2);
    }
    report_per_call("prepared_select", "execution", n, m, yard, want);
}

/* The floor's pipelined inserts of the same rows, checked the same way. */
measure floor_insert(int n)
{
    { stmt t; t.exec("TRUNCATE TABLE insert_rows"); }
    measure m = run_raw("insert", n, nullptr);
    check_inserted("floor insert", n);
    return m;
}

/* Logon and logoff, n times, on a handle of its own. The yardstick is a
 * `mariadb` process per logon, so its figures include starting a program;
 * it runs for a fifth of the logons and is scaled up to n. */
void connect_many(int n)
{
    SQLHDBC dbc;
    check(SQLAllocHandle(SQL_HANDLE_DBC, g_env, &dbc), "alloc dbc", SQL_HANDLE_ENV, g_env);
    measure m = run_self([&] {
        for (int k = 0; k < n; k++) {
            check(SQLDriverConnect(dbc, nullptr, (SQLCHAR *)g_connstr.c_str(), SQL_NTS, nullptr,
                                   0, nullptr, SQL_DRIVER_NOPROMPT),
                  "connect", SQL_HANDLE_DBC, dbc);
            check(SQLDisconnect(dbc), "disconnect", SQL_HANDLE_DBC, dbc);
        }
    });
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    measure yard;
    const int launches = n / 5 > 0 ? n / 5 : 1;
    for (int k = 0; k < launches; k++) {
        measure one = run_mariadb("", {"--batch", "--skip-ssl"});
        yard.wall += one.wall * n / launches;
        yard.cpu += one.cpu * n / launches;
        yard.rss_kb = std::max(yard.rss_kb, one.rss_kb);
    }
    measure floor, *fp = nullptr;
    if (!g_raw.empty()) {
        floor = run_raw("connect", n, nullptr);
        fp = &floor;
    }
    report("connect", n, m, &yard, fp);
    printf("%-16s per logon: driver %.0f us, mariadb %.0f us, floor %.0f us\n", "connect",
           m.wall / n * 1e6, yard.wall / n * 1e6, fp ? fp->wall / n * 1e6 : 0.0);
}

bool wanted(const std::vector<std::string> &list, const char *name)
{
    if (list.empty())
        return true;
    for (const std::string &w : list)
        if (w == name)
            return true;
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s CONNECTION-STRING MARIADB-ARGS... [-- workload...]\n", argv[0]);
        return 64;
    }
    int k = 1;
    if (strcmp(argv[1], "--raw") == 0) {
        if (argc < 10)
            die("--raw needs QVRAW HOST PORT USER PASSWORD DATABASE");
        g_raw.assign(argv + 2, argv + 8);
        k = 8;
    }
    g_connstr = argv[k++];
    std::vector<std::string> workloads;
    for (; k < argc && strcmp(argv[k], "--") != 0; k++)
        g_mariadb_args.push_back(argv[k]);
    for (k++; k < argc; k++)
        workloads.push_back(argv[k]);

    check(SQLAllocHandle(SQL_HANDLE_ENV, nullptr, &g_env), "alloc env", 0, nullptr);
    SQLSetEnvAttr(g_env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
    check(SQLAllocHandle(SQL_HANDLE_DBC, g_env, &g_dbc), "alloc dbc", SQL_HANDLE_ENV, g_env);
    check(SQLDriverConnect(g_dbc, nullptr, (SQLCHAR *)g_connstr.c_str(), SQL_NTS, nullptr, 0,
                           nullptr, SQL_DRIVER_NOPROMPT),
          "connect", SQL_HANDLE_DBC, g_dbc);

    if (wanted(workloads, "idle") && !workloads.empty())
        idle();   /* alone in its process (bench/run.sh): nothing else has run */
    const std::vector<std::string> batch = {"--batch", "--quick", "-N", "--skip-ssl"};
    sums want;
    bool need_rows = false;
    for (const char *w : {"fetch_bound", "fetch_bound_nocache", "fetch_array", "fetch_getdata",
                          "fetch_prepared"})
        need_rows |= wanted(workloads, w);
    measure rows_yard;
    if (need_rows) {
        want = expected_sums();
        rows_yard = run_mariadb(std::string(ROWS_QUERY) + ";\n", batch);
    }
    measure rows_floor;
    if (need_rows && !g_raw.empty()) {
        rows_floor = floor_rows(want);
        g_rows_floor = &rows_floor;
    }
    if (wanted(workloads, "fetch_bound"))
        fetch_bound("fetch_bound", want, rows_yard);
    if (wanted(workloads, "fetch_bound_nocache")) {
        SQLHDBC cached = g_dbc;
        check(SQLAllocHandle(SQL_HANDLE_DBC, g_env, &g_dbc), "alloc dbc", SQL_HANDLE_ENV, g_env);
        std::string nocache = g_connstr + ";NoCache=1";
        check(SQLDriverConnect(g_dbc, nullptr, (SQLCHAR *)nocache.c_str(), SQL_NTS, nullptr, 0,
                               nullptr, SQL_DRIVER_NOPROMPT),
              "connect with NoCache=1", SQL_HANDLE_DBC, g_dbc);
        fetch_bound("fetch_bound_nocache", want, rows_yard);
        SQLDisconnect(g_dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, g_dbc);
        g_dbc = cached;
    }
    if (wanted(workloads, "fetch_array"))
        fetch_array(want, rows_yard);
    if (wanted(workloads, "fetch_getdata"))
        fetch_getdata(want, rows_yard);
    if (wanted(workloads, "fetch_blob"))
        fetch_blob(run_mariadb("SELECT data FROM blob_rows ORDER BY id;\n", batch));
    if (wanted(workloads, "roundtrip")) {
        std::string many;
        for (int i = 0; i < 20000; i++)
            many += "SELECT 1;\n";
        roundtrip(run_mariadb(many, batch), 20000);
    }
    if (wanted(workloads, "fetch_prepared"))
        fetch_prepared(want, rows_yard);
    if (wanted(workloads, "connect"))
        connect_many(500);
    if (wanted(workloads, "insert_prepared") || wanted(workloads, "insert_array")) {
        /* the driver first, so the yardstick's input is not part of its peak memory */
        measure prepared_m, array_m;
        if (wanted(workloads, "insert_prepared"))
            prepared_m = insert_prepared(100000);
        if (wanted(workloads, "insert_array"))
            array_m = insert_array(100000);
        std::string many = "SET autocommit=0;\nTRUNCATE TABLE insert_rows;\n";
        insert_row r;
        for (int i = 0; i < 100000; i++) {
            make_row(i, r);
            char line[256];
            snprintf(line, sizeof line,
                     "INSERT INTO insert_rows (i, b, v, d, dt, m) VALUES (%d, %lld, '%s', %.17g, "
                     "'%04d-%02d-%02d %02d:%02d:%02d', %s);\n",
                     r.i, (long long)r.b, r.v, r.d, r.ts.year, r.ts.month, r.ts.day, r.ts.hour,
                     r.ts.minute, r.ts.second, r.m);
            many += line;
        }
        many += "COMMIT;\n";
        measure yard = run_mariadb(many, batch);
        measure floor, *fp = nullptr;
        if (!g_raw.empty()) {
            floor = floor_insert(100000);
            fp = &floor;
        }
        if (wanted(workloads, "insert_prepared"))
            report("insert_prepared", 100000, prepared_m, &yard, fp);
        if (wanted(workloads, "insert_array"))
            report("insert_array", 100000, array_m, &yard, fp);
    }
    if (wanted(workloads, "insert_array_errors"))
        insert_array_errors(100000);
    if (wanted(workloads, "prepared_select")) {
        std::string many;
        for (int i = 1; i <= 20000; i++)
            many += "SELECT b FROM fetch_rows WHERE i = " + std::to_string(i) + ";\n";
        prepared_select(run_mariadb(many, batch), 20000);
    }
    SQLDisconnect(g_dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, g_dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, g_env);
    return 0;
}

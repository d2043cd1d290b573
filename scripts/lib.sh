# shellcheck shell=bash
# Helpers shared by the project's scripts (test.sh, demo.sh) and the CTest
# server fixture: package installation, building, and a private MariaDB with
# its own TLS material and private ODBC ini files.  Sourced, never run.
# Every name is prefixed qv_ / QV_ so sourcing scripts keep their namespace.

QV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QV_JOBS=${QV_JOBS:-2}

# What a fresh Debian 12 machine needs to build, test and demonstrate the
# driver.  dpkg names, checked one by one so an installed machine pays nothing.
QV_PACKAGES=(cmake g++ make pkg-config libssl-dev zlib1g-dev unixodbc
    unixodbc-dev odbcinst libgtest-dev googletest mariadb-server
    mariadb-client openssl python3-pyodbc libkrb5-dev qtbase5-dev clang
    libclang-rt-14-dev libsodium-dev krb5-kdc krb5-admin-server krb5-user
    mariadb-plugin-gssapi-server libdbi-perl libdbd-odbc-perl php-cli php-odbc)
# bench/run.sh reads the clients' peak memory through /usr/bin/time.
QV_PACKAGES+=(time)

# The names the driver is registered and tested under.
QV_DRIVER_NAME="Quorvane MySQL ODBC Driver"
QV_DSN=qvtest
QV_TEST_DATABASE=qvtest
QV_TEST_USER=qvuser
# No ';', '{' or '}' so it can stand unbraced in a connection string.
QV_TEST_PASSWORD='qv-Secret_42'

qv_log() { printf '%s: %s\n' "${QV_PROG:-qv}" "$*" >&2; }
qv_die() { qv_log "error: $*"; exit 1; }

# ---------------------------------------------------------------- packages

# Prints the packages of QV_PACKAGES that dpkg does not report as installed.
qv_missing_packages() {
    local installed
    installed=$(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' \
                "${QV_PACKAGES[@]}" 2>/dev/null | awk '$2 == "ii" { print $1 }')
    local p
    for p in "${QV_PACKAGES[@]}"; do
        grep -qxF "$p" <<<"$installed" || printf '%s\n' "$p"
    done
}

# Installs what is missing; a machine that has everything makes no apt call.
qv_install_packages() {
    if ! command -v dpkg-query >/dev/null; then
        qv_log "no dpkg here: not installing packages, assuming the tools exist"
        return 0
    fi
    local missing
    mapfile -t missing < <(qv_missing_packages)
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        qv_die "missing packages (run as root to install): ${missing[*]}"
    fi
    qv_log "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q || qv_die "apt-get update failed"
    apt-get install -y -q --no-install-recommends "${missing[@]}" \
        || qv_die "apt-get install failed"
}

# ---------------------------------------------------------------- building

# qv_build DIR [cmake options...]: configures DIR from the source tree (once;
# later calls only rebuild) and builds it.
qv_build() {
    local dir=$1; shift
    mkdir -p "$dir" || qv_die "cannot create $dir"
    cmake -S "$QV_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir/configure.log" 2>&1 \
        || { cat "$dir/configure.log" >&2; qv_die "configuring $dir failed"; }
    cmake --build "$dir" -j "$QV_JOBS" || qv_die "building $dir failed"
}

# ---------------------------------------------------------------- server
#
# A server directory holds everything of one private server:
#   my.cnf          server and root-client options (the only option file read)
#   certs/          CA, server and client certificates made for this run
#   data/           the data directory, with the unix socket in it
#   tmp/            the server's tmpdir
#   server.pid      the pid of the running server (QV_PID)
#   mariadbd.log    the server's error log
#   odbc/           private odbcinst.ini and odbc.ini (qv_write_odbc_ini)
#   server.env      KEY=value lines for tests; written last, so its presence
#                   means the server is up and seeded

# Kernel-chosen free port on 127.0.0.1.  Another process may take it before
# the server binds; qv_server_start retries with a fresh port when that happens.
qv_free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# True when PID is a mariadbd started with this server directory's my.cnf, so
# a pid recycled by an unrelated process is never signalled.  Builtins only:
# qv_server_pids runs it for every process.
qv_is_our_server() {
    local pid=$1 dir=$2 args=()
    [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
    mapfile -d '' args <"/proc/$pid/cmdline" 2>/dev/null || return 1
    [ ${#args[@]} -ge 2 ] && [[ ${args[0]} == *mariadbd ]] &&
        [ "${args[1]}" = "--defaults-file=$dir/my.cnf" ]
}

# Pids of the servers started with DIR's my.cnf, found among all processes
# rather than through a pid file, so a run that was killed before it wrote
# or after it lost its pid file leaves no server behind.
qv_server_pids() {
    local dir=$1 p
    for p in /proc/[0-9]*; do
        p=${p#/proc/}
        qv_is_our_server "$p" "$dir" && echo "$p"
    done
}

# qv_server_stop DIR: stops the servers of DIR if any run (also one left
# behind by an aborted run) and removes its env file.  Safe to call at any
# time.
qv_server_stop() {
    local dir pids pid i
    [ -d "$1" ] || return 0
    dir=$(cd "$1" && pwd -P) || return 1
    rm -f "$dir/server.env"
    mapfile -t pids < <(qv_server_pids "$dir")
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
        # A clean shutdown takes well under a second; give it 30 s before
        # killing, since a killed server only costs us its data directory.
        for ((i = 0; i < 300; i++)); do
            qv_is_our_server "$pid" "$dir" || break
            sleep 0.1
        done
        if qv_is_our_server "$pid" "$dir"; then
            qv_log "server $pid did not stop in 30 s: killing it"
            kill -KILL "$pid" 2>/dev/null
            for ((i = 0; i < 50; i++)); do
                qv_is_our_server "$pid" "$dir" || break
                sleep 0.1
            done
        fi
    done
    rm -f "$dir/server.pid"
}

# Makes a CA, a server certificate for 127.0.0.1/localhost and a client
# certificate, all signed by that CA.  Fresh for every start: cheap, and no
# expired or mismatched leftovers.
qv_make_certs() {
    local c=$1
    rm -rf "$c" && mkdir -p "$c" || return 1
    (
        cd "$c" || exit 1
        openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -sha256 \
            -subj "/CN=qvmysql test CA" -keyout ca-key.pem -out ca-cert.pem &&
        openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" \
            -keyout server-key.pem -out server-req.pem &&
        printf '%s\n' "subjectAltName=IP:127.0.0.1,DNS:localhost" \
            "basicConstraints=CA:FALSE" "extendedKeyUsage=serverAuth" >server.ext &&
        openssl x509 -req -in server-req.pem -CA ca-cert.pem -CAkey ca-key.pem \
            -set_serial 2 -days 3650 -sha256 -extfile server.ext -out server-cert.pem &&
        openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=$QV_TEST_USER" \
            -keyout client-key.pem -out client-req.pem &&
        printf '%s\n' "basicConstraints=CA:FALSE" "extendedKeyUsage=clientAuth" >client.ext &&
        openssl x509 -req -in client-req.pem -CA ca-cert.pem -CAkey ca-key.pem \
            -set_serial 3 -days 3650 -sha256 -extfile client.ext -out client-cert.pem
    ) >"$c/openssl.log" 2>&1 || { cat "$c/openssl.log" >&2; return 1; }
}

# The server's options.  Small buffers and no durability: this server lives
# for one test run, and a small footprint starts fast next to a second one.
qv_write_server_cnf() {
    local dir=$1 sock=$2
    cat >"$dir/my.cnf" <<EOF
# Private test server; written by scripts/lib.sh on every start.
[client]
user=root
socket=$sock
# Seed files are UTF-8 whatever the caller's locale.
default-character-set=utf8mb4

[mariadbd]
user=root
datadir=$dir/data
tmpdir=$dir/tmp
socket=$sock
pid-file=$dir/data/mariadbd.pid
log-error=$dir/mariadbd.log
bind-address=127.0.0.1
skip-name-resolve
local-infile=ON
ssl-ca=$dir/certs/ca-cert.pem
ssl-cert=$dir/certs/server-cert.pem
ssl-key=$dir/certs/server-key.pem
character-set-server=utf8mb4
collation-server=utf8mb4_general_ci
max-connections=200
# A limit, not a buffer: lets tests send packets past the 16 MB frame size.
max-allowed-packet=64M
performance-schema=OFF
skip-log-bin
key-buffer-size=1M
innodb-buffer-pool-size=32M
innodb-log-file-size=16M
innodb-log-buffer-size=2M
innodb-flush-log-at-trx-commit=0
innodb-doublewrite=0
# Native AIO contexts are a machine-wide budget that two servers (and the
# system's own) can exhaust; simulated AIO never fails to start.
innodb-use-native-aio=0
EOF
}

# Runs SQL from stdin as root through the unix socket.
qv_server_sql() {
    local dir=$1; shift
    mariadb --defaults-file="$dir/my.cnf" --batch --skip-column-names "$@"
}

# Starts mariadbd on PORT and waits until it answers.  Returns 0 when ready,
# 2 when the port was taken (worth a retry), 1 on any other failure.
qv_server_launch() {
    local dir=$1 port=$2; shift 2
    : >"$dir/mariadbd.log"
    mariadbd --defaults-file="$dir/my.cnf" --port="$port" "$@" </dev/null >>"$dir/mariadbd.log" 2>&1 &
    local pid=$! i
    echo "$pid" >"$dir/server.pid"
    # Polls at 0.1 s: startup takes about a second, a failed start ends the
    # process, and 60 s covers a loaded machine.
    for ((i = 0; i < 600; i++)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid" 2>/dev/null
            rm -f "$dir/server.pid"
            grep -qiE "address already in use|bind on tcp/ip port" "$dir/mariadbd.log" && return 2
            return 1
        fi
        if mariadb-admin --defaults-file="$dir/my.cnf" --connect-timeout=2 ping >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.1
    done
    qv_log "server did not answer within 60 s"
    qv_server_stop "$dir"
    return 1
}

# The test database and user: the user owns the database (routines included)
# and any database named qvtest_*, for tests that need a second catalog.
qv_server_bootstrap() {
    local dir=$1 db=$QV_TEST_DATABASE u=$QV_TEST_USER pw=$QV_TEST_PASSWORD
    qv_server_sql "$dir" <<EOF
DELETE FROM mysql.global_priv WHERE User = '';
FLUSH PRIVILEGES;
CREATE DATABASE \`$db\` CHARACTER SET utf8mb4;
CREATE USER '$u'@'%' IDENTIFIED VIA mysql_native_password USING PASSWORD('$pw');
CREATE USER '$u'@'localhost' IDENTIFIED VIA mysql_native_password USING PASSWORD('$pw');
GRANT ALL PRIVILEGES ON \`$db\`.* TO '$u'@'%', '$u'@'localhost';
GRANT ALL PRIVILEGES ON \`${db}\\_%\`.* TO '$u'@'%', '$u'@'localhost';
EOF
}

# qv_server_start DIR [--seed FILE]... [-- mariadbd options...]
# Starts a fresh private server in DIR (stopping a stale one first), creates
# the test database and user, runs the seed files in order and leaves the
# chosen port in DIR/port.  Prints the server log and returns 1 on failure.
qv_server_start() {
    local dir=$1; shift
    local seeds=() extra=()
    while [ $# -gt 0 ]; do
        case $1 in
            --seed) seeds+=("$2"); shift 2 ;;
            --) shift; extra=("$@"); break ;;
            *) qv_log "qv_server_start: unknown argument $1"; return 1 ;;
        esac
    done
    mkdir -p "$dir" && dir=$(cd "$dir" && pwd -P) || return 1

    qv_server_stop "$dir"
    rm -rf "$dir/data" "$dir/tmp" "$dir/odbc" "$dir/port"
    mkdir -p "$dir/data" "$dir/tmp" || return 1

    # A unix socket path is limited to 107 bytes; a deep build tree falls
    # back to a private directory under /tmp.
    local sock=$dir/data/mysqld.sock
    if [ ${#sock} -gt 100 ]; then
        sock=$(mktemp -d /tmp/qvmysql-sock.XXXXXX)/mysqld.sock || return 1
    fi

    qv_make_certs "$dir/certs" || { qv_log "making certificates failed"; return 1; }
    qv_write_server_cnf "$dir" "$sock"

    mariadb-install-db --defaults-file="$dir/my.cnf" --auth-root-authentication-method=socket \
        --skip-test-db --skip-name-resolve >"$dir/install-db.log" 2>&1 \
        || { cat "$dir/install-db.log" >&2; qv_log "mariadb-install-db failed"; return 1; }

    local attempt port rc=1
    for attempt in 1 2 3 4 5; do
        port=$(qv_free_port) || return 1
        qv_server_launch "$dir" "$port" "${extra[@]}"
        rc=$?
        [ $rc -eq 2 ] || break
        qv_log "port $port was taken before the server bound it; trying another"
    done
    if [ $rc -ne 0 ]; then
        cat "$dir/mariadbd.log" >&2
        qv_log "the server did not start"
        return 1
    fi
    echo "$port" >"$dir/port"

    qv_server_bootstrap "$dir" || { qv_log "creating the test user failed"; qv_server_stop "$dir"; return 1; }
    local f
    for f in "${seeds[@]}"; do
        qv_server_sql "$dir" "$QV_TEST_DATABASE" <"$f" \
            || { qv_log "seed $f failed"; qv_server_stop "$dir"; return 1; }
    done
}

# qv_write_odbc_ini DIR DRIVER_SO [SETUP_SO]: private odbcinst.ini (the driver
# under its registered name) and odbc.ini (the test DSN, and DSN_uid written
# with UID, PWD and DB) in DIR/odbc.  Point
# unixODBC at them with ODBCSYSINI=DIR/odbc and ODBCINI=DIR/odbc/odbc.ini.
qv_write_odbc_ini() {
    local dir=$1 driver=$2 setup=${3:-}
    local port
    port=$(<"$dir/port") || return 1
    mkdir -p "$dir/odbc" || return 1
    {
        echo "[$QV_DRIVER_NAME]"
        echo "Description = Quorvane ODBC driver for MySQL-protocol servers"
        echo "Driver = $driver"
        [ -n "$setup" ] && echo "Setup = $setup"
        # Keeps the driver mapped after the last connection closes, so leak
        # reports can still name its frames.
        echo "DontDLClose = 1"
    } >"$dir/odbc/odbcinst.ini"
    cat >"$dir/odbc/odbc.ini" <<EOF
[$QV_DSN]
Description = qvmysql test server
Driver = $QV_DRIVER_NAME
Server = 127.0.0.1
Port = $port
User = $QV_TEST_USER
Password = $QV_TEST_PASSWORD
Database = $QV_TEST_DATABASE

[${QV_DSN}_uid]
Description = the same server, with the keys unixODBC's documentation writes
Driver = $QV_DRIVER_NAME
Server = 127.0.0.1
Port = $port
UID = $QV_TEST_USER
PWD = $QV_TEST_PASSWORD
DB = $QV_TEST_DATABASE
EOF
}

# qv_write_env DIR: the KEY=value file tests read (no quoting: a value runs
# to the end of its line).  Written to a temporary name and renamed, so a
# reader never sees half of it.
qv_write_env() {
    local dir=$1 c=$1/certs
    local sock version
    sock=$(sed -n 's/^socket=//p' "$dir/my.cnf" | head -n 1)
    version=$(qv_server_sql "$dir" -e 'SELECT VERSION()') || return 1
    cat >"$dir/server.env.tmp" <<EOF
QV_HOST=127.0.0.1
QV_PORT=$(<"$dir/port")
QV_USER=$QV_TEST_USER
QV_PASSWORD=$QV_TEST_PASSWORD
QV_DATABASE=$QV_TEST_DATABASE
QV_SOCKET=$sock
QV_SSL_CA=$c/ca-cert.pem
QV_SSL_SERVER_CERT=$c/server-cert.pem
QV_SSL_SERVER_KEY=$c/server-key.pem
QV_SSL_CLIENT_CERT=$c/client-cert.pem
QV_SSL_CLIENT_KEY=$c/client-key.pem
QV_PID=$(<"$dir/server.pid")
QV_DATADIR=$dir/data
QV_SERVER_DIR=$dir
QV_SERVER_VERSION=$version
QV_CLIENT_CNF=$dir/my.cnf
QV_DRIVER_NAME=$QV_DRIVER_NAME
QV_DSN=$QV_DSN
QV_ODBCSYSINI=$dir/odbc
QV_ODBCINI=$dir/odbc/odbc.ini
EOF
    mv "$dir/server.env.tmp" "$dir/server.env"
}

# qv_env_get FILE KEY: prints KEY's value from an env file.
qv_env_get() {
    sed -n "s/^$2=//p" "$1" | head -n 1
}

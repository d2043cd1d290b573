#!/bin/bash
# Installs the driver (and the setup library when it was built) into
# PREFIX/<libdir>/odbc with its README and odbcinst.ini template in
# PREFIX/share/doc/qvmysql, and registers it with unixODBC as
# "Quorvane MySQL ODBC Driver" (odbcinst -i -d).  Running it again refreshes
# the entry without counting it twice.  Honours ODBCSYSINI, so a private
# odbcinst.ini can stand in for /etc/odbcinst.ini.
#
# Usage: scripts/install.sh [--prefix DIR] [--no-register]
#                           [--build-dir DIR] [--no-build]
#   --prefix DIR     install under DIR (default /usr/local)
#   --no-register    install the files only
#   --build-dir DIR  the build tree to install from (default build/); it is
#                    configured and built first when needed
#   --no-build       install what the build tree holds, without building
set -u -o pipefail
QV_PROG=install
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" || exit 1
source "$QV_ROOT/packaging/odbc_register.sh" || exit 1

usage() { qv_die "usage: $0 [--prefix DIR] [--no-register] [--build-dir DIR] [--no-build]"; }
prefix=/usr/local build=$QV_ROOT/build register=1 do_build=1
while [ $# -gt 0 ]; do
    case $1 in
        --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift 2 ;;
        --build-dir) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
        --no-register) register=0; shift ;;
        --no-build) do_build=0; shift ;;
        *) usage ;;
    esac
done
prefix=$(realpath -m -- "$prefix") || qv_die "bad prefix $prefix"
command -v odbcinst >/dev/null || [ $register -eq 0 ] ||
    qv_die "odbcinst not found (Debian package odbcinst), or use --no-register"

if [ ! -f "$build/CMakeCache.txt" ]; then
    [ $do_build -eq 1 ] || qv_die "$build is not a configured build tree"
    qv_build "$build" -DQV_SANITIZE=OFF
elif [ $do_build -eq 1 ]; then
    cmake --build "$build" -j "$QV_JOBS" || qv_die "building $build failed"
fi

cmake --install "$build" --prefix "$prefix" >"$build/install.log" 2>&1 ||
    { cat "$build/install.log" >&2; qv_die "installing into $prefix failed"; }

# Where the rules put the libraries: <libdir>/odbc under the prefix.
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$libdir" ] || qv_die "no CMAKE_INSTALL_LIBDIR in $build/CMakeCache.txt"
case $libdir in
    /*) odbc_dir=$libdir/odbc ;;
    *) odbc_dir=$prefix/$libdir/odbc ;;
esac
driver=$odbc_dir/libqvmysql.so
template=$prefix/share/doc/qvmysql/odbcinst.ini
[ -f "$driver" ] && [ -f "$template" ] || qv_die "the install left no $driver or $template"
qv_log "installed $driver"
[ -f "$odbc_dir/libqvmysqlS.so" ] && qv_log "installed $odbc_dir/libqvmysqlS.so"

if [ $register -eq 1 ]; then
    qv_odbc_register "$QV_DRIVER_NAME" "$driver" "$template" ||
        qv_die "odbcinst could not register the driver"
    qv_log "registered \"$QV_DRIVER_NAME\" in $(odbcinst -j | sed -n 's/^DRIVERS[. ]*: //p')"
fi

#!/bin/bash
# Installs what the R client test (tests/clients/r_client.sh) needs: R and
# DBI from Debian, the odbc package's Debian-packaged dependencies, and the
# odbc package itself built from CRAN's source (Debian has no r-cran-odbc)
# into a library outside the clone, so it is built once per machine.
#
# Usage: scripts/r_odbc.sh [LIBRARY]   (default: $QV_R_LIBS or /var/cache/qvmysql/R)
# Exits 0 when odbc loads afterwards, 1 when it could not be installed (no
# network to CRAN, or the build failed); the test then skips.
set -u -o pipefail
QV_PROG=r_odbc
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" || exit 1
lib=${1:-${QV_R_LIBS:-/var/cache/qvmysql/R}}
repo=${QV_CRAN:-https://cloud.r-project.org}

packages=(r-base-core r-base-dev r-cran-dbi r-cran-rcpp r-cran-blob r-cran-bit64 r-cran-hms
          r-cran-rlang r-cran-cli r-cran-lifecycle unixodbc-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    qv_log "installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" \
        || qv_die "apt-get install failed"
fi

loads() { R_LIBS_USER=$lib Rscript -e 'quit(status = if (requireNamespace("odbc", quietly = TRUE)) 0 else 3)' >/dev/null 2>&1; }
if loads; then
    qv_log "odbc is already installed in $lib"
    exit 0
fi
mkdir -p "$lib" || qv_die "cannot create $lib"
qv_log "building odbc from $repo into $lib (several minutes on two cores)"
start=$(date +%s)
MAKEFLAGS=-j2 Rscript -e "install.packages('odbc', lib = '$lib', repos = '$repo', dependencies = c('Depends', 'Imports', 'LinkingTo'))" \
    || true
if loads; then
    qv_log "odbc installed in $(( $(date +%s) - start )) s"
    exit 0
fi
qv_log "odbc could not be installed (no access to $repo, or the build failed); the R client test will skip"
exit 1

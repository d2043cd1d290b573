#!/bin/bash
# Runs r_client.R when R can reach the driver through DBI and the odbc
# package; otherwise skips (exit 77, CTest's SKIP_RETURN_CODE) and says why.
#
# Debian has r-base-core and r-cran-dbi but no r-cran-odbc: the odbc package
# is built from its source by scripts/r_odbc.sh into a library outside the
# clone (QV_R_LIBS, default /var/cache/qvmysql/R), once per machine.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lib=${QV_R_LIBS:-/var/cache/qvmysql/R}

skip() {
    echo "SKIP: $*"
    exit 77
}

command -v Rscript >/dev/null || skip "Rscript is not installed (Debian r-base-core; scripts/r_odbc.sh installs it)"
export R_LIBS_USER=$lib
Rscript -e 'quit(status = if (requireNamespace("DBI", quietly = TRUE)) 0 else 3)' >/dev/null 2>&1 \
    || skip "the R package DBI is not installed (Debian r-cran-dbi; scripts/r_odbc.sh installs it)"
Rscript -e 'quit(status = if (requireNamespace("odbc", quietly = TRUE)) 0 else 3)' >/dev/null 2>&1 \
    || skip "the R package odbc is not installed in $lib: Debian has no r-cran-odbc, and scripts/r_odbc.sh builds it from CRAN's source, which this machine could not do (no CRAN access, or the build failed)"
exec Rscript "$here/r_client.R"

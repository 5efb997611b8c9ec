#!/usr/bin/env bash
# Builds and runs the table report benchmark: bench/stats/run.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=${1:-build}
"$root/scripts/build.sh" "$dir" >/dev/null
# The ODBC driver "SQL Server" that the build registers for the tests.
ODBCSYSINI="$root/$dir/tests/odbc" exec "$root/$dir/bin/stats_report_bench"

#!/usr/bin/env bash
# Registers FreeTDS's ODBC driver under the name "SQL Server", system-wide,
# unless a driver of that name (Microsoft's, say) is registered already.
set -euo pipefail
if odbcinst -q -d -n "SQL Server" >/dev/null 2>&1; then
    exit 0
fi
lib=$(dpkg -L tdsodbc 2>/dev/null | grep '/libtdsodbc\.so$' | head -n 1)
if [ -z "$lib" ]; then
    echo "setup: FreeTDS ODBC driver (tdsodbc) not found" >&2
    exit 1
fi
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
printf '[SQL Server]\nDescription=FreeTDS driver for Microsoft SQL Server\nDriver=%s\nUsageCount=1\n' "$lib" >"$tmp"
run() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
run odbcinst -i -d -f "$tmp" >/dev/null
echo "setup: registered the ODBC driver \"SQL Server\" ($lib)"

#!/usr/bin/env bash
# Installs the npm packages the tests use (the tedious TDS client) into
# .deps/, which git ignores. Quick when they are there already.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tedious_version=18.6.1
if [ -f "$root/.deps/node_modules/tedious/package.json" ] &&
   grep -q "\"version\": \"$tedious_version\"" "$root/.deps/node_modules/tedious/package.json"; then
    exit 0
fi
if ! command -v npm >/dev/null; then
    echo "setup: npm not found; tests that use tedious will be skipped" >&2
    exit 0
fi
echo "setup: installing tedious $tedious_version into .deps/"
npm install --prefix "$root/.deps" --no-audit --no-fund --loglevel=error "tedious@$tedious_version" >/dev/null

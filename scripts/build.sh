#!/usr/bin/env bash
# build.sh <dir> [cmake options...]: configures and builds with Ninja. The
# options count on the first configure; later runs keep the cache. Configuring
# every time picks up subsystem folders that appeared since the last run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
if [ ! -f "$root/$dir/build.ninja" ]; then
    cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
else
    cmake -S "$root" -B "$root/$dir" >/dev/null
fi
cmake --build "$root/$dir" -j "$(nproc)"

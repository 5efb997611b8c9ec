#!/usr/bin/env bash
# screenshot-preflight.sh [folder]: on a virtual display, against the
# stand-in, a GBK script dropped (preflight-gbk.png) and run
# (preflight-gbk-run.png), a stopped run dropped again with the question
# where to go on (preflight-resume.png) and the run that goes on
# (preflight-resumed.png); saved to docs/ or the given folder. Needs xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs}")
command -v xvfb-run >/dev/null || { echo "screenshot-preflight: xvfb-run is missing (apt-get install xvfb)" >&2; exit 1; }
"$root/scripts/build.sh" build >/dev/null
mkdir -p "$out"
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR=$runtime QUILL_BIN_DIR="$root/build/bin" \
    xvfb-run -a -s "-screen 0 1280x800x24" "$root/build/tests/preflight_shot" "$out"

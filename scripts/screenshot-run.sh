#!/usr/bin/env bash
# screenshot-run.sh [progress.png] [errors.png]: a long script run on a
# virtual display, pictured while under way (progress and remaining time)
# and after it (the error list open), saved to docs/run-progress.png and
# docs/error-list.png or the given files. Needs xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
progress=$(realpath -m "${1:-$root/docs/run-progress.png}")
errors=$(realpath -m "${2:-$root/docs/error-list.png}")
command -v xvfb-run >/dev/null || { echo "screenshot-run: xvfb-run is missing (apt-get install xvfb)" >&2; exit 1; }
"$root/scripts/build.sh" build >/dev/null
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR=$runtime xvfb-run -a -s "-screen 0 1280x800x24" \
    "$root/build/tests/run_watch_shot" "$progress" "$errors"

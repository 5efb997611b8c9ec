#!/usr/bin/env bash
# screenshot-log.sh [out.png]: the window with a long log on a virtual
# display (scrolled to the middle, a selection, the find bar open), saved to
# docs/log-box.png or the given file. Needs xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/log-box.png}")
command -v xvfb-run >/dev/null || { echo "screenshot-log: xvfb-run is missing (apt-get install xvfb)" >&2; exit 1; }
"$root/scripts/build.sh" build >/dev/null
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR=$runtime xvfb-run -a -s "-screen 0 1280x800x24" "$root/build/tests/log_box_shot" "$out"

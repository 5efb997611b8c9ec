#!/usr/bin/env bash
# screenshot.sh [out.png]: builds, starts Quillstep on a virtual display and
# saves its window (client area) to docs/window.png or the given file.
# Needs xvfb and imagemagick.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/window.png}")
for tool in xvfb-run import convert; do
    command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (apt-get install xvfb imagemagick)" >&2; exit 1; }
done
"$root/scripts/build.sh" build >/dev/null

# The window opens centred for its 545 x 390 outer size; with no window
# manager its 539 x 361 client area starts right there.
width=1280 height=800
x=$(((width - 545) / 2)) y=$(((height - 390) / 2))
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR=$runtime xvfb-run -a -s "-screen 0 ${width}x${height}x24" bash -c '
    "$1" & app=$!
    sleep 3
    import -window root "$2.full.png"
    kill $app' _ "$root/build/bin/quillstep" "$runtime/shot"
convert "$runtime/shot.full.png" -crop "539x361+$x+$y" +repage "$out"
echo "screenshot: $out"

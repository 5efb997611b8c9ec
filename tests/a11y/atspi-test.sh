#!/usr/bin/env bash
# Quillstep's window as a screen reader sees it: the program on a virtual
# display, with a D-Bus session and the accessibility bus, read over AT-SPI
# by atspi_check.py.
#
#   atspi-test.sh <quillstep>
#
# Exits 77 (skipped) when the display, the session bus or the accessibility
# bus cannot be had here.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$1

skip() {
    echo "SKIPPED: $*"
    exit 77
}
python=/usr/bin/python3
[ -x "$python" ] && "$python" -c 'import pyatspi' 2>/dev/null ||
    skip "python3-pyatspi is not installed"
command -v xvfb-run >/dev/null || skip "xvfb-run is not installed"
command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed"
launcher=$(command -v at-spi-bus-launcher || echo /usr/libexec/at-spi-bus-launcher)
[ -x "$launcher" ] || skip "at-spi2-core is not installed"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Inside the session: the accessibility bus, then the program, then the check.
cat >"$work/session.sh" <<'SESSION'
set -uo pipefail
launcher=$1 program=$2 python=$3 check=$4 work=$5
"$launcher" --launch-immediately >"$work/launcher.log" 2>&1 &
bus=$!
for _ in $(seq 100); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
        >/dev/null 2>&1 && break
    sleep 0.05
done
if ! dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.a11y.Bus.GetAddress >/dev/null 2>&1; then
    echo "SKIPPED: the accessibility bus did not start: $(cat "$work/launcher.log")"
    exit 77
fi
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_RUNTIME_DIR=$work \
    "$program" >"$work/program.log" 2>&1 &
app=$!
"$python" "$check"
status=$?
kill "$app" "$bus" 2>/dev/null
wait "$app" 2>/dev/null
[ $status -eq 0 ] || cat "$work/program.log"
exit $status
SESSION

xvfb-run -a -s "-screen 0 1024x768x24" \
    dbus-run-session -- bash "$work/session.sh" "$launcher" "$program" "$python" \
    "$here/atspi_check.py" "$work"

#!/usr/bin/env bash
# The Debian package from build to removal: builds it from this build tree,
# validates its desktop entry and metainfo, installs it into an empty root
# with dpkg --root, runs the installed programs, and removes it again, once
# on a machine without an ODBC driver "SQL Server" and once on one where
# another driver holds that name.
#
#   package-test.sh <build dir>
#
# Exits 77 (skipped) when the machine lacks what it needs.
set -euo pipefail
build=$(cd "$1" && pwd)
id=org.quillstep.Quillstep

skip() {
    echo "SKIPPED: $*"
    exit 77
}
for tool in dpkg dpkg-deb dpkg-shlibdeps cpack desktop-file-validate appstreamcli odbcinst; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
# dpkg installs as root only, even into a root of its own.
[ "$(id -u)" -eq 0 ] || skip "installing with dpkg --root needs root"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
# Runs a command quietly; shows its output when it fails.
quietly() {
    local log=$work/command.log
    "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "$*"; }
}

# --- The package builds ----------------------------------------------------
quietly cpack --config "$build/CPackConfig.cmake" -B "$work/package"
debs=("$work"/package/quillstep_*.deb)
[ -f "${debs[0]}" ] || fail "cpack wrote no package"
deb=${debs[0]}
depends=$(dpkg-deb -f "$deb" Depends)
for needed in tdsodbc unixodbc qt6-qpa-plugins qt6-translations-l10n fonts-wqy-microhei libqt6widgets6 libsybdb5; do
    grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

# --- Installing into an empty root -----------------------------------------
new_root() {
    root=$work/root-$1
    mkdir -p "$root"/var/lib/dpkg/{info,updates,triggers} "$root/etc"
    touch "$root"/var/lib/dpkg/{status,available}
    # As unixODBC leaves it: the file exists, with whatever drivers are there.
    printf '%s' "$2" >"$root/etc/odbcinst.ini"
}
# Maintainer scripts run outside the root, told where it is by DPKG_ROOT;
# the root has none of the package's dependencies.
dpkg_in() { quietly dpkg --root="$root" --force-script-chrootless --force-depends "$@"; }

# Everything in the root but dpkg's own records.
files_in_root() { (cd "$root" && find . -mindepth 1 ! -path './var/lib/dpkg*' | sort); }

new_root plain ""
before=$(files_in_root)
dpkg_in -i "$deb"

for f in usr/bin/quillstep usr/bin/quill-sqlcmd usr/libexec/quillstep/quill-cmd \
    usr/share/man/man1/quill-sqlcmd.1.gz usr/share/man/man1/quillstep.1.gz \
    usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/$id.svg; do
    [ -e "$root/$f" ] || fail "/$f is not installed"
done
for size in 16 22 24 32 48 64 128 256; do
    [ -e "$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" ] || fail "no ${size}px icon"
done

# --- The menu entry and the software-centre data ---------------------------
desktop=$root/usr/share/applications/$id.desktop
quietly desktop-file-validate "$desktop"
quietly appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"
grep -qx "Icon=$id" "$desktop" || fail "the menu entry names another icon"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$root/usr/bin/$exec_name" ] || fail "the menu entry starts $exec_name, which is not installed"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
    "$root/usr/share/metainfo/$id.metainfo.xml" || fail "the metainfo names another menu entry"

# --- The ODBC driver is registered, as FreeTDS's ---------------------------
grep -qx '\[SQL Server\]' "$root/etc/odbcinst.ini" || fail "no driver \"SQL Server\" after install"
grep -q '^Driver=.*/libtdsodbc\.so$' "$root/etc/odbcinst.ini" || fail "\"SQL Server\" is not FreeTDS"

# --- The installed programs find each other --------------------------------
# The window, started from /usr/bin, finds its interpreter and says nothing
# on standard error, not even about a missing XDG_RUNTIME_DIR. It is up once
# its channel for later starts is open.
mkdir -p "$work/tmp"
env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/quillstep" 2>"$work/quillstep.err" &
window=$!
pids+=("$window")
channel="@$work/tmp/runtime-$(id -un)/Quillstep.lock"
for _ in $(seq 200); do
    grep -qF "$channel" /proc/net/unix && break
    kill -0 "$window" 2>/dev/null || break
    sleep 0.05
done
grep -qF "$channel" /proc/net/unix || fail "the installed quillstep did not come up"
kill "$window"
wait "$window" 2>/dev/null || true
[ ! -s "$work/quillstep.err" ] || fail "quillstep wrote to standard error: $(cat "$work/quillstep.err")"

# The interpreter runs "sqlcmd" with the installed quill-sqlcmd when no
# other sqlcmd is on the PATH, and the client reaches a server.
mkfifo "$work/port"
"$build/bin/quill-standin" --port 0 --password Pkg-Test-1 >"$work/port" &
pids+=("$!")
exec 3<"$work/port"
read -r -t 10 port <&3 || fail "the stand-in did not start"
mkdir "$work/nothing-on-path"
output=$(printf 'sqlcmd -S 127.0.0.1,%s -U sa -P Pkg-Test-1 -h -1 -Q "select @@version"\r\n' \
    "$port" | env PATH="$work/nothing-on-path" "$root/usr/libexec/quillstep/quill-cmd" 2>&1)
grep -q "SQL Server stand-in" <<<"$output" || fail "the installed client did not answer: $output"

# --- Removal leaves nothing of ours ----------------------------------------
dpkg_in -r quillstep
[ "$(files_in_root)" = "$before" ] || fail "left behind: $(diff <(echo "$before") <(files_in_root) || true)"
[ ! -s "$root/etc/odbcinst.ini" ] || fail "odbcinst.ini kept: $(cat "$root/etc/odbcinst.ini")"
dpkg_in -P quillstep

# --- Another driver named "SQL Server" stays as it is ----------------------
theirs=$'[SQL Server]\nDescription=Microsoft ODBC Driver 18 for SQL Server\nDriver=/opt/microsoft/msodbcsql18/lib64/libmsodbcsql-18.3.so.2.1\nUsageCount=1\n'
new_root theirs "$theirs"
before=$(files_in_root)
dpkg_in -i "$deb"
[ "$(cat "$root/etc/odbcinst.ini")"$'\n' = "$theirs" ] || fail "install changed another driver: $(cat "$root/etc/odbcinst.ini")"
dpkg_in -r quillstep
[ "$(cat "$root/etc/odbcinst.ini")"$'\n' = "$theirs" ] || fail "removal changed another driver: $(cat "$root/etc/odbcinst.ini")"
[ "$(files_in_root)" = "$before" ] || fail "left behind: $(diff <(echo "$before") <(files_in_root) || true)"

echo "package: built, validated, installed, run and removed cleanly"

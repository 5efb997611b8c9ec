#!/usr/bin/env bash
# quill-sqlcmd against FreeTDS's bsqldb and fisql (freetds-bin) and npm's
# sqlcmdjs (when it runs here), on the same generated scripts, each run on a
# fresh quill-standin on loopback. quill+status is quill-sqlcmd as the window
# runs it (status records and journal), for their cost. Prints wall time,
# peak RSS and the ratio to the fastest peer, then the splitter's own
# throughput and the client's peak RSS on a large script.
#
#   bench/sqlcmd/run.sh [--rows N] [--large-mb N] [--timeout S] [--only quill,bsqldb,...]
#
# Defaults: 1,000,000 rows, a 2048 MB large-batch script, 1200 s per run.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
rows=1000000
large_mb=2048
timeout_s=1200
only=""
while [ $# -gt 0 ]; do
    case "$1" in
        --rows) rows=$2; shift ;;
        --large-mb) large_mb=$2; shift ;;
        --timeout) timeout_s=$2; shift ;;
        --only) only=$2; shift ;;
        *) sed -n '2,11p' "$0"; exit 2 ;;
    esac
    shift
done

"$root/scripts/build.sh" build >/dev/null || exit 1
bin=$root/build/bin
standin=${QUILL_STANDIN:-$bin/quill-standin}
password=Bench-Pass-1
work=$(mktemp -d /tmp/quill-sqlcmd-bench.XXXXXX)
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

start_server() {
    "$standin" --port 0 --password "$password" >"$work/server.out" 2>"$work/server.err" &
    server_pid=$!
    for _ in $(seq 100); do
        port=$(head -n 1 "$work/server.out" 2>/dev/null)
        [ -n "$port" ] && return 0
        sleep 0.05
    done
    echo "bench: quill-standin did not start: $(cat "$work/server.err")" >&2
    exit 1
}
stop_server() {
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=""
}

# npm's sqlcmdjs, kept in the git-ignored .deps folder.
sqlcmdjs=$root/.deps/sqlcmdjs/node_modules/.bin/sqlcmd
if [ ! -x "$sqlcmdjs" ] && command -v npm >/dev/null; then
    mkdir -p "$root/.deps/sqlcmdjs"
    npm install --prefix "$root/.deps/sqlcmdjs" --no-audit --no-fund --silent sqlcmdjs@1.5.0 >/dev/null 2>&1
fi

# client_command CLIENT SCRIPT: the command line, reading SCRIPT.
client_command() {
    case "$1" in
        quill-sqlcmd) echo "$bin/quill-sqlcmd -S 127.0.0.1,$port -U sa -P $password -i $2" ;;
        # As the window runs it: status records on descriptor 3 and the journal.
        quill+status) echo "env QUILL_STATUS_FD=3 QUILL_JOURNAL=$work/journal $bin/quill-sqlcmd -S 127.0.0.1,$port -U sa -P $password -i $2" ;;
        bsqldb) echo "bsqldb -S 127.0.0.1:$port -U sa -P $password -i $2" ;;
        fisql) echo "fisql -S 127.0.0.1:$port -U sa -P $password -i $2" ;;
        sqlcmdjs) echo "$sqlcmdjs -s 127.0.0.1 -o $port -u sa -p $password" ;;  # reads stdin
    esac
}

clients=(quill-sqlcmd quill+status bsqldb fisql)
[ -x "$sqlcmdjs" ] && clients+=(sqlcmdjs) || echo "sqlcmdjs: not installed (npm unavailable); skipped"
if [ -n "$only" ]; then
    IFS=, read -r -a clients <<<"$only"
fi

echo "Generating scripts with $rows INSERT rows..."
"$bin/sqlcmd_gen_script" inserts "$work/go1000.sql" "$rows" 1000
"$bin/sqlcmd_gen_script" inserts "$work/go1000-utf16.sql" "$rows" 1000 utf16
"$bin/sqlcmd_gen_script" inserts "$work/go1.sql" "$rows" 1
scripts=(go1000.sql go1000-utf16.sql go1.sql)

# run CLIENT SCRIPT: sets wall, rss (MB), status ("ok" or why not).
run() {
    local client=$1 script=$work/$2 cmd
    start_server
    cmd=$(client_command "$client" "$script")
    local input=/dev/null
    [ "$client" = sqlcmdjs ] && input=$script
    timeout "$timeout_s" /usr/bin/time -f "%e %M" -o "$work/time" $cmd <"$input" >"$work/out" 2>"$work/err" 3>"$work/status"
    local rc=$?
    # GNU time puts "Command exited with non-zero status N" before its figures.
    read -r wall rss_kb < <(tail -n 1 "$work/time" 2>/dev/null) || { wall=0; rss_kb=0; }
    wall=${wall:-0}
    rss=$(( ${rss_kb:-0} / 1024 ))
    local count
    count=$("$bin/quill-sqlcmd" -S "127.0.0.1,$port" -U sa -P "$password" -d QuillBench -h -1 -W \
        -Q "SET NOCOUNT ON SELECT COUNT(*) FROM [dbo].[订单]" 2>/dev/null | tr -d '[:space:]')
    stop_server
    if [ "$rc" = 124 ]; then
        status="timeout after ${timeout_s}s"
    elif [ "$count" != "$rows" ]; then
        status="rows on the server: ${count:-none} (exit $rc: $(grep -m1 -iE 'error|msg' "$work/err" "$work/out" | head -c 120))"
    else
        status=ok
    fi
}

declare -A walls rsses statuses
for s in "${scripts[@]}"; do
    for c in "${clients[@]}"; do
        run "$c" "$s"
        walls[$s,$c]=$wall
        rsses[$s,$c]=$rss
        statuses[$s,$c]=$status
        printf '  %-18s %-13s %8.2f s %6d MB  %s\n' "$s" "$c" "$wall" "$rss" "$status"
    done
done

echo
echo "Ratio: fastest peer's wall time / this client's (above 1: faster than every peer that ran correctly)."
printf '%-18s %-13s %10s %9s %8s  %s\n' script client "wall (s)" "RSS (MB)" ratio status
for s in "${scripts[@]}"; do
    best=""
    for c in "${clients[@]}"; do
        case "$c" in quill*) continue ;; esac
        [ "${statuses[$s,$c]}" = ok ] || continue
        if [ -z "$best" ] || awk "BEGIN{exit !(${walls[$s,$c]} < $best)}"; then best=${walls[$s,$c]}; fi
    done
    for c in "${clients[@]}"; do
        ratio="-"
        if [ -n "$best" ] && [ "${statuses[$s,$c]}" = ok ]; then
            ratio=$(awk "BEGIN{w=${walls[$s,$c]}; printf \"%.2f\", (w > 0 ? $best / w : 0)}")
        fi
        printf '%-18s %-13s %10.2f %9d %8s  %s\n' "$s" "$c" "${walls[$s,$c]}" "${rsses[$s,$c]}" "$ratio" "${statuses[$s,$c]}"
    done
done

echo
"$bin/sqlcmd_split_bench" "$work/go1000.sql" "$work/go1000-utf16.sql"

if [ "$large_mb" -gt 0 ]; then
    echo
    echo "Large script: ${large_mb} MB in batches of 1 MB (quill-sqlcmd only)"
    "$bin/sqlcmd_gen_script" large "$work/large.sql" "$large_mb" 1024
    rm -f "$work/go1000.sql" "$work/go1000-utf16.sql" "$work/go1.sql"
    start_server
    /usr/bin/time -f "%e %M" -o "$work/time" "$bin/quill-sqlcmd" -S "127.0.0.1,$port" -U sa -P "$password" \
        -i "$work/large.sql" >"$work/out" 2>"$work/err"
    rc=$?
    stop_server
    read -r wall rss_kb < <(tail -n 1 "$work/time")
    printf '  large.sql: %.1f s, peak RSS %d MB, exit %d, %d batches reported\n' "$wall" $((rss_kb / 1024)) "$rc" \
        "$(grep -c '^batch ' "$work/out")"
fi

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# The printer application against the filter on the same raster: a 10-page
# A4 600 dpi 8-bit gray PWG raster (the documents of bench/documents/, the
# 10-page job of filter-bench.sh), printed
#   - by the filter under the simulator (as filter-bench.sh runs it: the
#     simulator answers at once and decodes the pages after the filter has
#     exited); time = the filter's own wall time;
#   - by rvt4410lw-printer-app (server) onto the simulator listening on
#     loopback (answering at once, decoding after each job); time = from the
#     Print-Job request sent (image/pwg-raster) to the job seen completed
#     (Get-Job-Attributes every 5 ms);
# each divided by the pages, median over the runs. Also the server's peak
# resident memory (VmHWM of /proc/PID/status) after the jobs.
#
# Usage: bench/app-bench.sh [BUILD_DIR]      (default: build)
#   APP        the application to measure (default: BUILD_DIR/bin/rvt4410lw-printer-app)
#   RUNS       timed runs of each (default 5), after one untimed run of each
#   OUT        where results.txt goes (default out/bench)
#   LOG_LEVEL  the server's log level (default warn, its own default)
#   KEEP=1     keep the work directory (raster, logs, transcripts)
#
# As root, the server, its sub-commands and the simulator run as nobody (the
# server's control socket would otherwise be the system's, in /run).
# Targets: the application within 1.3 x the filter's time per page; the
# server's peak RSS during the 10-page job <= 64 MB.
set -euo pipefail
cd "$(dirname "$0")/.."

die() { echo "app-bench: $*" >&2; exit 1; }

BUILD_DIR=${1:-build}
RUNS=${RUNS:-5}
OUT=${OUT:-out/bench}
LOG_LEVEL=${LOG_LEVEL:-warn}
QUEUE=rvt4410lw
PPD=$BUILD_DIR/ppd/rvt4410lw.ppd
JOB10=(text listing photo text blank listing text photo listing text)
PAGES=${#JOB10[@]}

SIM=$BUILD_DIR/bin/rvt4410lw-sim
FILTER=$BUILD_DIR/bin/printfilter-rvt4410lw
APP=${APP:-$BUILD_DIR/bin/rvt4410lw-printer-app}

[[ $RUNS =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number, not \"$RUNS\""
for f in "$SIM" "$FILTER" "$APP"; do
    [ -x "$f" ] || die "$f not found; build first: cmake --build $BUILD_DIR --target printfilter-rvt4410lw rvt4410lw-sim rvt4410lw-printer-app"
done
[ -f "$PPD" ] || die "$PPD not found; build first"
"$SIM" --help | grep -q -- --decode-after || die "$SIM has no --decode-after; build the simulator of this tree"
command -v gs >/dev/null || die "Ghostscript (gs) is missing; run scripts/install-deps.sh"
command -v python3 >/dev/null || die "python3 is missing"

SIM=$(cd "$(dirname "$SIM")" && pwd)/$(basename "$SIM")
FILTER=$(cd "$(dirname "$FILTER")" && pwd)/$(basename "$FILTER")
APP=$(cd "$(dirname "$APP")" && pwd)/$(basename "$APP")
PPD=$(cd "$(dirname "$PPD")" && pwd)/$(basename "$PPD")
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/app-bench-XXXXXX")
chmod 0755 "$WORK"

SERVER_PID="" LISTEN_PID=""
cleanup() {
    # Only the processes this script started, by their ids.
    if [ -n "$SERVER_PID" ] && kill -0 "$SERVER_PID" 2>/dev/null; then
        kill -TERM "$SERVER_PID" 2>/dev/null || true
        for _ in $(seq 1 100); do kill -0 "$SERVER_PID" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$SERVER_PID" 2>/dev/null || true
    fi
    if [ -n "$LISTEN_PID" ] && kill -0 "$LISTEN_PID" 2>/dev/null; then
        kill -TERM "$LISTEN_PID" 2>/dev/null || true
    fi
    if [ "${KEEP:-0}" = 1 ]; then
        echo "app-bench: work directory kept: $WORK" >&2
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT

# The server and the listening simulator: as nobody when run as root.
APPDIR=$WORK/app
mkdir -m 0755 "$APPDIR" "$WORK/printer"
AS_USER=()
if [ "$(id -u)" = 0 ]; then
    chown nobody:nogroup "$APPDIR" "$WORK/printer"
    AS_USER=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
as_user() { "${AS_USER[@]}" env TMPDIR="$APPDIR" HOME="$APPDIR" PATH=/usr/bin:/bin "$@"; }
# In the background, as the process itself (so that $! is its id): the
# subshell becomes the program.
as_user_bg() {
    local out=$1
    shift
    (exec "${AS_USER[@]}" env TMPDIR="$APPDIR" HOME="$APPDIR" PATH=/usr/bin:/bin "$@" >"$out" 2>&1) &
}

LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)

# --- the raster ---------------------------------------------------------------
# A4 at 600 dpi, one byte of gray per pixel: 4960 x 7016 pixels (595.2 x
# 841.92 points are exactly those pixels), as filter-bench.sh renders it.
RASTER=$WORK/job10.pwg
echo "app-bench: rendering the ${PAGES}-page job (${JOB10[*]}) as PWG raster" >&2
docs=()
for d in "${JOB10[@]}"; do docs+=("bench/documents/$d.ps"); done
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r600 \
   -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
   -dDEVICEWIDTHPOINTS=595.2 -dDEVICEHEIGHTPOINTS=841.92 -dFIXEDMEDIA \
   -sOutputFile="$RASTER" "${docs[@]}" 2>&1 | { grep -v '^INFO:' >&2 || true; }
chmod 0644 "$RASTER"
read -r width height < <(python3 -c '
import struct, sys
d = open(sys.argv[1], "rb").read(1800)
print(*struct.unpack(">II", d[4 + 372:4 + 380]))' "$RASTER")
[ "$width $height" = "4960 7016" ] || die "$RASTER: pages of $width x $height pixels, not 4960 x 7016"

# Pages the printer received in a transcript, and whether the job was clean.
check_transcript() {
    python3 - "$1" "$PAGES" <<'EOF'
import json, sys
t = json.load(open(sys.argv[1]))
pages = [p for p in t.get("pages", []) if not p.get("cancelled")]
sizes = {(p.get("width"), p.get("height")) for p in pages}
if len(pages) != int(sys.argv[2]) or t.get("protocol_errors") or t.get("final_state") != "unlocked":
    sys.exit(f"app-bench: {sys.argv[1]}: {len(pages)} pages, final state {t.get('final_state')}, "
             f"protocol errors {t.get('protocol_errors')}")
print(" ".join(f"{w}x{h}" for w, h in sorted(sizes)))
EOF
}

# --- the filter ---------------------------------------------------------------
# Between the simulator and the filter: keeps argv[0] (the queue), the
# descriptors and the environment, and writes the filter's wall time and peak
# RSS (KB) and processor time (user + system, ms) to the file named in
# chain.conf.
WRAP=$WORK/filter-wrapper
cat >"$WRAP" <<'EOF'
#!/usr/bin/python3
import os, sys, time
filt, queue, out = open(os.path.join(os.path.dirname(__file__), "chain.conf")).read().split("\n")[:3]
t0 = time.perf_counter()
pid = os.posix_spawn(filt, [queue] + sys.argv[1:], os.environ)
_, status, use = os.wait4(pid, 0)
t1 = time.perf_counter()
with open(out, "w") as f:
    f.write(f"{(t1 - t0) * 1000:.3f} {use.ru_maxrss} {(use.ru_utime + use.ru_stime) * 1000:.0f}\n")
sys.exit(os.waitstatus_to_exitcode(status) & 0xff)
EOF
chmod 0755 "$WRAP"

RECORDS=$WORK/records.tsv
: >"$RECORDS"
run_filter() {
    local run=$1 dir=$WORK/filter/run$1
    mkdir -p "$dir"
    printf '%s\n' "$FILTER" "$QUEUE" "$dir/wall" >"$WORK/chain.conf"
    "$SIM" --filter "$WRAP" --ppd "$PPD" --raster "$RASTER" --out "$dir/sim" \
           --no-preview --decode-after --queue "$QUEUE" --job "$((run + 1))" --user bench --title job10 --copies 1 \
           --options "PageSize=A4 MediaType=PLAIN InputSlot=AUTO Duplex=None RVTLScale=100% GammaDarkness=darkness0" \
           >"$dir/sim.out" 2>&1 || { cat "$dir/sim.out" >&2; die "the filter's job did not run clean; see $dir"; }
    local sizes
    sizes=$(check_transcript "$dir/sim/transcript.json")
    read -r ms rss cpu <"$dir/wall"
    if [ "$run" -gt 0 ]; then
        printf 'filter\t%s\t%s\t%s\t%s\t%s\n' "$run" "$ms" "$rss" "$cpu" "$sizes" >>"$RECORDS"
    fi
}

# --- the application ----------------------------------------------------------
CLIENT=$WORK/ipp-client.py
cat >"$CLIENT" <<'EOF'
# Print-Job of a PWG raster, then Get-Job-Attributes every 5 ms until the job
# has ended; prints "milliseconds job-state job-id".
import http.client, struct, sys, time

port, path, document = int(sys.argv[1]), sys.argv[2], sys.argv[3]
uri = f"ipp://127.0.0.1:{port}{path}"

def attr(tag, name, value):
    return struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(value)) + value

def request(op, rid, extra=b""):
    return (struct.pack(">BBHI", 2, 0, op, rid) + b"\x01"
            + attr(0x47, "attributes-charset", b"utf-8")
            + attr(0x48, "attributes-natural-language", b"en")
            + attr(0x45, "printer-uri", uri.encode())
            + attr(0x42, "requesting-user-name", b"bench") + extra + b"\x03")

def parse(body):
    status = struct.unpack(">H", body[2:4])[0]
    values, at, name = {}, 8, ""
    while at < len(body):
        tag = body[at]; at += 1
        if tag == 0x03:
            break
        if tag < 0x10:
            continue
        n = struct.unpack(">H", body[at:at + 2])[0]; at += 2
        if n:
            name = body[at:at + n].decode(); at += n
        v = struct.unpack(">H", body[at:at + 2])[0]; at += 2
        values.setdefault(name, body[at:at + v]); at += v
    return status, values

def call(conn, body):
    conn.request("POST", path, body=body, headers={"Content-Type": "application/ipp"})
    response = conn.getresponse()
    return parse(response.read())

conn = http.client.HTTPConnection("127.0.0.1", port, timeout=300)
data = open(document, "rb").read()
t0 = time.perf_counter()
status, values = call(conn, request(0x0002, 1, attr(0x49, "document-format", b"image/pwg-raster")
                                    + attr(0x42, "job-name", b"job10")) + data)
if status >= 0x0100 or "job-id" not in values:
    sys.exit(f"Print-Job failed: status 0x{status:04x}")
job = struct.unpack(">i", values["job-id"])[0]
state, rid = 0, 2
while state < 7:
    time.sleep(0.005)
    status, values = call(conn, request(0x0009, rid, attr(0x21, "job-id", struct.pack(">i", job))
                                        + attr(0x44, "requested-attributes", b"job-state")))
    rid += 1
    state = struct.unpack(">i", values.get("job-state", b"\0\0\0\0"))[0]
t1 = time.perf_counter()
print(f"{(t1 - t0) * 1000:.3f} {state} {job}")
EOF

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The simulator on loopback: answers at once, decodes each job's pages after it.
as_user_bg "$WORK/listen.out" "$SIM" --listen 127.0.0.1:0 --out "$WORK/printer" --no-preview --decode-after
LISTEN_PID=$!
for _ in $(seq 1 50); do grep -q 'listening on' "$WORK/listen.out" && break; sleep 0.1; done
SIM_PORT=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/listen.out")
[ -n "$SIM_PORT" ] || die "the simulator did not start: $(cat "$WORK/listen.out")"

APP_PORT=$(free_port)
as_user_bg "$APPDIR/server.out" "$APP" server -o listen-hostname=127.0.0.1 -o server-port="$APP_PORT" \
    -o spool-directory="$APPDIR/spool" -o log-file="$APPDIR/app.log" -o log-level="$LOG_LEVEL" \
    -o state-file="$APPDIR/state" -o server-options=no-web-interface
SERVER_PID=$!
for _ in $(seq 1 100); do
    [ -S "$APPDIR/rvt4410lw-printer-app$(as_user id -u).sock" ] && break
    kill -0 "$SERVER_PID" 2>/dev/null || die "the server ended at start-up: $(cat "$APPDIR/server.out")"
    sleep 0.1
done
as_user "$APP" add -d rvt -v "socket://127.0.0.1:$SIM_PORT" -m rvt4410lw >>"$APPDIR/add.out" 2>&1 ||
    die "the application's 'add' failed: $(cat "$APPDIR/add.out")"
APP_NAME=$(basename "$APP")
[ "$(cat "/proc/$SERVER_PID/comm")" = "${APP_NAME:0:15}" ] || die "process $SERVER_PID is not the server"
hwm_kb() { awk '/^VmHWM:/ {print $2}' "/proc/$SERVER_PID/status"; }
# The server's processor time so far (user + system), in ms.
cpu_ms() {
    local stat
    stat=$(cat "/proc/$SERVER_PID/stat")
    stat=${stat##*) }
    echo "$stat" | awk -v hz="$(getconf CLK_TCK)" '{print ($12 + $13) * 1000 / hz}'
}
RSS_IDLE=$(hwm_kb)

app_jobs=0
run_app() {
    local run=$1 result ms state job cpu0
    cpu0=$(cpu_ms)
    result=$(python3 "$CLIENT" "$APP_PORT" /ipp/print/rvt "$RASTER") || die "the client failed: $result"
    read -r ms state job <<<"$result"
    [ "$state" = 9 ] || die "the application's job $job ended in state $state, not completed; see $APPDIR/app.log"
    app_jobs=$((app_jobs + 1))
    # The printer decodes the pages after the job: wait for its transcript,
    # so that the decoding does not overlap the next run.
    local transcript=$WORK/printer/job-$app_jobs/transcript.json
    for _ in $(seq 1 600); do [ -s "$transcript" ] && break; sleep 0.1; done
    [ -s "$transcript" ] || die "no $transcript"
    sleep 0.2
    local sizes
    sizes=$(check_transcript "$transcript")
    if [ "$run" -gt 0 ]; then
        printf 'app\t%s\t%s\t%s\t%s\t%s\n' "$run" "$ms" "$(hwm_kb)" "$(($(cpu_ms) - cpu0))" "$sizes" >>"$RECORDS"
    fi
}

# Run after run, each side in turn, so that a change in the machine's load
# touches both alike; run 0 is untimed (caches, first connection).
for run in $(seq 0 "$RUNS"); do
    echo "app-bench: run $run of $RUNS$([ "$run" = 0 ] && echo ' (untimed)')" >&2
    run_filter "$run"
    run_app "$run"
done
LOAD_END=$(cut -d' ' -f1-3 /proc/loadavg)

COMMIT=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
python3 - "$RECORDS" "$OUT" "$PAGES" "$RSS_IDLE" "$LOAD_START" "$LOAD_END" "$(nproc)" "$COMMIT" "$LOG_LEVEL" <<'PYEOF'
import statistics, sys
records, out, pages, rss_idle, load0, load1, cpus, commit, level = sys.argv[1:]
pages = int(pages)
rows = {"filter": [], "app": []}
sizes = {}
for line in open(records):
    kind, run, ms, kb, cpu, size = line.rstrip("\n").split("\t")
    rows[kind].append((float(ms), int(kb), float(cpu)))
    sizes[kind] = size
f_ms = [r[0] for r in rows["filter"]]
a_ms = [r[0] for r in rows["app"]]
f_cpu = statistics.median(r[2] for r in rows["filter"]) / pages
a_cpu = statistics.median(r[2] for r in rows["app"]) / pages
f_page = statistics.median(f_ms) / pages
a_page = statistics.median(a_ms) / pages
ratio = a_page / f_page
app_rss = max(r[1] for r in rows["app"]) / 1024
filter_rss = max(r[1] for r in rows["filter"]) / 1024
lines = [
    f"app-bench: commit {commit}; {len(a_ms)} timed runs each (medians); {cpus} CPUs; "
    f"load average {load0} at the start, {load1} at the end",
    f"job: {pages} A4 pages, 600 dpi 8-bit gray PWG raster ({sizes.get('filter')} as printed); "
    f"server log level {level}",
    "",
    f"filter      {statistics.median(f_ms):8.0f} ms per job  {f_page:7.1f} ms/page"
    f"  (min-max {min(f_ms):.0f}-{max(f_ms):.0f}); peak RSS {filter_rss:.1f} MB",
    f"application {statistics.median(a_ms):8.0f} ms per job  {a_page:7.1f} ms/page"
    f"  (min-max {min(a_ms):.0f}-{max(a_ms):.0f}); Print-Job sent to job completed",
    f"ratio application / filter per page: {ratio:.2f}",
    f"processor time per page (user + system, median): filter {f_cpu:.1f} ms, server {a_cpu:.1f} ms,"
    f" ratio {a_cpu / f_cpu:.2f}",
    f"server peak RSS (VmHWM): {app_rss:.1f} MB after the jobs, {int(rss_idle) / 1024:.1f} MB before the first",
    "",
    "targets:",
    f"  {'met' if ratio <= 1.3 else 'NOT met':<7} application <= 1.3 x the filter per page: {ratio:.2f}",
    f"  {'met' if app_rss <= 64 else 'NOT met':<7} server peak RSS <= 64 MB: {app_rss:.1f} MB",
]
text = "\n".join(lines) + "\n"
sys.stdout.write(text)
open(f"{out}/app-results.txt", "w").write(text)
PYEOF

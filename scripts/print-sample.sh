#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# The main job: prints the sample document the way a user prints. A private
# CUPS scheduler (scripts/cupsd-private.sh) is started, the simulated printer
# listens on the network (rvt4410lw-sim --listen, on loopback), a queue is
# added on it with the driver's PPD and CUPS's own socket backend
# (socket://127.0.0.1:PORT, as for a printer on the network), the document
# goes through the standard conversion filters and the driver's filter, and
# the pages the printer decoded are left as PNG files, with the transcript of
# the print stream, in out/sample/. The scheduler and the printer are stopped
# again on every path.
#
# Usage: scripts/print-sample.sh [--queue NAME | --direct] [DOCUMENT.pdf|DOCUMENT.ps]
#   (no option)   private scheduler and simulated network printer, as above
#   --queue NAME  print on the queue NAME of the system's own scheduler (a real
#                 printer set up with this driver) with lp -d NAME instead;
#                 RVT_QUEUE=NAME does the same
#   --direct      no scheduler: render the document with Ghostscript and run
#                 the filter under the simulator (rvt4410lw-sim)
# Environment:
#   BUILD_DIR  the build directory (default: build)
#   OUT_DIR    where the pages go (default: out/sample)
#   OPTIONS    the job options (default: A4, plain paper, auto tray, one-sided,
#              darkness 2), as NAME=VALUE words
#   COPIES     number of copies (default 1)
#
# Not root: the private scheduler is started and stopped with sudo (cupsd
# insists on root-owned filters and backends); everything else, the simulated
# printer included, runs as you.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
OUT_DIR=${OUT_DIR:-out/sample}
OPTIONS=${OPTIONS:-"PageSize=A4 MediaType=PLAIN InputSlot=AUTO Duplex=None GammaDarkness=darkness2"}
COPIES=${COPIES:-1}
PPD=$BUILD_DIR/ppd/rvt4410lw.ppd
QUEUE=${RVT_QUEUE:-}
MODE=private
DOC=""

while [ $# -gt 0 ]; do
    case $1 in
        --queue) [ $# -ge 2 ] || { echo "print-sample: --queue needs a name" >&2; exit 2; }
                 QUEUE=$2; shift 2 ;;
        --direct) MODE=direct; shift ;;
        -h|--help) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        -*) echo "print-sample: unknown option $1 (see --help)" >&2; exit 2 ;;
        *) DOC=$1; shift ;;
    esac
done
[ -n "$QUEUE" ] && [ "$MODE" = private ] && MODE=queue
DOC=${DOC:-samples/sample.pdf}
[ -r "$DOC" ] || { echo "print-sample: cannot read $DOC" >&2; exit 1; }

lp_options=()
for o in $OPTIONS; do
    lp_options+=(-o "$o")
done

# ---------------------------------------------------------------- real printer
if [ "$MODE" = queue ]; then
    if ! lpstat -p "$QUEUE" >/dev/null 2>&1; then
        echo "print-sample: the system's scheduler has no queue '$QUEUE' (lpstat -p lists them)" >&2
        exit 1
    fi
    echo "print-sample: printing $DOC on the queue '$QUEUE' of the system's scheduler (a real printer)"
    lp -d "$QUEUE" -n "$COPIES" -t "$(basename "$DOC")" "${lp_options[@]}" "$DOC"
    echo "print-sample: follow it with: lpstat -o $QUEUE"
    exit 0
fi

# ------------------------------------------------------------- without cupsd
if [ "$MODE" = direct ]; then
    SIM=$BUILD_DIR/bin/rvt4410lw-sim
    FILTER=$BUILD_DIR/bin/printfilter-rvt4410lw
    for f in "$SIM" "$FILTER"; do
        [ -x "$f" ] || { echo "print-sample: $f not found; build first: cmake -S . -B $BUILD_DIR -G Ninja && cmake --build $BUILD_DIR" >&2; exit 1; }
    done
    command -v gs >/dev/null || { echo "print-sample: Ghostscript (gs) is missing; run scripts/install-deps.sh" >&2; exit 1; }
    RASTER=$(mktemp "${TMPDIR:-/tmp}/print-sample-XXXXXX.ras")
    trap 'rm -f "$RASTER"' EXIT
    # A4 at 600 dpi, one byte of gray (sGray) per pixel: 4960 x 7016 pixels.
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -r600 \
       -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
       -dDEVICEWIDTHPOINTS=595.2 -dDEVICEHEIGHTPOINTS=841.92 -dFIXEDMEDIA \
       -sOutputFile="$RASTER" "$DOC" 2>&1 | grep -v '^INFO:' >&2 || true
    [ -s "$RASTER" ] || { echo "print-sample: Ghostscript made no raster from $DOC" >&2; exit 1; }
    mkdir -p "$OUT_DIR"
    status=0
    "$SIM" --filter "$FILTER" --ppd "$PPD" --raster "$RASTER" --out "$OUT_DIR" \
           --queue rvt4410lw --job 1 --user "${USER:-user}" --title "$(basename "$DOC")" \
           --copies "$COPIES" --options "$OPTIONS" || status=$?
    OUT_ABS=$(cd "$OUT_DIR" && pwd)
    echo "print-sample: pages and transcript in $OUT_ABS"
    ls "$OUT_ABS"/page-*.png 2>/dev/null | grep -v preview | sed 's/^/  /' || true
    exit $status
fi

# ---------------------------------------------------- private scheduler (main)
for f in printfilter-rvt4410lw rvt4410lw-sim; do
    [ -x "$BUILD_DIR/bin/$f" ] || { echo "print-sample: $BUILD_DIR/bin/$f not found; build first: cmake -S . -B $BUILD_DIR -G Ninja && cmake --build $BUILD_DIR" >&2; exit 1; }
done
for c in cupsd lp lpadmin lpstat; do
    command -v "$c" >/dev/null || { echo "print-sample: $c is missing; run scripts/install-deps.sh" >&2; exit 1; }
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
. scripts/lib/job-wait.sh

ROOT="" SIM_PID="" PRINTER_DIR=""
stop_scheduler() {
    if [ -n "$ROOT" ]; then
        $SUDO scripts/cupsd-private.sh stop "$ROOT" || true
        ROOT=""
    fi
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=""
    fi
    [ -z "$PRINTER_DIR" ] || rm -rf "$PRINTER_DIR"
    PRINTER_DIR=""
}
trap stop_scheduler EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ROOT=$($SUDO scripts/cupsd-private.sh start --bin "$BUILD_DIR/bin" --watch $$)
export CUPS_SERVER=$ROOT/cupsd.sock
echo "print-sample: private CUPS scheduler running in $ROOT"

# The simulated printer on the network, on a free loopback port: it writes
# the job it receives on its first connection into $PRINTER_DIR/job-1/.
PRINTER_DIR=$(mktemp -d "${TMPDIR:-/tmp}/print-sample-printer.XXXXXX")
"$BUILD_DIR/bin/rvt4410lw-sim" --listen 127.0.0.1:0 --out "$PRINTER_DIR" >"$PRINTER_DIR/sim.log" 2>&1 &
SIM_PID=$!
PORT=""
for _ in $(seq 1 50); do
    PORT=$(sed -n 's/^rvt4410lw-sim: listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$PRINTER_DIR/sim.log")
    [ -n "$PORT" ] && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
done
[ -n "$PORT" ] || { echo "print-sample: the simulated printer did not start: $(cat "$PRINTER_DIR/sim.log")" >&2; exit 1; }
echo "print-sample: simulated printer listening on 127.0.0.1:$PORT"
lpadmin -p rvt4410lw -E -v "socket://127.0.0.1:$PORT" -P "$PPD" 2>&1 |
    grep -v 'Printer drivers are deprecated' >&2 || true
lpstat -p rvt4410lw >/dev/null 2>&1 || { echo "print-sample: the queue could not be added" >&2; exit 1; }

reply=$(lp -d rvt4410lw -n "$COPIES" -t "$(basename "$DOC")" "${lp_options[@]}" "$DOC")
JOB=$(sed -n 's/^request id is rvt4410lw-\([0-9]*\) .*/\1/p' <<<"$reply")
[ -n "$JOB" ] || { echo "print-sample: lp did not take the job: $reply" >&2; exit 1; }
echo "print-sample: job $JOB: $DOC ($OPTIONS, $COPIES cop$([ "$COPIES" = 1 ] && echo y || echo ies))"

fail() {
    echo "print-sample: $*" >&2
    echo "print-sample: last lines of the job in the scheduler's log:" >&2
    job_log "$ROOT" "$JOB" | tail -n 25 | sed 's/^/  /' >&2
    exit 1
}

wait_for_job "$ROOT" rvt4410lw "$JOB" "${TIMEOUT:-180}" fail

JOB_DIR=$PRINTER_DIR/job-1
[ -f "$JOB_DIR/transcript.json" ] || fail "the printer left no transcript in $JOB_DIR"
mkdir -p "$OUT_DIR"
rm -f "$OUT_DIR"/page-*.png "$OUT_DIR"/page-*.pbm "$OUT_DIR"/transcript.json "$OUT_DIR"/cupsd-job.log
cp "$JOB_DIR"/* "$OUT_DIR"/
job_log "$ROOT" "$JOB" >"$OUT_DIR/cupsd-job.log"
stop_scheduler

OUT_ABS=$(cd "$OUT_DIR" && pwd)
pages=$(ls "$OUT_ABS"/page-*.png 2>/dev/null | grep -vc preview || true)
echo "print-sample: the printer received $pages page(s); pages and transcript in $OUT_ABS"
ls "$OUT_ABS"/page-*.png 2>/dev/null | grep -v preview | sed 's/^/  /' || true
echo "  $OUT_ABS/transcript.json"
echo "  $OUT_ABS/cupsd-job.log (the job's lines of the scheduler's log)"

#!/usr/bin/env bash
# The main job: prints the sample document through the CUPS filter onto the
# printer simulator and leaves the pages the printer decoded, as PNG files,
# with the transcript of the job in out/sample/.
#
# Usage: scripts/print-sample.sh [DOCUMENT.ps|DOCUMENT.pdf]
#   BUILD_DIR  the build directory (default: build)
#   OPTIONS    the job options (default: one-sided, plain paper, darkness 2)
#   OUT_DIR    where the pages go (default: out/sample)
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
OUT_DIR=${OUT_DIR:-out/sample}
OPTIONS=${OPTIONS:-"PageSize=A4 MediaType=PLAIN InputSlot=AUTO Duplex=None GammaDarkness=darkness2"}
DOC=${1:-samples/sample.ps}
SIM=$BUILD_DIR/bin/rvt4410lw-sim
FILTER=$BUILD_DIR/bin/printfilter-rvt4410lw
PPD=ppd/rvt4410lw.ppd

for f in "$SIM" "$FILTER"; do
    if [ ! -x "$f" ]; then
        echo "print-sample: $f not found; build first: cmake -S . -B $BUILD_DIR -G Ninja && cmake --build $BUILD_DIR" >&2
        exit 1
    fi
done
command -v gs >/dev/null || { echo "print-sample: Ghostscript (gs) is missing; run scripts/install-deps.sh" >&2; exit 1; }

RASTER=$(mktemp "${TMPDIR:-/tmp}/print-sample-XXXXXX.ras")
trap 'rm -f "$RASTER"' EXIT

# A4 at 600 dpi, one byte of gray (sGray) per pixel: 4960 x 7016 pixels a
# page. 595.2 x 841.92 points are exactly those pixels; the usual
# 595.2756 points would round up to 4961.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -r600 \
   -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
   -dDEVICEWIDTHPOINTS=595.2 -dDEVICEHEIGHTPOINTS=841.92 -dFIXEDMEDIA \
   -sOutputFile="$RASTER" "$DOC" 2>&1 | grep -v '^INFO:' >&2 || true
if [ ! -s "$RASTER" ]; then
    echo "print-sample: Ghostscript made no raster from $DOC" >&2
    exit 1
fi

# cupsWidth and cupsHeight of the first page header (after the 4-byte sync word).
read -r width height < <(od -A n -t u4 -j 376 -N 8 "$RASTER")
if [ "$width" != 4960 ] || [ "$height" != 7016 ]; then
    echo "print-sample: warning: the raster pages are $width x $height pixels, not 4960 x 7016 (A4 at 600 dpi)" >&2
fi

mkdir -p "$OUT_DIR"
status=0
"$SIM" --filter "$FILTER" --ppd "$PPD" --raster "$RASTER" --out "$OUT_DIR" \
       --queue rvt4410lw --job 1 --user "${USER:-user}" --title "$(basename "$DOC")" \
       --copies 1 --options "$OPTIONS" || status=$?

OUT_ABS=$(cd "$OUT_DIR" && pwd)
echo "print-sample: pages and transcript in $OUT_ABS"
ls "$OUT_ABS"/page-*.png 2>/dev/null | grep -v preview | sed 's/^/  /' || true
echo "  $OUT_ABS/transcript.json"
exit $status

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Fuzzes the raster and page path of the filter, then of the printer
# application, for a bounded time: builds the libFuzzer targets with clang
# (ASan + UBSan), makes a seed corpus of real rasters and runs each target on
# it. Exit status non-zero when the fuzzer found a crash (the reproducer is
# left in the build dir's fuzz/artifacts/).
#
# Usage: scripts/fuzz.sh [SECONDS [BUILD_DIR]]   (default 60 s, build-fuzz)
#   APP_SECONDS  the printer application's share (default half of SECONDS)
#   FUZZ_ARGS    further libFuzzer arguments
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${2:-build-fuzz}
jobs=${JOBS:-2}

command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing; run scripts/install-deps.sh" >&2; exit 1; }

echo "== fuzz build (clang, libFuzzer, ASan + UBSan) in $build"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DRVT_FUZZ=ON -DRVT_BUILD_TESTS=OFF \
      -DRVT_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target raster_fuzz app_raster_fuzz rvt4410lw-make-raster

work=$build/fuzz
seeds=$work/seeds
corpus=$work/corpus
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus" "$work/artifacts"

# A seed is two option bytes (see tests/fuzz/raster_fuzz.cpp) and a raster.
seed() {  # NAME OPTION-BYTE0 OPTION-BYTE1 RASTER
    { printf "\\x$(printf %02x "$2")\\x$(printf %02x "$3")"; cat "$4"; } >"$seeds/$1"
}

echo "== seed corpus in $seeds"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-seeds-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mk=$build/bin/rvt4410lw-make-raster
# Pages made by the project's raster maker: sGray and W, several patterns and
# sizes; the option bytes spread scale, duplex, collate, copies and darkness.
"$mk" "$tmp/text.ras" text:203x150:3 >/dev/null
"$mk" "$tmp/two.ras" noise:120x90:1 hgradient:121x90 >/dev/null
"$mk" --cspace 0 "$tmp/w.ras" vgradient:64x200 black:9x7 >/dev/null
"$mk" "$tmp/three.ras" text:240x180:1 blank:240x180 text:240x180:2 >/dev/null
"$mk" "$tmp/tiny.ras" noise:1x1:5 noise:7x3:6 >/dev/null
seed text 0x04 0 "$tmp/text.ras"           # 100%, one-sided
seed two-tumble 0x4d 2 "$tmp/two.ras"       # 110%, DuplexTumble, 2 copies
seed w-notumble 0x90 5 "$tmp/w.ras"         # 25%, DuplexNoTumble, 3 copies
seed three-uncollated 0x63 3 "$tmp/three.ras"  # 90%, Collate=False, 2 copies
seed tiny 0x07 1 "$tmp/tiny.ras"            # 150%
# Pages rendered by Ghostscript at a low resolution, in the formats a
# scheduler may send: gray and black of 1 to 16 bits, RGB and its kin, CMY(K)
# and its orders, chunked and banded. "SPACE BITS ORDER" (cupsColorSpace,
# cupsBitsPerColor, cupsColorOrder).
if command -v gs >/dev/null; then
    render() {  # OUT RESOLUTION PAGES SPACE BITS ORDER
        gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -r"$2" -dcupsColorSpace="$4" \
           -dcupsBitsPerColor="$5" -dcupsColorOrder="$6" -dDEVICEWIDTHPOINTS=595 \
           -dDEVICEHEIGHTPOINTS=842 -dFIXEDMEDIA -dFirstPage=1 -dLastPage="$3" \
           -sOutputFile="$1" samples/sample.ps >/dev/null 2>&1 || true
    }
    render "$tmp/gs-gray-2pages.ras" 24 2 18 8 0
    if [ -s "$tmp/gs-gray-2pages.ras" ]; then
        seed gs-gray-2pages 0x0c 2 "$tmp/gs-gray-2pages.ras"
    fi
    n=0
    for fmt in "18 8 0" "0 8 0" "3 8 0" "0 1 0" "3 1 0" "18 2 0" "18 4 0" "18 16 0" \
               "1 8 0" "19 8 0" "20 8 0" "2 8 0" "17 8 0" "1 16 0" "4 8 0" "5 8 0" \
               "6 8 0" "6 8 1" "7 8 1" "8 8 0" "6 16 1"; do
        set -- $fmt
        out=$tmp/gs-$1-$2-$3.ras
        render "$out" 12 1 "$1" "$2" "$3"
        if [ -s "$out" ]; then
            seed "gs-cspace$1-bits$2-order$3" $(((n * 37) & 0xff)) $((n % 6)) "$out"
            n=$((n + 1))
        fi
    done
else
    echo "fuzz: no Ghostscript, only the made rasters are seeds" >&2
fi
ls "$seeds" | wc -l | xargs echo "seeds:"

app_seconds=${APP_SECONDS:-$((seconds / 2))}
# PWG rasters too, as IPP clients send them to the printer application: 8-bit
# gray at the printer's 600 dpi (small pages), and at other resolutions and
# depths, which it refuses.
if command -v gs >/dev/null; then
    pwg() {  # OUT RESOLUTION SPACE BITS WIDTH-POINTS HEIGHT-POINTS
        gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r"$2" -dcupsColorSpace="$3" \
           -dcupsBitsPerColor="$4" -dDEVICEWIDTHPOINTS="$5" -dDEVICEHEIGHTPOINTS="$6" \
           -dFIXEDMEDIA -dFirstPage=1 -dLastPage=2 -sOutputFile="$1" samples/sample.ps \
           >/dev/null 2>&1 || true
    }
    pwg "$tmp/pwg-600.pwg" 600 18 8 30 24
    pwg "$tmp/pwg-12.pwg" 12 18 8 595 842
    pwg "$tmp/pwg-black1.pwg" 600 3 1 30 24
    pwg "$tmp/pwg-srgb.pwg" 24 19 8 200 200
    for f in "$tmp"/pwg-*.pwg; do
        [ -s "$f" ] && seed "$(basename "$f" .pwg)" 0x4c 3 "$f"
    done
fi

# run TARGET SECONDS
run() {
    echo "== fuzzing $1 for $2 s"
    local rc=0
    mkdir -p "$corpus/$1"
    # The corpus grows in $corpus across runs; the seeds are read every time.
    # libcups itself allocates a line buffer of the header's cupsBytesPerLine
    # (up to 4 GiB, untouched) before it checks the header: a single
    # allocation of that size is libcups' doing, not an out-of-memory of ours.
    "$build/bin/$1" "$corpus/$1" "$seeds" -max_total_time="$2" -max_len=65536 \
        -timeout=20 -rss_limit_mb=2048 -malloc_limit_mb=4096 \
        -artifact_prefix="$work/artifacts/$1-" -print_final_stats=1 \
        ${FUZZ_ARGS:-} || rc=$?
    if [ "$rc" -ne 0 ]; then
        echo "fuzz: $1 failed (exit $rc); reproducers in $work/artifacts/:" >&2
        ls -l "$work/artifacts" >&2
        exit 1
    fi
}
run raster_fuzz "$seconds"
run app_raster_fuzz "$app_seconds"
echo "fuzz: no crash in $seconds s + $app_seconds s"

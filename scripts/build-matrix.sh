#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Builds the whole tree, tests and benchmarks included, from a clean build
# directory with each compiler Debian ships (GCC, clang) in each CMake build
# type, warnings as errors, and prints one line per build. A build's log is
# left in its directory (build-matrix/COMPILER-TYPE/build.log); a failing
# build goes on past its first error, so that the log lists them all.
#
# Usage: scripts/build-matrix.sh [COMPILER...]   (default: gcc clang)
# BUILD_TYPES="Release Debug" limits the build types; JOBS the parallel jobs.
set -uo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-2}
types=(${BUILD_TYPES:-Debug Release RelWithDebInfo MinSizeRel})
compilers=("$@")
[ ${#compilers[@]} -gt 0 ] || compilers=(gcc clang)
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

failed=0
results=()
for cc in "${compilers[@]}"; do
    case "$cc" in
    gcc) env=(CC=gcc CXX=g++) ;;
    clang) env=(CC=clang CXX=clang++) ;;
    *) echo "build-matrix: unknown compiler $cc" >&2; exit 2 ;;
    esac
    for type in "${types[@]}"; do
        dir=build-matrix/$cc-$type
        rm -rf "$dir"
        mkdir -p "$dir"
        start=$(date +%s)
        if env "${env[@]}" cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
                -DRVT_WERROR=ON "${launcher[@]}" >"$dir/build.log" 2>&1 &&
            cmake --build "$dir" -j"$jobs" -- -k 0 >>"$dir/build.log" 2>&1; then
            result=built
        else
            result=FAILED
            failed=1
        fi
        line=$(printf '%-6s %-15s %-7s %4ss' "$cc" "$type" "$result" $(($(date +%s) - start)))
        echo "$line"
        results+=("$line")
    done
done
echo "== build matrix (-DRVT_WERROR=ON, clean build directories)"
printf '%s\n' "${results[@]}"
exit $failed

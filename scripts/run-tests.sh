#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Builds the project twice and runs every test in both builds: once with
# GCC (build/), once with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), both with warnings as errors.
# Then fuzzes the filter for a bounded time, and last builds, installs, uses
# and removes the Debian package. Build trees: build/, build-asan/,
# build-fuzz/ and build-pkg/.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-2}

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

echo "== plain build (GCC)"
cmake -S . -B build -G Ninja -DRVT_WERROR=ON "${launcher[@]}"
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600

echo "== sanitizer build (clang, ASan + UBSan)"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DRVT_SANITIZE=ON -DRVT_BUILD_BENCH=OFF \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVT_WERROR=ON "${launcher[@]}"
cmake --build build-asan -j"$jobs"
# umockdev's preload library is loaded before the ASan runtime: tell ASan so.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1:verify_asan_link_order=0} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 900

echo "== fuzzing the raster paths of the filter and the printer application (bounded)"
# A short libFuzzer run from the seed corpus; a crash fails the run.
scripts/fuzz.sh "${FUZZ_SECONDS:-60}" build-fuzz

echo "== the Debian package: contents, lintian, dpkg -i, a job through the installed driver, dpkg -r"
# Builds its own release tree (build-pkg/); never replaces installed files.
scripts/package-test.sh

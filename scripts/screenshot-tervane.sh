#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Screenshots of the Tervane settings window on the simulated printer, its
# settings read, in Chinese and in English, taken under Xvfb.
#
# Usage: scripts/screenshot-tervane.sh [BUILD_DIR] [OUT_DIR]
#   BUILD_DIR  a configured and built tree holding bin/Tervane (default: build)
#   OUT_DIR    where tervane-zh.png and tervane-en.png go (default: BUILD_DIR/screenshots)
#
# Needs xvfb-run (package xvfb) and a CJK font (fonts-wqy-microhei), both in
# scripts/install-deps.sh. The program grabs its own window once it is up
# (its hidden option --screenshot FILE) and quits.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
out="${2:-$build/screenshots}"
program="$build/bin/Tervane"

if [ ! -x "$program" ]; then
    echo "screenshot-tervane: $program not found; build the target Tervane first" >&2
    exit 1
fi
mkdir -p "$out"

shoot() {
    local lang="$1" file="$2"
    # The program's USB diagnostics go to the log, not the terminal.
    env LANG="$lang" LC_ALL="$lang" LANGUAGE= QT_QPA_PLATFORM=xcb \
        timeout 60 xvfb-run -a -s "-screen 0 1024x768x24" \
        "$program" --simulate --screenshot "$file" > "$out/tervane-${lang%%.*}.log" 2>&1
    echo "screenshot-tervane: wrote $file"
}

shoot zh_CN.UTF-8 "$out/tervane-zh.png"
shoot en_US.UTF-8 "$out/tervane-en.png"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Installs every Debian package the project needs to build, run and test.
# Usage: scripts/install-deps.sh            (build + run + tests)
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

PACKAGES=(
    # toolchain
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    # libraries the programs link
    libcups2-dev libjbig-dev libusb-1.0-0-dev libpng-dev nlohmann-json3-dev
    libpappl-dev
    qt6-base-dev qt6-tools-dev qt6-l10n-tools
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev
    cups cups-client cups-filters ghostscript jbigkit-bin
    # ipptool and its conformance test files, for the printer application
    cups-ipp-utils
    umockdev libumockdev-dev xvfb
    # checks of the desktop entry and the manual pages
    desktop-file-utils man-db groff-base
    # the code style check and the AppStream metadata check
    clang-format appstream
    # the package check: lintian, the window's platform plugins that the
    # driver's package depends on, and what the printer application's
    # package needs to install (its user, its service's enablement)
    lintian qt6-qpa-plugins adduser init-system-helpers
    # a CJK font for the settings window's screenshots under Xvfb
    fonts-wqy-microhei
)

export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

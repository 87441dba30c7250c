#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
# Has udev read a rules file and find nothing wrong with it?
#   check_rule.sh UDEVADM RULES_FILE
# udevadm reads the rules only from the system's rules directories, so the
# file is put into /run/udev/rules.d of a private mount namespace (a fresh
# tmpfs over /run that nobody else sees) and udevadm replays an event of the
# loopback network device, which needs no USB hardware. Needs root (for the
# namespace); exits 77 (skipped) without it.
set -u
udevadm=$1
rules=$2
name=$(basename "$rules")
if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    echo "skipped: needs root and mount namespaces"
    exit 77
fi
log=$(unshare -m sh -c '
    mount -t tmpfs tmpfs /run &&
    mkdir -p /run/udev/rules.d &&
    cp "$1" /run/udev/rules.d/ &&
    SYSTEMD_LOG_LEVEL=debug "$2" test /sys/class/net/lo 2>&1' sh "$rules" "$udevadm")
if ! printf '%s\n' "$log" | grep -q "Reading rules file: /run/udev/rules.d/$name"; then
    printf '%s\n' "$log" | tail -n 20
    echo "udevadm did not read $name"
    exit 1
fi
if printf '%s\n' "$log" | grep "/run/udev/rules.d/$name:[0-9]"; then
    echo "udevadm found fault with $name"
    exit 1
fi
echo "udevadm read $name without complaint"

#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# Copyright (C) 2026 The RV-T4410LW driver developers
#
# CUPS's own usb backend on the simulated printer's emulated USB bus, for a
# private scheduler in the tests: installed there as the backend "usb"
# (never into a package or the system). cupsd keeps LD_* variables out of
# its programs' environment, so the bus is named in a file instead:
# RVT_USB_BUS_ENV (given to cupsd with SetEnv) names the file holding what
# `rvt4410lw-sim --usb` printed, its UMOCKDEV_DIR= and LD_PRELOAD= lines.
# Without that file there is no bus: nothing is listed and a job fails.
real=${RVT_CUPS_USB_BACKEND:-/usr/lib/cups/backend/usb}
bus=""
preload=""
if [ -n "${RVT_USB_BUS_ENV:-}" ] && [ -f "$RVT_USB_BUS_ENV" ]; then
    bus=$(sed -n 's/^UMOCKDEV_DIR=//p' "$RVT_USB_BUS_ENV" | head -n 1)
    preload=$(sed -n 's/^LD_PRELOAD=//p' "$RVT_USB_BUS_ENV" | head -n 1)
fi
if [ -z "$bus" ] || [ ! -d "$bus" ] || [ ! -f "$preload" ]; then
    [ $# -eq 0 ] && exit 0
    echo "ERROR: no emulated USB bus (RVT_USB_BUS_ENV=${RVT_USB_BUS_ENV:-})" >&2
    exit 1
fi
UMOCKDEV_DIR=$bus
LD_PRELOAD=$preload
export UMOCKDEV_DIR LD_PRELOAD
exec "$real" "$@"

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulated printer on an emulated USB bus (umockdev): a printer-class
// device 356c:0033 with its manufacturer, product and serial strings,
// answering GET_DEVICE_ID with the PPD's *1284DeviceID. What arrives on its
// bulk-out endpoint is played through the printer's role, as the rvtsim
// backend plays it; the replies go out on its bulk-in endpoint. A job runs
// from the first byte after the host claims the interface until it
// releases it (or closes the device node); each job's pages and
// transcript.json go into DIR/job-N/, N counting jobs from 1.
//
// Hosts reach the bus with LD_PRELOAD=libumockdev-preload.so.0 and
// UMOCKDEV_DIR set to the testbed's directory, both printed at start on
// standard output (then "ready"), e.g. CUPS's own usb backend:
//   env UMOCKDEV_DIR=... LD_PRELOAD=... /usr/lib/cups/backend/usb
// The printer stays on the bus until SIGINT or SIGTERM; SIGUSR1, or the
// --unplug trigger, pulls it off the bus (the job under way ends there).
#pragma once

namespace rvtsim {

// `rvt4410lw-sim --usb ...`: parses the arguments and runs until stopped.
// Returns the program's exit status.
int runUsbPrinter(int argc, char** argv);

}  // namespace rvtsim

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// tervane-cli: reads and writes the network settings of a supported printer
// attached by USB, over the same printer model as the settings window.
//
//   tervane-cli list
//   tervane-cli get [--printer N]
//   tervane-cli set --dhcp [--printer N]
//   tervane-cli set --static ADDRESS MASK GATEWAY [--printer N]
//   options: --simulate (or TERVANE_USB=sim), --verbose, --help
//
// The result goes to standard output, errors to standard error; the USB
// diagnostics are dropped, or sent to standard error with --verbose.
// Exit status: 0 success, 1 the printer could not be read or set, 2 wrong
// usage or invalid input (nothing was sent), 3 no supported printer (or no
// printer with that number).
#pragma once

namespace tervane {

// Runs one command line; returns the exit status. Each run makes its own bus
// and printer model; `list` only enumerates the bus, `get` reads the chosen
// printer once, `set` runs the write sequence on it, and a printer number
// that is not on the bus ends the run before any printer is talked to.
int runTervaneCli(int argc, char** argv);

}  // namespace tervane

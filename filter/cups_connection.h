// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The filter's printer connection, as the CUPS scheduler gives it.
#pragma once

#include "printer_connection.h"

#include <memory>

namespace rvt {

// The connection of a real job: libcups' side and back channel, writes to
// `outputFd` (standard output), cupsCancelJob, the SIGTERM flag. The
// channels are looked at once, here: descriptor 3 (back channel) must be a
// pipe or a socket, descriptor 4 (side channel) a socket.
std::unique_ptr<PrinterConnection> makeCupsConnection(int outputFd = 1);

}  // namespace rvt

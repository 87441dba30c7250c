// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "printer_connection.h"

#include <string>

namespace rvt {

std::string missingChannelsNote(PrinterConnection& connection)
{
    const bool back = connection.hasBackChannel();
    const bool side = connection.hasSideChannel();
    if (back && side)
        return {};
    const char* which = !back && !side ? "no back channel and no side channel"
                        : !back        ? "no back channel"
                                       : "no side channel";
    return std::string("DEBUG: ") + which +
           ": the job is sent without waiting for the printer's replies\n";
}

}  // namespace rvt

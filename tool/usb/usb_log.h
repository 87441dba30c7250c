// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Diagnostic lines of the USB layer: plain lines on standard output.
#pragma once

#include <string>

namespace tervane::usb {

// Writes the line and a line end to standard output and flushes it. Lines
// written from several threads do not interleave.
void usbLog(const std::string& line);

}  // namespace tervane::usb

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// libusb error codes as the platform statuses of the USB layer.
#pragma once

#include "../io_return.h"

namespace tervane::usb::libusb {

// The status for a libusb return code: 0 and positive counts are success,
// each LIBUSB_ERROR_* has its row in the table of libusb_status.cpp, and a
// code the table does not know is a general error.
IOReturn ioReturnFromLibusb(int code);

}  // namespace tervane::usb::libusb

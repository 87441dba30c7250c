// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Walk of the USB registry: the vendor and product id and the place on the
// bus of every attached device, in registry order.
#pragma once

#include "usb_platform.h"

#include <cstdint>
#include <vector>

namespace tervane {

struct UsbDeviceIds {
    int vendorId = 0;
    int productId = 0;
    std::uint32_t locationID = 0;  // the entry's "locationID"; 0 when it has none
};

// Devices whose ids cannot be read are left out. Every registry reference
// and handle taken during the walk is given back before the call returns.
std::vector<UsbDeviceIds> listUsbDevices(usb::UsbPlatform& platform);

}  // namespace tervane

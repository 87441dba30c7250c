// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The vendor and product id and the place on the bus of every attached
// device, in bus order. Nothing is sent to any device.
#pragma once

#include "usb_platform.h"

#include <cstdint>
#include <vector>

namespace tervane {

struct UsbDeviceIds {
    int vendorId = 0;
    int productId = 0;
    std::uint32_t locationID = 0;  // see usb::DeviceDescription
};

std::vector<UsbDeviceIds> listUsbDevices(usb::UsbPlatform& platform);

}  // namespace tervane

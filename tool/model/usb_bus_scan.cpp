// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usb_bus_scan.h"

namespace tervane {

std::vector<UsbDeviceIds> listUsbDevices(usb::UsbPlatform& platform)
{
    std::vector<UsbDeviceIds> found;
    for (const auto& device : platform.devices()) {
        const usb::DeviceDescription description = device->description();
        found.push_back({description.vendorId, description.productId, description.locationID});
    }
    return found;
}

}  // namespace tervane

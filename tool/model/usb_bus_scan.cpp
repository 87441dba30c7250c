// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usb_bus_scan.h"

#include "registry.h"
#include "usb_handles.h"

#include <exception>
#include <variant>

namespace tervane {

namespace {

std::uint32_t locationOf(usb::UsbPlatform& platform, usb::io_service_t service)
{
    usb::RegistryProperties properties;
    if (platform.registryEntryCreateCFProperties(service, &properties) != usb::kIOReturnSuccess) {
        return 0;
    }
    const auto found = properties.find(usb::kUSBDevicePropertyLocationID);
    if (found == properties.end()) {
        return 0;
    }
    const auto* value = std::get_if<std::int64_t>(&found->second);
    if (value == nullptr || *value < 0 || *value > 0xFFFFFFFF) {
        return 0;
    }
    return static_cast<std::uint32_t>(*value);
}

}  // namespace

std::vector<UsbDeviceIds> listUsbDevices(usb::UsbPlatform& platform)
{
    std::vector<UsbDeviceIds> found;
    usb::io_iterator_t iterator = usb::IO_OBJECT_NULL;
    const usb::IOReturn status = platform.getMatchingServices(
        usb::IOServiceMatching(usb::kIOUSBHostDeviceClassName), &iterator);
    if (status != usb::kIOReturnSuccess || iterator == usb::IO_OBJECT_NULL) {
        return found;
    }
    try {
        usb::enumerateServices(platform, iterator, [&](usb::io_service_t service, bool&) {
            // An entry whose ids cannot be read is skipped; the walk goes on.
            try {
                usb::USBDeviceHandle device = usb::USBDeviceHandle::create(platform, service);
                try {
                    UsbDeviceIds ids{device.getVendorIdentifier(), device.getProductIdentifier(),
                                     locationOf(platform, service)};
                    found.push_back(ids);
                } catch (const std::exception&) {
                }
                device.release();
            } catch (const std::exception&) {
            }
        });
    } catch (const std::exception&) {
    }
    usb::release(platform, iterator);
    return found;
}

}  // namespace tervane

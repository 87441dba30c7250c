// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Device handles: finding a device on the bus, its interfaces.
#include "usb_handles.h"

namespace tervane::usb {

namespace {

std::uint16_t narrow16(int value)
{
    if (value < 0 || value > 0xFFFF) {
        throw IOReturnError(kIOReturnBadArgument);
    }
    return static_cast<std::uint16_t>(value);
}

// 65535 matches any value.
bool fieldMatches(std::uint16_t wanted, std::uint8_t value)
{
    return wanted == 0xFFFF || wanted == value;
}

USBDeviceHandle find(UsbPlatform& platform, int vendorIdentifier, int productIdentifier,
                     std::optional<std::uint32_t> locationID)
{
    for (std::shared_ptr<UsbDevice>& device : platform.devices()) {
        const DeviceDescription description = device->description();
        if (description.vendorId == vendorIdentifier &&
            description.productId == productIdentifier &&
            (!locationID || description.locationID == *locationID)) {
            return USBDeviceHandle(std::move(device));
        }
    }
    throw VXIOErrorException(VXIOError::pluginHasNoUsbDeviceInterface);
}

}  // namespace

USBDeviceHandle::USBDeviceHandle(std::shared_ptr<UsbDevice> device)
    : device_(std::move(device)), description_(device_->description())
{
}

USBDeviceHandle USBDeviceHandle::create(UsbPlatform& platform, int vendorIdentifier,
                                        int productIdentifier)
{
    return find(platform, vendorIdentifier, productIdentifier, std::nullopt);
}

USBDeviceHandle USBDeviceHandle::create(UsbPlatform& platform, int vendorIdentifier,
                                        int productIdentifier, std::uint32_t locationID)
{
    return find(platform, vendorIdentifier, productIdentifier, locationID);
}

int USBDeviceHandle::getVendorIdentifier() const { return description_.vendorId; }

int USBDeviceHandle::getProductIdentifier() const { return description_.productId; }

std::vector<USBInterfaceHandle>
USBDeviceHandle::createInterfaceInterface(int interfaceClass, int interfaceSubClass,
                                          int interfaceProtocol, int alternateSetting) const
{
    const std::uint16_t wanted[] = {narrow16(interfaceClass), narrow16(interfaceSubClass),
                                    narrow16(interfaceProtocol), narrow16(alternateSetting)};
    std::vector<USBInterfaceHandle> interfaces;
    for (InterfaceDescription& interface : device_->interfaces()) {
        if (fieldMatches(wanted[0], interface.interfaceClass) &&
            fieldMatches(wanted[1], interface.interfaceSubClass) &&
            fieldMatches(wanted[2], interface.interfaceProtocol) &&
            fieldMatches(wanted[3], interface.alternateSetting)) {
            interfaces.emplace_back(device_, std::move(interface));
        }
    }
    if (interfaces.empty()) {
        throw VXIOErrorException(VXIOError::pluginHasNoUsbInterfaceInterface);
    }
    return interfaces;
}

}  // namespace tervane::usb

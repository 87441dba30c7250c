// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usb_platform.h"

#include "sim/simulated_bus.h"

#include <cstdlib>
#include <cstring>

namespace tervane::usb {

namespace {

// Function-local statics: created once, under the language's once-only guard.
#define TERVANE_UUID(name, ...)                                                                    \
    CFUUIDRef name()                                                                               \
    {                                                                                              \
        static const CFUUIDBytes value{{__VA_ARGS__}};                                             \
        return &value;                                                                             \
    }

}  // namespace

TERVANE_UUID(kIOUSBDeviceUserClientTypeID, 0x9d, 0xc7, 0xb7, 0x80, 0x9e, 0xc0, 0x11, 0xd4, 0xa5,
             0x4f, 0x00, 0x0a, 0x27, 0x05, 0x28, 0x61)
TERVANE_UUID(kIOUSBInterfaceUserClientTypeID, 0x2d, 0x97, 0x86, 0xc6, 0x9e, 0xf3, 0x11, 0xd4, 0xad,
             0x51, 0x00, 0x0a, 0x27, 0x05, 0x28, 0x61)
TERVANE_UUID(kIOCFPlugInInterfaceID, 0xc2, 0x44, 0xe8, 0x58, 0x10, 0x9c, 0x11, 0xd4, 0x91, 0xd4,
             0x00, 0x50, 0xe4, 0xc6, 0x42, 0x6f)
TERVANE_UUID(kIOUSBDeviceInterfaceID650, 0x4a, 0xac, 0x1b, 0x2e, 0x24, 0xc2, 0x47, 0x6a, 0x96, 0x4d,
             0x91, 0x33, 0x35, 0x34, 0xf2, 0xcc)
TERVANE_UUID(kIOUSBInterfaceInterfaceID700, 0x17, 0xf9, 0xe5, 0x9c, 0xb0, 0xa1, 0x40, 0x1d, 0x9a,
             0xc0, 0x8d, 0xe2, 0x7a, 0xc6, 0x04, 0x7e)
TERVANE_UUID(kIOHIDDeviceUserClientTypeID, 0xfa, 0x12, 0xfa, 0x38, 0x6f, 0x1a, 0x11, 0xd4, 0xba,
             0x0c, 0x00, 0x05, 0x02, 0x8f, 0x18, 0xd5)
TERVANE_UUID(kIOHIDDeviceInterfaceID, 0x78, 0xbd, 0x42, 0x0c, 0x6f, 0x14, 0x11, 0xd4, 0x94, 0x74,
             0x00, 0x05, 0x02, 0x8f, 0x18, 0xd5)
TERVANE_UUID(kIOHIDDeviceInterfaceID122, 0xb7, 0x0a, 0xbf, 0x31, 0x16, 0xd5, 0x11, 0xd7, 0xab, 0x35,
             0x00, 0x30, 0x65, 0x60, 0x88, 0x84)
TERVANE_UUID(kIOHIDQueueInterfaceID, 0x81, 0x38, 0x62, 0x9e, 0x6f, 0x14, 0x11, 0xd4, 0x97, 0x0e,
             0x00, 0x05, 0x02, 0x8f, 0x18, 0xd5)
TERVANE_UUID(kIOHIDOutputTransactionInterfaceID, 0x80, 0xcd, 0xcc, 0x00, 0x75, 0x5d, 0x11, 0xd4,
             0x8e, 0x0f, 0x00, 0x05, 0x02, 0x8f, 0x18, 0xd5)

#undef TERVANE_UUID

MatchingDictionary IOServiceMatching(const std::string& className)
{
    return MatchingDictionary{{kIOProviderClassKey, className}};
}

bool serviceMatches(const MatchingDictionary& dictionary, const ServiceDescription& service)
{
    for (const auto& [key, value] : dictionary) {
        if (key == kIOProviderClassKey) {
            const auto* name = std::get_if<std::string>(&value);
            if (name == nullptr || *name != service.className) {
                return false;
            }
        } else if (key == kUSBDevicePropertyLocationID) {
            const auto* location = std::get_if<std::int64_t>(&value);
            if (location == nullptr || *location != static_cast<std::int64_t>(service.locationID)) {
                return false;
            }
        } else if (key == kUSBVendorID || key == kUSBProductID) {
            const auto* id = std::get_if<std::int64_t>(&value);
            const std::int64_t actual = key == kUSBVendorID ? service.vendorId : service.productId;
            if (id == nullptr || *id != actual) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

RegistryProperties registryProperties(const ServiceDescription& service)
{
    RegistryProperties properties{{kIOProviderClassKey, service.className}};
    if (service.vendorId >= 0) {
        properties[kUSBVendorID] = service.vendorId;
    }
    if (service.productId >= 0) {
        properties[kUSBProductID] = service.productId;
    }
    if (service.locationID != 0) {
        properties[kUSBDevicePropertyLocationID] = static_cast<std::int64_t>(service.locationID);
    }
    return properties;
}

bool interfaceMatches(const IOUSBFindInterfaceRequest& request, std::uint8_t interfaceClass,
                      std::uint8_t interfaceSubClass, std::uint8_t interfaceProtocol,
                      std::uint8_t alternateSetting)
{
    const auto fits = [](std::uint16_t wanted, std::uint8_t actual) {
        return wanted == kIOUSBFindInterfaceDontCare || wanted == actual;
    };
    return fits(request.bInterfaceClass, interfaceClass) &&
           fits(request.bInterfaceSubClass, interfaceSubClass) &&
           fits(request.bInterfaceProtocol, interfaceProtocol) &&
           fits(request.bAlternateSetting, alternateSetting);
}

IOReturn UsbPlatform::registryEntryCreateCFProperties(io_service_t, RegistryProperties*)
{
    return kIOReturnUnsupported;
}

std::unique_ptr<UsbPlatform> makePlatform(PlatformFactory realDevices, bool simulate)
{
    const char* choice = std::getenv("TERVANE_USB");
    if (simulate || (choice != nullptr && std::strcmp(choice, "sim") == 0)) {
        auto bus = std::make_unique<sim::SimulatedBus>();
        bus->plug(std::make_shared<sim::VirtualPrinter>());
        return bus;
    }
    std::unique_ptr<UsbPlatform> platform;
    if (realDevices != nullptr) {
        platform = realDevices();
    }
    if (!platform) {
        platform = std::make_unique<sim::SimulatedBus>();
    }
    return platform;
}

}  // namespace tervane::usb

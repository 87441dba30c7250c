// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The libusb-1.0 backend of the USB platform seam: real printers on Linux
// and macOS.
//
// Services are the devices libusb lists (class "IOUSBHostDevice", with their
// "idVendor", "idProduct" and "locationID", see locationIDOf below) and their interfaces (class
// "IOUSBHostInterface"), in bus order. An interface object opens its own
// libusb device handle when it is opened, takes the interface from a kernel
// driver that holds it (usblp) and claims it; closing or releasing the
// object releases the claim and gives the interface back to that driver.
// Pipe references 1..N are the interface's endpoints in descriptor order.
// Transfers use one libusb time-out, the larger of the two the caller gives.
// Statuses come from the table in libusb_status.cpp.
//
// Hot-plug uses libusb's hot-plug callbacks, handled on a thread of the
// backend. Where libusb has no hot-plug support, addMatchingNotification()
// says so with kIOReturnUnsupported (the first-match iterator still lists
// the devices already there).
//
// When libusb cannot start at all (no USB on the machine), the registry is
// simply empty: every search finds no device.
#pragma once

#include "../usb_platform.h"

#include <cstdint>
#include <memory>
#include <span>

namespace tervane::usb::libusb {

struct Core;

// The "locationID" of a device from where libusb finds it: the bus number in
// the top 8 bits, then one 4-bit nibble per port number on the way from the
// root hub, from the top (bus 1, port 2, then port 3: 0x01230000). A device
// without a port path that fits the nibbles (a root hub, a device whose hub
// libusb cannot see, a port above 15, more than six ports) gets the bus
// number in the top 8 bits and its address on the bus in the low 8 bits
// instead. Either way two devices attached at the same time never share a
// value: a path that fits never has 0 in its first port nibble, the address
// form always has it, and addresses are unique on a bus.
std::uint32_t locationIDOf(std::uint8_t busNumber, std::span<const std::uint8_t> portNumbers,
                           std::uint8_t deviceAddress);

class LibusbPlatform final : public UsbPlatform {
public:
    LibusbPlatform();
    ~LibusbPlatform() override;

    std::string backendName() const override;

    IOReturn objectRetain(io_object_t object) override;
    IOReturn objectRelease(io_object_t object) override;
    io_object_t iteratorNext(io_iterator_t iterator) override;
    IOReturn registryEntryCreateCFProperties(io_service_t service,
                                             RegistryProperties* properties) override;

    IOReturn getMatchingServices(const MatchingDictionary& matching,
                                 io_iterator_t* existing) override;
    IOReturn createPlugInInterfaceForService(io_service_t service, CFUUIDBytes pluginType,
                                             CFUUIDBytes interfaceType,
                                             IOCFPlugInInterfaceRef* plugin,
                                             std::int32_t* score) override;

    IONotificationPortRef notificationPortCreate() override;
    void notificationPortSetDispatchQueue(IONotificationPortRef port, TaskQueue* queue) override;
    void notificationPortDestroy(IONotificationPortRef port) override;
    IOReturn addMatchingNotification(IONotificationPortRef port, const std::string& type,
                                     const MatchingDictionary& matching,
                                     IOServiceMatchingCallback callback, void* refcon,
                                     io_iterator_t* notification) override;

    // True when libusb started; false means a machine without USB.
    bool usbAvailable() const;

private:
    std::shared_ptr<Core> core_;
};

}  // namespace tervane::usb::libusb

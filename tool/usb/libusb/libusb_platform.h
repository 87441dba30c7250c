// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The libusb-1.0 transport: real printers.
//
// devices() lists what libusb sees, in bus order. Claiming an interface
// opens a libusb device handle, takes the interface from a kernel driver
// that holds it (usblp) and claims it; the claim's end releases it, hands
// the interface back to that driver and closes the handle, on every path.
// The device's strings come from sysfs, where the kernel keeps them, so
// that listing the bus sends nothing to any device. Hot-plug uses libusb's
// callbacks, run on an event thread of the transport. When libusb cannot
// start at all (no USB on the machine) the bus is simply empty.
#pragma once

#include "../usb_platform.h"

#include <cstdint>
#include <memory>
#include <span>

namespace tervane::usb::libusb {

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

    std::string backendName() const override { return "libusb"; }
    std::vector<std::shared_ptr<UsbDevice>> devices() override;
    IOReturn watch(HotplugHandler handler, std::unique_ptr<HotplugWatch>* watch) override;

    // True when libusb started; false means a machine without USB.
    bool usbAvailable() const;

    struct Context;

private:
    std::shared_ptr<Context> context_;
};

}  // namespace tervane::usb::libusb

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Virtual USB devices for the simulated bus.
//
// A virtual device describes its interfaces and endpoints and answers the
// transfers the bus hands it. BasicDevice keeps per-endpoint queues of IN
// data and a log of OUT transfers; VirtualPrinter (virtual_printer.h) adds
// the printer's settings commands. A claim the system refuses is set in
// faults.
#pragma once

#include "../usb_platform.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tervane::usb::sim {

using Bytes = std::vector<std::uint8_t>;

using EndpointSpec = EndpointDescription;
using InterfaceSpec = InterfaceDescription;

// Statuses the bus returns instead of doing the call (0 = normal).
struct DeviceFaults {
    IOReturn interfaceOpen = kIOReturnSuccess;  // claiming an interface
};

// What a device does with an OUT transfer.
struct WriteOutcome {
    IOReturn status = kIOReturnSuccess;
    std::set<std::uint8_t> haltEndpoints;  // endpoint addresses to stall
    bool unplug = false;                   // the device leaves the bus
};

class VirtualDevice {
public:
    virtual ~VirtualDevice() = default;
    virtual std::uint16_t vendorId() const = 0;
    virtual std::uint16_t productId() const = 0;
    virtual std::vector<InterfaceSpec> interfaces() const = 0;
    // An OUT transfer on an endpoint of an interface.
    virtual WriteOutcome receive(std::uint8_t interfaceNumber, std::uint8_t endpointAddress,
                                 const Bytes& data) = 0;
    // The next IN transfer's data, or nothing yet (the reader waits).
    virtual std::optional<Bytes> nextIn(std::uint8_t interfaceNumber,
                                        std::uint8_t endpointAddress) = 0;

    DeviceFaults faults;  // set before plugging in
};

// A device with fixed interfaces: OUT transfers are logged, IN data comes
// from queues filled with queueIn().
class BasicDevice : public VirtualDevice {
public:
    BasicDevice(std::uint16_t vendor, std::uint16_t product, std::vector<InterfaceSpec> interfaces);

    std::uint16_t vendorId() const override { return vendor_; }
    std::uint16_t productId() const override { return product_; }
    std::vector<InterfaceSpec> interfaces() const override { return interfaces_; }
    WriteOutcome receive(std::uint8_t interfaceNumber, std::uint8_t endpointAddress,
                         const Bytes& data) override;
    std::optional<Bytes> nextIn(std::uint8_t interfaceNumber,
                                std::uint8_t endpointAddress) override;

    void queueIn(std::uint8_t endpointAddress, Bytes data);
    // Every OUT transfer so far, in order.
    std::vector<Bytes> received() const;

protected:
    void queueInLocked(std::uint8_t endpointAddress, Bytes data);
    mutable std::mutex lock_;
    std::vector<Bytes> received_;

private:
    std::uint16_t vendor_;
    std::uint16_t product_;
    std::vector<InterfaceSpec> interfaces_;
    std::map<std::uint8_t, std::deque<Bytes>> inQueues_;
};

// The printing interface: number 0, class 7 (printer) subclass 1 protocol 2,
// bulk OUT 0x01 (pipe 1), bulk IN 0x81 (pipe 2).
InterfaceSpec printerInterface();

}  // namespace tervane::usb::sim

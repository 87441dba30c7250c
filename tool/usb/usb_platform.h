// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The USB transport the tool's USB layer runs on, shaped like the USB a
// Linux program has: the devices on the bus with their descriptors and
// place, opening one and claiming an interface (the kernel driver that holds
// it detached for as long as the claim lasts), bulk transfers with a
// time-out, and hot-plug arrivals and departures.
//
// Two implementations: libusb-1.0 for real printers (tool/usb/libusb/) and
// the simulated bus with virtual devices (tool/usb/sim/). Every failure is
// an IOReturn status from io_return.h (time-out kIOReturnTimeout, vanished
// device kIOReturnNoDevice, stall kIOUSBPipeStalled, claimed elsewhere
// kIOReturnExclusiveAccess, no rights kIOReturnNotPrivileged, ...); nothing
// here throws. Every member may be called from any thread.
#pragma once

#include "io_return.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tervane::usb {

// Endpoint transfer types, as the endpoint descriptor gives them.
enum : std::uint8_t { kUSBControl = 0, kUSBIsoc = 1, kUSBBulk = 2, kUSBInterrupt = 3 };

struct EndpointDescription {
    std::uint8_t address = 0;  // bit 7 set: in
    std::uint8_t transferType = kUSBBulk;
    std::uint16_t maxPacketSize = 0;
    std::uint8_t interval = 0;
};

// One interface of the current configuration, in its current (first)
// alternate setting.
struct InterfaceDescription {
    std::uint8_t number = 0;
    std::uint8_t interfaceClass = 0;
    std::uint8_t interfaceSubClass = 0;
    std::uint8_t interfaceProtocol = 0;
    std::uint8_t alternateSetting = 0;
    std::vector<EndpointDescription> endpoints;  // descriptor order
};

struct DeviceDescription {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // The device's place on the bus: the bus number in the top 8 bits, then
    // one 4-bit nibble per port on the way from the root hub (bus 1, port 2,
    // then port 3 gives 0x01230000). Two devices attached at the same time
    // never share it.
    std::uint32_t locationID = 0;
    // The device's strings where the system knows them without asking the
    // device; empty otherwise.
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
};

// An interface claimed by this program. Destroying it releases the claim,
// gives the interface back to the kernel driver it was taken from and
// closes the device.
class ClaimedInterface {
public:
    virtual ~ClaimedInterface() = default;
    // One bulk transfer on the endpoint (bit 7 of the address: in). *size
    // holds the bytes to send, or the room to receive, on entry and the bytes
    // transferred on return. timeout is in milliseconds, 0 for none.
    virtual IOReturn bulkTransfer(std::uint8_t endpoint, std::uint8_t* data, std::uint32_t* size,
                                  std::uint32_t timeout) = 0;
};

// A device on the bus. Nothing is opened until an interface is claimed.
class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    virtual DeviceDescription description() const = 0;
    virtual std::vector<InterfaceDescription> interfaces() const = 0;
    // Opens the device, detaches a kernel driver from the interface and
    // claims it.
    virtual IOReturn claim(std::uint8_t interfaceNumber,
                           std::unique_ptr<ClaimedInterface>* claimed) = 0;
};

// Hot-plug watch: destroying it stops the calls; once the destructor has
// returned none is running or will come.
class HotplugWatch {
public:
    virtual ~HotplugWatch() = default;
};

class UsbPlatform {
public:
    virtual ~UsbPlatform() = default;

    // Short backend name for diagnostics ("libusb", "sim").
    virtual std::string backendName() const = 0;
    // The devices on the bus now, in bus order (by bus, then port path).
    virtual std::vector<std::shared_ptr<UsbDevice>> devices() = 0;

    // Called on a thread of the backend, once per device that arrives
    // (arrived true) or leaves (false).
    using HotplugHandler =
        std::function<void(bool arrived, const std::shared_ptr<UsbDevice>& device)>;
    // kIOReturnUnsupported where the system tells nothing of arrivals.
    virtual IOReturn watch(HotplugHandler handler, std::unique_ptr<HotplugWatch>* watch) = 0;
};

// Something that runs posted tasks one after another, in posting order, on
// some thread of its own choosing (a GUI event loop, say).
class TaskQueue {
public:
    virtual ~TaskQueue() = default;
    virtual void post(std::function<void()> task) = 0;
};

// ---- backend selection ----------------------------------------------------------

using PlatformFactory = std::unique_ptr<UsbPlatform> (*)();

// The libusb-1.0 backend (defined in tool/usb/libusb, target tervane_usb_libusb).
std::unique_ptr<UsbPlatform> makeLibusbPlatform();

// TERVANE_USB=sim (or simulate == true) gives the simulated bus with one
// virtual printer; otherwise realDevices() is called. A null factory or a
// factory returning null gives an empty simulated bus (no device at all).
std::unique_ptr<UsbPlatform> makePlatform(PlatformFactory realDevices, bool simulate = false);

}  // namespace tervane::usb

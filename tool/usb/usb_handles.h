// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Handles on a USB device and on one of its interfaces, with the operations
// the settings sequences use: finding the printer by vendor and product id
// (and place on the bus), listing its interfaces, opening (claiming) one,
// its pipes and bulk transfers with time-outs.
//
// Failures are thrown as IOReturnError or VXIOErrorException (io_error.h);
// every status that fails passes through throwIfNotSuccess() with its label.
// An interface handle gives its interface back when it is closed or
// destroyed, whichever comes first.
#pragma once

#include "io_error.h"
#include "usb_platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervane::usb {

class USBDeviceListObserver;
class USBInterfaceHandle;

using Bytes = std::vector<std::uint8_t>;
// Role name ("writePipe", "readPipe") to pipe reference (1 = first endpoint).
using PipeMap = std::map<std::string, int>;

// Seconds to milliseconds, truncated toward zero. Throws
// IOReturnError(kIOReturnBadArgument) when the result is not finite or lies
// outside 0..4294967295.
std::uint32_t timeoutMilliseconds(double seconds);

class USBDeviceHandle {
public:
    // The first device with these ids in bus order;
    // VXIOError::pluginHasNoUsbDeviceInterface when there is none.
    static USBDeviceHandle create(UsbPlatform& platform, int vendorIdentifier,
                                  int productIdentifier);
    // The one device with these ids at this place on the bus, whatever else
    // is attached; pluginHasNoUsbDeviceInterface when it is not there.
    static USBDeviceHandle create(UsbPlatform& platform, int vendorIdentifier,
                                  int productIdentifier, std::uint32_t locationID);
    explicit USBDeviceHandle(std::shared_ptr<UsbDevice> device);

    int getVendorIdentifier() const;
    int getProductIdentifier() const;
    const DeviceDescription& description() const { return description_; }
    // The interfaces matching the request (65535: any value), in descriptor
    // order; pluginHasNoUsbInterfaceInterface when none does.
    std::vector<USBInterfaceHandle> createInterfaceInterface(int interfaceClass = 65535,
                                                             int interfaceSubClass = 65535,
                                                             int interfaceProtocol = 65535,
                                                             int alternateSetting = 65535) const;

    // Hot-plug observation (device_list_observer.cpp). The returned object
    // must be kept; dropping it ends the observation. The handler gets the
    // notification name ("IOServiceFirstMatch" for a device that is there or
    // arrives, "IOServiceTerminate" for one that leaves) and the device.
    using ObserverHandler =
        std::function<void(const std::string& notificationName, const DeviceDescription& device)>;
    static std::vector<std::string> defaultNotificationNames();
    static std::shared_ptr<USBDeviceListObserver>
    observeDeviceList(UsbPlatform& platform, TaskQueue& queue, ObserverHandler handler,
                      std::vector<std::string> notificationNames = defaultNotificationNames());
    static std::shared_ptr<USBDeviceListObserver>
    observeDeviceList(UsbPlatform& platform, int vendorIdentifier, int productIdentifier,
                      TaskQueue& queue, ObserverHandler handler,
                      std::vector<std::string> notificationNames = defaultNotificationNames());

private:
    std::shared_ptr<UsbDevice> device_;
    DeviceDescription description_;
};

class USBInterfaceHandle {
public:
    USBInterfaceHandle(std::shared_ptr<UsbDevice> device, InterfaceDescription interface);
    ~USBInterfaceHandle();
    USBInterfaceHandle(USBInterfaceHandle&&) noexcept;
    USBInterfaceHandle& operator=(USBInterfaceHandle&&) noexcept;
    USBInterfaceHandle(const USBInterfaceHandle&) = delete;
    USBInterfaceHandle& operator=(const USBInterfaceHandle&) = delete;

    // Claims the interface ("func open-seize-false", or "-true" when asked
    // to seize; the kernel driver is taken off the interface either way).
    // An interface already open here fails with kIOReturnExclusiveAccess.
    void open(bool seize = false);
    // Gives the interface back ("func close"; kIOReturnNotOpen when it is
    // not open).
    void close();
    bool isOpen() const { return claimed_ != nullptr; }

    std::uint8_t getInterfaceNum() const { return interface_.number; }
    // Logs the endpoints and maps the last out and the last in pipe.
    PipeMap getPipes() const;
    // One transfer on the in-pipe into maxCount bytes of room.
    Bytes readBytes(std::optional<int> minCount, int maxCount, int pipe, double noDataTimeout = 0.3,
                    double completionTimeout = 0.3) const;
    void write(const Bytes& bytes, int pipe, double noDataTimeout = 0.3,
               double completionTimeout = 0.3) const;
    void write(std::string_view buffer, int pipe, double noDataTimeout = 0.3,
               double completionTimeout = 0.3) const;

private:
    // The endpoint behind a pipe reference, checked for direction and type.
    const EndpointDescription& endpoint(int pipe, bool in, const std::string& label) const;

    std::shared_ptr<UsbDevice> device_;
    InterfaceDescription interface_;
    std::unique_ptr<ClaimedInterface> claimed_;
};

}  // namespace tervane::usb

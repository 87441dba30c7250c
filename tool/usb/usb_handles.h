// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Typed handles on the platform's plug-in, USB device and USB interface
// function tables.
//
// A handle is a thin value: the platform's double pointer plus the platform it
// came from. Copies share the same platform object; release() gives back the
// one count the creating operation handed to the caller. A handle whose inner
// pointer is null is empty: every operation on it skips the platform call.
// Failures are thrown as IOReturnError or VXIOErrorException (io_error.h).
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
#include <utility>
#include <vector>

namespace tervane::usb {

class USBDeviceListObserver;
class USBInterfaceHandle;

using Bytes = std::vector<std::uint8_t>;  // byte list
using ByteBuffer = std::string;           // byte buffer (any bytes, not only text)
using PipeMap = std::map<std::string, int>;

// Seconds to the platform's 32-bit milliseconds, truncated toward zero.
// Throws IOReturnError(kIOReturnBadArgument) when the result is not finite or
// lies outside 0..4294967295.
std::uint32_t timeoutMilliseconds(double seconds);

class PlugInHandle {
public:
    PlugInHandle() = default;
    PlugInHandle(IOCFPlugInInterfaceRef ref, UsbPlatform* platform) : ref_(ref), platform_(platform)
    {
    }

    // IOCreatePlugInInterfaceForService step; the score is returned beside
    // the handle.
    static std::pair<PlugInHandle, int> create(UsbPlatform& platform, io_service_t service,
                                               CFUUIDRef pluginType);

    // QueryInterface for a device or interface table: Handle is
    // USBDeviceHandle or USBInterfaceHandle.
    template <class Handle>
    Handle queryAndCreate(CFUUIDRef interfaceType) const
    {
        return Handle(static_cast<typename Handle::Ref>(queryRaw(interfaceType)), platform_);
    }

    PlugInHandle retain() const;
    void release() const;
    bool empty() const { return ref_ == nullptr || *ref_ == nullptr; }
    IOCFPlugInInterfaceRef ref() const { return ref_; }

private:
    void* queryRaw(CFUUIDRef interfaceType) const;
    IOCFPlugInInterfaceRef ref_ = nullptr;
    UsbPlatform* platform_ = nullptr;
};

class USBDeviceHandle {
public:
    using Ref = IOUSBDeviceRef;
    USBDeviceHandle() = default;
    USBDeviceHandle(Ref ref, UsbPlatform* platform) : ref_(ref), platform_(platform) {}

    // ---- type-level ----
    static MatchingDictionary matchingDictionary(const std::string& deviceClassName,
                                                 std::optional<int> vendorIdentifier,
                                                 std::optional<int> productIdentifier);
    // Class name "IOUSBHostDevice".
    static MatchingDictionary matchingDictionary(std::optional<int> vendorIdentifier,
                                                 std::optional<int> productIdentifier);
    static USBDeviceHandle create(UsbPlatform& platform, int vendorIdentifier,
                                  int productIdentifier);
    // The one device with these ids at this place on the bus ("locationID");
    // pluginHasNoUsbDeviceInterface when it is not there, whatever else is.
    static USBDeviceHandle create(UsbPlatform& platform, int vendorIdentifier,
                                  int productIdentifier, std::uint32_t locationID);
    static USBDeviceHandle create(UsbPlatform& platform,
                                  const MatchingDictionary& matchingDictionary);
    static USBDeviceHandle create(UsbPlatform& platform, io_service_t service);

    // Hot-plug observation (device_list_observer.cpp). The returned object
    // must be kept; dropping the last reference ends the observation.
    using ObserverHandler =
        std::function<void(const std::string& notificationName, io_service_t service)>;
    static std::vector<std::string> defaultNotificationNames();
    static std::shared_ptr<USBDeviceListObserver>
    observeDeviceList(UsbPlatform& platform, TaskQueue& queue, ObserverHandler handler,
                      std::vector<std::string> notificationNames = defaultNotificationNames());
    static std::shared_ptr<USBDeviceListObserver>
    observeDeviceList(UsbPlatform& platform, int vendorIdentifier, int productIdentifier,
                      TaskQueue& queue, ObserverHandler handler,
                      std::vector<std::string> notificationNames = defaultNotificationNames());
    static std::shared_ptr<USBDeviceListObserver>
    observeDeviceList(UsbPlatform& platform, const MatchingDictionary& matchingDictionary,
                      TaskQueue& queue, ObserverHandler handler,
                      std::vector<std::string> notificationNames = defaultNotificationNames());

    // ---- on a handle ----
    int getVendorIdentifier() const;
    int getProductIdentifier() const;
    std::vector<USBInterfaceHandle> createInterfaceInterface(int interfaceClass = 65535,
                                                             int interfaceSubClass = 65535,
                                                             int interfaceProtocol = 65535,
                                                             int alternateSetting = 65535) const;
    std::vector<USBInterfaceHandle>
    createInterfaceInterface(IOUSBFindInterfaceRequest request) const;
    void open(bool seize = false) const;
    void close() const;
    void openAndPerform(bool seize, const std::function<void()>& handler) const;
    void openAndPerform(const std::function<void()>& handler) const
    {
        openAndPerform(false, handler);
    }
    void reset() const;
    USBDeviceHandle retain() const;
    void release() const;

    bool empty() const { return ref_ == nullptr || *ref_ == nullptr; }
    Ref ref() const { return ref_; }
    UsbPlatform* platform() const { return platform_; }

private:
    Ref ref_ = nullptr;
    UsbPlatform* platform_ = nullptr;
};

class USBInterfaceHandle {
public:
    using Ref = IOUSBInterfaceRef;
    USBInterfaceHandle() = default;
    USBInterfaceHandle(Ref ref, UsbPlatform* platform) : ref_(ref), platform_(platform) {}

    static USBInterfaceHandle create(UsbPlatform& platform, io_service_t service);

    void open(bool seize = false) const;
    void close() const;
    void openAndPerform(bool seize, const std::function<void()>& handler) const;
    void openAndPerform(const std::function<void()>& handler) const
    {
        openAndPerform(false, handler);
    }
    USBInterfaceHandle retain() const;
    void release() const;

    // ---- pipes and transfers (usb_interface.cpp) ----
    std::uint8_t getInterfaceNum() const;
    PipeMap getPipes() const;
    Bytes readBytes(std::optional<int> minCount, int maxCount, int pipe, double noDataTimeout = 0.3,
                    double completionTimeout = 0.3) const;
    ByteBuffer read(std::optional<int> minCount, int maxCount, int pipe, double noDataTimeout = 0.3,
                    double completionTimeout = 0.3) const;
    Bytes readBulkData(int pipe, std::uint32_t& readLen, double noDataTimeout = 3.0,
                       double completionTimeout = 30.0) const;
    void write(const Bytes& bytes, int pipe, double noDataTimeout = 0.3,
               double completionTimeout = 0.3) const;
    void write(std::string_view buffer, int pipe, double noDataTimeout = 0.3,
               double completionTimeout = 0.3) const;
    void sendControlRequest(const IOUSBDevRequestTO& request, int pipe) const;
    void clearPipeStall(bool bothEnds, int pipe) const;
    void resetPipe(int pipe) const;

    bool empty() const { return ref_ == nullptr || *ref_ == nullptr; }
    Ref ref() const { return ref_; }

private:
    Ref ref_ = nullptr;
    UsbPlatform* platform_ = nullptr;
};

}  // namespace tervane::usb

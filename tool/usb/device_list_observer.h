// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Hot-plug observation of USB devices (all, or those of one vendor and
// product id).
//
// The devices already attached are reported for "IOServiceFirstMatch" right
// after creation, every later arrival for "IOServiceFirstMatch" and every
// departure for "IOServiceTerminate". The handler runs on the caller's
// queue (a window's event loop, say), straight from the transport's thread:
// one task per notification name with the changes that came while none was
// waiting, one handler call per device, in order. Dropping the observer ends
// the observation at once: no call comes after the last owner let go, and
// a task still queued finds the observer gone and does nothing.
#pragma once

#include "usb_handles.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tervane::usb {

inline constexpr const char* kIOFirstMatchNotification = "IOServiceFirstMatch";
inline constexpr const char* kIOTerminatedNotification = "IOServiceTerminate";

class USBDeviceListObserver : public std::enable_shared_from_this<USBDeviceListObserver> {
public:
    using Handler = USBDeviceHandle::ObserverHandler;

    struct Match {
        std::optional<std::uint16_t> vendorId;
        std::optional<std::uint16_t> productId;
    };

    static std::shared_ptr<USBDeviceListObserver>
    make(UsbPlatform& platform, Match match, const std::vector<std::string>& notificationNames,
         TaskQueue& callbackQueue, Handler handler);
    ~USBDeviceListObserver();
    USBDeviceListObserver(const USBDeviceListObserver&) = delete;
    USBDeviceListObserver& operator=(const USBDeviceListObserver&) = delete;

private:
    USBDeviceListObserver(Match match, const std::vector<std::string>& notificationNames,
                          TaskQueue& callbackQueue, Handler handler);
    // Notes the device for the name and, unless a task for the name is
    // waiting already, queues one.
    void deliver(const std::string& name, const DeviceDescription& device);
    void handleNotification(const std::string& name);

    struct Pending {
        std::vector<DeviceDescription> devices;
        bool queued = false;
    };

    const Match match_;
    TaskQueue& callbackQueue_;
    const Handler handler_;
    std::mutex lock_;
    std::map<std::string, Pending> pending_;  // by registered name
    std::unique_ptr<HotplugWatch> watch_;
};

}  // namespace tervane::usb

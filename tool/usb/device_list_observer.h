// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Hot-plug observation of USB devices matching a dictionary.
//
// One platform matching notification per notification name, delivered on the
// observer's own serial executor; the caller's handler is called on the
// caller's queue, one task per notification, once per service in order. The
// service reference is valid during the call only (retain() to keep it).
// Dropping the last reference to the observer ends the observation: no task
// queued before that walks an iterator that teardown has released.
#pragma once

#include "serial_executor.h"
#include "usb_handles.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tervane::usb {

class USBDeviceListObserver : public std::enable_shared_from_this<USBDeviceListObserver> {
public:
    using Handler = USBDeviceHandle::ObserverHandler;

    // Creates the observer and arms it: devices already matching are
    // reported for "IOServiceFirstMatch" right away (on the caller's queue).
    static std::shared_ptr<USBDeviceListObserver>
    make(UsbPlatform& platform, const MatchingDictionary& matchingDictionary,
         const std::vector<std::string>& notificationNames, TaskQueue& callbackQueue,
         Handler handler);
    ~USBDeviceListObserver();
    USBDeviceListObserver(const USBDeviceListObserver&) = delete;
    USBDeviceListObserver& operator=(const USBDeviceListObserver&) = delete;

    const std::string& observingQueueLabel() const { return observingQueue_.label(); }

private:
    struct ObservingContext {
        std::string notificationName;
        std::weak_ptr<USBDeviceListObserver> observer;
    };

    USBDeviceListObserver(UsbPlatform& platform, TaskQueue& callbackQueue, Handler handler);
    static void platformCallback(void* refcon, io_iterator_t iterator);
    void handleNotification(const std::string& name, io_iterator_t iterator);

    UsbPlatform& platform_;
    std::vector<std::unique_ptr<ObservingContext>> contexts_;
    SerialExecutor observingQueue_;
    IONotificationPortRef observingPort_ = nullptr;
    TaskQueue& callbackQueue_;
    std::map<std::string, io_iterator_t> iteratorsForNotifications_;
    Handler handler_;
};

}  // namespace tervane::usb

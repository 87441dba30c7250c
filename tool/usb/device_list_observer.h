// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Hot-plug observation of USB devices matching a dictionary.
//
// One platform matching notification per notification name. The platform
// delivers straight onto the caller's queue (a window's event loop, say):
// one task per notification, which walks the notification's iterator and
// calls the handler once per service in order; no thread of the observer's
// own sits in between. The service reference is valid during the call only
// (retain() to keep it). Dropping the last reference to the observer ends
// the observation at once, without waiting for anything: a task queued
// before that finds the observer gone and does nothing.
#pragma once

#include "usb_handles.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tervane::usb {

class USBDeviceListObserver : public std::enable_shared_from_this<USBDeviceListObserver>,
                              private TaskQueue {
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

private:
    struct ObservingContext {
        std::string notificationName;
        std::weak_ptr<USBDeviceListObserver> observer;
    };

    USBDeviceListObserver(UsbPlatform& platform, TaskQueue& callbackQueue, Handler handler);
    // The notification port's queue: the platform's tasks go on to the
    // caller's queue, and run there only while the observer lives.
    void post(std::function<void()> task) override;
    static void platformCallback(void* refcon, io_iterator_t iterator);
    void handleNotification(const std::string& name, io_iterator_t iterator);

    UsbPlatform& platform_;
    std::vector<std::unique_ptr<ObservingContext>> contexts_;
    IONotificationPortRef observingPort_ = nullptr;
    TaskQueue& callbackQueue_;
    std::map<std::string, io_iterator_t> iteratorsForNotifications_;
    Handler handler_;
};

}  // namespace tervane::usb

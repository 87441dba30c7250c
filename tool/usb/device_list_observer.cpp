// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "device_list_observer.h"

namespace tervane::usb {

USBDeviceListObserver::USBDeviceListObserver(Match match,
                                             const std::vector<std::string>& notificationNames,
                                             TaskQueue& callbackQueue, Handler handler)
    : match_(match), callbackQueue_(callbackQueue), handler_(std::move(handler))
{
    for (const std::string& name : notificationNames) {
        pending_[name];
    }
}

std::shared_ptr<USBDeviceListObserver>
USBDeviceListObserver::make(UsbPlatform& platform, Match match,
                            const std::vector<std::string>& notificationNames,
                            TaskQueue& callbackQueue, Handler handler)
{
    std::shared_ptr<USBDeviceListObserver> observer(
        new USBDeviceListObserver(match, notificationNames, callbackQueue, std::move(handler)));
    USBDeviceListObserver* const self = observer.get();
    const auto matches = [self](const DeviceDescription& device) {
        return (!self->match_.vendorId || device.vendorId == *self->match_.vendorId) &&
               (!self->match_.productId || device.productId == *self->match_.productId);
    };
    // The watch is stopped first thing in the destructor, which waits for a
    // call under way: the observer outlives every call.
    (void)platform.watch(
        [self, matches](bool arrived, const std::shared_ptr<UsbDevice>& device) {
            const DeviceDescription description = device->description();
            if (matches(description)) {
                self->deliver(arrived ? kIOFirstMatchNotification : kIOTerminatedNotification,
                              description);
            }
        },
        &observer->watch_);
    // One task per name right away: the devices already there for the first
    // match, none for the others.
    std::vector<DeviceDescription> attached;
    for (const auto& device : platform.devices()) {
        if (matches(device->description())) {
            attached.push_back(device->description());
        }
    }
    for (auto& [name, pending] : observer->pending_) {
        std::lock_guard guard(observer->lock_);
        if (name == kIOFirstMatchNotification) {
            pending.devices.insert(pending.devices.begin(), attached.begin(), attached.end());
        }
        if (!pending.queued) {
            pending.queued = true;
            observer->callbackQueue_.post([weak = observer->weak_from_this(), name = name] {
                if (auto alive = weak.lock()) {
                    alive->handleNotification(name);
                }
            });
        }
    }
    return observer;
}

USBDeviceListObserver::~USBDeviceListObserver() { watch_.reset(); }

void USBDeviceListObserver::deliver(const std::string& name, const DeviceDescription& device)
{
    std::lock_guard guard(lock_);
    auto found = pending_.find(name);
    if (found == pending_.end()) {
        return;  // not a name this observer registered
    }
    found->second.devices.push_back(device);
    if (found->second.queued) {
        return;
    }
    found->second.queued = true;
    // The task holds the observer only weakly: one that runs after the last
    // owner let go does nothing.
    callbackQueue_.post([weak = weak_from_this(), name] {
        if (auto observer = weak.lock()) {
            observer->handleNotification(name);
        }
    });
}

void USBDeviceListObserver::handleNotification(const std::string& name)
{
    std::vector<DeviceDescription> devices;
    {
        std::lock_guard guard(lock_);
        Pending& pending = pending_.at(name);
        devices.swap(pending.devices);
        pending.queued = false;
    }
    for (const DeviceDescription& device : devices) {
        handler_(name, device);
    }
}

std::vector<std::string> USBDeviceHandle::defaultNotificationNames()
{
    return {kIOFirstMatchNotification, kIOTerminatedNotification};
}

std::shared_ptr<USBDeviceListObserver>
USBDeviceHandle::observeDeviceList(UsbPlatform& platform, TaskQueue& queue, ObserverHandler handler,
                                   std::vector<std::string> notificationNames)
{
    return USBDeviceListObserver::make(platform, {}, notificationNames, queue, std::move(handler));
}

std::shared_ptr<USBDeviceListObserver>
USBDeviceHandle::observeDeviceList(UsbPlatform& platform, int vendorIdentifier,
                                   int productIdentifier, TaskQueue& queue, ObserverHandler handler,
                                   std::vector<std::string> notificationNames)
{
    USBDeviceListObserver::Match match;
    match.vendorId = static_cast<std::uint16_t>(vendorIdentifier);
    match.productId = static_cast<std::uint16_t>(productIdentifier);
    return USBDeviceListObserver::make(platform, match, notificationNames, queue,
                                       std::move(handler));
}

}  // namespace tervane::usb

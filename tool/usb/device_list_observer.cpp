// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "device_list_observer.h"

#include "registry.h"

namespace tervane::usb {

USBDeviceListObserver::USBDeviceListObserver(UsbPlatform& platform, TaskQueue& callbackQueue,
                                             Handler handler)
    : platform_(platform), callbackQueue_(callbackQueue), handler_(std::move(handler))
{
}

std::shared_ptr<USBDeviceListObserver>
USBDeviceListObserver::make(UsbPlatform& platform, const MatchingDictionary& matchingDictionary,
                            const std::vector<std::string>& notificationNames,
                            TaskQueue& callbackQueue, Handler handler)
{
    std::shared_ptr<USBDeviceListObserver> observer(
        new USBDeviceListObserver(platform, callbackQueue, std::move(handler)));
    observer->observingPort_ = platform.notificationPortCreate();
    platform.notificationPortSetDispatchQueue(observer->observingPort_, observer.get());
    for (const auto& name : notificationNames) {
        if (observer->iteratorsForNotifications_.count(name) != 0) {
            continue;  // a set of names: each registered once
        }
        auto context = std::make_unique<ObservingContext>(ObservingContext{name, observer});
        io_iterator_t iterator = IO_OBJECT_NULL;
        (void)platform.addMatchingNotification(observer->observingPort_, name, matchingDictionary,
                                               &USBDeviceListObserver::platformCallback,
                                               context.get(), &iterator);
        // The devices that match already, reported on the caller's queue
        // like every later change; the walk arms the notification.
        observer->post(
            [context = context.get(), iterator] { platformCallback(context, iterator); });
        observer->contexts_.push_back(std::move(context));
        observer->iteratorsForNotifications_[name] = iterator;
    }
    return observer;
}

USBDeviceListObserver::~USBDeviceListObserver()
{
    platform_.notificationPortDestroy(observingPort_);
    // Tasks still queued on the caller's queue find the observer gone (see
    // post()) and touch neither the contexts nor the iterators.
    for (const auto& [name, iterator] : iteratorsForNotifications_) {
        if (iterator != IO_OBJECT_NULL) {
            platform_.objectRelease(iterator);
        }
    }
}

void USBDeviceListObserver::post(std::function<void()> task)
{
    // The task keeps the observer, and so its iterators and contexts, for as
    // long as it runs; one that runs after the last owner let go does nothing.
    callbackQueue_.post([weak = weak_from_this(), task = std::move(task)] {
        if (auto observer = weak.lock()) {
            task();
        }
    });
}

void USBDeviceListObserver::platformCallback(void* refcon, io_iterator_t iterator)
{
    auto* context = static_cast<ObservingContext*>(refcon);
    if (auto observer = context->observer.lock()) {
        observer->handleNotification(context->notificationName, iterator);
    }
}

void USBDeviceListObserver::handleNotification(const std::string& name, io_iterator_t iterator)
{
    enumerateServices(platform_, iterator,
                      [&](io_service_t service, bool&) { handler_(name, service); });
}

std::vector<std::string> USBDeviceHandle::defaultNotificationNames()
{
    return {kIOFirstMatchNotification, kIOTerminatedNotification};
}

std::shared_ptr<USBDeviceListObserver>
USBDeviceHandle::observeDeviceList(UsbPlatform& platform, TaskQueue& queue, ObserverHandler handler,
                                   std::vector<std::string> notificationNames)
{
    return USBDeviceListObserver::make(platform, matchingDictionary(std::nullopt, std::nullopt),
                                       notificationNames, queue, std::move(handler));
}

std::shared_ptr<USBDeviceListObserver>
USBDeviceHandle::observeDeviceList(UsbPlatform& platform, int vendorIdentifier,
                                   int productIdentifier, TaskQueue& queue, ObserverHandler handler,
                                   std::vector<std::string> notificationNames)
{
    return USBDeviceListObserver::make(platform,
                                       matchingDictionary(vendorIdentifier, productIdentifier),
                                       notificationNames, queue, std::move(handler));
}

std::shared_ptr<USBDeviceListObserver> USBDeviceHandle::observeDeviceList(
    UsbPlatform& platform, const MatchingDictionary& matchingDictionary, TaskQueue& queue,
    ObserverHandler handler, std::vector<std::string> notificationNames)
{
    return USBDeviceListObserver::make(platform, matchingDictionary, notificationNames, queue,
                                       std::move(handler));
}

}  // namespace tervane::usb

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Hot-plug: libusb's arrival and departure callbacks turned into the
// platform's first-match and terminate notifications.
#include "libusb_backend.h"

#include <cstring>

namespace tervane::usb::libusb {

namespace {

int LIBUSB_CALL onHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                          void* userData)
{
    auto* core = static_cast<Core*>(userData);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
        core->deviceArrived(device);
    } else if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT) {
        core->deviceLeft(device);
    }
    return 0;  // stay registered
}

}  // namespace

IOReturn Core::startHotplug()
{
    if (hotplugRegistered) {
        return kIOReturnSuccess;
    }
    if (context == nullptr || libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) {
        return kIOReturnUnsupported;
    }
    const int result = libusb_hotplug_register_callback(
        context,
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        LIBUSB_HOTPLUG_MATCH_ANY, &onHotplug, this, &hotplugHandle);
    if (result != LIBUSB_SUCCESS) {
        return kIOReturnUnsupported;
    }
    hotplugRegistered = true;
    // libusb delivers hot-plug callbacks from whichever thread handles its
    // events; this one makes sure some thread always does.
    events = std::thread([this] {
        while (!stopEvents) {
            timeval tick{0, 200000};
            libusb_handle_events_timeout_completed(context, &tick, nullptr);
        }
    });
    return kIOReturnSuccess;
}

void Core::deviceArrived(libusb_device* device)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    const io_service_t service = serviceFor(device);
    notify(kIOFirstMatchNotification, device, service);
    release(service);
}

void Core::deviceLeft(libusb_device* device)
{
    std::lock_guard<std::recursive_mutex> guard(lock);
    const io_service_t service = serviceFor(device);
    // A device that comes back is a new service.
    deviceServices.erase(device);
    notify(kIOTerminatedNotification, device, service);
    release(service);
}

// Appends the service to every matching registration's iterator and wakes
// the armed ones: one task per notification, then disarmed until drained.
void Core::notify(const char* type, libusb_device* device, io_service_t service)
{
    const ServiceDescription description = describeDevice(device);
    for (const auto& port : ports) {
        for (const auto& registration : port->registrations) {
            if (registration->type != type || registration->iterator == IO_OBJECT_NULL ||
                !serviceMatches(registration->matching, description)) {
                continue;
            }
            Entry* iterator = find(registration->iterator);
            if (iterator == nullptr) {
                continue;
            }
            retain(service);
            iterator->items.push_back(service);
            if (iterator->armed && port->queue != nullptr) {
                iterator->armed = false;
                const IOServiceMatchingCallback callback = registration->callback;
                void* const refcon = registration->refcon;
                const io_iterator_t reference = registration->iterator;
                port->queue->post([callback, refcon, reference] { callback(refcon, reference); });
            }
        }
    }
}

}  // namespace tervane::usb::libusb

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "libusb_platform.h"

#include "libusb_backend.h"

#include <algorithm>

namespace tervane::usb {

std::unique_ptr<UsbPlatform> makeLibusbPlatform()
{
    return std::make_unique<libusb::LibusbPlatform>();
}

}  // namespace tervane::usb

namespace tervane::usb::libusb {

namespace {

// The port handed to callers is the backend's port state under the seam's
// opaque name (left undefined here: other backends may define it).
IONotificationPortRef toRef(NotificationPortState* port)
{
    return reinterpret_cast<IONotificationPortRef>(port);
}

NotificationPortState* fromRef(IONotificationPortRef port)
{
    return reinterpret_cast<NotificationPortState*>(port);
}

}  // namespace

LibusbPlatform::LibusbPlatform() : core_(std::make_shared<Core>()) {}

LibusbPlatform::~LibusbPlatform() = default;

std::string LibusbPlatform::backendName() const { return "libusb"; }

bool LibusbPlatform::usbAvailable() const { return core_->context != nullptr; }

IOReturn LibusbPlatform::objectRetain(io_object_t object)
{
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    return core_->retain(object);
}

IOReturn LibusbPlatform::objectRelease(io_object_t object)
{
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    return core_->release(object);
}

io_object_t LibusbPlatform::iteratorNext(io_iterator_t iterator)
{
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    Entry* entry = core_->find(iterator);
    if (entry == nullptr || entry->kind != Entry::Kind::Iterator) {
        return IO_OBJECT_NULL;
    }
    if (entry->items.empty()) {
        // Drained: a notification fires again on the next change.
        entry->armed = true;
        return IO_OBJECT_NULL;
    }
    const io_object_t next = entry->items.front();  // its count goes to the caller
    entry->items.pop_front();
    return next;
}

IOReturn LibusbPlatform::registryEntryCreateCFProperties(io_service_t service,
                                                         RegistryProperties* properties)
{
    if (properties == nullptr) {
        return kIOReturnBadArgument;
    }
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    Entry* entry = core_->find(service);
    if (entry == nullptr || entry->kind == Entry::Kind::Iterator) {
        return kIOReturnBadArgument;
    }
    *properties = registryProperties(entry->description);
    return kIOReturnSuccess;
}

IOReturn LibusbPlatform::getMatchingServices(const MatchingDictionary& matching,
                                             io_iterator_t* existing)
{
    if (existing == nullptr) {
        return kIOReturnBadArgument;
    }
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    *existing = core_->makeIterator(core_->matchingServices(matching));
    return kIOReturnSuccess;
}

IOReturn LibusbPlatform::createPlugInInterfaceForService(io_service_t service,
                                                         CFUUIDBytes pluginType,
                                                         CFUUIDBytes interfaceType,
                                                         IOCFPlugInInterfaceRef* plugin,
                                                         std::int32_t* score)
{
    if (plugin == nullptr || score == nullptr) {
        return kIOReturnBadArgument;
    }
    *plugin = nullptr;
    *score = 0;
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    Entry* entry = core_->find(service);
    if (entry == nullptr || entry->kind == Entry::Kind::Iterator) {
        return kIOReturnBadArgument;
    }
    const bool isInterface = entry->kind == Entry::Kind::Interface;
    const CFUUIDBytes& wantedType = isInterface ? *kIOUSBInterfaceUserClientTypeID()
                                                : *kIOUSBDeviceUserClientTypeID();
    if (!(pluginType == wantedType) || !(interfaceType == *kIOCFPlugInInterfaceID())) {
        return kIOReturnUnsupported;
    }
    *plugin = makePlugIn(core_, entry->device, isInterface, entry->interface);
    return kIOReturnSuccess;
}

IONotificationPortRef LibusbPlatform::notificationPortCreate()
{
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    core_->ports.push_back(std::make_unique<NotificationPortState>());
    return toRef(core_->ports.back().get());
}

void LibusbPlatform::notificationPortSetDispatchQueue(IONotificationPortRef port, TaskQueue* queue)
{
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    if (port != nullptr) {
        fromRef(port)->queue = queue;
    }
}

void LibusbPlatform::notificationPortDestroy(IONotificationPortRef port)
{
    // Posting happens under the lock, so once this returns nothing more is
    // posted for the port.
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    auto& ports = core_->ports;
    auto it = std::find_if(ports.begin(), ports.end(),
                           [port](const auto& owned) { return owned.get() == fromRef(port); });
    if (it == ports.end()) {
        return;
    }
    for (const auto& registration : (*it)->registrations) {
        if (Entry* iterator = core_->find(registration->iterator)) {
            iterator->registration = nullptr;
        }
    }
    ports.erase(it);
}

IOReturn LibusbPlatform::addMatchingNotification(IONotificationPortRef port,
                                                 const std::string& type,
                                                 const MatchingDictionary& matching,
                                                 IOServiceMatchingCallback callback, void* refcon,
                                                 io_iterator_t* notification)
{
    if (port == nullptr || callback == nullptr || notification == nullptr ||
        (type != kIOFirstMatchNotification && type != kIOTerminatedNotification)) {
        return kIOReturnBadArgument;
    }
    std::lock_guard<std::recursive_mutex> guard(core_->lock);
    const IOReturn hotplug = core_->startHotplug();

    auto registration = std::make_unique<Registration>();
    registration->type = type;
    registration->matching = matching;
    registration->callback = callback;
    registration->refcon = refcon;
    // First-match starts with the devices already there; terminate empty.
    std::deque<io_object_t> existing;
    if (type == kIOFirstMatchNotification) {
        existing = core_->matchingServices(matching);
    }
    registration->iterator = core_->makeIterator(std::move(existing));
    core_->find(registration->iterator)->registration = registration.get();
    *notification = registration->iterator;
    fromRef(port)->registrations.push_back(std::move(registration));
    return hotplug;
}

}  // namespace tervane::usb::libusb

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Inside the libusb backend: the shared state behind the platform object and
// every device, interface and plug-in object it hands out.
#pragma once

#include "../usb_platform.h"

#include <libusb.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tervane::usb::libusb {

struct EndpointInfo {
    std::uint8_t address = 0;
    std::uint8_t attributes = 0;
    std::uint16_t maxPacketSize = 0;
    std::uint8_t interval = 0;
};

// One interface (its current alternate setting) as its descriptors give it.
struct InterfaceInfo {
    std::uint8_t number = 0;
    std::uint8_t alternateSetting = 0;
    std::uint8_t interfaceClass = 0;
    std::uint8_t interfaceSubClass = 0;
    std::uint8_t interfaceProtocol = 0;
    std::uint8_t controlMaxPacketSize = 0;
    std::vector<EndpointInfo> endpoints;  // pipe reference i + 1 is endpoints[i]
};

struct Core;

// A notification registered on a port.
struct Registration {
    std::string type;
    MatchingDictionary matching;
    IOServiceMatchingCallback callback = nullptr;
    void* refcon = nullptr;
    io_iterator_t iterator = IO_OBJECT_NULL;  // 0 once the caller released it
};

struct NotificationPortState {
    TaskQueue* queue = nullptr;
    std::vector<std::unique_ptr<Registration>> registrations;
};

// A registry entry: a device service, an interface service or an iterator.
struct Entry {
    enum class Kind { Device, Interface, Iterator };
    Kind kind = Kind::Device;
    std::uint32_t count = 1;
    // Device and interface services.
    libusb_device* device = nullptr;  // one libusb reference held
    ServiceDescription description;
    InterfaceInfo interface;
    // Iterators: the services still to hand out, one count each.
    std::deque<io_object_t> items;
    Registration* registration = nullptr;  // set for a notification iterator
    bool armed = false;
};

// Everything the backend shares: the libusb context, the registry and the
// hot-plug machinery. Objects handed to callers keep it alive.
struct Core {
    Core();
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    libusb_context* context = nullptr;  // null when libusb could not start

    // Registry (all under the lock; recursive because a task queue may run a
    // notification callback inline, and that walks the iterator).
    std::recursive_mutex lock;
    io_object_t nextReference = 0x1000;
    std::map<io_object_t, Entry> entries;
    std::map<libusb_device*, io_service_t> deviceServices;  // attached devices
    std::vector<std::unique_ptr<NotificationPortState>> ports;

    // Hot-plug event thread, started with the first notification.
    std::thread events;
    std::atomic<bool> stopEvents{false};
    bool hotplugRegistered = false;
    libusb_hotplug_callback_handle hotplugHandle = 0;

    // All below expect the lock held.
    io_object_t add(Entry entry);
    Entry* find(io_object_t reference);
    IOReturn retain(io_object_t reference);
    IOReturn release(io_object_t reference);
    // The service of an attached device, with one count for the caller.
    io_service_t serviceFor(libusb_device* device);
    io_iterator_t makeIterator(std::deque<io_object_t> items);
    // A new interface service of the device (the entry takes its own libusb
    // reference), with one count for the caller.
    io_service_t addInterface(libusb_device* device, const ServiceDescription& description,
                              const InterfaceInfo& interface);
    // Devices and interfaces currently on the bus matching the dictionary,
    // each retained, in bus order.
    std::deque<io_object_t> matchingServices(const MatchingDictionary& matching);
    IOReturn startHotplug();
    void deviceArrived(libusb_device* device);
    void deviceLeft(libusb_device* device);
    void notify(const char* type, libusb_device* device, io_service_t service);
};

// Descriptor reading.
ServiceDescription describeDevice(libusb_device* device);
// The interfaces of the active configuration (first configuration when the
// active one cannot be read).
std::vector<InterfaceInfo> interfacesOf(libusb_device* device);

// COM-style objects. A handle is the address of `table` in ComHandle, the
// first member of every object; `object` leads back to the whole object.
struct ComHandle {
    const void* table;
    void* object;
};

template <typename T>
T* objectOf(void* self)
{
    return static_cast<T*>(static_cast<ComHandle*>(self)->object);
}

// Plug-in object for a device or an interface service.
IOCFPlugInInterfaceRef makePlugIn(std::shared_ptr<Core> core, libusb_device* device,
                                  bool isInterface, const InterfaceInfo& interface);
IOUSBDeviceRef makeDeviceObject(std::shared_ptr<Core> core, libusb_device* device);
IOUSBInterfaceRef makeInterfaceObject(std::shared_ptr<Core> core, libusb_device* device,
                                      const InterfaceInfo& interface);

// libusb takes one time-out; see libusb_interface.cpp.
unsigned int libusbTimeout(std::uint32_t noDataTimeout, std::uint32_t completionTimeout);

}  // namespace tervane::usb::libusb

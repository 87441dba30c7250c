// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The backend's registry: 32-bit references to device services, interface
// services and iterators, with a count per reference.
#include "libusb_backend.h"
#include "libusb_platform.h"

#include <algorithm>
#include <array>
#include <tuple>

namespace tervane::usb::libusb {

Core::Core()
{
    if (libusb_init(&context) != LIBUSB_SUCCESS) {
        // No USB support at all (no usbfs, no permission to look): the
        // registry stays empty, so every search finds no device.
        context = nullptr;
    }
}

Core::~Core()
{
    if (events.joinable()) {
        stopEvents = true;
        libusb_interrupt_event_handler(context);
        events.join();
    }
    if (hotplugRegistered) {
        libusb_hotplug_deregister_callback(context, hotplugHandle);
    }
    for (auto& [reference, entry] : entries) {
        if (entry.device != nullptr) {
            libusb_unref_device(entry.device);
        }
    }
    entries.clear();
    if (context != nullptr) {
        libusb_exit(context);
    }
}

io_object_t Core::add(Entry entry)
{
    io_object_t reference = nextReference++;
    if (nextReference == IO_OBJECT_NULL) {
        nextReference = 0x1000;
    }
    entries.emplace(reference, std::move(entry));
    return reference;
}

Entry* Core::find(io_object_t reference)
{
    auto it = entries.find(reference);
    return it == entries.end() ? nullptr : &it->second;
}

IOReturn Core::retain(io_object_t reference)
{
    Entry* entry = find(reference);
    if (entry == nullptr) {
        return kIOReturnBadArgument;
    }
    ++entry->count;
    return kIOReturnSuccess;
}

IOReturn Core::release(io_object_t reference)
{
    auto it = entries.find(reference);
    if (it == entries.end()) {
        return kIOReturnBadArgument;
    }
    if (--it->second.count > 0) {
        return kIOReturnSuccess;
    }
    Entry gone = std::move(it->second);
    entries.erase(it);
    if (gone.device != nullptr) {
        if (gone.kind == Entry::Kind::Device) {
            auto known = deviceServices.find(gone.device);
            if (known != deviceServices.end() && known->second == reference) {
                deviceServices.erase(known);
            }
        }
        libusb_unref_device(gone.device);
    }
    if (gone.registration != nullptr) {
        gone.registration->iterator = IO_OBJECT_NULL;
    }
    for (io_object_t item : gone.items) {
        release(item);
    }
    return kIOReturnSuccess;
}

io_service_t Core::serviceFor(libusb_device* device)
{
    auto known = deviceServices.find(device);
    if (known != deviceServices.end()) {
        retain(known->second);
        return known->second;
    }
    Entry entry;
    entry.kind = Entry::Kind::Device;
    entry.device = libusb_ref_device(device);
    entry.description = describeDevice(device);
    // One count for the caller; the registry keeps none of its own, so the
    // entry goes away when the last caller lets go of it.
    const io_service_t service = add(std::move(entry));
    deviceServices[device] = service;
    return service;
}

io_iterator_t Core::makeIterator(std::deque<io_object_t> items)
{
    Entry entry;
    entry.kind = Entry::Kind::Iterator;
    entry.items = std::move(items);
    return add(std::move(entry));
}

io_service_t Core::addInterface(libusb_device* device, const ServiceDescription& description,
                                const InterfaceInfo& interface)
{
    Entry entry;
    entry.kind = Entry::Kind::Interface;
    entry.device = libusb_ref_device(device);
    entry.description = description;
    entry.interface = interface;
    return add(std::move(entry));
}

std::deque<io_object_t> Core::matchingServices(const MatchingDictionary& matching)
{
    std::deque<io_object_t> found;
    if (context == nullptr) {
        return found;
    }
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) {
        return found;
    }
    // Registry order: by bus, then by the port path from the root hub.
    std::vector<std::pair<std::vector<std::uint8_t>, libusb_device*>> devices;
    for (ssize_t i = 0; i < count; ++i) {
        std::array<std::uint8_t, 8> ports{};
        const int depth = libusb_get_port_numbers(list[i], ports.data(),
                                                  static_cast<int>(ports.size()));
        std::vector<std::uint8_t> key{libusb_get_bus_number(list[i])};
        key.insert(key.end(), ports.begin(), ports.begin() + std::max(depth, 0));
        key.push_back(libusb_get_device_address(list[i]));
        devices.emplace_back(std::move(key), list[i]);
    }
    std::sort(devices.begin(), devices.end());

    for (const auto& [key, device] : devices) {
        const ServiceDescription description = describeDevice(device);
        if (serviceMatches(matching, description)) {
            found.push_back(serviceFor(device));
        }
        ServiceDescription asInterface = description;
        asInterface.className = kIOUSBHostInterfaceClassName;
        if (!serviceMatches(matching, asInterface)) {
            continue;
        }
        for (const InterfaceInfo& info : interfacesOf(device)) {
            found.push_back(addInterface(device, asInterface, info));
        }
    }
    libusb_free_device_list(list, 1);
    return found;
}

std::uint32_t locationIDOf(std::uint8_t busNumber, std::span<const std::uint8_t> portNumbers,
                           std::uint8_t deviceAddress)
{
    constexpr std::size_t kNibbles = 6;
    const std::uint32_t bus = static_cast<std::uint32_t>(busNumber) << 24;
    const bool fits = !portNumbers.empty() && portNumbers.size() <= kNibbles &&
                      std::all_of(portNumbers.begin(), portNumbers.end(),
                                  [](std::uint8_t port) { return port >= 1 && port <= 0xF; });
    if (!fits) {
        return bus | deviceAddress;
    }
    std::uint32_t location = bus;
    int shift = 20;
    for (std::uint8_t port : portNumbers) {
        location |= static_cast<std::uint32_t>(port) << shift;
        shift -= 4;
    }
    return location;
}

ServiceDescription describeDevice(libusb_device* device)
{
    ServiceDescription description;
    description.className = kIOUSBHostDeviceClassName;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS) {
        description.vendorId = descriptor.idVendor;
        description.productId = descriptor.idProduct;
    }
    // Seven ports is more than a USB tree holds; an error leaves no path.
    std::array<std::uint8_t, 7> ports{};
    const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    description.locationID = locationIDOf(
        libusb_get_bus_number(device),
        std::span<const std::uint8_t>(ports.data(), static_cast<std::size_t>(std::max(depth, 0))),
        libusb_get_device_address(device));
    return description;
}

std::vector<InterfaceInfo> interfacesOf(libusb_device* device)
{
    std::vector<InterfaceInfo> result;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS &&
        libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS) {
        return result;
    }
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting < 1) {
            continue;
        }
        // The current alternate setting: 0 until someone selects another,
        // which this layer never does.
        const libusb_interface_descriptor& alt = interface.altsetting[0];
        InterfaceInfo info;
        info.number = alt.bInterfaceNumber;
        info.alternateSetting = alt.bAlternateSetting;
        info.interfaceClass = alt.bInterfaceClass;
        info.interfaceSubClass = alt.bInterfaceSubClass;
        info.interfaceProtocol = alt.bInterfaceProtocol;
        info.controlMaxPacketSize = descriptor.bMaxPacketSize0;
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            info.endpoints.push_back(
                {ep.bEndpointAddress, ep.bmAttributes, ep.wMaxPacketSize, ep.bInterval});
        }
        result.push_back(std::move(info));
    }
    libusb_free_config_descriptor(config);
    return result;
}

}  // namespace tervane::usb::libusb

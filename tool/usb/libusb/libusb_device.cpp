// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The device object: open and close (a libusb device handle), ids, the
// interface iterator, reset.
#include "libusb_backend.h"
#include "libusb_status.h"

#include <mutex>

namespace tervane::usb::libusb {

namespace {

struct DeviceObject {
    ComHandle com{};
    std::atomic<std::uint32_t> references{1};
    std::shared_ptr<Core> core;
    libusb_device* device = nullptr;  // one libusb reference held
    std::mutex lock;
    libusb_device_handle* handle = nullptr;  // while open
};

DeviceObject* self_(void* self) { return objectOf<DeviceObject>(self); }

std::uint32_t addRef(void* self) { return ++self_(self)->references; }

std::uint32_t release(void* self)
{
    DeviceObject* device = self_(self);
    const std::uint32_t left = --device->references;
    if (left == 0) {
        if (device->handle != nullptr) {
            libusb_close(device->handle);
        }
        libusb_unref_device(device->device);
        delete device;
    }
    return left;
}

IOReturn open(void* self)
{
    DeviceObject* device = self_(self);
    std::lock_guard<std::mutex> guard(device->lock);
    if (device->handle != nullptr) {
        return kIOReturnExclusiveAccess;
    }
    return ioReturnFromLibusb(libusb_open(device->device, &device->handle));
}

IOReturn close(void* self)
{
    DeviceObject* device = self_(self);
    std::lock_guard<std::mutex> guard(device->lock);
    if (device->handle == nullptr) {
        return kIOReturnNotOpen;
    }
    libusb_close(device->handle);
    device->handle = nullptr;
    return kIOReturnSuccess;
}

IOReturn getVendor(void* self, std::uint16_t* vendor)
{
    libusb_device_descriptor descriptor{};
    const int result = libusb_get_device_descriptor(self_(self)->device, &descriptor);
    if (result == LIBUSB_SUCCESS && vendor != nullptr) {
        *vendor = descriptor.idVendor;
    }
    return vendor == nullptr ? kIOReturnBadArgument : ioReturnFromLibusb(result);
}

IOReturn getProduct(void* self, std::uint16_t* product)
{
    libusb_device_descriptor descriptor{};
    const int result = libusb_get_device_descriptor(self_(self)->device, &descriptor);
    if (result == LIBUSB_SUCCESS && product != nullptr) {
        *product = descriptor.idProduct;
    }
    return product == nullptr ? kIOReturnBadArgument : ioReturnFromLibusb(result);
}

IOReturn createInterfaceIterator(void* self, IOUSBFindInterfaceRequest* request,
                                 io_iterator_t* iterator)
{
    if (request == nullptr || iterator == nullptr) {
        return kIOReturnBadArgument;
    }
    DeviceObject* device = self_(self);
    ServiceDescription description = describeDevice(device->device);
    description.className = kIOUSBHostInterfaceClassName;
    std::lock_guard<std::recursive_mutex> guard(device->core->lock);
    std::deque<io_object_t> items;
    for (const InterfaceInfo& info : interfacesOf(device->device)) {
        if (!interfaceMatches(*request, info.interfaceClass, info.interfaceSubClass,
                              info.interfaceProtocol, info.alternateSetting)) {
            continue;
        }
        items.push_back(device->core->addInterface(device->device, description, info));
    }
    *iterator = device->core->makeIterator(std::move(items));
    return kIOReturnSuccess;
}

IOReturn resetDevice(void* self)
{
    DeviceObject* device = self_(self);
    std::lock_guard<std::mutex> guard(device->lock);
    if (device->handle == nullptr) {
        return kIOReturnNotOpen;
    }
    return ioReturnFromLibusb(libusb_reset_device(device->handle));
}

constexpr IOUSBDeviceStruct650 kDeviceTable{
    &addRef,      &release, &open, &open, &close, &getVendor, &getProduct, &createInterfaceIterator,
    &resetDevice,
};

}  // namespace

IOUSBDeviceRef makeDeviceObject(std::shared_ptr<Core> core, libusb_device* device)
{
    auto* object = new DeviceObject;
    object->com = {&kDeviceTable, object};
    object->core = std::move(core);
    object->device = libusb_ref_device(device);
    return reinterpret_cast<IOUSBDeviceRef>(&object->com.table);
}

}  // namespace tervane::usb::libusb

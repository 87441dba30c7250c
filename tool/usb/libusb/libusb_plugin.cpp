// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The plug-in step: the intermediate object whose QueryInterface yields the
// device or interface object of a service.
#include "libusb_backend.h"

namespace tervane::usb::libusb {

namespace {

constexpr std::int32_t E_NOINTERFACE = static_cast<std::int32_t>(0x80000004u);

struct PlugIn {
    ComHandle com{};
    std::atomic<std::uint32_t> references{1};
    std::shared_ptr<Core> core;
    libusb_device* device = nullptr;  // one libusb reference held
    bool isInterface = false;
    InterfaceInfo interface;
};

std::int32_t queryInterface(void* self, CFUUIDBytes iid, void** out)
{
    PlugIn* plugIn = objectOf<PlugIn>(self);
    if (out == nullptr) {
        return E_NOINTERFACE;
    }
    *out = nullptr;
    if (!plugIn->isInterface && iid == *kIOUSBDeviceInterfaceID650()) {
        *out = makeDeviceObject(plugIn->core, plugIn->device);
    } else if (plugIn->isInterface && iid == *kIOUSBInterfaceInterfaceID700()) {
        *out = makeInterfaceObject(plugIn->core, plugIn->device, plugIn->interface);
    }
    return *out != nullptr ? 0 : E_NOINTERFACE;
}

std::uint32_t addRef(void* self) { return ++objectOf<PlugIn>(self)->references; }

std::uint32_t release(void* self)
{
    PlugIn* plugIn = objectOf<PlugIn>(self);
    const std::uint32_t left = --plugIn->references;
    if (left == 0) {
        libusb_unref_device(plugIn->device);
        delete plugIn;
    }
    return left;
}

constexpr IOCFPlugInInterfaceStruct kPlugInTable{&queryInterface, &addRef, &release};

}  // namespace

IOCFPlugInInterfaceRef makePlugIn(std::shared_ptr<Core> core, libusb_device* device,
                                  bool isInterface, const InterfaceInfo& interface)
{
    auto* plugIn = new PlugIn;
    plugIn->com = {&kPlugInTable, plugIn};
    plugIn->core = std::move(core);
    plugIn->device = libusb_ref_device(device);
    plugIn->isInterface = isInterface;
    plugIn->interface = interface;
    return reinterpret_cast<IOCFPlugInInterfaceRef>(&plugIn->com.table);
}

}  // namespace tervane::usb::libusb

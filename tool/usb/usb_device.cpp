// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Device objects: plug-in step, device and interface handles from services,
// matching, interface lists, open/close/reset.
#include "registry.h"
#include "usb_handles.h"

namespace tervane::usb {

namespace {

template <class Handle>
Handle createFromService(UsbPlatform& platform, io_service_t service, CFUUIDRef pluginType,
                         CFUUIDRef interfaceType, VXIOError queryFailure)
{
    auto [plugin, score] = PlugInHandle::create(platform, service, pluginType);
    (void)score;
    Handle handle;
    try {
        handle = plugin.queryAndCreate<Handle>(interfaceType);
    } catch (...) {
        plugin.release();
        throw VXIOErrorException(queryFailure);
    }
    plugin.release();
    return handle;
}

// Runs open, action, close; the close's error is dropped, the action's passed on.
template <class Handle>
void openAndPerformOn(const Handle& handle, bool seize, const std::function<void()>& action)
{
    handle.open(seize);
    try {
        action();
    } catch (...) {
        try {
            handle.close();
        } catch (...) {
        }
        throw;
    }
    try {
        handle.close();
    } catch (...) {
    }
}

std::uint16_t narrow16(int value)
{
    if (value < 0 || value > 0xFFFF) {
        throw IOReturnError(kIOReturnBadArgument);
    }
    return static_cast<std::uint16_t>(value);
}

const char* openLabel(bool seize)
{
    return seize ? "func open-seize-true" : "func open-seize-false";
}

}  // namespace

// ---- plug-in ----

std::pair<PlugInHandle, int> PlugInHandle::create(UsbPlatform& platform, io_service_t service,
                                                  CFUUIDRef pluginType)
{
    IOCFPlugInInterfaceRef plugin = nullptr;
    std::int32_t score = 0;
    const IOReturn status = platform.createPlugInInterfaceForService(
        service, *pluginType, *kIOCFPlugInInterfaceID(), &plugin, &score);
    throwIfNotSuccess(status, "func create ");
    if (plugin == nullptr) {
        throw VXIOErrorException(VXIOError::noPluginInterface);
    }
    return {PlugInHandle(plugin, &platform), static_cast<int>(score)};
}

void* PlugInHandle::queryRaw(CFUUIDRef interfaceType) const
{
    if (empty()) {
        throw VXIOErrorException(VXIOError::couldNotQueryInterface);
    }
    void* result = nullptr;
    const std::int32_t status = (*ref_)->QueryInterface(ref_, *interfaceType, &result);
    if (status != 0 || result == nullptr) {
        throw VXIOErrorException(VXIOError::couldNotQueryInterface);
    }
    return result;
}

PlugInHandle PlugInHandle::retain() const
{
    if (!empty()) {
        (*ref_)->AddRef(ref_);
    }
    return *this;
}

void PlugInHandle::release() const
{
    if (!empty()) {
        (*ref_)->Release(ref_);
    }
}

// ---- device ----

MatchingDictionary USBDeviceHandle::matchingDictionary(const std::string& deviceClassName,
                                                       std::optional<int> vendorIdentifier,
                                                       std::optional<int> productIdentifier)
{
    MatchingDictionary dictionary = IOServiceMatching(deviceClassName);
    if (vendorIdentifier) {
        dictionary[kUSBVendorID] = static_cast<std::int64_t>(*vendorIdentifier);
    }
    if (productIdentifier) {
        dictionary[kUSBProductID] = static_cast<std::int64_t>(*productIdentifier);
    }
    return dictionary;
}

MatchingDictionary USBDeviceHandle::matchingDictionary(std::optional<int> vendorIdentifier,
                                                       std::optional<int> productIdentifier)
{
    return matchingDictionary(kIOUSBHostDeviceClassName, vendorIdentifier, productIdentifier);
}

USBDeviceHandle USBDeviceHandle::create(UsbPlatform& platform, int vendorIdentifier,
                                        int productIdentifier)
{
    return create(platform, matchingDictionary(vendorIdentifier, productIdentifier));
}

USBDeviceHandle USBDeviceHandle::create(UsbPlatform& platform, int vendorIdentifier,
                                        int productIdentifier, std::uint32_t locationID)
{
    MatchingDictionary dictionary = matchingDictionary(vendorIdentifier, productIdentifier);
    dictionary[kUSBDevicePropertyLocationID] = static_cast<std::int64_t>(locationID);
    return create(platform, dictionary);
}

USBDeviceHandle USBDeviceHandle::create(UsbPlatform& platform,
                                        const MatchingDictionary& matchingDictionary)
{
    io_iterator_t iterator = IO_OBJECT_NULL;
    throwIfNotSuccess(platform.getMatchingServices(matchingDictionary, &iterator),
                      "func create by matchingDictionary ");
    std::optional<USBDeviceHandle> device;
    try {
        enumerateServices(platform, iterator, [&](io_service_t service, bool& stop) {
            device = create(platform, service);
            stop = true;
        });
    } catch (...) {
        platform.objectRelease(iterator);
        throw;
    }
    platform.objectRelease(iterator);
    if (!device) {
        throw VXIOErrorException(VXIOError::pluginHasNoUsbDeviceInterface);
    }
    return *device;
}

USBDeviceHandle USBDeviceHandle::create(UsbPlatform& platform, io_service_t service)
{
    return createFromService<USBDeviceHandle>(platform, service, kIOUSBDeviceUserClientTypeID(),
                                              USBDeviceInterfaceID(),
                                              VXIOError::couldNotQueryUsbDeviceInterface);
}

int USBDeviceHandle::getVendorIdentifier() const
{
    std::uint16_t value = 0;
    if (!empty()) {
        throwIfNotSuccess((*ref_)->GetDeviceVendor(ref_, &value), "func getVendorId ");
    }
    return value;
}

int USBDeviceHandle::getProductIdentifier() const
{
    std::uint16_t value = 0;
    if (!empty()) {
        throwIfNotSuccess((*ref_)->GetDeviceProduct(ref_, &value), "func getProductId ");
    }
    return value;
}

std::vector<USBInterfaceHandle>
USBDeviceHandle::createInterfaceInterface(int interfaceClass, int interfaceSubClass,
                                          int interfaceProtocol, int alternateSetting) const
{
    IOUSBFindInterfaceRequest request{narrow16(interfaceClass), narrow16(interfaceSubClass),
                                      narrow16(interfaceProtocol), narrow16(alternateSetting)};
    return createInterfaceInterface(request);
}

std::vector<USBInterfaceHandle>
USBDeviceHandle::createInterfaceInterface(IOUSBFindInterfaceRequest request) const
{
    std::vector<USBInterfaceHandle> interfaces;
    if (empty()) {
        throw VXIOErrorException(VXIOError::pluginHasNoUsbInterfaceInterface);
    }
    io_iterator_t iterator = IO_OBJECT_NULL;
    throwIfNotSuccess((*ref_)->CreateInterfaceIterator(ref_, &request, &iterator),
                      "func createInterfaceInterface ");
    try {
        enumerateServices(*platform_, iterator, [&](io_service_t service, bool&) {
            interfaces.push_back(USBInterfaceHandle::create(*platform_, service));
        });
    } catch (...) {
        // Interfaces made before the failure are given back: the caller never sees them.
        for (const auto& made : interfaces) {
            made.release();
        }
        platform_->objectRelease(iterator);
        throw;
    }
    platform_->objectRelease(iterator);
    if (interfaces.empty()) {
        throw VXIOErrorException(VXIOError::pluginHasNoUsbInterfaceInterface);
    }
    return interfaces;
}

void USBDeviceHandle::open(bool seize) const
{
    if (empty()) {
        return;
    }
    const IOReturn status = seize ? (*ref_)->USBDeviceOpenSeize(ref_)
                                  : (*ref_)->USBDeviceOpen(ref_);
    throwIfNotSuccess(status, openLabel(seize));
}

void USBDeviceHandle::close() const
{
    if (!empty()) {
        throwIfNotSuccess((*ref_)->USBDeviceClose(ref_), "func close");
    }
}

void USBDeviceHandle::openAndPerform(bool seize, const std::function<void()>& handler) const
{
    openAndPerformOn(*this, seize, handler);
}

void USBDeviceHandle::reset() const
{
    if (!empty()) {
        throwIfNotSuccess((*ref_)->ResetDevice(ref_), "func reset ");
    }
}

USBDeviceHandle USBDeviceHandle::retain() const
{
    if (!empty()) {
        (*ref_)->AddRef(ref_);
    }
    return *this;
}

void USBDeviceHandle::release() const
{
    if (!empty()) {
        (*ref_)->Release(ref_);
    }
}

// ---- interface ----

USBInterfaceHandle USBInterfaceHandle::create(UsbPlatform& platform, io_service_t service)
{
    return createFromService<USBInterfaceHandle>(
        platform, service, kIOUSBInterfaceUserClientTypeID(), USBInterfaceInterfaceID(),
        VXIOError::couldNotQueryUsbInterfaceInterface);
}

void USBInterfaceHandle::open(bool seize) const
{
    if (empty()) {
        return;
    }
    const IOReturn status = seize ? (*ref_)->USBInterfaceOpenSeize(ref_)
                                  : (*ref_)->USBInterfaceOpen(ref_);
    throwIfNotSuccess(status, openLabel(seize));
}

void USBInterfaceHandle::close() const
{
    if (!empty()) {
        throwIfNotSuccess((*ref_)->USBInterfaceClose(ref_), "func close");
    }
}

void USBInterfaceHandle::openAndPerform(bool seize, const std::function<void()>& handler) const
{
    openAndPerformOn(*this, seize, handler);
}

USBInterfaceHandle USBInterfaceHandle::retain() const
{
    if (!empty()) {
        (*ref_)->AddRef(ref_);
    }
    return *this;
}

void USBInterfaceHandle::release() const
{
    if (!empty()) {
        (*ref_)->Release(ref_);
    }
}

}  // namespace tervane::usb

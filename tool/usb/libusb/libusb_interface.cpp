// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The interface object: claiming the interface (with the kernel driver
// detached for as long as it is claimed), pipe properties from the endpoint
// descriptors, bulk and interrupt transfers, control requests, stalls.
#include "libusb_backend.h"
#include "libusb_status.h"

#include <algorithm>
#include <climits>
#include <mutex>

namespace tervane::usb::libusb {

unsigned int libusbTimeout(std::uint32_t noDataTimeout, std::uint32_t completionTimeout)
{
    // The platform bounds a transfer twice: the no-data time-out (no data
    // at all for that long) and the completion time-out (the whole
    // transfer). libusb has one time-out for the whole transfer. The larger
    // of the two is used, so that neither bound cuts a transfer short that
    // the caller allows: a settings query is read with a 3.0 s no-data and a
    // 0.3 s completion time-out, and the printer may take up to 3.0 s to
    // answer. 0 for both means no time-out, as on the platform.
    return std::max(noDataTimeout, completionTimeout);
}

namespace {

struct InterfaceObject {
    ComHandle com{};
    std::atomic<std::uint32_t> references{1};
    std::shared_ptr<Core> core;
    libusb_device* device = nullptr;  // one libusb reference held
    InterfaceInfo info;
    std::mutex lock;
    libusb_device_handle* handle = nullptr;  // while open (interface claimed)
    bool detachedDriver = false;             // we took the interface from a kernel driver
};

InterfaceObject* self_(void* self) { return objectOf<InterfaceObject>(self); }

// Gives the interface back: release the claim, hand the interface back to
// the kernel driver we took it from, close the device handle. Runs on every
// way out of an open interface. Lock held.
IOReturn giveBack(InterfaceObject* object)
{
    const int released = libusb_release_interface(object->handle, object->info.number);
    if (object->detachedDriver) {
        // Fails harmlessly when the device has gone.
        libusb_attach_kernel_driver(object->handle, object->info.number);
        object->detachedDriver = false;
    }
    libusb_close(object->handle);
    object->handle = nullptr;
    // A device that has left the bus holds nothing more to give back.
    return released == LIBUSB_ERROR_NO_DEVICE ? kIOReturnSuccess : ioReturnFromLibusb(released);
}

std::uint32_t addRef(void* self) { return ++self_(self)->references; }

std::uint32_t release(void* self)
{
    InterfaceObject* object = self_(self);
    const std::uint32_t left = --object->references;
    if (left == 0) {
        {
            std::lock_guard<std::mutex> guard(object->lock);
            if (object->handle != nullptr) {
                giveBack(object);
            }
        }
        libusb_unref_device(object->device);
        delete object;
    }
    return left;
}

IOReturn open(void* self)
{
    InterfaceObject* object = self_(self);
    std::lock_guard<std::mutex> guard(object->lock);
    if (object->handle != nullptr) {
        return kIOReturnExclusiveAccess;
    }
    libusb_device_handle* handle = nullptr;
    int result = libusb_open(object->device, &handle);
    if (result != LIBUSB_SUCCESS) {
        return ioReturnFromLibusb(result);
    }
    const int number = object->info.number;
    bool detached = false;
    // A kernel driver (usblp for a printer) holding the interface is taken
    // off it for as long as we have the interface.
    if (libusb_kernel_driver_active(handle, number) == 1) {
        result = libusb_detach_kernel_driver(handle, number);
        if (result != LIBUSB_SUCCESS && result != LIBUSB_ERROR_NOT_FOUND) {
            libusb_close(handle);
            return ioReturnFromLibusb(result);
        }
        detached = result == LIBUSB_SUCCESS;
    }
    result = libusb_claim_interface(handle, number);
    if (result != LIBUSB_SUCCESS) {
        if (detached) {
            libusb_attach_kernel_driver(handle, number);
        }
        libusb_close(handle);
        return ioReturnFromLibusb(result);
    }
    object->handle = handle;
    object->detachedDriver = detached;
    return kIOReturnSuccess;
}

IOReturn close(void* self)
{
    InterfaceObject* object = self_(self);
    std::lock_guard<std::mutex> guard(object->lock);
    if (object->handle == nullptr) {
        return kIOReturnNotOpen;
    }
    return giveBack(object);
}

IOReturn getInterfaceNumber(void* self, std::uint8_t* number)
{
    if (number == nullptr) {
        return kIOReturnBadArgument;
    }
    *number = self_(self)->info.number;
    return kIOReturnSuccess;
}

IOReturn getNumEndpoints(void* self, std::uint8_t* count)
{
    if (count == nullptr) {
        return kIOReturnBadArgument;
    }
    *count = static_cast<std::uint8_t>(self_(self)->info.endpoints.size());
    return kIOReturnSuccess;
}

IOReturn getPipeProperties(void* self, std::uint8_t pipeRef, std::uint8_t* direction,
                           std::uint8_t* number, std::uint8_t* transferType,
                           std::uint16_t* maxPacketSize, std::uint8_t* interval)
{
    const InterfaceInfo& info = self_(self)->info;
    if (direction == nullptr || number == nullptr || transferType == nullptr ||
        maxPacketSize == nullptr || interval == nullptr) {
        return kIOReturnBadArgument;
    }
    if (pipeRef == 0) {  // the default control pipe
        *direction = kUSBAnyDirn;
        *number = 0;
        *transferType = kUSBControl;
        *maxPacketSize = info.controlMaxPacketSize;
        *interval = 0;
        return kIOReturnSuccess;
    }
    if (pipeRef > info.endpoints.size()) {
        return kIOUSBUnknownPipeErr;
    }
    const EndpointInfo& endpoint = info.endpoints[pipeRef - 1];
    *direction = (endpoint.address & LIBUSB_ENDPOINT_IN) != 0 ? kUSBIn : kUSBOut;
    *number = endpoint.address & 0x0F;
    // The descriptor's transfer type values are the platform's.
    *transferType = endpoint.attributes & LIBUSB_TRANSFER_TYPE_MASK;
    // Bits 11 and 12 count extra transactions per micro-frame, not bytes.
    *maxPacketSize = endpoint.maxPacketSize & 0x07FF;
    *interval = endpoint.interval;
    return kIOReturnSuccess;
}

// The endpoint behind a data pipe, after the checks every transfer makes.
IOReturn dataPipe(InterfaceObject* object, std::uint8_t pipeRef, bool in, EndpointInfo* endpoint)
{
    if (object->handle == nullptr) {
        return kIOReturnNotOpen;
    }
    if (pipeRef == 0 || pipeRef > object->info.endpoints.size()) {
        return kIOUSBUnknownPipeErr;
    }
    *endpoint = object->info.endpoints[pipeRef - 1];
    if (((endpoint->address & LIBUSB_ENDPOINT_IN) != 0) != in) {
        return kIOReturnBadArgument;
    }
    const int type = endpoint->attributes & LIBUSB_TRANSFER_TYPE_MASK;
    if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT) {
        return kIOReturnUnsupported;
    }
    return kIOReturnSuccess;
}

IOReturn transfer(InterfaceObject* object, const EndpointInfo& endpoint, unsigned char* buffer,
                  std::uint32_t size, std::uint32_t* done, unsigned int timeout)
{
    if (size > static_cast<std::uint32_t>(INT_MAX) || (buffer == nullptr && size != 0)) {
        return kIOReturnBadArgument;
    }
    int transferred = 0;
    const int length = static_cast<int>(size);
    const int result = (endpoint.attributes & LIBUSB_TRANSFER_TYPE_MASK) ==
                               LIBUSB_TRANSFER_TYPE_BULK
                           ? libusb_bulk_transfer(object->handle, endpoint.address, buffer, length,
                                                  &transferred, timeout)
                           : libusb_interrupt_transfer(object->handle, endpoint.address, buffer,
                                                       length, &transferred, timeout);
    *done = static_cast<std::uint32_t>(transferred);
    return ioReturnFromLibusb(result);
}

IOReturn readPipe(void* self, std::uint8_t pipeRef, void* buffer, std::uint32_t* size,
                  std::uint32_t noDataTimeout, std::uint32_t completionTimeout)
{
    InterfaceObject* object = self_(self);
    if (size == nullptr) {
        return kIOReturnBadArgument;
    }
    std::lock_guard<std::mutex> guard(object->lock);
    EndpointInfo endpoint;
    const IOReturn status = dataPipe(object, pipeRef, true, &endpoint);
    if (status != kIOReturnSuccess) {
        *size = 0;
        return status;
    }
    const std::uint32_t wanted = *size;
    return transfer(object, endpoint, static_cast<unsigned char*>(buffer), wanted, size,
                    libusbTimeout(noDataTimeout, completionTimeout));
}

IOReturn writePipe(void* self, std::uint8_t pipeRef, const void* buffer, std::uint32_t size,
                   std::uint32_t noDataTimeout, std::uint32_t completionTimeout)
{
    InterfaceObject* object = self_(self);
    std::lock_guard<std::mutex> guard(object->lock);
    EndpointInfo endpoint;
    const IOReturn status = dataPipe(object, pipeRef, false, &endpoint);
    if (status != kIOReturnSuccess) {
        return status;
    }
    std::uint32_t written = 0;
    // libusb only reads the buffer of an out-transfer.
    const IOReturn result = transfer(object, endpoint,
                                     static_cast<unsigned char*>(const_cast<void*>(buffer)), size,
                                     &written, libusbTimeout(noDataTimeout, completionTimeout));
    if (result == kIOReturnSuccess && written != size) {
        // The device stopped taking data before the end: part of the
        // command is lost, which the caller must not take for success.
        return kIOReturnUnderrun;
    }
    return result;
}

IOReturn controlRequest(void* self, std::uint8_t pipeRef, IOUSBDevRequestTO* request)
{
    InterfaceObject* object = self_(self);
    if (request == nullptr) {
        return kIOReturnBadArgument;
    }
    std::lock_guard<std::mutex> guard(object->lock);
    if (object->handle == nullptr) {
        return kIOReturnNotOpen;
    }
    if (pipeRef != 0) {
        // Only the default control pipe; the interface has no other.
        return kIOUSBUnknownPipeErr;
    }
    if (request->pData == nullptr && request->wLength != 0) {
        return kIOReturnBadArgument;
    }
    const int result = libusb_control_transfer(
        object->handle, request->bmRequestType, request->bRequest, request->wValue, request->wIndex,
        static_cast<unsigned char*>(request->pData), request->wLength,
        libusbTimeout(request->noDataTimeout, request->completionTimeout));
    request->wLenDone = result >= 0 ? static_cast<std::uint32_t>(result) : 0;
    return ioReturnFromLibusb(result);
}

// libusb can only clear a halt at both ends (host toggle and the device's
// endpoint); clearing only the host side would leave a stalled device
// endpoint stalled, so all three operations do the full clear.
IOReturn clearHalt(void* self, std::uint8_t pipeRef)
{
    InterfaceObject* object = self_(self);
    std::lock_guard<std::mutex> guard(object->lock);
    if (object->handle == nullptr) {
        return kIOReturnNotOpen;
    }
    if (pipeRef == 0 || pipeRef > object->info.endpoints.size()) {
        return kIOUSBUnknownPipeErr;
    }
    return ioReturnFromLibusb(
        libusb_clear_halt(object->handle, object->info.endpoints[pipeRef - 1].address));
}

constexpr IOUSBInterfaceStruct700 kInterfaceTable{
    &addRef,
    &release,
    &open,
    &open,
    &close,
    &getInterfaceNumber,
    &getNumEndpoints,
    &getPipeProperties,
    &readPipe,
    &writePipe,
    &controlRequest,
    &clearHalt,
    &clearHalt,
    &clearHalt,
};

}  // namespace

IOUSBInterfaceRef makeInterfaceObject(std::shared_ptr<Core> core, libusb_device* device,
                                      const InterfaceInfo& interface)
{
    auto* object = new InterfaceObject;
    object->com = {&kInterfaceTable, object};
    object->core = std::move(core);
    object->device = libusb_ref_device(device);
    object->info = interface;
    return reinterpret_cast<IOUSBInterfaceRef>(&object->com.table);
}

}  // namespace tervane::usb::libusb

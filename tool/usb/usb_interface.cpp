// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Interface handles: claiming, pipes and transfers.
#include "usb_handles.h"
#include "usb_log.h"

#include <algorithm>
#include <cmath>

namespace tervane::usb {

std::uint32_t timeoutMilliseconds(double seconds)
{
    const double milliseconds = std::trunc(seconds * 1000.0);
    if (!std::isfinite(milliseconds) || milliseconds < 0.0 || milliseconds > 4294967295.0) {
        throw IOReturnError(kIOReturnBadArgument);
    }
    return static_cast<std::uint32_t>(milliseconds);
}

namespace {

bool isIn(const EndpointDescription& endpoint) { return (endpoint.address & 0x80) != 0; }

const char* transferTypeText(std::uint8_t type)
{
    switch (type) {
    case kUSBControl:
        return "control";
    case kUSBIsoc:
        return "isoc";
    case kUSBBulk:
        return "bulk";
    case kUSBInterrupt:
        return "interrupt";
    default:
        return "???";
    }
}

std::string byteListText(const std::uint8_t* bytes, std::size_t count)
{
    std::string text = "[";
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += std::to_string(bytes[i]);
    }
    return text + "]";
}

// A transfer is bounded twice by its caller: the no-data time-out (no data
// at all for that long) and the completion time-out (the whole transfer).
// USB on Linux bounds a transfer once. The larger of the two is used, so
// that neither bound cuts short a transfer the caller allows: a settings
// query is read with a 3.0 s no-data and a 0.3 s completion time-out, and
// the printer may take up to 3.0 s to answer.
std::uint32_t transferTimeout(double noDataTimeout, double completionTimeout)
{
    return std::max(timeoutMilliseconds(noDataTimeout), timeoutMilliseconds(completionTimeout));
}

}  // namespace

USBInterfaceHandle::USBInterfaceHandle(std::shared_ptr<UsbDevice> device,
                                       InterfaceDescription interface)
    : device_(std::move(device)), interface_(std::move(interface))
{
}

USBInterfaceHandle::~USBInterfaceHandle() = default;
USBInterfaceHandle::USBInterfaceHandle(USBInterfaceHandle&&) noexcept = default;
USBInterfaceHandle& USBInterfaceHandle::operator=(USBInterfaceHandle&&) noexcept = default;

void USBInterfaceHandle::open(bool seize)
{
    const IOReturn status = claimed_ ? kIOReturnExclusiveAccess
                                     : device_->claim(interface_.number, &claimed_);
    throwIfNotSuccess(status, seize ? "func open-seize-true" : "func open-seize-false");
}

void USBInterfaceHandle::close()
{
    throwIfNotSuccess(claimed_ ? kIOReturnSuccess : kIOReturnNotOpen, "func close");
    claimed_.reset();
}

PipeMap USBInterfaceHandle::getPipes() const
{
    usbLog("endpoints = " + std::to_string(interface_.endpoints.size()) +
           " and get no res = Optional(0)");
    PipeMap pipes;
    int pipe = 0;
    for (const EndpointDescription& endpoint : interface_.endpoints) {
        ++pipe;
        const int direction = isIn(endpoint) ? 1 : 0;
        usbLog("endpointnum = " + std::to_string(pipe) + ",direction = " +
               std::to_string(direction) + ",number = " + std::to_string(endpoint.address & 0x0F) +
               ",transType=" + std::to_string(endpoint.transferType) +
               ",maxsize=" + std::to_string(endpoint.maxPacketSize) +
               ",interval=" + std::to_string(endpoint.interval));
        usbLog("endpoint" + std::to_string(pipe) + " direction: " + (direction ? "in" : "out") +
               ", ");
        usbLog("endpoint" + std::to_string(pipe) +
               " type is: " + transferTypeText(endpoint.transferType) + ", ");
        pipes[direction ? "readPipe" : "writePipe"] = pipe;
    }
    return pipes;
}

const EndpointDescription& USBInterfaceHandle::endpoint(int pipe, bool in,
                                                        const std::string& label) const
{
    IOReturn status = kIOReturnSuccess;
    if (!claimed_) {
        status = kIOReturnNotOpen;
    } else if (pipe < 1 || static_cast<std::size_t>(pipe) > interface_.endpoints.size()) {
        status = kIOUSBUnknownPipeErr;
    } else if (isIn(interface_.endpoints[pipe - 1]) != in) {
        status = kIOReturnBadArgument;
    } else if (interface_.endpoints[pipe - 1].transferType != kUSBBulk) {
        status = kIOReturnUnsupported;
    }
    throwIfNotSuccess(status, label);
    return interface_.endpoints[pipe - 1];
}

Bytes USBInterfaceHandle::readBytes(std::optional<int> minCount, int maxCount, int pipe,
                                    double noDataTimeout, double completionTimeout) const
{
    if (maxCount < 0) {
        throw IOReturnError(kIOReturnBadArgument);
    }
    const std::uint32_t timeout = transferTimeout(noDataTimeout, completionTimeout);
    const std::uint8_t address = endpoint(pipe, true, "func readBytes").address;
    Bytes buffer(static_cast<std::size_t>(maxCount), 0);
    std::uint32_t size = static_cast<std::uint32_t>(maxCount);
    throwIfNotSuccess(claimed_->bulkTransfer(address, buffer.data(), &size, timeout),
                      "func readBytes");
    // A transport never reports more than it was given room for; keep to the buffer anyway.
    buffer.resize(std::min<std::size_t>(size, buffer.size()));
    if (minCount && buffer.size() < static_cast<std::size_t>(std::max(*minCount, 0))) {
        throw VXIOErrorException(VXIOError::couldNotGetEnoughData);
    }
    usbLog("readBytes function. readlen=" + std::to_string(size));
    usbLog("get bytes data is " + byteListText(buffer.data(), buffer.size()));
    return buffer;
}

void USBInterfaceHandle::write(const Bytes& bytes, int pipe, double noDataTimeout,
                               double completionTimeout) const
{
    const std::uint32_t timeout = transferTimeout(noDataTimeout, completionTimeout);
    const std::uint8_t address = endpoint(pipe, false, "func write ").address;
    Bytes data = bytes;  // the transport's buffer is in/out
    std::uint32_t size = static_cast<std::uint32_t>(data.size());
    IOReturn status = claimed_->bulkTransfer(address, data.data(), &size, timeout);
    if (status == kIOReturnSuccess && size != bytes.size()) {
        // The device stopped taking data before the end: part of the
        // command is lost, which the caller must not take for success.
        status = kIOReturnUnderrun;
    }
    throwIfNotSuccess(status, "func write ");
}

void USBInterfaceHandle::write(std::string_view buffer, int pipe, double noDataTimeout,
                               double completionTimeout) const
{
    write(Bytes(buffer.begin(), buffer.end()), pipe, noDataTimeout, completionTimeout);
}

}  // namespace tervane::usb

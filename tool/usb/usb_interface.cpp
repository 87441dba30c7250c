// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Interface pipes and transfers.
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

std::uint8_t narrowPipe(int pipe)
{
    if (pipe < 0 || pipe > 255) {
        throw IOReturnError(kIOReturnBadArgument);
    }
    return static_cast<std::uint8_t>(pipe);
}

const char* directionText(std::uint8_t direction)
{
    switch (direction) {
    case 0:
        return "out";
    case 1:
        return "in";
    case 2:
        return "none";
    case 3:
        return "any";
    default:
        return "???";
    }
}

const char* transferTypeText(std::uint8_t type)
{
    switch (type) {
    case 0:
        return "control";
    case 1:
        return "isoc";
    case 2:
        return "bulk";
    case 3:
        return "interrupt";
    case 255:
        return "any";
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

}  // namespace

std::uint8_t USBInterfaceHandle::getInterfaceNum() const
{
    std::uint8_t number = 3;
    if (!empty()) {
        (void)(*ref_)->GetInterfaceNumber(ref_, &number);
    }
    return number;
}

PipeMap USBInterfaceHandle::getPipes() const
{
    std::uint8_t count = 0;
    std::optional<IOReturn> status;
    if (!empty()) {
        status = (*ref_)->GetNumEndpoints(ref_, &count);
    }
    usbLog("endpoints = " + std::to_string(count) + " and get no res = " +
           (status ? "Optional(" + std::to_string(*status) + ")" : std::string("nil")));
    PipeMap pipes;
    for (int pipe = 1; pipe <= count; ++pipe) {
        std::uint8_t direction = 0;
        std::uint8_t number = 0;
        std::uint8_t transferType = 0;
        std::uint16_t maxPacketSize = 0;
        std::uint8_t interval = 0;
        std::optional<IOReturn> propertiesStatus;
        if (!empty()) {
            propertiesStatus = (*ref_)->GetPipeProperties(ref_, static_cast<std::uint8_t>(pipe),
                                                          &direction, &number, &transferType,
                                                          &maxPacketSize, &interval);
        }
        if (!propertiesStatus || *propertiesStatus != kIOReturnSuccess) {
            usbLog("Could not get properties for pipe " + std::to_string(pipe));
            continue;
        }
        usbLog(
            "endpointnum = " + std::to_string(pipe) + ",direction = " + std::to_string(direction) +
            ",number = " + std::to_string(number) + ",transType=" + std::to_string(transferType) +
            ",maxsize=" + std::to_string(maxPacketSize) + ",interval=" + std::to_string(interval));
        usbLog("endpoint" + std::to_string(pipe) + " direction: " + directionText(direction) +
               ", ");
        usbLog("endpoint" + std::to_string(pipe) + " type is: " + transferTypeText(transferType) +
               ", ");
        if (direction == kUSBOut) {
            pipes["writePipe"] = pipe;
        } else if (direction == kUSBIn) {
            pipes["readPipe"] = pipe;
        }
    }
    return pipes;
}

Bytes USBInterfaceHandle::readBytes(std::optional<int> minCount, int maxCount, int pipe,
                                    double noDataTimeout, double completionTimeout) const
{
    if (maxCount < 0) {
        throw IOReturnError(kIOReturnBadArgument);
    }
    Bytes buffer(static_cast<std::size_t>(maxCount), 0);
    std::uint32_t size = static_cast<std::uint32_t>(maxCount);
    const std::uint8_t pipeRef = narrowPipe(pipe);
    const std::uint32_t noData = timeoutMilliseconds(noDataTimeout);
    const std::uint32_t completion = timeoutMilliseconds(completionTimeout);
    if (empty()) {
        size = 0;
    } else {
        throwIfNotSuccess(
            (*ref_)->ReadPipeTO(ref_, pipeRef, buffer.data(), &size, noData, completion),
            "func readBytes");
    }
    // A backend never reports more than it was given room for; keep to the buffer anyway.
    const std::size_t received = std::min<std::size_t>(size, buffer.size());
    if (minCount && received < static_cast<std::size_t>(std::max(*minCount, 0))) {
        throw VXIOErrorException(VXIOError::couldNotGetEnoughData);
    }
    usbLog("readBytes function. readlen=" + std::to_string(size));
    usbLog("get bytes data is " + byteListText(buffer.data(), received));
    buffer.resize(received);
    return buffer;
}

ByteBuffer USBInterfaceHandle::read(std::optional<int> minCount, int maxCount, int pipe,
                                    double noDataTimeout, double completionTimeout) const
{
    const Bytes bytes = readBytes(minCount, maxCount, pipe, noDataTimeout, completionTimeout);
    return ByteBuffer(bytes.begin(), bytes.end());
}

Bytes USBInterfaceHandle::readBulkData(int pipe, std::uint32_t& readLen, double noDataTimeout,
                                       double completionTimeout) const
{
    Bytes buffer(1024, 0x16);
    usbLog("bu[0] = " + std::to_string(buffer[0]));
    const std::uint8_t pipeRef = narrowPipe(pipe);
    const std::uint32_t noData = timeoutMilliseconds(noDataTimeout);
    const std::uint32_t completion = timeoutMilliseconds(completionTimeout);
    if (!empty()) {
        // The buffer holds 1024 bytes; a larger request is refused rather than overrun.
        const IOReturn status = readLen > buffer.size()
                                    ? kIOReturnBadArgument
                                    : (*ref_)->ReadPipeTO(ref_, pipeRef, buffer.data(), &readLen,
                                                          noData, completion);
        throwIfNotSuccess(status, "func readBulkData");
    }
    usbLog("read len = " + std::to_string(readLen));
    buffer.resize(std::min<std::size_t>(readLen, buffer.size()));
    return buffer;
}

void USBInterfaceHandle::write(const Bytes& bytes, int pipe, double noDataTimeout,
                               double completionTimeout) const
{
    const std::uint8_t pipeRef = narrowPipe(pipe);
    const std::uint32_t noData = timeoutMilliseconds(noDataTimeout);
    const std::uint32_t completion = timeoutMilliseconds(completionTimeout);
    if (empty()) {
        return;
    }
    throwIfNotSuccess((*ref_)->WritePipeTO(ref_, pipeRef, bytes.data(),
                                           static_cast<std::uint32_t>(bytes.size()), noData,
                                           completion),
                      "func write ");
}

void USBInterfaceHandle::write(std::string_view buffer, int pipe, double noDataTimeout,
                               double completionTimeout) const
{
    write(Bytes(buffer.begin(), buffer.end()), pipe, noDataTimeout, completionTimeout);
}

void USBInterfaceHandle::sendControlRequest(const IOUSBDevRequestTO& request, int pipe) const
{
    usbLog("sendControlRequest");
    IOUSBDevRequestTO copy = request;
    const std::uint8_t pipeRef = narrowPipe(pipe);
    if (!empty()) {
        throwIfControlRequestNotSuccess((*ref_)->ControlRequestTO(ref_, pipeRef, &copy));
    }
}

void USBInterfaceHandle::clearPipeStall(bool bothEnds, int pipe) const
{
    const std::uint8_t pipeRef = narrowPipe(pipe);
    if (empty()) {
        return;
    }
    if (bothEnds) {
        throwIfNotSuccess((*ref_)->ClearPipeStallBothEnds(ref_, pipeRef),
                          "func clearPipeStall-true ");
    } else {
        throwIfNotSuccess((*ref_)->ClearPipeStall(ref_, pipeRef), "func clearPipeStall-false ");
    }
}

void USBInterfaceHandle::resetPipe(int pipe) const
{
    const std::uint8_t pipeRef = narrowPipe(pipe);
    if (!empty()) {
        throwIfNotSuccess((*ref_)->ResetPipe(ref_, pipeRef), "func resetPipe ");
    }
}

}  // namespace tervane::usb

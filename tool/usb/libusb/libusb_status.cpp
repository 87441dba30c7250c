// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "libusb_status.h"

#include <libusb.h>

namespace tervane::usb::libusb {

namespace {

struct StatusRow {
    int code;
    IOReturn status;
};

// libusb knows fewer failure kinds than the platform; each maps to the
// status a caller of the platform's tables would see for the same event.
constexpr StatusRow kStatusTable[] = {
    {LIBUSB_ERROR_IO, kIOReturnIOError},                 // "General I/O error"
    {LIBUSB_ERROR_INVALID_PARAM, kIOReturnBadArgument},  // "Invalid argument"
    {LIBUSB_ERROR_ACCESS,
     kIOReturnNotPrivileged},  // "Privilege violation": no rights on the device node
    {LIBUSB_ERROR_NO_DEVICE, kIOReturnNoDevice},    // "No such device": unplugged
    {LIBUSB_ERROR_NOT_FOUND, kIOReturnNotFound},    // "Data was not found"
    {LIBUSB_ERROR_BUSY, kIOReturnExclusiveAccess},  // interface claimed by another program
    {LIBUSB_ERROR_TIMEOUT, kIOReturnTimeout},       // "I/O timeout"
    {LIBUSB_ERROR_OVERFLOW, kIOReturnOverrun},      // "Data overrun": device sent more than asked
    {LIBUSB_ERROR_PIPE, kIOUSBPipeStalled},         // endpoint halted
    {LIBUSB_ERROR_INTERRUPTED, kIOReturnAborted},   // "Aborted"
    {LIBUSB_ERROR_NO_MEM, kIOReturnNoMemory},       // "Can't allocate memory"
    {LIBUSB_ERROR_NOT_SUPPORTED, kIOReturnUnsupported},  // "Unsupported function"
    {LIBUSB_ERROR_OTHER, kIOReturnError},                // "General error"
};

}  // namespace

IOReturn ioReturnFromLibusb(int code)
{
    if (code >= 0) {
        return kIOReturnSuccess;
    }
    for (const StatusRow& row : kStatusTable) {
        if (row.code == code) {
            return row.status;
        }
    }
    return kIOReturnError;
}

}  // namespace tervane::usb::libusb

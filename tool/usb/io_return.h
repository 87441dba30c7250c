// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Platform status values of the USB layer.
//
// IOReturn is a 32-bit signed status; 0 is success. The values are the
// published IOKit return codes (sys_iokit | sub_iokit_common | code) and the
// USB family codes (sys_iokit | sub_iokit_usb | code), so that statuses from
// either backend read the same as on the platform the tool was first written
// for. Backends return these values from every table operation.
#pragma once

#include <cstdint>

namespace tervane::usb {

using IOReturn = std::int32_t;

constexpr IOReturn iokit_common_err(std::uint32_t code)
{
    return static_cast<IOReturn>(0xE0000000u | code);
}

// The USB code as a 32-bit signed value, or-ed with the I/O-kit system bits
// and the USB sub-system (0xE0004000).
constexpr IOReturn iokit_usb_err(std::int32_t code)
{
    return static_cast<IOReturn>(static_cast<std::uint32_t>(code) | 0xE0004000u);
}

constexpr IOReturn kIOReturnSuccess = 0;
constexpr IOReturn kIOReturnError = iokit_common_err(0x2bc);
constexpr IOReturn kIOReturnNoMemory = iokit_common_err(0x2bd);
constexpr IOReturn kIOReturnNoResources = iokit_common_err(0x2be);
constexpr IOReturn kIOReturnIPCError = iokit_common_err(0x2bf);
constexpr IOReturn kIOReturnNoDevice = iokit_common_err(0x2c0);
constexpr IOReturn kIOReturnNotPrivileged = iokit_common_err(0x2c1);
constexpr IOReturn kIOReturnBadArgument = iokit_common_err(0x2c2);
constexpr IOReturn kIOReturnLockedRead = iokit_common_err(0x2c3);
constexpr IOReturn kIOReturnLockedWrite = iokit_common_err(0x2c4);
constexpr IOReturn kIOReturnExclusiveAccess = iokit_common_err(0x2c5);
constexpr IOReturn kIOReturnBadMessageID = iokit_common_err(0x2c6);
constexpr IOReturn kIOReturnUnsupported = iokit_common_err(0x2c7);
constexpr IOReturn kIOReturnVMError = iokit_common_err(0x2c8);
constexpr IOReturn kIOReturnInternalError = iokit_common_err(0x2c9);
constexpr IOReturn kIOReturnIOError = iokit_common_err(0x2ca);
constexpr IOReturn kIOReturnCannotLock = iokit_common_err(0x2cc);
constexpr IOReturn kIOReturnNotOpen = iokit_common_err(0x2cd);
constexpr IOReturn kIOReturnNotReadable = iokit_common_err(0x2ce);
constexpr IOReturn kIOReturnNotWritable = iokit_common_err(0x2cf);
constexpr IOReturn kIOReturnNotAligned = iokit_common_err(0x2d0);
constexpr IOReturn kIOReturnBadMedia = iokit_common_err(0x2d1);
constexpr IOReturn kIOReturnStillOpen = iokit_common_err(0x2d2);
constexpr IOReturn kIOReturnRLDError = iokit_common_err(0x2d3);
constexpr IOReturn kIOReturnDMAError = iokit_common_err(0x2d4);
constexpr IOReturn kIOReturnBusy = iokit_common_err(0x2d5);
constexpr IOReturn kIOReturnTimeout = iokit_common_err(0x2d6);
constexpr IOReturn kIOReturnOffline = iokit_common_err(0x2d7);
constexpr IOReturn kIOReturnNotReady = iokit_common_err(0x2d8);
constexpr IOReturn kIOReturnNotAttached = iokit_common_err(0x2d9);
constexpr IOReturn kIOReturnNoChannels = iokit_common_err(0x2da);
constexpr IOReturn kIOReturnNoSpace = iokit_common_err(0x2db);
constexpr IOReturn kIOReturnPortExists = iokit_common_err(0x2dd);
constexpr IOReturn kIOReturnCannotWire = iokit_common_err(0x2de);
constexpr IOReturn kIOReturnNoInterrupt = iokit_common_err(0x2df);
constexpr IOReturn kIOReturnNoFrames = iokit_common_err(0x2e0);
constexpr IOReturn kIOReturnMessageTooLarge = iokit_common_err(0x2e1);
constexpr IOReturn kIOReturnNotPermitted = iokit_common_err(0x2e2);
constexpr IOReturn kIOReturnNoPower = iokit_common_err(0x2e3);
constexpr IOReturn kIOReturnNoMedia = iokit_common_err(0x2e4);
constexpr IOReturn kIOReturnUnformattedMedia = iokit_common_err(0x2e5);
constexpr IOReturn kIOReturnUnsupportedMode = iokit_common_err(0x2e6);
constexpr IOReturn kIOReturnUnderrun = iokit_common_err(0x2e7);
constexpr IOReturn kIOReturnOverrun = iokit_common_err(0x2e8);
constexpr IOReturn kIOReturnDeviceError = iokit_common_err(0x2e9);
constexpr IOReturn kIOReturnNoCompletion = iokit_common_err(0x2ea);
constexpr IOReturn kIOReturnAborted = iokit_common_err(0x2eb);
constexpr IOReturn kIOReturnNoBandwidth = iokit_common_err(0x2ec);
constexpr IOReturn kIOReturnNotResponding = iokit_common_err(0x2ed);
constexpr IOReturn kIOReturnIsoTooOld = iokit_common_err(0x2ee);
constexpr IOReturn kIOReturnIsoTooNew = iokit_common_err(0x2ef);
constexpr IOReturn kIOReturnNotFound = iokit_common_err(0x2f0);
constexpr IOReturn kIOReturnInvalid = iokit_common_err(0x1);

constexpr IOReturn kIOUSBUnknownPipeErr = iokit_usb_err(0x61);
constexpr IOReturn kIOUSBTooManyPipesErr = iokit_usb_err(0x60);
constexpr IOReturn kIOUSBNoAsyncPortErr = iokit_usb_err(0x5F);
constexpr IOReturn kIOUSBNotEnoughPipesErr = iokit_usb_err(0x5E);
constexpr IOReturn kIOUSBNotEnoughPowerErr = iokit_usb_err(0x5D);
constexpr IOReturn kIOUSBEndpointNotFound = iokit_usb_err(0x57);
constexpr IOReturn kIOUSBConfigNotFound = iokit_usb_err(0x56);
constexpr IOReturn kIOUSBTransactionTimeout = iokit_usb_err(0x51);
constexpr IOReturn kIOUSBTransactionReturned = iokit_usb_err(0x50);
constexpr IOReturn kIOUSBPipeStalled = iokit_usb_err(0x4F);
constexpr IOReturn kIOUSBInterfaceNotFound = iokit_usb_err(0x4E);
constexpr IOReturn kIOUSBLowLatencyBufferNotPreviouslyAllocated = iokit_usb_err(0x4D);
constexpr IOReturn kIOUSBLowLatencyFrameListNotPreviouslyAllocated = iokit_usb_err(0x4C);
constexpr IOReturn kIOUSBHighSpeedSplitError = iokit_usb_err(0x4B);
constexpr IOReturn kIOUSBSyncRequestOnWLThread = iokit_usb_err(0x4A);
constexpr IOReturn kIOUSBDeviceNotHighSpeed = iokit_usb_err(0x49);
constexpr IOReturn kIOUSBDeviceTransferredToCompanion = iokit_usb_err(0x49);
constexpr IOReturn kIOUSBClearPipeStallNotRecursive = iokit_usb_err(0x48);
constexpr IOReturn kIOUSBDevicePortWasNotSuspended = iokit_usb_err(0x47);
constexpr IOReturn kIOUSBEndpointCountExceeded = iokit_usb_err(0x46);
constexpr IOReturn kIOUSBDeviceCountExceeded = iokit_usb_err(0x45);
constexpr IOReturn kIOUSBStreamsNotSupported = iokit_usb_err(0x44);
constexpr IOReturn kIOUSBInvalidSSEndpoint = iokit_usb_err(0x43);
constexpr IOReturn kIOUSBTooManyTransactionsPending = iokit_usb_err(0x42);

}  // namespace tervane::usb

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The two error kinds of the USB layer and their texts.
//
// A failing platform call raises IOReturnError (the status, unchanged); the
// layer's own failures raise VXIOErrorException (a VXIOError case). Both derive
// from USBError, whose errorDescription() is the text shown to the user.
#pragma once

#include "io_return.h"

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tervane::usb {

enum class VXIOError : int {
    noPluginInterface = 0,
    pluginHasNoUsbDeviceInterface = 1,
    pluginHasNoUsbInterfaceInterface = 2,
    couldNotQueryInterface = 3,
    couldNotQueryUsbDeviceInterface = 4,
    couldNotQueryUsbInterfaceInterface = 5,
    couldNotGetEnoughData = 6,
};

// Construction from a raw value: 0..6 give a case, anything else none.
std::optional<VXIOError> vxioErrorFromRawValue(int rawValue);

// Named status constants, one per row of the status table.
namespace ioreturn {
constexpr IOReturn success = kIOReturnSuccess;
constexpr IOReturn aborted = kIOReturnAborted;
constexpr IOReturn badArgument = kIOReturnBadArgument;
constexpr IOReturn badMedia = kIOReturnBadMedia;
constexpr IOReturn badMessageId = kIOReturnBadMessageID;
constexpr IOReturn busy = kIOReturnBusy;
constexpr IOReturn cannotLock = kIOReturnCannotLock;
constexpr IOReturn cannotWire = kIOReturnCannotWire;
constexpr IOReturn dmaError = kIOReturnDMAError;
constexpr IOReturn deviceError = kIOReturnDeviceError;
constexpr IOReturn error = kIOReturnError;
constexpr IOReturn exclusiveAccess = kIOReturnExclusiveAccess;
constexpr IOReturn ioError = kIOReturnIOError;
constexpr IOReturn ipcError = kIOReturnIPCError;
constexpr IOReturn internalError = kIOReturnInternalError;
constexpr IOReturn invalid = kIOReturnInvalid;
constexpr IOReturn isoTooNew = kIOReturnIsoTooNew;
constexpr IOReturn isoTooOld = kIOReturnIsoTooOld;
constexpr IOReturn lockedRead = kIOReturnLockedRead;
constexpr IOReturn lockedWrite = kIOReturnLockedWrite;
constexpr IOReturn messageTooLarge = kIOReturnMessageTooLarge;
constexpr IOReturn noBandwidth = kIOReturnNoBandwidth;
constexpr IOReturn noChannels = kIOReturnNoChannels;
constexpr IOReturn noCompletion = kIOReturnNoCompletion;
constexpr IOReturn noDevice = kIOReturnNoDevice;
constexpr IOReturn noFrames = kIOReturnNoFrames;
constexpr IOReturn noInterrupt = kIOReturnNoInterrupt;
constexpr IOReturn noMedia = kIOReturnNoMedia;
constexpr IOReturn noMemory = kIOReturnNoMemory;
constexpr IOReturn noPower = kIOReturnNoPower;
constexpr IOReturn noResources = kIOReturnNoResources;
constexpr IOReturn noSpace = kIOReturnNoSpace;
constexpr IOReturn notAligned = kIOReturnNotAligned;
constexpr IOReturn notAttached = kIOReturnNotAttached;
constexpr IOReturn notFound = kIOReturnNotFound;
constexpr IOReturn notOpen = kIOReturnNotOpen;
constexpr IOReturn notPermitted = kIOReturnNotPermitted;
constexpr IOReturn notPrivileged = kIOReturnNotPrivileged;
constexpr IOReturn notReadable = kIOReturnNotReadable;
constexpr IOReturn notReady = kIOReturnNotReady;
constexpr IOReturn notResponding = kIOReturnNotResponding;
constexpr IOReturn notWritable = kIOReturnNotWritable;
constexpr IOReturn offline = kIOReturnOffline;
constexpr IOReturn overrun = kIOReturnOverrun;
constexpr IOReturn portExists = kIOReturnPortExists;
constexpr IOReturn rldError = kIOReturnRLDError;
constexpr IOReturn stillOpen = kIOReturnStillOpen;
constexpr IOReturn timeout = kIOReturnTimeout;
constexpr IOReturn underrun = kIOReturnUnderrun;
constexpr IOReturn unformattedMedia = kIOReturnUnformattedMedia;
constexpr IOReturn unsupported = kIOReturnUnsupported;
constexpr IOReturn unsupportedMode = kIOReturnUnsupportedMode;
constexpr IOReturn vmError = kIOReturnVMError;
constexpr IOReturn usbUnknownPipe = kIOUSBUnknownPipeErr;
constexpr IOReturn usbTooManyPipes = kIOUSBTooManyPipesErr;
constexpr IOReturn usbNoAsyncPort = kIOUSBNoAsyncPortErr;
constexpr IOReturn usbNotEnoughPipes = kIOUSBNotEnoughPipesErr;
constexpr IOReturn usbNotEnoughPower = kIOUSBNotEnoughPowerErr;
constexpr IOReturn usbEndpointNotFound = kIOUSBEndpointNotFound;
constexpr IOReturn usbConfigNotFound = kIOUSBConfigNotFound;
constexpr IOReturn usbTransactionTimeout = kIOUSBTransactionTimeout;
constexpr IOReturn usbTransactionReturned = kIOUSBTransactionReturned;
constexpr IOReturn usbPipeStalled = kIOUSBPipeStalled;
constexpr IOReturn usbInterfaceNotFound = kIOUSBInterfaceNotFound;
constexpr IOReturn usbLowLatencyBufferNotPreviouslyAllocated =
    kIOUSBLowLatencyBufferNotPreviouslyAllocated;
constexpr IOReturn usbLowLatencyFrameListNotPreviouslyAllocated =
    kIOUSBLowLatencyFrameListNotPreviouslyAllocated;
constexpr IOReturn usbHighSpeedSplit = kIOUSBHighSpeedSplitError;
constexpr IOReturn usbSyncRequestOnWlThread = kIOUSBSyncRequestOnWLThread;
constexpr IOReturn usbDeviceNotHighSpeed = kIOUSBDeviceNotHighSpeed;
constexpr IOReturn usbDeviceTransferredToCompanion = kIOUSBDeviceTransferredToCompanion;
constexpr IOReturn usbClearPipeStallNotRecursive = kIOUSBClearPipeStallNotRecursive;
constexpr IOReturn usbDevicePortWasNotSuspended = kIOUSBDevicePortWasNotSuspended;
constexpr IOReturn usbEndpointCountExceeded = kIOUSBEndpointCountExceeded;
constexpr IOReturn usbDeviceCountExceeded = kIOUSBDeviceCountExceeded;
constexpr IOReturn usbStreamsNotSupported = kIOUSBStreamsNotSupported;
constexpr IOReturn usbInvalidSsEndpoint = kIOUSBInvalidSSEndpoint;
constexpr IOReturn usbTooManyTransactionsPending = kIOUSBTooManyTransactionsPending;
}  // namespace ioreturn

// One row of the status table: named constant, value, text.
struct StatusRow {
    const char* name;
    IOReturn value;
    const char* text;
};
// The 76 rows in comparison order.
const std::vector<StatusRow>& statusTable();

// Process-wide override lists (empty unless some code adds to them; not
// synchronised: fill them at start-up only).
using IOReturnTextHandler = std::function<std::optional<std::string>(IOReturn)>;
using VXIOErrorTextHandler = std::function<std::optional<std::string>(VXIOError)>;
std::vector<IOReturnTextHandler>& ioReturnErrorDescriptionHandlers();
std::vector<IOReturnTextHandler>& ioReturnRecoverySuggestionHandlers();
std::vector<VXIOErrorTextHandler>& vxioErrorDescriptionHandlers();
std::vector<VXIOErrorTextHandler>& vxioErrorRecoverySuggestionHandlers();

std::optional<std::string> errorDescription(IOReturn status);
std::optional<std::string> recoverySuggestion(IOReturn status);
std::optional<std::string> errorDescription(VXIOError error);
std::optional<std::string> recoverySuggestion(VXIOError error);

class USBError : public std::exception {
public:
    virtual std::optional<std::string> errorDescription() const = 0;
    virtual std::optional<std::string> recoverySuggestion() const = 0;
    const char* what() const noexcept override;

protected:
    mutable std::string what_;
};

class IOReturnError : public USBError {
public:
    explicit IOReturnError(IOReturn status) : status_(status) {}
    IOReturn status() const { return status_; }
    std::optional<std::string> errorDescription() const override;
    std::optional<std::string> recoverySuggestion() const override;

private:
    IOReturn status_;
};

class VXIOErrorException : public USBError {
public:
    explicit VXIOErrorException(VXIOError error) : error_(error) {}
    VXIOError error() const { return error_; }
    int errorCode() const { return static_cast<int>(error_); }
    std::optional<std::string> errorDescription() const override;
    std::optional<std::string> recoverySuggestion() const override;

private:
    VXIOError error_;
};

// Does nothing for 0. Otherwise writes
//   error happened at <label> and error is: Optional("<description>")
// on standard output and throws IOReturnError(status).
void throwIfNotSuccess(IOReturn status, const std::string& label);

}  // namespace tervane::usb

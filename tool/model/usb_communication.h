// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// One USB connection to one printer, running one of the two settings
// sequences over the printer's interface number 0: reading the network
// settings or writing them.
#pragma once

#include "device.h"
#include "io_return.h"
#include "ip_settings_codec.h"
#include "usb_handles.h"

#include <map>
#include <optional>
#include <string>

namespace tervane {

// Result of a sequence: status 1 on success, -1 on failure, and a fixed text.
struct SequenceResult {
    int status = -1;
    std::string message;
    bool operator==(const SequenceResult&) const = default;
};

inline constexpr const char* kReceiveIPSuccessfully = "receive ip successfully";
inline constexpr const char* kSetIPSuccessfully = "set ip successfully";
inline constexpr const char* kSetDHCPToggleError = "setDHCPToggleError";
inline constexpr const char* kClaimInterfaceError = "claininterfaceInterfaceError";
// The addresses held cannot be encoded in the set-address command (a
// component outside 0..255); nothing was sent.
inline constexpr const char* kSetIPCommandError = "setIPCommandError";

// Time-outs of the exchanges, in seconds.
inline constexpr double kWriteNoDataTimeout = 0.3;
inline constexpr double kWriteCompletionTimeout = 0.3;
inline constexpr double kReadNoDataTimeout = 3.0;
inline constexpr double kReadCompletionTimeout = 0.3;
inline constexpr int kReplyMaxCount = 64;

class USBCommunication {
public:
    // Looks the printer's device up by vendor and product id, and by its
    // place on the bus when the record has one; never fails
    // (a device that cannot be found leaves deviceInterface empty and both
    // sequences then fail without sending anything).
    USBCommunication(usb::UsbPlatform& platform, Device printer);
    // Gives back the interface (if a sequence was cut short) and the device.
    ~USBCommunication();

    USBCommunication(const USBCommunication&) = delete;
    USBCommunication& operator=(const USBCommunication&) = delete;

    // Reads mode, address, mask and gateway into printer.
    SequenceResult initInterfaceToGetIP();
    // Writes the mode in printer.ipSetType and, for "S", the addresses.
    SequenceResult initInterfaceToSetIP();
    // Gives the interface back (its claim ends, the kernel driver gets it
    // again) if one is held.
    void realse();

    // True when the platform refused the device for lack of rights (the
    // status "Privilege violation") while the device was looked up or during
    // the sequence. The sequence result stays what it is; this only tells the
    // caller that the user can do something about the failure.
    bool accessDenied() const { return failureStatus == usb::kIOReturnNotPrivileged; }

    Device printer;
    std::optional<usb::USBDeviceHandle> deviceInterface;
    std::optional<usb::USBInterfaceHandle> interfaceInterface;
    std::map<std::string, int> pips;
    // The platform status of the USB error that ended the sequence (or the
    // device look-up); empty when none did, or when the error was one of the
    // layer's own.
    std::optional<usb::IOReturn> failureStatus;

private:
    // Finds interface 0, opens it and reads its pipes; false when the
    // sequence cannot go on (no device, no interface 0, a pipe missing).
    // USB errors propagate.
    bool openInterface(bool logIPSetType);
    void writeCommand(const Bytes& bytes);
    Bytes readReply();
    // Logs a USB error caught around the device look-up or a sequence and
    // keeps its platform status.
    void noteFailure(const std::string& logPrefix, const std::exception& error);

    usb::UsbPlatform& platform_;
};

}  // namespace tervane

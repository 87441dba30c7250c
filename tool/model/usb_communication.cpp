// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usb_communication.h"

#include "usb_log.h"

#include <exception>
#include <utility>

namespace tervane {

namespace {

using usb::usbLog;

std::string describe(const std::exception& error)
{
    if (const auto* usbError = dynamic_cast<const usb::USBError*>(&error)) {
        if (auto text = usbError->errorDescription()) {
            return *text;
        }
    }
    return error.what();
}

// Runs realse() on every way out of a sequence.
class InterfaceReleaser {
public:
    explicit InterfaceReleaser(USBCommunication& connection) : connection_(connection) {}
    ~InterfaceReleaser() { connection_.realse(); }
    InterfaceReleaser(const InterfaceReleaser&) = delete;
    InterfaceReleaser& operator=(const InterfaceReleaser&) = delete;

private:
    USBCommunication& connection_;
};

SequenceResult claimError() { return {-1, kClaimInterfaceError}; }

}  // namespace

USBCommunication::USBCommunication(usb::UsbPlatform& platform, Device printer_)
    : printer(std::move(printer_)), platform_(platform)
{
    usbLog("init usbscanprocess pid=" + std::to_string(printer.PID()) +
           " and vid = " + std::to_string(printer.VID()));
    try {
        // A record that knows where its printer is reaches that printer only
        // (another of the same model is never taken instead); one that does
        // not takes the first device with the ids.
        if (printer.locationID() != 0) {
            deviceInterface = usb::USBDeviceHandle::create(
                platform_, static_cast<int>(printer.VID()), static_cast<int>(printer.PID()),
                printer.locationID());
        } else {
            deviceInterface = usb::USBDeviceHandle::create(
                platform_, static_cast<int>(printer.VID()), static_cast<int>(printer.PID()));
        }
    } catch (const std::exception& error) {
        realse();
        noteFailure("init usb interface error. and error is ", error);
    }
}

void USBCommunication::noteFailure(const std::string& logPrefix, const std::exception& error)
{
    usbLog(logPrefix + describe(error));
    if (const auto* status = dynamic_cast<const usb::IOReturnError*>(&error)) {
        failureStatus = status->status();
    }
}

USBCommunication::~USBCommunication() = default;

void USBCommunication::realse() { interfaceInterface.reset(); }

bool USBCommunication::openInterface(bool logIPSetType)
{
    if (deviceInterface) {
        std::vector<usb::USBInterfaceHandle> interfaces =
            deviceInterface->createInterfaceInterface();
        usbLog("interface interface num = " + std::to_string(interfaces.size()));
        // The last interface numbered 0 is kept; the others go with the list.
        for (usb::USBInterfaceHandle& candidate : interfaces) {
            if (candidate.getInterfaceNum() == 0) {
                interfaceInterface = std::move(candidate);
            }
        }
    }
    if (!interfaceInterface) {
        return false;
    }
    interfaceInterface->open(false);
    if (logIPSetType) {
        usbLog("the printer.ipsetType is " + printer.ipSetType);
    }
    pips = interfaceInterface->getPipes();
    return pips.count("writePipe") != 0 && pips.count("readPipe") != 0;
}

void USBCommunication::writeCommand(const Bytes& bytes)
{
    interfaceInterface->write(bytes, pips.at("writePipe"), kWriteNoDataTimeout,
                              kWriteCompletionTimeout);
}

Bytes USBCommunication::readReply()
{
    return interfaceInterface->readBytes(std::nullopt, kReplyMaxCount, pips.at("readPipe"),
                                         kReadNoDataTimeout, kReadCompletionTimeout);
}

SequenceResult USBCommunication::initInterfaceToGetIP()
{
    InterfaceReleaser releaser(*this);
    IPSettings read;
    try {
        if (!openInterface(false)) {
            return claimError();
        }

        writeCommand(commandBytes(kCheckDHCPToggle));
        Bytes toggleReply = readReply();
        usbLog("CheckDHCPToggle? return is " + describeOptionalText(decodeUTF8(toggleReply)));
        printer.ipSetType = parseDHCPToggleReply(toggleReply);
        usbLog(printer.ipSetType);

        writeCommand(commandBytes(kCheckIP));
        Bytes addressReply = readReply();
        if (addressReply.size() == kIPReplyLength) {
            read = parseIPReply(addressReply);
        }
        usbLog("the ip is " + read.ip + " the subNetMask is " + read.subNetMask +
               " the gateway is " + read.gateway);
        printer.ip = read.ip;
        printer.subNetMast = read.subNetMask;
        printer.gateway = read.gateway;
        return {1, kReceiveIPSuccessfully};
    } catch (const std::exception& error) {
        noteFailure("open usb interface error and error is ", error);
        return claimError();
    }
}

SequenceResult USBCommunication::initInterfaceToSetIP()
{
    InterfaceReleaser releaser(*this);
    const bool isStatic = printer.ipSetType == kIPSetTypeStatic;
    std::optional<Bytes> setIPCommand = buildSetIPCommand(printer.ip, printer.subNetMast,
                                                          printer.gateway);
    if (setIPCommand) {
        usbLog("cmd is " + std::to_string(setIPCommand->size()) + " bytes");
    } else {
        usbLog("cmd is not built: an address component is outside 0..255");
        if (isStatic) {
            // Never send a truncated address.
            return {-1, kSetIPCommandError};
        }
    }
    try {
        if (!openInterface(true)) {
            return claimError();
        }
        if (isStatic) {
            writeCommand(*setIPCommand);
            writeCommand(commandBytes(kSetDHCPToggleOff));
        } else {
            writeCommand(commandBytes(kSetDHCPToggleOn));
        }
        if (!isSetDHCPToggleOK(readReply())) {
            return {-1, kSetDHCPToggleError};
        }
        writeCommand(commandBytes(kRestart));
        return {1, kSetIPSuccessfully};
    } catch (const std::exception& error) {
        noteFailure("open usb interface error and error is ", error);
        return claimError();
    }
}

}  // namespace tervane

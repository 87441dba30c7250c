// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Helpers of the USB layer tests: logged lines, simulated devices.
#pragma once

#include "sim/simulated_bus.h"
#include "usb_handles.h"
#include "usb_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tervane::usb::test {

// The diagnostic lines logged on this thread while the object lives.
class LoggedLines {
public:
    LoggedLines() : scope_([this](const std::string& line) { lines_.push_back(line); }) {}
    LoggedLines(const LoggedLines&) = delete;
    LoggedLines& operator=(const LoggedLines&) = delete;
    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
    LogSinkScope scope_;
};

inline sim::InterfaceSpec interfaceWith(std::vector<sim::EndpointSpec> endpoints,
                                        std::uint8_t number = 0, std::uint8_t interfaceClass = 7)
{
    return {number, interfaceClass, 1, 2, 0, std::move(endpoints)};
}

inline std::shared_ptr<sim::BasicDevice> basicDevice(std::uint16_t vendor, std::uint16_t product,
                                                     std::vector<sim::InterfaceSpec> interfaces)
{
    return std::make_shared<sim::BasicDevice>(vendor, product, std::move(interfaces));
}

inline std::shared_ptr<sim::BasicDevice> printerLikeDevice(std::uint16_t vendor = 0x356C,
                                                           std::uint16_t product = 0x0033)
{
    return basicDevice(vendor, product, {sim::printerInterface()});
}

// The first interface of the first device with these ids, opened.
inline USBInterfaceHandle openInterface(UsbPlatform& platform, int vendor = 0x356C,
                                        int product = 0x0033)
{
    std::vector<USBInterfaceHandle> interfaces =
        USBDeviceHandle::create(platform, vendor, product).createInterfaceInterface();
    USBInterfaceHandle interface = std::move(interfaces.front());
    interface.open();
    return interface;
}

}  // namespace tervane::usb::test

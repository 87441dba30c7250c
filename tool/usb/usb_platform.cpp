// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usb_platform.h"

#include "sim/simulated_bus.h"

#include <cstdlib>
#include <cstring>

namespace tervane::usb {

std::unique_ptr<UsbPlatform> makePlatform(PlatformFactory realDevices, bool simulate)
{
    const char* choice = std::getenv("TERVANE_USB");
    if (simulate || (choice != nullptr && std::strcmp(choice, "sim") == 0)) {
        auto bus = std::make_unique<sim::SimulatedBus>();
        bus->plug(std::make_shared<sim::VirtualPrinter>());
        return bus;
    }
    std::unique_ptr<UsbPlatform> platform;
    if (realDevices != nullptr) {
        platform = realDevices();
    }
    if (!platform) {
        platform = std::make_unique<sim::SimulatedBus>();
    }
    return platform;
}

}  // namespace tervane::usb

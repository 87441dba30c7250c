// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulated bus: a USB transport with virtual devices.
//
// Devices are plugged in and out at run time (from any thread); hot-plug
// watchers hear of each. Transfers wait for real (scaled by setTimeScale)
// for the device's data, so time-outs behave as on a real bus, and a device
// that leaves the bus ends every transfer on it with kIOReturnNoDevice.
#pragma once

#include "virtual_device.h"
#include "virtual_printer.h"

#include <memory>

namespace tervane::usb::sim {

class SimulatedBus : public UsbPlatform {
public:
    using DeviceId = int;

    SimulatedBus();
    ~SimulatedBus() override;

    // ---- scripting ----
    DeviceId plug(std::shared_ptr<VirtualDevice> device);
    void unplug(DeviceId device);
    // The "locationID" of the device plugged as the given id: 0x01100000 +
    // (id << 16), as if each were on its own port of a hub at bus 1, port 1.
    static std::uint32_t locationOf(DeviceId device);
    // Waiting times are multiplied by the scale (1.0 = real time).
    void setTimeScale(double scale);
    // Device objects handed out and still alive, and interfaces claimed: for
    // checking that everything taken was given back.
    std::size_t devicesInUse() const;
    std::size_t claimsHeld() const;

    // ---- UsbPlatform ----
    std::string backendName() const override { return "sim"; }
    std::vector<std::shared_ptr<UsbDevice>> devices() override;
    IOReturn watch(HotplugHandler handler, std::unique_ptr<HotplugWatch>* watch) override;

    struct State;  // shared with the devices and claims it hands out

private:
    std::shared_ptr<State> state_;
};

}  // namespace tervane::usb::sim

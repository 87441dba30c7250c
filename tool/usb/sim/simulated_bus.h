// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulated bus: a UsbPlatform backend with virtual devices.
//
// Devices are plugged in and out at run time (from any thread); matching
// notifications follow. Transfers wait for real (scaled by setTimeScale) for
// the device's data, so time-outs behave as on a real bus.
#pragma once

#include "virtual_device.h"
#include "virtual_printer.h"

#include <condition_variable>
#include <memory>
#include <mutex>

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
    // Registry objects alive (services, iterators), and device/interface/
    // plug-in objects alive: for checking that every reference was given back.
    std::size_t registryObjectCount() const;
    std::size_t tableObjectCount() const;

    // ---- UsbPlatform ----
    std::string backendName() const override { return "sim"; }
    IOReturn objectRetain(io_object_t object) override;
    IOReturn objectRelease(io_object_t object) override;
    io_object_t iteratorNext(io_iterator_t iterator) override;
    IOReturn registryEntryCreateCFProperties(io_service_t service,
                                             RegistryProperties* properties) override;
    IOReturn getMatchingServices(const MatchingDictionary& matching,
                                 io_iterator_t* existing) override;
    IOReturn createPlugInInterfaceForService(io_service_t service, CFUUIDBytes pluginType,
                                             CFUUIDBytes interfaceType,
                                             IOCFPlugInInterfaceRef* plugin,
                                             std::int32_t* score) override;
    IONotificationPortRef notificationPortCreate() override;
    void notificationPortSetDispatchQueue(IONotificationPortRef port, TaskQueue* queue) override;
    void notificationPortDestroy(IONotificationPortRef port) override;
    IOReturn addMatchingNotification(IONotificationPortRef port, const std::string& type,
                                     const MatchingDictionary& matching,
                                     IOServiceMatchingCallback callback, void* refcon,
                                     io_iterator_t* notification) override;

    struct Impl;  // shared with the table functions

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace tervane::usb::sim

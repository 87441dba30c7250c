// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// An RV-T4410LW emulated at the kernel's usbfs interface with umockdev
// (sim/usb: the emulated bus, shared with the printer simulator), answering
// the settings commands.
//
// The test process runs with libumockdev-preload in LD_PRELOAD; libusb in
// it finds the testbed's devices, and this class answers the settings
// commands from each printer's own state: DHCP on or off, address, mask and
// gateway; "SetIP=" and the toggle commands change the pending settings and
// "Restart?" applies them.
#pragma once

#include "usbfs_emulation.h"

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tervane::testing {

using rvtusb::descriptorBlob;
using rvtusb::EmulatedDeviceSpec;
using rvtusb::EmulatedEndpoint;
using rvtusb::UsbfsCall;

struct NetworkSettings {
    bool dhcp = false;
    std::array<std::uint8_t, 4> ip{192, 168, 1, 20};
    std::array<std::uint8_t, 4> mask{255, 255, 255, 0};
    std::array<std::uint8_t, 4> gateway{192, 168, 1, 1};
};

class EmulatedPrinter {
public:
    EmulatedPrinter() = default;
    EmulatedPrinter(const EmulatedPrinter&) = delete;
    EmulatedPrinter& operator=(const EmulatedPrinter&) = delete;

    // Adds a device to the testbed; returns its sysfs path. Devices added
    // before the backend starts are found by enumeration, later ones by
    // hot-plug.
    std::string addDevice(const EmulatedDeviceSpec& spec = {});
    // The device drops off the bus: every further call on an open node fails
    // with ENODEV, in-flight transfers included, and a "remove" event tells
    // the udev listeners.
    void unplug(const std::string& syspath) { bus_.unplug(syspath); }

    // Scripting, per device (by sysfs path).
    void setSettings(const std::string& syspath, const NetworkSettings& s);
    NetworkSettings settings(const std::string& syspath) const;
    void setSilent(const std::string& syspath, bool silent);  // no replies at all
    void stallNextRead(const std::string& syspath) { bus_.stallNextRead(syspath); }
    void failNextClaim(const std::string& syspath, int error)
    {
        bus_.failNextClaim(syspath, error);
    }
    void queueReply(const std::string& syspath, std::vector<std::uint8_t> bytes)
    {
        bus_.queueReply(syspath, std::move(bytes));
    }
    std::string boundDriver(const std::string& syspath) const { return bus_.boundDriver(syspath); }
    // The device node loses every permission bit (mode 0000), as a node the
    // system gives to no ordinary user. Root still opens it unless the
    // opening thread has given up its file-access capabilities
    // (ThreadWithoutFileAccessOverride).
    void denyAccess(const std::string& syspath) { bus_.denyAccess(syspath); }

    std::vector<UsbfsCall> calls(const std::string& syspath) const { return bus_.calls(syspath); }
    void clearCalls(const std::string& syspath) { bus_.clearCalls(syspath); }

private:
    struct State {
        NetworkSettings active;
        NetworkSettings pending;
        bool silent = false;
    };
    // The printer's side of the settings conversation.
    void answer(const std::string& syspath, const std::vector<std::uint8_t>& command);

    mutable std::mutex mutex_;
    std::map<std::string, State> states_;  // by sysfs path
    // Last: it goes first, so that no command arrives for a state gone.
    rvtusb::UsbfsEmulation bus_;
};

// While one lives, the calling thread runs as an ordinary user would with
// respect to file permissions: the capabilities that let root ignore them
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH) leave its effective set, and come
// back when it goes. Capabilities belong to a thread, so other threads are
// not affected.
class ThreadWithoutFileAccessOverride {
public:
    ThreadWithoutFileAccessOverride();
    ~ThreadWithoutFileAccessOverride();
    ThreadWithoutFileAccessOverride(const ThreadWithoutFileAccessOverride&) = delete;
    ThreadWithoutFileAccessOverride& operator=(const ThreadWithoutFileAccessOverride&) = delete;

private:
    unsigned effective_[2] = {0, 0};
};

}  // namespace tervane::testing

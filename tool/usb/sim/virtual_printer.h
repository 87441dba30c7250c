// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The virtual RV-T4410LW: a printer on the simulated bus that answers the
// network settings commands from its own settings state.
//
//   "CheckDHCPToggle?"      -> "DHCPToggle=On;" or "DHCPToggle=Off;"
//   "CheckIP?"              -> 18 bytes: 6 header bytes, address, mask, gateway
//   "SetIP=" + 12 octets + ";"  stages address, mask, gateway (no reply)
//   "SetDHCPToggle=On;" / "SetDHCPToggle=Off;"  stage the mode -> "SetDHCPToggleOK;"
//   "Restart?"              applies the staged settings (no reply)
// Anything else is taken and not answered.
//
// Scripted faults replace the normal handling of the next arrival of a
// command (matched by prefix, consumed in order): a given reply (short or
// wrong), no reply, a stall of the IN or OUT endpoint, a write time-out, or
// the printer leaving the bus.
#pragma once

#include "virtual_device.h"

#include <array>
#include <string>

namespace tervane::usb::sim {

constexpr std::uint16_t kPrinterVendorId = 0x356C;
constexpr std::uint16_t kPrinterProductId = 0x0033;

struct NetworkSettings {
    bool dhcp = false;
    std::array<std::uint8_t, 4> ip{192, 168, 1, 20};
    std::array<std::uint8_t, 4> mask{255, 255, 255, 0};
    std::array<std::uint8_t, 4> gateway{192, 168, 1, 1};
    friend bool operator==(const NetworkSettings&, const NetworkSettings&) = default;
};

class VirtualPrinter : public BasicDevice {
public:
    enum class Action {
        reply,         // answer with the given bytes instead
        noReply,       // take the command, answer nothing
        stallIn,       // take the command, stall the IN endpoint
        stallOut,      // refuse the write with a stall of the OUT endpoint
        writeTimeout,  // refuse the write with a time-out
        unplug,        // take the command and leave the bus
    };

    explicit VirtualPrinter(NetworkSettings settings = {}, std::uint16_t vendor = kPrinterVendorId,
                            std::uint16_t product = kPrinterProductId);

    WriteOutcome receive(std::uint8_t interfaceNumber, std::uint8_t endpointAddress,
                         const Bytes& data) override;

    void script(const std::string& commandPrefix, Action action, Bytes reply = {});

    NetworkSettings settings() const;        // in effect
    NetworkSettings stagedSettings() const;  // applied by the next "Restart?"
    int restarts() const;

private:
    struct Step {
        std::string prefix;
        Action action;
        Bytes reply;
    };
    void answer(const Bytes& command);

    NetworkSettings active_;
    NetworkSettings staged_;
    int restarts_ = 0;
    std::deque<Step> script_;
};

}  // namespace tervane::usb::sim

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "virtual_printer.h"

#include <algorithm>

namespace tervane::usb::sim {

namespace {

constexpr std::uint8_t kOutEndpoint = 0x01;
constexpr std::uint8_t kInEndpoint = 0x81;

Bytes text(const std::string& value) { return Bytes(value.begin(), value.end()); }

bool startsWith(const Bytes& data, const std::string& prefix)
{
    return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

}  // namespace

VirtualPrinter::VirtualPrinter(NetworkSettings settings, std::uint16_t vendor,
                               std::uint16_t product)
    : BasicDevice(vendor, product, {printerInterface()}), active_(settings), staged_(settings)
{
}

void VirtualPrinter::script(const std::string& commandPrefix, Action action, Bytes reply)
{
    std::lock_guard guard(lock_);
    script_.push_back({commandPrefix, action, std::move(reply)});
}

NetworkSettings VirtualPrinter::settings() const
{
    std::lock_guard guard(lock_);
    return active_;
}

NetworkSettings VirtualPrinter::stagedSettings() const
{
    std::lock_guard guard(lock_);
    return staged_;
}

int VirtualPrinter::restarts() const
{
    std::lock_guard guard(lock_);
    return restarts_;
}

WriteOutcome VirtualPrinter::receive(std::uint8_t interfaceNumber, std::uint8_t endpointAddress,
                                     const Bytes& data)
{
    std::lock_guard guard(lock_);
    if (interfaceNumber != 0 || endpointAddress != kOutEndpoint) {
        return {kIOReturnBadArgument, {}, false};
    }
    auto step = std::find_if(script_.begin(), script_.end(),
                             [&](const Step& s) { return startsWith(data, s.prefix); });
    if (step != script_.end()) {
        const Step taken = *step;
        script_.erase(step);
        switch (taken.action) {
        case Action::stallOut:
            return {kIOUSBPipeStalled, {kOutEndpoint}, false};
        case Action::writeTimeout:
            return {kIOReturnTimeout, {}, false};
        default:
            break;
        }
        received_.push_back(data);
        switch (taken.action) {
        case Action::reply:
            queueInLocked(kInEndpoint, taken.reply);
            return {};
        case Action::stallIn:
            return {kIOReturnSuccess, {kInEndpoint}, false};
        case Action::unplug:
            return {kIOReturnSuccess, {}, true};
        default:
            return {};
        }
    }
    received_.push_back(data);
    answer(data);
    return {};
}

void VirtualPrinter::answer(const Bytes& command)
{
    if (command == text("CheckDHCPToggle?")) {
        queueInLocked(kInEndpoint, text(active_.dhcp ? "DHCPToggle=On;" : "DHCPToggle=Off;"));
    } else if (command == text("CheckIP?")) {
        Bytes reply = text("IPADDR");
        for (const auto* group : {&active_.ip, &active_.mask, &active_.gateway}) {
            reply.insert(reply.end(), group->begin(), group->end());
        }
        queueInLocked(kInEndpoint, std::move(reply));
    } else if (startsWith(command, "SetIP=")) {
        // Twelve octets between the head and the closing ";".
        if (command.size() == 19 && command.back() == ';') {
            std::copy_n(command.begin() + 6, 4, staged_.ip.begin());
            std::copy_n(command.begin() + 10, 4, staged_.mask.begin());
            std::copy_n(command.begin() + 14, 4, staged_.gateway.begin());
        }
    } else if (command == text("SetDHCPToggle=On;") || command == text("SetDHCPToggle=Off;")) {
        staged_.dhcp = command == text("SetDHCPToggle=On;");
        queueInLocked(kInEndpoint, text("SetDHCPToggleOK;"));
    } else if (command == text("Restart?")) {
        active_ = staged_;
        ++restarts_;
    }
}

}  // namespace tervane::usb::sim

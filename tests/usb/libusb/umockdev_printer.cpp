// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "umockdev_printer.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tervane::testing {

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

bool startsWith(const std::vector<std::uint8_t>& bytes, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    return bytes.size() >= n && std::memcmp(bytes.data(), prefix, n) == 0;
}

bool equals(const std::vector<std::uint8_t>& bytes, const char* text)
{
    return bytes.size() == std::strlen(text) && startsWith(bytes, text);
}

}  // namespace

std::string EmulatedPrinter::addDevice(const EmulatedDeviceSpec& spec)
{
    rvtusb::DeviceHandlers handlers;
    handlers.bulkOut = [this](const std::string& syspath, std::vector<std::uint8_t> bytes) {
        answer(syspath, bytes);
    };
    return bus_.addDevice(spec, std::move(handlers));
}

void EmulatedPrinter::setSettings(const std::string& syspath, const NetworkSettings& s)
{
    std::lock_guard<std::mutex> lock(mutex_);
    State& state = states_[syspath];
    state.active = s;
    state.pending = s;
}

NetworkSettings EmulatedPrinter::settings(const std::string& syspath) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = states_.find(syspath);
    return it == states_.end() ? NetworkSettings{} : it->second.active;
}

void EmulatedPrinter::setSilent(const std::string& syspath, bool silent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    states_[syspath].silent = silent;
}

void EmulatedPrinter::answer(const std::string& syspath, const std::vector<std::uint8_t>& command)
{
    std::vector<std::uint8_t> reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        State& d = states_[syspath];
        if (d.silent)
            return;
        if (equals(command, "CheckDHCPToggle?")) {
            reply = bytesOf(d.active.dhcp ? "DHCPToggle=On;" : "DHCPToggle=Off;");
        } else if (equals(command, "CheckIP?")) {
            reply = {'I', 'P', 'I', 'N', 'F', 'O'};
            reply.insert(reply.end(), d.active.ip.begin(), d.active.ip.end());
            reply.insert(reply.end(), d.active.mask.begin(), d.active.mask.end());
            reply.insert(reply.end(), d.active.gateway.begin(), d.active.gateway.end());
        } else if (equals(command, "SetDHCPToggle=On;") || equals(command, "SetDHCPToggle=Off;")) {
            d.pending.dhcp = equals(command, "SetDHCPToggle=On;");
            reply = bytesOf("SetDHCPToggleOK;");
        } else if (startsWith(command, "SetIP=") && command.size() == 19 && command.back() == ';') {
            for (int i = 0; i < 4; ++i) {
                d.pending.ip[i] = command[6 + i];
                d.pending.mask[i] = command[10 + i];
                d.pending.gateway[i] = command[14 + i];
            }
        } else if (equals(command, "Restart?")) {
            d.active = d.pending;
        }
    }
    if (!reply.empty())
        bus_.queueReply(syspath, std::move(reply));
}

namespace {

void capabilities(bool set, __user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    const long result = set ? ::syscall(SYS_capset, &header, data)
                            : ::syscall(SYS_capget, &header, data);
    if (result != 0) {
        throw std::runtime_error(std::string("capabilities: ") + std::strerror(errno));
    }
}

}  // namespace

ThreadWithoutFileAccessOverride::ThreadWithoutFileAccessOverride()
{
    __user_cap_data_struct data[2]{};
    capabilities(false, data);
    effective_[0] = data[0].effective;
    effective_[1] = data[1].effective;
    data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    capabilities(true, data);
}

ThreadWithoutFileAccessOverride::~ThreadWithoutFileAccessOverride()
{
    __user_cap_data_struct data[2]{};
    try {
        capabilities(false, data);
        data[0].effective = effective_[0];
        data[1].effective = effective_[1];
        capabilities(true, data);
    } catch (const std::exception&) {
    }
}

}  // namespace tervane::testing

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "virtual_device.h"

namespace tervane::usb::sim {

BasicDevice::BasicDevice(std::uint16_t vendor, std::uint16_t product,
                         std::vector<InterfaceSpec> interfaces)
    : vendor_(vendor), product_(product), interfaces_(std::move(interfaces))
{
}

WriteOutcome BasicDevice::receive(std::uint8_t, std::uint8_t, const Bytes& data)
{
    std::lock_guard guard(lock_);
    received_.push_back(data);
    return {};
}

std::optional<Bytes> BasicDevice::nextIn(std::uint8_t, std::uint8_t endpointAddress)
{
    std::lock_guard guard(lock_);
    auto found = inQueues_.find(endpointAddress);
    if (found == inQueues_.end() || found->second.empty()) {
        return std::nullopt;
    }
    Bytes data = std::move(found->second.front());
    found->second.pop_front();
    return data;
}

void BasicDevice::queueIn(std::uint8_t endpointAddress, Bytes data)
{
    std::lock_guard guard(lock_);
    queueInLocked(endpointAddress, std::move(data));
}

void BasicDevice::queueInLocked(std::uint8_t endpointAddress, Bytes data)
{
    inQueues_[endpointAddress].push_back(std::move(data));
}

std::vector<Bytes> BasicDevice::received() const
{
    std::lock_guard guard(lock_);
    return received_;
}

InterfaceSpec printerInterface()
{
    return {0, 7, 1, 2, 0, {{0x01, kUSBBulk, 64, 0}, {0x81, kUSBBulk, 64, 0}}};
}

}  // namespace tervane::usb::sim

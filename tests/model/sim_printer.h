// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Helpers of the model tests: a virtual printer on the simulated bus that
// also records the order of its OUT and IN transfers, and a capture of the
// diagnostic lines.
#pragma once

#include "sim/simulated_bus.h"
#include "sim/virtual_printer.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace tervane::test {

using usb::sim::NetworkSettings;
using usb::sim::VirtualPrinter;

// The real virtual printer; it only notes "OUT <command>" and "IN" in the
// order the transfers happen.
class RecordingPrinter : public VirtualPrinter {
public:
    using VirtualPrinter::VirtualPrinter;

    usb::sim::WriteOutcome receive(std::uint8_t interfaceNumber, std::uint8_t endpointAddress,
                                   const usb::sim::Bytes& data) override
    {
        usb::sim::WriteOutcome outcome = VirtualPrinter::receive(interfaceNumber, endpointAddress,
                                                                 data);
        std::lock_guard guard(eventsLock_);
        events_.push_back("OUT " + std::string(data.begin(), data.end()));
        return outcome;
    }

    std::optional<usb::sim::Bytes> nextIn(std::uint8_t interfaceNumber,
                                          std::uint8_t endpointAddress) override
    {
        std::optional<usb::sim::Bytes> data = VirtualPrinter::nextIn(interfaceNumber,
                                                                     endpointAddress);
        if (data) {
            std::lock_guard guard(eventsLock_);
            events_.push_back("IN");
        }
        return data;
    }

    std::vector<std::string> events() const
    {
        std::lock_guard guard(eventsLock_);
        return events_;
    }

private:
    mutable std::mutex eventsLock_;
    std::vector<std::string> events_;
};

inline bool hasLine(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline usb::sim::Bytes bytesOf(std::string_view text)
{
    return usb::sim::Bytes(text.begin(), text.end());
}

}  // namespace tervane::test

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// CUPS side-channel messages as they travel on the socket between filter and
// backend: command, status, 16-bit big-endian data length, then the data.
#pragma once

#include <cstdint>
#include <string>

namespace rvtsim {

struct SideChannelMessage {
    int command = 0;
    int status = 0;
    std::string data;
};

std::string encodeSideChannel(const SideChannelMessage& message);
// Takes one whole message off the front of `buffer`; false when it does not
// hold a whole message yet.
bool takeSideChannel(std::string& buffer, SideChannelMessage& message);
const char* sideChannelCommandName(int command);

}  // namespace rvtsim

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "side_channel.h"

#include <cups/sidechannel.h>

namespace rvtsim {

std::string encodeSideChannel(const SideChannelMessage& m)
{
    std::string out;
    out += static_cast<char>(m.command);
    out += static_cast<char>(m.status);
    out += static_cast<char>((m.data.size() >> 8) & 0xFF);
    out += static_cast<char>(m.data.size() & 0xFF);
    out += m.data;
    return out;
}

bool takeSideChannel(std::string& buffer, SideChannelMessage& m)
{
    if (buffer.size() < 4)
        return false;
    auto b = [&](size_t i) { return static_cast<unsigned char>(buffer[i]); };
    size_t length = (size_t(b(2)) << 8) | b(3);
    if (buffer.size() < 4 + length)
        return false;
    m.command = b(0);
    m.status = b(1);
    m.data = buffer.substr(4, length);
    buffer.erase(0, 4 + length);
    return true;
}

const char* sideChannelCommandName(int command)
{
    switch (command) {
    case CUPS_SC_CMD_SOFT_RESET:
        return "soft_reset";
    case CUPS_SC_CMD_DRAIN_OUTPUT:
        return "drain_output";
    case CUPS_SC_CMD_GET_BIDI:
        return "get_bidi";
    case CUPS_SC_CMD_GET_DEVICE_ID:
        return "get_device_id";
    case CUPS_SC_CMD_GET_STATE:
        return "get_state";
    case CUPS_SC_CMD_SNMP_GET:
        return "snmp_get";
    case CUPS_SC_CMD_SNMP_GET_NEXT:
        return "snmp_get_next";
    case CUPS_SC_CMD_GET_CONNECTED:
        return "get_connected";
    default:
        return "unknown";
    }
}

}  // namespace rvtsim

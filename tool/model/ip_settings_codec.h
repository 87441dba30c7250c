// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Commands and replies of the printer's network-settings interface.
//
// Pure functions: they build the exact bytes sent on the printer's bulk OUT
// pipe and interpret the bytes read from its bulk IN pipe. Nothing here
// touches a transport.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tervane {

using Bytes = std::vector<std::uint8_t>;

// Commands, byte for byte (no terminator, no line end).
inline constexpr std::string_view kCheckDHCPToggle = "CheckDHCPToggle?";
inline constexpr std::string_view kCheckIP = "CheckIP?";
inline constexpr std::string_view kSetIPHead = "SetIP=";
inline constexpr std::string_view kSetIPTail = ";";
inline constexpr std::string_view kSetDHCPToggleOff = "SetDHCPToggle=Off;";
inline constexpr std::string_view kSetDHCPToggleOn = "SetDHCPToggle=On;";
inline constexpr std::string_view kRestart = "Restart?";

// Replies compared as a whole.
inline constexpr std::string_view kDHCPToggleOnReply = "DHCPToggle=On;";
inline constexpr std::string_view kSetDHCPToggleOKReply = "SetDHCPToggleOK;";

// Length of the only address reply the printer is understood to send.
inline constexpr std::size_t kIPReplyLength = 18;

// Address modes as stored in Device::ipSetType.
inline constexpr std::string_view kIPSetTypeDHCP = "D";
inline constexpr std::string_view kIPSetTypeStatic = "S";

struct IPSettings {
    std::string ip;
    std::string subNetMask;
    std::string gateway;
    bool operator==(const IPSettings&) const = default;
};

// The bytes of a command literal.
Bytes commandBytes(std::string_view command);

// "SetIP=" + one byte per dotted component of ip, subNetMask, gateway + ";".
// Components are read like C's atoi (leading blanks, optional sign, digits)
// and empty pieces between dots are dropped. A component whose value does
// not fit the one-byte field (below 0 or above 255) cannot be encoded: the
// result is then empty and nothing must be sent.
std::optional<Bytes> buildSetIPCommand(std::string_view ip, std::string_view subNetMask,
                                       std::string_view gateway);

// The 18-byte answer to "CheckIP?": bytes 6..9 address, 10..13 mask,
// 14..17 gateway, each rendered as dotted decimal. Any other length gives
// three empty texts.
IPSettings parseIPReply(std::span<const std::uint8_t> reply);

// "D" when the answer to "CheckDHCPToggle?" is exactly "DHCPToggle=On;",
// otherwise "S".
std::string parseDHCPToggleReply(std::span<const std::uint8_t> reply);

// True when the answer to a "SetDHCPToggle=..." command is exactly
// "SetDHCPToggleOK;".
bool isSetDHCPToggleOK(std::span<const std::uint8_t> reply);

// The bytes as text when they are valid UTF-8, otherwise nothing.
std::optional<std::string> decodeUTF8(std::span<const std::uint8_t> bytes);

// The way the diagnostics show an optional text: Optional("...") with the
// quotes, backslashes and control characters escaped, or nil.
std::string describeOptionalText(const std::optional<std::string>& text);

// Four bytes as dotted decimal, e.g. C0 A8 01 14 -> "192.168.1.20".
std::string dottedDecimal(std::span<const std::uint8_t, 4> octets);

}  // namespace tervane

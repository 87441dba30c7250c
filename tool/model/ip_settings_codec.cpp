// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "ip_settings_codec.h"

#include <cstdio>

namespace tervane {

namespace {

bool isCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The leading integer of a piece, read like C's atoi. The magnitude is
// capped just above the one-byte range so long digit runs cannot overflow;
// the caller only needs to know whether the value fits 0..255.
long leadingInteger(std::string_view piece)
{
    std::size_t i = 0;
    while (i < piece.size() && isCSpace(piece[i])) {
        ++i;
    }
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
        negative = piece[i] == '-';
        ++i;
    }
    long value = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        value = value * 10 + (piece[i] - '0');
        if (value > 256) {
            value = 256;
        }
    }
    return negative ? -value : value;
}

// Appends one byte per non-empty dotted piece; false when a piece does not
// fit one unsigned byte.
bool appendComponents(std::string_view text, Bytes& out)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t dot = text.find('.', start);
        if (dot == std::string_view::npos) {
            dot = text.size();
        }
        std::string_view piece = text.substr(start, dot - start);
        if (!piece.empty()) {
            long value = leadingInteger(piece);
            if (value < 0 || value > 255) {
                return false;
            }
            out.push_back(static_cast<std::uint8_t>(value));
        }
        start = dot + 1;
    }
    return true;
}

bool equalsLiteral(std::span<const std::uint8_t> reply, std::string_view literal)
{
    if (reply.size() != literal.size()) {
        return false;
    }
    for (std::size_t i = 0; i < reply.size(); ++i) {
        if (reply[i] != static_cast<std::uint8_t>(literal[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

Bytes commandBytes(std::string_view command) { return Bytes(command.begin(), command.end()); }

std::optional<Bytes> buildSetIPCommand(std::string_view ip, std::string_view subNetMask,
                                       std::string_view gateway)
{
    Bytes payload;
    for (std::string_view text : {ip, subNetMask, gateway}) {
        if (!appendComponents(text, payload)) {
            return std::nullopt;
        }
    }
    Bytes cmd = commandBytes(kSetIPHead);
    cmd.insert(cmd.end(), payload.begin(), payload.end());
    cmd.insert(cmd.end(), kSetIPTail.begin(), kSetIPTail.end());
    return cmd;
}

std::string dottedDecimal(std::span<const std::uint8_t, 4> octets)
{
    std::string out;
    for (std::size_t i = 0; i < octets.size(); ++i) {
        if (i > 0) {
            out += '.';
        }
        out += std::to_string(static_cast<unsigned>(octets[i]));
    }
    return out;
}

IPSettings parseIPReply(std::span<const std::uint8_t> reply)
{
    if (reply.size() != kIPReplyLength) {
        return {};
    }
    return IPSettings{dottedDecimal(reply.subspan<6, 4>()), dottedDecimal(reply.subspan<10, 4>()),
                      dottedDecimal(reply.subspan<14, 4>())};
}

std::string parseDHCPToggleReply(std::span<const std::uint8_t> reply)
{
    // The literal is ASCII, so a byte-exact match is also a valid UTF-8 text
    // equal to it; anything else (including invalid UTF-8) reads as static.
    return std::string(equalsLiteral(reply, kDHCPToggleOnReply) ? kIPSetTypeDHCP
                                                                : kIPSetTypeStatic);
}

bool isSetDHCPToggleOK(std::span<const std::uint8_t> reply)
{
    return equalsLiteral(reply, kSetDHCPToggleOKReply);
}

std::optional<std::string> decodeUTF8(std::span<const std::uint8_t> bytes)
{
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const std::uint8_t b = bytes[i];
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            cp = b & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + extra >= n) {
            return std::nullopt;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const std::uint8_t c = bytes[i + k];
            if ((c & 0xC0) != 0x80) {
                return std::nullopt;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            return std::nullopt;
        }
        i += extra + 1;
    }
    return std::string(bytes.begin(), bytes.end());
}

std::string describeOptionalText(const std::optional<std::string>& text)
{
    if (!text) {
        return "nil";
    }
    std::string out = "Optional(\"";
    for (char c : *text) {
        switch (c) {
        case '\0':
            out += "\\0";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "\\u{%x}",
                              static_cast<unsigned>(static_cast<unsigned char>(c)));
                out += buf;
            } else {
                out += c;
            }
        }
    }
    out += "\")";
    return out;
}

}  // namespace tervane

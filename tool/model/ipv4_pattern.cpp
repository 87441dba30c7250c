// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "ipv4_pattern.h"

namespace tervane {

namespace {

// One component of kIPv4Pattern: 25[0-5] | 2[0-4][0-9] | [01]?[0-9][0-9]?,
// which is one to three ASCII digits whose value is at most 255.
bool isComponent(std::string_view part)
{
    if (part.empty() || part.size() > 3) {
        return false;
    }
    int value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value <= 255;
}

}  // namespace

bool matchesIPv4Pattern(std::string_view text)
{
    // Written out rather than run through a regular-expression engine; the
    // tests hold it to the pattern itself.
    int components = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(
            start, dot == std::string_view::npos ? text.npos : dot - start);
        if (!isComponent(part)) {
            return false;
        }
        ++components;
        if (dot == std::string_view::npos) {
            return components == 4;
        }
        if (components == 4) {
            return false;
        }
        start = dot + 1;
    }
}

}  // namespace tervane

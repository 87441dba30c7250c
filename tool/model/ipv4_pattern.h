// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The one rule every address, mask and gateway typed by a user must pass
// before anything is sent: a dotted quad of four numbers 0..255 (a number
// may carry leading zeros up to three digits), nothing before or after.
#pragma once

#include <string_view>

namespace tervane {

inline constexpr const char* kIPv4Pattern =
    R"(^(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)$)";

bool matchesIPv4Pattern(std::string_view text);

}  // namespace tervane

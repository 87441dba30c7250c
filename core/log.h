// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The filter's log stream: every line goes to standard error, where the CUPS
// scheduler picks it up. Tests hand in a memory stream instead.
#pragma once

#include <cstdio>
#include <string_view>

namespace rvt {

class Log {
public:
    explicit Log(FILE* out = stderr) : out_(out) {}

    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void write(std::string_view text);
    FILE* stream() const { return out_; }

private:
    FILE* out_;
};

}  // namespace rvt

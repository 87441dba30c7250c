// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The job's log stream. In the filter every line goes to standard error,
// where the CUPS scheduler picks it up; tests hand in a memory stream. The
// lines follow the scheduler's conventions ("DEBUG:", "INFO:", "ERROR:",
// "STATE:", "ATTR:", "PAGE:" prefixes); a front end without a scheduler
// overrides write() and turns them into its own feedback.
#pragma once

#include <cstdio>
#include <string_view>

namespace rvt {

class Log {
public:
    explicit Log(FILE* out = stderr) : out_(out) {}
    virtual ~Log() = default;
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Formats the text and writes it.
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes one or more whole lines (or the rest of a line).
    virtual void write(std::string_view text);
    FILE* stream() const { return out_; }

private:
    FILE* out_;
};

}  // namespace rvt

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A log stream in memory, for tests that read back what was logged.
#pragma once

#include "log.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace rvt::test {

class MemoryLog {
public:
    MemoryLog() : file_(open_memstream(&buffer_, &size_)), log_(file_) {}
    ~MemoryLog()
    {
        std::fclose(file_);
        std::free(buffer_);
    }
    MemoryLog(const MemoryLog&) = delete;
    MemoryLog& operator=(const MemoryLog&) = delete;

    Log& log() { return log_; }
    FILE* file() { return file_; }
    std::string text()
    {
        std::fflush(file_);
        return std::string(buffer_, size_);
    }
    bool contains(const std::string& line) { return text().find(line) != std::string::npos; }

private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    FILE* file_;
    Log log_;
};

}  // namespace rvt::test

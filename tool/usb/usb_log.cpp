// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usb_log.h"

#include <mutex>

namespace tervane::usb {

namespace {

thread_local const LogSink* currentSink = nullptr;

}  // namespace

LogSink streamSink(std::FILE* stream)
{
    return [stream](const std::string& line) {
        static std::mutex lock;
        std::lock_guard guard(lock);
        std::fwrite(line.data(), 1, line.size(), stream);
        std::fputc('\n', stream);
        std::fflush(stream);
    };
}

LogSinkScope::LogSinkScope(LogSink sink) : sink_(std::move(sink)), previous_(currentSink)
{
    currentSink = &sink_;
}

LogSinkScope::~LogSinkScope() { currentSink = previous_; }

void usbLog(const std::string& line)
{
    if (currentSink == nullptr) {
        static const LogSink standardOutput = streamSink(stdout);
        standardOutput(line);
    } else if (*currentSink) {
        (*currentSink)(line);
    }
}

}  // namespace tervane::usb

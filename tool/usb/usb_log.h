// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Diagnostic lines of the USB layer and of the settings sequences.
//
// Each line goes to the sink that the caller of the work picked for its
// thread with a LogSinkScope: the window leaves the default (standard
// output), the command line drops them or sends them to standard error,
// tests collect them. Nothing here touches the process's file descriptors.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace tervane::usb {

// Receives one line, without its line end. An empty sink drops every line.
using LogSink = std::function<void(const std::string& line)>;

// Writes each line and a line end to the stream and flushes it; lines
// written from several threads do not interleave.
LogSink streamSink(std::FILE* stream);

// While it lives, the lines logged on the thread that made it go to sink
// (instead of the sink of an enclosing scope, or standard output when there
// is none). Scopes nest and must end in the reverse order of their making,
// on the thread that made them.
class LogSinkScope {
public:
    explicit LogSinkScope(LogSink sink);
    ~LogSinkScope();
    LogSinkScope(const LogSinkScope&) = delete;
    LogSinkScope& operator=(const LogSinkScope&) = delete;

private:
    LogSink sink_;
    const LogSink* previous_;
};

// Gives the line to the calling thread's sink.
void usbLog(const std::string& line);

}  // namespace tervane::usb

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulated printer on the network, as CUPS's socket backend reaches a
// printer (socket://HOST:PORT): the stream of a TCP connection read as it
// arrives and played through the printer's role, the replies written back on
// the same connection. A connection carries one job, or several one after
// another (a sender that keeps it open while more jobs are queued): a job
// ends once its lock is released or it is cancelled, and the next byte
// begins the next job, with a role of its own. Each job's pages and
// transcript go into DIR/job-N/, N counting jobs from 1 in the order they
// begin. The lock is the printer's, so that jobs of several queues on one
// printer take turns.
#pragma once

#include "script.h"

#include <string>

namespace rvtsim {

struct NetworkConfig {
    std::string host = "127.0.0.1";
    int port = 9100;  // 0: any free port (printed at start)
    std::string outDir;
    Script script;  // drain delays become pauses between reads of 4096 bytes
    bool preview = true;
    bool decodeAfter = false;
    double downSeconds = 0;  // connections refused for this long after start
};

// "HOST:PORT" or "PORT" (host 127.0.0.1). Returns an empty text or the error.
std::string parseListenAddress(const std::string& text, NetworkConfig& config);

// Serves jobs until SIGTERM or SIGINT. Prints "listening on HOST:PORT" and a
// line per job on standard output. Returns the exit status: 0 when stopped,
// 1 when the printer could not be set up, 2 for a script it cannot play.
int serveNetworkPrinter(const NetworkConfig& config);

}  // namespace rvtsim

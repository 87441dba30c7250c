// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The server's state file: its printers and their settings, loaded at start
// and saved when they change, but not while a job is in the driver. PAPPL
// 1.3.1 saves its state holding the system's lock, then each printer's; when
// it turns a raster job away because the printer is busy, it holds the
// printer's lock, then takes the system's. Both at once stop the server for
// good (seen with four clients sending raster jobs at once). The printer is
// only busy while a job prints, so a change made then is saved once no job
// has been in the driver for a moment (a timer looks every two seconds), and
// at the latest when the server shuts down.
#pragma once

#include <atomic>
#include <cstdint>
#include <pappl/pappl.h>
#include <string>

namespace rvt::app {

// Jobs in the driver, for every printer of the server.
class JobActivity {
public:
    void jobStarted() { ++jobs_; }
    void jobEnded();
    // No job is in the driver, and none has left it for `quietMs`.
    bool quiet(int64_t quietMs) const;

private:
    std::atomic<int> jobs_{0};
    std::atomic<int64_t> lastEndMs_{0};
};

class StateFile {
public:
    StateFile(std::string path, const JobActivity& activity)
        : path_(std::move(path)), activity_(activity)
    {
    }
    // Loads the state into `system` and saves its changes from now on.
    void attach(pappl_system_t* system);

private:
    static bool saveCallback(pappl_system_t* system, void* data);
    static bool timerCallback(pappl_system_t* system, void* data);
    bool saveIfQuiet(pappl_system_t* system);

    std::string path_;
    const JobActivity& activity_;
    std::atomic<bool> pending_{false};
};

}  // namespace rvt::app

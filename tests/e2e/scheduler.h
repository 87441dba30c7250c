// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A private CUPS scheduler for the end-to-end tests, started and stopped with
// scripts/cupsd-private.sh, and what the tests ask of it: queues on the
// simulator backend, jobs submitted with lp, job states read over IPP, the
// scheduler's error log.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace rvt::e2e {

struct CommandResult {
    int status = -1;     // exit status; -1 when the program could not run or was killed
    std::string output;  // standard output and standard error together
};

// Runs a program (no shell) with CUPS_SERVER set to the private scheduler
// (when one is running) and returns what it printed.
CommandResult runCommand(const std::vector<std::string>& argv);

// A scheduler log line "... Started filter /path/prog (PID 123)" (or backend):
// the program's path and its process id.
bool startedProgram(const std::string& line, std::string& path, std::string& pid);

struct JobState {
    int state = 0;  // IPP job-state: 3 pending ... 5 processing, 6 stopped, 7 canceled, 8 aborted,
                    // 9 completed
    std::string reasons;
    std::string printerState;  // "idle", "processing", "stopped" and its message
};

class Scheduler {
public:
    // Starts a private cupsd with the filter and backend from `binDir`;
    // `more`: further arguments of the script's start (--backend PATH ...).
    // Returns "" on success, otherwise why it failed.
    std::string start(const std::string& script, const std::string& binDir,
                      const std::vector<std::string>& more = {});
    // Stops it and removes its directory; safe to call more than once.
    void stop();
    bool running() const { return !root_.empty(); }

    const std::string& root() const { return root_; }
    std::string socketPath() const { return root_ + "/cupsd.sock"; }
    std::string tempDir() const { return root_ + "/tmp"; }

    // lpadmin -p NAME -E -v URI -P PPD; "" on success, otherwise lpadmin's words.
    std::string addQueue(const std::string& name, const std::string& uri, const std::string& ppd);
    // lp -d QUEUE [-n COPIES] -o ... DOCUMENT; the job id, or -1 (with `error` set).
    int submit(const std::string& queue, const std::string& document,
               const std::vector<std::string>& options, int copies, std::string& error);

    JobState jobState(int jobId, const std::string& queue) const;
    // Waits until the job has ended (state above 6: canceled, aborted or
    // completed). Gives up when the job or its printer is stopped (a failed
    // filter or backend) or after `timeout`; the final state comes back in
    // any case.
    JobState waitForEnd(int jobId, const std::string& queue, std::chrono::seconds timeout) const;

    // The scheduler's error log: the lines of one job, or the last `lines`.
    std::vector<std::string> jobLog(int jobId) const;
    // Every filter and the backend the scheduler started for the job have ended.
    bool programsEnded(int jobId) const;
    std::string logTail(int jobId, size_t lines = 40) const;

private:
    std::string script_;
    std::string root_;
};

}  // namespace rvt::e2e

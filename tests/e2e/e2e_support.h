// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// What the end-to-end suites share besides the scheduler: their work
// directory, what a job left with the simulated printer, and what it must
// not leave behind.
#pragma once

#include "jbig_decode.h"
#include "scheduler.h"
#include "test_document.h"

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace rvt::e2e {

// What one job left with the printer: its transcript and the pages printed
// (not cancelled), in order.
struct PrintedJob {
    int jobId = -1;
    JobState state;
    std::filesystem::path jobDir;  // the printer's directory for the job
    nlohmann::json transcript;
    std::vector<nlohmann::json> pages;
    std::vector<PageLook> looks;
    std::vector<rvtsim::Bitmap> bitmaps;
    std::string failure;  // why the job could not be looked at, with the log's tail

    // The pages' numbers in the order printed; 0 for a blank page.
    std::vector<int> ids() const;
    // The kinds of the stream's elements in order ("lock", "end_of_page", ...).
    std::vector<std::string> kinds() const;
    std::string jobHeaderText() const;
};

// Reads jobDir/transcript.json and the page files it names into `p`.
// Returns "" or why it could not.
std::string readPrintedJob(PrintedJob& p);

// RVT_E2E_KEEP=1: the work and scheduler directories stay for a look.
bool keepRequested();
// A suite's new work directory into `dir` (mode 0755: the scheduler's
// programs read there), named from `prefix`. Returns "" when the suite can
// go on, "skip: ..." when it cannot run here (the private scheduler needs
// root), otherwise what failed.
std::string makeWorkDir(const std::string& prefix, std::string& dir);
// Removes it, unless RVT_E2E_KEEP asks to keep it.
void removeWorkDir(const std::string& dir);

// Waits until a line of the job's log holds `text`.
bool waitForLogLine(const Scheduler& scheduler, int jobId, const std::string& text,
                    std::chrono::seconds timeout);
// The filter's files left in the scheduler's TempDir (its "rvt4410lw-"
// directories); Ghostscript's own files do not count.
std::vector<std::string> filterLeftovers(const Scheduler& scheduler);

}  // namespace rvt::e2e

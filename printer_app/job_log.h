// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The job's log lines in the printer application: where the CUPS scheduler
// would read them from the filter, the lines go to the server's job log, and
// what they tell the user becomes the job's IPP state: "INFO:" and "ERROR:"
// lines are the job-state-message; the first "ERROR:" is kept as the reason
// a job that fails ends with.
#pragma once

#include "log.h"

#include <mutex>
#include <pappl/pappl.h>
#include <string>

namespace rvt::app {

class JobLog final : public rvt::Log {
public:
    explicit JobLog(pappl_job_t* job) : rvt::Log(nullptr), job_(job) {}
    ~JobLog() override;

    void write(std::string_view text) override;

    // The first error reported, or "".
    std::string error() const;

    // Each page the printer took counts as a completed impression of the
    // job: for documents the driver renders itself (the framework counts
    // the pages of the rasters it hands over).
    void countPages() { countPages_ = true; }

private:
    void line(std::string_view text);

    pappl_job_t* job_;
    mutable std::mutex mutex_;
    std::string partial_;  // a line not yet ended
    std::string error_;
    bool countPages_ = false;
};

}  // namespace rvt::app

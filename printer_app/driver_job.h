// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// One job in the driver: its turn on the printer, its settings from the
// job's IPP attributes, its printer connection on the job's device, its log
// as the job's IPP state, and the job itself (streamed_job.h), fed line by
// line by the framework (raster, URF and JPEG documents) or from a page
// source of the caller's (a PDF rendered to raster).
#pragma once

#include "device_connection.h"
#include "job_log.h"
#include "streamed_job.h"

#include <memory>
#include <pappl/pappl.h>

namespace rvt {
class PageSource;
}

namespace rvt::app {

class JobActivity;
class PrinterTurns;

class DriverJob {
public:
    // Waits for the printer's turn and sets the job up; null when the job
    // cannot start (cancelled while waiting, or started a second time;
    // logged).
    static std::unique_ptr<DriverJob> create(pappl_job_t* job, const pappl_pr_options_t& options,
                                             pappl_device_t* device);
    ~DriverJob();
    DriverJob(const DriverJob&) = delete;
    DriverJob& operator=(const DriverJob&) = delete;

    StreamedJob& pages() { return *streamed_; }
    // The job's result, once its pages are done (`printed`: every page went
    // through): true, or false with the reason as the job's message.
    bool outcome(bool printed);

    // Prints the pages of `source` on this thread; same result as outcome().
    bool printFrom(PageSource& source);

private:
    DriverJob(pappl_job_t* job, pappl_device_t* device, PrinterTurns& turns, JobActivity& activity);

    pappl_job_t* job_;
    JobActivity& activity_;
    PrinterTurns& turns_;
    JobLog log_;
    DeviceConnection connection_;
    std::unique_ptr<StreamedJob> streamed_;
};

// The framework's raster callbacks, for the driver data.
bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool rasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line);
bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

}  // namespace rvt::app

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// One job in the driver: its settings from the job's IPP attributes, its
// printer connection on the job's device, its log as the job's IPP state, and
// the job itself (the same job flow as the CUPS filter's). The job runs on a
// thread of its own while the framework hands over the pages line by line
// (raster, URF and JPEG documents), or on the caller's thread with a page
// source of the caller's (a PDF rendered to raster).
#pragma once

#include "device_connection.h"
#include "job_log.h"
#include "job_settings.h"
#include "row_feed.h"

#include <atomic>
#include <memory>
#include <pappl/pappl.h>
#include <thread>

namespace rvt {
class PageSource;
}

namespace rvt::app {

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

    // Pages handed over line by line: the job runs on its own thread from
    // the first page on.
    bool startPage(const cups_page_header2_t& header, unsigned page);
    bool writeLine(const uint8_t* line);
    // The page handed over has ended; false when the job takes no more.
    bool endPage();
    // Whether the job still takes pages (false once it has ended early).
    bool printing() const { return !ended_; }
    // No more pages: waits for the job to end. True when it printed every
    // page; false when it failed (the reason is the job's message).
    bool finish();

    // Prints the pages of `pages` on this thread. Same result as finish().
    bool printFrom(PageSource& pages);

    pappl_job_t* job() const { return job_; }

private:
    DriverJob(pappl_job_t* job, pappl_device_t* device, PrinterTurns& turns, JobSettings settings);
    void run(PageSource* pages);
    bool outcome();
    // Notes a page that got fewer lines than its header promised.
    void checkPageWhole();

    pappl_job_t* job_;
    PrinterTurns& turns_;
    JobLog log_;
    DeviceConnection connection_;
    JobSettings settings_;
    std::string spool_;
    RowFeed feed_;
    std::thread thread_;
    std::atomic<bool> ended_{false};
    bool done_ = false;
    unsigned lastPage_ = 0;
    bool skipping_ = false;   // a repeat of the page for a copy: not taken
    unsigned lineBytes_ = 0;  // of the page being handed over
    unsigned pageLines_ = 0;  // the lines its header promises
    unsigned linesGiven_ = 0;
    // Why the document cannot be printed as it came: a page refused here, a
    // page cut short. The job fails with it as its message, even when the
    // framework has flagged the job cancelled to stop it.
    std::string refusal_;
    std::string truncation_;
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

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A job whose pages are handed over line by line, as the printer
// application's framework delivers a raster: the job (the same job flow as
// the CUPS filter's) runs on a thread of its own from the first page on and
// reads the lines through a bounded queue. Also runs a job on the caller's
// thread from a page source of the caller's. Knows nothing of the framework:
// the printer connection and the log are handed in.
#pragma once

#include "job_settings.h"
#include "row_feed.h"

#include <atomic>
#include <cstdint>
#include <cups/raster.h>
#include <string>
#include <thread>

namespace rvt {
class Log;
class PageSource;
class PrinterConnection;
}  // namespace rvt

namespace rvt::app {

// The one resolution the printer prints.
constexpr unsigned kPrinterResolution = 600;

class StreamedJob {
public:
    // `workDirectory`: where the job's page files go.
    StreamedJob(JobSettings settings, PrinterConnection& connection, Log& log,
                std::string workDirectory);
    // Lets go of the pages still handed over and waits for the job's thread.
    ~StreamedJob();
    StreamedJob(const StreamedJob&) = delete;
    StreamedJob& operator=(const StreamedJob&) = delete;

    // Page `page` (counted from 1) begins; its lines are header.cupsBytesPerLine
    // bytes. A page number not above the last one is the framework's repeat
    // of a one-page document for another copy: its lines are dropped, since
    // the job makes its copies itself. A page of another resolution than
    // the printer's is refused: the job is cancelled with the reason. False
    // once the job takes no more pages.
    bool startPage(const cups_page_header2_t& header, unsigned page);
    bool writeLine(const uint8_t* line);
    // The page handed over has ended; false once the job takes no more.
    bool endPage();
    // Whether the job still takes pages (false once it has ended early).
    bool printing() const { return !ended_; }
    // No more pages: waits for the job to end. True when it went through its
    // end and unlock, every page printed.
    bool finish();

    // Runs the job on this thread with the pages of `pages`. Same result as
    // finish().
    bool printFrom(PageSource& pages);

    // Why the document could not be printed as it came, or "": a page
    // refused here (not at 600 dpi), or a page cut short (fewer lines than
    // its header promised; the framework does not say so, and the page is
    // printed padded white). The job fails with it even when printed, and
    // even when the framework has flagged the job to stop it.
    std::string documentFault() const;

private:
    void run(PageSource* pages);
    // Notes a page that got fewer lines than its header promised.
    void checkPageWhole();

    JobSettings settings_;
    PrinterConnection& connection_;
    Log& log_;
    std::string workDirectory_;
    RowFeed feed_;
    std::thread thread_;
    std::atomic<bool> ended_{false};
    bool done_ = false;
    unsigned lastPage_ = 0;
    bool skipping_ = false;
    unsigned lineBytes_ = 0;
    unsigned pageLines_ = 0;  // the lines the page's header promises
    unsigned linesGiven_ = 0;
    std::string refusal_;
    std::string truncation_;
};

}  // namespace rvt::app

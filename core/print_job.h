// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// One print job from start to end, whoever drives it: the wait for the
// printer's connection, the lock, the job header, the page loop (every page
// read from the job's page source, processed, encoded into its page file and
// sent, two-sided jobs in back-then-front pairs), the blank back page,
// collated copies, the end of the job and the unlock, or the cancel
// sequence. The CUPS filter and the printer application each fill in the
// job's settings, hand over a printer connection and a log, and run it.
#pragma once

#include "back_channel.h"
#include "command_stream.h"
#include "job_feedback.h"
#include "job_settings.h"

#include <memory>
#include <string>
#include <vector>

namespace rvt {

class Log;
class PageFiles;
class PageSource;
class PrinterConnection;

class PrintJob {
public:
    // `tmpdir`: where the job's page files go (null or empty: the CUPS
    // spool's temporary directory).
    PrintJob(JobSettings settings, PrinterConnection& connection, Log& log, const char* tmpdir);
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Waits for the printer's connection, takes the printer's lock and sends
    // the start of the job and its header. Stop: the job is over (cancelled,
    // or the printer's stream is gone); only reportEnd() is left to do.
    Flow begin();
    // Prints the pages of `pages` (null: a job without pages), then the
    // blank back of an odd two-sided job and the further collated copies,
    // and ends the job with its end and unlock, or with the cancel sequence.
    void print(PageSource* pages);

    // A failure that cancels the job at its end, once the pages already
    // prepared have been sent; `reason` is for the user.
    void fail(std::string reason);
    // Runs the cancel sequence now; `reason` is for the user.
    void cancel(std::string_view reason);

    // The last word to the user, however the job ended.
    void reportEnd();

    const JobSettings& settings() const { return job_; }
    bool cancelled() const { return back_.cancelled(); }
    // The job went through its end and unlock: every page was printed.
    bool done() const { return done_; }
    int pagesPrinted() const { return feedback_.pagesPrinted(); }

private:
    Flow waitForConnection();
    void pageLoop(PageSource& pages);
    Flow sendOnePage(int pageNumber);
    Flow finishJob();
    void rememberSize(int pageNumber, int width, int height);
    void useSizeOf(int pageNumber);

    struct PageSize {
        int width = 0;
        int height = 0;
    };

    PrinterConnection& connection_;
    Log& log_;
    std::string tmpdir_;
    JobSettings job_;
    CommandStream stream_;
    JobFeedback feedback_;
    BackChannel back_;
    // The job's page files; null when their directory could not be made.
    std::unique_ptr<PageFiles> files_;
    int pageCounter_ = 1;
    std::vector<PageSize> sizes_;  // by page number
    bool done_ = false;
};

}  // namespace rvt

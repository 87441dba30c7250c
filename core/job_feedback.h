// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// What the scheduler shows the user about the job, beside the filter's own
// log lines: the pages printed for the page log ("PAGE: n 1"), the progress
// of the page being sent ("ATTR: job-media-progress=P"), what the job waits
// for ("INFO: ..."), why the filter cancelled the job ("ERROR: ..."), and the
// printer-state keywords while the printer does not let the job go on
// ("STATE: +keyword", cleared with "STATE: -keyword").
//
// Every call is made from the thread that talks to the printer.
//
// State keywords, each set once while its condition lasts and cleared when
// the printer answers or the job ends, whichever way it ends:
//   connecting-to-device          the printer's connection does not report
//                                 it connected yet
//   com.rvt-printer-busy-report   the printer refuses the lock (it is busy
//                                 with another job); vendor keyword, report
//                                 level
//   timed-out-warning             the printer does not answer an exchange
//
// Page counting: every page header sent whose end-of-page exchange went
// through counts as one printed side, copies and the blank back of an odd
// two-sided job included: the blank side is a side the printer prints, so
// the page log of a two-sided job counts two sides per sheet.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rvt {

class Log;

class JobFeedback {
public:
    explicit JobFeedback(Log& log) : log_(log) {}
    // Clears the state keywords still set, on every way out of the job.
    ~JobFeedback();
    JobFeedback(const JobFeedback&) = delete;
    JobFeedback& operator=(const JobFeedback&) = delete;

    // The job starts talking to the printer: a busy keyword left by an
    // earlier job that ended abruptly is cleared.
    void jobStarting();

    // The connection query did not report the printer connected; the job
    // asks again.
    void waitingForConnection();
    void connected();

    // An exchange got no reply on its first read and waits for one.
    void waitingForReply();
    // An exchange got no reply at all.
    void replyMissing();
    void replyReceived();
    // The printer refused the lock with `code`; the job asks again.
    void lockRefused(int code);
    void lockGranted();

    // The raster pages are all read: `pages` of them (page numbers above it
    // are the blank back page).
    void pagesKnown(int pages);
    void copyStarting(int copy, int copies);
    // Page `pageNumber` is about to be sent.
    void pageStarting(int pageNumber);
    // `sent` of the page's `total` bytes are on the print stream.
    void pageProgress(uint64_t sent, uint64_t total);
    // The page went through its end-of-page exchange: one more side printed.
    void pageSent();

    // Page `page` could not be read for want of memory: the job ends with the
    // pages before it, and the user is told what is missing.
    void pagesDropped(int page);
    // A failure that cancels the job at its end, when the pages already
    // prepared have been sent.
    void failure(std::string reason);
    // The reason for a cancel at the end of the job: the failure noted, or
    // else the one failure that is not noted (memory for a page's image steps).
    std::string reasonForCancel() const;

    // The cancel sequence starts. `reason` empty: the scheduler's (the
    // user's) cancel when `byScheduler`, else the failure noted.
    void cancelling(std::string_view reason, bool byScheduler);
    // The job went through its end and unlock.
    void jobDone();
    // The job is over; `streamLost`: the print stream broke before its end.
    void jobEnded(bool streamLost);

    int pagesPrinted() const { return pagesPrinted_; }

private:
    enum Keyword { kConnecting, kBusy, kTimedOut, kKeywordCount };
    void set(Keyword k);
    void clear(Keyword k);
    void clearAll();
    void progress(int percent);

    Log& log_;
    bool keywordSet_[kKeywordCount] = {};
    bool ended_ = false;  // cancelled, done or over: nothing more is reported
    bool waitingShown_ = false;
    int pagesPrinted_ = 0;
    int pagesKnown_ = 0;  // 0: not yet known
    int progressShown_ = -1;
    std::string failure_;
};

}  // namespace rvt

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "job_feedback.h"

#include "log.h"

namespace rvt {

namespace {

constexpr const char* kKeywordNames[] = {"connecting-to-device", "com.rvt-printer-busy-report",
                                         "timed-out-warning"};

// Progress is shown in steps of this many percent, so that a page shows a
// handful of values whatever its size.
constexpr int kProgressStep = 25;

}  // namespace

JobFeedback::~JobFeedback() { clearAll(); }

void JobFeedback::set(Keyword k)
{
    if (ended_ || keywordSet_[k])
        return;
    keywordSet_[k] = true;
    log_.printf("STATE: +%s\n", kKeywordNames[k]);
}

void JobFeedback::clear(Keyword k)
{
    if (!keywordSet_[k])
        return;
    keywordSet_[k] = false;
    log_.printf("STATE: -%s\n", kKeywordNames[k]);
}

void JobFeedback::clearAll()
{
    for (int k = 0; k < kKeywordCount; ++k)
        clear(static_cast<Keyword>(k));
}

void JobFeedback::jobStarting() { log_.printf("STATE: -%s\n", kKeywordNames[kBusy]); }

void JobFeedback::waitingForConnection()
{
    if (ended_ || keywordSet_[kConnecting])
        return;
    log_.write("INFO: Waiting for the printer to connect\n");
    set(kConnecting);
}

void JobFeedback::connected() { clear(kConnecting); }

void JobFeedback::waitingForReply()
{
    if (ended_ || waitingShown_)
        return;
    waitingShown_ = true;
    log_.write("INFO: Waiting for the printer's reply\n");
}

void JobFeedback::replyMissing()
{
    if (ended_ || keywordSet_[kTimedOut])
        return;
    log_.write("INFO: The printer does not answer\n");
    set(kTimedOut);
}

void JobFeedback::replyReceived()
{
    waitingShown_ = false;
    clear(kTimedOut);
}

void JobFeedback::lockRefused(int code)
{
    if (ended_ || keywordSet_[kBusy])
        return;
    log_.printf("INFO: The printer is busy with another job (it answered %d); waiting for it\n",
                code);
    set(kBusy);
}

void JobFeedback::lockGranted() { clear(kBusy); }

void JobFeedback::pagesKnown(int pages) { pagesKnown_ = pages; }

void JobFeedback::copyStarting(int copy, int copies)
{
    if (!ended_)
        log_.printf("INFO: Sending copy %d of %d\n", copy, copies);
}

void JobFeedback::pageStarting(int pageNumber)
{
    if (ended_)
        return;
    if (pagesKnown_ > 0 && pageNumber > pagesKnown_)
        log_.write("INFO: Printing the blank back of the last sheet\n");
    else if (pagesKnown_ > 0)
        log_.printf("INFO: Printing page %d of %d\n", pageNumber, pagesKnown_);
    else
        log_.printf("INFO: Printing page %d\n", pageNumber);
    progressShown_ = -1;
    progress(0);
}

void JobFeedback::progress(int percent)
{
    if (ended_ || percent <= progressShown_)
        return;
    progressShown_ = percent;
    log_.printf("ATTR: job-media-progress=%d\n", percent);
}

void JobFeedback::pageProgress(uint64_t sent, uint64_t total)
{
    const int percent = total == 0 || sent >= total ? 100 : static_cast<int>(sent * 100 / total);
    if (percent == 100 || percent >= progressShown_ + kProgressStep)
        progress(percent);
}

void JobFeedback::pageSent()
{
    if (ended_)
        return;
    progress(100);
    ++pagesPrinted_;
    log_.printf("PAGE: %d 1\n", pagesPrinted_);
}

void JobFeedback::failure(std::string reason)
{
    if (failure_.empty())
        failure_ = std::move(reason);
}

std::string JobFeedback::reasonForCancel() const
{
    return failure_.empty() ? "Out of memory while preparing a page; the job is cancelled"
                            : failure_;
}

void JobFeedback::cancelling(std::string_view reason, bool byScheduler)
{
    if (ended_)
        return;
    if (!reason.empty())
        log_.printf("ERROR: %.*s\n", static_cast<int>(reason.size()), reason.data());
    else if (byScheduler)
        log_.write("INFO: The job was cancelled\n");
    else
        log_.printf("ERROR: %s\n", reasonForCancel().c_str());
    clearAll();
    ended_ = true;
}

void JobFeedback::pagesDropped(int page)
{
    log_.printf("ERROR: Out of memory while reading page %d; the pages from there on are not "
                "printed\n",
                page);
}

void JobFeedback::jobDone()
{
    if (ended_)
        return;
    clearAll();
    log_.printf("INFO: Job done: %d %s sent to the printer\n", pagesPrinted_,
                pagesPrinted_ == 1 ? "page" : "pages");
    ended_ = true;
}

void JobFeedback::jobEnded(bool streamLost)
{
    if (streamLost && !ended_)
        log_.write("ERROR: The connection to the printer was lost; the job ends here\n");
    clearAll();
    ended_ = true;
}

}  // namespace rvt

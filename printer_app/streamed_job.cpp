// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "streamed_job.h"

#include "print_job.h"

#include <csignal>
#include <pthread.h>

namespace rvt::app {

StreamedJob::StreamedJob(JobSettings settings, PrinterConnection& connection, Log& log,
                         std::string workDirectory)
    : settings_(std::move(settings)), connection_(connection), log_(log),
      workDirectory_(std::move(workDirectory))
{
}

StreamedJob::~StreamedJob()
{
    feed_.abandon();
    if (thread_.joinable())
        thread_.join();
}

void StreamedJob::run(PageSource* pages)
{
    PrintJob job(settings_, connection_, log_, workDirectory_.c_str());
    if (job.begin() == Flow::Go)
        job.print(pages);
    job.reportEnd();
    done_ = job.done();
    ended_ = true;
    // Whatever is still handed over is dropped.
    feed_.abandon();
}

bool StreamedJob::startPage(const cups_page_header2_t& header, unsigned page)
{
    checkPageWhole();
    skipping_ = page <= lastPage_;
    if (skipping_)
        return !ended_;
    lastPage_ = page;
    lineBytes_ = header.cupsBytesPerLine;
    pageLines_ = header.cupsHeight;
    linesGiven_ = 0;
    if (!thread_.joinable()) {
        // The job's thread leaves the process's signals to the threads that
        // wait for them.
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous);
        thread_ = std::thread([this] { run(&feed_); });
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    if (header.HWResolution[0] != kPrinterResolution ||
        header.HWResolution[1] != kPrinterResolution) {
        std::string reason = "The document's raster is ";
        reason += std::to_string(header.HWResolution[0]);
        reason += 'x';
        reason += std::to_string(header.HWResolution[1]);
        reason += " dpi; the printer prints 600 dpi only";
        if (refusal_.empty())
            refusal_ = reason;
        pageLines_ = 0;
        feed_.refusePage(std::move(reason));
        return false;
    }
    return feed_.startPage(header);
}

bool StreamedJob::writeLine(const uint8_t* line)
{
    if (skipping_)
        return !ended_;
    ++linesGiven_;
    return feed_.writeLine(line, lineBytes_);
}

void StreamedJob::checkPageWhole()
{
    // A page the job itself stopped taking is not the document's fault.
    if (!skipping_ && pageLines_ != 0 && linesGiven_ < pageLines_ && !ended_ && refusal_.empty() &&
        truncation_.empty()) {
        truncation_ = "The document ends in the middle of page ";
        truncation_ += std::to_string(lastPage_);
        truncation_ += " (";
        truncation_ += std::to_string(linesGiven_);
        truncation_ += " of its ";
        truncation_ += std::to_string(pageLines_);
        truncation_ += " lines)";
    }
    pageLines_ = 0;
}

bool StreamedJob::endPage()
{
    checkPageWhole();
    // The page's last lines go to the pipeline now, not with the next page.
    return feed_.flush() && !ended_;
}

std::string StreamedJob::documentFault() const { return refusal_.empty() ? truncation_ : refusal_; }

bool StreamedJob::finish()
{
    checkPageWhole();
    feed_.endDocument();
    if (thread_.joinable())
        thread_.join();
    else
        run(nullptr);  // a document without pages: the job still runs its course
    return done_;
}

bool StreamedJob::printFrom(PageSource& pages)
{
    run(&pages);
    return done_;
}

}  // namespace rvt::app

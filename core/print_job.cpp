// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "print_job.h"
#include "compiler_quirks.h"

#include "log.h"
#include "page_files.h"
#include "page_source.h"
#include "page_worker.h"
#include "printer_connection.h"
#include "transforms.h"

#include <cups/sidechannel.h>

namespace rvt {

PrintJob::PrintJob(JobSettings settings, PrinterConnection& connection, Log& log,
                   const char* tmpdir)
    : connection_(connection), log_(log), tmpdir_(tmpdir ? tmpdir : ""), job_(std::move(settings)),
      stream_(connection, log), feedback_(log), back_(stream_, connection, job_, log, &feedback_)
{
}

PrintJob::~PrintJob() = default;

void PrintJob::rememberSize(int pageNumber, int width, int height)
{
    if (sizes_.size() <= static_cast<size_t>(pageNumber))
        sizes_.resize(static_cast<size_t>(pageNumber) + 1);
    sizes_[static_cast<size_t>(pageNumber)] = {width, height};
}

// Every page header declares the size of its own page, also when the page is
// sent again for a copy or after its back page.
void PrintJob::useSizeOf(int pageNumber)
{
    if (pageNumber > 0 && static_cast<size_t>(pageNumber) < sizes_.size()) {
        job_.pageWidth = sizes_[static_cast<size_t>(pageNumber)].width;
        job_.pageHeight = sizes_[static_cast<size_t>(pageNumber)].height;
    }
}

Flow PrintJob::waitForConnection()
{
    feedback_.jobStarting();
    if (const std::string note = missingChannelsNote(connection_); !note.empty()) {
        log_.write(note);  // nobody to ask: the printer is taken to be there
        return Flow::Go;
    }
    for (;;) {
        if (back_.checkpoint() == Flow::Stop)
            return Flow::Stop;
        int status = connection_.sideChannelRequest(CUPS_SC_CMD_GET_CONNECTED, 1.0);
        if (status == CUPS_SC_STATUS_OK) {
            feedback_.connected();
            return Flow::Go;
        }
        log_.printf("DEBUG:[RVT4410LW] Check Connecttion CUPS Stauts = %d \n", status);
        if (status == CUPS_SC_STATUS_NOT_IMPLEMENTED) {
            feedback_.connected();
            return Flow::Go;
        }
        if (status == CUPS_SC_STATUS_NO_RESPONSE || status == CUPS_SC_STATUS_IO_ERROR) {
            log_.write("DEBUG:[RVT4410LW] CUPS_SC_STATUS_NO_RESPONSE or CUPS_SC_STATUS_IO_ERROR\n");
            back_.cancelJob(status == CUPS_SC_STATUS_NO_RESPONSE
                                ? "The printer is not connected (its connection does not respond)"
                                : "The printer is not connected (input/output error on its "
                                  "connection)");
            return Flow::Stop;
        }
        // A backend that has already ended answers nothing, ever: the job
        // ends here, and the queue is left as the backend asked.
        if (!stream_.stillRead())
            return Flow::Stop;
        feedback_.waitingForConnection();
        if (back_.pause(1) == Flow::Stop)
            return Flow::Stop;
    }
}

Flow PrintJob::begin()
{
    if (waitForConnection() == Flow::Stop)
        return Flow::Stop;

    if (job_.collate == 1) {
        RVT_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")  // GCC bug 105329
        job_.jobCopies = "1";
        RVT_GCC12_FALSE_POSITIVE_END
    }

    if (back_.lockPrinter() == Flow::Stop)
        return Flow::Stop;
    stream_.startOfJob();
    stream_.sendJobHeader(job_);
    return back_.checkpoint();
}

void PrintJob::fail(std::string reason)
{
    feedback_.failure(std::move(reason));
    job_.isCanceled = 1;
}

void PrintJob::cancel(std::string_view reason) { back_.cancelJob(reason); }

void PrintJob::reportEnd() { feedback_.jobEnded(stream_.broken()); }

void PrintJob::print(PageSource* pages)
{
    // The page files live in a directory of this job, removed when the job
    // ends, however it ends.
    files_ = PageFiles::create(tmpdir_.c_str(), log_);
    if (!files_) {
        // No page can be written: the job is cancelled at its end.
        fail("The job's page files cannot be created");
    }
    pageCounter_ = 1;

    if (pages && files_)
        pageLoop(*pages);
    if (back_.finished())
        return;
    done_ = finishJob() == Flow::Go;
}

void PrintJob::pageLoop(PageSource& pages)
{
    // The pages are read, converted and encoded by the workers while the pages
    // before them are sent; a page's log lines are written here, where the
    // page is taken on, and every exchange stays on this thread.
    PageWorker worker(pages, job_, *files_, connection_, pageCounter_);
    for (;;) {
        ConvertedPage page = worker.next();
        if (page.outcome == ConvertedPage::Outcome::NoPage || job_.isCanceled)
            break;
        if (back_.checkpoint() == Flow::Stop)
            return;
        log_.write(page.log);
        if (page.sized) {
            job_.pageWidth = page.width;
            job_.pageHeight = page.height;
            rememberSize(pageCounter_, page.width, page.height);
        }
        if (page.outcome == ConvertedPage::Outcome::Refused) {
            back_.cancelJob(page.refusal);
            return;
        }
        // A page stopped by the termination request never gets here (the
        // checkpoint above ran the cancel); out of memory, the pages sent so
        // far make the job.
        if (page.outcome == ConvertedPage::Outcome::OutOfMemory)
            feedback_.pagesDropped(pageCounter_);
        if (page.outcome == ConvertedPage::Outcome::Stopped ||
            page.outcome == ConvertedPage::Outcome::OutOfMemory)
            break;
        if (page.canceled)
            job_.isCanceled = 1;
        if (job_.isCanceled)
            break;
        log_.printf("完成第%d页的数据转换\n", pageCounter_);

        if (job_.isDuplex == 0) {
            if (sendOnePage(pageCounter_) == Flow::Stop)
                return;
        } else if (pageCounter_ % 2 == 0) {
            if (sendOnePage(pageCounter_) == Flow::Stop ||
                sendOnePage(pageCounter_ - 1) == Flow::Stop)
                return;
        }
        ++pageCounter_;
    }
}

Flow PrintJob::sendOnePage(int pageNumber)
{
    if (back_.checkpoint() == Flow::Stop)
        return Flow::Stop;
    log_.printf("开始发送第%d页的数据\n", pageNumber);
    feedback_.pageStarting(pageNumber);
    const std::string path = files_->pathFor(pageNumber);
    useSizeOf(pageNumber);
    stream_.sendPageHeader(job_);
    int result = stream_.sendPageData(
        path, [this](uint64_t sent, uint64_t total) { feedback_.pageProgress(sent, total); });
    if (result == kPageDataStopped) {
        // Between two chunks: the termination signal (the cancel follows the
        // last whole chunk), or the print stream is gone.
        back_.checkpoint();
        return Flow::Stop;
    }
    if (result == kPageDataUnavailable) {
        feedback_.failure("The file of page " + std::to_string(pageNumber) + " cannot be read");
        job_.isCanceled = 1;
    }
    const Flow flow = back_.endOfPage();
    if (flow == Flow::Go && result == kPageDataSent)
        feedback_.pageSent();
    return flow;
}

Flow PrintJob::finishJob()
{
    const int pagesRead = pageCounter_ - 1;
    log_.printf("DEBUG:[RVT4410LW] total page number =  %d ========================\n",
                pageCounter_);
    log_.printf("DEBUG: total page number =  %d ========================\n", pagesRead);
    feedback_.pagesKnown(pagesRead);

    if (files_ && job_.isDuplex != 0 && pageCounter_ % 2 == 0) {
        // The blank back of the last sheet, of the size of the page it backs.
        useSizeOf(pagesRead);
        rememberSize(pageCounter_, job_.pageWidth, job_.pageHeight);
        createBlankPage(pageCounter_, job_, *files_, log_);
        if (sendOnePage(pageCounter_) == Flow::Stop || sendOnePage(pagesRead) == Flow::Stop)
            return Flow::Stop;
    }

    if (files_ && job_.collate == 1) {
        for (int c = 2; c <= job_.copies; ++c) {
            log_.printf("DEBUG:send copy = %d and total copies = %d ========================\n", c,
                        job_.copies);
            feedback_.copyStarting(c, job_.copies);
            if (job_.isDuplex == 0) {
                for (int page = 1; page <= pagesRead; ++page)
                    if (sendOnePage(page) == Flow::Stop)
                        return Flow::Stop;
            } else {
                for (int m = 1; m < pageCounter_; m += 2)
                    if (sendOnePage(m + 1) == Flow::Stop || sendOnePage(m) == Flow::Stop)
                        return Flow::Stop;
            }
        }
    }

    if (job_.isCanceled) {
        back_.cancelJob(feedback_.reasonForCancel());
        return Flow::Stop;
    }
    if (back_.checkpoint() == Flow::Stop)
        return Flow::Stop;
    stream_.endOfJob();
    if (back_.unLockPrinter() == Flow::Stop)
        return Flow::Stop;
    feedback_.jobDone();
    return Flow::Go;
}

}  // namespace rvt

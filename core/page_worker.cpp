// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "page_worker.h"

#include "jbig_page.h"
#include "job_settings.h"
#include "log.h"
#include "page_files.h"
#include "page_source.h"
#include "printer_connection.h"
#include "raster_input.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <system_error>

namespace rvt {

namespace {

// A log stream kept in memory, for the lines of one page.
class PageLog {
public:
    PageLog() : file_(open_memstream(&text_, &size_)) {}
    ~PageLog()
    {
        if (file_)
            std::fclose(file_);
        std::free(text_);
    }
    PageLog(const PageLog&) = delete;
    PageLog& operator=(const PageLog&) = delete;

    bool ready() const { return file_ != nullptr; }
    FILE* file() const { return file_; }
    std::string text()
    {
        if (!file_ || std::fflush(file_) != 0 || !text_)
            return {};
        return std::string(text_, size_);
    }

private:
    char* text_ = nullptr;
    size_t size_ = 0;
    FILE* file_;
};

// Reads and converts the page; leaves its 1-bit page in `bits` when the page
// file is to be written.
void convertInto(ConvertedPage& page, PageSource& source, const PageSteps& steps,
                 const KeepGoing& keepGoing, Log& log, PageBuffer& bits)
{
    using Outcome = ConvertedPage::Outcome;
    cups_page_header2_t header;
    switch (source.nextPage(header, page.refusal)) {
    case PageSource::Next::End:
        page.outcome = Outcome::NoPage;
        return;
    case PageSource::Next::Refused:
        page.outcome = Outcome::Refused;
        log.printf("DEBUG: refusing page %d: %s\n", page.pageNumber, page.refusal.c_str());
        return;
    case PageSource::Next::Page:
        break;
    }
    log.printf("DEBUG:[RVT4410LW] raster image width =%d  height = %d\n",
               static_cast<int>(header.cupsWidth), static_cast<int>(header.cupsHeight));
    if (!pageHeaderAcceptable(header, log, &page.refusal)) {
        page.outcome = Outcome::Refused;
        return;
    }

    const int32_t w = static_cast<int32_t>(header.cupsWidth);
    const int32_t h = static_cast<int32_t>(header.cupsHeight);
    GrayRowReader rows(source, header);
    if (!rows.ready()) {
        log.printf("DEBUG:[RVT4410LW] failed to locate mem cupsBytesPerLine=%u\n",
                   header.cupsBytesPerLine);
        page.outcome = Outcome::OutOfMemory;
        return;
    }
    page.sized = true;
    page.width = w;
    page.height = h;

    JobSettings job;  // the image steps' cancel flag for this page
    const GrayRowSource readRow = [&rows](uint8_t* gray) { return rows.readRow(gray); };
    switch (streamPage(w, h, steps, readRow, keepGoing, job, log, bits)) {
    case PageOutcome::OutOfMemory:
        page.outcome = Outcome::OutOfMemory;
        return;
    case PageOutcome::Stopped:
        page.outcome = Outcome::Stopped;
        return;
    case PageOutcome::Converted:
        break;
    }
    page.outcome = Outcome::Converted;
    page.canceled = !bits || job.isCanceled != 0;
}

void encodeInto(const ConvertedPage& page, const PageFiles& files, PageBuffer& bits)
{
    BmpFileHeader fileHeader;
    BmpInfoHeader infoHeader;
    BmpPalette palette;
    // The gray page has one byte per pixel, whatever the raster line held.
    fillBmpHeaders(page.width, page.height, static_cast<uint64_t>(page.width), fileHeader,
                   infoHeader, palette);
    const std::string path = files.pathFor(page.pageNumber);
    bmp_to_jbg(path.c_str(), bits.get(), fileHeader, infoHeader, palette);
}

}  // namespace

ConvertedPage convertNextPage(PageSource& source, int pageNumber, const PageSteps& steps,
                              const PageFiles& files, const KeepGoing& keepGoing,
                              const std::function<void(bool lastRead)>& rasterDone)
{
    ConvertedPage page;
    page.pageNumber = pageNumber;
    PageLog pageLog;
    if (!pageLog.ready()) {
        // Not even the page's log fits in memory: the page cannot be read.
        rasterDone(true);
        page.outcome = ConvertedPage::Outcome::OutOfMemory;
        page.log = "DEBUG:[RVT4410LW] failed to locate temp image memory size=0\n";
        return page;
    }
    Log log(pageLog.file());
    PageBuffer bits;
    convertInto(page, source, steps, keepGoing, log, bits);
    const bool encode = page.outcome == ConvertedPage::Outcome::Converted && !page.canceled;
    rasterDone(!encode);
    if (encode)
        encodeInto(page, files, bits);
    page.log = pageLog.text();
    return page;
}

PageWorker::PageWorker(PageSource& source, const JobSettings& job, const PageFiles& files,
                       PrinterConnection& connection, int firstPage)
    : source_(source), job_(job), files_(files), connection_(connection), nextToTake_(firstPage),
      nextToStart_(firstPage), reader_(firstPage)
{
    start(nextToStart_++);
    start(nextToStart_++);
}

PageWorker::~PageWorker()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
    }
    turnChanged_.notify_all();
    for (Slot& slot : slots_)
        if (slot.thread.joinable())
            slot.thread.join();
}

void PageWorker::run(Slot& slot)
{
    const int pageNumber = slot.pageNumber;
    bool turnPassed = false;
    // Hands the raster to the next page, once.
    const auto passTurn = [this, &turnPassed](bool lastRead) {
        if (turnPassed)
            return;
        turnPassed = true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            rasterDone_ = rasterDone_ || lastRead;
            ++reader_;
        }
        turnChanged_.notify_all();
    };
    bool readable = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        turnChanged_.wait(lock, [&] { return reader_ == pageNumber || abandoned_; });
        readable = !abandoned_ && !rasterDone_;
        slot.result = ConvertedPage{};
        slot.result.pageNumber = pageNumber;
        slot.result.outcome = abandoned_ ? ConvertedPage::Outcome::Stopped
                                         : ConvertedPage::Outcome::NoPage;
    }
    if (!readable) {
        passTurn(false);
        return;
    }
    const KeepGoing keepGoing = [this] {
        return !abandoned_.load() && !connection_.terminationRequested();
    };
    try {
        slot.result = convertNextPage(source_, pageNumber, slot.steps, files_, keepGoing, passTurn);
    } catch (...) {
        // Only memory can run out this way (a log line, a callback): the page
        // is lost like any page that does not fit, and nothing more is read.
        passTurn(true);
        slot.result.outcome = ConvertedPage::Outcome::OutOfMemory;
        slot.result.sized = false;
        slot.result.canceled = false;
        slot.result.log.clear();
    }
}

void PageWorker::start(int pageNumber)
{
    Slot& slot = slots_[pageNumber % 2];
    if (slot.thread.joinable())
        slot.thread.join();
    slot.pageNumber = pageNumber;
    slot.steps = pageStepsFor(job_, pageNumber);
    // The termination signal is for the job's thread, whose waits it cuts
    // short: the workers start with it blocked.
    sigset_t term, previous;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    const bool masked = pthread_sigmask(SIG_BLOCK, &term, &previous) == 0;
    try {
        slot.thread = std::thread([this, &slot] { run(slot); });
        slot.threaded = true;
    } catch (const std::system_error&) {
        slot.threaded = false;  // no thread: next() converts the page itself
    }
    if (masked)
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

ConvertedPage PageWorker::next()
{
    Slot& slot = slots_[nextToTake_ % 2];
    ++nextToTake_;
    if (slot.threaded)
        slot.thread.join();
    else
        run(slot);
    ConvertedPage page = std::move(slot.result);
    start(nextToStart_++);
    return page;
}

}  // namespace rvt

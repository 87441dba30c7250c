// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Pages converted ahead, two at a time: while the job sends page N, worker
// threads read, convert and encode the pages after it. The raster is read by
// one worker at a time, page after page in order (a page's rows are all read
// before the next page's header); the encoding of one page overlaps the
// reading and encoding of the next. At most two pages are under way besides
// the page file being sent.
//
// A worker touches nothing but the raster (while it is its turn), its own
// buffers and its page file. Its log lines are kept with the page, and the job
// writes them when it takes the page, where the one-page-at-a-time loop wrote
// them; the print stream and the back channel stay with the job's thread. The
// only thing both sides look at is the termination request (an atomic flag).
#pragma once

#include "page_pipeline.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace rvt {

class PageFiles;
class PrinterConnection;
class PageSource;
struct JobSettings;

// One raster page read, converted and encoded.
struct ConvertedPage {
    enum class Outcome {
        NoPage,       // no further page header in the raster (or reading has ended)
        Refused,      // a page header the filter cannot print, or cannot read (logged)
        OutOfMemory,  // the page could not be read (logged); the job ends normally
        Stopped,      // the job is stopping: the page is incomplete
        Converted,    // the page file is written, or `canceled` is set
    };
    Outcome outcome = Outcome::NoPage;
    int pageNumber = 0;
    // The page size, once the page was taken on (the job's pageWidth and
    // pageHeight follow it).
    bool sized = false;
    int32_t width = 0;
    int32_t height = 0;
    // An image step could not allocate its buffer: the job is to be cancelled.
    bool canceled = false;
    // Why a refused page cannot be printed, in plain words.
    std::string refusal;
    // The page's log lines, in order, from its header on.
    std::string log;
};

// Reads the next page of `source` and writes it as page file `pageNumber`,
// asking keepGoing() before every raster row; calls rasterDone() once it
// reads no more of the source (before the page is encoded). True from
// rasterDone: the source is not to be read any further (no page, a refused
// or incomplete page, a page that cancels the job).
ConvertedPage convertNextPage(PageSource& source, int pageNumber, const PageSteps& steps,
                              const PageFiles& files, const KeepGoing& keepGoing,
                              const std::function<void(bool lastRead)>& rasterDone);

class PageWorker {
public:
    // `job` supplies the scale ratio, duplex mode and darkness of each page
    // (read on the job's thread). Starts on pages `firstPage` and the next.
    PageWorker(PageSource& source, const JobSettings& job, const PageFiles& files,
               PrinterConnection& connection, int firstPage);
    // Gives up the pages under way and waits for the workers, so that nothing
    // reads the raster or writes a page file afterwards.
    ~PageWorker();
    PageWorker(const PageWorker&) = delete;
    PageWorker& operator=(const PageWorker&) = delete;

    // The next page in order, once it is done; the page after the other one
    // under way is started.
    ConvertedPage next();

private:
    struct Slot {
        std::thread thread;
        bool threaded = false;  // false: no thread could be made; next() converts
        int pageNumber = 0;
        PageSteps steps;
        ConvertedPage result;
    };

    void start(int pageNumber);
    void run(Slot& slot);

    PageSource& source_;
    const JobSettings& job_;
    const PageFiles& files_;
    PrinterConnection& connection_;
    Slot slots_[2];
    int nextToTake_;
    int nextToStart_;

    // Whose turn it is to read the raster, and whether reading has ended.
    std::mutex mutex_;
    std::condition_variable turnChanged_;
    int reader_;
    bool rasterDone_ = false;
    std::atomic<bool> abandoned_{false};
};

}  // namespace rvt

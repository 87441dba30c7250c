// Pages converted ahead: while the job sends page N, a worker thread reads
// page N + 1 from the raster, runs it through the streaming pipeline and
// encodes its page file. The worker touches nothing but the raster, its own
// buffers and its page file: its log lines are kept with the page and the job
// writes them where it takes the page, the print stream and the back channel
// stay with the job's thread, and the only thing both threads look at is the
// termination request (an atomic flag).
#pragma once

#include "page_pipeline.h"

#include <atomic>
#include <cstdint>
#include <cups/raster.h>
#include <string>
#include <thread>

namespace rvt {

class PageFiles;
class PrinterConnection;

// One raster page read, converted and encoded.
struct ConvertedPage {
    enum class Outcome {
        NoPage,       // no further page header in the raster
        Refused,      // a page header the filter cannot print (logged)
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
    // The page's log lines, in order, from its header on.
    std::string log;
};

// Reads the next page of `ras` and writes it as page file `pageNumber`,
// asking keepGoing() before every raster row.
ConvertedPage convertNextPage(cups_raster_t* ras, int pageNumber, const PageSteps& steps,
                              const PageFiles& files, const KeepGoing& keepGoing);

// Converts one page at a time on a worker thread. At most one page is under
// way; take() waits for it. The destructor gives up a page still under way
// and waits for the worker, so that nothing writes a page file or reads the
// raster afterwards.
class PageWorker {
public:
    // `job` supplies the scale ratio, duplex mode and darkness of each page
    // (read by start(), on the job's thread).
    PageWorker(cups_raster_t* ras, const JobSettings& job, const PageFiles& files,
               PrinterConnection& connection);
    ~PageWorker();
    PageWorker(const PageWorker&) = delete;
    PageWorker& operator=(const PageWorker&) = delete;

    // Starts reading and converting the next page as page `pageNumber`.
    void start(int pageNumber);
    // The page started last, once it is done.
    ConvertedPage take();

private:
    void run();

    cups_raster_t* ras_;
    const JobSettings& job_;
    const PageFiles& files_;
    PrinterConnection& connection_;
    std::atomic<bool> abandoned_{false};
    std::thread thread_;
    bool started_ = false;
    bool threaded_ = false;  // false: no thread could be made; take() converts
    int pageNumber_ = 0;
    PageSteps steps_;
    ConvertedPage result_;
};

}  // namespace rvt

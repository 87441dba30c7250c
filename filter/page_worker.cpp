#include "page_worker.h"

#include "jbig_page.h"
#include "job_settings.h"
#include "log.h"
#include "page_files.h"
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

void convertInto(ConvertedPage& page, cups_raster_t* ras, const PageSteps& steps,
                 const PageFiles& files, const KeepGoing& keepGoing, Log& log)
{
    using Outcome = ConvertedPage::Outcome;
    cups_page_header2_t header;
    if (!cupsRasterReadHeader2(ras, &header)) {
        page.outcome = Outcome::NoPage;
        return;
    }
    log.printf("DEBUG:[RVT4410LW] raster image width =%d  height = %d\n",
               static_cast<int>(header.cupsWidth), static_cast<int>(header.cupsHeight));
    if (!pageHeaderAcceptable(header, log)) {
        page.outcome = Outcome::Refused;
        return;
    }

    const int32_t w = static_cast<int32_t>(header.cupsWidth);
    const int32_t h = static_cast<int32_t>(header.cupsHeight);
    GrayRowReader rows(ras, header);
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
    PageBuffer bits;
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
    if (!bits) {
        page.canceled = true;
        return;
    }
    page.canceled = job.isCanceled != 0;

    BmpFileHeader fileHeader;
    BmpInfoHeader infoHeader;
    BmpPalette palette;
    // The gray page has one byte per pixel, whatever the raster line held.
    fillBmpHeaders(w, h, static_cast<uint64_t>(w), fileHeader, infoHeader, palette);
    const std::string path = files.pathFor(page.pageNumber);
    bmp_to_jbg(path.c_str(), bits.get(), fileHeader, infoHeader, palette);
}

}  // namespace

ConvertedPage convertNextPage(cups_raster_t* ras, int pageNumber, const PageSteps& steps,
                              const PageFiles& files, const KeepGoing& keepGoing)
{
    ConvertedPage page;
    page.pageNumber = pageNumber;
    PageLog pageLog;
    if (!pageLog.ready()) {
        // Not even the page's log fits in memory: the page cannot be read.
        page.outcome = ConvertedPage::Outcome::OutOfMemory;
        page.log = "DEBUG:[RVT4410LW] failed to locate temp image memory size=0\n";
        return page;
    }
    Log log(pageLog.file());
    convertInto(page, ras, steps, files, keepGoing, log);
    page.log = pageLog.text();
    return page;
}

PageWorker::PageWorker(cups_raster_t* ras, const JobSettings& job, const PageFiles& files,
                       PrinterConnection& connection)
    : ras_(ras), job_(job), files_(files), connection_(connection)
{
}

PageWorker::~PageWorker()
{
    abandoned_ = true;
    if (thread_.joinable())
        thread_.join();
}

void PageWorker::run()
{
    const KeepGoing keepGoing = [this] {
        return !abandoned_.load() && !connection_.terminationRequested();
    };
    result_ = convertNextPage(ras_, pageNumber_, steps_, files_, keepGoing);
}

void PageWorker::start(int pageNumber)
{
    if (thread_.joinable())
        thread_.join();
    pageNumber_ = pageNumber;
    steps_ = pageStepsFor(job_, pageNumber);
    started_ = true;
    // The termination signal is for the job's thread, whose waits it cuts
    // short: the worker starts with it blocked.
    sigset_t term, previous;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    const bool masked = pthread_sigmask(SIG_BLOCK, &term, &previous) == 0;
    try {
        thread_ = std::thread([this] { run(); });
        threaded_ = true;
    } catch (const std::system_error&) {
        threaded_ = false;  // no thread: take() converts the page itself
    }
    if (masked)
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

ConvertedPage PageWorker::take()
{
    if (!started_)
        return ConvertedPage{};
    started_ = false;
    if (threaded_)
        thread_.join();
    else
        run();
    return std::move(result_);
}

}  // namespace rvt

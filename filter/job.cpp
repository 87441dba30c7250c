// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "job.h"

#include "job_settings.h"
#include "log.h"
#include "page_source.h"
#include "print_job.h"
#include "raster_input.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace rvt {

namespace {

struct RasterCloser {
    void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};

// A descriptor this job opened itself.
struct OwnedFd {
    int fd = -1;
    ~OwnedFd()
    {
        if (fd >= 0)
            close(fd);
    }
};

// Opens the document and prints its pages.
void printDocument(PrintJob& job, const char* rasterFile, Log& log, const JobEnvironment& env)
{
    // The first filter of a chain gets its document as the file named after
    // the options, with nothing on standard input; every later filter reads
    // standard input.
    OwnedFd file;
    int rasterFd = env.rasterFd;
    if (rasterFile) {
        file.fd = open(rasterFile, O_RDONLY | O_CLOEXEC);
        rasterFd = file.fd;
        if (file.fd < 0) {
            log.printf("DEBUG:[RVT4410LW] cannot open raster file %s: %s\n", rasterFile,
                       std::strerror(errno));
            // Nothing to print: the job is cancelled at its end.
            job.fail(std::string("The document cannot be read: ") + std::strerror(errno));
        }
    }
    RasterFileReader rasterReader(rasterFd);
    std::unique_ptr<cups_raster_t, RasterCloser> ras(rasterFd >= 0 ? rasterReader.open() : nullptr);
    // An empty document is a job of no pages; bytes that are no raster are
    // a document the filter cannot print.
    if (!ras && rasterReader.delivered() > 0) {
        log.write("DEBUG:[RVT4410LW] the document is not a CUPS raster\n");
        job.cancel("The document is not a CUPS raster");
        return;
    }
    CupsRasterPageSource pages(ras.get(), &rasterReader);
    job.print(ras ? &pages : nullptr);
}

// Runs the job of the filter's arguments. `rasterFile`: the document named on
// the command line, or null when the raster comes on the environment's
// descriptor (standard input).
void runFilterJob(char* argv[], const char* rasterFile, PrinterConnection& connection, Log& log,
                  const JobEnvironment& env)
{
    JobSettings settings;
    settings.PrinterName = argv[0] ? argv[0] : "";
    settings.JobId = argv[1] ? std::atoi(argv[1]) : 0;
    settings.jobCopies = argv[4] ? argv[4] : "";
    settings.copies = argv[4] ? std::atoi(argv[4]) : 0;

    if (readJobOptions(argv[5], env.ppdPath, settings, log, env.parseOptions) != 0)
        return;

    PrintJob job(std::move(settings), connection, log, env.tmpdir);
    if (job.begin() == Flow::Go)
        printDocument(job, rasterFile, log, env);
    job.reportEnd();
}

}  // namespace

int runJob(int argc, char* argv[], PrinterConnection& connection, Log& log,
           const JobEnvironment& env)
{
    if (argc < 6 || !argv) {
        log.printf("Usage: %s job-id user title copies options [file]\n",
                   (argv && argc > 0 && argv[0]) ? argv[0] : "printfilter-rvt4410lw");
        return 1;
    }
    runFilterJob(argv, (argc > 6 && argv[6] && *argv[6]) ? argv[6] : nullptr, connection, log, env);
    return 0;
}

}  // namespace rvt

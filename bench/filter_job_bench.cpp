// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Whole jobs in-process against a printer that answers every exchange at once
// and throws the stream away: the filter's own time per job, without a
// backend or simulator sharing the processor.
//
//   RVT_BENCH_RASTER=job.ras build/bin/filter_job_bench [--benchmark_repetitions=5]
//
// The raster is a CUPS raster file (e.g. made with Ghostscript as
// scripts/print-sample.sh does). Each benchmark is one job with one set of
// options; the counter s_per_page is the job's wall time per raster page.
#include "compiler_quirks.h"
#include "job.h"
#include "log.h"
#include "printer_connection.h"

#include <benchmark/benchmark.h>
#include <cups/raster.h>
#include <cups/sidechannel.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class InstantPrinter final : public rvt::PrinterConnection {
public:
    int sideChannelRequest(int, double) override { return CUPS_SC_STATUS_OK; }
    ssize_t backChannelRead(char* buffer, size_t size, double) override
    {
        if (reply_.empty() || size == 0)
            return 0;
        const size_t n = std::min(size, reply_.size());
        std::memcpy(buffer, reply_.data(), n);
        reply_.clear();
        return static_cast<ssize_t>(n);
    }
    bool write(const void* data, size_t size) override
    {
        const std::string element(static_cast<const char*>(data), std::min<size_t>(size, 32));
        RVT_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")  // GCC bug 105329
        if (element == "LockPrinter?")
            reply_ = "2";
        else if (element == "UnLockPrinter?")
            reply_ = "3";
        else if (element == "Event=EndOfPage;" || element == "CancelJob?" || element == "Status?")
            reply_ = "0";
        RVT_GCC12_FALSE_POSITIVE_END
        bytes += size;
        return true;
    }
    int cancelJobOnServer(const std::string&, int, std::string& lastError) override
    {
        lastError = "successful-ok";
        return 1;
    }
    void sleepOneSecond() override {}
    bool terminationRequested() override { return false; }

    size_t bytes = 0;

private:
    std::string reply_;
};

int countPages(const char* path)
{
    const int fd = open(path, O_RDONLY);
    if (fd < 0)
        return 0;
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t header;
    int pages = 0;
    std::vector<unsigned char> line;
    while (ras && cupsRasterReadHeader2(ras, &header)) {
        line.resize(header.cupsBytesPerLine);
        for (unsigned y = 0; y < header.cupsHeight; ++y)
            if (cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine) == 0)
                break;
        ++pages;
    }
    if (ras)
        cupsRasterClose(ras);
    close(fd);
    return pages;
}

std::string projectPpd() { return RVT_PPD; }

void runJob(benchmark::State& state, const char* raster, std::string options, int pages)
{
    const std::string ppd = projectPpd();
    char tmpl[] = "/tmp/rvt-job-bench-XXXXXX";
    const char* tmpdir = mkdtemp(tmpl);
    FILE* devNull = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        std::vector<std::string> args = {"rvt4410lw", "1", "user", "bench", "1", options, raster};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        InstantPrinter printer;
        rvt::Log log(devNull);
        rvt::JobEnvironment env;
        env.ppdPath = ppd.c_str();
        env.tmpdir = tmpdir;
        env.rasterFd = -1;
        rvt::runJob(static_cast<int>(args.size()), argv.data(), printer, log, env);
        benchmark::DoNotOptimize(printer.bytes);
    }
    // Seconds per page: the job's time divided by its pages.
    state.counters["s_per_page"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * pages,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    std::fclose(devNull);
    if (tmpdir)
        rmdir(tmpdir);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* raster = std::getenv("RVT_BENCH_RASTER");
    if (!raster || !*raster) {
        std::fprintf(stderr, "filter_job_bench: set RVT_BENCH_RASTER to a CUPS raster file\n");
        return 1;
    }
    const int pages = countPages(raster);
    if (pages == 0) {
        std::fprintf(stderr, "filter_job_bench: %s holds no raster page\n", raster);
        return 1;
    }
    const char* settings[] = {
        "RVTLScale=100% GammaDarkness=darkness0", "RVTLScale=100% GammaDarkness=darkness3",
        "RVTLScale=80% GammaDarkness=darkness3", "RVTLScale=150% GammaDarkness=darkness3",
        "RVTLScale=100% GammaDarkness=darkness3 Duplex=DuplexNoTumble"};
    for (const char* s : settings) {
        const std::string options = std::string("PageSize=A4 MediaType=PLAIN InputSlot=AUTO ") + s;
        benchmark::RegisterBenchmark(
            ("Job/" + std::string(s)).c_str(),
            [=](benchmark::State& st) { runJob(st, raster, options, pages); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

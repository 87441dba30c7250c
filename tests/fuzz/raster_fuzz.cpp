// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// libFuzzer target: arbitrary bytes as the job's CUPS raster, run through the
// whole job (page headers, row reading, scaling, transforms, halftone, JBIG
// page files, sending, copies) against a printer that answers at once.
//
// Input: two option bytes, then the raster stream.
//   byte 0: bits 0-2 RVTLScale (25% .. 150%), bits 3-4 Duplex (None, Tumble,
//           NoTumble, None), bit 5 Collate=False, bits 6-7 copies - 1
//   byte 1: GammaDarkness (value % 6)
//
// Besides the sanitizers, each run checks what must hold for any input: the
// job returns 0, its page directory is gone, the stream starts with the lock
// and ends with either the unlock or the cancel, and nothing follows a cancel.
#include "job.h"
#include "job_checks.h"
#include "log.h"
#include "scripted_connection.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#ifndef RVT_PPD
#error "RVT_PPD must name the queue's PPD"
#endif

namespace {

// Inputs with a page larger than this (and not larger than the printer's
// largest page, which the filter refuses before reading) are skipped: under
// the sanitizers a page of noise of 1024 x 512 pixels takes 0.6 s through the
// image steps and the encoder, one of 1200 x 1600 two seconds, and a whole
// 5400 x 8400 page would take most of a minute.
constexpr uint64_t kMaxPixels = 512u * 512u;

struct Setup {
    std::string tmpdir;
    FILE* devNull = nullptr;
};

Setup& setup()
{
    static Setup s = [] {
        Setup r;
        char templ[] = "/tmp/rvt-raster-fuzz-XXXXXX";
        if (!mkdtemp(templ)) {
            std::perror("mkdtemp");
            std::abort();
        }
        r.tmpdir = templ;
        // The directory goes when the fuzzer ends (it is empty by then).
        static const std::string* made = new std::string(templ);
        std::atexit([] { rmdir(made->c_str()); });
        r.devNull = std::fopen("/dev/null", "w");
        if (!r.devNull)
            std::abort();
        return r;
    }();
    return s;
}

// Walks the raster's page headers as libcups reads them; false when one of
// them asks for a page in the slow range (see kMaxPixels).
bool pagesSmallEnough(int fd)
{
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (!ras)
        return true;
    bool ok = true;
    cups_page_header2_t h;
    std::vector<unsigned char> line;
    for (int pages = 0; ok && pages < 64 && cupsRasterReadHeader2(ras, &h); ++pages) {
        if (h.cupsWidth <= 5400 && h.cupsHeight <= 8400 &&
            uint64_t(h.cupsWidth) * h.cupsHeight > kMaxPixels) {
            ok = false;
            break;
        }
        if (h.cupsBytesPerLine == 0 || h.cupsBytesPerLine > (1u << 20))
            break;
        line.resize(h.cupsBytesPerLine);
        for (unsigned y = 0; y < h.cupsHeight; ++y)
            if (!cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine))
                break;
    }
    cupsRasterClose(ras);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    Setup& s = setup();

    static const char* const kScales[] = {"25%",  "50%",  "80%",  "90%",
                                          "100%", "110%", "120%", "150%"};
    static const char* const kDuplex[] = {"None", "DuplexTumble", "DuplexNoTumble", "None"};
    const uint8_t a = data[0], b = data[1];
    std::string options = std::string("RVTLScale=") + kScales[a & 7] +
                          " Duplex=" + kDuplex[(a >> 3) & 3] +
                          " Collate=" + ((a & 0x20) ? "False" : "True") +
                          " GammaDarkness=darkness" + std::to_string(b % 6);
    std::string copies = std::to_string(((a >> 6) & 3) + 1);

    int fd = memfd_create("raster", MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    const uint8_t* raster = data + 2;
    size_t left = size - 2;
    while (left > 0) {
        ssize_t n = write(fd, raster, left);
        if (n <= 0)
            std::abort();
        raster += n;
        left -= static_cast<size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    if (!pagesSmallEnough(fd)) {
        close(fd);
        return -1;  // not added to the corpus
    }
    lseek(fd, 0, SEEK_SET);

    std::string queue = "rvt4410lw", job = "7", user = "fuzz", title = "fuzz";
    char* argv[] = {queue.data(),  job.data(),     user.data(), title.data(),
                    copies.data(), options.data(), nullptr};
    rvt::test::ScriptedConnection connection;
    rvt::Log log(s.devNull);
    rvt::JobEnvironment env;
    env.ppdPath = RVT_PPD;
    env.tmpdir = s.tmpdir.c_str();
    env.rasterFd = fd;
    int status = rvt::runJob(6, argv, connection, log, env);
    close(fd);

    if (status != 0)
        rvt::test::failJob("raster_fuzz", "the job did not return 0", connection);
    rvt::test::checkJobEnded("raster_fuzz", s.tmpdir, connection);
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// libFuzzer target: arbitrary bytes as a PWG (or Apple, or CUPS) raster sent to
// the printer application, handed to its job line by line as PAPPL's raster
// processing does (PAPPL's own checks of each page header first, an 8-bit
// page under its own header, anything else under the job's 8-bit A4 header),
// through the whole job against a printer that answers at once.
//
// Input: two option bytes, then the raster stream.
//   byte 0: bits 0-2 scale (25% .. 150%), bits 3-4 sides (one-sided,
//           short edge, long edge, one-sided), bit 5 uncollated, bits 6-7
//           copies - 1
//   byte 1: darkness level (value % 6)
//
// Each run checks what must hold for any input: the job's page files are
// gone, the stream starts with the lock and ends with the unlock or the
// cancel, nothing follows a cancel, and no thread is left waiting.
#include "job_checks.h"
#include "job_choices.h"
#include "job_settings.h"
#include "log.h"
#include "raster_input.h"
#include "scripted_connection.h"
#include "streamed_job.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Pages larger than this are skipped (see raster_fuzz.cpp: the image steps
// under the sanitizers take seconds for a large page of noise).
constexpr uint64_t kMaxPixels = 512u * 512u;

struct Input {
    const uint8_t* data;
    size_t size;
};

ssize_t readInput(void* ctx, unsigned char* buffer, size_t bytes)
{
    auto* in = static_cast<Input*>(ctx);
    const size_t n = std::min(bytes, in->size);
    std::memcpy(buffer, in->data, n);
    in->data += n;
    in->size -= n;
    return static_cast<ssize_t>(n);
}

const std::string& workDirectory()
{
    static const std::string dir = [] {
        char templ[] = "/tmp/rvt-app-fuzz-XXXXXX";
        if (!mkdtemp(templ))
            std::abort();
        // The directory goes when the fuzzer ends (it is empty by then).
        static const std::string* made = new std::string(templ);
        std::atexit([] { rmdir(made->c_str()); });
        return std::string(templ);
    }();
    return dir;
}

FILE* devNull()
{
    static FILE* f = std::fopen("/dev/null", "w");
    return f;
}

// The header PAPPL makes for a job on A4 in 8-bit gray at 600 dpi.
cups_page_header2_t jobHeader()
{
    cups_page_header2_t h{};
    cupsRasterInitPWGHeader(&h, pwgMediaForPWG("iso_a4_210x297mm"), "sgray_8", 600, 600,
                            "one-sided", "normal");
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static const char* const kScales[] = {"25%",  "50%",  "80%",  "90%",
                                          "100%", "110%", "120%", "150%"};
    static const char* const kDuplex[] = {"None", "DuplexTumble", "DuplexNoTumble", "None"};
    static const char* const kDarkness[] = {"darkness0", "darkness1", "darkness2",
                                            "darkness3", "darkness4", "darkness5"};
    const uint8_t a = data[0], b = data[1];

    Input in{data + 2, size - 2};
    cups_raster_t* ras = cupsRasterOpenIO(readInput, &in, CUPS_RASTER_READ);
    if (!ras)
        return 0;
    cups_page_header2_t header;
    if (!cupsRasterReadHeader2(ras, &header)) {
        cupsRasterClose(ras);
        return 0;  // PAPPL aborts the job before it reaches the driver
    }

    rvt::Log log(devNull());
    rvt::JobSettings settings;
    settings.PrinterName = "rvt";
    settings.JobId = 7;
    settings.copies = ((a >> 6) & 3) + 1;
    settings.jobCopies = std::to_string(settings.copies);
    rvt::JobChoices choices;
    choices.scale = kScales[a & 7];
    choices.duplex = kDuplex[(a >> 3) & 3];
    choices.collate = (a & 0x20) ? "False" : "True";
    choices.darkness = kDarkness[b % 6];
    rvt::applyJobChoices(choices, settings, log);

    rvt::test::ScriptedConnection connection;
    {
        rvt::app::StreamedJob job(settings, connection, log, workDirectory());
        const cups_page_header2_t own = jobHeader();
        std::vector<uint8_t> pixels;
        unsigned page = 0;
        do {
            // PAPPL's checks of the client's page header.
            if (header.cupsWidth == 0 || header.cupsHeight == 0 ||
                (header.cupsBitsPerColor != 1 && header.cupsBitsPerColor != 8) ||
                rvt::storedValue(header.cupsColorOrder) != CUPS_ORDER_CHUNKED ||
                header.cupsBytesPerLine != (header.cupsWidth * header.cupsBitsPerPixel + 7) / 8 ||
                header.cupsBitsPerPixel > 8)
                break;
            if (uint64_t(header.cupsWidth) * header.cupsHeight > kMaxPixels) {
                cupsRasterClose(ras);
                return -1;  // not added to the corpus
            }
            const cups_page_header2_t& used = header.cupsBitsPerPixel >= 8 ? header : own;
            if (!job.startPage(used, ++page))
                break;
            pixels.assign(std::max(used.cupsBytesPerLine, header.cupsBytesPerLine), 0xff);
            unsigned y = 0;
            for (; y < header.cupsHeight && y < used.cupsHeight; ++y) {
                if (!cupsRasterReadPixels(ras, pixels.data(), header.cupsBytesPerLine))
                    break;
                job.writeLine(pixels.data());
            }
            for (; y < used.cupsHeight; ++y)
                job.writeLine(pixels.data());
            if (!job.printing())
                break;
        } while (page < 16 && cupsRasterReadHeader2(ras, &header));
        job.finish();
    }
    cupsRasterClose(ras);

    rvt::test::checkJobEnded("app_raster_fuzz", workDirectory(), connection);
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The built filter under the simulated printer, fed pages in the raster
// formats other than 8-bit gray that the scheduler's filters may produce:
// each prints as the gray page it stands for.
#include "sim_run.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <unistd.h>

namespace rvtsim::test {
namespace {

// One page of `pattern` in colour space `space`: `channels` samples of
// `bits` bits per pixel, chunked, made from the pixel's gray by `encode`.
struct EncodedPage {
    cups_cspace_t space;
    unsigned channels;
    unsigned bits;
    std::function<void(uint8_t gray, uint16_t* samples)> encode;
};

std::string writeEncoded(const std::string& path, const PagePattern& pattern,
                         const std::vector<EncodedPage>& pages)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot create " + path;
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    const std::vector<uint8_t> gray = makeGrayPage(pattern);
    std::string error;
    for (const EncodedPage& e : pages) {
        cups_page_header2_t h{};
        h.HWResolution[0] = h.HWResolution[1] = 600;
        h.cupsWidth = static_cast<unsigned>(pattern.width);
        h.cupsHeight = static_cast<unsigned>(pattern.height);
        h.cupsBitsPerColor = e.bits;
        h.cupsBitsPerPixel = e.bits * e.channels;
        h.cupsBytesPerLine = h.cupsWidth * h.cupsBitsPerPixel / 8;
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = e.space;
        h.cupsNumColors = e.channels;
        h.NumCopies = 1;
        if (!cupsRasterWriteHeader2(ras, &h)) {
            error = "header not written";
            break;
        }
        std::vector<uint8_t> line(h.cupsBytesPerLine);
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            for (unsigned x = 0; x < h.cupsWidth; ++x) {
                uint16_t samples[4];
                e.encode(gray[size_t(y) * h.cupsWidth + x], samples);
                for (unsigned c = 0; c < e.channels; ++c) {
                    const size_t at = size_t(x) * e.channels + c;
                    if (e.bits == 16)
                        std::memcpy(line.data() + 2 * at, &samples[c], 2);
                    else
                        line[at] = static_cast<uint8_t>(samples[c]);
                }
            }
            cupsRasterWritePixels(ras, line.data(), h.cupsBytesPerLine);
        }
    }
    cupsRasterClose(ras);
    close(fd);
    return error;
}

TEST(RasterFormatsUnderSim, InkColourAndDeepPagesPrintAsTheirGrayPage)
{
    std::string dir = scratchDir("raster-formats");
    PagePattern pattern;
    ASSERT_TRUE(parsePattern("text:203x150:9", pattern));
    const std::vector<EncodedPage> pages = {
        // Black ink: 0 is white.
        {CUPS_CSPACE_K, 1, 8, [](uint8_t g, uint16_t* s) { s[0] = 255 - g; }},
        // Equal red, green and blue have the luminance of their gray.
        {CUPS_CSPACE_SRGB, 3, 8, [](uint8_t g, uint16_t* s) { s[0] = s[1] = s[2] = g; }},
        // Black ink alone on a CMYK page.
        {CUPS_CSPACE_CMYK, 4, 8,
         [](uint8_t g, uint16_t* s) {
             s[0] = s[1] = s[2] = 0;
             s[3] = 255 - g;
         }},
        // Sixteen bits of gray.
        {CUPS_CSPACE_SW, 1, 16, [](uint8_t g, uint16_t* s) { s[0] = uint16_t(g * 257); }},
    };
    const std::string raster = dir + "/job.ras";
    ASSERT_EQ(writeEncoded(raster, pattern, pages), "");
    SimRun run = runSim(raster, dir + "/out", "");
    ASSERT_FALSE(run.transcript.is_null());
    EXPECT_TRUE(run.filterExitedZero());
    EXPECT_EQ(run.transcript["protocol_errors"], nlohmann::json::array());
    const std::vector<Bitmap> got = run.pages();
    ASSERT_EQ(got.size(), pages.size());
    const Bitmap want = expectedPage(pattern, 1, 0, 1.0, 0);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].width, want.width) << "page " << i + 1;
        EXPECT_TRUE(got[i].bits == want.bits) << "page " << i + 1 << " differs from the gray page";
    }
}

}  // namespace
}  // namespace rvtsim::test

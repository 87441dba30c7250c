// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "raster_patterns.h"

#include <gtest/gtest.h>

#include <cups/raster.h>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace rvtsim {
namespace {

TEST(RasterPatterns, DescriptionsAreParsedStrictly)
{
    struct Case {
        const char* text;
        bool ok;
        int w, h;
        unsigned seed;
    };
    const Case cases[] = {
        {"text:200x100:7", true, 200, 100, 7},
        {"blank:8x1", true, 8, 1, 1},
        {"hgradient:4960x7016", true, 4960, 7016, 1},
        {"text:0x100", false, 0, 0, 0},
        {"text:20x", false, 0, 0, 0},
        {"paisley:20x20", false, 0, 0, 0},
        {"noise:20x20:", false, 0, 0, 0},
        {"noise:20x20junk", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        PagePattern p;
        EXPECT_EQ(parsePattern(c.text, p), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(p.width, c.w);
            EXPECT_EQ(p.height, c.h);
            EXPECT_EQ(p.seed, c.seed);
        }
    }
}

TEST(RasterPatterns, PagesHaveTheirShapeAndDiffer)
{
    auto page = [](const char* text) {
        PagePattern p;
        EXPECT_TRUE(parsePattern(text, p));
        return makeGrayPage(p);
    };
    auto grad = page("hgradient:256x2");
    EXPECT_EQ(grad[0], 255);
    EXPECT_EQ(grad[255], 0);
    EXPECT_GT(grad[100], grad[101]);
    auto text = page("text:300x200:1");
    EXPECT_EQ(text[0], 0);      // the corner mark
    EXPECT_EQ(text[299], 128);  // the bar on the right
    EXPECT_NE(text, page("text:300x200:2"));
    EXPECT_EQ(text, page("text:300x200:1"));
}

TEST(RasterPatterns, RasterFileReadsBackAsWritten)
{
    namespace fs = std::filesystem;
    fs::path path = fs::temp_directory_path() / ("sim-raster-" + std::to_string(getpid()) + ".ras");
    std::vector<PagePattern> pages(2);
    ASSERT_TRUE(parsePattern("text:123x45:3", pages[0]));
    ASSERT_TRUE(parsePattern("vgradient:64x9", pages[1]));
    ASSERT_EQ(writeRaster(path.string(), pages, 18), "");

    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    for (const auto& p : pages) {
        ASSERT_TRUE(cupsRasterReadHeader2(ras, &h));
        EXPECT_EQ(h.cupsWidth, unsigned(p.width));
        EXPECT_EQ(h.cupsHeight, unsigned(p.height));
        EXPECT_EQ(h.cupsBytesPerLine, unsigned(p.width));
        EXPECT_EQ(h.cupsBitsPerPixel, 8u);
        EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_SW);
        EXPECT_EQ(h.HWResolution[0], 600u);
        std::vector<uint8_t> got(size_t(p.width) * p.height);
        EXPECT_EQ(cupsRasterReadPixels(ras, got.data(), unsigned(got.size())), got.size());
        EXPECT_EQ(got, makeGrayPage(p));
    }
    EXPECT_FALSE(cupsRasterReadHeader2(ras, &h));
    cupsRasterClose(ras);
    close(fd);
    fs::remove(path);
}

}  // namespace
}  // namespace rvtsim

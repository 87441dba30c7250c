// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "image_test_support.h"
#include "job_settings.h"
#include "zoom.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace rvt {
namespace {

using test::MemoryLog;

struct Zoomed {
    std::vector<uint8_t> page;
    std::string log;
    int canceled;
};

Zoomed zoom(const std::vector<uint8_t>& src, int width, int height, double ratio)
{
    JobSettings job;
    MemoryLog log;
    Zoomed z{std::vector<uint8_t>(src.size(), 0xAA), "", 0};
    zoomGrayPage(test_support::pageFrom(src), z.page.data(), width, height, ratio, job, log.log());
    z.log = log.text();
    z.canceled = job.isCanceled;
    return z;
}

struct HandCase {
    const char* name;
    int width, height;
    double ratio;
    std::vector<uint8_t> src, expected;
    const char* log;
};

class ImageZoomByHand : public ::testing::TestWithParam<HandCase> {};

TEST_P(ImageZoomByHand, GivesTheWorkedPage)
{
    const HandCase& c = GetParam();
    const Zoomed z = zoom(c.src, c.width, c.height, c.ratio);
    EXPECT_EQ(z.page, c.expected);
    EXPECT_EQ(z.log, c.log);
    EXPECT_EQ(z.canceled, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ImageZoomByHand,
    ::testing::Values(
        // Exactly 1: a plain copy, even of an odd page.
        HandCase{"CopyAtOne",
                 3,
                 1,
                 1.0,
                 {1, 2, 3},
                 {1, 2, 3},
                 "DEBUG:[RVT4410LW]:scale ratio = 1.000000, and memcpy srcimage  "
                 "================================\n"},
        // 50 %: the even rows and columns into the top-left quarter.
        HandCase{"Half",
                 4,
                 4,
                 0.5,
                 {10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33, 40, 41, 42, 43},
                 {10, 12, 255, 255, 30, 32, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255},
                 "DEBUG:[RVT4410LW]:scale ratio = 0.500000 ,zoom size : dstwidth=2 "
                 ",distheight=2  ================================\n"},
        // 80 %: column 1 reads 1.25, between 0 (column 1) and 200 (column 2),
        // each weighted by its own distance: 0 * 0.25 + 200 * 0.75.
        HandCase{"OwnDistanceWeights",
                 3,
                 2,
                 0.8,
                 {90, 0, 200, 5, 5, 5},
                 {90, 150, 255, 255, 255, 255},
                 "DEBUG:[RVT4410LW]:scale ratio = 0.800000 ,zoom size : dstwidth=2 "
                 ",distheight=1  ================================\n"}),
    [](const ::testing::TestParamInfo<HandCase>& info) { return info.param.name; });

struct RatioCase {
    double ratio;
    int width, height;
    int dstwidth, distheight;  // truncated products, worked by hand
};

class ImageZoomRatios : public ::testing::TestWithParam<RatioCase> {};

TEST_P(ImageZoomRatios, WritesOnlyTheClippedPicture)
{
    const RatioCase c = GetParam();
    std::vector<uint8_t> src(static_cast<size_t>(c.width) * c.height);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<uint8_t>((i % c.width) * 3 + (i / c.width) * 7) % 251;
    const Zoomed z = zoom(src, c.width, c.height, c.ratio);
    char size[80];
    std::snprintf(size, sizeof size, "dstwidth=%d ,distheight=%d  =", c.dstwidth, c.distheight);
    EXPECT_NE(z.log.find(size), std::string::npos) << z.log;

    // Inside the picture nothing is white (the source has no 255); outside
    // everything is. At 25 % and 50 % every pixel is a whole source sample.
    const int cols = std::min(c.dstwidth, c.width), rows = std::min(c.distheight, c.height);
    const int step = c.ratio == 0.25 ? 4 : (c.ratio == 0.5 ? 2 : 0);
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const uint8_t v = z.page[static_cast<size_t>(y) * c.width + x];
            if (y >= rows || x >= cols)
                ASSERT_EQ(v, 255) << x << "," << y;
            else if (step)
                ASSERT_EQ(v, src[static_cast<size_t>(y) * step * c.width + x * step]);
            else
                ASSERT_LT(v, 251) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    OptionRatios, ImageZoomRatios,
    ::testing::Values(RatioCase{0.25, 37, 23, 9, 5}, RatioCase{0.5, 37, 23, 18, 11},
                      RatioCase{0.8, 37, 23, 29, 18}, RatioCase{0.9, 37, 23, 33, 20},
                      RatioCase{1.1, 37, 23, 40, 25}, RatioCase{1.2, 37, 23, 44, 27},
                      RatioCase{1.5, 10, 4, 15, 6}, RatioCase{0.8, 4961, 2, 3968, 1}));

TEST(ImageZoom, MissingDestinationCancelsTheJob)
{
    JobSettings job;
    MemoryLog log;
    zoomGrayPage(test_support::pageFrom({1, 2, 3, 4}), nullptr, 2, 2, 0.5, job, log.log());
    EXPECT_EQ(job.isCanceled, 1);
    EXPECT_EQ(log.text(), "DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
}

}  // namespace
}  // namespace rvt

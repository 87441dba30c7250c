#include "image_test_support.h"
#include "job_settings.h"
#include "zoom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace rvt {
namespace {

using test_support::CapturedLog;
using test_support::pageFrom;

// src(c, r) = 3 * c + 7 * r (mod 251): every pixel distinct enough, none 255.
std::vector<uint8_t> gradient(int width, int height)
{
    std::vector<uint8_t> v(static_cast<size_t>(width) * height);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            v[static_cast<size_t>(r) * width + c] = static_cast<uint8_t>((3 * c + 7 * r) % 251);
    return v;
}

std::vector<uint8_t> zoom(const std::vector<uint8_t>& src, int width, int height, double ratio,
                          std::string* logText = nullptr)
{
    JobSettings job;
    CapturedLog log;
    std::vector<uint8_t> dst(src.size(), 0xAA);
    zoomGrayPage(pageFrom(src), dst.data(), width, height, ratio, job, log.log());
    EXPECT_EQ(job.isCanceled, 0);
    if (logText)
        *logText = log.text();
    return dst;
}

TEST(ImageZoom, RatioOneIsAByteCopyOfAnOddPage)
{
    const auto src = gradient(3, 5);
    std::string logText;
    EXPECT_EQ(zoom(src, 3, 5, 1.0, &logText), src);
    EXPECT_EQ(logText, "DEBUG:[RVT4410LW]:scale ratio = 1.000000, and memcpy srcimage  "
                       "================================\n");
}

TEST(ImageZoom, HalfTakesEvenRowsAndColumnsIntoTopLeftQuarter)
{
    const std::vector<uint8_t> src = {10, 11, 12, 13,  //
                                      20, 21, 22, 23,  //
                                      30, 31, 32, 33,  //
                                      40, 41, 42, 43};
    std::string logText;
    const std::vector<uint8_t> expected = {10,  12,  255, 255,  //
                                           30,  32,  255, 255,  //
                                           255, 255, 255, 255,  //
                                           255, 255, 255, 255};
    EXPECT_EQ(zoom(src, 4, 4, 0.5, &logText), expected);
    EXPECT_EQ(logText, "DEBUG:[RVT4410LW]:scale ratio = 0.500000 ,zoom size : dstwidth=2 "
                       ",distheight=2  ================================\n");
}

TEST(ImageZoom, EachSampleIsWeightedByItsOwnDistance)
{
    // Ratio 0.8: output column 1 reads source column 1.25, between 0 (column
    // 1) and 200 (column 2) on source row 0: 0 * 0.25 + 200 * 0.75.
    const int width = 5, height = 5;
    std::vector<uint8_t> src(width * height, 90);
    src[1] = 0;
    src[2] = 200;
    const auto dst = zoom(src, width, height, 0.8);
    EXPECT_EQ(dst[1], 150);
    EXPECT_EQ(dst[0], 90);  // whole position (0, 0)
}

TEST(ImageZoom, EnlargingFillsEveryRowAndColumn)
{
    // Width 10 at 1.5 gives 15 columns clipped to 10; height 4 gives 6 rows
    // clipped to 4. Column 1 of row 0 sits at source 0.667 between 0 and 3:
    // 0 * 0.667 + 3 * 0.333 = 1.
    const auto src = gradient(10, 4);
    std::string logText;
    const auto dst = zoom(src, 10, 4, 1.5, &logText);
    EXPECT_NE(logText.find("dstwidth=15 ,distheight=6"), std::string::npos) << logText;
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 1);
    for (int r = 0; r < 4; ++r)
        EXPECT_NE(dst[r * 10 + 9], 255) << "row " << r << " has a white band";
}

TEST(ImageZoom, WidePageAtEightyPercentTruncatesTheWidth)
{
    const int width = 4961, height = 2;
    std::vector<uint8_t> src(static_cast<size_t>(width) * height, 0);
    std::string logText;
    const auto dst = zoom(src, width, height, 0.8, &logText);
    EXPECT_NE(logText.find("dstwidth=3968 ,distheight=1"), std::string::npos) << logText;
    EXPECT_EQ(dst[3967], 0);
    EXPECT_EQ(dst[3968], 255);
    for (int c = 0; c < width; ++c)
        ASSERT_EQ(dst[width + c], 255) << "row 1, column " << c;
}

struct RatioCase {
    double ratio;
    int dstwidth;    // (int)(37 * ratio)
    int distheight;  // (int)(23 * ratio)
};

class ImageZoomRatios : public ::testing::TestWithParam<RatioCase> {};

TEST_P(ImageZoomRatios, WritesOnlyTheClippedAreaAndLogsItsSize)
{
    const RatioCase c = GetParam();
    const int width = 37, height = 23;
    const auto src = gradient(width, height);
    std::string logText;
    const auto dst = zoom(src, width, height, c.ratio, &logText);

    char expectedLog[200];
    std::snprintf(expectedLog, sizeof expectedLog,
                  "dstwidth=%d ,distheight=%d  ================================\n", c.dstwidth,
                  c.distheight);
    EXPECT_NE(logText.find(expectedLog), std::string::npos) << logText;

    const int cols = std::min(c.dstwidth, width);
    const int rows = std::min(c.distheight, height);
    for (int r = 0; r < height; ++r) {
        for (int col = 0; col < width; ++col) {
            const uint8_t v = dst[r * width + col];
            if (r < rows && col < cols)
                EXPECT_LT(v, 251) << "(" << col << ", " << r << ") not written";
            else
                EXPECT_EQ(v, 255) << "(" << col << ", " << r << ") outside the picture";
        }
    }
    // Integer source positions (every column and row at 25 % and 50 %) copy
    // the source sample.
    if (c.ratio == 0.25 || c.ratio == 0.5) {
        const int step = c.ratio == 0.25 ? 4 : 2;
        for (int r = 0; r < rows; ++r)
            for (int col = 0; col < cols; ++col)
                EXPECT_EQ(dst[r * width + col], src[(r * step) * width + col * step]);
    }
}

INSTANTIATE_TEST_SUITE_P(OptionRatios, ImageZoomRatios,
                         ::testing::Values(RatioCase{0.25, 9, 5}, RatioCase{0.5, 18, 11},
                                           RatioCase{0.8, 29, 18}, RatioCase{0.9, 33, 20},
                                           RatioCase{1.1, 40, 25}, RatioCase{1.2, 44, 27},
                                           RatioCase{1.5, 55, 34}));

TEST(ImageZoom, MissingDestinationCancelsTheJob)
{
    JobSettings job;
    CapturedLog log;
    zoomGrayPage(pageFrom(gradient(4, 4)), nullptr, 4, 4, 0.5, job, log.log());
    EXPECT_EQ(job.isCanceled, 1);
    EXPECT_EQ(log.text(), "DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
}

}  // namespace
}  // namespace rvt

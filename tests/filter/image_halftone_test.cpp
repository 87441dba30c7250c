#include "halftone.h"
#include "image_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace rvt {
namespace {

using test_support::CapturedLog;
using test_support::pageFrom;

struct Screened {
    std::vector<uint8_t> bits;
    std::string log;
};

Screened screen(const std::vector<uint8_t>& gray, int width, int height, int level)
{
    CapturedLog log;
    PageBuffer out = halftone(pageFrom(gray), width, height, level, log.log());
    Screened s;
    s.log = log.text();
    if (out)
        s.bits.assign(out.get(), out.get() + bitRowBytes(width) * height);
    return s;
}

bool isBlack(const std::vector<uint8_t>& bits, int width, int x, int y)
{
    return (bits[y * bitRowBytes(width) + x / 8] >> (7 - x % 8)) & 1;
}

class ImageHalftoneLevels : public ::testing::TestWithParam<int> {};

TEST_P(ImageHalftoneLevels, WhiteStaysWhiteAndBlackStaysBlack)
{
    const int level = GetParam();
    const int width = 13, height = 9;  // 2 bytes a row, 3 padding bits
    const Screened white = screen(std::vector<uint8_t>(width * height, 255), width, height, level);
    ASSERT_EQ(white.bits.size(), 18u);
    for (uint8_t b : white.bits)
        EXPECT_EQ(b, 0);

    const Screened black = screen(std::vector<uint8_t>(width * height, 0), width, height, level);
    ASSERT_EQ(black.bits.size(), 18u);
    for (int y = 0; y < height; ++y) {
        EXPECT_EQ(black.bits[2 * y], 0xFF);
        EXPECT_EQ(black.bits[2 * y + 1], 0xF8) << "row " << y << ": padding bits must be 0";
    }
}

INSTANTIATE_TEST_SUITE_P(AllLevels, ImageHalftoneLevels, ::testing::Range(0, 6));

TEST(ImageHalftone, LevelZeroGrayHalfIsEightOfSixteen)
{
    // Thresholds 56 168 104 40 / 120 200 248 184 / 152 216 232 136 / 8 72 88 24:
    // gray 128 prints black where the threshold is 136 or more.
    const Screened s = screen(std::vector<uint8_t>(8 * 8, 128), 8, 8, 0);
    const std::vector<uint8_t> expected = {0x44, 0x77, 0xFF, 0x00, 0x44, 0x77, 0xFF, 0x00};
    EXPECT_EQ(s.bits, expected);
}

struct PixelCase {
    int level;
    uint8_t gray;
    int x;
    int y;
    bool black;
};

class ImageHalftonePixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(ImageHalftonePixels, ComparesAgainstTheRightThreshold)
{
    const PixelCase c = GetParam();
    const int width = 4961, height = 4;  // 621 bytes a row
    const Screened s = screen(std::vector<uint8_t>(width * height, c.gray), width, height, c.level);
    ASSERT_EQ(s.bits.size(), 621u * 4u);
    EXPECT_EQ(isBlack(s.bits, width, c.x, c.y), c.black);
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, ImageHalftonePixels,
    ::testing::Values(
        // Level 5 uses the stored matrix: (1, 1) holds 3, a tie prints black;
        // (9, 1) holds 1.
        PixelCase{5, 3, 1, 1, true}, PixelCase{5, 3, 9, 1, false},
        // Row 0 holds 67 at columns 0 and 16, 64 at column 8; the columns
        // repeat every 128 pixels.
        PixelCase{5, 67, 0, 0, true}, PixelCase{5, 67, 8, 0, false},
        PixelCase{5, 67, 16, 0, true}, PixelCase{5, 67, 128, 0, true},
        PixelCase{5, 67, 136, 0, false}, PixelCase{5, 67, 144, 0, true},
        // Level 3: row 0 of the gamma-1.65 matrix begins 28, 18, 23.
        PixelCase{3, 28, 0, 0, true}, PixelCase{3, 28, 1, 0, false},
        PixelCase{3, 23, 2, 0, true}, PixelCase{3, 24, 2, 0, false},
        // Level 0: the 4 x 4 matrix repeats every 4 columns and rows
        // ((4958, 1) reads 248, (4960, 3) reads 8).
        PixelCase{0, 248, 4958, 1, true},
        PixelCase{0, 249, 4958, 1, false}, PixelCase{0, 8, 4960, 3, true},
        PixelCase{0, 9, 4960, 3, false}));

TEST(ImageHalftone, LogsTheGammaOfTheLevel)
{
    EXPECT_EQ(screen({255}, 1, 1, 0).log, "DEBUG:[RVT4410LW]---curGammaVal=0.00;\n");
    EXPECT_EQ(screen({255}, 1, 1, 3).log,
              "DEBUG:[RVT4410LW]---curGammaVal=1.65;\nDEBUG:[RVT4410LW]==free=Halftone;\n");
    EXPECT_EQ(screen({255}, 1, 1, 5).log, "DEBUG:[RVT4410LW]---curGammaVal=1.00;\n");
}

TEST(ImageHalftone, HigherGammaPrintsLighter)
{
    // Mid gray on a full matrix tile: fewer black pixels from level 5 (gamma
    // 1) up to level 1 (gamma 4).
    const int side = 128;
    std::vector<int> blackCount;
    for (int level : {5, 4, 3, 2, 1}) {
        const Screened s = screen(std::vector<uint8_t>(side * side, 100), side, side, level);
        int n = 0;
        for (uint8_t b : s.bits)
            n += __builtin_popcount(b);
        blackCount.push_back(n);
    }
    for (size_t i = 1; i < blackCount.size(); ++i)
        EXPECT_LT(blackCount[i], blackCount[i - 1]) << "step " << i;
}

TEST(ImageHalftone, NoMemoryGivesNoPage)
{
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer stops the process on an impossible allocation unless
    // ASAN_OPTIONS has allocator_may_return_null=1.
    const char* options = std::getenv("ASAN_OPTIONS");
    if (!options || !std::strstr(options, "allocator_may_return_null=1"))
        GTEST_SKIP() << "needs ASAN_OPTIONS=allocator_may_return_null=1";
#endif
    CapturedLog log;
    PageBuffer out = halftone(pageFrom({0}), INT_MAX, INT_MAX, 3, log.log());
    EXPECT_FALSE(out);
    EXPECT_EQ(log.text(), "DEBUG: failed to locate memory for halftone line and dstImage .\n");
}

}  // namespace
}  // namespace rvt

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "halftone.h"
#include "image_test_support.h"

#include <gtest/gtest.h>

#include <climits>

namespace rvt {
namespace {

struct Screened {
    std::vector<uint8_t> bits;
    std::string log;
};

Screened screen(uint8_t gray, int width, int height, int level)
{
    test::MemoryLog log;
    std::vector<uint8_t> page(static_cast<size_t>(width) * height, gray);
    PageBuffer out = halftone(test_support::pageFrom(page), width, height, level, log.log());
    Screened s{{}, log.text()};
    if (out)
        s.bits.assign(out.get(), out.get() + bitRowBytes(width) * height);
    return s;
}

class ImageHalftoneLevels : public ::testing::TestWithParam<int> {};

TEST_P(ImageHalftoneLevels, WhiteStaysWhiteAndBlackStaysBlack)
{
    // Width 13: two bytes a row, the last three bits padding.
    EXPECT_EQ(screen(255, 13, 9, GetParam()).bits, std::vector<uint8_t>(18, 0));
    std::vector<uint8_t> black;
    for (int y = 0; y < 9; ++y)
        black.insert(black.end(), {0xFF, 0xF8});
    EXPECT_EQ(screen(0, 13, 9, GetParam()).bits, black);
}

INSTANTIATE_TEST_SUITE_P(AllLevels, ImageHalftoneLevels, ::testing::Range(0, 6));

TEST(ImageHalftone, LevelZeroGrayHalfIsEightOfSixteen)
{
    // Thresholds 56 168 104 40 / 120 200 248 184 / 152 216 232 136 / 8 72 88 24:
    // gray 128 prints black where the threshold is 136 or more.
    const std::vector<uint8_t> expected = {0x44, 0x77, 0xFF, 0x00, 0x44, 0x77, 0xFF, 0x00};
    EXPECT_EQ(screen(128, 8, 8, 0).bits, expected);
}

struct PixelCase {
    int level;
    uint8_t gray;
    int x, y;
    bool black;
};

class ImageHalftonePixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(ImageHalftonePixels, ComparesAgainstTheRightThreshold)
{
    const PixelCase c = GetParam();
    const Screened s = screen(c.gray, 4961, 4, c.level);
    ASSERT_EQ(s.bits.size(), 621u * 4u);
    EXPECT_EQ((s.bits[c.y * 621 + c.x / 8] >> (7 - c.x % 8)) & 1, c.black ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, ImageHalftonePixels,
                         ::testing::Values(
                             // Level 5, the stored matrix: (1, 1) holds 3, a tie prints black;
                             // (9, 1) holds 1.
                             PixelCase{5, 3, 1, 1, true}, PixelCase{5, 3, 9, 1, false},
                             // Row 0 holds 67 at columns 0 and 16, 64 at column 8, and repeats
                             // every 128 columns.
                             PixelCase{5, 67, 0, 0, true}, PixelCase{5, 67, 8, 0, false},
                             PixelCase{5, 67, 128, 0, true}, PixelCase{5, 67, 136, 0, false},
                             PixelCase{5, 67, 144, 0, true},
                             // Level 3: row 0 of the gamma-1.65 matrix begins 28, 18, 23.
                             PixelCase{3, 28, 0, 0, true}, PixelCase{3, 28, 1, 0, false},
                             PixelCase{3, 23, 2, 0, true}, PixelCase{3, 24, 2, 0, false},
                             // Level 0 repeats every 4: (4958, 1) reads 248, (4960, 3) reads 8.
                             PixelCase{0, 248, 4958, 1, true}, PixelCase{0, 249, 4958, 1, false},
                             PixelCase{0, 8, 4960, 3, true}, PixelCase{0, 9, 4960, 3, false}));

TEST(ImageHalftone, LogsTheGammaOfTheLevel)
{
    EXPECT_EQ(screen(255, 1, 1, 0).log, "DEBUG:[RVT4410LW]---curGammaVal=0.00;\n");
    EXPECT_EQ(screen(255, 1, 1, 3).log,
              "DEBUG:[RVT4410LW]---curGammaVal=1.65;\nDEBUG:[RVT4410LW]==free=Halftone;\n");
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
    test::MemoryLog log;
    EXPECT_FALSE(halftone(test_support::pageFrom({0}), INT_MAX, INT_MAX, 3, log.log()));
    EXPECT_EQ(log.text(), "DEBUG: failed to locate memory for halftone line and dstImage .\n");
}

}  // namespace
}  // namespace rvt

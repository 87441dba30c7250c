// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "image_test_support.h"
#include "jbig_page.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

namespace rvt {
namespace {

using test_support::readFile;

// Diagonal stripes with some noise.
std::vector<uint8_t> patternPage(int width, int height)
{
    const uint64_t stride = bitRowBytes(width);
    std::vector<uint8_t> bits(stride * height, 0);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            if (((x + y) / 5) % 3 == 0 || (noise >> 28) == 0)
                bits[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    return bits;
}

int writePage(const std::string& path, std::vector<uint8_t>& bits, int width, int height)
{
    BmpFileHeader file;
    BmpInfoHeader info;
    BmpPalette palette;
    fillBmpHeaders(width, height, static_cast<uint64_t>(width), file, info, palette);
    return bmp_to_jbg(path.c_str(), bits.data(), file, info, palette);
}

struct HeaderCase {
    int width, height;
    uint8_t l0;  // height / 35, within 2 .. 128
};

class JbigHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(JbigHeader, IsTheSingleLayerHeaderOfThePage)
{
    const HeaderCase c = GetParam();
    test_support::TempDir tmp;
    const std::string path = tmp.path + "/jbig-0001";
    std::vector<uint8_t> bits(bitRowBytes(c.width) * c.height, 0);
    ASSERT_EQ(writePage(path, bits, c.width, c.height), 1);

    const std::vector<uint8_t> bie = readFile(path);
    ASSERT_GE(bie.size(), 20u);
    const auto be = [](int v) {
        return std::vector<uint8_t>{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                                    static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    };
    std::vector<uint8_t> expected = {0, 0, 1, 0};  // DL, D, P, fill
    for (int v : {c.width, c.height, int{c.l0}})
        for (uint8_t b : be(v))
            expected.push_back(b);
    expected.insert(expected.end(), {8, 0, 0x03, 0x1C});  // MX, MY, order, options
    EXPECT_EQ(std::vector<uint8_t>(bie.begin(), bie.begin() + 20), expected);
    EXPECT_EQ(test_support::decodeFile(path).height, static_cast<unsigned long>(c.height));
}

INSTANTIATE_TEST_SUITE_P(PageSizes, JbigHeader,
                         ::testing::Values(HeaderCase{4961, 69, 2}, HeaderCase{4961, 70, 2},
                                           HeaderCase{4961, 3500, 100}, HeaderCase{4961, 4480, 128},
                                           HeaderCase{4961, 7016, 128}, HeaderCase{1, 1, 2}));

TEST(JbigPage, DecodesToTheSameBitsAsJbigKitsOwnEncoderWrites)
{
    test_support::TempDir tmp;
    const int width = 517, height = 300;  // rows of 65 bytes, 3 padding bits
    std::vector<uint8_t> bits = patternPage(width, height);
    const std::vector<uint8_t> original = bits;
    const std::string ours = tmp.path + "/jbig-0001";
    ASSERT_EQ(writePage(ours, bits, width, height), 1);

    const test_support::Decoded d = test_support::decodeFile(ours);
    EXPECT_EQ(d.width, 517u);
    EXPECT_EQ(d.bits, original);

    // pbmtojbg -q of the same page as a PBM gives the same file.
    const std::string pbm = tmp.path + "/page.pbm", reference = tmp.path + "/reference.jbg";
    FILE* f = std::fopen(pbm.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fprintf(f, "P4\n%d %d\n", width, height);
    std::fwrite(original.data(), 1, original.size(), f);
    std::fclose(f);
    const int status = std::system(("pbmtojbg -q '" + pbm + "' '" + reference + "'").c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(ours), readFile(reference));
}

TEST(JbigPage, FailuresReturnZero)
{
    std::vector<uint8_t> bits(bitRowBytes(64) * 64, 0xFF);
    EXPECT_EQ(writePage("/nonexistent-dir/jbig-0001", bits, 64, 64), 0);  // cannot create
    EXPECT_EQ(writePage("/dev/full", bits, 64, 64), 0);                   // writes fail
    test_support::TempDir tmp;
    EXPECT_EQ(writePage(tmp.path + "/jbig-0002", bits, 0, 64), 0);  // no page
}

TEST(JbigPage, HeaderRecordsUseSixtyFourBitSizes)
{
    BmpFileHeader file;
    BmpInfoHeader info;
    BmpPalette palette;
    fillBmpHeaders(4961, 7016, 4961, file, info, palette);
    EXPECT_EQ(file.size, 621u * 7016u + 62u);
    EXPECT_EQ(info.width, 4961);
    EXPECT_EQ(info.height, 7016);
    EXPECT_EQ(info.sizeImage, 621 * 7016);
    // 40e9 bytes a raster row: 5e9 bytes a 1-bit row, 1e12 for 200 rows.
    fillBmpHeaders(1, 200, 40000000000ull, file, info, palette);
    EXPECT_EQ(info.sizeImage, 1000000000000LL);
    EXPECT_EQ(file.size, 1000000000062ull);
}

}  // namespace
}  // namespace rvt

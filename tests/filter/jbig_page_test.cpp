#include "image_test_support.h"
#include "jbig_page.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace rvt {
namespace {

using test_support::decodeFile;
using test_support::readFile;
using test_support::TempDir;

// A deterministic page with some structure: diagonal stripes and noise.
std::vector<uint8_t> patternPage(int width, int height)
{
    const uint64_t stride = bitRowBytes(width);
    std::vector<uint8_t> bits(stride * height, 0);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const bool black = ((x + y) / 5) % 3 == 0 || (noise >> 28) == 0;
            if (black)
                bits[y * stride + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
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

uint32_t be32(const std::vector<uint8_t>& b, size_t at)
{
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
           b[at + 3];
}

struct HeaderCase {
    int width;
    int height;
    uint32_t l0;  // height / 35, within 2 .. 128
};

class JbigHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(JbigHeader, IsTheSingleLayerHeaderOfThePage)
{
    const HeaderCase c = GetParam();
    TempDir dir;
    const std::string path = dir.path() + "/jbig-0001";
    std::vector<uint8_t> bits(bitRowBytes(c.width) * c.height, 0);
    ASSERT_EQ(writePage(path, bits, c.width, c.height), 1);

    const std::vector<uint8_t> bie = readFile(path);
    ASSERT_GE(bie.size(), 20u);
    EXPECT_EQ(bie[0], 0);  // DL
    EXPECT_EQ(bie[1], 0);  // D
    EXPECT_EQ(bie[2], 1);  // P
    EXPECT_EQ(bie[3], 0);
    EXPECT_EQ(be32(bie, 4), static_cast<uint32_t>(c.width));
    EXPECT_EQ(be32(bie, 8), static_cast<uint32_t>(c.height));
    EXPECT_EQ(be32(bie, 12), c.l0);
    EXPECT_EQ(bie[16], 8);     // MX
    EXPECT_EQ(bie[17], 0);     // MY
    EXPECT_EQ(bie[18], 0x03);  // ILEAVE | SMID
    EXPECT_EQ(bie[19], 0x1C);  // TPDON | TPBON | DPON

    const test_support::Decoded d = decodeFile(path);
    EXPECT_EQ(d.width, static_cast<unsigned long>(c.width));
    EXPECT_EQ(d.height, static_cast<unsigned long>(c.height));
}

INSTANTIATE_TEST_SUITE_P(PageSizes, JbigHeader,
                         ::testing::Values(HeaderCase{4961, 69, 2}, HeaderCase{4961, 70, 2},
                                           HeaderCase{4961, 3500, 100},
                                           HeaderCase{4961, 4480, 128},
                                           HeaderCase{4961, 7016, 128}, HeaderCase{1, 1, 2},
                                           HeaderCase{4968, 140, 4}));

TEST(JbigPage, DecodesToTheSameBits)
{
    TempDir dir;
    const std::string path = dir.path() + "/jbig-0007";
    const int width = 203, height = 150;  // rows of 26 bytes, 5 padding bits
    std::vector<uint8_t> bits = patternPage(width, height);
    const std::vector<uint8_t> original = bits;
    ASSERT_EQ(writePage(path, bits, width, height), 1);

    const test_support::Decoded d = decodeFile(path);
    ASSERT_EQ(d.width, 203u);
    ASSERT_EQ(d.height, 150u);
    EXPECT_EQ(d.bits, original);
}

TEST(JbigPage, MatchesJbigKitsOwnEncoder)
{
    TempDir dir;
    const int width = 517, height = 300;
    std::vector<uint8_t> bits = patternPage(width, height);
    const std::string pbm = dir.path() + "/page.pbm";
    FILE* f = std::fopen(pbm.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fprintf(f, "P4\n%d %d\n", width, height);
    std::fwrite(bits.data(), 1, bits.size(), f);
    std::fclose(f);

    const std::string ours = dir.path() + "/jbig-0001";
    ASSERT_EQ(writePage(ours, bits, width, height), 1);
    const std::string theirs = dir.path() + "/reference.jbg";
    const std::string command = "pbmtojbg -q '" + pbm + "' '" + theirs + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;

    const std::vector<uint8_t> reference = readFile(theirs);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(readFile(ours), reference);
}

TEST(JbigPage, FailuresReturnZero)
{
    std::vector<uint8_t> bits(bitRowBytes(64) * 64, 0xFF);
    // Cannot be created.
    EXPECT_EQ(writePage("/nonexistent-dir/jbig-0001", bits, 64, 64), 0);
    // Created, but every write fails.
    EXPECT_EQ(writePage("/dev/full", bits, 64, 64), 0);
    // No page to encode.
    TempDir dir;
    EXPECT_EQ(writePage(dir.path() + "/jbig-0002", bits, 0, 64), 0);
}

TEST(JbigPage, HeaderRecordsUseSixtyFourBitSizes)
{
    BmpFileHeader file;
    BmpInfoHeader info;
    BmpPalette palette;
    fillBmpHeaders(4961, 7016, 4961, file, info, palette);
    EXPECT_EQ(file.type, 0x4D42u);
    EXPECT_EQ(file.offBits, 62u);
    EXPECT_EQ(file.size, 621u * 7016u + 62u);
    EXPECT_EQ(info.width, 4961);
    EXPECT_EQ(info.height, 7016);
    EXPECT_EQ(info.sizeImage, 621 * 7016);
    EXPECT_EQ(info.headerSize, 40);
    EXPECT_EQ(info.planes, 1);
    EXPECT_EQ(info.bitCount, 1);
    EXPECT_EQ(palette.entry[0], 0xFFFFFF);
    EXPECT_EQ(palette.entry[1], 0);

    // 40000000000 bytes a raster row: 5000000000 bytes a 1-bit row, 1e12 in all.
    fillBmpHeaders(1, 200, 40000000000ull, file, info, palette);
    EXPECT_EQ(info.sizeImage, 1000000000000LL);
    EXPECT_EQ(file.size, 1000000000062ull);
}

}  // namespace
}  // namespace rvt

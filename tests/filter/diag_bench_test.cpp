// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "diagnostics.h"
#include "image_test_support.h"

#include <gtest/gtest.h>

#include <cups/raster.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rvt {
namespace {

using test_support::readFile;
namespace fs = std::filesystem;

struct RasterPage {
    unsigned width, height;
    unsigned bitsPerPixel = 8;
    unsigned bytesPerLine = 0;  // 0: width * bitsPerPixel / 8
};

uint8_t grayAt(unsigned x, unsigned y) { return static_cast<uint8_t>((x * 7 + y * 5) % 256); }

void writeRaster(const std::string& path, const std::vector<RasterPage>& pages)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    ASSERT_TRUE(ras);
    for (const RasterPage& p : pages) {
        cups_page_header2_t h{};
        h.HWResolution[0] = h.HWResolution[1] = 600;
        h.cupsWidth = p.width;
        h.cupsHeight = p.height;
        h.cupsBitsPerColor = p.bitsPerPixel == 24 ? 8 : p.bitsPerPixel;
        h.cupsBitsPerPixel = p.bitsPerPixel;
        h.cupsBytesPerLine = p.bytesPerLine ? p.bytesPerLine : (p.width * p.bitsPerPixel + 7) / 8;
        h.cupsColorSpace = p.bitsPerPixel == 24 ? CUPS_CSPACE_RGB : CUPS_CSPACE_W;
        h.cupsNumColors = p.bitsPerPixel == 24 ? 3 : 1;
        ASSERT_TRUE(cupsRasterWriteHeader2(ras, &h));
        std::vector<uint8_t> line(h.cupsBytesPerLine);
        for (unsigned y = 0; y < p.height && p.width < 100000; ++y) {
            for (unsigned x = 0; x < line.size(); ++x)
                line[x] = grayAt(x, y);
            cupsRasterWritePixels(ras, line.data(), h.cupsBytesPerLine);
        }
    }
    cupsRasterClose(ras);
    close(fd);
}

struct BenchRun {
    int result;
    std::string out;
};

BenchRun bench(const std::string& raster, const std::string& dir, int level)
{
    test::MemoryLog out, err;
    const int result = testRaster2JBIG(raster.c_str(), dir, level, out.file(), err.file());
    return {result, out.text() + err.text()};
}

TEST(DiagBench, WritesEveryStageOfEveryPage)
{
    test_support::TempDir tmp;
    writeRaster(tmp.path + "/ras.prn", {{37, 23}, {37, 23}});
    const BenchRun run = bench(tmp.path + "/ras.prn", tmp.path, 3);  // no trailing '/'
    EXPECT_EQ(run.result, 0) << run.out;
    EXPECT_EQ(run.out.rfind(" read data file ok\nDEBUG: cupsBytesPerLine=37\nDEBUG: Duplex = 0\n"
                            "DEBUG: HWResolution = [ 600 600 ]\n",
                            0),
              0u)
        << run.out;
    EXPECT_NE(run.out.find("DEBUG: cupsWidth = 37\nDEBUG: cupsHeight = 23\n"), std::string::npos);
    EXPECT_NE(run.out.find("image data size = 851\n"), std::string::npos);

    const std::string pgmHeader = "P5\n37 23\n255\n", pbmHeader = "P4\n37 23\n";
    const std::vector<uint8_t> pgm = readFile(tmp.path + "/ras.pgm");
    const std::vector<uint8_t> mirror = readFile(tmp.path + "/ras_mirror.pgm");
    const std::vector<uint8_t> pbm = readFile(tmp.path + "/ras.pbm");
    ASSERT_EQ(pgm.size(), pgmHeader.size() + 851);
    ASSERT_EQ(mirror.size(), pgm.size());
    ASSERT_EQ(pbm.size(), pbmHeader.size() + 5 * 23);
    EXPECT_EQ(std::string(pgm.begin(), pgm.begin() + pgmHeader.size()), pgmHeader);
    EXPECT_EQ(std::string(pbm.begin(), pbm.begin() + pbmHeader.size()), pbmHeader);
    EXPECT_EQ(pgm[pgmHeader.size() + 2 * 37 + 3], grayAt(3, 2));
    EXPECT_EQ(mirror[pgmHeader.size() + 2 * 37 + 3], grayAt(33, 2));

    // Each page's file decodes to the screened bits of the PBM.
    const std::vector<uint8_t> bits(pbm.begin() + pbmHeader.size(), pbm.end());
    for (const char* name : {"/-0001.jbig", "/-0002.jbig"})
        EXPECT_EQ(test_support::decodeFile(tmp.path + name).bits, bits) << name;
    EXPECT_FALSE(fs::exists(tmp.path + "/-0003.jbig"));
}

struct BadRasterCase {
    const char* name;
    std::vector<RasterPage> pages;
    const char* message;
};

class DiagBenchRefuses : public ::testing::TestWithParam<BadRasterCase> {};

TEST_P(DiagBenchRefuses, StopsWithAMessageAndNoDump)
{
    const BadRasterCase& c = GetParam();
    test_support::TempDir tmp;
    writeRaster(tmp.path + "/ras.prn", c.pages);
    const BenchRun run = bench(tmp.path + "/ras.prn", tmp.path + "/", 0);
    EXPECT_EQ(run.result, 1);
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(tmp.path + "/ras.pgm"));
}

INSTANTIATE_TEST_SUITE_P(
    Rasters, DiagBenchRefuses,
    ::testing::Values(
        BadRasterCase{"OneBitPixels", {{64, 4, 1}}, "unsupported raster page: cupsBitsPerPixel=1"},
        BadRasterCase{
            "ColourPixels", {{16, 4, 24}}, "unsupported raster page: cupsBitsPerPixel=24"},
        BadRasterCase{"PaddedRows", {{10, 4, 8, 12}}, "cupsBytesPerLine=12 cupsWidth=10"},
        BadRasterCase{"AbsurdSize", {{200000, 200000}}, "page size 200000 x 200000"},
        BadRasterCase{"NoPage", {}, "no raster page"}),
    [](const ::testing::TestParamInfo<BadRasterCase>& info) { return info.param.name; });

TEST(DiagBench, UnreadableInputDoesNotCrash)
{
    test_support::TempDir tmp;
    EXPECT_EQ(bench(tmp.path + "/missing.prn", tmp.path, 0).result, 1);
    const std::string garbage = tmp.path + "/garbage.prn";
    FILE* f = std::fopen(garbage.c_str(), "wb");
    for (int i = 0; i < 5000; ++i)
        std::fputc((i * 131 + 17) % 256, f);
    std::fclose(f);
    EXPECT_EQ(bench(garbage, tmp.path, 0).result, 1);
    EXPECT_FALSE(fs::exists(tmp.path + "/ras.pgm"));
}

int runShell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DiagProgram, SavesAndBenchesARaster)
{
    // The program is built next to this test binary.
    const std::string program =
        (fs::read_symlink("/proc/self/exe").parent_path() / "rvt4410lw-diag").string();
    ASSERT_TRUE(fs::exists(program)) << program << " is not built";
    test_support::TempDir tmp;
    const std::string raster = tmp.path + "/job.prn", saved = tmp.path + "/saved.prn";
    writeRaster(raster, {{300, 50}});
    EXPECT_EQ(runShell(program + " save-raster '" + saved + "' < '" + raster + "'"), 0);
    EXPECT_EQ(readFile(saved), readFile(raster));

    const std::string dir = tmp.path + "/debug/", outText = tmp.path + "/out.txt";
    fs::create_directory(dir);
    EXPECT_EQ(runShell(program + " bench '" + saved + "' '" + dir + "' --darkness 5 > " + outText),
              0);
    const std::vector<uint8_t> out = readFile(outText);
    EXPECT_NE(std::string(out.begin(), out.end()).find("---curGammaVal=1.00;"), std::string::npos);
    EXPECT_EQ(test_support::decodeFile(dir + "-0001.jbig").width, 300u);

    EXPECT_EQ(runShell(program + " save-raster /nonexistent-dir/x < /dev/null > /dev/null"), 1);
    EXPECT_EQ(runShell(program + " bench '" + saved + "' '" + dir + "' --darkness 6 2>/dev/null"),
              2);
    EXPECT_EQ(runShell(program + " --help > /dev/null"), 0);
}

}  // namespace
}  // namespace rvt

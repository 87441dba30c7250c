#include "diagnostics.h"
#include "image_test_support.h"
#include "page_buffer.h"

#include <gtest/gtest.h>

#include <cups/raster.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace rvt {
namespace {

using test_support::CapturedLog;
using test_support::decodeFile;
using test_support::readFile;
using test_support::TempDir;

struct RasterPage {
    unsigned width;
    unsigned height;
    unsigned bitsPerPixel = 8;
    unsigned bytesPerLine = 0;  // 0: width * bitsPerPixel / 8
    unsigned rowsWritten = ~0u;  // all
};

// Gray of pixel (x, y) in the test pages: a diagonal ramp.
uint8_t grayAt(unsigned x, unsigned y) { return static_cast<uint8_t>((x * 7 + y * 5) % 256); }

void writeRaster(const std::string& path, const std::vector<RasterPage>& pages)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    ASSERT_TRUE(ras);
    for (const RasterPage& p : pages) {
        cups_page_header2_t h;
        std::memset(&h, 0, sizeof h);
        h.HWResolution[0] = h.HWResolution[1] = 600;
        h.PageSize[0] = 595;
        h.PageSize[1] = 842;
        h.NumCopies = 1;
        h.cupsWidth = p.width;
        h.cupsHeight = p.height;
        h.cupsBitsPerColor = p.bitsPerPixel == 24 ? 8 : p.bitsPerPixel;
        h.cupsBitsPerPixel = p.bitsPerPixel;
        h.cupsBytesPerLine = p.bytesPerLine ? p.bytesPerLine : (p.width * p.bitsPerPixel + 7) / 8;
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = p.bitsPerPixel == 24 ? CUPS_CSPACE_RGB : CUPS_CSPACE_W;
        h.cupsNumColors = p.bitsPerPixel == 24 ? 3 : 1;
        ASSERT_TRUE(cupsRasterWriteHeader2(ras, &h));
        std::vector<uint8_t> line(h.cupsBytesPerLine);
        for (unsigned y = 0; y < p.height && y < p.rowsWritten; ++y) {
            for (unsigned x = 0; x < h.cupsBytesPerLine; ++x)
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
    std::string err;
};

BenchRun bench(const std::string& raster, const std::string& dir, int level)
{
    CapturedLog out, err;
    BenchRun r;
    r.result = testRaster2JBIG(raster.c_str(), dir, level, out.file(), err.file());
    r.out = out.text();
    r.err = err.text();
    return r;
}

TEST(DiagBench, WritesEveryStageOfEveryPage)
{
    TempDir tmp;
    const std::string raster = tmp.path() + "/ras.prn";
    writeRaster(raster, {{37, 23}, {37, 23}});

    const BenchRun run = bench(raster, tmp.path(), 3);  // no trailing separator
    EXPECT_EQ(run.result, 0) << run.out;
    EXPECT_EQ(run.out.rfind(" read data file ok\nDEBUG: cupsBytesPerLine=37\nDEBUG: Duplex = 0\n"
                            "DEBUG: HWResolution = [ 600 600 ]\n",
                            0),
              0u)
        << run.out;
    EXPECT_NE(run.out.find("DEBUG: PageSize = [ 595 842 ]\nDEBUG: cupsWidth = 37\n"
                           "DEBUG: cupsHeight = 23\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("DEBUG: cupsBitsPerPixel = 8\nDEBUG: cupsBytesPerLine = 37\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("image data size = 851\n"), std::string::npos);
    EXPECT_EQ(run.err, "");

    // The gray page, as read.
    const std::vector<uint8_t> pgm = readFile(tmp.path() + "/ras.pgm");
    const std::string pgmHeader = "P5\n37 23\n255\n";
    ASSERT_EQ(pgm.size(), pgmHeader.size() + 851);
    EXPECT_EQ(std::string(pgm.begin(), pgm.begin() + pgmHeader.size()), pgmHeader);
    EXPECT_EQ(pgm[pgmHeader.size() + 2 * 37 + 3], grayAt(3, 2));

    // Mirrored left to right.
    const std::vector<uint8_t> mirror = readFile(tmp.path() + "/ras_mirror.pgm");
    ASSERT_EQ(mirror.size(), pgm.size());
    EXPECT_EQ(mirror[pgmHeader.size() + 2 * 37 + 3], grayAt(36 - 3, 2));

    // Screened, and the page file of each page holds the same bits.
    const std::vector<uint8_t> pbm = readFile(tmp.path() + "/ras.pbm");
    const std::string pbmHeader = "P4\n37 23\n";
    ASSERT_EQ(pbm.size(), pbmHeader.size() + 5 * 23);
    EXPECT_EQ(std::string(pbm.begin(), pbm.begin() + pbmHeader.size()), pbmHeader);
    const std::vector<uint8_t> bits(pbm.begin() + pbmHeader.size(), pbm.end());
    for (const char* name : {"/-0001.jbig", "/-0002.jbig"}) {
        const test_support::Decoded d = decodeFile(tmp.path() + name);
        EXPECT_EQ(d.width, 37u) << name;
        EXPECT_EQ(d.height, 23u) << name;
        EXPECT_EQ(d.bits, bits) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/-0003.jbig"));
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
    TempDir tmp;
    const std::string raster = tmp.path() + "/ras.prn";
    writeRaster(raster, c.pages);
    const BenchRun run = bench(raster, tmp.path() + "/", 0);
    EXPECT_EQ(run.result, 1);
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/ras.pgm"));
    EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/-0001.jbig"));
}

INSTANTIATE_TEST_SUITE_P(
    Rasters, DiagBenchRefuses,
    ::testing::Values(
        BadRasterCase{"OneBitPixels", {{64, 4, 1}}, "unsupported raster page: cupsBitsPerPixel=1"},
        BadRasterCase{"ColourPixels", {{16, 4, 24}}, "unsupported raster page: cupsBitsPerPixel=24"},
        BadRasterCase{"PaddedRows", {{10, 4, 8, 12}}, "cupsBytesPerLine=12 cupsWidth=10"},
        BadRasterCase{"AbsurdSize", {{200000, 200000, 8, 0, 0}},
                      "unsupported raster page size 200000 x 200000"},
        BadRasterCase{"NoPage", {}, "no raster page"},
        BadRasterCase{"EmptyPage", {{0, 0, 8, 0, 0}}, "no raster page"}),
    [](const ::testing::TestParamInfo<BadRasterCase>& info) { return info.param.name; });

TEST(DiagBench, ShortPageIsWhiteBelowTheLastRow)
{
    TempDir tmp;
    const std::string raster = tmp.path() + "/ras.prn";
    writeRaster(raster, {{8, 6, 8, 0, 2}});
    const BenchRun run = bench(raster, tmp.path(), 0);
    const std::vector<uint8_t> pgm = readFile(tmp.path() + "/ras.pgm");
    const size_t header = std::string("P5\n8 6\n255\n").size();
    ASSERT_EQ(pgm.size(), header + 48) << run.out;
    EXPECT_EQ(pgm[header + 8 + 1], grayAt(1, 1));
    for (size_t i = header + 16; i < pgm.size(); ++i)
        EXPECT_EQ(pgm[i], 255) << "byte " << i - header;
}

TEST(DiagBench, UnreadableInputDoesNotCrash)
{
    TempDir tmp;
    EXPECT_EQ(bench(tmp.path() + "/missing.prn", tmp.path(), 0).result, 1);

    const std::string garbage = tmp.path() + "/garbage.prn";
    FILE* f = std::fopen(garbage.c_str(), "wb");
    ASSERT_TRUE(f);
    for (int i = 0; i < 5000; ++i)
        std::fputc((i * 131 + 17) % 256, f);
    std::fclose(f);
    const BenchRun run = bench(garbage, tmp.path(), 0);
    EXPECT_EQ(run.result, 1);
    EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/ras.pgm")) << run.out;
}

// The program itself, next to this test binary.
std::string diagProgram()
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "rvt4410lw-diag")
        .string();
}

int runShell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DiagProgram, SavesAndBenchesARaster)
{
    const std::string program = diagProgram();
    ASSERT_TRUE(std::filesystem::exists(program)) << program << " is not built";
    TempDir tmp;
    const std::string raster = tmp.path() + "/job.prn";
    writeRaster(raster, {{300, 50}});

    const std::string saved = tmp.path() + "/saved.prn";
    EXPECT_EQ(runShell(program + " save-raster '" + saved + "' < '" + raster + "'"), 0);
    EXPECT_EQ(readFile(saved), readFile(raster));

    const std::string dir = tmp.path() + "/debug/";
    std::filesystem::create_directory(dir);
    EXPECT_EQ(runShell(program + " bench '" + saved + "' '" + dir + "' --darkness 5 > '" +
                       tmp.path() + "/out.txt'"),
              0);
    const std::vector<uint8_t> out = readFile(tmp.path() + "/out.txt");
    EXPECT_NE(std::string(out.begin(), out.end()).find("---curGammaVal=1.00;"),
              std::string::npos);
    EXPECT_EQ(decodeFile(dir + "-0001.jbig").width, 300u);

    EXPECT_EQ(runShell(program + " save-raster /nonexistent-dir/ras.prn < /dev/null > /dev/null"), 1);
    EXPECT_EQ(runShell(program + " bench '" + saved + "' '" + dir +
                       "' --darkness 6 2> /dev/null"),
              2);
    EXPECT_EQ(runShell(program + " frobnicate 2> /dev/null"), 2);
    EXPECT_EQ(runShell(program + " --help > /dev/null"), 0);
}

}  // namespace
}  // namespace rvt

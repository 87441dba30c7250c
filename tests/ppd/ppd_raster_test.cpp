// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The raster CUPS makes for the queue's PPD, through the real filter chain
// (cupsfilter: pdftopdf and Ghostscript): for every page size, one byte of
// sGray per pixel at 600 dpi over the whole sheet, in whole pixels, with a
// document's corner marks at the raster's corners.
#include <gtest/gtest.h>

#include <cups/raster.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct SizeCase {
    const char* keyword;
    double widthPt, heightPt;  // the sheet as the document sets it
    unsigned width, height;    // pixels the raster must have
    unsigned rowsOff;          // how far Ghostscript may place the page from the top edge
};

void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.keyword << " " << c.width << "x" << c.height;
}

// A one-page document of the sheet's size with a black 12-point (100-pixel)
// square in each corner.
std::string cornersDocument(const SizeCase& c)
{
    std::ostringstream ps;
    ps << "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 " << c.widthPt << " " << c.heightPt
       << "\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\n"
       << "<< /PageSize [" << c.widthPt << " " << c.heightPt << "] >> setpagedevice\n0 setgray\n";
    for (double x : {0.0, c.widthPt - 12})
        for (double y : {0.0, c.heightPt - 12})
            ps << x << " " << y << " 12 12 rectfill\n";
    ps << "showpage\n%%EOF\n";
    return ps.str();
}

// Runs cupsfilter with the PPD up to the raster; returns its exit status.
int cupsfilter(const std::string& doc, const std::string& pageSize, const std::string& out,
               const std::string& log)
{
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        execl(RVT_CUPSFILTER, "cupsfilter", "-p", RVT_PPD, "-m", "application/vnd.cups-raster",
              "-e", "-o", ("PageSize=" + pageSize).c_str(), doc.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Page {
    cups_page_header2_t header{};
    std::vector<unsigned char> pixels;
    unsigned char at(unsigned x, unsigned y) const
    {
        return pixels[size_t(y) * header.cupsBytesPerLine + x];
    }
};

std::vector<Page> readRaster(const std::string& path)
{
    std::vector<Page> pages;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return pages;
    cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_READ);
    Page p;
    while (r && cupsRasterReadHeader2(r, &p.header)) {
        p.pixels.resize(size_t(p.header.cupsBytesPerLine) * p.header.cupsHeight);
        for (unsigned y = 0; y < p.header.cupsHeight; ++y)
            cupsRasterReadPixels(r, p.pixels.data() + size_t(y) * p.header.cupsBytesPerLine,
                                 p.header.cupsBytesPerLine);
        pages.push_back(std::move(p));
        p = Page();
    }
    cupsRasterClose(r);
    close(fd);
    return pages;
}

class PpdRaster : public ::testing::TestWithParam<SizeCase> {};

TEST_P(PpdRaster, CoversTheWholeSheetInWholePixels)
{
    const SizeCase& c = GetParam();
    fs::path dir = fs::path(RVT_TEST_TMP) / "ppd-raster" / c.keyword;
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string doc = (dir / "corners.ps").string(), ras = (dir / "page.ras").string(),
                      log = (dir / "cupsfilter.log").string();
    std::ofstream(doc) << cornersDocument(c);
    // cupsfilter says it lacks the last filter (not installed); the raster before it is what
    // counts.
    cupsfilter(doc, c.keyword, ras, log);
    std::vector<Page> pages = readRaster(ras);
    ASSERT_EQ(pages.size(), 1u) << "see " << log;
    const Page& p = pages[0];
    const cups_page_header2_t& h = p.header;

    EXPECT_EQ(h.cupsWidth, c.width);
    EXPECT_EQ(h.cupsHeight, c.height);
    EXPECT_EQ(h.HWResolution[0], 600u);
    EXPECT_EQ(h.HWResolution[1], 600u);
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_SW);
    EXPECT_EQ(h.cupsBitsPerColor, 8u);
    EXPECT_EQ(h.cupsBitsPerPixel, 8u);
    EXPECT_EQ(h.cupsBytesPerLine, c.width);
    EXPECT_STREQ(h.cupsPageSizeName, c.keyword);
    EXPECT_EQ(h.Margins[0], 0u);
    EXPECT_EQ(h.Margins[1], 0u);
    ASSERT_EQ(p.pixels.size(), size_t(c.width) * c.height);

    // The marks reach the raster's left and right columns exactly, and its top
    // and bottom rows within the allowed rows: nothing is cut off by margins.
    const unsigned w = h.cupsWidth, ht = h.cupsHeight, tol = c.rowsOff;
    for (unsigned y : {50u, ht - 51}) {
        EXPECT_EQ(p.at(0, y), 0) << "left edge, row " << y;
        EXPECT_EQ(p.at(w - 1, y), 0) << "right edge, row " << y;
        EXPECT_EQ(p.at(99, y), 0);
        EXPECT_EQ(p.at(w - 100, y), 0);
        EXPECT_EQ(p.at(100, y), 255);
        EXPECT_EQ(p.at(w - 101, y), 255);
    }
    for (unsigned x : {50u, w - 51}) {
        unsigned top = 0;
        while (top < ht && p.at(x, top) != 0)
            ++top;
        unsigned bottom = ht - 1;
        while (bottom > 0 && p.at(x, bottom) != 0)
            --bottom;
        EXPECT_LE(top, tol) << "top mark starts at row " << top;
        EXPECT_GE(bottom + tol, ht - 1) << "bottom mark ends at row " << bottom;
        EXPECT_EQ(p.at(x, 101 + tol), 255) << "top mark taller than 12 points and a part row";
    }
    EXPECT_EQ(p.at(w / 2, ht / 2), 255);
}

// Widths and heights: the nearest multiple of 8 pixels to the nominal size
// (Letter: its exact 5100 x 6600); A4 exactly 4960 x 7016, in place. Rows
// off: where Ghostscript, given the height in whole points, puts a page whose
// height is not whole points.
INSTANTIATE_TEST_SUITE_P(Sizes, PpdRaster,
                         ::testing::Values(SizeCase{"A4", 595.2, 841.95, 4960, 7016, 0},
                                           SizeCase{"A5", 419.52, 595.2, 3496, 4960, 2},
                                           SizeCase{"A6", 297.6, 419.52, 2480, 3496, 4},
                                           SizeCase{"B5", 515.52, 728.64, 4296, 6072, 3},
                                           SizeCase{"B6", 362.88, 515.52, 3024, 4296, 4},
                                           SizeCase{"16K", 552.96, 765.12, 4608, 6376, 2},
                                           SizeCase{"32K", 383.04, 552.96, 3192, 4608, 1},
                                           SizeCase{"Letter", 612, 792, 5100, 6600, 0},
                                           SizeCase{"85x170mm", 240.96, 481.95, 2008, 4016, 0}),
                         [](const auto& info) {
                             std::string n = info.param.keyword;
                             return n == "16K"   ? std::string("K16")
                                    : n == "32K" ? std::string("K32")
                                                 : n;
                         });

}  // namespace

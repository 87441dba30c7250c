// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "test_document.h"

#include "scheduler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace rvt::e2e {

namespace {

constexpr double kBarUnitMm = 20.0;
constexpr double kCornerMm = 4.0;  // the small squares
constexpr double kMarkMm = 15.0;   // the large square

}  // namespace

std::string testDocumentPs(const std::vector<int>& pageIds, const std::string& title,
                           double widthPt, double heightPt)
{
    char size[64];
    std::snprintf(size, sizeof size, "%.2f %.2f", widthPt, heightPt);
    // clang-format off
    std::string ps =
        "%!PS-Adobe-3.0\n"
        "%%Title: " + title + "\n"
        "%%Pages: " + std::to_string(pageIds.size()) + "\n"
        "%%DocumentMedia: Sheet " + std::string(size) + " 0 () ()\n"
        "%%EndComments\n"
        "%%BeginProlog\n"
        "/mm { 72 mul 25.4 div } bind def\n"
        "/H " + std::to_string(heightPt) + " def /W " + std::to_string(widthPt) + " def\n"
        "/S " + std::to_string(kCornerMm) + " mm def\n"
        "/M " + std::to_string(kMarkMm) + " mm def\n"
        "% id testpage\n"
        "/testpage { /id exch def 0 setgray\n"
        "  0 0 S S rectfill  W S sub 0 S S rectfill\n"
        "  0 H S sub S S rectfill  W S sub H S sub S S rectfill\n"
        "  0 H M sub M M rectfill\n"
        "  /len id " + std::to_string(kBarUnitMm) + " mm mul def\n"
        "  W len sub 2 div H 2 div 5 mm sub len 10 mm rectfill\n"
        "  /Helvetica-Bold 36 selectfont 30 mm 200 mm moveto (Page ) show id 3 string cvs show\n"
        "  /Helvetica 12 selectfont 30 mm 185 mm moveto (" + title + ") show\n"
        "  showpage } bind def\n"
        "%%EndProlog\n"
        "%%BeginSetup\n"
        "<< /PageSize [" + std::string(size) + "] >> setpagedevice\n"
        "%%EndSetup\n";
    // clang-format on
    for (size_t i = 0; i < pageIds.size(); ++i) {
        std::string n = std::to_string(i + 1);
        ps += "%%Page: " + n + " " + n + "\n" + std::to_string(pageIds[i]) + " testpage\n";
    }
    ps += "%%EOF\n";
    return ps;
}

std::string a4TestPdf(const std::string& dir, const std::vector<int>& pageIds)
{
    std::string path = dir + "/doc";
    for (int id : pageIds) {
        path += '-';
        path += std::to_string(id);
    }
    path += ".pdf";
    if (!std::filesystem::exists(path)) {
        EXPECT_EQ(writeTestDocument(path, pageIds), "") << path;
    }
    return path;
}

std::string writeTestDocument(const std::string& path, const std::vector<int>& pageIds,
                              double widthPt, double heightPt)
{
    const bool pdf = path.size() > 4 && path.compare(path.size() - 4, 4, ".pdf") == 0;
    std::string psPath = pdf ? path.substr(0, path.size() - 4) + "-source.ps" : path;
    std::string title = path.substr(path.rfind('/') + 1);
    {
        std::ofstream out(psPath);
        out << testDocumentPs(pageIds, title, widthPt, heightPt);
        if (!out)
            return "cannot write " + psPath;
    }
    if (!pdf)
        return "";
    CommandResult r = runCommand({"ps2pdf", psPath, path});
    if (r.status != 0)
        return "ps2pdf failed: " + r.output;
    return "";
}

const char* cornerName(Corner c)
{
    switch (c) {
    case Corner::None:
        return "none";
    case Corner::TopLeft:
        return "top left";
    case Corner::TopRight:
        return "top right";
    case Corner::BottomLeft:
        return "bottom left";
    case Corner::BottomRight:
        return "bottom right";
    case Corner::Several:
        return "several corners";
    }
    return "?";
}

std::string PageLook::gaps() const
{
    return "white lines at the edges: top " + std::to_string(top) + ", bottom " +
           std::to_string(bottom) + ", left " + std::to_string(left) + ", right " +
           std::to_string(right);
}

PageLook lookAt(const rvtsim::Bitmap& page)
{
    PageLook look;
    if (page.width < 100 || page.height < 100)
        return look;
    const uint32_t w = page.width, h = page.height;

    look.blank = true;
    for (uint8_t b : page.bits)
        if (b) {
            look.blank = false;
            break;
        }

    look.cornersBlack = page.pixel(0, 0) && page.pixel(w - 1, 0) && page.pixel(0, h - 1) &&
                        page.pixel(w - 1, h - 1);

    // Along a line through the small squares, 20 pixels in from the edge.
    auto firstBlack = [&](uint32_t x, uint32_t y, int dx, int dy) {
        int n = 0;
        while (n < 50 && !page.pixel(x, y)) {
            ++n;
            x += dx;
            y += dy;
        }
        return n;
    };
    look.top = firstBlack(20, 0, 0, 1);
    look.bottom = firstBlack(20, h - 1, 0, -1);
    look.left = firstBlack(0, 20, 1, 0);
    look.right = firstBlack(w - 1, 20, -1, 0);

    // Halfway between the small squares' edge and the large square's edge.
    const uint32_t in = static_cast<uint32_t>(pixelsOfMm((kCornerMm + kMarkMm) / 2));
    struct Probe {
        Corner corner;
        uint32_t x, y;
    } probes[] = {{Corner::TopLeft, in, in},
                  {Corner::TopRight, w - 1 - in, in},
                  {Corner::BottomLeft, in, h - 1 - in},
                  {Corner::BottomRight, w - 1 - in, h - 1 - in}};
    for (const auto& p : probes)
        if (page.pixel(p.x, p.y))
            look.mark = look.mark == Corner::None ? p.corner : Corner::Several;

    // The black run through the centre of the middle row.
    const uint32_t y = h / 2;
    uint32_t x = w / 2;
    if (page.pixel(x, y)) {
        uint32_t left = x, right = x;
        while (left > 0 && page.pixel(left - 1, y))
            --left;
        while (right + 1 < w && page.pixel(right + 1, y))
            ++right;
        look.id = static_cast<int>(std::lround((right - left + 1) / pixelsOfMm(kBarUnitMm)));
    }
    return look;
}

}  // namespace rvt::e2e

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "raster_patterns.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

namespace rvtsim {
namespace {

// Small deterministic generator, the same on every machine.
struct Random {
    uint64_t state;
    explicit Random(uint32_t seed) : state(0x9E3779B97F4A7C15ull ^ seed) {}
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 16);
    }
    int32_t below(int32_t n) { return n <= 0 ? 0 : static_cast<int32_t>(next() % uint32_t(n)); }
};

void fillRect(std::vector<uint8_t>& page, int32_t w, int32_t h, int32_t x0, int32_t y0, int32_t x1,
              int32_t y1, uint8_t value)
{
    x0 = std::clamp(x0, 0, w);
    x1 = std::clamp(x1, 0, w);
    y0 = std::clamp(y0, 0, h);
    y1 = std::clamp(y1, 0, h);
    for (int32_t y = y0; y < y1; ++y)
        std::fill(page.begin() + int64_t(y) * w + x0, page.begin() + int64_t(y) * w + x1, value);
}

void drawText(std::vector<uint8_t>& page, int32_t w, int32_t h, uint32_t seed)
{
    Random rnd(seed);
    // Orientation marks: a black square top left, a mid-gray bar down the right edge.
    int32_t mark = std::max(2, std::min(w, h) / 10);
    fillRect(page, w, h, 0, 0, mark, mark, 0);
    fillRect(page, w, h, w - std::max(1, w / 20), 0, w, h, 128);
    int32_t lineHeight = std::max(4, h / 30);
    int32_t margin = mark + std::max(1, w / 40);
    for (int32_t top = mark + lineHeight / 2; top + lineHeight <= h; top += lineHeight * 3 / 2) {
        int32_t x = margin;
        int32_t right = w - std::max(1, w / 20) - margin / 2;
        while (x < right) {
            int32_t word = std::max(2, lineHeight * (2 + rnd.below(5)) / 2);
            int32_t end = std::min(right, x + word);
            // A word: strokes of random height inside the line.
            for (int32_t sx = x; sx < end;) {
                int32_t stroke = std::max(1, lineHeight / 6);
                int32_t sh = lineHeight / 2 + rnd.below(lineHeight / 2 + 1);
                fillRect(page, w, h, sx, top + lineHeight - sh, sx + stroke, top + lineHeight, 0);
                if (rnd.below(3) == 0)  // a cross bar
                    fillRect(page, w, h, sx, top + lineHeight - sh / 2, sx + stroke * 3,
                             top + lineHeight - sh / 2 + stroke, 0);
                sx += stroke * (2 + rnd.below(2));
            }
            x = end + std::max(2, lineHeight / 2);
        }
    }
}

}  // namespace

bool parsePattern(const std::string& text, PagePattern& p)
{
    size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    p.kind = text.substr(0, colon);
    const char* kinds[] = {"blank", "black", "hgradient", "vgradient", "noise", "text"};
    if (std::none_of(std::begin(kinds), std::end(kinds),
                     [&](const char* k) { return p.kind == k; }))
        return false;
    int w = 0, h = 0, n = 0;
    unsigned seed = 1;
    std::string rest = text.substr(colon + 1);
    if (std::sscanf(rest.c_str(), "%dx%d%n", &w, &h, &n) != 2 || w <= 0 || h <= 0)
        return false;
    if (rest[static_cast<size_t>(n)] == ':') {
        int m = 0;
        if (std::sscanf(rest.c_str() + n, ":%u%n", &seed, &m) != 1 || rest[size_t(n + m)] != '\0')
            return false;
    } else if (rest[static_cast<size_t>(n)] != '\0') {
        return false;
    }
    p.width = w;
    p.height = h;
    p.seed = seed;
    return true;
}

std::vector<uint8_t> makeGrayPage(const PagePattern& p)
{
    const int32_t w = p.width, h = p.height;
    std::vector<uint8_t> page(static_cast<size_t>(int64_t(w) * h), 255);
    if (p.kind == "black") {
        std::fill(page.begin(), page.end(), 0);
    } else if (p.kind == "hgradient" || p.kind == "vgradient") {
        const bool across = p.kind == "hgradient";
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                int32_t pos = across ? x : y, len = across ? w : h;
                page[size_t(int64_t(y) * w + x)] = static_cast<uint8_t>(
                    len > 1 ? 255 - (255 * int64_t(pos)) / (len - 1) : 255);
            }
    } else if (p.kind == "noise") {
        Random rnd(p.seed);
        for (auto& v : page)
            v = static_cast<uint8_t>(rnd.next() & 0xFF);
    } else if (p.kind == "text") {
        drawText(page, w, h, p.seed);
    }
    return page;
}

std::string writeRaster(const std::string& path, const std::vector<PagePattern>& pages,
                        int colorSpace)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot create " + path + ": " + std::strerror(errno);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    if (!ras) {
        close(fd);
        return "cupsRasterOpen failed";
    }
    std::string error;
    for (const auto& p : pages) {
        cups_page_header2_t h;
        std::memset(&h, 0, sizeof h);
        h.HWResolution[0] = h.HWResolution[1] = 600;
        h.PageSize[0] = static_cast<unsigned>((int64_t(p.width) * 72 + 599) / 600);
        h.PageSize[1] = static_cast<unsigned>((int64_t(p.height) * 72 + 599) / 600);
        h.cupsWidth = static_cast<unsigned>(p.width);
        h.cupsHeight = static_cast<unsigned>(p.height);
        h.cupsBitsPerColor = 8;
        h.cupsBitsPerPixel = 8;
        h.cupsBytesPerLine = static_cast<unsigned>(p.width);
        h.cupsColorOrder = CUPS_ORDER_CHUNKED;
        h.cupsColorSpace = static_cast<cups_cspace_t>(colorSpace);
        h.cupsNumColors = 1;
        h.NumCopies = 1;
        std::snprintf(h.MediaClass, sizeof h.MediaClass, "PwgRaster");
        std::vector<uint8_t> page = makeGrayPage(p);
        if (!cupsRasterWriteHeader2(ras, &h) ||
            cupsRasterWritePixels(ras, page.data(), static_cast<unsigned>(page.size())) !=
                page.size()) {
            error = "writing the raster failed";
            break;
        }
    }
    cupsRasterClose(ras);
    if (close(fd) != 0 && error.empty())
        error = std::string("close: ") + std::strerror(errno);
    return error;
}

}  // namespace rvtsim

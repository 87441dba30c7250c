// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "image_files.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <png.h>
#include <vector>

namespace rvtsim {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

// Writes `rows` rows of `rowBytes` bytes each, as produced by `row(y, buffer)`.
template <typename RowFn>
bool writePngRows(FILE* f, uint32_t width, uint32_t height, int bitDepth, size_t rowBytes,
                  RowFn row)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<png_byte> buffer(rowBytes);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, bitDepth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // 600 dpi in pixels per metre.
    png_set_pHYs(png, info, 23622, 23622, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) {
        row(y, buffer.data());
        png_write_row(png, buffer.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fflush(f) == 0;
}

// Runs `write` on the file `path`, made or emptied.
template <typename WriteFn>
bool writeToPath(const std::string& path, WriteFn write)
{
    File f(std::fopen(path.c_str(), "wb"), std::fclose);
    return f && write(f.get());
}

}  // namespace

bool writePbm(FILE* f, const Bitmap& page)
{
    std::fprintf(f, "P4\n%u %u\n", page.width, page.height);
    size_t n = page.bits.size();
    return std::fwrite(page.bits.data(), 1, n, f) == n && std::fflush(f) == 0;
}

bool writePbm(const std::string& path, const Bitmap& page)
{
    return writeToPath(path, [&](FILE* f) { return writePbm(f, page); });
}

bool readPbm(const std::string& path, Bitmap& page)
{
    File f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f)
        return false;
    unsigned w = 0, h = 0;
    if (std::fscanf(f.get(), "P4 %u %u", &w, &h) != 2 || std::fgetc(f.get()) == EOF)
        return false;
    page.width = w;
    page.height = h;
    page.bits.resize(page.rowBytes() * h);
    return std::fread(page.bits.data(), 1, page.bits.size(), f.get()) == page.bits.size();
}

bool writePng(const std::string& path, const Bitmap& page)
{
    return writeToPath(path, [&](FILE* f) { return writePng(f, page); });
}

bool writePreviewPng(const std::string& path, const Bitmap& page, uint32_t factor)
{
    return writeToPath(path, [&](FILE* f) { return writePreviewPng(f, page, factor); });
}

bool writePng(FILE* f, const Bitmap& page)
{
    const size_t rb = page.rowBytes();
    // In a gray PNG 0 is black: the page's bits inverted (padding stays white).
    return writePngRows(f, page.width, page.height, 1, rb, [&](uint32_t y, png_byte* out) {
        for (size_t i = 0; i < rb; ++i)
            out[i] = static_cast<png_byte>(~page.bits[y * rb + i]);
    });
}

bool writePreviewPng(FILE* f, const Bitmap& page, uint32_t factor)
{
    if (factor == 0)
        factor = 1;
    const uint32_t w = (page.width + factor - 1) / factor;
    const uint32_t h = (page.height + factor - 1) / factor;
    return writePngRows(f, w, h, 8, w, [&](uint32_t y, png_byte* out) {
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t ink = 0, count = 0;
            for (uint32_t yy = y * factor; yy < std::min(page.height, (y + 1) * factor); ++yy)
                for (uint32_t xx = x * factor; xx < std::min(page.width, (x + 1) * factor); ++xx) {
                    ink += page.pixel(xx, yy);
                    ++count;
                }
            out[x] = static_cast<png_byte>(255 - (255 * ink + count / 2) / (count ? count : 1));
        }
    });
}

}  // namespace rvtsim

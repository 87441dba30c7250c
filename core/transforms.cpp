// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "transforms.h"

#include "jbig_page.h"
#include "job_settings.h"
#include "log.h"
#include "page_files.h"
#include "row_kernels.h"

#include <cstring>

namespace rvt {

namespace {

bool checkDestination(const uint8_t* dst, JobSettings& job, Log& log)
{
    if (dst)
        return true;
    log.printf("DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
    job.isCanceled = 1;
    return false;
}

uint64_t pageBytes(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
}

}  // namespace

void mirrorGrayPage(PageBuffer src, uint8_t* dst, int32_t width, int32_t height, JobSettings& job,
                    Log& log)
{
    if (!checkDestination(dst, job, log) || pageBytes(width, height) == 0 || !src)
        return;
    const int64_t w = width;
    for (int64_t y = 0; y < height; ++y)
        mirrorRow(src.get() + y * w, w, dst + y * w);
}

void mirrorGrayPage1(PageBuffer src, uint8_t* dst, int32_t width, int32_t height, JobSettings& job,
                     Log& log)
{
    if (!checkDestination(dst, job, log) || pageBytes(width, height) == 0 || !src)
        return;
    const int64_t w = width;
    for (int64_t y = 0; y < height; ++y)
        std::memcpy(dst + flippedRow(y, height) * w, src.get() + y * w, static_cast<size_t>(w));
}

void createBlankPage(int32_t pageNumber, JobSettings& job, const PageFiles& files, Log& log)
{
    const int64_t width = job.pageWidth;
    const int64_t height = job.pageHeight;
    const uint64_t stride = width > 0 ? bitRowBytes(width) : 0;
    const uint64_t bytes = height > 0 ? stride * static_cast<uint64_t>(height) : 0;
    PageBuffer bits = allocatePage(bytes);
    if (!bits) {
        log.printf("DEBUG:[RVT4410LW] failed to locate memory for blank page size=%llu\n",
                   static_cast<unsigned long long>(bytes));
        job.isCanceled = 1;
        return;
    }
    std::memset(bits.get(), 0, bytes);

    BmpFileHeader fileHeader;
    BmpInfoHeader infoHeader;
    BmpPalette palette;
    fillBmpHeaders(width, height, static_cast<uint64_t>(width), fileHeader, infoHeader, palette);
    const std::string path = files.pathFor(pageNumber);
    bmp_to_jbg(path.c_str(), bits.get(), fileHeader, infoHeader, palette);
}

}  // namespace rvt

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Page transforms: the left-to-right mirror, the top-to-bottom flip, and the
// blank back page of an odd two-sided job.
#pragma once

#include "page_buffer.h"

#include <cstdint>

namespace rvt {

class Log;
class PageFiles;
struct JobSettings;

// Both take `src` and release it, writing into the caller's `dst` (same size).
// A null `dst` is logged and sets job.isCanceled.
void mirrorGrayPage(PageBuffer src, uint8_t* dst, int32_t width, int32_t height, JobSettings& job,
                    Log& log);
void mirrorGrayPage1(PageBuffer src, uint8_t* dst, int32_t width, int32_t height, JobSettings& job,
                     Log& log);

// Writes the page file `pageNumber` of an all-white page of
// job.pageWidth x job.pageHeight.
void createBlankPage(int32_t pageNumber, JobSettings& job, const PageFiles& files, Log& log);

}  // namespace rvt

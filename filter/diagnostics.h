// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Developer dumps: capture a job's raster, and run a captured raster through
// the image steps writing every stage to a file ordinary viewers open.
#pragma once

#include <cstdio>
#include <string>

namespace rvt {

// Where a captured raster goes unless told otherwise.
inline constexpr const char* kRasterDumpPath = "/var/spool/cups/tmp/ras.prn";

// The largest page (width x height bytes) the bench run takes on.
inline constexpr long long kMaxBenchPageBytes = 1LL << 30;

// Copies the raster stream on descriptor `inFd` unchanged into `outPath`
// (created or truncated). Messages go to `out`. Returns 0 when the whole
// stream was copied, 1 otherwise.
int saveRaster(int inFd, const char* outPath, FILE* out);

// The bench run: reads the CUPS raster `rasterPath` page by page, prints each
// page header, and writes into `debugDir` the gray page (ras.pgm), the
// mirrored page (ras_mirror.pgm), the screened page at `imageDarkness_type`
// (ras.pbm) and its page file ("<debugDir>/-0001.jbig", ...). Progress goes to
// `out`, allocation failures to `err`. Returns 0 when every page went through,
// 1 when the raster could not be opened or holds no page, a page was refused (not one byte of
// gray per pixel, or absurdly large), or a step or dump failed.
int testRaster2JBIG(const char* rasterPath, const std::string& debugDir, int imageDarkness_type,
                    FILE* out, FILE* err);

}  // namespace rvt

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Where a job's raster pages come from: a CUPS raster stream in the filter,
// the rows the printer application's framework hands over, or the raster a
// document was rendered to. The page pipeline reads one page header, then the
// page's lines in order, then the next header; pages are read by one thread
// at a time, but not always the same thread.
#pragma once

#include <cstdint>
#include <cups/raster.h>
#include <string>

namespace rvt {

class PageSource {
public:
    virtual ~PageSource() = default;

    enum class Next {
        Page,     // `header` holds the next page's header
        End,      // the document has no more pages
        Refused,  // the next page header cannot be read: `refusal` says why
    };
    // Reads the next page header. Lines of the page before it that were not
    // read are skipped.
    virtual Next nextPage(cups_page_header2_t& header, std::string& refusal) = 0;

    // Reads the current page's next line, `bytes` bytes (its header's
    // cupsBytesPerLine). False when the document has no more data for it.
    virtual bool readLine(uint8_t* line, unsigned bytes) = 0;
};

// The pages of a CUPS raster stream (any version libcups reads: CUPS raster,
// PWG raster, Apple raster). `reader`, when given, is what `ras` reads
// through: a page header that libcups will not read is then a refused page,
// not the end of the document.
class RasterFileReader;
class CupsRasterPageSource final : public PageSource {
public:
    explicit CupsRasterPageSource(cups_raster_t* ras, const RasterFileReader* reader = nullptr)
        : ras_(ras), reader_(reader)
    {
    }
    Next nextPage(cups_page_header2_t& header, std::string& refusal) override;
    bool readLine(uint8_t* line, unsigned bytes) override;

private:
    cups_raster_t* ras_;
    const RasterFileReader* reader_;
};

}  // namespace rvt

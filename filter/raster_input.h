// The job's raster pages: which page headers the filter can print, and the
// rows of a page as the image steps take them (one byte of gray per pixel,
// 0 black, 255 white).
#pragma once

#include "page_buffer.h"

#include <cstdint>
#include <cups/raster.h>

namespace rvt {

class Log;

// The largest page the printer takes at 600 dpi: 9 x 14 inches (Letter,
// Legal and A4 fit with room to spare).
constexpr unsigned kMaxPageWidth = 5400;
constexpr unsigned kMaxPageHeight = 8400;

// True when the page is one the row reader can turn into gray, not empty and
// not larger than the printer's largest page. Otherwise logs why and returns
// false.
bool pageHeaderAcceptable(const cups_page_header2_t& header, Log& log);

// Reads the rows of one page, whose header pageHeaderAcceptable() accepted,
// and delivers each as cupsWidth bytes of gray.
class GrayRowReader {
public:
    GrayRowReader(cups_raster_t* ras, const cups_page_header2_t& header);

    // False when the row buffer could not be allocated; nothing can be read.
    bool ready() const { return line_ != nullptr; }

    // Reads the next row of the page into `gray` (cupsWidth bytes). False
    // when the raster has no more data: `gray` is then left as it was.
    bool readRow(uint8_t* gray);

private:
    cups_raster_t* ras_;
    const cups_page_header2_t& header_;
    PageBuffer line_;  // one raster line, cupsBytesPerLine bytes
};

}  // namespace rvt

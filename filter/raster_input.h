// The job's raster pages: which page headers the filter can print.
#pragma once

#include <cups/raster.h>

namespace rvt {

class Log;

// The largest page the printer takes at 600 dpi: 9 x 14 inches (Letter,
// Legal and A4 fit with room to spare).
constexpr unsigned kMaxPageWidth = 5400;
constexpr unsigned kMaxPageHeight = 8400;

// True when the page is one byte of gray per pixel (one channel of luminance,
// 0 black), not empty and not larger than the printer's largest page.
// Otherwise logs why and returns false.
bool pageHeaderAcceptable(const cups_page_header2_t& header, Log& log);

}  // namespace rvt

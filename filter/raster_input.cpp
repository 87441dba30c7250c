#include "raster_input.h"

#include "log.h"

#include <cstring>

namespace rvt {

bool pageHeaderAcceptable(const cups_page_header2_t& header, Log& log)
{
    if (header.cupsWidth == 0 || header.cupsHeight == 0) {
        log.printf("DEBUG: refusing an empty page (%u x %u pixels)\n", header.cupsWidth,
                   header.cupsHeight);
        return false;
    }
    if (header.cupsWidth > kMaxPageWidth || header.cupsHeight > kMaxPageHeight) {
        log.printf("DEBUG: refusing a page of %u x %u pixels: larger than %u x %u\n",
                   header.cupsWidth, header.cupsHeight, kMaxPageWidth, kMaxPageHeight);
        return false;
    }
    if (header.cupsBitsPerPixel != 8 || header.cupsBytesPerLine != header.cupsWidth) {
        log.printf("DEBUG: refusing a page of %u bits per pixel and %u bytes per line for "
                   "%u pixels: only one byte of gray per pixel is printed\n",
                   header.cupsBitsPerPixel, header.cupsBytesPerLine, header.cupsWidth);
        return false;
    }
    // A line of a banded or planar colour page is also one byte per pixel, and
    // a black (DeviceK) page has 0 for white: only one channel of luminance,
    // 0 black and 255 white, is the gray page the image steps take.
    if (header.cupsNumColors != 1 ||
        (header.cupsColorSpace != CUPS_CSPACE_W && header.cupsColorSpace != CUPS_CSPACE_SW)) {
        log.printf("DEBUG: refusing a page of %u colours in colour space %d: only gray with 0 "
                   "for black is printed\n",
                   header.cupsNumColors, static_cast<int>(header.cupsColorSpace));
        return false;
    }
    return true;
}

GrayRowReader::GrayRowReader(cups_raster_t* ras, const cups_page_header2_t& header)
    : ras_(ras), header_(header), line_(allocatePage(header.cupsBytesPerLine))
{
}

bool GrayRowReader::readRow(uint8_t* gray)
{
    if (!line_ || cupsRasterReadPixels(ras_, line_.get(), header_.cupsBytesPerLine) == 0)
        return false;
    std::memcpy(gray, line_.get(), header_.cupsWidth);
    return true;
}

}  // namespace rvt

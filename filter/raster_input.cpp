#include "raster_input.h"

#include "log.h"

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
    return true;
}

}  // namespace rvt

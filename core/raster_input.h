// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The job's raster pages: which page headers the filter can print, and the
// rows of a page as the image steps take them (one byte of gray per pixel,
// 0 black, 255 white), whatever gray or colour format the raster carries.
#pragma once

#include "page_buffer.h"

#include <cstdint>
#include <cstring>
#include <cups/raster.h>
#include <functional>
#include <string>

#include <memory>
#include <sys/types.h>

namespace rvt {

class Log;
class PageSource;

// The job's raster as libcups reads it from a descriptor, through a buffer:
// libcups asks for one raster line at a time, which would be one system call
// per row; this reads up to kBufferSize bytes at once and hands them out. The
// bytes and the end of the data are the same as reading the descriptor
// directly (a read interrupted by a signal is retried, as libcups does).
class RasterFileReader {
public:
    static constexpr size_t kBufferSize = 128 * 1024;

    explicit RasterFileReader(int fd);
    RasterFileReader(const RasterFileReader&) = delete;
    RasterFileReader& operator=(const RasterFileReader&) = delete;

    // A raster stream reading through this reader (null as cupsRasterOpen
    // gives it); the reader must outlive it.
    cups_raster_t* open();

    // Bytes handed to libcups so far.
    uint64_t delivered() const { return delivered_; }

    // Asked when libcups has just failed to read a page header: true when the
    // stream really ended there (its last request, a whole page header, found
    // the end of the data), false when the stream goes on or ended inside the
    // header, that is when libcups refused a header or could not read it.
    // libcups reports both as "no page"; a header it had already buffered
    // shows as a request for less than a whole header.
    bool endedBeforeHeader() const;

private:
    static ssize_t readCallback(void* ctx, unsigned char* data, size_t bytes);
    ssize_t read(unsigned char* data, size_t bytes);
    ssize_t readBuffered(unsigned char* data, size_t bytes);

    uint64_t delivered_ = 0;
    unsigned char sync_[4] = {};  // the stream's first four bytes
    size_t lastRequest_ = 0;
    ssize_t lastResult_ = 1;
    int fd_;
    std::unique_ptr<unsigned char[]> buffer_;  // null: every read goes to the descriptor
    size_t begin_ = 0;                         // the bytes not handed out yet
    size_t end_ = 0;
};

// An enum field of a page header as the file holds it. The header comes from
// the job's raster, so the field may hold any 32-bit value, and reading one
// outside its enumeration through the enum type is undefined.
template <typename Enum>
unsigned storedValue(const Enum& field)
{
    unsigned value;
    static_assert(sizeof value == sizeof field);
    std::memcpy(&value, &field, sizeof value);
    return value;
}

// The largest page the printer takes at 600 dpi: 9 x 14 inches (Letter,
// Legal and A4 fit with room to spare).
constexpr unsigned kMaxPageWidth = 5400;
constexpr unsigned kMaxPageHeight = 8400;

// How the samples of a raster line become gray.
//
// Accepted:
//   - one channel, 1, 2, 4, 8 or 16 bits per colour, any colour order (one
//     channel has one plane): W and sGray as they are (0 black), K inverted
//     (0 no ink);
//   - RGB, sRGB, AdobeRGB, RGBA (alpha ignored), RGBW (W 0 is true black),
//     CMY, YMC, CMYK, YMCK, KCMY and KCMYcm (as KCMY), 8 or 16 bits per
//     colour, chunked or banded.
// Samples of 16 bits come in the host's byte order (libcups swaps a raster
// written on a machine of the other order) and are reduced to 8 bits with
// rounding: (v + 128) / 257. Samples of 1, 2 and 4 bits are scaled to 0..255.
// Ink amounts become light as 255 - c - k per channel (at least 0). Colour
// becomes gray by the Rec. 601 luminance in integers, rounded to nearest:
// (299 R + 587 G + 114 B + 500) / 1000.
struct RasterFormat {
    enum class Model {
        Light,  // one channel, 0 black
        Ink,    // one channel, 0 white
        Rgb,    // light per channel; channel 3, if any, is alpha (ignored)
        Rgbw,   // light per channel; channel 3 is 0 for true black
        Cmy,    // ink per channel
        Cmyk,   // ink per channel, with black
    };
    Model model = Model::Light;
    unsigned channels = 1;
    unsigned bitsPerColor = 8;
    bool banded = false;  // a line holds all of one colour, then the next
    // Where red (or cyan), green (magenta), blue (yellow) and black are
    // among the channels of a pixel or the bands of a line.
    unsigned at[4] = {0, 1, 2, 3};
};

// Works out the format of a page. False, with the reason in plain words,
// when the filter cannot print it: an empty or oversized page, bits per
// colour other than 1, 2, 4, 8 and 16, bits per pixel or bytes per line that
// do not match the width and colour space, a planar colour page (its colours
// come one whole page after another: no row can be had before the last
// plane), an unknown colour space.
bool rasterFormatOf(const cups_page_header2_t& header, RasterFormat& format, std::string& reason);

// True when the page is one the row reader can turn into gray. Otherwise
// logs why ("DEBUG: refusing a page ...") and returns false; `reason`, when
// given, receives the reason in plain words for the user.
bool pageHeaderAcceptable(const cups_page_header2_t& header, Log& log,
                          std::string* reason = nullptr);

// Reads the rows of one page, whose header pageHeaderAcceptable() accepted,
// and delivers each as cupsWidth bytes of gray.
class GrayRowReader {
public:
    // Reads `bytes` bytes, one raster line; false when no more data comes.
    using LineReader = std::function<bool(uint8_t* line, unsigned bytes)>;

    GrayRowReader(cups_raster_t* ras, const cups_page_header2_t& header);
    GrayRowReader(PageSource& source, const cups_page_header2_t& header);
    GrayRowReader(LineReader readLine, const cups_page_header2_t& header);

    // False when the row buffer could not be allocated (or the page is not
    // one the filter prints); nothing can be read.
    bool ready() const { return line_ != nullptr; }

    // Reads the next row of the page into `gray` (cupsWidth bytes). False
    // when the raster has no more data: `gray` is then left as it was, or,
    // when the raster ends within the row, holds part of it.
    bool readRow(uint8_t* gray);

private:
    LineReader readLine_;
    const cups_page_header2_t& header_;
    RasterFormat format_;
    PageBuffer line_;  // one raster line, cupsBytesPerLine bytes
};

// Turns one raster line of `format` into `width` bytes of gray.
void convertLineToGray(const RasterFormat& format, const uint8_t* line, uint32_t width,
                       uint32_t bytesPerLine, uint8_t* gray);

}  // namespace rvt

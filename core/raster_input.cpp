// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "raster_input.h"

#include "page_source.h"

#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

namespace rvt {

namespace {

struct ColourSpace {
    cups_cspace_t space;
    const char* name;
    RasterFormat::Model model;
    unsigned channels;
    unsigned at[4];  // channel of red/cyan, green/magenta, blue/yellow, black
};

// Every colour space the filter prints; any other is refused.
constexpr ColourSpace kColourSpaces[] = {
    {CUPS_CSPACE_W, "W", RasterFormat::Model::Light, 1, {0, 0, 0, 0}},
    {CUPS_CSPACE_SW, "sGray", RasterFormat::Model::Light, 1, {0, 0, 0, 0}},
    {CUPS_CSPACE_K, "K", RasterFormat::Model::Ink, 1, {0, 0, 0, 0}},
    {CUPS_CSPACE_RGB, "RGB", RasterFormat::Model::Rgb, 3, {0, 1, 2, 0}},
    {CUPS_CSPACE_SRGB, "sRGB", RasterFormat::Model::Rgb, 3, {0, 1, 2, 0}},
    {CUPS_CSPACE_ADOBERGB, "AdobeRGB", RasterFormat::Model::Rgb, 3, {0, 1, 2, 0}},
    {CUPS_CSPACE_RGBA, "RGBA", RasterFormat::Model::Rgb, 4, {0, 1, 2, 3}},
    {CUPS_CSPACE_RGBW, "RGBW", RasterFormat::Model::Rgbw, 4, {0, 1, 2, 3}},
    {CUPS_CSPACE_CMY, "CMY", RasterFormat::Model::Cmy, 3, {0, 1, 2, 0}},
    {CUPS_CSPACE_YMC, "YMC", RasterFormat::Model::Cmy, 3, {2, 1, 0, 0}},
    {CUPS_CSPACE_CMYK, "CMYK", RasterFormat::Model::Cmyk, 4, {0, 1, 2, 3}},
    {CUPS_CSPACE_YMCK, "YMCK", RasterFormat::Model::Cmyk, 4, {2, 1, 0, 3}},
    {CUPS_CSPACE_KCMY, "KCMY", RasterFormat::Model::Cmyk, 4, {1, 2, 3, 0}},
    // Six planes only at one bit per colour (refused below); KCMY otherwise.
    {CUPS_CSPACE_KCMYcm, "KCMYcm", RasterFormat::Model::Cmyk, 4, {1, 2, 3, 0}},
};

const ColourSpace* colourSpaceOf(unsigned space)
{
    for (const ColourSpace& c : kColourSpaces)
        if (static_cast<unsigned>(c.space) == space)
            return &c;
    return nullptr;
}

std::string format(const char* fmt, auto... args)
{
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

inline uint8_t luminance(unsigned r, unsigned g, unsigned b)
{
    return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

inline unsigned light(unsigned ink, unsigned black)
{
    return ink + black >= 255 ? 0 : 255 - ink - black;
}

// Sample `channel` of pixel `x`, as 0..255.
inline unsigned sample(const RasterFormat& f, const uint8_t* line, uint32_t x, unsigned channel,
                       uint32_t bandBytes)
{
    switch (f.bitsPerColor) {
    case 8:
        return f.banded ? line[channel * bandBytes + x] : line[x * f.channels + channel];
    case 16: {
        const size_t offset = f.banded ? channel * bandBytes + 2 * size_t(x)
                                       : (size_t(x) * f.channels + channel) * 2;
        uint16_t v;
        std::memcpy(&v, line + offset, 2);
        return (v + 128u) / 257u;
    }
    default: {
        // One channel of 1, 2 or 4 bits, most significant bits first.
        const unsigned bits = f.bitsPerColor;
        const unsigned max = (1u << bits) - 1;
        const size_t bit = size_t(x) * bits;
        const unsigned v = (line[bit / 8] >> (8 - bits - bit % 8)) & max;
        return v * 255 / max;
    }
    }
}

}  // namespace

bool rasterFormatOf(const cups_page_header2_t& h, RasterFormat& f, std::string& reason)
{
    if (h.cupsWidth == 0 || h.cupsHeight == 0) {
        reason = format("the page is empty (%u x %u pixels)", h.cupsWidth, h.cupsHeight);
        return false;
    }
    if (h.cupsWidth > kMaxPageWidth || h.cupsHeight > kMaxPageHeight) {
        reason = format("the page of %u x %u pixels is larger than the printer's largest "
                        "(%u x %u)",
                        h.cupsWidth, h.cupsHeight, kMaxPageWidth, kMaxPageHeight);
        return false;
    }
    const ColourSpace* space = colourSpaceOf(storedValue(h.cupsColorSpace));
    if (!space) {
        reason = format("colour space %u is not one the filter prints",
                        storedValue(h.cupsColorSpace));
        return false;
    }
    const unsigned bpc = h.cupsBitsPerColor;
    if (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16) {
        reason = format("%u bits per colour (only 1, 2, 4, 8 and 16 are read)", bpc);
        return false;
    }
    if (space->channels > 1 && bpc < 8) {
        reason = format("%s at %u bits per colour (colour is read at 8 and 16 bits)", space->name,
                        bpc);
        return false;
    }
    if (h.cupsNumColors != 0 && h.cupsNumColors != space->channels) {
        reason = format("%u colours declared for colour space %s, which has %u", h.cupsNumColors,
                        space->name, space->channels);
        return false;
    }
    const bool oneChannel = space->channels == 1;
    const unsigned order = storedValue(h.cupsColorOrder);
    if (!oneChannel && order == CUPS_ORDER_PLANAR) {
        reason = "a planar colour page sends each colour as a whole page after the other, "
                 "so its rows cannot be read in order";
        return false;
    }
    if (order != CUPS_ORDER_CHUNKED && order != CUPS_ORDER_BANDED && order != CUPS_ORDER_PLANAR) {
        reason = format("colour order %u is unknown", order);
        return false;
    }
    const bool banded = !oneChannel && order == CUPS_ORDER_BANDED;
    // A chunked pixel holds all its colours; a band or plane holds one.
    const unsigned bitsPerPixel = banded || oneChannel ? bpc : bpc * space->channels;
    if (h.cupsBitsPerPixel != bitsPerPixel) {
        reason = format("%u bits per pixel for %u bits per colour in colour space %s "
                        "(expected %u)",
                        h.cupsBitsPerPixel, bpc, space->name, bitsPerPixel);
        return false;
    }
    const uint64_t rowBytes = (uint64_t(h.cupsWidth) * bitsPerPixel + 7) / 8;
    const uint64_t lineBytes = banded ? rowBytes * space->channels : rowBytes;
    if (h.cupsBytesPerLine != lineBytes) {
        reason = format("%u bytes per line for %u pixels of %u bits (expected %u)",
                        h.cupsBytesPerLine, h.cupsWidth, bitsPerPixel, unsigned(lineBytes));
        return false;
    }
    f.model = space->model;
    f.channels = space->channels;
    f.bitsPerColor = bpc;
    f.banded = banded;
    std::memcpy(f.at, space->at, sizeof f.at);
    return true;
}

bool pageHeaderAcceptable(const cups_page_header2_t& header, Log& log, std::string* reason)
{
    RasterFormat f;
    std::string why;
    if (rasterFormatOf(header, f, why))
        return true;
    log.printf("DEBUG: refusing a page of %u x %u pixels, %u bits per colour, %u bits per pixel, "
               "%u bytes per line, colour space %u, colour order %u: %s\n",
               header.cupsWidth, header.cupsHeight, header.cupsBitsPerColor,
               header.cupsBitsPerPixel, header.cupsBytesPerLine, storedValue(header.cupsColorSpace),
               storedValue(header.cupsColorOrder), why.c_str());
    if (reason)
        *reason = "The page cannot be printed: " + why;
    return false;
}

void convertLineToGray(const RasterFormat& f, const uint8_t* line, uint32_t width,
                       uint32_t bytesPerLine, uint8_t* gray)
{
    // The common cases first, byte for byte.
    if (f.bitsPerColor == 8 && f.channels == 1) {
        if (f.model == RasterFormat::Model::Light) {
            std::memcpy(gray, line, width);
        } else {
            for (uint32_t x = 0; x < width; ++x)
                gray[x] = static_cast<uint8_t>(255 - line[x]);
        }
        return;
    }
    const uint32_t bandBytes = f.banded ? bytesPerLine / f.channels : 0;
    for (uint32_t x = 0; x < width; ++x) {
        auto s = [&](unsigned which) { return sample(f, line, x, f.at[which], bandBytes); };
        unsigned g = 0;
        switch (f.model) {
        case RasterFormat::Model::Light:
            g = s(0);
            break;
        case RasterFormat::Model::Ink:
            g = 255 - s(0);
            break;
        case RasterFormat::Model::Rgb:
            g = luminance(s(0), s(1), s(2));
            break;
        case RasterFormat::Model::Rgbw:
            g = luminance(s(0), s(1), s(2)) * s(3) / 255;
            break;
        case RasterFormat::Model::Cmy:
            g = luminance(255 - s(0), 255 - s(1), 255 - s(2));
            break;
        case RasterFormat::Model::Cmyk: {
            const unsigned k = s(3);
            g = luminance(light(s(0), k), light(s(1), k), light(s(2), k));
            break;
        }
        }
        gray[x] = static_cast<uint8_t>(g);
    }
}

namespace {

// read(2) as libcups calls it on a raster descriptor.
ssize_t readDescriptor(int fd, unsigned char* data, size_t bytes)
{
    ssize_t count;
    while ((count = ::read(fd, data, bytes)) < 0)
        if (errno != EINTR && errno != EAGAIN)
            return -1;
    return count;
}

}  // namespace

RasterFileReader::RasterFileReader(int fd)
    : fd_(fd), buffer_(new (std::nothrow) unsigned char[kBufferSize])
{
}

cups_raster_t* RasterFileReader::open()
{
    return cupsRasterOpenIO(&RasterFileReader::readCallback, this, CUPS_RASTER_READ);
}

ssize_t RasterFileReader::readCallback(void* ctx, unsigned char* data, size_t bytes)
{
    return static_cast<RasterFileReader*>(ctx)->read(data, bytes);
}

ssize_t RasterFileReader::read(unsigned char* data, size_t bytes)
{
    const ssize_t n = readBuffered(data, bytes);
    lastRequest_ = bytes;
    lastResult_ = n;
    if (n > 0) {
        for (uint64_t i = delivered_; i < sizeof sync_ && i - delivered_ < uint64_t(n); ++i)
            sync_[i] = data[i - delivered_];
        delivered_ += static_cast<uint64_t>(n);
    }
    return n;
}

bool RasterFileReader::endedBeforeHeader() const
{
    // The size of a page header as libcups reads it for the stream's version.
    uint32_t sync;
    std::memcpy(&sync, sync_, sizeof sync);
    size_t header = sizeof(cups_page_header2_t);
    if (sync == CUPS_RASTER_SYNCv1 || sync == CUPS_RASTER_REVSYNCv1)
        header = sizeof(cups_page_header_t);
    else if (sync == CUPS_RASTER_SYNCapple || sync == CUPS_RASTER_REVSYNCapple)
        header = 32;
    return lastResult_ == 0 && lastRequest_ == header;
}

ssize_t RasterFileReader::readBuffered(unsigned char* data, size_t bytes)
{
    if (begin_ == end_) {
        // A request as large as the buffer goes straight to the descriptor.
        if (!buffer_ || bytes >= kBufferSize)
            return readDescriptor(fd_, data, bytes);
        const ssize_t count = readDescriptor(fd_, buffer_.get(), kBufferSize);
        if (count <= 0)
            return count;
        begin_ = 0;
        end_ = static_cast<size_t>(count);
    }
    const size_t n = std::min(bytes, end_ - begin_);
    std::memcpy(data, buffer_.get() + begin_, n);
    begin_ += n;
    return static_cast<ssize_t>(n);
}

PageSource::Next CupsRasterPageSource::nextPage(cups_page_header2_t& header, std::string& refusal)
{
    if (cupsRasterReadHeader2(ras_, &header))
        return Next::Page;
    // The same answer for the end of the raster and for a header libcups
    // will not read: the reader tells them apart.
    if (!reader_ || reader_->endedBeforeHeader())
        return Next::End;
    // libcups' reasons, one a line (they may gather over the job).
    std::string why = cupsRasterErrorString() ? cupsRasterErrorString() : "";
    while (!why.empty() && why.back() == '\n')
        why.pop_back();
    why = why.substr(why.rfind('\n') == std::string::npos ? 0 : why.rfind('\n') + 1);
    refusal = "The raster of the document has a page header that cannot be read";
    if (!why.empty()) {
        refusal += " (";
        refusal += why;
        refusal += ')';
    }
    return Next::Refused;
}

bool CupsRasterPageSource::readLine(uint8_t* line, unsigned bytes)
{
    return cupsRasterReadPixels(ras_, line, bytes) != 0;
}

GrayRowReader::GrayRowReader(cups_raster_t* ras, const cups_page_header2_t& header)
    : GrayRowReader([ras](uint8_t* line,
                          unsigned bytes) { return cupsRasterReadPixels(ras, line, bytes) != 0; },
                    header)
{
}

GrayRowReader::GrayRowReader(PageSource& source, const cups_page_header2_t& header)
    : GrayRowReader(
          [&source](uint8_t* line, unsigned bytes) { return source.readLine(line, bytes); }, header)
{
}

GrayRowReader::GrayRowReader(LineReader readLine, const cups_page_header2_t& header)
    : readLine_(std::move(readLine)), header_(header)
{
    std::string reason;
    if (rasterFormatOf(header, format_, reason))
        line_ = allocatePage(header.cupsBytesPerLine);
}

bool GrayRowReader::readRow(uint8_t* gray)
{
    if (!line_)
        return false;
    // 8-bit gray as the printer takes it: the line is the gray row itself.
    if (format_.bitsPerColor == 8 && format_.channels == 1 &&
        format_.model == RasterFormat::Model::Light)
        return readLine_(gray, header_.cupsBytesPerLine);
    if (!readLine_(line_.get(), header_.cupsBytesPerLine))
        return false;
    convertLineToGray(format_, line_.get(), header_.cupsWidth, header_.cupsBytesPerLine, gray);
    return true;
}

}  // namespace rvt

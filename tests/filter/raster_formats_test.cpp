// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Every raster format the scheduler may hand over, written with libcups and
// read back through the row reader as gray; the headers it refuses.
#include "memory_log.h"
#include "raster_input.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace rvt::test {
namespace {

constexpr unsigned kWidth = 37;  // not a whole number of bytes at 1, 2 and 4 bits
constexpr unsigned kHeight = 5;

// One pixel of a test page: its samples in the raster's channel order, at
// the raster's bits per colour, and the gray it must read as.
struct Pixel {
    std::vector<unsigned> samples;
    unsigned gray;
};

struct FormatCase {
    const char* name;
    cups_cspace_t space;
    unsigned bitsPerColor;
    cups_order_t order;
    // The pixels of the page, used in turn along each row.
    std::vector<Pixel> palette;
};

// A raster file in the temp directory, removed at the end of the test.
class RasterFile {
public:
    RasterFile()
    {
        char name[] = "/tmp/rvt-raster-format-XXXXXX";
        fd_ = mkstemp(name);
        path_ = name;
    }
    ~RasterFile()
    {
        close(fd_);
        unlink(path_.c_str());
    }
    int fd() const { return fd_; }
    void rewind() const { lseek(fd_, 0, SEEK_SET); }

private:
    int fd_ = -1;
    std::string path_;
};

unsigned channelsOf(cups_cspace_t space)
{
    switch (space) {
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_SW:
    case CUPS_CSPACE_K:
        return 1;
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_ADOBERGB:
    case CUPS_CSPACE_CMY:
    case CUPS_CSPACE_YMC:
        return 3;
    default:
        return 4;
    }
}

// Packs one row as the raster carries it: chunked pixels, or one band per
// colour; samples of less than a byte most significant bits first; 16-bit
// samples in the host's order.
std::vector<uint8_t> packRow(const FormatCase& c, unsigned y, unsigned bytesPerLine)
{
    const unsigned n = channelsOf(c.space);
    const unsigned bpc = c.bitsPerColor;
    const bool banded = n > 1 && c.order == CUPS_ORDER_BANDED;
    std::vector<uint8_t> row(bytesPerLine, 0);
    for (unsigned x = 0; x < kWidth; ++x) {
        const Pixel& p = c.palette[(x + y) % c.palette.size()];
        for (unsigned ch = 0; ch < n; ++ch) {
            const unsigned v = p.samples[ch];
            const size_t index = banded ? size_t(ch) * kWidth + x : size_t(x) * n + ch;
            if (bpc == 16) {
                const uint16_t v16 = static_cast<uint16_t>(v);
                std::memcpy(row.data() + 2 * index, &v16, 2);
            } else if (bpc == 8) {
                row[index] = static_cast<uint8_t>(v);
            } else {
                const size_t bit = index * bpc;
                row[bit / 8] |= static_cast<uint8_t>(v << (8 - bpc - bit % 8));
            }
        }
    }
    return row;
}

cups_page_header2_t headerFor(const FormatCase& c)
{
    const unsigned n = channelsOf(c.space);
    cups_page_header2_t h{};
    h.HWResolution[0] = h.HWResolution[1] = 600;
    h.cupsWidth = kWidth;
    h.cupsHeight = kHeight;
    h.cupsColorSpace = c.space;
    h.cupsColorOrder = c.order;
    h.cupsBitsPerColor = c.bitsPerColor;
    h.cupsNumColors = n;
    const bool chunkedColour = n > 1 && c.order == CUPS_ORDER_CHUNKED;
    h.cupsBitsPerPixel = chunkedColour ? c.bitsPerColor * n : c.bitsPerColor;
    const unsigned rowBytes = (kWidth * h.cupsBitsPerPixel + 7) / 8;
    h.cupsBytesPerLine = n > 1 && c.order == CUPS_ORDER_BANDED ? rowBytes * n : rowBytes;
    return h;
}

class RasterFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RasterFormatTest, ReadsAsGray)
{
    const FormatCase& c = GetParam();
    RasterFile file;
    cups_page_header2_t written = headerFor(c);
    {
        cups_raster_t* out = cupsRasterOpen(file.fd(), CUPS_RASTER_WRITE);
        ASSERT_TRUE(cupsRasterWriteHeader2(out, &written));
        for (unsigned y = 0; y < kHeight; ++y) {
            std::vector<uint8_t> row = packRow(c, y, written.cupsBytesPerLine);
            ASSERT_EQ(cupsRasterWritePixels(out, row.data(), written.cupsBytesPerLine),
                      written.cupsBytesPerLine);
        }
        cupsRasterClose(out);
    }
    file.rewind();
    cups_raster_t* in = cupsRasterOpen(file.fd(), CUPS_RASTER_READ);
    cups_page_header2_t header;
    ASSERT_TRUE(cupsRasterReadHeader2(in, &header));
    MemoryLog log;
    ASSERT_TRUE(pageHeaderAcceptable(header, log.log())) << log.text();
    GrayRowReader rows(in, header);
    ASSERT_TRUE(rows.ready());
    for (unsigned y = 0; y < kHeight; ++y) {
        std::vector<uint8_t> gray(kWidth, 77);
        ASSERT_TRUE(rows.readRow(gray.data())) << "row " << y;
        for (unsigned x = 0; x < kWidth; ++x)
            ASSERT_EQ(gray[x], c.palette[(x + y) % c.palette.size()].gray)
                << "pixel " << x << ", row " << y;
    }
    std::vector<uint8_t> past(kWidth, 77);
    EXPECT_FALSE(rows.readRow(past.data()));
    EXPECT_EQ(past, std::vector<uint8_t>(kWidth, 77));
    cupsRasterClose(in);
}

// Reference values of the Rec. 601 luminance, (299 R + 587 G + 114 B + 500) / 1000.
const std::vector<Pixel> kRgb8 = {
    {{255, 0, 0}, 76}, {{0, 255, 0}, 150},     {{0, 0, 255}, 29},     {{255, 255, 255}, 255},
    {{0, 0, 0}, 0},    {{128, 128, 128}, 128}, {{200, 100, 50}, 124},
};

std::vector<Pixel> scaled16(const std::vector<Pixel>& eight)
{
    std::vector<Pixel> out = eight;
    for (Pixel& p : out)
        for (unsigned& s : p.samples)
            s *= 257;
    return out;
}

std::vector<Pixel> reversed(const std::vector<Pixel>& in)
{
    std::vector<Pixel> out = in;
    for (Pixel& p : out)
        std::reverse(p.samples.begin(), p.samples.end());
    return out;
}

std::vector<Pixel> inks(const std::vector<Pixel>& rgb)
{
    std::vector<Pixel> out = rgb;
    for (Pixel& p : out)
        for (unsigned& s : p.samples)
            s = 255 - s;
    return out;
}

// C M Y K: pure inks, black alone and black under cyan; light = 255 - ink - black.
const std::vector<Pixel> kCmyk8 = {
    {{0, 0, 0, 0}, 255},    {{0, 0, 0, 255}, 0},     {{255, 0, 0, 0}, 179},   {{0, 0, 0, 100}, 155},
    {{50, 0, 0, 100}, 140}, {{200, 0, 0, 100}, 109}, {{255, 255, 255, 0}, 0},
};

std::vector<Pixel> kcmy(const std::vector<Pixel>& cmyk)
{
    std::vector<Pixel> out = cmyk;
    for (Pixel& p : out)
        p.samples = {p.samples[3], p.samples[0], p.samples[1], p.samples[2]};
    return out;
}

std::vector<Pixel> ymck(const std::vector<Pixel>& cmyk)
{
    std::vector<Pixel> out = cmyk;
    for (Pixel& p : out)
        p.samples = {p.samples[2], p.samples[1], p.samples[0], p.samples[3]};
    return out;
}

// Gray at 16 bits: levels between two 8-bit levels round to the nearer.
const std::vector<Pixel> kGray16 = {
    {{0}, 0},
    {{65535}, 255},
    {{128}, 0},
    {{129}, 1},
    {{100 * 257 - 100}, 100},
    {{100 * 257 + 128}, 100},
    {{100 * 257 + 129}, 101},
};

std::vector<Pixel> grayRamp(bool ink)
{
    std::vector<Pixel> out;
    for (unsigned g = 0; g < 256; g += 17)
        out.push_back({{ink ? 255 - g : g}, g});
    out.push_back({{ink ? 255u - 1 : 1u}, 1});
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RasterFormatTest,
    ::testing::Values(
        FormatCase{"W8", CUPS_CSPACE_W, 8, CUPS_ORDER_CHUNKED, grayRamp(false)},
        FormatCase{"SGray8", CUPS_CSPACE_SW, 8, CUPS_ORDER_CHUNKED, grayRamp(false)},
        FormatCase{"K8Inverted", CUPS_CSPACE_K, 8, CUPS_ORDER_CHUNKED, grayRamp(true)},
        FormatCase{"W1OneIsWhite",
                   CUPS_CSPACE_W,
                   1,
                   CUPS_ORDER_CHUNKED,
                   {{{1}, 255}, {{0}, 0}, {{0}, 0}, {{1}, 255}, {{1}, 255}}},
        FormatCase{"SGray1OneIsWhite",
                   CUPS_CSPACE_SW,
                   1,
                   CUPS_ORDER_CHUNKED,
                   {{{0}, 0}, {{1}, 255}, {{1}, 255}}},
        FormatCase{"K1OneIsBlack",
                   CUPS_CSPACE_K,
                   1,
                   CUPS_ORDER_CHUNKED,
                   {{{1}, 0}, {{0}, 255}, {{0}, 255}, {{1}, 0}, {{0}, 255}}},
        FormatCase{"W2",
                   CUPS_CSPACE_W,
                   2,
                   CUPS_ORDER_CHUNKED,
                   {{{0}, 0}, {{1}, 85}, {{2}, 170}, {{3}, 255}, {{2}, 170}}},
        FormatCase{"K4",
                   CUPS_CSPACE_K,
                   4,
                   CUPS_ORDER_CHUNKED,
                   {{{0}, 255}, {{15}, 0}, {{5}, 170}, {{1}, 238}}},
        FormatCase{"W16", CUPS_CSPACE_W, 16, CUPS_ORDER_CHUNKED, kGray16},
        FormatCase{"K16",
                   CUPS_CSPACE_K,
                   16,
                   CUPS_ORDER_CHUNKED,
                   {{{0}, 255}, {{65535}, 0}, {{100 * 257}, 155}}},
        // One channel has one plane: every colour order is the same line.
        FormatCase{"SGray8Planar", CUPS_CSPACE_SW, 8, CUPS_ORDER_PLANAR, grayRamp(false)},
        FormatCase{"K8Banded", CUPS_CSPACE_K, 8, CUPS_ORDER_BANDED, grayRamp(true)},
        FormatCase{"RGB8", CUPS_CSPACE_RGB, 8, CUPS_ORDER_CHUNKED, kRgb8},
        FormatCase{"SRGB8", CUPS_CSPACE_SRGB, 8, CUPS_ORDER_CHUNKED, kRgb8},
        FormatCase{"AdobeRGB16", CUPS_CSPACE_ADOBERGB, 16, CUPS_ORDER_CHUNKED, scaled16(kRgb8)},
        FormatCase{"RGB8Banded", CUPS_CSPACE_RGB, 8, CUPS_ORDER_BANDED, kRgb8},
        FormatCase{"SRGB16Banded", CUPS_CSPACE_SRGB, 16, CUPS_ORDER_BANDED, scaled16(kRgb8)},
        FormatCase{"RGBAAlphaIgnored",
                   CUPS_CSPACE_RGBA,
                   8,
                   CUPS_ORDER_CHUNKED,
                   {{{255, 0, 0, 0}, 76}, {{0, 255, 0, 255}, 150}, {{200, 100, 50, 9}, 124}}},
        FormatCase{"RGBWZeroIsTrueBlack",
                   CUPS_CSPACE_RGBW,
                   8,
                   CUPS_ORDER_CHUNKED,
                   {{{255, 255, 255, 0}, 0}, {{255, 0, 0, 255}, 76}, {{255, 255, 255, 255}, 255}}},
        FormatCase{"CMY8", CUPS_CSPACE_CMY, 8, CUPS_ORDER_CHUNKED, inks(kRgb8)},
        FormatCase{"YMC8", CUPS_CSPACE_YMC, 8, CUPS_ORDER_CHUNKED, reversed(inks(kRgb8))},
        FormatCase{"CMYK8", CUPS_CSPACE_CMYK, 8, CUPS_ORDER_CHUNKED, kCmyk8},
        FormatCase{"CMYK16Banded", CUPS_CSPACE_CMYK, 16, CUPS_ORDER_BANDED, scaled16(kCmyk8)},
        FormatCase{"KCMY8", CUPS_CSPACE_KCMY, 8, CUPS_ORDER_CHUNKED, kcmy(kCmyk8)},
        FormatCase{"YMCK8Banded", CUPS_CSPACE_YMCK, 8, CUPS_ORDER_BANDED, ymck(kCmyk8)}),
    [](const auto& info) { return std::string(info.param.name); });

// A raster written on a machine of the other byte order: libcups swaps the
// header and the 16-bit samples, so the reader sees host-order values.
TEST(RasterFormatByteOrderTest, SixteenBitSamplesOfTheOtherByteOrder)
{
    cups_page_header2_t h{};
    h.cupsWidth = 4;
    h.cupsHeight = 1;
    h.cupsBitsPerColor = 16;
    h.cupsBitsPerPixel = 16;
    h.cupsBytesPerLine = 8;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsNumColors = 1;
    const bool littleEndian = [] {
        const uint16_t one = 1;
        uint8_t first;
        std::memcpy(&first, &one, 1);
        return first == 1;
    }();
    // The numeric fields from AdvanceDistance up to cupsReal are 32-bit words.
    unsigned char bytes[sizeof h];
    std::memcpy(bytes, &h, sizeof h);
    auto swapWords = [](unsigned char* p, size_t words) {
        for (size_t i = 0; i < words; ++i, p += 4) {
            std::swap(p[0], p[3]);
            std::swap(p[1], p[2]);
        }
    };
    swapWords(bytes + offsetof(cups_page_header2_t, AdvanceDistance),
              (offsetof(cups_page_header2_t, cupsString) -
               offsetof(cups_page_header2_t, AdvanceDistance)) /
                  4);
    // "RaS3" as the other machine wrote it, then the samples in its order.
    std::string stream = littleEndian ? "RaS3" : "3SaR";
    stream.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
    const uint16_t levels[4] = {0, 65535, 100 * 257, 0x0102};
    for (uint16_t v : levels) {
        stream.push_back(static_cast<char>(v >> 8));
        stream.push_back(static_cast<char>(v & 0xff));
    }
    RasterFile file;
    ASSERT_EQ(write(file.fd(), stream.data(), stream.size()), ssize_t(stream.size()));
    file.rewind();
    cups_raster_t* in = cupsRasterOpen(file.fd(), CUPS_RASTER_READ);
    cups_page_header2_t header;
    ASSERT_TRUE(cupsRasterReadHeader2(in, &header));
    ASSERT_EQ(header.cupsWidth, 4u);
    MemoryLog log;
    ASSERT_TRUE(pageHeaderAcceptable(header, log.log())) << log.text();
    GrayRowReader rows(in, header);
    uint8_t gray[4];
    ASSERT_TRUE(rows.readRow(gray));
    // 0x0102 = 258 reads as 1; swapped by mistake it would be 0x0201 = 513, read as 2.
    EXPECT_EQ(std::vector<uint8_t>(gray, gray + 4), (std::vector<uint8_t>{0, 255, 100, 1}));
    cupsRasterClose(in);
}

struct RefusalCase {
    const char* name;
    unsigned width;
    unsigned height;
    int space;
    unsigned bitsPerColor;
    unsigned bitsPerPixel;
    unsigned bytesPerLine;
    int order;
    unsigned numColors;
    const char* reason;  // part of the reason given
};

class RasterRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RasterRefusalTest, RefusedWithAReasonAndNeverRead)
{
    const RefusalCase& c = GetParam();
    cups_page_header2_t h{};
    h.cupsWidth = c.width;
    h.cupsHeight = c.height;
    h.cupsColorSpace = static_cast<cups_cspace_t>(c.space);
    h.cupsBitsPerColor = c.bitsPerColor;
    h.cupsBitsPerPixel = c.bitsPerPixel;
    h.cupsBytesPerLine = c.bytesPerLine;
    h.cupsColorOrder = static_cast<cups_order_t>(c.order);
    h.cupsNumColors = c.numColors;
    MemoryLog log;
    std::string reason;
    EXPECT_FALSE(pageHeaderAcceptable(h, log.log(), &reason));
    EXPECT_EQ(log.text().rfind("DEBUG: refusing a page", 0), 0u) << log.text();
    EXPECT_NE(log.text().find(c.reason), std::string::npos) << log.text();
    EXPECT_EQ(reason.rfind("The page cannot be printed: ", 0), 0u) << reason;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    // A reader made for such a page anyway reads nothing.
    GrayRowReader rows(nullptr, h);
    EXPECT_FALSE(rows.ready());
    uint8_t row[8] = {};
    EXPECT_FALSE(rows.readRow(row));
}

constexpr int kW = CUPS_CSPACE_W, kSW = CUPS_CSPACE_SW, kRGB = CUPS_CSPACE_RGB;
constexpr int kChunked = CUPS_ORDER_CHUNKED, kBanded = CUPS_ORDER_BANDED,
              kPlanar = CUPS_ORDER_PLANAR;

INSTANTIATE_TEST_SUITE_P(
    Headers, RasterRefusalTest,
    ::testing::Values(
        RefusalCase{"ZeroWidth", 0, 10, kSW, 8, 8, 0, kChunked, 1, "empty"},
        RefusalCase{"ZeroHeight", 10, 0, kSW, 8, 8, 10, kChunked, 1, "empty"},
        RefusalCase{"TooWide", 5401, 10, kSW, 8, 8, 5401, kChunked, 1, "larger than"},
        RefusalCase{"TooHigh", 10, 8401, kSW, 8, 8, 10, kChunked, 1, "larger than"},
        RefusalCase{"Huge", 4294967295u, 4294967295u, kSW, 8, 8, 4294967295u, kChunked, 1,
                    "larger than"},
        RefusalCase{"ThreeBits", 10, 10, kW, 3, 3, 4, kChunked, 1, "3 bits per colour"},
        RefusalCase{"ZeroBits", 10, 10, kW, 0, 0, 0, kChunked, 1, "0 bits per colour"},
        RefusalCase{"ThirtyTwoBits", 10, 10, kW, 32, 32, 40, kChunked, 1, "32 bits per colour"},
        RefusalCase{"OneBitColour", 10, 10, kRGB, 1, 4, 5, kChunked, 3, "RGB at 1 bits"},
        RefusalCase{"PlanarColour", 10, 10, kRGB, 8, 8, 10, kPlanar, 3, "planar"},
        RefusalCase{"UnknownOrder", 10, 10, kRGB, 8, 24, 30, 7, 3, "colour order 7"},
        RefusalCase{"LineOneByteLonger", 4960, 10, kSW, 8, 8, 4961, kChunked, 1,
                    "4961 bytes per line"},
        RefusalCase{"LineTooShortFor16Bits", 100, 10, kSW, 16, 16, 100, kChunked, 1,
                    "100 bytes per line"},
        RefusalCase{"OneBitLineNotRoundedUp", 13, 10, kW, 1, 1, 1, kChunked, 1, "1 bytes per line"},
        RefusalCase{"BandedLineOfOneBand", 10, 10, kRGB, 8, 8, 10, kBanded, 3, "10 bytes per line"},
        RefusalCase{"ChunkedRgbOneBytePerPixel", 10, 10, kRGB, 8, 8, 10, kChunked, 3,
                    "8 bits per pixel"},
        RefusalCase{"GrayWithThreeColours", 10, 10, kSW, 8, 8, 10, kChunked, 3, "3 colours"},
        RefusalCase{"CieLab", 10, 10, CUPS_CSPACE_CIELab, 8, 24, 30, kChunked, 3,
                    "colour space 16"},
        RefusalCase{"Icc3", 10, 10, CUPS_CSPACE_ICC3, 8, 24, 30, kChunked, 3, "colour space 34"},
        RefusalCase{"DeviceN", 10, 10, CUPS_CSPACE_DEVICE1, 8, 8, 10, kChunked, 1,
                    "colour space 48"},
        RefusalCase{"Gold", 10, 10, CUPS_CSPACE_GOLD, 8, 8, 10, kChunked, 1, "colour space 13"},
        RefusalCase{"Unknown", 10, 10, 99, 8, 8, 10, kChunked, 1, "colour space 99"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every row of every page of the raster in `fd` (from its start), as the
// filter reads them, buffered or not; a row that cannot be read ends it.
std::vector<std::vector<uint8_t>> readAllRows(int fd, bool buffered)
{
    lseek(fd, 0, SEEK_SET);
    RasterFileReader reader(fd);
    cups_raster_t* ras = buffered ? reader.open() : cupsRasterOpen(fd, CUPS_RASTER_READ);
    std::vector<std::vector<uint8_t>> rows;
    cups_page_header2_t header;
    MemoryLog log;
    while (ras && cupsRasterReadHeader2(ras, &header) && pageHeaderAcceptable(header, log.log())) {
        GrayRowReader rowReader(ras, header);
        bool complete = true;
        for (unsigned y = 0; y < header.cupsHeight && complete; ++y) {
            std::vector<uint8_t> gray(header.cupsWidth, 0);
            complete = rowReader.readRow(gray.data());
            rows.push_back(complete ? gray : std::vector<uint8_t>{});
        }
        if (!complete)
            break;
    }
    if (ras)
        cupsRasterClose(ras);
    return rows;
}

struct BufferedCase {
    const char* name;
    cups_mode_t mode;
    off_t cutAt;  // 0: the whole raster; otherwise it ends after this many bytes
};

class BufferedRasterTest : public ::testing::TestWithParam<BufferedCase> {};

// Three pages of 8-bit gray that together exceed the reader's buffer: the
// buffered reader delivers the same rows, and stops at the same row when the
// raster ends early.
TEST_P(BufferedRasterTest, SameRowsAsReadingTheDescriptor)
{
    const BufferedCase& c = GetParam();
    RasterFile file;
    cups_page_header2_t h{};
    h.HWResolution[0] = h.HWResolution[1] = 600;
    h.cupsWidth = 997;
    h.cupsHeight = 61;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 8;
    h.cupsNumColors = 1;
    h.cupsBytesPerLine = h.cupsWidth;
    cups_raster_t* out = cupsRasterOpen(file.fd(), c.mode);
    uint32_t state = 3;
    for (int page = 0; page < 3; ++page) {
        ASSERT_TRUE(cupsRasterWriteHeader2(out, &h));
        std::vector<uint8_t> row(h.cupsBytesPerLine);
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            for (uint8_t& b : row) {  // runs and noise, for the compressed raster
                state = state * 1103515245u + 12345u;
                b = static_cast<uint8_t>((state >> 28) < 10 ? 255 : state >> 16);
            }
            ASSERT_EQ(cupsRasterWritePixels(out, row.data(), h.cupsBytesPerLine),
                      h.cupsBytesPerLine);
        }
    }
    cupsRasterClose(out);
    const off_t size = lseek(file.fd(), 0, SEEK_END);
    ASSERT_GT(size, static_cast<off_t>(RasterFileReader::kBufferSize));
    if (c.cutAt > 0) {
        ASSERT_EQ(ftruncate(file.fd(), std::min(c.cutAt, size - 1)), 0);
    }

    const auto direct = readAllRows(file.fd(), false);
    const auto buffered = readAllRows(file.fd(), true);
    EXPECT_EQ(buffered.size(), direct.size());
    EXPECT_TRUE(buffered == direct);
    if (c.cutAt == 0) {
        EXPECT_EQ(direct.size(), 3u * h.cupsHeight);
    } else {
        ASSERT_FALSE(direct.empty());
        EXPECT_TRUE(direct.back().empty());  // the row the raster ends in
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rasters, BufferedRasterTest,
    ::testing::Values(BufferedCase{"Whole", CUPS_RASTER_WRITE, 0},
                      BufferedCase{"EndsWithinARow", CUPS_RASTER_WRITE, 150001},
                      BufferedCase{"CompressedWhole", CUPS_RASTER_WRITE_COMPRESSED, 0},
                      BufferedCase{"CompressedEndsEarly", CUPS_RASTER_WRITE_COMPRESSED, 140003}),
    [](const ::testing::TestParamInfo<BufferedCase>& info) { return info.param.name; });

}  // namespace
}  // namespace rvt::test

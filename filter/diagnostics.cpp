// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "diagnostics.h"

#include "halftone.h"
#include "jbig_page.h"
#include "job_settings.h"
#include "log.h"
#include "page_buffer.h"
#include "raster_input.h"
#include "transforms.h"
#include "zoom.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

namespace rvt {

namespace {

constexpr size_t kCopyBlock = 40000;

// Writes `header` then `bytes` bytes of `data` to `path`. False when the file
// cannot be created; `writeFailed` tells a short write.
bool writeDump(const std::string& path, const std::string& header, const uint8_t* data,
               uint64_t bytes, bool& writeFailed)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    ok = ok && std::fwrite(data, 1, bytes, f) == bytes;
    ok = (std::fclose(f) == 0) && ok;
    writeFailed = !ok;
    return true;
}

std::string pgmHeader(int width, int height)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s\n%d %d\n%d\n", "P5", width, height, 255);
    return text;
}

void printHeader(const cups_page_header2_t& h, FILE* out)
{
    std::fprintf(out, "DEBUG: cupsBytesPerLine=%u\n", h.cupsBytesPerLine);
    std::fprintf(out, "DEBUG: Duplex = %d\n", static_cast<int>(storedValue(h.Duplex)));
    std::fprintf(out, "DEBUG: HWResolution = [ %d %d ]\n", static_cast<int>(h.HWResolution[0]),
                 static_cast<int>(h.HWResolution[1]));
    std::fprintf(
        out, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n",
        static_cast<int>(h.ImagingBoundingBox[0]), static_cast<int>(h.ImagingBoundingBox[1]),
        static_cast<int>(h.ImagingBoundingBox[2]), static_cast<int>(h.ImagingBoundingBox[3]));
    std::fprintf(out, "DEBUG: ManualFeed = %d\n", static_cast<int>(storedValue(h.ManualFeed)));
    std::fprintf(out, "DEBUG: MediaPosition = %d\n", static_cast<int>(h.MediaPosition));
    std::fprintf(out, "DEBUG: NumCopies = %d\n", static_cast<int>(h.NumCopies));
    std::fprintf(out, "DEBUG: Orientation = %d\n", static_cast<int>(storedValue(h.Orientation)));
    std::fprintf(out, "DEBUG: PageSize = [ %d %d ]\n", static_cast<int>(h.PageSize[0]),
                 static_cast<int>(h.PageSize[1]));
    std::fprintf(out, "DEBUG: cupsWidth = %d\n", static_cast<int>(h.cupsWidth));
    std::fprintf(out, "DEBUG: cupsHeight = %d\n", static_cast<int>(h.cupsHeight));
    std::fprintf(out, "DEBUG: cupsMediaType = %d\n", static_cast<int>(h.cupsMediaType));
    std::fprintf(out, "DEBUG: cupsBitsPerColor = %d\n", static_cast<int>(h.cupsBitsPerColor));
    std::fprintf(out, "DEBUG: cupsBitsPerPixel = %d\n", static_cast<int>(h.cupsBitsPerPixel));
    std::fprintf(out, "DEBUG: cupsBytesPerLine = %d\n", static_cast<int>(h.cupsBytesPerLine));
    std::fprintf(out, "DEBUG: cupsColorOrder = %d\n",
                 static_cast<int>(storedValue(h.cupsColorOrder)));
    std::fprintf(out, "DEBUG: cupsColorSpace = %d\n",
                 static_cast<int>(storedValue(h.cupsColorSpace)));
    std::fprintf(out, "DEBUG: cupsCompression = %d\n", static_cast<int>(h.cupsCompression));
}

// Only one byte of gray per pixel, and nothing larger than the bench can hold.
bool pageAccepted(const cups_page_header2_t& h, FILE* out)
{
    if (h.cupsBitsPerPixel != 8 || h.cupsBytesPerLine != h.cupsWidth) {
        std::fprintf(out,
                     "DEBUG: unsupported raster page: cupsBitsPerPixel=%u cupsBytesPerLine=%u "
                     "cupsWidth=%u (one byte of gray per pixel needed)\n",
                     h.cupsBitsPerPixel, h.cupsBytesPerLine, h.cupsWidth);
        return false;
    }
    const unsigned long long bytes = static_cast<unsigned long long>(h.cupsWidth) *
                                     static_cast<unsigned long long>(h.cupsHeight);
    if (h.cupsWidth == 0 || h.cupsHeight == 0 || h.cupsWidth > INT_MAX || h.cupsHeight > INT_MAX ||
        bytes > static_cast<unsigned long long>(kMaxBenchPageBytes)) {
        std::fprintf(out, "DEBUG: unsupported raster page size %u x %u (at most %lld bytes)\n",
                     h.cupsWidth, h.cupsHeight, kMaxBenchPageBytes);
        return false;
    }
    return true;
}

// One page through the image steps and into the dump files. False when the
// run has to stop.
bool benchPage(cups_raster_t* ras, const cups_page_header2_t& header, const std::string& dir,
               int pageNumber, int imageDarkness_type, FILE* out, FILE* err, bool& dumpFailed)
{
    const int width = static_cast<int>(header.cupsWidth);
    const int height = static_cast<int>(header.cupsHeight);
    const uint64_t pageBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const unsigned bytesPerLine = header.cupsBytesPerLine;

    PageBuffer line = allocatePage(bytesPerLine);
    if (!line) {
        std::fprintf(err, "DEBUG: failed to locate mem cupsBytesPerLine=%u\n", bytesPerLine);
        return false;
    }
    PageBuffer gray = allocatePage(pageBytes);
    if (!gray) {
        std::fprintf(err, "DEBUG: failed to locate temp image memory size=%d\n",
                     static_cast<int>(pageBytes));
        return false;
    }
    // Rows the raster does not deliver stay white.
    std::memset(gray.get(), 255, pageBytes);
    for (int y = 0; y < height; ++y) {
        if (cupsRasterReadPixels(ras, line.get(), bytesPerLine) == 0)
            break;
        std::memcpy(gray.get() + static_cast<uint64_t>(y) * width, line.get(), bytesPerLine);
    }
    line.reset();

    std::fprintf(out, "image data size = %d\n", static_cast<int>(pageBytes));
    bool writeFailed = false;
    if (!writeDump(dir + "ras.pgm", pgmHeader(width, height), gray.get(), pageBytes, writeFailed)) {
        std::fprintf(out, "pgm file create error\n");
        writeFailed = true;
    }
    dumpFailed = dumpFailed || writeFailed;

    JobSettings job;
    Log log(out);
    PageBuffer scaled = allocatePage(pageBytes);
    zoomGrayPage(std::move(gray), scaled.get(), width, height, 1.0, job, log);
    PageBuffer mirrored = allocatePage(pageBytes);
    if (!job.isCanceled)
        mirrorGrayPage(std::move(scaled), mirrored.get(), width, height, job, log);
    if (job.isCanceled)
        return false;

    writeFailed = false;
    if (!writeDump(dir + "ras_mirror.pgm", pgmHeader(width, height), mirrored.get(), pageBytes,
                   writeFailed)) {
        std::fprintf(out, "pgm file create error \n");
        writeFailed = true;
    }
    dumpFailed = dumpFailed || writeFailed;

    PageBuffer bits = halftone(std::move(mirrored), width, height, imageDarkness_type, log);
    if (!bits)
        return false;

    const uint64_t bitBytes = bitRowBytes(width) * static_cast<uint64_t>(height);
    char pbmHeader[64];
    std::snprintf(pbmHeader, sizeof pbmHeader, "%s\n%d %d\n", "P4", width, height);
    writeFailed = false;
    if (!writeDump(dir + "ras.pbm", pbmHeader, bits.get(), bitBytes, writeFailed))
        writeFailed = true;
    dumpFailed = dumpFailed || writeFailed;

    BmpFileHeader fileHeader;
    BmpInfoHeader infoHeader;
    BmpPalette palette;
    fillBmpHeaders(width, height, bytesPerLine, fileHeader, infoHeader, palette);
    char jbigPath[4200];
    std::snprintf(jbigPath, sizeof jbigPath, "%s-%04d.jbig", dir.c_str(), pageNumber);
    if (bmp_to_jbg(jbigPath, bits.get(), fileHeader, infoHeader, palette) != 1)
        dumpFailed = true;
    return true;
}

}  // namespace

int saveRaster(int inFd, const char* outPath, FILE* out)
{
    FILE* f = std::fopen(outPath, "wb");
    if (!f) {
        std::fprintf(out, "create raster temp file error\n");
        return 1;
    }
    static_assert(kCopyBlock <= 65536);
    char buffer[kCopyBlock];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(inFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            std::fprintf(out, "read raster error: %s\n", std::strerror(errno));
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (std::fwrite(buffer, 1, static_cast<size_t>(n), f) != static_cast<size_t>(n) ||
            std::fflush(f) != 0) {
            std::fprintf(out, "write raster temp file error\n");
            ok = false;
            break;
        }
    }
    if (std::fclose(f) != 0 && ok) {
        std::fprintf(out, "write raster temp file error\n");
        ok = false;
    }
    return ok ? 0 : 1;
}

int testRaster2JBIG(const char* rasterPath, const std::string& debugDir, int imageDarkness_type,
                    FILE* out, FILE* err)
{
    const int fd = open(rasterPath, O_RDONLY);
    if (fd < 0) {
        std::fprintf(out, "cannot open raster file %s: %s\n", rasterPath, std::strerror(errno));
        return 1;
    }
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    if (!ras) {
        std::fprintf(out, "cannot read raster file %s\n", rasterPath);
        close(fd);
        return 1;
    }
    std::fprintf(out, " read data file ok\n");

    // The dump names are the directory path followed directly by the file name.
    std::string dir = debugDir.empty() ? std::string("./") : debugDir;
    if (dir.back() != '/')
        dir += '/';

    bool failed = false;
    bool dumpFailed = false;
    int pageNumber = 1;
    cups_page_header2_t header;
    while (cupsRasterReadHeader2(ras, &header)) {
        printHeader(header, out);
        std::fflush(out);
        // A refused page cannot be skipped: its pixels stand between this
        // header and the next one.
        if (!pageAccepted(header, out) ||
            !benchPage(ras, header, dir, pageNumber, imageDarkness_type, out, err, dumpFailed)) {
            failed = true;
            break;
        }
        ++pageNumber;
    }
    if (pageNumber == 1 && !failed) {
        std::fprintf(out, "DEBUG: no raster page in %s\n", rasterPath);
        failed = true;
    }
    cupsRasterClose(ras);
    close(fd);
    std::fflush(out);
    return (failed || dumpFailed) ? 1 : 0;
}

}  // namespace rvt

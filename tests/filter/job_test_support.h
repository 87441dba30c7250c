// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Runs a whole job in-process: a raster written with CUPS, the printer's PPD,
// a private TMPDIR and the scripted connection.
#pragma once

#include "job.h"
#include "scripted_connection.h"

#include <cups/raster.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace rvt::test {

struct RasterPage {
    unsigned width = 40;
    unsigned height = 16;
    unsigned char gray = 0;  // every pixel
    unsigned bitsPerPixel = 8;
    unsigned bytesPerLine = 0;   // 0: one byte per pixel
    unsigned rowsWritten = ~0u;  // fewer: the raster ends early
    unsigned noiseSeed = 0;      // not 0: pixels of pseudo-random gray instead
    cups_cspace_t colorSpace = CUPS_CSPACE_SW;
};

// Hands the rows of page `p` as written to the raster, each `rowBytes` long
// (all `gray`, or pseudo-random gray from `noiseSeed`), to `take(y, row)`.
template <typename Take>
void forEachRow(const RasterPage& p, size_t rowBytes, Take take)
{
    std::vector<unsigned char> row(rowBytes, p.gray);
    unsigned state = p.noiseSeed;
    for (unsigned y = 0; y < p.height && y < p.rowsWritten; ++y) {
        if (p.noiseSeed)
            for (unsigned char& b : row)
                b = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24);
        take(y, row);
    }
}

inline std::string printerPpd() { return RVT_PPD; }

class JobRun {
public:
    JobRun()
    {
        char dirTempl[] = "/tmp/rvt-job-test-XXXXXX";
        EXPECT_NE(mkdtemp(dirTempl), nullptr);
        tmpdir = dirTempl;
        std::string rasterTempl = tmpdir + "-raster-XXXXXX";
        rasterPath_ = rasterTempl;
        rasterFd_ = mkstemp(rasterPath_.data());
        ppd = printerPpd();
    }
    ~JobRun()
    {
        close(rasterFd_);
        unlink(rasterPath_.c_str());
        rmdir(tmpdir.c_str());
    }

    void writeRaster(const std::vector<RasterPage>& pages)
    {
        // Without libcups, not even the stream's first word is written.
        cups_raster_t* ras = withLibcups ? cupsRasterOpen(rasterFd_, rasterMode) : nullptr;
        for (const RasterPage& p : pages) {
            cups_page_header2_t h{};
            h.HWResolution[0] = h.HWResolution[1] = 600;
            h.cupsWidth = p.width;
            h.cupsHeight = p.height;
            h.cupsBitsPerColor = p.bitsPerPixel == 16 ? 16 : 8;
            h.cupsBitsPerPixel = p.bitsPerPixel;
            h.cupsBytesPerLine = p.bytesPerLine ? p.bytesPerLine
                                                : (p.width * p.bitsPerPixel + 7) / 8;
            h.cupsColorSpace = p.colorSpace;
            h.cupsColorOrder = CUPS_ORDER_CHUNKED;
            h.cupsNumColors = 1;
            if (!ras)
                break;
            cupsRasterWriteHeader2(ras, &h);
            forEachRow(p, h.cupsBytesPerLine, [&](unsigned, std::vector<unsigned char>& row) {
                cupsRasterWritePixels(ras, row.data(), h.cupsBytesPerLine);
            });
        }
        if (ras)
            cupsRasterClose(ras);
        if (!rasterTail.empty()) {
            EXPECT_EQ(::write(rasterFd_, rasterTail.data(), rasterTail.size()),
                      static_cast<ssize_t>(rasterTail.size()));
        }
        lseek(rasterFd_, 0, SEEK_SET);
    }

    // Runs the job with argv "queue 12 user title <copies> <options>".
    int run(const std::vector<RasterPage>& pages, const std::string& options = "",
            const std::string& copies = "1")
    {
        writeRaster(pages);
        std::vector<std::string> args = {"queue", "12", "user", "title", copies, options};
        if (!fileArgument.empty())
            args.push_back(fileArgument);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        JobEnvironment env;
        env.ppdPath = ppd.empty() ? nullptr : ppd.c_str();
        env.tmpdir = tmpdir.c_str();
        env.rasterFd = rasterFd_;
        if (parser)
            env.parseOptions = parser;
        // With a file argument, the descriptor holds nothing, as the
        // scheduler's first filter of a chain gets it.
        const int devNull = fileArgument.empty() ? -1 : open("/dev/null", O_RDONLY);
        if (devNull >= 0)
            env.rasterFd = devNull;
        const int status = runJob(static_cast<int>(args.size()), argv.data(), conn, log.log(), env);
        if (devNull >= 0)
            close(devNull);
        return status;
    }

    // The file the raster of run() is written to.
    const std::string& rasterPath() const { return rasterPath_; }

    // Page numbers in the order they were sent.
    std::vector<int> pagesSent()
    {
        std::vector<int> pages;
        const std::string text = log.text();
        const std::string mark = "开始发送第";
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1))
            pages.push_back(std::atoi(text.c_str() + at + mark.size()));
        return pages;
    }

    // Entries left in TMPDIR after the job.
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(tmpdir.c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }

    // The page headers on the stream.
    std::vector<std::string> pageHeaders() const
    {
        std::vector<std::string> headers;
        for (const std::string& e : conn.elements)
            if (e.rfind("MediaSize=", 0) == 0)
                headers.push_back(e);
        return headers;
    }

    ScriptedConnection conn;
    MemoryLog log;
    std::string tmpdir;
    std::string ppd;
    OptionParser parser = nullptr;
    cups_mode_t rasterMode = CUPS_RASTER_WRITE;
    bool withLibcups = true;
    // Bytes written after the pages, as they are.
    std::string rasterTail;
    // Not empty: the seventh argument, the file the job prints.
    std::string fileArgument;

private:
    std::string rasterPath_;
    int rasterFd_ = -1;
};

}  // namespace rvt::test

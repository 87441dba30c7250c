// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The row kernels against plain per-pixel references, and the streaming page
// pipeline against the page-level steps (scale, mirror or flip, screen):
// the same 1-bit pages and the same page files, for every duplex mode, scale
// ratio and darkness level.
#include "halftone.h"
#include "image_test_support.h"
#include "jbig_page.h"
#include "job_settings.h"
#include "page_pipeline.h"
#include "row_kernels.h"
#include "threshold_matrix.h"
#include "transforms.h"
#include "zoom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace rvt {
namespace {

using Gray = std::vector<uint8_t>;

const double kRatios[] = {0.25, 0.5, 0.8, 0.9, 1.0, 1.1, 1.2, 1.5};

uint32_t nextRandom(uint32_t& state)
{
    state = state * 1103515245u + 12345u;
    return state >> 8;
}

// Pages of the kinds a printer sees.
enum class Kind { Noise, Text, Photo, Blank };

Gray makePage(Kind kind, int32_t w, int32_t h, uint32_t seed)
{
    Gray page(static_cast<size_t>(w) * static_cast<size_t>(h), 255);
    uint32_t state = seed;
    switch (kind) {
    case Kind::Noise:
        for (uint8_t& p : page)
            p = static_cast<uint8_t>(nextRandom(state));
        break;
    case Kind::Text:
        // Lines of word-like strokes: black runs of random length with gaps,
        // some gray underlines, a black block in the top-left corner.
        for (int32_t line = 8; line + 12 < h; line += 18) {
            int32_t x = 6;
            while (x < w - 4) {
                const int32_t word = 4 + static_cast<int32_t>(nextRandom(state) % 30);
                for (int32_t y = line; y < line + 12; ++y)
                    for (int32_t c = x; c < std::min(w, x + word); ++c)
                        if ((nextRandom(state) & 3) != 0)
                            page[static_cast<size_t>(y) * w + c] = (y == line + 11) ? 128 : 0;
                x += word + 3 + static_cast<int32_t>(nextRandom(state) % 6);
            }
        }
        for (int32_t y = 0; y < std::min(h, 20); ++y)
            for (int32_t x = 0; x < std::min(w, 20); ++x)
                page[static_cast<size_t>(y) * w + x] = 0;
        break;
    case Kind::Photo:
        // Smooth shading with some grain, every gray level present.
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const double v = 127.5 + 100.0 * std::sin(x * 0.05 + seed) * std::cos(y * 0.037) +
                                 27.0 * std::sin((x + y) * 0.31);
                const int grain = static_cast<int>(nextRandom(state) % 9) - 4;
                page[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(
                    std::clamp(static_cast<int>(v) + grain, 0, 255));
            }
        break;
    case Kind::Blank:
        break;
    }
    return page;
}

// ---- Kernels against per-pixel references ---------------------------------

// The scaling, pixel by pixel and case by case, as the page steps have always
// computed it.
Gray referenceZoom(const Gray& src, int64_t w, int64_t h, double ratio)
{
    Gray dst(src.size(), 255);
    if (ratio == 1.0)
        return src;
    auto sample = [&](int64_t a, int64_t b) -> double {
        if (a < 0 || a >= w || b < 0 || b >= h)
            return 0.0;
        return src[static_cast<size_t>(b * w + a)];
    };
    const int64_t cols = std::min<int64_t>(truncateToInt(w * ratio), w);
    const int64_t rows = std::min<int64_t>(truncateToInt(h * ratio), h);
    for (int64_t y = 0; y < rows; ++y) {
        const double sy = y / ratio;
        const int64_t y0 = static_cast<int64_t>(std::floor(sy));
        const int64_t y1 = static_cast<int64_t>(std::ceil(sy));
        const double fy0 = sy - y0;
        const double fy1 = y1 - sy;
        for (int64_t x = 0; x < cols; ++x) {
            const double sx = x / ratio;
            const int64_t x0 = static_cast<int64_t>(std::floor(sx));
            const int64_t x1 = static_cast<int64_t>(std::ceil(sx));
            const double fx0 = sx - x0;
            const double fx1 = x1 - sx;
            const double p00 = sample(x0, y0);
            double value;
            if (x0 == x1 && y0 == y1)
                value = p00;
            else if (x0 == x1)
                value = p00 * fy0 + sample(x0, y1) * fy1;
            else if (y0 == y1)
                value = p00 * fx0 + sample(x1, y0) * fx1;
            else
                value = fy0 * (p00 * fx0 + sample(x1, y0) * fx1) +
                        fy1 * (sample(x0, y1) * fx0 + sample(x1, y1) * fx1);
            dst[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(static_cast<int64_t>(value) &
                                                                       0xFF);
        }
    }
    return dst;
}

struct KernelSize {
    int32_t width;
    int32_t height;
};

// Baseline: the kernels the processor may not have AVX2 for.
class ScalingKernel : public ::testing::TestWithParam<std::tuple<KernelSize, bool>> {
protected:
    void TearDown() override { useBaselineKernelsOnly(false); }
};

TEST_P(ScalingKernel, SameAsPerPixelScalingAtEveryRatio)
{
    const auto [size, baseline] = GetParam();
    useBaselineKernelsOnly(baseline);
    // Text and blank pages have white rows, whose weighting the scaler reuses.
    for (Kind kind : {Kind::Noise, Kind::Text, Kind::Photo, Kind::Blank}) {
        const Gray src = makePage(kind, size.width, size.height, 11);
        for (double ratio : kRatios) {
            SCOPED_TRACE(testing::Message()
                         << "ratio " << ratio << " kind " << static_cast<int>(kind));
            JobSettings job;
            test::MemoryLog log;
            Gray dst(src.size(), 7);
            zoomGrayPage(test_support::pageFrom(src), dst.data(), size.width, size.height, ratio,
                         job, log.log());
            EXPECT_EQ(dst, referenceZoom(src, size.width, size.height, ratio));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ScalingKernel,
    ::testing::Combine(::testing::Values(KernelSize{1, 1}, KernelSize{3, 5}, KernelSize{17, 9},
                                         KernelSize{301, 203}, KernelSize{300, 400}),
                       ::testing::Bool()));

TEST(RowKernels, MirrorRowReversesEveryWidth)
{
    uint32_t state = 5;
    for (int64_t width : {1, 2, 7, 8, 15, 16, 17, 31, 32, 33, 47, 128, 301}) {
        Gray src(static_cast<size_t>(width));
        for (uint8_t& p : src)
            p = static_cast<uint8_t>(nextRandom(state));
        Gray dst(src.size() + 1, 0xAB);  // one guard byte
        mirrorRow(src.data(), width, dst.data());
        Gray expected(src.rbegin(), src.rend());
        expected.push_back(0xAB);
        EXPECT_EQ(dst, expected) << "width " << width;
    }
}

TEST(RowKernels, ScreenRowMatchesThresholdsAtEveryLevelAndRow)
{
    uint32_t state = 9;
    for (int level = 0; level < kDarknessLevels; ++level) {
        const ThresholdScreen screen(level);
        // The matrix of the level, as the screen is defined.
        ClusterMatrix remapped{};
        if (screen.remapped())
            remapClusterMatrix(darknessGamma[level], remapped);
        auto threshold = [&](int64_t y, int64_t x) -> int {
            if (level == 0)
                return orderedDither4x4[y % 4][x % 4];
            const ClusterMatrix& m = screen.remapped() ? remapped : FINE_TAry_128;
            return m[static_cast<size_t>((y % 128) * 128 + x % 128)];
        };
        for (int64_t width : {1, 9, 16, 23, 130, 301, 4960}) {
            for (int64_t y : {0, 1, 3, 127, 128, 200}) {
                Gray gray(static_cast<size_t>(width));
                for (int64_t x = 0; x < width; ++x)  // around the threshold, ties included
                    gray[x] = static_cast<uint8_t>(std::clamp<int>(
                        threshold(y, x) + static_cast<int>(nextRandom(state) % 5) - 2, 0, 255));
                const size_t stride = static_cast<size_t>(bitRowBytes(width));
                Gray out(stride + 1, 0xCD);
                screenRow(gray.data(), width, screen.tileRow(y), out.data());
                Gray expected(stride, 0);
                for (int64_t x = 0; x < width; ++x)
                    if (gray[x] <= threshold(y, x))
                        expected[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                expected.push_back(0xCD);
                EXPECT_EQ(out, expected) << "level " << level << " width " << width << " row " << y;
                // The one-pass mirror and screen, given the row the other way round.
                const Gray reversed(gray.rbegin(), gray.rend());
                Gray mirrored(stride + 1, 0xCD);
                screenMirroredRow(reversed.data(), width, screen, y, mirrored.data());
                EXPECT_EQ(mirrored, expected)
                    << "mirrored, level " << level << " width " << width << " row " << y;
            }
        }
    }
}

// ---- The streaming pipeline against the page-level steps -------------------

struct PageRun {
    Gray bits;
    std::string log;
    int isCanceled = 0;
};

PageRun pageLevel(const Gray& src, int32_t w, int32_t h, const PageSteps& steps)
{
    JobSettings job;
    test::MemoryLog log;
    const uint64_t bytes = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
    PageBuffer scaled = allocatePage(bytes);
    zoomGrayPage(test_support::pageFrom(src), scaled.get(), w, h, steps.ratio, job, log.log());
    PageBuffer turned = allocatePage(bytes);
    if (steps.flip)
        mirrorGrayPage1(std::move(scaled), turned.get(), w, h, job, log.log());
    else
        mirrorGrayPage(std::move(scaled), turned.get(), w, h, job, log.log());
    PageBuffer bits = halftone(std::move(turned), w, h, steps.imageDarkness_type, log.log());
    PageRun run;
    run.bits.assign(bits.get(), bits.get() + bitRowBytes(w) * static_cast<uint64_t>(h));
    run.log = log.text();
    run.isCanceled = job.isCanceled;
    return run;
}

struct StreamRun : PageRun {
    PageOutcome outcome = PageOutcome::Stopped;
    int rowsRead = 0;
    int checks = 0;
};

// `rowsDelivered`: rows the raster holds (fewer than h: it ends early).
StreamRun streamed(const Gray& src, int32_t w, int32_t h, const PageSteps& steps, int rowsDelivered,
                   int stopAtCheck = -1)
{
    StreamRun run;
    JobSettings job;
    test::MemoryLog log;
    const GrayRowSource readRow = [&](uint8_t* gray) {
        if (run.rowsRead >= rowsDelivered)
            return false;
        std::memcpy(gray, src.data() + static_cast<size_t>(run.rowsRead) * w,
                    static_cast<size_t>(w));
        ++run.rowsRead;
        return true;
    };
    const KeepGoing keepGoing = [&] { return run.checks++ != stopAtCheck; };
    PageBuffer bits;
    run.outcome = streamPage(w, h, steps, readRow, keepGoing, job, log.log(), bits);
    if (bits)
        run.bits.assign(bits.get(), bits.get() + bitRowBytes(w) * static_cast<uint64_t>(h));
    run.log = log.text();
    run.isCanceled = job.isCanceled;
    return run;
}

std::vector<uint8_t> encode(const Gray& bits, int32_t w, int32_t h, const std::string& path)
{
    Gray copy = bits;  // the encoder may clear padding bits
    BmpFileHeader file;
    BmpInfoHeader info;
    BmpPalette palette;
    fillBmpHeaders(w, h, static_cast<uint64_t>(w), file, info, palette);
    EXPECT_EQ(bmp_to_jbg(path.c_str(), copy.data(), file, info, palette), 1);
    return test_support::readFile(path);
}

struct StreamCase {
    const char* name;
    Kind kind;
    int32_t width;
    int32_t height;
};

class StreamingEquivalence : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamingEquivalence, SamePagesAndPageFilesForEveryModeRatioAndDarkness)
{
    const StreamCase c = GetParam();
    const Gray src = makePage(c.kind, c.width, c.height, 3);
    test_support::TempDir tmp;
    for (int isDuplex : {0, 1, 2}) {
        for (int pageNumber : {1, 2}) {
            JobSettings job;
            job.isDuplex = isDuplex;
            for (double ratio : kRatios) {
                for (int darkness = 0; darkness < kDarknessLevels; ++darkness) {
                    SCOPED_TRACE(testing::Message()
                                 << "duplex " << isDuplex << " page " << pageNumber << " ratio "
                                 << ratio << " darkness " << darkness);
                    job.ratio = ratio;
                    job.imageDarkness_type = darkness;
                    const PageSteps steps = pageStepsFor(job, pageNumber);
                    EXPECT_EQ(steps.flip, isDuplex == 2 && pageNumber == 2);
                    const PageRun expected = pageLevel(src, c.width, c.height, steps);
                    const StreamRun got = streamed(src, c.width, c.height, steps, c.height);
                    ASSERT_EQ(got.outcome, PageOutcome::Converted);
                    EXPECT_EQ(got.isCanceled, 0);
                    EXPECT_EQ(got.rowsRead, c.height);  // the whole page is read
                    EXPECT_EQ(got.checks, c.height);    // one check before every row
                    EXPECT_EQ(got.log, expected.log);
                    ASSERT_EQ(got.bits, expected.bits);
                    EXPECT_EQ(encode(got.bits, c.width, c.height, tmp.path + "/streamed"),
                              encode(expected.bits, c.width, c.height, tmp.path + "/page"));
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, StreamingEquivalence,
                         ::testing::Values(StreamCase{"noise", Kind::Noise, 300, 400},
                                           StreamCase{"text", Kind::Text, 301, 400},
                                           StreamCase{"photo", Kind::Photo, 301, 203},
                                           StreamCase{"blank", Kind::Blank, 64, 40},
                                           StreamCase{"narrow", Kind::Noise, 5, 37}),
                         [](const ::testing::TestParamInfo<StreamCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(StreamingPage, ARasterThatEndsEarlyLeavesTheRestWhite)
{
    const int32_t w = 301, h = 160;
    const Gray src = makePage(Kind::Text, w, h, 8);
    for (int delivered : {0, 1, 57, 159}) {
        // The page-level steps see the rows that came and white below them.
        Gray seen(src.size(), 255);
        std::copy_n(src.begin(), static_cast<size_t>(delivered) * w, seen.begin());
        for (double ratio : {0.5, 1.0, 1.5}) {
            for (bool flip : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "rows " << delivered << " ratio " << ratio << " flip " << flip);
                const PageSteps steps{ratio, 3, flip};
                const StreamRun got = streamed(src, w, h, steps, delivered);
                ASSERT_EQ(got.outcome, PageOutcome::Converted);
                EXPECT_EQ(got.bits, pageLevel(seen, w, h, steps).bits);
                // No row is asked for after the raster has failed once.
                EXPECT_EQ(got.rowsRead, delivered);
                EXPECT_EQ(got.checks, delivered + 1);
            }
        }
    }
}

TEST(StreamingPage, StopsAtTheCheckBeforeARow)
{
    const int32_t w = 40, h = 100;
    const Gray src = makePage(Kind::Noise, w, h, 4);
    for (double ratio : {0.25, 1.0, 1.5}) {
        for (int stopAt : {0, 1, 50, 99}) {
            SCOPED_TRACE(testing::Message() << "ratio " << ratio << " stop " << stopAt);
            const StreamRun got = streamed(src, w, h, PageSteps{ratio, 2, false}, h, stopAt);
            EXPECT_EQ(got.outcome, PageOutcome::Stopped);
            EXPECT_TRUE(got.bits.empty());
            EXPECT_EQ(got.rowsRead, stopAt);  // the rows before the refused check were read
            EXPECT_EQ(got.checks, stopAt + 1);
        }
    }
}

}  // namespace
}  // namespace rvt

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Row kernels and whole A4 pages (600 dpi, 4960 x 7016) through the streaming
// pipeline, and JBIG-KIT's encoder alone on the same 1-bit page.
#include "jbig_page.h"
#include "job_settings.h"
#include "log.h"
#include "page_pipeline.h"
#include "row_kernels.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using rvt::PageBuffer;

constexpr int32_t kWidth = 4960;
constexpr int32_t kHeight = 7016;

uint32_t nextRandom(uint32_t& state)
{
    state = state * 1103515245u + 12345u;
    return state >> 8;
}

enum Kind { Text = 0, Photo = 1, Blank = 2 };

// A page of the given kind, width x height gray bytes.
std::vector<uint8_t> makePage(int kind, int32_t w, int32_t h)
{
    std::vector<uint8_t> page(static_cast<size_t>(w) * static_cast<size_t>(h), 255);
    uint32_t state = 1;
    if (kind == Text) {
        // 10-point-like lines: strokes of word length, 60 lines a page.
        for (int32_t line = 300; line + 70 < h - 300; line += 110) {
            int32_t x = 300;
            while (x < w - 400) {
                const int32_t word = 40 + static_cast<int32_t>(nextRandom(state) % 260);
                for (int32_t y = line; y < line + 60; ++y)
                    for (int32_t c = x; c < std::min(w - 300, x + word); ++c)
                        if (((c / 7 + y / 9) % 3) != 0)
                            page[static_cast<size_t>(y) * w + c] = 0;
                x += word + 40;
            }
        }
    } else if (kind == Photo) {
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const double v = 127.5 + 100.0 * std::sin(x * 0.005) * std::cos(y * 0.0037) +
                                 27.0 * std::sin((x + y) * 0.031);
                page[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::clamp(
                    static_cast<int>(v) + static_cast<int>(nextRandom(state) % 9) - 4, 0, 255));
            }
    }
    return page;
}

const std::vector<uint8_t>& pageOf(int kind)
{
    static std::vector<uint8_t> pages[3] = {makePage(Text, kWidth, kHeight),
                                            makePage(Photo, kWidth, kHeight),
                                            makePage(Blank, kWidth, kHeight)};
    return pages[kind];
}

// One scaled row after another (the horizontal pass once per source row, as
// the pipeline does), ratio = range(0) / 100.
void BM_ScaleRow(benchmark::State& state)
{
    const double ratio = static_cast<double>(state.range(0)) / 100.0;
    const std::vector<uint8_t>& page = pageOf(Photo);
    std::vector<uint8_t> out(kWidth);
    int64_t rows = 0;
    for (auto _ : state) {
        rvt::RowScaler scaler(kWidth, kHeight, ratio);
        const rvt::SourceRowFetch fetch = [&](int64_t i) { return page.data() + i * kWidth; };
        const int64_t n = std::min<int64_t>(scaler.rows(), 512);
        for (int64_t y = 0; y < n; ++y) {
            if (scaler.copies())
                std::memcpy(out.data(), fetch(y), kWidth);
            else
                scaler.scaleRow(y, fetch, out.data());
            benchmark::DoNotOptimize(out.data());
        }
        rows += n;
    }
    state.SetItemsProcessed(rows);
    state.counters["time_per_row"] = benchmark::Counter(
        static_cast<double>(rows), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ScaleRow)->Arg(80)->Arg(100)->Arg(150)->Unit(benchmark::kMicrosecond);

void BM_MirrorRow(benchmark::State& state)
{
    const std::vector<uint8_t>& page = pageOf(Photo);
    std::vector<uint8_t> out(kWidth);
    for (auto _ : state) {
        rvt::mirrorRow(page.data(), kWidth, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MirrorRow);

// darkness = range(0)
void BM_ScreenRow(benchmark::State& state)
{
    const rvt::ThresholdScreen screen(static_cast<int>(state.range(0)));
    const std::vector<uint8_t>& page = pageOf(Photo);
    std::vector<uint8_t> out(rvt::bitRowBytes(kWidth));
    int64_t y = 0;
    for (auto _ : state) {
        rvt::screenRow(page.data() + (y % 64) * kWidth, kWidth, screen.tileRow(y), out.data());
        benchmark::DoNotOptimize(out.data());
        ++y;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScreenRow)->Arg(0)->Arg(3);

PageBuffer streamOnePage(int kind, double ratio, int darkness)
{
    const std::vector<uint8_t>& page = pageOf(kind);
    int64_t next = 0;
    const rvt::GrayRowSource readRow = [&](uint8_t* gray) {
        std::memcpy(gray, page.data() + next * kWidth, kWidth);
        ++next;
        return true;
    };
    const rvt::KeepGoing keepGoing = [] { return true; };
    rvt::JobSettings job;
    static FILE* devNull = std::fopen("/dev/null", "w");
    rvt::Log log(devNull);
    PageBuffer bits;
    rvt::streamPage(kWidth, kHeight, rvt::PageSteps{ratio, darkness, false}, readRow, keepGoing,
                    job, log, bits);
    return bits;
}

// A whole A4 page through the streaming pipeline: kind = range(0),
// ratio = range(1) / 100, darkness = range(2).
void BM_StreamPage(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const double ratio = static_cast<double>(state.range(1)) / 100.0;
    const int darkness = static_cast<int>(state.range(2));
    pageOf(kind);
    for (auto _ : state) {
        PageBuffer bits = streamOnePage(kind, ratio, darkness);
        benchmark::DoNotOptimize(bits.get());
    }
}
BENCHMARK(BM_StreamPage)
    ->ArgsProduct({{Text, Photo}, {100, 80, 150}, {0, 3}})
    ->Unit(benchmark::kMillisecond);

// JBIG-KIT's encoder alone on the page the pipeline made (written to /dev/null).
void BM_EncodePage(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    const double ratio = static_cast<double>(state.range(1)) / 100.0;
    const int darkness = static_cast<int>(state.range(2));
    PageBuffer bits = streamOnePage(kind, ratio, darkness);
    const size_t bytes = rvt::bitRowBytes(kWidth) * kHeight;
    std::vector<uint8_t> copy(bytes);
    rvt::BmpFileHeader file;
    rvt::BmpInfoHeader info;
    rvt::BmpPalette palette;
    rvt::fillBmpHeaders(kWidth, kHeight, kWidth, file, info, palette);
    for (auto _ : state) {
        std::memcpy(copy.data(), bits.get(), bytes);
        rvt::bmp_to_jbg("/dev/null", copy.data(), file, info, palette);
    }
}
BENCHMARK(BM_EncodePage)
    ->ArgsProduct({{Text, Photo}, {100, 80, 150}, {0, 3}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

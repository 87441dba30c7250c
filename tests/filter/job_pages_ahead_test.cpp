// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Whole jobs whose pages are converted ahead while earlier pages are sent:
// the stream carries the pages the page-level steps make, and the log and the
// exchanges come in the order of a job that takes one page at a time.
#include "halftone.h"
#include "image_test_support.h"
#include "job_settings.h"
#include "job_test_support.h"
#include "transforms.h"
#include "zoom.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rvt::test {
namespace {

const std::string kEndPage = "Event=EndOfPage;";
const std::string kCancel = "CancelJob?";

// The gray rows JobRun writes for a page.
std::vector<uint8_t> grayOf(const RasterPage& p)
{
    std::vector<uint8_t> gray(static_cast<size_t>(p.width) * p.height, 255);
    forEachRow(p, p.width, [&](unsigned y, const std::vector<unsigned char>& row) {
        std::copy(row.begin(), row.end(), gray.begin() + static_cast<size_t>(y) * p.width);
    });
    return gray;
}

// The 1-bit page of raster page `pageNumber` through the page-level steps.
std::vector<uint8_t> expectedBits(const RasterPage& p, int pageNumber, int isDuplex, double ratio,
                                  int darkness)
{
    JobSettings job;
    MemoryLog log;
    const int32_t w = static_cast<int32_t>(p.width), h = static_cast<int32_t>(p.height);
    PageBuffer scaled = allocatePage(static_cast<uint64_t>(w) * h);
    zoomGrayPage(test_support::pageFrom(grayOf(p)), scaled.get(), w, h, ratio, job, log.log());
    PageBuffer turned = allocatePage(static_cast<uint64_t>(w) * h);
    if (isDuplex == 2 && pageNumber % 2 == 0)
        mirrorGrayPage1(std::move(scaled), turned.get(), w, h, job, log.log());
    else
        mirrorGrayPage(std::move(scaled), turned.get(), w, h, job, log.log());
    PageBuffer bits = halftone(std::move(turned), w, h, darkness, log.log());
    return std::vector<uint8_t>(bits.get(), bits.get() + bitRowBytes(w) * h);
}

// The page data of every page on the stream, in sending order.
std::vector<std::string> pageData(const std::vector<std::string>& elements)
{
    std::vector<std::string> pages;
    std::string* current = nullptr;
    for (const std::string& e : elements) {
        if (e.rfind("MediaSize=", 0) == 0) {
            pages.emplace_back();
            current = &pages.back();
        } else if (current && e.rfind("RasterObject.Data#", 0) == 0) {
            const size_t eq = e.find('=');
            *current += e.substr(eq + 1, e.size() - eq - 2);
        }
    }
    return pages;
}

std::vector<size_t> positionsOf(const std::string& text, const std::string& mark)
{
    std::vector<size_t> at;
    for (size_t i = text.find(mark); i != std::string::npos; i = text.find(mark, i + 1))
        at.push_back(i);
    return at;
}

struct AheadCase {
    const char* name;
    std::string options;
    int isDuplex;
    double ratio;
    int darkness;
};

class PagesAheadTest : public ::testing::TestWithParam<AheadCase> {};

TEST_P(PagesAheadTest, StreamAndLogAsOnePageAtATime)
{
    const AheadCase& c = GetParam();
    std::vector<RasterPage> pages;
    for (unsigned i = 0; i < 5; ++i) {
        RasterPage p{61 + 8 * i, 40 + 3 * i, static_cast<unsigned char>(40 * i)};
        p.noiseSeed = i % 2 ? 0 : 17 + i;  // noise and flat pages in turn
        pages.push_back(p);
    }
    JobRun job;
    EXPECT_EQ(job.run(pages, c.options), 0);

    // Pages on the stream: the page-level steps' pages, in sheet order.
    const std::vector<int> order = c.isDuplex ? std::vector<int>{2, 1, 4, 3, 6, 5}
                                              : std::vector<int>{1, 2, 3, 4, 5};
    ASSERT_EQ(job.pagesSent(), order);
    const std::vector<std::string> data = pageData(job.conn.elements);
    ASSERT_EQ(data.size(), order.size());
    test_support::TempDir tmp;
    for (size_t i = 0; i < order.size(); ++i) {
        const int n = order[i];
        const std::string path = tmp.path + "/page";
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(data[i].data(), 1, data[i].size(), f);
        std::fclose(f);
        const test_support::Decoded decoded = test_support::decodeFile(path);
        if (n == 6) {  // the blank back of the last sheet, of page 5's size
            EXPECT_EQ(decoded.width, pages[4].width);
            EXPECT_EQ(decoded.bits,
                      std::vector<uint8_t>(bitRowBytes(pages[4].width) * pages[4].height, 0));
            continue;
        }
        const RasterPage& p = pages[static_cast<size_t>(n - 1)];
        EXPECT_EQ(decoded.width, p.width) << "page " << n;
        EXPECT_EQ(decoded.bits, expectedBits(p, n, c.isDuplex, c.ratio, c.darkness))
            << "page " << n;
    }

    // Each page's lines come whole, between the sending of the pages before
    // it and its own "converted" line, as when pages were taken one at a time.
    const std::string log = job.log.text();
    const std::vector<size_t> headers = positionsOf(log, "DEBUG:[RVT4410LW] raster image width =");
    const std::vector<size_t> done = positionsOf(log, "的数据转换\n");
    const std::vector<size_t> sends = positionsOf(log, "开始发送第");
    const std::vector<size_t> gammas = positionsOf(log, "---curGammaVal=");
    ASSERT_EQ(headers.size(), 5u);
    ASSERT_EQ(done.size(), 5u);
    ASSERT_EQ(gammas.size(), 5u);
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_LT(headers[k], gammas[k]);
        EXPECT_LT(gammas[k], done[k]);
        if (k + 1 < 5) {
            EXPECT_LT(done[k], headers[k + 1]);
        }
        // The pages sent before page k + 1 is read: all pages of the sheets
        // before it.
        const size_t sentBefore = c.isDuplex ? (k / 2) * 2 : k;
        size_t seen = 0;
        for (size_t at : sends)
            seen += at < headers[k];
        EXPECT_EQ(seen, sentBefore) << "page " << k + 1;
    }
    EXPECT_TRUE(job.leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, PagesAheadTest,
    ::testing::Values(
        AheadCase{"OneSided", "", 0, 1.0, 0},
        AheadCase{"OneSidedScaledDark", "RVTLScale=80% GammaDarkness=darkness4", 0, 0.8, 4},
        AheadCase{"LongEdge", "Duplex=DuplexNoTumble RVTLScale=150% GammaDarkness=darkness3", 2,
                  1.5, 3},
        AheadCase{"ShortEdge", "Duplex=DuplexTumble RVTLScale=90%", 1, 0.9, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PagesAheadTest, ACancelWhileLaterPagesAreConvertedLeavesNoTraceOfThem)
{
    JobRun job;
    RasterPage noise{400, 200, 0};
    noise.noiseSeed = 3;
    job.conn.onWrite = [&](const std::string& e) {
        if (e.rfind("RasterObject.Data#", 0) == 0)
            job.conn.terminate = true;
    };
    EXPECT_EQ(job.run({noise, noise, noise, noise}), 0);
    EXPECT_EQ(job.conn.elements.back(), kCancel);
    EXPECT_EQ(job.conn.count(kEndPage), 0);
    // Page 1 only: whatever the workers did with pages 2 and 3 stays unsaid.
    const std::string log = job.log.text();
    EXPECT_EQ(positionsOf(log, "raster image width =").size(), 1u) << log;
    EXPECT_EQ(positionsOf(log, "---curGammaVal=").size(), 1u) << log;
    EXPECT_EQ(positionsOf(log, "的数据转换").size(), 1u) << log;
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(PagesAheadTest, NothingIsReadPastARefusedPage)
{
    JobRun job;
    RasterPage good{40, 16, 0};
    RasterPage refused{16, 4, 0, 8, 0, ~0u, 0, CUPS_CSPACE_CIELab};  // a colour space not printed
    EXPECT_EQ(job.run({good, good, refused, good, good}), 0);
    EXPECT_EQ(job.pagesSent(), (std::vector<int>{1, 2}));
    EXPECT_EQ(job.conn.commands().back(), kCancel);
    const std::string log = job.log.text();
    EXPECT_EQ(positionsOf(log, "raster image width =").size(), 3u) << log;
    EXPECT_EQ(positionsOf(log, "DEBUG: refusing").size(), 1u) << log;
    EXPECT_TRUE(job.leftovers().empty());
}

}  // namespace
}  // namespace rvt::test

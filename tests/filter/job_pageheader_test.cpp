// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Which raster page headers the job accepts, and the termination signal.
#include "cancel_signal.h"
#include "cups_connection.h"
#include "job_test_support.h"
#include "raster_input.h"

#include <csignal>
#include <gtest/gtest.h>

namespace rvt::test {
namespace {

struct HeaderCase {
    unsigned width;
    unsigned height;
    unsigned bitsPerPixel;
    unsigned bytesPerLine;
    bool accepted;
    unsigned colors = 1;
    cups_cspace_t colorSpace = CUPS_CSPACE_SW;
};

class PageHeaderCheckTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PageHeaderCheckTest, ReadableFormatWithinThePrintersLargestPage)
{
    const HeaderCase& c = GetParam();
    cups_page_header2_t h{};
    h.cupsWidth = c.width;
    h.cupsHeight = c.height;
    h.cupsBitsPerPixel = c.bitsPerPixel;
    h.cupsBitsPerColor = c.bitsPerPixel / c.colors;  // chunked pixels
    h.cupsBytesPerLine = c.bytesPerLine;
    h.cupsNumColors = c.colors;
    h.cupsColorSpace = c.colorSpace;
    MemoryLog log;
    EXPECT_EQ(pageHeaderAcceptable(h, log.log()), c.accepted)
        << c.width << " x " << c.height << ", " << c.bitsPerPixel << " bpp, " << c.bytesPerLine;
    // A refused page is always explained.
    EXPECT_EQ(log.text().rfind("DEBUG: refusing", 0) == 0, !c.accepted) << log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Headers, PageHeaderCheckTest,
    ::testing::Values(HeaderCase{4960, 7016, 8, 4960, true}, HeaderCase{5400, 8400, 8, 5400, true},
                      HeaderCase{1, 1, 8, 1, true}, HeaderCase{0, 7016, 8, 0, false},
                      HeaderCase{4960, 0, 8, 4960, false}, HeaderCase{5401, 10, 8, 5401, false},
                      HeaderCase{10, 8401, 8, 10, false},
                      // 65536 x 65536 wraps a 32-bit product to 0.
                      HeaderCase{65536, 65536, 8, 65536, false},
                      HeaderCase{4294967295u, 4294967295u, 8, 4294967295u, false},
                      HeaderCase{4960, 7016, 8, 4968, false},
                      HeaderCase{4960, 7016, 24, 14880, false},
                      // One bit of gray per pixel, whole bytes per line.
                      HeaderCase{4960, 7016, 1, 620, true}, HeaderCase{4960, 7016, 16, 4960, false},
                      // Luminance with 0 for black, as DeviceGray or sGray.
                      HeaderCase{4960, 7016, 8, 4960, true, 1, CUPS_CSPACE_W},
                      // One byte per pixel cannot hold the three colours of a
                      // chunked RGB pixel; ink amounts of a DeviceK page are read
                      // inverted.
                      HeaderCase{4960, 7016, 8, 4960, false, 3, CUPS_CSPACE_RGB},
                      HeaderCase{4960, 7016, 8, 4960, true, 1, CUPS_CSPACE_K}));

// libcups will not read a header without rows or columns, and says no more
// than at the end of the raster; the raster goes on, so the page is refused.
TEST(JobPageHeaderTest, EmptyPageIsRefused)
{
    JobRun job;
    EXPECT_EQ(
        job.run({RasterPage{40, 16, 0}, RasterPage{0, 16, 0, 8, 0, 0}, RasterPage{40, 16, 0}}), 0);
    EXPECT_EQ(job.pagesSent(), std::vector<int>{1});
    EXPECT_EQ(job.conn.commands().back(), "CancelJob?");
    EXPECT_TRUE(job.log.contains(
        "ERROR: The raster of the document has a page header that cannot be read\n"));
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(TerminationSignalTest, HandlerOnlySetsTheFlagAndPipeIsIgnored)
{
    installSignalHandlers();
    resetTerminationRequest();
    EXPECT_FALSE(terminationRequested());
    std::raise(SIGPIPE);  // would end the process if not ignored
    EXPECT_FALSE(terminationRequested());
    std::raise(SIGTERM);
    EXPECT_TRUE(terminationRequested());
    resetTerminationRequest();
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
}

TEST(TerminationSignalTest, RealConnectionSeesTheFlagAndReportsAGoneBackend)
{
    installSignalHandlers();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);  // nobody reads the stream any more
    auto connection = makeCupsConnection(fds[1]);
    EXPECT_FALSE(connection->write("Event=StartOfJob;", 17));
    EXPECT_FALSE(connection->terminationRequested());
    std::raise(SIGTERM);
    EXPECT_TRUE(connection->terminationRequested());
    resetTerminationRequest();
    close(fds[1]);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
}

}  // namespace
}  // namespace rvt::test

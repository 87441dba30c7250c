// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Faults from outside the job: replies that arrive late, after their query
// has been given up, and rasters whose page headers libcups will not read.
#include "back_channel.h"
#include "command_stream.h"
#include "job_settings.h"
#include "job_test_support.h"

#include <cups/sidechannel.h>
#include <gtest/gtest.h>

namespace rvt::test {
namespace {

using Commands = std::vector<std::string>;

const std::string kLock = "LockPrinter?";
const std::string kEndPage = "Event=EndOfPage;";
const std::string kEndJob = "Event=EndOfJob;";
const std::string kUnlock = "UnLockPrinter?";
const std::string kCancel = "CancelJob?";

std::vector<RasterPage> pages(int n)
{
    return std::vector<RasterPage>(static_cast<size_t>(n), RasterPage{40, 16, 90});
}

TEST(StaleReplyTest, BytesWaitingBeforeAQueryAreNotItsReply)
{
    ScriptedConnection conn;
    MemoryLog log;
    JobSettings job;
    CommandStream stream{conn, log.log()};
    BackChannel back{stream, conn, job, log.log()};
    conn.arrivals = {"4", "22"};
    EXPECT_EQ(back.cmdInteraction(kEndPage), 0);
    EXPECT_TRUE(log.contains("DEBUG: before Event=EndOfPage;: discarded 3 byte(s) of late replies "
                             "to earlier queries: \"422\"\n"))
        << log.text();
}

// The printer could not be reached at the start: three lock queries went
// unanswered and wait in the backend. When it comes up it answers all four
// at once; the replies reach the filter in two pieces. The stale ones must
// not pass for the reply to page 1's end of page, which asks to cancel.
TEST(StaleReplyTest, RepliesPiledUpAtTheStartDoNotHideACancel)
{
    JobRun job;
    job.conn.replies[kLock] = {Reply::none(), Reply::none(), Reply::none()};
    job.conn.replies[kEndPage] = {{"4"}};
    int locks = 0;
    job.conn.onWrite = [&](const std::string& e) {
        if (e == kLock && ++locks == 4)
            job.conn.arrivals = {"2", "22"};
    };
    EXPECT_EQ(job.run(pages(3)), 0);
    EXPECT_EQ(job.pagesSent(), std::vector<int>{1});
    const Commands commands = job.conn.commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], kEndPage);
    EXPECT_EQ(commands.back(), kCancel);
    EXPECT_EQ(job.conn.count(kLock), 4);
    EXPECT_EQ(job.conn.count(kEndJob), 0);
    EXPECT_EQ(job.conn.serverCancels.size(), 1u);
    EXPECT_TRUE(job.log.contains("discarded 2 byte(s)")) << job.log.text();
    EXPECT_TRUE(job.leftovers().empty());
}

// The printer closes the connection in page 2: CUPS's socket backend then
// answers every drain with an I/O error, keeps reading, and nothing replies.
TEST(StaleReplyTest, AConnectionLostUnderAQueryEndsTheJob)
{
    JobRun job;
    int pagesEnded = 0;
    job.conn.onWrite = [&](const std::string& e) {
        if (e == kEndPage && ++pagesEnded == 1) {
            job.conn.drainStatuses.assign(1000, CUPS_SC_STATUS_IO_ERROR);
            job.conn.defaultReplies.clear();
        }
    };
    job.conn.onSleep = [&] { job.conn.terminate = job.conn.sleeps > 100; };  // no endless test
    EXPECT_EQ(job.run(pages(3)), 0);
    EXPECT_EQ(job.pagesSent(), (std::vector<int>{1, 2}));
    EXPECT_EQ(job.conn.commands().back(), kCancel);
    EXPECT_EQ(job.conn.count(kEndJob), 0);
    EXPECT_FALSE(job.conn.terminate);
    EXPECT_TRUE(job.log.contains("ERROR: The connection to the printer was lost\n"));
    EXPECT_EQ(job.conn.serverCancels.size(), 1u);
}

// A page header as it lies in a raster stream, of `width` pixels (0: one
// libcups refuses).
std::string rawHeader(unsigned width)
{
    cups_page_header2_t h{};
    h.HWResolution[0] = h.HWResolution[1] = 600;
    h.cupsWidth = width;
    h.cupsHeight = 16;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = width;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsNumColors = 1;
    return std::string(reinterpret_cast<const char*>(&h), sizeof h);
}

std::string syncWord()
{
    const uint32_t sync = CUPS_RASTER_SYNC;
    return std::string(reinterpret_cast<const char*>(&sync), sizeof sync);
}

struct StreamCase {
    const char* name;
    bool withLibcups;
    cups_mode_t mode;
    int pages;
    std::string tail;       // bytes after the pages
    std::vector<int> sent;  // pages on the stream
    std::string error;      // "": the job ends normally
};

class RasterEndTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(RasterEndTest, ARefusedHeaderIsNoEndOfTheDocument)
{
    const StreamCase& c = GetParam();
    JobRun job;
    job.withLibcups = c.withLibcups;
    job.rasterMode = c.mode;
    job.rasterTail = c.tail;
    EXPECT_EQ(job.run(pages(c.pages)), 0);
    EXPECT_EQ(job.pagesSent(), c.sent);
    const Commands commands = job.conn.commands();
    ASSERT_FALSE(commands.empty());
    if (c.error.empty()) {
        EXPECT_EQ(commands.back(), kUnlock);
        EXPECT_FALSE(job.log.contains("ERROR:")) << job.log.text();
    } else {
        EXPECT_EQ(commands.back(), kCancel);
        EXPECT_EQ(job.conn.count(kEndJob), 0);
        EXPECT_EQ(job.conn.serverCancels.size(), 1u);
        EXPECT_TRUE(job.log.contains("ERROR: " + c.error)) << job.log.text();
    }
    EXPECT_TRUE(job.leftovers().empty());
}

const std::string kUnreadable = "The raster of the document has a page header that cannot be read";
const auto kPlain = CUPS_RASTER_WRITE;
const auto kPacked = CUPS_RASTER_WRITE_COMPRESSED;

INSTANTIATE_TEST_SUITE_P(
    Streams, RasterEndTest,
    ::testing::Values(
        StreamCase{
            "FirstPageWidthZero", false, kPlain, 0, syncWord() + rawHeader(0), {}, kUnreadable},
        StreamCase{"WidthZeroAfterAPage", true, kPlain, 1, rawHeader(0), {1}, kUnreadable},
        StreamCase{
            "WidthZeroAfterAPageCompressed", true, kPacked, 2, rawHeader(0), {1, 2}, kUnreadable},
        StreamCase{"HalfAHeaderAfterAPage",
                   true,
                   kPlain,
                   1,
                   rawHeader(40).substr(0, 900),
                   {1},
                   kUnreadable},
        StreamCase{"HalfAHeaderCompressed",
                   true,
                   kPacked,
                   1,
                   rawHeader(40).substr(0, 900),
                   {1},
                   kUnreadable},
        StreamCase{"NotARaster",
                   false,
                   kPlain,
                   0,
                   "%!PS-Adobe-3.0\n",
                   {},
                   "The document is not a CUPS raster"},
        StreamCase{"CompressedPagesEndCleanly", true, kPacked, 3, "", {1, 2, 3}, ""},
        StreamCase{"EmptyDocument", false, kPlain, 0, "", {}, ""},
        StreamCase{"NoPageAfterTheFirstWord", true, kPlain, 0, "", {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rvt::test

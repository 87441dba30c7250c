// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Whole jobs run in-process against the scripted printer.
#include "job_test_support.h"

#include <arpa/inet.h>
#include <cups/sidechannel.h>
#include <gtest/gtest.h>

namespace rvt::test {
namespace {

using Commands = std::vector<std::string>;

const std::string kLock = "LockPrinter?";
const std::string kStart = "Event=StartOfJob;";
const std::string kEndPage = "Event=EndOfPage;";
const std::string kEndJob = "Event=EndOfJob;";
const std::string kUnlock = "UnLockPrinter?";
const std::string kCancel = "CancelJob?";

std::vector<RasterPage> pages(int n)
{
    std::vector<RasterPage> result;
    for (int i = 0; i < n; ++i)
        result.push_back(RasterPage{40, 16, static_cast<unsigned char>(i * 60), 8, 0, ~0u});
    return result;
}

TEST(JobTest, OnePageStream)
{
    JobRun job;
    EXPECT_EQ(job.run({RasterPage{64, 48, 0}}), 0);
    const Commands commands = job.conn.commands();
    EXPECT_EQ(commands,
              (Commands{kLock, kStart,
                        "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;"
                        "MediaInputTrayCheck=auto;",
                        "MediaSize=na_a4_210x297mm;RasterObject.Width=64;RasterObject.Height=48;",
                        kEndPage, kEndJob, kUnlock}));
    // The page data is the page file, a JBIG image of the page's own size, in
    // counted chunks between the page header and the end of page.
    std::string data;
    for (size_t i = 4; i < job.conn.elements.size() && job.conn.elements[i] != kEndPage; ++i) {
        const std::string& e = job.conn.elements[i];
        const size_t eq = e.find('=');
        ASSERT_EQ(e.rfind("RasterObject.Data#", 0), 0u);
        ASSERT_EQ(std::stoul(e.substr(18, eq - 18)), e.size() - eq - 2);
        ASSERT_EQ(e.back(), ';');
        data += e.substr(eq + 1, e.size() - eq - 2);
    }
    ASSERT_GE(data.size(), 20u);
    uint32_t xd, yd;
    std::memcpy(&xd, data.data() + 4, 4);
    std::memcpy(&yd, data.data() + 8, 4);
    EXPECT_EQ(ntohl(xd), 64u);
    EXPECT_EQ(ntohl(yd), 48u);
    EXPECT_TRUE(job.log.contains("完成第1页的数据转换\n开始发送第1页的数据\n"));
    EXPECT_TRUE(
        job.log.contains("DEBUG:[RVT4410LW] total page number =  2 ========================\n"
                         "DEBUG: total page number =  1 ========================\n"));
    EXPECT_TRUE(job.leftovers().empty());
}

struct OrderCase {
    const char* name;
    int pages;
    std::string options;
    std::string copies;
    std::string copiesField;
    std::vector<int> sent;
};

class PageOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(PageOrderTest, PagesCopiesAndSheets)
{
    const OrderCase& c = GetParam();
    JobRun job;
    EXPECT_EQ(job.run(pages(c.pages), c.options, c.copies), 0);
    EXPECT_EQ(job.pagesSent(), c.sent);
    const Commands commands = job.conn.commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_NE(commands[2].find("Copies=" + c.copiesField + ";"), std::string::npos) << commands[2];
    EXPECT_EQ(job.conn.count(kEndPage), static_cast<int>(c.sent.size()));
    EXPECT_EQ(commands.back(), kUnlock);
    EXPECT_EQ(job.conn.count(kCancel), 0);
    EXPECT_TRUE(job.leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, PageOrderTest,
    ::testing::Values(
        OrderCase{"OneSidedCollated", 3, "", "2", "1", {1, 2, 3, 1, 2, 3}},
        OrderCase{"OneSidedUncollated", 3, "Collate=False", "2", "2", {1, 2, 3}},
        OrderCase{"TwoSidedFourPages", 4, "Duplex=DuplexNoTumble", "1", "1", {2, 1, 4, 3}},
        OrderCase{"TwoSidedCollated", 3, "Duplex=DuplexTumble", "2", "1", {2, 1, 4, 3, 2, 1, 4, 3}},
        OrderCase{
            "TwoSidedUncollated", 3, "Duplex=DuplexNoTumble Collate=False", "2", "2", {2, 1, 4, 3}},
        OrderCase{"OnePageTwoSided", 1, "Duplex=DuplexTumble", "1", "1", {2, 1}},
        OrderCase{"UncollatedCopiesTextKept", 1, "Collate=False", "3", "3", {1}},
        OrderCase{"NoCopies", 2, "", "0", "1", {1, 2}},
        OrderCase{"NonNumericCopies", 2, "", "many", "1", {1, 2}},
        OrderCase{"NonNumericUncollated", 1, "Collate=False", "x%d", "x%d", {1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobTest, ZeroPageJob)
{
    for (const char* options : {"", "Duplex=DuplexNoTumble"}) {
        JobRun job;
        EXPECT_EQ(job.run({}, options, "2"), 0);
        const Commands commands = job.conn.commands();
        ASSERT_EQ(commands.size(), 5u);
        EXPECT_EQ(commands[0], kLock);
        EXPECT_EQ(commands[1], kStart);
        EXPECT_EQ(commands[3], kEndJob);
        EXPECT_EQ(commands[4], kUnlock);
        EXPECT_TRUE(job.leftovers().empty());
    }
}

TEST(JobTest, BlankBackPageHasTheSizeOfItsFront)
{
    JobRun job;
    EXPECT_EQ(job.run({RasterPage{40, 16, 0}, RasterPage{48, 20, 0}, RasterPage{33, 12, 0}},
                      "Duplex=DuplexTumble"),
              0);
    EXPECT_EQ(job.pagesSent(), (std::vector<int>{2, 1, 4, 3}));
    const std::string a4 = "MediaSize=na_a4_210x297mm;";
    // Every page declares its own size, the blank page 4 that of page 3.
    EXPECT_EQ(job.pageHeaders(), (Commands{a4 + "RasterObject.Width=48;RasterObject.Height=20;",
                                           a4 + "RasterObject.Width=40;RasterObject.Height=16;",
                                           a4 + "RasterObject.Width=40;RasterObject.Height=12;",
                                           a4 + "RasterObject.Width=40;RasterObject.Height=12;"}));
}

TEST(JobTest, CopiesOfMixedSizesKeepTheirSizes)
{
    JobRun job;
    EXPECT_EQ(job.run({RasterPage{64, 16, 0}, RasterPage{24, 8, 0}}, "", "2"), 0);
    const std::string a4 = "MediaSize=na_a4_210x297mm;";
    const std::string first = a4 + "RasterObject.Width=64;RasterObject.Height=16;";
    const std::string second = a4 + "RasterObject.Width=24;RasterObject.Height=8;";
    EXPECT_EQ(job.pageHeaders(), (Commands{first, second, first, second}));
    EXPECT_TRUE(
        job.log.contains("DEBUG:send copy = 2 and total copies = 2 ========================\n"));
}

struct ConnectionCase {
    std::vector<int> statuses;
    bool printed;
    int sleeps;
    std::vector<std::string> logLines;
};

class ConnectionWaitTest : public ::testing::TestWithParam<ConnectionCase> {};

TEST_P(ConnectionWaitTest, StatusDecides)
{
    const ConnectionCase& c = GetParam();
    JobRun job;
    job.conn.connectedStatuses.assign(c.statuses.begin(), c.statuses.end());
    EXPECT_EQ(job.run(pages(1)), 0);
    EXPECT_EQ(job.conn.connectedRequests, static_cast<int>(c.statuses.size()));
    EXPECT_EQ(job.conn.sleeps, c.sleeps);
    if (c.printed) {
        EXPECT_EQ(job.pagesSent(), std::vector<int>{1});
        EXPECT_EQ(job.conn.commands().back(), kUnlock);
    } else {
        // Cancelled before the lock: the only command is the cancel query.
        EXPECT_EQ(job.conn.commands(), Commands{kCancel});
        EXPECT_EQ(job.conn.serverCancels.size(), 1u);
    }
    for (const std::string& line : c.logLines)
        EXPECT_TRUE(job.log.contains(line)) << line;
    EXPECT_TRUE(job.leftovers().empty());
}

const std::string kGiveUp =
    "DEBUG:[RVT4410LW] CUPS_SC_STATUS_NO_RESPONSE or CUPS_SC_STATUS_IO_ERROR\n";

INSTANTIATE_TEST_SUITE_P(
    Statuses, ConnectionWaitTest,
    ::testing::Values(
        ConnectionCase{{CUPS_SC_STATUS_OK}, true, 0, {}},
        ConnectionCase{{CUPS_SC_STATUS_NOT_IMPLEMENTED},
                       true,
                       0,
                       {"DEBUG:[RVT4410LW] Check Connecttion CUPS Stauts = 7 \n"}},
        ConnectionCase{{CUPS_SC_STATUS_NO_RESPONSE},
                       false,
                       0,
                       {"DEBUG:[RVT4410LW] Check Connecttion CUPS Stauts = 4 \n" + kGiveUp}},
        ConnectionCase{{CUPS_SC_STATUS_IO_ERROR},
                       false,
                       0,
                       {"DEBUG:[RVT4410LW] Check Connecttion CUPS Stauts = 2 \n" + kGiveUp}},
        ConnectionCase{{CUPS_SC_STATUS_TIMEOUT, CUPS_SC_STATUS_NONE, CUPS_SC_STATUS_OK},
                       true,
                       2,
                       {"DEBUG:[RVT4410LW] Check Connecttion CUPS Stauts = 3 \n",
                        "DEBUG:[RVT4410LW] Check Connecttion CUPS Stauts = 0 \n"}}));

TEST(JobTest, TerminationDuringTheConnectionWait)
{
    JobRun job;
    job.conn.connectedStatuses = {CUPS_SC_STATUS_TIMEOUT, CUPS_SC_STATUS_TIMEOUT,
                                  CUPS_SC_STATUS_TIMEOUT, CUPS_SC_STATUS_OK};
    job.conn.onSleep = [&] {
        if (job.conn.sleeps == 2)
            job.conn.terminate = true;
    };
    EXPECT_EQ(job.run(pages(1)), 0);
    EXPECT_EQ(job.conn.commands(), Commands{kCancel});
    EXPECT_EQ(job.conn.connectedRequests, 2);
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(JobTest, ABackendThatHasEndedIsNotWaitedFor)
{
    // The backend ended before the job began (say, it asked the scheduler to
    // stop the queue): the side channel only times out, and nothing can be
    // sent. The job ends without a server-side cancel, so the scheduler keeps
    // the job for the stopped queue.
    JobRun job;
    job.conn.connectedStatuses = {CUPS_SC_STATUS_TIMEOUT, CUPS_SC_STATUS_TIMEOUT,
                                  CUPS_SC_STATUS_TIMEOUT, CUPS_SC_STATUS_TIMEOUT};
    job.conn.onSleep = [&] { job.conn.backendEnded = true; };
    EXPECT_EQ(job.run(pages(1)), 0);
    EXPECT_EQ(job.conn.connectedRequests, 2);
    EXPECT_TRUE(job.conn.elements.empty());
    EXPECT_TRUE(job.conn.serverCancels.empty());
    EXPECT_TRUE(job.log.contains("nobody reads the print stream"));
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(JobTest, EndOfPageReplyFourCancels)
{
    JobRun job;
    job.conn.replies[kEndPage] = {{"0"}, {"4"}};
    EXPECT_EQ(job.run(pages(3), "", "2"), 0);
    EXPECT_EQ(job.pagesSent(), (std::vector<int>{1, 2}));
    const Commands commands = job.conn.commands();
    EXPECT_EQ(commands.back(), kCancel);
    EXPECT_EQ(job.conn.count(kEndJob), 0);
    EXPECT_EQ(job.conn.count(kUnlock), 0);
    EXPECT_EQ(job.conn.serverCancels, (std::vector<std::pair<std::string, int>>{{"queue", 12}}));
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(JobTest, TerminationDuringTheLockWait)
{
    JobRun job;
    job.conn.replies[kLock] = {{"0"}, {"0"}, {"0"}};
    int locks = 0;
    job.conn.onWrite = [&](const std::string& e) {
        if (e == kLock && ++locks == 3)
            job.conn.terminate = true;
    };
    EXPECT_EQ(job.run(pages(1)), 0);
    EXPECT_EQ(job.conn.commands(), (Commands{kLock, kLock, kLock, kCancel}));
    EXPECT_EQ(job.conn.sleeps, 6);  // the pause after the third refusal is cut short
    EXPECT_EQ(job.conn.serverCancels, (std::vector<std::pair<std::string, int>>{{"queue", 12}}));
    EXPECT_TRUE(job.log.contains("任务已取消\n"));
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(JobTest, TerminationDuringThePageLoop)
{
    JobRun job;
    int pagesEnded = 0;
    job.conn.onWrite = [&](const std::string& e) {
        if (e == kEndPage && ++pagesEnded == 2)
            job.conn.terminate = true;
    };
    EXPECT_EQ(job.run(pages(4)), 0);
    EXPECT_EQ(job.pagesSent(), (std::vector<int>{1, 2}));
    Commands commands = job.conn.commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], kEndPage);
    EXPECT_EQ(commands.back(), kCancel);
    EXPECT_EQ(job.conn.count(kUnlock), 0);
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(JobTest, TerminationWhileSendingDataStopsBetweenChunks)
{
    JobRun job;
    // Pages of noise make page files of several chunks.
    RasterPage noise{400, 200, 0};
    noise.noiseSeed = 7;
    std::vector<RasterPage> noisy = {noise, noise};
    job.conn.onWrite = [&](const std::string& e) {
        if (e.rfind("RasterObject.Data#", 0) == 0)
            job.conn.terminate = true;
    };
    EXPECT_EQ(job.run(noisy), 0);
    // The chunk under way went out whole and the cancel followed it at once:
    // the rest of the page is not sent, nor its end of page.
    const auto& elements = job.conn.elements;
    ASSERT_GE(elements.size(), 2u);
    EXPECT_EQ(elements.back(), kCancel);
    const std::string& chunk = elements[elements.size() - 2];
    ASSERT_EQ(chunk.rfind("RasterObject.Data#", 0), 0u);
    const size_t eq = chunk.find('=');
    EXPECT_EQ(chunk.size(), eq + 1 + std::stoul(chunk.substr(18, eq - 18)) + 1);
    EXPECT_EQ(chunk.back(), ';');
    EXPECT_EQ(job.conn.count(kEndPage), 0);
    EXPECT_TRUE(job.leftovers().empty());
}

TEST(JobTest, WriteErrorEndsTheJobQuietly)
{
    for (int writes : {0, 3, 5}) {
        SCOPED_TRACE(writes);
        JobRun job;
        job.conn.writesBeforeFailure = writes;
        EXPECT_EQ(job.run(pages(3), "", "3"), 0);
        EXPECT_EQ(static_cast<int>(job.conn.elements.size()), writes);
        EXPECT_TRUE(job.log.contains("backend gone"));
        EXPECT_TRUE(job.conn.serverCancels.empty());
        // No endless lock or unlock retries against a gone backend.
        EXPECT_EQ(job.conn.sleeps, 0);
        EXPECT_TRUE(job.leftovers().empty());
    }
}

struct RefusedCase {
    const char* name;
    RasterPage page;
    std::string reason;
};

class RefusedPageTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedPageTest, LoggedAndCancelled)
{
    const RefusedCase& c = GetParam();
    JobRun job;
    EXPECT_EQ(job.run({pages(1)[0], c.page, pages(1)[0]}), 0);
    EXPECT_EQ(job.pagesSent(), std::vector<int>{1});
    EXPECT_EQ(job.conn.commands().back(), kCancel);
    EXPECT_EQ(job.conn.count(kEndJob), 0);
    EXPECT_TRUE(job.log.contains(c.reason)) << job.log.text();
    EXPECT_TRUE(job.leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Headers, RefusedPageTest,
    ::testing::Values(RefusedCase{"TooWide", RasterPage{5401, 4, 0, 8, 0, 0},
                                  "DEBUG: refusing a page of 5401 x 4"},
                      RefusedCase{"TooHigh", RasterPage{8, 8401, 0, 8, 0, 0},
                                  "DEBUG: refusing a page of 8 x 8401"},
                      RefusedCase{"Huge", RasterPage{70000, 70000, 0, 8, 0, 0},
                                  "DEBUG: refusing a page of 70000 x 70000"},
                      RefusedCase{"SixteenBitsShortLine", RasterPage{16, 4, 0, 16, 16, ~0u},
                                  "16 bytes per line for 16 pixels of 16 bits"},
                      RefusedCase{"BitsPerPixelNotBitsPerColour", RasterPage{16, 4, 0, 1, 0, ~0u},
                                  "1 bits per pixel for 8 bits per colour"},
                      RefusedCase{"CieLab", RasterPage{16, 4, 0, 8, 0, ~0u, 0, CUPS_CSPACE_CIELab},
                                  "colour space 16 is not one the filter prints"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobTest, ShortRasterPrintsWhiteRows)
{
    JobRun job;
    EXPECT_EQ(job.run({RasterPage{40, 16, 0, 8, 0, 4}}), 0);
    EXPECT_EQ(job.pagesSent(), std::vector<int>{1});
    EXPECT_EQ(job.conn.commands().back(), kUnlock);
}

struct FileArgumentCase {
    const char* name;
    bool fileExists;
    std::vector<int> sent;
    std::string lastCommand;
};

class FileArgumentTest : public ::testing::TestWithParam<FileArgumentCase> {};

// The first filter of a chain gets its document as a file named on the command
// line, with nothing on standard input.
TEST_P(FileArgumentTest, RasterIsReadFromTheNamedFile)
{
    const FileArgumentCase& c = GetParam();
    JobRun job;
    job.fileArgument = c.fileExists ? job.rasterPath() : job.tmpdir + "/no-such-raster";
    EXPECT_EQ(job.run(pages(2)), 0);
    EXPECT_EQ(job.pagesSent(), c.sent);
    EXPECT_EQ(job.conn.commands().back(), c.lastCommand);
    EXPECT_EQ(job.log.contains("cannot open raster file"), !c.fileExists);
    EXPECT_TRUE(job.leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(Files, FileArgumentTest,
                         ::testing::Values(FileArgumentCase{"Readable", true, {1, 2}, kUnlock},
                                           FileArgumentCase{"Missing", false, {}, kCancel}),
                         [](const auto& info) { return std::string(info.param.name); });

int refusingParser(const char*, int, cups_option_t**) { return -1; }

TEST(JobTest, IllegalOptionsSendNothing)
{
    JobRun job;
    job.parser = refusingParser;
    EXPECT_EQ(job.run(pages(1), "x"), 0);
    EXPECT_TRUE(job.conn.output.empty());
    EXPECT_EQ(job.conn.connectedRequests, 0);
    EXPECT_EQ(job.log.text(), "DEBUG:[RVT4410LW]illegal option.return 0\n");
}

TEST(JobTest, MissingArgumentsAreAUsageError)
{
    ScriptedConnection conn;
    MemoryLog log;
    char a0[] = "queue", a1[] = "1", a2[] = "user";
    char* argv[] = {a0, a1, a2, nullptr};
    EXPECT_EQ(runJob(3, argv, conn, log.log(), JobEnvironment{}), 1);
    EXPECT_TRUE(conn.output.empty());
    EXPECT_EQ(log.text(), "Usage: queue job-id user title copies options [file]\n");
}

}  // namespace
}  // namespace rvt::test

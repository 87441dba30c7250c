// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A job run without the scheduler's back and side channels (by hand, or by
// cupsfilter): the whole stream goes out without waiting for any reply.
#include "job_test_support.h"

#include <gtest/gtest.h>

namespace rvt::test {
namespace {

struct ChannelCase {
    const char* name;
    bool back;
    bool side;
    std::string note;  // the one log line saying so
};

class NoChannelTest : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(NoChannelTest, WholeStreamWithoutWaiting)
{
    const ChannelCase& c = GetParam();
    JobRun job;
    job.conn.backChannel = c.back;
    job.conn.sideChannel = c.side;
    // A printer that would refuse the lock and cancel at the first page: its
    // replies must not be read.
    job.conn.defaultReplies["LockPrinter?"] = "0";
    job.conn.defaultReplies["Event=EndOfPage;"] = "4";
    job.conn.connectedStatuses = {0, 0, 0};
    EXPECT_EQ(job.run({RasterPage{40, 16, 0}, RasterPage{40, 16, 90}}, "Duplex=DuplexTumble", "2"),
              0);
    EXPECT_EQ(job.pagesSent(), (std::vector<int>{2, 1, 2, 1}));
    const std::vector<std::string> commands = job.conn.commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands.front(), "LockPrinter?");
    EXPECT_EQ(commands[commands.size() - 2], "Event=EndOfJob;");
    EXPECT_EQ(commands.back(), "UnLockPrinter?");
    EXPECT_EQ(job.conn.count("LockPrinter?"), 1);
    EXPECT_EQ(job.conn.count("CancelJob?"), 0);
    EXPECT_EQ(job.conn.backChannelReads, 0);
    EXPECT_EQ(job.conn.connectedRequests, 0);
    EXPECT_EQ(job.conn.sleeps, 0);
    const std::string log = job.log.text();
    EXPECT_EQ(log.find(c.note), log.rfind(c.note)) << "said once";
    EXPECT_NE(log.find(c.note), std::string::npos) << log;
    EXPECT_NE(log.find("PAGE: 4 1\n"), std::string::npos);
    EXPECT_TRUE(job.leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Channels, NoChannelTest,
    ::testing::Values(
        ChannelCase{"Neither", false, false,
                    "DEBUG: no back channel and no side channel: the job is sent without waiting "
                    "for the printer's replies\n"},
        ChannelCase{"NoBackChannel", false, true,
                    "DEBUG: no back channel: the job is sent without waiting for the printer's "
                    "replies\n"},
        ChannelCase{"NoSideChannel", true, false,
                    "DEBUG: no side channel: the job is sent without waiting for the printer's "
                    "replies\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A cancel without the scheduler: "CancelJob?" ends the stream, and no
// server-side cancel is asked for a job id that is not this job's.
TEST(NoChannelTest, CancelAsksNoServer)
{
    JobRun job;
    job.conn.backChannel = false;
    job.conn.sideChannel = false;
    job.conn.onWrite = [&job](const std::string& e) {
        if (e == "Event=StartOfJob;")
            job.conn.terminate = true;
    };
    EXPECT_EQ(job.run({RasterPage{40, 16, 0}}), 0);
    EXPECT_EQ(job.conn.commands().back(), "CancelJob?");
    EXPECT_TRUE(job.conn.serverCancels.empty());
    EXPECT_TRUE(job.log.contains("DEBUG: no scheduler job to cancel\n"));
}

TEST(NoChannelTest, UnderTheSchedulerTheRepliesAreAwaited)
{
    JobRun job;
    job.conn.replies["LockPrinter?"] = {Reply{"0"}};
    EXPECT_EQ(job.run({RasterPage{40, 16, 0}}), 0);
    EXPECT_EQ(job.conn.count("LockPrinter?"), 2);
    EXPECT_GT(job.conn.backChannelReads, 0);
    EXPECT_FALSE(job.log.contains("without waiting"));
}

}  // namespace
}  // namespace rvt::test

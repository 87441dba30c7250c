// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Exchanges with the printer: reply codes, status classes, lock, unlock, end
// of page and the cancel sequence.
#include "back_channel.h"
#include "command_stream.h"
#include "job_settings.h"
#include "scripted_connection.h"

#include <gtest/gtest.h>

namespace rvt::test {
namespace {

struct Exchange {
    ScriptedConnection conn;
    MemoryLog log;
    JobSettings job;
    CommandStream stream{conn, log.log()};
    BackChannel back{stream, conn, job, log.log()};
};

struct ReplyCase {
    Reply reply;
    int code;
};

class ReplyCodeTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyCodeTest, FirstTokenOfAtMostFourCharacters)
{
    Exchange x;
    x.conn.replies["Status?"] = {GetParam().reply};
    EXPECT_EQ(x.back.cmdInteraction("Status?"), GetParam().code);
    EXPECT_EQ(x.conn.output, "Status?");
}

INSTANTIATE_TEST_SUITE_P(Replies, ReplyCodeTest,
                         ::testing::Values(ReplyCase{{"2"}, 2}, ReplyCase{{"0002"}, 2},
                                           ReplyCase{{" 2"}, 2}, ReplyCase{{"\t 3\n"}, 3},
                                           ReplyCase{{"OK"}, 0}, ReplyCase{{"30381"}, 3038},
                                           ReplyCase{{"12ab"}, 12}, ReplyCase{{"-4"}, -4},
                                           ReplyCase{{"4 5"}, 4}, ReplyCase{{"   "}, 0},
                                           ReplyCase{Reply::after(3, "2"), 2},
                                           ReplyCase{Reply::after(4, "2"), kNoReply},
                                           ReplyCase{Reply::none(), kNoReply}));

TEST(CmdInteractionTest, LogsTheReply)
{
    Exchange x;
    x.conn.replies["LockPrinter?"] = {{" 0002 ok"}};
    EXPECT_EQ(x.back.cmdInteraction("LockPrinter?"), 2);
    EXPECT_EQ(
        x.log.text(),
        "DEBUG:[RVT4410LW] sned cmd = LockPrinter?\n"
        "DEBUG:[RVT4410LW]send command:LockPrinter? ,and send status = 1\n"
        "DEBUG:[RVT4410LW]bytes_status= 8\n"
        "DEBUG:[RVT4410LW]send cmd=LockPrinter? ,original response = 0002 ok,responseCode=0002\n");
}

TEST(CmdInteractionTest, NoReplyAfterFourReads)
{
    Exchange x;
    x.conn.replies["LockPrinter?"] = {Reply::none()};
    EXPECT_EQ(x.back.cmdInteraction("LockPrinter?"), 6);
    EXPECT_EQ(x.conn.backChannelReads, 4);
    EXPECT_TRUE(x.log.contains("DEBUG:[RVT4410LW]bytes_status= 0\n"
                               "DEBUG:[RVT4410LW]send cmd = LockPrinter?, mInc=3;return 0;\n"));
}

TEST(CmdInteractionTest, TerminationEndsTheWaitForAReply)
{
    Exchange x;
    x.conn.replies["LockPrinter?"] = {Reply::none()};
    x.conn.onWrite = [&](const std::string&) { x.conn.terminate = true; };
    EXPECT_EQ(x.back.cmdInteraction("LockPrinter?"), kNoReply);
    EXPECT_EQ(x.conn.backChannelReads, 1);
}

struct StatusClassCase {
    int code;
    int statusClass;
};

class StatusClassTest : public ::testing::TestWithParam<StatusClassCase> {};

TEST_P(StatusClassTest, Classifies)
{
    EXPECT_EQ(decodeStatusCode(GetParam().code), GetParam().statusClass) << GetParam().code;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusClassTest,
    ::testing::Values(StatusClassCase{0, 0}, StatusClassCase{1, 0}, StatusClassCase{2, 2},
                      StatusClassCase{3, 3}, StatusClassCase{4, 4}, StatusClassCase{5, 0},
                      StatusClassCase{6, 6}, StatusClassCase{7, 0}, StatusClassCase{8, 0},
                      StatusClassCase{2000, 0}, StatusClassCase{2001, 9}, StatusClassCase{2002, 9},
                      StatusClassCase{2003, 5}, StatusClassCase{2016, 5}, StatusClassCase{2017, 0},
                      StatusClassCase{2999, 0}, StatusClassCase{3000, 5}, StatusClassCase{3029, 5},
                      StatusClassCase{3030, 0}, StatusClassCase{3031, 5}, StatusClassCase{3037, 5},
                      StatusClassCase{3038, 7}, StatusClassCase{3039, 5}, StatusClassCase{3062, 5},
                      StatusClassCase{3063, 0}, StatusClassCase{3064, 5}, StatusClassCase{5012, 5},
                      StatusClassCase{5013, 0}, StatusClassCase{6001, 0}, StatusClassCase{6002, 5},
                      StatusClassCase{6003, 0}, StatusClassCase{-1, 0}, StatusClassCase{-3030, 0}));

TEST(LockTest, RefusedRepliesAreAskedAgainEveryThreeSeconds)
{
    Exchange x;
    x.conn.replies["LockPrinter?"] = {{"OK"}, Reply::none(), {"3"}, {"2"}};
    EXPECT_EQ(x.back.lockPrinter(), Flow::Go);
    EXPECT_EQ(x.conn.count("LockPrinter?"), 4);
    EXPECT_EQ(x.conn.sleeps, 9);
    EXPECT_FALSE(x.back.cancelled());
}

TEST(UnlockTest, DoneOnThreeOrFour)
{
    for (const char* done : {"3", "4"}) {
        Exchange x;
        x.conn.replies["UnLockPrinter?"] = {{"2"}, {"6"}, {done}};
        EXPECT_EQ(x.back.unLockPrinter(), Flow::Go);
        EXPECT_EQ(x.conn.count("UnLockPrinter?"), 3);
        EXPECT_EQ(x.conn.sleeps, 6);
    }
}

TEST(EndOfPageTest, ReplyFourCancelsOthersGoOn)
{
    for (const char* reply : {"0", "2", "3", "5", "40"}) {
        Exchange x;
        x.conn.replies["Event=EndOfPage;"] = {{reply}};
        EXPECT_EQ(x.back.endOfPage(), Flow::Go) << reply;
        EXPECT_EQ(x.conn.output, "Event=EndOfPage;");
    }
    Exchange x;
    x.conn.replies["Event=EndOfPage;"] = {{"4"}};
    EXPECT_EQ(x.back.endOfPage(), Flow::Stop);
    EXPECT_EQ(x.conn.output, "Event=EndOfPage;CancelJob?");
    EXPECT_TRUE(x.back.cancelled());
}

TEST(StatusTest, ClassesFourAndSixCancel)
{
    struct {
        Reply reply;
        Flow flow;
    } cases[] = {{{"4"}, Flow::Stop},  {{"6"}, Flow::Stop},  {Reply::none(), Flow::Stop},
                 {{"3030"}, Flow::Go}, {{"3038"}, Flow::Go}, {{"2"}, Flow::Go}};
    for (auto& c : cases) {
        Exchange x;
        x.conn.replies["Status?"] = {c.reply};
        EXPECT_EQ(x.back.checkStatus(), c.flow) << c.reply.text;
        EXPECT_EQ(x.conn.count("CancelJob?"), c.flow == Flow::Stop ? 1 : 0);
    }
}

TEST(CancelTest, SequenceRunsOnceWithItsLogLines)
{
    Exchange x;
    x.job.PrinterName = "rvt";
    x.job.JobId = 7;
    x.conn.serverCancelResult = 0;
    x.conn.serverLastError = "No such job";
    x.conn.terminate = true;  // the cancel reply is read all the same
    x.conn.replies["CancelJob?"] = {Reply::after(2, "0")};
    x.back.cancelJob();
    x.back.cancelJob();
    EXPECT_EQ(x.conn.output, "CancelJob?");
    EXPECT_EQ(x.conn.backChannelReads, 3);
    EXPECT_EQ(x.conn.serverCancels.size(), 1u);
    const std::string text = x.log.text();
    EXPECT_EQ(text.rfind("任务已取消\n", 0), 0u);
    EXPECT_TRUE(x.log.contains("[RVT4410LW]cupsCancelJob int = 0\n"
                               "[RVT4410LW]cupsCancelJoblasterror = No such job\n"));
    EXPECT_EQ(x.back.checkpoint(), Flow::Stop);
}

}  // namespace
}  // namespace rvt::test

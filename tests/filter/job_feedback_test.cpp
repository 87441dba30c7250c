// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The lines the scheduler reads from the job besides the filter's own log:
// pages for the page log, progress, what the job waits for, why it was
// cancelled, and printer-state keywords that never outlive their condition.
#include "job_feedback.h"
#include "job_test_support.h"

#include <cups/sidechannel.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <sstream>

namespace rvt::test {
namespace {

// The scheduler's lines of a log, in order.
std::vector<std::string> feedbackLines(const std::string& log)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line))
        for (const char* prefix : {"PAGE: ", "ATTR: ", "INFO: ", "ERROR: ", "STATE: "})
            if (line.rfind(prefix, 0) == 0)
                lines.push_back(line);
    return lines;
}

std::vector<std::string> withPrefix(const std::vector<std::string>& lines, const std::string& p)
{
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.rfind(p, 0) == 0)
            out.push_back(l);
    return out;
}

// Every keyword is set at most once at a time and nothing is left set at the
// end; returns the keywords that were set at some point.
std::vector<std::string> checkStates(const std::vector<std::string>& lines)
{
    std::map<std::string, bool> set;
    std::vector<std::string> seen;
    for (const std::string& l : withPrefix(lines, "STATE: ")) {
        const char sign = l[7];
        const std::string keyword = l.substr(8);
        EXPECT_TRUE(sign == '+' || sign == '-') << l;
        if (sign == '+') {
            EXPECT_FALSE(set[keyword]) << "set twice: " << keyword;
            set[keyword] = true;
            seen.push_back(keyword);
        } else {
            set[keyword] = false;
        }
    }
    for (const auto& [keyword, on] : set)
        EXPECT_FALSE(on) << "left set at the end: " << keyword;
    return seen;
}

std::vector<RasterPage> grayPages(int n)
{
    std::vector<RasterPage> pages;
    for (int i = 0; i < n; ++i)
        pages.push_back(RasterPage{40, 16, static_cast<unsigned char>(i * 60)});
    return pages;
}

std::vector<std::string> pageLines(int n)
{
    std::vector<std::string> lines;
    for (int i = 1; i <= n; ++i)
        lines.push_back("PAGE: " + std::to_string(i) + " 1");
    return lines;
}

bool has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct FeedbackCase {
    const char* name;
    std::function<void(JobRun&)> setUp;
    std::vector<RasterPage> pages;
    std::string options;
    std::string copies;
    int pagesPrinted;
    std::vector<std::string> expected;  // lines that must be there
    std::vector<std::string> keywords;  // the state keywords set during the job, in order
    std::string error;                  // the one ERROR line, or "" for none
};

class JobFeedbackTest : public ::testing::TestWithParam<FeedbackCase> {};

TEST_P(JobFeedbackTest, TellsTheScheduler)
{
    const FeedbackCase& c = GetParam();
    JobRun job;
    if (c.setUp)
        c.setUp(job);
    EXPECT_EQ(job.run(c.pages, c.options, c.copies), 0);
    const std::vector<std::string> lines = feedbackLines(job.log.text());
    EXPECT_EQ(withPrefix(lines, "PAGE: "), pageLines(c.pagesPrinted));
    for (const std::string& l : c.expected)
        EXPECT_TRUE(has(lines, l)) << "missing: " << l << "\n" << job.log.text();
    EXPECT_EQ(checkStates(lines), c.keywords);
    const std::vector<std::string> errors = withPrefix(lines, "ERROR: ");
    if (c.error.empty()) {
        EXPECT_EQ(errors, std::vector<std::string>{});
    } else {
        EXPECT_EQ(errors, std::vector<std::string>{"ERROR: " + c.error});
    }
    // Each page sent shows its progress from 0 to 100, rising.
    int last = 100;
    for (const std::string& l : withPrefix(lines, "ATTR: ")) {
        const int p = std::stoi(l.substr(std::string("ATTR: job-media-progress=").size()));
        if (last == 100) {
            EXPECT_EQ(p, 0) << l;
        } else {
            EXPECT_GT(p, last) << l;
        }
        last = p;
    }
    // A job that went through ends its last page at 100.
    if (!withPrefix(lines, "INFO: Job done").empty()) {
        EXPECT_EQ(last, 100);
    }
}

void lockReplies(JobRun& job, std::deque<Reply> replies)
{
    job.conn.replies["LockPrinter?"] = replies;
}

const std::string kBusy = "com.rvt-printer-busy-report";

INSTANTIATE_TEST_SUITE_P(
    Jobs, JobFeedbackTest,
    ::testing::Values(
        FeedbackCase{"CollatedCopies",
                     nullptr,
                     grayPages(3),
                     "",
                     "2",
                     6,
                     {"INFO: Printing page 1", "INFO: Printing page 3", "INFO: Sending copy 2 of 2",
                      "INFO: Printing page 1 of 3", "INFO: Printing page 3 of 3",
                      "INFO: Job done: 6 pages sent to the printer"},
                     {},
                     ""},
        FeedbackCase{"UncollatedCopiesAreThePrinters",
                     nullptr,
                     grayPages(2),
                     "Collate=False",
                     "3",
                     2,
                     {"INFO: Job done: 2 pages sent to the printer"},
                     {},
                     ""},
        FeedbackCase{"BlankBackPageCounts",
                     nullptr,
                     grayPages(3),
                     "Duplex=DuplexTumble",
                     "1",
                     4,
                     {"INFO: Printing page 2", "INFO: Printing the blank back of the last sheet",
                      "INFO: Printing page 3 of 3"},
                     {},
                     ""},
        FeedbackCase{"ConnectionWait",
                     [](JobRun& j) {
                         j.conn.connectedStatuses = {0, CUPS_SC_STATUS_TIMEOUT, 0};
                     },
                     grayPages(1),
                     "",
                     "1",
                     1,
                     {"INFO: Waiting for the printer to connect", "STATE: -connecting-to-device"},
                     {"connecting-to-device"},
                     ""},
        FeedbackCase{
            "ConnectionNoResponse",
            [](JobRun& j) {
                j.conn.connectedStatuses = {CUPS_SC_STATUS_TIMEOUT, CUPS_SC_STATUS_NO_RESPONSE};
            },
            grayPages(1),
            "",
            "1",
            0,
            {},
            {"connecting-to-device"},
            "The printer is not connected (its connection does not respond)"},
        FeedbackCase{"ConnectionIoError",
                     [](JobRun& j) { j.conn.connectedStatuses = {CUPS_SC_STATUS_IO_ERROR}; },
                     grayPages(1),
                     "",
                     "1",
                     0,
                     {},
                     {},
                     "The printer is not connected (input/output error on its connection)"},
        FeedbackCase{"LockRefused",
                     [](JobRun& j) {
                         lockReplies(j, {Reply{"5"}, Reply{"OK"}, Reply{"2"}});
                     },
                     grayPages(1),
                     "",
                     "1",
                     1,
                     {"INFO: The printer is busy with another job (it answered 5); waiting for it"},
                     {kBusy},
                     ""},
        FeedbackCase{"LockUnansweredThenGranted",
                     [](JobRun& j) {
                         lockReplies(j, {Reply::none(), Reply::after(2, "2")});
                     },
                     grayPages(1),
                     "",
                     "1",
                     1,
                     {"INFO: Waiting for the printer's reply", "INFO: The printer does not answer"},
                     {"timed-out-warning"},
                     ""},
        FeedbackCase{"LockRefusedThenUnansweredThenTerminated",
                     [](JobRun& j) {
                         lockReplies(j, {Reply{"0"}, Reply::none(), Reply::none()});
                         j.conn.onSleep = [&j] {
                             if (j.conn.sleeps >= 5)
                                 j.conn.terminate = true;
                         };
                     },
                     grayPages(1),
                     "",
                     "1",
                     0,
                     {"INFO: The job was cancelled"},
                     {kBusy, "timed-out-warning"},
                     ""},
        FeedbackCase{"EndOfPageReplyFour",
                     [](JobRun& j) {
                         j.conn.replies["Event=EndOfPage;"] = {Reply{"0"}, Reply{"4"}};
                     },
                     grayPages(3),
                     "",
                     "1",
                     1,
                     {},
                     {},
                     "The printer cancelled the job (it answered 4 at the end of a page)"},
        FeedbackCase{"EndOfPageUnansweredGoesOn",
                     [](JobRun& j) { j.conn.replies["Event=EndOfPage;"] = {Reply::none()}; },
                     grayPages(2),
                     "",
                     "1",
                     2,
                     {"INFO: The printer does not answer"},
                     {"timed-out-warning"},
                     ""},
        FeedbackCase{"RefusedPage",
                     nullptr,
                     {RasterPage{40, 16, 0}, RasterPage{40, 16, 0, 8, 41}},
                     "",
                     "1",
                     1,
                     {},
                     {},
                     "The page cannot be printed: 41 bytes per line for 40 pixels of 8 bits "
                     "(expected 40)"},
        FeedbackCase{"MissingDocument",
                     [](JobRun& j) { j.fileArgument = j.tmpdir + "/no-such-document"; },
                     grayPages(1),
                     "",
                     "1",
                     0,
                     {},
                     {},
                     "The document cannot be read: No such file or directory"},
        // The first page goes through, the second page header is not written.
        FeedbackCase{"BackendGone",
                     [](JobRun& j) { j.conn.writesBeforeFailure = 6; },
                     grayPages(3),
                     "",
                     "1",
                     1,
                     {},
                     {},
                     "The connection to the printer was lost; the job ends here"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobFeedbackTest, SchedulersCancelIsNoError)
{
    JobRun job;
    job.conn.onWrite = [&job](const std::string& e) {
        if (e.rfind("RasterObject.Data#", 0) == 0)
            job.conn.terminate = true;
    };
    EXPECT_EQ(job.run(grayPages(2)), 0);
    const std::vector<std::string> lines = feedbackLines(job.log.text());
    EXPECT_TRUE(withPrefix(lines, "ERROR: ").empty());
    EXPECT_TRUE(withPrefix(lines, "PAGE: ").empty());
    EXPECT_TRUE(has(lines, "INFO: The job was cancelled"));
    EXPECT_EQ(job.conn.commands().back(), "CancelJob?");
}

TEST(JobFeedbackTest, ProgressOfALargePageInAHandfulOfSteps)
{
    MemoryLog log;
    {
        JobFeedback feedback(log.log());
        feedback.pageStarting(7);
        for (uint64_t sent = 4096; sent < 400 * 4096; sent += 4096)
            feedback.pageProgress(sent, 400 * 4096);
        feedback.pageProgress(400 * 4096, 400 * 4096);
        feedback.pageSent();
        // An empty page file: no chunk, straight to 100.
        feedback.pageStarting(8);
        feedback.pageSent();
        EXPECT_EQ(feedback.pagesPrinted(), 2);
    }
    EXPECT_EQ(log.text(), "INFO: Printing page 7\n"
                          "ATTR: job-media-progress=0\n"
                          "ATTR: job-media-progress=25\n"
                          "ATTR: job-media-progress=50\n"
                          "ATTR: job-media-progress=75\n"
                          "ATTR: job-media-progress=100\n"
                          "PAGE: 1 1\n"
                          "INFO: Printing page 8\n"
                          "ATTR: job-media-progress=0\n"
                          "ATTR: job-media-progress=100\n"
                          "PAGE: 2 1\n");
}

TEST(JobFeedbackTest, KeywordsStillSetAreClearedWhenTheJobObjectGoes)
{
    MemoryLog log;
    {
        JobFeedback feedback(log.log());
        feedback.waitingForConnection();
        feedback.lockRefused(0);
        feedback.replyMissing();
    }
    const std::vector<std::string> lines = feedbackLines(log.text());
    EXPECT_EQ(checkStates(lines),
              (std::vector<std::string>{"connecting-to-device", kBusy, "timed-out-warning"}));
}

}  // namespace
}  // namespace rvt::test

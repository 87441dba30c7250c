// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulator as a network printer, spoken to over TCP as CUPS's socket
// backend speaks to it: refused while "down", one job directory per job,
// one or several jobs on a connection, one lock for all jobs, the connection
// closed at the end of the stream and where the script says.
#include "listening_printer.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>

namespace rvtsim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A printer of its own for each test.
std::string start(ListeningPrinter& printer, const std::vector<std::string>& args)
{
    static int count = 0;
    const auto dir = fs::path(RVT_TEST_TMP) /
                     ("net-" + std::to_string(getpid()) + "-" + std::to_string(++count));
    fs::remove_all(dir);
    return printer.start(RVT_SIM, dir, args);
}

// Sends `query` and returns the reply ("" when none came in 2 s).
std::string ask(int fd, const std::string& query)
{
    EXPECT_EQ(send(fd, query.data(), query.size(), MSG_NOSIGNAL), ssize_t(query.size()));
    pollfd p{fd, POLLIN, 0};
    char buf[64];
    if (poll(&p, 1, 2000) != 1)
        return "";
    const ssize_t n = read(fd, buf, sizeof buf);
    return n > 0 ? std::string(buf, size_t(n)) : "";
}

// True when the printer closes the connection within 2 s.
bool closedByPrinter(int fd)
{
    pollfd p{fd, POLLIN, 0};
    char c;
    return poll(&p, 1, 2000) == 1 && read(fd, &c, 1) == 0;
}

TEST(NetworkPrinter, RefusesWhileDownThenServesOneJobPerConnection)
{
    ListeningPrinter printer;
    ASSERT_EQ(start(printer, {"--down", "1"}), "");
    EXPECT_EQ(printer.connect(), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    std::this_thread::sleep_for(1200ms);
    int fd = printer.connect();
    ASSERT_GE(fd, 0) << std::strerror(errno);
    EXPECT_EQ(ask(fd, "LockPrinter?"), "2");
    EXPECT_EQ(ask(fd, "LockPrinter?"), "2");  // asked again: still this job's
    send(fd, "Event=StartOfJob;", 17, MSG_NOSIGNAL);
    EXPECT_EQ(ask(fd, "CancelJob?"), "0");
    // The end of the stream ends the job; the printer closes its side.
    shutdown(fd, SHUT_WR);
    EXPECT_TRUE(closedByPrinter(fd));
    close(fd);
    EXPECT_EQ(printer.stop(), 0);
    const auto t = printer.transcript(1);
    EXPECT_EQ(t.value("final_state", ""), "cancelled");
    EXPECT_EQ(t.value("protocol_errors", nlohmann::json::array()), nlohmann::json::array());
}

TEST(NetworkPrinter, TheLockIsThePrintersAndTheScriptCanCloseTheConnection)
{
    ListeningPrinter printer;
    ASSERT_EQ(start(printer, {"--close-stream", "unlock:1"}), "");
    int a = printer.connect(), b = printer.connect();
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(ask(a, "LockPrinter?"), "2");
    EXPECT_EQ(ask(b, "LockPrinter?"), "5");  // busy with the other job
    EXPECT_EQ(ask(a, "CancelJob?"), "0");    // the lock goes with the job
    EXPECT_EQ(ask(b, "LockPrinter?"), "2");
    send(b, "Event=StartOfJob;", 17, MSG_NOSIGNAL);
    send(b, "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;", 59, MSG_NOSIGNAL);
    send(b, "Event=EndOfJob;", 15, MSG_NOSIGNAL);
    ask(b, "UnLockPrinter?");
    EXPECT_TRUE(closedByPrinter(b));  // by the script, its stream still open
    close(a);
    close(b);
    EXPECT_EQ(printer.stop(), 0);
    EXPECT_EQ(printer.transcript(1).value("final_state", ""), "cancelled");
    const auto t = printer.transcript(2);
    EXPECT_FALSE(t["closed_by_printer"].is_null());
    EXPECT_EQ(t["replies"][0]["reply"], "5");
}

// Every byte the printer sends until it closes the connection.
std::string untilClosed(int fd)
{
    std::string all;
    char buf[256];
    pollfd p{fd, POLLIN, 0};
    ssize_t n = 1;
    while (n > 0 && poll(&p, 1, 5000) == 1)
        if ((n = read(fd, buf, sizeof buf)) > 0)
            all.append(buf, size_t(n));
    return all;
}

struct StreamJob {
    int pages;
    std::string state;    // final: "unlocked", "cancelled" (inside its last page) or
                          // "inside a page" (the stream broken off there)
    std::string replies;  // lock, one per end of page, unlock (3) or cancel (0)
};

struct SharedConnectionCase {
    const char* name;
    std::vector<std::string> args;
    int locks;  // lock queries per job
    std::vector<StreamJob> jobs;
    std::vector<long> cuts;  // written in pieces cut this far after the first job
};

void PrintTo(const SharedConnectionCase& c, std::ostream* os) { *os << c.name; }

class SharedConnection : public testing::TestWithParam<SharedConnectionCase> {};

TEST_P(SharedConnection, EachJobIsAJobOfItsOwn)
{
    const SharedConnectionCase& c = GetParam();
    ListeningPrinter printer;
    ASSERT_EQ(start(printer, c.args), "");
    // Pages of a width of their own per job, so that one given to the wrong job shows.
    auto page = [](size_t job, int p) {
        return testPage(uint32_t(48 + 16 * job), uint32_t(24 + p));
    };
    std::vector<std::string> streams;
    std::string all, replies;
    for (size_t j = 0; j < c.jobs.size(); ++j) {
        std::vector<Bitmap> pages;
        for (int p = 1; p <= c.jobs[j].pages; ++p)
            pages.push_back(page(j, p));
        std::string job = jobStream(pages, c.locks);
        if (c.jobs[j].state != "unlocked")
            job.resize(job.rfind("Event=EndOfPage;"));
        if (c.jobs[j].state == "cancelled")
            job += "CancelJob?";
        streams.push_back(job);
        all += job;
        replies += c.jobs[j].replies;
    }
    const int fd = printer.connect();
    ASSERT_GE(fd, 0);
    size_t from = 0;
    for (long cut : c.cuts) {
        const size_t to = size_t(long(streams[0].size()) + cut);
        send(fd, all.data() + from, to - from, MSG_NOSIGNAL);
        from = to;
        std::this_thread::sleep_for(50ms);
    }
    send(fd, all.data() + from, all.size() - from, MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    EXPECT_EQ(untilClosed(fd), replies);
    close(fd);
    EXPECT_EQ(printer.stop(), 0);

    uint64_t offset = 0;
    for (size_t j = 0; j < c.jobs.size(); ++j) {
        SCOPED_TRACE(j + 1);
        const StreamJob& job = c.jobs[j];
        const auto t = printer.transcript(int(j + 1));
        EXPECT_EQ(t.value("connection", 0), 1);
        EXPECT_EQ(t.value("connection_offset", uint64_t(0)), offset);
        EXPECT_EQ(t.value("stream_bytes", uint64_t(0)), streams[j].size());
        offset += streams[j].size();
        std::string got;
        for (const auto& r : t["replies"])
            got += r["reply"].get<std::string>();
        EXPECT_EQ(got, job.replies);
        EXPECT_EQ(t.value("final_state", ""), job.state);
        EXPECT_EQ(t["protocol_errors"].empty(), job.state != "inside a page");
        ASSERT_EQ(t["pages"].size(), size_t(job.pages));
        for (int p = 1; p <= job.pages - (job.state == "cancelled"); ++p) {
            const auto& record = t["pages"][size_t(p - 1)];
            EXPECT_EQ(record.value("width", 0u), page(j, p).width);
            EXPECT_EQ(record.value("height", 0u), page(j, p).height);
            EXPECT_TRUE(fs::exists(printer.jobDir(int(j + 1)) / record.value("png", "?")));
        }
    }
    // The end of the stream after the last job is no job of its own.
    EXPECT_FALSE(fs::exists(printer.jobDir(int(c.jobs.size() + 1))));
}

INSTANTIATE_TEST_SUITE_P(
    NetworkPrinter, SharedConnection,
    testing::Values(
        SharedConnectionCase{
            "TwoJobsInOneWrite", {}, 1, {{1, "unlocked", "203"}, {2, "unlocked", "2003"}}, {}},
        SharedConnectionCase{
            "ThreeJobsTheSecondCancelled",
            {},
            1,
            {{1, "unlocked", "203"}, {2, "cancelled", "200"}, {1, "unlocked", "203"}},
            {}},
        // Reads ending inside the unlock, holding the end of the first job and
        // the start of the second, ending right at the end of a job.
        SharedConnectionCase{"SplitAroundTheEndOfAJob",
                             {},
                             1,
                             {{1, "unlocked", "203"}, {1, "unlocked", "203"}},
                             {-5, 5}},
        SharedConnectionCase{
            "SplitAtTheEndOfAJob", {}, 1, {{1, "unlocked", "203"}, {1, "inside a page", "2"}}, {0}},
        // The script counts from each job's start.
        SharedConnectionCase{"FaultScriptForEveryJob",
                             {"--lock-replies", "5,5,2", "--eop-reply", "2=4"},
                             3,
                             {{2, "unlocked", "552043"}, {2, "unlocked", "552043"}},
                             {}}),
    [](const testing::TestParamInfo<SharedConnectionCase>& info) { return info.param.name; });

TEST(NetworkPrinter, JobsAreNumberedAsTheyBeginAndTakeTheLockInTurn)
{
    ListeningPrinter printer;
    ASSERT_EQ(start(printer, {}), "");
    const int a = printer.connect();
    EXPECT_EQ(ask(a, "LockPrinter?"), "2");
    EXPECT_EQ(ask(a, "CancelJob?"), "0");  // job 1 over, its connection still open
    const int b = printer.connect();
    EXPECT_EQ(ask(b, "Status?"), "0");       // job 2 under way
    EXPECT_EQ(ask(a, "LockPrinter?"), "2");  // job 3, on the first connection
    EXPECT_EQ(ask(b, "LockPrinter?"), "5");
    EXPECT_EQ(ask(a, "CancelJob?"), "0");
    EXPECT_EQ(ask(b, "LockPrinter?"), "2");
    for (int fd : {a, b}) {
        shutdown(fd, SHUT_WR);
        EXPECT_TRUE(closedByPrinter(fd));
        close(fd);
    }
    EXPECT_EQ(printer.stop(), 0);
    const auto t1 = printer.transcript(1), t2 = printer.transcript(2), t3 = printer.transcript(3);
    EXPECT_EQ(t2.value("connection", 0), 2);
    EXPECT_EQ(t2["replies"][1]["reply"], "5");  // busy while job 3 held the lock
    EXPECT_EQ(t3.value("connection", 0), 1);
    EXPECT_EQ(t3.value("peer", ""), t1.value("peer", ""));
    EXPECT_EQ(t3.value("final_state", ""), "cancelled");
    EXPECT_FALSE(fs::exists(printer.jobDir(4)));
}

}  // namespace
}  // namespace rvtsim

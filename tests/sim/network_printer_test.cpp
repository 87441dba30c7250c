// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulator as a network printer, spoken to over TCP as CUPS's socket
// backend speaks to it: refused while "down", one job directory per
// connection, one lock for all connections, the connection closed at the
// end of the stream and where the script says.
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

}  // namespace
}  // namespace rvtsim

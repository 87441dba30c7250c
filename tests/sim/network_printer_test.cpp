// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulator as a network printer, spoken to over TCP as CUPS's socket
// backend speaks to it: refused while "down", one job directory per
// connection, one lock for all connections, the connection closed at the
// end of the stream and where the script says.
#include "backend_test_support.h"

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>

namespace rvtsim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Printer {
public:
    explicit Printer(const std::vector<std::string>& args)
    {
        dir_ = fs::path(RVT_TEST_TMP) /
               ("net-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        std::vector<std::string> argv = {"rvt4410lw-sim", "--listen",    "0",
                                         "--out",         dir_.string(), "--no-preview"};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = spawn(RVT_SIM, argv, {"PATH=/usr/bin:/bin"}, {-1, out[1], 2, -1, -1});
        close(out[1]);
        std::string line;
        char c;
        while (line.find('\n') == std::string::npos && read(out[0], &c, 1) == 1)
            line += c;
        close(out[0]);
        EXPECT_EQ(line.rfind("rvt4410lw-sim: listening on 127.0.0.1:", 0), 0u) << line;
        port_ = std::atoi(line.c_str() + line.rfind(':') + 1);
    }
    ~Printer() { stop(); }

    int stop()
    {
        if (pid_ <= 0)
            return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // A connection, or -1 (errno set) when the printer refuses it.
    int connect() const
    {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            const int e = errno;
            close(fd);
            errno = e;
            return -1;
        }
        return fd;
    }

    nlohmann::json transcript(int job) const
    {
        std::ifstream in(dir_ / ("job-" + std::to_string(job)) / "transcript.json");
        return in ? nlohmann::json::parse(in, nullptr, false) : nlohmann::json();
    }

private:
    static inline int counter_ = 0;
    fs::path dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

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
    Printer printer({"--down", "1"});
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
    Printer printer({"--close-stream", "unlock:1"});
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

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulator as a network printer in a process of its own
// (rvt4410lw-sim --listen 127.0.0.1:0), for the tests that print to it.
#pragma once

#include "backend_test_support.h"

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/wait.h>

namespace rvtsim {

class ListeningPrinter {
public:
    ListeningPrinter() = default;
    ListeningPrinter(const ListeningPrinter&) = delete;
    ListeningPrinter& operator=(const ListeningPrinter&) = delete;
    ~ListeningPrinter() { stop(); }

    // Starts the simulator `sim` with `args` besides --listen and --out
    // `out`, as user `uid` (group `gid`) when uid is not 0. "" or why not.
    std::string start(const std::string& sim, const std::filesystem::path& out,
                      const std::vector<std::string>& args, uid_t uid = 0, gid_t gid = 0)
    {
        out_ = out;
        std::filesystem::create_directories(out);
        if (uid != 0 && chown(out.c_str(), uid, gid) != 0)
            return "cannot give " + out.string() + " to user " + std::to_string(uid);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return "pipe";
        std::vector<std::string> argv = {"rvt4410lw-sim", "--listen",   "127.0.0.1:0",
                                         "--out",         out.string(), "--no-preview"};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = spawn(sim, argv, {"PATH=/usr/bin:/bin"}, {-1, fds[1], 2, -1, -1}, uid, gid);
        close(fds[1]);
        std::string line;  // "rvt4410lw-sim: listening on 127.0.0.1:PORT"
        char c;
        while (line.find('\n') == std::string::npos && read(fds[0], &c, 1) == 1)
            line += c;
        close(fds[0]);
        if (line.rfind("rvt4410lw-sim: listening on 127.0.0.1:", 0) != 0)
            return "the simulator did not start: " + line;
        port_ = std::atoi(line.c_str() + line.rfind(':') + 1);
        return "";
    }

    // Stops it with SIGTERM; its exit status (0: stopped cleanly).
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

    std::string uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }

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

    // The directory and transcript of job `n` (from 1, in the order jobs begin).
    std::filesystem::path jobDir(int n) const { return out_ / ("job-" + std::to_string(n)); }
    nlohmann::json transcript(int n) const
    {
        std::ifstream in(jobDir(n) / "transcript.json");
        return in ? nlohmann::json::parse(in, nullptr, false) : nlohmann::json();
    }

private:
    std::filesystem::path out_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace rvtsim

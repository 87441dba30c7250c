// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// For tests that run the simulated printer's programs: a 1-bit test page, a
// page encoded as the filter encodes it (JBIG-KIT's defaults), and a program
// started with the descriptors a scheduler hands it.
#pragma once

#include "jbig_decode.h"

#include <array>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <grp.h>
extern "C" {
#include <jbig.h>
}
#include <string>
#include <unistd.h>
#include <vector>

namespace rvtsim {

// Slanted stripes and a diagonal: a page with detail in both directions.
inline Bitmap testPage(uint32_t width, uint32_t height)
{
    Bitmap b;
    b.width = width;
    b.height = height;
    b.bits.assign(b.rowBytes() * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            if ((x / 7 + y / 5) % 3 == 0 || x == y)
                b.bits[y * b.rowBytes() + x / 8] |= uint8_t(0x80 >> (x % 8));
    return b;
}

inline std::string encodeBie(const Bitmap& page)
{
    std::string bie;
    std::vector<uint8_t> bits = page.bits;
    unsigned char* planes[1] = {bits.data()};
    jbg_enc_state s;
    jbg_enc_init(
        &s, page.width, page.height, 1, planes,
        [](unsigned char* start, size_t len, void* out) {
            static_cast<std::string*>(out)->append(reinterpret_cast<char*>(start), len);
        },
        &bie);
    jbg_enc_out(&s);
    jbg_enc_free(&s);
    return bie;
}

// A whole job as the filter sends it, the lock asked `locks` times, each
// page's data in counted chunks of 4096 bytes.
inline std::string jobStream(const std::vector<Bitmap>& pages, int locks = 1)
{
    std::string job;
    for (int i = 0; i < locks; ++i)
        job += "LockPrinter?";
    job += "Event=StartOfJob;"
           "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;MediaInputTrayCheck=auto;";
    for (const Bitmap& page : pages) {
        job += "MediaSize=na_a4_210x297mm;RasterObject.Width=";
        job += std::to_string((page.width + 7) / 8 * 8);
        job += ";RasterObject.Height=";
        job += std::to_string(page.height);
        job += ";";
        const std::string bie = encodeBie(page);
        for (size_t at = 0; at < bie.size(); at += 4096) {
            const std::string chunk = bie.substr(at, 4096);
            job += "RasterObject.Data#";
            job += std::to_string(chunk.size());
            job += "=";
            job += chunk;
            job += ";";
        }
        job += "Event=EndOfPage;";
    }
    return job + "Event=EndOfJob;UnLockPrinter?";
}

// Starts `path` with descriptors 0 to 4 taken from `fds` (-1: closed) and
// nothing else open; as user `uid` (group `gid`, no other groups) when uid is
// not 0. Returns the pid.
inline pid_t spawn(const std::string& path, std::vector<std::string> args,
                   std::vector<std::string> env, std::array<int, 5> fds, uid_t uid = 0,
                   gid_t gid = 0)
{
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int high[5];
        for (int i = 0; i < 5; ++i)
            high[i] = fds[size_t(i)] >= 0 ? fcntl(fds[size_t(i)], F_DUPFD, 20) : -1;
        for (int i = 0; i < 5; ++i) {
            if (high[i] >= 0)
                dup2(high[i], i);
            else
                close(i);
        }
        close_range(5, ~0U, 0);
        signal(SIGPIPE, SIG_DFL);
        if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            _exit(126);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

}  // namespace rvtsim

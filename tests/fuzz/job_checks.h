// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// What must hold after any job the fuzz targets run, whatever the input:
// the job's page files are gone, the stream starts with the lock and ends
// with the unlock or the cancel, and nothing follows a cancel. A failed check
// prints the stream's commands and aborts, so that libFuzzer keeps the input.
#pragma once

#include "scripted_connection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

namespace rvt::test {

[[noreturn]] inline void failJob(const char* target, const char* what, const ScriptedConnection& c)
{
    std::fprintf(stderr, "%s: %s\n", target, what);
    for (const std::string& e : c.commands())
        std::fprintf(stderr, "  %.*s\n", static_cast<int>(std::min<size_t>(e.size(), 120)),
                     e.c_str());
    std::abort();
}

inline bool directoryEmpty(const std::string& path)
{
    DIR* d = opendir(path.c_str());
    if (!d)
        return false;
    bool empty = true;
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            empty = false;
    closedir(d);
    return empty;
}

// `pageDirectory`: where the job's page files went.
inline void checkJobEnded(const char* target, const std::string& pageDirectory,
                          const ScriptedConnection& c)
{
    if (!directoryEmpty(pageDirectory))
        failJob(target, "page files left behind", c);
    const std::vector<std::string> cmds = c.commands();
    if (cmds.empty() || cmds.front() != "LockPrinter?")
        failJob(target, "the stream does not start with the lock", c);
    if (cmds.back() != "UnLockPrinter?" && cmds.back() != "CancelJob?")
        failJob(target, "the stream ends with neither the unlock nor the cancel", c);
    if (c.count("CancelJob?") > 1 ||
        (c.count("CancelJob?") == 1 && c.elements.back() != "CancelJob?"))
        failJob(target, "something was written after the cancel", c);
}

}  // namespace rvt::test

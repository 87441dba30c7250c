// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulator's own checks on the filter process, run with stand-in
// filters (shell scripts) that misbehave on purpose.
#include "raster_patterns.h"
#include "session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace rvtsim {
namespace {

namespace fs = std::filesystem;

struct ScriptFilterCase {
    const char* name;
    const char* body;  // the stand-in filter's shell commands
    bool processesLeft;
    bool clean;
};

// True while `pid` exists and is not a zombie.
bool running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return false;
    size_t paren = text.rfind(')');
    return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] != 'Z';
}

class SessionProcesses : public ::testing::TestWithParam<ScriptFilterCase> {};

TEST_P(SessionProcesses, AProcessTheFilterLeavesRunningIsFoundAndStopped)
{
    const ScriptFilterCase& c = GetParam();
    fs::path dir = fs::temp_directory_path() /
                   ("rvt-sim-session-" + std::to_string(getpid()) + "-" + c.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::path filter = dir / "filter.sh";
    {
        std::ofstream f(filter);
        // The stand-in writes the pid of what it leaves behind, for the check below.
        f << "#!/bin/sh\n" << c.body << "\n";
    }
    fs::permissions(filter, fs::perms::owner_all);
    PagePattern page;
    ASSERT_TRUE(parsePattern("blank:8x8", page));
    ASSERT_EQ(writeRaster((dir / "job.ras").string(), {page}), "");

    RunConfig config;
    config.filterPath = filter.string();
    config.rasterPath = (dir / "job.ras").string();
    config.outDir = (dir / "out").string();
    config.options =
        (dir / "child.pid")
            .string();  // argv[5] ($5 of the script): where the stand-in notes its child
    config.script.timeoutSeconds = 20;
    RunResult r = runJob(config);

    ASSERT_TRUE(r.transcript.contains("filter")) << r.summary;
    EXPECT_EQ(r.transcript["filter"]["exit_status"], 0) << r.summary;
    EXPECT_EQ(r.transcript["filter"]["processes_left"], c.processesLeft) << r.summary;
    EXPECT_EQ(r.clean, c.clean) << r.summary;
    std::ifstream pidFile(dir / "child.pid");
    pid_t child = 0;
    if (pidFile >> child) {
        // Whatever was left has been stopped by the time the run returns (at
        // most a zombie waiting for whoever adopted it).
        // SIGKILL takes effect asynchronously: allow it a moment.
        for (int i = 0; i < 100 && running(child); ++i)
            usleep(10000);
        EXPECT_FALSE(running(child)) << "process " << child << " still running";
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SessionProcesses,
    ::testing::Values(ScriptFilterCase{"ExitsAlone", "cat >/dev/null; exit 0", false, true},
                      ScriptFilterCase{"WaitsForItsChild",
                                       "sleep 0.2 & echo $! >\"$5\"; wait; exit 0", false, true},
                      ScriptFilterCase{"LeavesAChildRunning", "sleep 30 & echo $! >\"$5\"; exit 0",
                                       true, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rvtsim

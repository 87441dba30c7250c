// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The built filter without the scheduler: run by hand with descriptors 3
// and 4 on /dev/null or closed, and run by cupsfilter. It must not wait for
// a printer that cannot answer: the whole stream comes out at once and the
// filter exits 0.
#include "raster_patterns.h"
#include "stream_parser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace rvtsim::test {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    bool ended = false;  // within the time allowed
    int status = -1;     // exit status, -1 when not exited normally
    double seconds = 0;
    std::string stream;  // standard output
    std::string log;     // standard error
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Runs `argv` with standard input from `input`, standard output and error
// into files of `dir`, after `setUp` in the child; killed after `limit`
// seconds. Nothing of the run may reach a print server.
ProgramRun runProgram(const fs::path& dir, std::vector<std::string> argv, const std::string& input,
                      const std::function<void()>& setUp, int limit)
{
    const fs::path out = dir / "stream.bin", err = dir / "stderr.log";
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open(input.c_str(), O_RDONLY), 0);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        setenv("CUPS_SERVER", (dir / "no-scheduler.sock").c_str(), 1);
        setenv("TMPDIR", dir.c_str(), 1);
        signal(SIGTERM, SIG_DFL);
        setUp();
        execv(args[0], args.data());
        _exit(127);
    }
    ProgramRun run;
    int status = 0;
    for (int i = 0; i < limit * 100 && !run.ended; ++i) {
        run.ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!run.ended)
            usleep(10000);
    }
    if (!run.ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.stream = slurp(out);
    run.log = slurp(err);
    return run;
}

// The kinds of the stream's elements, data chunks left out; no protocol error.
std::vector<std::string> commandKinds(const std::string& stream)
{
    StreamParser parser;
    parser.feed(stream);
    std::vector<Element> elements = parser.take(true);
    for (Element& e : parser.finish())
        elements.push_back(std::move(e));
    EXPECT_TRUE(parser.errors().empty()) << parser.errors().front().message;
    std::vector<std::string> kinds;
    for (const Element& e : elements)
        if (e.kind != ElementKind::Data)
            kinds.push_back(kindName(e.kind));
    return kinds;
}

// A fresh directory holding a raster of `pages` text pages.
fs::path jobDir(const std::string& name, int pages)
{
    const fs::path dir = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<PagePattern> patterns(static_cast<size_t>(pages));
    for (int i = 0; i < pages; ++i)
        EXPECT_TRUE(parsePattern("text:240x180:" + std::to_string(i + 1), patterns[size_t(i)]));
    EXPECT_EQ(writeRaster((dir / "job.ras").string(), patterns), "");
    return dir;
}

std::vector<std::string> wholeJob(int pagesSent)
{
    std::vector<std::string> kinds = {"lock", "start_of_job", "job_header"};
    for (int i = 0; i < pagesSent; ++i)
        kinds.insert(kinds.end(), {"page_header", "end_of_page"});
    kinds.insert(kinds.end(), {"end_of_job", "unlock"});
    return kinds;
}

class NoChannelByHand : public ::testing::TestWithParam<bool> {};

TEST_P(NoChannelByHand, WholeStreamQuicklyAndExitZero)
{
    const bool devNull = GetParam();
    const fs::path dir = jobDir(devNull ? "rvt-no-channel-devnull" : "rvt-no-channel-closed", 3);
    // A filter that waited for replies would wait forever: 20 s is plenty.
    const ProgramRun run = runProgram(
        dir, {RVT_FILTER, "1", "user", "title", "2", "Duplex=DuplexTumble"},
        (dir / "job.ras").string(),
        [devNull] {
            setenv("PPD", RVT_PPD, 1);
            if (devNull) {
                dup2(open("/dev/null", O_RDWR), 3);
                dup2(3, 4);
            }
        },
        20);
    ASSERT_TRUE(run.ended) << run.log;
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_LT(run.seconds, 10.0);
    EXPECT_NE(run.log.find("DEBUG: no back channel and no side channel: the job is sent without "
                           "waiting for the printer's replies\n"),
              std::string::npos)
        << run.log;
    // Two-sided, three pages and a blank back, two collated copies.
    EXPECT_EQ(commandKinds(run.stream), wholeJob(8));
    if (!HasFailure())
        fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, NoChannelByHand, ::testing::Values(true, false),
                         [](const auto& info) {
                             return std::string(info.param ? "DevNull" : "Closed");
                         });

// cupsfilter runs the queue's filters as the scheduler would, but without a
// backend: no channels. The filter comes from a private ServerBin that holds
// the system's filters and this one.
TEST(NoChannelUnderCupsfilter, PrintsTheWholeJob)
{
    const fs::path cupsfilter = "/usr/sbin/cupsfilter", systemBin = "/usr/lib/cups";
    if (access(cupsfilter.c_str(), X_OK) != 0 || !fs::is_directory(systemBin / "filter"))
        GTEST_SKIP() << "cupsfilter is not installed";
    const fs::path dir = jobDir("rvt-cupsfilter", 3);
    const fs::path serverBin = dir / "serverbin";
    fs::create_directories(serverBin / "filter");
    for (const auto& e : fs::directory_iterator(systemBin))
        if (e.path().filename() != "filter")
            fs::create_symlink(e.path(), serverBin / e.path().filename());
    for (const auto& e : fs::directory_iterator(systemBin / "filter"))
        fs::create_symlink(e.path(), serverBin / "filter" / e.path().filename());
    const fs::path filter = serverBin / "filter" / "printfilter-rvt4410lw";
    fs::copy_file(RVT_FILTER, filter);
    fs::permissions(filter, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    std::ofstream(dir / "cups-files.conf") << "ServerBin " << serverBin.string() << "\nServerRoot "
                                           << dir.string() << "\nDataDir /usr/share/cups\n";

    const std::string raster = (dir / "job.ras").string();
    const ProgramRun run = runProgram(
        dir,
        {cupsfilter.string(), "-c", (dir / "cups-files.conf").string(), "-p", RVT_PPD, "-i",
         "application/vnd.cups-raster", "-m", "printer/rvt4410lw", "-e", raster},
        "/dev/null", [] {}, 30);
    ASSERT_TRUE(run.ended) << "cupsfilter did not finish\n" << run.log;
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("PAGE: 3 1\n"), std::string::npos) << run.log;
    EXPECT_EQ(commandKinds(run.stream), wholeJob(3));
    if (!HasFailure())
        fs::remove_all(dir);
}

}  // namespace
}  // namespace rvtsim::test

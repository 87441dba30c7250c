// The built filter run by hand, without the scheduler: descriptors 3 and 4
// are /dev/null or closed. It must not wait for a printer that cannot
// answer: the whole stream comes out at once and the filter exits 0.
#include "raster_patterns.h"
#include "stream_parser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace rvtsim::test {
namespace {

namespace fs = std::filesystem;

struct HandRun {
    int status = -1;  // exit status, -1 when killed or not exited
    double seconds = 0;
    std::string stream;
    std::string log;
};

enum class Channels { DevNull, Closed };

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

HandRun runByHand(const fs::path& dir, const std::string& raster, Channels channels)
{
    const fs::path out = dir / "stream.bin", err = dir / "filter.log", tmp = dir / "tmp";
    fs::create_directories(tmp);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(raster.c_str(), O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        if (channels == Channels::DevNull) {
            int n = open("/dev/null", O_RDWR);
            dup2(n, 3);
            dup2(n, 4);
            if (n > 4)
                close(n);
        } else {
            close(3);
            close(4);
        }
        for (int fd = 5; fd < 1024; ++fd)
            close(fd);
        setenv("PPD", RVT_PPD, 1);
        setenv("TMPDIR", tmp.c_str(), 1);
        // Nothing of this run may reach a print server.
        setenv("CUPS_SERVER", (dir / "no-scheduler.sock").c_str(), 1);
        signal(SIGTERM, SIG_DFL);
        execl(RVT_FILTER, "queue", "1", "user", "title", "2", "Duplex=DuplexTumble",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    HandRun run;
    int status = 0;
    bool ended = false;
    // A filter that waits for replies would wait forever: give it 20 s.
    for (int i = 0; i < 2000 && !ended; ++i) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended)
            usleep(10000);
    }
    if (!ended) {
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

class NoChannelByHand : public ::testing::TestWithParam<Channels> {};

TEST_P(NoChannelByHand, WholeStreamQuicklyAndExitZero)
{
    const fs::path dir = fs::temp_directory_path() /
                         ("rvt-no-channel-" + std::to_string(getpid()) + "-" +
                          std::to_string(int(GetParam())));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<PagePattern> pages(3);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(parsePattern("noise:240x180:" + std::to_string(i + 1), pages[size_t(i)]));
    const std::string raster = (dir / "job.ras").string();
    ASSERT_EQ(writeRaster(raster, pages), "");

    HandRun run = runByHand(dir, raster, GetParam());
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_LT(run.seconds, 10.0);
    EXPECT_NE(run.log.find("DEBUG: no back channel and no side channel: the job is sent without "
                           "waiting for the printer's replies\n"),
              std::string::npos)
        << run.log;

    StreamParser parser;
    parser.feed(run.stream);
    std::vector<Element> elements = parser.take(true);
    for (Element& e : parser.finish())
        elements.push_back(std::move(e));
    EXPECT_TRUE(parser.errors().empty()) << parser.errors().front().message;
    std::string shape;
    std::string last;
    for (const Element& e : elements) {
        const std::string kind = kindName(e.kind);
        if (kind == "data" && last == "data")
            continue;
        shape += (shape.empty() ? "" : " ") + kind;
        last = kind;
    }
    // Two-sided, three pages and a blank back, two collated copies.
    std::string sheets;
    for (int i = 0; i < 8; ++i)
        sheets += " page_header data end_of_page";
    EXPECT_EQ(shape, "lock start_of_job job_header" + sheets + " end_of_job unlock");
    if (!HasFailure())
        fs::remove_all(dir);
}

// cupsfilter runs the queue's filters as the scheduler would, but without a
// backend: no channels. The filter comes from a private ServerBin that holds
// the system's filters and this one.
TEST(NoChannelUnderCupsfilter, PrintsTheWholeJob)
{
    const fs::path cupsfilter = "/usr/sbin/cupsfilter", systemBin = "/usr/lib/cups";
    if (access(cupsfilter.c_str(), X_OK) != 0 || !fs::is_directory(systemBin / "filter"))
        GTEST_SKIP() << "cupsfilter is not installed";
    const fs::path dir = fs::temp_directory_path() / ("rvt-cupsfilter-" + std::to_string(getpid()));
    fs::remove_all(dir);
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
    {
        std::ofstream conf(dir / "cups-files.conf");
        conf << "ServerBin " << serverBin.string() << "\nServerRoot " << dir.string()
             << "\nDataDir /usr/share/cups\n";
    }
    std::vector<PagePattern> pages(3);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(parsePattern("text:240x180:" + std::to_string(i + 1), pages[size_t(i)]));
    const std::string raster = (dir / "job.ras").string();
    ASSERT_EQ(writeRaster(raster, pages), "");

    const fs::path out = dir / "stream.bin", err = dir / "cupsfilter.log";
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        setenv("CUPS_SERVER", (dir / "no-scheduler.sock").c_str(), 1);
        setenv("TMPDIR", dir.c_str(), 1);
        execl(cupsfilter.c_str(), "cupsfilter", "-c", (dir / "cups-files.conf").c_str(), "-p",
              RVT_PPD, "-i", "application/vnd.cups-raster", "-m", "printer/rvt4410lw", "-e",
              raster.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 3000 && !ended; ++i) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended)
            usleep(10000);
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    const std::string log = slurp(err);
    ASSERT_TRUE(ended) << "cupsfilter did not finish\n" << log;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    EXPECT_NE(log.find("PAGE: 3 1\n"), std::string::npos) << log;
    StreamParser parser;
    parser.feed(slurp(out));
    std::vector<Element> elements = parser.take(true);
    for (Element& e : parser.finish())
        elements.push_back(std::move(e));
    EXPECT_TRUE(parser.errors().empty());
    std::vector<std::string> commands;
    for (const Element& e : elements)
        if (e.kind != ElementKind::Data)
            commands.push_back(kindName(e.kind));
    EXPECT_EQ(commands, (std::vector<std::string>{"lock", "start_of_job", "job_header",
                                                  "page_header", "end_of_page", "page_header",
                                                  "end_of_page", "page_header", "end_of_page",
                                                  "end_of_job", "unlock"}));
    if (!HasFailure())
        fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, NoChannelByHand,
                         ::testing::Values(Channels::DevNull, Channels::Closed),
                         [](const auto& info) {
                             return info.param == Channels::DevNull ? std::string("DevNull")
                                                                    : std::string("Closed");
                         });

}  // namespace
}  // namespace rvtsim::test

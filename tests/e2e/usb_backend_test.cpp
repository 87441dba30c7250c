// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// End-to-end printing on CUPS's own usb backend: a private scheduler, the
// standard conversion filters and the project's filter, and the real
// /usr/lib/cups/backend/usb talking to the simulated printer on a USB bus
// emulated with umockdev (rvt4410lw-sim --usb). Each scenario starts its
// own printer; the scheduler reaches it through a wrapper backend that puts
// the usb backend on the emulated bus.
//
// CUPS's usb backend waits about 8 s for its read thread after the end of
// the stream, so every job here ends about 8 s after the filter.
#include "e2e_support.h"

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

namespace rvt::e2e {
namespace {

constexpr auto kJobTimeout = 120s;
const std::string kQueue = "rvt-usb";
const std::string kSerial = "RVT4410LW0001";
const std::string kUri = "usb://RVT/RV-T4410LW?serial=" + kSerial;

class PrintOverUsb : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setupError_ = makeWorkDir("rvt-e2e-usb", work_);
        if (!setupError_.empty())
            return;
        // Installed by its name: the scheduler's "usb" backend is the wrapper.
        const std::string wrapper = work_ + "/usb";
        fs::copy_file(RVT_SOURCE_DIR "/tests/e2e/usb-backend-on-emulated-bus.sh", wrapper);
        busEnv_ = work_ + "/usb-bus.env";
        setupError_ = scheduler_.start(
            RVT_SOURCE_DIR "/scripts/cupsd-private.sh", RVT_BIN_DIR,
            {"--backend", wrapper, "--setenv", "RVT_USB_BUS_ENV=" + busEnv_, "--model", RVT_PPD});
    }

    static void TearDownTestSuite()
    {
        stopPrinter();
        scheduler_.stop();
        removeWorkDir(work_);
    }

    void SetUp() override
    {
        if (setupError_.rfind("skip:", 0) == 0)
            GTEST_SKIP() << setupError_;
        ASSERT_EQ(setupError_, "");
    }

    void TearDown() override { stopPrinter(); }

    // Starts the simulated printer on a new emulated bus with these
    // switches; its jobs go into work_/NAME/job-N. The scheduler's usb
    // backend finds it from then on.
    static void startPrinter(const std::string& name, const std::vector<std::string>& switches)
    {
        stopPrinter();
        printerDir_ = fs::path(work_) / name;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::vector<std::string> argv = {RVT_BIN_DIR "/rvt4410lw-sim",
                                         "--usb",
                                         "--out",
                                         printerDir_.string(),
                                         "--serial",
                                         kSerial,
                                         "--no-preview"};
        argv.insert(argv.end(), switches.begin(), switches.end());
        printerPid_ = fork();
        ASSERT_GE(printerPid_, 0);
        if (printerPid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> args;
            for (auto& a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(fds[1]);
        printerOut_ = fds[0];
        // Its environment lines, then "ready".
        std::string text, env;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (text.find("ready\n") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{printerOut_, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0)
                continue;
            char buf[1024];
            ssize_t n = read(printerOut_, buf, sizeof buf);
            if (n <= 0)
                break;
            text.append(buf, static_cast<size_t>(n));
        }
        ASSERT_NE(text.find("ready\n"), std::string::npos) << "the printer did not start: " << text;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos)
                printerEnv_[line.substr(0, eq)] = line.substr(eq + 1);
        }
        std::ofstream(busEnv_) << text;
    }

    static void stopPrinter()
    {
        if (printerPid_ > 0) {
            kill(printerPid_, SIGTERM);
            int status = 0;
            waitpid(printerPid_, &status, 0);
            close(printerOut_);
        }
        printerPid_ = -1;
        std::error_code ec;
        fs::remove(busEnv_, ec);
    }

    static void addQueue()
    {
        if (queueAdded_)
            return;
        // As a user adds it: by the printer's URI and the driver's model name.
        CommandResult r = runCommand({"lpadmin", "-p", kQueue, "-E", "-v", kUri, "-m",
                                      "rvt4410lw/rvt4410lw.ppd", "-o",
                                      "printer-error-policy=abort-job"});
        ASSERT_EQ(r.status, 0) << r.output;
        queueAdded_ = true;
    }

    static std::string document(const std::vector<int>& ids) { return a4TestPdf(work_, ids); }

    static int submit(const std::vector<int>& ids, const std::vector<std::string>& options,
                      int copies = 0)
    {
        addQueue();
        std::string error;
        int id = scheduler_.submit(kQueue, document(ids), options, copies, error);
        EXPECT_GT(id, 0) << error;
        return id;
    }

    // Waits for the job to end and reads what the printer received as its
    // job number `printerJob`.
    static PrintedJob finish(int jobId, int printerJob = 1)
    {
        PrintedJob j;
        j.jobId = jobId;
        j.state = scheduler_.waitForEnd(jobId, kQueue, kJobTimeout);
        const std::string where = "job " + std::to_string(jobId) + ": state " +
                                  std::to_string(j.state.state) + " [" + j.state.reasons +
                                  "], printer " + j.state.printerState + "\n";
        if (j.state.state <= IPP_JSTATE_STOPPED) {
            j.failure = where + "the job did not end\n" + scheduler_.logTail(jobId);
            return j;
        }
        // The printer writes the transcript when the backend lets go of it
        // (or is killed): wait for it to be whole.
        j.jobDir = printerDir_ / ("job-" + std::to_string(printerJob));
        const auto deadline = std::chrono::steady_clock::now() + 15s;
        std::string error = readPrintedJob(j);
        while (!error.empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
            error = readPrintedJob(j);
        }
        if (!error.empty())
            j.failure = where + error + "\n" + scheduler_.logTail(jobId);
        return j;
    }

    // What every job must leave, whatever its end: the filter exited 0,
    // every program of the job has ended, nothing of the filter is left in
    // the scheduler's TempDir, and the printer saw no fault in the stream.
    static void expectTidy(const PrintedJob& j)
    {
        ASSERT_TRUE(j.failure.empty()) << j.failure;
        EXPECT_EQ(j.transcript.value("protocol_errors", json::array()), json::array())
            << scheduler_.logTail(j.jobId);
        for (const auto& page : j.pages)
            EXPECT_EQ(page.value("faults", json::array()), json::array()) << page.dump();
        std::string filterPid;
        bool exitedClean = false;
        const std::vector<std::string> log = scheduler_.jobLog(j.jobId);
        for (const auto& line : log) {
            std::string path, pid;
            if (startedProgram(line, path, pid) && path.find("printfilter-rvt4410lw") != path.npos)
                filterPid = pid;
        }
        for (const auto& line : log)
            exitedClean = exitedClean || (!filterPid.empty() &&
                                          line.find("] PID " + filterPid + " (") != line.npos &&
                                          line.find(") exited with no errors.") != line.npos);
        EXPECT_TRUE(exitedClean) << "the filter (PID " << filterPid << ") did not exit 0\n"
                                 << scheduler_.logTail(j.jobId);
        EXPECT_TRUE(scheduler_.programsEnded(j.jobId)) << scheduler_.logTail(j.jobId);
        EXPECT_EQ(filterLeftovers(scheduler_), std::vector<std::string>{});
    }

    static std::string jobHeaderField(const PrintedJob& j, const std::string& field)
    {
        return j.pages.empty() ? "(no page)" : j.pages[0]["job_header"].value(field, "(absent)");
    }

    static inline Scheduler scheduler_;
    static inline std::string work_, busEnv_, setupError_;
    static inline fs::path printerDir_;
    static inline pid_t printerPid_ = -1;
    static inline int printerOut_ = -1;
    static inline std::map<std::string, std::string> printerEnv_;
    static inline bool queueAdded_ = false;
};

// The device ID the PPD announces, as CUPS matches it.
std::string ppdDeviceId()
{
    std::ifstream in(RVT_PPD);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("*1284DeviceID:", 0) == 0)
            return line.substr(line.find('"') + 1, line.rfind('"') - line.find('"') - 1);
    return "";
}

TEST_F(PrintOverUsb, TheUsbBackendFindsThePrinterByItsDeviceId)
{
    startPrinter("discovery", {});
    const std::string id = ppdDeviceId();
    ASSERT_FALSE(id.empty());
    // CUPS's backend itself, on the emulated bus.
    CommandResult direct = runCommand({"env", "UMOCKDEV_DIR=" + printerEnv_["UMOCKDEV_DIR"],
                                       "LD_PRELOAD=" + printerEnv_["LD_PRELOAD"],
                                       "/usr/lib/cups/backend/usb"});
    EXPECT_NE(direct.output.find("direct " + kUri + " \"RVT RV-T4410LW\" \"RVT RV-T4410LW\" \"" +
                                 id + "\""),
              std::string::npos)
        << direct.output;
    // The scheduler, through the wrapper.
    CommandResult devices = runCommand({"lpinfo", "-l", "-v"});
    ASSERT_EQ(devices.status, 0) << devices.output;
    const size_t at = devices.output.find("uri = " + kUri + "\n");
    ASSERT_NE(at, std::string::npos) << devices.output;
    EXPECT_NE(devices.output.find("device-id = " + id + "\n", at), std::string::npos)
        << devices.output;
    CommandResult models = runCommand({"lpinfo", "--device-id", id, "-m"});
    EXPECT_NE(models.output.find("rvt4410lw/rvt4410lw.ppd "), std::string::npos) << models.output;
}

TEST_F(PrintOverUsb, TwoSidedDarkerJobWaitsForTheLock)
{
    // The lock refused twice, then granted: the job waits and prints.
    startPrinter("lock", {"--lock-replies", "5,5,2"});
    PrintedJob j = finish(submit({1, 2, 3}, {"Duplex=DuplexNoTumble", "GammaDarkness=darkness5"}));
    ASSERT_NO_FATAL_FAILURE(expectTidy(j));
    EXPECT_EQ(j.state.state, IPP_JSTATE_COMPLETED) << scheduler_.logTail(j.jobId);
    std::vector<std::string> kinds = j.kinds();
    ASSERT_GE(kinds.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(kinds.begin(), kinds.begin() + 4),
              (std::vector<std::string>{"lock", "lock", "lock", "start_of_job"}));
    EXPECT_EQ(kinds.back(), "unlock");
    EXPECT_EQ(j.ids(), (std::vector<int>{2, 1, 0, 3}));
    EXPECT_EQ(jobHeaderField(j, "Sides"), "TwoSidedLongEdge");
    // The darkness level reached the filter (the test pages are black and
    // white, which no darkness level changes).
    bool darkness = false;
    for (const auto& line : scheduler_.jobLog(j.jobId))
        darkness = darkness || line.find("[RVT4410LW]imageDarkness=5,") != std::string::npos;
    EXPECT_TRUE(darkness) << scheduler_.logTail(j.jobId);
}

struct CopiesCase {
    std::vector<std::string> options;
    std::vector<int> ids;
    std::string copies, sides;
};

TEST_F(PrintOverUsb, CopiesCollatedAndUncollatedOnOnePrinter)
{
    const std::vector<CopiesCase> cases = {
        {{"collate=true"}, {1, 2, 3, 1, 2, 3}, "1", "OneSided"},
        {{"collate=false", "Duplex=DuplexTumble"}, {2, 1, 0, 3}, "2", "TwoSidedShortEdge"},
    };
    startPrinter("copies", {});
    std::vector<int> jobs;
    for (const auto& c : cases)
        jobs.push_back(submit({1, 2, 3}, c.options, 2));
    // Both jobs end before any is looked at: the second job's filter may
    // already be at work in TempDir while the first one is checked.
    std::vector<PrintedJob> printed;
    for (size_t i = 0; i < cases.size(); ++i)
        printed.push_back(finish(jobs[i], static_cast<int>(i) + 1));
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].options.back());
        const PrintedJob& j = printed[i];
        ASSERT_NO_FATAL_FAILURE(expectTidy(j));
        EXPECT_EQ(j.state.state, IPP_JSTATE_COMPLETED) << scheduler_.logTail(j.jobId);
        EXPECT_EQ(j.ids(), cases[i].ids);
        EXPECT_EQ(jobHeaderField(j, "Copies"), cases[i].copies);
        EXPECT_EQ(jobHeaderField(j, "Sides"), cases[i].sides);
    }
}

TEST_F(PrintOverUsb, FourToTheSecondEndOfPageCancelsRightThere)
{
    startPrinter("eop4", {"--eop-reply", "2=4"});
    PrintedJob j = finish(submit({1, 2, 3, 4}, {}));
    ASSERT_NO_FATAL_FAILURE(expectTidy(j));
    EXPECT_NE(j.state.state, IPP_JSTATE_COMPLETED) << scheduler_.logTail(j.jobId);
    std::vector<std::string> kinds = j.kinds();
    ASSERT_GE(kinds.size(), 2u);
    EXPECT_EQ(kinds[kinds.size() - 2], "end_of_page");
    EXPECT_EQ(kinds.back(), "cancel");
    EXPECT_EQ(j.ids(), (std::vector<int>{1, 2}));
}

TEST_F(PrintOverUsb, CancelFromTheClientStopsTheJobAfterCancelJob)
{
    startPrinter("cancel", {"--reply-delay", "end_of_page=2000"});
    const int id = submit({1, 2, 3, 4}, {});
    ASSERT_TRUE(waitForLogLine(scheduler_, id, "Event=EndOfPage;", 60s)) << scheduler_.logTail(id);
    const auto cancelled = std::chrono::steady_clock::now();
    CommandResult r = runCommand({"cancel", std::to_string(id)});
    ASSERT_EQ(r.status, 0) << r.output;
    while (scheduler_.jobState(id, kQueue).state != IPP_JSTATE_CANCELED &&
           std::chrono::steady_clock::now() < cancelled + 10s)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(scheduler_.jobState(id, kQueue).state, IPP_JSTATE_CANCELED);

    PrintedJob j = finish(id);
    ASSERT_NO_FATAL_FAILURE(expectTidy(j));
    EXPECT_EQ(j.state.state, IPP_JSTATE_CANCELED);
    std::vector<std::string> kinds = j.kinds();
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.back(), "cancel") << j.transcript["elements"].back().dump();
    EXPECT_LT(j.pages.size(), 4u);
}

TEST_F(PrintOverUsb, ASlowPrinterStillGetsTheWholeJob)
{
    // Every reply 1.5 s late, and every transfer taken only after 100 ms.
    startPrinter("slow", {"--reply-delay", "lock=1500", "--reply-delay", "end_of_page=1500",
                          "--reply-delay", "unlock=1500", "--drain-delay", "100"});
    PrintedJob j = finish(submit({1, 2}, {}));
    ASSERT_NO_FATAL_FAILURE(expectTidy(j));
    EXPECT_EQ(j.state.state, IPP_JSTATE_COMPLETED) << scheduler_.logTail(j.jobId);
    EXPECT_EQ(j.ids(), (std::vector<int>{1, 2}));
    EXPECT_EQ(j.kinds().back(), "unlock");
}

TEST_F(PrintOverUsb, UnplugMidJobAbortsTheJob)
{
    startPrinter("unplug", {"--unplug", "end_of_page:1"});
    PrintedJob j = finish(submit({1, 2, 3}, {}));
    ASSERT_NO_FATAL_FAILURE(expectTidy(j));
    EXPECT_EQ(j.state.state, IPP_JSTATE_ABORTED) << scheduler_.logTail(j.jobId);
    EXPECT_TRUE(j.transcript.value("unplugged", false));
    EXPECT_EQ(j.ids(), (std::vector<int>{1}));
    bool backendFailed = false;
    for (const auto& line : scheduler_.jobLog(j.jobId))
        backendFailed = backendFailed ||
                        (line.find("/backend/usb) stopped with status 1") != std::string::npos);
    EXPECT_TRUE(backendFailed) << scheduler_.logTail(j.jobId);
}

}  // namespace
}  // namespace rvt::e2e

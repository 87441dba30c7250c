// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Printing where users print: a private CUPS scheduler, CUPS's own socket
// backend, and the simulator as a printer on the network (rvt4410lw-sim
// --listen 127.0.0.1:0). Every scenario runs at once on its own queue and
// printer; each is then checked for what the printer received (transcript and
// pages), the job's state, the filter's exit and the scheduler's TempDir.
#include "image_files.h"
#include "listening_printer.h"
#include "scheduler.h"
#include "test_document.h"

#include <cups/cups.h>
#include <cups/raster.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <pwd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

namespace rvt::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// What the printer received on one connection.
struct Received {
    json transcript;
    std::vector<PageLook> looks;  // pages printed, in order
    std::string failure;

    std::vector<int> ids() const
    {
        std::vector<int> v;
        for (const auto& l : looks)
            v.push_back(l.blank ? 0 : l.id);
        return v;
    }
    std::vector<std::string> kinds() const
    {
        std::vector<std::string> v;
        for (const auto& e : transcript.value("elements", json::array()))
            v.push_back(e.value("kind", ""));
        return v;
    }
    std::vector<std::string> replies(const std::string& kind) const
    {
        std::vector<std::string> v;
        for (const auto& r : transcript.value("replies", json::array()))
            if (r.value("kind", "") == kind)
                v.push_back(r["reply"].is_null() ? "-" : r["reply"].get<std::string>());
        return v;
    }
    // The element after the `n`-th end of page.
    std::string afterEndOfPage(int n) const
    {
        const std::vector<std::string> k = kinds();
        for (size_t i = 0; i < k.size(); ++i)
            if (k[i] == "end_of_page" && --n == 0)
                return i + 1 < k.size() ? k[i + 1] : "(nothing)";
        return "(no such end of page)";
    }
};

Received readJob(const fs::path& dir)
{
    Received r;
    std::ifstream in(dir / "transcript.json");
    if (!in) {
        r.failure = "no " + (dir / "transcript.json").string();
        return r;
    }
    try {
        in >> r.transcript;
    } catch (const std::exception& e) {
        r.failure = e.what();
        return r;
    }
    for (const auto& page : r.transcript.value("pages", json::array())) {
        if (page.value("cancelled", false) || !page.contains("pbm"))
            continue;
        rvtsim::Bitmap bitmap;
        if (!rvtsim::readPbm((dir / page["pbm"].get<std::string>()).string(), bitmap)) {
            r.failure = "unreadable " + page["pbm"].get<std::string>();
            return r;
        }
        r.looks.push_back(lookAt(bitmap));
    }
    return r;
}

// One queue on one printer, and the job printed on it.
struct Scenario {
    Scenario(std::string n, std::vector<std::string> p, std::vector<int> ids,
             std::vector<std::string> o = {}, int c = 0, std::string doc = "")
        : name(std::move(n)), printer(std::move(p)), pages(std::move(ids)), options(std::move(o)),
          copies(c), document(std::move(doc))
    {
    }
    std::string name;
    std::vector<std::string> printer;  // the simulator's switches
    std::vector<int> pages;            // the document's page ids
    std::vector<std::string> options;
    int copies = 0;
    std::string document;  // a given document instead of one of `pages`
    // Checks the job once it has ended; the printer's first connection.
    std::function<void(const JobState&, const Received&, int job)> check;

    std::shared_ptr<rvtsim::ListeningPrinter> sim = std::make_shared<rvtsim::ListeningPrinter>();
    int job = -1;
    JobState state;
    double seconds = 0;
};

class SocketBackend : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (geteuid() != 0) {
            setupError_ = "skip: the private scheduler needs root (run the tests with sudo)";
            return;
        }
        if (access("/usr/lib/cups/backend/socket", X_OK) != 0) {
            setupError_ = "skip: CUPS's socket backend is not installed";
            return;
        }
        char templ[] = "/tmp/rvt-e2e-net.XXXXXX";
        if (!mkdtemp(templ)) {
            setupError_ = "cannot make a work directory";
            return;
        }
        work_ = templ;
        chmod(templ, 0755);
        setupError_ = scheduler_.start(RVT_SOURCE_DIR "/scripts/cupsd-private.sh", RVT_BIN_DIR);
    }

    static void TearDownTestSuite()
    {
        scheduler_.stop();
        const char* keep = std::getenv("RVT_E2E_KEEP");
        if (!work_.empty() && !(keep && *keep && std::string(keep) != "0")) {
            std::error_code ec;
            fs::remove_all(work_, ec);
        }
    }

    void SetUp() override
    {
        if (setupError_.rfind("skip:", 0) == 0)
            GTEST_SKIP() << setupError_;
        ASSERT_EQ(setupError_, "");
    }

    static std::string document(const std::vector<int>& ids) { return a4TestPdf(work_, ids); }

    // The printer of queue `name`, run as nobody: it never needs root.
    static std::string startPrinter(rvtsim::ListeningPrinter& printer, const std::string& name,
                                    const std::vector<std::string>& args)
    {
        const passwd* nobody = getpwnam("nobody");
        return printer.start(RVT_BIN_DIR "/rvt4410lw-sim", fs::path(work_) / name, args,
                             nobody ? nobody->pw_uid : 0, nobody ? nobody->pw_gid : 0);
    }

    static std::string addQueue(const std::string& name, const std::string& uri)
    {
        CommandResult r = runCommand({"lpadmin", "-p", name, "-E", "-v", uri, "-P", RVT_PPD, "-o",
                                      "printer-error-policy=abort-job"});
        return r.status == 0 ? "" : "lpadmin: " + r.output;
    }

    static int submit(const std::string& queue, const std::string& doc,
                      const std::vector<std::string>& options, int copies)
    {
        std::string error;
        int id = scheduler_.submit(queue, doc, options, copies, error);
        EXPECT_GT(id, 0) << error;
        return id;
    }

    // The filter ran and exited 0.
    static bool filterExitedCleanly(int job)
    {
        std::string pid;
        for (const auto& line : scheduler_.jobLog(job)) {
            std::string path, p;
            if (startedProgram(line, path, p) && path.find("printfilter-rvt4410lw") != path.npos)
                pid = p;
            if (!pid.empty() && line.find("] PID " + pid + " (") != std::string::npos)
                return line.find("exited with no errors") != std::string::npos;
        }
        return false;
    }

    static bool logged(int job, const std::string& text)
    {
        for (const auto& line : scheduler_.jobLog(job))
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    // Starts every scenario at once, waits for each job, checks each.
    static void run(std::vector<Scenario>& scenarios)
    {
        const auto start = Clock::now();
        for (auto& s : scenarios) {
            ASSERT_EQ(startPrinter(*s.sim, s.name, s.printer), "") << s.name;
            ASSERT_EQ(addQueue(s.name, s.sim->uri()), "") << s.name;
            s.job = submit(s.name, s.document.empty() ? document(s.pages) : s.document, s.options,
                           s.copies);
        }
        // Every job watched at once, so that each one's time is its own.
        for (size_t left = scenarios.size(); left > 0 && Clock::now() < start + 150s;) {
            for (auto& s : scenarios) {
                if (s.seconds > 0)
                    continue;
                s.state = scheduler_.jobState(s.job, s.name);
                if ((s.state.state > IPP_JSTATE_STOPPED && scheduler_.programsEnded(s.job)) ||
                    s.state.state == IPP_JSTATE_STOPPED) {
                    s.seconds = std::chrono::duration<double>(Clock::now() - start).count();
                    --left;
                }
            }
            std::this_thread::sleep_for(250ms);
        }
        for (auto& s : scenarios) {
            SCOPED_TRACE(s.name + " (job " + std::to_string(s.job) + ")");
            EXPECT_GT(s.state.state, IPP_JSTATE_STOPPED)
                << "the job did not end: " << s.state.reasons << "\n"
                << scheduler_.logTail(s.job);
            EXPECT_TRUE(scheduler_.programsEnded(s.job)) << scheduler_.logTail(s.job);
            EXPECT_TRUE(filterExitedCleanly(s.job)) << scheduler_.logTail(s.job);
            Received r = readJob(s.sim->jobDir(1));
            if (s.check)
                s.check(s.state, r, s.job);
            EXPECT_EQ(s.sim->stop(), 0);
            std::printf("[ scenario ] %-16s job %-3d state %d, ended after %.1f s\n",
                        s.name.c_str(), s.job, s.state.state, s.seconds);
        }
        // The filter's page files lived in a directory of its own, gone.
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(scheduler_.tempDir()))
            if (e.path().filename().string().rfind("rvt4410lw-", 0) == 0)
                left.push_back(e.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{});
    }

    static inline Scheduler scheduler_;
    static inline std::string work_;
    static inline std::string setupError_;
};

void expectCompleted(const JobState& s, const Received& r, int job)
{
    ASSERT_EQ(r.failure, "");
    EXPECT_EQ(s.state, IPP_JSTATE_COMPLETED) << s.reasons << "\n" << job;
    EXPECT_EQ(r.transcript.value("protocol_errors", json::array()), json::array());
    EXPECT_EQ(r.transcript.value("final_state", ""), "unlocked");
}

// A job the printer or the user stopped: never completed, the stream ends
// with the cancel query.
void expectCancelled(const JobState& s, const Received& r)
{
    ASSERT_EQ(r.failure, "");
    EXPECT_EQ(s.state, IPP_JSTATE_CANCELED) << s.reasons;
    ASSERT_FALSE(r.kinds().empty());
    EXPECT_EQ(r.kinds().back(), "cancel");
    EXPECT_EQ(r.transcript.value("protocol_errors", json::array()), json::array());
}

std::string jobHeaderField(const Received& r, const std::string& field)
{
    for (const auto& p : r.transcript.value("pages", json::array()))
        return p["job_header"].value(field, "(absent)");
    return "(no page)";
}

TEST_F(SocketBackend, JobsAndFaultsOfANetworkPrinter)
{
    std::vector<Scenario> s;
    s.push_back(
        {"duplex-long", {}, {1, 2, 3}, {"Duplex=DuplexNoTumble", "GammaDarkness=darkness3"}});
    s.back().check = [](const JobState& st, const Received& r, int job) {
        expectCompleted(st, r, job);
        EXPECT_EQ(r.ids(), (std::vector<int>{2, 1, 0, 3}));
        EXPECT_EQ(jobHeaderField(r, "Sides"), "TwoSidedLongEdge");
        ASSERT_EQ(r.looks.size(), 4u);
        EXPECT_EQ(cornerName(r.looks[0].mark), cornerName(Corner::BottomLeft));
        EXPECT_EQ(cornerName(r.looks[1].mark), cornerName(Corner::TopRight));
        EXPECT_TRUE(logged(job, "darkness3")) << "the darkness option is not in the log";
    };
    s.push_back({"duplex-short-collated", {}, {1, 2}, {"Duplex=DuplexTumble", "collate=true"}, 2});
    s.back().check = [](const JobState& st, const Received& r, int job) {
        expectCompleted(st, r, job);
        EXPECT_EQ(r.ids(), (std::vector<int>{2, 1, 2, 1}));
        EXPECT_EQ(jobHeaderField(r, "Sides"), "TwoSidedShortEdge");
        EXPECT_EQ(jobHeaderField(r, "Copies"), "1");
    };
    s.push_back({"uncollated", {}, {1, 2}, {"collate=false"}, 2});
    s.back().check = [](const JobState& st, const Received& r, int job) {
        expectCompleted(st, r, job);
        EXPECT_EQ(r.ids(), (std::vector<int>{1, 2}));
        EXPECT_EQ(jobHeaderField(r, "Copies"), "2");
    };
    s.push_back({"lock-refused", {"--lock-replies", "5,5,2"}, {1}});
    s.back().check = [](const JobState& st, const Received& r, int job) {
        expectCompleted(st, r, job);
        EXPECT_EQ(r.replies("lock"), (std::vector<std::string>{"5", "5", "2"}));
        EXPECT_EQ(r.ids(), std::vector<int>{1});
    };
    s.push_back({"lock-unanswered", {"--lock-replies", "-,2"}, {1}});
    s.back().check = [](const JobState& st, const Received& r, int job) {
        expectCompleted(st, r, job);
        EXPECT_EQ(r.replies("lock"), (std::vector<std::string>{"-", "2"}));
        EXPECT_EQ(r.ids(), std::vector<int>{1});
    };
    s.push_back({"cancel-at-page-2", {"--eop-reply", "2=4"}, {1, 2, 3}});
    s.back().check = [](const JobState& st, const Received& r, int) {
        expectCancelled(st, r);
        EXPECT_EQ(r.ids(), (std::vector<int>{1, 2}));
        EXPECT_EQ(r.afterEndOfPage(2), "cancel");
    };
    // Away for the first 20 s: the socket backend keeps trying; the lock
    // queries of that time reach the printer together, and their answers
    // must not be taken for later replies.
    s.push_back({"down-then-up", {"--down", "20"}, {1, 2}});
    s.back().check = [](const JobState& st, const Received& r, int job) {
        ASSERT_EQ(r.failure, "");
        if (st.state == IPP_JSTATE_COMPLETED)
            EXPECT_EQ(r.ids(), (std::vector<int>{1, 2}));
        else
            EXPECT_TRUE(logged(job, "ERROR:")) << "stopped without a reason";
        EXPECT_EQ(r.transcript.value("protocol_errors", json::array()), json::array());
    };
    s.push_back({"down-cancel-at-1", {"--down", "20", "--eop-reply", "1=4"}, {1, 2, 3}});
    s.back().check = [](const JobState& st, const Received& r, int) {
        expectCancelled(st, r);
        EXPECT_EQ(r.ids(), std::vector<int>{1});
        EXPECT_EQ(r.afterEndOfPage(1), "cancel");
    };
    s.push_back({"closes-mid-page", {"--close-stream", "chunk:1:1"}, {1, 2}});
    s.back().check = [](const JobState& st, const Received& r, int) {
        ASSERT_EQ(r.failure, "");
        // Aborted when the backend's write fails; cancelled by the filter when
        // the backend's drain fails first and it goes on reading.
        EXPECT_TRUE(st.state == IPP_JSTATE_ABORTED || st.state == IPP_JSTATE_CANCELED)
            << st.state << " " << st.reasons;
        EXPECT_FALSE(r.transcript["closed_by_printer"].is_null());
        EXPECT_TRUE(r.ids().empty());
    };
    s.push_back(
        {"slow-printer",
         {"--reply-delay", "end_of_page=1500", "--reply-delay", "lock=1000", "--drain-delay", "5"},
         {1, 2}});
    s.back().check = [](const JobState& st, const Received& r, int job) {
        expectCompleted(st, r, job);
        EXPECT_EQ(r.ids(), (std::vector<int>{1, 2}));
    };
    // A raster whose first page libcups refuses (width 0) is no empty job.
    const std::string badRaster = work_ + "/width-0.ras";
    {
        cups_page_header2_t h{};
        h.HWResolution[0] = h.HWResolution[1] = 600;
        h.cupsHeight = 16;
        h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
        h.cupsColorSpace = CUPS_CSPACE_SW;
        h.cupsNumColors = 1;
        const uint32_t sync = CUPS_RASTER_SYNC;
        std::ofstream out(badRaster, std::ios::binary);
        out.write(reinterpret_cast<const char*>(&sync), sizeof sync);
        out.write(reinterpret_cast<const char*>(&h), sizeof h);
    }
    s.push_back({"refused-header", {}, {}, {}, 0, badRaster});
    s.back().check = [](const JobState& st, const Received& r, int job) {
        expectCancelled(st, r);
        EXPECT_TRUE(r.ids().empty());
        EXPECT_TRUE(logged(job, "The raster of the document has a page header that cannot be read"))
            << scheduler_.logTail(job);
    };
    run(s);
}

TEST_F(SocketBackend, CancelFromTheClientMidJob)
{
    Scenario s{"cancel", {"--reply-delay", "end_of_page=2000"}, {1, 2, 3, 4}};
    ASSERT_EQ(startPrinter(*s.sim, s.name, s.printer), "");
    ASSERT_EQ(addQueue(s.name, s.sim->uri()), "");
    s.job = submit(s.name, document(s.pages), {}, 0);
    const auto deadline = Clock::now() + 90s;
    bool sending = false;
    while (!sending && Clock::now() < deadline) {
        sending = logged(s.job, "Event=EndOfPage;");
        if (!sending)
            std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(sending) << scheduler_.logTail(s.job);
    const auto cancelled = Clock::now();
    ASSERT_EQ(runCommand({"cancel", std::to_string(s.job)}).status, 0);
    JobState st = scheduler_.waitForEnd(s.job, s.name, 30s);
    const double took = std::chrono::duration<double>(Clock::now() - cancelled).count();
    std::printf("[ scenario ] cancel: job ended %.1f s after the cancel\n", took);
    EXPECT_LE(took, 10.0);
    EXPECT_TRUE(scheduler_.programsEnded(s.job)) << scheduler_.logTail(s.job);
    EXPECT_TRUE(filterExitedCleanly(s.job)) << scheduler_.logTail(s.job);
    Received r = readJob(s.sim->jobDir(1));
    expectCancelled(st, r);
    EXPECT_LT(r.looks.size(), 4u);
    EXPECT_EQ(s.sim->stop(), 0);
}

// Two queues on one printer: the printer's lock keeps the jobs apart, and
// each connection carries its own job only.
TEST_F(SocketBackend, TwoQueuesOnOnePrinter)
{
    rvtsim::ListeningPrinter sim;
    ASSERT_EQ(startPrinter(sim, "shared", {"--reply-delay", "end_of_page=300"}), "");
    ASSERT_EQ(addQueue("shared-a", sim.uri()), "");
    ASSERT_EQ(addQueue("shared-b", sim.uri()), "");
    const int a = submit("shared-a", document({1, 2}), {}, 0);
    const int b = submit("shared-b", document({5, 6}), {}, 0);
    JobState sa = scheduler_.waitForEnd(a, "shared-a", 120s);
    JobState sb = scheduler_.waitForEnd(b, "shared-b", 120s);
    Received first = readJob(sim.jobDir(1)), second = readJob(sim.jobDir(2));
    expectCompleted(sa, first, a);
    expectCompleted(sb, second, b);
    std::vector<std::vector<int>> ids = {first.ids(), second.ids()};
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::vector<int>>{{1, 2}, {5, 6}}));
    // Both connections were open together; the later one waited for the lock.
    const auto busy = [](const Received& r) {
        const auto v = r.replies("lock");
        return std::count(v.begin(), v.end(), "5");
    };
    EXPECT_GT(busy(first) + busy(second), 0);
    EXPECT_TRUE(filterExitedCleanly(a) && filterExitedCleanly(b));
    EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
}  // namespace rvt::e2e

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The printer application as a driverless printer of CUPS: a private
// scheduler with an IPP Everywhere queue (lpadmin -m everywhere) on
// rvt4410lw-printer-app, whose printer is the simulator listening on
// loopback. What the queue was made of (its page sizes), what CUPS sends the
// application, what reaches the printer (pages, order, size) and how the job
// ends on both sides.
#include "e2e_support.h"
#include "listening_printer.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <thread>

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

namespace rvt::e2e {
namespace {

constexpr const char* kApp = RVT_BIN_DIR "/rvt4410lw-printer-app";
constexpr const char* kQueue = "rvt-app";

// A free TCP port on 127.0.0.1 (nothing listens on it now).
int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

bool accepts(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// The printer application's server, run as nobody in a directory of its own
// (its TMPDIR and HOME, so that its sub-commands find it there).
class PrinterApp {
public:
    ~PrinterApp()
    {
        stop();
        for (int fd : {out_, null_})
            if (fd >= 0)
                close(fd);
    }

    std::string start(const fs::path& dir)
    {
        dir_ = dir;
        const passwd* nobody = getpwnam("nobody");
        if (!nobody)
            return "no user nobody";
        uid_ = nobody->pw_uid;
        gid_ = nobody->pw_gid;
        fs::create_directories(dir);
        if (chown(dir.c_str(), uid_, gid_) != 0)
            return "cannot give " + dir.string() + " to nobody";
        port_ = freePort();
        // Its standard output and error, and those of its sub-commands.
        out_ = open((dir / "app.out").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        null_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
        std::string portOption = "server-port=";
        portOption += std::to_string(port_);
        pid_ = rvtsim::spawn(kApp,
                             {"rvt4410lw-printer-app", "server", "-o", "listen-hostname=127.0.0.1",
                              "-o", portOption, "-o", "spool-directory=" + (dir / "spool").string(),
                              "-o", "log-file=" + logPath(), "-o", "log-level=debug", "-o",
                              "state-file=" + (dir / "state").string()},
                             environment(), {null_, out_, out_, -1, -1}, uid_, gid_);
        const fs::path socketPath = dir /
                                    ("rvt4410lw-printer-app" + std::to_string(uid_) + ".sock");
        for (int i = 0; i < 100 && !(fs::exists(socketPath) && accepts(port_)); ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return "the server ended at start-up; see " + logPath();
            }
            std::this_thread::sleep_for(100ms);
        }
        if (!accepts(port_))
            return "the server does not answer on port " + std::to_string(port_);
        return "";
    }

    // A sub-command of the running server; its exit status.
    int command(const std::vector<std::string>& args) const
    {
        std::vector<std::string> argv = {"rvt4410lw-printer-app"};
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid = rvtsim::spawn(kApp, argv, environment(), {null_, out_, out_, -1, -1},
                                        uid_, gid_);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void stop()
    {
        if (pid_ <= 0)
            return;
        // SIGTERM, not the "shutdown" sub-command: the server notices that
        // one only at its next wake-up, up to 30 s later.
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(100ms);
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

    int port() const { return port_; }
    std::string uri() const
    {
        std::string u = "ipp://127.0.0.1:";
        u += std::to_string(port_);
        u += "/ipp/print/rvt";
        return u;
    }
    std::string logPath() const { return (dir_ / "app.log").string(); }

    // The server's log lines of its job `id`.
    std::vector<std::string> jobLog(int id) const
    {
        std::vector<std::string> lines;
        std::ifstream in(logPath());
        std::string tag = "[Job ";
        tag += std::to_string(id);
        tag += "] ";
        for (std::string line; std::getline(in, line);)
            if (line.find(tag) != std::string::npos)
                lines.push_back(line);
        return lines;
    }

    // The job's state (IPP job-state), job-state-message and
    // job-impressions-completed as the server reports them; 0 when it does
    // not answer.
    int jobState(int id, std::string& message, int& impressions) const
    {
        http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1,
                                    5000, nullptr);
        if (!http)
            return 0;
        ipp_t* req = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri().c_str());
        ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "root");
        int state = 0;
        if (ipp_t* resp = cupsDoRequest(http, req, "/ipp/print/rvt")) {
            if (ipp_attribute_t* a = ippFindAttribute(resp, "job-state", IPP_TAG_ENUM))
                state = ippGetInteger(a, 0);
            if (ipp_attribute_t* a = ippFindAttribute(resp, "job-state-message", IPP_TAG_TEXT))
                message = ippGetString(a, 0, nullptr);
            if (ipp_attribute_t* a = ippFindAttribute(resp, "job-impressions-completed",
                                                      IPP_TAG_INTEGER))
                impressions = ippGetInteger(a, 0);
            ippDelete(resp);
        }
        httpClose(http);
        return state;
    }

private:
    std::vector<std::string> environment() const
    {
        return {"PATH=/usr/bin:/bin", "TMPDIR=" + dir_.string(), "HOME=" + dir_.string()};
    }

    fs::path dir_;
    pid_t pid_ = -1;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    int port_ = 0;
    int out_ = -1;
    int null_ = -1;
};

// The page arrived whole: the squares in its corners reach the edges. The
// printer prints the page as it comes (mirrored). Ghostscript places a page
// by its height rounded to whole points, so a page may arrive shifted up or
// down by up to half a point: 4 rows at most.
bool whole(const PageLook& l)
{
    return l.left == 0 && l.right == 0 && l.top + l.bottom <= 4 && (l.top == 0 || l.bottom == 0);
}

// What one job left: in CUPS, in the application and with the printer.
struct Outcome {
    int cupsJob = -1;
    JobState cups;
    int appJob = -1;
    int appState = 0;
    std::string appMessage;
    int appImpressions = -1;
    std::vector<std::string> appLog;
    PrintedJob printed;

    // The value of the application's "NAME=VALUE" debug line of the job.
    std::string appLogged(const std::string& name) const
    {
        const std::string key = "] " + name + "=";
        for (const auto& line : appLog)
            if (const size_t at = line.find(key); at != std::string::npos)
                return line.substr(at + key.size());
        return "(not logged)";
    }
    // The format of the document the application received.
    std::string format() const
    {
        for (const auto& line : appLog)
            if (const size_t at = line.find("\", format \""); at != std::string::npos)
                return line.substr(at + 11, line.find('"', at + 11) - (at + 11));
        return "(not logged)";
    }
    std::string pageField(size_t page, const std::string& name) const
    {
        if (page >= printed.pages.size() || !printed.pages[page].contains(name))
            return "(absent)";
        const json& v = printed.pages[page][name];
        return v.is_string() ? v.get<std::string>() : v.dump();
    }
    std::string jobHeaderField(const std::string& name) const
    {
        if (printed.pages.empty())
            return "(no page)";
        return printed.pages[0]["job_header"].value(name, "(absent)");
    }
};

class AppDriverless : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setupError_ = makeWorkDir("rvt-e2e-app", work_);
        if (!setupError_.empty())
            return;
        if (access("/usr/lib/cups/backend/ipp", X_OK) != 0) {
            setupError_ = "skip: CUPS's ipp backend is not installed";
            return;
        }
        setupError_ = scheduler_.start(RVT_SOURCE_DIR "/scripts/cupsd-private.sh", RVT_BIN_DIR,
                                       {"--backend", "/usr/lib/cups/backend/ipp"});
        if (!setupError_.empty())
            return;
        const passwd* nobody = getpwnam("nobody");
        setupError_ = sim_.start(RVT_BIN_DIR "/rvt4410lw-sim", fs::path(work_) / "printer", {},
                                 nobody ? nobody->pw_uid : 0, nobody ? nobody->pw_gid : 0);
        if (!setupError_.empty())
            return;
        setupError_ = app_.start(fs::path(work_) / "app");
        if (!setupError_.empty())
            return;
        if (app_.command({"add", "-d", "rvt", "-v", sim_.uri(), "-m", "rvt4410lw"}) != 0) {
            setupError_ = "the application's 'add' failed; see " + app_.logPath();
            return;
        }
        const CommandResult r = runCommand(
            {"lpadmin", "-p", kQueue, "-E", "-v", app_.uri(), "-m", "everywhere"});
        if (r.status != 0) {
            setupError_ = "lpadmin -m everywhere: " + r.output;
            return;
        }
        // The scheduler makes the queue's PPD of the application's attributes
        // after lpadmin has returned.
        for (int i = 0; i < 100 && ppdLine("*DefaultPageSize:").rfind("(no", 0) == 0; ++i)
            std::this_thread::sleep_for(100ms);
    }

    static void TearDownTestSuite()
    {
        app_.stop();
        sim_.stop();
        scheduler_.stop();
        removeWorkDir(work_);
    }

    void SetUp() override
    {
        if (setupError_.rfind("skip:", 0) == 0)
            GTEST_SKIP() << setupError_;
        ASSERT_EQ(setupError_, "");
    }

    // Prints `document` on the queue and waits for the job to end in CUPS
    // (the ipp backend waits for the application's job to end).
    static Outcome print(const std::string& document, const std::vector<std::string>& options,
                         int copies = 0)
    {
        Outcome o;
        std::string error;
        o.cupsJob = scheduler_.submit(kQueue, document, options, copies, error);
        EXPECT_GT(o.cupsJob, 0) << error;
        if (o.cupsJob <= 0)
            return o;
        o.cups = scheduler_.waitForEnd(o.cupsJob, kQueue, 90s);
        // "Print job accepted - job ID 3.": the application's job.
        for (const auto& line : scheduler_.jobLog(o.cupsJob))
            if (const size_t at = line.find("Print job accepted - job ID "); at != line.npos)
                o.appJob = std::atoi(line.c_str() + at + 28);
        if (o.appJob > 0) {
            o.appState = app_.jobState(o.appJob, o.appMessage, o.appImpressions);
            o.appLog = app_.jobLog(o.appJob);
        }
        o.printed.jobDir = sim_.jobDir(++printerJobs_);
        o.printed.failure = readPrintedJob(o.printed);
        return o;
    }

    // Ended completed everywhere, with a clean stream on the printer.
    static void expectCompleted(const Outcome& o)
    {
        EXPECT_EQ(o.cups.state, IPP_JSTATE_COMPLETED) << o.cups.reasons << "\n"
                                                      << scheduler_.logTail(o.cupsJob);
        EXPECT_TRUE(scheduler_.programsEnded(o.cupsJob)) << scheduler_.logTail(o.cupsJob);
        ASSERT_GT(o.appJob, 0) << "the ipp backend did not log the application's job id\n"
                               << scheduler_.logTail(o.cupsJob);
        EXPECT_EQ(o.appState, IPP_JSTATE_COMPLETED) << o.appMessage;
        ASSERT_EQ(o.printed.failure, "");
        EXPECT_EQ(o.printed.transcript.value("protocol_errors", json::array()), json::array());
        EXPECT_EQ(o.printed.transcript.value("final_state", ""), "unlocked");
        // Every page the printer took, as the application reports it.
        EXPECT_EQ(o.appImpressions, static_cast<int>(o.printed.pages.size()));
    }

    static std::string ppdLine(const std::string& prefix)
    {
        std::ifstream in(scheduler_.root() + "/conf/ppd/" + kQueue + ".ppd");
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0)
                return line;
        return "(no " + prefix + ")";
    }

    static inline Scheduler scheduler_;
    static inline rvtsim::ListeningPrinter sim_;
    static inline PrinterApp app_;
    static inline std::string work_;
    static inline std::string setupError_;
    static inline int printerJobs_ = 0;
};

// The sample document as it is: three A4 pages at 600 dpi, whole, in order.
TEST_F(AppDriverless, SampleDocumentOnA4)
{
    // The queue made of the application's attributes offers A4 with margins
    // as its default, not only borderless sizes.
    EXPECT_EQ(ppdLine("*DefaultPageSize:"), "*DefaultPageSize: A4");
    EXPECT_EQ(ppdLine("*ImageableArea A4:").rfind("*ImageableArea A4: \"11.99", 0), 0u)
        << ppdLine("*ImageableArea A4:");

    const Outcome o = print(RVT_SOURCE_DIR "/samples/sample.pdf", {});
    expectCompleted(o);
    // CUPS passes the PDF on (pdftopdf only); the application renders it.
    EXPECT_EQ(o.format(), "application/pdf");
    EXPECT_EQ(o.appLogged("media-col.size-name"), "'iso_a4_210x297mm'");
    ASSERT_EQ(o.printed.pages.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        EXPECT_EQ(o.pageField(i, "width"), "4960");
        // 297 mm at 600 dpi: 7015.7 rows, cut to 7015 by the application.
        EXPECT_NEAR(o.printed.pages[i].value("height", 0), 7016, 1);
        EXPECT_EQ(o.pageField(i, "media_size"), "na_a4_210x297mm");
        EXPECT_FALSE(o.printed.looks[i].blank);
    }
    // Three different pages, not one page three times.
    EXPECT_NE(o.printed.bitmaps[0].bits, o.printed.bitmaps[1].bits);
    EXPECT_NE(o.printed.bitmaps[1].bits, o.printed.bitmaps[2].bits);
    EXPECT_EQ(o.jobHeaderField("Sides"), "OneSided");
}

// Numbered pages: the order the printer gets them in, and the job header.
TEST_F(AppDriverless, PageOrderOfSidesAndCopies)
{
    struct Case {
        const char* name;
        std::vector<int> pages;
        std::vector<std::string> options;
        int copies;
        std::vector<int> printed;  // page numbers as printed; 0 for a blank side
        const char* sides;
        const char* headerCopies;
        std::vector<std::string> marks;  // where the large square is, page by page
    };
    const std::string tr = cornerName(Corner::TopRight), bl = cornerName(Corner::BottomLeft),
                      none = cornerName(Corner::None);
    const Case cases[] = {
        {"one-sided", {1, 2, 3}, {}, 0, {1, 2, 3}, "OneSided", "1", {tr, tr, tr}},
        // The back of a sheet goes first; the last sheet's back is blank.
        {"two-sided-long-edge",
         {1, 2, 3},
         {"sides=two-sided-long-edge"},
         0,
         {2, 1, 0, 3},
         "TwoSidedLongEdge",
         "1",
         {bl, tr, none, tr}},
        {"collated copies",
         {1, 2},
         {"collate=true"},
         2,
         {1, 2, 1, 2},
         "OneSided",
         "1",
         {tr, tr, tr, tr}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = print(a4TestPdf(work_, c.pages), c.options, c.copies);
        expectCompleted(o);
        EXPECT_EQ(o.printed.ids(), c.printed);
        EXPECT_EQ(o.jobHeaderField("Sides"), c.sides);
        EXPECT_EQ(o.jobHeaderField("Copies"), c.headerCopies);
        std::vector<std::string> marks;
        for (const PageLook& l : o.printed.looks) {
            marks.push_back(cornerName(l.mark));
            EXPECT_TRUE(l.blank || whole(l)) << l.gaps();
        }
        EXPECT_EQ(marks, c.marks);
    }
}

// The size CUPS asks for is the size printed.
TEST_F(AppDriverless, MediaChosenByTheQueue)
{
    struct Case {
        std::vector<std::string> options;
        const char* sizeName;     // what the application was asked for
        const char* printerSize;  // what the printer is told
        int width, height;        // pixels of the page printed
    };
    const Case cases[] = {
        {{"media=A4"}, "'iso_a4_210x297mm'", "na_a4_210x297mm", 4960, 7015},
        {{"media=Letter"}, "'na_letter_8.5x11in'", "na_LETTER_216x279mm", 5100, 6600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options[0]);
        const Outcome o = print(a4TestPdf(work_, {4}), c.options);
        expectCompleted(o);
        EXPECT_EQ(o.appLogged("media-col.size-name"), c.sizeName);
        ASSERT_EQ(o.printed.pages.size(), 1u);
        EXPECT_EQ(o.pageField(0, "media_size"), c.printerSize);
        EXPECT_EQ(o.pageField(0, "width"), std::to_string(c.width));
        EXPECT_EQ(o.pageField(0, "height"), std::to_string(c.height));
        EXPECT_EQ(o.printed.ids(), std::vector<int>{4});
    }
}

}  // namespace
}  // namespace rvt::e2e

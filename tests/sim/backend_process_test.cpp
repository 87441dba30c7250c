// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The built backend run the way cupsd runs it: the print stream on standard
// input, back-channel replies on fd 3, side-channel requests on fd 4, the
// device URI in DEVICE_URI. First driven by hand, then fed by the real filter.
#include "backend_test_support.h"
#include "image_files.h"
#include "raster_patterns.h"
#include "side_channel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <csignal>
#include <cups/backend.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace rvtsim {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::string scratch(const std::string& name)
{
    fs::path dir = fs::path(RVT_TEST_TMP) / "backend" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

struct Exit {
    int status = -1;  // exit status, or -1 when killed
};

Exit waitFor(pid_t pid, int timeoutMs = 20000)
{
    Exit e;
    int status = 0;
    for (int waited = 0;; waited += 10) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (waited >= timeoutMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "process " << pid << " did not end";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    e.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return e;
}

// User and system CPU time of a running process, in clock ticks.
long cpuTicks(pid_t pid)
{
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
    // Fields after the command name, which is in parentheses: state is field 3,
    // utime and stime are fields 14 and 15.
    std::istringstream in(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

json readTranscript(const std::string& dir)
{
    std::ifstream in(dir + "/transcript.json");
    return in ? json::parse(in) : json();
}

std::vector<std::string> pageFiles(const std::string& dir)
{
    std::vector<std::string> out;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().rfind("page-", 0) == 0)
                out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string kinds(const json& t)
{
    std::string out, last;
    for (const auto& e : t["elements"]) {
        std::string k = e["kind"];
        if (k == "data" && last == "data")
            continue;
        if (!out.empty())
            out += ' ';
        out += k == "data" ? "data+" : k;
        last = k;
    }
    return out;
}

TEST(Backend, ListsItsDeviceWhenRunWithoutArguments)
{
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    int null = open("/dev/null", O_RDWR);
    pid_t pid = spawn(RVT_BACKEND, {"rvtsim"}, {"PATH=/usr/bin:/bin"},
                      {null, out[1], null, -1, -1});
    close(out[1]);
    close(null);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, size_t(n));
    close(out[0]);
    EXPECT_EQ(waitFor(pid).status, CUPS_BACKEND_OK);
    // device-class device-uri "make-and-model" "info" "device-id" "location"
    EXPECT_EQ(text,
              "direct rvtsim:/var/spool/rvtsim \"RVT RV-T4410LW\" \"RVT RV-T4410LW (simulated)\" "
              "\"MFG:RVT;MDL:RV-T4410LW;CMD:RVTJOB,JBIG;CLS:PRINTER;\" \"\"\n");
}

// The backend with its three channels held by the test, as the filter holds them.
class BackendByHand : public ::testing::Test {
protected:
    void start(const std::string& name, const std::string& query = "",
               const std::string& jobId = "42")
    {
        out_ = scratch(name);
        jobDir_ = out_ + "/job-" + jobId;
        int in[2], back[2], sc[2];
        ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(back, O_CLOEXEC), 0);
        ASSERT_EQ(socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0, sc), 0);
        int null = open("/dev/null", O_RDWR | O_CLOEXEC);
        int err = open((out_ + "/backend.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                       0644);
        std::string uri = "rvtsim:" + out_ + (query.empty() ? "" : "?" + query);
        pid_ = spawn(RVT_BACKEND, {uri, jobId, "user", "title", "1", "Duplex=None"},
                     {"PATH=/usr/bin:/bin", "DEVICE_URI=" + uri, "PRINTER=queue1"},
                     {in[0], null, err, back[1], sc[1]});
        close(in[0]);
        close(back[1]);
        close(sc[1]);
        close(null);
        close(err);
        stream_ = in[1];
        back_ = back[0];
        sc_ = sc[0];
    }

    void TearDown() override
    {
        for (int fd : {stream_, back_, sc_})
            if (fd >= 0)
                close(fd);
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    void write(const std::string& bytes)
    {
        ASSERT_EQ(::write(stream_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    // One side-channel request and its answer, as cupsSideChannelDoRequest makes it.
    SideChannelMessage request(int command, int timeoutMs = 3000)
    {
        SideChannelMessage m;
        m.command = command;
        std::string bytes = encodeSideChannel(m);
        EXPECT_EQ(::write(sc_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        std::string buffer;
        SideChannelMessage answer;
        answer.command = -1;
        pollfd p{sc_, POLLIN, 0};
        while (!takeSideChannel(buffer, answer)) {
            if (poll(&p, 1, timeoutMs) <= 0) {
                ADD_FAILURE() << "no side-channel answer";
                break;
            }
            char buf[256];
            ssize_t n = read(sc_, buf, sizeof buf);
            if (n <= 0)
                break;
            buffer.append(buf, size_t(n));
        }
        return answer;
    }

    // A command, then the drain the filter asks for after it.
    void command(const std::string& text)
    {
        write(text);
        SideChannelMessage a = request(CUPS_SC_CMD_DRAIN_OUTPUT);
        EXPECT_EQ(a.command, CUPS_SC_CMD_DRAIN_OUTPUT);
        EXPECT_EQ(a.status, CUPS_SC_STATUS_OK);
    }

    // What the back channel holds within `timeoutMs`.
    std::string backChannel(int timeoutMs = 2000)
    {
        pollfd p{back_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return "(none)";
        char buf[512];
        ssize_t n = read(back_, buf, sizeof buf);
        return n > 0 ? std::string(buf, size_t(n)) : "(closed)";
    }

    // The page data as the filter sends it: counted chunks of 4096 bytes.
    void sendPage(const Bitmap& page, int chunksBeforeStop = -1)
    {
        command("MediaSize=na_a4_210x297mm;RasterObject.Width=" +
                std::to_string((page.width + 7) / 8 * 8) +
                ";RasterObject.Height=" + std::to_string(page.height) + ";");
        std::string bie = encodeBie(page);
        int sent = 0;
        for (size_t at = 0; at < bie.size() && sent != chunksBeforeStop; at += 4096, ++sent) {
            std::string chunk = bie.substr(at, 4096);
            command("RasterObject.Data#" + std::to_string(chunk.size()) + "=" + chunk + ";");
        }
    }

    Exit end()
    {
        close(stream_);
        stream_ = -1;
        waited_ = true;
        return waitFor(pid_);
    }

    std::string out_, jobDir_;
    pid_t pid_ = -1;
    bool waited_ = false;
    int stream_ = -1, back_ = -1, sc_ = -1;
};

TEST_F(BackendByHand, AnswersTheChannelsAndDecodesThePages)
{
    start("whole-job", "lock-replies=5,2&eop-reply=2=7");
    SideChannelMessage connected = request(CUPS_SC_CMD_GET_CONNECTED);
    EXPECT_EQ(connected.status, CUPS_SC_STATUS_OK);
    EXPECT_EQ(connected.data, std::string(1, '\1'));
    EXPECT_EQ(request(CUPS_SC_CMD_GET_DEVICE_ID).status, CUPS_SC_STATUS_NOT_IMPLEMENTED);

    command("LockPrinter?");
    EXPECT_EQ(backChannel(), "5");
    command("LockPrinter?");
    EXPECT_EQ(backChannel(), "2");
    command("Event=StartOfJob;");
    command("Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;MediaInputTrayCheck=auto;");
    // Many rows, so that the page takes several chunks.
    const Bitmap first = testPage(1203, 2400), second = testPage(64, 40);
    sendPage(first);
    command("Event=EndOfPage;");
    EXPECT_EQ(backChannel(), "0");
    sendPage(second);
    command("Event=EndOfPage;");
    EXPECT_EQ(backChannel(), "7");
    command("Event=EndOfJob;");
    command("UnLockPrinter?");
    EXPECT_EQ(backChannel(), "3");

    Exit e = end();
    EXPECT_EQ(e.status, CUPS_BACKEND_OK) << readFile(out_ + "/backend.log");
    json t = readTranscript(jobDir_);
    ASSERT_FALSE(t.is_null());
    EXPECT_EQ(t["protocol_errors"], json::array());
    EXPECT_EQ(t["clean"], true);
    EXPECT_EQ(t["cancelled"], false);
    EXPECT_EQ(t["argv"], (json{"queue1", "42", "user", "title", "1", "Duplex=None"}));
    EXPECT_EQ(kinds(t),
              "lock lock start_of_job job_header page_header data+ end_of_page page_header "
              "data+ end_of_page end_of_job unlock");
    EXPECT_EQ(t["side_channel"][0]["name"], "get_connected");
    EXPECT_EQ(t["side_channel"][1]["status"], CUPS_SC_STATUS_NOT_IMPLEMENTED);
    ASSERT_EQ(t["pages"].size(), 2u);
    EXPECT_GT(t["pages"][0]["chunks"].get<int>(), 1);
    Bitmap got;
    ASSERT_TRUE(readPbm(jobDir_ + "/page-001.pbm", got));
    EXPECT_EQ(got.width, first.width);
    EXPECT_TRUE(got.bits == first.bits) << "page 1 decoded differently";
    ASSERT_TRUE(readPbm(jobDir_ + "/page-002.pbm", got));
    EXPECT_TRUE(got.bits == second.bits) << "page 2 decoded differently";
    EXPECT_TRUE(fs::exists(jobDir_ + "/page-001.png"));
    EXPECT_TRUE(fs::exists(jobDir_ + "/page-001-preview.png"));
    std::string log = readFile(out_ + "/backend.log");
    EXPECT_NE(log.find("INFO: rvtsim: page 2 received"), std::string::npos) << log;
}

TEST_F(BackendByHand, ReplyAndDrainDelaysAreKept)
{
    start("delays", "drain-delay=300&reply-delay=lock=400");
    write("LockPrinter?");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(request(CUPS_SC_CMD_DRAIN_OUTPUT).status, CUPS_SC_STATUS_OK);
    auto drained = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(backChannel(), "2");
    auto replied = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(drained, std::chrono::milliseconds(280));
    EXPECT_GE(replied, std::chrono::milliseconds(380));
    EXPECT_LT(replied, std::chrono::milliseconds(3000));
    write("CancelJob?");
    EXPECT_EQ(end().status, CUPS_BACKEND_OK);
}

TEST_F(BackendByHand, ScheduledCancelKeepsReadingUntilTheFilterSaysCancelJob)
{
    start("sigterm");
    command("LockPrinter?");
    EXPECT_EQ(backChannel(), "2");
    command("Event=StartOfJob;");
    command("Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;MediaInputTrayCheck=auto;");
    sendPage(testPage(1203, 2400), 1);  // the page header and its first chunk only
    ASSERT_EQ(kill(pid_, SIGTERM), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    command("CancelJob?");  // the filter's cancel query, after the signal
    EXPECT_EQ(backChannel(), "0");

    Exit e = end();
    EXPECT_EQ(e.status, CUPS_BACKEND_OK);
    json t = readTranscript(jobDir_);
    ASSERT_FALSE(t.is_null());
    EXPECT_EQ(t["cancelled"], true);
    ASSERT_FALSE(t["sigterm"].is_null());
    EXPECT_EQ(t["sigterm"]["cancel_last"], true);
    EXPECT_EQ(t["final_state"], "cancelled");
    EXPECT_EQ(t["protocol_errors"], json::array());
    ASSERT_EQ(t["pages"].size(), 1u);
    EXPECT_EQ(t["pages"][0]["cancelled"], true);
    EXPECT_EQ(pageFiles(jobDir_), std::vector<std::string>{}) << "a cancelled page leaves no files";
}

TEST_F(BackendByHand, StopsPollingTheSideChannelAtItsEnd)
{
    start("side-channel-gone");
    command("LockPrinter?");
    EXPECT_EQ(backChannel(), "2");
    close(sc_);  // the filter's side of the socket is gone
    sc_ = -1;
    const long before = cpuTicks(pid_);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const long idle = cpuTicks(pid_) - before;
    write("CancelJob?");
    Exit e = end();
    EXPECT_EQ(e.status, CUPS_BACKEND_OK);
    EXPECT_LT(idle, sysconf(_SC_CLK_TCK) / 20) << "the backend spun on the closed side channel";
    std::string log = readFile(out_ + "/backend.log");
    size_t closedLines = 0;
    for (size_t at = 0; (at = log.find("side channel closed", at)) != std::string::npos; ++at)
        ++closedLines;
    EXPECT_EQ(closedLines, 1u);
}

struct FailureCase {
    const char* name;
    const char* query;
    const char* stream;  // written after the granted lock
    int status;
    const char* logged;
};

class BackendFailures : public BackendByHand, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(BackendFailures, EndWithTheExitStatusTheSchedulerActsOn)
{
    const FailureCase& c = GetParam();
    start(c.name, c.query);
    if (c.status != CUPS_BACKEND_STOP) {
        command("LockPrinter?");
        EXPECT_EQ(backChannel(), "2");
        write(c.stream);
    }
    Exit e = end();
    EXPECT_EQ(e.status, c.status);
    std::string log = readFile(out_ + "/backend.log");
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    if (c.status == CUPS_BACKEND_FAILED) {
        json t = readTranscript(jobDir_);
        ASSERT_FALSE(t.is_null());
        EXPECT_FALSE(t["protocol_errors"].empty());
        EXPECT_EQ(t["clean"], false);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BackendFailures,
    ::testing::Values(FailureCase{"garbage", "", "Event=StartOfJob;Hello;", CUPS_BACKEND_FAILED,
                                  "ERROR: rvtsim: protocol error"},
                      FailureCase{"job-cut-short", "", "Event=StartOfJob;", CUPS_BACKEND_FAILED,
                                  "ERROR: rvtsim: protocol error"},
                      FailureCase{"half-a-chunk", "", "Event=StartOfJob;RasterObject.Data#10=abc",
                                  CUPS_BACKEND_FAILED, "ERROR: rvtsim: protocol error"},
                      FailureCase{"bad-uri", "sigterm=lock:1", "", CUPS_BACKEND_STOP,
                                  "ERROR: rvtsim: bad device URI"}),
    [](const auto& info) {
        std::string n = info.param.name;
        std::replace(n.begin(), n.end(), '-', '_');
        return n;
    });

// The real filter feeding the backend, wired as cupsd wires them: filter
// stdout into backend stdin, one pipe for the back channel (backend fd 3
// writes, filter fd 3 reads), one socket pair for the side channel (fd 4 of
// both). The pages must be those the simulator decodes from the same job.
TEST(BackendUnderFilter, PagesAndStreamAreThoseOfTheSimulator)
{
    const std::string dir = scratch("filter-chain");
    std::vector<PagePattern> pages;
    for (const char* d : {"text:803x600:1", "noise:640x480:2", "text:801x300:3"}) {
        PagePattern p;
        ASSERT_TRUE(parsePattern(d, p));
        pages.push_back(p);
    }
    const std::string raster = dir + "/job.ras";
    ASSERT_EQ(writeRaster(raster, pages), "");
    const std::string options = "Duplex=DuplexNoTumble GammaDarkness=darkness3 MediaType=THICK";
    const std::string copies = "2";

    // The simulator's run of the job.
    const std::string simOut = dir + "/sim";
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t sim = spawn(RVT_SIM,
                      {"rvt4410lw-sim", "--filter", RVT_FILTER, "--ppd", RVT_PPD, "--raster",
                       raster, "--out", simOut, "--job", "9", "--copies", copies, "--options",
                       options, "--no-preview"},
                      {"PATH=/usr/bin:/bin"}, {null, null, null, -1, -1});
    ASSERT_EQ(waitFor(sim, 60000).status, 0) << "the simulator's run was not clean";

    // The same job through the backend.
    const std::string tmp = dir + "/tmp";
    fs::create_directories(tmp);
    int data[2], back[2], sc[2];
    ASSERT_EQ(pipe2(data, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(back, O_CLOEXEC), 0);
    ASSERT_EQ(socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0, sc), 0);
    int in = open(raster.c_str(), O_RDONLY | O_CLOEXEC);
    int flog = open((dir + "/filter.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int blog = open((dir + "/backend.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const std::string uri = "rvtsim:" + dir + "/backend?preview=0";
    std::vector<std::string> env = {"PATH=/usr/bin:/bin",
                                    "TMPDIR=" + tmp,
                                    std::string("PPD=") + RVT_PPD,
                                    "CUPS_SERVER=" + dir + "/no-scheduler.sock",
                                    "PRINTER=rvt4410lw",
                                    "DEVICE_URI=" + uri,
                                    "CONTENT_TYPE=application/vnd.cups-raster"};
    pid_t filter = spawn(RVT_FILTER, {"rvt4410lw", "9", "user", "job", copies, options}, env,
                         {in, data[1], flog, back[0], sc[0]});
    pid_t backend = spawn(RVT_BACKEND, {uri, "9", "user", "job", copies, options}, env,
                          {data[0], null, blog, back[1], sc[1]});
    for (int fd : {data[0], data[1], back[0], back[1], sc[0], sc[1], in, flog, blog, null})
        close(fd);
    EXPECT_EQ(waitFor(filter, 60000).status, 0);
    EXPECT_EQ(waitFor(backend, 60000).status, CUPS_BACKEND_OK) << readFile(dir + "/backend.log");

    json s = readTranscript(simOut);
    json b = readTranscript(dir + "/backend/job-9");
    ASSERT_FALSE(s.is_null());
    ASSERT_FALSE(b.is_null());
    EXPECT_EQ(b["protocol_errors"], json::array());
    EXPECT_EQ(b["stream_bytes"], s["stream_bytes"]);
    ASSERT_EQ(b["elements"].size(), s["elements"].size());
    for (size_t i = 0; i < s["elements"].size(); ++i) {
        EXPECT_EQ(b["elements"][i]["kind"], s["elements"][i]["kind"]) << i;
        EXPECT_EQ(b["elements"][i]["text"], s["elements"][i]["text"]) << i;
    }
    // 3 pages two-sided with a blank back page, two collated copies.
    ASSERT_EQ(b["pages"].size(), 8u);
    EXPECT_EQ(pageFiles(dir + "/backend/job-9"), pageFiles(simOut));
    for (const auto& name : pageFiles(simOut)) {
        if (name.size() > 4 && name.substr(name.size() - 4) == ".pbm") {
            EXPECT_EQ(readFile(dir + "/backend/job-9/" + name), readFile(simOut + "/" + name))
                << name;
        }
    }
    // Each drain was answered: the filter waited for nothing.
    for (const auto& r : b["side_channel"])
        EXPECT_EQ(r["status"], CUPS_SC_STATUS_OK);
    EXPECT_EQ(b["side_channel"][0]["name"], "get_connected");
}

}  // namespace
}  // namespace rvtsim

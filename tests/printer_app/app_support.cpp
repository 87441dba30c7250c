// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "app_support.h"

#include "raster_patterns.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cups/raster.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace rvt::apptest {

namespace {

bool keepRequested()
{
    const char* keep = std::getenv("RVT_E2E_KEEP");
    return keep && *keep && std::string(keep) != "0";
}

bool connectable(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

}  // namespace

WorkDir::WorkDir(const std::string& prefix)
{
    std::string templ = "/tmp/";
    templ += prefix;
    templ += ".XXXXXX";
    if (mkdtemp(templ.data())) {
        chmod(templ.c_str(), 0777);  // the server runs as another user
        path_ = templ;
    }
}

WorkDir::~WorkDir()
{
    if (!path_.empty() && !keepRequested()) {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
}

std::string Process::start(const std::vector<std::string>& args,
                           const std::vector<std::string>& environment, const fs::path& output,
                           bool asNobody)
{
    uid_t uid = 0;
    gid_t gid = 0;
    if (asNobody && geteuid() == 0) {
        const passwd* pw = getpwnam("nobody");
        if (!pw)
            return "no user nobody";
        uid = pw->pw_uid;
        gid = pw->pw_gid;
        if (const group* gr = getgrnam("nogroup"))
            gid = gr->gr_gid;
    }
    std::vector<std::string> argStore = args, envStore = environment;
    std::vector<char*> argv, envp;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (out < 0)
        return "cannot open " + output.string();
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(out);
        return "fork failed";
    }
    if (pid == 0) {
        // A process group of its own: stopping it stops what it started.
        setpgid(0, 0);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        close_range(3, ~0U, 0);
        signal(SIGPIPE, SIG_DFL);
        if (uid != 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            _exit(126);
        // Nothing outlives a test run that is killed (after the change of
        // user, which clears it).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(125);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out);
    setpgid(pid, pid);
    pid_ = pid;
    return "";
}

int Process::wait(std::chrono::milliseconds timeout)
{
    if (pid_ <= 0)
        return -1;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) {
            pid_ = -1;
            return r == -1 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
        }
        if (Clock::now() >= deadline)
            return -2;  // still running
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int Process::stop(std::chrono::milliseconds grace)
{
    if (pid_ <= 0)
        return -1;
    kill(-pid_, SIGTERM);
    int status = wait(grace);
    if (status == -2) {
        kill(-pid_, SIGKILL);
        wait(std::chrono::seconds(10));
        return -1;
    }
    return status;
}

int runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               bool asNobody, std::string& output, std::chrono::milliseconds timeout)
{
    char name[] = "/tmp/rvt-app-run.XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        return -1;
    fchmod(fd, 0666);
    close(fd);
    Process p;
    int status = -1;
    const std::string error = p.start(argv, env, name, asNobody);
    if (error.empty()) {
        status = p.wait(timeout);
        if (status == -2)
            status = p.stop(std::chrono::seconds(1));
        output = readFile(name);
    } else {
        output = error;
    }
    unlink(name);
    return status;
}

std::string binPath(const std::string& program)
{
    std::string path = RVT_BIN_DIR;
    path += '/';
    path += program;
    return path;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// --- the simulator ---------------------------------------------------------

std::string Simulator::start(const fs::path& dir, const std::vector<std::string>& options)
{
    dir_ = dir;
    fs::create_directories(dir);
    const fs::path log = dir.string() + ".log";
    std::vector<std::string> argv = {
        binPath("rvt4410lw-sim"), "--listen", "127.0.0.1:0", "--out", dir.string(), "--no-preview"};
    argv.insert(argv.end(), options.begin(), options.end());
    std::string error = process_.start(argv, {"PATH=/usr/bin:/bin"}, log, false);
    if (!error.empty())
        return error;
    const std::string marker = "rvt4410lw-sim: listening on 127.0.0.1:";
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        const std::string text = readFile(log);
        const size_t at = text.find(marker);
        if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
            port_ = std::atoi(text.c_str() + at + marker.size());
            return "";
        }
        if (process_.wait(std::chrono::milliseconds(0)) != -2)
            return "the simulator ended: " + text;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "the simulator did not say where it listens";
}

int Simulator::stop() { return process_.stop(std::chrono::seconds(5)); }

std::string Simulator::uri() const
{
    std::string uri = "socket://127.0.0.1:";
    uri += std::to_string(port_);
    return uri;
}

fs::path Simulator::jobDir(int n) const
{
    std::string name = "job-";
    name += std::to_string(n);
    return dir_ / name;
}

int Simulator::jobCount() const
{
    int n = 0;
    while (fs::exists(jobDir(n + 1)))
        ++n;
    return n;
}

json Simulator::transcript(int n, std::chrono::milliseconds timeout) const
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // Written when the job ends, not in one step: read until it parses.
        const std::string text = readFile(jobDir(n) / "transcript.json");
        if (!text.empty()) {
            json t = json::parse(text, nullptr, false);
            if (!t.is_discarded())
                return t;
        }
        if (Clock::now() >= deadline)
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// --- the application's server ------------------------------------------------

std::vector<std::string> AppServer::env() const
{
    return {"PATH=/usr/bin:/bin", "TMPDIR=" + dir_.string(), "HOME=" + dir_.string()};
}

std::string AppServer::start(const fs::path& dir)
{
    dir_ = dir;
    port_ = freePort();
    const std::vector<std::string> argv = {binPath("rvt4410lw-printer-app"),
                                           "server",
                                           "-o",
                                           "listen-hostname=127.0.0.1",
                                           "-o",
                                           "server-port=" + std::to_string(port_),
                                           "-o",
                                           "spool-directory=" + (dir / "spool").string(),
                                           "-o",
                                           "log-file=" + logFile().string(),
                                           "-o",
                                           "log-level=debug",
                                           "-o",
                                           "state-file=" + (dir / "state").string(),
                                           "-o",
                                           "server-options=no-web-interface"};
    std::string error = process_.start(argv, env(), dir / "server.out", true);
    if (!error.empty())
        return error;
    // The sub-commands reach the server through its control socket, made a
    // moment after the IPP port: one run before it is there starts a
    // server of its own (PAPPL's auto-start) and talks to that instead.
    uid_t uid = geteuid();
    if (uid == 0)
        if (const passwd* pw = getpwnam("nobody"))
            uid = pw->pw_uid;
    const fs::path control = dir / ("rvt4410lw-printer-app" + std::to_string(uid) + ".sock");
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (!connectable(port_) || !fs::exists(control)) {
        if (process_.wait(std::chrono::milliseconds(0)) != -2)
            return "the server ended: " + readFile(dir / "server.out");
        if (Clock::now() > deadline)
            return "the server does not listen on its port";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
}

std::string AppServer::addPrinter(const std::string& name, const std::string& deviceUri)
{
    std::string output;
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int status = runProgram({binPath("rvt4410lw-printer-app"), "add", "-d", name, "-v",
                                       deviceUri, "-m", "rvt4410lw"},
                                      env(), true, output);
        if (status == 0)
            return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "add failed: " + output;
}

bool AppServer::running()
{
    return process_.running() && process_.wait(std::chrono::milliseconds(0)) == -2;
}

std::string AppServer::stop()
{
    if (!process_.running())
        return "";
    // SIGTERM, as a service manager stops it. (The "shutdown" sub-command
    // works too, but the framework's main loop sees its request only when its
    // poll times out, up to 30 s later.)
    const auto start = Clock::now();
    const int status = process_.stop(std::chrono::seconds(15));
    if (status != 0)
        return "the server did not shut down cleanly on SIGTERM (status " + std::to_string(status) +
               ")";
    if (Clock::now() - start > std::chrono::seconds(5))
        return "the server took more than 5 s to shut down";
    return "";
}

std::string AppServer::printerUri(const std::string& name) const
{
    std::string uri = "ipp://127.0.0.1:";
    uri += std::to_string(port_);
    uri += "/ipp/print/";
    uri += name;
    return uri;
}

// --- IPP ---------------------------------------------------------------------

bool JobStatus::hasReason(const std::string& r) const
{
    return std::find(reasons.begin(), reasons.end(), r) != reasons.end();
}

const char* stateName(ipp_jstate_t state) { return ippEnumString("job-state", state); }

std::string JobStatus::describe() const
{
    std::string s = stateName(state);
    s += " [";
    for (const std::string& r : reasons) {
        s += ' ';
        s += r;
    }
    s += " ] \"";
    s += message;
    s += '"';
    if (!error.empty()) {
        s += " (request failed: ";
        s += error;
        s += ')';
    }
    return s;
}

http_t* IppClient::connect() const
{
    http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1,
                                30000, nullptr);
    // A server that stops answering fails the request instead of hanging the
    // test.
    if (http)
        httpSetTimeout(http, 20.0, nullptr, nullptr);
    return http;
}

ipp_t* IppClient::request(ipp_op_t op) const
{
    ipp_t* r = ippNewRequest(op);
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri_.c_str());
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "apptest");
    return r;
}

namespace {

std::string resourceOf(const std::string& uri)
{
    const size_t at = uri.find("/ipp/");
    return at == std::string::npos ? "/" : uri.substr(at);
}

std::string lastError()
{
    std::string e = ippErrorString(cupsLastError());
    e += ": ";
    e += cupsLastErrorString() ? cupsLastErrorString() : "";
    return e;
}

}  // namespace

int IppClient::printJob(const std::string& file, const std::string& format,
                        const JobAttributes& attrs, std::string& error, bool retryWhenBusy) const
{
    for (int attempt = 0;; ++attempt) {
        ipp_status_t status = IPP_STATUS_OK;
        const int id = printJobOnce(file, format, attrs, error, status);
        if (id > 0 || !retryWhenBusy || status != IPP_STATUS_ERROR_BUSY || attempt > 2000)
            return id;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

int IppClient::printJobOnce(const std::string& file, const std::string& format,
                            const JobAttributes& attrs, std::string& error,
                            ipp_status_t& status) const
{
    http_t* http = connect();
    if (!http) {
        error = "cannot connect";
        return -1;
    }
    ipp_t* r = request(IPP_OP_PRINT_JOB);
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 format.c_str());
    if (attrs)
        attrs(r);
    ipp_t* response = cupsDoFileRequest(http, r, resourceOf(uri_).c_str(), file.c_str());
    int id = -1;
    status = cupsLastError();
    if (response && cupsLastError() <= IPP_STATUS_OK_CONFLICTING)
        id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
    else
        error = lastError();
    ippDelete(response);
    httpClose(http);
    return id;
}

int IppClient::submit(const std::string& file, const std::string& format,
                      const JobAttributes& attrs, std::future<ipp_status_t>& sent,
                      std::string& error) const
{
    http_t* http = connect();
    if (!http) {
        error = "cannot connect";
        return -1;
    }
    ipp_t* r = request(IPP_OP_CREATE_JOB);
    if (attrs)
        attrs(r);
    ipp_t* response = cupsDoRequest(http, r, resourceOf(uri_).c_str());
    int id = -1;
    if (response && cupsLastError() <= IPP_STATUS_OK_CONFLICTING)
        id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
    else
        error = lastError();
    ippDelete(response);
    httpClose(http);
    if (id <= 0)
        return -1;
    sent = std::async(std::launch::async, [this, id, file, format] {
        http_t* h = connect();
        if (!h)
            return IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
        ipp_t* send = request(IPP_OP_SEND_DOCUMENT);
        ippAddInteger(send, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        ippAddString(send, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                     format.c_str());
        ippAddBoolean(send, IPP_TAG_OPERATION, "last-document", 1);
        ippDelete(cupsDoFileRequest(h, send, resourceOf(uri_).c_str(), file.c_str()));
        const ipp_status_t status = cupsLastError();
        httpClose(h);
        return status;
    });
    return id;
}

JobStatus IppClient::status(int jobId) const
{
    JobStatus s;
    http_t* http = connect();
    if (!http) {
        s.error = "cannot connect";
        return s;
    }
    ipp_t* r = request(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddInteger(r, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    static const char* const kWanted[] = {"job-state", "job-state-reasons", "job-state-message"};
    ippAddStrings(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                  kWanted);
    ipp_t* response = cupsDoRequest(http, r, resourceOf(uri_).c_str());
    if (!response || cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        s.error = lastError();
    } else {
        if (ipp_attribute_t* a = ippFindAttribute(response, "job-state", IPP_TAG_ENUM))
            s.state = static_cast<ipp_jstate_t>(ippGetInteger(a, 0));
        if (ipp_attribute_t* a = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD))
            for (int i = 0; i < ippGetCount(a); ++i)
                s.reasons.emplace_back(ippGetString(a, i, nullptr));
        if (ipp_attribute_t* a = ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT))
            s.message = ippGetString(a, 0, nullptr);
    }
    ippDelete(response);
    httpClose(http);
    return s;
}

JobStatus IppClient::waitForEnd(int jobId, std::chrono::milliseconds timeout,
                                std::vector<JobStatus>* seen) const
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        JobStatus s = status(jobId);
        if (seen && s.error.empty() && (seen->empty() || seen->back().describe() != s.describe()))
            seen->push_back(s);
        // A server that does not answer ends the wait too.
        if (s.ended() || !s.error.empty() || Clock::now() >= deadline)
            return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

ipp_status_t IppClient::cancelJob(int jobId) const
{
    http_t* http = connect();
    if (!http)
        return IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
    ipp_t* r = request(IPP_OP_CANCEL_JOB);
    ippAddInteger(r, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ippDelete(cupsDoRequest(http, r, resourceOf(uri_).c_str()));
    httpClose(http);
    return cupsLastError();
}

std::vector<std::string> IppClient::printerStateReasons() const
{
    std::vector<std::string> reasons;
    http_t* http = connect();
    if (!http)
        return reasons;
    ipp_t* r = request(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-state-reasons");
    ipp_t* response = cupsDoRequest(http, r, resourceOf(uri_).c_str());
    if (ipp_attribute_t* a = ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD))
        for (int i = 0; i < ippGetCount(a); ++i)
            reasons.emplace_back(ippGetString(a, i, nullptr));
    ippDelete(response);
    httpClose(http);
    return reasons;
}

// --- rasters -------------------------------------------------------------------

GrayPage patternPage(const std::string& text)
{
    rvtsim::PagePattern pattern;
    GrayPage page;
    if (!rvtsim::parsePattern(text, pattern))
        return page;
    page.width = static_cast<unsigned>(pattern.width);
    page.height = static_cast<unsigned>(pattern.height);
    page.pixels = rvtsim::makeGrayPage(pattern);
    return page;
}

void paste(GrayPage& page, const GrayPage& patch, unsigned x, unsigned y)
{
    for (unsigned row = 0; row < patch.height && y + row < page.height; ++row) {
        const unsigned n = std::min(patch.width, page.width > x ? page.width - x : 0);
        std::memcpy(&page.pixels[size_t(y + row) * page.width + x],
                    &patch.pixels[size_t(row) * patch.width], n);
    }
}

std::string writeRaster(const std::string& path, RasterFormat format,
                        const std::vector<GrayPage>& pages, unsigned dpi, const char* media)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot write " + path;
    cups_raster_t* ras = cupsRasterOpen(fd, format == RasterFormat::Pwg ? CUPS_RASTER_WRITE_PWG
                                                                        : CUPS_RASTER_WRITE_APPLE);
    std::string error;
    for (const GrayPage& page : pages) {
        cups_page_header2_t h;
        if (!cupsRasterInitPWGHeader(&h, pwgMediaForPWG(media), "sgray_8", int(dpi), int(dpi),
                                     "one-sided", nullptr)) {
            error = "no page header for ";
            error += media;
            break;
        }
        h.cupsWidth = page.width;
        h.cupsHeight = page.height;
        h.cupsBytesPerLine = page.width;
        h.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = static_cast<unsigned>(pages.size());
        if (!cupsRasterWriteHeader2(ras, &h)) {
            error = "cannot write a page header";
            break;
        }
        for (unsigned y = 0; y < page.height; ++y)
            cupsRasterWritePixels(
                ras, const_cast<unsigned char*>(&page.pixels[size_t(y) * page.width]), page.width);
    }
    cupsRasterClose(ras);
    if (close(fd) != 0 && error.empty())
        error = "cannot write " + path;
    return error;
}

std::string runFilter(const std::string& raster, const fs::path& out, const std::string& options,
                      int copies)
{
    std::string output;
    const int status = runProgram({binPath("rvt4410lw-sim"), "--raster", raster, "--out",
                                   out.string(), "--no-preview", "--copies", std::to_string(copies),
                                   "--options", options},
                                  {"PATH=/usr/bin:/bin"}, false, output);
    return status == 0 ? "" : "the filter's run failed: " + output;
}

// --- transcripts ---------------------------------------------------------------

json comparableElements(const json& transcript)
{
    json elements = json::array();
    if (transcript.is_object())
        for (json e : transcript.value("elements", json::array())) {
            e.erase("time_ms");
            elements.push_back(std::move(e));
        }
    return elements;
}

std::string streamDifference(const json& a, const json& b)
{
    const json ea = comparableElements(a), eb = comparableElements(b);
    for (size_t i = 0; i < std::max(ea.size(), eb.size()); ++i) {
        const std::string x = i < ea.size() ? ea[i].dump() : "(none)";
        const std::string y = i < eb.size() ? eb[i].dump() : "(none)";
        if (x != y) {
            std::string why = "element ";
            why += std::to_string(i);
            why += ": ";
            why += x;
            why += " against ";
            why += y;
            return why;
        }
    }
    return "";
}

std::vector<std::string> elementKinds(const json& transcript)
{
    std::vector<std::string> kinds;
    if (transcript.is_object())
        for (const json& e : transcript.value("elements", json::array()))
            kinds.push_back(e.value("kind", ""));
    return kinds;
}

std::string comparePages(const fs::path& dirA, const json& transcriptA, const fs::path& dirB,
                         const json& transcriptB)
{
    const json pagesA = transcriptA.value("pages", json::array());
    const json pagesB = transcriptB.value("pages", json::array());
    if (pagesA.size() != pagesB.size())
        return std::to_string(pagesA.size()) + " pages against " + std::to_string(pagesB.size());
    for (size_t i = 0; i < pagesA.size(); ++i) {
        const std::string a = readFile(dirA / pagesA[i].value("pbm", "none"));
        const std::string b = readFile(dirB / pagesB[i].value("pbm", "none"));
        if (a.empty() || a != b) {
            std::string why = "page ";
            why += std::to_string(i + 1);
            why += a.empty() ? " has no decoded page" : " differs";
            return why;
        }
    }
    return "";
}

}  // namespace rvt::apptest

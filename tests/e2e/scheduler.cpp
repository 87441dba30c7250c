// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "scheduler.h"

#include <cups/cups.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace rvt::e2e {

CommandResult runCommand(const std::vector<std::string>& argv)
{
    CommandResult result;
    int fds[2];
    if (argv.empty() || pipe(fds) != 0)
        return result;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    char buf[4096];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0)
            result.output.append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool startedProgram(const std::string& line, std::string& path, std::string& pid)
{
    size_t at = line.find("] Started filter ");
    size_t skip = sizeof "] Started filter " - 1;
    if (at == std::string::npos) {
        at = line.find("] Started backend ");
        skip = sizeof "] Started backend " - 1;
    }
    if (at == std::string::npos)
        return false;
    const size_t open = line.find(" (PID ", at + skip);
    const size_t close = line.find(')', open == std::string::npos ? line.size() : open);
    if (open == std::string::npos || close == std::string::npos)
        return false;
    path = line.substr(at + skip, open - (at + skip));
    pid = line.substr(open + 6, close - (open + 6));
    return !pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos;
}

std::string Scheduler::start(const std::string& script, const std::string& binDir,
                             const std::vector<std::string>& more)
{
    script_ = script;
    std::vector<std::string> argv = {script, "start",   "--bin",
                                     binDir, "--watch", std::to_string(getpid())};
    // A sanitizer build's filter and backend run under the scheduler with
    // the same sanitizer options as the tests (cupsd passes its programs
    // only the variables it is told to).
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* value = std::getenv(name); value && *value)
            argv.insert(argv.end(), {"--setenv", std::string(name) + "=" + value});
    argv.insert(argv.end(), more.begin(), more.end());
    CommandResult r = runCommand(argv);
    // The directory is the last line of standard output.
    std::string out = r.output;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    std::string last = out.substr(out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
    if (r.status != 0 || last.empty() || last[0] != '/')
        return "cupsd-private.sh start failed (status " + std::to_string(r.status) +
               "): " + r.output;
    root_ = last;
    setenv("CUPS_SERVER", socketPath().c_str(), 1);
    cupsSetServer(socketPath().c_str());
    return "";
}

void Scheduler::stop()
{
    if (root_.empty())
        return;
    // RVT_E2E_KEEP=1 leaves the scheduler's directory (logs, spool) to look at.
    const char* keep = std::getenv("RVT_E2E_KEEP");
    if (keep && *keep && std::string(keep) != "0")
        runCommand({script_, "stop", root_, "--keep"});
    else
        runCommand({script_, "stop", root_});
    root_.clear();
}

std::string Scheduler::addQueue(const std::string& name, const std::string& uri,
                                const std::string& ppd)
{
    CommandResult r = runCommand({"lpadmin", "-p", name, "-E", "-v", uri, "-P", ppd});
    if (r.status != 0)
        return "lpadmin failed (" + std::to_string(r.status) + "): " + r.output;
    return "";
}

int Scheduler::submit(const std::string& queue, const std::string& document,
                      const std::vector<std::string>& options, int copies, std::string& error)
{
    std::vector<std::string> argv = {"lp", "-d", queue};
    if (copies > 0) {
        argv.push_back("-n");
        argv.push_back(std::to_string(copies));
    }
    for (const auto& o : options) {
        argv.push_back("-o");
        argv.push_back(o);
    }
    argv.push_back(document);
    CommandResult r = runCommand(argv);
    // "request id is QUEUE-12 (1 file(s))"
    const std::string lead = "request id is " + queue + "-";
    const size_t at = r.output.find(lead);
    const int id = at == std::string::npos ? 0 : std::atoi(r.output.c_str() + at + lead.size());
    if (r.status != 0 || id <= 0) {
        error = "lp failed (" + std::to_string(r.status) + "): " + r.output;
        return -1;
    }
    return id;
}

namespace {

std::string joinValues(ipp_attribute_t* attr)
{
    std::string text;
    for (int i = 0; attr && i < ippGetCount(attr); ++i) {
        if (!text.empty())
            text += ",";
        const char* v = ippGetString(attr, i, nullptr);
        text += v ? v : "";
    }
    return text;
}

}  // namespace

JobState Scheduler::jobState(int jobId, const std::string& queue) const
{
    JobState s;
    http_t* http = httpConnect2(socketPath().c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER,
                                1, 5000, nullptr);
    if (!http) {
        s.reasons = "cannot connect to the scheduler";
        return s;
    }
    ipp_t* req = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    std::string jobUri = "ipp://localhost/jobs/" + std::to_string(jobId);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, jobUri.c_str());
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    if (ipp_t* resp = cupsDoRequest(http, req, "/")) {
        if (ipp_attribute_t* a = ippFindAttribute(resp, "job-state", IPP_TAG_ENUM))
            s.state = ippGetInteger(a, 0);
        s.reasons = joinValues(ippFindAttribute(resp, "job-state-reasons", IPP_TAG_KEYWORD));
        ippDelete(resp);
    } else {
        s.reasons = std::string("Get-Job-Attributes: ") + cupsLastErrorString();
    }

    req = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    std::string printerUri = "ipp://localhost/printers/" + queue;
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri.c_str());
    if (ipp_t* resp = cupsDoRequest(http, req, "/")) {
        if (ipp_attribute_t* a = ippFindAttribute(resp, "printer-state", IPP_TAG_ENUM)) {
            int ps = ippGetInteger(a, 0);
            s.printerState = ps == IPP_PSTATE_IDLE         ? "idle"
                             : ps == IPP_PSTATE_PROCESSING ? "processing"
                                                           : "stopped";
        }
        if (ipp_attribute_t* a = ippFindAttribute(resp, "printer-state-message", IPP_TAG_TEXT)) {
            const char* msg = ippGetString(a, 0, nullptr);
            if (msg && *msg)
                s.printerState += std::string(" (") + msg + ")";
        }
        ippDelete(resp);
    }
    httpClose(http);
    return s;
}

JobState Scheduler::waitForEnd(int jobId, const std::string& queue,
                               std::chrono::seconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    JobState s;
    for (;;) {
        s = jobState(jobId, queue);
        // A cancelled job is "canceled" at once, while its filters and
        // backend are still stopping: it has ended when they all have.
        if (s.state > IPP_JSTATE_STOPPED && programsEnded(jobId))
            return s;
        // A filter or backend that failed stops the job (or the queue, with
        // the job back in "pending"): it would never end by itself.
        if (s.state == IPP_JSTATE_STOPPED || s.printerState.rfind("stopped", 0) == 0)
            return s;
        if (std::chrono::steady_clock::now() > deadline)
            return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

bool Scheduler::programsEnded(int jobId) const
{
    // "Started filter /.../gstoraster (PID 123)" when it starts,
    // "PID 123 (/.../gstoraster) exited with no errors." (or "stopped with
    // status", "terminated normally with signal", "crashed") when it ends.
    std::vector<std::string> lines = jobLog(jobId);
    for (const auto& line : lines) {
        std::string path, pid;
        if (!startedProgram(line, path, pid))
            continue;
        const std::string end = "] PID " + pid + " (";
        bool ended = false;
        for (const auto& other : lines)
            ended = ended || other.find(end) != std::string::npos;
        if (!ended)
            return false;
    }
    return true;
}

std::vector<std::string> Scheduler::jobLog(int jobId) const
{
    std::vector<std::string> lines;
    std::ifstream in(root_ + "/log/error_log");
    const std::string tag = "[Job " + std::to_string(jobId) + "] ";
    for (std::string line; std::getline(in, line);)
        if (line.find(tag) != std::string::npos)
            lines.push_back(line);
    return lines;
}

std::string Scheduler::logTail(int jobId, size_t count) const
{
    std::vector<std::string> lines = jobLog(jobId);
    std::string text = "last lines of job " + std::to_string(jobId) + " in " + root_ +
                       "/log/error_log:\n";
    for (size_t i = lines.size() > count ? lines.size() - count : 0; i < lines.size(); ++i)
        text += "  " + lines[i] + "\n";
    return text;
}

}  // namespace rvt::e2e

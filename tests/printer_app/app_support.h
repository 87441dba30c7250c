// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// What the printer application's end-to-end suites share: a work directory,
// the simulated network printer (rvt4410lw-sim --listen) and the application's
// server in processes of their own, an IPP client for the server, test
// rasters written as PWG raster or URF, and the filter's own run of a raster
// (rvt4410lw-sim --raster) to hold the application's output against.
//
// As root, the server and its sub-commands run as "nobody": they find each
// other through a domain socket whose path depends on the user, and root's is
// shared by the whole machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <cups/cups.h>
#include <filesystem>
#include <functional>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/types.h>
#include <vector>

namespace rvt::apptest {

using Clock = std::chrono::steady_clock;

// A fresh directory under /tmp that every user may write in; removed with
// everything in it when the object goes (unless RVT_E2E_KEEP=1).
class WorkDir {
public:
    explicit WorkDir(const std::string& prefix);
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A program started in the background, its output in a file; stopped with
// SIGTERM (then SIGKILL) unless it has ended already.
class Process {
public:
    Process() = default;
    ~Process() { stop(std::chrono::seconds(5)); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // `asNobody`: as user nobody when this process is root. "" or why not.
    std::string start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::filesystem::path& output, bool asNobody);
    // Waits up to `timeout` for the end; its exit status, -1 when it had to be
    // killed or did not exit normally.
    int wait(std::chrono::milliseconds timeout);
    int stop(std::chrono::milliseconds grace);
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// Runs a program to its end (as nobody when asked and root); its exit status
// and, in `output`, what it wrote.
int runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               bool asNobody, std::string& output,
               std::chrono::milliseconds timeout = std::chrono::seconds(60));

// The build's programs.
std::string binPath(const std::string& program);

// The simulated network printer, its jobs in `dir`/job-N.
class Simulator {
public:
    // "" or why it did not start.
    std::string start(const std::filesystem::path& dir, const std::vector<std::string>& options);
    int stop();
    int port() const { return port_; }
    std::string uri() const;
    std::filesystem::path jobDir(int n) const;
    // How many jobs have begun.
    int jobCount() const;
    // Job n's transcript once it has been written whole; null after `timeout`.
    nlohmann::json transcript(int n, std::chrono::milliseconds timeout) const;

private:
    Process process_;
    std::filesystem::path dir_;
    int port_ = 0;
};

// The application's server with its state, spool and log in `dir`.
class AppServer {
public:
    ~AppServer() { stop(); }
    std::string start(const std::filesystem::path& dir);
    // Adds printer `name` on `deviceUri`. "" or why not.
    std::string addPrinter(const std::string& name, const std::string& deviceUri);
    // Asks it to shut down, then ends it; "" when it went by itself.
    std::string stop();
    bool running();
    int port() const { return port_; }
    std::string printerUri(const std::string& name) const;
    std::filesystem::path logFile() const { return dir_ / "app.log"; }

private:
    std::vector<std::string> env() const;
    Process process_;
    std::filesystem::path dir_;
    int port_ = 0;
};

// A free TCP port on 127.0.0.1.
int freePort();

// A job's state as Get-Job-Attributes gives it.
struct JobStatus {
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    std::vector<std::string> reasons;
    std::string message;
    std::string error;  // when the request failed
    bool ended() const { return state >= IPP_JSTATE_CANCELED; }
    bool hasReason(const std::string& r) const;
    std::string describe() const;
};
const char* stateName(ipp_jstate_t state);

// Job template attributes added to a job's request.
using JobAttributes = std::function<void(ipp_t*)>;

// Each call makes its own connection, so that threads may share one client.
class IppClient {
public:
    IppClient(int port, std::string printerUri) : port_(port), uri_(std::move(printerUri)) {}
    // Print-Job of `file`; the job id, or -1 with the reason in `error`.
    // The server takes a raster job only while the printer is idle and
    // answers server-error-busy otherwise: `retryWhenBusy` sends it again
    // then, as CUPS's ipp backend does.
    int printJob(const std::string& file, const std::string& format, const JobAttributes& attrs,
                 std::string& error, bool retryWhenBusy = false) const;
    // Create-Job now, Send-Document on a thread of its own (the server answers
    // it when it has read the document, which for a raster may be when the job
    // ends). The job id or -1; `sent` has the Send-Document's status.
    int submit(const std::string& file, const std::string& format, const JobAttributes& attrs,
               std::future<ipp_status_t>& sent, std::string& error) const;
    JobStatus status(int jobId) const;
    // Polls until the job has ended or `timeout`; `seen` gets every distinct
    // status on the way.
    JobStatus waitForEnd(int jobId, std::chrono::milliseconds timeout,
                         std::vector<JobStatus>* seen = nullptr) const;
    ipp_status_t cancelJob(int jobId) const;
    std::vector<std::string> printerStateReasons() const;

private:
    int printJobOnce(const std::string& file, const std::string& format, const JobAttributes& attrs,
                     std::string& error, ipp_status_t& status) const;
    http_t* connect() const;
    ipp_t* request(ipp_op_t op) const;
    int port_;
    std::string uri_;
};

// A page of 8-bit gray, 0 black, 255 white.
struct GrayPage {
    unsigned width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

// A page of the simulator's raster patterns ("text:600x800:3").
GrayPage patternPage(const std::string& pattern);
// A white page with `patch` copied in at (x, y).
void paste(GrayPage& page, const GrayPage& patch, unsigned x, unsigned y);

enum class RasterFormat { Pwg, Urf };
// Writes the pages at `dpi` as 8-bit gray (sgray_8) on `media` (a PWG name;
// the page header gives that media's size, the pixels are the pages' own).
// "" or why not.
std::string writeRaster(const std::string& path, RasterFormat format,
                        const std::vector<GrayPage>& pages, unsigned dpi = 600,
                        const char* media = "iso_a4_210x297mm");

// The filter's run of `raster` through the simulator, as CUPS would run it,
// with the queue's `options` and `copies`; into `out`. "" or why it failed.
std::string runFilter(const std::string& raster, const std::filesystem::path& out,
                      const std::string& options, int copies = 1);

// The transcript's stream elements with only what may differ between two runs
// of the same job removed: the times (time_ms). The job header carries no job
// id, name, user or time, so it is compared whole.
nlohmann::json comparableElements(const nlohmann::json& transcript);
// The first difference between two transcripts' comparable elements; "" when
// there is none.
std::string streamDifference(const nlohmann::json& a, const nlohmann::json& b);
// The kinds of the elements in order.
std::vector<std::string> elementKinds(const nlohmann::json& transcript);
// Differences between the decoded pages (page-NNN.pbm named by the
// transcripts) of two job directories, byte for byte; "" when the same.
std::string comparePages(const std::filesystem::path& dirA, const nlohmann::json& transcriptA,
                         const std::filesystem::path& dirB, const nlohmann::json& transcriptB);
std::string readFile(const std::filesystem::path& path);

}  // namespace rvt::apptest

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "pdf_document.h"

#include "driver_job.h"
#include "page_source.h"
#include "raster_input.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace rvt::app {

namespace {

constexpr unsigned kResolution = 600;
// Ghostscript's limits: processor seconds and address space.
constexpr rlim_t kCpuSeconds = 300;
constexpr rlim_t kMemoryBytes = rlim_t(1) << 30;

struct OptionsDeleter {
    void operator()(pappl_pr_options_t* o) const { papplJobDeletePrintOptions(o); }
};
struct RasterDeleter {
    void operator()(cups_raster_t* r) const { cupsRasterClose(r); }
};

// Ghostscript rendering one document into a pipe.
class Renderer {
public:
    ~Renderer()
    {
        stop();
        if (out_ >= 0)
            close(out_);
        if (errors_ >= 0)
            close(errors_);
    }

    // Starts Ghostscript on `file` for pages of `width` x `height` pixels.
    // Returns an empty text, or why it could not start.
    std::string start(const char* file, unsigned width, unsigned height)
    {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return std::strerror(errno);
        out_ = pipeFds[0];
        // Ghostscript's messages, kept for the job's reason.
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/rvt-gs-XXXXXX";
        errors_ = mkostemp(pattern.data(), O_CLOEXEC);
        if (errors_ >= 0)
            unlink(pattern.c_str());

        const std::vector<std::string> args = {
            "gs",
            "-q",
            "-dSAFER",
            "-dBATCH",
            "-dNOPAUSE",
            "-dNOINTERPOLATE",
            "-sstdout=%stderr",
            "-sDEVICE=pwgraster",
            "-r600",
            "-dcupsColorSpace=18",
            "-dcupsBitsPerColor=8",
            "-dDEVICEWIDTH=" + std::to_string(width),
            "-dDEVICEHEIGHT=" + std::to_string(height),
            "-dFIXEDMEDIA",
            "-dPDFFitPage",
            "-sOutputFile=%stdout",
            "-f",
            file,
        };
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        if (errors_ >= 0)
            posix_spawn_file_actions_adddup2(&actions, errors_, 2);
        posix_spawnattr_t attrs;
        posix_spawnattr_init(&attrs);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attrs, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigdefault(&attrs, &defaults);
        posix_spawnattr_setflags(&attrs, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        const int rc = posix_spawnp(&pid_, "gs", &actions, &attrs, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attrs);
        close(pipeFds[1]);
        if (rc != 0) {
            pid_ = -1;
            return std::string("Ghostscript cannot be started: ") + std::strerror(rc);
        }
        // The limits apply from here on: Ghostscript spends its first
        // milliseconds starting up, not on the document.
        const rlimit cpu{kCpuSeconds, kCpuSeconds};
        const rlimit memory{kMemoryBytes, kMemoryBytes};
        prlimit(pid_, RLIMIT_CPU, &cpu, nullptr);
        prlimit(pid_, RLIMIT_AS, &memory, nullptr);
        return {};
    }

    int output() const { return out_; }

    // Waits for Ghostscript to end. Returns an empty text when it rendered
    // the whole document, else why not.
    std::string finish()
    {
        if (finished_)
            return result_;
        finished_ = true;
        result_ = waitForExit();
        return result_;
    }

    // Ends Ghostscript at once, if it still runs.
    void stop()
    {
        if (pid_ < 0)
            return;
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    std::string waitForExit()
    {
        if (pid_ < 0)
            return "Ghostscript did not run";
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return {};
        std::string why = "The PDF document cannot be rendered";
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
            why += " (Ghostscript took too long)";
        else if (WIFSIGNALED(status))
            why += " (Ghostscript ended by signal " + std::to_string(WTERMSIG(status)) + ")";
        const std::string said = lastMessage();
        if (!said.empty())
            why += ": " + said;
        return why;
    }

    std::string lastMessage() const
    {
        if (errors_ < 0)
            return {};
        char text[4096];
        const off_t size = lseek(errors_, 0, SEEK_END);
        const off_t from = size > off_t(sizeof text - 1) ? size - off_t(sizeof text - 1) : 0;
        const ssize_t n = pread(errors_, text, sizeof text - 1, from);
        if (n <= 0)
            return {};
        std::string all(text, static_cast<size_t>(n));
        while (!all.empty() && (all.back() == '\n' || all.back() == ' '))
            all.pop_back();
        const size_t line = all.rfind('\n');
        return line == std::string::npos ? all : all.substr(line + 1);
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int errors_ = -1;
    bool finished_ = false;
    std::string result_;
};

// The rendered pages; at their end, whether Ghostscript rendered the whole
// document: a document it gave up on is a page that cannot be printed.
class RenderedPages final : public PageSource {
public:
    // `raster` null: Ghostscript wrote nothing that reads as a raster.
    RenderedPages(Renderer& renderer, CupsRasterPageSource* raster)
        : renderer_(renderer), raster_(raster)
    {
    }
    Next nextPage(cups_page_header2_t& header, std::string& refusal) override
    {
        const Next next = raster_ ? raster_->nextPage(header, refusal) : Next::End;
        if (next == Next::Page)
            return next;
        // The raster has ended, or broke off: Ghostscript has ended too, and
        // its own reason comes first.
        const std::string why = renderer_.finish();
        if (!why.empty()) {
            refusal = why;
            return Next::Refused;
        }
        return next;
    }
    bool readLine(uint8_t* line, unsigned bytes) override
    {
        return raster_ && raster_->readLine(line, bytes);
    }

private:
    Renderer& renderer_;
    CupsRasterPageSource* raster_;
};

}  // namespace

bool printPdf(pappl_job_t* job, pappl_device_t* device, void* /*data*/)
{
    std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(
        papplJobCreatePrintOptions(job, 0, false));
    if (!options)
        return false;
    std::unique_ptr<DriverJob> driverJob = DriverJob::create(job, *options, device);
    if (!driverJob)
        return false;

    // The page of the job's media, as the framework sizes its own rasters.
    const auto width = static_cast<unsigned>(options->media.size_width) * kResolution / 2540;
    const auto height = static_cast<unsigned>(options->media.size_length) * kResolution / 2540;
    Renderer renderer;
    const char* file = papplJobGetFilename(job);
    const std::string failed = renderer.start(file ? file : "", width, height);
    if (!failed.empty()) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", failed.c_str());
        papplJobSetMessage(job, "%s", failed.c_str());
        return false;
    }
    RasterFileReader reader(renderer.output());
    std::unique_ptr<cups_raster_t, RasterDeleter> ras(reader.open());
    CupsRasterPageSource raster(ras.get(), &reader);
    RenderedPages pages(renderer, ras ? &raster : nullptr);
    const bool printed = driverJob->printFrom(pages);
    // A cancelled or failed job leaves Ghostscript nothing more to do.
    renderer.stop();
    return printed;
}

}  // namespace rvt::app

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "sim_run.h"

#include "halftone.h"
#include "image_files.h"
#include "job_settings.h"
#include "log.h"
#include "page_buffer.h"
#include "transforms.h"
#include "zoom.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace rvtsim::test {

namespace fs = std::filesystem;

std::vector<std::string> SimRun::kinds() const
{
    std::vector<std::string> out;
    for (const auto& e : transcript.at("elements"))
        out.push_back(e.at("kind").get<std::string>());
    return out;
}

std::vector<Bitmap> SimRun::pages() const
{
    std::vector<Bitmap> out;
    for (const auto& p : transcript.at("pages")) {
        Bitmap b;
        if (p.contains("pbm"))
            readPbm((fs::path(outDir) / p.at("pbm").get<std::string>()).string(), b);
        out.push_back(std::move(b));
    }
    return out;
}

std::string SimRun::jobHeaderText() const
{
    for (const auto& e : transcript.at("elements"))
        if (e.at("kind") == "job_header")
            return e.at("text").get<std::string>();
    return {};
}

bool SimRun::filterExitedZero() const
{
    const auto& f = transcript.at("filter");
    return f.at("exit_status") == 0 && f.at("timed_out") == false;
}

namespace {

fs::path scratchRoot()
{
    return fs::temp_directory_path() / ("rvt-integration-" + std::to_string(getpid()));
}

// The tests' files stay for a look when something failed.
class ScratchCleanup : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (::testing::UnitTest::GetInstance()->Passed()) {
            std::error_code ec;
            fs::remove_all(scratchRoot(), ec);
        }
    }
};

[[maybe_unused]] auto* const kCleanup = ::testing::AddGlobalTestEnvironment(new ScratchCleanup);

}  // namespace

std::string scratchDir(const std::string& name)
{
    fs::path dir = scratchRoot() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

SimRun runSim(const std::string& raster, const std::string& outDir, const std::string& options,
              const std::vector<std::string>& simArgs, const std::string& copies)
{
    std::vector<std::string> args = {
        RVT_SIM, "--filter",  RVT_FILTER, "--ppd",    RVT_PPD, "--raster", raster, "--out",
        outDir,  "--options", options,    "--copies", copies,  "--job",    "42",   "--no-preview"};
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    SimRun run;
    run.outDir = outDir;
    pid_t pid = fork();
    if (pid == 0) {
        // The summary line goes to the test's log.
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(fs::path(outDir) / "transcript.json");
    if (in)
        run.transcript = nlohmann::json::parse(in);
    return run;
}

Bitmap expectedPage(const PagePattern& pattern, int pageNumber, int isDuplex, double ratio,
                    int darkness)
{
    const int32_t w = pattern.width, h = pattern.height;
    const size_t n = size_t(w) * size_t(h);
    std::vector<uint8_t> gray = makeGrayPage(pattern);
    FILE* sink = std::fopen("/dev/null", "w");
    rvt::Log log(sink);
    rvt::JobSettings job;
    job.isDuplex = isDuplex;

    rvt::PageBuffer raw = rvt::allocatePage(n);
    std::memcpy(raw.get(), gray.data(), n);
    rvt::PageBuffer scaled = rvt::allocatePage(n);
    rvt::zoomGrayPage(std::move(raw), scaled.get(), w, h, ratio, job, log);
    rvt::PageBuffer turned = rvt::allocatePage(n);
    if (isDuplex == 2 && pageNumber % 2 == 0)
        rvt::mirrorGrayPage1(std::move(scaled), turned.get(), w, h, job, log);
    else
        rvt::mirrorGrayPage(std::move(scaled), turned.get(), w, h, job, log);
    rvt::PageBuffer bits = rvt::halftone(std::move(turned), w, h, darkness, log);
    std::fclose(sink);

    Bitmap b;
    b.width = static_cast<uint32_t>(w);
    b.height = static_cast<uint32_t>(h);
    b.bits.assign(bits.get(), bits.get() + b.rowBytes() * b.height);
    return b;
}

Bitmap blankPage(int32_t width, int32_t height)
{
    Bitmap b;
    b.width = static_cast<uint32_t>(width);
    b.height = static_cast<uint32_t>(height);
    b.bits.assign(b.rowBytes() * b.height, 0);
    return b;
}

std::string shape(const SimRun& run)
{
    std::string out;
    std::string last;
    for (const auto& k : run.kinds()) {
        if (k == "data" && last == "data")
            continue;
        out += (out.empty() ? "" : " ") + (k == "data" ? std::string("data+") : k);
        last = k;
    }
    return out;
}

}  // namespace rvtsim::test

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "e2e_support.h"

#include "image_files.h"

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace rvt::e2e {

std::vector<int> PrintedJob::ids() const
{
    std::vector<int> v;
    for (const auto& l : looks)
        v.push_back(l.blank ? 0 : l.id);
    return v;
}

std::vector<std::string> PrintedJob::kinds() const
{
    std::vector<std::string> v;
    if (transcript.is_object())
        for (const auto& e : transcript.value("elements", json::array()))
            v.push_back(e.value("kind", ""));
    return v;
}

std::string PrintedJob::jobHeaderText() const
{
    if (transcript.is_object())
        for (const auto& e : transcript.value("elements", json::array()))
            if (e.value("kind", "") == "job_header")
                return e.value("text", "");
    return "";
}

std::string readPrintedJob(PrintedJob& p)
{
    p.transcript = nullptr;
    p.pages.clear();
    p.looks.clear();
    p.bitmaps.clear();
    std::ifstream in(p.jobDir / "transcript.json");
    if (!in)
        return "no " + (p.jobDir / "transcript.json").string();
    try {
        in >> p.transcript;
    } catch (const std::exception& e) {
        p.transcript = nullptr;
        return (p.jobDir / "transcript.json").string() + ": " + e.what();
    }
    for (const auto& page : p.transcript.value("pages", json::array())) {
        if (page.value("cancelled", false))
            continue;
        rvtsim::Bitmap bitmap;
        if (!page.contains("pbm") ||
            !rvtsim::readPbm((p.jobDir / page["pbm"].get<std::string>()).string(), bitmap))
            return "page " + page.dump() + " has no readable page file";
        p.pages.push_back(page);
        p.looks.push_back(lookAt(bitmap));
        p.bitmaps.push_back(std::move(bitmap));
    }
    return "";
}

bool keepRequested()
{
    const char* keep = std::getenv("RVT_E2E_KEEP");
    return keep && *keep && std::string(keep) != "0";
}

std::string makeWorkDir(const std::string& prefix, std::string& dir)
{
    if (geteuid() != 0)
        return "skip: the private scheduler needs root (run the tests with sudo)";
    std::string templ = "/tmp/" + prefix + ".XXXXXX";
    if (!mkdtemp(templ.data()))
        return "cannot make a work directory";
    chmod(templ.c_str(), 0755);
    dir = templ;
    return "";
}

void removeWorkDir(const std::string& dir)
{
    if (!dir.empty() && !keepRequested()) {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
}

bool waitForLogLine(const Scheduler& scheduler, int jobId, const std::string& text,
                    std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (const auto& line : scheduler.jobLog(jobId))
            if (line.find(text) != std::string::npos)
                return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::vector<std::string> filterLeftovers(const Scheduler& scheduler)
{
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(scheduler.tempDir()))
        if (e.path().filename().string().rfind("rvt4410lw-", 0) == 0)
            left.push_back(e.path().filename().string());
    return left;
}

}  // namespace rvt::e2e

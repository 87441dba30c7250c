// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Four clients send sixteen jobs each at the same time to one printer. Every
// job's pages are its own (a size no other job has, a pattern per client),
// so a job that took another's lines, or two jobs mixed on the stream, shows.

#include "app_support.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <thread>

namespace rvt::apptest {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr int kClients = 4;
constexpr int kJobsPerClient = 16;

struct JobPlan {
    std::string raster;
    unsigned width = 0;  // of every page: the job's mark on the stream
    int pages = 0;
    int id = -1;  // the server's job id
    std::string error;
};

TEST(Concurrency, ManyClientsAtOnce)
{
    WorkDir work("rvt-app-many");
    const auto& dir = work.path();
    Simulator sim;
    ASSERT_EQ(sim.start(dir / "printer", {}), "");
    AppServer server;
    ASSERT_EQ(server.start(dir), "");
    ASSERT_EQ(server.addPrinter("rvt", sim.uri()), "");

    static const char* const kKinds[kClients] = {"text", "noise", "hgradient", "vgradient"};
    std::vector<JobPlan> plans;
    for (int c = 0; c < kClients; ++c)
        for (int j = 0; j < kJobsPerClient; ++j) {
            JobPlan p;
            const int n = c * kJobsPerClient + j;
            p.width = 160 + 16 * unsigned(n);
            p.pages = 1 + j % 2;
            std::vector<GrayPage> pages;
            for (int k = 0; k < p.pages; ++k) {
                std::string pattern = kKinds[c];
                pattern += ':';
                pattern += std::to_string(p.width);
                pattern += 'x';
                pattern += std::to_string(120 + 40 * k + 10 * c);
                pattern += ':';
                pattern += std::to_string(n * 2 + k + 1);
                pages.push_back(patternPage(pattern));
            }
            p.raster = (dir / ("job-" + std::to_string(n) + ".pwg")).string();
            ASSERT_EQ(writeRaster(p.raster, RasterFormat::Pwg, pages), "");
            plans.push_back(std::move(p));
        }

    const IppClient ipp(server.port(), server.printerUri("rvt"));
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            for (int j = 0; j < kJobsPerClient; ++j) {
                JobPlan& p = plans[size_t(c * kJobsPerClient + j)];
                p.id = ipp.printJob(p.raster, "image/pwg-raster", nullptr, p.error, true);
                if (p.id <= 0)
                    break;  // the server is gone or hung: no use going on
            }
        });
    for (auto& t : clients)
        t.join();
    for (const JobPlan& p : plans) {
        ASSERT_GT(p.id, 0) << p.error;
        const JobStatus end = ipp.waitForEnd(p.id, 60s);
        ASSERT_EQ(end.error, "") << "the server no longer answers (job " << p.id
                                 << "); its log: " << (dir / "app.log").string();
        EXPECT_EQ(end.state, IPP_JSTATE_COMPLETED) << "job " << p.id << ": " << end.describe();
    }
    std::printf(
        "64 jobs printed in %lld ms\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
    EXPECT_TRUE(server.running());

    // Each job on the stream once, with its own pages, as the filter prints
    // the same raster.
    ASSERT_EQ(sim.jobCount(), kClients * kJobsPerClient);
    std::map<unsigned, const JobPlan*> byWidth;
    for (const JobPlan& p : plans)
        byWidth[p.width] = &p;
    std::map<unsigned, int> printed;
    for (int n = 1; n <= sim.jobCount(); ++n) {
        SCOPED_TRACE("printer's job " + std::to_string(n));
        const json t = sim.transcript(n, 10s);
        ASSERT_TRUE(t.is_object());
        EXPECT_TRUE(t.value("clean", false)) << t["protocol_errors"].dump();
        const json pages = t.value("pages", json::array());
        ASSERT_FALSE(pages.empty());
        const unsigned width = pages[0].value("declared_width", 0u);
        ASSERT_TRUE(byWidth.count(width)) << "a job of pages no client sent: " << width;
        const JobPlan& plan = *byWidth[width];
        ++printed[width];
        EXPECT_EQ(int(pages.size()), plan.pages);
        const auto filterDir = dir / ("filter-" + std::to_string(width));
        ASSERT_EQ(runFilter(plan.raster, filterDir, ""), "");
        const json expected = json::parse(readFile(filterDir / "transcript.json"), nullptr, false);
        EXPECT_EQ(streamDifference(t, expected), "");
        EXPECT_EQ(comparePages(sim.jobDir(n), t, filterDir, expected), "");
    }
    for (const JobPlan& p : plans)
        EXPECT_EQ(printed[p.width], 1) << "job " << p.id;
    EXPECT_EQ(server.stop(), "");
}

}  // namespace
}  // namespace rvt::apptest

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The simulator with --decode-after: the same job as without it gives the
// same transcript and the same page files, and the pages are decoded only
// after the filter has gone, so nothing holds up the answer to an end of page.
#include "raster_patterns.h"
#include "session.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace rvtsim {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The transcript without the times, which differ from run to run.
json withoutTimes(json t)
{
    for (const char* list : {"elements", "side_channel"})
        for (auto& e : t[list])
            e.erase("time_ms");
    for (const char* key : {"wall_time_ms", "filter", "log", "events", "raster"})
        t.erase(key);
    return t;
}

// Per end of page: the milliseconds until the simulator recorded the next
// thing (element or side-channel request), or until the filter exited.
std::vector<long> eopHolds(const json& t)
{
    std::vector<long> holds;
    for (const auto& e : t["elements"]) {
        if (e["kind"] != "end_of_page")
            continue;
        long next = t["wall_time_ms"].get<long>();
        for (const auto& later : t["elements"])
            if (later["index"] > e["index"])
                next = std::min(next, later["time_ms"].get<long>());
        for (const auto& s : t["side_channel"])
            if (s["after_element"] >= e["index"])
                next = std::min(next, s["time_ms"].get<long>());
        holds.push_back(next - e["time_ms"].get<long>());
    }
    return holds;
}

struct DecodeAfterCase {
    const char* name;
    std::vector<const char*> pages;  // patterns of raster_patterns.h
    const char* options;
    size_t sent;  // pages on the stream (duplex adds a blank back to an odd count)
};

class DecodeAfter : public ::testing::TestWithParam<DecodeAfterCase> {};

TEST_P(DecodeAfter, SameTranscriptAndPagesAndEndOfPageAnsweredAtOnce)
{
    const DecodeAfterCase& c = GetParam();
    const fs::path dir = fs::temp_directory_path() /
                         ("rvt-decode-after-" + std::to_string(getpid()) + "-" + c.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<PagePattern> pages;
    for (const char* d : c.pages) {
        PagePattern p;
        ASSERT_TRUE(parsePattern(d, p)) << d;
        pages.push_back(p);
    }
    const std::string raster = (dir / "job.ras").string();
    ASSERT_EQ(writeRaster(raster, pages), "");

    RunResult runs[2];
    std::chrono::system_clock::time_point started[2];
    for (int after = 0; after < 2; ++after) {
        RunConfig config;
        config.filterPath = RVT_FILTER;
        config.ppd = RVT_PPD;
        config.rasterPath = raster;
        config.outDir = (dir / (after ? "after" : "at-once")).string();
        config.options = c.options;
        config.preview = false;
        config.decodeAfter = after == 1;
        config.script.timeoutSeconds = 60;
        started[after] = std::chrono::system_clock::now();
        runs[after] = runJob(config);
        ASSERT_TRUE(runs[after].clean) << runs[after].summary;
    }
    const json& now = runs[0].transcript;
    const json& later = runs[1].transcript;
    ASSERT_EQ(later["pages"].size(), c.sent);
    EXPECT_EQ(withoutTimes(now), withoutTimes(later));

    for (const auto& page : later["pages"]) {
        for (const char* kind : {"pbm", "png"}) {
            const std::string name = page[kind];
            const std::string a = readFile(dir / "at-once" / name),
                              b = readFile(dir / "after" / name);
            EXPECT_FALSE(b.empty()) << name;
            EXPECT_TRUE(a == b) << name << " differs";
        }
        // Written once the filter had exited: not before its wall time had
        // passed (less a little for the file system's coarse clock).
        struct stat st {};
        ASSERT_EQ(stat((dir / "after" / page["pbm"].get<std::string>()).c_str(), &st), 0);
        const auto written = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(st.st_mtim.tv_sec) +
                std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
        const auto exited = started[1] +
                            std::chrono::milliseconds(later["wall_time_ms"].get<long>());
        EXPECT_GE(written, exited - std::chrono::milliseconds(20)) << page["pbm"];
    }

    // Without the flag the simulator decodes a page before it answers its
    // end; with it the answer goes out at once, and the filter goes on.
    const std::vector<long> holdsNow = eopHolds(now), holdsLater = eopHolds(later);
    ASSERT_EQ(holdsNow.size(), c.sent);
    ASSERT_EQ(holdsLater.size(), c.sent);
    long sumNow = 0, sumLater = 0;
    for (size_t i = 0; i < holdsNow.size(); ++i) {
        sumNow += holdsNow[i];
        sumLater += holdsLater[i];
    }
    EXPECT_LT(sumLater, sumNow) << "holds with the flag " << ::testing::PrintToString(holdsLater)
                                << ", without " << ::testing::PrintToString(holdsNow);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, DecodeAfter,
    ::testing::Values(
        DecodeAfterCase{"simplex",
                        {"text:4960x7016:1", "noise:2480x3508:2", "text:4960x7016:3"},
                        "PageSize=A4 Duplex=None GammaDarkness=darkness0",
                        3},
        DecodeAfterCase{"duplex-odd",
                        {"text:4960x7016:4", "vgradient:4960x7016", "text:4960x7016:5"},
                        "PageSize=A4 Duplex=DuplexNoTumble GammaDarkness=darkness3 MediaType=THICK",
                        4}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (ch == '-')
                ch = '_';
        return n;
    });

}  // namespace
}  // namespace rvtsim

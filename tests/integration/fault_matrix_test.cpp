// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The built filter against a printer and a scheduler that misbehave: refused
// and missing replies, cancel requests, connection and drain failures, a
// backend that goes away, and the termination signal at every phase of a
// job. Whatever happens, the job must end the same sound way: exit status 0,
// nothing after "CancelJob?", never half a command, no page files and no
// processes left, and within a bounded time.
#include "sim_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace rvtsim::test {
namespace {

using nlohmann::json;

struct FaultCase {
    const char* name;
    int pages;  // noise pages, by default of 400 x 300 pixels: four data chunks each
    const char* copies;
    std::vector<std::string> simArgs;
    const char* script;               // JSON script for --script, or null
    std::vector<std::string> shapes;  // the element kinds the stream may have, any of these
    long maxWallMs;                   // the whole run
    const char* pageSize = "400x300";
};

// Milliseconds from the start of the run to the SIGTERM, or -1.
long sigtermAtMs(const json& transcript)
{
    for (const auto& e : transcript["events"])
        if (e["event"].get<std::string>().rfind("SIGTERM sent", 0) == 0)
            return e["time_ms"].get<long>();
    return -1;
}

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrix, EveryJobEndsSoundly)
{
    const FaultCase& c = GetParam();
    const std::string dir = scratchDir(std::string("fault-") + c.name);
    std::vector<PagePattern> pages;
    for (int i = 1; i <= c.pages; ++i) {
        PagePattern p;
        ASSERT_TRUE(parsePattern(std::string("noise:") + c.pageSize + ":" + std::to_string(i), p));
        pages.push_back(p);
    }
    const std::string raster = dir + "/job.ras";
    ASSERT_EQ(writeRaster(raster, pages), "");
    std::vector<std::string> args = c.simArgs;
    if (c.script) {
        std::ofstream(dir + "/script.json") << c.script;
        args.insert(args.end(), {"--script", dir + "/script.json"});
    }
    // Far beyond every bound below: a hang shows as a time-out, not a stuck test.
    args.insert(args.end(), {"--timeout", "60"});

    SimRun run = runSim(raster, dir + "/out", "", args, c.copies);
    ASSERT_FALSE(run.transcript.is_null()) << "no transcript";
    const json& t = run.transcript;
    const std::string got = shape(run);

    // Exit status 0, by itself.
    EXPECT_EQ(t["filter"]["timed_out"], false) << got;
    EXPECT_EQ(t["filter"]["exit_status"], 0) << t["filter"].dump();
    // Never half a command, nothing out of the job's order (a stream that the
    // backend stopped reading is not checked past that point).
    EXPECT_EQ(t["protocol_errors"], json::array()) << got;
    // Nothing after the cancel, and the cancel at most once.
    const auto kinds = run.kinds();
    const auto cancels = std::count(kinds.begin(), kinds.end(), "cancel");
    EXPECT_LE(cancels, 1) << got;
    if (cancels == 1) {
        EXPECT_EQ(kinds.back(), "cancel") << got;
    }
    // No page files and no processes left behind.
    EXPECT_EQ(t["tmpdir_leftovers"], json::array());
    EXPECT_EQ(t["filter"]["processes_left"], false);
    // The run as a whole, and the time a stopped job takes to end.
    // The scripted fault did happen, while the filter was running.
    auto hasArg = [&c](const char* arg) {
        return std::find(c.simArgs.begin(), c.simArgs.end(), arg) != c.simArgs.end();
    };
    const bool wantsSigterm = hasArg("--sigterm") ||
                              (c.script &&
                               std::string(c.script).find("\"sigterm\"") != std::string::npos);
    if (wantsSigterm) {
        EXPECT_TRUE(!t["sigterm"].is_null() && t["sigterm"]["filter_running"] == true) << got;
    }
    if (hasArg("--close-stream")) {
        EXPECT_EQ(t["stream_closed"], true) << got;
    }
    const long wall = t["wall_time_ms"].get<long>();
    EXPECT_LT(wall, c.maxWallMs) << got;
    if (!t["sigterm"].is_null() && t["sigterm"]["filter_running"] == true) {
        // The cancel reaches a backend that still reads the stream.
        if (t["stream_closed"] == false && t["stream_stalled"] == false) {
            EXPECT_EQ(t["sigterm"]["cancel_last"], true) << got;
        }
        const long at = sigtermAtMs(t);
        ASSERT_GE(at, 0);
        EXPECT_LT(wall - at, 6000) << "the job took " << wall - at << " ms to end after SIGTERM";
    }
    EXPECT_TRUE(std::find(c.shapes.begin(), c.shapes.end(), got) != c.shapes.end()) << got;
    if (run.exitStatus == 0) {
        EXPECT_EQ(t["clean"], true);
    } else {
        EXPECT_TRUE(t["stream_closed"] == true || t["stream_stalled"] == true)
            << "the simulator found the run unclean: " << got;
    }
}

const std::string kHead = "lock start_of_job job_header ";
const std::string kPage = "page_header data+ end_of_page ";
const std::string kEnd = "end_of_job unlock";
std::string pagesOf(int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += kPage;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FaultMatrix,
    ::testing::Values(
        // Lock: refused, then granted after 3-second pauses; never answered.
        FaultCase{"LockRefusedOnce",
                  1,
                  "1",
                  {"--lock-replies", "5,2"},
                  nullptr,
                  {"lock " + kHead + pagesOf(1) + kEnd},
                  10000},
        FaultCase{"LockRefusedFiveTimes",
                  1,
                  "1",
                  {"--lock-replies", "5,5,5,5,5,2"},
                  nullptr,
                  {"lock lock lock lock lock " + kHead + pagesOf(1) + kEnd},
                  25000},
        FaultCase{"LockUnansweredThenSigterm",
                  1,
                  "1",
                  {"--lock-replies", "-", "--sigterm", "lock:2"},
                  nullptr,
                  {"lock lock cancel"},
                  20000},
        // End of page: no reply (the job goes on), reply 4 to the first and the last page.
        FaultCase{"EndOfPageUnanswered",
                  2,
                  "1",
                  {"--eop-reply", "1=-"},
                  nullptr,
                  {kHead + pagesOf(2) + kEnd},
                  12000},
        FaultCase{"EndOfPageReply4ToPage1Of3",
                  3,
                  "1",
                  {"--eop-reply", "1=4"},
                  nullptr,
                  {kHead + pagesOf(1) + "cancel"},
                  6000},
        FaultCase{"EndOfPageReply4ToPage3Of3",
                  3,
                  "1",
                  {"--eop-reply", "3=4"},
                  nullptr,
                  {kHead + pagesOf(3) + "cancel"},
                  6000},
        // Connection: no response and I/O error cancel before the lock; time-outs are waited out.
        FaultCase{"ConnectionNoResponse", 1, "1", {"--connected", "4"}, nullptr, {"cancel"}, 6000},
        FaultCase{"ConnectionIoError", 1, "1", {"--connected", "2"}, nullptr, {"cancel"}, 6000},
        FaultCase{"ConnectionTimeoutsThenOk",
                  1,
                  "1",
                  {"--connected", "3,3,1"},
                  nullptr,
                  {kHead + pagesOf(1) + kEnd},
                  8000},
        // Drain: every request timed out, answered too late for the first two, or
        // never answered (each request waits out its second).
        FaultCase{"DrainTimeouts",
                  2,
                  "1",
                  {},
                  R"({"drain_status": [3]})",
                  {kHead + pagesOf(2) + kEnd},
                  8000},
        FaultCase{"DrainAnsweredLate",
                  1,
                  "1",
                  {},
                  R"({"drain_delay_ms": [1500, 1500, 0]})",
                  {kHead + pagesOf(1) + kEnd},
                  12000},
        FaultCase{"DrainNeverAnsweredThenSigterm",
                  1,
                  "1",
                  {},
                  R"({"drain_delay_ms": [100000], "sigterm": {"page": 1, "chunk": 2}})",
                  {kHead + "page_header data+ cancel"},
                  12000},
        // The backend goes away (the filter's writes fail with EPIPE).
        FaultCase{"BackendGoneAfterFirstChunk",
                  2,
                  "1",
                  {"--close-stream", "chunk:1:1"},
                  nullptr,
                  {kHead + "page_header data+"},
                  6000},
        FaultCase{"BackendGoneMidSecondPage",
                  2,
                  "1",
                  {"--close-stream", "chunk:2:2"},
                  nullptr,
                  {kHead + pagesOf(1) + "page_header data+"},
                  6000},
        // The backend stops reading (the print stream fills up), then SIGTERM: the
        // filter must not wait for the stream for ever.
        FaultCase{"SigtermWhileBackendStalled",
                  1,
                  "1",
                  {},
                  R"({"stall_stream": {"page": 1, "chunk": 1}, "sigterm": {"after_ms": 1500}})",
                  {kHead + "page_header data+"},
                  10000,
                  "1600x1200"},
        // SIGTERM at every phase of the job.
        FaultCase{"SigtermConnectionWait",
                  1,
                  "1",
                  {"--connected", "3", "--sigterm", "connected:2"},
                  nullptr,
                  {"cancel"},
                  8000},
        FaultCase{"SigtermLockWait",
                  1,
                  "1",
                  {"--lock-replies", "5", "--sigterm", "lock:1"},
                  nullptr,
                  {"lock cancel"},
                  8000},
        FaultCase{"SigtermAfterJobHeader",
                  1,
                  "1",
                  {"--sigterm", "job_header:1"},
                  nullptr,
                  {kHead + "cancel"},
                  6000},
        FaultCase{"SigtermMidChunks",
                  2,
                  "1",
                  {"--sigterm", "chunk:1:2"},
                  nullptr,
                  {kHead + "page_header data+ cancel"},
                  6000},
        FaultCase{"SigtermMidChunksCancelUnanswered",
                  2,
                  "1",
                  {"--sigterm", "chunk:1:2"},
                  R"({"replies": {"cancel": null}})",
                  {kHead + "page_header data+ cancel"},
                  8000},
        FaultCase{"SigtermEndOfPageWait",
                  2,
                  "1",
                  {"--eop-reply", "1=-", "--sigterm", "end_of_page:1"},
                  nullptr,
                  {kHead + pagesOf(1) + "cancel"},
                  8000},
        FaultCase{"SigtermDuringCopies",
                  2,
                  "2",
                  {"--sigterm", "chunk:3:1"},
                  nullptr,
                  {kHead + pagesOf(2) + "page_header data+ cancel"},
                  6000},
        FaultCase{"SigtermUnlockWait",
                  1,
                  "1",
                  {"--unlock-replies", "5", "--sigterm", "unlock:1"},
                  nullptr,
                  {kHead + pagesOf(1) + kEnd + " cancel"},
                  8000},
        FaultCase{"SigtermUnlockUnanswered",
                  1,
                  "1",
                  {"--unlock-replies", "-", "--sigterm", "unlock:1"},
                  nullptr,
                  {kHead + pagesOf(1) + kEnd + " cancel"},
                  8000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rvtsim::test

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// End-to-end printing: real documents through a private CUPS scheduler, the
// standard conversion filters, the project's filter and the simulator backend,
// which plays the printer and records what it received.
#include "compiler_quirks.h"
#include "e2e_support.h"
#include "image_files.h"

#include <cups/cups.h>
// The PPD interface is the one to read a PPD file by itself, deprecated as
// it is in favour of the destination API.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

namespace rvt::e2e {
namespace {

constexpr auto kJobTimeout = 90s;

using Printed = PrintedJob;

class PrintThroughCups : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setupError_ = makeWorkDir("rvt-e2e", work_);
        if (!setupError_.empty())
            return;
        setupError_ = scheduler_.start(RVT_SOURCE_DIR "/scripts/cupsd-private.sh", RVT_BIN_DIR);
    }

    static void TearDownTestSuite()
    {
        scheduler_.stop();
        removeWorkDir(work_);
    }

    void SetUp() override
    {
        if (setupError_.rfind("skip:", 0) == 0)
            GTEST_SKIP() << setupError_;
        ASSERT_EQ(setupError_, "");
    }

    // A queue on the simulator backend with its own output directory;
    // `script` adds the printer's behaviour to the device URI.
    static std::string addQueue(const std::string& name, const std::string& script = "")
    {
        fs::path out = fs::path(work_) / ("out-" + name);
        fs::create_directories(out);
        // The backend runs as root and writes as root only into a directory
        // no one else may write to: whatever the umask, 0755.
        fs::permissions(out, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
        std::string uri = "rvtsim:" + out.string() + (script.empty() ? "" : "?" + script);
        return scheduler_.addQueue(name, uri, ppd());
    }

    // The driver's PPD; RVT_E2E_PPD names another one to try.
    static std::string ppd()
    {
        const char* other = std::getenv("RVT_E2E_PPD");
        return other && *other ? other : RVT_PPD;
    }

    // The sheet of a PageSize choice in points, as the PPD gives it.
    static std::pair<double, double> sheetPoints(const std::string& choice)
    {
        std::pair<double, double> pt{0, 0};
        if (ppd_file_t* file = ppdOpenFile(ppd().c_str())) {
            if (ppd_size_t* size = ppdPageSize(file, choice.c_str()))
                pt = {size->width, size->length};
            ppdClose(file);
        }
        EXPECT_NE(pt.first, 0) << "no page size " << choice << " in " << ppd();
        return pt;
    }
    // The same in pixels at 600 dpi.
    static std::pair<uint32_t, uint32_t> sheetPixels(const std::string& choice)
    {
        auto [w, h] = sheetPoints(choice);
        return {static_cast<uint32_t>(std::lround(w * 600 / 72)),
                static_cast<uint32_t>(std::lround(h * 600 / 72))};
    }

    // A test document (".ps" or ".pdf") whose pages carry these numbers,
    // made once: A4 as documents have it, or the size of a PageSize choice
    // of the PPD.
    static std::string document(const std::vector<int>& ids, const std::string& ext,
                                const std::string& sheet = "")
    {
        std::string name = "doc" + (sheet.empty() ? "" : "-" + sheet);
        RVT_GCC12_FALSE_POSITIVE_BEGIN("-Wrestrict")  // GCC bug 105651
        for (int id : ids)
            name += "-" + std::to_string(id);
        RVT_GCC12_FALSE_POSITIVE_END
        std::string path = work_ + "/" + name + ext;
        if (!fs::exists(path)) {
            std::string err;
            if (sheet.empty()) {
                err = writeTestDocument(path, ids);
            } else {
                auto [w, h] = sheetPoints(sheet);
                err = writeTestDocument(path, ids, w, h);
            }
            EXPECT_EQ(err, "") << path;
        }
        return path;
    }

    static int submit(const std::string& queue, const std::string& doc,
                      const std::vector<std::string>& options, int copies = 0)
    {
        std::string error;
        int id = scheduler_.submit(queue, doc, options, copies, error);
        EXPECT_GT(id, 0) << error;
        return id;
    }

    // Waits for the job to end and reads what the printer received.
    static Printed finish(const std::string& queue, int jobId)
    {
        Printed p;
        p.jobId = jobId;
        p.state = scheduler_.waitForEnd(jobId, queue, kJobTimeout);
        std::string where = "job " + std::to_string(jobId) + " on " + queue + ": state " +
                            std::to_string(p.state.state) + " [" + p.state.reasons + "], printer " +
                            p.state.printerState + "\n";
        if (p.state.state <= IPP_JSTATE_STOPPED) {
            p.failure = where + "the job did not end\n" + scheduler_.logTail(jobId);
            return p;
        }
        p.jobDir = fs::path(work_) / ("out-" + queue) / ("job-" + std::to_string(jobId));
        if (std::string error = readPrintedJob(p); !error.empty())
            p.failure = where + error + "\n" + scheduler_.logTail(jobId);
        return p;
    }

    // The job completed and the printer found nothing wrong in the stream.
    static void expectClean(const Printed& p)
    {
        ASSERT_TRUE(p.failure.empty()) << p.failure;
        EXPECT_EQ(p.state.state, IPP_JSTATE_COMPLETED) << p.state.reasons << "\n"
                                                       << scheduler_.logTail(p.jobId);
        EXPECT_EQ(p.transcript.value("protocol_errors", json::array()), json::array())
            << scheduler_.logTail(p.jobId);
        for (const auto& page : p.pages)
            EXPECT_EQ(page.value("faults", json::array()), json::array()) << page.dump();
    }

    // The filter's arguments as the scheduler logged them.
    static std::string filterArgument(int jobId, int n)
    {
        const std::string key = "argv[" + std::to_string(n) + "]=\"";
        for (const auto& line : scheduler_.jobLog(jobId)) {
            // Every filter of the chain gets the same arguments.
            size_t at = line.find(key);
            if (at != std::string::npos) {
                std::string v = line.substr(at + key.size());
                return v.substr(0, v.rfind('"'));
            }
        }
        return "(not logged)";
    }

    static inline Scheduler scheduler_;
    static inline std::string work_;
    static inline std::string setupError_;
};

struct OptionCase {
    std::string queue;
    std::vector<std::string> options;
    int copies;
    std::map<std::string, std::string> jobHeader;  // "" = the field must be absent
    std::string pageSize, mediaSize;
};

TEST_F(PrintThroughCups, JobOptionsReachTheJobAndPageHeaders)
{
    const std::vector<OptionCase> cases = {
        {"opt-a4",
         {"PageSize=A4", "MediaType=THICK", "InputSlot=TRAY1", "Duplex=None"},
         0,
         {{"MediaType", "Thick"},
          {"Sides", "OneSided"},
          {"Copies", "1"},
          {"MediaInputTrayCheck", "cassette"}},
         "A4",
         "na_a4_210x297mm"},
        {"opt-a5",
         {"PageSize=A5", "MediaType=THIN", "InputSlot=MPTRAY", "Duplex=DuplexTumble"},
         0,
         {{"MediaType", "Narrow"},
          {"Sides", "TwoSidedShortEdge"},
          {"Copies", "1"},
          {"MediaInputTrayCheck", "manual"}},
         "A5",
         "na_a5_148x210mm"},
        {"opt-letter",
         {"PageSize=Letter", "MediaType=Card", "InputSlot=TRAY2", "collate=false"},
         3,
         {{"MediaType", "card"},
          {"Sides", "OneSided"},
          {"Copies", "3"},
          {"MediaInputTrayCheck", ""}},
         "Letter",
         "na_LETTER_216x279mm"},
    };
    const std::string doc = document({1}, ".pdf");
    std::vector<int> jobs;
    for (const auto& c : cases) {
        ASSERT_EQ(addQueue(c.queue), "");
        jobs.push_back(submit(c.queue, doc, c.options, c.copies));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        const OptionCase& c = cases[i];
        SCOPED_TRACE(c.queue);
        Printed p = finish(c.queue, jobs[i]);
        expectClean(p);
        ASSERT_FALSE(p.pages.empty());
        for (const auto& page : p.pages) {
            const json& header = page["job_header"];
            EXPECT_EQ(header.value("Resolution", ""), "600x600");
            for (const auto& [field, value] : c.jobHeader) {
                if (value.empty())
                    EXPECT_FALSE(header.contains(field)) << header.dump();
                else
                    EXPECT_EQ(header.value(field, "(absent)"), value) << field;
            }
            EXPECT_EQ(page.value("media_size", ""), c.mediaSize);
            // The raster covers the whole sheet, to the pixel.
            auto [width, height] = sheetPixels(c.pageSize);
            EXPECT_EQ(page.value("width", 0u), width);
            EXPECT_EQ(page.value("height", 0u), height);
            EXPECT_EQ(page.value("declared_width", 0), (page.value("width", 0) + 7) / 8 * 8);
        }
        // The filter's own log lines reach the scheduler's log, and say what
        // the printer received.
        const std::string headerLine = "[RVT4410LW]send job header info : " + p.jobHeaderText();
        bool logged = false;
        for (const auto& line : scheduler_.jobLog(p.jobId))
            logged = logged || line.find(headerLine) != std::string::npos;
        EXPECT_TRUE(logged) << "no \"" << headerLine << "\" in\n" << scheduler_.logTail(p.jobId);
    }
}

struct SheetCase {
    std::string queue, ext, pageSize;
};

TEST_F(PrintThroughCups, PagesArriveAsWholeSheetsMirrored)
{
    // An A4 document as documents have it (210 x 297 mm), in both formats;
    // for the other sheets a document of the sheet's own size.
    const std::vector<SheetCase> cases = {
        {"sheet-a4-pdf", ".pdf", "A4"},     {"sheet-a4-ps", ".ps", "A4"},
        {"sheet-a5", ".pdf", "A5"},         {"sheet-a6", ".pdf", "A6"},
        {"sheet-b5", ".pdf", "B5"},         {"sheet-b6", ".pdf", "B6"},
        {"sheet-16k", ".pdf", "16K"},       {"sheet-32k", ".pdf", "32K"},
        {"sheet-letter", ".pdf", "Letter"}, {"sheet-85x170", ".pdf", "85x170mm"},
    };
    std::vector<int> jobs;
    for (const auto& c : cases) {
        ASSERT_EQ(addQueue(c.queue), "");
        std::string doc = document({1}, c.ext, c.pageSize == "A4" ? "" : c.pageSize);
        jobs.push_back(submit(c.queue, doc, {"PageSize=" + c.pageSize}));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        const SheetCase& c = cases[i];
        SCOPED_TRACE(c.queue);
        Printed p = finish(c.queue, jobs[i]);
        expectClean(p);
        ASSERT_EQ(p.pages.size(), 1u);
        // The raster is the sheet, pixel for pixel (A4: 4960 x 7016).
        auto [width, height] = sheetPixels(c.pageSize);
        EXPECT_EQ(p.bitmaps[0].width, width);
        EXPECT_EQ(p.bitmaps[0].height, height);
        EXPECT_EQ(p.pages[0].value("declared_width", 0u), (width + 7) / 8 * 8);
        EXPECT_EQ(p.pages[0].value("declared_height", 0u), height);
        // No margin anywhere: the squares in the sheet's corners reach its
        // edges. A4 arrives exactly in place. Ghostscript places a page by its
        // height rounded to whole points, so a sheet whose height in points
        // is not whole (a whole number of pixels is not, mostly) may arrive
        // shifted up or down by up to half a point: 4 rows at most.
        const PageLook& look = p.looks[0];
        if (c.pageSize == "A4") {
            EXPECT_TRUE(look.cornersBlack) << look.gaps();
        } else {
            EXPECT_EQ(look.left, 0) << look.gaps();
            EXPECT_EQ(look.right, 0) << look.gaps();
            EXPECT_LE(look.top + look.bottom, 4) << look.gaps();
            EXPECT_EQ(look.top == 0 || look.bottom == 0, true) << look.gaps();
        }
        // The printer prints the page as it comes, so it comes mirrored.
        EXPECT_EQ(cornerName(p.looks[0].mark), cornerName(Corner::TopRight));
        EXPECT_EQ(p.looks[0].id, 1);
    }
}

TEST_F(PrintThroughCups, TwoSidedJobSendsBackPagesFirstAndABlankLastBack)
{
    ASSERT_EQ(addQueue("duplex"), "");
    int job = submit("duplex", document({1, 2, 3}, ".pdf"), {"Duplex=DuplexNoTumble"});
    Printed p = finish("duplex", job);
    expectClean(p);
    EXPECT_EQ(p.ids(), (std::vector<int>{2, 1, 0, 3}));
    ASSERT_EQ(p.looks.size(), 4u);
    // Long-edge binding: back pages are turned top to bottom, fronts mirrored.
    EXPECT_EQ(cornerName(p.looks[0].mark), cornerName(Corner::BottomLeft));
    EXPECT_EQ(cornerName(p.looks[1].mark), cornerName(Corner::TopRight));
    EXPECT_TRUE(p.looks[2].blank);
    EXPECT_EQ(cornerName(p.looks[3].mark), cornerName(Corner::TopRight));
    for (const auto& page : p.pages)
        EXPECT_EQ(page["job_header"].value("Sides", ""), "TwoSidedLongEdge");
}

struct CopiesCase {
    std::string queue;
    std::vector<std::string> options;
    std::vector<int> ids;  // pages on the stream
    std::string copiesField;
};

TEST_F(PrintThroughCups, CopiesAndCollationAreCountedOnce)
{
    // Two copies of three pages: either the filter repeats the pages (and the
    // printer is told one copy) or the printer is told two copies; never both,
    // and the conversion filters never repeat them on their own.
    const std::vector<CopiesCase> cases = {
        {"copies-collate", {"collate=true"}, {1, 2, 3, 1, 2, 3}, "1"},
        {"copies-uncollated", {"collate=false"}, {1, 2, 3}, "2"},
        {"copies-default", {}, {1, 2, 3, 1, 2, 3}, "1"},
    };
    const std::string doc = document({1, 2, 3}, ".pdf");
    std::vector<int> jobs;
    for (const auto& c : cases) {
        ASSERT_EQ(addQueue(c.queue), "");
        jobs.push_back(submit(c.queue, doc, c.options, 2));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        const CopiesCase& c = cases[i];
        SCOPED_TRACE(c.queue);
        Printed p = finish(c.queue, jobs[i]);
        expectClean(p);
        EXPECT_EQ(p.ids(), c.ids);
        EXPECT_EQ(filterArgument(p.jobId, 4), "2");
        for (const auto& page : p.pages)
            EXPECT_EQ(page["job_header"].value("Copies", ""), c.copiesField);
    }
}

TEST_F(PrintThroughCups, CancelOfARunningJobEndsWithCancelJobAndLeavesNothing)
{
    // A slow printer: each end of page is answered after 2 s.
    ASSERT_EQ(addQueue("cancel", "reply-delay=end_of_page=2000"), "");
    int job = submit("cancel", document({1, 2, 3, 4}, ".pdf"), {});
    // Cancel once the first page is on its way.
    ASSERT_TRUE(waitForLogLine(scheduler_, job, "Event=EndOfPage;", 60s))
        << scheduler_.logTail(job);
    CommandResult r = runCommand({"cancel", std::to_string(job)});
    ASSERT_EQ(r.status, 0) << r.output;

    Printed p = finish("cancel", job);
    ASSERT_TRUE(p.failure.empty()) << p.failure;
    EXPECT_EQ(p.state.state, IPP_JSTATE_CANCELED) << scheduler_.logTail(job);
    std::vector<std::string> kinds = p.kinds();
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.back(), "cancel") << p.transcript["elements"].back().dump();
    EXPECT_LT(p.pages.size(), 4u);
    EXPECT_EQ(p.transcript.value("protocol_errors", json::array()), json::array());

    // Every program the scheduler started for the job has ended.
    int programs = 0;
    for (const auto& line : scheduler_.jobLog(job)) {
        std::string path, pid;
        if (!startedProgram(line, path, pid))
            continue;
        ++programs;
        // A process of that id running that program (argv[0] is the queue's
        // name, so the executable tells). A zombie has no executable.
        std::error_code ec, ec2;
        fs::path exe = fs::read_symlink("/proc/" + pid + "/exe", ec);
        fs::path program = fs::canonical(path, ec2);
        EXPECT_TRUE(ec || ec2 || exe != program) << "still running: " << line;
    }
    EXPECT_GE(programs, 2) << scheduler_.logTail(job);

    // The filter's page files lived in a directory of its own in the
    // scheduler's TempDir; nothing of it is left. (Ghostscript, stopped in
    // the middle of a page, may leave a gs_* file of its own there.)
    EXPECT_EQ(filterLeftovers(scheduler_), std::vector<std::string>{});
}

TEST_F(PrintThroughCups, TwoQueuesPrintingAtOnceNeverMixPages)
{
    // Both printers slow enough that the two jobs certainly overlap.
    ASSERT_EQ(addQueue("pair-a", "reply-delay=end_of_page=500"), "");
    ASSERT_EQ(addQueue("pair-b", "reply-delay=end_of_page=500"), "");
    int a = submit("pair-a", document({1, 2, 3}, ".ps"), {});
    int b = submit("pair-b", document({5, 6, 7}, ".pdf"), {});
    Printed pa = finish("pair-a", a);
    Printed pb = finish("pair-b", b);
    expectClean(pa);
    expectClean(pb);
    EXPECT_EQ(pa.ids(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(pb.ids(), (std::vector<int>{5, 6, 7}));
    // Each backend started before the other job completed.
    auto when = [](int job, const std::string& what) {
        for (const auto& line : scheduler_.jobLog(job))
            if (line.find(what) != std::string::npos)
                return line.substr(line.find('['), line.find(']') - line.find('['));
        return std::string("(no \"") + what + "\")";
    };
    EXPECT_LE(when(b, "Started backend"), when(a, "Job completed"));
    EXPECT_LE(when(a, "Started backend"), when(b, "Job completed"));
}

TEST_F(PrintThroughCups, ABackendThatFailsAtStartStopsTheQueueAndKeepsTheJob)
{
    // A device URI the backend refuses: it ends at once and asks the
    // scheduler to stop the queue, which the scheduler does once the job's
    // filters have ended too. The job is kept for when the queue is fixed.
    // The filter must not wait for the gone printer forever.
    ASSERT_EQ(addQueue("broken", "no-such-setting=1"), "");
    int job = submit("broken", document({1}, ".pdf"), {});
    JobState s = scheduler_.waitForEnd(job, "broken", 30s);
    std::string backendEnd = "(no line on the backend's end)";
    for (const auto& line : scheduler_.jobLog(job))
        if (line.find("/backend/rvtsim) ") != std::string::npos)
            backendEnd = line;
    EXPECT_EQ(s.printerState.rfind("stopped", 0), 0u)
        << "printer " << s.printerState << ", job state " << s.state << " [" << s.reasons << "]\n  "
        << backendEnd << "\n"
        << scheduler_.logTail(job, 6);
    EXPECT_LE(s.state, IPP_JSTATE_STOPPED) << s.reasons;

    CommandResult r = runCommand({"cancel", std::to_string(job)});
    EXPECT_EQ(r.status, 0) << r.output;
    s = scheduler_.waitForEnd(job, "broken", 20s);
    EXPECT_EQ(s.state, IPP_JSTATE_CANCELED) << s.reasons;
    EXPECT_TRUE(scheduler_.programsEnded(job)) << scheduler_.logTail(job, 6);
}

}  // namespace
}  // namespace rvt::e2e

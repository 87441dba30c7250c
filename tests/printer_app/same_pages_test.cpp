// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The application prints what the filter prints: the same three A4 pages,
// sent as PWG raster and as URF with a job's IPP settings, give the printer
// the same stream and the same pages as the filter given the pages with the
// equivalent queue options.

#include "app_support.h"

#include <cups/raster.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>

namespace rvt::apptest {
namespace {

using nlohmann::json;

struct Case {
    const char* name;
    const char* sides;
    int copies;
    const char* documentHandling;  // multiple-document-handling, or null
    std::optional<int> darkness;   // print-darkness
    std::optional<int> scale;      // rvt-scale
    const char* filterOptions;     // the queue's options for the same job
};

const Case kCases[] = {
    {"Simplex", "one-sided", 1, nullptr, {}, {}, "Duplex=None"},
    {"LongEdge", "two-sided-long-edge", 1, nullptr, {}, {}, "Duplex=DuplexNoTumble"},
    {"ShortEdge", "two-sided-short-edge", 1, nullptr, {}, {}, "Duplex=DuplexTumble"},
    {"Darkness0", "one-sided", 1, nullptr, 0, {}, "GammaDarkness=darkness0"},
    {"Darkness1", "one-sided", 1, nullptr, 20, {}, "GammaDarkness=darkness1"},
    {"Darkness2", "one-sided", 1, nullptr, 40, {}, "GammaDarkness=darkness2"},
    {"Darkness3", "one-sided", 1, nullptr, 60, {}, "GammaDarkness=darkness3"},
    {"Darkness4", "one-sided", 1, nullptr, 80, {}, "GammaDarkness=darkness4"},
    {"Darkness5", "one-sided", 1, nullptr, 100, {}, "GammaDarkness=darkness5"},
    {"Scale80", "one-sided", 1, nullptr, {}, 80, "RVTLScale=80%"},
    {"CollatedCopies",
     "one-sided",
     2,
     "separate-documents-collated-copies",
     {},
     {},
     "Collate=True"},
    {"UncollatedCopies",
     "one-sided",
     2,
     "separate-documents-uncollated-copies",
     {},
     {},
     "Collate=False"},
};

// A white A4 page at 600 dpi, as the page header of the media gives it.
GrayPage a4Page()
{
    cups_page_header2_t h;
    cupsRasterInitPWGHeader(&h, pwgMediaForPWG("iso_a4_210x297mm"), "sgray_8", 600, 600,
                            "one-sided", nullptr);
    GrayPage page;
    page.width = h.cupsWidth;
    page.height = h.cupsHeight;
    page.pixels.assign(size_t(page.width) * page.height, 255);
    return page;
}

class SamePages : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite()
    {
        work_ = std::make_unique<WorkDir>("rvt-app-pages");
        sim_ = std::make_unique<Simulator>();
        server_ = std::make_unique<AppServer>();
        const auto& dir = work_->path();
        // Text, gradients and noise: the page content the stream's encoding
        // and the darkness and scale settings work on; mostly white to keep
        // the suite fast.
        std::vector<GrayPage> pages(3, a4Page());
        paste(pages[0], patternPage("text:4000x1800:1"), 400, 300);
        paste(pages[0], patternPage("vgradient:600x2500"), 4000, 3000);
        paste(pages[1], patternPage("hgradient:4960x900"), 0, 2000);
        paste(pages[1], patternPage("text:1500x1500:2"), 200, 5200);
        paste(pages[2], patternPage("noise:700x700:7"), 1000, 1000);
        paste(pages[2], patternPage("text:2500x1200:3"), 2200, 5400);
        setupError_ = writeRaster((dir / "pages.pwg").string(), RasterFormat::Pwg, pages);
        if (setupError_.empty())
            setupError_ = writeRaster((dir / "pages.urf").string(), RasterFormat::Urf, pages);
        if (setupError_.empty())
            setupError_ = sim_->start(dir / "printer", {});
        if (setupError_.empty())
            setupError_ = server_->start(dir);
        if (setupError_.empty())
            setupError_ = server_->addPrinter("rvt", sim_->uri());
    }

    static void TearDownTestSuite()
    {
        const std::string stopped = server_ ? server_->stop() : "";
        EXPECT_EQ(stopped, "");
        server_.reset();
        sim_.reset();
        work_.reset();
    }

    static std::unique_ptr<WorkDir> work_;
    static std::unique_ptr<Simulator> sim_;
    static std::unique_ptr<AppServer> server_;
    static std::string setupError_;
};

std::unique_ptr<WorkDir> SamePages::work_;
std::unique_ptr<Simulator> SamePages::sim_;
std::unique_ptr<AppServer> SamePages::server_;
std::string SamePages::setupError_;

TEST_P(SamePages, AsTheFilterPrintsThem)
{
    ASSERT_EQ(setupError_, "");
    const Case& c = GetParam();
    const auto filterDir = work_->path() / "filter" / c.name;
    ASSERT_EQ(
        runFilter((work_->path() / "pages.pwg").string(), filterDir, c.filterOptions, c.copies),
        "");
    const json filterTranscript = json::parse(readFile(filterDir / "transcript.json"), nullptr,
                                              false);
    ASSERT_TRUE(filterTranscript.is_object()) << "no transcript of the filter's run";
    ASSERT_TRUE(filterTranscript.value("clean", false)) << filterTranscript.dump(1);

    const IppClient ipp(server_->port(), server_->printerUri("rvt"));
    const JobAttributes attrs = [&c](ipp_t* r) {
        ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "sides", nullptr, c.sides);
        if (c.copies != 1)
            ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", c.copies);
        if (c.documentHandling)
            ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "multiple-document-handling", nullptr,
                         c.documentHandling);
        if (c.darkness)
            ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "print-darkness", *c.darkness);
        if (c.scale)
            ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "rvt-scale", *c.scale);
    };
    for (const auto& [file, format] :
         {std::pair{"pages.pwg", "image/pwg-raster"}, std::pair{"pages.urf", "image/urf"}}) {
        SCOPED_TRACE(format);
        const int before = sim_->jobCount();
        std::string error;
        const int id = ipp.printJob((work_->path() / file).string(), format, attrs, error);
        ASSERT_GT(id, 0) << error;
        const JobStatus end = ipp.waitForEnd(id, std::chrono::seconds(60));
        ASSERT_EQ(end.state, IPP_JSTATE_COMPLETED) << end.describe();
        ASSERT_EQ(sim_->jobCount(), before + 1);
        const json printed = sim_->transcript(before + 1, std::chrono::seconds(10));
        ASSERT_TRUE(printed.is_object()) << "no transcript of job " << before + 1;
        EXPECT_TRUE(printed.value("clean", false)) << printed["protocol_errors"].dump(1);
        // The whole stream, element by element: commands, headers, data
        // chunks, replies; only the times differ.
        EXPECT_EQ(streamDifference(printed, filterTranscript), "");
        EXPECT_EQ(comparePages(sim_->jobDir(before + 1), printed, filterDir, filterTranscript), "");
    }
}

INSTANTIATE_TEST_SUITE_P(, SamePages, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rvt::apptest

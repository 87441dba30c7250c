// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The printer application's own pieces that need no server: its IPP choices
// and their PPD keywords, the printer state a reply shows, the device ID
// match, and the line-fed job against a scripted printer.
#include "device_connection.h"
#include "driver.h"
#include "ipp_options.h"
#include "job_choices.h"
#include "log.h"
#include "row_feed.h"
#include "scripted_connection.h"

#include "streamed_job.h"
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using rvt::app::choicesFor;

pappl_pr_options_t optionsWith(const char* size, const char* source, const char* type,
                               pappl_sides_t sides, int darkness, int copies)
{
    pappl_pr_options_t o{};
    std::snprintf(o.media.size_name, sizeof o.media.size_name, "%s", size);
    std::snprintf(o.media.source, sizeof o.media.source, "%s", source);
    std::snprintf(o.media.type, sizeof o.media.type, "%s", type);
    o.sides = sides;
    o.print_darkness = darkness;
    o.copies = copies;
    return o;
}

TEST(IppChoices, BecomeThePpdKeywordsOrTheDefaultWithANote)
{
    struct Case {
        const char* size;
        const char* source;
        const char* type;
        pappl_sides_t sides;
        int darkness;
        const char* handling;
        const char* scale;
        // expected
        const char* pageSize;
        const char* slot;
        const char* mediaType;
        const char* duplex;
        const char* darknessKeyword;
        const char* collate;
        const char* scaleKeyword;
        size_t notes;
    } cases[] = {
        {"iso_a4_210x297mm", "auto", "stationery", PAPPL_SIDES_ONE_SIDED, 0, nullptr, "", "A4",
         "AUTO", "PLAIN", "None", "darkness0", "True", "100%", 0},
        {"na_letter_8.5x11in", "tray-2", "cardstock", PAPPL_SIDES_TWO_SIDED_LONG_EDGE, 20,
         "separate-documents-uncollated-copies", "80", "Letter", "TRAY2", "Card", "DuplexNoTumble",
         "darkness1", "False", "80%", 0},
        {"om_85x170mm_85x170mm", "manual", "envelope", PAPPL_SIDES_TWO_SIDED_SHORT_EDGE, 100,
         "separate-documents-collated-copies", "150", "85x170mm", "MPTRAY", "Envelope",
         "DuplexTumble", "darkness5", "True", "150%", 0},
        // Darkness: below zero is the printer's own; each 20 one level more.
        {"iso_a5_148x210mm", "tray-1", "stationery-lightweight", PAPPL_SIDES_ONE_SIDED, -50,
         nullptr, "25", "A5", "TRAY1", "THIN", "None", "darkness0", "True", "25%", 0},
        {"iso_a5_148x210mm", "tray-3", "stationery-heavyweight", PAPPL_SIDES_ONE_SIDED, 21, nullptr,
         "", "A5", "TRAY3", "THICK", "None", "darkness2", "True", "100%", 0},
        {"iso_a5_148x210mm", "auto", "stationery", PAPPL_SIDES_ONE_SIDED, 80, nullptr, "", "A5",
         "AUTO", "PLAIN", "None", "darkness4", "True", "100%", 0},
        // Values the printer does not have fall back, each with a note.
        {"iso_a3_297x420mm", "tray-9", "transparency", PAPPL_SIDES_ONE_SIDED, 0, nullptr, "33",
         "A4", "AUTO", "PLAIN", "None", "darkness0", "True", "100%", 4},
        {"iso_a4_210x297mm", "auto", "stationery", PAPPL_SIDES_ONE_SIDED, 0, nullptr, "80x", "A4",
         "AUTO", "PLAIN", "None", "darkness0", "True", "100%", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.size) + " " + c.source + " " + c.type + " " + c.scale);
        std::vector<std::string> notes;
        const pappl_pr_options_t o = optionsWith(c.size, c.source, c.type, c.sides, c.darkness, 2);
        const auto ipp = choicesFor(o, c.handling, c.scale, notes);
        EXPECT_STREQ(ipp.choices.pageSize, c.pageSize);
        EXPECT_STREQ(ipp.choices.inputSlot, c.slot);
        EXPECT_STREQ(ipp.choices.mediaType, c.mediaType);
        EXPECT_STREQ(ipp.choices.duplex, c.duplex);
        EXPECT_STREQ(ipp.choices.darkness, c.darknessKeyword);
        EXPECT_STREQ(ipp.choices.collate, c.collate);
        EXPECT_STREQ(ipp.choices.scale, c.scaleKeyword);
        EXPECT_EQ(ipp.copies, 2);
        EXPECT_EQ(notes.size(), c.notes);
    }
}

TEST(IppChoices, EveryChoiceIsOneTheFilterKnows)
{
    // The choices go through the filter's own mapping: none may land on its
    // fallback (code 0 for an unknown tray or media type, ratio 1 for an
    // unknown scale).
    FILE* null = std::fopen("/dev/null", "w");
    rvt::Log log(null);
    for (size_t i = 1; i < std::size(rvt::app::kMediaSources); ++i) {
        rvt::JobSettings job;
        rvt::JobChoices c;
        c.inputSlot = rvt::app::kMediaSources[i].ppd;
        rvt::applyJobChoices(c, job, log);
        EXPECT_EQ(job.isInputSlot, static_cast<int>(i)) << c.inputSlot;
    }
    for (size_t i = 1; i < std::size(rvt::app::kMediaTypes); ++i) {
        rvt::JobSettings job;
        rvt::JobChoices c;
        c.mediaType = rvt::app::kMediaTypes[i].ppd;
        rvt::applyJobChoices(c, job, log);
        EXPECT_EQ(job.isMediaType, static_cast<int>(i)) << c.mediaType;
    }
    for (int percent : rvt::app::kScales) {
        std::vector<std::string> notes;
        const auto ipp = choicesFor(
            optionsWith("iso_a4_210x297mm", "auto", "stationery", PAPPL_SIDES_ONE_SIDED, 0, 1),
            nullptr, std::to_string(percent), notes);
        rvt::JobSettings job;
        rvt::applyJobChoices(ipp.choices, job, log);
        EXPECT_DOUBLE_EQ(job.ratio, percent / 100.0);
    }
    std::fclose(null);
}

TEST(PrinterState, FromTheRepliesOfTheExchanges)
{
    struct Case {
        const char* query;
        int code;
        pappl_preason_t reasons;
    } cases[] = {
        {"LockPrinter?", 2, PAPPL_PREASON_NONE},
        {"LockPrinter?", 5, PAPPL_PREASON_NONE},  // busy: the job says so
        {"LockPrinter?", 6, PAPPL_PREASON_OFFLINE},
        {"Event=EndOfPage;", 3029, PAPPL_PREASON_OTHER},
        {"Event=EndOfPage;", 3030, PAPPL_PREASON_NONE},
        {"Event=EndOfPage;", 3038, PAPPL_PREASON_OTHER},
        {"UnLockPrinter?", 2001, PAPPL_PREASON_OTHER},
        {"UnLockPrinter?", 3, PAPPL_PREASON_NONE},
        {"CancelJob?", 6, PAPPL_PREASON_NONE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rvt::app::reasonsForReply(c.query, c.code), c.reasons)
            << c.query << " " << c.code;
}

TEST(DeviceId, NamesThisPrinterByMakerAndModel)
{
    EXPECT_TRUE(rvt::app::deviceIdMatches("MFG:RVT;MDL:RV-T4410LW;CMD:RVTJOB,JBIG;CLS:PRINTER;"));
    EXPECT_TRUE(rvt::app::deviceIdMatches("MANUFACTURER:RVT;MODEL:RV-T4410LW;"));
    EXPECT_FALSE(rvt::app::deviceIdMatches("MFG:RVT;MDL:RV-T4410;"));
    EXPECT_FALSE(rvt::app::deviceIdMatches("MFG:Other;MDL:RV-T4410LW;"));
    EXPECT_FALSE(rvt::app::deviceIdMatches(""));
    EXPECT_FALSE(rvt::app::deviceIdMatches(nullptr));
}

// A gray page of `width` x `height` at `dpi`.
cups_page_header2_t grayPage(unsigned width, unsigned height, unsigned dpi = 600)
{
    cups_page_header2_t h{};
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = width;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.HWResolution[0] = h.HWResolution[1] = dpi;
    return h;
}

struct FedJob {
    std::vector<std::string> commands;
    bool printed = false;
};

// Feeds `pages` (page numbers as the framework gives them) to a streamed job.
FedJob feed(const std::vector<std::pair<unsigned, cups_page_header2_t>>& pages,
            const std::string& duplex = "None", int copies = 1)
{
    FedJob r;
    rvt::test::ScriptedConnection printer;
    FILE* null = std::fopen("/dev/null", "w");
    {
        rvt::Log log(null);
        rvt::JobSettings settings;
        settings.copies = copies;
        settings.jobCopies = std::to_string(copies);
        rvt::JobChoices c;
        c.duplex = duplex.c_str();
        rvt::applyJobChoices(c, settings, log);
        char dir[] = "/tmp/rvt-streamed-XXXXXX";
        EXPECT_NE(mkdtemp(dir), nullptr);
        {
            rvt::app::StreamedJob job(settings, printer, log, dir);
            std::vector<uint8_t> line;
            for (const auto& [number, h] : pages) {
                if (!job.startPage(h, number))
                    break;
                line.assign(h.cupsBytesPerLine, 0);
                for (unsigned y = 0; y < h.cupsHeight; ++y) {
                    line[y % h.cupsBytesPerLine] = 0xff;
                    job.writeLine(line.data());
                }
            }
            r.printed = job.finish();
        }
        EXPECT_EQ(rmdir(dir), 0) << "page files left behind";
    }
    std::fclose(null);
    r.commands = printer.commands();
    return r;
}

size_t count(const std::vector<std::string>& v, const std::string& what)
{
    return static_cast<size_t>(std::count(v.begin(), v.end(), what));
}

TEST(StreamedJob, PrintsTheFrameworksPagesAsTheFilterWould)
{
    const auto a = grayPage(64, 48), b = grayPage(40, 30);
    struct Case {
        const char* what;
        std::vector<std::pair<unsigned, cups_page_header2_t>> pages;
        std::string duplex;
        int copies;
        bool printed;
        size_t endOfPages;
        bool cancelled;
    } cases[] = {
        {"three pages", {{1, a}, {2, b}, {3, a}}, "None", 1, true, 3, false},
        {"two-sided, odd: a blank back",
         {{1, a}, {2, b}, {3, a}},
         "DuplexNoTumble",
         1,
         true,
         4,
         false},
        {"the framework's repeats of a one-page document are not pages",
         {{1, a}, {1, a}, {1, a}},
         "None",
         3,
         true,
         3,
         false},
        {"a page at 300 dpi cancels the job",
         {{1, a}, {2, grayPage(64, 48, 300)}},
         "None",
         1,
         false,
         1,
         true},
        {"no page at all", {}, "None", 1, true, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FedJob r = feed(c.pages, c.duplex, c.copies);
        EXPECT_EQ(r.printed, c.printed);
        EXPECT_EQ(count(r.commands, "Event=EndOfPage;"), c.endOfPages);
        ASSERT_FALSE(r.commands.empty());
        EXPECT_EQ(r.commands.front(), "LockPrinter?");
        EXPECT_EQ(r.commands.back(), c.cancelled ? "CancelJob?" : "UnLockPrinter?");
    }
}

TEST(StreamedJob, APrinterThatCancelsLetsTheFrameworkGo)
{
    // The printer cancels at the first end of page while the framework still
    // hands over many more pages: the job ends, and the feeding side is not
    // left waiting on a queue nobody reads.
    FILE* null = std::fopen("/dev/null", "w");
    rvt::Log log(null);
    rvt::test::ScriptedConnection printer;
    printer.replies["Event=EndOfPage;"] = {rvt::test::Reply{"4"}};
    char dir[] = "/tmp/rvt-streamed-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    rvt::JobSettings settings;
    bool stopped = false;
    {
        rvt::app::StreamedJob job(settings, printer, log, dir);
        const auto h = grayPage(256, 256);
        std::vector<uint8_t> line(h.cupsBytesPerLine, 0x80);
        for (unsigned page = 1; page <= 200 && !stopped; ++page) {
            if (!job.startPage(h, page))
                stopped = true;
            for (unsigned y = 0; y < h.cupsHeight && !stopped; ++y)
                stopped = !job.writeLine(line.data());
        }
        EXPECT_FALSE(job.finish());
    }
    EXPECT_TRUE(stopped);
    EXPECT_EQ(printer.commands().back(), "CancelJob?");
    EXPECT_EQ(rmdir(dir), 0);
    std::fclose(null);
}

}  // namespace

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The built filter, run as the scheduler runs it, against the simulated
// printer: the stream byte for byte, the order of pages, the decoded bits,
// and the exchanges' branches (refused and missing replies, cancel, SIGTERM,
// connection states). fault_matrix_test.cpp drives every failure to its end.
#include "sim_run.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace rvtsim::test {
namespace {

std::vector<PagePattern> patterns(const std::vector<std::string>& descriptions)
{
    std::vector<PagePattern> out;
    for (const auto& d : descriptions) {
        PagePattern p;
        EXPECT_TRUE(parsePattern(d, p)) << d;
        out.push_back(p);
    }
    return out;
}

std::string makeRaster(const std::string& dir, const std::vector<PagePattern>& pages)
{
    std::string path = dir + "/job.ras";
    EXPECT_EQ(writeRaster(path, pages), "");
    return path;
}

// What every job must end with, whatever happened in it.
void expectSoundEnd(const SimRun& run)
{
    ASSERT_FALSE(run.transcript.is_null()) << "no transcript";
    EXPECT_TRUE(run.filterExitedZero()) << run.transcript["filter"].dump();
    EXPECT_EQ(run.transcript["tmpdir_leftovers"], nlohmann::json::array())
        << "files left behind by the filter";
}

void expectClean(const SimRun& run)
{
    expectSoundEnd(run);
    EXPECT_EQ(run.transcript["protocol_errors"], nlohmann::json::array());
    EXPECT_EQ(run.exitStatus, 0);
}

TEST(FilterUnderSim, OnePageA4JobIsTheExampleStreamByteForByte)
{
    std::string dir = scratchDir("example");
    auto pages = patterns({"text:4960x7016:5"});
    SimRun run = runSim(makeRaster(dir, pages), dir + "/out", "");
    expectClean(run);
    ASSERT_EQ(shape(run),
              "lock start_of_job job_header page_header data+ end_of_page end_of_job unlock");

    const auto& es = run.transcript["elements"];
    EXPECT_EQ(es[0]["text"], "LockPrinter?");
    EXPECT_EQ(es[1]["text"], "Event=StartOfJob;");
    EXPECT_EQ(
        es[2]["text"],
        "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;MediaInputTrayCheck=auto;");
    EXPECT_EQ(es[3]["text"],
              "MediaSize=na_a4_210x297mm;RasterObject.Width=4960;RasterObject.Height=7016;");
    const size_t n = es.size();
    ASSERT_GE(n, 9u);  // at least two chunks: the page file is longer than 4096 bytes
    uint64_t data = 0;
    for (size_t i = 4; i < n - 3; ++i) {
        uint64_t len = es[i]["length"];
        data += len;
        if (i < n - 4)
            EXPECT_EQ(es[i]["text"], "RasterObject.Data#4096=") << i;
        else
            EXPECT_TRUE(len > 0 && len < 4096) << len;
        EXPECT_EQ(es[i]["size"], len + es[i]["text"].get<std::string>().size() + 1);
    }
    EXPECT_EQ(es[n - 3]["text"], "Event=EndOfPage;");
    EXPECT_EQ(es[n - 2]["text"], "Event=EndOfJob;");
    EXPECT_EQ(es[n - 1]["text"], "UnLockPrinter?");
    // Nothing between or after the elements.
    for (size_t i = 1; i < n; ++i)
        EXPECT_EQ(es[i]["offset"],
                  es[i - 1]["offset"].get<uint64_t>() + es[i - 1]["size"].get<uint64_t>());
    EXPECT_EQ(run.transcript["stream_bytes"],
              es[n - 1]["offset"].get<uint64_t>() + es[n - 1]["size"].get<uint64_t>());

    const auto& page = run.transcript["pages"][0];
    EXPECT_EQ(page["bie_size"], data);
    const auto& bih = page["bie"];
    EXPECT_EQ(bih, (nlohmann::json{{"dl", 0},
                                   {"d", 0},
                                   {"planes", 1},
                                   {"xd", 4960},
                                   {"yd", 7016},
                                   {"l0", 128},
                                   {"mx", 8},
                                   {"my", 0},
                                   {"order", 3},
                                   {"options", 0x1C}}));
    auto got = run.pages();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].bits == expectedPage(pages[0], 1, 0, 1.0, 0).bits) << "decoded page differs";
}

struct OrderCase {
    const char* name;
    int pages;
    const char* options;
    const char* copies;
    int isDuplex;
    const char* copiesField;
    std::vector<int> order;  // raster page numbers; pages + 1 is the blank back page
};

class PageOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(PageOrder, PagesAreSentInTheirSheetOrder)
{
    const OrderCase& c = GetParam();
    std::string dir = scratchDir(std::string("order-") + c.name);
    std::vector<std::string> descs;
    for (int i = 1; i <= c.pages; ++i)
        descs.push_back("text:203x150:" + std::to_string(100 + i));  // every page distinct
    auto pages = patterns(descs);
    SimRun run = runSim(makeRaster(dir, pages), dir + "/out", c.options, {}, c.copies);
    expectClean(run);
    EXPECT_NE(run.jobHeaderText().find(std::string("Copies=") + c.copiesField + ";"),
              std::string::npos)
        << run.jobHeaderText();

    std::vector<Bitmap> candidates;
    for (int i = 0; i < c.pages; ++i)
        candidates.push_back(expectedPage(pages[size_t(i)], i + 1, c.isDuplex, 1.0, 0));
    candidates.push_back(blankPage(203, 150));
    std::vector<int> order;
    for (const auto& got : run.pages()) {
        int which = 0;
        for (size_t i = 0; i < candidates.size() && !which; ++i)
            if (got.width == candidates[i].width && got.bits == candidates[i].bits)
                which = int(i) + 1;
        order.push_back(which);  // 0: matches no page
    }
    EXPECT_EQ(order, c.order);
    for (const auto& p : run.transcript["pages"]) {
        EXPECT_EQ(p["declared_width"], 208);  // 203 raised to a multiple of 8
        EXPECT_EQ(p["declared_height"], 150);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PageOrder,
    ::testing::Values(
        OrderCase{"OneSidedCollated", 3, "", "2", 0, "1", {1, 2, 3, 1, 2, 3}},
        OrderCase{"OneSidedUncollated", 3, "Collate=False", "2", 0, "2", {1, 2, 3}},
        OrderCase{"TwoSidedFourPages", 4, "Duplex=DuplexNoTumble", "1", 2, "1", {2, 1, 4, 3}},
        OrderCase{
            "TwoSidedOddCollated", 3, "Duplex=DuplexTumble", "2", 1, "1", {2, 1, 4, 3, 2, 1, 4, 3}},
        OrderCase{"TwoSidedOddUncollated",
                  3,
                  "Duplex=DuplexTumble Collate=False",
                  "2",
                  1,
                  "2",
                  {2, 1, 4, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ImageCase {
    const char* name;
    const char* duplex;
    int isDuplex;
    const char* scale;
    double ratio;
    int darkness;
};

class DecodedPages : public ::testing::TestWithParam<ImageCase> {};

TEST_P(DecodedPages, AreTheScaledTurnedAndScreenedPages)
{
    const ImageCase& c = GetParam();
    std::string dir = scratchDir(std::string("image-") + c.name);
    auto pages = patterns({"text:203x150:7", "hgradient:203x150"});
    std::string options = std::string("Duplex=") + c.duplex + " RVTLScale=" + c.scale +
                          " GammaDarkness=darkness" + std::to_string(c.darkness);
    SimRun run = runSim(makeRaster(dir, pages), dir + "/out", options);
    expectClean(run);
    auto got = run.pages();
    ASSERT_EQ(got.size(), 2u);
    // Two-sided: the back (even) page goes first.
    std::vector<int> order = c.isDuplex ? std::vector<int>{2, 1} : std::vector<int>{1, 2};
    for (size_t i = 0; i < 2; ++i) {
        Bitmap want = expectedPage(pages[size_t(order[i] - 1)], order[i], c.isDuplex, c.ratio,
                                   c.darkness);
        EXPECT_EQ(got[i].width, want.width);
        EXPECT_EQ(got[i].height, want.height);
        EXPECT_TRUE(got[i].bits == want.bits) << "page " << order[i] << " differs";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodedPages,
    ::testing::Values(ImageCase{"OneSided100Dark0", "None", 0, "100%", 1.0, 0},
                      ImageCase{"OneSided25Dark1", "None", 0, "25%", 0.25, 1},
                      ImageCase{"Tumble50Dark2", "DuplexTumble", 1, "50%", 0.5, 2},
                      ImageCase{"NoTumble80Dark3", "DuplexNoTumble", 2, "80%", 0.8, 3},
                      ImageCase{"NoTumble90Dark4", "DuplexNoTumble", 2, "90%", 0.9, 4},
                      ImageCase{"Tumble110Dark5", "DuplexTumble", 1, "110%", 1.1, 5},
                      ImageCase{"OneSided120Dark3", "None", 0, "120%", 1.2, 3},
                      ImageCase{"NoTumble150Dark0", "DuplexNoTumble", 2, "150%", 1.5, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct ExchangeCase {
    const char* name;
    int pages;
    const char* options;
    std::vector<std::string> simArgs;
    std::vector<std::string> shapes;  // the element kinds the stream may have, any of these
};

class Exchanges : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(Exchanges, EndTheJobAsThePrinterAsked)
{
    const ExchangeCase& c = GetParam();
    std::string dir = scratchDir(std::string("exchange-") + c.name);
    std::vector<std::string> descs;
    for (int i = 1; i <= c.pages; ++i)
        descs.push_back("noise:240x180:" + std::to_string(i));  // a few chunks per page
    std::vector<std::string> args = c.simArgs;
    args.insert(args.end(), {"--timeout", "60"});
    SimRun run = runSim(makeRaster(dir, patterns(descs)), dir + "/out", c.options, args);
    expectClean(run);
    EXPECT_NE(std::find(c.shapes.begin(), c.shapes.end(), shape(run)), c.shapes.end())
        << shape(run);
    if (!run.transcript["sigterm"].is_null()) {
        EXPECT_EQ(run.transcript["sigterm"]["cancel_last"], true);
    }
}

const std::string kPage = "page_header data+ end_of_page ";
const std::string kHead = "lock start_of_job job_header ";

INSTANTIATE_TEST_SUITE_P(
    Table, Exchanges,
    ::testing::Values(
        ExchangeCase{"LockRefusedTwiceThenGranted",
                     1,
                     "",
                     {"--lock-replies", "5,OK,2"},
                     {"lock lock " + kHead + kPage + "end_of_job unlock"}},
        ExchangeCase{"LockUnansweredThenSigterm",
                     1,
                     "",
                     {"--lock-replies", "-", "--sigterm", "lock:1"},
                     {"lock cancel"}},
        ExchangeCase{
            "EndOfPageReply4", 3, "", {"--eop-reply", "2=4"}, {kHead + kPage + kPage + "cancel"}},
        ExchangeCase{"EndOfPageReply4OnTheFourthRead",
                     2,
                     "",
                     {"--eop-reply", "1=4", "--reply-delay", "end_of_page=3300"},
                     {kHead + kPage + "cancel"}},
        ExchangeCase{"ConnectionNotImplemented",
                     2,
                     "",
                     {"--connected", "7"},
                     {kHead + kPage + kPage + "end_of_job unlock"}},
        ExchangeCase{
            "SigtermInPageLoop",
            3,
            "",
            {"--sigterm", "chunk:2:1"},
            {kHead + kPage + "page_header data+ cancel", kHead + kPage + kPage + "cancel"}},
        ExchangeCase{
            "ZeroPagesTwoSided", 0, "Duplex=DuplexTumble", {}, {kHead + "end_of_job unlock"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rvtsim::test

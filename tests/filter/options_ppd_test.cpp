// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Job options: PPD defaults and job option texts mapped to the job settings.
#include "compiler_quirks.h"
#include "job_settings.h"
#include "options.h"
#include "scripted_connection.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace rvt::test {
namespace {

struct PpdOption {
    std::string keyword;
    std::string defaultChoice;
    std::vector<std::string> choices;
};

// The options of the printer's PPD, with extra choices the tests need.
std::vector<PpdOption> printerOptions()
{
    return {
        {"MediaType", "PLAIN", {"PLAIN", "THICK", "THIN", "Card", "Envelope", "Glossy"}},
        {"PageSize", "A4", {"A4", "A5", "Letter", "85x170mm"}},
        {"InputSlot", "AUTO", {"AUTO", "MPTRAY", "TRAY1", "TRAY2", "TRAY3", "Rear"}},
        {"Duplex", "None", {"None", "DuplexTumble", "DuplexNoTumble"}},
        {"Collate", "True", {"True", "False", "Maybe"}},
        {"RVTLScale", "100%", {"25%", "50%", "80%", "90%", "100%", "110%", "120%", "150%", "75%"}},
        {"GammaDarkness",
         "darkness0",
         {"darkness0", "darkness1", "darkness2", "darkness3", "darkness4", "darkness5",
          "darkness9"}},
    };
}

class PpdFile {
public:
    explicit PpdFile(const std::vector<PpdOption>& options)
    {
        char templ[] = "/tmp/rvt-options-test-XXXXXX.ppd";
        int fd = mkstemps(templ, 4);
        path_ = templ;
        std::string text =
            "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n"
            "*LanguageEncoding: ISOLatin1\n*ModelName: \"Test\"\n*NickName: \"Test\"\n";
        for (const PpdOption& o : options) {
            text += "*OpenUI *" + o.keyword + ": PickOne\n";
            text += "*Default" + o.keyword + ": " + o.defaultChoice + "\n";
            for (const std::string& c : o.choices)
                text += "*" + o.keyword + " " + c + ": \"\"\n";
            text += "*CloseUI: *" + o.keyword + "\n";
        }
        EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(fd);
    }
    ~PpdFile() { std::remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

struct Expected {
    int media = 0;
    std::string pageSize = "A4";
    int tray = 0;
    int duplex = 0;
    int collate = 1;
    double ratio = 1.0;
    int darkness = 0;
};

struct OptionCase {
    const char* name;
    const char* optionText;
    Expected expected;
    std::vector<std::string> logLines;
};

class OptionTableTest : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionTableTest, MarkedChoiceSetsTheJob)
{
    const OptionCase& c = GetParam();
    PpdFile ppd(printerOptions());
    JobSettings job;
    MemoryLog log;
    ASSERT_EQ(readJobOptions(c.optionText, ppd.path(), job, log.log()), 0);
    EXPECT_EQ(job.isMediaType, c.expected.media);
    EXPECT_EQ(job.pageSize, c.expected.pageSize);
    EXPECT_EQ(job.isInputSlot, c.expected.tray);
    EXPECT_EQ(job.isDuplex, c.expected.duplex);
    EXPECT_EQ(job.collate, c.expected.collate);
    EXPECT_DOUBLE_EQ(job.ratio, c.expected.ratio);
    EXPECT_EQ(job.imageDarkness_type, c.expected.darkness);
    for (const std::string& line : c.logLines)
        EXPECT_TRUE(log.contains(line)) << line << "\nin:\n" << log.text();
}

Expected with(void (*set)(Expected&))
{
    Expected e;
    set(e);
    return e;
}

// The cases copy aggregates with std::string members.
RVT_GCC12_FALSE_POSITIVE_BEGIN("-Wmaybe-uninitialized")  // GCC bug 105562
INSTANTIATE_TEST_SUITE_P(
    Options, OptionTableTest,
    ::testing::Values(
        OptionCase{"Defaults",
                   "",
                   {},
                   {"DEBUG:[RVT4410LW]media_type=PLAIN\n", "DEBUG:[RVT4410LW]pageSize =A4\n",
                    "DEBUG:[RVT4410LW]InputSlot =AUTO\nDEBUG:[RVT4410LW]isInputSlot =0\n",
                    "DEBUG:[RVT4410LW]Duplex =None\n",
                    "DEBUG:[RVT4410LW]collateChoice =True\nDEBUG:[RVT4410LW]collate =1\n",
                    "DEBUG:[RVT4410LW]Scale =100% and ratio = 1.000000\n",
                    "DEBUG:[RVT4410LW]imageDarkness choice = darkness0\n"
                    "DEBUG:[RVT4410LW]imageDarkness=0, 0 = off ,1->5 = ligth->dark\n"}},
        OptionCase{"Thick",
                   "MediaType=THICK",
                   with([](Expected& e) { e.media = 1; }),
                   {"DEBUG:[RVT4410LW]media_type=THICK\n"}},
        OptionCase{"Thin", "MediaType=THIN", with([](Expected& e) { e.media = 2; }), {}},
        OptionCase{"Card", "MediaType=Card", with([](Expected& e) { e.media = 3; }), {}},
        OptionCase{"Envelope", "MediaType=Envelope", with([](Expected& e) { e.media = 4; }), {}},
        OptionCase{
            "UnknownMedia", "MediaType=Glossy", {}, {"DEBUG:[RVT4410LW]media_type =Glossy\n"}},
        OptionCase{"Letter",
                   "PageSize=Letter",
                   with([](Expected& e) { e.pageSize = "Letter"; }),
                   {"DEBUG:[RVT4410LW]pageSize =Letter\n"}},
        OptionCase{"MediaOption", "media=A5", with([](Expected& e) { e.pageSize = "A5"; }), {}},
        OptionCase{"ManualTray",
                   "InputSlot=MPTRAY",
                   with([](Expected& e) { e.tray = 1; }),
                   {"DEBUG:[RVT4410LW]isInputSlot =1\n"}},
        OptionCase{"Tray1", "InputSlot=TRAY1", with([](Expected& e) { e.tray = 2; }), {}},
        OptionCase{"Tray2", "InputSlot=TRAY2", with([](Expected& e) { e.tray = 3; }), {}},
        OptionCase{"Tray3", "InputSlot=TRAY3", with([](Expected& e) { e.tray = 4; }), {}},
        OptionCase{"UnknownTray",
                   "InputSlot=Rear",
                   {},
                   {"DEBUG:[RVT4410LW]InputSlot =Rear\nDEBUG:[RVT4410LW]InputSlot =Rear\n"
                    "DEBUG:[RVT4410LW]isInputSlot =0\n"}},
        OptionCase{"Tumble",
                   "Duplex=DuplexTumble",
                   with([](Expected& e) { e.duplex = 1; }),
                   {"DEBUG:[RVT4410LW]Duplex =DuplexTumble\n"}},
        OptionCase{
            "NoTumble", "Duplex=DuplexNoTumble", with([](Expected& e) { e.duplex = 2; }), {}},
        OptionCase{"SidesLongEdge",
                   "sides=two-sided-long-edge",
                   with([](Expected& e) { e.duplex = 2; }),
                   {}},
        OptionCase{"CollateFalse",
                   "Collate=False",
                   with([](Expected& e) { e.collate = 0; }),
                   {"DEBUG:[RVT4410LW]collateChoice =False\nDEBUG:[RVT4410LW]collate =0\n"}},
        OptionCase{"CollateOther", "Collate=Maybe", {}, {"DEBUG:[RVT4410LW]collate =1\n"}},
        OptionCase{"Scale25",
                   "RVTLScale=25%",
                   with([](Expected& e) { e.ratio = 0.25; }),
                   {"DEBUG:[RVT4410LW]Scale =25% and ratio = 0.250000\n"}},
        OptionCase{"Scale50", "RVTLScale=50%", with([](Expected& e) { e.ratio = 0.5; }), {}},
        OptionCase{"Scale80", "RVTLScale=80%", with([](Expected& e) { e.ratio = 0.8; }), {}},
        OptionCase{"Scale90", "RVTLScale=90%", with([](Expected& e) { e.ratio = 0.9; }), {}},
        OptionCase{"Scale110", "RVTLScale=110%", with([](Expected& e) { e.ratio = 1.1; }), {}},
        OptionCase{"Scale120", "RVTLScale=120%", with([](Expected& e) { e.ratio = 1.2; }), {}},
        OptionCase{"Scale150",
                   "RVTLScale=150%",
                   with([](Expected& e) { e.ratio = 1.5; }),
                   {"DEBUG:[RVT4410LW]Scale =150% and ratio = 1.500000\n"}},
        OptionCase{"UnknownScale",
                   "RVTLScale=75%",
                   {},
                   {"DEBUG:[RVT4410LW]Scale =75% and ratio = 1.000000\n"}},
        OptionCase{
            "Darkness1", "GammaDarkness=darkness1", with([](Expected& e) { e.darkness = 1; }), {}},
        OptionCase{"Darkness5",
                   "GammaDarkness=darkness5",
                   with([](Expected& e) { e.darkness = 5; }),
                   {"DEBUG:[RVT4410LW]imageDarkness=5, 0 = off ,1->5 = ligth->dark\n"}},
        OptionCase{"UnknownDarkness",
                   "GammaDarkness=darkness9",
                   {},
                   {"DEBUG:[RVT4410LW]imageDarkness choice = darkness9\n"}},
        OptionCase{"Several",
                   "MediaType=Card Duplex=DuplexTumble Collate=False RVTLScale=50%",
                   with([](Expected& e) {
                       e.media = 3;
                       e.duplex = 1;
                       e.collate = 0;
                       e.ratio = 0.5;
                   }),
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });
RVT_GCC12_FALSE_POSITIVE_END

TEST(OptionsTest, NoPpdGivesEveryDefault)
{
    for (const char* ppd : {static_cast<const char*>(nullptr), "/nonexistent/printer.ppd"}) {
        JobSettings job;
        MemoryLog log;
        ASSERT_EQ(readJobOptions("MediaType=THICK Collate=False", ppd, job, log.log()), 0);
        EXPECT_EQ(job.isMediaType, 0);
        EXPECT_EQ(job.media_type, "");
        EXPECT_EQ(job.pageSize, "A4");
        EXPECT_EQ(job.isInputSlot, 0);
        EXPECT_EQ(job.isDuplex, 0);
        EXPECT_EQ(job.collate, 1);
        EXPECT_DOUBLE_EQ(job.ratio, 1.0);
        EXPECT_EQ(job.imageDarkness_type, 0);
        EXPECT_EQ(log.text(), "DEBUG:[RVT4410LW]media_type=##\n"
                              "DEBUG:[RVT4410LW]InputSlot =NULL, so set pagesize to default A4\n"
                              "DEBUG:[RVT4410LW]InputSlot =NULL\n"
                              "DEBUG:[RVT4410LW]Duplex =NULL\n"
                              "DEBUG:[RVT4410LW]collateChoice = NULL\n"
                              "DEBUG:[RVT4410LW]collate =1\n"
                              "DEBUG:[RVT4410LW]imageDarkness=0, 0 = off ,1->5 = ligth->dark\n");
    }
}

TEST(OptionsTest, NullOptionTextUsesThePpdDefaults)
{
    std::vector<PpdOption> options = printerOptions();
    options[0].defaultChoice = "Envelope";
    options[3].defaultChoice = "DuplexNoTumble";
    PpdFile ppd(options);
    JobSettings job;
    MemoryLog log;
    ASSERT_EQ(readJobOptions(nullptr, ppd.path(), job, log.log()), 0);
    EXPECT_EQ(job.isMediaType, 4);
    EXPECT_EQ(job.media_type, "Envelope");
    EXPECT_EQ(job.isDuplex, 2);
    EXPECT_EQ(job.Duplex, "DuplexNoTumble");
}

// Keywords are compared exactly: a PPD whose choice is "thin" gets plain paper.
TEST(OptionsTest, KeywordCaseMatters)
{
    std::vector<PpdOption> options = printerOptions();
    options[0].choices = {"PLAIN", "thin", "card"};
    PpdFile ppd(options);
    for (const char* text : {"MediaType=thin", "MediaType=card"}) {
        JobSettings job;
        MemoryLog log;
        ASSERT_EQ(readJobOptions(text, ppd.path(), job, log.log()), 0);
        EXPECT_EQ(job.isMediaType, 0) << text;
        const std::string keyword = std::string(text).substr(10);
        EXPECT_TRUE(log.contains("DEBUG:[RVT4410LW]media_type =" + keyword +
                                 "\nDEBUG:[RVT4410LW]media_type=" + keyword + "\n"));
    }
}

int refusingParser(const char*, int, cups_option_t**) { return -1; }

TEST(OptionsTest, IllegalOptionTextEndsTheJob)
{
    PpdFile ppd(printerOptions());
    JobSettings job;
    MemoryLog log;
    EXPECT_EQ(readJobOptions("anything", ppd.path(), job, log.log(), refusingParser), -1);
    EXPECT_EQ(log.text(), "DEBUG:[RVT4410LW]illegal option.return 0\n");
}

}  // namespace
}  // namespace rvt::test

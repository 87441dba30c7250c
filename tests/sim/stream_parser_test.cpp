// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "stream_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rvtsim {
namespace {

std::string chunk(const std::string& bytes)
{
    return "RasterObject.Data#" + std::to_string(bytes.size()) + "=" + bytes + ";";
}

// A whole job whose page data holds the bytes that frame elements.
std::string exampleJob(const std::string& data1, const std::string& data2)
{
    return "LockPrinter?Event=StartOfJob;"
           "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;MediaInputTrayCheck=auto;"
           "MediaSize=na_a4_210x297mm;RasterObject.Width=4960;RasterObject.Height=7016;" +
           chunk(data1) + chunk(data2) + "Event=EndOfPage;Event=EndOfJob;UnLockPrinter?";
}

std::vector<ElementKind> kinds(const std::vector<Element>& es)
{
    std::vector<ElementKind> out;
    for (const auto& e : es)
        out.push_back(e.kind);
    return out;
}

const std::vector<ElementKind> kExampleKinds = {
    ElementKind::Lock,       ElementKind::StartOfJob, ElementKind::JobHeader,
    ElementKind::PageHeader, ElementKind::Data,       ElementKind::Data,
    ElementKind::EndOfPage,  ElementKind::EndOfJob,   ElementKind::Unlock};

std::string tricky(size_t n)
{
    // Raw bytes full of ';', '=', NUL and element texts.
    std::string s;
    const std::string pattern = std::string("Event=EndOfPage;\0=;RasterObject.Data#9=\xff", 40);
    while (s.size() < n)
        s += pattern;
    s.resize(n);
    return s;
}

TEST(StreamParser, ReadsAWholeJobByTheCountedLengths)
{
    const std::string d1 = tricky(4096), d2 = tricky(904);
    StreamParser p;
    p.feed(exampleJob(d1, d2));
    auto es = p.finish();
    ASSERT_EQ(kinds(es), kExampleKinds);
    EXPECT_TRUE(p.errors().empty());
    EXPECT_EQ(
        es[2].text,
        "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;MediaInputTrayCheck=auto;");
    ASSERT_EQ(es[2].fields.size(), 5u);
    EXPECT_EQ(es[3].fields[1], (std::pair<std::string, std::string>("RasterObject.Width", "4960")));
    EXPECT_EQ(es[4].payload, d1);
    EXPECT_EQ(es[5].payload, d2);
    EXPECT_EQ(es[5].text, "RasterObject.Data#904=");
    // Offsets run on without gaps.
    for (size_t i = 1; i < es.size(); ++i)
        EXPECT_EQ(es[i].offset, es[i - 1].offset + es[i - 1].size) << i;
    EXPECT_EQ(es.back().offset + es.back().size, p.bytesSeen());
}

TEST(StreamParser, ByteByByteGivesTheSameElements)
{
    const std::string job = exampleJob(tricky(4096), tricky(17));
    StreamParser whole;
    whole.feed(job);
    auto expected = whole.finish();

    StreamParser p;
    std::vector<Element> got;
    for (char c : job) {
        p.feed(std::string_view(&c, 1));
        for (auto& e : p.take(false))
            got.push_back(std::move(e));
    }
    for (auto& e : p.finish())
        got.push_back(std::move(e));
    ASSERT_EQ(kinds(got), kinds(expected));
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].offset, expected[i].offset);
        EXPECT_EQ(got[i].text, expected[i].text);
        EXPECT_EQ(got[i].payload, expected[i].payload);
    }
    EXPECT_TRUE(p.errors().empty());
}

TEST(StreamParser, JobHeaderWithoutTrayEndsAtTheWritersBoundary)
{
    StreamParser p;
    p.feed("Resolution=600x600;MediaType=Thick;Sides=TwoSidedLongEdge;Copies=3;");
    EXPECT_TRUE(p.take(false).empty());  // the tray field may still come
    auto es = p.take(true);
    ASSERT_EQ(es.size(), 1u);
    EXPECT_EQ(es[0].kind, ElementKind::JobHeader);
    EXPECT_EQ(es[0].fields.size(), 4u);
    EXPECT_TRUE(p.errors().empty());

    // Without a boundary the next element ends the header just as well.
    StreamParser q;
    q.feed("Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;MediaSize=na_a5_148x210mm;"
           "RasterObject.Width=8;RasterObject.Height=1;");
    EXPECT_EQ(kinds(q.take(false)),
              (std::vector<ElementKind>{ElementKind::JobHeader, ElementKind::PageHeader}));
}

struct BadCase {
    const char* name;
    std::string stream;
    uint64_t errorOffset;
    const char* errorText;  // part of the first error's message
};

class StreamParserFaults : public ::testing::TestWithParam<BadCase> {};

TEST_P(StreamParserFaults, AreReportedAtTheirOffset)
{
    const BadCase& c = GetParam();
    StreamParser p;
    p.feed(c.stream);
    p.finish();
    ASSERT_FALSE(p.errors().empty());
    EXPECT_EQ(p.errors()[0].offset, c.errorOffset);
    EXPECT_NE(p.errors()[0].message.find(c.errorText), std::string::npos) << p.errors()[0].message;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamParserFaults,
    ::testing::Values(
        BadCase{"UnknownCommand", "LockPrinter?Hello;Event=StartOfJob;", 12, "unknown element"},
        BadCase{"LowerCaseQuery", "lockprinter?", 0, "unknown element"},
        BadCase{"LineEndAfterCommand", "LockPrinter?\nEvent=StartOfJob;", 12, "\\x0A"},
        BadCase{"FieldsOutOfOrder", "MediaType=plain;Resolution=600x600;", 0, "unknown element"},
        BadCase{"UnknownMediaType", "Resolution=600x600;MediaType=THIN;Sides=OneSided;Copies=1;", 0,
                "MediaType"},
        BadCase{"UnknownTray",
                "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;"
                "MediaInputTrayCheck=TRAY2;",
                0, "MediaInputTrayCheck"},
        BadCase{"WrongResolution", "Resolution=300x300;MediaType=plain;Sides=OneSided;Copies=1;", 0,
                "Resolution"},
        BadCase{"LowerCaseLetterSize",
                "MediaSize=na_letter_216x279mm;RasterObject.Width=8;RasterObject.Height=8;", 0,
                "MediaSize"},
        BadCase{"ZeroWidth",
                "MediaSize=na_a4_210x297mm;RasterObject.Width=0;RasterObject.Height=8;", 0,
                "RasterObject.Width"},
        BadCase{"ChunkTooLong", "Event=EndOfJob;" + chunk(std::string(4097, 'x')), 15,
                "4097 bytes"},
        BadCase{"ShortChunkNotLast", chunk("ab") + chunk("cd"), 23, "shorter than 4096"},
        BadCase{"ChunkLengthWrong", "RasterObject.Data#3=ab;Status?", 0, "unknown element"},
        BadCase{"LeadingZeroLength", "RasterObject.Data#02=ab;", 0, "leading zero"},
        BadCase{"EmptyChunk", "RasterObject.Data#0=;", 0, "0 bytes"},
        BadCase{"StreamEndsInsideChunk", "Status?RasterObject.Data#10=abc", 7,
                "stream ends inside"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StreamParser, PicksUpAgainAfterGarbage)
{
    StreamParser p;
    p.feed("LockPrinter?xyzzyEvent=StartOfJob;CancelJob?");
    auto es = p.finish();
    EXPECT_EQ(kinds(es), (std::vector<ElementKind>{ElementKind::Lock, ElementKind::Garbage,
                                                   ElementKind::StartOfJob, ElementKind::Cancel}));
    EXPECT_EQ(es[1].text, "xyzzy");
    EXPECT_EQ(p.errors().size(), 1u);
}

TEST(StreamParser, KindNamesAndTextsAreAccepted)
{
    ElementKind k;
    ASSERT_TRUE(kindFromName("LockPrinter?", k));
    EXPECT_EQ(k, ElementKind::Lock);
    ASSERT_TRUE(kindFromName("end_of_page", k));
    EXPECT_EQ(k, ElementKind::EndOfPage);
    EXPECT_STREQ(kindName(ElementKind::Unlock), "unlock");
    EXPECT_FALSE(kindFromName("Lock", k));
}

}  // namespace
}  // namespace rvtsim

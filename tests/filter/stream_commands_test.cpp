// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The print stream: job header, page header and the counted data chunks.
#include "command_stream.h"
#include "job_settings.h"
#include "scripted_connection.h"

#include <cstdio>
#include <cups/sidechannel.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace rvt::test {
namespace {

struct JobHeaderCase {
    int media;
    int duplex;
    int tray;
    std::string copies;
    std::string header;
    std::vector<std::string> logLines;
};

class JobHeaderTest : public ::testing::TestWithParam<JobHeaderCase> {};

TEST_P(JobHeaderTest, WritesFieldsInOrderAsOneCommand)
{
    const JobHeaderCase& c = GetParam();
    ScriptedConnection conn;
    MemoryLog log;
    CommandStream stream(conn, log.log());
    JobSettings job;
    job.isMediaType = c.media;
    job.isDuplex = c.duplex;
    job.isInputSlot = c.tray;
    job.jobCopies = c.copies;

    stream.sendJobHeader(job);

    ASSERT_EQ(conn.elements.size(), 1u);
    EXPECT_EQ(conn.elements[0], c.header);
    EXPECT_EQ(conn.drainRequests, 1);
    std::string expectedLog =
        "DEBUG:[RVT4410LW]************ send job header*************************\n\n";
    for (const std::string& line : c.logLines)
        expectedLog += line;
    expectedLog += "DEBUG:[RVT4410LW] sned cmd = " + c.header + "\n";
    expectedLog += "DEBUG:[RVT4410LW]send job header info : " + c.header + " \n";
    EXPECT_EQ(log.text(), expectedLog);
}

const std::string kMediaPlainLog = "DEBUG:[RVT4410LW]MediaType=plain(NULL);\n";
const std::string kOneSidedLog = "DEBUG:[RVT4410LW]Sides=OneSided;\n";
const std::string kAutoLog = "DEBUG:[RVT4410LW]MediaInputTrayCheck=auto;\n";

INSTANTIATE_TEST_SUITE_P(
    Fields, JobHeaderTest,
    ::testing::Values(
        JobHeaderCase{0,
                      0,
                      0,
                      "1",
                      "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=1;"
                      "MediaInputTrayCheck=auto;",
                      {kMediaPlainLog, kOneSidedLog, "DEBUG:[RVT4410LW]##copies=1\n", kAutoLog}},
        JobHeaderCase{
            1,
            1,
            1,
            "2",
            "Resolution=600x600;MediaType=Thick;Sides=TwoSidedShortEdge;Copies=2;"
            "MediaInputTrayCheck=manual;",
            {"DEBUG:[RVT4410LW]MediaType=Thick;\n", "DEBUG:[RVT4410LW]Sides=TwoSidedShortEdge;\n",
             "DEBUG:[RVT4410LW]##copies=2\n", "DEBUG:[RVT4410LW]MediaInputTrayCheck=manual;\n"}},
        JobHeaderCase{
            2,
            2,
            2,
            "1",
            "Resolution=600x600;MediaType=Narrow;Sides=TwoSidedLongEdge;Copies=1;"
            "MediaInputTrayCheck=cassette;",
            {"DEBUG:[RVT4410LW]MediaType=Narrow;\n", "DEBUG:[RVT4410LW]Sides=TwoSidedLongEdge;\n",
             "DEBUG:[RVT4410LW]##copies=1\n", "DEBUG:[RVT4410LW]MediaInputTrayCheck=cassette;\n"}},
        // Trays 3 and 4 add no tray field; the header ends with the copies.
        JobHeaderCase{3,
                      0,
                      3,
                      "1",
                      "Resolution=600x600;MediaType=card;Sides=OneSided;Copies=1;",
                      {"DEBUG:[RVT4410LW]MediaType=recycled;\n", kOneSidedLog,
                       "DEBUG:[RVT4410LW]##copies=1\n"}},
        JobHeaderCase{
            4,
            0,
            4,
            "1",
            "Resolution=600x600;MediaType=envelope;Sides=OneSided;Copies=1;",
            {"DEBUG:[RVT4410LW]MediaType=cover;\n", kOneSidedLog, "DEBUG:[RVT4410LW]##copies=1\n"}},
        // Out-of-range codes: plain paper, long-edge duplex.
        JobHeaderCase{7,
                      5,
                      0,
                      "1",
                      "Resolution=600x600;MediaType=plain;Sides=TwoSidedLongEdge;Copies=1;"
                      "MediaInputTrayCheck=auto;",
                      {"DEBUG:[RVT4410LW]MediaType=plain;\n",
                       "DEBUG:[RVT4410LW]Sides=TwoSidedLongEdge;\n",
                       "DEBUG:[RVT4410LW]##copies=1\n", kAutoLog}},
        // The copies text is written as it came, "%" and all.
        JobHeaderCase{
            0,
            0,
            0,
            "3%s%d",
            "Resolution=600x600;MediaType=plain;Sides=OneSided;Copies=3%s%d;"
            "MediaInputTrayCheck=auto;",
            {kMediaPlainLog, kOneSidedLog, "DEBUG:[RVT4410LW]##copies=3%s%d\n", kAutoLog}}));

struct PageHeaderCase {
    std::string pageSize;
    int width;
    int height;
    std::string header;
    std::string logLine;
    int storedWidth;
};

class PageHeaderTest : public ::testing::TestWithParam<PageHeaderCase> {};

TEST_P(PageHeaderTest, DeclaresMediaAndWholeByteWidth)
{
    const PageHeaderCase& c = GetParam();
    ScriptedConnection conn;
    MemoryLog log;
    CommandStream stream(conn, log.log());
    JobSettings job;
    job.pageSize = c.pageSize;
    job.pageWidth = c.width;
    job.pageHeight = c.height;

    stream.sendPageHeader(job);

    ASSERT_EQ(conn.elements.size(), 1u);
    EXPECT_EQ(conn.elements[0], c.header);
    EXPECT_EQ(job.pageWidth, c.storedWidth);
    EXPECT_EQ(job.pageHeight, c.height);
    EXPECT_EQ(log.text(),
              "DEBUG:[RVT4410LW]************ send page header*************************\n\n" +
                  c.logLine + "DEBUG:[RVT4410LW] sned cmd = " + c.header + "\n" +
                  "DEBUG:[RVT4410LW]send page header info : " + c.header + " \n");
}

std::string raster(int w, int h)
{
    return "RasterObject.Width=" + std::to_string(w) + ";RasterObject.Height=" + std::to_string(h) +
           ";";
}

INSTANTIATE_TEST_SUITE_P(
    MediaSizes, PageHeaderTest,
    ::testing::Values(
        PageHeaderCase{"A4", 4960, 7016, "MediaSize=na_a4_210x297mm;" + raster(4960, 7016),
                       "DEBUG:[RVT4410LW]MediaSize=na_a4_210x297mm;\n", 4960},
        PageHeaderCase{"A5", 3496, 4960, "MediaSize=na_a5_148x210mm;" + raster(3496, 4960),
                       "DEBUG:[RVT4410LW]MediaSize=na_a5_148x210mm;\n", 3496},
        PageHeaderCase{"A6", 2480, 3496, "MediaSize=na_a6_105x148mm;" + raster(2480, 3496),
                       "DEBUG:[RVT4410LW]MediaSize=na_a6_105x148mm;\n", 2480},
        PageHeaderCase{"B5", 4299, 6070, "MediaSize=na_b5_182x257mm;" + raster(4304, 6070),
                       "DEBUG:[RVT4410LW]MediaSize=na_b5_182x257mm;\n", 4304},
        PageHeaderCase{"B6", 3023, 4299, "MediaSize=na_b6_128x182mm;" + raster(3024, 4299),
                       "DEBUG:[RVT4410LW]MediaSize=na_b6_128x182mm;\n", 3024},
        PageHeaderCase{"16K", 4606, 6378, "MediaSize=na_16k_195x270mm;" + raster(4608, 6378),
                       "DEBUG:[RVT4410LW]MediaSize=na_16k_195x270mm(else);\n", 4608},
        PageHeaderCase{"Custom.595.28x841.89", 4961, 7016,
                       "MediaSize=na_16k_195x270mm;" + raster(4968, 7016),
                       "DEBUG:[RVT4410LW]MediaSize=na_16k_195x270mm(else);\n", 4968},
        PageHeaderCase{"32K", 3188, 4606, "MediaSize=na_32k_135x195mm;" + raster(3192, 4606),
                       "DEBUG:[RVT4410LW]MediaSize=na_32k_135x195mm;\n", 3192},
        // Letter and 85x170mm log without a line end.
        PageHeaderCase{"Letter", 5100, 6600, "MediaSize=na_LETTER_216x279mm;" + raster(5104, 6600),
                       "DEBUG:[RVT4410LW]MediaSize=na_letter_216x279mm;", 5104},
        PageHeaderCase{"85x170mm", 2007, 4015, "MediaSize=na_bank_85x170mm;" + raster(2008, 4015),
                       "DEBUG:[RVT4410LW]MediaSize=na_bank_85x170mm;", 2008},
        PageHeaderCase{"Legal", 5100, 8400, "MediaSize=na_a4_210x297mm;" + raster(5104, 8400),
                       "DEBUG:[RVT4410LW]MediaSize=na_a4_210x297mm(other);\n", 5104},
        // Keywords are compared exactly.
        PageHeaderCase{"a4", 16, 8, "MediaSize=na_a4_210x297mm;" + raster(16, 8),
                       "DEBUG:[RVT4410LW]MediaSize=na_a4_210x297mm(other);\n", 16},
        PageHeaderCase{"A4", 1, 1, "MediaSize=na_a4_210x297mm;" + raster(8, 1),
                       "DEBUG:[RVT4410LW]MediaSize=na_a4_210x297mm;\n", 8}));

class PageDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/rvt-stream-test-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir_ = templ;
    }
    void TearDown() override
    {
        std::remove(path().c_str());
        rmdir(dir_.c_str());
    }
    std::string path() const { return dir_ + "/jbig-0001"; }
    // A page file of `size` bytes that uses every byte value, ";" and "=" included.
    std::string writeFile(size_t size)
    {
        std::string bytes;
        for (size_t i = 0; i < size; ++i)
            bytes.push_back(static_cast<char>((i * 7 + 59) % 256));
        FILE* f = std::fopen(path().c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return bytes;
    }
    std::string dir_;
};

TEST_F(PageDataTest, CutsThePageFileIntoCountedChunks)
{
    for (size_t size :
         {size_t{0}, size_t{1}, size_t{4096}, size_t{4097}, size_t{5000}, size_t{8192}}) {
        SCOPED_TRACE(size);
        const std::string bytes = writeFile(size);
        ScriptedConnection conn;
        MemoryLog log;
        CommandStream stream(conn, log.log());

        EXPECT_EQ(stream.sendPageData(path()), kPageDataSent);

        std::string expected;
        size_t chunks = 0;
        for (size_t at = 0; at < size; at += 4096, ++chunks) {
            size_t n = std::min<size_t>(4096, size - at);
            expected += "RasterObject.Data#" + std::to_string(n) + "=" + bytes.substr(at, n) + ";";
        }
        EXPECT_EQ(conn.output, expected);
        EXPECT_EQ(conn.elements.size(), chunks);
        EXPECT_EQ(conn.drainRequests, static_cast<int>(chunks));
        EXPECT_TRUE(log.contains("DEBUG:[RVT4410LW]start to send page : " + path() + "\n"));
        EXPECT_TRUE(log.contains("DEBUG:[RVT4410LW]read jbig file and readsize = 0\n"));
    }
}

TEST_F(PageDataTest, MissingPageFileIsReportedAndNothingWritten)
{
    ScriptedConnection conn;
    MemoryLog log;
    CommandStream stream(conn, log.log());
    EXPECT_EQ(stream.sendPageData(dir_ + "/jbig-0009"), kPageDataUnavailable);
    EXPECT_TRUE(conn.output.empty());
    EXPECT_TRUE(log.contains("DEBUG:[RVT4410LW]can not open file " + dir_ +
                             "/jbig-0009, goto loopendPage and CancelJob;\n"));
}

TEST_F(PageDataTest, DrainFailuresAreLoggedAndSendingGoesOn)
{
    writeFile(4 * 4096);
    ScriptedConnection conn;
    conn.drainStatuses = {CUPS_SC_STATUS_TIMEOUT, CUPS_SC_STATUS_IO_ERROR,
                          CUPS_SC_STATUS_NO_RESPONSE, CUPS_SC_STATUS_OK};
    MemoryLog log;
    CommandStream stream(conn, log.log());
    EXPECT_EQ(stream.sendPageData(path()), kPageDataSent);
    EXPECT_EQ(conn.elements.size(), 4u);
    EXPECT_TRUE(log.contains("DEBUG:[RVT4410LW] write data to stdout time out \n"));
    EXPECT_TRUE(log.contains("DEBUG:[RVT4410LW] write data to stdout IO Error \n"));
    EXPECT_TRUE(log.contains("DEBUG:[RVT4410LW] write data to stdout no response \n"));
}

TEST_F(PageDataTest, TerminationStopsBetweenChunks)
{
    writeFile(3 * 4096);
    ScriptedConnection conn;
    conn.onWrite = [&](const std::string&) { conn.terminate = true; };
    MemoryLog log;
    CommandStream stream(conn, log.log());
    EXPECT_EQ(stream.sendPageData(path()), kPageDataStopped);
    // The chunk under way is whole; the rest of the page is not sent.
    ASSERT_EQ(conn.elements.size(), 1u);
    EXPECT_EQ(conn.elements[0].size(), std::string("RasterObject.Data#4096=").size() + 4096 + 1);
    EXPECT_FALSE(stream.broken());
}

TEST(CommandStreamTest, WriteErrorStopsTheStream)
{
    ScriptedConnection conn;
    conn.writesBeforeFailure = 1;
    MemoryLog log;
    CommandStream stream(conn, log.log());
    stream.startOfJob();
    EXPECT_FALSE(stream.broken());
    EXPECT_EQ(stream.sendCmd("Event=EndOfJob;"), CUPS_SC_STATUS_IO_ERROR);
    EXPECT_TRUE(stream.broken());
    stream.endOfJob();
    EXPECT_EQ(conn.output, "Event=StartOfJob;");
    EXPECT_EQ(conn.drainRequests, 1);
    EXPECT_TRUE(log.contains("backend gone"));
}

TEST(CommandStreamTest, EndOfJobLogsProgressLine)
{
    ScriptedConnection conn;
    MemoryLog log;
    CommandStream stream(conn, log.log());
    stream.endOfJob();
    EXPECT_EQ(conn.output, "Event=EndOfJob;");
    EXPECT_EQ(log.text(), "DEBUG:[RVT4410LW] sned cmd = Event=EndOfJob;\n"
                          "打印数据已完成发送，等待打印机打印完成\n");
}

}  // namespace
}  // namespace rvt::test

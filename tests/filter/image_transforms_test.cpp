#include "image_test_support.h"
#include "jbig_page.h"
#include "job_settings.h"
#include "page_files.h"
#include "transforms.h"

#include <gtest/gtest.h>

#include <vector>

namespace rvt {
namespace {

using test_support::CapturedLog;
using test_support::decodeFile;
using test_support::Decoded;
using test_support::pageFrom;

struct TransformCase {
    const char* name;
    bool flip;  // mirrorGrayPage1 instead of mirrorGrayPage
    int width;
    int height;
    std::vector<uint8_t> src;
    std::vector<uint8_t> expected;
};

class ImageTransforms : public ::testing::TestWithParam<TransformCase> {};

TEST_P(ImageTransforms, GivesTheExpectedPage)
{
    const TransformCase& c = GetParam();
    JobSettings job;
    CapturedLog log;
    std::vector<uint8_t> dst(c.src.size(), 0xAA);
    if (c.flip)
        mirrorGrayPage1(pageFrom(c.src), dst.data(), c.width, c.height, job, log.log());
    else
        mirrorGrayPage(pageFrom(c.src), dst.data(), c.width, c.height, job, log.log());
    EXPECT_EQ(dst, c.expected);
    EXPECT_EQ(job.isCanceled, 0);
    EXPECT_EQ(log.text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ImageTransforms,
    ::testing::Values(
        TransformCase{"MirrorEveryRow", false, 3, 2, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}},
        TransformCase{"MirrorEvenWidth", false, 4, 1, {1, 2, 3, 4}, {4, 3, 2, 1}},
        TransformCase{"MirrorWidthOneIsACopy", false, 1, 3, {7, 8, 9}, {7, 8, 9}},
        TransformCase{"FlipColumn", true, 1, 3, {1, 2, 3}, {3, 2, 1}},
        TransformCase{"FlipSingleRowIsACopy", true, 3, 1, {1, 2, 3}, {1, 2, 3}},
        TransformCase{"FlipEvenHeight", true, 2, 4, {1, 2, 3, 4, 5, 6, 7, 8},
                      {7, 8, 5, 6, 3, 4, 1, 2}}),
    [](const ::testing::TestParamInfo<TransformCase>& info) { return info.param.name; });

TEST(ImageTransforms, MissingDestinationCancelsTheJob)
{
    for (bool flip : {false, true}) {
        JobSettings job;
        CapturedLog log;
        if (flip)
            mirrorGrayPage1(pageFrom({1, 2, 3, 4}), nullptr, 2, 2, job, log.log());
        else
            mirrorGrayPage(pageFrom({1, 2, 3, 4}), nullptr, 2, 2, job, log.log());
        EXPECT_EQ(job.isCanceled, 1) << "flip " << flip;
        EXPECT_EQ(log.text(), "DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
    }
}

TEST(ImageBlankPage, WritesAnAllWhitePageFileOfTheLastPageSize)
{
    CapturedLog log;
    test_support::TempDir tmp;
    auto files = PageFiles::create(tmp.path().c_str(), log.log());
    ASSERT_TRUE(files);
    JobSettings job;
    job.pageWidth = 4961;
    job.pageHeight = 75;
    createBlankPage(4, job, *files, log.log());
    EXPECT_EQ(job.isCanceled, 0);

    const Decoded d = decodeFile(files->pathFor(4));
    EXPECT_EQ(d.width, 4961u);
    EXPECT_EQ(d.height, 75u);
    ASSERT_EQ(d.bits.size(), 621u * 75u);
    for (uint8_t b : d.bits)
        ASSERT_EQ(b, 0);
}

TEST(ImageBlankPage, NoPageSizeCancelsWithoutAFile)
{
    CapturedLog log;
    test_support::TempDir tmp;
    auto files = PageFiles::create(tmp.path().c_str(), log.log());
    ASSERT_TRUE(files);
    JobSettings job;  // no page was read: 0 x 0
    createBlankPage(2, job, *files, log.log());
    EXPECT_EQ(job.isCanceled, 1);
    EXPECT_NE(log.text().find("blank page"), std::string::npos);
    EXPECT_TRUE(test_support::readFile(files->pathFor(2)).empty());
}

}  // namespace
}  // namespace rvt

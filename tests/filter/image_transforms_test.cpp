// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "image_test_support.h"
#include "job_settings.h"
#include "page_files.h"
#include "transforms.h"

#include <gtest/gtest.h>

namespace rvt {
namespace {

using test::MemoryLog;

struct TransformCase {
    const char* name;
    bool flip;  // mirrorGrayPage1 instead of mirrorGrayPage
    int width, height;
    std::vector<uint8_t> src, expected;
};

class ImageTransforms : public ::testing::TestWithParam<TransformCase> {};

TEST_P(ImageTransforms, GivesTheExpectedPage)
{
    const TransformCase& c = GetParam();
    JobSettings job;
    MemoryLog log;
    std::vector<uint8_t> dst(c.src.size(), 0xAA);
    auto transform = c.flip ? mirrorGrayPage1 : mirrorGrayPage;
    transform(test_support::pageFrom(c.src), dst.data(), c.width, c.height, job, log.log());
    EXPECT_EQ(dst, c.expected);
    EXPECT_EQ(job.isCanceled, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ImageTransforms,
    ::testing::Values(
        TransformCase{"MirrorEveryRow", false, 3, 2, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}},
        TransformCase{"MirrorEvenWidth", false, 4, 1, {1, 2, 3, 4}, {4, 3, 2, 1}},
        TransformCase{"MirrorWidthOneIsACopy", false, 1, 3, {7, 8, 9}, {7, 8, 9}},
        TransformCase{"FlipColumn", true, 1, 3, {1, 2, 3}, {3, 2, 1}},
        TransformCase{"FlipSingleRowIsACopy", true, 3, 1, {1, 2, 3}, {1, 2, 3}},
        TransformCase{
            "FlipEvenHeight", true, 2, 4, {1, 2, 3, 4, 5, 6, 7, 8}, {7, 8, 5, 6, 3, 4, 1, 2}}),
    [](const ::testing::TestParamInfo<TransformCase>& info) { return info.param.name; });

TEST(ImageTransforms, MissingDestinationCancelsTheJob)
{
    for (auto transform : {mirrorGrayPage, mirrorGrayPage1}) {
        JobSettings job;
        MemoryLog log;
        transform(test_support::pageFrom({1, 2, 3, 4}), nullptr, 2, 2, job, log.log());
        EXPECT_EQ(job.isCanceled, 1);
        EXPECT_EQ(log.text(), "DEBUG:[RVT4410LW]:allocate zoom page image memory failed\n");
    }
}

TEST(ImageBlankPage, IsAnAllWhitePageFileOfTheLastPageSize)
{
    test_support::TempDir tmp;
    MemoryLog log;
    auto files = PageFiles::create(tmp.path.c_str(), log.log());
    ASSERT_TRUE(files);
    JobSettings job;
    job.pageWidth = 4961;
    job.pageHeight = 75;
    createBlankPage(4, job, *files, log.log());
    EXPECT_EQ(job.isCanceled, 0);
    const test_support::Decoded d = test_support::decodeFile(files->pathFor(4));
    EXPECT_EQ(d.width, 4961u);
    EXPECT_EQ(d.height, 75u);
    EXPECT_EQ(d.bits, std::vector<uint8_t>(621 * 75, 0));

    // Before any page was read there is no size: no file, the job is canceled.
    job.pageWidth = job.pageHeight = 0;
    createBlankPage(2, job, *files, log.log());
    EXPECT_EQ(job.isCanceled, 1);
    EXPECT_TRUE(test_support::readFile(files->pathFor(2)).empty());
}

}  // namespace
}  // namespace rvt

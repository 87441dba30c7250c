// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "image_files.h"
#include "jbig_decode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
extern "C" {
#include <jbig.h>
}

namespace rvtsim {
namespace {

void collect(unsigned char* data, size_t len, void* out)
{
    static_cast<std::string*>(out)->append(reinterpret_cast<char*>(data), len);
}

// A BIE made by JBIG-KIT's encoder with its initial parameters.
std::string encode(Bitmap& page)
{
    std::string bie;
    unsigned char* planes[1] = {page.bits.data()};
    jbg_enc_state s;
    jbg_enc_init(&s, page.width, page.height, 1, planes, collect, &bie);
    jbg_enc_out(&s);
    jbg_enc_free(&s);
    return bie;
}

Bitmap randomPage(uint32_t w, uint32_t h, unsigned seed)
{
    Bitmap b;
    b.width = w;
    b.height = h;
    b.bits.resize(b.rowBytes() * h);
    std::mt19937 rnd(seed);
    for (auto& v : b.bits)
        v = static_cast<uint8_t>(rnd());
    // Padding bits stay 0, as a screened page has them.
    if (w % 8)
        for (uint32_t y = 0; y < h; ++y)
            b.bits[y * b.rowBytes() + b.rowBytes() - 1] &= static_cast<uint8_t>(0xFF
                                                                                << (8 - w % 8));
    return b;
}

TEST(JbigDecode, GivesBackWhatTheEncoderTook)
{
    struct Size {
        uint32_t w, h;
    };
    for (Size s :
         {Size{1, 1}, Size{7, 3}, Size{8, 70}, Size{9, 69}, Size{301, 200}, Size{4961, 5}}) {
        Bitmap page = randomPage(s.w, s.h, s.w * 31 + s.h);
        Bitmap original = page;
        std::string bie = encode(page);
        DecodeResult r = decodeBie(bie);
        ASSERT_TRUE(r.ok) << s.w << "x" << s.h << ": " << r.error;
        EXPECT_EQ(r.page.width, s.w);
        EXPECT_EQ(r.page.height, s.h);
        EXPECT_EQ(r.page.bits, original.bits) << s.w << "x" << s.h;
        EXPECT_EQ(r.header.xd, s.w);
        EXPECT_EQ(r.header.yd, s.h);
        EXPECT_EQ(r.header.order, 0x03);
        EXPECT_EQ(r.header.options, 0x1C);
    }
}

TEST(JbigDecode, RefusesBrokenEntities)
{
    Bitmap page = randomPage(64, 64, 7);
    std::string bie = encode(page);
    struct Case {
        const char* name;
        std::string bytes;
        const char* error;
    };
    std::string twoPlanes = bie;
    twoPlanes[2] = 2;
    const Case cases[] = {
        {"empty", "", "shorter than its 20-byte header"},
        {"header only", bie.substr(0, 20), "ends before the image is complete"},
        {"cut short", bie.substr(0, bie.size() - 5), "ends before"},
        {"trailing bytes", bie + "xyz", "3 bytes after the end"},
        {"two planes", twoPlanes, "2 planes"},
    };
    for (const auto& c : cases) {
        DecodeResult r = decodeBie(c.bytes);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_NE(r.error.find(c.error), std::string::npos) << c.name << ": " << r.error;
    }
    // A header announcing a huge or empty page is refused, not allocated.
    std::string huge = bie;
    huge[4] = 0x7F;
    EXPECT_NE(decodeBie(huge).error.find("announces a page of 2130706496 x 64"), std::string::npos);
    std::string tall = bie;
    tall[9] = 0x7F;
    EXPECT_FALSE(decodeBie(tall).ok);
    std::string empty = bie;
    empty[7] = 0;
    EXPECT_NE(decodeBie(empty).error.find("page of 0 x 64"), std::string::npos);
}

TEST(JbigDecode, ReadsTheEntitiesOfJbigKitsCommandLineEncoder)
{
    namespace fs = std::filesystem;
    if (std::system("command -v pbmtojbg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "pbmtojbg (jbigkit-bin) not installed";
    fs::path dir = fs::temp_directory_path() / ("sim-jbig-" + std::to_string(getpid()));
    fs::create_directories(dir);
    Bitmap page = randomPage(203, 150, 3);
    ASSERT_TRUE(writePbm((dir / "in.pbm").string(), page));
    std::string cmd = "pbmtojbg " + (dir / "in.pbm").string() + " " + (dir / "out.jbg").string();
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    FILE* f = std::fopen((dir / "out.jbg").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string bie;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        bie.append(buf, n);
    std::fclose(f);
    DecodeResult r = decodeBie(bie);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.page.bits, page.bits);

    // And the page files round-trip.
    ASSERT_TRUE(writePbm((dir / "back.pbm").string(), r.page));
    Bitmap back;
    ASSERT_TRUE(readPbm((dir / "back.pbm").string(), back));
    EXPECT_EQ(back.bits, page.bits);
    EXPECT_TRUE(writePng((dir / "back.png").string(), r.page));
    EXPECT_GT(fs::file_size(dir / "back.png"), 50u);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace rvtsim

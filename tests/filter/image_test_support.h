// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Helpers shared by the image, JBIG and diagnostics tests.
#pragma once

#include "memory_log.h"
#include "page_buffer.h"

// JBIG-KIT's header has no C++ linkage block of its own.
extern "C" {
#include <jbig.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace rvt::test_support {

inline PageBuffer pageFrom(const std::vector<uint8_t>& bytes)
{
    PageBuffer p = allocatePage(bytes.size());
    std::memcpy(p.get(), bytes.data(), bytes.size());
    return p;
}

// A temporary directory, removed with its files.
struct TempDir {
    std::string path = [] {
        char templ[] = "/tmp/rvt-img-test-XXXXXX";
        return std::string(mkdtemp(templ) ? templ : "");
    }();
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

inline std::vector<uint8_t> readFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF)
            bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
    }
    return bytes;
}

// A page file decoded with JBIG-KIT's decoder; size 0 x 0 when it is not one
// complete image entity.
struct Decoded {
    unsigned long width = 0;
    unsigned long height = 0;
    std::vector<uint8_t> bits;
};

inline Decoded decodeFile(const std::string& path)
{
    std::vector<uint8_t> bie = readFile(path);
    Decoded d;
    jbg_dec_state state;
    jbg_dec_init(&state);
    size_t used = 0;
    if (jbg_dec_in(&state, bie.data(), bie.size(), &used) == JBG_EOK) {
        d.width = jbg_dec_getwidth(&state);
        d.height = jbg_dec_getheight(&state);
        const uint8_t* img = jbg_dec_getimage(&state, 0);
        d.bits.assign(img, img + jbg_dec_getsize(&state));
    }
    jbg_dec_free(&state);
    return d;
}

}  // namespace rvt::test_support

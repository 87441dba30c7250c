// Helpers shared by the image, JBIG and diagnostics tests.
#pragma once

#include "log.h"
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

// A log stream in memory.
class CapturedLog {
public:
    CapturedLog() : file_(open_memstream(&buf_, &len_)), log_(file_) {}
    ~CapturedLog()
    {
        std::fclose(file_);
        std::free(buf_);
    }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    Log& log() { return log_; }
    FILE* file() { return file_; }
    std::string text()
    {
        std::fflush(file_);
        return std::string(buf_, len_);
    }

private:
    char* buf_ = nullptr;
    size_t len_ = 0;
    FILE* file_;
    Log log_;
};

inline PageBuffer pageFrom(const std::vector<uint8_t>& bytes)
{
    PageBuffer p = allocatePage(bytes.size());
    std::memcpy(p.get(), bytes.data(), bytes.size());
    return p;
}

// A temporary directory, removed with its files.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline TempDir::TempDir()
{
    std::string templ = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                        "/rvt-img-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()))
        path_ = buf.data();
}

inline TempDir::~TempDir()
{
    std::error_code ignored;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ignored);
}

inline std::vector<uint8_t> readFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
    }
    return bytes;
}

// Decodes a page file with JBIG-KIT's decoder; empty when it is not one
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
    const int rc = jbg_dec_in(&state, bie.data(), bie.size(), &used);
    if (rc == JBG_EOK) {
        d.width = jbg_dec_getwidth(&state);
        d.height = jbg_dec_getheight(&state);
        const uint8_t* img = jbg_dec_getimage(&state, 0);
        d.bits.assign(img, img + jbg_dec_getsize(&state));
    }
    jbg_dec_free(&state);
    return d;
}

}  // namespace rvt::test_support

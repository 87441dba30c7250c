// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The backend's device URI: output directory and the printer's behaviour.
#include "cups_backend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace rvtsim {
namespace {

using K = ElementKind;

TEST(BackendUri, PathIsTheDirectoryAndTheQuerySetsThePrinter)
{
    struct Case {
        const char* uri;
        const char* dir;
    };
    for (const Case& c : {Case{"rvtsim:/var/tmp/out", "/var/tmp/out"},
                          Case{"rvtsim:///var/tmp/out", "/var/tmp/out"},
                          Case{"rvtsim://localhost/var/tmp/out?", "/var/tmp/out"},
                          Case{"rvtsim:/tmp/two%20words", "/tmp/two words"}}) {
        BackendUri u;
        EXPECT_EQ(parseBackendUri(c.uri, u), "") << c.uri;
        EXPECT_EQ(u.outDir, c.dir) << c.uri;
        EXPECT_TRUE(u.preview);
        EXPECT_FALSE(u.decodeAfter);
        EXPECT_EQ(u.script.replyFor(K::Lock, 1), Reply("2")) << "defaults grant the lock";
    }

    BackendUri u;
    ASSERT_EQ(parseBackendUri("rvtsim:/o?lock-replies=5,-,2&eop-reply=2=4&eop-reply=3=-"
                              "&connected=3,1&drain-delay=150&reply-delay=end_of_page=40"
                              "&unlock-replies=0,4&preview=0&decode-after=1",
                              u),
              "");
    EXPECT_EQ(u.script.replyFor(K::Lock, 1), Reply("5"));
    EXPECT_EQ(u.script.replyFor(K::Lock, 2), std::nullopt);
    EXPECT_EQ(u.script.replyFor(K::Lock, 3), Reply("2"));
    EXPECT_EQ(u.script.replyFor(K::EndOfPage, 1), Reply("0"));
    EXPECT_EQ(u.script.replyFor(K::EndOfPage, 2), Reply("4"));
    EXPECT_EQ(u.script.replyFor(K::EndOfPage, 3), std::nullopt);
    EXPECT_EQ(u.script.replyFor(K::Unlock, 2), Reply("4"));
    EXPECT_EQ(u.script.connected, (std::vector<int>{3, 1}));
    EXPECT_EQ(u.script.drainDelayMs, std::vector<int>{150});
    EXPECT_EQ(u.script.replyDelayMs[K::EndOfPage], 40);
    EXPECT_FALSE(u.preview);
    EXPECT_TRUE(u.decodeAfter);
}

TEST(BackendUri, ScriptFileIsReadFirstAndTheOtherKeysApplyOverIt)
{
    char path[] = "/tmp/rvtsim-uri-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << R"({"replies": {"lock": ["7"], "unlock": ["4"]}})";
    BackendUri u;
    // The shortcut comes before the script in the URI, and still wins.
    EXPECT_EQ(parseBackendUri(std::string("rvtsim:/o?lock-replies=2&script=") + path, u), "");
    EXPECT_EQ(u.script.replyFor(K::Lock, 1), Reply("2"));
    EXPECT_EQ(u.script.replyFor(K::Unlock, 1), Reply("4"));
    std::remove(path);
}

TEST(BackendUri, BadUrisAreRefusedWithAReason)
{
    for (const char* uri :
         {"usb:/var/tmp", "rvtsim:", "rvtsim:relative/dir", "rvtsim://printer.example/x",
          "rvtsim:/x?sigterm=lock:1", "rvtsim:/x?close-stream=ms:5", "rvtsim:/x?bogus=1",
          "rvtsim:/x?lock-replies", "rvtsim:/x%zz", "rvtsim:/x%2", "rvtsim:/x?preview=yes",
          "rvtsim:/x?decode-after=yes", "rvtsim:/x?eop-reply=4",
          "rvtsim:/x?script=/nonexistent/rvtsim.json"}) {
        BackendUri u;
        EXPECT_NE(parseBackendUri(uri, u), "") << uri;
    }
}

}  // namespace
}  // namespace rvtsim

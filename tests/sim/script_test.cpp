// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "script.h"
#include "side_channel.h"

#include <gtest/gtest.h>

namespace rvtsim {
namespace {

using K = ElementKind;

TEST(Script, DefaultsGrantEverything)
{
    Script s;
    EXPECT_EQ(s.replyFor(K::Lock, 1), Reply("2"));
    EXPECT_EQ(s.replyFor(K::EndOfPage, 9), Reply("0"));
    EXPECT_EQ(s.replyFor(K::Unlock, 1), Reply("3"));
    EXPECT_EQ(s.replyFor(K::Cancel, 1), Reply("0"));
    EXPECT_EQ(s.replyFor(K::StartOfJob, 1), std::nullopt);  // not an exchange
    EXPECT_EQ(s.connected, std::vector<int>{1});
}

TEST(Script, SequencesRepeatTheirLastReplyAndOccurrencesOverride)
{
    Script s;
    ASSERT_EQ(parseScript(R"({
        "replies": {"LockPrinter?": ["5", null, "2"], "unlock": null},
        "replies_at": {"end_of_page": {"2": "4", "3": null}},
        "reply_delay_ms": {"end_of_page": 3500},
        "connected": [3, 3, 1], "drain_delay_ms": 1500,
        "sigterm": {"after": "lock", "count": 2},
        "close_stream": {"page": 2, "chunk": 3},
        "timeout_s": 30
    })",
                          s),
              "");
    EXPECT_EQ(s.replyFor(K::Lock, 1), Reply("5"));
    EXPECT_EQ(s.replyFor(K::Lock, 2), std::nullopt);
    EXPECT_EQ(s.replyFor(K::Lock, 3), Reply("2"));
    EXPECT_EQ(s.replyFor(K::Lock, 7), Reply("2"));
    EXPECT_EQ(s.replyFor(K::Unlock, 1), std::nullopt);
    EXPECT_EQ(s.replyFor(K::EndOfPage, 1), Reply("0"));
    EXPECT_EQ(s.replyFor(K::EndOfPage, 2), Reply("4"));
    EXPECT_EQ(s.replyFor(K::EndOfPage, 3), std::nullopt);
    EXPECT_EQ(s.replyDelayMs[K::EndOfPage], 3500);
    EXPECT_EQ(s.connected, (std::vector<int>{3, 3, 1}));
    EXPECT_EQ(s.drainDelayMs, std::vector<int>{1500});
    EXPECT_EQ(s.sigterm.type, Trigger::Type::Element);
    EXPECT_EQ(s.sigterm.kind, K::Lock);
    EXPECT_EQ(s.sigterm.count, 2);
    EXPECT_EQ(s.closeStream.type, Trigger::Type::Chunk);
    EXPECT_EQ(s.closeStream.page, 2);
    EXPECT_EQ(s.closeStream.chunk, 3);
    EXPECT_DOUBLE_EQ(s.timeoutSeconds, 30);
}

TEST(Script, BadScriptsAreRefusedWithAReason)
{
    for (const char* text : {"{", R"({"replies": {"lunch": "2"}})", R"({"connected": []})",
                             R"({"sigterm": {"when": 3}})", R"({"connected": "one"})"}) {
        Script s;
        EXPECT_NE(parseScript(text, s), "") << text;
    }
}

TEST(Script, CommandLineTriggers)
{
    struct Case {
        const char* text;
        bool ok;
        Trigger::Type type;
    };
    const Case cases[] = {
        {"lock:2", true, Trigger::Type::Element},
        {"LockPrinter?:1", true, Trigger::Type::Element},
        {"chunk:1:3", true, Trigger::Type::Chunk},
        {"ms:1500", true, Trigger::Type::Delay},
        {"connected:2", true, Trigger::Type::Connected},
        {"connected", false, Trigger::Type::Never},
        {"lock", false, Trigger::Type::Never},
        {"chunk:x:1", false, Trigger::Type::Never},
        {"party:1", false, Trigger::Type::Never},
    };
    for (const auto& c : cases) {
        Trigger t;
        EXPECT_EQ(parseTrigger(c.text, t), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(t.type, c.type) << c.text;
        }
    }
    EXPECT_EQ(parseReplyList("5,-,2"), (std::vector<Reply>{"5", std::nullopt, "2"}));
    Trigger t;
    ASSERT_TRUE(parseTrigger("connected:3", t));
    EXPECT_EQ(t.count, 3);
}

TEST(Script, TriggersAfterAConnectionQueryAndAStalledStream)
{
    Script s;
    ASSERT_EQ(parseScript(R"({"connected": [3], "sigterm": {"after_connected": 2},
                              "close_stream": {"after_connected": 4},
                              "stall_stream": {"page": 2, "chunk": 1}})",
                          s),
              "");
    EXPECT_EQ(s.stallStream.type, Trigger::Type::Chunk);
    EXPECT_EQ(s.stallStream.page, 2);
    EXPECT_EQ(s.sigterm.type, Trigger::Type::Connected);
    EXPECT_EQ(s.sigterm.count, 2);
    EXPECT_EQ(s.closeStream.type, Trigger::Type::Connected);
    EXPECT_EQ(s.closeStream.count, 4);
}

TEST(SideChannel, MessagesRoundTripAndWaitForTheirData)
{
    std::string wire = encodeSideChannel({8, 1, std::string(1, '\1')}) +
                       encodeSideChannel({2, 3, std::string(300, 'x')});
    EXPECT_EQ(wire.substr(0, 5), std::string("\x08\x01\x00\x01\x01", 5));
    EXPECT_EQ(wire.substr(5, 4), std::string("\x02\x03\x01\x2C", 4));  // 300 big-endian
    std::string partial = wire.substr(0, wire.size() - 1);
    SideChannelMessage m;
    ASSERT_TRUE(takeSideChannel(partial, m));
    EXPECT_EQ(m.command, 8);
    EXPECT_EQ(m.data, "\1");
    EXPECT_FALSE(takeSideChannel(partial, m));  // one byte of the data missing
    partial += wire.back();
    ASSERT_TRUE(takeSideChannel(partial, m));
    EXPECT_EQ(m.status, 3);
    EXPECT_EQ(m.data.size(), 300u);
    EXPECT_TRUE(partial.empty());
}

}  // namespace
}  // namespace rvtsim

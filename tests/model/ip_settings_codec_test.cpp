// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "ip_settings_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tervane;

namespace {

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes addressReply(Bytes head, Bytes ip, Bytes mask, Bytes gateway)
{
    return concat({head, ip, mask, gateway});
}

}  // namespace

TEST(IPSettingsCodec, CommandLiteralsAreExactBytes)
{
    struct Case {
        std::string_view command;
        std::size_t length;
    };
    for (const Case& c : std::vector<Case>{{kCheckDHCPToggle, 16},
                                           {kCheckIP, 8},
                                           {kSetDHCPToggleOff, 18},
                                           {kSetDHCPToggleOn, 17},
                                           {kRestart, 8}}) {
        Bytes b = commandBytes(c.command);
        EXPECT_EQ(b.size(), c.length) << c.command;
        EXPECT_NE(b.back(), 0) << "no terminator after " << c.command;
    }
}

struct SetIPCase {
    const char* label;
    std::string ip, mask, gateway;
    Bytes payload;
    friend void PrintTo(const SetIPCase& c, std::ostream* os) { *os << c.label; }
};

class BuildSetIPCommand : public ::testing::TestWithParam<SetIPCase> {};

TEST_P(BuildSetIPCommand, EncodesOneBytePerComponent)
{
    const SetIPCase& c = GetParam();
    auto cmd = buildSetIPCommand(c.ip, c.mask, c.gateway);
    ASSERT_TRUE(cmd.has_value());
    EXPECT_EQ(*cmd, concat({bytesOf("SetIP="), c.payload, bytesOf(";")}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildSetIPCommand,
    ::testing::Values(
        SetIPCase{"full",
                  "192.168.1.20",
                  "255.255.255.0",
                  "192.168.1.1",
                  {0xC0, 0xA8, 0x01, 0x14, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01, 0x01}},
        SetIPCase{"semicolon_octet",
                  "10.0.0.59",
                  "255.0.0.0",
                  "10.0.0.1",
                  {0x0A, 0x00, 0x00, 0x3B, 0xFF, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x01}},
        SetIPCase{"empty_texts", "", "", "", {}},
        SetIPCase{"empty_pieces_dropped", "1..2", "", ".3.", {1, 2, 3}},
        SetIPCase{"three_and_five_components", "1.2.3", "4.5.6.7.8", "", {1, 2, 3, 4, 5, 6, 7, 8}},
        SetIPCase{"leading_zero_and_blanks",
                  "010. 7.+8.9x",
                  "0.0.0.0",
                  "abc.1.1.1",
                  {10, 7, 8, 9, 0, 0, 0, 0, 0, 1, 1, 1}},
        SetIPCase{"bounds", "0.255.-0.255", "", "", {0, 255, 0, 255}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(IPSettingsCodec, BuildSetIPCommandFullAddressesIsNineteenBytes)
{
    auto cmd = buildSetIPCommand("192.168.1.20", "255.255.255.0", "192.168.1.1");
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->size(), 19u);
    EXPECT_EQ(cmd->back(), ';');
}

TEST(IPSettingsCodec, BuildSetIPCommandRefusesWhatOneByteCannotHold)
{
    // Out-of-range components are refused rather than wrapped to a byte.
    struct Case {
        std::string ip, mask, gateway;
    };
    for (const Case& c : std::vector<Case>{{"192.168.1.256", "255.255.255.0", "192.168.1.1"},
                                           {"192.168.1.2", "255.255.255.0", "-1.0.0.1"},
                                           {"1.2.3.4", "99999999999999999999.0.0.0", "1.1.1.1"},
                                           {"1.2.3.4", "4.3.2.1", "1.1.1.1000"}}) {
        EXPECT_FALSE(buildSetIPCommand(c.ip, c.mask, c.gateway).has_value())
            << c.ip << " " << c.mask << " " << c.gateway;
    }
}

TEST(IPSettingsCodec, ParseIPReplyTakesTheLastTwelveOfEighteenBytes)
{
    struct Case {
        const char* label;
        Bytes reply;
        IPSettings expected;
    };
    const Bytes ip{0xC0, 0xA8, 0x01, 0x14}, mask{0xFF, 0xFF, 0xFF, 0x00},
        gw{0xC0, 0xA8, 0x01, 0x01};
    const std::vector<Case> cases{
        {"typical",
         addressReply(Bytes(6, 0x00), ip, mask, gw),
         {"192.168.1.20", "255.255.255.0", "192.168.1.1"}},
        {"head_ignored",
         addressReply(bytesOf("CheckI"), ip, mask, gw),
         {"192.168.1.20", "255.255.255.0", "192.168.1.1"}},
        {"head_ff",
         addressReply(Bytes(6, 0xFF), ip, mask, gw),
         {"192.168.1.20", "255.255.255.0", "192.168.1.1"}},
        {"all_zero", Bytes(18, 0), {"0.0.0.0", "0.0.0.0", "0.0.0.0"}},
        {"seventeen", Bytes(17, 7), {"", "", ""}},
        {"nineteen", Bytes(19, 7), {"", "", ""}},
        {"empty", Bytes{}, {"", "", ""}},
        {"sixty_four", Bytes(64, 1), {"", "", ""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseIPReply(c.reply), c.expected) << c.label;
    }
}

TEST(IPSettingsCodec, ReplyComparisonsAreByteExact)
{
    struct Case {
        const char* label;
        Bytes reply;
        std::string toggle;  // parseDHCPToggleReply
        bool setOK;          // isSetDHCPToggleOK
    };
    const std::vector<Case> cases{
        {"dhcp_on", bytesOf("DHCPToggle=On;"), "D", false},
        {"dhcp_off", bytesOf("DHCPToggle=Off;"), "S", false},
        {"dhcp_on_nul", concat({bytesOf("DHCPToggle=On;"), Bytes{0}}), "S", false},
        {"dhcp_on_lower", bytesOf("dhcptoggle=on;"), "S", false},
        {"empty", Bytes{}, "S", false},
        {"invalid_utf8", Bytes{0xFF, 0xFE, 0x80}, "S", false},
        {"set_ok", bytesOf("SetDHCPToggleOK;"), "S", true},
        {"set_ok_newline", bytesOf("SetDHCPToggleOK;\n"), "S", false},
        {"set_ok_truncated", bytesOf("SetDHCPToggleOK"), "S", false},
        {"set_ok_twice", bytesOf("SetDHCPToggleOK;SetDHCPToggleOK;"), "S", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseDHCPToggleReply(c.reply), c.toggle) << c.label;
        EXPECT_EQ(isSetDHCPToggleOK(c.reply), c.setOK) << c.label;
    }
}

TEST(IPSettingsCodec, DecodeAndDescribeForTheLog)
{
    struct Case {
        const char* label;
        Bytes bytes;
        std::string described;
    };
    const std::vector<Case> cases{
        {"ascii", bytesOf("DHCPToggle=On;"), "Optional(\"DHCPToggle=On;\")"},
        {"empty", Bytes{}, "Optional(\"\")"},
        {"nul_and_quote", Bytes{'a', 0, '"', '\\', '\n'}, "Optional(\"a\\0\\\"\\\\\\n\")"},
        {"two_byte_utf8", Bytes{0xC3, 0xA9}, "Optional(\"\xC3\xA9\")"},
        {"lone_continuation", Bytes{0x80}, "nil"},
        {"truncated_sequence", Bytes{'O', 0xE4, 0xB8}, "nil"},
        {"overlong", Bytes{0xC0, 0xAF}, "nil"},
        {"surrogate", Bytes{0xED, 0xA0, 0x80}, "nil"},
        {"beyond_unicode", Bytes{0xF4, 0x90, 0x80, 0x80}, "nil"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describeOptionalText(decodeUTF8(c.bytes)), c.described) << c.label;
    }
}

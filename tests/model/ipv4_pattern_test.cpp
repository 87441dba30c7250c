// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "ipv4_pattern.h"
#include "settings_check.h"

#include <QRegularExpression>
#include <QString>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tervane::kIPv4Pattern;
using tervane::matchesIPv4Pattern;

TEST(IPv4Pattern, FormCases)
{
    struct Case {
        std::string text;
        bool accepted;
    };
    const std::vector<Case> cases{
        {"192.168.1.20", true},    {"010.1.1.1", true},  {"0.0.0.0", true},
        {"255.255.255.255", true}, {"1.2.3.4", true},    {"192.168.1.256", false},
        {"1.2.3", false},          {"1.2.3.4 ", false},  {"1.2.3.4\n", false},
        {" 1.2.3.4", false},       {"1.2.3.4.5", false}, {"1..2.3", false},
        {"0255.1.1.1", false},     {"+1.2.3.4", false},  {"", false},
        {"1.2.3.", false},         {"300.1.1.1", false}, {"1.2.3.4x", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(matchesIPv4Pattern(c.text), c.accepted) << '"' << c.text << '"';
    }
}

TEST(IPv4Pattern, AgreesWithThePatternText)
{
    // Every combination of tricky components in every position, checked
    // against a regular-expression engine running the pattern itself.
    const QRegularExpression pattern(QString::fromLatin1(kIPv4Pattern));
    ASSERT_TRUE(pattern.isValid());
    const std::vector<std::string> parts{"",    "0",   "00",  "000",  "7",   "09",
                                         "099", "199", "200", "249",  "250", "255",
                                         "256", "260", "300", "1000", "a",   "1 "};
    int checked = 0;
    for (const std::string& a : parts) {
        for (const std::string& b : parts) {
            for (const std::string& tail :
                 {std::string(".1.1"), std::string(".1"), std::string(".1.1.1")}) {
                const std::string text = a + "." + b + tail;
                const bool expected = pattern.match(QString::fromStdString(text)).hasMatch();
                EXPECT_EQ(matchesIPv4Pattern(text), expected) << '"' << text << '"';
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 18 * 18 * 3);
}

TEST(SettingsCheck, FirstProblemInTheOrderTheFormShowsThem)
{
    struct Case {
        const char* ip;
        const char* mask;
        const char* gateway;
        const char* message;  // null: the settings pass
        bool format;
    };
    const std::vector<Case> cases{
        {"192.168.1.20", "255.255.255.0", "192.168.1.1", nullptr, false},
        // Any dotted quad passes as a mask.
        {"192.168.1.20", "1.2.3.4", "192.168.1.1", nullptr, false},
        // An empty field is reported before a malformed one.
        {"192.168.1.256", "", "192.168.1.1", "请选择打印机且将信息填写完整", false},
        {"192.168.1.20", "255.255.255.0", "", "请选择打印机且将信息填写完整", false},
        {"192.168.1.256", "255.255.255", "x", "IP格式错误", true},
        {"192.168.1.20", "255.255.255", "x", "子网掩码格式错误", true},
        {"192.168.1.20", "255.255.255.0", "192.168.1.1 ", "网关格式错误", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ip) + " " + c.mask + " " + c.gateway);
        const tervane::SettingsProblem problem = tervane::checkSettings(c.ip, c.mask, c.gateway);
        EXPECT_EQ(problem.message == nullptr ? std::string("(none)") : std::string(problem.message),
                  c.message == nullptr ? std::string("(none)") : std::string(c.message));
        EXPECT_EQ(problem.format, c.format);
    }
}

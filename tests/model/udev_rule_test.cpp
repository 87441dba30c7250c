// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The udev rule installed with the tool: every supported model's device node
// is handed to the logged-in user, in a rule udev can read.
#include "device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

// One key of a rule line: ATTR{idVendor}=="356c" gives key "ATTR",
// attribute "idVendor", operator "==", value "356c".
struct RuleKey {
    std::string key;
    std::string attribute;
    std::string op;
    std::string value;
};

// Splits a rule line at the commas between its keys (none occur inside the
// quoted values of this file); an empty result means a malformed key.
std::vector<RuleKey> parseLine(const std::string& line, std::string& error)
{
    static const std::regex keyPattern(
        R"re(^\s*([A-Z_]+)(?:\{([^{}"]+)\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*$)re");
    std::vector<RuleKey> keys;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t comma = line.find(',', start);
        const std::string part = line.substr(start, comma == std::string::npos ? std::string::npos
                                                                               : comma - start);
        std::smatch m;
        if (!std::regex_match(part, m, keyPattern)) {
            error = "malformed key: [" + part + "]";
            return {};
        }
        keys.push_back({m[1], m[2], m[3], m[4]});
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return keys;
}

std::string hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

}  // namespace

TEST(UdevRule, EverySupportedModelIsHandedToTheLoggedInUser)
{
    const std::filesystem::path path = TERVANE_UDEV_RULE;
    // systemd-logind acts on the "uaccess" tag in 73-seat-late.rules: the
    // tag must be set by a file that sorts before it.
    const std::string name = path.filename().string();
    ASSERT_TRUE(std::regex_match(name, std::regex(R"([0-9]{2}-.+\.rules)"))) << name;
    EXPECT_LT(std::stoi(name.substr(0, 2)), 73) << name;

    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::vector<std::vector<RuleKey>> rules;
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        ASSERT_TRUE(line.empty() || line.back() != '\\')
            << "line " << lineNumber << ": no continuations here";
        if (line.find_first_not_of(" \t") == std::string::npos ||
            line[line.find_first_not_of(" \t")] == '#') {
            continue;
        }
        std::string error;
        std::vector<RuleKey> keys = parseLine(line, error);
        ASSERT_FALSE(keys.empty()) << "line " << lineNumber << ": " << error;
        for (const RuleKey& k : keys) {
            // A single "=" on a match key would write the attribute instead
            // of comparing it.
            if (k.key == "SUBSYSTEM" || k.key == "ENV" || k.key == "ATTR" || k.key == "ACTION") {
                EXPECT_TRUE(k.op == "==" || k.op == "!=")
                    << "line " << lineNumber << ": " << k.key << k.op;
            }
        }
        rules.push_back(std::move(keys));
    }

    for (const tervane::BaseDevice& model : tervane::ORVIDevices) {
        SCOPED_TRACE(model.name);
        // sysfs writes the ids in lower-case hexadecimal, and udev compares
        // the texts.
        const std::map<std::string, std::string> wanted{
            {"SUBSYSTEM", "usb"},
            {"ENV{DEVTYPE}", "usb_device"},
            {"ATTR{idVendor}", hex4(model.VID)},
            {"ATTR{idProduct}", hex4(model.PID)},
        };
        bool granted = false;
        for (const auto& rule : rules) {
            std::map<std::string, std::string> matches;
            bool tagged = false;
            for (const RuleKey& k : rule) {
                const std::string key = k.attribute.empty() ? k.key
                                                            : k.key + "{" + k.attribute + "}";
                if (k.op == "==") {
                    matches[key] = k.value;
                } else if (k.key == "TAG" && k.op == "+=" && k.value == "uaccess") {
                    tagged = true;
                }
            }
            granted = granted || (tagged && matches == wanted);
        }
        EXPECT_TRUE(granted) << "no rule gives " << hex4(model.VID) << ":" << hex4(model.PID)
                             << " to the logged-in user";
    }
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// tervane-cli on the libusb backend, against a printer emulated at the
// kernel's usbfs interface with umockdev. The command lines run in this
// process (the emulation answers the caller's own memory), through the same
// entry the program uses.
#include "cli.h"
#include "umockdev_printer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using tervane::testing::EmulatedPrinter;
using tervane::testing::NetworkSettings;
using tervane::testing::ThreadWithoutFileAccessOverride;

struct CliRun {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

CliRun runCli(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "tervane-cli");
    std::vector<char*> argv;
    for (std::string& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    CliRun run;
    run.exitStatus = tervane::runTervaneCli(static_cast<int>(arguments.size()), argv.data());
    run.err = ::testing::internal::GetCapturedStderr();
    run.out = ::testing::internal::GetCapturedStdout();
    return run;
}

std::string sentText(const std::vector<tervane::testing::UsbfsCall>& calls)
{
    std::string text;
    for (const auto& call : calls) {
        if (call.what == "out") {
            text += std::string(call.data.begin(), call.data.end()) + "|";
        }
    }
    return text;
}

// The transfers on the printer's bulk pipes, in order: "out TEXT", "in" for
// a read submitted, "discard" for a read given up on its time-out.
std::string transfers(const std::vector<tervane::testing::UsbfsCall>& calls)
{
    std::string text;
    for (const auto& call : calls) {
        if (call.what == "out") {
            text += "out " + std::string(call.data.begin(), call.data.end()) + "|";
        } else if (call.what == "in" || call.what == "discard") {
            text += call.what + "|";
        }
    }
    return text;
}

int count(const std::vector<tervane::testing::UsbfsCall>& calls, const std::string& what)
{
    int n = 0;
    for (const auto& call : calls) {
        n += call.what == what ? 1 : 0;
    }
    return n;
}

const std::string kRead = "out CheckDHCPToggle?|in|out CheckIP?|in|";
const std::string kReading = "printer: RV-T4410LW\nmode: static\nip: 192.168.1.20\nmask: "
                             "255.255.255.0\ngateway: 192.168.1.1\n";

}  // namespace

// Each command talks only to the printer it names, and only as much as it
// needs: listing sends nothing, a read is one read sequence, a write is the
// write sequence alone, and a printer number not on the bus ends the run
// before anything is sent. With two printers on the bus, the other printer
// is never opened.
TEST(TervaneCliOnLibusb, EachCommandTalksOnlyToThePrinterItNames)
{
    ::unsetenv("TERVANE_USB");
    ::setenv("LC_ALL", "C", 1);
    const std::vector<std::uint8_t> setIP{'S', 'e', 't', 'I', 'P', '=', 10, 0, 0,  59,
                                          255, 0,   0,   0,   10,  0,   0,  1, ';'};
    const std::string staticWrite = "out " + std::string(setIP.begin(), setIP.end()) +
                                    "|out SetDHCPToggle=Off;|in|out Restart?|";
    const std::vector<std::string> setStatic{"set", "--static", "10.0.0.59", "255.0.0.0",
                                             "10.0.0.1"};
    auto onPrinter = [](std::vector<std::string> arguments, const char* number) {
        arguments.insert(arguments.end(), {"--printer", number});
        return arguments;
    };
    struct Case {
        const char* label;
        int printers;  // on the bus, at ports 2 and 3 (listed in that order)
        std::vector<std::string> arguments;
        int exitStatus;
        std::string out;
        std::string err;                         // contained
        std::array<std::string, 2> transferred;  // per printer
        int written;                             // the printer whose settings change, or -1
    };
    const std::vector<Case> cases{
        {"list", 1, {"list"}, 0, "1: RV-T4410LW (USB 356c:0033)\n", "", {"", ""}, -1},
        {"list of two",
         2,
         {"list"},
         0,
         "1: RV-T4410LW (USB 356c:0033)\n2: RV-T4410LW (USB 356c:0033)\n",
         "",
         {"", ""},
         -1},
        {"get", 1, {"get"}, 0, kReading, "", {kRead, ""}, -1},
        {"get of two", 2, {"get"}, 0, kReading, "", {kRead, ""}, -1},
        {"get printer 2", 2, onPrinter({"get"}, "2"), 0, kReading, "", {"", kRead}, -1},
        {"get printer 3 of two",
         2,
         onPrinter({"get"}, "3"),
         3,
         "",
         "no printer number 3",
         {"", ""},
         -1},
        {"get printer 2 of one",
         1,
         onPrinter({"get"}, "2"),
         3,
         "",
         "no printer number 2",
         {"", ""},
         -1},
        {"set", 1, setStatic, 0, "设置成功\n", "", {staticWrite, ""}, 0},
        {"set printer 2", 2, onPrinter(setStatic, "2"), 0, "设置成功\n", "", {"", staticWrite}, 1},
        {"set dhcp printer 1 of two",
         2,
         onPrinter({"set", "--dhcp"}, "1"),
         0,
         "设置成功\n",
         "",
         {"out SetDHCPToggle=On;|in|out Restart?|", ""},
         -1},
        {"set printer 3 of two",
         2,
         onPrinter(setStatic, "3"),
         3,
         "",
         "no printer number 3",
         {"", ""},
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EmulatedPrinter bed;
        std::vector<std::string> printers;
        for (int i = 0; i < c.printers; ++i) {
            tervane::testing::EmulatedDeviceSpec spec;
            spec.address = 2 + i;
            printers.push_back(bed.addDevice(spec));
        }
        const CliRun run = runCli(c.arguments);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        for (std::size_t i = 0; i < printers.size(); ++i) {
            SCOPED_TRACE("printer " + std::to_string(i + 1));
            const auto calls = bed.calls(printers[i]);
            EXPECT_EQ(transfers(calls), c.transferred[i]);
            if (c.transferred[i].empty()) {
                EXPECT_TRUE(calls.empty()) << "a printer not named is never opened";
            } else {
                EXPECT_EQ(count(calls, "claim") + count(calls, "disconnect-claim"), 1);
                EXPECT_EQ(count(calls, "release"), 1);
            }
            EXPECT_EQ(bed.boundDriver(printers[i]), "usblp")
                << "the kernel driver must get its interface back";
            const NetworkSettings now = bed.settings(printers[i]);
            const bool written = static_cast<int>(i) == c.written;
            EXPECT_EQ(now.ip,
                      written ? (std::array<std::uint8_t, 4>{10, 0, 0, 59}) : NetworkSettings{}.ip);
            EXPECT_EQ(now.mask, written ? (std::array<std::uint8_t, 4>{255, 0, 0, 0})
                                        : NetworkSettings{}.mask);
        }
    }
}

// A printer that never answers costs one read time-out, not two: the
// sequence ends at the first unanswered query and the interface goes back
// to the kernel driver.
TEST(TervaneCliOnLibusb, PrinterThatNeverAnswersIsAskedOnce)
{
    ::unsetenv("TERVANE_USB");
    ::setenv("LC_ALL", "C", 1);
    EmulatedPrinter bed;
    const std::string printer = bed.addDevice();
    bed.setSilent(printer, true);

    const CliRun got = runCli({"get"});
    EXPECT_EQ(got.exitStatus, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "获取失败，请重试\n");
    const auto readCalls = bed.calls(printer);
    EXPECT_EQ(transfers(readCalls), "out CheckDHCPToggle?|in|discard|");
    EXPECT_EQ(count(readCalls, "release"), 1);
    EXPECT_EQ(bed.boundDriver(printer), "usblp");

    bed.clearCalls(printer);
    const CliRun set = runCli({"set", "--dhcp"});
    EXPECT_EQ(set.exitStatus, 1);
    EXPECT_EQ(set.out, "");
    EXPECT_EQ(set.err, "设置失败，请重试\n");
    EXPECT_EQ(transfers(bed.calls(printer)), "out SetDHCPToggle=On;|in|discard|");
    EXPECT_EQ(bed.boundDriver(printer), "usblp");
}

TEST(TervaneCliOnLibusb, PrinterNodeWithoutRightsTellsWhatToDo)
{
    ::unsetenv("TERVANE_USB");
    ::setenv("LC_ALL", "C", 1);
    const std::string hint =
        "没有访问该USB打印机的权限。请安装驱动程序包（其中的udev规则允许当前登录用户访问打印机），"
        "然后重新插拔USB线；或者以管理员身份运行本工具。\n";
    EmulatedPrinter bed;
    const std::string printer = bed.addDevice();
    bed.denyAccess(printer);
    struct Case {
        std::vector<std::string> arguments;
        bool withRights;
        int exitStatus;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases{
        // Listing needs no rights on the node: the printer is found.
        {{"list"}, false, 0, "1: RV-T4410LW (USB 356c:0033)\n", ""},
        {{"get"}, false, 1, "", "获取失败，请重试\n" + hint},
        {{"set", "--dhcp"}, false, 1, "", "设置失败，请重试\n" + hint},
        // Root's own rights open the same node: no failure, no hint.
        {{"get"},
         true,
         0,
         "printer: RV-T4410LW\nmode: static\nip: 192.168.1.20\nmask: 255.255.255.0\n"
         "gateway: 192.168.1.1\n",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front() + (c.withRights ? " with rights" : " without rights"));
        bed.clearCalls(printer);
        CliRun run;
        if (c.withRights) {
            run = runCli(c.arguments);
        } else {
            ThreadWithoutFileAccessOverride asAUser;
            run = runCli(c.arguments);
        }
        EXPECT_EQ(run.exitStatus, c.exitStatus);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        if (!c.withRights) {
            EXPECT_EQ(sentText(bed.calls(printer)), "")
                << "nothing reaches a printer that was not opened";
        }
    }
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// tervane-cli on the libusb backend, against a printer emulated at the
// kernel's usbfs interface with umockdev. The command lines run in this
// process (the emulation answers the caller's own memory), through the same
// entry the program uses.
#include "cli.h"
#include "umockdev_printer.h"

#include <gtest/gtest.h>

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

}  // namespace

TEST(TervaneCliOnLibusb, ReadsAndWritesTheEmulatedPrinter)
{
    ::unsetenv("TERVANE_USB");
    ::setenv("LC_ALL", "C", 1);
    EmulatedPrinter bed;
    const std::string printer = bed.addDevice();
    NetworkSettings settings;
    settings.dhcp = true;
    settings.ip = {10, 0, 0, 59};
    settings.mask = {255, 0, 0, 0};
    settings.gateway = {10, 0, 0, 1};
    bed.setSettings(printer, settings);

    // The first command line makes the shared model, which already reads the
    // printer once; "get" reads it again.
    const CliRun got = runCli({"get"});
    EXPECT_EQ(got.exitStatus, 0);
    EXPECT_EQ(
        got.out,
        "printer: RV-T4410LW\nmode: DHCP\nip: 10.0.0.59\nmask: 255.0.0.0\ngateway: 10.0.0.1\n");
    EXPECT_EQ(sentText(bed.calls(printer)), "CheckDHCPToggle?|CheckIP?|CheckDHCPToggle?|CheckIP?|");
    EXPECT_EQ(bed.boundDriver(printer), "usblp") << "the kernel driver must get its interface back";

    bed.clearCalls(printer);
    const CliRun set = runCli({"set", "--static", "192.168.3.59", "255.255.255.0", "192.168.3.1"});
    EXPECT_EQ(set.exitStatus, 0);
    EXPECT_EQ(set.out, "设置成功\n");
    const NetworkSettings now = bed.settings(printer);
    EXPECT_FALSE(now.dhcp);
    EXPECT_EQ(now.ip, (std::array<std::uint8_t, 4>{192, 168, 3, 59}));
    EXPECT_EQ(now.mask, (std::array<std::uint8_t, 4>{255, 255, 255, 0}));
    EXPECT_EQ(now.gateway, (std::array<std::uint8_t, 4>{192, 168, 3, 1}));
    const std::vector<std::uint8_t> setIP{'S', 'e', 't', 'I', 'P', '=', 192, 168, 3,  59,
                                          255, 255, 255, 0,   192, 168, 3,   1,   ';'};
    EXPECT_EQ(sentText(bed.calls(printer)),
              std::string(setIP.begin(), setIP.end()) + "|SetDHCPToggle=Off;|Restart?|");
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

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// tervane-cli run as a program on the simulated printer: its output, its
// translations and its exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct CliRun {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the program with the given environment assignments and arguments
// (both passed through the shell as they stand).
CliRun runCli(const std::string& environment, const std::string& arguments)
{
    const auto dir = std::filesystem::temp_directory_path();
    const std::string tag = std::to_string(::getpid());
    const auto out = dir / ("tervane-cli-" + tag + ".out");
    const auto err = dir / ("tervane-cli-" + tag + ".err");
    const std::string command = "env -u TERVANE_USB -u LANGUAGE " + environment +
                                " '" TERVANE_CLI_PATH "' " + arguments + " >'" + out.string() +
                                "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return run;
}

}  // namespace

TEST(TervaneCli, CommandsOnTheSimulatedPrinter)
{
    struct Case {
        const char* label;
        std::string environment;
        std::string arguments;
        int exitStatus;
        std::string out;  // exact
        std::string err;  // contained
    };
    const std::string zh = "LC_ALL=C LANG=C";
    const std::string en = "LC_ALL=en_US.UTF-8";
    const std::string reading = "printer: RV-T4410LW\nmode: static\nip: 192.168.1.20\nmask: "
                                "255.255.255.0\ngateway: 192.168.1.1\n";
    const std::vector<Case> cases{
        {"list", zh, "--simulate list", 0, "1: RV-T4410LW (USB 356c:0033)\n", ""},
        {"get", zh, "--simulate get", 0, reading, ""},
        {"get_by_environment", zh + " TERVANE_USB=sim", "get --printer 1", 0, reading, ""},
        {"set_static", zh, "--simulate set --static 10.0.0.59 255.0.0.0 10.0.0.1", 0, "设置成功\n",
         ""},
        {"set_static_english", en, "--simulate set --static 10.0.0.59 255.0.0.0 10.0.0.1", 0,
         "Set successfully\n", ""},
        {"set_dhcp", zh, "--simulate set --dhcp", 0, "设置成功\n", ""},
        {"bad_address", zh, "--simulate set --static 192.168.1.256 255.255.255.0 192.168.1.1", 2,
         "", "错误: IP格式错误"},
        {"bad_mask_english", en, "--simulate set --static 192.168.1.2 255.255.255 192.168.1.1", 2,
         "", "Error: Invalid subnet mask"},
        {"bad_gateway_trailing_blank", zh,
         "--simulate set --static 192.168.1.2 255.255.255.0 '192.168.1.1 '", 2, "",
         "错误: 网关格式错误"},
        {"missing_gateway", zh, "--simulate set --static 192.168.1.2 255.255.255.0", 2, "",
         "请选择打印机且将信息填写完整"},
        {"mode_missing", zh, "--simulate set", 2, "", "exactly one of --dhcp and --static"},
        {"no_such_printer", zh, "--simulate get --printer 2", 3, "",
         "no printer number 2 (1 found)"},
        {"unknown_command", zh, "--simulate reboot", 2, "", "unknown command reboot"},
        {"unknown_option", zh, "--simulate get --bogus", 2, "", "Unknown option 'bogus'."},
        {"printer_not_a_number", zh, "--simulate get --printer two", 2, "",
         "--printer needs a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const CliRun run = runCli(c.environment, c.arguments);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << run.err;
        EXPECT_EQ(run.out, c.out);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
}

TEST(TervaneCli, HelpNamesEveryCommand)
{
    // --help-all is Qt's own twin of --help; both must show the help, never
    // run a command.
    for (const char* arguments : {"--help", "--help-all", "--help-all list"}) {
        SCOPED_TRACE(arguments);
        const CliRun run = runCli("LC_ALL=C", arguments);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        for (const char* text :
             {"list", "get [--printer N]", "set --dhcp", "set --static ADDRESS MASK GATEWAY",
              "--simulate", "Exit status"}) {
            EXPECT_NE(run.out.find(text), std::string::npos) << text;
        }
    }
}

TEST(TervaneCli, VerboseSendsTheDiagnosticsToStandardError)
{
    const CliRun run = runCli("LC_ALL=C", "--simulate --verbose get");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out.rfind("printer: RV-T4410LW\n", 0), 0u);
    EXPECT_NE(run.err.find("CheckDHCPToggle? return is Optional(\"DHCPToggle=Off;\")\n"),
              std::string::npos);
    EXPECT_NE(run.err.find("the return message is receive ip successfully\n"), std::string::npos);
}

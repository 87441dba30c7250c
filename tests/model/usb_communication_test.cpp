// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usb_communication.h"

#include "sim_printer.h"
#include "usb_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace tervane;
using namespace tervane::test;
using usb::sim::SimulatedBus;
using Action = usb::sim::VirtualPrinter::Action;

namespace {

constexpr std::uint16_t kVID = 0x356C;
constexpr std::uint16_t kPID = 0x0033;

Device printerRecord(std::string ipSetType = "D", std::string ip = "", std::string mask = "",
                     std::string gateway = "")
{
    return Device("RV-T4410LW", mask, gateway, ip, ipSetType, kPID, kVID);
}

std::string commandText(const std::string& ip, const std::string& mask, const std::string& gateway)
{
    Bytes cmd = *buildSetIPCommand(ip, mask, gateway);
    return std::string(cmd.begin(), cmd.end());
}

// One simulated bus per case.
struct Bench {
    Bench() { bus.setTimeScale(0.05); }

    std::shared_ptr<RecordingPrinter> plugPrinter(NetworkSettings settings = {})
    {
        printer = std::make_shared<RecordingPrinter>(settings);
        bus.plug(printer);
        return printer;
    }

    // Runs one sequence on a fresh connection with the diagnostics captured,
    // checking that the sequence gives the interface back and the connection
    // the device.
    SequenceResult run(Device record, bool write, Device* after = nullptr)
    {
        SequenceResult result;
        {
            const usb::test::LoggedLines logged;
            USBCommunication connection(bus, std::move(record));
            result = write ? connection.initInterfaceToSetIP() : connection.initInterfaceToGetIP();
            EXPECT_FALSE(connection.interfaceInterface.has_value());
            EXPECT_EQ(bus.claimsHeld(), 0u) << "interface not released";
            if (after) {
                *after = connection.printer;
            }
            failureStatus = connection.failureStatus;
            accessDenied = connection.accessDenied();
            log = logged.lines();
        }
        EXPECT_EQ(bus.devicesInUse(), 0u) << "device handle not released";
        return result;
    }

    bool logged(const std::string& line) const { return hasLine(log, line); }
    bool loggedPrefix(const std::string& prefix) const
    {
        return std::any_of(log.begin(), log.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }

    SimulatedBus bus;
    std::shared_ptr<RecordingPrinter> printer;     // when plugPrinter() was used
    std::shared_ptr<usb::sim::BasicDevice> other;  // any other device plugged
    std::vector<std::string> log;
    // What the last connection run told about its failure.
    std::optional<usb::IOReturn> failureStatus;
    bool accessDenied = false;
};

const SequenceResult kClaimFailed{-1, "claininterfaceInterfaceError"};

}  // namespace

TEST(USBCommunication, ReadSequence)
{
    struct Case {
        const char* label;
        bool dhcp;
        std::optional<usb::sim::Bytes> addressReply;  // scripted answer to "CheckIP?"
        std::string ipSetType, ip, mask, gateway;
        std::string toggleLine;
    };
    usb::sim::Bytes custom(6, 0xFF);
    for (std::uint8_t b : {10, 0, 0, 59, 255, 0, 0, 0, 10, 0, 0, 1}) {
        custom.push_back(b);
    }
    const std::string on = "CheckDHCPToggle? return is Optional(\"DHCPToggle=On;\")";
    const std::string off = "CheckDHCPToggle? return is Optional(\"DHCPToggle=Off;\")";
    const std::vector<Case> cases{
        {"dhcp_on", true, std::nullopt, "D", "192.168.1.20", "255.255.255.0", "192.168.1.1", on},
        {"dhcp_off", false, std::nullopt, "S", "192.168.1.20", "255.255.255.0", "192.168.1.1", off},
        {"reply_18_scripted", false, custom, "S", "10.0.0.59", "255.0.0.0", "10.0.0.1", off},
        {"reply_17", true, usb::sim::Bytes(17, 1), "D", "", "", "", on},
        {"reply_19", false, usb::sim::Bytes(19, 1), "S", "", "", "", off},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        NetworkSettings settings;
        settings.dhcp = c.dhcp;
        auto printer = bench.plugPrinter(settings);
        if (c.addressReply) {
            printer->script("CheckIP?", Action::reply, *c.addressReply);
        }
        // Stale addresses in the record: a wrong-length reply must clear them.
        Device after = printerRecord("X", "1.1.1.1", "2.2.2.2", "3.3.3.3");
        EXPECT_EQ(bench.run(after, false, &after), (SequenceResult{1, "receive ip successfully"}));
        EXPECT_EQ(after.ipSetType, c.ipSetType);
        EXPECT_EQ(after.ip, c.ip);
        EXPECT_EQ(after.subNetMast, c.mask);
        EXPECT_EQ(after.gateway, c.gateway);
        EXPECT_EQ(printer->events(),
                  (std::vector<std::string>{"OUT CheckDHCPToggle?", "IN", "OUT CheckIP?", "IN"}));
        EXPECT_TRUE(bench.logged("init usbscanprocess pid=51 and vid = 13676"));
        EXPECT_TRUE(bench.logged("interface interface num = 1"));
        EXPECT_TRUE(bench.logged(c.toggleLine));
        EXPECT_TRUE(bench.logged(c.ipSetType));
        EXPECT_TRUE(bench.logged("the ip is " + c.ip + " the subNetMask is " + c.mask +
                                 " the gateway is " + c.gateway));
    }
}

TEST(USBCommunication, ReadLogsAToggleReplyThatIsNotText)
{
    Bench bench;
    auto printer = bench.plugPrinter();
    printer->script("CheckDHCPToggle?", Action::reply, usb::sim::Bytes{0xFF, 0xFE});
    Device after = printerRecord();
    EXPECT_EQ(bench.run(after, false, &after).status, 1);
    EXPECT_EQ(after.ipSetType, "S");
    EXPECT_TRUE(bench.logged("CheckDHCPToggle? return is nil"));
}

TEST(USBCommunication, WriteSequence)
{
    struct Case {
        const char* label;
        std::string ipSetType;
        std::optional<std::string> toggleReply;  // scripted answer to the toggle command
        SequenceResult expected;
        std::vector<std::string> events;
    };
    const std::string ip = "10.0.0.59", mask = "255.0.0.0", gateway = "10.0.0.1";
    const std::string setIP = "OUT " + commandText(ip, mask, gateway);
    const SequenceResult ok{1, "set ip successfully"}, refused{-1, "setDHCPToggleError"};
    const std::vector<Case> cases{
        {"static", "S", std::nullopt, ok, {setIP, "OUT SetDHCPToggle=Off;", "IN", "OUT Restart?"}},
        {"dhcp", "D", std::nullopt, ok, {"OUT SetDHCPToggle=On;", "IN", "OUT Restart?"}},
        {"empty_mode_is_dhcp",
         "",
         std::nullopt,
         ok,
         {"OUT SetDHCPToggle=On;", "IN", "OUT Restart?"}},
        {"lower_case_s_is_dhcp",
         "s",
         std::nullopt,
         ok,
         {"OUT SetDHCPToggle=On;", "IN", "OUT Restart?"}},
        {"static_refused",
         "S",
         "SetDHCPToggleOK;\n",
         refused,
         {setIP, "OUT SetDHCPToggle=Off;", "IN"}},
        {"dhcp_refused", "D", "SetDHCPToggleNG;", refused, {"OUT SetDHCPToggle=On;", "IN"}},
        {"dhcp_empty_answer", "D", "", refused, {"OUT SetDHCPToggle=On;", "IN"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        NetworkSettings initial;
        initial.dhcp = c.ipSetType != "S";  // the other mode, so a change shows
        auto printer = bench.plugPrinter(initial);
        if (c.toggleReply) {
            printer->script("SetDHCPToggle=", Action::reply, bytesOf(*c.toggleReply));
        }
        const Device record = printerRecord(c.ipSetType, ip, mask, gateway);
        Device after = record;
        EXPECT_EQ(bench.run(record, true, &after), c.expected);
        EXPECT_EQ(after, record) << "the write must not change the record";
        EXPECT_EQ(printer->events(), c.events);
        // The command is built and logged in both modes, before any traffic.
        EXPECT_TRUE(bench.logged("cmd is 19 bytes"));
        EXPECT_TRUE(bench.logged("the printer.ipsetType is " + c.ipSetType));
        const bool applied = c.expected.status == 1;
        EXPECT_EQ(printer->restarts(), applied ? 1 : 0);
        if (applied) {
            EXPECT_EQ(printer->settings().dhcp, c.ipSetType != "S");
        }
        if (applied && c.ipSetType == "S") {
            EXPECT_EQ(printer->settings().ip, (std::array<std::uint8_t, 4>{10, 0, 0, 59}));
        }
    }
}

TEST(USBCommunication, FailuresEndTheSequenceAtOnce)
{
    using Setup = std::function<void(Bench&)>;
    struct Case {
        const char* label;
        bool write;
        Device record;
        Setup setup;
        SequenceResult expected;
        std::vector<std::string> events;  // of the printer, when one is plugged
        std::string logPrefix;
        std::string ipSetTypeAfter;
    };
    using usb::sim::BasicDevice;
    using usb::sim::InterfaceSpec;
    const auto scripted = [](std::string prefix, Action action) {
        return [prefix, action](Bench& b) { b.plugPrinter()->script(prefix, action); };
    };
    const auto plugBasic = [](std::vector<InterfaceSpec> interfaces) {
        return [interfaces](Bench& b) {
            b.other = std::make_shared<BasicDevice>(kVID, kPID, interfaces);
            b.bus.plug(b.other);
        };
    };
    InterfaceSpec interface1 = usb::sim::printerInterface();
    interface1.number = 1;
    InterfaceSpec outOnly = usb::sim::printerInterface();
    outOnly.endpoints.erase(outOnly.endpoints.begin() + 1);
    const Device staticRecord = printerRecord("S", "192.168.1.30", "255.255.255.0", "192.168.1.1");
    const std::vector<Case> cases{
        {"no_device_read",
         false,
         printerRecord(),
         [](Bench&) {},
         kClaimFailed,
         {},
         "init usb interface error. and error is USB: Plugin has no device interface.",
         "D"},
        {"no_device_write",
         true,
         staticRecord,
         [](Bench&) {},
         kClaimFailed,
         {},
         "init usb interface error. and error is USB: Plugin has no device interface.",
         "S"},
        {"other_product_only",
         false,
         printerRecord(),
         [](Bench& b) {
             b.other = std::make_shared<VirtualPrinter>(NetworkSettings{}, kVID, 0x0034);
             b.bus.plug(b.other);
         },
         kClaimFailed,
         {},
         "init usb interface error. and error is ",
         "D"},
        // The record's own printer (the second plugged) is gone: the other
        // printer of the same model is not taken instead.
        {"chosen_printer_unplugged",
         false,
         Device("RV-T4410LW", "", "", "", "D", kPID, kVID, SimulatedBus::locationOf(2)),
         [](Bench& b) {
             b.other = std::make_shared<VirtualPrinter>(NetworkSettings{});
             b.bus.plug(b.other);
             b.plugPrinter();
             b.bus.unplug(2);
         },
         kClaimFailed,
         {},
         "init usb interface error. and error is USB: Plugin has no device interface.",
         "D"},
        {"no_interface_0",
         false,
         printerRecord(),
         plugBasic({interface1}),
         kClaimFailed,
         {},
         "interface interface num = 1",
         "D"},
        {"no_read_pipe",
         true,
         staticRecord,
         plugBasic({outOnly}),
         kClaimFailed,
         {},
         "the printer.ipsetType is S",
         "S"},
        {"toggle_query_times_out",
         false,
         printerRecord(),
         scripted("CheckDHCPToggle?", Action::noReply),
         kClaimFailed,
         {"OUT CheckDHCPToggle?"},
         "open usb interface error and error is ",
         "D"},
        {"address_query_times_out",
         false,
         printerRecord(),
         scripted("CheckIP?", Action::noReply),
         kClaimFailed,
         {"OUT CheckDHCPToggle?", "IN", "OUT CheckIP?"},
         "open usb interface error and error is ",
         "S"},
        {"unplugged_after_toggle_query",
         false,
         printerRecord(),
         scripted("CheckIP?", Action::unplug),
         kClaimFailed,
         {"OUT CheckDHCPToggle?", "IN", "OUT CheckIP?"},
         "open usb interface error and error is ",
         "S"},
        {"set_address_stalls",
         true,
         staticRecord,
         scripted("SetIP=", Action::stallOut),
         kClaimFailed,
         {"OUT " + commandText("192.168.1.30", "255.255.255.0", "192.168.1.1")},
         "open usb interface error and error is ",
         "S"},
        {"toggle_write_times_out",
         true,
         printerRecord("D"),
         scripted("SetDHCPToggle=On;", Action::writeTimeout),
         kClaimFailed,
         {"OUT SetDHCPToggle=On;"},
         "open usb interface error and error is ",
         "D"},
        {"toggle_reply_stalls",
         true,
         printerRecord("D"),
         scripted("SetDHCPToggle=On;", Action::stallIn),
         kClaimFailed,
         {"OUT SetDHCPToggle=On;"},
         "open usb interface error and error is ",
         "D"},
        // An address that does not fit the one-byte fields is never sent.
        {"static_address_out_of_range",
         true,
         printerRecord("S", "192.168.1.256", "255.255.255.0", "192.168.1.1"),
         [](Bench& b) { b.plugPrinter(); },
         SequenceResult{-1, "setIPCommandError"},
         {},
         "cmd is not built",
         "S"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        c.setup(bench);
        Device after = c.record;
        EXPECT_EQ(bench.run(c.record, c.write, &after), c.expected);
        EXPECT_TRUE(bench.loggedPrefix(c.logPrefix)) << c.logPrefix;
        EXPECT_EQ(after.ipSetType, c.ipSetTypeAfter);
        // What was read before the failing step stays; nothing else changes.
        EXPECT_EQ(after.ip, c.record.ip);
        EXPECT_EQ(after.subNetMast, c.record.subNetMast);
        EXPECT_EQ(after.gateway, c.record.gateway);
        if (bench.printer) {
            EXPECT_EQ(bench.printer->events(), c.events);
        }
        if (bench.other) {
            EXPECT_TRUE(bench.other->received().empty());
        }
    }
}

TEST(USBCommunication, RefusalForLackOfRightsIsToldApartFromOtherFailures)
{
    struct Case {
        const char* label;
        bool write;
        std::function<void(VirtualPrinter&)>
            arrange;  // on a plugged printer; none: nothing plugged
        SequenceResult expected;
        std::optional<usb::IOReturn> failureStatus;
        bool accessDenied;
        std::string logLine;
        std::vector<std::string> events;
    };
    const auto refuseOpen = [](usb::IOReturn status) {
        return [status](VirtualPrinter& p) { p.faults.interfaceOpen = status; };
    };
    const Device staticRecord = printerRecord("S", "192.168.1.30", "255.255.255.0", "192.168.1.1");
    const std::vector<Case> cases{
        {"read_refused",
         false,
         refuseOpen(usb::kIOReturnNotPrivileged),
         kClaimFailed,
         usb::kIOReturnNotPrivileged,
         true,
         "open usb interface error and error is Privilege violation",
         {}},
        {"write_refused",
         true,
         refuseOpen(usb::kIOReturnNotPrivileged),
         kClaimFailed,
         usb::kIOReturnNotPrivileged,
         true,
         "open usb interface error and error is Privilege violation",
         {}},
        {"read_interface_held_elsewhere",
         false,
         refuseOpen(usb::kIOReturnExclusiveAccess),
         kClaimFailed,
         usb::kIOReturnExclusiveAccess,
         false,
         "open usb interface error and error is Exclusive access and device already open",
         {}},
        {"write_not_permitted",
         true,
         refuseOpen(usb::kIOReturnNotPermitted),
         kClaimFailed,
         usb::kIOReturnNotPermitted,
         false,
         "open usb interface error and error is Not permitted",
         {}},
        {"read_times_out",
         false,
         [](VirtualPrinter& p) { p.script("CheckDHCPToggle?", Action::noReply); },
         kClaimFailed,
         usb::kIOReturnTimeout,
         false,
         "open usb interface error and error is I/O timeout",
         {"OUT CheckDHCPToggle?"}},
        {"no_device",
         false,
         nullptr,
         kClaimFailed,
         std::nullopt,
         false,
         "init usb interface error. and error is USB: Plugin has no device interface.",
         {}},
        {"read_succeeds",
         false,
         [](VirtualPrinter&) {},
         SequenceResult{1, kReceiveIPSuccessfully},
         std::nullopt,
         false,
         "",
         {"OUT CheckDHCPToggle?", "IN", "OUT CheckIP?", "IN"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        if (c.arrange) {
            c.arrange(*bench.plugPrinter());
        }
        EXPECT_EQ(bench.run(c.write ? staticRecord : printerRecord(), c.write), c.expected);
        EXPECT_EQ(bench.failureStatus, c.failureStatus);
        EXPECT_EQ(bench.accessDenied, c.accessDenied);
        if (c.expected.status < 0) {
            EXPECT_TRUE(bench.logged(c.logLine)) << c.logLine;
        }
        if (bench.printer) {
            EXPECT_EQ(bench.printer->events(), c.events);
        }
    }
}

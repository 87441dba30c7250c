// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The virtual printer's settings conversation, through the USB layer.
#include "usb_test_support.h"

#include <thread>

namespace tervane::usb {
namespace {

using sim::VirtualPrinter;
using test::LoggedLines;

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

class PrinterConversation : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus.setTimeScale(0.05);  // the 3 s reply time-out waits 150 ms
        replug();
        const PipeMap pipes = interface->getPipes();
        writePipe = pipes.at("writePipe");
        readPipe = pipes.at("readPipe");
    }
    void TearDown() override { interface.reset(); }

    // A fresh printer in DHCP mode in place of the one there, opened.
    void replug()
    {
        interface.reset();
        if (printer) {
            bus.unplug(id);
        }
        sim::NetworkSettings settings;
        settings.dhcp = true;
        printer = std::make_shared<VirtualPrinter>(settings);
        id = bus.plug(printer);
        interface = test::openInterface(bus);
    }

    Bytes ask(std::string_view command)
    {
        interface->write(command, writePipe);
        return interface->readBytes(std::nullopt, 64, readPipe, 3.0);
    }

    sim::SimulatedBus bus;
    std::shared_ptr<VirtualPrinter> printer;
    sim::SimulatedBus::DeviceId id = 0;
    std::optional<USBInterfaceHandle> interface;
    int writePipe = 0;
    int readPipe = 0;
    LoggedLines quiet;  // keeps the transfer log out of the test output
};

TEST_F(PrinterConversation, AnswersQueriesFromItsSettings)
{
    EXPECT_EQ(ask("CheckDHCPToggle?"), bytes("DHCPToggle=On;"));
    const Bytes address = ask("CheckIP?");
    ASSERT_EQ(address.size(), 18u);
    EXPECT_EQ(Bytes(address.begin() + 6, address.end()),
              (Bytes{192, 168, 1, 20, 255, 255, 255, 0, 192, 168, 1, 1}));
}

TEST_F(PrinterConversation, StaticSettingsTakeEffectOnRestart)
{
    const Bytes setIP{'S', 'e', 't', 'I', 'P', '=', 10, 0, 0, 59, 255, 0, 0, 0, 10, 0, 0, 1, ';'};
    interface->write(setIP, writePipe);
    interface->write(std::string_view("SetDHCPToggle=Off;"), writePipe);
    EXPECT_EQ(interface->readBytes(std::nullopt, 64, readPipe, 3.0), bytes("SetDHCPToggleOK;"));
    EXPECT_TRUE(printer->settings().dhcp);  // nothing applied yet
    interface->write(std::string_view("Restart?"), writePipe);

    sim::NetworkSettings expected{false, {10, 0, 0, 59}, {255, 0, 0, 0}, {10, 0, 0, 1}};
    EXPECT_EQ(printer->settings(), expected);
    EXPECT_EQ(printer->restarts(), 1);
    EXPECT_EQ(ask("CheckDHCPToggle?"), bytes("DHCPToggle=Off;"));
    EXPECT_EQ(ask("CheckIP?"),
              (Bytes{'I', 'P', 'A', 'D', 'D', 'R', 10, 0, 0, 59, 255, 0, 0, 0, 10, 0, 0, 1}));
}

TEST_F(PrinterConversation, UnansweredCommandsTimeOut)
{
    for (const char* command : {"Restart?", "SetIP=;", "Status?"}) {
        try {
            ask(command);
            ADD_FAILURE() << command << " was answered";
        } catch (const IOReturnError& error) {
            EXPECT_EQ(error.status(), kIOReturnTimeout) << command;
        }
    }
}

struct ScriptCase {
    const char* name;
    VirtualPrinter::Action action;
    Bytes reply;
    IOReturn writeStatus;  // 0: the write goes through
    IOReturn readStatus;   // 0: the read returns reply
};

TEST_F(PrinterConversation, ScriptedFaults)
{
    const ScriptCase cases[] = {
        {"short reply", VirtualPrinter::Action::reply, bytes("DHCPToggle=O"), 0, 0},
        {"wrong reply", VirtualPrinter::Action::reply, bytes("dhcptoggle=on;"), 0, 0},
        {"no reply", VirtualPrinter::Action::noReply, {}, 0, kIOReturnTimeout},
        {"in stall", VirtualPrinter::Action::stallIn, {}, 0, kIOUSBPipeStalled},
        {"out stall", VirtualPrinter::Action::stallOut, {}, kIOUSBPipeStalled, 0},
        {"write time-out", VirtualPrinter::Action::writeTimeout, {}, kIOReturnTimeout, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        printer->script("CheckDHCPToggle?", c.action, c.reply);
        try {
            interface->write(std::string_view("CheckDHCPToggle?"), writePipe);
            EXPECT_EQ(c.writeStatus, 0);
            const Bytes got = interface->readBytes(std::nullopt, 64, readPipe, 3.0);
            EXPECT_EQ(c.readStatus, 0);
            EXPECT_EQ(got, c.reply);
        } catch (const IOReturnError& error) {
            EXPECT_EQ(error.status(), c.writeStatus != 0 ? c.writeStatus : c.readStatus);
        }
        // A fault takes the next command only; a stall stays (nothing here
        // clears one).
        const bool stalled = c.action == VirtualPrinter::Action::stallIn ||
                             c.action == VirtualPrinter::Action::stallOut;
        if (stalled) {
            EXPECT_THROW(ask("CheckDHCPToggle?"), IOReturnError);
            replug();
        } else {
            EXPECT_EQ(ask("CheckDHCPToggle?"), bytes("DHCPToggle=On;"));
        }
    }
}

TEST_F(PrinterConversation, UnplugInTheMiddleOfASequence)
{
    printer->script("SetDHCPToggle=", VirtualPrinter::Action::unplug);
    EXPECT_EQ(ask("CheckDHCPToggle?"), bytes("DHCPToggle=On;"));
    interface->write(std::string_view("SetDHCPToggle=On;"), writePipe);
    for (auto step : std::initializer_list<std::function<void()>>{
             [&] { interface->readBytes(std::nullopt, 64, readPipe, 3.0); },
             [&] { interface->write(std::string_view("Restart?"), writePipe); }}) {
        try {
            step();
            ADD_FAILURE() << "the printer is gone";
        } catch (const IOReturnError& error) {
            EXPECT_EQ(error.status(), kIOReturnNoDevice);
        }
    }
    EXPECT_EQ(printer->restarts(), 0);
    EXPECT_THROW(USBDeviceHandle::create(bus, 0x356C, 0x0033), VXIOErrorException);
}

TEST_F(PrinterConversation, UnplugWakesAWaitingRead)
{
    bus.setTimeScale(1.0);
    std::thread unplugger([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        bus.unplug(id);
    });
    const auto start = std::chrono::steady_clock::now();
    try {
        interface->readBytes(std::nullopt, 64, readPipe, 3.0);
        ADD_FAILURE() << "read returned";
    } catch (const IOReturnError& error) {
        EXPECT_EQ(error.status(), kIOReturnNoDevice);
    }
    unplugger.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(VirtualPrinters, TwoPrintersKeepTheirOwnSettings)
{
    sim::SimulatedBus bus;
    sim::NetworkSettings second;
    second.ip = {10, 1, 1, 2};
    auto first = std::make_shared<VirtualPrinter>();
    auto other = std::make_shared<VirtualPrinter>(second);
    bus.plug(first);
    bus.plug(other);
    LoggedLines quiet;
    // The bus lists the first plugged in first.
    USBInterfaceHandle interface = test::openInterface(bus);
    interface.write(std::string_view("CheckIP?"), 1);
    const Bytes reply = interface.readBytes(std::nullopt, 64, 2);
    ASSERT_EQ(reply.size(), 18u);
    EXPECT_EQ(reply[6], 192);
    EXPECT_EQ(first->received().size(), 1u);
    EXPECT_TRUE(other->received().empty());
}

TEST(Platform, EnvironmentSelectsTheSimulatedBus)
{
    ::setenv("TERVANE_USB", "sim", 1);
    auto platform = makePlatform(nullptr);
    ::unsetenv("TERVANE_USB");
    ASSERT_NE(platform, nullptr);
    EXPECT_EQ(platform->backendName(), "sim");
    USBDeviceHandle device = USBDeviceHandle::create(*platform, 0x356C, 0x0033);
    EXPECT_EQ(device.getProductIdentifier(), 0x0033);

    // Without the variable and without a real-device backend: an empty bus.
    auto empty = makePlatform(nullptr);
    EXPECT_THROW(USBDeviceHandle::create(*empty, 0x356C, 0x0033), VXIOErrorException);
}

}  // namespace
}  // namespace tervane::usb

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Pipe maps, transfers, time-outs and their failures on the simulated bus.
#include "usb_test_support.h"

namespace tervane::usb {
namespace {

using test::LoggedLines;

struct PipeMapCase {
    const char* name;
    std::vector<sim::EndpointSpec> endpoints;
    PipeMap expected;
};

TEST(PipeMaps, LastPipeOfEachDirectionWins)
{
    const PipeMapCase cases[] = {
        {"printer", {{0x01, kUSBBulk}, {0x81, kUSBBulk}}, {{"writePipe", 1}, {"readPipe", 2}}},
        {"interrupt in last",
         {{0x81, kUSBBulk}, {0x82, kUSBInterrupt}, {0x03, kUSBBulk}},
         {{"readPipe", 2}, {"writePipe", 3}}},
        {"only in", {{0x81, kUSBBulk}}, {{"readPipe", 1}}},
        {"no endpoints", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimulatedBus bus;
        bus.plug(test::basicDevice(0x356C, 0x0033, {test::interfaceWith(c.endpoints)}));
        USBInterfaceHandle interface = test::openInterface(bus);
        LoggedLines output;
        EXPECT_EQ(interface.getPipes(), c.expected);
    }
}

TEST(PipeMaps, LogLines)
{
    sim::SimulatedBus bus;
    bus.plug(test::basicDevice(
        0x356C, 0x0033,
        {test::interfaceWith(
            {{0x02, kUSBBulk, 512, 0}, {0x83, kUSBInterrupt, 8, 10}, {0x84, 7, 64, 0}})}));
    USBInterfaceHandle interface = test::openInterface(bus);
    LoggedLines output;
    interface.getPipes();
    EXPECT_EQ(output.lines(),
              (std::vector<std::string>{
                  "endpoints = 3 and get no res = Optional(0)",
                  "endpointnum = 1,direction = 0,number = 2,transType=2,maxsize=512,interval=0",
                  "endpoint1 direction: out, ",
                  "endpoint1 type is: bulk, ",
                  "endpointnum = 2,direction = 1,number = 3,transType=3,maxsize=8,interval=10",
                  "endpoint2 direction: in, ",
                  "endpoint2 type is: interrupt, ",
                  "endpointnum = 3,direction = 1,number = 4,transType=7,maxsize=64,interval=0",
                  "endpoint3 direction: in, ",
                  "endpoint3 type is: ???, ",
              }));
}

TEST(Timeouts, SecondsToTruncatedMilliseconds)
{
    const std::pair<double, std::uint32_t> good[] = {{0.3, 300},    {3.0, 3000},
                                                     {0.0005, 0},   {30.0, 30000},
                                                     {0.0, 0},      {4294967.295, 4294967295u},
                                                     {1.9999, 1999}};
    for (const auto& [seconds, milliseconds] : good) {
        EXPECT_EQ(timeoutMilliseconds(seconds), milliseconds) << seconds;
    }
    for (double bad : {-1.0, 4294967.296, std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_THROW(timeoutMilliseconds(bad), IOReturnError) << bad;
    }
}

class Transfers : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = test::printerLikeDevice();
        bus.plug(device);
        interface = test::openInterface(bus);
    }
    void TearDown() override
    {
        interface.reset();
        EXPECT_EQ(bus.claimsHeld(), 0u);
    }

    sim::SimulatedBus bus;
    std::shared_ptr<sim::BasicDevice> device;
    std::optional<USBInterfaceHandle> interface;
};

TEST_F(Transfers, ReadBytesCountsAndLog)
{
    struct Case {
        Bytes reply;
        std::optional<int> minCount;
        int maxCount;
        bool enough;
    };
    const Case cases[] = {
        {{79}, 2, 64, false},         {{79}, std::nullopt, 64, true},
        {{79, 75}, 2, 64, true},      {Bytes(10, 7), std::nullopt, 64, true},
        {{}, std::nullopt, 64, true}, {{}, 1, 64, false},
        {Bytes(64, 1), 64, 64, true},
    };
    for (const auto& c : cases) {
        device->queueIn(0x81, c.reply);
        LoggedLines output;
        try {
            const Bytes got = interface->readBytes(c.minCount, c.maxCount, 2);
            EXPECT_TRUE(c.enough);
            EXPECT_EQ(got, c.reply);
            const auto lines = output.lines();
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[0], "readBytes function. readlen=" + std::to_string(c.reply.size()));
        } catch (const VXIOErrorException& error) {
            EXPECT_FALSE(c.enough);
            EXPECT_EQ(error.error(), VXIOError::couldNotGetEnoughData);
        }
    }
}

TEST_F(Transfers, ReceivedBytesAreLoggedAsAList)
{
    device->queueIn(0x81, {79, 75});
    device->queueIn(0x81, {});
    LoggedLines output;
    EXPECT_EQ(interface->readBytes(std::nullopt, 64, 2), (Bytes{79, 75}));
    EXPECT_EQ(interface->readBytes(std::nullopt, 64, 2), Bytes{});
    EXPECT_EQ(output.lines(), (std::vector<std::string>{
                                  "readBytes function. readlen=2", "get bytes data is [79, 75]",
                                  "readBytes function. readlen=0", "get bytes data is []"}));
}

// The bus bounds a transfer once: the larger of the caller's two time-outs,
// so that neither cuts short a wait the caller allows.
TEST_F(Transfers, ReadWithoutDataTimesOutAfterTheLargerTimeout)
{
    for (const auto& [noData, completion] : {std::pair{0.4, 0.1}, std::pair{0.1, 0.4}}) {
        SCOPED_TRACE(std::to_string(noData) + "/" + std::to_string(completion));
        LoggedLines output;
        const auto start = std::chrono::steady_clock::now();
        try {
            interface->readBytes(std::nullopt, 64, 2, noData, completion);
            FAIL() << "read returned";
        } catch (const IOReturnError& error) {
            EXPECT_EQ(error.status(), kIOReturnTimeout);
        }
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(390));
        EXPECT_LT(waited, std::chrono::milliseconds(2500));
        EXPECT_EQ(output.lines(),
                  std::vector<std::string>{
                      "error happened at func readBytes and error is: Optional(\"I/O timeout\")"});
    }
}

TEST_F(Transfers, WritesReachTheDeviceAsGiven)
{
    const Bytes command{'S', 'e', 't', 'I', 'P', '=', 10, 0, 0, 59, 255, 0, 0, 0, 10, 0, 0, 1, ';'};
    LoggedLines output;
    interface->write(command, 1);
    interface->write(std::string_view("Restart?"), 1);
    EXPECT_TRUE(output.lines().empty());
    EXPECT_EQ(device->received(),
              (std::vector<Bytes>{command, Bytes{'R', 'e', 's', 't', 'a', 'r', 't', '?'}}));
}

TEST_F(Transfers, PipeFailuresCarryTheirLabels)
{
    struct Case {
        std::function<void()> call;
        IOReturn status;
        const char* label;
    };
    const Case cases[] = {
        {[&] { interface->write(Bytes{1}, 2); }, kIOReturnBadArgument, "func write "},
        {[&] { interface->write(Bytes{1}, 0); }, kIOUSBUnknownPipeErr, "func write "},
        {[&] { interface->readBytes(std::nullopt, 64, 1); }, kIOReturnBadArgument,
         "func readBytes"},
        {[&] { interface->readBytes(std::nullopt, 64, 9); }, kIOUSBUnknownPipeErr,
         "func readBytes"},
        {[&] {
             device->queueIn(0x81, Bytes(65, 1));
             interface->readBytes(std::nullopt, 64, 2);
         },
         kIOReturnOverrun, "func readBytes"},
    };
    for (const auto& c : cases) {
        LoggedLines output;
        try {
            c.call();
            ADD_FAILURE() << c.label;
        } catch (const IOReturnError& error) {
            EXPECT_EQ(error.status(), c.status);
        }
        const auto lines = output.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines.back(), "error happened at " + std::string(c.label) +
                                    " and error is: Optional(\"" + *errorDescription(c.status) +
                                    "\")");
    }
    // Counts outside their range never reach the bus.
    EXPECT_THROW(interface->readBytes(std::nullopt, -1, 2), IOReturnError);
}

TEST_F(Transfers, ClosedInterfaceRefusesTransfers)
{
    interface->close();
    LoggedLines output;
    try {
        interface->write(std::string_view("CheckIP?"), 1);
        FAIL() << "written";
    } catch (const IOReturnError& error) {
        EXPECT_EQ(error.status(), kIOReturnNotOpen);
    }
}

}  // namespace
}  // namespace tervane::usb

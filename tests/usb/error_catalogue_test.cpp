// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Status texts, error kinds, override lists and the failure log line.
#include "io_error.h"
#include "usb_test_support.h"

#include <set>

namespace tervane::usb {
namespace {

using test::LoggedLines;

// Published values, written out independently of io_return.h.
struct PublishedValue {
    IOReturn constant;
    std::uint32_t published;
};

TEST(StatusValues, MatchThePublishedReturnCodes)
{
    const PublishedValue values[] = {
        {kIOReturnError, 0xE00002BC},
        {kIOReturnNoMemory, 0xE00002BD},
        {kIOReturnNoResources, 0xE00002BE},
        {kIOReturnIPCError, 0xE00002BF},
        {kIOReturnNoDevice, 0xE00002C0},
        {kIOReturnNotPrivileged, 0xE00002C1},
        {kIOReturnBadArgument, 0xE00002C2},
        {kIOReturnLockedRead, 0xE00002C3},
        {kIOReturnLockedWrite, 0xE00002C4},
        {kIOReturnExclusiveAccess, 0xE00002C5},
        {kIOReturnBadMessageID, 0xE00002C6},
        {kIOReturnUnsupported, 0xE00002C7},
        {kIOReturnVMError, 0xE00002C8},
        {kIOReturnInternalError, 0xE00002C9},
        {kIOReturnIOError, 0xE00002CA},
        {kIOReturnCannotLock, 0xE00002CC},
        {kIOReturnNotOpen, 0xE00002CD},
        {kIOReturnNotReadable, 0xE00002CE},
        {kIOReturnNotWritable, 0xE00002CF},
        {kIOReturnNotAligned, 0xE00002D0},
        {kIOReturnBadMedia, 0xE00002D1},
        {kIOReturnStillOpen, 0xE00002D2},
        {kIOReturnRLDError, 0xE00002D3},
        {kIOReturnDMAError, 0xE00002D4},
        {kIOReturnBusy, 0xE00002D5},
        {kIOReturnTimeout, 0xE00002D6},
        {kIOReturnOffline, 0xE00002D7},
        {kIOReturnNotReady, 0xE00002D8},
        {kIOReturnNotAttached, 0xE00002D9},
        {kIOReturnNoChannels, 0xE00002DA},
        {kIOReturnNoSpace, 0xE00002DB},
        {kIOReturnPortExists, 0xE00002DD},
        {kIOReturnCannotWire, 0xE00002DE},
        {kIOReturnNoInterrupt, 0xE00002DF},
        {kIOReturnNoFrames, 0xE00002E0},
        {kIOReturnMessageTooLarge, 0xE00002E1},
        {kIOReturnNotPermitted, 0xE00002E2},
        {kIOReturnNoPower, 0xE00002E3},
        {kIOReturnNoMedia, 0xE00002E4},
        {kIOReturnUnformattedMedia, 0xE00002E5},
        {kIOReturnUnsupportedMode, 0xE00002E6},
        {kIOReturnUnderrun, 0xE00002E7},
        {kIOReturnOverrun, 0xE00002E8},
        {kIOReturnDeviceError, 0xE00002E9},
        {kIOReturnNoCompletion, 0xE00002EA},
        {kIOReturnAborted, 0xE00002EB},
        {kIOReturnNoBandwidth, 0xE00002EC},
        {kIOReturnNotResponding, 0xE00002ED},
        {kIOReturnIsoTooOld, 0xE00002EE},
        {kIOReturnIsoTooNew, 0xE00002EF},
        {kIOReturnNotFound, 0xE00002F0},
        {kIOReturnInvalid, 0xE0000001},
        {kIOUSBUnknownPipeErr, 0xE0004061},
        {kIOUSBTooManyTransactionsPending, 0xE0004042},
        {kIOUSBPipeStalled, 0xE000404F},
        {kIOUSBTransactionTimeout, 0xE0004051},
    };
    for (const auto& value : values) {
        EXPECT_EQ(static_cast<std::uint32_t>(value.constant), value.published);
    }
    EXPECT_LT(kIOUSBUnknownPipeErr, 0);
}

TEST(StatusTable, HasSeventySixRowsEachDescribedByItsOwnTextOrAnEarlierRow)
{
    const auto& rows = statusTable();
    ASSERT_EQ(rows.size(), 76u);
    std::set<IOReturn> seen;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (seen.insert(row.value).second) {
            EXPECT_EQ(errorDescription(row.value), std::optional<std::string>(row.text));
        } else {
            // Only the two names of USB code 0x49 share a status.
            EXPECT_EQ(row.value, kIOUSBDeviceNotHighSpeed);
        }
    }
    EXPECT_EQ(seen.size(), 75u);
}

struct TextCase {
    IOReturn status;
    const char* text;
};

TEST(StatusTable, ExactTexts)
{
    const TextCase cases[] = {
        {ioreturn::exclusiveAccess, "Exclusive access and device already open"},
        {ioreturn::timeout, "I/O timeout"},
        {iokit_usb_err(0x61), "Pipe ref not recognized"},
        {kIOUSBDeviceNotHighSpeed, "Name is deprecated, see below"},
        {kIOUSBDeviceTransferredToCompanion, "Name is deprecated, see below"},
        {ioreturn::unformattedMedia, "media not formatted"},
        {ioreturn::usbNoAsyncPort, "no async port"},
        {ioreturn::usbNotEnoughPipes, "not enough pipes in interface"},
        {ioreturn::usbNotEnoughPower, "not enough power for selected configuration"},
        {ioreturn::usbLowLatencyBufferNotPreviouslyAllocated,
         "Attempted to use user land low latency isoc calls w/out calling PrepareBuffer (on the "
         "data "
         "buffer) first "},
        {ioreturn::usbSyncRequestOnWlThread, "A synchronous USB request was made on the workloop "
                                             "thread (from a callback?).  Only async "
                                             "requests are permitted in that case"},
        {ioreturn::usbTransactionTimeout, "Transaction timed out"},
        {ioreturn::invalid, "Should never be seen"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorDescription(c.status), std::optional<std::string>(c.text));
    }
}

TEST(StatusTable, UnnamedStatusesFallBackToTheNumber)
{
    const TextCase cases[] = {
        {1, "IOError (1)"},
        {-1, "IOError (-1)"},
        {static_cast<IOReturn>(0xE00002CBu), "IOError (-536870197)"},  // the gap in the table
        {iokit_usb_err(0x62), "IOError (-536854430)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorDescription(c.status), std::optional<std::string>(c.text));
        EXPECT_EQ(IOReturnError(c.status).errorDescription(), std::optional<std::string>(c.text));
        EXPECT_EQ(IOReturnError(c.status).recoverySuggestion(), std::nullopt);
    }
}

TEST(VXIOErrorCases, RawValuesAndTexts)
{
    const std::pair<int, const char*> cases[] = {
        {0, "I/O: No plugin interface."},
        {1, "USB: Plugin has no device interface."},
        {2, "USB: Plugin has no interface interface."},
        {3, "I/O: Could not query interface."},
        {4, "USB: Could not query device interface."},
        {5, "USB: Could not query interface interface."},
        {6, "Could not get enough data."},
    };
    for (const auto& [raw, text] : cases) {
        auto error = vxioErrorFromRawValue(raw);
        ASSERT_TRUE(error.has_value()) << raw;
        VXIOErrorException exception(*error);
        EXPECT_EQ(exception.errorCode(), raw);
        EXPECT_EQ(exception.errorDescription(), std::optional<std::string>(text));
        EXPECT_STREQ(exception.what(), text);
    }
    EXPECT_EQ(vxioErrorFromRawValue(7), std::nullopt);
    EXPECT_EQ(vxioErrorFromRawValue(-1), std::nullopt);
    EXPECT_EQ(vxioErrorFromRawValue(6), VXIOError::couldNotGetEnoughData);
}

TEST(OverrideLists, FirstAnsweringHandlerReplacesOnlyItsValues)
{
    ioReturnErrorDescriptionHandlers().push_back([](IOReturn status) -> std::optional<std::string> {
        if (status == kIOReturnBusy) {
            return "printer busy";
        }
        return std::nullopt;
    });
    ioReturnRecoverySuggestionHandlers().push_back(
        [](IOReturn) -> std::optional<std::string> { return "try again"; });
    vxioErrorDescriptionHandlers().push_back([](VXIOError error) -> std::optional<std::string> {
        if (error == VXIOError::couldNotGetEnoughData) {
            return "short reply";
        }
        return std::nullopt;
    });

    EXPECT_EQ(errorDescription(kIOReturnBusy), "printer busy");
    EXPECT_EQ(errorDescription(kIOReturnTimeout), "I/O timeout");
    EXPECT_EQ(recoverySuggestion(kIOReturnTimeout), "try again");
    EXPECT_EQ(errorDescription(VXIOError::couldNotGetEnoughData), "short reply");
    EXPECT_EQ(errorDescription(VXIOError::noPluginInterface), "I/O: No plugin interface.");
    EXPECT_EQ(recoverySuggestion(VXIOError::noPluginInterface), std::nullopt);

    ioReturnErrorDescriptionHandlers().clear();
    ioReturnRecoverySuggestionHandlers().clear();
    vxioErrorDescriptionHandlers().clear();
    EXPECT_EQ(errorDescription(kIOReturnBusy), "Device busy");
}

TEST(ThrowIfNotSuccess, SuccessIsSilent)
{
    LoggedLines output;
    EXPECT_NO_THROW(throwIfNotSuccess(kIOReturnSuccess, "func readBytes"));
    EXPECT_TRUE(output.lines().empty());
}

TEST(ThrowIfNotSuccess, LogsTheFailureLineAndThrowsTheStatus)
{
    const std::tuple<IOReturn, const char*, const char*> cases[] = {
        {kIOReturnTimeout, "func readBytes",
         "error happened at func readBytes and error is: Optional(\"I/O timeout\")"},
        {kIOReturnExclusiveAccess, "func open-seize-true",
         "error happened at func open-seize-true and error is: Optional(\"Exclusive access and "
         "device "
         "already open\")"},
        {-1, "func write ",
         "error happened at func write  and error is: Optional(\"IOError (-1)\")"},
    };
    for (const auto& [status, label, line] : cases) {
        LoggedLines output;
        try {
            throwIfNotSuccess(status, label);
            ADD_FAILURE() << "no exception for " << label;
        } catch (const IOReturnError& error) {
            EXPECT_EQ(error.status(), status);
        }
        EXPECT_EQ(output.lines(), std::vector<std::string>{line});
    }
}

}  // namespace
}  // namespace tervane::usb

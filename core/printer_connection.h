// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Everything the job exchanges with the outside world while it prints: the
// print stream (standard output, read by the backend), the side channel
// (connection query, drain requests), the back channel (the printer's
// replies), the print server's job cancel, the pauses between retries and the
// termination request. The job talks to the printer only through this seam,
// so that it runs unchanged against a scripted connection in the tests.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <sys/types.h>

namespace rvt {

class PrinterConnection {
public:
    virtual ~PrinterConnection() = default;

    // One side-channel request (CUPS_SC_CMD_GET_CONNECTED,
    // CUPS_SC_CMD_DRAIN_OUTPUT) with a 512-byte data buffer. Returns the
    // cups_sc_status_t status; the data is not used.
    virtual int sideChannelRequest(int command, double timeoutSeconds) = 0;

    // Reads the printer's reply into `buffer` (at most `size` bytes). Returns
    // the number of bytes read; 0 or less when nothing came within the
    // time-out.
    virtual ssize_t backChannelRead(char* buffer, size_t size, double timeoutSeconds) = 0;

    // Reads what is already waiting on the back channel, without waiting:
    // the count of bytes read, 0 or less when nothing waits (or the
    // connection cannot tell).
    virtual ssize_t backChannelWaiting(char* /*buffer*/, size_t /*size*/) { return 0; }

    // Writes all `size` bytes to the print stream. False when it could not:
    // the backend is gone and nothing more can be sent.
    virtual bool write(const void* data, size_t size) = 0;

    // Asks the print server to cancel job `jobId` of queue `printer`.
    // Returns the result of the request (1 = done) and sets `lastError` to
    // the server's last error text.
    virtual int cancelJobOnServer(const std::string& printer, int jobId,
                                  std::string& lastError) = 0;

    // Pauses for one second, or less when the termination signal arrives.
    virtual void sleepOneSecond() = 0;

    // True once the scheduler has asked the job to stop. The only call made
    // from the page worker thread too: it must be safe to call concurrently.
    virtual bool terminationRequested() = 0;

    // True when nobody reads the print stream any more: the backend has
    // ended (it may have asked the scheduler to stop the queue). Asked while
    // the job waits for the printer, when no write would tell.
    virtual bool outputClosed() { return false; }

    // Told of every exchange's outcome: the query and the printer's reply
    // code, or 6 when no reply came. A front end that shows the printer's
    // state from its replies looks at them; the filter leaves that to the
    // log.
    virtual void exchangeDone(const std::string& /*query*/, int /*code*/) {}

    // Whether the job has a back channel (the printer's replies) and a side
    // channel (connection query, drain requests). The scheduler always gives
    // both; run by hand or by cupsfilter, they are /dev/null or closed and
    // nothing would ever answer.
    virtual bool hasBackChannel() { return true; }
    virtual bool hasSideChannel() { return true; }
    // Both channels are there: the job waits for the printer's replies.
    bool hasPrinterChannels() { return hasBackChannel() && hasSideChannel(); }
};

// The log line of a job without the printer's channels, or "" when it has
// both.
std::string missingChannelsNote(PrinterConnection& connection);

}  // namespace rvt

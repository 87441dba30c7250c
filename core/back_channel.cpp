// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "back_channel.h"

#include "command_stream.h"
#include "job_feedback.h"
#include "job_settings.h"
#include "log.h"
#include "printer_connection.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cups/sidechannel.h>
#include <string>

namespace rvt {

namespace {

// The first blank-delimited token of the reply, at most four characters.
void extractCodeText(const char* reply, char (&codeText)[5])
{
    codeText[0] = '\0';
    if (std::sscanf(reply, "%4s", codeText) != 1)
        codeText[0] = '\0';
}

// Without the printer's channels no reply ever comes: each exchange takes
// the reply that lets the job go on.
int assumedReply(const std::string& command)
{
    if (command == "LockPrinter?")
        return 2;
    if (command == "UnLockPrinter?")
        return 3;
    return 0;
}

}  // namespace

int decodeStatusCode(int code)
{
    const uint32_t c = static_cast<uint32_t>(code);
    if (c == 2 || c == 3 || c == 4 || c == 6)
        return code;
    if (c == 2001 || c == 2002)
        return 9;
    if (c >= 2003 && c <= 2016)
        return 5;
    if (c == 3030 || c == 3063)
        return 0;
    if (c == 3038)
        return 7;
    if (c >= 3000 && c <= 5012)
        return 5;
    if (c == 6002)
        return 5;
    return 0;
}

bool BackChannel::streamGone() const { return stream_.broken(); }

int BackChannel::cmdInteraction(std::string_view text, bool interruptible)
{
    const std::string command(text);
    char codeText[5] = {};

    // The printer's replies carry no query: bytes that wait before the query
    // is sent answer an earlier one (a query that got no reply in time, or
    // queries that piled up while the printer could not be reached) and
    // must not be taken for this one's reply.
    if (connection_.hasPrinterChannels() && !streamGone())
        discardWaitingReplies(command);
    int status = stream_.sendCmd(command);
    lastSendStatus_ = status;
    log_.printf("DEBUG:[RVT4410LW]send command:%s ,and send status = %d\n", command.c_str(),
                status);
    if (!connection_.hasPrinterChannels())
        return assumedReply(command);

    char reply[kReplyBufferSize + 1] = {};
    ssize_t bytes = 0;
    int mInc = 0;
    if (!streamGone()) {
        bytes = connection_.backChannelRead(reply, kReplyBufferSize, 1.0);
        log_.printf("DEBUG:[RVT4410LW]bytes_status= %d\n", static_cast<int>(bytes));
        if (bytes <= 0 && feedback_)
            feedback_->waitingForReply();
        while (bytes <= 0 && mInc < 3) {
            if (interruptible && connection_.terminationRequested())
                break;
            bytes = connection_.backChannelRead(reply, kReplyBufferSize, 1.0);
            ++mInc;
        }
    }
    if (bytes <= 0) {
        log_.printf("DEBUG:[RVT4410LW]send cmd = %s, mInc=%d;return 0;\n", command.c_str(), mInc);
        if (feedback_ && !streamGone() && !connection_.terminationRequested())
            feedback_->replyMissing();
        if (!streamGone())
            connection_.exchangeDone(command, kNoReply);
        return kNoReply;
    }
    if (feedback_)
        feedback_->replyReceived();
    reply[static_cast<size_t>(bytes) < kReplyBufferSize ? bytes : kReplyBufferSize] = '\0';
    extractCodeText(reply, codeText);
    log_.printf("DEBUG:[RVT4410LW]send cmd=%s ,original response =%s,responseCode=%s\n",
                command.c_str(), reply, codeText);
    const int code = std::atoi(codeText);
    connection_.exchangeDone(command, code);
    return code;
}

void BackChannel::discardWaitingReplies(const std::string& command)
{
    std::string stale;
    char buffer[kReplyBufferSize];
    // A bound, so that a printer that never stops talking cannot hold the job.
    for (int reads = 0; reads < 64; ++reads) {
        const ssize_t n = connection_.backChannelWaiting(buffer, sizeof buffer);
        if (n <= 0)
            break;
        stale.append(buffer, static_cast<size_t>(n));
    }
    if (stale.empty())
        return;
    std::string shown;
    for (char c : stale.substr(0, 64))
        shown += (c >= 0x20 && c < 0x7f) ? c : '.';
    log_.printf("DEBUG: before %s: discarded %zu byte(s) of late replies to earlier queries: "
                "\"%s\"%s\n",
                command.c_str(), stale.size(), shown.c_str(), stale.size() > 64 ? "..." : "");
}

Flow BackChannel::checkpoint()
{
    if (finished())
        return Flow::Stop;
    if (connection_.terminationRequested()) {
        cancelJob();
        return Flow::Stop;
    }
    return Flow::Go;
}

Flow BackChannel::pause(int seconds)
{
    for (int i = 0; i < seconds; ++i) {
        if (checkpoint() == Flow::Stop)
            return Flow::Stop;
        connection_.sleepOneSecond();
    }
    return checkpoint();
}

bool BackChannel::connectionLost(int code)
{
    // CUPS's socket backend answers every drain so once the printer has
    // closed the connection, and goes on reading the job: no reply ever
    // comes, and a lock or unlock would be asked for without end.
    if (code != kNoReply || lastSendStatus_ != CUPS_SC_STATUS_IO_ERROR || streamGone() ||
        connection_.terminationRequested())
        return false;
    log_.write("DEBUG: the query could not be handed to the printer and got no reply: the "
               "connection to the printer is lost\n");
    cancelJob("The connection to the printer was lost");
    return true;
}

Flow BackChannel::lockPrinter()
{
    for (;;) {
        if (checkpoint() == Flow::Stop)
            return Flow::Stop;
        const int code = cmdInteraction("LockPrinter?");
        if (connectionLost(code))
            return Flow::Stop;
        if (code == 2) {
            if (feedback_)
                feedback_->lockGranted();
            return streamGone() ? Flow::Stop : Flow::Go;
        }
        if (feedback_ && code != kNoReply && !streamGone())
            feedback_->lockRefused(code);
        if (pause(3) == Flow::Stop)
            return Flow::Stop;
    }
}

Flow BackChannel::unLockPrinter()
{
    for (;;) {
        if (checkpoint() == Flow::Stop)
            return Flow::Stop;
        int code = cmdInteraction("UnLockPrinter?");
        if (connectionLost(code))
            return Flow::Stop;
        if (code == 3 || code == 4)
            return streamGone() ? Flow::Stop : Flow::Go;
        if (pause(3) == Flow::Stop)
            return Flow::Stop;
    }
}

Flow BackChannel::endOfPage()
{
    const int code = cmdInteraction("Event=EndOfPage;");
    if (connectionLost(code))
        return Flow::Stop;
    if (code == 4) {
        cancelJob("The printer cancelled the job (it answered 4 at the end of a page)");
        return Flow::Stop;
    }
    return streamGone() ? Flow::Stop : Flow::Go;
}

Flow BackChannel::checkStatus()
{
    int statusClass = decodeStatusCode(cmdInteraction("Status?"));
    if (statusClass == 4 || statusClass == 6) {
        cancelJob(statusClass == 4 ? "The printer asked to cancel the job (status 4)"
                                   : "The printer does not answer its status query");
        return Flow::Stop;
    }
    return streamGone() ? Flow::Stop : Flow::Go;
}

void BackChannel::cancelJob(std::string_view reason)
{
    if (cancelled_)
        return;
    cancelled_ = true;
    if (feedback_)
        feedback_->cancelling(reason, connection_.terminationRequested());
    log_.write("任务已取消\n");
    // The reply is read (so that it does not linger) but not examined; the
    // termination signal does not cut this wait short.
    if (!streamGone())
        cmdInteraction("CancelJob?", false);
    // Without the scheduler's channels there is no scheduler job: the queue
    // name and job id of the command line may be those of someone else's job.
    if (!connection_.hasPrinterChannels()) {
        log_.write("DEBUG: no scheduler job to cancel\n");
        return;
    }
    std::string lastError;
    int result = connection_.cancelJobOnServer(job_.PrinterName, job_.JobId, lastError);
    log_.printf("[RVT4410LW]cupsCancelJob int = %d\n", result);
    log_.printf("[RVT4410LW]cupsCancelJoblasterror = %s\n", lastError.c_str());
}

}  // namespace rvt

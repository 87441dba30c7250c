// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Exchanges with the printer: a query or event on the print stream, then the
// printer's short text reply on the back channel, turned into a reply code.
// Also the cancel sequence, the job's answer to a printer that asks for it and
// to the scheduler's termination signal.
#pragma once

#include <string>
#include <string_view>

namespace rvt {

class CommandStream;
class JobFeedback;
class Log;
class PrinterConnection;
struct JobSettings;

// Whether the job goes on. Stop: the job is over (the cancel sequence has run,
// or the print stream is gone); the caller only cleans up.
enum class Flow { Go, Stop };

// Reply code sent by nobody: what an exchange returns when no reply came.
constexpr int kNoReply = 6;
constexpr size_t kReplyBufferSize = 512;

// The status class of a reply code to "Status?".
int decodeStatusCode(int code);

class BackChannel {
public:
    // `feedback`, when given, is told of the waits and of the cancel.
    BackChannel(CommandStream& stream, PrinterConnection& connection, JobSettings& job, Log& log,
                JobFeedback* feedback = nullptr)
        : stream_(stream), connection_(connection), job_(job), log_(log), feedback_(feedback)
    {
    }

    // Sends `text` and waits up to four reads for the reply. Returns the reply
    // code, or kNoReply. An interruptible exchange stops waiting when the
    // termination signal arrives (and then returns kNoReply).
    int cmdInteraction(std::string_view text, bool interruptible = true);

    // Returns once the printer grants the lock (Go), or Stop when the job was
    // cancelled while waiting or the stream is gone.
    Flow lockPrinter();
    // The end-of-page exchange; reply 4 cancels the job.
    Flow endOfPage();
    // Returns once the printer acknowledges the unlock (Go), or Stop.
    Flow unLockPrinter();
    // The status exchange; classes 4 and 6 cancel the job.
    Flow checkStatus();

    // The cancel sequence: log, "CancelJob?", the server-side cancel. Runs
    // once; the job then ends (exit status 0) without end of job and unlock.
    // `reason`: why the filter cancels, for the user; empty for the
    // scheduler's cancel.
    void cancelJob(std::string_view reason = {});

    // A safe point: runs the cancel sequence if the termination signal has
    // arrived. Stop when the job is over for any reason.
    Flow checkpoint();

    // Sleeps `seconds` in one-second steps, looking at the termination
    // signal before each step.
    Flow pause(int seconds);

    bool finished() const { return cancelled_ || streamGone(); }
    bool cancelled() const { return cancelled_; }

private:
    bool streamGone() const;
    // Reads and logs whatever already waits on the back channel before
    // `command` is sent.
    void discardWaitingReplies(const std::string& command);
    // After an exchange that returned `code`: true, with the job cancelled,
    // when the printer's connection failed under the query.
    bool connectionLost(int code);

    CommandStream& stream_;
    PrinterConnection& connection_;
    JobSettings& job_;
    Log& log_;
    JobFeedback* feedback_;
    bool cancelled_ = false;
    int lastSendStatus_ = 0;  // the drain status of the last query sent
};

}  // namespace rvt

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A printer connection played from a script, for running the job in-process:
// side-channel statuses, the printer's replies per query, the bytes of the
// print stream one element per write, pauses counted instead of slept, and a
// termination request raised at a chosen moment.
#pragma once

#include "memory_log.h"
#include "printer_connection.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cups/sidechannel.h>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rvt::test {

// One reply of the printer to one exchange.
struct Reply {
    std::string text;     // what the printer answers
    int emptyReads = 0;   // reads that get nothing before the reply arrives
    bool silent = false;  // no answer at all

    static Reply none() { return Reply{"", 0, true}; }
    static Reply after(int emptyReads, std::string text)
    {
        return Reply{std::move(text), emptyReads, false};
    }
};

class ScriptedConnection final : public PrinterConnection {
public:
    // Status of each CUPS_SC_CMD_GET_CONNECTED request; OK once used up.
    std::deque<int> connectedStatuses;
    // Status of each drain request; OK once used up.
    std::deque<int> drainStatuses;
    // Replies per exchange text, in order; once used up, the default reply.
    std::map<std::string, std::deque<Reply>> replies;
    std::map<std::string, std::string> defaultReplies = {{"LockPrinter?", "2"},
                                                         {"UnLockPrinter?", "3"},
                                                         {"Event=EndOfPage;", "0"},
                                                         {"CancelJob?", "0"},
                                                         {"Status?", "0"}};
    // Writes after this many succeed fail (the backend is gone); -1: never.
    int writesBeforeFailure = -1;
    // Called after every element written, e.g. to raise the termination request.
    std::function<void(const std::string& element)> onWrite;
    // Called after every pause.
    std::function<void()> onSleep;
    // The scheduler's channels; without either the job waits for no reply.
    bool backChannel = true;
    bool sideChannel = true;
    bool backendEnded = false;  // nobody reads the print stream
    // Bytes already on the back channel, one read each, before any reply to
    // the query just sent: late replies to earlier queries.
    std::deque<std::string> arrivals;
    int serverCancelResult = 1;
    std::string serverLastError = "successful-ok";

    // What happened.
    std::vector<std::string> elements;  // every write, in order
    std::string output;                 // the whole print stream
    int connectedRequests = 0;
    int drainRequests = 0;
    int backChannelReads = 0;
    int sleeps = 0;
    std::vector<std::pair<std::string, int>> serverCancels;
    // Atomic: the job's page worker thread asks for it while rows are read.
    std::atomic<bool> terminate{false};

    int sideChannelRequest(int command, double) override
    {
        std::deque<int>* statuses = nullptr;
        if (command == CUPS_SC_CMD_GET_CONNECTED) {
            ++connectedRequests;
            statuses = &connectedStatuses;
        } else if (command == CUPS_SC_CMD_DRAIN_OUTPUT) {
            ++drainRequests;
            statuses = &drainStatuses;
        }
        if (!statuses || statuses->empty())
            return CUPS_SC_STATUS_OK;
        int status = statuses->front();
        statuses->pop_front();
        return status;
    }

    ssize_t backChannelRead(char* buffer, size_t size, double) override
    {
        ++backChannelReads;
        if (!arrivals.empty())
            return takeArrival(buffer, size);
        if (!pending_)
            return 0;
        if (pending_->silent)
            return 0;
        if (pending_->emptyReads > 0) {
            --pending_->emptyReads;
            return 0;
        }
        size_t n = std::min(size, pending_->text.size());
        std::memcpy(buffer, pending_->text.data(), n);
        pending_.reset();
        return static_cast<ssize_t>(n);
    }

    ssize_t backChannelWaiting(char* buffer, size_t size) override
    {
        // A reply its exchange gave up on has arrived by now.
        if (pending_ && !pending_->silent)
            arrivals.push_back(pending_->text);
        pending_.reset();
        return arrivals.empty() ? 0 : takeArrival(buffer, size);
    }

    bool write(const void* data, size_t size) override
    {
        if (writesBeforeFailure == 0)
            return false;
        if (writesBeforeFailure > 0)
            --writesBeforeFailure;
        std::string element(static_cast<const char*>(data), size);
        elements.push_back(element);
        output += element;
        // A query or event that the printer answers: its reply is now pending.
        pending_.reset();
        if (defaultReplies.count(element)) {
            auto& queue = replies[element];
            if (!queue.empty()) {
                pending_ = queue.front();
                queue.pop_front();
            } else {
                pending_ = Reply{defaultReplies[element], 0, false};
            }
        }
        if (onWrite)
            onWrite(element);
        return true;
    }

    int cancelJobOnServer(const std::string& printer, int jobId, std::string& lastError) override
    {
        serverCancels.emplace_back(printer, jobId);
        lastError = serverLastError;
        return serverCancelResult;
    }

    void sleepOneSecond() override
    {
        ++sleeps;
        if (onSleep)
            onSleep();
    }

    bool terminationRequested() override { return terminate; }
    bool outputClosed() override { return backendEnded; }
    bool hasBackChannel() override { return backChannel; }
    bool hasSideChannel() override { return sideChannel; }

    // The elements that are text commands (data chunks left out).
    std::vector<std::string> commands() const
    {
        std::vector<std::string> result;
        for (const std::string& e : elements)
            if (e.rfind("RasterObject.Data#", 0) != 0)
                result.push_back(e);
        return result;
    }

    int count(const std::string& element) const
    {
        int n = 0;
        for (const std::string& e : elements)
            n += e == element;
        return n;
    }

private:
    ssize_t takeArrival(char* buffer, size_t size)
    {
        const size_t n = std::min(size, arrivals.front().size());
        std::memcpy(buffer, arrivals.front().data(), n);
        arrivals.pop_front();
        return static_cast<ssize_t>(n);
    }

    std::optional<Reply> pending_;
};

}  // namespace rvt::test

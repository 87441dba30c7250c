// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The printer's side of one job, whoever carries the bytes: the stream read
// with the strict parser and checked against the job's order, each exchange
// answered as the script says, side-channel requests answered, pages decoded
// into files, and everything recorded for the transcript. The simulator's
// session and the CUPS backend both drive it; they own the channels.
#pragma once

#include "job_grammar.h"
#include "output_dir.h"
#include "script.h"
#include "side_channel.h"
#include "stream_parser.h"

#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rvtsim {

struct SideChannelAnswer {
    SideChannelMessage message;
    int delayMs = 0;
};

class PrinterRole {
public:
    using Clock = std::chrono::steady_clock;
    // Puts `bytes` on the back channel `delayMs` milliseconds from now.
    using ReplySender = std::function<void(std::string bytes, int delayMs)>;
    // Called after every element has been handled and answered; `occurrence`
    // counts the elements of its kind from 1.
    using ElementHook = std::function<void(const Element& e, int occurrence)>;

    // Page files go into `outDir`, which must stay open while the role
    // lives; `preview`: also a reduced page-NNN-preview.png for large pages.
    // Times are counted from `start`.
    PrinterRole(const Script& script, const OutputDir& outDir, bool preview,
                Clock::time_point start);

    // Keep each page's JBIG data and decode it (page files, page record) only
    // at endOfStream, so that nothing holds up the answer to the end of page.
    // The transcript comes out the same. Set before the first byte is fed.
    void decodeAfter(bool on) { decodeAfter_ = on; }

    void onReply(ReplySender send) { sendReply_ = std::move(send); }
    // Decides the reply to an exchange from the script's (a printer whose
    // answer depends on more than this job, such as its lock); the reply it
    // returns is the one recorded and sent.
    using ReplyRule = std::function<Reply(ElementKind kind, Reply scripted)>;
    void onReplyRule(ReplyRule rule) { replyRule_ = std::move(rule); }
    void onElement(ElementHook hook) { elementHook_ = std::move(hook); }

    // For a stream that carries jobs one after another: the role reads no
    // further than the end of its job (the lock released, or the job
    // cancelled), and the bytes after it are left for takeUnread. Set before
    // the first byte is fed.
    void stopAtJobEnd(bool on) { stopAtJobEnd_ = on; }
    bool jobEnded() const;
    // The bytes fed after the end of the job, which belong to the next one;
    // this job's stream ends where they begin.
    std::string takeUnread() { return parser_.release(); }

    // Bytes of the stream as they arrive; complete elements are handled at once.
    void feed(std::string_view bytes);
    // The writer has finished its command (it asked for a drain, or stopped).
    void boundary();
    // The answer to a side-channel request, recorded. The caller must have
    // fed everything the writer sent before it asked.
    SideChannelAnswer answer(const SideChannelMessage& request);
    // The stream is over. `complete`: it ended at the writer's end of file, so
    // leftover bytes and a page without its end are faults; otherwise the
    // reader stopped early and the page under way is simply dropped.
    void endOfStream(bool complete);
    // Parser and job-order faults at the end; call once, after endOfStream.
    void finish(bool complete);

    void event(nlohmann::json record);
    void protocolError(uint64_t offset, const std::string& message);
    long elapsedMs() const;

    // The page being received (1-based, 0 when none) and its chunks so far.
    int currentPage() const { return page_ ? page_->index : 0; }
    int currentChunks() const { return page_ ? page_->chunks : 0; }
    // Index of the last element handled, -1 before the first.
    long lastElement() const { return static_cast<long>(kinds_.size()) - 1; }
    // The stream's last element is a cancel query that came after element `index`.
    bool endsWithCancelAfter(long index) const;
    bool cancelled() const { return grammar_.state() == JobGrammar::State::Cancelled; }
    int pagesSent() const { return pagesSent_; }
    size_t elementCount() const { return kinds_.size(); }
    uint64_t bytesSeen() const { return parser_.bytesSeen(); }
    const nlohmann::json& errors() const { return errors_; }

    // The printer's part of the transcript: elements, replies, side_channel,
    // pages, events, stream_bytes, final_state and protocol_errors.
    void record(nlohmann::json& transcript) const;

private:
    struct Page {
        int index = 0;
        uint64_t headerOffset = 0;
        std::string mediaSize;
        long declaredWidth = -1;
        long declaredHeight = -1;
        int chunks = 0;
        std::string bie;
        nlohmann::json jobHeader;
    };

    void handleElements(std::vector<Element> elements);
    // Handles the elements the parser has complete, up to the end of the job
    // when the role stops there.
    void handleParsed(bool boundary);
    void handleElement(Element& e);
    void finishPage(const std::string& why);
    // Decodes `p` and fills pages_[slot] with its record.
    void decodePage(const Page& p, const std::string& why, size_t slot);
    void decodeHeldPages();
    void dropCancelledPage();
    static nlohmann::json pageRecord(const Page& p);

    const Script& script_;
    const OutputDir& out_;
    bool preview_;
    bool decodeAfter_ = false;
    bool stopAtJobEnd_ = false;
    Clock::time_point start_;
    ReplySender sendReply_;
    ReplyRule replyRule_;
    ElementHook elementHook_;

    StreamParser parser_;
    JobGrammar grammar_;
    std::map<ElementKind, int> occurrences_;
    int connectedQueries_ = 0, drains_ = 0;
    std::optional<Page> page_;
    int pagesSent_ = 0;
    nlohmann::json jobHeader_ = nlohmann::json::object();
    std::vector<ElementKind> kinds_;
    // Pages ended but not yet decoded (decodeAfter): the page, the fault
    // that ended it, if any, and its place in pages_.
    struct HeldPage {
        Page page;
        std::string why;
        size_t slot;
    };
    std::vector<HeldPage> held_;

    nlohmann::json elements_ = nlohmann::json::array();
    nlohmann::json replies_ = nlohmann::json::array();
    nlohmann::json sideChannel_ = nlohmann::json::array();
    nlohmann::json pages_ = nlohmann::json::array();
    nlohmann::json errors_ = nlohmann::json::array();
    nlohmann::json events_ = nlohmann::json::array();
};

// Answers given after a delay, run from the caller's poll loop.
class DelayedActions {
public:
    using Clock = std::chrono::steady_clock;
    void add(int delayMs, std::function<void()> action);
    void addAt(Clock::time_point when, std::function<void()> action);
    // Milliseconds until the next action is due, capped at `cap`.
    int waitMs(int cap) const;
    // Runs every action that is due.
    void runDue();
    bool empty() const { return actions_.empty(); }

private:
    std::multimap<Clock::time_point, std::function<void()>> actions_;
};

}  // namespace rvtsim

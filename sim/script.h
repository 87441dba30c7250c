// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// What the simulated printer does during one job: its replies to each
// exchange, the connection status it reports, how fast it drains, and the
// scheduler's actions it plays (SIGTERM, the backend going away).
#pragma once

#include "stream_parser.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rvtsim {

using Reply = std::optional<std::string>;  // nullopt: no reply at all

// A point in the job: after the `count`-th element of a kind, after data
// chunk `chunk` of the `page`-th page sent, after the `count`-th connection
// query on the side channel has been answered, or `ms` milliseconds after
// start.
struct Trigger {
    enum class Type { Never, Element, Chunk, Connected, Delay };
    Type type = Type::Never;
    ElementKind kind = ElementKind::Lock;
    int count = 1;
    int page = 1;
    int chunk = 1;
    int ms = 0;
};

struct Script {
    // Replies per exchange, one per occurrence; the last one repeats.
    std::map<ElementKind, std::vector<Reply>> replies;
    // Replies for given occurrences (1-based), before the sequences.
    std::map<ElementKind, std::map<int, Reply>> repliesAt;
    std::map<ElementKind, int> replyDelayMs;

    std::vector<int> connected{1};  // side-channel status per connection query; last repeats
    std::vector<int> drainStatus{1};
    std::vector<int> drainDelayMs{0};

    Trigger sigterm;
    Trigger closeStream;
    Trigger stallStream;  // the stream is no longer read but stays open
    double timeoutSeconds = 120;

    Script();
    // The reply to the `occurrence`-th (1-based) element of `kind`.
    Reply replyFor(ElementKind kind, int occurrence) const;
    static bool isExchange(ElementKind kind);
};

// Reads a script from JSON text into `script` (keys absent keep their
// defaults). Returns an empty text or the error.
std::string parseScript(const std::string& json, Script& script);

// "lock:2" (after the 2nd lock query), "chunk:1:3" (after chunk 3 of page 1),
// "connected:2" (after the 2nd connection query), "ms:1500". Returns false
// when the text is not one of those.
bool parseTrigger(const std::string& text, Trigger& trigger);

// Comma-separated list for the command line; "-" is no reply.
std::vector<Reply> parseReplyList(const std::string& text);
std::vector<int> parseIntList(const std::string& text);

}  // namespace rvtsim

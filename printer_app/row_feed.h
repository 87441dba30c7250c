// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The pages of a job as the printer application's framework hands them over,
// one line at a time from its own thread, turned into a page source for the
// job's page pipeline, which reads them on the job's threads. A bounded
// queue between the two: the framework's thread waits while the pipeline is
// a few hundred lines behind, so that no whole page is ever held. Lines cross
// in batches: each side gathers or takes a batch under one lock, and wakes
// the other once per batch, not per line.
#pragma once

#include "page_source.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace rvt::app {

class RowFeed final : public PageSource {
public:
    // At most about `maxLines` lines wait between the two sides.
    explicit RowFeed(size_t maxLines = 256)
        : maxLines_(maxLines < 2 ? 2 : maxLines),
          batch_(std::max<size_t>(1, std::min(kBatch, maxLines_ / 2)))
    {
    }

    // The framework's side (one thread). Each returns false once the
    // pipeline no longer reads (the job is stopping): the caller drops the
    // rest of the page.
    bool startPage(const cups_page_header2_t& header);
    bool writeLine(const uint8_t* line, size_t bytes);
    // The page's lines so far go to the pipeline (a page's end).
    bool flush();
    // The next page cannot be printed, for `reason`: the job stops there.
    void refusePage(std::string reason);
    // No more pages come.
    void endDocument();

    // The pipeline's side (one thread at a time).
    Next nextPage(cups_page_header2_t& header, std::string& refusal) override;
    bool readLine(uint8_t* line, unsigned bytes) override;
    // The pipeline reads no more: whatever waits is dropped, and the
    // framework's side is let go.
    void abandon();

private:
    struct Item {
        bool isHeader = false;
        // A header item's page header (kept apart: a line item carries none,
        // and lines are many).
        std::unique_ptr<cups_page_header2_t> header;
        std::string refusal;  // a header item: the page is refused
        std::vector<uint8_t> line;
    };
    // Hands the gathered items over, waiting for room; `pageEnd`: the
    // pipeline may take them without waiting for a whole batch.
    bool push(bool pageEnd = false);
    // Takes what the framework has handed over into the pipeline's own
    // items, waiting for a batch, a header or the end. False when there is
    // nothing more to take.
    bool take();
    // Whether the pipeline has something to take. The lock is held.
    bool readable() const;

    static constexpr size_t kBatch = 32;
    const size_t maxLines_;
    const size_t batch_;

    // The framework's own.
    std::vector<Item> gathered_;
    std::vector<std::vector<uint8_t>> freeLines_;
    // The pipeline's own.
    std::deque<Item> taken_;
    std::vector<std::vector<uint8_t>> usedLines_;

    std::mutex mutex_;                         // guards what follows
    std::condition_variable readableChanged_;  // the pipeline waits on it
    std::condition_variable roomChanged_;      // the framework waits on it
    std::deque<Item> items_;
    size_t headers_ = 0;                       // header items in items_
    bool pageEnded_ = false;                   // items_ ends with a page's end
    std::vector<std::vector<uint8_t>> spare_;  // line buffers going back
    bool ended_ = false;
    bool abandoned_ = false;
};

}  // namespace rvt::app

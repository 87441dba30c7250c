// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The pages of a job as the printer application's framework hands them over,
// one line at a time from its own thread, turned into a page source for the
// job's page pipeline, which reads them on the job's threads. A bounded
// queue between the two: the framework's thread waits while the pipeline is
// a few hundred lines behind, so that no whole page is ever held. Each side
// wakes the other for a batch of lines, not for every line.
#pragma once

#include "page_source.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace rvt::app {

class RowFeed final : public PageSource {
public:
    // At most `maxLines` lines wait in the queue.
    explicit RowFeed(size_t maxLines = 256)
        : maxLines_(maxLines < 1 ? 1 : maxLines),
          batch_(std::max<size_t>(1, std::min(kBatch, maxLines_ / 2)))
    {
    }

    // The framework's side. Each returns false once the pipeline no longer
    // reads (the job is stopping): the caller drops the rest of the page.
    bool startPage(const cups_page_header2_t& header);
    bool writeLine(const uint8_t* line, size_t bytes);
    // The next page cannot be printed, for `reason`: the job stops there.
    void refusePage(std::string reason);
    // No more pages come.
    void endDocument();

    // The pipeline's side.
    Next nextPage(cups_page_header2_t& header, std::string& refusal) override;
    bool readLine(uint8_t* line, unsigned bytes) override;
    // The pipeline reads no more: whatever waits is dropped, and the
    // framework's side is let go.
    void abandon();

private:
    struct Item {
        bool isHeader = false;
        cups_page_header2_t header{};
        std::string refusal;  // a header item: the page is refused
        std::vector<uint8_t> line;
    };
    bool push(Item item);

    // Whether the pipeline has something to take: a batch of lines, a page
    // header, the end. The lock is held.
    bool readable() const;

    static constexpr size_t kBatch = 32;
    const size_t maxLines_;
    const size_t batch_;  // lines that wake the other side
    std::mutex mutex_;
    std::condition_variable readableChanged_;  // the pipeline waits on it
    std::condition_variable roomChanged_;      // the framework waits on it
    std::deque<Item> items_;
    size_t headers_ = 0;                       // header items in the queue
    std::vector<std::vector<uint8_t>> spare_;  // line buffers for reuse
    bool ended_ = false;
    bool abandoned_ = false;
};

}  // namespace rvt::app

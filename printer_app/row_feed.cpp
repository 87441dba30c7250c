// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "row_feed.h"

#include <cstring>

namespace rvt::app {

bool RowFeed::readable() const
{
    return abandoned_ || ended_ || headers_ > 0 || items_.size() >= batch_ ||
           (pageEnded_ && !items_.empty());
}

bool RowFeed::push(bool pageEnd)
{
    std::unique_lock<std::mutex> lock(mutex_);
    roomChanged_.wait(lock, [&] { return abandoned_ || items_.size() < maxLines_; });
    if (abandoned_ || ended_) {
        gathered_.clear();
        return false;
    }
    const bool wasReadable = readable();
    for (Item& item : gathered_) {
        if (item.isHeader)
            ++headers_;
        items_.push_back(std::move(item));
    }
    gathered_.clear();
    pageEnded_ = pageEnd;
    // Line buffers the pipeline is done with come back for the next batch.
    while (!spare_.empty() && freeLines_.size() < batch_) {
        freeLines_.push_back(std::move(spare_.back()));
        spare_.pop_back();
    }
    if (!wasReadable && readable())
        readableChanged_.notify_all();
    return true;
}

bool RowFeed::flush() { return gathered_.empty() || push(true); }

bool RowFeed::startPage(const cups_page_header2_t& header)
{
    Item item;
    item.isHeader = true;
    item.header = std::make_unique<cups_page_header2_t>(header);
    gathered_.push_back(std::move(item));
    return push();
}

bool RowFeed::writeLine(const uint8_t* line, size_t bytes)
{
    Item item;
    if (!freeLines_.empty()) {
        item.line = std::move(freeLines_.back());
        freeLines_.pop_back();
    }
    item.line.assign(line, line + bytes);
    gathered_.push_back(std::move(item));
    return gathered_.size() < batch_ || push();
}

void RowFeed::refusePage(std::string reason)
{
    Item item;
    item.isHeader = true;
    item.refusal = reason.empty() ? std::string("The page cannot be printed") : std::move(reason);
    gathered_.push_back(std::move(item));
    push();
}

void RowFeed::endDocument()
{
    flush();
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    readableChanged_.notify_all();
}

void RowFeed::abandon()
{
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
    items_.clear();
    headers_ = 0;
    spare_.clear();
    readableChanged_.notify_all();
    roomChanged_.notify_all();
}

bool RowFeed::take()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (std::vector<uint8_t>& used : usedLines_)
        if (spare_.size() < 2 * batch_)
            spare_.push_back(std::move(used));
    usedLines_.clear();
    readableChanged_.wait(lock, [&] { return readable(); });
    if (abandoned_ || items_.empty())
        return false;
    for (size_t n = 0; n < 2 * batch_ && !items_.empty(); ++n) {
        if (items_.front().isHeader)
            --headers_;
        taken_.push_back(std::move(items_.front()));
        items_.pop_front();
    }
    roomChanged_.notify_all();
    return true;
}

PageSource::Next RowFeed::nextPage(cups_page_header2_t& header, std::string& refusal)
{
    for (;;) {
        if (taken_.empty() && !take())
            return Next::End;
        Item item = std::move(taken_.front());
        taken_.pop_front();
        if (item.isHeader && !item.refusal.empty()) {
            refusal = std::move(item.refusal);
            return Next::Refused;
        }
        if (item.isHeader) {
            header = *item.header;
            return Next::Page;
        }
        // A line of the page before, which the pipeline did not read.
        usedLines_.push_back(std::move(item.line));
    }
}

bool RowFeed::readLine(uint8_t* line, unsigned bytes)
{
    if (taken_.empty() && !take())
        return false;
    if (taken_.front().isHeader)
        return false;  // the page has no more lines
    Item item = std::move(taken_.front());
    taken_.pop_front();
    const size_t n = std::min<size_t>(bytes, item.line.size());
    std::memcpy(line, item.line.data(), n);
    if (n < bytes)
        std::memset(line + n, 0xff, bytes - n);
    usedLines_.push_back(std::move(item.line));
    return true;
}

}  // namespace rvt::app

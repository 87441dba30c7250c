// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "row_feed.h"

#include <algorithm>
#include <cstring>

namespace rvt::app {

bool RowFeed::readable() const
{
    return abandoned_ || ended_ || headers_ > 0 || items_.size() >= batch_;
}

bool RowFeed::push(Item item)
{
    std::unique_lock<std::mutex> lock(mutex_);
    roomChanged_.wait(lock, [&] { return abandoned_ || items_.size() < maxLines_; });
    if (abandoned_ || ended_)
        return false;
    const bool wasReadable = readable();
    if (item.isHeader)
        ++headers_;
    items_.push_back(std::move(item));
    if (!wasReadable && readable())
        readableChanged_.notify_all();
    return true;
}

bool RowFeed::startPage(const cups_page_header2_t& header)
{
    Item item;
    item.isHeader = true;
    item.header = header;
    return push(std::move(item));
}

bool RowFeed::writeLine(const uint8_t* line, size_t bytes)
{
    Item item;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (abandoned_)
            return false;
        if (!spare_.empty()) {
            item.line = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    item.line.assign(line, line + bytes);
    return push(std::move(item));
}

void RowFeed::refusePage(std::string reason)
{
    Item item;
    item.isHeader = true;
    item.refusal = reason.empty() ? std::string("The page cannot be printed") : std::move(reason);
    push(std::move(item));
}

void RowFeed::endDocument()
{
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

PageSource::Next RowFeed::nextPage(cups_page_header2_t& header, std::string& refusal)
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        readableChanged_.wait(lock, [&] { return readable(); });
        if (abandoned_)
            return Next::End;
        if (items_.empty())
            return Next::End;  // ended, and nothing left
        Item item = std::move(items_.front());
        items_.pop_front();
        if (item.isHeader)
            --headers_;
        if (items_.size() + batch_ == maxLines_)
            roomChanged_.notify_all();
        if (item.isHeader && !item.refusal.empty()) {
            refusal = std::move(item.refusal);
            return Next::Refused;
        }
        if (item.isHeader) {
            header = item.header;
            return Next::Page;
        }
        // A line of the page before, which the pipeline did not read.
    }
}

bool RowFeed::readLine(uint8_t* line, unsigned bytes)
{
    std::unique_lock<std::mutex> lock(mutex_);
    readableChanged_.wait(lock, [&] { return readable(); });
    if (abandoned_ || items_.empty() || items_.front().isHeader)
        return false;  // the page has no more lines
    Item item = std::move(items_.front());
    items_.pop_front();
    // The framework waits for room: it is woken once a batch has gone.
    if (items_.size() + batch_ == maxLines_)
        roomChanged_.notify_all();
    const size_t n = std::min<size_t>(bytes, item.line.size());
    std::memcpy(line, item.line.data(), n);
    if (n < bytes)
        std::memset(line + n, 0xff, bytes - n);
    if (spare_.size() < 8)
        spare_.push_back(std::move(item.line));
    return true;
}

}  // namespace rvt::app

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "job_log.h"

namespace rvt::app {

namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view afterPrefix(std::string_view text, size_t prefix)
{
    text.remove_prefix(prefix);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return text;
}

}  // namespace

JobLog::~JobLog()
{
    if (!partial_.empty())
        line(partial_);
}

void JobLog::write(std::string_view text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            partial_.append(text);
            return;
        }
        partial_.append(text.substr(0, end));
        text.remove_prefix(end + 1);
        std::string whole;
        whole.swap(partial_);
        line(whole);
    }
}

void JobLog::line(std::string_view text)
{
    const auto length = static_cast<int>(text.size());
    if (startsWith(text, "INFO:")) {
        const std::string_view message = afterPrefix(text, 5);
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "%.*s", static_cast<int>(message.size()),
                    message.data());
        papplJobSetMessage(job_, "%.*s", static_cast<int>(message.size()), message.data());
    } else if (startsWith(text, "ERROR:")) {
        const std::string_view message = afterPrefix(text, 6);
        papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%.*s", static_cast<int>(message.size()),
                    message.data());
        papplJobSetMessage(job_, "%.*s", static_cast<int>(message.size()), message.data());
        if (error_.empty())
            error_ = message;
    } else if (startsWith(text, "DEBUG:")) {
        papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%.*s", length, text.data());
    } else if (startsWith(text, "PAGE:")) {
        if (countPages_)
            papplJobSetImpressionsCompleted(job_, 1);
        papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%.*s", length, text.data());
    } else if (!text.empty()) {
        // STATE:, ATTR: and PAGE: lines are the scheduler's; the printer's
        // state and the pages printed reach IPP another way. Kept for the
        // developer, with the job's other progress lines.
        papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%.*s", length, text.data());
    }
}

std::string JobLog::error() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

}  // namespace rvt::app

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "printer_role.h"

#include "image_files.h"
#include "jbig_decode.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cups/sidechannel.h>

namespace rvtsim {

using json = nlohmann::json;

PrinterRole::PrinterRole(const Script& script, const OutputDir& outDir, bool preview,
                         Clock::time_point start)
    : script_(script), out_(outDir), preview_(preview), start_(start)
{
}

long PrinterRole::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
}

void PrinterRole::event(json record) { events_.push_back(std::move(record)); }

void PrinterRole::protocolError(uint64_t offset, const std::string& message)
{
    errors_.push_back({{"offset", offset}, {"message", message}});
}

bool PrinterRole::jobEnded() const
{
    return grammar_.state() == JobGrammar::State::Unlocked ||
           grammar_.state() == JobGrammar::State::Cancelled;
}

void PrinterRole::feed(std::string_view bytes)
{
    parser_.feed(bytes);
    // Handle as we go, so that the hooks see every element at its place.
    handleParsed(false);
}

void PrinterRole::boundary() { handleParsed(true); }

void PrinterRole::handleParsed(bool boundary)
{
    if (!stopAtJobEnd_) {
        handleElements(parser_.take(boundary));
        return;
    }
    // One element at a time, so that nothing after the end of the job is taken.
    while (!jobEnded()) {
        std::vector<Element> one = parser_.take(boundary, 1);
        if (one.empty())
            break;
        handleElement(one.front());
    }
}

SideChannelAnswer PrinterRole::answer(const SideChannelMessage& request)
{
    boundary();
    SideChannelAnswer a;
    a.message.command = request.command;
    auto pick = [](const std::vector<int>& seq, int i) {
        return seq[std::min<size_t>(static_cast<size_t>(i), seq.size() - 1)];
    };
    if (request.command == CUPS_SC_CMD_GET_CONNECTED) {
        a.message.status = pick(script_.connected, connectedQueries_++);
        if (a.message.status == CUPS_SC_STATUS_OK)
            a.message.data = std::string(1, '\1');
    } else if (request.command == CUPS_SC_CMD_DRAIN_OUTPUT) {
        a.message.status = pick(script_.drainStatus, drains_);
        a.delayMs = pick(script_.drainDelayMs, drains_);
        ++drains_;
    } else {
        a.message.status = CUPS_SC_STATUS_NOT_IMPLEMENTED;
    }
    sideChannel_.push_back({{"time_ms", elapsedMs()},
                            {"after_element", lastElement()},
                            {"command", request.command},
                            {"name", sideChannelCommandName(request.command)},
                            {"request_status", request.status},
                            {"request_length", request.data.size()},
                            {"status", a.message.status},
                            {"data_length", a.message.data.size()},
                            {"delay_ms", a.delayMs}});
    return a;
}

void PrinterRole::handleElements(std::vector<Element> elements)
{
    for (auto& e : elements)
        handleElement(e);
}

void PrinterRole::handleElement(Element& e)
{
    const long index = static_cast<long>(kinds_.size());
    kinds_.push_back(e.kind);
    const int occurrence = ++occurrences_[e.kind];

    json record = {{"index", index},
                   {"kind", kindName(e.kind)},
                   {"offset", e.offset},
                   {"size", e.size},
                   {"time_ms", elapsedMs()}};
    record["text"] = e.kind == ElementKind::Garbage ? printable(e.text, 200) : e.text;

    switch (e.kind) {
    case ElementKind::JobHeader:
        jobHeader_ = json::object();
        for (const auto& [k, v] : e.fields)
            jobHeader_[k] = v;
        break;
    case ElementKind::PageHeader: {
        if (page_)
            finishPage("page header before the end of the previous page");
        Page p;
        p.index = ++pagesSent_;
        p.headerOffset = e.offset;
        p.mediaSize = e.fields[0].second;
        p.declaredWidth = std::strtol(e.fields[1].second.c_str(), nullptr, 10);
        p.declaredHeight = std::strtol(e.fields[2].second.c_str(), nullptr, 10);
        p.jobHeader = jobHeader_;
        page_ = std::move(p);
        record["page"] = pagesSent_;
        break;
    }
    case ElementKind::Data:
        record["length"] = e.payload.size();
        if (page_) {
            page_->bie += e.payload;
            ++page_->chunks;
            record["page"] = page_->index;
            record["chunk"] = page_->chunks;
        }
        break;
    case ElementKind::EndOfPage:
        if (page_) {
            record["page"] = page_->index;
            finishPage("");
        }
        break;
    case ElementKind::Cancel:
        // A cancel between two chunks drops the page under way: the
        // printer prints nothing of it.
        if (page_) {
            record["page"] = page_->index;
            dropCancelledPage();
        }
        break;
    default:
        break;
    }

    Reply reply;
    if (Script::isExchange(e.kind)) {
        reply = script_.replyFor(e.kind, occurrence);
        if (replyRule_)
            reply = replyRule_(e.kind, std::move(reply));
        int delay = 0;
        if (auto d = script_.replyDelayMs.find(e.kind); d != script_.replyDelayMs.end())
            delay = d->second;
        record["reply"] = reply ? json(*reply) : json(nullptr);
        replies_.push_back({{"element", index},
                            {"kind", kindName(e.kind)},
                            {"occurrence", occurrence},
                            {"reply", record["reply"]},
                            {"delay_ms", delay}});
        if (reply && sendReply_)
            sendReply_(*reply, delay);
    }
    if (std::string fault = grammar_.accept(e, reply); !fault.empty()) {
        protocolError(e.offset, fault);
        record["fault"] = fault;
    }
    elements_.push_back(std::move(record));

    if (elementHook_)
        elementHook_(e, occurrence);
}

json PrinterRole::pageRecord(const Page& p)
{
    return {{"index", p.index},
            {"media_size", p.mediaSize},
            {"declared_width", p.declaredWidth},
            {"declared_height", p.declaredHeight},
            {"chunks", p.chunks},
            {"bie_size", p.bie.size()},
            {"job_header", p.jobHeader}};
}

void PrinterRole::dropCancelledPage()
{
    json rec = pageRecord(*page_);
    page_.reset();
    rec["cancelled"] = true;
    rec["faults"] = json::array();
    pages_.push_back(std::move(rec));
}

void PrinterRole::finishPage(const std::string& why)
{
    Page p = std::move(*page_);
    page_.reset();
    // The page keeps its place among the records, whenever it is decoded.
    const size_t slot = pages_.size();
    pages_.push_back(nullptr);
    if (decodeAfter_)
        held_.push_back({std::move(p), why, slot});
    else
        decodePage(p, why, slot);
}

void PrinterRole::decodeHeldPages()
{
    std::vector<HeldPage> held = std::move(held_);
    held_.clear();
    for (const auto& h : held)
        decodePage(h.page, h.why, h.slot);
}

void PrinterRole::decodePage(const Page& p, const std::string& why, size_t slot)
{
    char name[32];
    std::snprintf(name, sizeof name, "page-%03d", p.index);
    json rec = pageRecord(p);
    json faults = json::array();
    if (!why.empty())
        faults.push_back(why);
    DecodeResult d = decodeBie(p.bie);
    if (d.ok) {
        const BieHeader& h = d.header;
        rec["bie"] = {{"dl", h.dl},          {"d", h.d},   {"planes", h.planes},
                      {"xd", h.xd},          {"yd", h.yd}, {"l0", h.l0},
                      {"mx", h.mx},          {"my", h.my}, {"order", h.order},
                      {"options", h.options}};
        rec["width"] = d.page.width;
        rec["height"] = d.page.height;
        long raised = (static_cast<long>(d.page.width) + 7) / 8 * 8;
        if (p.declaredWidth != raised)
            faults.push_back("declared width " + std::to_string(p.declaredWidth) +
                             ", image width " + std::to_string(d.page.width) + " raised to " +
                             std::to_string(raised));
        if (p.declaredHeight != static_cast<long>(d.page.height))
            faults.push_back("declared height " + std::to_string(p.declaredHeight) +
                             ", image height " + std::to_string(d.page.height));
        long black = 0;
        for (uint8_t b : d.page.bits)
            black += __builtin_popcount(b);
        rec["black_pixels"] = black;
        std::string pbm = std::string(name) + ".pbm", png = std::string(name) + ".png";
        FilePtr pbmFile = out_.create(pbm), pngFile = out_.create(png);
        if (!pbmFile || !pngFile || !writePbm(pbmFile.get(), d.page) ||
            !writePng(pngFile.get(), d.page))
            faults.push_back("cannot write the page files");
        rec["pbm"] = pbm;
        rec["png"] = png;
        uint32_t longest = std::max(d.page.width, d.page.height);
        if (preview_ && longest > 1100) {
            std::string preview = std::string(name) + "-preview.png";
            FilePtr f = out_.create(preview);
            if (f && writePreviewPng(f.get(), d.page, (longest + 1099) / 1100))
                rec["preview"] = preview;
        }
    } else {
        faults.push_back("page not decoded: " + d.error);
    }
    for (const auto& f : faults)
        protocolError(p.headerOffset,
                      "page " + std::to_string(p.index) + ": " + f.get<std::string>());
    rec["faults"] = faults;
    pages_[slot] = std::move(rec);
}

void PrinterRole::endOfStream(bool complete)
{
    boundary();
    if (complete) {
        handleElements(parser_.finish());
        if (page_)
            finishPage("stream ended inside the page");
    }
    page_.reset();
    decodeHeldPages();
}

void PrinterRole::finish(bool complete)
{
    for (const auto& e : parser_.errors())
        protocolError(e.offset, e.message);
    if (complete && !kinds_.empty())
        if (std::string fault = grammar_.finish(); !fault.empty())
            protocolError(parser_.bytesSeen(), fault);
}

bool PrinterRole::endsWithCancelAfter(long index) const
{
    return !kinds_.empty() && kinds_.back() == ElementKind::Cancel && lastElement() > index;
}

void PrinterRole::record(json& t) const
{
    t["elements"] = elements_;
    t["replies"] = replies_;
    t["side_channel"] = sideChannel_;
    t["pages"] = pages_;
    t["events"] = events_;
    t["stream_bytes"] = parser_.bytesSeen();
    t["final_state"] = JobGrammar::stateName(grammar_.state());
    t["protocol_errors"] = errors_;
}

void DelayedActions::add(int delayMs, std::function<void()> action)
{
    addAt(Clock::now() + std::chrono::milliseconds(delayMs), std::move(action));
}

void DelayedActions::addAt(Clock::time_point when, std::function<void()> action)
{
    actions_.emplace(when, std::move(action));
}

int DelayedActions::waitMs(int cap) const
{
    if (actions_.empty())
        return cap;
    auto until = std::chrono::duration_cast<std::chrono::milliseconds>(actions_.begin()->first -
                                                                       Clock::now())
                     .count();
    return static_cast<int>(std::clamp<long>(until, 0, cap));
}

void DelayedActions::runDue()
{
    while (!actions_.empty() && actions_.begin()->first <= Clock::now()) {
        auto action = std::move(actions_.begin()->second);
        actions_.erase(actions_.begin());
        action();
    }
}

}  // namespace rvtsim

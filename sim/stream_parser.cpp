// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "stream_parser.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace rvtsim {
namespace {

struct Fixed {
    ElementKind kind;
    std::string_view text;
};

constexpr std::array<Fixed, 7> kFixed{{
    {ElementKind::Lock, "LockPrinter?"},
    {ElementKind::StartOfJob, "Event=StartOfJob;"},
    {ElementKind::EndOfPage, "Event=EndOfPage;"},
    {ElementKind::EndOfJob, "Event=EndOfJob;"},
    {ElementKind::Unlock, "UnLockPrinter?"},
    {ElementKind::Cancel, "CancelJob?"},
    {ElementKind::Status, "Status?"},
}};

struct Name {
    ElementKind kind;
    const char* name;
};
constexpr std::array<Name, 11> kNames{{
    {ElementKind::Lock, "lock"},
    {ElementKind::StartOfJob, "start_of_job"},
    {ElementKind::JobHeader, "job_header"},
    {ElementKind::PageHeader, "page_header"},
    {ElementKind::Data, "data"},
    {ElementKind::EndOfPage, "end_of_page"},
    {ElementKind::EndOfJob, "end_of_job"},
    {ElementKind::Unlock, "unlock"},
    {ElementKind::Cancel, "cancel"},
    {ElementKind::Status, "status"},
    {ElementKind::Garbage, "garbage"},
}};

// Where a stream can pick up again after bytes it did not understand.
constexpr std::array<std::string_view, 8> kStarts{
    "LockPrinter?", "UnLockPrinter?", "CancelJob?", "Status?",
    "Event=",       "Resolution=",    "MediaSize=", "RasterObject.Data#",
};

constexpr size_t kMaxValue = 512;  // longest header value taken as a value

bool isPrefix(std::string_view in, std::string_view text)
{
    return in.size() < text.size() && text.substr(0, in.size()) == in;
}

bool oneOf(std::string_view v, std::initializer_list<std::string_view> choices)
{
    return std::find(choices.begin(), choices.end(), v) != choices.end();
}

bool allDigits(std::string_view v)
{
    return !v.empty() &&
           std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
}

enum class FieldResult { Done, NeedMore, NoMatch };

// One "Key=Value;" field at the start of `in`.
FieldResult field(std::string_view in, std::string_view key, std::string& value, size_t& used)
{
    std::string head = std::string(key) + "=";
    if (in.size() < head.size())
        return isPrefix(in, head) ? FieldResult::NeedMore : FieldResult::NoMatch;
    if (in.substr(0, head.size()) != head)
        return FieldResult::NoMatch;
    size_t end = in.find(';', head.size());
    if (end == std::string_view::npos)
        return in.size() - head.size() > kMaxValue ? FieldResult::NoMatch : FieldResult::NeedMore;
    if (end - head.size() > kMaxValue)
        return FieldResult::NoMatch;
    value = std::string(in.substr(head.size(), end - head.size()));
    used = end + 1;
    return FieldResult::Done;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// The fields `keys`, in this order, one after the other at the start of `in`;
// `used` is the length they take.
FieldResult fieldsInOrder(std::string_view in, std::initializer_list<std::string_view> keys,
                          Fields& fields, size_t& used)
{
    size_t at = 0;
    for (std::string_view key : keys) {
        std::string value;
        size_t n = 0;
        FieldResult r = field(in.substr(at), key, value, n);
        if (r != FieldResult::Done)
            return r;
        fields.emplace_back(std::string(key), value);
        at += n;
    }
    used = at;
    return FieldResult::Done;
}

}  // namespace

const char* kindName(ElementKind kind)
{
    for (const auto& n : kNames)
        if (n.kind == kind)
            return n.name;
    return "garbage";
}

bool kindFromName(std::string_view name, ElementKind& kind)
{
    for (const auto& n : kNames)
        if (name == n.name) {
            kind = n.kind;
            return true;
        }
    for (const auto& f : kFixed)
        if (name == f.text) {
            kind = f.kind;
            return true;
        }
    return false;
}

std::string printable(std::string_view bytes, size_t max)
{
    std::string out;
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    if (bytes.size() > max)
        out += "...";
    return out;
}

void StreamParser::feed(std::string_view bytes) { buf_.append(bytes); }

void StreamParser::error(uint64_t offset, std::string message)
{
    errors_.push_back({offset, std::move(message)});
}

std::vector<Element> StreamParser::take(bool boundary, size_t max)
{
    std::vector<Element> out;
    while (pos_ < buf_.size() && out.size() < max) {
        std::string_view in(buf_.data() + pos_, buf_.size() - pos_);
        Element e;
        size_t used = 0;
        Result r = parseOne(in, boundary, e, used);
        if (r == Result::NeedMore)
            break;
        if (r == Result::Done) {
            e.offset = base_ + pos_;
            e.size = used;
            pos_ += used;
            check(e);
            out.push_back(std::move(e));
            continue;
        }
        // Not an element: skip to the next place where one could start.
        size_t next = in.size();
        for (auto s : kStarts) {
            size_t at = in.find(s, 1);
            if (at != std::string_view::npos)
                next = std::min(next, at);
        }
        if (next == in.size() && !boundary) {
            // The start of an element may still be arriving: keep a tail.
            size_t keep = 0;
            for (auto s : kStarts)
                for (size_t k = std::min(s.size() - 1, in.size() - 1); k > keep; --k)
                    if (in.substr(in.size() - k) == s.substr(0, k)) {
                        keep = k;
                        break;
                    }
            next = in.size() - keep;
        }
        Element g;
        g.kind = ElementKind::Garbage;
        g.offset = base_ + pos_;
        g.size = next;
        g.text = std::string(in.substr(0, next));
        error(g.offset, "unknown element \"" + printable(g.text) + "\"");
        pos_ += next;
        lastChunkShort_ = false;
        out.push_back(std::move(g));
    }
    compact(false);
    return out;
}

void StreamParser::compact(bool all)
{
    if (pos_ > 0 && (all || 2 * pos_ >= buf_.size())) {
        buf_.erase(0, pos_);
        base_ += pos_;
        pos_ = 0;
    }
}

std::string StreamParser::release()
{
    std::string rest = buf_.substr(pos_);
    buf_.resize(pos_);
    compact(true);
    return rest;
}

std::vector<Element> StreamParser::finish()
{
    std::vector<Element> out = take(true);
    compact(true);
    if (!buf_.empty()) {
        Element g;
        g.kind = ElementKind::Garbage;
        g.offset = base_;
        g.size = buf_.size();
        g.text = buf_;
        error(g.offset, "stream ends inside an element: \"" + printable(buf_) + "\"");
        base_ += buf_.size();
        buf_.clear();
        out.push_back(std::move(g));
    }
    return out;
}

StreamParser::Result StreamParser::parseOne(std::string_view in, bool boundary, Element& out,
                                            size_t& used)
{
    bool more = false;
    for (const auto& f : kFixed) {
        if (in.substr(0, f.text.size()) == f.text) {
            out.kind = f.kind;
            out.text = std::string(f.text);
            used = f.text.size();
            return Result::Done;
        }
        more = more || isPrefix(in, f.text);
    }
    for (auto r : {parseData(in, out, used), parsePageHeader(in, out, used),
                   parseJobHeader(in, boundary, out, used)}) {
        if (r == Result::Done)
            return r;
        more = more || r == Result::NeedMore;
    }
    return more ? Result::NeedMore : Result::NoMatch;
}

StreamParser::Result StreamParser::parseData(std::string_view in, Element& out, size_t& used)
{
    constexpr std::string_view head = "RasterObject.Data#";
    if (in.size() < head.size())
        return isPrefix(in, head) ? Result::NeedMore : Result::NoMatch;
    if (in.substr(0, head.size()) != head)
        return Result::NoMatch;
    size_t p = head.size();
    size_t digits = 0;
    while (p + digits < in.size() && in[p + digits] >= '0' && in[p + digits] <= '9')
        ++digits;
    if (digits > 7)
        return Result::NoMatch;
    if (p + digits == in.size())
        return Result::NeedMore;
    if (digits == 0 || in[p + digits] != '=')
        return Result::NoMatch;
    uint64_t length = std::stoull(std::string(in.substr(p, digits)));
    if (length > kMaxChunk)
        return Result::NoMatch;
    size_t dataAt = p + digits + 1;
    if (in.size() < dataAt + length + 1)
        return Result::NeedMore;
    if (in[dataAt + length] != ';')
        return Result::NoMatch;
    out.kind = ElementKind::Data;
    out.text = std::string(in.substr(0, dataAt));
    out.payload = std::string(in.substr(dataAt, length));
    used = dataAt + length + 1;
    return Result::Done;
}

StreamParser::Result StreamParser::parsePageHeader(std::string_view in, Element& out, size_t& used)
{
    size_t at = 0;
    Fields fields;
    FieldResult r = fieldsInOrder(in, {"MediaSize", "RasterObject.Width", "RasterObject.Height"},
                                  fields, at);
    if (r != FieldResult::Done)
        return r == FieldResult::NeedMore ? Result::NeedMore : Result::NoMatch;
    out.kind = ElementKind::PageHeader;
    out.text = std::string(in.substr(0, at));
    out.fields = std::move(fields);
    used = at;
    return Result::Done;
}

StreamParser::Result StreamParser::parseJobHeader(std::string_view in, bool boundary, Element& out,
                                                  size_t& used)
{
    size_t at = 0;
    Fields fields;
    FieldResult r = fieldsInOrder(in, {"Resolution", "MediaType", "Sides", "Copies"}, fields, at);
    if (r != FieldResult::Done)
        return r == FieldResult::NeedMore ? Result::NeedMore : Result::NoMatch;
    // The tray field is optional: the header may end after the copies.
    std::string value;
    size_t n = 0;
    r = field(in.substr(at), "MediaInputTrayCheck", value, n);
    if (r == FieldResult::NeedMore && !boundary)
        return Result::NeedMore;
    if (r == FieldResult::Done) {
        fields.emplace_back("MediaInputTrayCheck", value);
        at += n;
    }
    out.kind = ElementKind::JobHeader;
    out.text = std::string(in.substr(0, at));
    out.fields = std::move(fields);
    used = at;
    return Result::Done;
}

// Values the printer knows; an element with another value is read but reported.
void StreamParser::check(const Element& e)
{
    auto bad = [&](const std::string& key, const std::string& value) {
        error(e.offset,
              "unknown value \"" + printable(value) + "\" of " + key + " in " + kindName(e.kind));
    };
    if (e.kind == ElementKind::Data) {
        uint64_t n = e.payload.size();
        if (lastChunkShort_)
            error(e.offset, "data chunk after a chunk shorter than 4096 bytes");
        if (n == 0 || n > kChunkSize)
            error(e.offset, "data chunk of " + std::to_string(n) + " bytes (1 to 4096 expected)");
        if (e.text.size() > 20 && e.text[18] == '0')
            error(e.offset, "chunk length with a leading zero: \"" + e.text + "\"");
        lastChunkShort_ = n < kChunkSize;
        return;
    }
    lastChunkShort_ = false;
    for (const auto& [key, value] : e.fields) {
        bool ok = true;
        if (key == "Resolution")
            ok = value == "600x600";
        else if (key == "MediaType")
            ok = oneOf(value, {"plain", "Thick", "Narrow", "card", "envelope"});
        else if (key == "Sides")
            ok = oneOf(value, {"OneSided", "TwoSidedShortEdge", "TwoSidedLongEdge"});
        else if (key == "Copies")
            ok = !value.empty();
        else if (key == "MediaInputTrayCheck")
            ok = oneOf(value, {"auto", "manual", "cassette"});
        else if (key == "MediaSize")
            ok = oneOf(value, {"na_a4_210x297mm", "na_a5_148x210mm", "na_a6_105x148mm",
                               "na_b5_182x257mm", "na_b6_128x182mm", "na_16k_195x270mm",
                               "na_32k_135x195mm", "na_LETTER_216x279mm", "na_bank_85x170mm"});
        else if (key == "RasterObject.Width" || key == "RasterObject.Height")
            ok = allDigits(value) && value.size() <= 6 && std::stoul(value) > 0;
        if (!ok)
            bad(key, value);
    }
}

}  // namespace rvtsim

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The printer's reader of the job stream: a run of ASCII commands with no
// separators, page data carried in length-counted raw chunks. The reader is
// strict: every element must be one of the known texts, and bytes that are
// not are reported with their offset and skipped up to the next known start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rvtsim {

enum class ElementKind {
    Lock,        // "LockPrinter?"
    StartOfJob,  // "Event=StartOfJob;"
    JobHeader,   // "Resolution=...;MediaType=...;Sides=...;Copies=...;[MediaInputTrayCheck=...;]"
    PageHeader,  // "MediaSize=...;RasterObject.Width=N;RasterObject.Height=N;"
    Data,        // "RasterObject.Data#N=" + N bytes + ";"
    EndOfPage,   // "Event=EndOfPage;"
    EndOfJob,    // "Event=EndOfJob;"
    Unlock,      // "UnLockPrinter?"
    Cancel,      // "CancelJob?"
    Status,      // "Status?"
    Garbage,     // bytes that are none of the above
};

// Short names used in transcripts and scripts ("lock", "end_of_page", ...).
const char* kindName(ElementKind kind);
// Accepts a short name or the element's fixed text ("LockPrinter?").
bool kindFromName(std::string_view name, ElementKind& kind);

struct Element {
    ElementKind kind = ElementKind::Garbage;
    uint64_t offset = 0;  // of the first byte in the stream
    uint64_t size = 0;    // bytes on the stream, framing included
    std::string text;     // the element's text; for data only its head "RasterObject.Data#N="
    std::string payload;  // data chunks: the raw bytes
    // Headers: the fields in the order received.
    std::vector<std::pair<std::string, std::string>> fields;
};

struct ProtocolError {
    uint64_t offset = 0;
    std::string message;
};

// Printable form of raw bytes for messages (non-printables as \xNN), cut at `max`.
std::string printable(std::string_view bytes, size_t max = 48);

class StreamParser {
public:
    // Largest chunk accepted as a chunk at all; longer counts are taken for garbage.
    static constexpr uint64_t kMaxChunk = 1u << 20;
    static constexpr uint64_t kChunkSize = 4096;

    void feed(std::string_view bytes);
    // Returns the elements now complete, at most `max` of them (the others
    // stay for the next call). `boundary`: the writer has finished its
    // command (it asked for a drain, or the stream ended), so a job header
    // without its optional last field is complete.
    std::vector<Element> take(bool boundary, size_t max = SIZE_MAX);
    // Hands back the bytes not yet taken as elements and forgets them: the
    // stream ends after the last element taken, and those bytes are another's.
    std::string release();
    // End of the stream: whatever is left is reported as an incomplete element.
    std::vector<Element> finish();

    const std::vector<ProtocolError>& errors() const { return errors_; }
    uint64_t bytesSeen() const { return base_ + buf_.size(); }

private:
    enum class Result { Done, NeedMore, NoMatch };
    Result parseOne(std::string_view in, bool boundary, Element& out, size_t& used);
    Result parseJobHeader(std::string_view in, bool boundary, Element& out, size_t& used);
    Result parsePageHeader(std::string_view in, Element& out, size_t& used);
    Result parseData(std::string_view in, Element& out, size_t& used);
    void error(uint64_t offset, std::string message);
    void check(const Element& e);
    // Drops the bytes parsed from buf_, keeping offsets; unless `all`, only
    // once they are half of it, so that taking one element at a time from a
    // large buffer does not move the rest every time.
    void compact(bool all);

    std::string buf_;
    size_t pos_ = 0;     // parsed up to here in buf_
    uint64_t base_ = 0;  // stream offset of buf_[0]
    std::vector<ProtocolError> errors_;
    bool lastChunkShort_ = false;  // the previous chunk of this page was shorter than 4096
};

}  // namespace rvtsim

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "command_stream.h"

#include "job_settings.h"
#include "log.h"
#include "printer_connection.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cups/sidechannel.h>
#include <memory>
#include <new>
#include <sys/stat.h>

namespace rvt {

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

struct MediaSize {
    const char* keyword;
    const char* field;
    const char* logLine;
};

// Compared in this order; the first match wins.
constexpr MediaSize kMediaSizes[] = {
    {"A4", "MediaSize=na_a4_210x297mm;", "DEBUG:[RVT4410LW]MediaSize=na_a4_210x297mm;\n"},
    {"A5", "MediaSize=na_a5_148x210mm;", "DEBUG:[RVT4410LW]MediaSize=na_a5_148x210mm;\n"},
    {"A6", "MediaSize=na_a6_105x148mm;", "DEBUG:[RVT4410LW]MediaSize=na_a6_105x148mm;\n"},
    {"B5", "MediaSize=na_b5_182x257mm;", "DEBUG:[RVT4410LW]MediaSize=na_b5_182x257mm;\n"},
    {"B6", "MediaSize=na_b6_128x182mm;", "DEBUG:[RVT4410LW]MediaSize=na_b6_128x182mm;\n"},
    {"16K", "MediaSize=na_16k_195x270mm;", "DEBUG:[RVT4410LW]MediaSize=na_16k_195x270mm(else);\n"},
    {"Custom.595.28x841.89", "MediaSize=na_16k_195x270mm;",
     "DEBUG:[RVT4410LW]MediaSize=na_16k_195x270mm(else);\n"},
    {"32K", "MediaSize=na_32k_135x195mm;", "DEBUG:[RVT4410LW]MediaSize=na_32k_135x195mm;\n"},
    // These two log lines have no line end: the next log text follows on the same line.
    {"Letter", "MediaSize=na_LETTER_216x279mm;", "DEBUG:[RVT4410LW]MediaSize=na_letter_216x279mm;"},
    {"85x170mm", "MediaSize=na_bank_85x170mm;", "DEBUG:[RVT4410LW]MediaSize=na_bank_85x170mm;"},
};

constexpr MediaSize kOtherMediaSize = {"", "MediaSize=na_a4_210x297mm;",
                                       "DEBUG:[RVT4410LW]MediaSize=na_a4_210x297mm(other);\n"};

const MediaSize& mediaSizeFor(const std::string& keyword)
{
    for (const MediaSize& m : kMediaSizes)
        if (keyword == m.keyword)
            return m;
    return kOtherMediaSize;
}

// A field of the job header and the log line that goes with it, by code.
struct HeaderField {
    const char* field;
    const char* logLine;
};

constexpr HeaderField kMediaTypes[] = {
    {"MediaType=plain;", "DEBUG:[RVT4410LW]MediaType=plain(NULL);\n"},
    {"MediaType=Thick;", "DEBUG:[RVT4410LW]MediaType=Thick;\n"},
    {"MediaType=Narrow;", "DEBUG:[RVT4410LW]MediaType=Narrow;\n"},
    {"MediaType=card;", "DEBUG:[RVT4410LW]MediaType=recycled;\n"},
    {"MediaType=envelope;", "DEBUG:[RVT4410LW]MediaType=cover;\n"},
};
constexpr HeaderField kOtherMediaType = {"MediaType=plain;", "DEBUG:[RVT4410LW]MediaType=plain;\n"};

constexpr HeaderField kSides[] = {
    {"Sides=OneSided;", "DEBUG:[RVT4410LW]Sides=OneSided;\n"},
    {"Sides=TwoSidedShortEdge;", "DEBUG:[RVT4410LW]Sides=TwoSidedShortEdge;\n"},
    {"Sides=TwoSidedLongEdge;", "DEBUG:[RVT4410LW]Sides=TwoSidedLongEdge;\n"},
};

constexpr HeaderField kTrays[] = {
    {"MediaInputTrayCheck=auto;", "DEBUG:[RVT4410LW]MediaInputTrayCheck=auto;\n"},
    {"MediaInputTrayCheck=manual;", "DEBUG:[RVT4410LW]MediaInputTrayCheck=manual;\n"},
    {"MediaInputTrayCheck=cassette;", "DEBUG:[RVT4410LW]MediaInputTrayCheck=cassette;\n"},
};

// The entry of `code` in `table`; `other` (none when null) for a code out of range.
template <size_t N>
const HeaderField* fieldFor(const HeaderField (&table)[N], int code,
                            const HeaderField* other = nullptr)
{
    return (code >= 0 && code < static_cast<int>(N)) ? &table[code] : other;
}

}  // namespace

bool CommandStream::writeElement(std::string_view bytes)
{
    if (broken_)
        return false;
    if (!connection_.write(bytes.data(), bytes.size())) {
        broken_ = true;
        log_.printf("DEBUG:[RVT4410LW] cannot write to the printer (backend gone), "
                    "nothing more is sent\n");
        return false;
    }
    return true;
}

bool CommandStream::stillRead()
{
    if (!broken_ && connection_.outputClosed()) {
        broken_ = true;
        log_.printf("DEBUG:[RVT4410LW] the backend has ended and nobody reads the print stream, "
                    "nothing is sent\n");
    }
    return !broken_;
}

int CommandStream::drain() { return connection_.sideChannelRequest(CUPS_SC_CMD_DRAIN_OUTPUT, 1.0); }

int CommandStream::sendCmd(std::string_view text)
{
    log_.printf("DEBUG:[RVT4410LW] sned cmd = %.*s\n", static_cast<int>(text.size()), text.data());
    if (!writeElement(text))
        return CUPS_SC_STATUS_IO_ERROR;
    return drain();
}

void CommandStream::startOfJob() { sendCmd("Event=StartOfJob;"); }

void CommandStream::sendJobHeader(const JobSettings& job)
{
    log_.write("DEBUG:[RVT4410LW]************ send job header*************************\n\n");
    std::string header = "Resolution=600x600;";

    auto add = [&](const HeaderField* f) {
        if (f) {
            header += f->field;
            log_.write(f->logLine);
        }
    };

    add(fieldFor(kMediaTypes, job.isMediaType, &kOtherMediaType));
    add(fieldFor(kSides, job.isDuplex, &kSides[2]));  // other codes: long edge

    // The copies text goes out as it is, "%" included.
    header += "Copies=";
    header += job.jobCopies;
    header += ";";
    log_.printf("DEBUG:[RVT4410LW]##copies=%s\n", job.jobCopies.c_str());

    // Trays 2 and 3 of the printer have no field: the printer picks by itself.
    add(fieldFor(kTrays, job.isInputSlot));

    sendCmd(header);
    log_.printf("DEBUG:[RVT4410LW]send job header info : %s \n", header.c_str());
}

void CommandStream::sendPageHeader(JobSettings& job)
{
    log_.write("DEBUG:[RVT4410LW]************ send page header*************************\n\n");
    const MediaSize& media = mediaSizeFor(job.pageSize);
    std::string header = media.field;
    log_.write(media.logLine);

    // The printer takes the width in bits of a 1-bit row: whole bytes.
    job.pageWidth = static_cast<int>((static_cast<int64_t>(job.pageWidth) + 7) / 8 * 8);
    char raster[512];
    std::snprintf(raster, sizeof raster, "RasterObject.Width=%d;RasterObject.Height=%d;",
                  job.pageWidth, job.pageHeight);
    header += raster;

    sendCmd(header);
    log_.printf("DEBUG:[RVT4410LW]send page header info : %s \n", header.c_str());
}

int CommandStream::sendPageData(const std::string& path, const PageProgress& progress)
{
    log_.printf("DEBUG:[RVT4410LW]start to send page : %s\n", path.c_str());
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        log_.printf("DEBUG:[RVT4410LW]can not open file %s, goto loopendPage and CancelJob;\n",
                    path.c_str());
        return kPageDataUnavailable;
    }
    // One element per write: head, raw bytes and ";" together.
    constexpr size_t kHeadRoom = 64;
    std::unique_ptr<char[]> chunk(new (std::nothrow) char[kHeadRoom + kDataChunkSize + 1]);
    if (!chunk)
        return kPageDataUnavailable;
    uint64_t total = 0;
    uint64_t sent = 0;
    if (progress) {
        struct stat st;
        if (fstat(fileno(file.get()), &st) == 0 && st.st_size > 0)
            total = static_cast<uint64_t>(st.st_size);
    }

    for (;;) {
        // The termination signal is looked at between two chunks: a cancel
        // never waits for the rest of a large page, and never cuts a chunk.
        if (broken_ || connection_.terminationRequested())
            return kPageDataStopped;
        char* data = chunk.get() + kHeadRoom;
        size_t count = std::fread(data, 1, kDataChunkSize, file.get());
        log_.printf("DEBUG:[RVT4410LW]read jbig file and readsize = %d\n", static_cast<int>(count));
        if (count == 0)
            break;
        char head[100] = {};
        int headLength = std::snprintf(head, sizeof head,
                                       "RasterObject.Data#%ld=", static_cast<long>(count));
        char* start = data - headLength;
        std::memcpy(start, head, static_cast<size_t>(headLength));
        data[count] = ';';
        if (!writeElement(std::string_view(start, static_cast<size_t>(headLength) + count + 1)))
            return kPageDataStopped;
        switch (drain()) {
        case CUPS_SC_STATUS_TIMEOUT:
            log_.write("DEBUG:[RVT4410LW] write data to stdout time out \n");
            break;
        case CUPS_SC_STATUS_IO_ERROR:
            log_.write("DEBUG:[RVT4410LW] write data to stdout IO Error \n");
            break;
        case CUPS_SC_STATUS_NO_RESPONSE:
            log_.write("DEBUG:[RVT4410LW] write data to stdout no response \n");
            break;
        default:
            break;
        }
        sent += count;
        if (progress)
            progress(sent, total);
    }
    return kPageDataSent;
}

void CommandStream::endOfJob()
{
    sendCmd("Event=EndOfJob;");
    log_.write("打印数据已完成发送，等待打印机打印完成\n");
}

}  // namespace rvt

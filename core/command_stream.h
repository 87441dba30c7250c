// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The print stream: the text commands and counted JBIG data chunks written to
// the backend. Every command goes out whole in one write, then the backend is
// asked to drain its output.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rvt {

class Log;
class PrinterConnection;
struct JobSettings;

// Results of sendPageData.
constexpr int kPageDataSent = 0;
constexpr int kPageDataUnavailable = 3;  // page file not opened, or no chunk buffer
constexpr int kPageDataStopped = 5;      // stopped between two chunks (termination, stream gone)

constexpr size_t kDataChunkSize = 4096;

// Told after every data chunk of a page: bytes of the page file sent so far,
// and its size.
using PageProgress = std::function<void(uint64_t sent, uint64_t total)>;

class CommandStream {
public:
    CommandStream(PrinterConnection& connection, Log& log) : connection_(connection), log_(log) {}

    // Logs and writes `text`, then asks the backend to drain. Returns the
    // drain status (CUPS_SC_STATUS_IO_ERROR once the stream is broken).
    int sendCmd(std::string_view text);

    void startOfJob();
    void sendJobHeader(const JobSettings& job);
    // Declares the page of job.pageWidth x job.pageHeight; raises
    // job.pageWidth to a multiple of 8 in place.
    void sendPageHeader(JobSettings& job);
    int sendPageData(const std::string& path, const PageProgress& progress = {});
    void endOfJob();

    // True once a write to the backend has failed: nothing more is written.
    bool broken() const { return broken_; }
    // Looks whether the backend still reads the stream; once it does not,
    // the stream is broken (logged once). False when broken.
    bool stillRead();

private:
    bool writeElement(std::string_view bytes);
    int drain();

    PrinterConnection& connection_;
    Log& log_;
    bool broken_ = false;
};

}  // namespace rvt

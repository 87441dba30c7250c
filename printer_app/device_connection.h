// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The printer connection of a job in the printer application: the print
// stream and the printer's replies go through the framework's device (USB or
// a network socket), the job's cancel is the framework's, and the printer's
// state seen in its replies is shown as the printer's state reasons.
//
// The framework's device read waits up to ten seconds for data, with no way to
// ask for less, while an exchange reads in one-second steps and looks at the
// job's cancel in between. So a reader thread makes the device reads, one at
// a time and only while the job waits for a reply; what it reads waits in a
// buffer until the job takes it. The device is used by one thread at a time:
// a write waits for a read still under way, which ends with the printer's
// reply or after those ten seconds.
#pragma once

#include "printer_connection.h"

#include <condition_variable>
#include <mutex>
#include <pappl/pappl.h>
#include <string>
#include <thread>

namespace rvt::app {

class DeviceConnection final : public PrinterConnection {
public:
    DeviceConnection(pappl_job_t* job, pappl_device_t* device);
    // Waits for a device read still under way.
    ~DeviceConnection() override;
    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;

    int sideChannelRequest(int command, double timeoutSeconds) override;
    ssize_t backChannelRead(char* buffer, size_t size, double timeoutSeconds) override;
    ssize_t backChannelWaiting(char* buffer, size_t size) override;
    bool write(const void* data, size_t size) override;
    int cancelJobOnServer(const std::string& printer, int jobId, std::string& lastError) override;
    void sleepOneSecond() override;
    bool terminationRequested() override;
    bool outputClosed() override;
    void exchangeDone(const std::string& query, int code) override;

    // The printer cancelled the job (a 4 at the end of a page).
    bool cancelledAtDevice() const { return cancelledAtDevice_; }

private:
    void readerLoop();
    // Hands out what the reader has read; the lock is held.
    ssize_t takeBuffered(char* buffer, size_t size);

    pappl_job_t* job_;
    pappl_printer_t* printer_;
    pappl_device_t* device_;

    std::mutex deviceMutex_;  // held by a device read or write

    std::mutex mutex_;  // guards what follows
    std::condition_variable changed_;
    std::string buffered_;     // read from the printer, not yet taken
    bool readWanted_ = false;  // the job waits for a reply
    bool reading_ = false;     // a device read is under way
    bool closed_ = false;      // the printer closed its side
    bool stopping_ = false;
    std::thread reader_;

    int lastEndOfPageCode_ = 0;
    bool cancelledAtDevice_ = false;
    pappl_preason_t reasonsSet_ = PAPPL_PREASON_NONE;
};

// The printer state reasons the printer's reply `code` to `query` shows
// (the no-reply code included), among those this driver reports
// (kReportedReasons).
constexpr pappl_preason_t kReportedReasons = static_cast<pappl_preason_t>(PAPPL_PREASON_OFFLINE |
                                                                          PAPPL_PREASON_OTHER);
pappl_preason_t reasonsForReply(const std::string& query, int code);

}  // namespace rvt::app

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "device_connection.h"

#include "back_channel.h"

#include <chrono>
#include <cstring>
#include <cups/sidechannel.h>
#include <signal.h>

namespace rvt::app {

namespace {

// The cancel is looked at this often while the job pauses.
constexpr auto kCancelPoll = std::chrono::milliseconds(50);

}  // namespace

pappl_preason_t reasonsForReply(const std::string& query, int code)
{
    // The cancel query's reply is not examined, nor does it tell more.
    if (query == "CancelJob?")
        return PAPPL_PREASON_NONE;
    if (code == kNoReply)
        return PAPPL_PREASON_OFFLINE;
    // Error classes of the status table: the printer reports a condition
    // that keeps it from printing (what it is, the printer does not say).
    switch (decodeStatusCode(code)) {
    case 5:
    case 7:
    case 9:
        return PAPPL_PREASON_OTHER;
    default:
        return PAPPL_PREASON_NONE;
    }
}

DeviceConnection::DeviceConnection(pappl_job_t* job, pappl_device_t* device)
    : job_(job), printer_(papplJobGetPrinter(job)), device_(device)
{
    // The reader must not take signals meant for the server's threads.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    reader_ = std::thread([this] { readerLoop(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

DeviceConnection::~DeviceConnection()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    reader_.join();
    // The printer's state as this job saw it is not left behind.
    if (reasonsSet_ != PAPPL_PREASON_NONE)
        papplPrinterSetReasons(printer_, PAPPL_PREASON_NONE, reasonsSet_);
}

void DeviceConnection::readerLoop()
{
    char chunk[kReplyBufferSize];
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || (readWanted_ && !closed_); });
        if (stopping_)
            return;
        reading_ = true;
        lock.unlock();
        ssize_t n;
        {
            std::lock_guard<std::mutex> device(deviceMutex_);
            n = papplDeviceRead(device_, chunk, sizeof chunk);
        }
        lock.lock();
        reading_ = false;
        if (n > 0) {
            buffered_.append(chunk, static_cast<size_t>(n));
            readWanted_ = false;
        } else if (n == 0) {
            closed_ = true;  // the printer closed its side of the connection
        }
        changed_.notify_all();
    }
}

ssize_t DeviceConnection::takeBuffered(char* buffer, size_t size)
{
    const size_t n = std::min(size, buffered_.size());
    std::memcpy(buffer, buffered_.data(), n);
    buffered_.erase(0, n);
    return static_cast<ssize_t>(n);
}

int DeviceConnection::sideChannelRequest(int command, double /*timeoutSeconds*/)
{
    // The framework opened the device before the job started, and every
    // write is flushed to it at once.
    (void)command;
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_ ? CUPS_SC_STATUS_IO_ERROR : CUPS_SC_STATUS_OK;
}

ssize_t DeviceConnection::backChannelRead(char* buffer, size_t size, double timeoutSeconds)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (buffered_.empty() && !closed_) {
        readWanted_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                          [&] { return !buffered_.empty() || closed_; });
    }
    return takeBuffered(buffer, size);
}

ssize_t DeviceConnection::backChannelWaiting(char* buffer, size_t size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return takeBuffered(buffer, size);
}

bool DeviceConnection::write(const void* data, size_t size)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return false;
        // A reply that comes after the exchange gave up is read by the read
        // under way, if any; no new one is started for it.
        readWanted_ = false;
    }
    std::lock_guard<std::mutex> device(deviceMutex_);
    if (papplDeviceWrite(device_, data, size) < 0)
        return false;
    papplDeviceFlush(device_);
    return true;
}

int DeviceConnection::cancelJobOnServer(const std::string& /*printer*/, int /*jobId*/,
                                        std::string& lastError)
{
    lastError.clear();
    if (lastEndOfPageCode_ == 4 && !papplJobIsCanceled(job_)) {
        cancelledAtDevice_ = true;
        papplJobSetReasons(job_, PAPPL_JREASON_JOB_CANCELED_AT_DEVICE, PAPPL_JREASON_NONE);
        papplJobCancel(job_);
    }
    // A cancel of the client's is already the framework's; a job the driver
    // gives up on ends as aborted, with its reason, when the driver returns.
    return 1;
}

void DeviceConnection::sleepOneSecond()
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end && !terminationRequested())
        std::this_thread::sleep_for(kCancelPoll);
}

bool DeviceConnection::terminationRequested()
{
    return papplJobIsCanceled(job_) || !papplSystemIsRunning(papplPrinterGetSystem(printer_));
}

bool DeviceConnection::outputClosed()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

void DeviceConnection::exchangeDone(const std::string& query, int code)
{
    if (query == "Event=EndOfPage;")
        lastEndOfPageCode_ = code;
    if (query == "CancelJob?")
        return;
    const pappl_preason_t now = reasonsForReply(query, code);
    const auto add = static_cast<pappl_preason_t>(now & ~reasonsSet_);
    const auto remove = static_cast<pappl_preason_t>(reasonsSet_ & ~now & kReportedReasons);
    if (add != PAPPL_PREASON_NONE || remove != PAPPL_PREASON_NONE)
        papplPrinterSetReasons(printer_, add, remove);
    reasonsSet_ = now;
}

}  // namespace rvt::app

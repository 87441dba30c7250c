// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "cups_connection.h"

#include "cancel_signal.h"

#include <cerrno>
#include <ctime>
#include <cups/cups.h>
#include <cups/sidechannel.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rvt {

namespace {

constexpr int kBackChannelFd = 3;
constexpr int kSideChannelFd = 4;

// The file type of descriptor `fd`, 0 when it is closed.
mode_t fileType(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

class CupsConnection final : public PrinterConnection {
public:
    explicit CupsConnection(int outputFd)
        : fd_(outputFd),
          backChannel_(fileType(kBackChannelFd) == S_IFIFO || fileType(kBackChannelFd) == S_IFSOCK),
          sideChannel_(fileType(kSideChannelFd) == S_IFSOCK)
    {
    }

    bool hasBackChannel() override { return backChannel_; }
    bool hasSideChannel() override { return sideChannel_; }

    int sideChannelRequest(int command, double timeoutSeconds) override
    {
        if (!sideChannel_)
            return CUPS_SC_STATUS_NOT_IMPLEMENTED;
        char data[512];
        int length = sizeof data;
        return cupsSideChannelDoRequest(static_cast<cups_sc_command_t>(command), data, &length,
                                        timeoutSeconds);
    }

    ssize_t backChannelRead(char* buffer, size_t size, double timeoutSeconds) override
    {
        if (!backChannel_)
            return 0;
        return cupsBackChannelRead(buffer, size, timeoutSeconds);
    }

    ssize_t backChannelWaiting(char* buffer, size_t size) override
    {
        // Not cupsBackChannelRead() with no time-out: when nothing waits it
        // goes on to read, and a back channel that blocks would hold the job.
        if (!backChannel_)
            return 0;
        pollfd p{kBackChannelFd, POLLIN, 0};
        int r;
        do
            r = ::poll(&p, 1, 0);
        while (r < 0 && errno == EINTR);
        if (r <= 0 || !(p.revents & POLLIN))
            return 0;
        return ::read(kBackChannelFd, buffer, size);
    }

    bool write(const void* data, size_t size) override
    {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            // Once the job is being stopped, a backend that takes no data
            // within a few seconds never will: give up rather than hang.
            if (rvt::terminationRequested() && !writable(kStopWriteWaitMs))
                return false;
            ssize_t n = ::write(fd_, p, size);
            if (n < 0) {
                if (errno == EINTR)
                    continue;  // the termination signal: looked at above
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    writable(1000);
                    continue;
                }
                return false;  // EPIPE and the like: the backend is gone
            }
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    int cancelJobOnServer(const std::string& printer, int jobId, std::string& lastError) override
    {
        int result = cupsCancelJob(printer.c_str(), jobId);
        const char* text = cupsLastErrorString();
        lastError = text ? text : "";
        return result;
    }

    void sleepOneSecond() override
    {
        timespec pause{1, 0};
        nanosleep(&pause, nullptr);  // a signal ends it early
    }

    bool terminationRequested() override { return rvt::terminationRequested(); }

    bool outputClosed() override
    {
        // The write end of a pipe whose reader has gone polls as an error.
        pollfd p{fd_, POLLOUT, 0};
        int r;
        do
            r = ::poll(&p, 1, 0);
        while (r < 0 && errno == EINTR);
        return r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    }

private:
    static constexpr int kStopWriteWaitMs = 5000;

    // True when the print stream takes data within `ms` milliseconds.
    bool writable(int ms) const
    {
        pollfd p{fd_, POLLOUT, 0};
        int r;
        do
            r = ::poll(&p, 1, ms);
        while (r < 0 && errno == EINTR);
        return r > 0;
    }

    int fd_;
    bool backChannel_;
    bool sideChannel_;
};

}  // namespace

std::unique_ptr<PrinterConnection> makeCupsConnection(int outputFd)
{
    return std::make_unique<CupsConnection>(outputFd);
}

}  // namespace rvt

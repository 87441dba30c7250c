#include "printer_connection.h"

#include "cancel_signal.h"

#include <cerrno>
#include <cups/cups.h>
#include <cups/sidechannel.h>
#include <ctime>
#include <unistd.h>

namespace rvt {

namespace {

class CupsConnection final : public PrinterConnection {
public:
    explicit CupsConnection(int outputFd) : fd_(outputFd) {}

    int sideChannelRequest(int command, double timeoutSeconds) override
    {
        char data[512];
        int length = sizeof data;
        return cupsSideChannelDoRequest(static_cast<cups_sc_command_t>(command), data, &length,
                                        timeoutSeconds);
    }

    ssize_t backChannelRead(char* buffer, size_t size, double timeoutSeconds) override
    {
        return cupsBackChannelRead(buffer, size, timeoutSeconds);
    }

    bool write(const void* data, size_t size) override
    {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = ::write(fd_, p, size);
            if (n < 0) {
                // Interrupted: go on, unless the job is being stopped while the
                // backend does not take our data (then it never will).
                if (errno == EINTR && !rvt::terminationRequested())
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    if (rvt::terminationRequested())
                        return false;
                    usleep(10000);
                    continue;
                }
                return false;
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

private:
    int fd_;
};

}  // namespace

std::unique_ptr<PrinterConnection> makeCupsConnection(int outputFd)
{
    return std::make_unique<CupsConnection>(outputFd);
}

}  // namespace rvt

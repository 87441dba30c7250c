// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "usb_printer.h"

#include "output_dir.h"
#include "printer_role.h"
#include "script_options.h"
#include "usbfs_emulation.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <umockdev.h>
#include <unistd.h>

#ifndef RVT_PPD
#define RVT_PPD "rvt4410lw.ppd"
#endif
#ifndef RVT_UMOCKDEV_PRELOAD
#define RVT_UMOCKDEV_PRELOAD "libumockdev-preload.so.0"
#endif

namespace rvtsim {

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// How long a host that holds the printer may make no USB call at all before
// it is taken for gone; libusb waiting for a transfer calls many times a
// second.
constexpr std::chrono::seconds kHostSilence{5};

const char* kUsage =
    "usage: rvt4410lw-sim --usb --out DIR [options]\n"
    "  the printer on an emulated USB bus until SIGINT or SIGTERM; prints UMOCKDEV_DIR=\n"
    "  and LD_PRELOAD= for the programs that are to see it, then \"ready\"\n"
    "  --ppd FILE           the device ID is this PPD's *1284DeviceID\n"
    "                       (default: the build's ppd/rvt4410lw.ppd)\n"
    "  --serial TEXT        the serial number string (default RVT4410LW0001)\n"
    "  --unplug WHEN        pull the printer off the bus: end_of_page:N | chunk:PAGE:CHUNK |\n"
    "                       ms:DELAY (after the job's start); SIGUSR1 does it at once\n"
    "  --script FILE, --lock-replies LIST, --unlock-replies LIST, --eop-reply N=CODE,\n"
    "  --reply-delay KIND=MS  the printer's replies, as for a job under the simulator\n"
    "  --drain-delay MS     a slow printer: each bulk-out transfer is taken after MS ms\n"
    "  --no-preview, --decode-after  as for a job under the simulator\n"
    "Each job's pages and transcript.json go into DIR/job-N/.\n";

// The value of *1284DeviceID in the PPD `path`; "" when it has none.
std::string ppdDeviceId(const std::string& path)
{
    std::ifstream in(path);
    const std::string key = "*1284DeviceID:";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) != 0)
            continue;
        const size_t open = line.find('"'), close = line.rfind('"');
        if (open != std::string::npos && close > open)
            return line.substr(open + 1, close - open - 1);
    }
    return "";
}

struct Options {
    std::string outDir;
    std::string ppd = RVT_PPD;
    std::string serial = "RVT4410LW0001";
    Trigger unplug;
    bool preview = true;
    bool decodeAfter = false;
    Script script;
};

// What the emulated device heard on umockdev's thread, for the main loop.
struct UsbEvent {
    enum class Kind { Data, Claimed, Released } kind = Kind::Data;
    std::vector<std::uint8_t> bytes;
};

class UsbPrinter {
public:
    explicit UsbPrinter(const Options& options) : options_(options) {}
    int run();

private:
    struct Job {
        int number = 0;
        OutputDir dir;
        std::unique_ptr<PrinterRole> role;
        bool unplugged = false;
    };

    bool setUp();
    void post(UsbEvent event);
    void handle(UsbEvent& event);
    void startJob();
    void endJob(bool complete);
    void unplug(const std::string& why);
    void onElement(const Element& e, int occurrence);
    void sendReply(int jobNumber, const std::string& bytes, int delayMs);
    void say(const std::string& line);

    const Options& options_;
    std::string deviceId_;
    OutputDir out_;
    int wakeFd_ = -1, signalFd_ = -1;
    std::mutex mutex_;
    std::deque<UsbEvent> events_;
    DelayedActions timers_;
    std::unique_ptr<rvtusb::UsbfsEmulation> bus_;
    std::string syspath_;
    bool plugged_ = true;
    bool unplugNow_ = false;
    std::string unplugWhy_;
    int jobs_ = 0;
    std::unique_ptr<Job> job_;
};

void UsbPrinter::say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void UsbPrinter::post(UsbEvent event)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    const std::uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
        // The counter is full of wake-ups already: the loop is awake.
    }
}

bool UsbPrinter::setUp()
{
    deviceId_ = ppdDeviceId(options_.ppd);
    if (deviceId_.empty()) {
        std::fprintf(stderr, "rvt4410lw-sim: no *1284DeviceID in %s\n", options_.ppd.c_str());
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(options_.outDir, ec);
    std::string error;
    out_ = OutputDir::open(options_.outDir, error);
    if (!out_.isOpen()) {
        std::fprintf(stderr, "rvt4410lw-sim: %s\n", error.c_str());
        return false;
    }
    // Signals come through a descriptor; blocked before umockdev starts its
    // thread, so that they reach no other thread.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGPIPE})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    sigdelset(&signals, SIGPIPE);
    signalFd_ = signalfd(-1, &signals, SFD_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd_ < 0 || wakeFd_ < 0) {
        std::fprintf(stderr, "rvt4410lw-sim: %s\n", std::strerror(errno));
        return false;
    }

    bus_ = std::make_unique<rvtusb::UsbfsEmulation>();
    rvtusb::EmulatedDeviceSpec spec;
    spec.serial = options_.serial;
    spec.deviceId = deviceId_;
    rvtusb::DeviceHandlers handlers;
    handlers.bulkOut = [this](const std::string&, std::vector<std::uint8_t> bytes) {
        post({UsbEvent::Kind::Data, std::move(bytes)});
    };
    handlers.claim = [this](const std::string&, bool claimed) {
        post({claimed ? UsbEvent::Kind::Claimed : UsbEvent::Kind::Released, {}});
    };
    try {
        syspath_ = bus_->addDevice(spec, std::move(handlers));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rvt4410lw-sim: cannot add the USB device: %s\n", e.what());
        return false;
    }
    if (!options_.script.drainDelayMs.empty())
        bus_->setOutDelay(syspath_, options_.script.drainDelayMs.front());
    say("UMOCKDEV_DIR=" + bus_->rootDir());
    say(std::string("LD_PRELOAD=") + RVT_UMOCKDEV_PRELOAD);
    say("DEVICE_ID=" + deviceId_);
    say("SERIAL=" + options_.serial);
    say("ready");
    return true;
}

void UsbPrinter::startJob()
{
    auto job = std::make_unique<Job>();
    job->number = ++jobs_;
    std::string error;
    job->dir = out_.subdirectory("job-" + std::to_string(job->number), error);
    if (!job->dir.isOpen()) {
        std::fprintf(stderr, "rvt4410lw-sim: %s\n", error.c_str());
        return;
    }
    // Files of an earlier run would pass for pages of this job.
    job->dir.removeIf([](const std::string& name) {
        return name.rfind("page-", 0) == 0 || name == "transcript.json";
    });
    // Nothing said to an earlier job is taken for a reply in this one.
    bus_->dropReplies(syspath_);
    job->role = std::make_unique<PrinterRole>(options_.script, job->dir, options_.preview,
                                              Clock::now());
    job->role->decodeAfter(options_.decodeAfter);
    const int number = job->number;
    job->role->onReply(
        [this, number](std::string bytes, int delayMs) { sendReply(number, bytes, delayMs); });
    job->role->onElement([this](const Element& e, int occurrence) { onElement(e, occurrence); });
    if (options_.unplug.type == Trigger::Type::Delay)
        timers_.add(options_.unplug.ms, [this, number] {
            if (job_ && job_->number == number)
                unplug("after " + std::to_string(options_.unplug.ms) + " ms");
        });
    job_ = std::move(job);
    say("job-" + std::to_string(number) + ": started");
}

void UsbPrinter::sendReply(int jobNumber, const std::string& bytes, int delayMs)
{
    auto send = [this, jobNumber, bytes] {
        // A reply of a job that has ended goes nowhere.
        if (plugged_ && job_ && job_->number == jobNumber)
            bus_->queueReply(syspath_, {bytes.begin(), bytes.end()});
    };
    if (delayMs > 0)
        timers_.add(delayMs, send);
    else
        send();
}

void UsbPrinter::onElement(const Element& e, int occurrence)
{
    const Trigger& t = options_.unplug;
    if (t.type == Trigger::Type::Element && e.kind == t.kind && occurrence == t.count) {
        unplugNow_ = true;
        unplugWhy_ = std::string("after ") + kindName(t.kind) + " #" + std::to_string(t.count);
    } else if (t.type == Trigger::Type::Chunk && e.kind == ElementKind::Data &&
               job_->role->currentPage() == t.page && job_->role->currentChunks() == t.chunk) {
        unplugNow_ = true;
        unplugWhy_ = "after chunk " + std::to_string(t.chunk) + " of page " +
                     std::to_string(t.page);
    }
}

void UsbPrinter::unplug(const std::string& why)
{
    if (!plugged_)
        return;
    plugged_ = false;
    bus_->unplug(syspath_);
    say("unplugged " + why);
    if (job_) {
        job_->role->event({{"time_ms", job_->role->elapsedMs()}, {"event", "unplugged " + why}});
        job_->unplugged = true;
        endJob(false);
    }
}

void UsbPrinter::endJob(bool complete)
{
    if (!job_)
        return;
    std::unique_ptr<Job> job = std::move(job_);
    PrinterRole& role = *job->role;
    role.endOfStream(complete);
    role.finish(complete);
    json t;
    t["connection"] = "usb";
    t["device"] = {{"vendor", "356c"},
                   {"product", "0033"},
                   {"serial", options_.serial},
                   {"device_id", deviceId_}};
    role.record(t);
    t["unplugged"] = job->unplugged;
    t["cancelled"] = role.cancelled();
    t["wall_time_ms"] = role.elapsedMs();
    t["clean"] = role.errors().empty() && !job->unplugged;
    const bool written = job->dir.writeFile(
        "transcript.json", t.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
    if (!written)
        std::fprintf(stderr, "rvt4410lw-sim: cannot write %s: %s\n",
                     job->dir.pathOf("transcript.json").c_str(), std::strerror(errno));
    say("job-" + std::to_string(job->number) + ": " + std::to_string(role.pagesSent()) +
        " pages, " + std::to_string(role.errors().size()) + " protocol errors" +
        (role.cancelled() ? ", cancelled" : "") + (job->unplugged ? ", unplugged" : "") +
        "; transcript in " + job->dir.pathOf("transcript.json"));
}

void UsbPrinter::handle(UsbEvent& event)
{
    switch (event.kind) {
    case UsbEvent::Kind::Claimed:
        break;
    case UsbEvent::Kind::Released:
        // The host has let go of the printer: the job's stream is over.
        endJob(true);
        break;
    case UsbEvent::Kind::Data:
        if (!plugged_ || event.bytes.empty())
            break;
        if (!job_)
            startJob();
        if (job_)
            job_->role->feed(std::string_view(reinterpret_cast<const char*>(event.bytes.data()),
                                              event.bytes.size()));
        if (unplugNow_) {
            unplugNow_ = false;
            unplug(unplugWhy_);
        }
        break;
    }
}

int UsbPrinter::run()
{
    if (!setUp())
        return 2;
    Clock::time_point lastSilenceCheck = Clock::now();
    for (;;) {
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {signalFd_, POLLIN, 0}};
        if (poll(fds, 2, timers_.waitMs(1000)) < 0 && errno != EINTR) {
            std::fprintf(stderr, "rvt4410lw-sim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                if (info.ssi_signo == SIGUSR1) {
                    unplug("on SIGUSR1");
                } else {
                    // Stopped: a job under way ends where it is.
                    endJob(false);
                    break;
                }
            }
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            if (read(wakeFd_, &count, sizeof count) < 0) {
                // Nothing to clear.
            }
        }
        for (;;) {
            UsbEvent event;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (events_.empty())
                    break;
                event = std::move(events_.front());
                events_.pop_front();
            }
            handle(event);
        }
        timers_.runDue();
        // A backend killed by the scheduler in the middle of a call may
        // never be seen to close the device: its silence ends the job.
        if (Clock::now() - lastSilenceCheck > std::chrono::seconds(1)) {
            lastSilenceCheck = Clock::now();
            bus_->releaseSilentClaims(kHostSilence);
        }
    }
    // The bus goes before the descriptors its handlers write to.
    bus_.reset();
    close(wakeFd_);
    close(signalFd_);
    return 0;
}

// umockdev tells udev's listeners that the printer left the bus through
// libudev, which must see the testbed's /sys as the hosts do: the printer
// runs with umockdev's preload library too. Returns only when it cannot.
void runWithPreload(char** argv)
{
    if (umockdev_in_mock_environment() || std::getenv("RVT_SIM_USB_PRELOADED"))
        return;
    std::string preload = RVT_UMOCKDEV_PRELOAD;
    if (const char* other = std::getenv("LD_PRELOAD"); other && *other)
        preload += std::string(":") + other;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv("RVT_SIM_USB_PRELOADED", "1", 1);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's runtime is then no longer the first library.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS",
           ((asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0").c_str(),
           1);
#endif
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "rvt4410lw-sim: cannot run with %s (%s): no udev event when unplugged\n",
                 RVT_UMOCKDEV_PRELOAD, std::strerror(errno));
}

}  // namespace

int runUsbPrinter(int argc, char** argv)
{
    Options options;
    std::string scriptFile;
    std::vector<std::pair<std::string, std::string>> settings;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--usb")
            continue;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--no-preview") {
            options.preview = false;
            continue;
        }
        if (a == "--decode-after") {
            options.decodeAfter = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "rvt4410lw-sim: %s needs a value\n%s", a.c_str(), kUsage);
            return 2;
        }
        const std::string v = argv[++i];
        if (a == "--out") {
            options.outDir = v;
        } else if (a == "--ppd") {
            options.ppd = v;
        } else if (a == "--serial") {
            options.serial = v;
        } else if (a == "--script") {
            scriptFile = v;
        } else if (a == "--unplug") {
            if (!parseTrigger(v, options.unplug) ||
                options.unplug.type == Trigger::Type::Connected) {
                std::fprintf(stderr, "rvt4410lw-sim: bad value for --unplug: %s\n", v.c_str());
                return 2;
            }
        } else if (a == "--sigterm" || a == "--close-stream" || a == "--connected" ||
                   a == "--timeout" || a == "--raster" || a == "--filter") {
            // The host's doing on USB, not the printer's.
            std::fprintf(stderr, "rvt4410lw-sim: %s does not apply to --usb\n", a.c_str());
            return 2;
        } else if (a.rfind("--", 0) == 0) {
            settings.emplace_back(a.substr(2), v);
        } else {
            std::fprintf(stderr, "rvt4410lw-sim: unknown argument %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (options.outDir.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!scriptFile.empty())
        if (std::string err = loadScriptFile(scriptFile, options.script); !err.empty()) {
            std::fprintf(stderr, "rvt4410lw-sim: %s\n", err.c_str());
            return 2;
        }
    for (const auto& [name, value] : settings)
        if (std::string err = applyScriptOption(options.script, name, value); !err.empty()) {
            std::fprintf(stderr, "rvt4410lw-sim: %s\n%s", err.c_str(), kUsage);
            return 2;
        }
    runWithPreload(argv);
    UsbPrinter printer(options);
    return printer.run();
}

}  // namespace rvtsim

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "session.h"

#include "printer_role.h"
#include "side_channel.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rvtsim {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void closeFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

class Session {
public:
    explicit Session(const RunConfig& c) : config_(c), script_(c.script) {}
    RunResult run();

private:
    bool setUp(std::string& error);
    bool spawn(std::string& error);
    void loop();
    void readStream(bool boundary);
    void readErrors();
    void readSideChannel();
    void handleRequest(const SideChannelMessage& request);
    // Writes `bytes` to the channel `fd` now, or after `delayMs` milliseconds;
    // a failed write is noted as the event `failure`.
    void sendLater(const int& fd, std::string bytes, int delayMs, const char* failure);
    void onElement(const Element& e, int occurrence);
    // What a trigger of the script does to the filter or its stream.
    enum class Action { Sigterm, CloseStream, StallStream };
    void fire(const Trigger& t, const Element* e, int occurrence, Action action);
    void fireAfterConnectionQuery(const Trigger& t, Action action);
    void act(Action action, const std::string& at);
    void sendSigterm(const std::string& at);
    void closeStream(const std::string& at);
    void stallStream(const std::string& at);
    long elapsedMs() const;
    void finish(RunResult& result);

    const RunConfig& config_;
    const Script& script_;
    fs::path out_, work_, tmpdir_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
    bool timedOut_ = false;
    int streamFd_ = -1, errFd_ = -1, scFd_ = -1, backFd_ = -1;
    Clock::time_point start_;
    Clock::time_point end_;
    DelayedActions timers_;

    OutputDir outDir_;  // out_, held open for the printer's files
    std::optional<PrinterRole> printer_;
    std::string scBuffer_;
    std::string errPending_;
    std::ofstream log_;
    bool streamClosed_ = false;
    bool streamStalled_ = false;  // no longer read, but left open
    bool sigtermSent_ = false;
    long sigtermElement_ = -1;
    bool sigtermBeforeExit_ = false;
    int connectionQueries_ = 0;
    bool processesLeft_ = false;  // the filter's process group outlived it
    json logLines_ = json::array();
};

long Session::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
}

bool Session::setUp(std::string& error)
{
    std::error_code ec;
    out_ = config_.outDir;
    fs::create_directories(out_, ec);
    if (ec) {
        error = "cannot make " + out_.string() + ": " + ec.message();
        return false;
    }
    outDir_ = OutputDir::open(out_.string(), error);
    if (!outDir_.isOpen())
        return false;
    // Files of an earlier run would pass for pages of this one.
    outDir_.removeIf([](const std::string& name) {
        return name.rfind("page-", 0) == 0 || name == "transcript.json" || name == "filter.log";
    });
    std::string pattern = (fs::temp_directory_path() / "rvt4410lw-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        error = std::string("mkdtemp: ") + std::strerror(errno);
        return false;
    }
    work_ = pattern;
    tmpdir_ = work_ / "tmp";
    fs::create_directory(tmpdir_, ec);
    fs::permissions(tmpdir_, fs::perms::owner_all, ec);
    log_.open(out_ / "filter.log", std::ios::binary);
    return true;
}

bool Session::spawn(std::string& error)
{
    int in = open(config_.rasterPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = "cannot open raster " + config_.rasterPath + ": " + std::strerror(errno);
        return false;
    }
    int outPipe[2], errPipe[2], backPipe[2], sc[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 ||
        pipe2(backPipe, O_CLOEXEC | O_NONBLOCK) != 0 ||
        socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sc) != 0) {
        error = std::string("pipes: ") + std::strerror(errno);
        close(in);
        return false;
    }
    streamFd_ = outPipe[0];
    errFd_ = errPipe[0];
    backFd_ = backPipe[1];
    scFd_ = sc[0];
    setNonBlocking(streamFd_);
    setNonBlocking(errFd_);

    // The child's descriptors 0 to 4, first moved above them so that no dup2
    // in the child has the same source and target.
    int childFds[5] = {in, outPipe[1], errPipe[1], backPipe[0], sc[1]};
    int high[5];
    for (int i = 0; i < 5; ++i)
        high[i] = fcntl(childFds[i], F_DUPFD_CLOEXEC, 10);
    for (int fd : childFds)
        close(fd);

    std::vector<std::string> args = {config_.queue, config_.jobId,  config_.user,
                                     config_.title, config_.copies, config_.options};
    std::vector<std::string> env = {
        "TMPDIR=" + tmpdir_.string(),
        "CUPS_SERVER=" + (work_ / "no-scheduler.sock").string(),
        "HOME=" + work_.string(),
        std::string("PATH=") + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"),
        "LANG=C",
        "PRINTER=" + config_.queue,
        "CONTENT_TYPE=application/vnd.cups-raster",
        "DEVICE_URI=rvt4410lw-sim:/",
    };
    if (!config_.ppd.empty())
        env.push_back("PPD=" + config_.ppd);
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "LD_LIBRARY_PATH"})
        if (const char* v = getenv(name))
            env.push_back(std::string(name) + "=" + v);
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    start_ = Clock::now();
    printer_.emplace(script_, outDir_, config_.preview, start_);
    printer_->decodeAfter(config_.decodeAfter);
    printer_->onReply([this](std::string bytes, int delayMs) {
        sendLater(backFd_, std::move(bytes), delayMs, "back-channel write failed");
    });
    printer_->onElement([this](const Element& e, int occurrence) { onElement(e, occurrence); });
    pid_ = fork();
    if (pid_ == 0) {
        // A process group of its own, so that anything the filter leaves
        // running can be seen (and stopped) when it has gone.
        setpgid(0, 0);
        for (int i = 0; i < 5; ++i)
            dup2(high[i], i);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGPIPE, &dfl, nullptr);
        sigaction(SIGTERM, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(config_.filterPath.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (pid_ > 0)
        setpgid(pid_, pid_);  // both sides, whichever runs first
    for (int fd : high)
        close(fd);
    if (pid_ < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Reads the non-blocking `fd` until it has nothing more for now, handing
// every block to `take`; at end of file closes it (fd becomes -1). `take` may
// close `fd` itself.
template <typename Take>
void readAvailable(int& fd, Take take)
{
    char buf[65536];
    while (fd >= 0) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            take(std::string_view(buf, static_cast<size_t>(n)));
            continue;
        }
        if (n == 0)
            closeFd(fd);
        else if (errno == EINTR)
            continue;
        break;
    }
}

void Session::readStream(bool boundary)
{
    if (streamStalled_)
        return;
    readAvailable(streamFd_, [this](std::string_view bytes) { printer_->feed(bytes); });
    if (boundary)
        printer_->boundary();
}

void Session::readErrors()
{
    readAvailable(errFd_, [this](std::string_view bytes) {
        log_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        errPending_.append(bytes);
        size_t nl;
        while ((nl = errPending_.find('\n')) != std::string::npos) {
            logLines_.push_back(errPending_.substr(0, nl));
            errPending_.erase(0, nl + 1);
        }
    });
}

void Session::readSideChannel()
{
    readAvailable(scFd_, [this](std::string_view bytes) { scBuffer_.append(bytes); });
    SideChannelMessage request;
    while (takeSideChannel(scBuffer_, request))
        handleRequest(request);
}

void Session::handleRequest(const SideChannelMessage& request)
{
    // The filter finished writing its command before asking: read it all
    // first, so that the transcript keeps the real order.
    readStream(true);
    SideChannelAnswer answer = printer_->answer(request);
    sendLater(scFd_, encodeSideChannel(answer.message), answer.delayMs,
              "side-channel write failed");
    if (request.command == CUPS_SC_CMD_GET_CONNECTED) {
        ++connectionQueries_;
        fireAfterConnectionQuery(script_.sigterm, Action::Sigterm);
        fireAfterConnectionQuery(script_.closeStream, Action::CloseStream);
        fireAfterConnectionQuery(script_.stallStream, Action::StallStream);
    }
}

void Session::fireAfterConnectionQuery(const Trigger& t, Action action)
{
    if (t.type == Trigger::Type::Connected && connectionQueries_ == t.count)
        act(action, "after connection query #" + std::to_string(t.count));
}

void Session::act(Action action, const std::string& at)
{
    switch (action) {
    case Action::Sigterm:
        sendSigterm(at);
        break;
    case Action::CloseStream:
        closeStream(at);
        break;
    case Action::StallStream:
        stallStream(at);
        break;
    }
}

void Session::sendLater(const int& fd, std::string bytes, int delayMs, const char* failure)
{
    // `fd` is looked at when the answer goes out: the channel may be closed by then.
    auto send = [this, &fd, bytes = std::move(bytes), failure] {
        if (fd >= 0 && write(fd, bytes.data(), bytes.size()) < 0)
            printer_->event({{"time_ms", elapsedMs()}, {"event", failure}});
    };
    if (delayMs > 0)
        timers_.add(delayMs, send);
    else
        send();
}

void Session::onElement(const Element& e, int occurrence)
{
    fire(script_.sigterm, &e, occurrence, Action::Sigterm);
    fire(script_.closeStream, &e, occurrence, Action::CloseStream);
    fire(script_.stallStream, &e, occurrence, Action::StallStream);
}

void Session::fire(const Trigger& t, const Element* e, int occurrence, Action action)
{
    bool now = false;
    std::string at;
    if (t.type == Trigger::Type::Element && e && e->kind == t.kind && occurrence == t.count) {
        now = true;
        at = std::string("after ") + kindName(t.kind) + " #" + std::to_string(t.count);
    } else if (t.type == Trigger::Type::Chunk && e && e->kind == ElementKind::Data &&
               printer_->currentPage() == t.page && printer_->currentChunks() == t.chunk) {
        now = true;
        at = "after chunk " + std::to_string(t.chunk) + " of page " + std::to_string(t.page);
    }
    if (now)
        act(action, at);
}

void Session::sendSigterm(const std::string& at)
{
    if (sigtermSent_)
        return;
    sigtermSent_ = true;
    sigtermElement_ = printer_->lastElement();
    sigtermBeforeExit_ = !exited_;
    if (!exited_)
        kill(pid_, SIGTERM);
    printer_->event({{"time_ms", elapsedMs()},
                     {"event", "SIGTERM sent " + at},
                     {"after_element", sigtermElement_},
                     {"filter_running", sigtermBeforeExit_}});
}

void Session::closeStream(const std::string& at)
{
    if (streamClosed_)
        return;
    streamClosed_ = true;
    closeFd(streamFd_);
    printer_->event({{"time_ms", elapsedMs()},
                     {"event", "stream closed " + at},
                     {"after_element", printer_->lastElement()}});
}

void Session::stallStream(const std::string& at)
{
    if (streamStalled_ || streamClosed_)
        return;
    streamStalled_ = true;
    printer_->event({{"time_ms", elapsedMs()},
                     {"event", "stream no longer read " + at},
                     {"after_element", printer_->lastElement()}});
}

void Session::loop()
{
    const auto deadline = start_ + std::chrono::milliseconds(
                                       static_cast<long>(script_.timeoutSeconds * 1000));
    if (script_.sigterm.type == Trigger::Type::Delay)
        timers_.addAt(start_ + std::chrono::milliseconds(script_.sigterm.ms), [this] {
            sendSigterm("after " + std::to_string(script_.sigterm.ms) + " ms");
        });
    if (script_.closeStream.type == Trigger::Type::Delay)
        timers_.addAt(start_ + std::chrono::milliseconds(script_.closeStream.ms), [this] {
            closeStream("after " + std::to_string(script_.closeStream.ms) + " ms");
        });
    if (script_.stallStream.type == Trigger::Type::Delay)
        timers_.addAt(start_ + std::chrono::milliseconds(script_.stallStream.ms), [this] {
            stallStream("after " + std::to_string(script_.stallStream.ms) + " ms");
        });

    while (!exited_) {
        pollfd fds[3];
        int n = 0;
        for (int fd : {streamStalled_ ? -1 : streamFd_, errFd_, scFd_})
            if (fd >= 0)
                fds[n++] = {fd, POLLIN, 0};
        if (poll(fds, n, timers_.waitMs(20)) < 0 && errno != EINTR)
            break;
        readStream(false);
        readErrors();
        readSideChannel();
        timers_.runDue();
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            exited_ = true;
            end_ = Clock::now();
            // Anything still in the filter's process group was started by
            // it and outlived it (a child that is only just ending gets
            // half a second to be gone).
            for (int i = 0; i < 25 && kill(-pid_, 0) == 0; ++i)
                usleep(20000);
            if (kill(-pid_, 0) == 0) {
                processesLeft_ = true;
                kill(-pid_, SIGKILL);
                printer_->event({{"time_ms", elapsedMs()},
                                 {"event", "processes of the filter left running: killed"}});
            }
        } else if (!timedOut_ && Clock::now() >= deadline) {
            timedOut_ = true;
            kill(-pid_, SIGKILL);
            printer_->event({{"time_ms", elapsedMs()}, {"event", "time-out: filter killed"}});
        }
    }
    // The filter is gone: take what it left in the pipes.
    readStream(true);
    readErrors();
    if (!errPending_.empty())
        logLines_.push_back(errPending_);
    // A stream no longer read is over where the reading stopped.
    printer_->endOfStream(!streamClosed_ && !streamStalled_);
}

void Session::finish(RunResult& result)
{
    printer_->finish(!streamClosed_ && !streamStalled_);

    json sigterm = nullptr;
    if (sigtermSent_) {
        bool cancelLast = printer_->endsWithCancelAfter(sigtermElement_);
        sigterm = {{"after_element", sigtermElement_},
                   {"filter_running", sigtermBeforeExit_},
                   {"cancel_last", cancelLast}};
        if (sigtermBeforeExit_ && !cancelLast && !streamClosed_ && !streamStalled_)
            printer_->protocolError(printer_->bytesSeen(),
                                    "after SIGTERM the stream does not end with CancelJob?");
    }

    // Anything the filter left in its TMPDIR.
    json leftovers = json::array();
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(tmpdir_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        leftovers.push_back(fs::relative(it->path(), tmpdir_, ec).string());
    fs::remove_all(work_, ec);

    json filter = {{"path", config_.filterPath},
                   {"pid", pid_},
                   {"timed_out", timedOut_},
                   {"processes_left", processesLeft_}};
    if (WIFEXITED(status_)) {
        filter["exit_status"] = WEXITSTATUS(status_);
        filter["signal"] = nullptr;
    } else {
        filter["exit_status"] = nullptr;
        filter["signal"] = WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
    }
    const bool exitedZero = WIFEXITED(status_) && WEXITSTATUS(status_) == 0 && !timedOut_;
    const json& errors = printer_->errors();
    result.clean = exitedZero && errors.empty() && leftovers.empty() && !processesLeft_;

    const long wall = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - start_).count();
    json& t = result.transcript;
    t["argv"] = {config_.queue, config_.jobId,  config_.user,
                 config_.title, config_.copies, config_.options};
    t["raster"] = config_.rasterPath;
    t["ppd"] = config_.ppd.empty() ? json(nullptr) : json(config_.ppd);
    printer_->record(t);
    t["sigterm"] = sigterm;
    t["stream_closed"] = streamClosed_;
    t["stream_stalled"] = streamStalled_;
    t["filter"] = filter;
    t["wall_time_ms"] = wall;
    t["tmpdir_leftovers"] = leftovers;
    t["log"] = logLines_;
    t["clean"] = result.clean;

    std::string how;
    if (timedOut_)
        how = "timed out after " + std::to_string(wall) + " ms";
    else if (WIFEXITED(status_))
        how = "filter exit " + std::to_string(WEXITSTATUS(status_));
    else
        how = "filter killed by signal " + std::to_string(WTERMSIG(status_));
    result.summary = std::string("rvt4410lw-sim: ") + (result.clean ? "clean" : "FAILED") + ": " +
                     how + ", " + std::to_string(printer_->pagesSent()) + " pages, " +
                     std::to_string(printer_->elementCount()) + " elements, " +
                     std::to_string(errors.size()) + " protocol errors, " +
                     std::to_string(leftovers.size()) + " files left in TMPDIR, " +
                     (processesLeft_ ? "processes left running, " : "") + std::to_string(wall) +
                     " ms";
    if (!errors.empty())
        result.summary += " (first: " + errors[0]["message"].get<std::string>() + ")";

    outDir_.writeFile("transcript.json",
                      t.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

RunResult Session::run()
{
    RunResult result;
    std::string error;
    if (!setUp(error) || !spawn(error)) {
        result.summary = "rvt4410lw-sim: cannot run the job: " + error;
        if (!work_.empty()) {
            std::error_code ec;
            fs::remove_all(work_, ec);
        }
        return result;
    }
    loop();
    closeFd(streamFd_);
    closeFd(errFd_);
    closeFd(scFd_);
    closeFd(backFd_);
    finish(result);
    return result;
}

}  // namespace

RunResult runJob(const RunConfig& config)
{
    // Replies to a filter that has gone must not end the simulator.
    signal(SIGPIPE, SIG_IGN);
    Session session(config);
    return session.run();
}

}  // namespace rvtsim

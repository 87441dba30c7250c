#include "session.h"

#include "image_files.h"
#include "jbig_decode.h"
#include "job_grammar.h"
#include "side_channel.h"
#include "stream_parser.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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

void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

struct Page {
    int index = 0;
    uint64_t headerOffset = 0;
    std::string mediaSize;
    long declaredWidth = -1;
    long declaredHeight = -1;
    int chunks = 0;
    std::string bie;
    json jobHeader;
};

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
    void handleElements(std::vector<Element> elements);
    void handleElement(Element& e);
    void finishPage(const std::string& why);
    void dropCancelledPage();
    void fire(const Trigger& t, const Element* e, int occurrence, bool sigterm);
    void sendSigterm(const std::string& at);
    void closeStream(const std::string& at);
    void protocolError(uint64_t offset, const std::string& message);
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
    std::multimap<Clock::time_point, std::function<void()>> timers_;

    StreamParser parser_;
    JobGrammar grammar_;
    std::map<ElementKind, int> occurrences_;
    std::string scBuffer_;
    int connectedQueries_ = 0, drains_ = 0;
    std::string errPending_;
    std::ofstream log_;
    bool streamClosed_ = false;
    bool sigtermSent_ = false;
    long sigtermElement_ = -1;
    bool sigtermBeforeExit_ = false;
    std::optional<Page> page_;
    int pagesSent_ = 0;
    json jobHeader_ = json::object();

    json elements_ = json::array();
    json replies_ = json::array();
    json sideChannel_ = json::array();
    json pages_ = json::array();
    json errors_ = json::array();
    json logLines_ = json::array();
    json events_ = json::array();
    std::vector<ElementKind> kinds_;
};

long Session::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
}

void Session::protocolError(uint64_t offset, const std::string& message)
{
    errors_.push_back({{"offset", offset}, {"message", message}});
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
    // Files of an earlier run would pass for pages of this one.
    for (const auto& entry : fs::directory_iterator(out_, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("page-", 0) == 0 || name == "transcript.json" || name == "filter.log")
            fs::remove(entry.path(), ec);
    }
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

    std::vector<std::string> args = {config_.queue, config_.jobId, config_.user,
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
    pid_ = fork();
    if (pid_ == 0) {
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
    readAvailable(streamFd_, [this](std::string_view bytes) {
        parser_.feed(bytes);
        // Handle as we go, so that triggers fire at their element.
        handleElements(parser_.take(false));
    });
    if (boundary)
        handleElements(parser_.take(true));
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
    SideChannelMessage answer;
    answer.command = request.command;
    int delay = 0;
    auto pick = [](const std::vector<int>& seq, int i) {
        return seq[std::min<size_t>(static_cast<size_t>(i), seq.size() - 1)];
    };
    if (request.command == CUPS_SC_CMD_GET_CONNECTED) {
        answer.status = pick(script_.connected, connectedQueries_++);
        if (answer.status == CUPS_SC_STATUS_OK)
            answer.data = std::string(1, '\1');
    } else if (request.command == CUPS_SC_CMD_DRAIN_OUTPUT) {
        answer.status = pick(script_.drainStatus, drains_);
        delay = pick(script_.drainDelayMs, drains_);
        ++drains_;
    } else {
        answer.status = CUPS_SC_STATUS_NOT_IMPLEMENTED;
    }
    sideChannel_.push_back({{"time_ms", elapsedMs()},
                            {"after_element", static_cast<long>(kinds_.size()) - 1},
                            {"command", request.command},
                            {"name", sideChannelCommandName(request.command)},
                            {"request_status", request.status},
                            {"request_length", request.data.size()},
                            {"status", answer.status},
                            {"data_length", answer.data.size()},
                            {"delay_ms", delay}});
    sendLater(scFd_, encodeSideChannel(answer), delay, "side-channel write failed");
}

void Session::sendLater(const int& fd, std::string bytes, int delayMs, const char* failure)
{
    // `fd` is looked at when the answer goes out: the channel may be closed by then.
    auto send = [this, &fd, bytes = std::move(bytes), failure] {
        if (fd >= 0 && write(fd, bytes.data(), bytes.size()) < 0)
            events_.push_back({{"time_ms", elapsedMs()}, {"event", failure}});
    };
    if (delayMs > 0)
        timers_.emplace(Clock::now() + std::chrono::milliseconds(delayMs), send);
    else
        send();
}

void Session::handleElements(std::vector<Element> elements)
{
    for (auto& e : elements)
        handleElement(e);
}

void Session::handleElement(Element& e)
{
    const long index = static_cast<long>(kinds_.size());
    kinds_.push_back(e.kind);
    const int occurrence = ++occurrences_[e.kind];

    json record = {{"index", index},
                   {"kind", kindName(e.kind)},
                   {"offset", e.offset},
                   {"size", e.size},
                   {"time_ms", elapsedMs()}};
    record["text"] = e.kind == ElementKind::Garbage ? printable(e.text, 200) : e.text;

    switch (e.kind) {
    case ElementKind::JobHeader:
        jobHeader_ = json::object();
        for (const auto& [k, v] : e.fields)
            jobHeader_[k] = v;
        break;
    case ElementKind::PageHeader: {
        if (page_)
            finishPage("page header before the end of the previous page");
        Page p;
        p.index = ++pagesSent_;
        p.headerOffset = e.offset;
        p.mediaSize = e.fields[0].second;
        p.declaredWidth = std::strtol(e.fields[1].second.c_str(), nullptr, 10);
        p.declaredHeight = std::strtol(e.fields[2].second.c_str(), nullptr, 10);
        p.jobHeader = jobHeader_;
        page_ = std::move(p);
        record["page"] = pagesSent_;
        break;
    }
    case ElementKind::Data:
        record["length"] = e.payload.size();
        if (page_) {
            page_->bie += e.payload;
            ++page_->chunks;
            record["page"] = page_->index;
            record["chunk"] = page_->chunks;
        }
        break;
    case ElementKind::EndOfPage:
        if (page_) {
            record["page"] = page_->index;
            finishPage("");
        }
        break;
    case ElementKind::Cancel:
        // A cancel between two chunks drops the page under way: the
        // printer prints nothing of it.
        if (page_) {
            record["page"] = page_->index;
            dropCancelledPage();
        }
        break;
    default:
        break;
    }

    Reply reply;
    if (Script::isExchange(e.kind)) {
        reply = script_.replyFor(e.kind, occurrence);
        int delay = 0;
        if (auto d = script_.replyDelayMs.find(e.kind); d != script_.replyDelayMs.end())
            delay = d->second;
        record["reply"] = reply ? json(*reply) : json(nullptr);
        replies_.push_back({{"element", index},
                            {"kind", kindName(e.kind)},
                            {"occurrence", occurrence},
                            {"reply", record["reply"]},
                            {"delay_ms", delay}});
        if (reply)
            sendLater(backFd_, *reply, delay, "back-channel write failed");
    }
    if (std::string fault = grammar_.accept(e, reply); !fault.empty()) {
        protocolError(e.offset, fault);
        record["fault"] = fault;
    }
    elements_.push_back(std::move(record));

    fire(script_.sigterm, &e, occurrence, true);
    fire(script_.closeStream, &e, occurrence, false);
}

void Session::fire(const Trigger& t, const Element* e, int occurrence, bool sigterm)
{
    bool now = false;
    std::string at;
    if (t.type == Trigger::Type::Element && e && e->kind == t.kind && occurrence == t.count) {
        now = true;
        at = std::string("after ") + kindName(t.kind) + " #" + std::to_string(t.count);
    } else if (t.type == Trigger::Type::Chunk && e && e->kind == ElementKind::Data && page_ &&
               page_->index == t.page && page_->chunks == t.chunk) {
        now = true;
        at = "after chunk " + std::to_string(t.chunk) + " of page " + std::to_string(t.page);
    }
    if (!now)
        return;
    if (sigterm)
        sendSigterm(at);
    else
        closeStream(at);
}

void Session::sendSigterm(const std::string& at)
{
    if (sigtermSent_)
        return;
    sigtermSent_ = true;
    sigtermElement_ = static_cast<long>(kinds_.size()) - 1;
    sigtermBeforeExit_ = !exited_;
    if (!exited_)
        kill(pid_, SIGTERM);
    events_.push_back({{"time_ms", elapsedMs()}, {"event", "SIGTERM sent " + at},
                       {"after_element", sigtermElement_}, {"filter_running", sigtermBeforeExit_}});
}

void Session::closeStream(const std::string& at)
{
    if (streamClosed_)
        return;
    streamClosed_ = true;
    closeFd(streamFd_);
    events_.push_back({{"time_ms", elapsedMs()}, {"event", "stream closed " + at},
                       {"after_element", static_cast<long>(kinds_.size()) - 1}});
}

// What the transcript records of every page, decoded or not.
json pageRecord(const Page& p)
{
    return {{"index", p.index},
            {"media_size", p.mediaSize},
            {"declared_width", p.declaredWidth},
            {"declared_height", p.declaredHeight},
            {"chunks", p.chunks},
            {"bie_size", p.bie.size()},
            {"job_header", p.jobHeader}};
}

void Session::dropCancelledPage()
{
    json rec = pageRecord(*page_);
    page_.reset();
    rec["cancelled"] = true;
    rec["faults"] = json::array();
    pages_.push_back(std::move(rec));
}

void Session::finishPage(const std::string& why)
{
    Page p = std::move(*page_);
    page_.reset();
    char name[32];
    std::snprintf(name, sizeof name, "page-%03d", p.index);
    json rec = pageRecord(p);
    json faults = json::array();
    if (!why.empty())
        faults.push_back(why);
    DecodeResult d = decodeBie(p.bie);
    if (d.ok) {
        const BieHeader& h = d.header;
        rec["bie"] = {{"dl", h.dl}, {"d", h.d}, {"planes", h.planes}, {"xd", h.xd},
                      {"yd", h.yd}, {"l0", h.l0}, {"mx", h.mx}, {"my", h.my},
                      {"order", h.order}, {"options", h.options}};
        rec["width"] = d.page.width;
        rec["height"] = d.page.height;
        long raised = (static_cast<long>(d.page.width) + 7) / 8 * 8;
        if (p.declaredWidth != raised)
            faults.push_back("declared width " + std::to_string(p.declaredWidth) +
                             ", image width " + std::to_string(d.page.width) + " raised to " +
                             std::to_string(raised));
        if (p.declaredHeight != static_cast<long>(d.page.height))
            faults.push_back("declared height " + std::to_string(p.declaredHeight) +
                             ", image height " + std::to_string(d.page.height));
        long black = 0;
        for (uint8_t b : d.page.bits)
            black += __builtin_popcount(b);
        rec["black_pixels"] = black;
        std::string pbm = std::string(name) + ".pbm", png = std::string(name) + ".png";
        if (!writePbm((out_ / pbm).string(), d.page) || !writePng((out_ / png).string(), d.page))
            faults.push_back("cannot write the page files");
        rec["pbm"] = pbm;
        rec["png"] = png;
        uint32_t longest = std::max(d.page.width, d.page.height);
        if (config_.preview && longest > 1100) {
            std::string preview = std::string(name) + "-preview.png";
            if (writePreviewPng((out_ / preview).string(), d.page, (longest + 1099) / 1100))
                rec["preview"] = preview;
        }
    } else {
        faults.push_back("page not decoded: " + d.error);
    }
    for (const auto& f : faults)
        protocolError(p.headerOffset, "page " + std::to_string(p.index) + ": " + f.get<std::string>());
    rec["faults"] = faults;
    pages_.push_back(std::move(rec));
}

void Session::loop()
{
    const auto deadline =
        start_ + std::chrono::milliseconds(static_cast<long>(script_.timeoutSeconds * 1000));
    if (script_.sigterm.type == Trigger::Type::Delay)
        timers_.emplace(start_ + std::chrono::milliseconds(script_.sigterm.ms),
                        [this] { sendSigterm("after " + std::to_string(script_.sigterm.ms) + " ms"); });
    if (script_.closeStream.type == Trigger::Type::Delay)
        timers_.emplace(start_ + std::chrono::milliseconds(script_.closeStream.ms),
                        [this] { closeStream("after " + std::to_string(script_.closeStream.ms) + " ms"); });

    while (!exited_) {
        pollfd fds[3];
        int n = 0;
        for (int fd : {streamFd_, errFd_, scFd_})
            if (fd >= 0)
                fds[n++] = {fd, POLLIN, 0};
        int wait = 20;
        if (!timers_.empty()) {
            auto until = std::chrono::duration_cast<std::chrono::milliseconds>(
                timers_.begin()->first - Clock::now()).count();
            wait = static_cast<int>(std::clamp<long>(until, 0, wait));
        }
        if (poll(fds, n, wait) < 0 && errno != EINTR)
            break;
        readStream(false);
        readErrors();
        readSideChannel();
        while (!timers_.empty() && timers_.begin()->first <= Clock::now()) {
            auto action = std::move(timers_.begin()->second);
            timers_.erase(timers_.begin());
            action();
        }
        if (waitpid(pid_, &status_, WNOHANG) == pid_) {
            exited_ = true;
            end_ = Clock::now();
        } else if (!timedOut_ && Clock::now() >= deadline) {
            timedOut_ = true;
            kill(pid_, SIGKILL);
            events_.push_back({{"time_ms", elapsedMs()}, {"event", "time-out: filter killed"}});
        }
    }
    // The filter is gone: take what it left in the pipes.
    readStream(true);
    readErrors();
    if (!errPending_.empty())
        logLines_.push_back(errPending_);
    if (!streamClosed_)
        handleElements(parser_.finish());
    if (page_ && !streamClosed_)
        finishPage("stream ended inside the page");
    page_.reset();
}

void Session::finish(RunResult& result)
{
    for (const auto& e : parser_.errors())
        protocolError(e.offset, e.message);
    if (!streamClosed_ && !kinds_.empty())
        if (std::string fault = grammar_.finish(); !fault.empty())
            protocolError(parser_.bytesSeen(), fault);

    json sigterm = nullptr;
    if (sigtermSent_) {
        bool cancelLast = !kinds_.empty() && kinds_.back() == ElementKind::Cancel &&
                          static_cast<long>(kinds_.size()) - 1 > sigtermElement_;
        sigterm = {{"after_element", sigtermElement_},
                   {"filter_running", sigtermBeforeExit_},
                   {"cancel_last", cancelLast}};
        if (sigtermBeforeExit_ && !cancelLast && !streamClosed_)
            protocolError(parser_.bytesSeen(), "after SIGTERM the stream does not end with CancelJob?");
    }

    // Anything the filter left in its TMPDIR.
    json leftovers = json::array();
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(tmpdir_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        leftovers.push_back(fs::relative(it->path(), tmpdir_, ec).string());
    fs::remove_all(work_, ec);

    json filter = {{"path", config_.filterPath}, {"timed_out", timedOut_}};
    if (WIFEXITED(status_)) {
        filter["exit_status"] = WEXITSTATUS(status_);
        filter["signal"] = nullptr;
    } else {
        filter["exit_status"] = nullptr;
        filter["signal"] = WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
    }
    const bool exitedZero = WIFEXITED(status_) && WEXITSTATUS(status_) == 0 && !timedOut_;
    result.clean = exitedZero && errors_.empty() && leftovers.empty();

    const long wall =
        std::chrono::duration_cast<std::chrono::milliseconds>(end_ - start_).count();
    json& t = result.transcript;
    t["argv"] = {config_.queue, config_.jobId, config_.user, config_.title, config_.copies,
                 config_.options};
    t["raster"] = config_.rasterPath;
    t["ppd"] = config_.ppd.empty() ? json(nullptr) : json(config_.ppd);
    t["elements"] = elements_;
    t["replies"] = replies_;
    t["side_channel"] = sideChannel_;
    t["pages"] = pages_;
    t["events"] = events_;
    t["sigterm"] = sigterm;
    t["stream_closed"] = streamClosed_;
    t["stream_bytes"] = parser_.bytesSeen();
    t["final_state"] = JobGrammar::stateName(grammar_.state());
    t["filter"] = filter;
    t["wall_time_ms"] = wall;
    t["tmpdir_leftovers"] = leftovers;
    t["protocol_errors"] = errors_;
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
                     how + ", " + std::to_string(pagesSent_) + " pages, " +
                     std::to_string(kinds_.size()) + " elements, " +
                     std::to_string(errors_.size()) + " protocol errors, " +
                     std::to_string(leftovers.size()) + " files left in TMPDIR, " +
                     std::to_string(wall) + " ms";
    if (!errors_.empty())
        result.summary += " (first: " + errors_[0]["message"].get<std::string>() + ")";

    std::ofstream(out_ / "transcript.json")
        << t.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
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

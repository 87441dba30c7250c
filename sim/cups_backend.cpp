#include "cups_backend.h"

#include "printer_role.h"
#include "script_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cups/backend.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace rvtsim {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

volatile std::sig_atomic_t gCancelled = 0;

// After the scheduler's SIGTERM the filter still writes its cancel query and
// waits a few seconds for the reply; the backend reads on for this long at
// most, then keeps what it has.
constexpr int kCancelGraceMs = 15000;

constexpr int kMaxErrorLines = 10;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool percentDecode(const std::string& in, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        int hi = hexValue(in[i + 1]), lo = hexValue(in[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = text.find(sep, start)) != std::string::npos; start = at + 1)
        out.push_back(text.substr(start, at - start));
    out.push_back(text.substr(start));
    return out;
}

// A job id as a directory name: cupsd's ids are numbers; anything else is
// kept readable and harmless.
std::string jobDirName(const std::string& jobId)
{
    std::string name = "job-";
    for (char c : jobId)
        name += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return name;
}

void logLine(const char* prefix, const std::string& text)
{
    std::fprintf(stderr, "%s rvtsim: %s\n", prefix, text.c_str());
    std::fflush(stderr);
}

class BackendRun {
public:
    explicit BackendRun(const BackendJob& job) : job_(job) {}
    int run();

private:
    bool setUp();
    void loop();
    bool readInput();  // false at end of file or on a read error
    void readSideChannel();
    void sendReply(const std::string& bytes, int delayMs);
    void onElement(const Element& e);
    int finish();

    const BackendJob& job_;
    BackendUri uri_;
    fs::path dir_;
    Clock::time_point start_;
    int inFd_ = -1;
    bool ownInFd_ = false;
    bool sideChannelOpen_ = true;
    bool inputComplete_ = false;
    bool cutShort_ = false;
    std::string inputError_;
    long cancelMs_ = -1;
    long cancelElement_ = -1;
    DelayedActions timers_;
    std::optional<PrinterRole> printer_;
};

bool BackendRun::setUp()
{
    if (std::string err = parseBackendUri(job_.uri, uri_); !err.empty()) {
        logLine("ERROR:", "bad device URI \"" + job_.uri + "\": " + err);
        return false;
    }
    dir_ = fs::path(uri_.outDir) / jobDirName(job_.jobId);
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) {
        logLine("ERROR:", "cannot make the output directory " + dir_.string() + ": " + ec.message());
        return false;
    }
    // Files of an earlier job with the same id would pass for pages of this one.
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("page-", 0) == 0 || name == "transcript.json")
            fs::remove(entry.path(), ec);
    }
    if (job_.file.empty()) {
        inFd_ = 0;
    } else {
        inFd_ = open(job_.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (inFd_ < 0) {
            logLine("ERROR:", "cannot open " + job_.file + ": " + std::strerror(errno));
            return false;
        }
        ownInFd_ = true;
    }
    fcntl(inFd_, F_SETFL, fcntl(inFd_, F_GETFL) | O_NONBLOCK);
    // Without a side channel (run by hand) there is nothing to poll.
    sideChannelOpen_ = fcntl(CUPS_SC_FD, F_GETFD) != -1;

    start_ = Clock::now();
    printer_.emplace(uri_.script, dir_, uri_.preview, start_);
    printer_->decodeAfter(uri_.decodeAfter);
    printer_->onReply([this](std::string bytes, int delayMs) { sendReply(bytes, delayMs); });
    printer_->onElement([this](const Element& e, int) { onElement(e); });
    logLine("DEBUG:", "job " + job_.jobId + " into " + dir_.string());
    return true;
}

void BackendRun::sendReply(const std::string& bytes, int delayMs)
{
    auto send = [this, bytes] {
        logLine("DEBUG:", "back-channel reply \"" + bytes + "\"");
        if (cupsBackChannelWrite(bytes.data(), bytes.size(), 1.0) < 0) {
            printer_->event({{"time_ms", printer_->elapsedMs()}, {"event", "back-channel write failed"}});
            logLine("DEBUG:", std::string("back-channel write failed: ") + std::strerror(errno));
        }
    };
    if (delayMs > 0)
        timers_.add(delayMs, send);
    else
        send();
}

void BackendRun::onElement(const Element& e)
{
    if (e.kind == ElementKind::EndOfPage)
        logLine("INFO:", "page " + std::to_string(printer_->pagesSent()) + " received");
    else if (e.kind == ElementKind::Cancel)
        logLine("INFO:", "the filter cancelled the job");
}

bool BackendRun::readInput()
{
    char buf[65536];
    for (;;) {
        ssize_t n = read(inFd_, buf, sizeof buf);
        if (n > 0) {
            printer_->feed(std::string_view(buf, static_cast<size_t>(n)));
            continue;
        }
        if (n == 0)
            return false;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return true;
        inputError_ = std::strerror(errno);
        return false;
    }
}

void BackendRun::readSideChannel()
{
    cups_sc_command_t command;
    cups_sc_status_t status;
    char data[2048];
    int length = sizeof data;
    if (cupsSideChannelRead(&command, &status, data, &length, 1.0) != 0) {
        // End of file: every filter of the job has gone.
        sideChannelOpen_ = false;
        logLine("DEBUG:", "side channel closed");
        return;
    }
    // The filter wrote its command before asking: take it all first.
    if (!readInput())
        inputComplete_ = true;
    SideChannelMessage request;
    request.command = command;
    request.status = status;
    request.data.assign(data, static_cast<size_t>(std::max(length, 0)));
    SideChannelAnswer a = printer_->answer(request);
    auto send = [this, a] {
        const auto& m = a.message;
        if (cupsSideChannelWrite(static_cast<cups_sc_command_t>(m.command),
                                 static_cast<cups_sc_status_t>(m.status), m.data.data(),
                                 static_cast<int>(m.data.size()), 1.0) != 0)
            printer_->event({{"time_ms", printer_->elapsedMs()}, {"event", "side-channel write failed"}});
    };
    if (a.delayMs > 0)
        timers_.add(a.delayMs, send);
    else
        send();
}

void BackendRun::loop()
{
    while (!inputComplete_) {
        if (gCancelled && cancelMs_ < 0) {
            cancelMs_ = printer_->elapsedMs();
            cancelElement_ = printer_->lastElement();
            printer_->event({{"time_ms", cancelMs_}, {"event", "SIGTERM received"},
                             {"after_element", cancelElement_}});
            logLine("INFO:", "job cancelled by the scheduler; reading the rest of the stream");
        }
        if (cancelMs_ >= 0 && printer_->elapsedMs() - cancelMs_ > kCancelGraceMs) {
            cutShort_ = true;
            printer_->event({{"time_ms", printer_->elapsedMs()},
                             {"event", "stream abandoned: no end of file after SIGTERM"}});
            break;
        }
        pollfd fds[2];
        int n = 0;
        fds[n++] = {inFd_, POLLIN, 0};
        if (sideChannelOpen_)
            fds[n++] = {CUPS_SC_FD, POLLIN, 0};
        int r = poll(fds, static_cast<nfds_t>(n), timers_.waitMs(200));
        if (r < 0 && errno != EINTR) {
            inputError_ = std::string("poll: ") + std::strerror(errno);
            break;
        }
        if (r > 0) {
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))
                if (!readInput())
                    inputComplete_ = true;
            if (n > 1 && !inputComplete_) {
                if (fds[1].revents & POLLNVAL)
                    sideChannelOpen_ = false;
                else if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
                    readSideChannel();
            }
        }
        timers_.runDue();
    }
}

int BackendRun::finish()
{
    const bool complete = !cutShort_ && inputError_.empty();
    printer_->endOfStream(complete);
    printer_->finish(complete);
    if (!inputError_.empty())
        printer_->protocolError(printer_->bytesSeen(), "cannot read the stream: " + inputError_);

    const json& errors = printer_->errors();
    const bool cancelled = cancelMs_ >= 0 || printer_->cancelled();
    json t;
    t["argv"] = {job_.queue, job_.jobId, job_.user, job_.title, job_.copies, job_.options};
    t["raster"] = job_.file.empty() ? json(nullptr) : json(job_.file);
    const char* ppd = std::getenv("PPD");
    t["ppd"] = ppd ? json(ppd) : json(nullptr);
    t["device_uri"] = job_.uri;
    printer_->record(t);
    t["sigterm"] = cancelMs_ < 0 ? json(nullptr)
                                 : json{{"after_element", cancelElement_},
                                        {"time_ms", cancelMs_},
                                        {"filter_running", nullptr},
                                        {"cancel_last", printer_->endsWithCancelAfter(-1)}};
    t["cancelled"] = cancelled;
    t["stream_closed"] = cutShort_;
    t["filter"] = nullptr;
    t["wall_time_ms"] = printer_->elapsedMs();
    t["tmpdir_leftovers"] = json::array();
    t["log"] = json::array();
    t["clean"] = errors.empty();

    const fs::path transcript = dir_ / "transcript.json";
    std::ofstream out(transcript);
    out << t.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
    out.close();
    if (!out)
        logLine("ERROR:", "cannot write " + transcript.string());

    int shown = 0;
    for (const auto& e : errors)
        if (shown++ < kMaxErrorLines)
            logLine("ERROR:", "protocol error at byte " + std::to_string(e["offset"].get<uint64_t>()) +
                                  ": " + e["message"].get<std::string>());
    logLine("INFO:", std::to_string(printer_->pagesSent()) + " pages, " +
                         std::to_string(errors.size()) + " protocol errors" +
                         (cancelled ? ", cancelled" : "") + "; transcript in " + transcript.string());
    // A stream the printer could not take is a failed job, whatever the
    // reason; the queue's printer-error-policy decides what follows.
    return errors.empty() && out ? CUPS_BACKEND_OK : CUPS_BACKEND_FAILED;
}

int BackendRun::run()
{
    if (!setUp()) {
        if (ownInFd_)
            close(inFd_);
        return CUPS_BACKEND_STOP;
    }
    loop();
    int status = finish();
    if (ownInFd_)
        close(inFd_);
    return status;
}

}  // namespace

std::string parseBackendUri(const std::string& uri, BackendUri& out)
{
    const std::string scheme = std::string(kBackendScheme) + ":";
    if (uri.rfind(scheme, 0) != 0)
        return "the scheme is not " + std::string(kBackendScheme);
    std::string rest = uri.substr(scheme.size());
    std::string query;
    if (size_t q = rest.find('?'); q != std::string::npos) {
        query = rest.substr(q + 1);
        rest.erase(q);
    }
    if (rest.rfind("//", 0) == 0) {
        size_t slash = rest.find('/', 2);
        std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
        if (!host.empty() && host != "localhost")
            return "the host must be empty or localhost";
        rest = slash == std::string::npos ? "" : rest.substr(slash);
    }
    if (!percentDecode(rest, out.outDir))
        return "bad percent escape in the path";
    if (out.outDir.empty() || out.outDir[0] != '/')
        return "the path must be an absolute directory";

    std::vector<std::pair<std::string, std::string>> settings;
    if (!query.empty())
        for (const auto& item : split(query, '&')) {
            if (item.empty())
                continue;
            size_t eq = item.find('=');
            if (eq == std::string::npos)
                return "\"" + item + "\" has no value";
            std::string key, value;
            if (!percentDecode(item.substr(0, eq), key) || !percentDecode(item.substr(eq + 1), value))
                return "bad percent escape in \"" + item + "\"";
            settings.emplace_back(key, value);
        }
    for (const auto& [key, value] : settings)
        if (key == "script")
            if (std::string err = loadScriptFile(value, out.script); !err.empty())
                return err;
    for (const auto& [key, value] : settings) {
        if (key == "script")
            continue;
        if (key == "preview") {
            if (value != "0" && value != "1")
                return "preview must be 0 or 1";
            out.preview = value == "1";
            continue;
        }
        if (key == "decode-after") {
            if (value != "0" && value != "1")
                return "decode-after must be 0 or 1";
            out.decodeAfter = value == "1";
            continue;
        }
        // SIGTERM and the stream going away are the scheduler's doing here.
        if (key == "sigterm" || key == "close-stream" || key == "timeout")
            return key + " is not a printer setting";
        if (std::string err = applyScriptOption(out.script, key, value); !err.empty())
            return err;
    }
    return {};
}

void listDevice()
{
    cupsBackendReport("direct", kBackendDefaultUri, "RVT RV-T4410LW", "RVT RV-T4410LW (simulated)",
                      "MFG:RVT;MDL:RV-T4410LW;CMD:RVTJOB,JBIG;CLS:PRINTER;", nullptr);
    std::fflush(stdout);
}

int runBackendJob(const BackendJob& job)
{
    BackendRun run(job);
    return run.run();
}

void noteCancel()
{
    gCancelled = 1;
}

}  // namespace rvtsim

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "cups_backend.h"

#include "output_dir.h"
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
#include <grp.h>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rvtsim {

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

std::string modeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Opens the directory `path` the way root may trust it: every part of it is
// entered without following a symbolic link, except a link that root owns
// (such as /var/run), whose target is opened the same way. A link someone
// else made could lead a root process anywhere. `start` is where a relative
// path begins. Returns the descriptor, or -1 with the reason in `error`.
int openTrustedDir(int start, const std::string& path, int& linksLeft, std::string& error)
{
    const bool absolute = path.rfind('/', 0) == 0;
    int fd = absolute ? open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                      : fcntl(start, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot open ") + (absolute ? "/" : "the directory of a link") + ": " +
                std::strerror(errno);
        return -1;
    }
    for (const auto& part : split(path, '/')) {
        if (part.empty() || part == ".")
            continue;
        int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            int e = errno;
            struct stat st {};
            if (fstatat(fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) {
                error = "cannot open \"" + part + "\" in " + path + ": " + std::strerror(e);
            } else if (st.st_uid != 0) {
                error = "\"" + part + "\" in " + path +
                        " is a symbolic link that root does not own";
            } else if (--linksLeft < 0) {
                error = "too many symbolic links in " + path;
            } else {
                char target[4096];
                ssize_t n = readlinkat(fd, part.c_str(), target, sizeof target - 1);
                if (n < 0)
                    error = "cannot read the link \"" + part + "\" in " + path + ": " +
                            std::strerror(errno);
                else
                    next = openTrustedDir(fd, std::string(target, static_cast<size_t>(n)),
                                          linksLeft, error);
            }
        }
        close(fd);
        if (next < 0)
            return -1;
        fd = next;
    }
    return fd;
}

// Gives up root for good: the user `uid` with their primary group (the
// directory's group `dirGid` when the user has no account entry), no
// supplementary groups. Returns an empty text or the error.
std::string becomeUser(uid_t uid, gid_t dirGid)
{
    gid_t gid = dirGid;
    if (const passwd* pw = getpwuid(uid))
        gid = pw->pw_gid;
    const std::string who = "user " + std::to_string(uid) + ", group " + std::to_string(gid);
    if (gid == 0)
        return "the directory's owner (" + who + ") would keep root's group";
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
        return "cannot become " + who + ": " + std::strerror(errno);
    uid_t ru, eu, su;
    gid_t rg, eg, sg;
    if (getresuid(&ru, &eu, &su) != 0 || getresgid(&rg, &eg, &sg) != 0 || ru != uid || eu != uid ||
        su != uid || rg != gid || eg != gid || sg != gid || getgroups(0, nullptr) != 0)
        return "the identity after giving up root is not " + who;
    if (setuid(0) == 0 || seteuid(0) == 0 || setgid(0) == 0 || setegid(0) == 0)
        return "root could be taken back after becoming " + who;
    return {};
}

// Opens the URI's directory `path` into `dir` for a backend run by root.
// Root writes only into a directory that is no symbolic link and that root
// owns and no one else may write to (made, 0755, when missing and its parent
// is such a directory). A directory that a user owns is written as that
// user: the backend becomes them for good first. A directory that root owns
// but others may write to (/tmp, /var/tmp) is refused: anyone could plant
// names there. Returns an empty text or the error.
std::string openDirAsRoot(const std::string& path, OutputDir& dir)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    const std::string parentPath = slash == 0 ? "/" : trimmed.substr(0, slash);
    const std::string base = trimmed.substr(slash + 1);
    std::string error;
    int linksLeft = 40;
    int parent = openTrustedDir(-1, parentPath, linksLeft, error);
    if (parent < 0)
        return error;
    int fd = -1;
    if (base.empty()) {
        fd = fcntl(parent, F_DUPFD_CLOEXEC, 0);
    } else {
        fd = openat(parent, base.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 && errno == ENOENT) {
            if (fstat(parent, &st) != 0 || st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH))) {
                close(parent);
                return path +
                       " does not exist, and root makes it only in a directory that root owns "
                       "and no one else may write to (" +
                       parentPath + ": owner " + std::to_string(st.st_uid) + ", mode " +
                       modeText(st.st_mode) + ")";
            }
            if (mkdirat(parent, base.c_str(), 0755) != 0 && errno != EEXIST) {
                error = "cannot make " + path + ": " + std::strerror(errno);
                close(parent);
                return error;
            }
            fd = openat(parent, base.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) {
            int e = errno;
            if (fstatat(parent, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                error =
                    path +
                    " is a symbolic link; as root the backend writes only into a real directory";
            else
                error = "cannot open " + path + ": " + std::strerror(e);
        }
    }
    close(parent);
    if (fd < 0)
        return error;
    dir = OutputDir(fd, path);
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return "cannot look at " + path + ": " + std::strerror(errno);
    if (st.st_uid != 0)
        return becomeUser(st.st_uid, st.st_gid);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return path + " is writable by others than root (mode " + modeText(st.st_mode) +
               "); as root the backend writes only into a directory that no one else may write to, "
               "or one that a user owns (then as that user)";
    return {};
}

// Opens the URI's directory `path` into `dir`: as root, see openDirAsRoot();
// otherwise made when missing and written as whoever runs the backend.
std::string openOutputDir(const std::string& path, OutputDir& dir)
{
    if (geteuid() == 0)
        return openDirAsRoot(path, dir);
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec)
        return "cannot make " + path + ": " + ec.message();
    std::string error;
    dir = OutputDir::open(path, error);
    return error;
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
    OutputDir dir_;  // the job's directory, DIR/job-<id>
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
    // Without a side channel (run by hand) there is nothing to poll. Asked
    // before anything is opened, which could take the unused number.
    sideChannelOpen_ = fcntl(CUPS_SC_FD, F_GETFD) != -1;
    if (std::string err = parseBackendUri(job_.uri, uri_); !err.empty()) {
        logLine("ERROR:", "bad device URI \"" + job_.uri + "\": " + err);
        return false;
    }
    // The job's file first: giving up root for the output directory may
    // leave the backend unable to read the scheduler's spool.
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
    OutputDir top;
    if (std::string err = openOutputDir(uri_.outDir, top); !err.empty()) {
        logLine("ERROR:", "output directory: " + err);
        return false;
    }
    std::string err;
    dir_ = top.subdirectory(jobDirName(job_.jobId), err);
    if (!dir_.isOpen()) {
        logLine("ERROR:", "output directory: " + err);
        return false;
    }
    // Files of an earlier job with the same id would pass for pages of this one.
    dir_.removeIf([](const std::string& name) {
        return name.rfind("page-", 0) == 0 || name == "transcript.json";
    });
    fcntl(inFd_, F_SETFL, fcntl(inFd_, F_GETFL) | O_NONBLOCK);

    start_ = Clock::now();
    printer_.emplace(uri_.script, dir_, uri_.preview, start_);
    printer_->decodeAfter(uri_.decodeAfter);
    printer_->onReply([this](std::string bytes, int delayMs) { sendReply(bytes, delayMs); });
    printer_->onElement([this](const Element& e, int) { onElement(e); });
    logLine("DEBUG:",
            "job " + job_.jobId + " into " + dir_.path() + " as user " + std::to_string(geteuid()));
    return true;
}

void BackendRun::sendReply(const std::string& bytes, int delayMs)
{
    auto send = [this, bytes] {
        logLine("DEBUG:", "back-channel reply \"" + bytes + "\"");
        if (cupsBackChannelWrite(bytes.data(), bytes.size(), 1.0) < 0) {
            printer_->event(
                {{"time_ms", printer_->elapsedMs()}, {"event", "back-channel write failed"}});
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
            printer_->event(
                {{"time_ms", printer_->elapsedMs()}, {"event", "side-channel write failed"}});
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
            printer_->event({{"time_ms", cancelMs_},
                             {"event", "SIGTERM received"},
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

    const std::string transcript = dir_.pathOf("transcript.json");
    const bool written = dir_.writeFile(
        "transcript.json", t.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
    if (!written)
        logLine("ERROR:", "cannot write " + transcript + ": " + std::strerror(errno));

    int shown = 0;
    for (const auto& e : errors)
        if (shown++ < kMaxErrorLines)
            logLine("ERROR:", "protocol error at byte " +
                                  std::to_string(e["offset"].get<uint64_t>()) + ": " +
                                  e["message"].get<std::string>());
    logLine("INFO:", std::to_string(printer_->pagesSent()) + " pages, " +
                         std::to_string(errors.size()) + " protocol errors" +
                         (cancelled ? ", cancelled" : "") + "; transcript in " + transcript);
    // A stream the printer could not take is a failed job, whatever the
    // reason; the queue's printer-error-policy decides what follows.
    return errors.empty() && written ? CUPS_BACKEND_OK : CUPS_BACKEND_FAILED;
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
        std::string host = rest.substr(2,
                                       slash == std::string::npos ? std::string::npos : slash - 2);
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
            if (!percentDecode(item.substr(0, eq), key) ||
                !percentDecode(item.substr(eq + 1), value))
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

void noteCancel() { gCancelled = 1; }

}  // namespace rvtsim

// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "network_printer.h"

#include "job_grammar.h"
#include "output_dir.h"
#include "printer_role.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace rvtsim {

namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t gStop = 0;
void onStopSignal(int) { gStop = 1; }

// The reply to a lock query while another job holds the printer's lock.
const char* const kBusyReply = "5";
constexpr size_t kSlowReadBytes = 4096;

// One job of a connection: a printer role of its own, so that its script
// counts from its start, its pages and its transcript.
struct Job {
    int id = 0;
    OutputDir dir;
    std::unique_ptr<PrinterRole> role;
};

// A connection carries one job after another: the next begins with the
// first byte after the end of the previous one.
struct Connection {
    int id = 0;
    int fd = -1;
    std::string peer;
    std::unique_ptr<Job> job;  // the job under way; none between two jobs
    uint64_t offset = 0;       // where the job under way began on the connection
    Clock::time_point nextRead;
    bool closedByPrinter = false;
    std::string closedAt;
};

class NetworkPrinter {
public:
    explicit NetworkPrinter(const NetworkConfig& c) : config_(c), script_(c.script) {}
    int run();

private:
    bool setUp();
    void accept();
    void beginJob(Connection& c);
    // Reads what the connection has; false when it is over.
    bool readFrom(Connection& c);
    // Hands `bytes` to the connection's jobs: a job that ends among them
    // is finished and the bytes after its end begin the next.
    void feedJobs(Connection& c, std::string_view bytes);
    void sendReply(int connection, int job, const std::string& bytes, int delayMs);
    Reply lockRule(int job, ElementKind kind, Reply reply);
    void onElement(Connection& c, const Element& e, int occurrence);
    void closeByScript(Connection& c, const std::string& at);
    // Records the job under way and lets it go; `complete` as for
    // PrinterRole::endOfStream.
    void endJob(Connection& c, bool complete);
    // Ends the connection and its job under way.
    void finish(Connection& c, bool complete);
    Connection* find(int id);

    const NetworkConfig& config_;
    const Script& script_;
    int listenFd_ = -1;
    bool listening_ = false;
    Clock::time_point start_;
    OutputDir top_;
    std::list<Connection> connections_;
    int nextConnection_ = 1;
    int nextJob_ = 1;
    int lockHolder_ = 0;  // the job that holds the printer's lock, 0 none
    DelayedActions timers_;
};

bool NetworkPrinter::setUp()
{
    std::error_code ec;
    std::filesystem::create_directories(config_.outDir, ec);
    std::string error;
    top_ = OutputDir::open(config_.outDir, error);
    if (!top_.isOpen()) {
        std::fprintf(stderr, "rvt4410lw-sim: %s\n", error.c_str());
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(config_.port));
    if (inet_pton(AF_INET, config_.host.c_str(), &addr.sin_addr) != 1) {
        std::fprintf(stderr, "rvt4410lw-sim: not an IPv4 address: %s\n", config_.host.c_str());
        return false;
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Bound at once, so that the address is ours; until listen() a connection
    // is refused, as by a printer that is switched off.
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "rvt4410lw-sim: cannot bind %s:%d: %s\n", config_.host.c_str(),
                     config_.port, std::strerror(errno));
        return false;
    }
    // Listening before the address is announced, unless the printer starts "off".
    if (config_.downSeconds <= 0) {
        if (listen(listenFd_, 16) != 0) {
            std::fprintf(stderr, "rvt4410lw-sim: listen: %s\n", std::strerror(errno));
            return false;
        }
        listening_ = true;
    }
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("rvt4410lw-sim: listening on %s:%d%s\n", config_.host.c_str(), ntohs(addr.sin_port),
                config_.downSeconds > 0 ? " (connections refused for a while)" : "");
    std::fflush(stdout);
    return true;
}

Connection* NetworkPrinter::find(int id)
{
    for (auto& c : connections_)
        if (c.id == id && c.fd >= 0)
            return &c;
    return nullptr;
}

Reply NetworkPrinter::lockRule(int id, ElementKind kind, Reply reply)
{
    const int code = reply ? replyCode(reply) : 6;
    if (kind == ElementKind::Lock && code == 2) {
        if (lockHolder_ != 0 && lockHolder_ != id)
            return std::string(kBusyReply);
        lockHolder_ = id;
    } else if (lockHolder_ == id && (kind == ElementKind::Cancel ||
                                     (kind == ElementKind::Unlock && (code == 3 || code == 4)))) {
        lockHolder_ = 0;
    }
    return reply;
}

void NetworkPrinter::accept()
{
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len,
                           SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    Connection& c = connections_.emplace_back();
    c.id = nextConnection_++;
    c.fd = fd;
    char host[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
    c.peer = std::string(host) + ":" + std::to_string(ntohs(peer.sin_port));
    c.nextRead = Clock::now();
    // The first job begins with the connection, as for a sender that opens
    // one connection per job; the later ones with their first byte.
    beginJob(c);
}

void NetworkPrinter::beginJob(Connection& c)
{
    auto job = std::make_unique<Job>();
    job->id = nextJob_++;
    std::string error;
    std::string name = "job-";
    name += std::to_string(job->id);
    job->dir = top_.subdirectory(name, error);
    if (job->dir.isOpen())
        job->dir.removeIf([](const std::string& n) {
            return n.rfind("page-", 0) == 0 || n == "transcript.json";
        });
    else
        std::fprintf(stderr, "rvt4410lw-sim: %s\n", error.c_str());
    job->role = std::make_unique<PrinterRole>(script_, job->dir, config_.preview, Clock::now());
    PrinterRole& role = *job->role;
    role.decodeAfter(config_.decodeAfter);
    role.stopAtJobEnd(true);
    const int cid = c.id, jid = job->id;
    role.onReply(
        [this, cid, jid](std::string bytes, int delayMs) { sendReply(cid, jid, bytes, delayMs); });
    role.onReplyRule(
        [this, jid](ElementKind kind, Reply reply) { return lockRule(jid, kind, reply); });
    role.onElement([this, cid](const Element& e, int occurrence) {
        if (Connection* conn = find(cid))
            onElement(*conn, e, occurrence);
    });
    if (script_.closeStream.type == Trigger::Type::Delay)
        timers_.add(script_.closeStream.ms, [this, cid, jid] {
            Connection* conn = find(cid);
            if (conn && conn->job && conn->job->id == jid)
                closeByScript(*conn, "after " + std::to_string(script_.closeStream.ms) + " ms");
        });
    c.job = std::move(job);
}

void NetworkPrinter::sendReply(int connection, int job, const std::string& bytes, int delayMs)
{
    auto send = [this, connection, job, bytes] {
        Connection* c = find(connection);
        if (!c || ::send(c->fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
                      static_cast<ssize_t>(bytes.size()))
            return;
        const std::string why = std::string("reply not sent: ") + std::strerror(errno);
        // A delayed reply may come after its job has been recorded.
        if (c->job && c->job->id == job)
            c->job->role->event({{"time_ms", c->job->role->elapsedMs()}, {"event", why}});
        else
            std::fprintf(stderr, "rvt4410lw-sim: job %d: %s\n", job, why.c_str());
    };
    if (delayMs > 0)
        timers_.add(delayMs, send);
    else
        send();
}

void NetworkPrinter::onElement(Connection& c, const Element& e, int occurrence)
{
    const Trigger& t = script_.closeStream;
    const PrinterRole& role = *c.job->role;
    if (t.type == Trigger::Type::Element && e.kind == t.kind && occurrence == t.count)
        closeByScript(c, std::string("after ") + kindName(t.kind) + " #" + std::to_string(t.count));
    else if (t.type == Trigger::Type::Chunk && e.kind == ElementKind::Data &&
             role.currentPage() == t.page && role.currentChunks() == t.chunk)
        closeByScript(c, "after chunk " + std::to_string(t.chunk) + " of page " +
                             std::to_string(t.page));
}

void NetworkPrinter::closeByScript(Connection& c, const std::string& at)
{
    if (c.closedByPrinter || !c.job)
        return;
    c.closedByPrinter = true;
    c.closedAt = at;
    const PrinterRole& role = *c.job->role;
    c.job->role->event({{"time_ms", role.elapsedMs()},
                        {"event", "connection closed by the printer " + at},
                        {"after_element", role.lastElement()}});
}

void NetworkPrinter::feedJobs(Connection& c, std::string_view bytes)
{
    std::string next;  // the bytes after the end of a job
    while (!bytes.empty() && !c.closedByPrinter) {
        if (!c.job)
            beginJob(c);
        PrinterRole& role = *c.job->role;
        role.feed(bytes);
        if (c.closedByPrinter || !role.jobEnded())
            return;
        next = role.takeUnread();
        bytes = next;
        endJob(c, true);
    }
}

bool NetworkPrinter::readFrom(Connection& c)
{
    const size_t slow = script_.drainDelayMs.front() > 0 ? kSlowReadBytes : 0;
    char buf[65536];
    for (;;) {
        if (c.closedByPrinter)
            return false;
        const ssize_t n = read(c.fd, buf, slow ? slow : sizeof buf);
        if (n > 0) {
            // Closing after a given element: fed in pieces shorter than any
            // element, so that nothing after it is taken.
            const Trigger::Type close = script_.closeStream.type;
            const size_t piece = close == Trigger::Type::Element || close == Trigger::Type::Chunk
                                     ? 6
                                     : static_cast<size_t>(n);
            for (size_t at = 0; at < static_cast<size_t>(n) && !c.closedByPrinter; at += piece)
                feedJobs(c, std::string_view(buf + at, std::min(piece, size_t(n) - at)));
            if (slow) {
                c.nextRead = Clock::now() + std::chrono::milliseconds(script_.drainDelayMs.front());
                return true;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n < 0 && c.job)
            c.job->role->event({{"time_ms", c.job->role->elapsedMs()},
                                {"event", std::string("read failed: ") + std::strerror(errno)}});
        return false;  // end of the stream: the sender has shut its side down
    }
}

void NetworkPrinter::endJob(Connection& c, bool complete)
{
    std::unique_ptr<Job> job = std::move(c.job);
    if (lockHolder_ == job->id)
        lockHolder_ = 0;
    PrinterRole& role = *job->role;
    role.endOfStream(complete);
    role.finish(complete);
    json t;
    t["connection"] = c.id;
    t["peer"] = c.peer;
    t["connection_offset"] = c.offset;
    c.offset += role.bytesSeen();
    role.record(t);
    t["closed_by_printer"] = c.closedByPrinter ? json(c.closedAt) : json(nullptr);
    t["cancelled"] = role.cancelled();
    t["wall_time_ms"] = role.elapsedMs();
    t["clean"] = role.errors().empty();
    if (!job->dir.isOpen() ||
        !job->dir.writeFile("transcript.json",
                            t.dump(2, ' ', false, json::error_handler_t::replace) + "\n"))
        std::fprintf(stderr, "rvt4410lw-sim: cannot write the transcript of job %d\n", job->id);
    std::printf("rvt4410lw-sim: job %d from %s: %d pages, %zu protocol errors%s%s, %ld ms\n",
                job->id, c.peer.c_str(), role.pagesSent(), role.errors().size(),
                role.cancelled() ? ", cancelled" : "",
                c.closedByPrinter ? ", closed by the printer" : "", role.elapsedMs());
    std::fflush(stdout);
}

void NetworkPrinter::finish(Connection& c, bool complete)
{
    // The end of the stream right after a job's end is no job of its own.
    if (c.job)
        endJob(c, complete);
    // Closing our side ends the job for the sender, which waits for it.
    close(c.fd);
    c.fd = -1;
}

int NetworkPrinter::run()
{
    if (script_.sigterm.type != Trigger::Type::Never ||
        script_.stallStream.type != Trigger::Type::Never ||
        script_.closeStream.type == Trigger::Type::Connected) {
        std::fprintf(stderr, "rvt4410lw-sim: --listen plays the printer only: SIGTERM, stalls "
                             "and connection queries are the backend's\n");
        return 2;
    }
    if (!setUp())
        return 1;
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    start_ = Clock::now();
    const auto up = start_ +
                    std::chrono::milliseconds(static_cast<long>(config_.downSeconds * 1000));

    while (!gStop) {
        if (!listening_ && Clock::now() >= up) {
            if (listen(listenFd_, 16) != 0) {
                std::fprintf(stderr, "rvt4410lw-sim: listen: %s\n", std::strerror(errno));
                return 1;
            }
            listening_ = true;
        }
        std::vector<pollfd> fds;
        std::vector<Connection*> polled;
        if (listening_)
            fds.push_back({listenFd_, POLLIN, 0});
        const auto now = Clock::now();
        int wait = timers_.waitMs(200);
        for (auto& c : connections_) {
            if (c.fd < 0)
                continue;
            if (c.nextRead > now) {
                wait = std::min<int>(
                    wait, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               c.nextRead - now)
                                               .count()) +
                              1);
                continue;
            }
            fds.push_back({c.fd, POLLIN, 0});
            polled.push_back(&c);
        }
        if (!listening_)
            wait = std::min(wait, 50);
        if (poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR)
            break;
        timers_.runDue();
        const size_t first = listening_ ? 1 : 0;
        if (listening_ && (fds[0].revents & POLLIN))
            accept();
        for (size_t i = 0; i < polled.size(); ++i) {
            Connection& c = *polled[i];
            if (c.fd >= 0 && (fds[first + i].revents & (POLLIN | POLLHUP | POLLERR)) &&
                !readFrom(c))
                finish(c, !c.closedByPrinter);
        }
        // A connection the script closed while its bytes were handled.
        for (auto& c : connections_)
            if (c.fd >= 0 && c.closedByPrinter)
                finish(c, false);
        connections_.remove_if([](const Connection& c) { return c.fd < 0; });
    }
    // Stopped: the jobs still open end where they are.
    for (auto& c : connections_)
        if (c.fd >= 0)
            finish(c, false);
    close(listenFd_);
    std::printf("rvt4410lw-sim: stopped\n");
    return 0;
}

}  // namespace

std::string parseListenAddress(const std::string& text, NetworkConfig& config)
{
    const size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (colon != std::string::npos && colon > 0)
        config.host = text.substr(0, colon);
    if (config.host == "localhost")
        config.host = "127.0.0.1";
    char* end = nullptr;
    const long p = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || p < 0 || p > 65535)
        return "bad port in \"" + text + "\"";
    config.port = static_cast<int>(p);
    return {};
}

int serveNetworkPrinter(const NetworkConfig& config)
{
    NetworkPrinter printer(config);
    return printer.run();
}

}  // namespace rvtsim

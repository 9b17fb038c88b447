#include "HttpFront.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/Format.h"

namespace vextal {

using SteadyClock = std::chrono::steady_clock;

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string PercentDecode(const std::string& text, bool plusIsBlank)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += plusIsBlank && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

const char* Reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

constexpr int kDrainMs = 2000;
constexpr size_t kBulkBody = size_t(64) << 10;  // a body that is read over many turns
constexpr size_t kBulkPerTurn = 1;              // such bodies read from per turn
// Such bodies are read at most this fast, all together: senders of big
// bodies (hostile or not) can never take the whole I/O thread.
constexpr double kBulkBytesPerSecond = 128.0 * (1 << 20);
constexpr double kBulkBurst = 1 << 20;
constexpr size_t kSlice = 65536;
constexpr size_t kMaxDrainBytes = size_t(8) << 20;

int Remaining(SteadyClock::time_point at, SteadyClock::time_point now)
{
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(at - now).count());
}

}  // namespace

std::string HttpRequest::Header(const std::string& lowerName) const
{
    for (const auto& [name, value] : headers)
        if (name == lowerName) return value;
    return {};
}

std::string HttpRequest::Param(const std::string& key) const
{
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
}

void ParseQueryText(const std::string& text, std::multimap<std::string, std::string>& params)
{
    for (const std::string& pair : SplitText(text, '&')) {
        if (pair.empty()) continue;
        const size_t eq = pair.find('=');
        std::string key = PercentDecode(pair.substr(0, eq), true);
        if (key.empty()) continue;
        params.emplace(std::move(key), eq == std::string::npos ? std::string() : PercentDecode(pair.substr(eq + 1), true));
    }
}

struct CHttpFront::Connection {
    enum class State { Reading, Handling, Writing, Draining };
    int fd = -1;
    uint64_t id = 0;
    std::string addr;
    State state = State::Reading;
    unsigned watched = EPOLLIN;  // the events asked of epoll; a handled socket is not in it
    bool inEpoll = true;
    std::string in;
    size_t scanned = 0;  // of `in`, searched for the end of the headers
    unsigned served = 0;
    // The request being read.
    bool started = false;  // its first byte has come
    bool peerClosed = false;  // the client has sent all it will
    SteadyClock::time_point since;  // its first byte, or when the connection became idle
    std::unique_ptr<HttpRequest> request;
    const Route* route = nullptr;
    bool head = false, keepAlive = false, chunked = false;
    size_t bodyLength = 0;  // Content-Length
    size_t charged = 0;     // of the memory budget
    size_t headerBytes = 0, headerCount = 0;  // trailers count against the head's limits
    bool inTrailers = false;
    bool screening = false;  // the route's screen has yet to decide
    bool cutOff = false;     // answered from the start of its body: the rest is not read
    // The answer being written.
    std::string out;
    size_t written = 0;
    bool keepAfterWrite = false;
    SteadyClock::time_point writeUntil;  // and the end of draining
    size_t drained = 0;
};

CHttpFront::CHttpFront(HttpLimits limits) : m_limits(limits) {}

CHttpFront::~CHttpFront()
{
    Stop(-1);
}

void CHttpFront::Get(const std::string& pattern, Handler handler)
{
    m_routes.push_back(Route{"GET", std::regex(pattern), 0, false, std::move(handler), {}});
}

void CHttpFront::Post(const std::string& pattern, size_t maxBody, Handler handler, bool form, Screen screen)
{
    m_routes.push_back(Route{"POST", std::regex(pattern), maxBody, form, std::move(handler), std::move(screen)});
}

bool CHttpFront::Listen(const std::string& host, int port, std::string& error)
{
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listen < 0) {
        error = std::strerror(errno);
        return false;
    }
    // SO_REUSEADDR alone (not SO_REUSEPORT): a second service on a port in
    // use fails to bind instead of sharing its requests.
    int yes = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        error = "bad address " + host;
        return false;
    }
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(m_listen, 256) != 0) {
        const int code = errno;
        error = code == EADDRINUSE ? "the port is in use (another plindo-serve?)" : std::strerror(code);
        close(m_listen);
        m_listen = -1;
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    return true;
}

void CHttpFront::Start()
{
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_listen;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
    ev.data.fd = m_wake;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
    m_alive = m_limits.workers;
    for (size_t i = 0; i < m_limits.workers; ++i) {
        m_idleSlots.push_back(std::make_unique<Idle>());
        m_workers.emplace_back([this, slot = m_idleSlots.back().get()] { WorkerLoop(*slot); });
    }
    m_io = std::thread([this] { Loop(); });
}

bool CHttpFront::Stop(int waitMs)
{
    if (m_stop.exchange(true)) return true;
    if (m_wake >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(m_wake, &one, sizeof one);
    }
    if (m_io.joinable()) m_io.join();
    bool ended = true;
    {
        std::unique_lock lock(m_jobMutex);
        m_jobs.clear();
        m_queued = 0;
        for (auto& slot : m_idleSlots) slot->wake.notify_all();
        auto allGone = [this] { return m_alive == 0; };
        if (waitMs < 0) m_workerExit.wait(lock, allGone);
        else ended = m_workerExit.wait_for(lock, std::chrono::milliseconds(waitMs), allGone);
    }
    for (std::thread& t : m_workers) {
        if (ended) t.join();
        else t.detach();
    }
    m_workers.clear();
    if (ended)
        for (int fd : m_handedOver) close(fd);
    m_handedOver.clear();
    if (m_listen >= 0) close(m_listen);
    if (m_epoll >= 0) close(m_epoll);
    m_listen = m_epoll = -1;
    // The wake descriptor stays open while a left-behind handler may still post to it.
    if (ended && m_wake >= 0) {
        close(m_wake);
        m_wake = -1;
    }
    return ended;
}

void CHttpFront::Watch(Connection& c, unsigned events)
{
    if (c.inEpoll && c.watched == events) return;
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = c.fd;
    epoll_ctl(m_epoll, c.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c.fd, &ev);
    c.watched = events;
    c.inEpoll = true;
}

void CHttpFront::Loop()
{
    std::vector<epoll_event> events(256);
    std::vector<epoll_event> bulk;
    size_t bulkTurn = 0;
    double tokens = kBulkBurst;
    auto refilled = SteadyClock::now();
    std::vector<uint64_t> paused;  // big bodies not watched until there is room again
    auto lastCheck = SteadyClock::now();
    // A connection that reads a big body or drains a refused one.
    auto bulky = [](const Connection& c) {
        return (c.state == Connection::State::Reading && c.request && !c.screening &&
                (c.chunked || c.bodyLength > kBulkBody)) ||
               (c.state == Connection::State::Draining && !c.cutOff);
    };
    auto serve = [this](int fd, unsigned what) {
        auto it = m_connections.find(fd);
        if (it == m_connections.end()) return;
        Connection& c = *it->second;
        if (c.state == Connection::State::Writing && (what & (EPOLLOUT | EPOLLERR | EPOLLHUP))) OnWritable(c);
        else if (c.state == Connection::State::Reading && (what & (EPOLLIN | EPOLLERR | EPOLLHUP))) OnReadable(c);
        else if (c.state == Connection::State::Draining && c.cutOff) Close(c);  // the client has gone
        else if (c.state == Connection::State::Draining) Drain(c);
    };
    while (!m_stop) {
        const int n = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), paused.empty() ? 100 : 1);
        {
            const auto now = SteadyClock::now();
            tokens = std::min(kBulkBurst, tokens + kBulkBytesPerSecond * std::chrono::duration<double>(now - refilled).count());
            refilled = now;
        }
        if (tokens > 0) {
            for (uint64_t id : paused) {
                auto at = m_byId.find(id);
                if (at == m_byId.end()) continue;
                Connection& c = *m_connections.at(at->second);
                if (bulky(c)) Watch(c, EPOLLIN);
            }
            paused.clear();
        }
        bulk.clear();
        for (int i = 0; i < n && !m_stop; ++i) {
            const int fd = events[static_cast<size_t>(i)].data.fd;
            const unsigned what = events[static_cast<size_t>(i)].events;
            if (fd == m_listen) {
                Accept();
                continue;
            }
            if (fd == m_wake) {
                uint64_t count = 0;
                [[maybe_unused]] ssize_t r = read(m_wake, &count, sizeof count);
                Collect();
                continue;
            }
            auto it = m_connections.find(fd);
            if (it == m_connections.end()) continue;
            // Big bodies (and the draining of refused ones) wait until
            // everything else of this turn is done, and only a few get a
            // slice each turn, in rotation: a small request never queues
            // behind them for long.
            if (bulky(*it->second)) {
                bulk.push_back(events[static_cast<size_t>(i)]);
                continue;
            }
            serve(fd, what);
        }
        for (size_t k = 0; k < std::min(bulk.size(), kBulkPerTurn) && !m_stop && tokens > 0; ++k) {
            const epoll_event& e = bulk[(bulkTurn + k) % bulk.size()];
            serve(e.data.fd, e.events);
            tokens -= kSlice;
        }
        if (tokens <= 0) {
            for (const epoll_event& e : bulk) {
                auto it = m_connections.find(e.data.fd);
                if (it == m_connections.end() || !bulky(*it->second)) continue;
                Watch(*it->second, 0);
                paused.push_back(it->second->id);
            }
        }
        bulkTurn += kBulkPerTurn;
        const auto now = SteadyClock::now();
        if (now - lastCheck >= std::chrono::milliseconds(100)) {
            lastCheck = now;
            CheckDeadlines();
        }
    }
    for (auto& [fd, c] : m_connections) {
        if (c->state == Connection::State::Handling) m_handedOver.push_back(fd);
        else close(fd);
    }
    m_connections.clear();
    m_byId.clear();
}

void CHttpFront::Accept()
{
    while (m_accepting) {
        if (m_connections.size() >= m_limits.maxConnections && !EvictOne()) {
            // Full of connections that are being answered: the rest waits
            // in the listen queue until one closes.
            m_accepting = false;
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_listen, nullptr);
            return;
        }
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = accept4(m_listen, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->id = m_nextId++;
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        c->addr = text;
        c->since = SteadyClock::now();
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
        m_byId[c->id] = fd;
        m_connections[fd] = std::move(c);
    }
}

// At the connection limit the connection that has waited longest without
// a complete request makes room: idle and slow clients cannot keep new
// ones out.
bool CHttpFront::EvictOne()
{
    Connection* oldest = nullptr;
    for (auto& [fd, c] : m_connections) {
        if (c->state == Connection::State::Draining) {
            oldest = c.get();
            break;
        }
        if (c->state == Connection::State::Reading && (!oldest || c->since < oldest->since)) oldest = c.get();
    }
    if (!oldest) return false;
    Close(*oldest);
    return true;
}

void CHttpFront::Close(Connection& c)
{
    // A socket being handled is closed only from Collect, once its worker is done with it.
    m_buffered -= c.charged;
    if (c.inEpoll) epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
    close(c.fd);
    m_byId.erase(c.id);
    m_connections.erase(c.fd);  // destroys c
    if (!m_accepting && !m_stop) {
        m_accepting = true;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = m_listen;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &ev);
    }
}

void CHttpFront::OnReadable(Connection& c)
{
    char buf[65536];
    // A small amount per turn keeps one fast sender from delaying the rest.
    const int turns = c.request && c.bodyLength > kBulkBody ? 1 : 2;
    for (int turn = 0; turn < turns; ++turn) {
        const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            if (!c.started) {
                c.started = true;
                c.since = SteadyClock::now();
            }
            c.in.append(buf, static_cast<size_t>(n));
            if (static_cast<size_t>(n) < sizeof buf) break;
            // Past what the request may carry: let Advance refuse it now.
            if (c.in.size() > m_limits.maxHeaderBytes + (c.route ? c.route->maxBody : 0) + 64) break;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
        if (n < 0 || c.in.empty()) {
            Close(c);  // reset, or closed by the client between requests
            return;
        }
        // Closed after sending: what came is answered, then the connection ends.
        c.peerClosed = true;
        break;
    }
    const bool peerClosed = c.peerClosed;
    const uint64_t id = c.id;
    Advance(c);  // may close `c`
    if (!peerClosed) return;
    auto it = m_byId.find(id);
    if (it == m_byId.end()) return;
    Connection& same = *m_connections.at(it->second);
    if (same.state == Connection::State::Reading) Close(same);
}

void CHttpFront::Advance(Connection& c)
{
    if (!c.request) {
        // Search only what is new, from a little before it for a split "\r\n\r\n".
        size_t from = c.scanned > 3 ? c.scanned - 3 : 0;
        size_t end = std::string::npos, skip = 0;
        for (size_t i = from; i < c.in.size(); ++i) {
            if (c.in[i] != '\n') continue;
            if (i >= 1 && c.in[i - 1] == '\n') { end = i - 1; skip = 1; break; }
            if (i >= 3 && c.in.compare(i - 3, 3, "\r\n\r") == 0) { end = i - 3; skip = 4; break; }
        }
        c.scanned = c.in.size();
        if (end == std::string::npos) {
            if (c.in.size() > m_limits.maxHeaderBytes) Answer(c, 431, false);
            return;
        }
        if (end + skip > m_limits.maxHeaderBytes) {
            Answer(c, 431, false);
            return;
        }
        const std::string head = c.in.substr(0, end);
        c.in.erase(0, end + skip);
        c.scanned = 0;
        if (!ParseHead(c, head)) return;
    }
    if (c.chunked) {
        const bool complete = ReadChunked(c);
        if (!c.request) return;  // refused
        if (c.screening && Screened(c, c.request->body, complete)) return;
        if (!complete) return;
    } else {
        if (c.screening &&
            Screened(c, std::string_view(c.in).substr(0, c.bodyLength), c.in.size() >= c.bodyLength))
            return;
        if (c.in.size() < c.bodyLength) {
            if (!c.screening) c.in.reserve(c.bodyLength);  // once it is known to be read whole
            return;
        }
        if (c.in.size() == c.bodyLength) {
            c.request->body = std::move(c.in);
            c.in.clear();
        } else {
            c.request->body = c.in.substr(0, c.bodyLength);
            c.in.erase(0, c.bodyLength);
        }
    }
    Dispatch(c);
}

// The request line and headers, without touching any connection: the I/O
// thread's reading and a worker's own (TakeNext) read requests alike.
CHttpFront::Head CHttpFront::ReadHead(const std::string& head, const std::string& addr, bool lastRequest) const
{
    Head h;
    auto refuse = [&h](int status, bool keepAlive = false) {
        h.refuse = status;
        h.refuseKeepAlive = keepAlive;
        return std::move(h);
    };
    auto req = std::make_unique<HttpRequest>();
    req->remoteAddr = addr;
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < head.size()) {
        size_t nl = head.find('\n', pos);
        if (nl == std::string::npos) nl = head.size();
        size_t stop = nl > pos && head[nl - 1] == '\r' ? nl - 1 : nl;
        lines.push_back(head.substr(pos, stop - pos));
        pos = nl + 1;
    }
    if (lines.empty() || lines.size() - 1 > m_limits.maxHeaderCount) return refuse(lines.empty() ? 400 : 431);
    h.lines = lines.size() - 1;
    // Request line: METHOD SP target SP HTTP/1.x
    const std::vector<std::string> parts = SplitText(lines[0], ' ');
    if (parts.size() != 3 || (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0") || parts[1].empty() ||
        parts[1][0] != '/')
        return refuse(400);
    req->method = parts[0];
    const size_t q = parts[1].find('?');
    req->path = PercentDecode(parts[1].substr(0, q), false);
    if (q != std::string::npos) req->query = parts[1].substr(q + 1);
    if (req->path.find('\0') != std::string::npos) return refuse(400);
    bool hasLength = false;
    size_t length = 0;
    std::string transfer, connection;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const size_t colon = line.find(':');
        // No folded or nameless lines: they are how requests get smuggled.
        if (colon == std::string::npos || colon == 0 || line[0] == ' ' || line[0] == '\t') return refuse(400);
        std::string name = Lower(line.substr(0, colon));
        std::string value = TrimText(line.substr(colon + 1));
        if (name == "content-length") {
            if (value.empty() || value.size() > 15 || value.find_first_not_of("0123456789") != std::string::npos ||
                (hasLength && std::stoull(value) != length))
                return refuse(400);
            hasLength = true;
            length = static_cast<size_t>(std::stoull(value));
        } else if (name == "transfer-encoding") {
            transfer = Lower(value);
        } else if (name == "connection") {
            connection = Lower(value);
        }
        req->headers.emplace_back(std::move(name), std::move(value));
    }
    const bool http10 = parts[2] == "HTTP/1.0";
    h.keepAlive = http10 ? connection.find("keep-alive") != std::string::npos
                         : connection.find("close") == std::string::npos;
    if (lastRequest) h.keepAlive = false;
    if (!transfer.empty() && (transfer != "chunked" || hasLength)) return refuse(transfer != "chunked" ? 501 : 400);
    h.chunked = !transfer.empty();
    h.bodyLength = length;
    const bool hasBody = h.chunked || length > 0;

    h.head = req->method == "HEAD";
    const std::string method = h.head ? "GET" : req->method;
    if (method != "GET" && method != "POST") return refuse(405, !hasBody && h.keepAlive);
    for (const Route& r : m_routes) {
        if (r.method != method) continue;
        std::smatch m;
        if (std::regex_match(req->path, m, r.pattern)) {
            h.route = &r;
            break;
        }
    }
    if (!h.route) return refuse(404, !hasBody && h.keepAlive);
    if (hasBody && h.route->maxBody == 0) return refuse(413);
    if (!h.chunked && length > h.route->maxBody) return refuse(413);
    h.expectContinue = hasBody && !http10 && Lower(req->Header("expect")) == "100-continue";
    h.request = std::move(req);
    return h;
}

// The request line and headers; false when the request was answered here.
bool CHttpFront::ParseHead(Connection& c, const std::string& head)
{
    Head h = ReadHead(head, c.addr, c.served + 1 >= m_limits.maxRequestsPerConnection || c.peerClosed);
    c.keepAlive = h.keepAlive;
    c.chunked = h.chunked;
    c.bodyLength = h.bodyLength;
    c.head = h.head;
    c.route = h.route;
    if (h.refuse) {
        Answer(c, h.refuse, h.refuseKeepAlive);
        return false;
    }
    // A body is charged whole before it is read; over the budget the
    // request is refused rather than the service running out of memory.
    if (!c.chunked && c.bodyLength > 0) {
        if (m_buffered + c.bodyLength > m_limits.maxBufferedBytes) {
            Answer(c, 503, false);
            return false;
        }
        m_buffered += c.bodyLength;
        c.charged += c.bodyLength;
    }
    // A client that waits for leave to send its body gets it.
    if (h.expectContinue) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        [[maybe_unused]] ssize_t n = send(c.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL);
    }
    c.headerBytes = head.size();
    c.headerCount = h.lines;
    c.inTrailers = false;
    c.screening = (c.chunked || c.bodyLength > 0) && c.route->screen;
    c.request = std::move(h.request);
    return true;
}

bool CHttpFront::Screened(Connection& c, std::string_view start, bool whole)
{
    if (start.empty() && !whole) return false;
    const bool arrived = whole;
    if (start.size() > kScreenBytes) {
        start = start.substr(0, kScreenBytes);
        whole = false;
    }
    HttpResponse res;
    const Verdict verdict = c.route->screen(*c.request, start, whole, res);
    if (verdict == Verdict::More && !whole && start.size() < kScreenBytes) return false;
    c.screening = false;
    if (verdict != Verdict::Answer) return false;
    if (m_logger) m_logger(*c.request, res);
    c.request.reset();
    // A body that has come whole is answered as any other; one cut off
    // ends its connection.
    if (arrived && !c.chunked) c.in.erase(0, c.bodyLength);
    c.cutOff = !arrived;
    const bool keepAlive = arrived && c.keepAlive;
    StartWrite(c, Serialize(res, c.head, keepAlive), keepAlive);
    return true;
}

// Decodes what has come of a chunked body; true when it is complete.
bool CHttpFront::ReadChunked(Connection& c)
{
    size_t pos = 0;
    bool complete = false;
    while (!complete) {
        const size_t nl = c.in.find('\n', pos);
        if (nl == std::string::npos) {
            if (c.in.size() - pos > 1024) {  // a size line or trailer that never ends
                Answer(c, 400, false);
                return false;
            }
            break;
        }
        std::string line = c.in.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (c.inTrailers) {
            c.headerBytes += line.size() + 2;
            if (++c.headerCount > m_limits.maxHeaderCount + 1 || c.headerBytes > m_limits.maxHeaderBytes) {
                Answer(c, 431, false);
                return false;
            }
            pos = nl + 1;
            if (line.empty()) complete = true;
            continue;
        }
        const std::string digits = TrimText(line.substr(0, line.find(';')));
        size_t size = 0;
        if (digits.empty() || digits.size() > 8) {
            Answer(c, digits.size() > 8 ? 413 : 400, false);
            return false;
        }
        for (char ch : digits) {
            const int d = HexDigit(ch);
            if (d < 0) {
                Answer(c, 400, false);
                return false;
            }
            size = size * 16 + static_cast<size_t>(d);
        }
        if (size == 0) {
            c.inTrailers = true;
            pos = nl + 1;
            continue;
        }
        if (c.request->body.size() + size > c.route->maxBody) {
            Answer(c, 413, false);
            return false;
        }
        if (c.in.size() < nl + 1 + size + 2) break;  // the chunk is not all here yet
        if (m_buffered + size > m_limits.maxBufferedBytes) {
            Answer(c, 503, false);
            return false;
        }
        m_buffered += size;
        c.charged += size;
        c.request->body.append(c.in, nl + 1, size);
        size_t after = nl + 1 + size;
        if (c.in[after] == '\r') ++after;
        if (c.in[after] != '\n') {
            Answer(c, 400, false);
            return false;
        }
        pos = after + 1;
    }
    c.in.erase(0, pos);
    return complete;
}

void CHttpFront::Dispatch(Connection& c)
{
    Job job;
    job.connection = c.id;
    job.fd = c.fd;
    job.request = std::move(c.request);
    job.route = c.route;
    job.head = c.head;
    job.keepAlive = c.keepAlive;
    job.charged = c.charged;
    job.mayStay = c.in.empty() && !c.peerClosed;
    job.served = c.served;
    job.addr = c.addr;
    Idle* idle = nullptr;
    {
        std::lock_guard lock(m_jobMutex);
        if (m_jobs.size() >= m_limits.maxQueued) {
            c.request = std::move(job.request);
            Answer(c, 503, false);
            return;
        }
        m_jobs.push_back(std::move(job));
        m_queued = m_jobs.size();
        if (!m_idle.empty()) {
            idle = m_idle.back();
            m_idle.pop_back();
            idle->woken = true;
        }
    }
    if (idle) idle->wake.notify_one();
    // The budget now travels with the job and comes back with its answer.
    c.charged = 0;
    // Out of epoll while a worker has it: nothing here reads, writes or
    // closes the socket until its answer is collected.
    c.state = Connection::State::Handling;
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
    c.inEpoll = false;
}

void CHttpFront::WorkerLoop(Idle& slot)
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_jobMutex);
            while (!m_stop && m_jobs.empty()) {
                // Whoever wakes this worker takes it off the idle list.
                slot.woken = false;
                m_idle.push_back(&slot);
                slot.wake.wait(lock, [&] { return slot.woken || m_stop; });
            }
            if (m_stop) break;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_queued = m_jobs.size();
        }
        Done done;
        Serve(job, done);
        // A client that sends its next request at once gets it answered by
        // this worker, without two more hand-overs between threads (the
        // socket back to the I/O thread, its request to a worker): on a
        // virtual machine each costs about what the request itself does.
        // Only while no other request waits for a worker.
        while (job.mayStay && job.keepAlive && !done.broken && done.sent == done.bytes.size() && !m_stop &&
               m_queued == 0) {
            Job next;
            bool gone = false;
            if (!TakeNext(job, next, done.leftover, gone)) {
                done.broken = gone;
                break;
            }
            const unsigned servedMore = done.servedMore + 1;
            const size_t charged = done.charged;
            done = Done{};
            Serve(next, done);
            done.servedMore = servedMore;
            done.charged = charged;
            job = std::move(next);
        }
        {
            std::lock_guard lock(m_doneMutex);
            m_done.push_back(std::move(done));
        }
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(m_wake, &one, sizeof one);
    }
    std::lock_guard lock(m_jobMutex);
    --m_alive;
    m_workerExit.notify_all();
}

void CHttpFront::Serve(Job& job, Done& done)
{
    HttpRequest& req = *job.request;
    HttpResponse res;
    if (job.route->form && req.Header("content-type").rfind("application/x-www-form-urlencoded", 0) == 0)
        ParseQueryText(req.body, req.params);
    ParseQueryText(req.query, req.params);
    std::regex_match(req.path, req.matches, job.route->pattern);
    try {
        job.route->handler(req, res);
    } catch (...) {
        res = HttpResponse{};
        res.status = 500;
        res.SetContent("internal error", "text/plain");
    }
    if (m_logger) m_logger(req, res);
    done.connection = job.connection;
    done.bytes = Serialize(res, job.head, job.keepAlive);
    done.keepAlive = job.keepAlive;
    done.charged = job.charged;
    job.request.reset();
    // Most answers fit the socket's buffer: the client has it without
    // waiting for the I/O thread; the rest is written from there.
    while (done.sent < done.bytes.size()) {
        const ssize_t n = send(job.fd, done.bytes.data() + done.sent, done.bytes.size() - done.sent, MSG_NOSIGNAL);
        if (n > 0) {
            done.sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        done.broken = !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
        break;
    }
}

bool CHttpFront::TakeNext(const Job& last, Job& next, std::string& leftover, bool& gone)
{
    // Long enough for a client that sends its next request on receipt of
    // the answer, short enough that an idle one costs a worker nothing.
    constexpr auto kStay = std::chrono::microseconds(500);
    pollfd p{last.fd, POLLIN, 0};
    timespec wait{0, std::chrono::duration_cast<std::chrono::nanoseconds>(kStay).count()};
    if (ppoll(&p, 1, &wait, nullptr) != 1) return false;
    char buf[16384];
    const ssize_t n = recv(last.fd, buf, sizeof buf, 0);
    if (n <= 0) {
        gone = n == 0 || !(errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        return false;
    }
    leftover.assign(buf, static_cast<size_t>(n));
    // Only a request that came whole, alone and plain is taken here; anything
    // else (a part, several, an error to answer, a chunked or announced body)
    // goes to the I/O thread, which reads it as it reads every request.
    const size_t end = leftover.find("\r\n\r\n");
    if (end == std::string::npos || end + 4 > m_limits.maxHeaderBytes) return false;
    const unsigned served = last.served + 1;
    Head h = ReadHead(leftover.substr(0, end), last.addr, served + 1 >= m_limits.maxRequestsPerConnection);
    if (h.refuse || h.chunked || h.expectContinue || leftover.size() != end + 4 + h.bodyLength) return false;
    h.request->body = leftover.substr(end + 4);
    if (h.route->screen && !h.request->body.empty()) {
        std::string_view start(h.request->body);
        const bool whole = start.size() <= kScreenBytes;
        HttpResponse res;
        if (h.route->screen(*h.request, start.substr(0, kScreenBytes), whole, res) == Verdict::Answer) return false;
    }
    leftover.clear();
    next.connection = last.connection;
    next.fd = last.fd;
    next.request = std::move(h.request);
    next.route = h.route;
    next.head = h.head;
    next.keepAlive = h.keepAlive;
    next.mayStay = true;
    next.served = served;
    next.addr = last.addr;
    return true;
}

std::string CHttpFront::Serialize(const HttpResponse& res, bool head, bool keepAlive)
{
    std::string out = StrFormat("HTTP/1.1 %d %s\r\n", res.status, Reason(res.status));
    if (!res.contentType.empty()) out += "Content-Type: " + res.contentType + "\r\n";
    out += StrFormat("Content-Length: %zu\r\n", res.body.size());
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    if (!head) out += res.body;
    return out;
}

void CHttpFront::Collect()
{
    std::vector<Done> done;
    {
        std::lock_guard lock(m_doneMutex);
        done.swap(m_done);
    }
    for (Done& d : done) {
        m_buffered -= d.charged;
        auto id = m_byId.find(d.connection);
        if (id == m_byId.end()) continue;
        Connection& c = *m_connections.at(id->second);
        if (d.broken) {
            Close(c);
            continue;
        }
        c.served += d.servedMore;
        // What the worker read but left: the next request, read on from here.
        c.in += d.leftover;
        StartWrite(c, std::move(d.bytes), d.keepAlive, d.sent);
    }
}

// An answer made here (an error before the handler): small, then the
// connection closes unless `keepAlive` says the request had no body.
void CHttpFront::Answer(Connection& c, int status, bool keepAlive)
{
    HttpResponse res;
    res.status = status;
    res.SetContent(Reason(status), "text/plain");
    if (m_logger) {
        HttpRequest req;
        if (c.request) req = *c.request;
        req.remoteAddr = c.addr;
        m_logger(req, res);
    }
    c.request.reset();
    StartWrite(c, Serialize(res, c.head, keepAlive), keepAlive);
}

void CHttpFront::StartWrite(Connection& c, std::string bytes, bool keepAlive, size_t sent)
{
    m_buffered -= c.charged;
    c.charged = 0;
    c.out = std::move(bytes);
    c.written = sent;
    c.keepAfterWrite = keepAlive;
    c.state = Connection::State::Writing;
    c.writeUntil = SteadyClock::now() + std::chrono::milliseconds(m_limits.writeDeadlineMs);
    OnWritable(c);
}

void CHttpFront::OnWritable(Connection& c)
{
    while (c.written < c.out.size()) {
        const ssize_t n = send(c.fd, c.out.data() + c.written, c.out.size() - c.written, MSG_NOSIGNAL);
        if (n > 0) {
            c.written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            Watch(c, EPOLLOUT);
            return;
        }
        Close(c);
        return;
    }
    if (!c.keepAfterWrite) {
        // The answer may have come before the client sent all it meant to
        // (a refused body). Closing with its bytes unread would reset the
        // connection and could lose the answer: half-close, then read and
        // drop for a little while. A body refused from its start is not read
        // on at all (that is what the refusal saves): the connection just
        // waits as long for the client to take its answer and go.
        shutdown(c.fd, SHUT_WR);
        c.state = Connection::State::Draining;
        c.writeUntil = SteadyClock::now() + std::chrono::milliseconds(kDrainMs);
        c.in.clear();
        c.in.shrink_to_fit();
        Watch(c, c.cutOff ? EPOLLRDHUP : EPOLLIN);
        return;
    }
    ++c.served;
    c.out.clear();
    c.out.shrink_to_fit();
    c.state = Connection::State::Reading;
    c.request.reset();
    c.route = nullptr;
    c.scanned = 0;
    c.head = c.chunked = false;
    c.bodyLength = 0;
    c.started = !c.in.empty();
    c.since = SteadyClock::now();
    Watch(c, EPOLLIN);
    if (!c.in.empty()) Advance(c);  // a request that came meanwhile
}

void CHttpFront::Drain(Connection& c)
{
    char buf[65536];
    for (int turn = 0; turn < 2; ++turn) {
        const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        c.drained += n > 0 ? static_cast<size_t>(n) : 0;
        if (n <= 0 || c.drained > kMaxDrainBytes) {
            Close(c);
            return;
        }
    }
}

void CHttpFront::CheckDeadlines()
{
    const auto now = SteadyClock::now();
    std::vector<Connection*> late, timedOut;
    for (auto& [fd, c] : m_connections) {
        if (c->state == Connection::State::Writing || c->state == Connection::State::Draining) {
            if (Remaining(c->writeUntil, now) <= 0) late.push_back(c.get());
        } else if (c->state == Connection::State::Reading) {
            if (!c->started) {
                if (Remaining(c->since, now) + m_limits.idleMs <= 0) late.push_back(c.get());
            } else if (Remaining(c->since, now) + m_limits.requestDeadlineMs <= 0 ||
                       (!c->request && Remaining(c->since, now) + m_limits.headerDeadlineMs <= 0)) {
                timedOut.push_back(c.get());
            }
        }
    }
    for (Connection* c : late) Close(*c);
    for (Connection* c : timedOut) Answer(*c, 408, false);
}

}  // namespace vextal

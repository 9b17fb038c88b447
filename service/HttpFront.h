#pragma once
// The service's HTTP/1.1 front. One thread does every socket's reading and
// writing without blocking and hands only complete requests to a small pool
// of workers: a slow, idle or hostile client costs a socket and a buffer,
// never a worker. Every request has a deadline for its headers and one for
// the whole request, the headers have a size and a count limit, and each
// route its own body cap (Content-Length or chunked: 413 as soon as it is
// passed). Bodies being read share one memory budget.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vextal {

struct HttpRequest {
    std::string method;      // GET, HEAD or POST
    std::string path;        // percent-decoded, without the query
    std::string query;       // as sent
    std::string body;
    std::string remoteAddr;  // the peer's address, for per-address rules
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
    std::multimap<std::string, std::string> params;          // the query's fields (and a form route's body)
    std::smatch matches;                                      // the route's pattern against `path`

    std::string Header(const std::string& lowerName) const;
    std::string Param(const std::string& key) const;
};

struct HttpResponse {
    int status = 200;
    std::string body;
    std::string contentType;
    std::string note;  // only for the log line (the command a request carried)

    void SetContent(std::string content, std::string type)
    {
        body = std::move(content);
        contentType = std::move(type);
    }
};

struct HttpLimits {
    size_t maxHeaderBytes = size_t(16) << 10;  // request line, headers and chunk trailers
    size_t maxHeaderCount = 100;
    int headerDeadlineMs = 10000;   // from a request's first byte to its blank line
    int requestDeadlineMs = 30000;  // from a request's first byte to its last
    int idleMs = 5000;              // a connection without a request
    int writeDeadlineMs = 60000;    // for an answer to be taken by the client
    size_t maxConnections = 512;
    size_t workers = 16;
    size_t maxQueued = 256;                       // complete requests waiting for a worker
    size_t maxBufferedBytes = size_t(96) << 20;   // bodies being read, over all connections
    size_t maxRequestsPerConnection = 1000;
};

// %XX escapes decoded (broken ones kept as they are); "+" a blank when asked.
std::string PercentDecode(const std::string& text, bool plusIsBlank);
// "a=1&b=x+y%20z": the fields of a query or form text, "+" read as a blank.
void ParseQueryText(const std::string& text, std::multimap<std::string, std::string>& params);

class CHttpFront {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    using Logger = std::function<void(const HttpRequest&, const HttpResponse&)>;
    // Looks at the start of a body while the rest is still on its way, on
    // the I/O thread, or on a worker for a request that reached it whole (so
    // it must never wait, and may run on several threads at once): Answer when the start settles
    // the request (the answer goes out at once and the rest is not read),
    // Read to take the body whole, More to see more of it first.
    enum class Verdict { More, Read, Answer };
    using Screen = std::function<Verdict(const HttpRequest& head, std::string_view start, bool whole, HttpResponse& res)>;

    explicit CHttpFront(HttpLimits limits = {});
    ~CHttpFront();
    CHttpFront(const CHttpFront&) = delete;
    CHttpFront& operator=(const CHttpFront&) = delete;

    // Routes, matched in the order added against the whole decoded path.
    // A GET route answers HEAD too. `form`: the body's form fields are
    // added to the params (a form-encoded body only).
    void Get(const std::string& pattern, Handler handler);
    // `screen`: asked about the first kScreenBytes of the body at most.
    void Post(const std::string& pattern, size_t maxBody, Handler handler, bool form = false, Screen screen = {});
    static constexpr size_t kScreenBytes = 4096;
    void SetLogger(Logger logger) { m_logger = std::move(logger); }

    // Binds host:port (0 picks a free one) and listens; false with the reason.
    bool Listen(const std::string& host, int port, std::string& error);
    int Port() const { return m_port; }
    // Runs the I/O thread and the workers.
    void Start();
    // Stops accepting, closes every connection and waits at most `waitMs`
    // for the handlers still running. False when one still runs: its thread
    // is left behind, and the caller must end the process rather than free
    // what that handler uses.
    bool Stop(int waitMs);

private:
    struct Route {
        std::string method;
        std::regex pattern;
        size_t maxBody = 0;
        bool form = false;
        Handler handler;
        Screen screen;
    };
    struct Connection;
    // A request's head as read, or the status to refuse it with.
    struct Head {
        std::unique_ptr<HttpRequest> request;
        const Route* route = nullptr;
        bool head = false, keepAlive = false, chunked = false, expectContinue = false;
        size_t bodyLength = 0;
        size_t lines = 0;  // header lines
        int refuse = 0;
        bool refuseKeepAlive = false;
    };
    struct Idle {
        std::condition_variable wake;
        bool woken = false;
    };
    struct Job {
        uint64_t connection = 0;
        int fd = -1;  // the worker sends the answer itself: one hand-over less per request
        std::unique_ptr<HttpRequest> request;
        const Route* route = nullptr;
        bool head = false;
        bool keepAlive = false;
        size_t charged = 0;  // bytes of the memory budget the request holds
        // Nothing came after the request, so the worker may wait for the
        // client's next one itself (TakeNext).
        bool mayStay = false;
        unsigned served = 0;  // requests the connection had before this one
        std::string addr;
    };
    struct Done {
        uint64_t connection = 0;
        std::string bytes;
        size_t sent = 0;      // of `bytes`, sent by the worker
        bool broken = false;  // the send failed: the client has gone
        bool keepAlive = false;
        size_t charged = 0;
        unsigned servedMore = 0;  // requests the worker took itself and answered whole
        std::string leftover;     // read by the worker, for the I/O thread to go on with
    };

    void Loop();
    void WorkerLoop(Idle& slot);
    void Accept();
    void OnReadable(Connection& c);
    void OnWritable(Connection& c);
    void Drain(Connection& c);
    // Parses what `c` has read; queues a complete request or answers an error.
    void Advance(Connection& c);
    Head ReadHead(const std::string& head, const std::string& addr, bool lastRequest) const;
    bool ParseHead(Connection& c, const std::string& head);
    // The handler, its answer, and as much of it sent as the socket takes.
    void Serve(Job& job, Done& done);
    // Waits briefly for the next request on a socket whose answer went out
    // whole; true with it in `next` when it came whole and plain, else what
    // was read is in `leftover` for the I/O thread (false, `gone` when the
    // client closed or reset).
    bool TakeNext(const Job& last, Job& next, std::string& leftover, bool& gone);
    bool ReadChunked(Connection& c);
    // Asks the route's screen about what has come of the body; true when it answered.
    bool Screened(Connection& c, std::string_view start, bool whole);
    void Dispatch(Connection& c);
    void Answer(Connection& c, int status, bool keepAlive);
    void StartWrite(Connection& c, std::string bytes, bool keepAlive, size_t sent = 0);
    void Close(Connection& c);
    void Collect();
    void CheckDeadlines();
    void Watch(Connection& c, unsigned events);
    bool EvictOne();

    static std::string Serialize(const HttpResponse& res, bool head, bool keepAlive);

    HttpLimits m_limits;
    std::vector<Route> m_routes;
    Logger m_logger;

    int m_listen = -1;
    int m_epoll = -1;
    int m_wake = -1;  // eventfd: finished jobs and the stop request
    int m_port = -1;
    bool m_accepting = true;
    std::thread m_io;
    std::vector<std::thread> m_workers;
    std::atomic<bool> m_stop{false};

    // I/O thread only.
    std::map<int, std::unique_ptr<Connection>> m_connections;  // by socket
    std::map<uint64_t, int> m_byId;
    uint64_t m_nextId = 1;
    size_t m_buffered = 0;

    std::mutex m_jobMutex;
    // Idle workers, the one idle for the shortest time last: a job goes to
    // it, so the few workers a steady load needs stay warm and where the
    // scheduler put them, instead of a different one of all of them each time.
    std::vector<std::unique_ptr<Idle>> m_idleSlots;  // one per worker
    std::vector<Idle*> m_idle;
    std::condition_variable m_workerExit;
    std::deque<Job> m_jobs;
    std::atomic<size_t> m_queued{0};  // m_jobs.size(), read without the lock
    size_t m_alive = 0;     // worker threads not yet ended
    // Sockets whose answer a worker was writing when the I/O thread ended:
    // closed only once the workers have, so no worker writes to a reused one.
    std::vector<int> m_handedOver;

    std::mutex m_doneMutex;
    std::vector<Done> m_done;
};

}  // namespace vextal

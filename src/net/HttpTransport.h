#pragma once
// The one blocking HTTP client of the program (libcurl, one easy handle per
// request). Every call opens, sends, reads the whole answer and closes; no
// connection reuse, no cache, no retry. Safe to call from several threads.
//
// Results: byte count of the answer, or -1 when the request failed. A status
// of 400 or more is a failure (-1), but the error page is still handed back.
// Text operations convert an answer that declares UTF-8 into GBK (the wire
// code page of the service); the command layer turns it into UTF-8.
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace vextal {

// The `Proxy` section of the settings, set at start-up and when the options
// are confirmed; each request reads them afresh.
struct ProxySettings {
    int Enable = 0;
    std::string IP;
    int Port = 0;
    std::string UserName;
    std::string Password;  // already deciphered
};
void SetProxySettings(const ProxySettings& settings);
ProxySettings GetProxySettings();

// Limits of the transport. Defaults: 10 s to connect, 60 s per request,
// 300 s for large downloads, answers up to 64 MiB.
struct HttpConfig {
    long connectTimeoutSeconds = 10;
    long requestTimeoutSeconds = 60;
    long largeRequestTimeoutSeconds = 300;
    size_t maxAnswerBytes = size_t(64) << 20;
    // Hosts that bypass any proxy (curl's NOPROXY list; "*" = all). Empty:
    // the system's proxy configuration applies.
    std::string noProxy;
    // Called on the asking thread before each request: tests check that the
    // window's thread never waits on the network.
    std::function<void(const std::string& url)> onRequest;
};
void SetHttpConfig(const HttpConfig& config);
HttpConfig GetHttpConfig();

inline constexpr const char* kHttpUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; .NET CLR 1.1.4322)";

// A request URL taken apart: scheme "http" or "https" (any case), server,
// port (80 or 443 when absent) and object (path and query, at least "/").
struct HttpUrlParts {
    std::string scheme;
    std::string server;
    int port = 80;
    std::string object;
};
bool SplitHttpUrl(const std::string& url, HttpUrlParts& parts);

// Why the last request of this thread failed (empty after a success).
std::string GetLastHttpError();

// Gives up the requests of the thread that holds it: a request in flight
// ends within a twentieth of a second of `cancel` being set (or of the
// deadline `limitMs` from now passing), and a later one fails at once, so a
// long job stops between its phases without waiting on the network. Scopes
// nest: the inner one adds to what the outer ones ask. A thread a job starts
// for its own requests holds a scope of its own (with the job's flag).
class CHttpCancelScope {
public:
    explicit CHttpCancelScope(const std::atomic<bool>* cancel, long limitMs = 0);
    ~CHttpCancelScope();
    CHttpCancelScope(const CHttpCancelScope&) = delete;
    CHttpCancelScope& operator=(const CHttpCancelScope&) = delete;

    // True when a scope of this thread asks its requests to stop.
    static bool Cancelled();

private:
    friend struct HttpScopeAccess;
    const std::atomic<bool>* m_cancel;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_hasDeadline;
    const CHttpCancelScope* m_outer;
};

// Sends one request and reads the whole answer into `answer`. An answer above
// the configured ceiling fails (-1) instead of being cut. `timeoutSeconds`
// 0 means the normal request time-out.
int HttpRequest(const std::string& url, const std::string& verb, std::string& answer,
                const std::string& body, const std::string& referrer, long timeoutSeconds = 0);
// Normal requests and large file downloads (the latter with the longer time-out).
int HttpReadToBuffer(const std::string& url, const std::string& verb, std::string& buffer,
                     const std::string& body, const std::string& referrer);
int HttpReadToLargeBuffer(const std::string& url, const std::string& verb, std::string& buffer,
                          const std::string& body, const std::string& referrer);
// The answer up to its first zero byte, converted to GBK when it declares UTF-8.
int HttpRequestText(const std::string& url, const std::string& verb, std::string& text,
                    const std::string& body, const std::string& referrer);

// POST; a non-empty body gets "&FundSN=<0..32767>" appended. True when more
// than 0 bytes came back with a status below 400.
bool HttpPostCommand(const std::string& url, std::string& text, std::string body,
                     const std::string& referrer);
int HttpGetText(const std::string& url, std::string& text, const std::string& body,
                const std::string& referrer);
int HttpGetBuffer(const std::string& url, std::string& buffer, const std::string& body,
                  const std::string& referrer);
int HttpGetLargeBuffer(const std::string& url, std::string& buffer, const std::string& body,
                       const std::string& referrer);

// Creates or truncates the file and writes `length` bytes of `buffer`.
// False for a missing buffer, a length of 0 or a failed write.
bool SaveBufferToFile(const std::string& path, const char* buffer, size_t length);
inline bool SaveBufferToFile(const std::string& path, const std::string& buffer)
{
    return SaveBufferToFile(path, buffer.data(), buffer.size());
}

// Sets the named proxy "%s:%d" with optional credentials on a handle when
// `Enable` is not 0. True when a proxy was set.
bool ApplyProxySettings(CURL* session);

}  // namespace vextal

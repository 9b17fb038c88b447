#include "net/HttpTransport.h"

#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>

#include "common/Format.h"
#include "net/Encoding.h"

namespace vextal {

namespace {

std::mutex g_settingsMutex;
ProxySettings g_proxy;
HttpConfig g_config;
thread_local std::string t_lastError;
thread_local const CHttpCancelScope* t_scope = nullptr;

// How often a request in flight looks at its cancel flag and deadline.
constexpr int kCancelPollMs = 50;

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct ReadState {
    std::string* answer;
    size_t limit;
    bool tooLarge = false;
};

size_t WriteAnswer(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<ReadState*>(user);
    size_t n = size * count;
    if (state->answer->size() + n > state->limit) {
        state->tooLarge = true;
        return 0;  // makes curl abort the transfer
    }
    state->answer->append(data, n);
    return n;
}

// Owns the easy handle and the header list of one request.
struct CurlRequest {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    ~CurlRequest()
    {
        if (handle) curl_easy_cleanup(handle);
        if (headers) curl_slist_free_all(headers);
    }
};

// Each thread keeps one multi handle between its requests: the multi owns
// curl's connection cache, so a thread's requests to one service go over a
// kept-alive connection. A fresh connection per request left a socket in
// TIME_WAIT each, and a burst of a few thousand ran short of local ports.
// Per thread, because curl does not share connections between threads that
// run at the same time; the connections close when the thread ends.
class ThreadConnections {
public:
    CURLM* Multi()
    {
        if (!m_multi) m_multi = curl_multi_init();
        return m_multi;
    }
    ~ThreadConnections()
    {
        if (m_multi) curl_multi_cleanup(m_multi);
    }

private:
    CURLM* m_multi = nullptr;
};
thread_local ThreadConnections t_connections;

// Runs the transfer in short slices, so that the thread's cancel flag and
// deadline are seen while the service is silent (curl's own progress
// callback may go a second without a call). `stop` names why it was given up.
CURLcode Perform(CurlRequest& req, const char*& stop);

bool IsDigits(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

void SetProxySettings(const ProxySettings& settings)
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    g_proxy = settings;
}

ProxySettings GetProxySettings()
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    return g_proxy;
}

void SetHttpConfig(const HttpConfig& config)
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    g_config = config;
}

HttpConfig GetHttpConfig()
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    return g_config;
}

std::string GetLastHttpError()
{
    return t_lastError;
}

struct HttpScopeAccess {
    // Why the requests of this thread must stop now: "" when they need not.
    static const char* StopReason()
    {
        const auto now = std::chrono::steady_clock::now();
        for (const CHttpCancelScope* s = t_scope; s; s = s->m_outer) {
            if (s->m_cancel && s->m_cancel->load()) return "request cancelled";
            if (s->m_hasDeadline && now >= s->m_deadline) return "no answer in time";
        }
        return "";
    }
};

CHttpCancelScope::CHttpCancelScope(const std::atomic<bool>* cancel, long limitMs)
    : m_cancel(cancel), m_deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs)),
      m_hasDeadline(limitMs > 0), m_outer(t_scope)
{
    t_scope = this;
}

CHttpCancelScope::~CHttpCancelScope() { t_scope = m_outer; }

bool CHttpCancelScope::Cancelled() { return *HttpScopeAccess::StopReason() != '\0'; }

bool SplitHttpUrl(const std::string& url, HttpUrlParts& parts)
{
    for (unsigned char c : url)
        if (c <= ' ' || c == 0x7F) return false;
    size_t sep = url.find("://");
    if (sep == std::string::npos) return false;
    std::string scheme = ToLowerAscii(url.substr(0, sep));
    int defaultPort;
    if (scheme == "http") defaultPort = 80;
    else if (scheme == "https") defaultPort = 443;
    else return false;

    size_t hostStart = sep + 3;
    size_t objStart = url.find_first_of("/?#", hostStart);
    std::string authority = url.substr(hostStart, objStart == std::string::npos ? std::string::npos : objStart - hostStart);
    if (authority.find('@') != std::string::npos) return false;

    std::string server = authority;
    std::string portText;
    if (!authority.empty() && authority[0] == '[') {  // IPv6 literal
        size_t close = authority.find(']');
        if (close == std::string::npos) return false;
        server = authority.substr(0, close + 1);
        std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            portText = rest.substr(1);
            if (portText.empty()) return false;
        }
    } else {
        size_t colon = authority.find(':');
        if (colon != std::string::npos) {
            server = authority.substr(0, colon);
            portText = authority.substr(colon + 1);
            if (portText.empty()) return false;
        }
    }
    if (server.empty() || server == "[]") return false;
    int port = defaultPort;
    if (!portText.empty()) {
        if (!IsDigits(portText) || portText.size() > 5) return false;
        port = std::stoi(portText);
        if (port < 1 || port > 65535) return false;
    }

    std::string object = objStart == std::string::npos ? std::string() : url.substr(objStart);
    size_t hash = object.find('#');
    if (hash != std::string::npos) object.erase(hash);
    if (object.empty() || object[0] != '/') object.insert(0, "/");

    parts.scheme = scheme;
    parts.server = server;
    parts.port = port;
    parts.object = object;
    return true;
}

namespace {

CURLcode Perform(CurlRequest& req, const char*& stop)
{
    CURLM* multi = t_connections.Multi();
    if (!multi) return CURLE_OUT_OF_MEMORY;
    CURLcode rc = CURLE_OK;
    if (curl_multi_add_handle(multi, req.handle) != CURLM_OK) rc = CURLE_FAILED_INIT;
    for (bool done = rc != CURLE_OK; !done;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int left = 0;
            rc = CURLE_RECV_ERROR;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left))
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == req.handle) rc = msg->data.result;
            break;
        }
        stop = HttpScopeAccess::StopReason();
        if (*stop) break;
        curl_multi_poll(multi, nullptr, 0, kCancelPollMs, nullptr);
    }
    // A transfer left unfinished (cancelled, too large) takes its
    // connection with it; a finished one leaves it in the cache.
    curl_multi_remove_handle(multi, req.handle);
    return rc;
}

}  // namespace

bool ApplyProxySettings(CURL* session)
{
    ProxySettings proxy = GetProxySettings();
    if (proxy.Enable == 0 || !session) return false;
    std::string name = StrFormat("%s:%d", proxy.IP.c_str(), proxy.Port);
    if (curl_easy_setopt(session, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP)) != CURLE_OK ||
        curl_easy_setopt(session, CURLOPT_PROXY, name.c_str()) != CURLE_OK)
        return false;
    // A named proxy has no bypass list: every host goes through it.
    curl_easy_setopt(session, CURLOPT_NOPROXY, "");
    if (!proxy.UserName.empty()) curl_easy_setopt(session, CURLOPT_PROXYUSERNAME, proxy.UserName.c_str());
    if (!proxy.Password.empty()) curl_easy_setopt(session, CURLOPT_PROXYPASSWORD, proxy.Password.c_str());
    return true;
}

int HttpRequest(const std::string& url, const std::string& verb, std::string& answer,
                const std::string& body, const std::string& referrer, long timeoutSeconds)
{
    answer.clear();
    t_lastError.clear();
    HttpUrlParts parts;
    if (!SplitHttpUrl(url, parts)) {
        t_lastError = "invalid URL: " + url;
        return -1;
    }
    if (const char* stop = HttpScopeAccess::StopReason(); *stop) {
        t_lastError = std::string(stop) + ": " + url;
        return -1;
    }
    InitCurlOnce();
    HttpConfig config = GetHttpConfig();
    if (config.onRequest) config.onRequest(url);
    CurlRequest req;
    if (!req.handle) {
        t_lastError = "cannot create an HTTP session";
        return -1;
    }
    CURL* h = req.handle;
    std::string target = parts.scheme + "://" + parts.server + ":" + std::to_string(parts.port) + parts.object;
    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, kHttpUserAgent);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, config.connectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, timeoutSeconds > 0 ? timeoutSeconds : config.requestTimeoutSeconds);
    if (!config.noProxy.empty()) curl_easy_setopt(h, CURLOPT_NOPROXY, config.noProxy.c_str());
    ApplyProxySettings(h);
    if (!referrer.empty()) curl_easy_setopt(h, CURLOPT_REFERER, referrer.c_str());

    req.headers = curl_slist_append(req.headers, "Content-Type: application/x-www-form-urlencoded");
    // curl would otherwise wait for "100 Continue" before larger bodies.
    req.headers = curl_slist_append(req.headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, req.headers);

    if (verb == "POST") {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
    } else {
        if (!body.empty()) {
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, verb.c_str());
        } else if (verb == "GET") {
            curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        } else {
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, verb.c_str());
        }
    }

    ReadState state{&answer, config.maxAnswerBytes};
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteAnswer);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &state);

    const char* stop = "";
    CURLcode rc = Perform(req, stop);
    if (*stop) {
        t_lastError = std::string(stop) + ": " + url;
        answer.clear();
        return -1;
    }
    if (rc != CURLE_OK) {
        t_lastError = state.tooLarge
            ? StrFormat("answer larger than %zu bytes: %s", config.maxAnswerBytes, url.c_str())
            : std::string(curl_easy_strerror(rc)) + ": " + url;
        answer.clear();
        return -1;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 400) {
        t_lastError = StrFormat("HTTP status %ld: %s", status, url.c_str());
        return -1;
    }
    return static_cast<int>(answer.size());
}

int HttpReadToBuffer(const std::string& url, const std::string& verb, std::string& buffer,
                     const std::string& body, const std::string& referrer)
{
    return HttpRequest(url, verb, buffer, body, referrer, 0);
}

int HttpReadToLargeBuffer(const std::string& url, const std::string& verb, std::string& buffer,
                          const std::string& body, const std::string& referrer)
{
    return HttpRequest(url, verb, buffer, body, referrer, GetHttpConfig().largeRequestTimeoutSeconds);
}

int HttpRequestText(const std::string& url, const std::string& verb, std::string& text,
                    const std::string& body, const std::string& referrer)
{
    std::string buffer;
    int count = HttpReadToBuffer(url, verb, buffer, body, referrer);
    size_t zero = buffer.find('\0');
    if (zero != std::string::npos) buffer.resize(zero);
    text = ConvertUtf8Answer(buffer, kCodePageUtf8, kCodePageGbk);
    return count;
}

bool HttpPostCommand(const std::string& url, std::string& text, std::string body,
                     const std::string& referrer)
{
    if (!body.empty()) {
        thread_local std::minstd_rand rng{std::random_device{}()};
        std::uniform_int_distribution<int> dist(0, 32767);
        body += "&FundSN=" + std::to_string(dist(rng));
    }
    return HttpRequestText(url, "POST", text, body, referrer) > 0;
}

int HttpGetText(const std::string& url, std::string& text, const std::string& body,
                const std::string& referrer)
{
    return HttpRequestText(url, "GET", text, body, referrer);
}

int HttpGetBuffer(const std::string& url, std::string& buffer, const std::string& body,
                  const std::string& referrer)
{
    return HttpReadToBuffer(url, "GET", buffer, body, referrer);
}

int HttpGetLargeBuffer(const std::string& url, std::string& buffer, const std::string& body,
                       const std::string& referrer)
{
    return HttpReadToLargeBuffer(url, "GET", buffer, body, referrer);
}

bool SaveBufferToFile(const std::string& path, const char* buffer, size_t length)
{
    if (!buffer || length == 0) return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(buffer, static_cast<std::streamsize>(length));
    out.close();
    return !out.fail();
}

}  // namespace vextal

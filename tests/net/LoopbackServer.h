#pragma once
// A real HTTP server on 127.0.0.1 for the net tests: handlers are set on
// `server` before Start(); requests are recorded.
#include <httplib.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/HttpTransport.h"
#include "support/DirectHttp.h"

namespace vextal::test {

struct SeenRequest {
    std::string method;
    std::string target;  // path with query as sent
    std::string body;
    httplib::Headers headers;
};

class LoopbackServer {
public:
    httplib::Server server;

    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // Handlers that record their request before answering it, so a client
    // never sees an answer to a request that is not recorded yet.
    void Get(const std::string& pattern, Handler fn) { server.Get(pattern, Recorded(std::move(fn))); }
    void Post(const std::string& pattern, Handler fn) { server.Post(pattern, Recorded(std::move(fn))); }

    ~LoopbackServer()
    {
        server.stop();
        if (m_thread.joinable()) m_thread.join();
    }

    void Start()
    {
        m_port = server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int Port() const { return m_port; }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

    std::vector<SeenRequest> Seen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    SeenRequest Last()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen.empty() ? SeenRequest{} : m_seen.back();
    }

private:
    Handler Recorded(Handler fn)
    {
        return [this, fn = std::move(fn)](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_seen.push_back({req.method, req.target, req.body, req.headers});
            }
            fn(req, res);
        };
    }

    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<SeenRequest> m_seen;
};

// Direct connections and short time-outs for every test of the fixture.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseDirectHttp(10);
        SetProxySettings({});
    }
    void TearDown() override
    {
        SetHttpConfig({});
        SetProxySettings({});
    }
};

}  // namespace vextal::test

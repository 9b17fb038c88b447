#pragma once
// A real HTTP server on 127.0.0.1 for the net tests: handlers are set on
// `server` before Start(); requests are recorded.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"
#include "support/DirectHttp.h"

namespace vextal::test {

struct SeenRequest {
    std::string method;
    std::string target;  // path with query as sent
    std::string body;
    httplib::Headers headers;
    int clientPort = -1;  // tells the client's connections apart
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

    // Each answer closes its connection unless a test asks for more: a
    // connection the client keeps would hold up stop() for the server's
    // keep-alive wait.
    LoopbackServer() { server.set_keep_alive_max_count(1); }

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
                m_seen.push_back({req.method, req.target, req.body, req.headers, req.remote_port});
            }
            fn(req, res);
        };
    }

    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<SeenRequest> m_seen;
};

// A stand-in of the client command service, for the answers the real one
// never gives: each command ("type/id") answers what the test set for it,
// any other what was set for "", or else a refusal. `ctx` is logged in.
class CommandStub {
    std::mutex m_mutex;
    std::map<std::string, std::pair<std::string, int>> m_answers;  // text and HTTP status by command

public:
    LoopbackServer http;
    CommandContext ctx;

    CommandStub()
    {
        http.Post(std::string("/") + kCommandPath, [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto it = m_answers.find(req.get_param_value("cmdtype") + "/" + req.get_param_value("cmdid"));
            if (it == m_answers.end()) it = m_answers.find("");
            res.status = it == m_answers.end() ? 200 : it->second.second;
            res.set_content(it == m_answers.end() ? Wrap("<Ret>-1</Ret><Msg>unknown</Msg>") : it->second.first, "text/xml");
        });
        http.Start();
        ctx.commandUrl = MakeCommandUrl(http.Base());
        ctx.loginId = "u1";
    }
    // The service's answer around `inner`, in the GBK it speaks.
    static std::string Wrap(const std::string& inner)
    {
        return "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<CommandResult xmlns=\"" + std::string(kCommandNamespace) +
               "\">" + Utf8ToGbk(inner) + "</CommandResult>";
    }
    void Raw(const std::string& cmd, const std::string& text, int status = 200)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers[cmd] = {text, status};
    }
    void Answer(const std::string& cmd, const std::string& inner, int status = 200) { Raw(cmd, Wrap(inner), status); }
    // The bodies sent with one command ("" any), each without its anti-cache suffix.
    std::vector<std::string> Sent(const std::string& cmd = "")
    {
        const std::string prefix =
            cmd.empty() ? "" : "cmdtype=" + cmd.substr(0, cmd.find('/')) + "&cmdid=" + cmd.substr(cmd.find('/') + 1) + "&";
        std::vector<std::string> out;
        for (const SeenRequest& r : http.Seen()) {
            std::smatch m;
            if (r.body.rfind(prefix, 0) != 0) continue;
            EXPECT_TRUE(std::regex_search(r.body, m, std::regex("&FundSN=[0-9]{1,5}$"))) << r.body;
            out.push_back(m.empty() ? r.body : r.body.substr(0, static_cast<size_t>(m.position(0))));
        }
        return out;
    }
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

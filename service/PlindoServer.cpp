#include "PlindoServer.h"

#include "TradingCalendar.h"

#include "common/Format.h"

#include "net/Encoding.h"

#include <httplib.h>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/Clock.h"

namespace vextal {

CPlindoServer::CPlindoServer(const ServerOptions& options)
    : m_options(options),
      m_market(MarketOptions{options.seed, options.funds}),
      m_pages(m_market, options.dataDir, options.updateKeyPem),
      m_commands(m_market, m_users, options.clientVersion),
      m_data(m_market),
      m_web(m_market, m_users),
      m_stall(options.latencyMs, options.hang),
      m_server(std::make_unique<httplib::Server>())
{
    // The program asks for up to ten quote pages at once; the library's
    // default of eight threads on a small machine would queue the rest.
    // Hung answers (--hang) keep their threads until the stop, whether or
    // not the client gave up: enough threads that the rest still answer.
    const size_t threads = options.hang.empty() ? 16 : 96;
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
}

CPlindoServer::~CPlindoServer() { Stop(); }

bool CPlindoServer::Start(std::string& error)
{
    // The latest values of the open-end funds (the first class list the
    // program asks for; computing it on request took seconds) are computed
    // while the store and the files are prepared, and before the first
    // request, which waits in the listen queue meanwhile; the other classes
    // in the background.
    const OleDate now = Clock::Now();
    std::thread firstClass([this, now] {
        m_market.WarmLatest(now, {1, 5}, static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)),
                            &m_stopWarming);
    });
    const bool opened = Open(error);
    if (!opened) m_stopWarming = true;
    firstClass.join();
    if (!opened) return false;
    m_warmer = std::thread([this, now] {
        RunAtBackgroundPriority();
        m_market.WarmLatest(now, {2, 3, 4}, 1, &m_stopWarming);
    });
    m_web.StartWarming();
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

bool CPlindoServer::Open(std::string& error)
{
    if (m_options.dataDir.empty()) {
        error = "the data folder must not be empty";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(m_options.dataDir, ec);
    if (ec) {
        error = "cannot create the data folder " + m_options.dataDir + ": " + ec.message();
        return false;
    }
    {
        // SQLite's own message would not name the folder.
        const std::string probe = m_options.dataDir + "/.plindo-write-test";
        std::ofstream out(probe);
        if (!(out << "x") || !out.flush()) {
            error = "cannot write in the data folder " + m_options.dataDir;
            return false;
        }
        out.close();
        std::filesystem::remove(probe, ec);
    }
    if (!m_users.Open(m_options.dataDir + "/plindo.db", error)) {
        error = "cannot open " + m_options.dataDir + "/plindo.db: " + error;
        return false;
    }
    if (!m_pages.Prepare(error)) return false;
    Route();
    m_server->set_payload_max_length(kMaxRequestBytes);
    m_server->set_read_timeout(5, 0);
    m_server->set_write_timeout(10, 0);
    m_server->set_keep_alive_timeout(5);
    // The library's default option is SO_REUSEPORT, under which a second
    // service on the same port starts and takes half the requests. With
    // SO_REUSEADDR alone a port in use fails to bind.
    int listening = -1;
    m_server->set_socket_options([&listening](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listening = sock;
    });
    m_port = m_options.port == 0 ? m_server->bind_to_any_port("127.0.0.1")
                                 : (m_server->bind_to_port("127.0.0.1", m_options.port) ? m_options.port : -1);
    // The library listens with a backlog of 5: ten quote workers connecting
    // at once overflow it, and a dropped connection retries a second later.
    // Listening again on the bound socket only raises the backlog.
    if (m_port > 0 && listening >= 0) ::listen(listening, 128);
    if (m_port <= 0) {
        const int code = errno;
        error = "cannot listen on 127.0.0.1:" + std::to_string(m_options.port) +
                (code == EADDRINUSE ? ": the port is in use (another plindo-serve?)" : ": " + std::string(std::strerror(code)));
        return false;
    }
    return true;
}

void CPlindoServer::Stop()
{
    m_stall.Release();
    m_stopWarming = true;
    if (m_warmer.joinable()) m_warmer.join();
    if (m_server) m_server->stop();
    if (m_thread.joinable()) m_thread.join();
}

void CPlindoServer::Route()
{
    using httplib::Request;
    using httplib::Response;
    CRequestStall* stall = &m_stall;
    // Every handler: the optional delay, and no exception ever reaches the
    // server thread.
    auto guarded = [stall](auto fn) {
        return [stall, fn](const Request& req, Response& res) {
            stall->BeforeAnswer(req.path);
            try {
                fn(req, res);
            } catch (...) {
                res.status = 500;
                res.set_content("internal error", "text/plain");
            }
        };
    };
    auto xml = [](Response& res, const std::string& body) { res.set_content(body, "text/xml; charset=gbk"); };

    // Form bodies are read here, not by the library: it caps a form-encoded
    // body at 8 KB whatever the payload limit, which a bookkeeping upload or
    // a long code list passes. The payload limit still applies.
    // False (and status 413 or 400) when the body is too long or cut.
    auto readBody = [](const httplib::ContentReader& reader, Response& res, std::string& body) {
        bool ok = reader([&body](const char* data, size_t size) {
            body.append(data, size);
            return body.size() <= kMaxRequestBytes;
        });
        if (ok && body.size() <= kMaxRequestBytes) return true;
        if (res.status < 400) res.status = body.size() > kMaxRequestBytes ? 413 : 400;
        return false;
    };
    auto guardedForm = [stall, readBody](auto fn) {
        return [stall, readBody, fn](const Request& req, Response& res, const httplib::ContentReader& reader) {
            stall->BeforeAnswer(req.path);
            try {
                std::string body;
                if (readBody(reader, res, body)) fn(body, res);
            } catch (...) {
                res.status = 500;
                res.set_content("internal error", "text/plain");
            }
        };
    };
    auto command = guardedForm([this, xml](const std::string& body, Response& res) {
        CommandRequest cmd;
        if (ParseCommandBody(body, cmd)) {
            const std::string name = std::to_string(cmd.cmdtype) + "/" + std::to_string(cmd.cmdid);
            m_stall.BeforeCommand(name);
            res.set_header("X-Command", name);
        }
        xml(res, m_commands.HandleBody(body));
    });
    auto folder = guardedForm([this](const std::string& body, Response& res) {
        res.set_content(m_commands.FolderRequest(body), "text/plain; charset=gbk");
    });
    auto version = guarded([this, xml](const Request&, Response& res) { xml(res, m_commands.ClientVersionAnswer()); });
    for (const char* service : {"ClientService.asmx", "clientservice.asmx"}) {
        std::string base = std::string("/plindo/client/") + service + "/";
        m_server->Post(base + "SendCommand", command);
        m_server->Post(base + "DeleteFundFormTopic", folder);
        m_server->Post(base + "GetClientVersion", version);
        m_server->Get(base + "GetClientVersion", version);
    }
    auto file = guarded([this](const Request& req, Response& res) {
        std::string body, type;
        if (!m_pages.Get(req.path.substr(1), body, type)) {
            res.status = 404;
            return;
        }
        res.set_content(std::move(body), type.c_str());
    });
    m_server->Get(R"(/(stylemain\.css|vextalnew\.htm|vextal\.htm|stockindex\.htm|fundkey\.txt|image/logoweb\.gif))", file);
    m_server->Get(R"(/Update/[A-Za-z.]+)", file);

    // The fund disclosure site's page of one fund: its newest NAV in a table
    // whose header cell reads 累计净值, in GBK like the rest of that site.
    auto disclosure = guarded([this](const Request& req, Response& res) {
        const SimFund* fund = m_market.FindFund(req.get_param_value("fundCode"));
        LatestValue latest;
        if (!fund || !m_market.Latest(*fund, Clock::Now(), latest)) {
            res.status = 404;
            return;
        }
        const char* cell = "<td align=\"center\" height=\"20\">";
        std::string page = std::string("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                       "charset=gbk\"><title>") + fund->name + "</title></head><body><table><tr>" +
                           cell + "净值日期</td>" + cell + "单位净值</td>" + cell + "累计净值</td></tr><tr>" + cell +
                           DateOfDay(latest.rec.day).Format(1) + "</td>" + cell +
                           StrFormat("%0.4f", latest.rec.nav) + "</td>" + cell + StrFormat("%0.4f", latest.rec.acc) +
                           "</td></tr></table></body></html>";
        res.set_content(Utf8ToGbk(page), "text/html; charset=gbk");
    });
    m_server->Get("/jjzx/jjjz.jsp", disclosure);

    // The data web service: GET with query parameters, XML answers in GBK.
    const std::string dataBase = "/plindo/common/plindoservice.asmx/";
    m_server->Get(dataBase + "GetNewFundInvestInfo", guarded([this, xml](const Request& req, Response& res) {
        xml(res, m_data.FundInvestInfo(req.get_param_value("fundid")));
    }));
    m_server->Get(dataBase + "GetNewFundCalcResult", guarded([this, xml](const Request& req, Response& res) {
        xml(res, m_data.CalcResult(req.get_param_value("FundIDList"), req.get_param_value("FundInvestVar")));
    }));
    m_server->Get(dataBase + "GetFundSplitInfo", guarded([this, xml](const Request& req, Response& res) {
        xml(res, m_data.SplitInfo(req.get_param_value("fundid"), std::atoi(req.get_param_value("TypeFlag").c_str())));
    }));
    // The quote site: one stock's quote line.
    m_server->Get(R"(/htmdata/html/([0-9A-Za-z]{1,12})\.htm)", guarded([this](const Request& req, Response& res) {
        std::string page;
        if (!m_data.QuotePage(req.matches[1].str(), page)) {
            res.status = 404;
            return;
        }
        res.set_content(std::move(page), "text/html; charset=gbk");
    }));

    // The web site's pages (UTF-8 HTML); three of them take form posts.
    auto webPage = [this, &guarded](bool post) {
        return guarded([this, post](const Request& req, Response& res) {
            std::string html;
            if (!m_web.Page(req.path.substr(1), req.params, post, html)) {
                res.status = 404;
                return;
            }
            res.set_content(std::move(html), "text/html; charset=utf-8");
        });
    };
    for (const std::string& path : CWebPages::Paths()) {
        std::string pattern = "/";
        for (char c : path) pattern += c == '.' ? std::string("\\.") : std::string(1, c);
        m_server->Get(pattern, webPage(false));
        if (path == "plindo/SuggestView.aspx" || path == "plindo/Login.aspx" || path == "plindo/tool/financingnotepad.aspx")
            m_server->Post(pattern, webPage(true));
    }

    if (m_options.log) {
        m_server->set_logger([](const Request& req, const Response& res) {
            std::string what = res.get_header_value("X-Command");
            if (!what.empty()) what = " " + what;
            std::fprintf(stderr, "%s %s %s%s %d %zu\n", Clock::Now().Format(0).c_str(), req.method.c_str(),
                         req.path.c_str(), what.c_str(), res.status, res.body.size());
        });
    }
}

}  // namespace vextal

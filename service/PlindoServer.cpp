#include "PlindoServer.h"

#include "TradingCalendar.h"

#include "common/Format.h"

#include "net/Encoding.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "MarketFolder.h"
#include "MarketSimulator.h"
#include "common/Clock.h"

namespace vextal {

namespace {

// Hung answers (--hang) hold their workers until the stop, whether or not
// the client gave up: enough workers then that the rest still answer.
HttpLimits FrontLimits(const ServerOptions& options)
{
    HttpLimits limits;
    if (!options.hang.empty()) limits.workers = 96;
    return limits;
}

}  // namespace

std::shared_ptr<const CMarket> MakeMarket(const ServerOptions& options, std::string& error)
{
    if (options.marketDir.empty()) return std::make_shared<CMarketSimulator>(MarketOptions{options.seed, options.funds});
    const int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    std::shared_ptr<const CMarket> market = CFileMarket::Load(options.marketDir, error, threads);
    if (!market) error = "the market folder " + options.marketDir + " is refused: " + error;
    return market;
}

MarketServices::MarketServices(std::shared_ptr<const CMarket> m, CUserStore& users, const ServerOptions& options)
    : market(std::move(m)),
      pages(*market, options.dataDir, options.updateKeyPem),
      commands(*market, users, options.clientVersion),
      data(*market),
      web(*market, users)
{
}

CPlindoServer::CPlindoServer(const ServerOptions& options, std::shared_ptr<const CMarket> market)
    : m_options(options),
      m_stall(options.latencyMs, options.hang),
      m_server(std::make_unique<CHttpFront>(FrontLimits(options)))
{
    if (!market) {
        std::string error;
        market = MakeMarket(options, error);
        if (!market) throw std::runtime_error(error);
    }
    m_services = std::make_shared<MarketServices>(std::move(market), m_users, m_options);
}

CPlindoServer::~CPlindoServer()
{
    Stop(-1);
    if (m_lockFd >= 0) ::close(m_lockFd);
}

std::shared_ptr<MarketServices> CPlindoServer::Services() const
{
    std::lock_guard lock(m_servicesMutex);
    return m_services;
}

bool CPlindoServer::Start(std::string& error)
{
    // The latest values of the open-end funds (the first class list the
    // program asks for; computing it on request took seconds) are computed
    // while the store and the files are prepared, and before the first
    // request, which waits in the listen queue meanwhile; the other classes
    // in the background.
    const OleDate now = Clock::Now();
    const std::shared_ptr<MarketServices> services = Services();
    std::thread firstClass([this, now, services] {
        services->market->WarmLatest(now, {1, 5}, static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)),
                                     &m_stopWarming);
    });
    const bool opened = Open(error);
    if (!opened) m_stopWarming = true;
    firstClass.join();
    if (!opened) return false;
    if (!services->pages.Prepare(error)) return false;
    StartWarming(services);
    m_server->Start();
    return true;
}

void CPlindoServer::StartWarming(const std::shared_ptr<MarketServices>& services)
{
    if (m_warmer.joinable()) m_warmer.join();
    const OleDate now = Clock::Now();
    std::weak_ptr<const CMarket> market = services->market;
    m_warmer = std::thread([this, now, market] {
        RunAtBackgroundPriority();
        // A market swapped out meanwhile is not kept alive for this.
        if (auto m = market.lock()) m->WarmLatest(now, {2, 3, 4}, 1, &m_stopWarming);
    });
    services->web.StartWarming();
}

bool CPlindoServer::Reload(std::string& error)
{
    std::shared_ptr<const CMarket> market = MakeMarket(m_options, error);
    if (!market) return false;
    // The first class list ready before the swap, as at the start.
    market->WarmLatest(Clock::Now(), {1, 5}, static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)),
                       &m_stopWarming);
    auto services = std::make_shared<MarketServices>(std::move(market), m_users, m_options);
    m_stopWarming = true;
    if (m_warmer.joinable()) m_warmer.join();
    m_stopWarming = false;
    std::shared_ptr<MarketServices> old;
    {
        std::lock_guard lock(m_servicesMutex);
        old = std::exchange(m_services, services);
    }
    // The old market goes with its last request, or here, outside the lock
    // (its page warmer is joined on the way).
    old.reset();
    StartWarming(services);
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
    if (!TakeDataFolder(error)) return false;
    if (!m_users.Open(m_options.dataDir + "/plindo.db", error)) {
        error = "cannot open " + m_options.dataDir + "/plindo.db: " + error;
        return false;
    }
    Route();
    std::string why;
    if (!m_server->Listen("127.0.0.1", m_options.port, why)) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(m_options.port) + ": " + why;
        return false;
    }
    m_port = m_server->Port();
    return true;
}

// One service per data folder: two would write the same store and the same
// files. The lock ends with the process, however it ends. Then what is
// ours in the folder is made private to this account (older services left
// it readable by all), and temporary files of a start that was cut short
// go.
bool CPlindoServer::TakeDataFolder(std::string& error)
{
    namespace fs = std::filesystem;
    const std::string lockPath = m_options.dataDir + "/plindo.lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        error = "cannot open " + lockPath + ": " + std::strerror(errno);
        return false;
    }
    if (flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "the data folder " + m_options.dataDir + " is in use (another plindo-serve?)"
                                     : "cannot lock " + lockPath + ": " + std::strerror(errno);
        ::close(m_lockFd);
        m_lockFd = -1;
        return false;
    }
    std::error_code ec;
    const auto privateFile = fs::perms::owner_read | fs::perms::owner_write;
    for (const char* name : {"plindo.db", "plindo.db-wal", "plindo.db-shm", "plindo.lock"})
        if (fs::exists(m_options.dataDir + "/" + name, ec)) fs::permissions(m_options.dataDir + "/" + name, privateFile, ec);
    if (fs::exists(m_options.dataDir + "/plindo.db", ec)) fs::permissions(m_options.dataDir, fs::perms::owner_all, ec);
    const std::string update = m_options.dataDir + "/Update";
    if (fs::is_directory(update, ec)) {
        fs::permissions(update, fs::perms::owner_all, ec);
        for (const fs::directory_entry& entry : fs::directory_iterator(update, ec)) {
            const std::string name = entry.path().filename().string();
            const size_t mark = name.rfind(".new");
            if (mark != std::string::npos && mark + 4 < name.size() &&
                name.find_first_not_of("0123456789", mark + 4) == std::string::npos)
                fs::remove(entry.path(), ec);
            else if (entry.is_regular_file(ec))
                fs::permissions(entry.path(), privateFile, ec);
        }
    }
    return true;
}

bool CPlindoServer::Stop(int waitMs)
{
    m_stall.Release();
    m_stopWarming = true;
    const bool ended = !m_server || m_server->Stop(waitMs);
    if (m_warmer.joinable()) m_warmer.join();
    return ended;
}

void CPlindoServer::Route()
{
    CRequestStall* stall = &m_stall;
    // Every handler: the optional delay or hang, and no exception ever
    // reaches the server thread.
    auto guarded = [stall](auto fn) {
        return [stall, fn](const HttpRequest& req, HttpResponse& res) {
            stall->BeforeAnswer(req.path);
            try {
                fn(req, res);
            } catch (...) {
                res.status = 500;
                res.SetContent("internal error", "text/plain");
            }
        };
    };
    auto xml = [](HttpResponse& res, const std::string& body) { res.SetContent(body, "text/xml; charset=gbk"); };

    auto command = guarded([this, xml](const HttpRequest& req, HttpResponse& res) {
        CommandRequest cmd;
        const std::string answer = Services()->commands.HandleBody(req.body, req.remoteAddr, &cmd);
        if (cmd.cmdtype || cmd.cmdid) {
            res.note = std::to_string(cmd.cmdtype) + "/" + std::to_string(cmd.cmdid);
            m_stall.BeforeCommand(res.note);
        }
        xml(res, answer);
    });
    auto screen = [this, xml](const HttpRequest& head, std::string_view start, bool whole, HttpResponse& res) {
        std::string answer;
        const size_t length = static_cast<size_t>(std::max(0LL, IntegerOr(head.Header("content-length"), 0LL)));
        switch (Services()->commands.ScreenBody(start, whole, length, answer)) {
        case BodyScreen::More: return CHttpFront::Verdict::More;
        case BodyScreen::Read: return CHttpFront::Verdict::Read;
        case BodyScreen::Answered: break;
        }
        res.note = "screened";
        xml(res, answer);
        return CHttpFront::Verdict::Answer;
    };
    auto folder = guarded([this](const HttpRequest& req, HttpResponse& res) {
        res.SetContent(Services()->commands.FolderRequest(req.body), "text/plain; charset=gbk");
    });
    auto version = guarded([this, xml](const HttpRequest&, HttpResponse& res) { xml(res, Services()->commands.ClientVersionAnswer()); });
    for (const char* service : {"ClientService.asmx", "clientservice.asmx"}) {
        std::string base = std::string("/plindo/client/") + service + "/";
        m_server->Post(base + "SendCommand", kMaxRequestBytes, command, false, screen);
        m_server->Post(base + "DeleteFundFormTopic", kMaxFormBytes, folder);
        m_server->Post(base + "GetClientVersion", kMaxFormBytes, version);
        m_server->Get(base + "GetClientVersion", version);
    }
    auto file = guarded([this](const HttpRequest& req, HttpResponse& res) {
        std::string body, type;
        if (!Services()->pages.Get(req.path.substr(1), body, type)) {
            res.status = 404;
            return;
        }
        res.SetContent(std::move(body), type);
    });
    m_server->Get(R"(/(stylemain\.css|vextalnew\.htm|vextal\.htm|stockindex\.htm|fundkey\.txt|image/logoweb\.gif))", file);
    m_server->Get(R"(/Update/[A-Za-z.]+)", file);

    // The fund disclosure site's page of one fund: its newest NAV in a table
    // whose header cell reads 累计净值, in GBK like the rest of that site.
    auto disclosure = guarded([this](const HttpRequest& req, HttpResponse& res) {
        const std::shared_ptr<MarketServices> services = Services();
        const MarketFund* fund = services->market->FindFund(req.Param("fundCode"));
        LatestValue latest;
        if (!fund || !services->market->Latest(*fund, Clock::Now(), latest)) {
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
        res.SetContent(Utf8ToGbk(page), "text/html; charset=gbk");
    });
    m_server->Get("/jjzx/jjjz.jsp", disclosure);

    // The data web service: GET with query parameters, XML answers in GBK.
    const std::string dataBase = "/plindo/common/plindoservice.asmx/";
    m_server->Get(dataBase + "GetNewFundInvestInfo", guarded([this, xml](const HttpRequest& req, HttpResponse& res) {
        xml(res, Services()->data.FundInvestInfo(req.Param("fundid")));
    }));
    m_server->Get(dataBase + "GetNewFundCalcResult", guarded([this, xml](const HttpRequest& req, HttpResponse& res) {
        xml(res, Services()->data.CalcResult(req.Param("FundIDList"), req.Param("FundInvestVar")));
    }));
    m_server->Get(dataBase + "GetFundSplitInfo", guarded([this, xml](const HttpRequest& req, HttpResponse& res) {
        xml(res, Services()->data.SplitInfo(req.Param("fundid"), IntegerOr(req.Param("TypeFlag"), 0) == 1 ? 1 : 0));
    }));
    // The quote site: one stock's quote line.
    m_server->Get(R"(/htmdata/html/([0-9A-Za-z]{1,12})\.htm)", guarded([this](const HttpRequest& req, HttpResponse& res) {
        std::string page;
        if (!Services()->data.QuotePage(req.matches[1].str(), page)) {
            res.status = 404;
            return;
        }
        res.SetContent(std::move(page), "text/html; charset=gbk");
    }));

    // The web site's pages (UTF-8 HTML); three of them take form posts.
    auto webPage = [this, &guarded](bool post) {
        return guarded([this, post](const HttpRequest& req, HttpResponse& res) {
            std::string html;
            if (!Services()->web.Page(req.path.substr(1), req.params, post, html)) {
                res.status = 404;
                return;
            }
            res.SetContent(std::move(html), "text/html; charset=utf-8");
        });
    };
    for (const std::string& path : CWebPages::Paths()) {
        std::string pattern = "/";
        for (char c : path) pattern += c == '.' ? std::string("\\.") : std::string(1, c);
        m_server->Get(pattern, webPage(false));
        if (path == "plindo/SuggestView.aspx" || path == "plindo/Login.aspx" || path == "plindo/tool/financingnotepad.aspx")
            m_server->Post(pattern, kMaxFormBytes, webPage(true), true);
    }

    if (m_options.log) {
        m_server->SetLogger([](const HttpRequest& req, const HttpResponse& res) {
            std::string what = res.note.empty() ? std::string() : " " + res.note;
            std::fprintf(stderr, "%s %s %s%s %d %zu\n", Clock::Now().Format(0).c_str(), req.method.c_str(),
                         req.path.c_str(), what.c_str(), res.status, res.body.size());
        });
    }
}

}  // namespace vextal

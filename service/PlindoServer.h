#pragma once
// The plindo-serve process core: the HTTP endpoints on 127.0.0.1 over the
// command service, the page files and the update folder.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CommandService.h"
#include "DataWebService.h"
#include "HttpFront.h"
#include "MarketSimulator.h"
#include "PageFiles.h"
#include "RequestStall.h"
#include "UserStore.h"
#include "WebPages.h"

namespace vextal {

struct ServerOptions {
    int port = 8610;  // 0 picks a free port
    std::string dataDir;
    uint64_t seed = 1;
    int funds = 1000;
    // A market folder to serve in place of the simulated market (seed and
    // funds then go unused); SIGHUP reads it again (Reload).
    std::string marketDir;
    int latencyMs = 0;
    std::vector<std::string> hang;  // requests never answered: path prefixes or commands "T/I"
    std::string clientVersion = "3.25";
    std::string updateKeyPem;  // signs the updaters; empty: served unsigned
    bool log = true;  // one line per request on stderr
};

// The largest request body: a member's whole bookkeeping text travels in one
// form field, and 20,000 trades take about 2.5 MB.
inline constexpr size_t kMaxRequestBytes = size_t(4) << 20;
// The other form posts: a note, a suggestion, a login, a folder change.
inline constexpr size_t kMaxFormBytes = size_t(64) << 10;

// Everything that answers from the market, over one market: a reload
// builds a new one beside it and swaps it in whole, and a request keeps the
// one it started with to its end.
struct MarketServices {
    MarketServices(std::shared_ptr<const CMarket> market, CUserStore& users, const ServerOptions& options);
    std::shared_ptr<const CMarket> market;
    CPageFiles pages;
    CCommandService commands;
    CDataWebService data;
    CWebPages web;
};

// The market the options name: the folder's, or the simulated one.
std::shared_ptr<const CMarket> MakeMarket(const ServerOptions& options, std::string& error);

class CPlindoServer {
public:
    explicit CPlindoServer(const ServerOptions& options, std::shared_ptr<const CMarket> market = nullptr);
    ~CPlindoServer();

    // Opens the store, prepares the files and starts listening on a thread.
    bool Start(std::string& error);
    // Reads the market folder again and serves it from the next request on;
    // a folder with a fault changes nothing and gives the fault.
    bool Reload(std::string& error);
    int Port() const { return m_port; }
    // Stops listening and waits at most `waitMs` (-1: without end) for
    // the requests being handled; false when one still runs, and then the
    // process must end without freeing the server.
    bool Stop(int waitMs);

    std::shared_ptr<const CMarket> Market() const { return Services()->market; }

private:
    // Checks the data folder, opens the store, prepares the files and binds.
    bool Open(std::string& error);
    bool TakeDataFolder(std::string& error);
    void Route();
    std::shared_ptr<MarketServices> Services() const;
    void StartWarming(const std::shared_ptr<MarketServices>& services);

    ServerOptions m_options;
    CUserStore m_users;
    mutable std::mutex m_servicesMutex;
    std::shared_ptr<MarketServices> m_services;
    CRequestStall m_stall;
    std::unique_ptr<CHttpFront> m_server;
    std::thread m_warmer;
    std::atomic<bool> m_stopWarming{false};
    int m_port = 0;
    int m_lockFd = -1;
};

}  // namespace vextal

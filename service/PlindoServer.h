#pragma once
// The plindo-serve process core: the HTTP endpoints on 127.0.0.1 over the
// command service, the page files and the update folder.
#include <atomic>
#include <cstdint>
#include <memory>
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

class CPlindoServer {
public:
    explicit CPlindoServer(const ServerOptions& options);
    ~CPlindoServer();

    // Opens the store, prepares the files and starts listening on a thread.
    bool Start(std::string& error);
    int Port() const { return m_port; }
    // Stops listening and waits at most `waitMs` (-1: without end) for
    // the requests being handled; false when one still runs, and then the
    // process must end without freeing the server.
    bool Stop(int waitMs);

    const CMarketSimulator& Market() const { return m_market; }

private:
    // Checks the data folder, opens the store, prepares the files and binds.
    bool Open(std::string& error);
    bool TakeDataFolder(std::string& error);
    void Route();

    ServerOptions m_options;
    CMarketSimulator m_market;
    CUserStore m_users;
    CPageFiles m_pages;
    CCommandService m_commands;
    CDataWebService m_data;
    CWebPages m_web;
    CRequestStall m_stall;
    std::unique_ptr<CHttpFront> m_server;
    std::thread m_warmer;
    std::atomic<bool> m_stopWarming{false};
    int m_port = 0;
    int m_lockFd = -1;
};

}  // namespace vextal

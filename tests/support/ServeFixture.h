#pragma once
// The real plindo-serve for a test: one process on an ephemeral loopback
// port with a fixed seed, size and clock, reached directly (no proxy), and
// the same market simulator it runs for the expected figures.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "MarketSimulator.h"
#include "ServiceProcess.h"
#include "common/Format.h"
#include "common/OleDate.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/HttpTransport.h"
#include "support/DirectHttp.h"

namespace vextal::test {

struct ServeOptions {
    ServeOptions(uint64_t seed_ = 7, int funds_ = 200, std::string now_ = {}, std::vector<std::string> extra_ = {},
                 bool quiet_ = true, std::string binary_ = PLINDO_SERVE_PATH)
        : seed(seed_), funds(funds_), now(std::move(now_)), extra(std::move(extra_)), quiet(quiet_),
          binary(std::move(binary_))
    {
    }
    uint64_t seed;
    int funds;
    std::string now;                 // "YYYY-MM-DD hh:mm:ss"; empty: the service's own clock
    std::vector<std::string> extra;  // further options
    bool quiet;
    std::string binary;
};

class RealService {
public:
    explicit RealService(const ServeOptions& o) : m_process(o.binary, Arguments(o)) {}

    bool Started() const { return m_process.Port() > 0; }
    CServiceProcess& Process() { return m_process; }
    std::string Base() const { return m_process.Base(); }
    std::string CommandUrl() const { return MakeCommandUrl(m_process.Base()); }
    const std::string& DataDir() const { return m_process.DataDir(); }

    CommandContext Anonymous() const
    {
        CommandContext c;
        c.commandUrl = CommandUrl();
        return c;
    }
    CommandReply LoginReply(const std::string& name = "demo", const std::string& password = "demo123") const
    {
        return SendLogin(Anonymous(), name, password, "3.25");
    }
    // A logged-in session, and the member's id in `user`; a refused login
    // fails the test and gives an anonymous context.
    CommandContext Login(const std::string& name = "demo", const std::string& password = "demo123",
                         int* user = nullptr) const
    {
        CommandReply r = LoginReply(name, password);
        EXPECT_TRUE(r.ok()) << r.error;
        CommandContext c = Anonymous();
        c.loginId = r.serverId;
        if (user) *user = r.ok() ? static_cast<int>(IntegerOr(r.fields.at(0), 0)) : 0;
        return c;
    }

private:
    static std::vector<std::string> Arguments(const ServeOptions& o)
    {
        std::vector<std::string> a = {"--seed", std::to_string(o.seed), "--funds", std::to_string(o.funds)};
        if (!o.now.empty()) a.insert(a.end(), {"--now", o.now});
        if (o.quiet) a.push_back("--quiet");
        a.insert(a.end(), o.extra.begin(), o.extra.end());
        return a;
    }

    CServiceProcess m_process;
};

// plindo-serve run with `args` (shell words) to its end, for at most 20 s:
// its exit status, and what it wrote to stdout and stderr in `output`.
inline int RunServe(const std::string& args, std::string& output)
{
    FILE* p = popen(("timeout 20 " + std::string(PLINDO_SERVE_PATH) + " " + args + " 2>&1").c_str(), "r");
    output.clear();
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) output += buf;
    const int status = p ? pclose(p) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts the service and fails the calling test (ASSERT) when it does not come up.
#define VEXTAL_ASSERT_STARTED(svc) ASSERT_TRUE((svc) && (svc)->Started()) << "plindo-serve did not start"

// One service for all the tests of a suite: a suite calls StartSuite from
// its own SetUpTestSuite; every test fails at once when it did not start.
class ServiceSuite : public ::testing::Test {
protected:
    static void StartSuite(const ServeOptions& o)
    {
        UseDirectHttp();
        s_service = new RealService(o);
    }
    static void TearDownTestSuite()
    {
        delete s_service;
        s_service = nullptr;
    }
    void SetUp() override { VEXTAL_ASSERT_STARTED(s_service); }

    static CommandContext Anonymous() { return s_service->Anonymous(); }
    static CommandContext Login(const std::string& name = "demo", const std::string& password = "demo123",
                                int* user = nullptr)
    {
        return s_service->Login(name, password, user);
    }

    static inline RealService* s_service = nullptr;
};

// The simulator of a seed and size, made once per test binary.
inline const CMarketSimulator& SimulatedMarket(uint64_t seed, int funds)
{
    static std::map<std::pair<uint64_t, int>, std::unique_ptr<CMarketSimulator>> markets;
    auto& m = markets[{seed, funds}];
    if (!m) m = std::make_unique<CMarketSimulator>(MarketOptions{seed, funds});
    return *m;
}

// The first fund listed before 2015, never withdrawn, that `pred` accepts.
inline const SimFund& EstablishedFund(const CMarketSimulator& market, const std::function<bool(const SimFund&)>& pred,
                                      int skip = 0)
{
    const int before = DayNumber(OleDate::FromParts(2015, 1, 1));
    for (const SimFund& f : market.Funds())
        if (f.createDay < before && !f.withdrawDay && pred(f) && skip-- == 0) return f;
    throw std::runtime_error("no such fund in the simulated market");
}

}  // namespace vextal::test

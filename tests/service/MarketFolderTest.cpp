// Market folders: the simulated market written as one and served back gives
// the program the very same answers; a folder with a fault is refused whole
// with the file and line; SIGHUP serves the day appended.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "MarketFolder.h"
#include "MarketSimulator.h"
#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

using test::RealService;
using test::ServeOptions;
namespace fs = std::filesystem;

constexpr uint64_t kSeed = 11;

struct TempDir {
    TempDir()
    {
        char tmpl[] = "/tmp/vextal-market-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string path;
};
constexpr int kFunds = 300;

std::string Export(const std::string& dir, const char* from, const char* to)
{
    const std::string cmd = std::string(PLINDO_SERVE_PATH) + " --export-market " + dir + " --seed " +
                            std::to_string(kSeed) + " --funds " + std::to_string(kFunds) + " --from " + from +
                            " --to " + to;
    return std::system(cmd.c_str()) == 0 ? dir : std::string();
}

// Every market request the program makes, as raw text of the answer.
class Requests {
public:
    Requests(RealService& s, const std::string& loginId) : m_s(s), m_login(loginId) {}

    std::string Command(int type, int id, const std::string& data) const
    {
        std::string text;
        if (!HttpPostCommand(m_s.CommandUrl(), text, BuildCommand(type, id, data, m_login), "")) return "(failed)";
        return text;
    }
    std::string Get(const std::string& path) const
    {
        std::string text;
        const int status = HttpGetText(m_s.Base() + path, text, "", "");
        return std::to_string(status) + " " + text;
    }

private:
    RealService& m_s;
    std::string m_login;
};

// The same requests to the simulator and to the folder written from it.
void CompareAt(const std::string& folder, const std::string& now)
{
    RealService sim(ServeOptions(kSeed, kFunds, now));
    RealService files(ServeOptions(kSeed, kFunds, now, {"--market", folder}));
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(files.Started());
    const Requests a(sim, sim.Login().loginId), b(files, files.Login().loginId);
    const CMarketSimulator market(MarketOptions{kSeed, kFunds});
    OleDate clock;
    ASSERT_TRUE(OleDate::Parse(now, clock));
    const int today = DayNumber(clock);
    const std::string day = DateOfDay(today).Format(1), yearAgo = DateOfDay(today - 400).Format(1);
    int compared = 0;
    auto same = [&](const std::string& what, const std::string& x, const std::string& y) {
        ++compared;
        ASSERT_EQ(x, y) << what << " at " << now;
    };
    auto cmd = [&](int type, int id, const std::string& data) {
        same(std::to_string(type) + "/" + std::to_string(id) + " " + data, a.Command(type, id, data),
             b.Command(type, id, data));
    };
    auto get = [&](const std::string& path) { same(path, a.Get(path), b.Get(path)); };

    for (const auto& [type, id, data] : std::vector<std::tuple<int, int, std::string>>{
             {1, 1, "0"}, {1, 11, "0"}, {1, 13, "0"}, {2, 1, "0"}, {2, 2, "0"}, {2, 3, "0"}, {2, 4, "0"},
             {2, 1, "20250101"}})
        ASSERT_NO_FATAL_FAILURE(cmd(type, id, data));
    for (int k = 1; k <= 3; ++k)
        ASSERT_NO_FATAL_FAILURE(cmd(1, 21, yearAgo + "|" + day + "|" + std::to_string(k) + "|" +
                                               market.Indices()[static_cast<size_t>(k - 1)].code));
    // A few funds of every kind, and the stocks they hold.
    std::vector<const MarketFund*> picked;
    int kinds[6] = {};
    for (const MarketFund& f : market.Funds())
        if (f.createDay < today - 400 && kinds[CMarket::FundClass(f)]++ < 3) picked.push_back(&f);
    std::string codes;
    for (const MarketFund* f : picked) codes += (codes.empty() ? "" : "|") + f->code;
    ASSERT_NO_FATAL_FAILURE(cmd(2, 5, codes));
    ASSERT_NO_FATAL_FAILURE(cmd(2, 25, codes));
    for (const MarketFund* f : picked) {
        const std::string& c = f->code;
        ASSERT_NO_FATAL_FAILURE(cmd(2, 11, c + "|1998-01-01|" + day + "|0"));
        ASSERT_NO_FATAL_FAILURE(cmd(2, 11, c + "|" + yearAgo + "|" + day + "|1"));
        for (int kind : {0, 1, 2, 3, 4, 10, 11, 31})
            for (int stat : {0, 6, 17})
                ASSERT_NO_FATAL_FAILURE(cmd(2, 12, c + "|" + yearAgo + "|" + day + "|" + std::to_string(kind) + "|" +
                                                       std::to_string(stat)));
        ASSERT_NO_FATAL_FAILURE(cmd(2, 13, c + "|1998-01-01|" + day + "|1000"));
        ASSERT_NO_FATAL_FAILURE(cmd(2, 21, c + "|" + DateOfDay(today - 30).Format(1) + " 10:00:00"));
        ASSERT_NO_FATAL_FAILURE(cmd(2, 21, c + "|" + day + " 10:00:00"));
        ASSERT_NO_FATAL_FAILURE(cmd(2, 22, c));
        ASSERT_NO_FATAL_FAILURE(cmd(2, 23, c + "|" + yearAgo + "|" + day));
        ASSERT_NO_FATAL_FAILURE(cmd(2, 24, c));
        const std::string base = "plindo/common/plindoservice.asmx/";
        ASSERT_NO_FATAL_FAILURE(get(base + "GetNewFundInvestInfo?fundid=" + c));
        ASSERT_NO_FATAL_FAILURE(get(base + "GetFundSplitInfo?fundid=" + c + "&TypeFlag=0"));
        ASSERT_NO_FATAL_FAILURE(get("jjzx/jjjz.jsp?fundCode=" + c));
        ASSERT_NO_FATAL_FAILURE(get("fundinfo/FundInfoClient.asp?FundID=" + c));
        ASSERT_NO_FATAL_FAILURE(get("plindo/newvip/RealtimeCalcView.aspx?fundid=" + c));
        for (const Holding& h : market.Holdings(*f, today))
            ASSERT_NO_FATAL_FAILURE(get("htmdata/html/" + market.Stocks()[static_cast<size_t>(h.stock)].code + ".htm"));
    }
    ASSERT_NO_FATAL_FAILURE(get("plindo/common/plindoservice.asmx/GetNewFundCalcResult?FundIDList=" +
                                picked[0]->code + "," + picked[1]->code + "&FundInvestVar=0.5,-0.25"));
    for (const std::string& page : std::vector<std::string>{"stockindex.htm", "vextalnew.htm", "html/top/StatTopView.htm", "vip/realstock.asp",
                                    "html/Data/FundState.htm", "plindo/tool/FundFilterView.aspx?invest=1&sort=week",
                                    "plindo/Tool/FundCompareIndex.aspx?funds=" + picked[0]->code + "," + picked[4]->code})
        ASSERT_NO_FATAL_FAILURE(get(page));
    EXPECT_GT(compared, 400);
}

TEST(MarketFolder, TheExportedSimulatorAnswersAsTheSimulator)
{
    TempDir dir;
    // Every NAV since each fund began; the minutes of the last two days.
    const std::string folder = Export(dir.path + "/market", "2025-06-17", "2025-06-18");
    ASSERT_FALSE(folder.empty());
    // While the stocks trade, and once the day's NAVs are out.
    ASSERT_NO_FATAL_FAILURE(CompareAt(folder, "2025-06-18 14:30:00"));
    ASSERT_NO_FATAL_FAILURE(CompareAt(folder, "2025-06-18 21:00:00"));
}

}  // namespace
}  // namespace vextal

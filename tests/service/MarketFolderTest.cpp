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
#include "net/Encoding.h"
#include "support/Files.h"
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

// The same requests to the simulator and to the folder written from it.
void CompareAt(const std::string& folder, const std::string& now)
{
    RealService sim(ServeOptions(kSeed, kFunds, now));
    RealService files(ServeOptions(kSeed, kFunds, now, {"--market", folder}));
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(files.Started());
    const std::string loginA = sim.Login().loginId, loginB = files.Login().loginId;
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
    // Every market request the program makes, as raw text of the answer.
    auto command = [](const RealService& s, const std::string& login, int type, int id, const std::string& data) {
        std::string text;
        return HttpPostCommand(s.CommandUrl(), text, BuildCommand(type, id, data, login), "") ? text : "(failed)";
    };
    auto page = [](const RealService& s, const std::string& path) {
        std::string text;
        const int status = HttpGetText(s.Base() + path, text, "", "");
        return std::to_string(status) + " " + text;
    };
    auto cmd = [&](int type, int id, const std::string& data) {
        same(std::to_string(type) + "/" + std::to_string(id) + " " + data, command(sim, loginA, type, id, data),
             command(files, loginB, type, id, data));
    };
    auto get = [&](const std::string& path) { same(path, page(sim, path), page(files, path)); };

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
        for (int kind : {0, 3, 4, 10, 31})
            for (int stat : {0, 17})
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
    EXPECT_GT(compared, 300);
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

// The example folder with one change: `from` replaced by `to` in `file`
// (the whole file when `from` is empty; a missing file when both are).
std::string Altered(const std::string& root, const std::string& file, const std::string& from, const std::string& to)
{
    const std::string dir = root + "/case";
    fs::remove_all(dir);
    fs::copy(VEXTAL_MARKET_EXAMPLE, dir, fs::copy_options::recursive);
    const fs::path p = fs::path(dir) / file;
    if (from.empty() && to.empty()) {
        fs::remove(p);
    } else if (from.empty()) {
        test::WriteWholeFile(p, to);
    } else {
        std::string text = test::ReadWholeFile(p);
        const size_t at = text.find(from);
        if (at == std::string::npos) return {};
        test::WriteWholeFile(p, text.replace(at, from.size(), to));
    }
    return dir;
}

TEST(MarketFolder, AFaultyFileRefusesTheWholeFolderWithItsLine)
{
    TempDir tmp;
    std::string error;
    // The example itself loads, and so does its catalogue in GBK with a byte-order mark.
    ASSERT_TRUE(CFileMarket::Load(VEXTAL_MARKET_EXAMPLE, error)) << error;
    {
        const std::string dir = Altered(tmp.path, "funds.csv", "", "");
        std::string funds = test::ReadWholeFile(std::string(VEXTAL_MARKET_EXAMPLE) + "/funds.csv");
        funds.replace(funds.find(",澄江成长精选混合,"), 26, ", \"澄江\"\"成长\"\",精选\" ,");
        test::WriteWholeFile(dir + "/funds.csv", "\xEF\xBB\xBF" + Utf8ToGbk(funds));
        auto m = CFileMarket::Load(dir, error);
        ASSERT_TRUE(m) << error;
        EXPECT_EQ(m->FindFund("910001")->name, "澄江成长精选混合型证券投资基金");
        EXPECT_EQ(m->FindFund("910001")->shortName, "澄江\"成长\",精选");
    }
    struct Case {
        const char* file;
        std::string from, to, error;
    };
    const Case cases[] = {
        {"funds.csv", "", "", "funds.csv: missing (every folder needs it)"},
        {"funds.csv", "0101,开放式,货币", "0101,基金,货币",
         "funds.csv:4: type must be one of 开放式, 封闭式, ETF, LOF, 集合理财: \"基金\""},
        {"funds.csv", "910002,", "910001,", "funds.csv:3: fund 910001 again (first on line 2)"},
        {"funds.csv", "0102,开放式,股票", "0103,开放式,股票", "funds.csv:5: company \"0103\" is not in companies.csv"},
        {"funds.csv", "2016-07-04", "2016-02-30", "funds.csv:3: founded: not a date (YYYY-MM-DD): \"2016-02-30\""},
        {"funds.csv", "澄江稳健添利债券,", "澄江稳健|添利债券,",
         "funds.csv:3: short_name \"澄江稳健|添利债券\" holds a character the service cannot send (< > & |, a control "
         "character, or one GBK lacks)"},
        {"funds.csv", "澄江稳健添利债券,", "\"澄江稳健添利债券,", "funds.csv:3: a quote is not closed"},
        {"companies.csv", "0102,远山", "0102,远山,x,y,z", "companies.csv:3: 7 fields, the header names 4"},
        {"nav/910001.csv", "2025-10-13", "2025-10-10",
         "nav/910001.csv:209: dates must increase: 2025-10-10 follows 2025-10-10"},
        {"nav/910001.csv", "2025-10-13,1.1919", "2025-10-13,1.49七2", "nav/910001.csv:209: nav: not a number: \"1.49七2\""},
        {"nav/910001.csv", "2025-10-13,1.1919", "2025-10-13,nan", "nav/910001.csv:209: nav: not a number: \"nan\""},
        {"nav/910001.csv", "2025-10-13,1.1919", "2025-10-13,1e400", "nav/910001.csv:209: nav: not a number: \"1e400\""},
        {"funds.csv", "澄江现金宝货币,", "澄江现金宝😀,",
         "funds.csv:4: short_name \"澄江现金宝😀\" holds a character the service cannot send (< > & |, a control "
         "character, or one GBK lacks)"},
        {"nav/910001.csv", "2025-10-13,1.1919", "2025-10-13,-1.4972",
         "nav/910001.csv:209: nav must be above 0: \"-1.4972\""},
        {"nav/910001.csv", "2024-12-02", "2019-03-15",
         "nav/910001.csv:2: date 2019-03-15 lies before the fund was founded (2019-03-18)"},
        {"nav/910003.csv", "date,income,yield", "date,nav,acc",
         "nav/910003.csv:1: unknown column \"nav\" (the columns are date, income, yield); a money-market fund's NAV "
         "file has date,income,yield"},
        {"nav/930001.csv", "", "date,nav,acc\n", "nav/930001.csv: no fund \"930001\" in funds.csv"},
        {"holdings.csv", "910001,2025-10-24,601988,海融证券,5.02", "910001,2025-10-24,601988,海融证券,75.02",
         "holdings.csv:18: the holdings of 910001 on 2025-10-24 add up to 106.86%, more than the whole fund"},
        {"holdings.csv", "920001,2025-10-24,000950", "920009,2025-10-24,000950",
         "holdings.csv:19: no fund \"920009\" in funds.csv"},
        {"dividends.csv", "920002,", "910003,", "dividends.csv:2: 910003 is a money-market fund: its income is in its NAV file"},
        {"quotes/2025-11-29.csv", "", "time,stock,price,prev_close\n",
         "quotes/2025-11-29.csv: 2025-11-29 is not a trading day"},
        {"quotes/2025-11-28.csv", "10:00:00,600901", "10:60:00,600901",
         "quotes/2025-11-28.csv:3: time: not a time of day (HH:MM:SS): \"10:60:00\""},
        {"indices/000300.csv", "", "date,close\n",
         "indices/000300.csv: the index files are 1A0001.csv, 399001.csv and 399300.csv"},
        {"companies.csv", "", "id,name\n0101,\xB3\xCE\xFF\n", "companies.csv:2: neither UTF-8 nor GBK text"},
    };
    for (const Case& c : cases) {
        const std::string dir = Altered(tmp.path, c.file, c.from, c.to);
        ASSERT_FALSE(dir.empty()) << c.file << ": no " << c.from;
        std::unique_ptr<CFileMarket> m = CFileMarket::Load(dir, error);
        EXPECT_FALSE(m) << c.file;
        EXPECT_EQ(error, c.error);
    }
}

// The latest NAV record (2/22) of a fund: "nav|acc|pct|var|date".
std::string LatestNav(const RealService& s, const CommandContext& c, const std::string& code)
{
    std::string text;
    HttpPostCommand(s.CommandUrl(), text, BuildCommand(2, 22, code, c.loginId), "");
    int ret = -1;
    std::string msg;
    ParseCommandAnswer(GbkToUtf8(text), ret, msg);
    return msg;
}

TEST(MarketFolder, SighupServesTheDayAppendedAndKeepsTheOldMarketOnAFault)
{
    TempDir tmp;
    const std::string dir = tmp.path + "/market";
    fs::copy(VEXTAL_MARKET_EXAMPLE, dir, fs::copy_options::recursive);
    RealService s(ServeOptions(kSeed, kFunds, "2025-12-01 21:00:00", {"--market", dir}));
    ASSERT_TRUE(s.Started());
    const CommandContext c = s.Login();
    const std::string before = LatestNav(s, c, "910001");
    ASSERT_NE(before.find("2025-11-28"), std::string::npos) << before;
    auto reloaded = [&](const std::string& expected, int tries = 100) {
        EXPECT_EQ(kill(s.Process().Pid(), SIGHUP), 0);
        for (int i = 0; i < tries; ++i) {
            if (LatestNav(s, c, "910001") == expected) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    // Monday's NAV appended: served, its change from Friday's NAV computed.
    std::ofstream(dir + "/nav/910001.csv", std::ios::app) << "2025-12-01,1.5250,2.3780\n";
    const double friday = NumberOr(before.substr(0, before.find('|')), 0);
    const std::string monday =
        StrFormat("1.5250|2.3780|%0.2f|%0.4f|2025-12-01", (1.5250 / friday - 1) * 100, 1.5250 - friday);
    ASSERT_TRUE(reloaded(monday)) << LatestNav(s, c, "910001");
    // A faulty line: the reload is refused and Monday stays.
    std::ofstream(dir + "/nav/910001.csv", std::ios::app) << "2025-12-02,abc,2.3780\n";
    EXPECT_FALSE(reloaded("", 20)) << "the service stopped answering";
    EXPECT_EQ(LatestNav(s, c, "910001"), monday);

    // A faulty folder does not start the service at all.
    std::string out;
    EXPECT_EQ(test::RunServe("--port 0 --data " + tmp.path + "/data --market " + dir + " --quiet", out), 1);
    EXPECT_EQ(out, "plindo-serve: the market folder " + dir + " is refused: nav/910001.csv:245: nav: not a number: \"abc\"\n");
}

}  // namespace
}  // namespace vextal

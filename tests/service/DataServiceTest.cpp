// The data web service, the quote site and the web site pages of the real
// plindo-serve during a trading session, asked as the program asks them.
#include <gtest/gtest.h>

#include <httplib.h>

#include <set>

#include "MarketSimulator.h"
#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "net/DataService.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

// Thursday 2024-10-10, 10:17: the morning session runs.
const OleDate kNow = OleDate::FromParts(2024, 10, 10, 10, 17, 0);

class DataService : public test::ServiceSuite {
protected:
    static void SetUpTestSuite()
    {
        StartSuite({7, 200, "2024-10-10 10:17:00"});
        s_market = &test::SimulatedMarket(7, 200);
    }

    static const SimFund& Pick(bool (*pred)(const SimFund&), int skip = 0)
    {
        return test::EstablishedFund(*s_market, pred, skip);
    }
    static bool StockFund(const SimFund& f) { return f.fundType == 1 && f.HoldsStocks(); }

    static inline const CMarketSimulator* s_market = nullptr;
};

bool Has(const std::string& page, const std::string& what) { return page.find(what) != std::string::npos; }

// The disclosed holdings as the simulated fund runs on them, each with its
// stock's industry (the look-through exposure sums by it); none for a bond
// fund or an unknown code. (A stock fund's holdings, the quotes and the
// calibration make the estimate that EstimateServeTest compares with the
// simulator's growth.)
TEST_F(DataService, HoldingsCarryTheirIndustry)
{
    const SimFund& f = Pick(StockFund);
    const std::vector<Holding> held = s_market->Holdings(f, DayNumber(kNow));
    CFundInvestCache cache;
    std::vector<CFundInvestItem> items;
    for (const std::string& none : {Pick([](const SimFund& x) { return x.investType == 3; }).code, std::string("999999")}) {
        ASSERT_TRUE(GetNewFundInvestInfo(cache, s_service->Base(), none, true, items));
        EXPECT_TRUE(items.empty()) << none;
    }
    ASSERT_TRUE(GetNewFundInvestInfo(cache, s_service->Base(), f.code, true, items));
    ASSERT_EQ(items.size(), held.size());
    std::set<std::string> industries;
    for (size_t i = 0; i < items.size(); ++i) {
        const MarketStock& s = s_market->Stocks()[static_cast<size_t>(held[i].stock)];
        EXPECT_EQ(items[i].StockID, s.code);
        EXPECT_EQ(items[i].StockName, s.name);
        EXPECT_NEAR(items[i].InvestPercent, held[i].weight * 100, 0.005);
        EXPECT_EQ(items[i].Industry, SectorIndustry(s_market->StockModel(held[i].stock).sector));
        industries.insert(items[i].Industry);
    }
    // Half the picks come from the fund's own sector, the rest from anywhere.
    EXPECT_GE(industries.size(), 2u);
    EXPECT_EQ(industries.count(SectorIndustry(s_market->FundSector(f))), 1u);
}

TEST_F(DataService, CalculationAnswersEveryFundInTheOrderSent)
{
    const SimFund& a = Pick(StockFund);
    const SimFund& b = Pick(StockFund, 1);
    const SimFund& money = Pick([](const SimFund& x) { return x.IsMoneyMarket(); });
    // The raw estimate as the program makes it: holding share times the stock's change.
    double nav = 0, raw = 0;
    ASSERT_TRUE(s_market->EstimateAt(b, kNow, nav, raw));
    std::vector<CFundInvestItem> items;
    ASSERT_TRUE(GetNewFundCalcResult(s_service->Base(),
                                     {{b.code, static_cast<float>(raw)}, {"999999", 1.5f}, {a.code, -2.0f}, {money.code, 0.0f}},
                                     items));
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].StockID, b.code);
    EXPECT_EQ(items[0].StockName, b.name);
    EXPECT_EQ(items[1].StockID, "999999");  // unknown: kept in its place with its own value
    EXPECT_FLOAT_EQ(items[1].InvestPercent, 1.5f);
    EXPECT_EQ(items[2].StockID, a.code);
    EXPECT_EQ(items[3].StockID, money.code);
    EXPECT_NEAR(items[2].InvestPercent, -2.0, 0.15);  // not a second stock move
    // A money-market fund's day is its income: a few thousandths of a percent.
    EXPECT_GT(items[3].InvestPercent, 0.0f);
    EXPECT_LT(items[3].InvestPercent, 0.02f);
}

TEST_F(DataService, SplitRecordsAllOrLatest)
{
    const OleDate now = kNow;
    for (const SimFund& f : s_market->Funds()) {
        std::vector<SimSplit> splits = s_market->Splits(f, now);
        if (splits.empty()) continue;
        std::vector<CFundSplitItem> all, latest;
        ASSERT_TRUE(GetFundSplitInfo(s_service->Base(), f.code, 0, all));
        ASSERT_TRUE(GetFundSplitInfo(s_service->Base(), f.code, 1, latest));
        ASSERT_EQ(all.size(), splits.size());
        ASSERT_EQ(latest.size(), 1u);
        EXPECT_EQ(latest[0].SplitDate, DateOfDay(splits.back().day).Format(1));
        EXPECT_NEAR(latest[0].SplitScale, splits.back().ratio, 0.00005);
        EXPECT_EQ(all.front().FundID, f.code);
        return;
    }
    GTEST_SKIP() << "no split in this market";
}

TEST_F(DataService, QuotePageAtTheServiceMinute)
{
    const SimFund& f = Pick(StockFund);
    const int stock = s_market->Holdings(f, DayNumber(kNow)).front().stock;
    const MarketStock& s = s_market->Stocks()[static_cast<size_t>(stock)];
    std::string page;
    ASSERT_GE(HttpGetText(s_service->Base() + "htmdata/html/" + s.code + ".htm", page, "", ""), 0);
    std::vector<std::string> fields;
    SplitFields(GbkToUtf8(page), ",", fields);
    ASSERT_EQ(fields.size(), 39u) << page;
    EXPECT_EQ(fields[0], s.name);
    const auto quotes = s_market->Quotes(stock, DayNumber(kNow));
    ASSERT_TRUE(quotes);
    const double prev = quotes->prevClose, price = quotes->PriceAt(SecondOfDay(kNow));
    EXPECT_EQ(fields[2], StrFormat("%0.2f", prev));
    EXPECT_EQ(fields[3], StrFormat("%0.2f", price));
    EXPECT_LE(NumberOr(fields[5], 0), NumberOr(fields[3], 0));
    EXPECT_GE(NumberOr(fields[4], 0), NumberOr(fields[3], 0));
}

TEST_F(DataService, HugeQueriesLeaveTheServiceAnswering)
{
    // Junk parameters of each query: the fuzz harness of the service and its
    // saved inputs. Here the request size limits: a huge list of codes and values.
    const std::string base = s_service->Base() + kDataServicePath;
    const std::string paths[] = {"GetNewFundInvestInfo?fundid=", "GetNewFundCalcResult?FundIDList=",
                                 "GetFundSplitInfo?TypeFlag=-99999999999&fundid=", "../../htmdata/html/"};
    std::string answer;
    for (const std::string& path : paths) {
        std::string codes(200000, '|'), values;
        for (int i = 0; i < 20000; ++i) values += "1e308|nan|";
        HttpGetText(base + path + codes + "&FundInvestVar=" + values, answer, "", "");
    }
    std::vector<CFundInvestItem> items;
    ASSERT_TRUE(GetNewFundCalcResult(s_service->Base(), {{"000001", 1.0f}}, items));
    EXPECT_EQ(items.size(), 1u);
    float change = 0;
    EXPECT_TRUE(GetStockQuote(s_service->Base(), "600001", change));
}

TEST_F(DataService, EveryWebPageShowsTheMarketAndOnlyItsOwnMembersData)
{
    const CMarketSimulator& market = *s_market;
    const OleDate now = kNow;
    test::RealService& service = *s_service;
    CommandReply vip = service.LoginReply("demo", "demo123");
    CommandReply free = service.LoginReply("free", "free123");
    ASSERT_TRUE(vip.ok() && free.ok()) << vip.error << free.error;
    const std::string vipQuery = "loginid=" + vip.serverId + "&userid=" + vip.fields.at(0);
    const std::string freeQuery = "loginid=" + free.serverId + "&userid=" + free.fields.at(0);

    httplib::Client client("127.0.0.1", service.Process().Port());
    const std::string form = "application/x-www-form-urlencoded";
    auto get = [&](const std::string& path) {
        auto r = client.Get(path.c_str());
        if (!r) return std::string("no answer");
        EXPECT_EQ(r->status, 200) << path;
        EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8") << path;
        EXPECT_TRUE(IsValidUtf8(r->body)) << path;
        EXPECT_TRUE(Has(r->body, "<meta charset=\"utf-8\">") && Has(r->body, "<title>")) << path;
        EXPECT_FALSE(Has(r->body, "http://") || Has(r->body, "https://")) << path << ": an outside resource";
        return r->body;
    };

    // A stock fund with a long history, and the first fund of a new member's first folder.
    const SimFund* fund = nullptr;
    const SimFund* starter = nullptr;
    for (const SimFund& f : market.Funds()) {
        if (!starter && f.fundType == 1 && market.IsListed(f, DayNumber(now)) && !f.withdrawDay) starter = &f;
        if (!fund && f.fundType == 1 && f.HoldsStocks() && !f.withdrawDay && f.createDay < DayNumber(now) - 800) fund = &f;
    }
    ASSERT_TRUE(fund && starter);
    LatestValue latest;
    ASSERT_TRUE(market.Latest(*fund, now, latest));

    // The tool pages as the program opens them.
    const std::string info = get("/fundinfo/FundInfoClient.asp?FundID=" + fund->code);
    EXPECT_TRUE(Has(info, fund->name));
    EXPECT_TRUE(Has(info, StrFormat("%0.4f", latest.rec.nav)));
    EXPECT_TRUE(Has(info, "<svg"));
    const MarketStock& top = market.Stocks()[static_cast<size_t>(market.Holdings(*fund, DayNumber(now)).at(0).stock)];
    EXPECT_TRUE(Has(info, top.name));
    EXPECT_TRUE(Has(get("/fundinfo/FundInfoClient.asp?FundID=999999"), "没有找到基金"));

    const std::string mine = get("/plindo/tool/myfundfocus.aspx?" + vipQuery + "&FundSN=12");
    EXPECT_TRUE(Has(mine, starter->name)) << mine;
    for (const char* path : {"/plindo/tool/financingnotepad.aspx?", "/plindo/tool/FundFilterView.aspx?",
                             "/plindo/Info/FundStateIndex.aspx?", "/plindo/Tool/FundCompareIndex.aspx?",
                             "/plindo/vip/FundIncomeTool.aspx?", "/vip/realstock.asp?"}) {
        const std::string page = get(path + vipQuery + "&FundSN=7");
        EXPECT_FALSE(Has(page, "登录信息无效")) << path;
    }
    EXPECT_TRUE(Has(get("/vip/realstock.asp?" + vipQuery), market.Indices()[2].name));
    EXPECT_TRUE(Has(get("/plindo/Tool/FundCompareIndex.aspx?" + vipQuery + "&funds=" + fund->code), "<svg"));
    for (const char* path : {"/html/top/StatTopView.htm?FundSN=3", "/report/FundHistoryTopIndex.htm?FundSN=3",
                             "/html/Data/FundState.htm?FundSN=3"})
        EXPECT_TRUE(Has(get(path), "<table")) << path;
    EXPECT_TRUE(Has(get("/html/Data/FundState.htm"), fund->code));

    // The income calculator: VIP members only; a year of the fund with its dividends reinvested.
    EXPECT_TRUE(Has(get("/plindo/vip/FundIncomeTool.aspx?" + freeQuery), "VIP"));
    const std::string income =
        get("/plindo/vip/FundIncomeTool.aspx?" + vipQuery + "&FundID=" + fund->code + "&from=2023-10-10&to=2024-10-09&money=10000&fee=0");
    std::vector<NavRecord> a = market.Published(*fund, now, DayNumber(OleDate::FromParts(2023, 10, 10)), DayNumber(now));
    std::vector<NavRecord> b = market.Published(*fund, now, DayNumber(now) - 30, DayNumber(now) - 1);
    ASSERT_FALSE(a.empty() || b.empty());
    EXPECT_TRUE(Has(income, StrFormat("%0.2f", 10000 * b.back().growth / a.front().growth))) << income;

    // The estimate page of a fund during the session.
    double estimate = 0, pct = 0;
    ASSERT_TRUE(market.EstimateAt(*fund, now, estimate, pct));
    const std::string calc = get("/plindo/newvip/RealtimeCalcView.aspx?flag=1&fundid=" + fund->code);
    EXPECT_TRUE(Has(calc, StrFormat("%0.4f", estimate))) << calc;
    EXPECT_TRUE(Has(calc, top.code));

    // The financing analysis: a chart for styles 1 to 3, a table for style 0.
    auto analyse = [](int style, const std::string& query) {
        return "/plindo/Account/FinancingAnalyseResult.aspx?type=1&show=2&style=" + std::to_string(style) + "&" + query +
               "&data=%E7%A8%B3%E5%81%A5%E8%B4%A6%E6%88%B7|1234.50|A%26B|-20.00";
    };
    for (int style = 1; style <= 3; ++style) {
        const std::string page = get(analyse(style, vipQuery));
        EXPECT_TRUE(Has(page, "<svg") && Has(page, "稳健账户") && Has(page, "A&amp;B")) << style;
    }
    const std::string table = get(analyse(0, vipQuery));
    EXPECT_FALSE(Has(table, "<svg"));
    EXPECT_TRUE(Has(table, "1234.50") && Has(table, "1214.50")) << table;  // the total row
    // Hostile data: cut pairs, words for numbers, markup in names.
    EXPECT_TRUE(Has(get("/plindo/Account/FinancingAnalyseResult.aspx?type=9&show=-1&style=2&" + vipQuery +
                        "&data=%3Cscript%3E|x|%7C%7C|1e999|z"),
                    "<svg"));

    // Someone else's user id, an unknown login id, no login: no member data.
    const std::string other = "loginid=" + vip.serverId + "&userid=" + free.fields.at(0);
    for (const std::string& q : {other, std::string("loginid=0123456789abcdef0123456789abcdef-1&userid=") + vip.fields.at(0),
                                 std::string()}) {
        const std::string page = get("/plindo/tool/myfundfocus.aspx?" + q);
        EXPECT_FALSE(Has(page, starter->name)) << q;
        EXPECT_FALSE(Has(get(analyse(1, q)), "稳健账户"));
    }

    // The member pages of the main menu.
    EXPECT_TRUE(Has(get("/plindo/User/VIPFunction.htm"), "n个交易日回报叠加"));
    EXPECT_TRUE(Has(get("/plindo/Login.aspx?code=102"), "<form"));
    auto login = client.Post("/plindo/Login.aspx", "code=102&name=demo&password=demo123", form);
    ASSERT_TRUE(login);
    EXPECT_TRUE(Has(login->body, "VIP会员"));
    auto wrong = client.Post("/plindo/Login.aspx", "name=demo&password=nope", form);
    ASSERT_TRUE(wrong);
    EXPECT_TRUE(Has(wrong->body, "登录名或密码错误"));
    auto note = client.Post("/plindo/SuggestView.aspx", "name=%E8%80%81%E7%8E%8B&content=%3Cb%3E%E5%A5%BD%3C%2Fb%3E",
                            form);
    ASSERT_TRUE(note);
    EXPECT_TRUE(Has(get("/plindo/SuggestView.aspx"), "&lt;b&gt;好&lt;/b&gt;"));

    // The notebook keeps each member's own notes.
    ASSERT_TRUE(client.Post("/plindo/tool/financingnotepad.aspx", vipQuery + "&note=%E5%AE%9A%E6%8A%95%E5%8A%A0%E4%BB%93", form));
    ASSERT_TRUE(client.Post("/plindo/tool/financingnotepad.aspx", other + "&note=%E4%BC%AA%E9%80%A0", form));
    const std::string notes = get("/plindo/tool/financingnotepad.aspx?" + vipQuery);
    EXPECT_TRUE(Has(notes, "定投加仓"));
    EXPECT_FALSE(Has(notes, "伪造"));
    EXPECT_FALSE(Has(get("/plindo/tool/financingnotepad.aspx?" + freeQuery), "定投加仓"));

    auto missing = client.Get("/plindo/tool/nosuchpage.aspx");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
}

}  // namespace
}  // namespace vextal

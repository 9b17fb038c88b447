// The data web service and the quote site of the real plindo-serve, asked
// through the program's own functions during a trading session.
#include <gtest/gtest.h>

#include <random>

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

// A stock fund's holdings, the quotes and the calibration make the estimate
// that EstimateServeTest compares with the simulator's growth.
TEST_F(DataService, BondFundsAndUnknownCodesHoldNoStocks)
{
    CFundInvestCache cache;
    std::vector<CFundInvestItem> items;
    const SimFund& bond = Pick([](const SimFund& x) { return x.investType == 3; });
    ASSERT_TRUE(GetNewFundInvestInfo(cache, s_service->Base(), bond.code, true, items));
    EXPECT_TRUE(items.empty());
    ASSERT_TRUE(GetNewFundInvestInfo(cache, s_service->Base(), "999999", true, items));
    EXPECT_TRUE(items.empty());
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
    const SimStock& s = s_market->Stocks()[static_cast<size_t>(stock)];
    std::string page;
    ASSERT_GE(HttpGetText(s_service->Base() + "htmdata/html/" + s.code + ".htm", page, "", ""), 0);
    std::vector<std::string> fields;
    SplitFields(GbkToUtf8(page), ",", fields);
    ASSERT_EQ(fields.size(), 39u) << page;
    EXPECT_EQ(fields[0], s.name);
    const int index = s_market->Calendar().IndexOnOrBefore(DayNumber(kNow));
    const double prev = s_market->StockClose(stock, index - 1), price = s_market->StockPriceAt(stock, kNow);
    EXPECT_EQ(fields[2], StrFormat("%0.2f", prev));
    EXPECT_EQ(fields[3], StrFormat("%0.2f", price));
    EXPECT_LE(std::atof(fields[5].c_str()), std::atof(fields[3].c_str()));
    EXPECT_GE(std::atof(fields[4].c_str()), std::atof(fields[3].c_str()));
}

TEST_F(DataService, HostileQueriesLeaveTheServiceAnswering)
{
    std::mt19937 rng(14);
    const std::string base = s_service->Base() + kDataServicePath;
    const std::string paths[] = {"GetNewFundInvestInfo?fundid=", "GetNewFundCalcResult?FundIDList=",
                                 "GetFundSplitInfo?TypeFlag=-99999999999&fundid=", "../../htmdata/html/"};
    std::string answer;
    for (const std::string& path : paths) {
        for (int round = 0; round < 20; ++round) {
            std::string junk;
            for (int i = 0; i < 40; ++i) junk += StrFormat("%%%02X", static_cast<int>(rng() % 256));
            HttpGetText(base + path + junk, answer, "", "");
        }
        // Near the request size limits: a huge list of codes and values.
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

}  // namespace
}  // namespace vextal

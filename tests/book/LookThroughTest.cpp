// Look-through exposure and overlap, worked by hand: three funds that hold
// some of the same stocks, one of them in two accounts.
#include <gtest/gtest.h>

#include <cmath>

#include "book/LookThrough.h"

namespace vextal {
namespace {

const LookThroughStock kPufa{"600000", "浦发银行", "银行", 0};
const LookThroughStock kZhaohang{"600036", "招商银行", "银行", 0};
const LookThroughStock kJdf{"000725", "京东方A", "电子", 0};
const LookThroughStock kHengrui{"600276", "恒瑞医药", "医药生物", 0};
const LookThroughStock kHaikang{"002415", "海康威视", "电子", 0};

LookThroughStock At(LookThroughStock s, double percent)
{
    s.Percent = percent;
    return s;
}

// A 10,000 yuan: 浦发 40 %, 招行 30 %, 京东方 10 % (20 % undisclosed);
// B 6,000 yuan in two accounts: 浦发 20 %, 恒瑞 50 % (30 % undisclosed);
// C an ETF of 4,000 yuan: 招行 10 %, 恒瑞 10 %, 海康 20 % (60 % undisclosed).
std::vector<LookThroughFund> ThreeFunds()
{
    const std::vector<LookThroughStock> b = {At(kPufa, 20), At(kHengrui, 50)};
    return {{"000001", 1, 10000, {At(kPufa, 40), At(kZhaohang, 30), At(kJdf, 10)}},
            {"000011", 1, 4000, b},
            {"110022", 4, 4000, {At(kZhaohang, 10), At(kHengrui, 10), At(kHaikang, 20)}},
            {"000011", 1, 2000, b}};
}

TEST(LookThrough, ThreeFundsWithOverlappingHoldings)
{
    const LookThroughResult r = ComputeLookThrough(ThreeFunds());
    EXPECT_DOUBLE_EQ(r.MarketValue, 20000);
    struct Row {
        const char* id;
        const char* name;
        const char* industry;
        double amount, share;
        std::vector<std::string> funds;
    };
    // 浦发: 10000 x 40 % + 6000 x 20 %; 招行 and 恒瑞 tie at 3400 (by code);
    // then the undisclosed rest per fund class: 2000 + 1800, and 2400.
    const Row expected[] = {
        {"600000", "浦发银行", "银行", 5200, 26, {"000001", "000011"}},
        {"600036", "招商银行", "银行", 3400, 17, {"000001", "110022"}},
        {"600276", "恒瑞医药", "医药生物", 3400, 17, {"000011", "110022"}},
        {"000725", "京东方A", "电子", 1000, 5, {"000001"}},
        {"002415", "海康威视", "电子", 800, 4, {"110022"}},
        {"", "其他/未披露", "开放式基金", 3800, 19, {"000001", "000011"}},
        {"", "其他/未披露", "ETF/LOF", 2400, 12, {"110022"}},
    };
    ASSERT_EQ(r.Stocks.size(), std::size(expected));
    for (size_t i = 0; i < r.Stocks.size(); ++i) {
        const StockExposure& s = r.Stocks[i];
        EXPECT_EQ(s.StockID, expected[i].id) << i;
        EXPECT_EQ(s.StockName, expected[i].name) << i;
        EXPECT_EQ(s.Industry, expected[i].industry) << i;
        EXPECT_NEAR(s.Amount, expected[i].amount, 1e-9) << i;
        EXPECT_NEAR(s.Share, expected[i].share, 1e-9) << i;
        EXPECT_EQ(s.Funds, expected[i].funds) << i;
    }
    ASSERT_EQ(r.Industries.size(), 4u);
    const std::pair<const char*, double> industries[] = {{"银行", 8600}, {"医药生物", 3400}, {"电子", 1800}, {"其他/未披露", 6200}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.Industries[i].Industry, industries[i].first);
        EXPECT_NEAR(r.Industries[i].Amount, industries[i].second, 1e-9);
    }
    EXPECT_NEAR(r.Industries[0].Share, 43, 1e-9);

    // Overlap: 浦发 min(40, 20); 招行 min(30, 10); 恒瑞 min(50, 10).
    const std::vector<FundOverlap> o = ComputeOverlaps(ThreeFunds());
    ASSERT_EQ(o.size(), 3u);  // B once, whatever its accounts
    EXPECT_EQ(o[0].FundA + "/" + o[0].FundB, "000001/000011");
    EXPECT_NEAR(o[0].Percent, 20, 1e-9);
    EXPECT_EQ(o[0].Common, std::vector<std::string>{"600000"});
    EXPECT_EQ(o[1].FundA + "/" + o[1].FundB, "000001/110022");
    EXPECT_EQ(o[2].FundA + "/" + o[2].FundB, "000011/110022");
    EXPECT_NEAR(o[2].Percent, 10, 1e-9);
    EXPECT_EQ(o[2].Common, std::vector<std::string>{"600276"});
    EXPECT_EQ(OverlapsAbove(o, 15).size(), 1u);
    EXPECT_EQ(OverlapsAbove(o, 10).size(), 1u);  // more than the threshold, not as much
    EXPECT_TRUE(OverlapsAbove(o, 0).empty());    // 0: no warning at all
}

// What the service may send and the books may hold, cleaned so that no fund
// shows more than it is worth.
TEST(LookThrough, HostileDisclosuresAndValues)
{
    const double nan = std::nan("");
    std::vector<LookThroughFund> funds = {
        // 恒瑞 twice (80 + 40 = 120 % together): scaled to the whole fund.
        {"000002", 1, 1000, {At(kHengrui, 80), At(kHengrui, 40), At(kPufa, nan), At(kJdf, -5), {"", "无代码", "", 10}}},
        {"000003", 1, nan, {At(kPufa, 50)}},    // no value: not in the exposure
        {"000004", 2, 500, {}},                 // a money-market fund: all of it undisclosed
        {"000005", 1, 0, {At(kHengrui, 30)}},   // emptied: no exposure, still a held fund's disclosure
        {"000006", 1, 300, {At(kPufa, 50), At(kJdf, 50)}},
    };
    funds.back().Stocks[1].Industry.clear();
    const LookThroughResult r = ComputeLookThrough(funds);
    EXPECT_DOUBLE_EQ(r.MarketValue, 1800);
    ASSERT_EQ(r.Stocks.size(), 4u);
    EXPECT_EQ(r.Stocks[0].StockID, "600276");
    EXPECT_NEAR(r.Stocks[0].Amount, 1000, 1e-9);
    EXPECT_EQ(r.Stocks[1].StockID, "000725");  // ties by code
    EXPECT_EQ(r.Stocks[1].Industry, kUnknownIndustry);
    EXPECT_EQ(r.Stocks[2].StockID, "600000");
    EXPECT_NEAR(r.Stocks[2].Amount, 150, 1e-9);
    EXPECT_EQ(r.Stocks[3].Industry, "货币基金");
    EXPECT_NEAR(r.Stocks[3].Amount, 500, 1e-9);
    double sum = 0;
    for (const StockExposure& s : r.Stocks) sum += s.Amount;
    EXPECT_NEAR(sum, r.MarketValue, 1e-9);

    // Weights are cleaned the same way for the overlap: 恒瑞 at 100 % against 30 %.
    const std::vector<FundOverlap> o = ComputeOverlaps(funds);
    ASSERT_EQ(o.size(), 10u);
    EXPECT_EQ(o[0].FundA + "/" + o[0].FundB, "000003/000006");
    EXPECT_NEAR(o[0].Percent, 50, 1e-9);
    EXPECT_EQ(o[1].FundA + "/" + o[1].FundB, "000002/000005");
    EXPECT_NEAR(o[1].Percent, 30, 1e-9);
    EXPECT_NEAR(o.back().Percent, 0, 1e-12);
    EXPECT_TRUE(o.back().Common.empty());
}

}  // namespace
}  // namespace vextal

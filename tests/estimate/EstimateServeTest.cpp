// The estimate against the real plindo-serve: holdings, quote pages and the
// calibration of twelve funds at a fixed minute of a trading day, compared
// with the simulator's growth of those funds for that minute, and the
// holdings list of one of them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "MarketSimulator.h"
#include "ServiceProcess.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "estimate/ForecastRows.h"
#include "estimate/FundForecast.h"
#include "net/HttpTransport.h"

using namespace vextal;

namespace {

constexpr uint64_t kSeed = 7;
constexpr int kFunds = 200;

class EstimateServeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HttpConfig c;
        c.noProxy = "*";
        c.connectTimeoutSeconds = 5;
        c.requestTimeoutSeconds = 30;
        SetHttpConfig(c);
    }
    void TearDown() override
    {
        Clock::Release();
        SetHttpConfig({});
    }
    std::unique_ptr<CServiceProcess> Serve(const OleDate& now)
    {
        return std::make_unique<CServiceProcess>(
            PLINDO_SERVE_PATH, std::vector<std::string>{"--seed", std::to_string(kSeed), "--funds",
                                                        std::to_string(kFunds), "--now", now.Format(0), "--quiet"});
    }
};

TEST_F(EstimateServeTest, TwelveFundsFollowTheSimulatorsGrowthForTheMinute)
{
    const OleDate now = OleDate::FromParts(2024, 10, 16, 14, 30);
    CMarketSimulator market(MarketOptions{kSeed, kFunds});
    std::vector<const SimFund*> picked;
    std::vector<std::string> codes;
    for (const SimFund& f : market.Funds()) {
        if (picked.size() == 12) break;
        if (f.HoldsStocks() && f.fundType == 1 && !f.withdrawDay && f.createDay < DayNumber(OleDate::FromParts(2023, 1, 1))) {
            picked.push_back(&f);
            codes.push_back(f.code);
        }
    }
    ASSERT_EQ(picked.size(), 12u);

    auto service = Serve(now);
    ASSERT_GT(service->Port(), 0) << "plindo-serve did not start";
    Clock::Fix(now);
    auto cache = std::make_shared<CFundInvestCache>();
    EstimateSources sources = ServiceSources(cache, service->Base(), service->Base());
    // Every stock's quote is asked once; the first fund listed twice counts once.
    std::map<std::string, int> fetches;
    std::mutex fetchesMutex;
    sources.quote = [&fetches, &fetchesMutex, quote = sources.quote](const std::string& stock, float& change, OleDate& day) {
        std::lock_guard<std::mutex> lock(fetchesMutex);
        ++fetches[stock];
        return quote(stock, change, day);
    };
    codes.push_back(codes[0]);
    EstimateResult r = RunEstimate(codes, sources);
    ASSERT_EQ(r.Status, EstimateStatus::Done);
    EXPECT_EQ(r.Quotes.Arrived, static_cast<int>(r.Plan.StockCodes.size()));
    EXPECT_EQ(fetches.size(), r.Plan.StockCodes.size());
    for (const auto& [stock, n] : fetches) EXPECT_EQ(n, 1) << stock;
    EXPECT_EQ(r.Quotes.SessionDay, now.DateOnly());
    EXPECT_EQ(cache->Size(), 12u);

    double rawWorst = 0, calibratedWorst = 0;
    for (const SimFund* f : picked) {
        double nav = 0, pct = 0;
        ASSERT_TRUE(market.EstimateAt(*f, now, nav, pct)) << f->code;
        ASSERT_EQ(r.Calibrated.count(f->code), 1u) << f->code;
        // The pages print each change to two places: the weighted sum stays within a hundredth.
        EXPECT_NEAR(r.Raw[f->code], pct, 0.01) << f->code;
        EXPECT_NEAR(r.Calibrated[f->code], pct, 0.1) << f->code;
        rawWorst = std::max(rawWorst, std::fabs(r.Raw[f->code] - pct));
        calibratedWorst = std::max(calibratedWorst, std::fabs(r.Calibrated[f->code] - pct));
    }
    // The holdings list of one fund: each contribution is its weight times
    // its change, and the total row sums them to the raw estimate.
    const std::vector<ForecastHoldingRow> rows = HoldingRows(r, codes[0]);
    ASSERT_GE(rows.size(), 2u);
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        EXPECT_EQ(rows[i].No, std::to_string(i + 1));
        EXPECT_NEAR(NumberOr(rows[i].Contribution, 0),
                    NumberOr(rows[i].Percent, 0) * NumberOr(rows[i].Change, 0) / 100, 0.0051);
    }
    EXPECT_EQ(rows.back().No, "合计");
    EXPECT_EQ(rows.back().Contribution, StrFormat("%0.2f%%", r.Raw[codes[0]]));
    std::printf("largest deviation from the simulator's growth: raw %.4f, calibrated %.4f percentage points\n",
                rawWorst, calibratedWorst);

    // A stock the quote site does not know gives no quote.
    float change = 0;
    OleDate day;
    EXPECT_FALSE(GetStockQuote(service->Base(), "999999", change, day));
}

}  // namespace

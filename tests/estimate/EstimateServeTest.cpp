// The estimate against the real plindo-serve: holdings, quote pages and the
// calibration of twelve funds at a fixed minute of a trading day, compared
// with the simulator's growth of those funds for that minute, and the
// holdings list of one of them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <thread>
#include <map>
#include <memory>
#include <mutex>

#include "MarketSimulator.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "estimate/ForecastRows.h"
#include "estimate/FundForecast.h"
#include "support/ChildWait.h"
#include "support/ServeFixture.h"

using namespace vextal;

namespace {

constexpr uint64_t kSeed = 7;
constexpr int kFunds = 200;

class EstimateServeTest : public ::testing::Test {
protected:
    void SetUp() override { test::UseDirectHttp(); }
    void TearDown() override
    {
        Clock::Release();
        SetHttpConfig({});
    }
    static std::unique_ptr<test::RealService> Serve(const OleDate& now, std::vector<std::string> extra = {})
    {
        return std::make_unique<test::RealService>(test::ServeOptions{kSeed, kFunds, now.Format(0), std::move(extra)});
    }
    static EstimateSources Sources(const test::RealService& service)
    {
        return ServiceSources(std::make_shared<CFundInvestCache>(), service.Base(), service.Base());
    }
    // The first `n` stock funds of the simulated market listed before 2023.
    static std::vector<const SimFund*> StockFunds(size_t n)
    {
        std::vector<const SimFund*> funds;
        for (const SimFund& f : test::SimulatedMarket(kSeed, kFunds).Funds())
            if (funds.size() < n && f.HoldsStocks() && f.fundType == 1 && !f.withdrawDay &&
                f.createDay < DayNumber(OleDate::FromParts(2023, 1, 1)))
                funds.push_back(&f);
        return funds;
    }
    static std::vector<std::string> Codes(const std::vector<const SimFund*>& funds)
    {
        std::vector<std::string> codes;
        for (const SimFund* f : funds) codes.push_back(f->code);
        return codes;
    }
};

TEST_F(EstimateServeTest, TwelveFundsFollowTheSimulatorsGrowthForTheMinute)
{
    const OleDate now = OleDate::FromParts(2024, 10, 16, 14, 30);
    const CMarketSimulator& market = test::SimulatedMarket(kSeed, kFunds);
    const std::vector<const SimFund*> picked = StockFunds(12);
    std::vector<std::string> codes = Codes(picked);
    ASSERT_EQ(picked.size(), 12u);

    auto service = Serve(now);
    VEXTAL_ASSERT_STARTED(service);
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

// 取消 while the service does not answer the holdings, or the quote pages:
// the run comes back at once, and the quote workers end with it.
TEST_F(EstimateServeTest, CancelDuringHoldingsOrQuotesReturnsWithinASecond)
{
    const OleDate now = OleDate::FromParts(2024, 10, 16, 14, 30);
    Clock::Fix(now);
    const std::vector<std::string> funds = Codes(StockFunds(12));
    const struct {
        const char* hang;
        EstimatePhase phase;
    } cases[] = {{"/plindo/common/plindoservice.asmx/GetNewFundInvestInfo", EstimatePhase::Holdings},
                 {"/htmdata/", EstimatePhase::Quotes}};
    for (const auto& c : cases) {
        auto service = Serve(now, {"--hang", c.hang});
        VEXTAL_ASSERT_STARTED(service);
        std::atomic<bool> cancel{false};
        std::atomic<int> phase{-1};
        EstimateOptions o;
        o.cancel = &cancel;
        o.progress = [&phase](EstimatePhase p, int, int) { phase = static_cast<int>(p); };
        auto run = std::async(std::launch::async, [&] {
            return RunEstimate(funds, Sources(*service), o);
        });
        ASSERT_TRUE(test::WaitUntil([&] { return phase == static_cast<int>(c.phase); })) << c.hang;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well inside the hung request
        cancel = true;
        ASSERT_EQ(run.wait_for(std::chrono::seconds(1)), std::future_status::ready) << c.hang;
        EstimateResult r = run.get();
        EXPECT_EQ(r.Status, EstimateStatus::Cancelled) << c.hang;
        EXPECT_TRUE(r.Calibrated.empty());
        if (r.Fetch) {
            EXPECT_TRUE(test::WaitUntil([&] { return r.Fetch->WorkersEnded() == kQuoteWorkers; }, 1000));
        }
    }
}

// Quotes that do not come in time: with none the funds say so and nothing
// is estimated; with the Shanghai pages missing, each row counts its quoted
// holdings and the run says how many funds and quotes it had.
TEST_F(EstimateServeTest, RowsAndStatusSayHowManyQuotesCameInTime)
{
    const OleDate now = OleDate::FromParts(2024, 10, 16, 14, 30);
    Clock::Fix(now);
    const std::vector<std::string> funds = Codes(StockFunds(4));
    EstimateOptions o;
    o.waitPerFundMs = 2000;
    o.pageLimitMs = 200;  // a hung page frees its worker soon for the pages behind it
    {
        auto service = Serve(now, {"--hang", "/htmdata/"});
        VEXTAL_ASSERT_STARTED(service);
        EstimateResult r = RunEstimate(funds, Sources(*service), o);
        ASSERT_EQ(r.Status, EstimateStatus::NoQuote);
        EXPECT_TRUE(r.Calibrated.empty());
        for (const ForecastFundRow& row : FundRows(r, nullptr)) {
            EXPECT_EQ(row.Estimate, "无行情") << row.FundID;
            EXPECT_FALSE(row.HasEstimate);
            EXPECT_EQ(row.Quotes, StrFormat("0/%d", r.Coverage[row.FundID].Holdings));
        }
        EXPECT_EQ(RunSummary(r, now),
                  StrFormat("无行情：股票行情0/%zu，没有估算（估算时间 14:30:00）", r.Plan.StockCodes.size()));
    }
    auto service = Serve(now, {"--hang", "/htmdata/html/6"});
    VEXTAL_ASSERT_STARTED(service);
    EstimateResult r = RunEstimate(funds, Sources(*service), o);
    ASSERT_EQ(r.Status, EstimateStatus::Done);
    // What should have come: every page but the Shanghai ones.
    int answering = 0;
    for (const std::string& code : r.Plan.StockCodes) answering += code[0] != '6';
    ASSERT_GT(answering, 0);
    ASSERT_LT(answering, static_cast<int>(r.Plan.StockCodes.size()));
    std::map<std::string, std::pair<int, int>> expected;  // fund → quoted, held
    for (const EstimateHolding& h : r.Plan.Holdings) {
        expected[h.FundID].first += h.Item.StockID[0] != '6';
        expected[h.FundID].second += 1;
    }
    int estimated = 0;
    for (const ForecastFundRow& row : FundRows(r, nullptr)) {
        const auto [quoted, held] = expected[row.FundID];
        EXPECT_EQ(row.Quotes, StrFormat("%d/%d", quoted, held)) << row.FundID;
        EXPECT_EQ(row.HasEstimate, quoted > 0) << row.FundID;
        if (quoted == 0) {
            EXPECT_EQ(row.Estimate, "无行情");
        }
        estimated += quoted > 0;
    }
    EXPECT_EQ(RunSummary(r, now), StrFormat("部分估算：基金%d/%zu，股票行情%d/%zu（行情日期 2024-10-16，估算时间 14:30:00）",
                                            estimated, funds.size(), answering, r.Plan.StockCodes.size()));
}

}  // namespace

// The estimate run with quote and holdings sources in the test: where it
// stops, the wait, late workers (the arithmetic, one fetch per stock and the
// rows run against the real service).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "db/DbTestUtil.h"
#include "estimate/EstimateErrors.h"
#include "estimate/ForecastRows.h"
#include "estimate/FundForecast.h"
#include "support/ChildWait.h"

using namespace vextal;

namespace {

CFundInvestItem Item(const std::string& id, float percent) { return {id, "股票" + id, percent}; }

// Holdings by fund; quotes by stock; the calibration adds 0.1.
struct Market {
    std::map<std::string, std::vector<CFundInvestItem>> holdings;
    std::map<std::string, float> changes;
    std::mutex mutex;
    int calcCalls = 0;
    bool calcFails = false;
    std::vector<std::string> sent;  // the funds of the last calibration

    EstimateSources Sources()
    {
        EstimateSources s;
        s.holdings = [this](const std::string& fund, std::vector<CFundInvestItem>& items) {
            auto it = holdings.find(fund);
            if (it == holdings.end()) return false;
            items = it->second;
            return true;
        };
        s.quote = [this](const std::string& stock, float& change, OleDate& day) {
            std::lock_guard<std::mutex> lock(mutex);
            auto it = changes.find(stock);
            if (it == changes.end()) return false;
            change = it->second;
            day = OleDate::FromParts(2024, 10, 9);
            return true;
        };
        s.calc = [this](const std::vector<std::pair<std::string, float>>& raws, std::vector<CFundInvestItem>& items) {
            ++calcCalls;
            sent.clear();
            for (const auto& raw : raws) sent.push_back(raw.first);
            if (calcFails) return false;
            for (const auto& [fund, raw] : raws) items.push_back({fund, "", raw + 0.1f});
            return true;
        };
        return s;
    }
};

TEST(EstimateRun, StopsWithoutFundsOrStocksAndKeepsNothingOfAFailedCalibration)
{
    Market m;
    m.holdings["000001"] = {Item("600000", 60.0f)};
    m.changes["600000"] = 1.0f;
    EXPECT_EQ(RunEstimate({}, m.Sources()).Status, EstimateStatus::NoFund);
    m.holdings["000009"] = {};
    EXPECT_EQ(RunEstimate({"000009"}, m.Sources()).Status, EstimateStatus::NoStock);
    EXPECT_EQ(m.calcCalls, 0);
    m.calcFails = true;
    EstimateResult r = RunEstimate({"000001"}, m.Sources());
    EXPECT_EQ(r.Status, EstimateStatus::CalcFailed);
    EXPECT_TRUE(r.Calibrated.empty());

    // A fund without stock holdings is the service's estimate alone; one
    // whose holdings did not come is not estimated, and the run says so.
    m.calcFails = false;
    r = RunEstimate({"000001", "000009", "000404"}, m.Sources());
    ASSERT_EQ(r.Status, EstimateStatus::Done);
    EXPECT_EQ(m.sent, (std::vector<std::string>{"000001", "000009"}));
    const std::vector<ForecastFundRow> rows = FundRows(r, nullptr);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].Estimate, "0.10%");
    EXPECT_EQ(rows[1].Quotes, "0/0");
    EXPECT_EQ(rows[2].Estimate, "无持仓数据");
    EXPECT_EQ(RunSummary(r, OleDate::FromParts(2024, 10, 9, 10, 0)),
              "部分估算：基金2/3，股票行情1/1（行情日期 2024-10-09，估算时间 10:00:00）");
}

TEST(EstimateRun, TheWaitIsBoundedPerFundAndLateWorkersWriteNothing)
{
    Market five;
    std::vector<std::string> funds;
    for (int i = 1; i <= 5; ++i) {
        funds.push_back("00000" + std::to_string(i));
        five.holdings[funds.back()] = {Item("600000", 10.0f)};
    }
    five.changes["600000"] = 1.0f;
    EXPECT_EQ(RunEstimate(funds, five.Sources()).WaitMs, 20000);

    // One fund estimated while nothing else is selected still waits for its quote.
    Market m;
    m.holdings["000001"] = {Item("600000", 50.0f)};
    m.changes["600000"] = 2.0f;
    EstimateSources slow = m.Sources();
    auto fast = slow.quote;
    slow.quote = [fast](const std::string& stock, float& change, OleDate& day) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return fast(stock, change, day);
    };
    EstimateResult one = RunEstimate({"000001"}, slow);
    EXPECT_EQ(one.WaitMs, 4000);
    EXPECT_FLOAT_EQ(one.Raw["000001"], 1.0f);

    // A quote that comes after the wait: the run goes on without it, and
    // the worker that brings it later stores nothing.
    m.holdings["000002"] = {Item("600000", 50.0f), Item("600009", 50.0f)};
    m.changes["600009"] = 4.0f;
    std::promise<void> gate;  // the late quote arrives once the test opens it
    std::shared_future<void> opened = gate.get_future().share();
    std::atomic<bool> lateReturned{false};
    EstimateSources gated = m.Sources();
    gated.quote = [fast, opened, &lateReturned](const std::string& stock, float& change, OleDate& day) {
        if (stock != "600009") return fast(stock, change, day);
        opened.wait();
        bool ok = fast(stock, change, day);
        lateReturned = true;
        return ok;
    };
    EstimateOptions o;
    o.waitPerFundMs = 200;
    std::vector<std::pair<int, int>> progress;
    o.progress = [&progress](EstimatePhase phase, int arrived, int total) {
        if (phase == EstimatePhase::Quotes) progress.emplace_back(arrived, total);
    };
    EstimateResult r = RunEstimate({"000002"}, gated, o);
    ASSERT_EQ(r.Status, EstimateStatus::Done);
    EXPECT_FALSE(r.Quotes.Changes.at("600009").has_value());
    EXPECT_EQ(r.Quotes.Arrived, 1);
    EXPECT_FLOAT_EQ(r.Raw["000002"], 1.0f);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(1, 2));

    std::weak_ptr<const CQuoteFetch> state = r.Fetch;
    std::shared_ptr<const CQuoteFetch> fetch = r.Fetch;
    r.Fetch.reset();
    gate.set_value();
    ASSERT_TRUE(test::WaitUntil([&] { return fetch->WorkersEnded() == kQuoteWorkers; }));
    EXPECT_TRUE(lateReturned);
    EXPECT_EQ(fetch->Stored(), 1);  // the late quote was dropped
    EXPECT_FALSE(r.Quotes.Changes.at("600009").has_value());
    fetch.reset();
    // The last worker to end releases the run's state.
    EXPECT_TRUE(test::WaitUntil([&] { return state.expired(); }));
}

class EstimateStoreTest : public test::TempDirTest {};

OleDate Day(int m, int d, int h = 0, int mi = 0) { return OleDate::FromParts(2024, m, d, h, mi); }

// The intraday estimate waits for its day's NAV; the mean is over the last
// twenty trading days, not the last twenty rows.
TEST_F(EstimateStoreTest, IntradayEstimatesWaitForTheNavAndTheMeanIsOverTwentyTradingDays)
{
    CAdoDatabase db;
    MakeDatabase(db);
    CEstimateErrors errors(db);
    // Wednesday 2024-10-16: runs at 10:00 and 14:50 keep the later; one
    // after the close and one on the previous session's quotes keep nothing.
    ASSERT_TRUE(errors.RecordRun({{"000001", 1.0f}, {"000002", -0.5f}}, Day(10, 16), Day(10, 16, 10, 0)));
    ASSERT_TRUE(errors.RecordRun({{"000001", 1.25f}}, Day(10, 16), Day(10, 16, 14, 50)));
    ASSERT_TRUE(errors.RecordRun({{"000001", 9.0f}}, Day(10, 16), Day(10, 16, 15, 0)));
    ASSERT_TRUE(errors.RecordRun({{"000003", 9.0f}}, Day(10, 15), Day(10, 16, 9, 0)));
    EXPECT_TRUE(errors.Waiting(Day(10, 16, 14, 59)).empty());  // its NAV cannot be out yet
    EXPECT_EQ(errors.Waiting(Day(10, 17, 9, 0)),
              (std::map<std::string, OleDate>{{"000001", Day(10, 16)}, {"000002", Day(10, 16)}}));
    EXPECT_FALSE(errors.MeanAbsError("000001", Day(10, 17)).has_value());

    CFundValue nav;
    nav.FundID = "000001";
    nav.ValueDate = Day(10, 16);
    nav.VarPercent = 1.0;
    CFundValue other = nav;
    other.ValueDate = Day(10, 15);  // a day without an estimate
    EXPECT_EQ(errors.Compare({nav, other}), 1);
    EXPECT_EQ(errors.Compare({nav}), 0);  // compared once
    EXPECT_NEAR(*errors.MeanAbsError("000001", Day(10, 17, 9, 0)), 0.25, 1e-6);
    EXPECT_EQ(errors.Waiting(Day(10, 17)).count("000001"), 0u);

    // 2024-10-31 (Thursday): the window starts 20 weekdays back, on 10-04.
    EXPECT_EQ(ErrorWindowStart(Day(10, 31, 21, 0)), Day(10, 4));
    std::vector<EstimateOutcome> days;
    for (OleDate d = Day(9, 2); d < Day(10, 4); d = d.AddDays(1))
        if (!d.IsWeekend()) days.push_back({"000004", d, 11.0f, 1.0});  // ten points off, before the window
    for (int d : {4, 8, 10, 14, 16, 18, 22, 24, 28, 30}) days.push_back({"000004", Day(10, d), d % 4 ? 1.5f : 0.5f, 1.0});
    ASSERT_TRUE(errors.Record(days));
    EXPECT_NEAR(*errors.MeanAbsError("000004", Day(10, 31, 21, 0)), 0.5, 1e-6);
    EXPECT_EQ(errors.RecentOutcomes("000004", Day(10, 31, 21, 0)).size(), 10u);
    // An estimate waiting since before the window is no longer asked for.
    ASSERT_TRUE(errors.RecordRun({{"000005", 1.0f}}, Day(10, 2), Day(10, 2, 11, 0)));
    EXPECT_EQ(errors.Waiting(Day(10, 31, 21, 0)).count("000005"), 0u);

    EXPECT_DOUBLE_EQ(ErrorScale({0.04}), 0.1);
    EXPECT_DOUBLE_EQ(ErrorScale({0.1, -0.3}), 0.3);
    EXPECT_DOUBLE_EQ(ErrorScale({-0.31}), 0.4);

    // A failure in the middle stores nothing of the batch.
    ASSERT_TRUE(db.Execute("CREATE TRIGGER NoSecond BEFORE INSERT ON T_Fund_Estimate WHEN NEW.FundID='000007' "
                           "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    EXPECT_FALSE(errors.RecordRun({{"000006", 1.0f}, {"000007", 1.0f}}, Day(10, 31), Day(10, 31, 10, 0)));
    int rows = -1;
    ASSERT_TRUE(db.QueryInt("SELECT COUNT(*) FROM T_Fund_Estimate WHERE FundID='000006'", rows));
    EXPECT_EQ(rows, 0);
}

}  // namespace

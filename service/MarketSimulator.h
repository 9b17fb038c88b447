#pragma once
// The simulated fund market behind plindo-serve. Everything follows from the
// seed: the same seed gives the same companies, funds, stocks, prices, NAVs,
// dividends and splits on every machine and in every run. Fund histories are
// computed on first use and cached, so start-up only builds the catalogue.
// What it publishes is rounded as a real market publishes it (NAVs to four
// decimals, prices and index closes to cents), so that a folder written
// from it (MarketExport.h) serves the very same answers.
#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Market.h"

namespace vextal {

struct MarketOptions {
    uint64_t seed = 1;
    int fundCount = 1000;  // 1 .. 20000
};

// The simulator's names of the market records.
using SimFund = MarketFund;
using SimCompany = MarketCompany;
using SimDividend = FundDividend;
using SimSplit = FundSplit;

// A stock as the model moves it.
struct SimStock {
    int sector = 0;  // 0..9, see SectorIndustry
    double beta = 1, sigma = 0.02, startPrice = 10;
};

// The industry a sector's stocks are disclosed under: banks, other
// financials, property, pharma, electronics, autos and machinery, food and
// drink, chemicals, energy and power, software; "" outside 0..9.
const char* SectorIndustry(int sector);

class CMarketSimulator : public CMarket {
public:
    explicit CMarketSimulator(const MarketOptions& options);

    const MarketOptions& Options() const { return m_options; }
    // The preferred sector of a fund's stock picks.
    int FundSector(const MarketFund& fund) const { return m_fundSector[static_cast<size_t>(fund.ordinal)]; }
    const SimStock& StockModel(int stock) const { return m_simStocks[static_cast<size_t>(stock)]; }

    // The ten disclosed holdings in force on a day (they change quarterly,
    // disclosed on the quarter's first day); the fund's NAV follows them.
    std::vector<Holding> Holdings(const MarketFund& fund, int day) const override;
    int HoldingsDate(const MarketFund& fund, int day) const override;
    // Every minute of the two sessions (9:31-11:30, 13:01-15:00): a path
    // from the previous close to the day's close.
    std::shared_ptr<const StockQuotes> Quotes(int stock, int day) const override;
    bool DayClose(int stock, int day, double& close, double& prevClose) const override;
    bool HasQuotes(int day) const override;
    const std::vector<IndexClose>& IndexCloses(int index) const override;

protected:
    std::shared_ptr<FundHistory> ComputeHistory(const MarketFund& fund, int lastDay) const override;

private:
    void BuildStocks();
    void BuildCompanies();
    void BuildFunds();
    void BuildFactors();
    double BondReturn(int index) const;
    // A stock's daily returns, computed at least through `lastIndex`: a
    // market at mid-2025 needs no returns of the years up to the calendar's end.
    const float* StockReturns(int stock, int lastIndex) const;
    const std::vector<float>& StockCloses(int stock) const;
    // The published close: cents, never below one.
    double PublishedClose(int stock, int index) const;
    int QuarterStart(int day) const;

    MarketOptions m_options;
    std::vector<SimStock> m_simStocks;
    std::vector<int> m_fundSector;
    std::vector<double> m_market, m_bond;
    std::vector<std::vector<double>> m_sector;
    std::vector<std::vector<IndexClose>> m_indexCloses;
    std::vector<std::vector<int>> m_stocksBySector;
    std::vector<int> m_quarterOfIndex;  // QuarterStart of each trading index

    // Each stock's returns, filled lazily under the stock's own lock and
    // read without one below `done`.
    struct StockPath {
        explicit StockPath(size_t days) : returns(new float[days]) { returns[0] = 0; }
        std::unique_ptr<float[]> returns;
        std::atomic<int> done{1};  // returns[0, done) are final; day 0 has none
        std::mutex mutex;          // one writer extends `done`
    };
    std::vector<std::unique_ptr<StockPath>> m_stockPaths;

    // Lazily filled caches; guarded by m_mutex.
    mutable std::mutex m_mutex;
    mutable std::vector<std::shared_ptr<std::vector<float>>> m_stockCloses;
    // The recent days' quotes (an estimate curve asks for the same ones
    // every five minutes of the day), the least recently used dropped first.
    using QuoteKey = std::pair<int, int>;
    mutable std::map<QuoteKey, std::pair<std::shared_ptr<const StockQuotes>, std::list<QuoteKey>::iterator>> m_quotes;
    mutable std::list<QuoteKey> m_quoteOrder;
};

}  // namespace vextal

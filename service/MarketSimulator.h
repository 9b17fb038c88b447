#pragma once
// The simulated fund market behind plindo-serve. Everything follows from the
// seed: the same seed gives the same companies, funds, stocks, prices, NAVs,
// dividends and splits on every machine and in every run. Fund histories are
// computed on first use and cached, so start-up only builds the catalogue.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TradingCalendar.h"
#include "common/OleDate.h"

namespace vextal {

struct MarketOptions {
    uint64_t seed = 1;
    int fundCount = 1000;  // 1 .. 20000
};

struct SimCompany {
    std::string id;  // 4 digits
    std::string name, url, type;
    int firstFundDay = 0;  // the company appears with its first fund
};

struct SimFund {
    int ordinal = 0;
    std::string code, companyId, name, shortName, url;
    int fundType = 1;    // 1 open-end, 2 closed-end, 3 ETF, 4 LOF, 5 collective
    int investType = 1;  // 1 stock, 2 mixed, 3 bond, 4 money market
    int bankId = 1;
    int createDay = 0;    // first NAV day (a trading day)
    int withdrawDay = 0;  // last day on the market; 0 = still listed
    float newCount = 0, oldCount = 0;
    int sector = 0;  // preferred sector of its stock picks
    bool HoldsStocks() const { return investType == 1 || investType == 2; }
    bool IsMoneyMarket() const { return investType == 4; }
};

struct SimStock {
    std::string code, name;
    int sector = 0;  // 0..9, see SectorIndustry
    double beta = 1, sigma = 0.02, startPrice = 10;
};

struct SimIndex {
    std::string code, name;
    double base = 1000;
    double sectorWeight[10] = {};
};

// One published record of a fund. For money-market funds nav is the income
// per 10,000 units and pct the 7-day annualised yield; acc stays 1.
struct NavRecord {
    int day = 0;
    double nav = 0, acc = 0, pct = 0, var = 0;
    double growth = 1;  // total return since the first NAV, dividends reinvested
};

struct SimDividend {
    int recordDay = 0, payDay = 0, exDay = 0;
    double perUnit = 0;
};

struct SimSplit {
    int day = 0;
    double ratio = 1;  // new units per old unit
};

struct Holding {
    int stock = 0;
    double weight = 0;  // share of assets, two decimals in percent / 100
};

// A fund's internal daily series over every trading day from its first NAV.
struct FundSeries {
    int firstIndex = 0;  // trading index of the first entry
    std::vector<float> nav, acc, pct, var, growth;
    std::vector<SimDividend> dividends;
    std::vector<SimSplit> splits;
    int Size() const { return static_cast<int>(nav.size()); }
};

// The latest published value of a fund with the period returns of the
// latest-value records, all in percent.
struct LatestValue {
    NavRecord rec;
    double week = 0, month = 0, twoMonth = 0, threeMonth = 0, sixMonth = 0, oneYear = 0, thisYear = 0, yearAvg = 0,
           total = 0;
    int sum22 = 0, sum44 = 0;
    double adjusted = 1;  // NAV with dividends reinvested (the second accumulated value)
};

struct IndexRecord {
    int day = 0;
    double value = 0, var = 0, pct = 0, turnover = 0;
};

// The industry a sector's stocks are disclosed under: banks, other
// financials, property, pharma, electronics, autos and machinery, food and
// drink, chemicals, energy and power, software; "" outside 0..9.
const char* SectorIndustry(int sector);

// Puts the calling thread at the lowest scheduling priority: warming that
// runs beside the requests must not take their processor time.
void RunAtBackgroundPriority();

class CMarketSimulator {
public:
    explicit CMarketSimulator(const MarketOptions& options);

    const MarketOptions& Options() const { return m_options; }
    const CTradingCalendar& Calendar() const { return m_calendar; }
    const std::vector<SimCompany>& Companies() const { return m_companies; }
    const std::vector<SimFund>& Funds() const { return m_funds; }
    const std::vector<SimStock>& Stocks() const { return m_stocks; }
    const std::vector<SimIndex>& Indices() const { return m_indices; }
    const SimFund* FindFund(const std::string& code) const;
    // Index 0..2 of "1A0001", "399001", "399300"; -1 otherwise.
    int FindIndex(const std::string& code) const;
    // The class of the latest-value lists: 1 open-end, 2 money market,
    // 3 closed-end, 4 ETF/LOF, 5 collective.
    static int FundClass(const SimFund& fund);

    // Publication: a trading day's NAV appears at 20:00 that day, index
    // closes at 15:00. Results are 0 before any trading day.
    int LatestNavDay(const OleDate& now) const;
    int LatestIndexDay(const OleDate& now) const;
    // Catalogue version stamps ("%Y%m%d"); they move when a fund or company
    // enters or a fund is withdrawn.
    std::string FundListVersion(const OleDate& now) const;
    std::string CompanyListVersion(const OleDate& now) const;
    bool IsListed(const SimFund& fund, int day) const { return fund.createDay <= day; }
    bool IsWithdrawn(const SimFund& fund, int day) const { return fund.withdrawDay && fund.withdrawDay < day; }
    // A new member's first folder: the first five equity funds listed on `day`.
    std::vector<std::string> StarterFunds(int day) const
    {
        std::vector<std::string> codes;
        for (const SimFund& f : Funds()) {
            if (codes.size() == 5) break;
            if (f.fundType == 1 && IsListed(f, day) && !IsWithdrawn(f, day)) codes.push_back(f.code);
        }
        return codes;
    }

    // Market factors and stocks, by trading index.
    double StockReturn(int stock, int index) const;
    double StockClose(int stock, int index) const;
    // Intraday price: follows a fixed path from the previous close to the
    // day's close during 9:30-11:30 and 13:00-15:00.
    double StockPriceAt(int stock, const OleDate& at) const;
    // StockPriceAt at every trading minute 0..240 of `day` (the same values),
    // in one pass over the day's walk instead of one pass per minute.
    std::vector<double> StockDayPrices(int stock, int day) const;
    double BondReturn(int index) const;
    // The ten disclosed holdings in force on a day (they change quarterly).
    std::vector<Holding> Holdings(const SimFund& fund, int day) const;
    // Quarter-start day of the holdings in force on a day.
    int HoldingsDate(int day) const;
    // Daily return of a fund on a trading index (before dividends and splits).
    double FundReturn(const SimFund& fund, int index) const;

    // The internal daily series up to and including trading day `lastDay`.
    // Kept in a bounded cache unless `keep` is false (a pass over the whole
    // market that reads each series once).
    std::shared_ptr<const FundSeries> Series(const SimFund& fund, int lastDay, bool keep = true) const;
    // Published records with from <= day <= to, as visible at `now`
    // (closed-end funds publish on Fridays only).
    std::vector<NavRecord> Published(const SimFund& fund, const OleDate& now, int from, int to) const;
    bool Latest(const SimFund& fund, const OleDate& now, LatestValue& out) const;
    // The dividends whose ex-day lies in (from, to] and that are visible at now.
    std::vector<SimDividend> Dividends(const SimFund& fund, const OleDate& now, int from, int to) const;
    std::vector<SimSplit> Splits(const SimFund& fund, const OleDate& now) const;
    // The NAV that confirms a trade placed at `tradeTime`: that day's NAV
    // before 15:00 on a trading day, otherwise the next trading day's.
    // False with a refusal text when that NAV is not published at `now`.
    bool TradeNav(const SimFund& fund, const OleDate& tradeTime, const OleDate& now, double& nav, int& day,
                  std::string& refusal) const;
    // Intraday estimate of today's NAV at `at` from the holdings and the
    // stock paths; false outside a trading day or before the first NAV.
    bool EstimateAt(const SimFund& fund, const OleDate& at, double& nav, double& pct) const;
    // Income of `shares` units of a money-market fund over published days in
    // (from, to]; `lastDay` is the last such day (or `from` when none).
    double MoneyIncome(const SimFund& fund, const OleDate& now, int from, int to, double shares, int& lastDay) const;

    std::vector<IndexRecord> IndexHistory(int index, const OleDate& now, int from, int to) const;

    // Computes and caches the latest values of the listed funds of the
    // latest-value classes `classes` (FundClass numbers, empty for all) as
    // visible at `now` on `threads` threads, so that a first whole class
    // list does not wait for every fund's history. Ends early once `stop`.
    void WarmLatest(const OleDate& now, const std::vector<int>& classes, int threads,
                    const std::atomic<bool>* stop = nullptr) const;

private:
    void BuildStocks();
    void BuildCompanies();
    void BuildFunds();
    void BuildFactors();
    // A stock's daily returns, computed at least through `lastIndex`: a
    // market at mid-2025 needs no returns of the years up to the calendar's end.
    const float* StockReturns(int stock, int lastIndex) const;
    const std::vector<float>& StockCloses(int stock) const;
    std::shared_ptr<FundSeries> Compute(const SimFund& fund, int lastIndex) const;
    NavRecord RecordAt(const SimFund& fund, const FundSeries& s, int i) const;

    MarketOptions m_options;
    CTradingCalendar m_calendar;
    std::vector<SimCompany> m_companies;
    std::vector<SimFund> m_funds;
    std::map<std::string, int> m_fundByCode;
    std::vector<SimStock> m_stocks;
    std::vector<SimIndex> m_indices;
    std::vector<double> m_market, m_bond;
    std::vector<std::vector<double>> m_sector;
    std::vector<std::vector<double>> m_indexLevel;
    std::vector<std::vector<int>> m_stocksBySector;
    std::vector<int> m_quarterOfIndex;  // HoldingsDate of each trading index

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
    mutable std::map<int, std::shared_ptr<FundSeries>> m_series;
    mutable std::deque<int> m_seriesOrder;  // ordinals of m_series, oldest first
    mutable size_t m_seriesPoints = 0;
    mutable std::map<std::pair<int, int>, LatestValue> m_latest;
};

}  // namespace vextal

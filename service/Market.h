#pragma once
// The fund market behind plindo-serve, whatever it comes from: the records
// every command, data-service query, quote page and web page reads, and the
// one place where what is published at a given clock is decided. A market
// provides its catalogue, each fund's published NAVs (from which the day
// changes, the growth with dividends reinvested and the period returns
// follow here), the disclosed holdings, the stock quotes and the index
// closes; CMarketSimulator makes them from a seed, CFileMarket reads them
// from a folder. Days are whole OLE date numbers (TradingCalendar.h).
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "TradingCalendar.h"
#include "common/OleDate.h"

namespace vextal {

struct MarketCompany {
    std::string id;  // 4 characters
    std::string name, url, type;
    int firstFundDay = 0;  // the company appears with its first fund
};

struct MarketFund {
    int ordinal = 0;  // place in Funds()
    std::string code, companyId, name, shortName, url;
    int fundType = 1;    // 1 open-end, 2 closed-end, 3 ETF, 4 LOF, 5 collective
    int investType = 1;  // 1 stock, 2 mixed, 3 bond, 4 money market
    int bankId = 1;
    int createDay = 0;    // founding day
    int withdrawDay = 0;  // last day on the market; 0 = still listed
    float newCount = 0, oldCount = 0;
    bool HoldsStocks() const { return investType == 1 || investType == 2; }
    bool IsMoneyMarket() const { return investType == 4; }
};

struct MarketStock {
    std::string code, name, industry;
};

struct MarketIndex {
    std::string code, name;
};

// The three indices every market has, in this order.
const std::vector<MarketIndex>& StandardIndices();

// One published record of a fund. For money-market funds nav is the income
// per 10,000 units and pct the 7-day annualised yield; acc stays 1.
struct NavRecord {
    int day = 0;
    double nav = 0, acc = 0, pct = 0, var = 0;
    double growth = 1;  // total return since the first NAV, dividends reinvested
};

struct FundDividend {
    int recordDay = 0, payDay = 0, exDay = 0;
    double perUnit = 0;
};

struct FundSplit {
    int day = 0;
    double ratio = 1;  // new units per old unit
};

struct Holding {
    int stock = 0;      // place in Stocks()
    double weight = 0;  // share of assets: the disclosed percent / 100
};

// A fund's published records in day order. A market gives days, nav and acc
// (a money-market fund: days, nav as the income and pct as the yield), the
// dividends and the splits; DeriveFigures adds the rest.
struct FundHistory {
    std::vector<int> days;
    std::vector<float> nav, acc, pct, var, growth;
    std::vector<FundDividend> dividends;  // by ex-day
    std::vector<FundSplit> splits;        // by day
    int through = INT_MAX;                // the records are complete up to this day
    size_t Size() const { return days.size(); }
    NavRecord At(size_t i) const;
    // The last record on or before `day`, -1 when none.
    long LastOnOrBefore(int day) const;
    // The record of exactly `day`, -1 when none.
    long Find(int day) const;
};

// The figures the market does not publish, from the NAVs: a record's change
// is its NAV plus the dividends paid since the previous record, times the
// splits since then, against the previous NAV; the growth compounds those
// changes from 1 at the first record. A money-market fund's growth
// compounds its income per 10,000 units; its accumulated value stays 1.
void DeriveFigures(bool moneyMarket, FundHistory& h);

// The latest published value of a fund with the period returns of the
// latest-value records, all in percent.
struct LatestValue {
    NavRecord rec;
    double week = 0, month = 0, twoMonth = 0, threeMonth = 0, sixMonth = 0, oneYear = 0, thisYear = 0, yearAvg = 0,
           total = 0;
    int sum22 = 0, sum44 = 0;
    double adjusted = 1;  // NAV with dividends reinvested (the second accumulated value)
};

// An index close as a market holds it, and as it is published (the change
// against the previous close).
struct IndexClose {
    int day = 0;
    double value = 0, turnover = 0;  // turnover in 100 million yuan
};
struct IndexRecord {
    int day = 0;
    double value = 0, var = 0, pct = 0, turnover = 0;
};

// One stock's trading day: the previous close and the prices in time order.
struct QuoteRow {
    int second = 0;  // of the day
    float price = 0;
};
struct StockQuotes {
    float prevClose = 0;
    std::vector<QuoteRow> rows;
    // The last price at or before `second`, the previous close before the first.
    double PriceAt(int second) const;
    // The day's last price, the previous close when there is none.
    double Close() const { return rows.empty() ? prevClose : rows.back().price; }
};

// Four decimals, as NAVs are published.
inline double Round4(double v) { return std::round(v * 10000.0) / 10000.0; }

inline int SecondOfDay(const OleDate& at) { return at.Hour() * 3600 + at.Minute() * 60 + at.Second(); }

class CMarket {
public:
    virtual ~CMarket();
    CMarket(const CMarket&) = delete;
    CMarket& operator=(const CMarket&) = delete;

    const CTradingCalendar& Calendar() const { return m_calendar; }
    const std::vector<MarketCompany>& Companies() const { return m_companies; }
    const std::vector<MarketFund>& Funds() const { return m_funds; }
    const std::vector<MarketStock>& Stocks() const { return m_stocks; }
    const std::vector<MarketIndex>& Indices() const { return StandardIndices(); }
    const MarketFund* FindFund(const std::string& code) const;
    // Place in Indices() of "1A0001", "399001", "399300"; -1 otherwise.
    int FindIndex(const std::string& code) const;
    // Place in Stocks(); -1 for an unknown code.
    int FindStock(const std::string& code) const;
    // The class of the latest-value lists: 1 open-end, 2 money market,
    // 3 closed-end, 4 ETF/LOF, 5 collective.
    static int FundClass(const MarketFund& fund);

    // Publication: a day's NAV appears at 20:00 that day (a closed-end
    // fund's Friday NAV too when the Friday is a holiday), index closes at
    // 15:00, and never past the newest day the market has.
    static bool IsPublishedBy(int day, const OleDate& now, int hour);
    bool NavPublishedBy(int day, const OleDate& now) const;
    // The newest trading day whose NAVs are out at `now`; 0 before any.
    int LatestNavDay(const OleDate& now) const;
    int LatestIndexDay(const OleDate& now) const;
    // Catalogue version stamps ("%Y%m%d"); they move when a fund or company
    // enters or a fund is withdrawn.
    std::string FundListVersion(const OleDate& now) const;
    std::string CompanyListVersion(const OleDate& now) const;
    bool IsListed(const MarketFund& fund, int day) const { return fund.createDay <= day; }
    bool IsWithdrawn(const MarketFund& fund, int day) const { return fund.withdrawDay && fund.withdrawDay < day; }
    // A new member's first folder: the first five open-end funds listed on `day`.
    std::vector<std::string> StarterFunds(int day) const;

    // Every record of the fund up to at least `lastDay` (it may hold later
    // ones: callers bound what they read), with the figures derived. Kept in
    // a bounded cache unless `keep` is false (a pass over the whole market
    // that reads each history once).
    std::shared_ptr<const FundHistory> History(const MarketFund& fund, int lastDay, bool keep = true) const;
    // Published records with from <= day <= to, as visible at `now`.
    std::vector<NavRecord> Published(const MarketFund& fund, const OleDate& now, int from, int to) const;
    bool Latest(const MarketFund& fund, const OleDate& now, LatestValue& out) const;
    // The dividends whose ex-day lies in (from, to] and that are visible at now.
    std::vector<FundDividend> Dividends(const MarketFund& fund, const OleDate& now, int from, int to) const;
    std::vector<FundSplit> Splits(const MarketFund& fund, const OleDate& now) const;
    // The NAV that confirms a trade placed at `tradeTime`: that day's NAV
    // before 15:00 on a trading day, otherwise the next trading day's.
    // False with a refusal text when that NAV is not published at `now`.
    bool TradeNav(const MarketFund& fund, const OleDate& tradeTime, const OleDate& now, double& nav, int& day,
                  std::string& refusal) const;
    // Intraday estimate of today's NAV at `at`: the previous NAV moved by
    // the disclosed holdings' price changes. False outside a trading day,
    // for a fund without holdings in force or without any quote of them,
    // and for funds that publish no daily NAV to start from.
    bool EstimateAt(const MarketFund& fund, const OleDate& at, double& nav, double& pct) const;
    // Income of `shares` units of a money-market fund over published days in
    // (from, to]; `lastDay` is the last such day (or `from` when none).
    double MoneyIncome(const MarketFund& fund, const OleDate& now, int from, int to, double shares, int& lastDay) const;
    // Index records with from <= day <= to as visible at `now`; the first
    // close a market holds only serves as the previous close of the second.
    std::vector<IndexRecord> IndexHistory(int index, const OleDate& now, int from, int to) const;

    // Computes and caches the latest values of the listed funds of the
    // latest-value classes `classes` (FundClass numbers, empty for all) as
    // visible at `now` on `threads` threads, so that a first whole class
    // list does not wait for every fund's history. Ends early once `stop`.
    void WarmLatest(const OleDate& now, const std::vector<int>& classes, int threads,
                    const std::atomic<bool>* stop = nullptr) const;

    // What each market provides.
    // The holdings in force on `day` (the latest disclosure on or before
    // it), largest first; none for a fund without a disclosure.
    virtual std::vector<Holding> Holdings(const MarketFund& fund, int day) const = 0;
    // The disclosure day of those holdings; 0 when none is in force.
    virtual int HoldingsDate(const MarketFund& fund, int day) const = 0;
    // A stock's quotes of a trading day; null when the market has none.
    virtual std::shared_ptr<const StockQuotes> Quotes(int stock, int day) const = 0;
    // A stock's last price of a day and the previous close (the day's
    // return without the intraday rows); false when it has no quote that day.
    virtual bool DayClose(int stock, int day, double& close, double& prevClose) const = 0;
    // Whether the market holds any quotes of `day`.
    virtual bool HasQuotes(int day) const = 0;
    // An index's closes in day order.
    virtual const std::vector<IndexClose>& IndexCloses(int index) const = 0;

protected:
    explicit CMarket(CTradingCalendar calendar);
    // The fund's records, figures derived, complete up to at least `lastDay`.
    virtual std::shared_ptr<FundHistory> ComputeHistory(const MarketFund& fund, int lastDay) const = 0;
    // Once the catalogue is filled: the lookups and each company's first fund day.
    void IndexCatalogue();

    CTradingCalendar m_calendar;
    std::vector<MarketCompany> m_companies;
    std::vector<MarketFund> m_funds;
    std::vector<MarketStock> m_stocks;
    // The newest day of any NAV and of any index close; INT_MAX for a
    // market that has every day.
    int m_newestNavDay = INT_MAX;
    int m_newestIndexDay = INT_MAX;

private:
    std::unordered_map<std::string, int> m_fundByCode, m_stockByCode;

    // Lazily filled caches; guarded by m_mutex.
    mutable std::mutex m_mutex;
    mutable std::map<int, std::shared_ptr<const FundHistory>> m_histories;
    mutable std::deque<int> m_historyOrder;  // ordinals of m_histories, oldest first
    mutable size_t m_historyPoints = 0;
    mutable std::map<std::pair<int, int>, LatestValue> m_latest;
};

// Puts the calling thread at the lowest scheduling priority: warming that
// runs beside the requests must not take their processor time.
void RunAtBackgroundPriority();

}  // namespace vextal

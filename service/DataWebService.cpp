#include "DataWebService.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "common/Clock.h"
#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/FundInvestInfo.h"
#include "net/QuotePage.h"

namespace vextal {
namespace {

constexpr size_t kMaxFunds = 2000;  // codes in one calculation request
constexpr int kDriftDays = 20;      // trading days of the tracking drift


std::string Document(const std::string& root, const std::string& items)
{
    return Utf8ToGbk("<?xml version=\"1.0\" encoding=\"gbk\"?>\n<" + root +
                     " xmlns=\"http://www.plindo.example/plindo/common/plindoservice\">\n" + items + "</" + root +
                     ">\n");
}

// Volumes and order-book sizes of the quote page: deterministic per stock,
// day and minute, so the page reads the same twice.
uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The stock code as a number for those draws: markets that number their
// stocks differently give the same page.
uint64_t CodeHash(const std::string& code)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : code) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

// Clock minute of trading minute m (1 = 9:31, 120 = 11:30, 121 = 13:01, 240 = 15:00).
OleDate TradingMinute(int day, int m)
{
    int minute = m <= 120 ? 570 + m : 660 + m;
    OleDate d = DateOfDay(day);
    return OleDate::FromParts(d.Year(), d.Month(), d.Day(), minute / 60, minute % 60);
}

}  // namespace

std::string XmlEscape(const std::string& text) { return XmlEscapeText(text); }

CDataWebService::CDataWebService(const CMarket& market) : m_market(market) {}

std::string CDataWebService::FundInvestInfo(const std::string& fundId) const
{
    std::string items;
    if (const SimFund* fund = m_market.FindFund(TrimText(fundId))) {
        for (const Holding& h : m_market.Holdings(*fund, DayNumber(Clock::Now()))) {
            const MarketStock& s = m_market.Stocks()[static_cast<size_t>(h.stock)];
            items += WriteFundInvestInfo(s.code, s.name, h.weight * 100.0, s.industry);
        }
    }
    return Document(kFundInvestInfoRoot, items);
}

// The calibration. The raw estimate is the client's sum of holding share
// times the stock's change; here the ten disclosed holdings are the whole
// stock position, so it needs no scaling. What it misses is the rest of the
// fund's day: the bond part, the fee and the manager's trading. That is
// estimated by the fund's recent tracking drift, the mean over its last 20
// published trading days of its day change minus the change its holdings
// alone gave. A money-market fund has no stock part: its estimate is the
// newest day's income in percent.
double CDataWebService::Calibrate(const MarketFund& fund, double raw, const OleDate& now) const
{
    const CTradingCalendar& cal = m_market.Calendar();
    const int last = m_market.LatestNavDay(now);
    if (last < fund.createDay) return raw;
    auto h = m_market.History(fund, last);
    const long lastEntry = h->LastOnOrBefore(last);
    if (lastEntry < 0) return raw;
    if (fund.IsMoneyMarket()) return h->nav[static_cast<size_t>(lastEntry)] / 100.0;
    double drift = 0;
    int days = 0;
    // A record counts when it is a day's change (the previous trading day's
    // NAV before it) and the market has the quotes of its day; entry 0 is
    // the first NAV, which has no change.
    for (long k = lastEntry; k >= 1 && k > lastEntry - kDriftDays; --k) {
        const int day = h->days[static_cast<size_t>(k)];
        if (h->days[static_cast<size_t>(k - 1)] != cal.PrevTradingDay(day) || !m_market.HasQuotes(day)) continue;
        double stocks = 0;
        for (const Holding& held : m_market.Holdings(fund, day)) {
            double close = 0, prevClose = 0;
            if (m_market.DayClose(held.stock, day, close, prevClose) && prevClose > 0)
                stocks += held.weight * (close / prevClose - 1.0);
        }
        drift += h->pct[static_cast<size_t>(k)] - stocks * 100.0;
        ++days;
    }
    return raw + (days ? drift / days : 0.0);
}

std::string CDataWebService::CalcResult(const std::string& fundIdList, const std::string& rawList) const
{
    std::vector<std::string> codes, raws;
    SplitFields(fundIdList, "|", codes);
    SplitFields(rawList, "|", raws);
    std::string items;
    if (codes.size() <= kMaxFunds) {
        const OleDate now = Clock::Now();
        for (size_t i = 0; i < codes.size(); ++i) {
            // A value that is missing or not a number counts as no change.
            double raw = i < raws.size() ? NumberOr(raws[i], 0) : 0;
            if (std::fabs(raw) > 1000) raw = 0;
            const std::string code = TrimText(codes[i]);
            const SimFund* fund = m_market.FindFund(code);
            // An unknown code keeps its place, with its raw value and no name.
            if (!fund) items += WriteFundInvestInfo(code, "", raw);
            else items += WriteFundInvestInfo(fund->code, fund->name, Calibrate(*fund, raw, now));
        }
    }
    return Document(kFundInvestInfoRoot, items);
}

std::string CDataWebService::SplitInfo(const std::string& fundId, int typeFlag) const
{
    std::string items;
    if (const SimFund* fund = m_market.FindFund(TrimText(fundId))) {
        std::vector<SimSplit> splits = m_market.Splits(*fund, Clock::Now());
        if (typeFlag == 1 && splits.size() > 1) splits.erase(splits.begin(), splits.end() - 1);
        for (const SimSplit& s : splits)
            items += "  <FundSplitInfo><FundID>" + fund->code + "</FundID><SplitDate>" + DateOfDay(s.day).Format(1) +
                     "</SplitDate><SplitScale>" + StrFormat("%0.4f", s.ratio) + "</SplitScale></FundSplitInfo>\n";
    }
    return Document("ArrayOfFundSplitInfo", items);
}

bool CDataWebService::QuotePage(const std::string& stockId, std::string& page) const
{
    const int stock = m_market.FindStock(stockId);
    if (stock < 0) return false;
    const CTradingCalendar& cal = m_market.Calendar();
    const OleDate now = Clock::Now();
    const int today = DayNumber(now);
    const int minuteNow = now.Hour() * 60 + now.Minute();
    // The session shown: today's from 9:30, else the last one, at its close.
    int index = cal.IndexOnOrBefore(today);
    if (index >= 0 && cal.DayAt(index) == today && minuteNow < 570) --index;
    if (index < 0) return false;
    const int day = cal.DayAt(index);
    const std::shared_ptr<const StockQuotes> quotes = m_market.Quotes(stock, day);
    if (!quotes || quotes->prevClose <= 0) return false;
    const bool live = day == today && minuteNow < 900;
    int m = 240;  // trading minutes passed
    if (live) m = minuteNow < 690 ? minuteNow - 570 : minuteNow < 780 ? 120 : minuteNow - 660;
    const OleDate at = live ? now : TradingMinute(day, 240);
    const int until = live ? SecondOfDay(now) : INT_MAX;

    const double prevClose = quotes->prevClose;
    const double price = quotes->PriceAt(until);
    double open = prevClose, high = prevClose, low = prevClose;
    const auto& rows = quotes->rows;
    if (!rows.empty() && rows.front().second <= until) {
        open = high = low = rows.front().price;
        for (size_t k = 1; k < rows.size() && rows[k].second <= until; ++k) {
            high = std::max<double>(high, rows[k].price);
            low = std::min<double>(low, rows[k].price);
        }
        high = std::max(high, price);
        low = std::min(low, price);
    }
    const uint64_t key = Mix(CodeHash(stockId) * 1000003u + static_cast<uint64_t>(day));
    const double volume = std::floor(static_cast<double>(Mix(key) % 400000) * m / 240.0) * 100.0;
    StockQuote q;
    q.Name = m_market.Stocks()[static_cast<size_t>(stock)].name;
    q.Open = open;
    q.PrevClose = prevClose;
    q.Price = price;
    q.High = high;
    q.Low = low;
    q.ChangePercent = (price / prevClose - 1.0) * 100.0;
    q.Volume = volume;
    q.Turnover = volume * price;
    for (size_t level = 1; level <= 5; ++level) {
        for (int side = 0; side < 2; ++side) {
            const uint64_t size = Mix(key + static_cast<uint64_t>(m * 16 + side * 8 + static_cast<int>(level))) % 500 + 1;
            const double at = price + (side == 0 ? -0.01 : 0.01) * static_cast<double>(level);
            (side == 0 ? q.BidSize : q.AskSize)[level - 1] = static_cast<double>(size * 100);
            (side == 0 ? q.BidPrice : q.AskPrice)[level - 1] = at;
        }
    }
    q.Session = DateOfDay(day);
    q.Time = at;
    q.Change = price - prevClose;
    q.Amplitude = (high - low) / prevClose * 100.0;
    q.Code = stockId;
    const std::string text = WriteQuotePage(q);
    page = Utf8ToGbk(text);
    return true;
}

}  // namespace vextal

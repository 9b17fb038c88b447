#include "Market.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "common/Format.h"

namespace vextal {
namespace {

// The day `months` calendar months before `day`, the day of month clamped.
int MonthsBefore(int day, int months)
{
    DateParts p = DateOfDay(day).Parts();
    int total = p.year * 12 + (p.month - 1) - months;
    int y = total / 12, m = total % 12 + 1;
    for (int d = p.day; d >= 28; --d) {
        OleDate r = OleDate::FromParts(y, m, d);
        if (r.IsValid()) return DayNumber(r);
    }
    return DayOf(y, m, std::min(p.day, 28));
}

std::string NotPublished(int day)
{
    return StrFormat("%s的基金净值尚未公布，请在当日20:00以后确认交易", DateOfDay(day).Format(1).c_str());
}

}  // namespace

const std::vector<MarketIndex>& StandardIndices()
{
    static const std::vector<MarketIndex> indices = {
        {"1A0001", "上证指数"}, {"399001", "深证成指"}, {"399300", "沪深300"}};
    return indices;
}

NavRecord FundHistory::At(size_t i) const
{
    NavRecord r;
    r.day = days[i];
    r.nav = nav[i];
    r.acc = acc[i];
    r.pct = pct[i];
    r.var = var[i];
    r.growth = growth[i];
    return r;
}

long FundHistory::LastOnOrBefore(int day) const
{
    return static_cast<long>(std::upper_bound(days.begin(), days.end(), day) - days.begin()) - 1;
}

long FundHistory::Find(int day) const
{
    const long i = LastOnOrBefore(day);
    return i >= 0 && days[static_cast<size_t>(i)] == day ? i : -1;
}

void DeriveFigures(bool moneyMarket, FundHistory& h)
{
    const size_t n = h.days.size();
    h.var.assign(n, 0.0f);
    h.growth.assign(n, 1.0f);
    double growth = 1;
    if (moneyMarket) {
        h.acc.assign(n, 1.0f);
        h.pct.resize(n, 0.0f);
        for (size_t i = 0; i < n; ++i) {
            growth *= 1.0 + h.nav[i] / 10000.0;
            h.growth[i] = static_cast<float>(growth);
        }
        return;
    }
    h.pct.assign(n, 0.0f);
    size_t d = 0, s = 0;
    for (size_t i = 0; i < n; ++i) {
        // Dividends and splits up to the first record belong to no change.
        double paid = 0, ratio = 1;
        for (; d < h.dividends.size() && h.dividends[d].exDay <= h.days[i]; ++d)
            if (i > 0 && h.dividends[d].exDay > h.days[i - 1]) paid += h.dividends[d].perUnit;
        for (; s < h.splits.size() && h.splits[s].day <= h.days[i]; ++s)
            if (i > 0 && h.splits[s].day > h.days[i - 1]) ratio *= h.splits[s].ratio;
        if (i == 0) continue;
        const double prev = h.nav[i - 1];
        const double r = prev > 0 ? (h.nav[i] + paid) * ratio / prev - 1.0 : 0.0;
        growth *= 1.0 + r;
        h.pct[i] = static_cast<float>(r * 100.0);
        h.var[i] = static_cast<float>(prev * r);
        h.growth[i] = static_cast<float>(growth);
    }
}

double StockQuotes::PriceAt(int second) const
{
    auto it = std::upper_bound(rows.begin(), rows.end(), second,
                               [](int s, const QuoteRow& r) { return s < r.second; });
    return it == rows.begin() ? prevClose : std::prev(it)->price;
}

void RunAtBackgroundPriority()
{
    // Linux gives each thread its own nice value.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

CMarket::CMarket(CTradingCalendar calendar) : m_calendar(std::move(calendar)) {}

CMarket::~CMarket() = default;

void CMarket::IndexCatalogue()
{
    m_fundByCode.clear();
    m_stockByCode.clear();
    for (size_t i = 0; i < m_funds.size(); ++i) m_fundByCode.emplace(m_funds[i].code, static_cast<int>(i));
    for (size_t i = 0; i < m_stocks.size(); ++i) m_stockByCode.emplace(m_stocks[i].code, static_cast<int>(i));
    std::unordered_map<std::string, size_t> company;
    for (size_t i = 0; i < m_companies.size(); ++i) {
        company.emplace(m_companies[i].id, i);
        m_companies[i].firstFundDay = 0;
    }
    for (const MarketFund& f : m_funds) {
        auto it = company.find(f.companyId);
        if (it == company.end()) continue;
        MarketCompany& co = m_companies[it->second];
        if (co.firstFundDay == 0 || f.createDay < co.firstFundDay) co.firstFundDay = f.createDay;
    }
}

const MarketFund* CMarket::FindFund(const std::string& code) const
{
    auto it = m_fundByCode.find(code);
    return it == m_fundByCode.end() ? nullptr : &m_funds[static_cast<size_t>(it->second)];
}

int CMarket::FindIndex(const std::string& code) const
{
    const auto& indices = Indices();
    for (size_t k = 0; k < indices.size(); ++k)
        if (indices[k].code == code) return static_cast<int>(k);
    return -1;
}

int CMarket::FindStock(const std::string& code) const
{
    auto it = m_stockByCode.find(code);
    return it == m_stockByCode.end() ? -1 : it->second;
}

int CMarket::FundClass(const MarketFund& fund)
{
    switch (fund.fundType) {
    case 1: return fund.investType == 4 ? 2 : 1;
    case 2: return 3;
    case 5: return 5;
    default: return 4;
    }
}

bool CMarket::IsPublishedBy(int day, const OleDate& now, int hour)
{
    const int today = DayNumber(now);
    return day < today || (day == today && now.Hour() >= hour);
}

bool CMarket::NavPublishedBy(int day, const OleDate& now) const
{
    return day <= m_newestNavDay && IsPublishedBy(day, now, 20);
}

// The client expects the evening's NAVs from 20:00 too (kNavPublishHour of
// its latest values): keep the two hours in agreement.
int CMarket::LatestNavDay(const OleDate& now) const
{
    int i = m_calendar.IndexOnOrBefore(DayNumber(now));
    if (i >= 0 && !IsPublishedBy(m_calendar.DayAt(i), now, 20)) --i;
    i = std::min(i, m_calendar.IndexOnOrBefore(m_newestNavDay));
    return i >= 0 ? m_calendar.DayAt(i) : 0;
}

int CMarket::LatestIndexDay(const OleDate& now) const
{
    int i = m_calendar.IndexOnOrBefore(DayNumber(now));
    if (i >= 0 && !IsPublishedBy(m_calendar.DayAt(i), now, 15)) --i;
    i = std::min(i, m_calendar.IndexOnOrBefore(m_newestIndexDay));
    return i >= 0 ? m_calendar.DayAt(i) : 0;
}

std::string CMarket::FundListVersion(const OleDate& now) const
{
    int today = DayNumber(now), stamp = 0;
    for (const MarketFund& f : m_funds) {
        if (f.createDay <= today) stamp = std::max(stamp, f.createDay);
        if (f.withdrawDay && f.withdrawDay < today) stamp = std::max(stamp, f.withdrawDay + 1);
    }
    // Never at or below the stamp of an empty local catalogue.
    return std::max(std::string("20070102"), DateOfDay(stamp).Format(2));
}

std::string CMarket::CompanyListVersion(const OleDate& now) const
{
    int today = DayNumber(now), stamp = 0;
    for (const MarketCompany& c : m_companies)
        if (c.firstFundDay && c.firstFundDay <= today) stamp = std::max(stamp, c.firstFundDay);
    return std::max(std::string("20070102"), DateOfDay(stamp).Format(2));
}

std::vector<std::string> CMarket::StarterFunds(int day) const
{
    std::vector<std::string> codes;
    for (const MarketFund& f : m_funds) {
        if (codes.size() == 5) break;
        if (f.fundType == 1 && IsListed(f, day) && !IsWithdrawn(f, day)) codes.push_back(f.code);
    }
    return codes;
}

std::shared_ptr<const FundHistory> CMarket::History(const MarketFund& fund, int lastDay, bool keep) const
{
    {
        std::lock_guard lock(m_mutex);
        auto it = m_histories.find(fund.ordinal);
        // A longer history holds the shorter one: nothing looks ahead.
        if (it != m_histories.end() && it->second->through >= lastDay) return it->second;
    }
    std::shared_ptr<const FundHistory> h = ComputeHistory(fund, lastDay);
    if (!keep) return h;
    std::lock_guard lock(m_mutex);
    auto [it, added] = m_histories.try_emplace(fund.ordinal, h);
    if (added) {
        m_historyOrder.push_back(fund.ordinal);
    } else {
        m_historyPoints -= it->second->Size();
        it->second = h;
    }
    m_historyPoints += h->Size();
    // Bounded memory: a whole market of long histories does not stay
    // resident. The oldest go first, not all at once, so the funds being
    // looked at stay cached.
    while (m_historyPoints > 4'000'000 && m_historyOrder.size() > 1) {
        const int oldest = m_historyOrder.front();
        m_historyOrder.pop_front();
        if (oldest == fund.ordinal) {
            m_historyOrder.push_back(oldest);
            continue;
        }
        auto old = m_histories.find(oldest);
        m_historyPoints -= old->second->Size();
        m_histories.erase(old);
    }
    return h;
}

std::vector<NavRecord> CMarket::Published(const MarketFund& fund, const OleDate& now, int from, int to) const
{
    std::vector<NavRecord> out;
    const int last = std::min(to, DayNumber(now));
    if (last < fund.createDay || from > last) return out;
    auto h = History(fund, last);
    auto begin = std::lower_bound(h->days.begin(), h->days.end(), from);
    for (size_t i = static_cast<size_t>(begin - h->days.begin()); i < h->Size() && h->days[i] <= last; ++i) {
        if (!NavPublishedBy(h->days[i], now)) break;
        out.push_back(h->At(i));
    }
    return out;
}

bool CMarket::Latest(const MarketFund& fund, const OleDate& now, LatestValue& out) const
{
    // What is published changes with the day and at 20:00.
    const int today = DayNumber(now);
    const int stamp = today * 2 + (now.Hour() >= 20 ? 1 : 0);
    {
        std::lock_guard lock(m_mutex);
        auto it = m_latest.find({fund.ordinal, stamp});
        if (it != m_latest.end()) {
            out = it->second;
            return true;
        }
    }
    if (fund.createDay > today) return false;
    // Not kept: warming the whole market would push out every history that
    // pages and downloads are reading.
    auto h = History(fund, today, false);
    long last = h->LastOnOrBefore(today);
    while (last >= 0 && !NavPublishedBy(h->days[static_cast<size_t>(last)], now)) --last;
    if (last < 0) return false;
    const size_t lastEntry = static_cast<size_t>(last);
    LatestValue v;
    v.rec = h->At(lastEntry);
    const int lastDay = v.rec.day;
    auto growthAt = [&](int ref) {
        const long i = std::min(last, h->LastOnOrBefore(ref));
        return i < 0 ? 1.0 : static_cast<double>(h->growth[static_cast<size_t>(i)]);
    };
    auto since = [&](int ref) { return (v.rec.growth / growthAt(ref) - 1.0) * 100.0; };
    v.week = since(lastDay - 7);
    v.month = since(MonthsBefore(lastDay, 1));
    v.twoMonth = since(MonthsBefore(lastDay, 2));
    v.threeMonth = since(MonthsBefore(lastDay, 3));
    v.sixMonth = since(MonthsBefore(lastDay, 6));
    v.oneYear = since(MonthsBefore(lastDay, 12));
    v.thisYear = since(DayOf(DateOfDay(lastDay).Year() - 1, 12, 31));
    v.total = (v.rec.growth - 1.0) * 100.0;
    const double years = (lastDay - h->days[0]) / 365.25;
    v.yearAvg = years >= 1.0 ? (std::pow(v.rec.growth, 1.0 / years) - 1.0) * 100.0 : v.total;
    for (size_t k = 0; k <= lastEntry && k < 44; ++k) {
        if (h->pct[lastEntry - k] > 0) {
            if (k < 22) ++v.sum22;
            ++v.sum44;
        }
    }
    v.adjusted = fund.IsMoneyMarket() ? 1.0 : v.rec.growth;
    std::lock_guard lock(m_mutex);
    if (m_latest.size() > 200000) m_latest.clear();
    m_latest[{fund.ordinal, stamp}] = v;
    out = v;
    return true;
}

std::vector<FundDividend> CMarket::Dividends(const MarketFund& fund, const OleDate& now, int from, int to) const
{
    std::vector<FundDividend> out;
    const int last = std::min(to, LatestNavDay(now));
    if (last < fund.createDay) return out;
    for (const FundDividend& d : History(fund, last)->dividends)
        if (d.exDay > from && d.exDay <= last) out.push_back(d);
    return out;
}

std::vector<FundSplit> CMarket::Splits(const MarketFund& fund, const OleDate& now) const
{
    std::vector<FundSplit> out;
    const int last = LatestNavDay(now);
    if (last < fund.createDay) return out;
    for (const FundSplit& s : History(fund, last)->splits)
        if (s.day <= last) out.push_back(s);
    return out;
}

bool CMarket::TradeNav(const MarketFund& fund, const OleDate& tradeTime, const OleDate& now, double& nav, int& day,
                       std::string& refusal) const
{
    const int t = DayNumber(tradeTime);
    int navDay = m_calendar.IsTradingDay(t) && tradeTime.Hour() < 15 ? t : m_calendar.NextTradingDay(t);
    if (navDay == 0) {
        refusal = "交易时间超出了系统的日期范围";
        return false;
    }
    if (fund.withdrawDay && navDay > fund.withdrawDay) {
        refusal = "该基金已经终止，无法确认交易";
        return false;
    }
    if (!NavPublishedBy(navDay, now)) {
        refusal = NotPublished(navDay);
        return false;
    }
    if (fund.fundType == 2 && navDay >= fund.createDay) {
        // A closed-end fund publishes its NAV on Fridays only: a trade
        // confirms at the NAV of the Friday on or after its day.
        navDay += (12 - ((navDay % 7) + 6) % 7) % 7;
        if (!NavPublishedBy(navDay, now)) {
            refusal = NotPublished(navDay);
            return false;
        }
    }
    day = navDay;
    if (fund.IsMoneyMarket() || navDay < fund.createDay) {
        // Money-market units always cost 1; subscriptions before the first
        // NAV are made at par and confirmed on the fund's first day.
        nav = 1.0;
        day = std::max(navDay, fund.createDay);
        // A fund launched after `now` has no first day to confirm on yet.
        if (!NavPublishedBy(day, now)) {
            refusal = NotPublished(day);
            return false;
        }
        return true;
    }
    auto h = History(fund, navDay);
    const long entry = h->Find(navDay);
    if (entry < 0) {
        refusal = "没有找到该交易日的基金净值";
        return false;
    }
    nav = Round4(h->nav[static_cast<size_t>(entry)]);
    return true;
}

bool CMarket::EstimateAt(const MarketFund& fund, const OleDate& at, double& nav, double& pct) const
{
    const int day = DayNumber(at);
    // A closed-end fund's estimate would start from a daily NAV it never publishes.
    if (!m_calendar.IsTradingDay(day) || fund.IsMoneyMarket() || fund.fundType == 2) return false;
    const int prevDay = m_calendar.PrevTradingDay(day);
    if (prevDay < fund.createDay || (fund.withdrawDay && day > fund.withdrawDay)) return false;
    auto h = History(fund, prevDay);
    const long entry = h->Find(prevDay);
    if (entry < 0) return false;
    const std::vector<Holding> holdings = Holdings(fund, day);
    const int second = SecondOfDay(at);
    double r = 0;
    bool quoted = false;
    for (const Holding& hold : holdings) {
        // A stock without a quote today counts as unchanged (suspended).
        std::shared_ptr<const StockQuotes> q = Quotes(hold.stock, day);
        if (!q || q->prevClose <= 0) continue;
        quoted = true;
        r += hold.weight * (q->PriceAt(second) / q->prevClose - 1.0);
    }
    if (!quoted) return false;
    nav = h->nav[static_cast<size_t>(entry)] * (1.0 + r);
    pct = r * 100.0;
    return true;
}

double CMarket::MoneyIncome(const MarketFund& fund, const OleDate& now, int from, int to, double shares,
                            int& lastDay) const
{
    lastDay = from;
    double per10k = 0;
    for (const NavRecord& r : Published(fund, now, from + 1, to)) {
        per10k += r.nav;
        lastDay = r.day;
    }
    return shares * per10k / 10000.0;
}

std::vector<IndexRecord> CMarket::IndexHistory(int index, const OleDate& now, int from, int to) const
{
    std::vector<IndexRecord> out;
    if (index < 0 || index >= static_cast<int>(Indices().size())) return out;
    const std::vector<IndexClose>& closes = IndexCloses(index);
    const int last = std::min(to, LatestIndexDay(now));
    auto it = std::lower_bound(closes.begin(), closes.end(), from,
                               [](const IndexClose& c, int d) { return c.day < d; });
    if (it == closes.begin() && it != closes.end()) ++it;
    for (; it != closes.end() && it->day <= last; ++it) {
        const IndexClose& prev = *std::prev(it);
        IndexRecord r;
        r.day = it->day;
        r.value = it->value;
        r.var = it->value - prev.value;
        r.pct = prev.value != 0 ? r.var * 100.0 / prev.value : 0.0;
        r.turnover = it->turnover;
        out.push_back(r);
    }
    return out;
}

void CMarket::WarmLatest(const OleDate& now, const std::vector<int>& classes, int threads,
                         const std::atomic<bool>* stop) const
{
    const int today = DayNumber(now);
    std::atomic<size_t> next{0};
    auto work = [&] {
        LatestValue v;
        for (size_t i; (i = next++) < m_funds.size() && !(stop && *stop);) {
            const MarketFund& f = m_funds[i];
            if (!classes.empty() && std::find(classes.begin(), classes.end(), FundClass(f)) == classes.end()) continue;
            if (IsListed(f, today) && !IsWithdrawn(f, today)) Latest(f, now, v);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
}

}  // namespace vextal

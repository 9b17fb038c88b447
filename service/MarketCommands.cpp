// The market-data commands of the command service.
#include <algorithm>
#include <cmath>
#include <map>

#include "CommandService.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "wire/PeriodRecords.h"
#include "wire/ValueRecords.h"

namespace vextal {
namespace {

using Fields = std::vector<std::string>;
constexpr size_t kMaxCodes = 2000;  // fund codes in one request

bool ParseDay(const std::string& text, int& day)
{
    OleDate d;
    if (!OleDate::Parse(TrimText(text), d) || !d.IsValid()) return false;
    day = DayNumber(d);
    return true;
}

bool ParseTime(const std::string& text, OleDate& at)
{
    return OleDate::Parse(TrimText(text), at) && at.IsValid();
}

std::string DayText(int day) { return DateOfDay(day).Format(3); }

// A simulated NAV as the records carry it: a money-market fund's income per
// 10,000 units and 7-day yield, with 1 as its accumulated value.
CFundValue ValueOf(const SimFund& fund, const NavRecord& r)
{
    CFundValue v;
    v.FundID = fund.code;
    v.ValueDate = DateOfDay(r.day);
    v.TodayValue = r.nav;
    v.TotalValue = fund.IsMoneyMarket() ? 1.0 : r.acc;
    v.VarPercent = r.pct;
    v.VarValue = fund.IsMoneyMarket() ? 0.0 : r.var;
    return v;
}

void Append(std::vector<std::string>& out, const std::vector<std::string>& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

// Statistic `stat` (0..17) of one week or month of daily records, and the
// period's change in percent. `prevGrowth`, `prevNav`: the close before it.
double PeriodStatistic(const std::vector<NavRecord>& p, int stat, double prevGrowth, double prevNav, double& change)
{
    change = (p.back().growth / prevGrowth - 1.0) * 100.0;
    auto pick = [&](auto field, bool max) {
        double v = field(p.front());
        for (const NavRecord& r : p) v = max ? std::max(v, field(r)) : std::min(v, field(r));
        return v;
    };
    auto avg = [&](auto field) {
        double s = 0;
        for (const NavRecord& r : p) s += field(r);
        return s / static_cast<double>(p.size());
    };
    auto nav = [](const NavRecord& r) { return r.nav; };
    auto acc = [](const NavRecord& r) { return r.acc; };
    auto pct = [](const NavRecord& r) { return r.pct; };
    auto var = [](const NavRecord& r) { return r.var; };
    switch (stat) {
    case 0: return change;
    case 1: return p.back().nav - prevNav;
    case 2: return pick(nav, true);
    case 3: return pick(nav, false);
    case 4: return pick(acc, true);
    case 5: return pick(acc, false);
    case 6: return pick(pct, true);
    case 7: return pick(pct, false);
    case 8: return pick(var, true);
    case 9: return pick(var, false);
    case 10: return avg(nav);
    case 11: return avg(acc);
    case 12: return avg(pct);
    case 13: return avg(var);
    case 14: return p.front().nav;
    case 15: return p.back().nav;
    case 16: return p.front().acc;
    default: return p.back().acc;
    }
}

// Turning points of a series: a reversal counts once the series has moved
// `band` (a fraction) away from the last extreme. The first and last
// points are always included.
std::vector<size_t> ZigZag(const std::vector<double>& z, double band)
{
    std::vector<size_t> pivots;
    if (z.empty()) return pivots;
    pivots.push_back(0);
    int dir = 0;
    size_t ext = 0;
    for (size_t i = 1; i < z.size(); ++i) {
        if (dir == 0) {
            if (z[i] >= z[0] * (1 + band)) dir = 1, ext = i;
            else if (z[i] <= z[0] * (1 - band)) dir = -1, ext = i;
        } else if (dir > 0) {
            if (z[i] > z[ext]) ext = i;
            else if (z[i] <= z[ext] * (1 - band)) pivots.push_back(ext), dir = -1, ext = i;
        } else {
            if (z[i] < z[ext]) ext = i;
            else if (z[i] >= z[ext] * (1 + band)) pivots.push_back(ext), dir = 1, ext = i;
        }
    }
    if (ext > pivots.back()) pivots.push_back(ext);
    if (pivots.back() != z.size() - 1) pivots.push_back(z.size() - 1);
    return pivots;
}

}  // namespace

std::string CCommandService::FundNotFound(const std::string& code) const
{
    return StrFormat("没有找到基金%s", code.c_str());
}

CommandAnswer CCommandService::CompanyList()
{
    const int today = DayNumber(Clock::Now());
    std::vector<std::string> out;
    for (const SimCompany& c : m_market.Companies())
        if (c.firstFundDay && c.firstFundDay <= today) Append(out, {c.id, c.name, c.type, c.url});
    return CommandAnswer::Ok(JoinFields(out));
}

CommandAnswer CCommandService::FundList()
{
    const int today = DayNumber(Clock::Now());
    std::vector<std::string> out;
    for (const SimFund& f : m_market.Funds()) {
        if (!m_market.IsListed(f, today)) continue;
        // A withdrawn fund is sent without its company: the client deletes it.
        Append(out, {f.code, m_market.IsWithdrawn(f, today) ? "" : f.companyId, f.name, f.shortName,
                     std::to_string(f.fundType), std::to_string(f.investType), std::to_string(f.bankId), f.url,
                     DayText(f.createDay), StrFormat("%0.2f", f.newCount), StrFormat("%0.2f", f.oldCount)});
    }
    return CommandAnswer::Ok(JoinFields(out));
}

CommandAnswer CCommandService::IndexHistory(const Fields& f)
{
    int from = 0, to = 0;
    if (f.size() < 2 || !ParseDay(f[0], from) || !ParseDay(f[1], to)) return CommandAnswer::Fail(kDataFormatError);
    int index = f.size() > 3 ? m_market.FindIndex(TrimText(f[3])) : -1;
    if (index < 0) {
        const long long number = f.size() > 2 ? IntegerOr(f[2], 1) : 1;
        index = number >= 1 && number <= 3 ? static_cast<int>(number) - 1 : 0;
    }
    const std::string& code = m_market.Indices()[static_cast<size_t>(index)].code;
    std::vector<std::string> out;
    for (const IndexRecord& r : m_market.IndexHistory(index, Clock::Now(), from, to)) {
        CIndexValue v;
        v.IndexID = code;
        v.ValueDate = DateOfDay(r.day);
        v.TradeMoney = r.turnover;
        v.IndexValue = r.value;
        v.VarValue = r.var;
        WriteIndexRecord(out, v);
    }
    return CommandAnswer::Ok(JoinFields(out));
}

std::string CCommandService::LatestRecord(const SimFund& fund, const OleDate& now, int sinceDay) const
{
    LatestValue v;
    if (m_market.IsWithdrawn(fund, DayNumber(now)) || !m_market.Latest(fund, now, v) || v.rec.day <= sinceDay)
        return {};
    CNewFundValue r;
    static_cast<CFundValue&>(r) = ValueOf(fund, v.rec);
    r.WeekVarPercent = r.WeekIncome = v.week;
    r.MonthVarPercent = r.MonthIncome = v.month;
    r.TwoMonthIncome = v.twoMonth;
    r.ThreeMonthIncome = v.threeMonth;
    r.SixMonthIncome = v.sixMonth;
    r.OneYearIncome = v.oneYear;
    r.ThisYearIncome = v.thisYear;
    r.YearAvgIncome = v.yearAvg;
    r.TotalIncome = v.total;
    r.IncomeSum22 = v.sum22;
    r.IncomeSum44 = v.sum44;
    r.TotalValue1 = v.adjusted;
    std::vector<std::string> rec;
    WriteLatestValueRecord(rec, r, m_cipheredCodes[static_cast<size_t>(fund.ordinal)], fund.IsMoneyMarket());
    return JoinFields(rec);
}

CommandAnswer CCommandService::LatestValues(const std::vector<const SimFund*>& funds, int sinceDay) const
{
    const OleDate now = Clock::Now();
    std::vector<std::string> records;
    for (const SimFund* f : funds) {
        std::string rec = LatestRecord(*f, now, sinceDay);
        if (!rec.empty()) records.push_back(std::move(rec));
    }
    // Msg carries the version of these values: the newest NAV day.
    int newest = m_market.LatestNavDay(now);
    CommandAnswer a = CommandAnswer::Ok(newest ? DateOfDay(newest).Format(2) : "0");
    a.msg2 = JoinFields(records);
    return a;
}

CommandAnswer CCommandService::ClassValues(int cmdid, const std::string& version)
{
    // The version is a day ("%Y%m%d"): the client gets the values newer
    // than it (it sends the oldest value it holds of the class); anything
    // else asks for the whole class. Msg names the newest NAV day, which
    // the client takes as current until the next 20:00 publication.
    int since = 0;
    std::string v = TrimText(version);
    if (v.size() == 8 && v.find_first_not_of("0123456789") == std::string::npos) ParseDay(v, since);
    std::vector<const SimFund*> funds;
    for (const SimFund& f : m_market.Funds()) {
        int cls = CMarket::FundClass(f);
        if (cmdid == 1 ? (cls == 1 || cls == 5) : cls == cmdid) funds.push_back(&f);
    }
    return LatestValues(funds, since);
}

CommandAnswer CCommandService::SelectedValues(const Fields& f)
{
    if (f.size() > kMaxCodes) return CommandAnswer::Fail(kDataFormatError);
    std::vector<const SimFund*> funds;
    for (const std::string& code : f)
        if (const SimFund* fund = m_market.FindFund(TrimText(code))) funds.push_back(fund);
    return LatestValues(funds, 0);
}

CommandAnswer CCommandService::FundHistory(const Fields& f)
{
    int from = 0, to = 0;
    if (f.size() < 3 || !ParseDay(f[1], from) || !ParseDay(f[2], to)) return CommandAnswer::Fail(kDataFormatError);
    const SimFund* fund = m_market.FindFund(TrimText(f[0]));
    if (!fund) return CommandAnswer::Fail(FundNotFound(f[0]));
    // With local data (4th field 1) the client holds from..to already: it
    // gets what lies outside that range, up to today.
    const bool incremental = f.size() >= 4 && TrimText(f[3]) == "1";
    const OleDate now = Clock::Now();
    std::vector<NavRecord> records =
        incremental ? m_market.Published(*fund, now, 0, DayNumber(now)) : m_market.Published(*fund, now, from, to);
    std::vector<std::string> out;
    for (const NavRecord& r : records) {
        if (incremental && r.day >= from && r.day <= to) continue;
        WriteHistoryRecord(out, ValueOf(*fund, r), fund->IsMoneyMarket());
    }
    return CommandAnswer::Ok(JoinFields(out));
}

CommandAnswer CCommandService::PeriodRecords(const Fields& f)
{
    int from = 0, to = 0, kind = 0, stat = 0;
    if (f.size() < 5 || !ParseDay(f[1], from) || !ParseDay(f[2], to)) return CommandAnswer::Fail(kDataFormatError);
    kind = static_cast<int>(IntegerOr(f[3], -1));
    stat = static_cast<int>(IntegerOr(f[4], -1));
    const SimFund* fund = m_market.FindFund(TrimText(f[0]));
    if (!fund) return CommandAnswer::Fail(FundNotFound(f[0]));
    const OleDate now = Clock::Now();
    std::vector<std::string> out;
    auto add = [&](const OleDate& date, double value, double companion) {
        WritePeriodRecord(out, kind, {date, value, companion});
    };

    if (kind == 31) {
        // Today's estimates every five minutes of the two sessions, up to now.
        const int day = DayNumber(now);
        const int minuteNow = now.Hour() * 60 + now.Minute();
        for (int m = 570; m <= 900 && m <= minuteNow; m += 5) {
            if (m > 690 && m <= 780) continue;  // lunch break
            OleDate at = OleDate::FromParts(DateOfDay(day).Year(), DateOfDay(day).Month(), DateOfDay(day).Day(),
                                            m / 60, m % 60);
            double nav = 0, pct = 0;
            if (!m_market.EstimateAt(*fund, at, nav, pct)) break;
            add(at, nav, pct);
        }
        if (out.empty()) return CommandAnswer::Fail("当前没有实时估值数据");
        return CommandAnswer::Ok(JoinFields(out));
    }

    std::vector<NavRecord> recs = m_market.Published(*fund, now, from, to);
    if (kind == 3 || kind == 4) {
        if (stat < 0 || stat > 17) return CommandAnswer::Fail(kDataFormatError);
        auto key = [&](int day) {
            if (kind == 4) return DateOfDay(day).Year() * 12 + DateOfDay(day).Month();
            return day - (((day % 7) + 6) % 7 + 6) % 7;  // the Monday of its week
        };
        size_t begin = 0;
        double prevGrowth = 1, prevNav = 1;
        if (!recs.empty()) {
            // A money-market record's pct is its 7-day yield, not a day
            // change: its day's growth is the income per 10,000 units.
            const double dayChange = fund->IsMoneyMarket() ? recs[0].nav / 10000.0 : recs[0].pct / 100.0;
            prevGrowth = recs[0].growth / (1.0 + dayChange);
            prevNav = recs[0].nav - recs[0].var;
        }
        for (size_t i = 1; i <= recs.size(); ++i) {
            if (i < recs.size() && key(recs[i].day) == key(recs[begin].day)) continue;
            std::vector<NavRecord> period(recs.begin() + static_cast<long>(begin), recs.begin() + static_cast<long>(i));
            double change = 0;
            double value = PeriodStatistic(period, stat, prevGrowth, prevNav, change);
            add(DateOfDay(period.back().day), value, change);
            prevGrowth = period.back().growth;
            prevNav = period.back().nav;
            begin = i;
        }
        return CommandAnswer::Ok(JoinFields(out));
    }
    if (kind == 10 || kind == 11) {
        if (stat < 0 || stat > 3) return CommandAnswer::Fail(kDataFormatError);
        std::vector<double> z, x;
        for (const NavRecord& r : recs) {
            z.push_back(stat == 1 ? r.acc : r.nav);
            x.push_back(stat == 0 ? r.nav : stat == 1 ? r.acc : stat == 2 ? r.var : r.pct);
        }
        size_t prev = 0;
        for (size_t i : ZigZag(z, kind == 10 ? 0.03 : 0.08)) {
            double companion = z[prev] != 0 ? (z[i] / z[prev] - 1.0) * 100.0 : 0;
            add(DateOfDay(recs[i].day), x[i], companion);
            prev = i;
        }
        return CommandAnswer::Ok(JoinFields(out));
    }
    return CommandAnswer::Fail(kDataFormatError);
}

CommandAnswer CCommandService::DividendQuery(const Fields& f)
{
    int from = 0, to = 0;
    if (f.size() < 4 || !ParseDay(f[1], from) || !ParseDay(f[2], to)) return CommandAnswer::Fail(kDataFormatError);
    const double shares = NumberOr(f[3], -1);
    if (shares < 0) return CommandAnswer::Fail(kDataFormatError);
    const SimFund* fund = m_market.FindFund(TrimText(f[0]));
    if (!fund) return CommandAnswer::Fail(FundNotFound(f[0]));
    const OleDate now = Clock::Now();
    CommandAnswer a;
    if (fund->IsMoneyMarket()) {
        // Money-market funds pay income: the holding's income over the
        // range and the day it runs to.
        int last = 0;
        double income = m_market.MoneyIncome(*fund, now, from, to, shares, last);
        std::vector<std::string> pair;
        WriteMoneyIncome(pair, income, DateOfDay(last));
        a.msg = JoinFields(pair);
        return a;
    }
    // A dividend belongs to the shares held before its ex-day. A holding
    // dated `from` is confirmed on the first trading day on or after it (the
    // client sends the next day for a trade at or after 15:00), at that
    // day's NAV, which is already ex-dividend: only later ex-days count.
    const CTradingCalendar& calendar = m_market.Calendar();
    const int confirmIndex = calendar.IndexOnOrAfter(from);
    if (confirmIndex < calendar.Count()) from = calendar.DayAt(confirmIndex);
    std::vector<std::string> groups, exDays;
    for (const SimDividend& d : m_market.Dividends(*fund, now, from, to)) {
        CFundBonus b;
        b.BonusValue = d.perUnit;
        b.RecordDate = DateOfDay(d.recordDay);
        b.BonusDate = DateOfDay(d.payDay);
        b.SubtractDate = DateOfDay(d.exDay);
        WriteDividendRecord(groups, b);
        exDays.push_back(DayText(d.exDay));
    }
    a.msg = JoinFields(groups);
    a.msg2 = JoinFields(exDays);
    return a;
}

CommandAnswer CCommandService::TradeValue(const Fields& f)
{
    OleDate at;
    if (f.size() < 2 || !ParseTime(f[1], at)) return CommandAnswer::Fail(kDataFormatError);
    const SimFund* fund = m_market.FindFund(TrimText(f[0]));
    if (!fund) return CommandAnswer::Fail(FundNotFound(f[0]));
    double nav = 0;
    int day = 0;
    std::string refusal;
    if (!m_market.TradeNav(*fund, at, Clock::Now(), nav, day, refusal)) return CommandAnswer::Fail(refusal);
    Fields out;
    WriteTradeNav(out, nav, DateOfDay(day));
    return CommandAnswer::Ok(JoinFields(out));
}

CommandAnswer CCommandService::LatestNav(const Fields& f)
{
    if (f.empty()) return CommandAnswer::Fail(kDataFormatError);
    const SimFund* fund = m_market.FindFund(TrimText(f[0]));
    if (!fund) return CommandAnswer::Fail(FundNotFound(f[0]));
    LatestValue v;
    if (!m_market.Latest(*fund, Clock::Now(), v)) return CommandAnswer::Fail("该基金还没有公布净值");
    Fields out;
    WriteLatestNav(out, ValueOf(*fund, v.rec), fund->IsMoneyMarket());
    return CommandAnswer::Ok(JoinFields(out));
}

CommandAnswer CCommandService::IntervalFigures(const Fields& f)
{
    int from = 0, to = 0;
    if (f.size() < 3 || !ParseDay(f[1], from) || !ParseDay(f[2], to)) return CommandAnswer::Fail(kDataFormatError);
    const SimFund* fund = m_market.FindFund(TrimText(f[0]));
    if (!fund) return CommandAnswer::Fail(FundNotFound(f[0]));
    const OleDate now = Clock::Now();
    // Growth with dividends reinvested between the last values on or before each date.
    std::vector<NavRecord> recs = m_market.Published(*fund, now, 0, std::max(from, to));
    auto growthAt = [&](int day) {
        double g = 1;
        for (const NavRecord& r : recs)
            if (r.day <= day) g = r.growth;
        return g;
    };
    double fundGrowth = (growthAt(to) / growthAt(from) - 1.0) * 100.0;
    std::vector<IndexRecord> idx = m_market.IndexHistory(2, now, std::min(from, to) - 20, std::max(from, to));
    auto levelAt = [&](int day) {
        double v = 0;
        for (const IndexRecord& r : idx)
            if (r.day <= day) v = r.value;
        return v;
    };
    double a = levelAt(from), b = levelAt(to);
    double indexGrowth = a > 0 && b > 0 ? (b / a - 1.0) * 100.0 : 0;
    Fields out;
    WriteIntervalFigures(out, fundGrowth, indexGrowth);
    return CommandAnswer::Ok(JoinFields(out));
}

CommandAnswer CCommandService::RealtimeValue(const Fields& f)
{
    if (f.empty()) return CommandAnswer::Fail(kDataFormatError);
    const SimFund* fund = m_market.FindFund(TrimText(f[0]));
    if (!fund) return CommandAnswer::Fail(FundNotFound(f[0]));
    const OleDate now = Clock::Now();
    LatestValue v;
    if (!m_market.Latest(*fund, now, v)) return CommandAnswer::Fail("该基金还没有公布净值");
    CommandAnswer a;
    const int minute = now.Hour() * 60 + now.Minute();
    double nav = 0, pct = 0;
    if (minute >= 570 && minute < 1200 && v.rec.day < DayNumber(now) && m_market.EstimateAt(*fund, now, nav, pct)) {
        // During the trading day (until the evening's NAV): the estimate.
        CFundValue e;
        e.ValueDate = now;
        e.TodayValue = nav;
        e.VarValue = nav - v.rec.nav;
        e.TotalValue = v.rec.acc + e.VarValue;
        e.VarPercent = pct;
        Fields out;
        WriteLatestNav(out, e, false, true);
        a.msg = "实时估值";
        a.msg2 = JoinFields(out);
        return a;
    }
    Fields out;
    WriteLatestNav(out, ValueOf(*fund, v.rec), fund->IsMoneyMarket());
    a.msg = "最新净值";
    a.msg2 = JoinFields(out);
    return a;
}

CommandAnswer CCommandService::ValueCache(const Fields& f)
{
    if (f.size() > kMaxCodes) return CommandAnswer::Fail(kDataFormatError);
    const OleDate now = Clock::Now();
    std::vector<std::string> out;
    for (const std::string& code : f) {
        const SimFund* fund = m_market.FindFund(TrimText(code));
        LatestValue v;
        if (!fund || !m_market.Latest(*fund, now, v)) continue;
        WriteCachedValue(out, ValueOf(*fund, v.rec), fund->IsMoneyMarket());
    }
    return CommandAnswer::Ok(JoinFields(out));
}

}  // namespace vextal

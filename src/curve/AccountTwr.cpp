#include "curve/AccountTwr.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "book/Xirr.h"
#include "curve/CurveBuilders.h"

namespace vextal {

namespace {

long Day(const OleDate& d) { return static_cast<long>(std::floor(d.dt)); }

struct Fund {
    const IncomeHistoryFund* history = nullptr;  // null: no records, valued at its trades' price
    size_t next = 0;       // first record after the day walked to
    double shares = 0;
    double lastPrice = 0;  // of its newest trade
};

struct Trade {
    long day;
    size_t fund;
    const TradeInfo* info;
};

}  // namespace

AccountTwr ComputeAccountTwr(const std::map<int, TradeInfo>& trades,
                             const std::map<std::string, IncomeHistoryFund>& funds, const OleDate& from,
                             const OleDate& to)
{
    AccountTwr out;
    const long first = Day(from), last = Day(to);
    if (first > last) return out;

    std::vector<Fund> held;
    std::unordered_map<std::string, size_t> fundIndex;
    std::vector<Trade> walk;
    walk.reserve(trades.size());
    for (const auto& [id, t] : trades) {
        if (t.TradeState != kStateConfirmed || t.DealTime.dt == 0 || Day(t.DealTime) > last) continue;
        auto [it, added] = fundIndex.emplace(t.FundID, held.size());
        if (added) {
            Fund f;
            auto h = funds.find(t.FundID);
            if (h != funds.end()) f.history = &h->second;
            held.push_back(f);
        }
        walk.push_back({Day(t.DealTime), it->second, &t});
    }
    if (walk.empty()) return out;
    // Trades of one day in the order they were booked.
    std::stable_sort(walk.begin(), walk.end(), [](const Trade& a, const Trade& b) { return a.day < b.day; });

    std::vector<long> days;
    for (const Trade& t : walk) days.push_back(t.day);
    for (const Fund& f : held)
        if (f.history)
            for (const CFundValue& r : f.history->Records) {
                const long d = Day(r.ValueDate);
                if (d >= walk.front().day && d <= last) days.push_back(d);
            }
    std::sort(days.begin(), days.end());
    days.erase(std::unique(days.begin(), days.end()), days.end());

    std::vector<CashFlow> flows;
    double previous = 0;   // value at the last close
    long previousDay = 0;
    double growth = 1;     // chained since the start
    bool started = false;
    size_t next = 0;
    for (long day : days) {
        // Money-market income of the day belongs to the shares held before its trades.
        double flow = 0;  // into the account, from the investor's side
        for (Fund& f : held) {
            if (!f.history) continue;
            const auto& records = f.history->Records;
            while (f.next < records.size() && Day(records[f.next].ValueDate) <= day) {
                if (f.history->MoneyMarket && Day(records[f.next].ValueDate) == day)
                    flow -= f.shares * records[f.next].TodayValue / 10000.0;
                ++f.next;
            }
        }
        for (; next < walk.size() && walk[next].day == day; ++next) {
            const TradeInfo& t = *walk[next].info;
            Fund& f = held[walk[next].fund];
            if (t.TradeValue > 0 && t.TradeType != kTradeSplit) f.lastPrice = t.TradeValue;
            const AccountTradeMoney money = ApplyAccountTrade(t, f.shares);
            flow += money.PaidIn - money.Redeemed - money.CashBonus;
        }
        double value = 0;
        for (const Fund& f : held) {
            if (f.shares == 0) continue;
            double nav = f.lastPrice;
            if (f.history && f.history->MoneyMarket) nav = 1.0;
            else if (f.history && f.next > 0) nav = f.history->Records[f.next - 1].TodayValue;
            value += f.shares * nav;
        }

        if (day < first) {
            previous = value;
            previousDay = day;
            continue;
        }
        if (!started && previous > 0) {
            // The account held something before the period: its close is the start.
            started = true;
            out.StartValue = previous;
            out.Points.push_back({OleDate(static_cast<double>(previousDay)), 0, previous});
            flows.push_back({OleDate(static_cast<double>(previousDay)), -previous});
        }
        double factor = 1;
        if (previous > 0) {
            factor = (value - flow) / previous;
        } else if (flow > 0) {
            // Money into an empty account: its first day is the money against what it bought.
            factor = value / flow;
            if (!started) {
                started = true;
                out.StartValue = flow;
            }
        }
        // Figures that do not add up (more left than was there) leave the day out.
        if (!std::isfinite(factor) || factor < 0) factor = 1;
        previous = value;
        previousDay = day;
        if (!started) continue;
        growth *= factor;
        if (flow != 0) flows.push_back({OleDate(static_cast<double>(day)), -flow});
        out.Points.push_back({OleDate(static_cast<double>(day)), (growth - 1) * 100.0, value});
    }
    if (out.Points.empty()) return out;
    out.Twr = out.Points.back().Growth;
    out.EndValue = out.Points.back().Value;
    flows.push_back({out.Points.back().Date, out.EndValue});
    if (auto rate = Xirr(std::move(flows))) out.Xirr = *rate * 100.0;
    return out;
}

IndexTwr ComputeIndexReturn(const std::vector<CIndexValue>& records, const AccountTwr& account)
{
    IndexTwr out;
    if (account.Points.empty()) return out;
    const long start = Day(account.Points.front().Date), end = Day(account.Points.back().Date);
    const CIndexValue* base = nullptr;
    for (const CIndexValue& r : records)
        if (Day(r.ValueDate) <= start && r.IndexValue > 0 && (!base || r.ValueDate > base->ValueDate)) base = &r;
    if (!base) return out;
    out.Known = true;
    out.Points.push_back({account.Points.front().Date, 0, base->IndexValue});
    std::vector<const CIndexValue*> inRange;
    for (const CIndexValue& r : records)
        if (Day(r.ValueDate) > start && Day(r.ValueDate) <= end && r.IndexValue > 0) inRange.push_back(&r);
    std::sort(inRange.begin(), inRange.end(),
              [](const CIndexValue* a, const CIndexValue* b) { return a->ValueDate < b->ValueDate; });
    for (const CIndexValue* r : inRange)
        out.Points.push_back({r->ValueDate.DateOnly(), (r->IndexValue / base->IndexValue - 1) * 100.0, r->IndexValue});
    out.Return = out.Points.back().Growth;
    return out;
}

void BuildTwrChart(CCurveChartModel& chart, const std::string& accountName, const AccountTwr& account,
                   int indexNumber, const IndexTwr& index)
{
    chart.RemoveAllSeries();
    auto add = [&chart](const std::string& name, const std::vector<TwrPoint>& points) {
        const int s = chart.AddSeries();
        chart.SetSeriesName(s, name);
        chart.SetSeriesFormats(s, "%0.2f", "");
        for (const TwrPoint& p : points) {
            CurvePoint c;
            c.Date = p.Date;
            c.Value = c.Info1 = p.Growth;
            chart.AddPoint(s, c);
        }
    };
    add(accountName + "(时间加权)", account.Points);
    if (index.Known) add(CurveIndexName(indexNumber), index.Points);
    SetCurveValueType(chart, 1);
    // The point information of the growth chart: one line per series at the date.
    chart.SetChartMode(kCurveGrowthOverlay);
    chart.SetTitle("帐户时间加权收益率", "对比" + CurveIndexName(indexNumber));
}

std::optional<double> AnnualisedPercent(double percent, const OleDate& from, const OleDate& to)
{
    const int days = WholeDaysBetween(from, to);
    if (days < 1 || !std::isfinite(percent)) return std::nullopt;
    const double growth = 1 + percent / 100.0;
    if (growth <= 0) return -100.0;
    return (std::pow(growth, 365.0 / days) - 1) * 100.0;
}

}  // namespace vextal

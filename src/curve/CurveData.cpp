#include "curve/CurveData.h"

#include <cstdlib>

#include "common/Clock.h"
#include "common/Format.h"
#include "common/NumberInput.h"
#include "curve/RangeStatistics.h"
#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"
#include "market/NavHistory.h"
#include "net/DataService.h"
#include "wire/PeriodRecords.h"

namespace vextal {

int CurveDataKind(int kind)
{
    // The n-day return reads the same local records as the moving average.
    return kind == kCurveNDayReturn ? kCurveMovingAverage : kind;
}

std::string CCurveData::FundName(const std::string& fundId) const
{
    const CFundInfo* f = m_sources.Catalogue ? m_sources.Catalogue->FindFund(fundId) : nullptr;
    return f && !f->FundName.empty() ? f->FundName : fundId;
}

// The kinds read from the local history share their records.
bool IsLocalCurveDataKind(int dataKind)
{
    return dataKind == 1 || dataKind == 2 || dataKind == 5 || dataKind == 28 || dataKind == 30;
}

namespace {

bool IsLocalKind(int dataKind) { return IsLocalCurveDataKind(dataKind); }

double AgeSeconds(const OleDate& since)
{
    double age = (Clock::Now().dt - since.dt) * 86400.0 + 1.0 / 172800.0;
    return static_cast<double>(static_cast<long long>(age));
}

}  // namespace

bool FetchIndexRecords(const CommandContext& ctx, int indexNumber, const OleDate& from, const OleDate& to,
                       std::vector<CIndexValue>& records)
{
    records.clear();
    CommandReply reply = SendIndexHistory(ctx.For("GetIndexValueHistory"), from, to, indexNumber,
                                          GetIndexCode(indexNumber));
    if (!reply.ok()) return false;
    return ReadIndexRecords(reply.fields, records);
}

bool ParseUnitDividends(const CommandReply& reply, std::vector<CFundBonus>& bonus)
{
    return ReadDividendRecords(reply.fields, bonus);
}

CurvePrefetch FetchCurveData(const CommandContext& ctx, const std::string& dataServiceUrl,
                             const std::vector<std::string>& funds, int dataKind, int statistic,
                             const OleDate& start, const OleDate& end, bool splits,
                             const std::atomic<bool>& cancelled)
{
    CurvePrefetch p;
    p.DataKind = dataKind;
    p.Statistic = statistic;
    p.StartDate = start;
    p.EndDate = end;
    p.HasSplits = splits && !dataServiceUrl.empty();
    for (const std::string& fund : funds) {
        if (cancelled) break;
        if (!IsLocalCurveDataKind(dataKind)) {
            CommandReply reply = SendPeriodRecords(ctx.For("LoadCurveData"), fund, start, end, dataKind, statistic);
            std::vector<CFundValue> records;
            if (reply.ok() && ReadPeriodRecords(reply.fields, dataKind, statistic, fund, records))
                p.Records[fund] = std::move(records);
        }
        if (p.HasSplits && !cancelled) {
            std::vector<CFundSplitItem> items;
            if (GetFundSplitInfo(dataServiceUrl, fund, 0, items)) p.Splits[fund] = std::move(items);
            std::vector<CFundBonus> bonus;
            CommandReply reply = SendDividendQuery(ctx.For("LoadCurveData"), fund, start, end, 1.0, 0);
            if (reply.ok() && ParseUnitDividends(reply, bonus)) p.Bonus[fund] = std::move(bonus);
        }
    }
    return p;
}

bool CCurveData::EstimateDue(const std::string& fundId) const
{
    auto it = m_estimates.find(fundId);
    return it == m_estimates.end() || AgeSeconds(it->second.first) > kEstimateCacheSeconds;
}

bool CCurveData::LoadCurveData(int dataKind, int statistic)
{
    // The flag stands for the records of one data kind (and, for what the
    // service computes, one statistic): records of another kind must not be
    // drawn as this one.
    const bool same = IsLocalKind(dataKind) ? IsLocalKind(m_loadedKind)
                                            : m_loadedKind == dataKind && m_loadedStatistic == statistic;
    if (m_params.Loaded && same) return true;
    m_params.Loaded = false;
    m_loadedKind = dataKind;
    m_loadedStatistic = statistic;
    m_records.clear();
    m_bonus.clear();
    const std::string& fund = m_params.CurrentFund;
    if (IsLocalKind(dataKind)) {
        if (!m_sources.History) return false;
        // Missing history is downloaded first, whole, so that the store
        // never holds a fund's history with a hole before the range.
        OleDate first, last;
        bool local = m_sources.History->GetFundValueRange(fund, first, last);
        if (!local) local = m_sources.History->IncrementalDownloadFund(fund);
        int rc = m_sources.History->GetFundValueHistory(fund, m_params.StartDate, m_params.EndDate, local, false,
                                                        m_records);
        if (rc != kMarketOk) {
            m_lastError = m_sources.History->GetLastError();
            m_records.clear();
            return false;
        }
        m_bonus = m_sources.History->LoadFundBonus(fund, m_params.StartDate, m_params.EndDate);
        // The store keeps dividends only where something wrote them; the
        // service's, fetched ahead, stand in.
        if (auto it = m_prefetch.Bonus.find(fund); m_bonus.empty() && it != m_prefetch.Bonus.end())
            m_bonus = it->second;
        m_params.Loaded = true;
        return true;
    }
    if (dataKind == kCurveEstimate) {
        auto it = m_estimates.find(fund);
        if (it != m_estimates.end() && AgeSeconds(it->second.first) <= kEstimateCacheSeconds) {
            m_records = it->second.second;
            m_params.Loaded = true;
            return true;
        }
        if (!LoadFromService(dataKind, statistic)) return false;
        m_estimates[fund] = {Clock::Now(), m_records};
        return true;
    }
    return LoadFromService(dataKind, statistic);
}

bool CCurveData::LoadFromService(int dataKind, int statistic)
{
    const CurvePrefetch& pre = m_prefetch;
    if (pre.DataKind == dataKind && pre.Statistic == statistic && pre.StartDate == m_params.StartDate &&
        pre.EndDate == m_params.EndDate) {
        auto it = pre.Records.find(m_params.CurrentFund);
        if (it != pre.Records.end()) {
            m_records = it->second;
            m_params.Loaded = true;
            return true;
        }
    }
    CommandReply reply = SendPeriodRecords(m_ctx.For("LoadCurveData"), m_params.CurrentFund, m_params.StartDate,
                                           m_params.EndDate, dataKind, statistic);
    if (!reply.ok()) {
        m_lastError = reply.error;
        return false;
    }
    std::vector<CFundValue> records;
    if (!ReadPeriodRecords(reply.fields, dataKind, statistic, m_params.CurrentFund, records)) {
        m_lastError = "LoadCurveData():数据格式错误";
        return false;
    }
    m_records = std::move(records);
    m_params.Loaded = true;
    return true;
}

std::vector<CIndexValue> CCurveData::IndexRecords(int indexNumber)
{
    std::vector<CIndexValue> list;
    if (m_sources.History)
        m_sources.History->GetIndexValueHistory(GetIndexCode(indexNumber), m_params.StartDate, m_params.EndDate,
                                                false, false, list);
    return list;
}

std::vector<CurveSplit> CCurveData::Splits(const std::string& fundId)
{
    std::vector<CurveSplit> out;
    std::vector<CFundSplitItem> items;
    if (m_prefetch.HasSplits) {
        auto it = m_prefetch.Splits.find(fundId);
        if (it == m_prefetch.Splits.end()) return out;
        items = it->second;
    } else if (m_sources.DataServiceUrl.empty() || !GetFundSplitInfo(m_sources.DataServiceUrl, fundId, 0, items)) {
        return out;
    }
    for (const CFundSplitItem& it : items) {
        OleDate d;
        if (!OleDate::Parse(it.SplitDate, d)) continue;
        d = d.DateOnly();
        if (d >= m_params.StartDate.DateOnly() && d <= m_params.EndDate) out.push_back({d});
    }
    return out;
}

void CCurveData::DrawIndex(CCurveChartModel& chart, int kind)
{
    int number = kind == kCurveShanghaiChange || kind == kCurveShanghaiGrowth   ? 1
                 : kind == kCurveShenzhenChange || kind == kCurveShenzhenGrowth ? 2
                                                                                : 3;
    std::vector<CIndexValue> records = IndexRecords(number);
    if (kind == kCurveShanghaiGrowth || kind == kCurveShenzhenGrowth || kind == kCurveCsi300Growth)
        BuildIndexGrowth(chart, number, records);
    else
        BuildIndexDailyChange(chart, number, records);
}

void CCurveData::ShowCurve(CCurveChartModel& chart, int kind)
{
    chart.SetEstimateBase(false, 0);
    chart.SetChartMode(kind);
    chart.SetTracking(true);
    if (m_params.CurrentFund.empty() && kind != kCurveAccountIncome) return;
    chart.SetUnit("");
    chart.SetDecimals(4);
    if (kind == kCurveRangeOverlay || kind == kCurveBandOverlay) chart.SetTracking(false);
    if (kind == kCurveNav || kind == kCurveAccountIncome) chart.RemoveAllSeries();
    if (kind == kCurveAccountIncome) chart.SetDecimals(2);

    const std::string& fund = m_params.CurrentFund;
    const int stat = m_params.Statistic;
    auto load = [&] { return LoadCurveData(CurveDataKind(kind), stat) && !m_records.empty(); };
    switch (kind) {
    case kCurveNav: {
        if (!load()) return;
        const std::string name = FundName(fund);
        if (m_params.IndexCompare != 0) {
            BuildDailyChangeChart(chart, name, m_records, m_params.IndexCompare, IndexRecords(m_params.IndexCompare));
        } else {
            const CFundInfo* info = m_sources.Catalogue ? m_sources.Catalogue->FindFund(fund) : nullptr;
            bool moneyMarket = !info || info->InvestTypeID == 4;
            BuildNavChart(chart, name, moneyMarket, m_records, m_bonus,
                          moneyMarket ? std::vector<CurveSplit>{} : Splits(fund));
            if (!moneyMarket) chart.SetRangeLines(NavRangeLines(NavRangeStatistics(m_records)));
        }
        SetCurveTitle(chart, kind, name, m_params.StatisticText, m_params.N, m_params.IndexCompare != 0);
        return;
    }
    case kCurveDailyOverlay:
        if (!load()) return;
        BuildDailyOverlay(chart, FundName(fund), m_records, stat);
        break;
    case kCurveWeeklyOverlay:
    case kCurveMonthlyOverlay:
        if (!load()) return;
        BuildPeriodOverlay(chart, FundName(fund), m_records, stat);
        break;
    case kCurveGrowthOverlay:
        if (!load()) return;
        BuildGrowthOverlay(chart, FundName(fund), m_records, stat);
        break;
    case kCurveRangeOverlay:
    case kCurveBandOverlay:
        if (!load()) return;
        BuildTurningOverlay(chart, kind, FundName(fund), m_records, stat);
        break;
    case kCurveMovingAverage:
        if (!load()) return;
        BuildMovingAverage(chart, FundName(fund), m_records, stat, m_params.N);
        break;
    case kCurveNDayReturn:
        if (!load()) return;
        BuildNDayReturn(chart, FundName(fund), m_records, m_params.N);
        break;
    case kCurveEstimate: {
        if (!load()) return;
        const CNewFundValue* last = m_sources.Latest ? m_sources.Latest->FindValue(fund) : nullptr;
        BuildEstimate(chart, FundName(fund), m_records, last ? last->TodayValue : 0.0);
        break;
    }
    case kCurveShanghaiChange:
    case kCurveShenzhenChange:
    case kCurveCsi300Change:
    case kCurveShanghaiGrowth:
    case kCurveShenzhenGrowth:
    case kCurveCsi300Growth: DrawIndex(chart, kind); return;
    case kCurveAccountIncome: {
        std::string account;
        std::vector<CurveIncomePoint> points;
        if (!m_sources.AccountIncome || !m_sources.AccountIncome(account, points) || points.empty()) return;
        BuildAccountIncome(chart, account, points);
        break;
    }
    default: return;
    }
    SetCurveTitle(chart, kind, FundName(fund), m_params.StatisticText, m_params.N);
}

void CCurveData::ApplyCurveBar(CCurveChartModel& chart, const CurveBarValues& bar, int commandKind)
{
    chart.RemoveAllSeries();
    m_params.StartDate = bar.StartDate;
    m_params.EndDate = bar.EndDate;
    m_params.Shanghai = bar.Shanghai;
    m_params.Shenzhen = bar.Shenzhen;
    m_params.Csi300 = bar.Csi300;
    // The day box is typed into: a text that is no whole number of days keeps 10.
    const NumberReading days = ReadNumberInput(bar.DayText, {"天数", 1, 10000, 0});
    m_params.N = bar.HasWindow && days.ok() ? static_cast<int>(days.value) : 10;

    switch (commandKind) {
    case kCurveDailyOverlay:
    case kCurveWeeklyOverlay:
    case kCurveMonthlyOverlay:
    case kCurveGrowthOverlay:
    case kCurveRangeOverlay:
    case kCurveBandOverlay:
    case kCurveMovingAverage:
    case kCurveNDayReturn: m_params.Kind = commandKind; break;
    default: m_params.Kind = kCurveNav; break;
    }
    m_params.Statistic = bar.StatisticIndex;
    if (bar.StatisticIndex >= 0 && static_cast<size_t>(bar.StatisticIndex) < bar.Statistics.size())
        m_params.StatisticText = bar.Statistics[static_cast<size_t>(bar.StatisticIndex)];

    // Index series first, so they take the first colours.
    if (m_params.Kind == kCurveDailyOverlay || m_params.Kind == kCurveGrowthOverlay) {
        const bool growth = m_params.Kind == kCurveGrowthOverlay;
        if (bar.Shanghai) DrawIndex(chart, growth ? kCurveShanghaiGrowth : kCurveShanghaiChange);
        if (bar.Shenzhen) DrawIndex(chart, growth ? kCurveShenzhenGrowth : kCurveShenzhenChange);
        if (bar.Csi300) DrawIndex(chart, growth ? kCurveCsi300Growth : kCurveCsi300Change);
    }
    for (const std::string& fund : m_params.SelectedFunds) {
        m_params.Loaded = false;
        m_params.CurrentFund = fund;
        // A fund that cannot be loaded is skipped without a message.
        if (LoadCurveData(CurveDataKind(m_params.Kind), m_params.Statistic)) ShowCurve(chart, m_params.Kind);
    }
}

}  // namespace vextal

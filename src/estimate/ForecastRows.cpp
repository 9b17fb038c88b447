#include "estimate/ForecastRows.h"

#include <set>

#include "common/Format.h"

namespace vextal {

namespace {

// Figures shown to two places, rounded half away from zero and never "-0.00".
std::string Two(double v) { return FormatNumber("%0.2f", Round2(v)); }

}  // namespace

OleDate EstimateDay(const EstimateResult& result) { return result.Quotes.SessionDay; }

std::vector<ForecastFundRow> FundRows(const EstimateResult& result, const ForecastInfoFn& info)
{
    std::vector<ForecastFundRow> rows;
    const OleDate day = EstimateDay(result);
    int n = 0;
    for (const std::string& fund : result.Plan.Funds) {
        ForecastFundRow r;
        r.FundID = fund;
        r.No = StrFormat("%d", ++n);
        ForecastFundInfo f = info ? info(fund) : ForecastFundInfo{};
        r.Name = f.Name.empty() ? fund : f.Name;  // a fund the catalogue does not know shows its code
        if (f.HasNav) r.LatestNav = FormatNumber("%0.4f", RoundDecimal(f.LatestNav, 4));
        const auto coverage = result.Coverage.find(fund);
        const QuoteCoverage c = coverage == result.Coverage.end() ? QuoteCoverage{} : coverage->second;
        r.Quotes = StrFormat("%d/%d", c.Quoted, c.Holdings);
        auto it = result.Calibrated.find(fund);
        if (it != result.Calibrated.end()) {
            r.HasEstimate = true;
            r.EstimateValue = it->second;
            r.Estimate = Two(it->second) + "%";
        } else if (result.Plan.HoldingsMissing.count(fund)) {
            r.Estimate = kNoHoldingsText;
        } else if (c.Holdings > 0 && c.Quoted == 0) {
            r.Estimate = kNoQuoteText;
        }
        if (f.HasNav && day.IsValid() && f.NavDate.IsValid() && f.NavDate.DateOnly() == day) {
            r.Published = true;
            r.PublishedGrowth = f.NavGrowth;
            r.PublishedText = Two(f.NavGrowth) + "% " + kPublishedMark;
        }
        if (f.MeanError) r.Error = Two(*f.MeanError) + "%";
        rows.push_back(std::move(r));
    }
    return rows;
}

std::string RunSummary(const EstimateResult& result, const OleDate& at)
{
    const int funds = static_cast<int>(std::set<std::string>(result.Plan.Funds.begin(), result.Plan.Funds.end()).size());
    const int codes = static_cast<int>(result.Plan.StockCodes.size());
    const int estimated = static_cast<int>(result.Calibrated.size());
    const int quotes = result.Quotes.Arrived;
    const OleDate day = EstimateDay(result);
    const std::string when = StrFormat("行情日期 %s，估算时间 %s", day.IsValid() ? day.Format(1).c_str() : "-",
                                       at.Format(5).c_str());
    switch (result.Status) {
    case EstimateStatus::Done:
        if (estimated == funds && quotes == codes)
            return StrFormat("估算完成：%d个基金，股票行情%d/%d（%s）", funds, quotes, codes, when.c_str());
        return StrFormat("部分估算：基金%d/%d，股票行情%d/%d（%s）", estimated, funds, quotes, codes, when.c_str());
    case EstimateStatus::NoQuote:
        return StrFormat("无行情：股票行情%d/%d，没有估算（估算时间 %s）", quotes, codes, at.Format(5).c_str());
    case EstimateStatus::CalcFailed: return "估算失败：无法取得估算结果";
    case EstimateStatus::NoStock: return "没有取得基金的股票持仓";
    case EstimateStatus::Cancelled: return "估算已取消";
    case EstimateStatus::NoFund: return "没有要估算的基金";
    }
    return std::string();
}

std::string PhaseText(EstimatePhase phase, int done, int total)
{
    switch (phase) {
    case EstimatePhase::Holdings: return StrFormat("正在取得基金持仓 %d/%d", done, total);
    case EstimatePhase::Quotes: return StrFormat("正在取得股票行情 %d/%d", done, total);
    case EstimatePhase::Calibration: return "正在计算估算值…";
    case EstimatePhase::LatestValues: return "正在取得最新净值…";
    }
    return std::string();
}

std::vector<ForecastHoldingRow> HoldingRows(const EstimateResult& result, const std::string& fundId)
{
    std::vector<ForecastHoldingRow> rows;
    double percentSum = 0;
    float contributionSum = 0;
    int n = 0;
    for (const EstimateHolding& h : result.Plan.Holdings) {
        if (h.FundID != fundId) continue;
        ForecastHoldingRow r;
        r.No = StrFormat("%d", ++n);
        r.Name = h.Item.StockName + "(" + h.Item.StockID + ")";
        r.Percent = Two(h.Item.InvestPercent);
        auto it = result.Quotes.Changes.find(h.Item.StockID);
        if (it != result.Quotes.Changes.end() && it->second) {
            r.HasQuote = true;
            r.ChangeValue = *it->second;
            r.ContributionValue = h.Item.InvestPercent * r.ChangeValue * 0.01f;
        }
        r.Change = Two(r.ChangeValue);
        r.Contribution = Two(r.ContributionValue);
        percentSum += h.Item.InvestPercent;
        contributionSum += r.ContributionValue;
        rows.push_back(std::move(r));
    }
    ForecastHoldingRow total;
    total.Total = true;
    total.No = "合计";
    total.Percent = Two(percentSum) + "%";
    total.ContributionValue = contributionSum;
    total.Contribution = Two(contributionSum) + "%";
    rows.push_back(std::move(total));
    return rows;
}

}  // namespace vextal

#include "estimate/ForecastRows.h"

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
        auto it = result.Calibrated.find(fund);
        if (it != result.Calibrated.end()) {
            r.HasEstimate = true;
            r.EstimateValue = it->second;
            r.Estimate = Two(it->second) + "%";
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

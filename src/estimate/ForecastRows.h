#pragma once
// The rows the estimate view shows, made from a finished run and what the
// program knows of each fund (name, latest published value, error history).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "estimate/FundForecast.h"

namespace vextal {

// What the view needs to know about one fund beside the run.
struct ForecastFundInfo {
    std::string Name;
    bool HasNav = false;
    double LatestNav = 0;      // the stored latest value
    OleDate NavDate = OleDate::FromParts(0, 0, 0);
    double NavGrowth = 0;      // its day growth in percent
    std::optional<double> MeanError;  // of the estimate over the last 20 trading days
};
using ForecastInfoFn = std::function<ForecastFundInfo(const std::string& fundId)>;

struct ForecastFundRow {
    std::string FundID;
    // Estimate: the figure, or why there is none ("无行情": no quote of its
    // stocks came in time; "无持仓数据": its holdings could not be had).
    std::string No, Name, LatestNav, Estimate;
    std::string Quotes;  // "行情": holdings with a quote of all holdings, "8/10"
    bool HasEstimate = false;
    float EstimateValue = 0;
    // Once the day's NAV is out: its growth beside the estimate, marked.
    bool Published = false;
    double PublishedGrowth = 0;
    std::string PublishedText;  // "%0.2f%" and the mark, or empty
    std::string Error;          // "估算误差": "%0.2f%" or empty without history
};

struct ForecastHoldingRow {
    std::string No, Name, Percent, Change, Contribution;
    bool HasQuote = false;
    float ChangeValue = 0;
    float ContributionValue = 0;
    bool Total = false;  // the "合计" row
};

inline constexpr const char* kPublishedMark = "已公布";
inline constexpr const char* kNoQuoteText = "无行情";
inline constexpr const char* kNoHoldingsText = "无持仓数据";

// The day whose published NAV answers a run: the quotes' session day.
OleDate EstimateDay(const EstimateResult& result);

// One row per fund of the run, in fund-list order.
std::vector<ForecastFundRow> FundRows(const EstimateResult& result, const ForecastInfoFn& info);
// The fund's holdings in holding order with each contribution, then "合计".
std::vector<ForecastHoldingRow> HoldingRows(const EstimateResult& result, const std::string& fundId);

// What the page says of a finished run (`at`: when it ended): complete runs
// "估算完成", runs that missed funds or quotes "N/M" of each, runs without
// any quote that nothing was estimated.
std::string RunSummary(const EstimateResult& result, const OleDate& at);
// The progress text of a phase.
std::string PhaseText(EstimatePhase phase, int done, int total);

}  // namespace vextal

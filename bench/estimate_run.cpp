// One real-time estimate of 12 funds with 10 holdings each against
// plindo-serve answering every request after 50 ms. The limit, measured in
// the same run: ceil(distinct stocks / 10) quote requests one after another,
// what ten workers can do at best.
#include <chrono>
#include <cstdio>
#include <string>

#include "BenchService.h"
#include "BenchUtil.h"
#include "estimate/FundForecast.h"
#include "net/ClientCommands.h"
#include "net/HttpTransport.h"

using namespace vextal;

int main()
{
    bench::Service p("estimate_run", {"--now", "2025-06-18 14:00:00", "--latency-ms", "50", "--quiet"});
    CommandContext ctx = p.DemoLogin();
    CommandReply list = SendFundList(ctx);
    auto cache = std::make_shared<CFundInvestCache>();
    std::vector<std::string> funds;
    for (size_t i = 0; i + 10 < list.fields.size() && funds.size() < 12; i += 11) {
        std::vector<CFundInvestItem> items;
        if (GetNewFundInvestInfo(*cache, p.Base(), list.fields[i], true, items) && items.size() == 10)
            funds.push_back(list.fields[i]);
    }
    if (funds.size() < 12) {
        std::fprintf(stderr, "estimate_run: fewer than 12 funds with 10 holdings\n");
        return 1;
    }
    EstimateSources sources = ServiceSources(cache, p.Base(), p.Base());
    EstimatePlan plan = PrepareEstimate(funds, sources.holdings);
    const size_t rounds = (plan.StockCodes.size() + kQuoteWorkers - 1) / kQuoteWorkers;

    // The holdings are cached (as for every run after the first): the run is
    // the quotes and the one calibration request.
    bool ok = true;
    const double run = bench::BestMs(3, [&](int) {
        EstimateResult r = RunEstimate(funds, sources);
        ok = ok && r.Status == EstimateStatus::Done && r.Quotes.Arrived == static_cast<int>(plan.StockCodes.size());
    });
    const double ideal = bench::BestMs(3, [&](int) {
        for (size_t i = 0; i < rounds; ++i) {
            float change = 0;
            OleDate day;
            GetStockQuote(p.Base(), plan.StockCodes[i], change, day);
        }
    });
    std::printf("%zu funds, %zu distinct stocks, %zu rounds of quotes\n", funds.size(), plan.StockCodes.size(), rounds);
    bench::Report("estimate_run_12_funds_latency_50ms", run, "ms", ideal, 1.5);
    return ok ? 0 : 1;
}

#pragma once
// One real-time estimate of today's growth of chosen funds: their stock
// holdings, one quote per distinct stock fetched by ten workers, the
// holding-weighted sum per fund in single precision, and the service's
// calibration of those raw figures. No UI: the view runs RunEstimate on a
// worker and shows the rows made from its result.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/OleDate.h"
#include "net/DataService.h"

namespace vextal {

inline constexpr int kQuoteWorkers = 10;
inline constexpr int kQuoteWaitPerFundMs = 4000;
// The longest one quote page may take: a page that hangs would otherwise
// hold its worker for the whole wait, and the pages behind it never come.
inline constexpr int kQuotePageLimitMs = 2000;

// The longest wait for the quotes: 4000 ms for each fund being estimated.
// (Counting the selection list instead would give no wait at all when one
// fund is estimated with an empty selection.)
int EstimateWaitMs(size_t fundsEstimated, int perFundMs = kQuoteWaitPerFundMs);

// The quote of one stock: its change today in percent and the day of the
// session it belongs to (invalid when the page does not say). False: no quote.
using QuoteSource = std::function<bool(const std::string& stockId, float& change, OleDate& sessionDay)>;
// The holdings of one fund; false when they could not be had.
using HoldingsSource = std::function<bool(const std::string& fundId, std::vector<CFundInvestItem>& items)>;
// The service's calibration of the raw estimates: one item per fund.
using CalcSource = std::function<bool(const std::vector<std::pair<std::string, float>>& raws,
                                      std::vector<CFundInvestItem>& items)>;

struct EstimateHolding {
    std::string FundID;
    CFundInvestItem Item;
};

struct EstimatePlan {
    std::vector<std::string> Funds;
    std::vector<EstimateHolding> Holdings;  // fund by fund, each in holding order
    std::vector<std::string> StockCodes;    // distinct, in holding order
    std::set<std::string> HoldingsMissing;  // funds whose holdings could not be had
};

// The parts of a run, in their order, for the progress shown meanwhile.
enum class EstimatePhase { Holdings, Quotes, Calibration, LatestValues };
// done of total: funds whose holdings came, quotes that arrived; 0 of 0 for
// the one-request phases.
using EstimateProgress = std::function<void(EstimatePhase phase, int done, int total)>;

// The funds' holdings and the distinct stock codes. Stops before the next
// fund once `cancel` is set (the plan is then incomplete: the caller drops it).
EstimatePlan PrepareEstimate(const std::vector<std::string>& funds, const HoldingsSource& holdings,
                             const std::atomic<bool>* cancel = nullptr, const EstimateProgress& progress = nullptr);

// The quotes as the waiting thread saw them when it stopped waiting.
struct QuoteSnapshot {
    std::map<std::string, std::optional<float>> Changes;  // every code; empty: no quote arrived
    OleDate SessionDay = OleDate::FromParts(0, 0, 0);     // newest session day among them
    int Arrived = 0;
    bool Cancelled = false;
};

// The state one fetch shares with its workers. Each worker holds it until
// it ends, so a worker still fetching after the wait touches only this
// object, never what the waiting thread took from it.
class CQuoteFetch {
public:
    CQuoteFetch(std::vector<std::string> codes, QuoteSource source, int pageLimitMs = kQuotePageLimitMs);
    // Starts the ten workers (each holds `self`).
    static void Start(const std::shared_ptr<CQuoteFetch>& self);
    // Waits for the last worker at most `waitMs` (or until `cancel`), then
    // sets the stop flag and takes the quotes that arrived. `progress`
    // (Quotes, arrived, total) runs on the waiting thread while quotes come in.
    QuoteSnapshot WaitAndStop(int waitMs, const std::atomic<bool>* cancel, const EstimateProgress& progress);
    // Quotes stored in this object, before or after the wait ended.
    int Stored() const;
    int WorkersEnded() const { return m_finished.load(); }

private:
    void Work();

    const std::vector<std::string> m_codes;
    const QuoteSource m_source;
    const int m_pageLimitMs;
    std::atomic<size_t> m_next{0};
    std::atomic<int> m_finished{0};
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_event;
    bool m_signalled = false;  // the completion event
    std::vector<std::optional<float>> m_changes;
    std::vector<OleDate> m_days;
    int m_stored = 0;
};

// Raw estimate per fund: the sum of share × change × 0.01 over its holdings
// with a quote, in single precision; 0 for a fund without any.
std::map<std::string, float> RawEstimates(const EstimatePlan& plan, const QuoteSnapshot& quotes);

// How many of a fund's holdings had a quote in time.
struct QuoteCoverage {
    int Holdings = 0;
    int Quoted = 0;
};
std::map<std::string, QuoteCoverage> CoverageOf(const EstimatePlan& plan, const QuoteSnapshot& quotes);

struct EstimateSources {
    HoldingsSource holdings;
    QuoteSource quote;
    CalcSource calc;
};

// NoQuote: no quote came in time for any fund with stocks, so nothing was estimated.
enum class EstimateStatus { Done, NoFund, NoStock, Cancelled, CalcFailed, NoQuote };

struct EstimateResult {
    EstimateStatus Status = EstimateStatus::NoFund;
    EstimatePlan Plan;
    QuoteSnapshot Quotes;
    std::map<std::string, float> Raw;
    std::map<std::string, QuoteCoverage> Coverage;
    // fund → the service's estimate in percent. Not estimated: a fund whose
    // holdings could not be had, and one with stock holdings of which no
    // quote came (the service's answer to its raw 0 would pass for an
    // estimate). A fund without stock holdings is estimated by the service alone.
    std::map<std::string, float> Calibrated;
    int WaitMs = 0;                            // the longest wait the run allowed for its quotes
    std::shared_ptr<const CQuoteFetch> Fetch;  // for tests: what the workers did after the wait
};

struct EstimateOptions {
    int waitPerFundMs = kQuoteWaitPerFundMs;
    int pageLimitMs = kQuotePageLimitMs;
    const std::atomic<bool>* cancel = nullptr;
    EstimateProgress progress;
};

// The whole run (prepare, fetch, wait, raw estimate, calibration) on the
// calling thread, which must not be the window's. Every phase looks at the
// cancel flag: a cancelled run comes back Cancelled with nothing to store.
EstimateResult RunEstimate(const std::vector<std::string>& funds, const EstimateSources& sources,
                           const EstimateOptions& options = {});

// Sources that ask the data service and the quote site.
// The cache is shared: a run still going when its view goes keeps it.
EstimateSources ServiceSources(std::shared_ptr<CFundInvestCache> cache, const std::string& dataServiceBase,
                               const std::string& quoteBase);

}  // namespace vextal

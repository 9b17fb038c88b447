#include "estimate/FundForecast.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <system_error>
#include <thread>

#include "net/HttpTransport.h"

namespace vextal {

int EstimateWaitMs(size_t fundsEstimated, int perFundMs)
{
    return static_cast<int>(std::min<size_t>(fundsEstimated, 1000)) * perFundMs;
}

EstimatePlan PrepareEstimate(const std::vector<std::string>& funds, const HoldingsSource& holdings,
                             const std::atomic<bool>* cancel, const EstimateProgress& progress)
{
    EstimatePlan plan;
    plan.Funds = funds;
    std::set<std::string> seen;
    std::set<std::string> fundsSeen;
    int done = 0;
    const int total = static_cast<int>(funds.size());
    for (const std::string& fund : funds) {
        if (progress) progress(EstimatePhase::Holdings, done++, total);
        if (cancel && cancel->load()) break;
        // A code listed twice has one set of holdings: adding them again
        // would double its estimate.
        if (!fundsSeen.insert(fund).second) continue;
        std::vector<CFundInvestItem> items;
        // A failed download leaves the fund without holdings: it is not estimated.
        if (!holdings || !holdings(fund, items)) {
            items.clear();
            plan.HoldingsMissing.insert(fund);
        }
        for (CFundInvestItem& item : items) {
            if (seen.insert(item.StockID).second) plan.StockCodes.push_back(item.StockID);
            plan.Holdings.push_back({fund, std::move(item)});
        }
    }
    return plan;
}

CQuoteFetch::CQuoteFetch(std::vector<std::string> codes, QuoteSource source, int pageLimitMs)
    : m_codes(std::move(codes)), m_source(std::move(source)), m_pageLimitMs(pageLimitMs), m_changes(m_codes.size()),
      m_days(m_codes.size(), OleDate::FromParts(0, 0, 0))
{
}

void CQuoteFetch::Start(const std::shared_ptr<CQuoteFetch>& self)
{
    for (int i = 0; i < kQuoteWorkers; ++i) {
        try {
            std::thread([self] { self->Work(); }).detach();
        } catch (const std::system_error&) {
            // A worker that could not start counts as ended, so the event still comes.
            if (self->m_finished.fetch_add(1) + 1 == kQuoteWorkers) {
                std::lock_guard<std::mutex> lock(self->m_mutex);
                self->m_signalled = true;
                self->m_event.notify_all();
            }
        }
    }
}

void CQuoteFetch::Work()
{
    // A page still coming when the wait ends is given up at once.
    CHttpCancelScope scope(&m_stop);
    for (;;) {
        const size_t i = m_next.fetch_add(1);
        if (i >= m_codes.size() || m_stop.load()) break;
        float change = 0;
        OleDate day = OleDate::FromParts(0, 0, 0);
        bool ok = false;
        {
            CHttpCancelScope page(nullptr, m_pageLimitMs);
            ok = m_source && m_source(m_codes[i], change, day);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        // After the wait the waiting thread has taken its copy: a late quote stays out of it.
        if (ok && !m_stop.load()) {
            m_changes[i] = change;
            m_days[i] = day;
            ++m_stored;
            m_event.notify_all();
        }
    }
    if (m_finished.fetch_add(1) + 1 == kQuoteWorkers) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_signalled = true;
        m_event.notify_all();
    }
}

QuoteSnapshot CQuoteFetch::WaitAndStop(int waitMs, const std::atomic<bool>* cancel,
                                       const EstimateProgress& progress)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(std::max(waitMs, 0));
    const int total = static_cast<int>(m_codes.size());
    QuoteSnapshot snap;
    std::unique_lock<std::mutex> lock(m_mutex);
    int reported = -1;
    while (!m_signalled) {
        if (cancel && cancel->load()) {
            snap.Cancelled = true;
            break;
        }
        const auto now = steady_clock::now();
        if (now >= deadline) break;
        // Short slices, so a cancel is seen soon.
        m_event.wait_until(lock, std::min(deadline, now + milliseconds(100)));
        if (progress && m_stored != reported) {
            reported = m_stored;
            lock.unlock();
            progress(EstimatePhase::Quotes, reported, total);
            lock.lock();
        }
    }
    m_stop.store(true);
    for (size_t i = 0; i < m_codes.size(); ++i) {
        snap.Changes[m_codes[i]] = m_changes[i];
        if (!m_changes[i]) continue;
        ++snap.Arrived;
        if (m_days[i].IsValid() && (!snap.SessionDay.IsValid() || snap.SessionDay < m_days[i]))
            snap.SessionDay = m_days[i];
    }
    return snap;
}

std::map<std::string, QuoteCoverage> CoverageOf(const EstimatePlan& plan, const QuoteSnapshot& quotes)
{
    std::map<std::string, QuoteCoverage> coverage;
    for (const std::string& fund : plan.Funds) coverage[fund];
    for (const EstimateHolding& h : plan.Holdings) {
        QuoteCoverage& c = coverage[h.FundID];
        ++c.Holdings;
        auto it = quotes.Changes.find(h.Item.StockID);
        if (it != quotes.Changes.end() && it->second) ++c.Quoted;
    }
    return coverage;
}

int CQuoteFetch::Stored() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stored;
}

std::map<std::string, float> RawEstimates(const EstimatePlan& plan, const QuoteSnapshot& quotes)
{
    std::map<std::string, float> raw;
    for (const std::string& fund : plan.Funds) raw[fund] = 0.0f;
    for (const EstimateHolding& h : plan.Holdings) {
        auto it = quotes.Changes.find(h.Item.StockID);
        if (it == quotes.Changes.end() || !it->second) continue;
        raw[h.FundID] += h.Item.InvestPercent * *it->second * 0.01f;
    }
    return raw;
}

EstimateResult RunEstimate(const std::vector<std::string>& funds, const EstimateSources& sources,
                           const EstimateOptions& options)
{
    EstimateResult result;
    if (funds.empty()) return result;
    // The holdings and the calibration give up with the run.
    CHttpCancelScope scope(options.cancel);
    auto cancelled = [&options, &result] {
        if (!options.cancel || !options.cancel->load()) return false;
        result.Status = EstimateStatus::Cancelled;
        return true;
    };
    result.Plan = PrepareEstimate(funds, sources.holdings, options.cancel, options.progress);
    if (cancelled()) return result;
    if (result.Plan.StockCodes.empty()) {
        result.Status = EstimateStatus::NoStock;
        return result;
    }
    if (options.progress) options.progress(EstimatePhase::Quotes, 0, static_cast<int>(result.Plan.StockCodes.size()));
    auto fetch = std::make_shared<CQuoteFetch>(result.Plan.StockCodes, sources.quote, options.pageLimitMs);
    CQuoteFetch::Start(fetch);
    result.WaitMs = EstimateWaitMs(funds.size(), options.waitPerFundMs);
    result.Quotes = fetch->WaitAndStop(result.WaitMs, options.cancel, options.progress);
    result.Fetch = fetch;
    if (result.Quotes.Cancelled) {
        result.Status = EstimateStatus::Cancelled;
        return result;
    }
    result.Raw = RawEstimates(result.Plan, result.Quotes);
    result.Coverage = CoverageOf(result.Plan, result.Quotes);
    std::vector<std::pair<std::string, float>> raws;
    std::set<std::string> sent;
    for (const std::string& fund : result.Plan.Funds) {
        const QuoteCoverage& c = result.Coverage[fund];
        if (result.Plan.HoldingsMissing.count(fund) || (c.Holdings > 0 && c.Quoted == 0)) continue;
        if (sent.insert(fund).second) raws.emplace_back(fund, result.Raw[fund]);
    }
    if (raws.empty()) {
        result.Status = EstimateStatus::NoQuote;
        return result;
    }
    if (options.progress) options.progress(EstimatePhase::Calibration, 0, 0);
    std::vector<CFundInvestItem> answer;
    const bool calibrated = sources.calc && sources.calc(raws, answer);
    if (cancelled()) return result;
    if (!calibrated) {
        result.Status = EstimateStatus::CalcFailed;
        return result;
    }
    // Only what was asked: an answer for a fund without a quote is no estimate.
    for (const CFundInvestItem& item : answer)
        if (sent.count(item.StockID)) result.Calibrated[item.StockID] = item.InvestPercent;
    result.Status = EstimateStatus::Done;
    return result;
}

EstimateSources ServiceSources(std::shared_ptr<CFundInvestCache> cache, const std::string& dataServiceBase,
                               const std::string& quoteBase)
{
    EstimateSources s;
    s.holdings = [cache, dataServiceBase](const std::string& fund, std::vector<CFundInvestItem>& items) {
        return GetNewFundInvestInfo(*cache, dataServiceBase, fund, true, items);
    };
    s.quote = [quoteBase](const std::string& stock, float& change, OleDate& day) {
        return GetStockQuote(quoteBase, stock, change, day);
    };
    s.calc = [dataServiceBase](const std::vector<std::pair<std::string, float>>& raws,
                               std::vector<CFundInvestItem>& items) {
        return GetNewFundCalcResult(dataServiceBase, raws, items);
    };
    return s;
}

}  // namespace vextal

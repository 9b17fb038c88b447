#pragma once
// The curve parameters of the document, the loading of a fund's records for
// a curve kind (local history, or the service for the kinds it computes),
// and the drawing of one kind into a chart model. The curve view calls
// these; it adds only the window's part (cursor, focus, layout, repaint).
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "curve/CurveBuilders.h"
#include "net/ClientCommands.h"
#include "net/DataService.h"

namespace vextal {

class CNavHistory;
class CFundCatalogue;
class CLatestValueCache;

struct CurveParams {
    std::string CurrentFund;
    std::vector<std::string> SelectedFunds;
    OleDate StartDate, EndDate;
    int Kind = kCurveNav;
    int Statistic = 0;  // -1 when the statistic list is empty
    std::string StatisticText;
    int N = 10;
    int IndexCompare = 0;  // 0 none, 1..3 the index of the daily change chart
    bool Shanghai = false, Shenzhen = false, Csi300 = false;
    bool Loaded = false;
};

// What the curve bar holds when its OK button is pressed.
struct CurveBarValues {
    bool HasWindow = true;
    OleDate StartDate, EndDate;
    bool Shanghai = false, Shenzhen = false, Csi300 = false;
    std::string DayText;  // N
    int StatisticIndex = 0;
    std::vector<std::string> Statistics;  // the list's texts
};

// Where the curves read from; the document owns these.
struct CurveSources {
    CNavHistory* History = nullptr;
    const CFundCatalogue* Catalogue = nullptr;
    const CLatestValueCache* Latest = nullptr;
    std::string DataServiceUrl;  // split records; empty: no split marks
    // The current account's name and income history (kind 29); the
    // bookkeeping computes it, so the document supplies it. Empty: none.
    std::function<bool(std::string& accountName, std::vector<CurveIncomePoint>& points)> AccountIncome;
};

// The data kind that a curve kind loads.
int CurveDataKind(int kind);
// Data kinds read from the local history (the others come from the service).
bool IsLocalCurveDataKind(int dataKind);

// What a worker fetched for one draw before it runs: the service's records
// of the kinds it computes, and the split records of the NAV chart. The
// draw takes them instead of asking again; what is missing it asks for.
struct CurvePrefetch {
    int DataKind = 0, Statistic = 0;
    OleDate StartDate, EndDate;
    std::map<std::string, std::vector<CFundValue>> Records;  // by fund; fetched without fault only
    bool HasSplits = false;
    std::map<std::string, std::vector<CFundSplitItem>> Splits;
    // The service's dividends per unit of the range, for a NAV chart whose
    // local store has none.
    std::map<std::string, std::vector<CFundBonus>> Bonus;
};
// Network only (no store, no shared object): may run on a worker. Stops
// before the next request once `cancelled` is set.
CurvePrefetch FetchCurveData(const CommandContext& ctx, const std::string& dataServiceUrl,
                             const std::vector<std::string>& funds, int dataKind, int statistic,
                             const OleDate& start, const OleDate& end, bool splits,
                             const std::atomic<bool>& cancelled);
// The index history of a range for an index with nothing stored (1/21),
// network only; false when it could not be had.
bool FetchIndexRecords(const CommandContext& ctx, int indexNumber, const OleDate& from, const OleDate& to,
                       std::vector<CIndexValue>& records);
// The 2/13 answer for one unit: per unit, record, payment and ex-dividend date.
bool ParseUnitDividends(const CommandReply& reply, std::vector<CFundBonus>& bonus);

class CCurveData {
public:
    static constexpr double kEstimateCacheSeconds = 60.0;

    explicit CCurveData(const CurveSources& sources) : m_sources(sources) {}

    void SetSession(const CommandContext& ctx) { m_ctx = ctx; }
    CurveParams& Params() { return m_params; }
    const CurveParams& Params() const { return m_params; }

    // Loads the current fund's records between the start and end date
    // unless the loaded flag is set; sets it when the load succeeded.
    // Returns the loaded flag.
    bool LoadCurveData(int dataKind, int statistic);
    const std::vector<CFundValue>& Records() const { return m_records; }
    const std::vector<CFundBonus>& Bonus() const { return m_bonus; }
    const std::string& LastError() const { return m_lastError; }

    // Draws one curve kind into the chart (everything but the layout).
    void ShowCurve(CCurveChartModel& chart, int kind);
    // The OK button of the curve bar: the overlay of the selected funds.
    // `commandKind` is the kind of the last curve menu command.
    void ApplyCurveBar(CCurveChartModel& chart, const CurveBarValues& bar, int commandKind);

    std::string FundName(const std::string& fundId) const;

    // Records fetched ahead on a worker, used by the next loads that match.
    void SetPrefetch(CurvePrefetch prefetch) { m_prefetch = std::move(prefetch); }
    // False when the real-time estimate of the fund is still in its cache.
    bool EstimateDue(const std::string& fundId) const;

private:
    bool LoadFromService(int dataKind, int statistic);
    void DrawIndex(CCurveChartModel& chart, int kind);
    std::vector<CIndexValue> IndexRecords(int indexNumber);
    std::vector<CurveSplit> Splits(const std::string& fundId);

    CurveSources m_sources;
    CommandContext m_ctx;
    CurveParams m_params;
    std::vector<CFundValue> m_records;
    std::vector<CFundBonus> m_bonus;
    int m_loadedKind = 0, m_loadedStatistic = 0;  // what the loaded flag stands for
    std::string m_lastError;
    // Kind 31 by fund: when it was fetched and its records.
    std::map<std::string, std::pair<OleDate, std::vector<CFundValue>>> m_estimates;
    CurvePrefetch m_prefetch;
};

}  // namespace vextal

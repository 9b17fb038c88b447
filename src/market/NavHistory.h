#pragma once
// The NAV history store: daily NAVs (T_Fund_Value), dividends (T_Fund_Bonus)
// and the three index series (T_Index_Value), filled incrementally from the
// client service, with an in-memory cache of the funds already read.
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "db/AdoDatabase.h"
#include "market/FundValue.h"
#include "net/ClientCommands.h"

namespace vextal {

class CLatestValueCache;

// The NAV table's key leads with the date; reads by fund need an index of
// their own. Made once per file when it is opened, kept by later opens;
// false (with the database's text) when it cannot be made.
bool EnsureFundValueIndex(CAdoDatabase& db);

// 1 "1A0001", 2 "399001", 3 "399300"; any other number "1A0001".
std::string GetIndexCode(int indexNumber);

// A fund history download split so the request can run on a worker: the
// request is planned from the stored range, fetched and parsed with no
// access to the store, and stored on the store's thread.
struct HistoryRequest {
    std::string fundId;
    OleDate from;
    OleDate to;
    int flag = 0;  // 1 when local data exists
    CommandContext ctx;
};
struct HistoryFetch {
    int result = kMarketOk;
    std::string error;
    std::vector<CFundValue> records;
};
HistoryFetch FetchFundHistory(const HistoryRequest& request);
// One fund after another on the calling thread; stops before the next
// request once `cancelled` is set (the rest stay unfetched, result
// kMarketCancelled). `progress` hears of each fund done.
std::vector<HistoryFetch> FetchFundHistories(const std::vector<HistoryRequest>& requests,
                                             const std::atomic<bool>& cancelled, const ProgressFn& progress = nullptr);

class CNavHistory {
public:
    // `latest` (may be null) takes the newest NAV of an incremental download
    // and reports the history rows it adds, so the cache stays whole.
    CNavHistory(CAdoDatabase db, CLatestValueCache* latest = nullptr);
    ~CNavHistory();
    CNavHistory(const CNavHistory&) = delete;
    CNavHistory& operator=(const CNavHistory&) = delete;

    void SetSession(const CommandContext& ctx, bool offline)
    {
        m_ctx = ctx;
        m_offline = offline;
    }

    // The fund's records between the dates. Without `download` they come
    // from the cache or the database when the fund has local history;
    // otherwise (and online) the range is downloaded first (`hasLocal` is
    // passed to the service). Returns a MarketResult.
    int GetFundValueHistory(const std::string& fundId, const OleDate& from, const OleDate& to, bool hasLocal,
                            bool download, std::vector<CFundValue>& values);
    int GetIndexValueHistory(const std::string& indexCode, const OleDate& from, const OleDate& to, bool hasLocal,
                             bool download, std::vector<CIndexValue>& values);

    std::vector<CFundValue> LoadFundValues(const std::string& fundId, const OleDate& from, const OleDate& to);
    std::vector<CFundBonus> LoadFundBonus(const std::string& fundId, const OleDate& from, const OleDate& to);
    std::vector<CIndexValue> LoadIndexValues(const std::string& indexCode, const OleDate& from, const OleDate& to);
    bool GetFundValueRange(const std::string& fundId, OleDate& first, OleDate& last);
    bool GetIndexValueRange(const std::string& indexCode, OleDate& first, OleDate& last);
    // The last stored NAV date before `date`; false when there is none.
    bool GetPrevValueDate(const std::string& fundId, const OleDate& date, OleDate& prev);

    bool SaveFundValue(const CFundValue& value);
    bool SaveIndexValue(const CIndexValue& value);
    bool DeleteFundValues(const std::string& fundId);
    bool DeleteIndexValues(const std::string& indexCode);

    // Brings the fund's history up to now: with stored NAVs the service is
    // told their first and last dates; every record is upserted in one
    // transaction. The newest record also becomes the latest value.
    bool IncrementalDownloadFund(const std::string& fundId);
    // The same for index number 1 to 3.
    bool IncrementalDownloadIndex(int indexNumber);
    // One fund after another; `progress` may stop the run between funds.
    // Returns how many funds were brought up to date.
    size_t IncrementalDownloadFunds(const std::vector<std::string>& fundIds, const ProgressFn& progress);
    // The steps of the above: the requests (empty offline), and the store of
    // what FetchFundHistories brought, in one transaction; the newest values
    // go to the latest values after it. Returns how many funds were stored.
    std::vector<HistoryRequest> PlanIncrementalDownloads(const std::vector<std::string>& fundIds);
    size_t StoreFundHistories(const std::vector<HistoryRequest>& requests, const std::vector<HistoryFetch>& fetched);

    // The fund's history already in memory (null when not cached).
    const std::vector<CFundValue>* CachedHistory(const std::string& fundId) const;
    // Adds or replaces one record in a cached fund's history (no-op when
    // the fund is not cached).
    void UpdateCache(const CFundValue& value);
    void ClearCache();

    const std::string& GetLastError() const { return m_lastError; }

    // Default start of a first download.
    static OleDate FirstDownloadDate() { return OleDate::FromParts(1990, 1, 1, 1, 1, 1); }

private:
    int DownloadFundHistory(const std::string& fundId, const OleDate& from, const OleDate& to, int flag,
                            CFundValue* newest);
    int StoreFundHistory(const std::string& fundId, const HistoryFetch& fetched, CFundValue* newest);
    int DownloadIndexHistory(int indexNumber, const std::string& indexCode, const OleDate& from, const OleDate& to);
    void EnsureCached(const std::string& fundId);
    int Fail(int code, const std::string& error);
    std::string DateLiteral(const OleDate& d) const;

    CAdoDatabase m_db;
    CLatestValueCache* m_latest;
    CommandContext m_ctx;
    bool m_offline = false;
    std::map<std::string, std::vector<CFundValue>> m_cache;  // by fund, in date order
    std::string m_lastError;
};

}  // namespace vextal

#pragma once
// The latest values of all funds (T_New_Fund_Value and the map the document
// owns), the single-value questions to the service (latest NAV, trade NAV,
// real-time value) with their value cache, and the outside disclosure page.
#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "db/AdoDatabase.h"
#include "market/FundCatalogue.h"
#include "market/NewFundValue.h"
#include "net/ClientCommands.h"

namespace vextal {

// The NAV date a current value must have at `now`: today from 17:00 on a
// weekday, else the weekday before; `newestNavDay` (when valid) replaces
// that. Class 3 (weekly NAVs): the last Friday on or before that day.
OleDate ExpectedValueDate(const OleDate& now, int fundClass, const OleDate& newestNavDay);
// Same year and month as the expected date and not before its day.
bool IsValueCurrent(const OleDate& valueDate, int fundClass, const OleDate& now, const OleDate& newestNavDay);
// Whole class wanted: when as many values are stale as current; else when
// 80 or more are stale and the hour is 17 or less.
bool NeedsClassDownload(int current, int notCurrent, const OleDate& now);

// The page of the disclosure site: date, NAV and accumulated NAV of its
// first row behind the "累计净值" header cell. False when absent.
bool ReadDisclosurePage(const std::string& gbkPage, OleDate& date, double& nav, double& total);

// A latest-value download in three steps, so the network part can run on a
// worker: the request is planned from the map (caller's thread), fetched
// and parsed with no access to the cache or the database (any thread), and
// stored in one transaction (caller's thread), the map taking the new
// values at once.
struct ValuesRequest {
    bool send = false;              // false: nothing to ask (result kMarketOk)
    int fundClass = 0;              // 0: a list of funds (2/5)
    std::vector<std::string> fundIds;
    std::string version;            // NewFundValueNO sent with a whole class
    bool advanceVersion = false;    // the open-end class moves NewFundValueNO on
    std::string operation;
    CommandContext ctx;
};
struct ValuesFetch {
    int result = kMarketOk;
    std::string error;
    std::string msg;  // the answer's Msg (the new NewFundValueNO of a class)
    std::vector<CNewFundValue> records;
};
ValuesFetch FetchValues(const ValuesRequest& request);

// What the store of a download wrote, for the map to take at once.
struct StoredValues {
    int result = kMarketOk;
    std::string error;
    std::vector<CNewFundValue> written;
    std::vector<CFundValue> historyRows;  // rows added to T_Fund_Value
    std::string navDayText;               // a class answer's Msg: the newest NAV day
    int fundClass = 0;                    // the class a class answer filled
};

// The disclosure page of one fund, fetched and read (any thread).
struct DisclosureFetch {
    std::string fundId;
    bool sent = false;   // false: the page did not come
    bool found = false;  // the page had the table
    OleDate date;
    double nav = 0;
    double total = 0;
};
DisclosureFetch FetchDisclosurePage(const std::string& base, const std::string& fundId);

class CLatestValueCache {
public:
    CLatestValueCache(CAdoDatabase db, const CFundCatalogue& catalogue);

    void SetSession(const CommandContext& ctx, bool offline)
    {
        m_ctx = ctx;
        m_offline = offline;
    }
    // Field 8 of the login answer ("%Y-%m-%d"); unreadable text clears it.
    // The same text again changes nothing: the day stands as long as no
    // evening publication passed since it was learned.
    void SetNewestNavDate(const std::string& text);
    // Base URL of the disclosure site, ending in "/".
    void SetDisclosureBase(const std::string& url) { m_disclosureBase = url; }
    // Told of every row the latest values add to T_Fund_Value.
    void SetHistoryListener(std::function<void(const CFundValue&)> fn) { m_historyListener = std::move(fn); }

    // Clean-up of funds gone from the catalogue, then the map and statistics.
    bool LoadNewFundValues();
    bool IsLoaded() const { return m_loaded; }
    // Stores the value unless the stored one is newer (true when written),
    // extends the history when the value directly follows it, and saves
    // the statistics. One transaction.
    bool SaveNewFundValue(const CNewFundValue& value);
    // Stores a history record as the latest value when it is newer than the
    // stored one (figures of the stored record are kept).
    bool SaveIfNewer(const CFundValue& value);

    // Latest values of a class (opening or refreshing its list). Returns a
    // MarketResult; `progress` may cancel while storing (nothing is kept).
    int DownloadClassValues(int fundClass, bool refresh, const ProgressFn& progress = nullptr);
    // Command 2/5 for at most 32 codes; `serverUrl` (when given) is the
    // mirror asked instead of the main service.
    int DownloadSelectedValues(const std::vector<std::string>& fundIds, const ProgressFn& progress = nullptr,
                               const std::string& serverUrl = std::string());
    // The steps of the two downloads above (see ValuesRequest). A request
    // that needs no answer has `send` false; a refusal (offline) comes back
    // as a result below 0 with the error text set.
    int PlanClassValues(int fundClass, bool refresh, ValuesRequest& request);
    int PlanSelectedValues(const std::vector<std::string>& fundIds, ValuesRequest& request,
                           const std::string& serverUrl = std::string());
    int StoreValues(const ValuesRequest& request, const ValuesFetch& fetched, const ProgressFn& progress = nullptr);
    // The store in two halves: the writing in one transaction through a
    // connection of its own (any thread: it reads the catalogue, which only
    // the window's thread changes, and nothing else of this object), and
    // the map taking what was written (this object's thread). A cancel
    // before the commit writes nothing.
    StoredValues WriteValuesElsewhere(const ValuesRequest& request, const ValuesFetch& fetched,
                                      const std::atomic<bool>& cancelled) const;
    int ApplyStored(StoredValues& stored);

    // The day open-end values are expected for now: what "today's" figures
    // of the bookkeeping compare their value dates with.
    OleDate CurrentValueDate() const;
    bool IsValueCurrent(const OleDate& valueDate, int fundClass) const;
    bool NeedsClassDownload(int fundClass) const;

    // Command 2/22, at most once a minute per fund and not when the cached
    // value already has the newest NAV date.
    bool GetFundNewValueFormServer(const std::string& fundId, CFundValue& value, std::string& error);
    // Command 2/24 (never cached).
    bool GetRealtimeValueFormServer(const std::string& fundId, CFundValue& value, std::string& error);
    // Command 2/21: the NAV that confirms a trade placed at `tradeTime`.
    bool GetFundTradeValueFormServer(const std::string& fundId, const OleDate& tradeTime, double& nav,
                                     OleDate& navDate, std::string& error);
    // Command 2/25 into the value cache.
    bool InitFundValueCacheFromServer(const std::vector<std::string>& fundIds, std::string& error);
    // The newest NAV from the disclosure page, stored with SaveNewFundValue.
    bool FetchDisclosureValue(const std::string& fundId);
    // Its halves: the base URL of the pages, and the store of one page read.
    const std::string& DisclosureBase() const { return m_disclosureBase; }
    bool StoreDisclosureValue(const DisclosureFetch& fetched);

    const std::map<std::string, CNewFundValue>& Values() const { return m_values; }
    const CNewFundValue* FindValue(const std::string& fundId) const;
    // The funds of a class in map order (the list of the class).
    std::vector<const CNewFundValue*> ClassValues(int fundClass) const;
    // The newest value the program holds: latest-value map or value cache.
    bool GetLatestNav(const std::string& fundId, CFundValue& value) const;

    const std::string& GetLastError() const { return m_lastError; }

private:
    struct Batch;  // what a download knows of the stored rows
    struct CachedValue {
        CFundValue value;
        OleDate fetched;
    };
    StoredValues WriteValues(const ValuesRequest& request, const ValuesFetch& fetched, const ProgressFn& progress);
    // 1 written, 0 skipped (the stored row is newer), -1 database failure.
    int StoreNewFundValue(const CNewFundValue& v, Batch* batch);
    void ExtendHistory(const CNewFundValue& v, Batch* batch);
    int Fail(int code, const std::string& error);
    bool RefuseOffline(std::string& error) const;
    std::string DateLiteral(const OleDate& d) const { return m_db.LiteralOf(FieldValue("", d)); }
    // The newest NAV day while it still holds at `now` (else an invalid date).
    OleDate NewestNavDay(const OleDate& now) const;

    CAdoDatabase m_db;
    const CFundCatalogue& m_catalogue;
    CommandContext m_ctx;
    bool m_offline = false;
    bool m_loaded = false;
    // Classes the list may show without asking: loaded at start or filled by
    // a class answer. One value a history download stored does not count.
    std::set<int> m_classesHeld;
    OleDate m_newestNavDay = OleDate::FromParts(0, 0, 0);
    OleDate m_newestNavLearned = OleDate::FromParts(0, 0, 0);
    std::string m_newestNavText;
    std::string m_disclosureBase;
    std::function<void(const CFundValue&)> m_historyListener;
    std::map<std::string, CNewFundValue> m_values;
    std::map<std::string, CachedValue> m_valueCache;
    std::string m_lastError;
};

}  // namespace vextal

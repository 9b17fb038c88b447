#include "market/LatestValueCache.h"

#include <cctype>
#include <cmath>

#include "common/Clock.h"
#include "common/Format.h"
#include "common/StringTable.h"
#include "db/Schema.h"
#include "market/NavHistory.h"
#include "market/ReturnStatistics.h"
#include "net/Cipher.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"

namespace vextal {

namespace {

constexpr int kFriday = 5;
constexpr int kMonday = 1;
constexpr size_t kMaxSelected = 32;
constexpr int kStoreWritten = 1, kStoreSkipped = 0, kStoreFailed = -1;
// plindo-serve publishes a trading day's NAVs at 20:00 (its LatestNavDay):
// a newest NAV day learned before the last such evening is out of date.
// Keep the two hours in agreement.
constexpr int kNavPublishHour = 20;

// The last weekday evening publication at or before `now`.
OleDate LastPublication(const OleDate& now)
{
    OleDate day = now.DateOnly();
    if (now.IsWeekend() || now.Hour() < kNavPublishHour) {
        day = day.AddDays(-1);
        while (day.IsWeekend()) day = day.AddDays(-1);
    }
    return day.AddDays(kNavPublishHour / 24.0);
}

// A newest NAV day as the class answers carry it in Msg ("%Y%m%d").
bool ReadNavDay(const std::string& text, OleDate& day)
{
    std::string t = TrimText(text);
    if (t.size() != 8 || t.find_first_not_of("0123456789") != std::string::npos) return false;
    OleDate d = OleDate::FromParts(std::stoi(t.substr(0, 4)), std::stoi(t.substr(4, 2)), std::stoi(t.substr(6, 2)));
    if (!d.IsValid()) return false;
    day = d;
    return true;
}

FieldValueList NewValueFields(const CNewFundValue& v)
{
    return {{"FundID", v.FundID},
            {"ValueDate", v.ValueDate},
            {"TodayValue", v.TodayValue},
            {"TotalValue", v.TotalValue},
            {"TotalValue1", v.TotalValue1},
            {"VarPercent", v.VarPercent},
            {"VarValue", v.VarValue},
            {"WeekVarPercent", v.WeekVarPercent},
            {"MonthVarPercent", v.MonthVarPercent},
            {"OneMonthVar", v.OneMonthVar},
            {"TwoMonthVar", v.TwoMonthVar},
            {"ThreeMonthVar", v.ThreeMonthVar}};
}

}  // namespace

OleDate ExpectedValueDate(const OleDate& now, int fundClass, const OleDate& newestNavDay)
{
    OleDate day = now.DateOnly();
    if (newestNavDay.IsValid()) {
        day = newestNavDay.DateOnly();
    } else if (now.IsWeekend() || now.Hour() < 17) {
        // Before the evening publication the newest NAV is the previous
        // trading day's: weekends (and a Monday morning) give Friday.
        day = day.AddDays(-1);
        while (day.IsWeekend()) day = day.AddDays(-1);
    }
    if (fundClass == 3) {
        // The Friday within the week that ends on the expected day.
        day = day.AddDays(-7);
        do day = day.AddDays(1);
        while (day.DayOfWeek() != kFriday);
    }
    return day;
}

bool IsValueCurrent(const OleDate& valueDate, int fundClass, const OleDate& now, const OleDate& newestNavDay)
{
    DateParts e = ExpectedValueDate(now, fundClass, newestNavDay).Parts();
    DateParts v = valueDate.Parts();
    return v.year == e.year && v.month == e.month && v.day >= e.day;
}

bool NeedsClassDownload(int current, int notCurrent, const OleDate& now)
{
    if (notCurrent >= current) return true;
    if (notCurrent < 80) return false;
    return now.Hour() <= 17;
}

bool ReadDisclosurePage(const std::string& page, OleDate& date, double& nav, double& total)
{
    const std::string cellOpen = "<td align=\"center\" height=\"20\">";
    const std::string marker = cellOpen + Utf8ToGbk("累计净值") + "</td>";
    size_t pos = page.find(marker);
    if (pos == std::string::npos) return false;
    pos += marker.size();
    std::string cells[3];
    for (std::string& cell : cells) {
        size_t open = page.find(cellOpen, pos);
        if (open == std::string::npos) return false;
        open += cellOpen.size();
        size_t close = page.find("</td>", open);
        if (close == std::string::npos) return false;
        cell = TrimText(page.substr(open, close - open));
        pos = close + 5;
    }
    OleDate d;
    double n = 0, t = 0;
    if (cells[1].empty() || cells[2].empty() || !ReadWireDate(cells[0], d) || !ReadWireFloat(cells[1], n) ||
        !ReadWireFloat(cells[2], t))
        return false;
    date = d;
    nav = n;
    total = t;
    return true;
}

// Stored dates of T_New_Fund_Value and the funds with statistics, read once
// per download; rows written during the download are added as they go.
struct CLatestValueCache::Batch {
    std::map<std::string, OleDate> storedDates;
    std::set<std::string> incomeRows;
    std::set<std::string> withHistory;  // funds with any row in T_Fund_Value
    std::vector<CNewFundValue> written;
    std::vector<CFundValue> historyRows;

    void Load(CAdoDatabase& db)
    {
        RecordsetPtr rs = db.OpenRecordsetEx("SELECT FundID,ValueDate FROM T_New_Fund_Value");
        for (; rs && !rs->IsEOF(); rs->MoveNext()) {
            std::string id;
            OleDate d;
            if (db.GetFieldValue(rs, "FundID", id) && db.GetFieldValue(rs, "ValueDate", d)) storedDates[id] = d;
        }
        rs = db.OpenRecordsetEx("SELECT FundID FROM T_New_Income");
        for (; rs && !rs->IsEOF(); rs->MoveNext()) {
            std::string id;
            if (db.GetFieldValue(rs, "FundID", id)) incomeRows.insert(id);
        }
        // Only the funds someone looked at have history: most have none.
        rs = db.OpenRecordsetEx("SELECT DISTINCT FundID FROM T_Fund_Value");
        for (; rs && !rs->IsEOF(); rs->MoveNext()) {
            std::string id;
            if (db.GetFieldValue(rs, "FundID", id)) withHistory.insert(id);
        }
    }
};

CLatestValueCache::CLatestValueCache(CAdoDatabase db, const CFundCatalogue& catalogue)
    : m_db(std::move(db)), m_catalogue(catalogue)
{
}

// Offline the service functions send nothing.
bool CLatestValueCache::RefuseOffline(std::string& error) const
{
    if (m_offline) error = LoadResString(str::OfflineUnavailable);
    return m_offline;
}

int CLatestValueCache::Fail(int code, const std::string& error)
{
    m_lastError = error;
    return code;
}

void CLatestValueCache::SetNewestNavDate(const std::string& text)
{
    // The session hands the login's text on before every command: only a
    // new text is news.
    if (text == m_newestNavText && m_newestNavLearned.IsValid()) return;
    m_newestNavText = text;
    OleDate d;
    m_newestNavDay = ReadWireDate(text, d) ? d.DateOnly() : OleDate::FromParts(0, 0, 0);
    m_newestNavLearned = Clock::Now();
}

OleDate CLatestValueCache::CurrentValueDate() const
{
    const OleDate now = Clock::Now();
    return ExpectedValueDate(now, 1, NewestNavDay(now));
}

OleDate CLatestValueCache::NewestNavDay(const OleDate& now) const
{
    if (!m_newestNavDay.IsValid() || m_newestNavLearned < LastPublication(now)) return OleDate::FromParts(0, 0, 0);
    return m_newestNavDay;
}

bool CLatestValueCache::LoadNewFundValues()
{
    CleanUpLatestValues(m_db);
    // Row by row and unsorted: the map orders the values by code.
    std::map<std::string, CNewFundValue> values;
    const bool read = m_db.ForEachRow("SELECT * FROM T_New_Fund_Value", [&](const RecordsetPtr& rs) {
        CNewFundValue v;
        m_db.GetFieldValue(rs, "FundID", v.FundID);
        m_db.GetFieldValue(rs, "ValueDate", v.ValueDate);
        m_db.GetFieldValue(rs, "TodayValue", v.TodayValue);
        m_db.GetFieldValue(rs, "TotalValue", v.TotalValue);
        m_db.GetFieldValue(rs, "TotalValue1", v.TotalValue1);
        m_db.GetFieldValue(rs, "VarPercent", v.VarPercent);
        m_db.GetFieldValue(rs, "VarValue", v.VarValue);
        m_db.GetFieldValue(rs, "WeekVarPercent", v.WeekVarPercent);
        m_db.GetFieldValue(rs, "MonthVarPercent", v.MonthVarPercent);
        m_db.GetFieldValue(rs, "OneMonthVar", v.OneMonthVar);
        m_db.GetFieldValue(rs, "TwoMonthVar", v.TwoMonthVar);
        m_db.GetFieldValue(rs, "ThreeMonthVar", v.ThreeMonthVar);
        std::string id = v.FundID;
        m_classesHeld.insert(m_catalogue.GetFundClass(id));
        values[id] = std::move(v);
        return true;
    });
    if (!read) {
        m_lastError = m_db.GetLastError();
        return false;
    }
    m_values = std::move(values);
    LoadReturnStatistics(m_db, m_values);
    m_loaded = true;
    return true;
}

void CLatestValueCache::ExtendHistory(const CNewFundValue& v, Batch* batch)
{
    if (batch && !batch->withHistory.count(v.FundID)) return;
    std::string id = SqlEscape(v.FundID), date = DateLiteral(v.ValueDate);
    OleDate prev;
    if (!m_db.QueryDate(StrFormat("SELECT TOP 1 ValueDate FROM T_Fund_Value WHERE FundID='%s' AND ValueDate<%s "
                                  "ORDER BY ValueDate DESC",
                                  id.c_str(), date.c_str()),
                        prev))
        return;
    int gap = WholeDaysBetween(prev, v.ValueDate);
    bool follows = m_catalogue.GetFundClass(v.FundID) == 3
                       ? gap == 7
                       : gap == 1 || (gap == 3 && v.ValueDate.DayOfWeek() == kMonday);
    if (!follows) return;  // the next incremental download fills the gap
    FieldValueList fields = {{"FundID", v.FundID},         {"ValueDate", v.ValueDate},
                             {"TodayValue", v.TodayValue}, {"TotalValue", v.TotalValue},
                             {"TotalValue1", v.TotalValue1}, {"VarPercent", v.VarPercent},
                             {"VarValue", v.VarValue}};
    std::string key = " WHERE FundID='" + id + "' AND ValueDate=" + date;
    bool exists = m_db.GetRecordCount("SELECT FundID FROM T_Fund_Value" + key) > 0;
    if (!(exists ? m_db.UpdateRecord("T_Fund_Value", fields, key) : m_db.InsertRecord("T_Fund_Value", fields))) return;
    // The history cache hears of the row once the transaction is committed.
    if (batch)
        batch->historyRows.push_back(v);
    else if (m_historyListener)
        m_historyListener(v);
}

int CLatestValueCache::StoreNewFundValue(const CNewFundValue& v, Batch* batch)
{
    std::string id = SqlEscape(v.FundID);
    std::optional<OleDate> stored;
    if (batch) {
        auto it = batch->storedDates.find(v.FundID);
        if (it != batch->storedDates.end()) stored = it->second;
    } else {
        RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT * FROM T_New_Fund_Value WHERE FundID='" + id + "'");
        OleDate d;
        if (rs && !rs->IsEOF() && m_db.GetFieldValue(rs, "ValueDate", d)) stored = d;
    }

    bool newer = !stored || *stored <= v.ValueDate;
    if (newer) {
        // The update's condition repeats the date rule: an older value never
        // replaces a newer row.
        bool ok = !stored ? m_db.InsertRecord("T_New_Fund_Value", NewValueFields(v))
                          : m_db.UpdateRecord("T_New_Fund_Value", NewValueFields(v),
                                              " WHERE FundID='" + id + "' AND ValueDate<=" + DateLiteral(v.ValueDate));
        if (!ok) {
            m_lastError = m_db.GetLastError();
            return kStoreFailed;
        }
    }
    ExtendHistory(v, batch);
    if (!newer) return kStoreSkipped;

    std::optional<bool> incomeRow;
    if (batch) incomeRow = batch->incomeRows.count(v.FundID) > 0;
    if (!SaveReturnStatistics(m_db, v, incomeRow)) {
        m_lastError = m_db.GetLastError();
        return kStoreFailed;
    }
    if (batch) {
        batch->storedDates[v.FundID] = v.ValueDate;
        batch->incomeRows.insert(v.FundID);
        batch->written.push_back(v);
    }
    return kStoreWritten;
}

bool CLatestValueCache::SaveNewFundValue(const CNewFundValue& value)
{
    CAdoTransaction trans(m_db);
    int rc = StoreNewFundValue(value, nullptr);
    if (rc == kStoreFailed || !trans.Commit()) return false;
    if (rc == kStoreWritten) m_values[value.FundID] = value;
    return rc == kStoreWritten;
}

bool CLatestValueCache::SaveIfNewer(const CFundValue& value)
{
    CNewFundValue v;
    auto it = m_values.find(value.FundID);
    if (it != m_values.end()) {
        if (it->second.ValueDate >= value.ValueDate) return false;
        v = it->second;
    }
    // The history record does not carry TotalValue1: the stored figure stays.
    const double totalValue1 = v.TotalValue1;
    static_cast<CFundValue&>(v) = value;
    v.TotalValue1 = totalValue1;
    return SaveNewFundValue(v);
}

ValuesFetch FetchValues(const ValuesRequest& request)
{
    ValuesFetch out;
    if (!request.send) return out;
    CommandReply reply = request.fundClass == 0 ? SendSelectedValues(request.ctx, request.fundIds)
                                                : SendClassValues(request.ctx, request.fundClass, request.version);
    auto fail = [&out](int code, const std::string& error) {
        out.result = code;
        out.error = error;
        return out;
    };
    if (reply.status == CommandStatus::SendFailed) return fail(kMarketNotSent, reply.error);
    if (reply.status == CommandStatus::Refused) return fail(kMarketRefused, reply.error);
    const bool empty = reply.status == CommandStatus::BadFormat && reply.payloadFound && reply.fields.empty() &&
                       reply.ret == 0;
    if (!reply.ok() && !empty) return fail(kMarketBadFormat, FormatErrorText(request.operation));
    out.records.resize(reply.fields.size() / kLatestValueFields);
    for (size_t r = 0; r < out.records.size(); ++r)
        if (!ReadLatestValueRecord(reply.fields, r * kLatestValueFields, out.records[r])) {
            out.records.clear();
            return fail(kMarketBadFormat, FormatErrorText(request.operation));
        }
    out.msg = reply.msg;
    return out;
}

StoredValues CLatestValueCache::WriteValues(const ValuesRequest& request, const ValuesFetch& fetched,
                                            const ProgressFn& progress)
{
    StoredValues out;
    auto fail = [&out](int code, const std::string& error) {
        out = StoredValues();
        out.result = code;
        out.error = error;
        return out;
    };
    if (!request.send) return out;
    if (fetched.result != kMarketOk) return fail(fetched.result, fetched.error);
    const std::vector<CNewFundValue>& records = fetched.records;
    CAdoTransaction trans(m_db);
    Batch batch;
    batch.Load(m_db);
    for (size_t r = 0; r < records.size(); ++r) {
        if (progress && r % 256 == 0 && !progress(r, records.size())) return fail(kMarketCancelled, std::string());
        if (StoreNewFundValue(records[r], &batch) == kStoreFailed) return fail(kMarketStoreFailed, m_lastError);
    }
    // Only the whole open-end class moves the version on, together with the
    // values it came with.
    if (request.advanceVersion && !fetched.msg.empty() && !SetSystemInfo(m_db, "NewFundValueNO", fetched.msg))
        return fail(kMarketStoreFailed, m_db.GetLastError());
    if (progress && !progress(records.size(), records.size())) return fail(kMarketCancelled, std::string());
    if (!trans.Commit()) return fail(kMarketStoreFailed, m_db.GetLastError());
    out.written = std::move(batch.written);
    out.historyRows = std::move(batch.historyRows);
    if (request.fundClass != 0) {
        out.navDayText = fetched.msg;
        out.fundClass = request.fundClass;
    }
    return out;
}

StoredValues CLatestValueCache::WriteValuesElsewhere(const ValuesRequest& request, const ValuesFetch& fetched,
                                                     const std::atomic<bool>& cancelled) const
{
    CAdoDatabase own;
    if (!own.OpenAnother(m_db)) {
        StoredValues out;
        out.result = kMarketStoreFailed;
        out.error = own.GetLastError();
        return out;
    }
    CLatestValueCache writer(own, m_catalogue);
    StoredValues out = writer.WriteValues(request, fetched, [&cancelled](size_t, size_t) { return !cancelled; });
    own.Close();
    return out;
}

int CLatestValueCache::ApplyStored(StoredValues& stored)
{
    if (stored.result != kMarketOk) return Fail(stored.result, stored.error);
    for (CNewFundValue& v : stored.written) {
        std::string id = v.FundID;
        m_values[id] = std::move(v);
    }
    if (stored.fundClass != 0) m_classesHeld.insert(stored.fundClass);
    if (m_historyListener)
        for (const CFundValue& h : stored.historyRows) m_historyListener(h);
    // A class answer names the newest NAV day: values of it are current
    // until the next evening's publication.
    OleDate day;
    if (ReadNavDay(stored.navDayText, day)) {
        m_newestNavDay = day;
        m_newestNavLearned = Clock::Now();
    }
    return kMarketOk;
}

int CLatestValueCache::StoreValues(const ValuesRequest& request, const ValuesFetch& fetched,
                                   const ProgressFn& progress)
{
    StoredValues stored = WriteValues(request, fetched, progress);
    return ApplyStored(stored);
}

bool CLatestValueCache::IsValueCurrent(const OleDate& valueDate, int fundClass) const
{
    OleDate now = Clock::Now();
    return vextal::IsValueCurrent(valueDate, fundClass, now, NewestNavDay(now));
}

bool CLatestValueCache::NeedsClassDownload(int fundClass) const
{
    OleDate now = Clock::Now(), newest = NewestNavDay(now);
    int current = 0, stale = 0;
    for (const auto& [id, v] : m_values) {
        if (m_catalogue.GetFundClass(id) != fundClass) continue;
        if (vextal::IsValueCurrent(v.ValueDate, fundClass, now, newest))
            ++current;
        else
            ++stale;
    }
    // A fund of the class without any latest value is as stale as an old
    // one: otherwise the one value a history download stores would keep
    // the rest of the class from ever being fetched.
    for (const auto& [id, info] : m_catalogue.Funds())
        if (!m_values.count(id) && m_catalogue.GetFundClass(id) == fundClass) ++stale;
    return vextal::NeedsClassDownload(current, stale, now);
}

int CLatestValueCache::DownloadClassValues(int fundClass, bool refresh, const ProgressFn& progress)
{
    ValuesRequest request;
    int rc = PlanClassValues(fundClass, refresh, request);
    if (rc != kMarketOk) return rc;
    return StoreValues(request, FetchValues(request), progress);
}

int CLatestValueCache::PlanClassValues(int fundClass, bool refresh, ValuesRequest& request)
{
    request = ValuesRequest();
    request.operation = "DownloadClassValues";
    request.ctx = m_ctx.For(request.operation);
    if (!m_loaded) {
        LoadNewFundValues();
        refresh = true;
    }
    if (m_offline) return kMarketOk;
    if (!refresh && m_classesHeld.count(fundClass)) return kMarketOk;

    if (!NeedsClassDownload(fundClass)) {
        OleDate now = Clock::Now(), newest = NewestNavDay(now);
        for (const auto& [id, v] : m_values) {
            if (m_catalogue.GetFundClass(id) != fundClass ||
                vextal::IsValueCurrent(v.ValueDate, fundClass, now, newest))
                continue;
            request.fundIds.push_back(id);
            if (request.fundIds.size() == kMaxSelected) break;
        }
        request.send = !request.fundIds.empty();
        return kMarketOk;
    }

    // The service answers with the values newer than the day sent. That day
    // is the oldest value this program holds of the class: the open-end
    // version (NewFundValueNO) moves with class 1 only and would leave the
    // other classes behind, and a newer day would leave a lagging fund
    // behind. A fund of the class without a value asks for all of it.
    std::optional<OleDate> oldest;
    for (const auto& [id, v] : m_values)
        if (m_catalogue.GetFundClass(id) == fundClass && (!oldest || v.ValueDate < *oldest)) oldest = v.ValueDate;
    bool missing = false;
    for (const auto& [id, info] : m_catalogue.Funds())
        if (!m_values.count(id) && m_catalogue.GetFundClass(id) == fundClass) {
            missing = true;
            break;
        }
    if (oldest && !missing) request.version = oldest->Format(2);
    request.fundClass = fundClass;
    request.advanceVersion = fundClass == 1;
    request.send = true;
    return kMarketOk;
}

int CLatestValueCache::DownloadSelectedValues(const std::vector<std::string>& fundIds, const ProgressFn& progress,
                                              const std::string& serverUrl)
{
    ValuesRequest request;
    int rc = PlanSelectedValues(fundIds, request, serverUrl);
    if (rc != kMarketOk) return rc;
    return StoreValues(request, FetchValues(request), progress);
}

int CLatestValueCache::PlanSelectedValues(const std::vector<std::string>& fundIds, ValuesRequest& request,
                                          const std::string& serverUrl)
{
    request = ValuesRequest();
    request.operation = "DownloadSelectedValues";
    request.ctx = m_ctx.For(request.operation);
    // A mirror, when given, is asked instead of the main service.
    if (!serverUrl.empty()) request.ctx.commandUrl = MakeCommandUrl(serverUrl);
    if (m_offline) return Fail(kMarketNotSent, LoadResString(str::OfflineUnavailable));
    request.fundIds.assign(fundIds.begin(), fundIds.begin() + static_cast<long>(std::min(fundIds.size(), kMaxSelected)));
    request.send = !request.fundIds.empty();
    return kMarketOk;
}

bool CLatestValueCache::GetFundNewValueFormServer(const std::string& fundId, CFundValue& value, std::string& error)
{
    OleDate now = Clock::Now();
    auto it = m_valueCache.find(fundId);
    if (it != m_valueCache.end()) {
        value = it->second.value;
        double age = std::round((now.dt - it->second.fetched.dt) * 86400.0);
        if (age <= 60) return true;
        OleDate newest = NewestNavDay(now);
        if (newest.IsValid() && value.ValueDate.DateOnly() >= newest) return true;
        if (m_offline) return true;
    }
    if (RefuseOffline(error)) return false;
    CommandReply reply = SendLatestValue(m_ctx.For("GetFundNewValueFormServer"), fundId);
    CFundValue v;
    v.FundID = fundId;
    if (reply.ok() && !ReadLatestNav(reply.fields, 0, v)) reply.error = FormatErrorText("GetFundNewValueFormServer");
    else if (reply.ok()) {
        m_valueCache[fundId] = {v, now};
        value = v;
        return true;
    }
    error = reply.error;
    return false;
}

bool CLatestValueCache::GetRealtimeValueFormServer(const std::string& fundId, CFundValue& value, std::string& error)
{
    if (RefuseOffline(error)) return false;
    CommandReply reply = SendRealtimeValue(m_ctx.For("GetRealtimeValueFormServer"), fundId);
    CFundValue v;
    v.FundID = fundId;
    if (!reply.ok() || !ReadLatestNav(reply.fields, 0, v)) {
        error = reply.ok() ? FormatErrorText("GetRealtimeValueFormServer") : reply.error;
        return false;
    }
    value = v;
    return true;
}

bool CLatestValueCache::GetFundTradeValueFormServer(const std::string& fundId, const OleDate& tradeTime, double& nav,
                                                    OleDate& navDate, std::string& error)
{
    if (RefuseOffline(error)) return false;
    CommandReply reply = SendTradeValue(m_ctx.For("GetFundTradeValueFormServer"), fundId, tradeTime);
    if (!reply.ok() || !ReadTradeNav(reply.fields, nav, navDate)) {
        error = reply.ok() ? FormatErrorText("GetFundTradeValueFormServer") : reply.error;
        return false;
    }
    return true;
}

bool CLatestValueCache::InitFundValueCacheFromServer(const std::vector<std::string>& fundIds, std::string& error)
{
    if (RefuseOffline(error)) return false;
    if (fundIds.empty()) return true;
    CommandReply reply = SendValueCache(m_ctx.For("InitFundValueCacheFromServer"), fundIds);
    if (!reply.ok()) {
        error = reply.error;
        return false;
    }
    std::vector<CFundValue> records;
    if (!ReadCachedValues(reply.fields, records)) {
        error = FormatErrorText("InitFundValueCacheFromServer");
        return false;
    }
    OleDate now = Clock::Now();
    for (const CFundValue& v : records) m_valueCache[v.FundID] = {v, now};
    return true;
}

DisclosureFetch FetchDisclosurePage(const std::string& base, const std::string& fundId)
{
    DisclosureFetch out;
    out.fundId = fundId;
    if (!IsFundCode(fundId)) return out;
    std::string page;
    if (HttpGetText(base + "jjzx/jjjz.jsp?fundCode=" + fundId, page, std::string(), std::string()) <= 0) return out;
    out.sent = true;
    out.found = ReadDisclosurePage(page, out.date, out.nav, out.total);
    return out;
}

bool CLatestValueCache::FetchDisclosureValue(const std::string& fundId)
{
    return StoreDisclosureValue(FetchDisclosurePage(m_disclosureBase, fundId));
}

bool CLatestValueCache::StoreDisclosureValue(const DisclosureFetch& fetched)
{
    m_lastError.clear();
    const std::string& fundId = fetched.fundId;
    if (!IsFundCode(fundId)) {
        m_lastError = FormatErrorText("FetchDisclosureValue");
        return false;
    }
    if (!fetched.sent) {
        m_lastError = kSendRequestError;
        return false;
    }
    if (!fetched.found) return false;
    const OleDate& date = fetched.date;
    const double nav = fetched.nav, total = fetched.total;

    CNewFundValue v;
    auto it = m_values.find(fundId);
    if (it != m_values.end()) {
        v = it->second;
        // The page has no day change. It follows from the NAV held before
        // only when that is the previous trading day's; a money-market
        // fund's VarPercent is its 7-day yield, which the page does not give.
        if (date > v.ValueDate && !m_catalogue.IsMoneyMarketFund(fundId)) {
            int gap = WholeDaysBetween(v.ValueDate, date);
            bool previous = m_catalogue.GetFundClass(fundId) == 3
                                ? gap == 7
                                : gap == 1 || (gap == 3 && date.DayOfWeek() == kMonday);
            v.VarValue = previous && v.TodayValue != 0 ? nav - v.TodayValue : 0;
            v.VarPercent = previous && v.TodayValue != 0 ? v.VarValue / v.TodayValue * 100.0f : 0;
        }
    }
    v.FundID = fundId;
    v.ValueDate = date;
    v.TodayValue = nav;
    v.TotalValue = total;
    return SaveNewFundValue(v);
}

const CNewFundValue* CLatestValueCache::FindValue(const std::string& fundId) const
{
    auto it = m_values.find(fundId);
    return it == m_values.end() ? nullptr : &it->second;
}

std::vector<const CNewFundValue*> CLatestValueCache::ClassValues(int fundClass) const
{
    std::vector<const CNewFundValue*> list;
    for (const auto& [id, v] : m_values)
        if (m_catalogue.GetFundClass(id) == fundClass) list.push_back(&v);
    return list;
}

bool CLatestValueCache::GetLatestNav(const std::string& fundId, CFundValue& value) const
{
    const CNewFundValue* stored = FindValue(fundId);
    auto cached = m_valueCache.find(fundId);
    if (!stored && cached == m_valueCache.end()) return false;
    if (stored && (cached == m_valueCache.end() || stored->ValueDate >= cached->second.value.ValueDate))
        value = *stored;
    else
        value = cached->second.value;
    return true;
}

}  // namespace vextal

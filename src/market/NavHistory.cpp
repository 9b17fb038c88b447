#include "market/NavHistory.h"

#include <algorithm>
#include <set>

#include "common/Clock.h"
#include "common/Format.h"
#include "common/StringTable.h"
#include "market/LatestValueCache.h"
#include "net/CommandProtocol.h"

namespace vextal {

namespace {

bool ByDate(const CFundValue& a, const CFundValue& b) { return a.ValueDate < b.ValueDate; }

// Merges records into a date-ordered list; a record of a date already
// present replaces it.
void MergeByDate(std::vector<CFundValue>& list, const std::vector<CFundValue>& records)
{
    for (const CFundValue& r : records) {
        auto it = std::lower_bound(list.begin(), list.end(), r, ByDate);
        if (it != list.end() && it->ValueDate == r.ValueDate)
            *it = r;
        else
            list.insert(it, r);
    }
}

// An answer of the history commands without any record: nothing new.
bool IsEmptyAnswer(const CommandReply& reply)
{
    return reply.status == CommandStatus::BadFormat && reply.payloadFound && reply.fields.empty() && reply.ret == 0;
}

}  // namespace

bool EnsureFundValueIndex(CAdoDatabase& db)
{
    return db.Execute("CREATE INDEX IF NOT EXISTS IX_Fund_Value_Fund ON T_Fund_Value(FundID,ValueDate)");
}

std::string GetIndexCode(int indexNumber)
{
    switch (indexNumber) {
    case 2: return "399001";
    case 3: return "399300";
    default: return "1A0001";
    }
}

CNavHistory::CNavHistory(CAdoDatabase db, CLatestValueCache* latest) : m_db(std::move(db)), m_latest(latest)
{
    if (m_latest) m_latest->SetHistoryListener([this](const CFundValue& v) { UpdateCache(v); });
}

CNavHistory::~CNavHistory()
{
    if (m_latest) m_latest->SetHistoryListener(nullptr);
}

int CNavHistory::Fail(int code, const std::string& error)
{
    m_lastError = error;
    return code;
}

std::string CNavHistory::DateLiteral(const OleDate& d) const { return m_db.LiteralOf(FieldValue("", d)); }

std::vector<CFundValue> CNavHistory::LoadFundValues(const std::string& fundId, const OleDate& from, const OleDate& to)
{
    std::vector<CFundValue> values;
    RecordsetPtr rs = m_db.OpenRecordsetEx(StrFormat(
        "SELECT ValueDate,TodayValue,TotalValue,VarPercent,VarValue FROM T_Fund_Value WHERE FundID='%s' AND "
        "ValueDate>=%s AND ValueDate<=%s ORDER BY ValueDate",
        SqlEscape(fundId).c_str(), DateLiteral(from).c_str(), DateLiteral(to).c_str()));
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        CFundValue v;
        v.FundID = fundId;
        m_db.GetFieldValue(rs, "ValueDate", v.ValueDate);
        m_db.GetFieldValue(rs, "TodayValue", v.TodayValue);
        m_db.GetFieldValue(rs, "TotalValue", v.TotalValue);
        m_db.GetFieldValue(rs, "VarPercent", v.VarPercent);
        m_db.GetFieldValue(rs, "VarValue", v.VarValue);
        values.push_back(std::move(v));
    }
    return values;
}

std::vector<CFundBonus> CNavHistory::LoadFundBonus(const std::string& fundId, const OleDate& from, const OleDate& to)
{
    std::vector<CFundBonus> bonuses;
    RecordsetPtr rs = m_db.OpenRecordsetEx(StrFormat(
        "SELECT RecordDate,SubtractDate,BonusDate,BonusValue FROM T_Fund_Bonus WHERE FundID='%s' AND "
        "BonusDate>=%s AND BonusDate<=%s ORDER BY BonusDate",
        SqlEscape(fundId).c_str(), DateLiteral(from).c_str(), DateLiteral(to).c_str()));
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        CFundBonus b;
        b.SubtractDate = OleDate::FromParts(0, 0, 0);  // invalid unless stored
        m_db.GetFieldValue(rs, "RecordDate", b.RecordDate);
        m_db.GetFieldValue(rs, "SubtractDate", b.SubtractDate);
        m_db.GetFieldValue(rs, "BonusDate", b.BonusDate);
        m_db.GetFieldValue(rs, "BonusValue", b.BonusValue);
        bonuses.push_back(b);
    }
    return bonuses;
}

std::vector<CIndexValue> CNavHistory::LoadIndexValues(const std::string& indexCode, const OleDate& from,
                                                      const OleDate& to)
{
    std::vector<CIndexValue> values;
    RecordsetPtr rs = m_db.OpenRecordsetEx(StrFormat(
        "SELECT ValueDate,IndexValue,VarValue,VarPercent FROM T_Index_Value WHERE IndexID='%s' AND "
        "ValueDate>=%s AND ValueDate<=%s ORDER BY ValueDate",
        SqlEscape(indexCode).c_str(), DateLiteral(from).c_str(), DateLiteral(to).c_str()));
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        CIndexValue v;
        v.IndexID = indexCode;
        m_db.GetFieldValue(rs, "ValueDate", v.ValueDate);
        m_db.GetFieldValue(rs, "IndexValue", v.IndexValue);
        m_db.GetFieldValue(rs, "VarValue", v.VarValue);
        m_db.GetFieldValue(rs, "VarPercent", v.VarPercent);
        values.push_back(std::move(v));
    }
    return values;
}

namespace {

bool ReadRange(CAdoDatabase& db, const std::string& sql, OleDate& first, OleDate& last)
{
    RecordsetPtr rs = db.OpenRecordsetEx(sql);
    if (!rs || rs->IsEOF()) return false;
    OleDate a, b;
    if (!db.GetFieldValue(rs, "MinDate", a) || !db.GetFieldValue(rs, "MaxDate", b)) return false;
    first = a;
    last = b;
    return true;
}

}  // namespace

bool CNavHistory::GetFundValueRange(const std::string& fundId, OleDate& first, OleDate& last)
{
    return ReadRange(m_db,
                     "SELECT MIN(ValueDate) AS MinDate,MAX(ValueDate) AS MaxDate FROM T_Fund_Value WHERE FundID='" +
                         SqlEscape(fundId) + "'",
                     first, last);
}

bool CNavHistory::GetIndexValueRange(const std::string& indexCode, OleDate& first, OleDate& last)
{
    return ReadRange(m_db,
                     "SELECT MIN(ValueDate) AS MinDate,MAX(ValueDate) AS MaxDate FROM T_Index_Value WHERE IndexID='" +
                         SqlEscape(indexCode) + "'",
                     first, last);
}

bool CNavHistory::GetPrevValueDate(const std::string& fundId, const OleDate& date, OleDate& prev)
{
    OleDate d;
    if (!m_db.QueryDate(StrFormat("SELECT TOP 1 ValueDate FROM T_Fund_Value WHERE FundID='%s' AND ValueDate<%s "
                                  "ORDER BY ValueDate DESC",
                                  SqlEscape(fundId).c_str(), DateLiteral(date).c_str()),
                        d))
        return false;
    prev = d;
    return true;
}

namespace {

FieldValueList FundValueFields(const CFundValue& v)
{
    return {{"FundID", v.FundID},         {"ValueDate", v.ValueDate},   {"TodayValue", v.TodayValue},
            {"TotalValue", v.TotalValue}, {"VarPercent", v.VarPercent}, {"VarValue", v.VarValue}};
}

FieldValueList IndexValueFields(const CIndexValue& v)
{
    return {{"IndexID", v.IndexID},   {"ValueDate", v.ValueDate},   {"IndexValue", v.IndexValue},
            {"VarValue", v.VarValue}, {"VarPercent", v.VarPercent}, {"TradeMoney", v.TradeMoney}};
}

}  // namespace

bool CNavHistory::SaveFundValue(const CFundValue& value)
{
    std::string key = StrFormat(" FundID='%s' AND ValueDate=%s", SqlEscape(value.FundID).c_str(),
                                DateLiteral(value.ValueDate).c_str());
    bool exists = m_db.GetRecordCount("SELECT * FROM T_Fund_Value WHERE" + key) > 0;
    bool ok = exists ? m_db.UpdateRecord("T_Fund_Value", FundValueFields(value), " WHERE" + key)
                     : m_db.InsertRecord("T_Fund_Value", FundValueFields(value));
    if (!ok) m_lastError = m_db.GetLastError();
    return ok;
}

bool CNavHistory::SaveIndexValue(const CIndexValue& value)
{
    std::string key = StrFormat(" IndexID='%s' AND ValueDate=%s", SqlEscape(value.IndexID).c_str(),
                                DateLiteral(value.ValueDate).c_str());
    bool exists = m_db.GetRecordCount("SELECT * FROM T_Index_Value WHERE" + key) > 0;
    bool ok = exists ? m_db.UpdateRecord("T_Index_Value", IndexValueFields(value), " WHERE" + key)
                     : m_db.InsertRecord("T_Index_Value", IndexValueFields(value));
    if (!ok) m_lastError = m_db.GetLastError();
    return ok;
}

bool CNavHistory::DeleteFundValues(const std::string& fundId)
{
    m_cache.erase(fundId);
    bool ok = m_db.Execute("DELETE * FROM T_Fund_Value WHERE FundID='" + SqlEscape(fundId) + "'");
    if (!ok) m_lastError = m_db.GetLastError();
    return ok;
}

bool CNavHistory::DeleteIndexValues(const std::string& indexCode)
{
    bool ok = m_db.Execute("DELETE * FROM T_Index_Value WHERE IndexID='" + SqlEscape(indexCode) + "'");
    if (!ok) m_lastError = m_db.GetLastError();
    return ok;
}

void CNavHistory::EnsureCached(const std::string& fundId)
{
    if (m_cache.count(fundId)) return;
    std::vector<CFundValue> all = LoadFundValues(fundId, FirstDownloadDate().AddDays(-36500), OleDate(2958465.0));
    if (!all.empty()) m_cache[fundId] = std::move(all);
}

const std::vector<CFundValue>* CNavHistory::CachedHistory(const std::string& fundId) const
{
    auto it = m_cache.find(fundId);
    return it == m_cache.end() ? nullptr : &it->second;
}

void CNavHistory::UpdateCache(const CFundValue& value)
{
    auto it = m_cache.find(value.FundID);
    if (it != m_cache.end()) MergeByDate(it->second, {value});
}

void CNavHistory::ClearCache() { m_cache.clear(); }

HistoryFetch FetchFundHistory(const HistoryRequest& request)
{
    HistoryFetch out;
    CommandReply reply = SendFundHistory(request.ctx, request.fundId, request.from, request.to, request.flag);
    auto fail = [&out](int code, const std::string& error) {
        out.result = code;
        out.error = error;
        out.records.clear();
        return out;
    };
    if (reply.status == CommandStatus::SendFailed) return fail(kMarketNotSent, reply.error);
    if (reply.status == CommandStatus::Refused) return fail(kMarketRefused, reply.error);
    if (IsEmptyAnswer(reply)) return out;
    if (!reply.ok()) return fail(kMarketBadFormat, reply.error);
    if (!ReadHistoryRecords(reply.fields, request.fundId, out.records))
        return fail(kMarketBadFormat, FormatErrorText("GetFundValueHistory"));
    return out;
}

std::vector<HistoryFetch> FetchFundHistories(const std::vector<HistoryRequest>& requests,
                                             const std::atomic<bool>& cancelled, const ProgressFn& progress)
{
    std::vector<HistoryFetch> out(requests.size());
    for (size_t i = 0; i < requests.size(); ++i) {
        bool goOn = !progress || progress(i, requests.size());
        if (!goOn || cancelled) {
            for (size_t k = i; k < requests.size(); ++k) out[k].result = kMarketCancelled;
            break;
        }
        out[i] = FetchFundHistory(requests[i]);
    }
    if (progress && !cancelled) progress(requests.size(), requests.size());
    return out;
}

int CNavHistory::DownloadFundHistory(const std::string& fundId, const OleDate& from, const OleDate& to, int flag,
                                     CFundValue* newest)
{
    return StoreFundHistory(fundId, FetchFundHistory({fundId, from, to, flag, m_ctx.For("GetFundValueHistory")}),
                            newest);
}

int CNavHistory::StoreFundHistory(const std::string& fundId, const HistoryFetch& fetched, CFundValue* newest)
{
    if (fetched.result != kMarketOk) return Fail(fetched.result, fetched.error);
    const std::vector<CFundValue>& records = fetched.records;
    if (records.empty()) return kMarketOk;

    // Rows already stored are updated in place; the stored dates are read
    // once instead of looking every record up on its own.
    CAdoTransaction trans(m_db);
    std::set<std::string> stored;
    {
        RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT ValueDate FROM T_Fund_Value WHERE FundID='" +
                                               SqlEscape(fundId) + "'");
        for (; rs && !rs->IsEOF(); rs->MoveNext()) {
            OleDate d;
            if (m_db.GetFieldValue(rs, "ValueDate", d)) stored.insert(DateLiteral(d));
        }
    }
    for (const CFundValue& v : records) {
        std::string date = DateLiteral(v.ValueDate);
        bool ok = stored.count(date)
                      ? m_db.UpdateRecord("T_Fund_Value", FundValueFields(v),
                                          " WHERE FundID='" + SqlEscape(fundId) + "' AND ValueDate=" + date)
                      : m_db.InsertRecord("T_Fund_Value", FundValueFields(v));
        if (!ok) return Fail(kMarketStoreFailed, m_db.GetLastError());
        stored.insert(date);
    }
    if (!trans.Commit()) return Fail(kMarketStoreFailed, m_db.GetLastError());

    auto cached = m_cache.find(fundId);
    if (cached != m_cache.end())
        MergeByDate(cached->second, records);
    else
        EnsureCached(fundId);
    if (newest && !records.empty()) *newest = *std::max_element(records.begin(), records.end(), ByDate);
    return kMarketOk;
}

int CNavHistory::GetFundValueHistory(const std::string& fundId, const OleDate& from, const OleDate& to,
                                     bool hasLocal, bool download, std::vector<CFundValue>& values)
{
    values.clear();
    if (!download || m_offline) {
        EnsureCached(fundId);
        bool local = m_cache.count(fundId) > 0;
        if (local || m_offline) download = false;
    }
    if (download) {
        int rc = DownloadFundHistory(fundId, from, to, hasLocal ? 1 : 0, nullptr);
        if (rc != kMarketOk) return rc;
        EnsureCached(fundId);
    }
    auto it = m_cache.find(fundId);
    if (it == m_cache.end()) return Fail(kMarketMissing, std::string());
    for (const CFundValue& v : it->second)
        if (v.ValueDate >= from && v.ValueDate <= to) values.push_back(v);
    return kMarketOk;
}

int CNavHistory::DownloadIndexHistory(int indexNumber, const std::string& indexCode, const OleDate& from,
                                      const OleDate& to)
{
    CommandReply reply = SendIndexHistory(m_ctx.For("GetIndexValueHistory"), from, to, indexNumber, indexCode);
    if (reply.status == CommandStatus::SendFailed) return Fail(kMarketNotSent, reply.error);
    if (reply.status == CommandStatus::Refused) return Fail(kMarketRefused, reply.error);
    if (IsEmptyAnswer(reply)) return kMarketOk;
    if (!reply.ok()) return Fail(kMarketBadFormat, reply.error);

    std::vector<CIndexValue> records;
    if (!ReadIndexRecords(reply.fields, records)) return Fail(kMarketBadFormat, FormatErrorText("GetIndexValueHistory"));
    CAdoTransaction trans(m_db);
    for (const CIndexValue& v : records)
        if (!SaveIndexValue(v)) return kMarketStoreFailed;
    if (!trans.Commit()) return Fail(kMarketStoreFailed, m_db.GetLastError());
    return kMarketOk;
}

int CNavHistory::GetIndexValueHistory(const std::string& indexCode, const OleDate& from, const OleDate& to,
                                      bool hasLocal, bool download, std::vector<CIndexValue>& values)
{
    OleDate first, last;
    bool local = GetIndexValueRange(indexCode, first, last);
    // As with a fund: nothing stored and online, the range is downloaded.
    if ((download || !local) && !m_offline) {
        int number = indexCode == "399001" ? 2 : indexCode == "399300" ? 3 : 1;
        int rc = DownloadIndexHistory(number, indexCode, from, to);
        if (rc != kMarketOk) return rc;
        local = GetIndexValueRange(indexCode, first, last);
    }
    (void)hasLocal;  // the index command carries no such flag
    values = LoadIndexValues(indexCode, from, to);
    return local ? kMarketOk : Fail(kMarketMissing, std::string());
}

bool CNavHistory::IncrementalDownloadFund(const std::string& fundId)
{
    if (m_offline) {
        m_lastError = LoadResString(str::OfflineUnavailable);
        return false;
    }
    return IncrementalDownloadFunds({fundId}, nullptr) == 1;
}

std::vector<HistoryRequest> CNavHistory::PlanIncrementalDownloads(const std::vector<std::string>& fundIds)
{
    std::vector<HistoryRequest> requests;
    if (m_offline) return requests;
    for (const std::string& fundId : fundIds) {
        HistoryRequest r{fundId, FirstDownloadDate(), Clock::Now(), 0, m_ctx.For("GetFundValueHistory")};
        OleDate first, last;
        if (GetFundValueRange(fundId, first, last)) {
            r.from = first;
            r.to = last;
            r.flag = 1;
        }
        requests.push_back(std::move(r));
    }
    return requests;
}

size_t CNavHistory::StoreFundHistories(const std::vector<HistoryRequest>& requests,
                                       const std::vector<HistoryFetch>& fetched)
{
    size_t done = 0;
    std::vector<CFundValue> newest;
    {
        CAdoTransaction trans(m_db);
        for (size_t i = 0; i < requests.size() && i < fetched.size(); ++i) {
            if (fetched[i].result == kMarketCancelled) break;
            CFundValue n;
            if (StoreFundHistory(requests[i].fundId, fetched[i], &n) != kMarketOk) continue;
            ++done;
            if (!n.FundID.empty()) newest.push_back(n);
        }
        if (!trans.Commit()) {
            m_lastError = m_db.GetLastError();
            ClearCache();  // it may hold rows the rollback took back
            return 0;
        }
    }
    if (m_latest)
        for (const CFundValue& n : newest) m_latest->SaveIfNewer(n);
    return done;
}

bool CNavHistory::IncrementalDownloadIndex(int indexNumber)
{
    if (m_offline) {
        m_lastError = LoadResString(str::OfflineUnavailable);
        return false;
    }
    std::string code = GetIndexCode(indexNumber);
    OleDate from = FirstDownloadDate(), to = Clock::Now();
    OleDate first, last;
    // The index command has no flag for local data: the range asked for
    // runs from the last stored day (upserted again) to now, so the history
    // reaches the newest day.
    if (GetIndexValueRange(code, first, last)) from = last;
    return DownloadIndexHistory(indexNumber, code, from, to) == kMarketOk;
}

size_t CNavHistory::IncrementalDownloadFunds(const std::vector<std::string>& fundIds, const ProgressFn& progress)
{
    std::vector<HistoryRequest> requests = PlanIncrementalDownloads(fundIds);
    std::atomic<bool> never{false};
    return StoreFundHistories(requests, FetchFundHistories(requests, never, progress));
}

}  // namespace vextal

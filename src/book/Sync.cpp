// Synchronisation of the user's bookkeeping with the copy kept at the service.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

#include "book/AccountManager.h"
#include "common/Format.h"
#include "db/Schema.h"

namespace vextal {

namespace {

const char* const kVipOnly = "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。";
const char* const kFormatError = "DownloadBookkeeping():数据格式错误";

std::string ColumnList(const std::vector<std::string>& columns)
{
    std::string out;
    for (const std::string& c : columns) out += (out.empty() ? "" : ",") + c;
    return out;
}

// One account of a downloaded text, read whole before anything is written.
struct BookAccount {
    int uploadedId = 0;
    std::string name;
    OleDate created;
    std::vector<FundTradeInfo> holdings;
    std::vector<TradeInfo> trades;
    std::vector<std::string> remarks;  // per trade, "|" having become ";"
};

bool ToInt(const std::string& s, int& out)
{
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end || errno || v < -2147483647L || v > 2147483647L) return false;
    out = static_cast<int>(v);
    return true;
}

bool ToNumber(const std::string& s, double& out)
{
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return !*end && std::isfinite(out);
}

// An empty field is NULL: the value stays as it was (0 or an invalid date).
bool ToNumberOrNull(const std::string& s, double& out) { return s.empty() || ToNumber(s, out); }
bool ToDateOrNull(const std::string& s, OleDate& out, bool& present)
{
    present = !s.empty();
    return s.empty() || OleDate::Parse(s, out);
}

// The text between the next pair of `marker`s from `pos` on. An account name
// or a note may itself hold the marker: the closing one is the first that
// leaves whole rows (`perRow` fields each, exactly one row when `oneRow`) and
// is followed by `follower`, or for an empty follower by the end of the text
// or the next account ("|_A_").
bool Section(const std::string& text, size_t& pos, const std::string& m, size_t perRow, bool oneRow,
             const std::string& follower, std::vector<std::string>& fields)
{
    if (text.compare(pos, m.size(), m) != 0) return false;
    const size_t begin = pos + m.size();
    size_t bars = 0, counted = begin;
    for (size_t end = text.find(m, begin); end != std::string::npos; end = text.find(m, end + 1)) {
        bars += static_cast<size_t>(std::count(text.begin() + counted, text.begin() + end, '|'));
        counted = end;
        const size_t n = end == begin ? 0 : bars + 1;
        const size_t after = end + m.size();
        const bool followed = follower.empty()
                                  ? after == text.size() || text.compare(after, 4, "|_A_") == 0
                                  : text.compare(after, follower.size(), follower) == 0;
        if (!followed || (oneRow ? n != perRow : n % perRow != 0)) continue;
        const std::string body = text.substr(begin, end - begin);
        fields = body.empty() ? std::vector<std::string>() : SplitText(body, '|');
        pos = after;
        return true;
    }
    return false;
}

struct DatedFlags {
    bool lastBonus = false, lastTrade = false, dealTime = false;
};

bool ParseAccount(const std::string& text, size_t& pos, BookAccount& a, std::vector<DatedFlags>& hFlags,
                  std::vector<DatedFlags>& tFlags)
{
    std::vector<std::string> af, ff, tf;
    const size_t nA = AccountInfoColumns().size(), nF = FundTradeColumns().size(), nT = TradeInfoColumns().size();
    if (!Section(text, pos, "_A_", nA, true, "_F_", af) || !Section(text, pos, "_F_", nF, false, "_T_", ff) ||
        !Section(text, pos, "_T_", nT, false, "", tf))
        return false;
    // One account row per section: the export never writes more.
    if (af.size() != nA || ff.size() % nF || tf.size() % nT) return false;
    if (!ToInt(af[0], a.uploadedId) || af[2].empty() || !OleDate::Parse(af[7], a.created)) return false;
    a.name = af[2];
    for (size_t i = 0; i < ff.size(); i += nF) {
        FundTradeInfo h;
        DatedFlags fl;
        int account = 0;
        if (!ToInt(ff[i], account) || account != a.uploadedId || ff[i + 1].empty() || !ToInt(ff[i + 2], h.BuyType) ||
            !ToNumber(ff[i + 3], h.TotalCount) || !ToNumber(ff[i + 4], h.FreeCount) ||
            !ToNumber(ff[i + 5], h.TradeValue) || !ToInt(ff[i + 6], h.BonusType) || !ToNumber(ff[i + 7], h.CashBonus) ||
            !ToNumber(ff[i + 8], h.TotalBonus) || !ToDateOrNull(ff[i + 9], h.LastBonus, fl.lastBonus) ||
            !ToDateOrNull(ff[i + 10], h.LastTrade, fl.lastTrade) || !ToNumberOrNull(ff[i + 11], h.SaleFee) ||
            !ToNumberOrNull(ff[i + 12], h.CashBonusNew) || !ToNumberOrNull(ff[i + 13], h.SaleFeeMoney))
            return false;
        h.FundID = ff[i + 1];
        a.holdings.push_back(std::move(h));
        hFlags.push_back(fl);
    }
    for (size_t i = 0; i < tf.size(); i += nT) {
        TradeInfo t;
        DatedFlags fl;
        int id = 0;
        if (!ToInt(tf[i], id) || !ToInt(tf[i + 1], t.AccountID) || t.AccountID != a.uploadedId || tf[i + 2].empty() ||
            !ToNumber(tf[i + 3], t.TradeMoney) || !ToNumber(tf[i + 4], t.TradeCount) ||
            !ToNumber(tf[i + 5], t.TradeFee) || !ToInt(tf[i + 6], t.TradeType) || !OleDate::Parse(tf[i + 7], t.TradeTime) ||
            !ToDateOrNull(tf[i + 8], t.DealTime, fl.dealTime) || !ToInt(tf[i + 9], t.TradeState) ||
            !ToInt(tf[i + 10], t.BuyType) || !ToNumber(tf[i + 11], t.TradeValue) ||
            !ToNumberOrNull(tf[i + 14], t.CostValue))
            return false;
        t.FundID = tf[i + 2];
        t.MarkInfo = tf[i + 13];
        // The booking options: a subscription's "rate|inner" arrives as "rate;inner".
        const std::string& remark = tf[i + 12];
        if (!remark.empty()) {
            if (t.TradeType == kTradeSubscribe) {
                const size_t sep = remark.find_first_of(";|");
                t.SecondRate = std::atof(remark.c_str());
                if (sep != std::string::npos) t.InnerDeduction = std::atoi(remark.c_str() + sep + 1);
            } else {
                t.InnerDeduction = std::atoi(remark.c_str());
            }
        }
        a.trades.push_back(std::move(t));
        tFlags.push_back(fl);
    }
    return true;
}

}  // namespace

std::string CAccountManager::ExportBookkeeping()
{
    const std::string aCols = ColumnList(AccountInfoColumns()), fCols = ColumnList(FundTradeColumns()),
                      tCols = ColumnList(TradeInfoColumns());
    std::vector<int> ids;
    RecordsetPtr rs = m_db.OpenRecordsetEx(
        StrFormat("SELECT AccountID FROM T_Account_Info WHERE UserID=%d ORDER BY AccountName", m_userId));
    if (!rs) return FailDb(), std::string();
    for (; !rs->IsEOF(); rs->MoveNext()) {
        int id = 0;
        m_db.GetFieldValue(rs, "AccountID", id);
        ids.push_back(id);
    }
    rs->Close();
    std::string text;
    bool ok = true;
    auto rows = [&](const std::string& sql) {
        RecordsetPtr r = m_db.OpenRecordsetEx(sql);
        if (!r) ok = FailDb();
        return r ? m_db.RecordsetToText(true, r) : std::string();
    };
    for (int id : ids) {
        if (!text.empty()) text += "|";
        const std::string where = StrFormat(" WHERE AccountID=%d", id);
        text += "_A_" + rows("SELECT " + aCols + " FROM T_Account_Info" + where) + "_A_";
        text += "_F_" + rows("SELECT " + fCols + " FROM T_Fund_Trade" + where) + "_F_";
        // In booking order: the average costs are rebuilt in TradeID order.
        text += "_T_" + rows("SELECT " + tCols + " FROM T_Trade_Info" + where + " ORDER BY TradeID") + "_T_";
    }
    if (!ok) return std::string();
    return text;
}

bool CAccountManager::SendBookkeeping(const std::string& text, bool createNew, std::string& error) const
{
    if (m_offline) return error = "此功能在脱机模式下不可用", false;
    if (!m_services) return error = "发送请求错误，请检查网络是否可用", false;
    return m_services->UploadBookkeeping(text, createNew, error);
}

bool CAccountManager::FetchBookkeeping(std::string& text, std::string& error) const
{
    if (!m_vip) return error = kVipOnly, false;
    if (m_offline) return error = "此功能在脱机模式下不可用", false;
    if (!m_services) return error = "发送请求错误，请检查网络是否可用", false;
    return m_services->DownloadBookkeeping(m_userId, text, error);
}

bool CAccountManager::UploadBookkeeping(bool createNew)
{
    m_lastError.clear();
    const std::string text = ExportBookkeeping();
    if (!m_lastError.empty()) return false;
    std::string error;
    return SendBookkeeping(text, createNew, error) || Fail(error);
}

bool CAccountManager::DownloadBookkeeping(bool createNew)
{
    std::string text, error;
    if (!FetchBookkeeping(text, error)) return Fail(error);
    return MergeBookkeeping(text, createNew);
}

bool CAccountManager::MergeBookkeeping(const std::string& text, bool createNew)
{
    std::vector<BookAccount> accounts;
    std::vector<std::vector<DatedFlags>> hFlags, tFlags;
    for (size_t pos = 0; pos < text.size();) {
        if (!accounts.empty() && text[pos++] != '|') return Fail(kFormatError);
        BookAccount a;
        std::vector<DatedFlags> hf, tf;
        if (!ParseAccount(text, pos, a, hf, tf)) return Fail(kFormatError);
        accounts.push_back(std::move(a));
        hFlags.push_back(std::move(hf));
        tFlags.push_back(std::move(tf));
    }

    // Names as the accounts in memory have them, kept in step with each merge.
    std::map<std::string, int> names;
    for (const auto& [id, a] : m_accounts) names[a->AccountName] = id;
    bool ok = true;
    for (size_t k = 0; k < accounts.size() && ok; ++k) {
        const BookAccount& a = accounts[k];
        CAdoTransaction trans(m_db);
        if (!trans.IsActive()) return FailDb();
        int localId = 0;
        std::string name = a.name;
        auto same = names.find(name);
        if (!createNew && same != names.end()) {
            localId = same->second;
            m_db.Execute(StrFormat("DELETE FROM T_User_Bonus WHERE AccountID=%d", localId));
            ok = Exec(StrFormat("DELETE FROM T_Trade_Info WHERE AccountID=%d", localId)) &&
                 Exec(StrFormat("DELETE FROM T_Fund_Trade WHERE AccountID=%d", localId));
        } else {
            for (int n = 1; names.count(name); ++n) name = StrFormat("%s%d", a.name.c_str(), n);
            ok = m_db.GetNextID("AccountID", "T_Account_Info", localId) &&
                 m_db.InsertRecord("T_Account_Info", {{"UserID", m_userId},
                                                      {"AccountID", localId},
                                                      {"AccountType", 0},
                                                      {"TotalMoney", 0.0},
                                                      {"FreeMoney", 0.0},
                                                      {"FundCount", 0},
                                                      {"CreateDate", a.created},
                                                      {"AccountName", name}});
            if (!ok) FailDb();
        }
        for (size_t i = 0; ok && i < a.holdings.size(); ++i) {
            const FundTradeInfo& h = a.holdings[i];
            const HoldingKey key{localId, h.FundID, h.BuyType};
            int exists = 0;
            ok = m_db.QueryInt("SELECT COUNT(*) FROM T_Fund_Trade WHERE" + key.Where(), exists) || FailDb();
            if (!ok || exists) continue;
            FieldValueList row = {{"AccountID", localId},          {"FundID", h.FundID},
                                  {"BuyType", h.BuyType},          {"TotalCount", h.TotalCount},
                                  {"FreeCount", h.FreeCount},      {"TradeValue", h.TradeValue},
                                  {"BonusType", h.BonusType},      {"CashBonus", h.CashBonus},
                                  {"TotalBonus", h.TotalBonus},    {"SaleFee", h.SaleFee},
                                  {"CashBonusNew", h.CashBonusNew}, {"SaleFeeMoney", h.SaleFeeMoney}};
            if (hFlags[k][i].lastBonus) row.emplace_back("LastBonus", h.LastBonus);
            if (hFlags[k][i].lastTrade) row.emplace_back("LastTrade", h.LastTrade);
            ok = m_db.InsertRecord("T_Fund_Trade", row) || FailDb();
        }
        for (size_t i = 0; ok && i < a.trades.size(); ++i) {
            TradeInfo t = a.trades[i];
            t.AccountID = localId;
            ok = m_db.GetNextID("TradeID", "T_Trade_Info", t.TradeID) || FailDb();
            if (!ok) break;
            FieldValueList row = {{"TradeID", t.TradeID},       {"AccountID", t.AccountID},
                                  {"FundID", t.FundID},         {"TradeMoney", t.TradeMoney},
                                  {"TradeCount", t.TradeCount}, {"TradeFee", t.TradeFee},
                                  {"TradeType", t.TradeType},   {"TradeTime", t.TradeTime},
                                  {"TradeState", t.TradeState}, {"BuyType", t.BuyType},
                                  {"TradeValue", t.TradeValue}, {"MarkInfo", t.MarkInfo},
                                  {"CostValue", t.CostValue}};
            if (tFlags[k][i].dealTime) row.emplace_back("DealTime", t.DealTime);
            ok = (m_db.InsertRecord("T_Trade_Info", row) || FailDb()) && WriteRemark(t);
        }
        // The average costs of what came in, in the same transaction: the
        // text carries them to six places, and an account committed without
        // its cost pass would keep those if the program stopped here.
        if (ok) {
            std::unique_ptr<AccountInfo>& held = m_accounts[localId];
            if (!held) {
                held = std::make_unique<AccountInfo>();
                held->AccountID = localId;
                held->AccountName = name;
                held->CreateDate = a.created;
            }
            ok = RefreshAccountSums(*held) && RecomputeCostValues(localId);
        }
        Pause("merged");
        if (ok && !trans.Commit()) ok = FailDb();
        if (ok) names[name] = localId;
        Pause("committed");
    }
    // The tree and the totals as they are now, whether or not every account
    // came in; from the database alone (no dividends, no service questions).
    const std::string error = m_lastError;
    const int applied = m_fundBonusApplied;
    m_fundBonusApplied = 1;
    LoadAccounts(m_userId);
    m_fundBonusApplied = applied;
    ReadHoldings(0);
    m_lastError = error;
    return ok;
}

}  // namespace vextal

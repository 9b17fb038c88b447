// Synchronisation of the user's bookkeeping with the copy kept at the service.
#include "book/AccountManager.h"
#include "common/Format.h"
#include "db/Schema.h"
#include "wire/BookText.h"

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
    std::string name;
    OleDate created;
    std::vector<FundTradeInfo> holdings;
    std::vector<TradeInfo> trades;
};

struct DatedFlags {
    bool lastBonus = false, lastTrade = false, dealTime = false;
};

int Int(const std::string& s) { return static_cast<int>(IntegerOr(s, 0)); }
double Number(const std::string& s) { return NumberOr(s, 0); }
// An empty field is NULL: the value stays as it was (0 or an invalid date).
bool Date(const std::string& s, OleDate& out)
{
    return !s.empty() && OleDate::Parse(s, out);
}

// The fields of an account the codec has checked, as records.
BookAccount ToAccount(const BookTextAccount& text, std::vector<DatedFlags>& hFlags, std::vector<DatedFlags>& tFlags)
{
    BookAccount a;
    a.name = text.account[kBookAccountName];
    Date(text.account[kBookAccountCreated], a.created);
    for (const std::vector<std::string>& f : text.holdings) {
        FundTradeInfo h;
        DatedFlags fl;
        h.FundID = f[1];
        h.BuyType = Int(f[2]);
        h.TotalCount = Number(f[3]);
        h.FreeCount = Number(f[4]);
        h.TradeValue = Number(f[5]);
        h.BonusType = Int(f[6]);
        h.CashBonus = Number(f[7]);
        h.TotalBonus = Number(f[8]);
        fl.lastBonus = Date(f[9], h.LastBonus);
        fl.lastTrade = Date(f[10], h.LastTrade);
        h.SaleFee = Number(f[11]);
        h.CashBonusNew = Number(f[12]);
        h.SaleFeeMoney = Number(f[13]);
        a.holdings.push_back(std::move(h));
        hFlags.push_back(fl);
    }
    for (const std::vector<std::string>& f : text.trades) {
        TradeInfo t;
        DatedFlags fl;
        t.FundID = f[2];
        t.TradeMoney = Number(f[3]);
        t.TradeCount = Number(f[4]);
        t.TradeFee = Number(f[5]);
        t.TradeType = Int(f[6]);
        Date(f[7], t.TradeTime);
        fl.dealTime = Date(f[8], t.DealTime);
        t.TradeState = Int(f[9]);
        t.BuyType = Int(f[10]);
        t.TradeValue = Number(f[11]);
        ReadTradeRemark(f[kBookTradeRemark], t.TradeType, t.SecondRate, t.InnerDeduction);
        t.MarkInfo = f[13];
        t.CostValue = Number(f[14]);
        a.trades.push_back(std::move(t));
        tFlags.push_back(fl);
    }
    return a;
}

}  // namespace

bool CAccountManager::ExportBookkeeping(std::string& text)
{
    text.clear();
    const std::string aCols = ColumnList(AccountInfoColumns()), fCols = ColumnList(FundTradeColumns()),
                      tCols = ColumnList(TradeInfoColumns());
    std::vector<int> ids;
    RecordsetPtr rs = m_db.OpenRecordsetEx(
        StrFormat("SELECT AccountID FROM T_Account_Info WHERE UserID=%d ORDER BY AccountName", m_userId));
    if (!rs) return FailDb();
    for (; !rs->IsEOF(); rs->MoveNext()) {
        int id = 0;
        m_db.GetFieldValue(rs, "AccountID", id);
        ids.push_back(id);
    }
    rs->Close();
    bool ok = true;
    auto rows = [&](const std::string& sql) {
        RecordsetPtr r = m_db.OpenRecordsetEx(sql);
        if (!r) ok = FailDb();
        return r ? m_db.RecordsetToFields(true, r) : std::vector<std::vector<std::string>>();
    };
    std::vector<BookTextAccount> accounts;
    for (int id : ids) {
        const std::string where = StrFormat(" WHERE AccountID=%d", id);
        BookTextAccount& a = accounts.emplace_back();
        auto head = rows("SELECT " + aCols + " FROM T_Account_Info" + where);
        if (head.size() == 1) a.account = std::move(head.front());
        a.holdings = rows("SELECT " + fCols + " FROM T_Fund_Trade" + where);
        // In booking order: the average costs are rebuilt in TradeID order.
        a.trades = rows("SELECT " + tCols + " FROM T_Trade_Info" + where + " ORDER BY TradeID");
    }
    if (!ok) return false;
    std::string error;
    return WriteBookText(accounts, text, error) || Fail(error);
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
    std::string text;
    if (!ExportBookkeeping(text)) return false;
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
    ChangeScope scope(*this);
    std::vector<BookTextAccount> read;
    std::string formatError;
    if (!ReadBookText(text, read, formatError)) return Fail(kFormatError);
    std::vector<BookAccount> accounts;
    std::vector<std::vector<DatedFlags>> hFlags(read.size()), tFlags(read.size());
    for (size_t k = 0; k < read.size(); ++k) accounts.push_back(ToAccount(read[k], hFlags[k], tFlags[k]));

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
            ok = RefreshAccountSums(localId) && RecomputeCostValues(localId);
        }
        Pause("merged");
        if (ok && !Commit(trans, localId)) ok = FailDb();
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

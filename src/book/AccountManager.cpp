#include "book/AccountManager.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "book/BookSql.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/NumberInput.h"

namespace vextal {

using namespace booksql;

CAccountManager::CAccountManager()
{
    // The plans are processed once per run, after the first load's dividends.
    m_afterDividendsAll = [this](int) {
        if (!m_offline && m_services && LoadPlans()) ProcessPlans();
    };
}

CAccountManager::~CAccountManager() = default;

void CAccountManager::Init(const CAdoDatabase& db, int userId, bool offline, IBookServices* services,
                           IFundDirectory* funds)
{
    m_db = db;
    m_userId = userId;
    m_offline = offline;
    m_services = services;
    m_funds = funds;
}

const std::string& CAccountManager::GetLastErrorText() const
{
    static const std::string unknown = "未知错误";
    return m_lastError.empty() ? unknown : m_lastError;
}

bool CAccountManager::Fail(const std::string& text)
{
    m_lastError = text;
    return false;
}

bool CAccountManager::FailDb(const std::string& prefix)
{
    m_lastError = prefix + m_db.GetLastError();
    return false;
}

void CAccountManager::Changed(int accountId)
{
    if (m_db.TransDepth() == 0) m_changed.insert(accountId);
}

bool CAccountManager::Commit(CAdoTransaction& trans, int accountId)
{
    if (!trans.Commit()) return false;
    Changed(accountId);
    return true;
}

void CAccountManager::Announce()
{
    if (m_changed.empty()) return;
    const std::vector<int> ids(m_changed.begin(), m_changed.end());
    m_changed.clear();
    if (m_changeListener) m_changeListener(ids);
}

bool CAccountManager::TakeCommittedRows(int accountId)
{
    ChangeScope scope(*this);
    const bool ok = ReadHoldings(accountId) && RefreshAccount(accountId);
    Changed(accountId);
    return ok;
}

void CAccountManager::Pause(const char* label)
{
    if (m_pausePoint) m_pausePoint(label);
}

bool CAccountManager::IsMoneyMarket(const std::string& fundId) const
{
    return !m_funds || m_funds->IsMoneyMarketFund(fundId);
}

bool CAccountManager::Exec(const std::string& sql)
{
    if (m_db.Execute(sql)) return true;
    return FailDb();
}

bool CAccountManager::ExecBound(const std::string& sql, const FieldValueList& values)
{
    if (m_db.ExecuteBound(sql, values)) return true;
    return FailDb();
}

bool CAccountManager::ExecOnHolding(const std::string& head, FieldValueList values, const HoldingKey& key)
{
    for (FieldValue& k : key.Bound()) values.push_back(std::move(k));
    return ExecBound(head + " WHERE" + HoldingKey::kWhereBound, values);
}

void CAccountManager::Warn(const std::string& step)
{
    if (!m_lastWarning.empty()) m_lastWarning += "\n";
    m_lastWarning += step + GetLastErrorText();
}

AccountInfo* CAccountManager::FindAccount(int accountId)
{
    auto it = m_accounts.find(accountId);
    return it == m_accounts.end() ? nullptr : it->second.get();
}

FundTradeInfo* CAccountManager::FindHolding(const HoldingKey& key)
{
    AccountInfo* a = FindAccount(key.AccountID);
    if (!a) return nullptr;
    for (FundTradeInfo& h : a->holdings)
        if (h.FundID == key.FundID && h.BuyType == key.BuyType) return &h;
    return nullptr;
}

// ---- accounts ---------------------------------------------------------------

bool CAccountManager::LoadAccounts(int userId)
{
    ChangeScope scope(*this);
    m_accounts.clear();
    m_userId = userId;
    RecordsetPtr rs = m_db.OpenRecordsetEx(StrFormat("SELECT * FROM T_Account_Info WHERE UserID=%d ORDER BY AccountName", userId));
    if (!rs) return Fail("查询帐户信息列表错误:" + m_db.GetLastError());
    for (; !rs->IsEOF(); rs->MoveNext()) {
        auto a = std::make_unique<AccountInfo>();
        a->CreateDate = Clock::Now();
        m_db.GetFieldValue(rs, "AccountID", a->AccountID);
        m_db.GetFieldValue(rs, "AccountName", a->AccountName);
        m_db.GetFieldValue(rs, "FundCount", a->FundCount);
        m_db.GetFieldValue(rs, "CreateDate", a->CreateDate);
        m_accounts[a->AccountID] = std::move(a);
    }
    RefreshAccountSums(0);
    if (!m_fundBonusApplied) {
        ApplyDividendsAll(userId);
        m_fundBonusApplied = 1;
    }
    return true;
}

bool CAccountManager::CreateAccount(AccountInfo& account)
{
    ChangeScope scope(*this);
    for (const auto& [id, a] : m_accounts)
        if (a->AccountName == account.AccountName) return Fail("已经存在相同名称的帐户");
    int newId = 0;
    if (!m_db.GetNextID("AccountID", "T_Account_Info", newId)) return FailDb();
    if (!m_db.InsertRecord("T_Account_Info", {{"UserID", m_userId},
                                              {"AccountID", newId},
                                              {"AccountType", 0},
                                              {"TotalMoney", 0.0},
                                              {"FreeMoney", 0.0},
                                              {"FundCount", 0},
                                              {"CreateDate", account.CreateDate},
                                              {"AccountName", account.AccountName}}))
        return FailDb();
    account.AccountID = newId;
    auto copy = std::make_unique<AccountInfo>();
    copy->AccountID = newId;
    copy->AccountName = account.AccountName;
    copy->CreateDate = account.CreateDate;
    m_accounts[newId] = std::move(copy);
    Changed(newId);
    return true;
}

bool CAccountManager::RenameAccount(const AccountInfo& account)
{
    ChangeScope scope(*this);
    for (const auto& [id, a] : m_accounts)
        if (id != account.AccountID && a->AccountName == account.AccountName)
            return Fail("已经存在相同名称的帐户");
    if (!Exec(StrFormat("UPDATE T_Account_Info SET AccountName='%s' WHERE AccountID=%d",
                        SqlEscape(account.AccountName).c_str(), account.AccountID)))
        return false;
    if (AccountInfo* a = FindAccount(account.AccountID)) a->AccountName = account.AccountName;
    Changed(account.AccountID);
    return true;
}

bool CAccountManager::DeleteAccount(const AccountInfo& account)
{
    ChangeScope scope(*this);
    const int id = account.AccountID;
    CAdoTransaction trans(m_db);
    m_db.Execute(StrFormat("DELETE FROM T_User_Bonus WHERE AccountID=%d", id));
    if (!Exec(StrFormat("DELETE FROM T_Trade_Info WHERE AccountID=%d", id))) return false;
    if (!Exec(StrFormat("DELETE FROM T_Fund_Trade WHERE AccountID=%d", id))) return false;
    if (!Exec(StrFormat("DELETE FROM T_Account_Info WHERE AccountID=%d", id))) return false;
    if (!Commit(trans, id)) return FailDb();
    m_accounts.erase(id);
    return true;
}

bool CAccountManager::RefreshAccount(int accountId)
{
    if (!FindAccount(accountId)) return Fail("非法的基金帐户");
    return RefreshAccountSums(accountId);
}

bool CAccountManager::RefreshAccountSums(int accountId)
{
    // The trades of every account refreshed in one read (unsorted: the map
    // orders them by TradeID, cheaper than the engine's sort of whole rows);
    // the redemptions not excluded (a written one counts too) kept aside
    // for the account's redeemed money.
    struct Redemption {
        std::string fundId;
        int buyType;
        double money;
    };
    std::map<int, std::vector<Redemption>> redemptions;
    for (auto& [id, a] : m_accounts)
        if (accountId == 0 || id == accountId) {
            a->trades.clear();
            redemptions[id];
        }
    // Row by row: a large book is never held twice, as rows and as trades.
    const bool read = m_db.ForEachRow(
        StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID%s AND TradeState<>2",
                  accountId != 0 ? StrFormat("=%d", accountId).c_str()
                                 : StrFormat(" IN(SELECT AccountID FROM T_Account_Info WHERE UserID=%d)", m_userId)
                                       .c_str()),
        [&](const RecordsetPtr& rs) {
            TradeInfo t;
            ReadTrade(rs, t);
            auto r = redemptions.find(t.AccountID);
            if (r == redemptions.end()) return true;
            if (t.TradeType == kTradeRedeem && t.TradeCount >= 0)
                r->second.push_back({t.FundID, t.BuyType, t.TradeMoney});
            if (t.TradeState == kStateConfirmed) {
                auto& trades = m_accounts[t.AccountID]->trades;
                trades.emplace(t.TradeID, std::move(t));
            }
            return true;
        });
    if (!read) return FailDb();

    // The holdings as stored now: the income figures at the end are theirs,
    // whatever the in-memory list held before (a booking changes counts).
    if (!ReadHoldingRows(accountId)) return false;

    for (auto& [id, list] : redemptions) {
        AccountInfo& a = *m_accounts[id];
        // Hiding emptied holdings hides their redemptions and bonuses too.
        std::map<std::pair<std::string, int>, double> held;
        a.TotalBonus = a.CashBonus = a.CashBonusNew = 0;
        for (const FundTradeInfo& h : a.holdings) {
            held[{h.FundID, h.BuyType}] = h.TotalCount;
            if (m_fundZeroHide && h.TotalCount == 0) continue;
            a.TotalBonus += h.TotalBonus;
            a.CashBonus += h.CashBonus;
            a.CashBonusNew += h.CashBonusNew;
        }
        a.RedeemMoney = 0;
        for (const Redemption& r : list) {
            if (m_fundZeroHide) {
                auto h = held.find({r.fundId, r.buyType});
                if (h == held.end() || !(h->second > 0)) continue;
            }
            a.RedeemMoney += r.money;
        }
        const int count = static_cast<int>(a.holdings.size());
        a.FundCount = count;
        if (!Exec(StrFormat("UPDATE T_Account_Info SET FundCount=%d WHERE AccountID=%d AND FundCount<>%d", count, id,
                            count)))
            return false;
        ComputeIncome(a);
    }
    return true;
}

// ---- holdings ---------------------------------------------------------------

int CAccountManager::EnsureHolding(const TradeInfo& trade)
{
    const HoldingKey key = HoldingKey::Of(trade);
    RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT FundID FROM T_Fund_Trade WHERE" + key.Where());
    if (!rs) return FailDb(), -1;
    if (!rs->IsEOF()) return 1;

    double cashBonus = 0;
    OleDate lastBonus = trade.TradeTime;
    if (IsMoneyMarket(trade.FundID) && m_services && !m_offline) {
        double amount = 0;
        OleDate date;
        std::string error;
        if (m_services->QueryMoneyIncome(trade.FundID, trade.TradeTime, Clock::Now(), trade.TradeCount, amount, date,
                                         error) == kDividendOk) {
            cashBonus = amount;
            lastBonus = date;
        }
    }
    if (!m_db.InsertRecord("T_Fund_Trade", {{"AccountID", trade.AccountID},
                                            {"FundID", trade.FundID},
                                            {"BuyType", trade.BuyType},
                                            {"TotalCount", 0.0},
                                            {"FreeCount", 0.0},
                                            {"TradeValue", 0.0},
                                            {"BonusType", trade.BonusType},
                                            {"CashBonus", cashBonus},
                                            {"TotalBonus", 0.0},
                                            {"LastBonus", lastBonus},
                                            {"LastTrade", trade.TradeTime},
                                            {"SaleFee", 0.0},
                                            {"SaleFeeMoney", 0.0},
                                            {"CashBonusNew", 0.0}}))
        return FailDb(), -1;
    return 0;
}

// Share counts move by bound values only, and never by a negative count:
// a redemption that adds shares is no redemption.
bool CAccountManager::AddShares(const TradeInfo& trade)
{
    if (!(trade.TradeCount >= 0)) return Fail("非法的交易份数");
    const double n = Round2(trade.TradeCount);
    return ExecOnHolding("UPDATE T_Fund_Trade SET TotalCount=TotalCount+?, FreeCount=FreeCount+?, LastTrade=?",
                         {{"TotalCount", n}, {"FreeCount", n}, {"LastTrade", trade.TradeTime}}, HoldingKey::Of(trade));
}

bool CAccountManager::RemoveShares(const TradeInfo& trade, bool all)
{
    if (all)
        return ExecOnHolding("UPDATE T_Fund_Trade SET TotalCount=0, FreeCount=0, LastTrade=?",
                             {{"LastTrade", trade.TradeTime}}, HoldingKey::Of(trade));
    if (!(trade.TradeCount > 0)) return Fail("非法的交易份数");
    const double n = Round2(trade.TradeCount);
    return ExecOnHolding("UPDATE T_Fund_Trade SET TotalCount=TotalCount-?, FreeCount=FreeCount-?, LastTrade=?",
                         {{"TotalCount", n}, {"FreeCount", n}, {"LastTrade", trade.TradeTime}}, HoldingKey::Of(trade));
}

bool CAccountManager::SetShares(const TradeInfo& trade)
{
    if (!(trade.TradeCount > 0)) return Fail("基金拆分后份额不能小于0");
    const double n = Round2(trade.TradeCount);
    return ExecOnHolding("UPDATE T_Fund_Trade SET TotalCount=?, FreeCount=?, LastTrade=?",
                         {{"TotalCount", n}, {"FreeCount", n}, {"LastTrade", trade.TradeTime}}, HoldingKey::Of(trade));
}

bool CAccountManager::ReplayHolding(const HoldingKey& key, double& count)
{
    // In the order the trades happened: a split replaces the shares held at
    // its day, which the redemptions before it have already reduced; those
    // after it reduce the new count.
    RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT TradeType,TradeCount FROM T_Trade_Info WHERE" + key.Where() +
                                           "AND TradeState=1 ORDER BY TradeTime,TradeID");
    if (!rs) return FailDb();
    count = 0;
    for (; !rs->IsEOF(); rs->MoveNext()) {
        int type = 0;
        double n = 0;
        m_db.GetFieldValue(rs, "TradeType", type);
        m_db.GetFieldValue(rs, "TradeCount", n);
        switch (type) {
        case kTradeBuy:
        case kTradeConvertIn:
        case kTradeBonusReinvest:
        case kTradePlanBuy:
        case kTradeSubscribe:
        case kTradeQuick: count += n; break;
        case kTradeSplit: count = n; break;
        case kTradeRedeem:
        case kTradeConvertOut: count -= n; break;
        default: break;
        }
    }
    count = Round2(count);
    if (count == 0) count = 0;
    return true;
}

bool CAccountManager::RecomputeHolding(const TradeInfo& trade, bool cancelling)
{
    const std::string key = HoldingKey::Of(trade).Where();
    RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT * FROM T_Fund_Trade WHERE" + key);
    if (!rs) return FailDb();
    if (rs->IsEOF()) return Fail("非法的基金帐户");

    double cash = 0, total = 0, count = 0;
    m_db.QueryDouble("SELECT SUM(TradeMoney) FROM T_Trade_Info WHERE" + key + "AND TradeState=1 AND TradeType=7", cash);
    m_db.QueryDouble("SELECT SUM(TradeMoney) FROM T_Trade_Info WHERE" + key +
                        "AND TradeState=1 AND (TradeType=6 OR TradeType=7)",
                    total);
    if (!ReplayHolding(HoldingKey::Of(trade), count)) return false;
    FieldValueList v = {{"TotalCount", count}, {"FreeCount", count}, {"TotalBonus", Round2(total)}, {"CashBonus", Round2(cash)}};
    std::string sql = "UPDATE T_Fund_Trade SET TotalCount=?,FreeCount=?,TotalBonus=?,CashBonus=?";
    if (cancelling && trade.TradeType == kTradeCashBonus) {
        // The sum since the holding was last emptied may no longer hold it.
        sql += ",CashBonusNew=MAX(0,CashBonusNew-?)";
        v.emplace_back("CashBonusNew", Round2(trade.TradeMoney));
    }
    m_db.CloseRecordset();
    return ExecOnHolding(sql, v, HoldingKey::Of(trade));
}

// One pass from any stored state: a redemption or conversion out takes its
// shares at the running average (C = C - n x A), never at its own stored
// CostValue, which may be stale. Only values that change are written, so a
// refresh over settled figures writes nothing.
bool CAccountManager::RecomputeCostValues(int onlyAccount)
{
    CAdoTransaction trans(m_db);
    for (auto& [accountId, account] : m_accounts) {
        if (onlyAccount != 0 && accountId != onlyAccount) continue;
        // The account's trades grouped by holding once, in TradeID order.
        std::map<std::pair<std::string, int>, std::vector<TradeInfo*>> byHolding;
        std::vector<TradeInfo*>* last = nullptr;  // the last trade's group, tried first
        for (auto& [id, t] : account->trades) {
            if (!last || last->back()->BuyType != t.BuyType || last->back()->FundID != t.FundID)
                last = &byHolding[{t.FundID, t.BuyType}];
            last->push_back(&t);
        }
        for (FundTradeInfo& h : account->holdings) {
            const HoldingKey key = HoldingKey::Of(h);
            if (h.TotalCount == 0 && h.CashBonusNew != 0) {
                if (!ExecOnHolding("UPDATE T_Fund_Trade SET CashBonusNew=0", {}, key)) return false;
                h.CashBonusNew = 0;
            }
            double cost = 0, count = 0, avg = 0;
            auto group = byHolding.find({h.FundID, h.BuyType});
            if (group != byHolding.end()) {
                for (TradeInfo* t : group->second) {
                    bool takesAverage = false;  // receives the average before or after the trade
                    switch (t->TradeType) {
                    case kTradeBuy:
                    case kTradeConvertIn:
                    case kTradePlanBuy:
                    case kTradeSubscribe:
                    case kTradeQuick:
                        cost += t->TradeMoney;
                        count += t->TradeCount;
                        break;
                    case kTradeBonusReinvest: count += t->TradeCount; break;
                    case kTradeSplit: count = t->TradeCount; break;
                    case kTradeRedeem:
                    case kTradeConvertOut:
                        // In booking order a redemption may take more than the
                        // purchases booked before it hold (a purchase dated
                        // earlier was booked later, or deleted): it takes what
                        // there is, and the cost never turns negative.
                        cost = t->TradeCount < count ? cost - t->TradeCount * avg : 0;
                        count = std::max(0.0, count - t->TradeCount);
                        takesAverage = true;
                        break;
                    case kTradeCashBonus: takesAverage = true; break;
                    default: continue;
                    }
                    // Counts are whole cents: a remainder below one is the
                    // sums' binary noise, and an emptied holding carries no cost.
                    if (std::fabs(count) < 0.005) {
                        count = 0;
                        if (takesAverage) cost = 0;
                    }
                    if (!takesAverage) {
                        if (count == 0) continue;  // the trade keeps its cost value
                        avg = cost / count;
                    }
                    if (!SameCost(avg, t->CostValue)) {
                        const double stored = RoundDecimal(avg, 8);
                        if (!ExecBound("UPDATE T_Trade_Info SET CostValue=? WHERE TradeID=?",
                                       {{"CostValue", stored}, {"TradeID", t->TradeID}}))
                            return false;
                        t->CostValue = stored;
                    }
                }
            }
            if (!SameCost(avg, h.TradeValue)) {
                if (!ExecOnHolding("UPDATE T_Fund_Trade SET TradeValue=?", {{"TradeValue", RoundDecimal(avg, 8)}}, key))
                    return false;
            }
            h.TradeValue = avg;
        }
    }
    if (!trans.Commit()) return FailDb();
    // The latest principals follow the new average costs.
    for (auto& [accountId, account] : m_accounts)
        if (onlyAccount == 0 || accountId == onlyAccount) ComputeIncome(*account);
    return true;
}

bool CAccountManager::AfterBooking(int accountId)
{
    if (m_deferRecompute) {
        // What the full recomputation does to an emptied holding, without
        // reading every trade of the account.
        return Exec(StrFormat("UPDATE T_Fund_Trade SET CashBonusNew=0 WHERE AccountID=%d AND TotalCount=0 AND "
                              "CashBonusNew<>0",
                              accountId)) &&
               LoadHoldings(accountId);
    }
    bool recomputed = LoadHoldings(accountId);
    recomputed = RefreshAccount(accountId) && recomputed;
    return RecomputeCostValues() && recomputed;
}

bool CAccountManager::FinishBookings(int accountId)
{
    ChangeScope scope(*this);
    Changed(accountId);
    return RefreshAccount(accountId) && RecomputeCostValues(accountId);
}

bool CAccountManager::MoveHolding(int toAccount, int fromAccount, const std::string& fundId, int buyType)
{
    ChangeScope scope(*this);
    if (toAccount == fromAccount) return Fail("移出帐户和移入帐户相同");
    // Both ends are this user's accounts: trades never move to an account that is not there.
    if (!FindAccount(toAccount) || !FindAccount(fromAccount)) return Fail("非法的基金帐户");
    const HoldingKey source{fromAccount, fundId, buyType};
    const HoldingKey target{toAccount, fundId, buyType};
    CAdoTransaction trans(m_db);
    auto readSums = [&](const HoldingKey& k, double sums[4]) {
        RecordsetPtr rs =
            m_db.OpenRecordsetEx("SELECT TotalCount,TotalBonus,CashBonus FROM T_Fund_Trade WHERE" + k.Where());
        if (!rs || rs->IsEOF()) return false;
        m_db.GetFieldValue(rs, "TotalCount", sums[0]);
        m_db.GetFieldValue(rs, "TotalBonus", sums[1]);
        m_db.GetFieldValue(rs, "CashBonus", sums[2]);
        return true;
    };
    double src[4] = {0, 0, 0, 0}, dst[4] = {0, 0, 0, 0};
    if (!readSums(source, src)) return Fail("无可用的基金");
    const bool merging = readSums(target, dst);
    // A split states the whole count of one holding on its day: merged with
    // the other holding's trades it would state the wrong one.
    if (merging && m_db.GetRecordCount("SELECT TradeID FROM T_Trade_Info WHERE TradeType=14 AND TradeState=1 AND "
                                       "((" + source.Where() + ") OR (" + target.Where() + "))") > 0)
        return Fail("两个帐户都持有该基金且有拆分记帐，不能合并");
    if (!merging) {
        if (!Exec(StrFormat("UPDATE T_Fund_Trade SET AccountID=%d WHERE%s", toAccount, source.Where().c_str())))
            return false;
        if (!Exec(StrFormat("UPDATE T_Account_Info SET FundCount=FundCount+1 WHERE AccountID=%d", toAccount)))
            return false;
    } else {
        if (!Exec("DELETE * FROM T_Fund_Trade WHERE" + source.Where())) return false;
        const double count = Round2(src[0] + dst[0]);
        if (!ExecOnHolding("UPDATE T_Fund_Trade SET TotalCount=?,FreeCount=?,TotalBonus=?,CashBonus=?",
                           {{"TotalCount", count},
                            {"FreeCount", count},
                            {"TotalBonus", Round2(src[1] + dst[1])},
                            {"CashBonus", Round2(src[2] + dst[2])}},
                           target))
            return false;
    }
    if (!Exec(StrFormat("UPDATE T_Trade_Info SET AccountID=%d WHERE%s", toAccount, source.Where().c_str())))
        return false;
    if (!Exec(StrFormat("UPDATE T_Account_Info SET FundCount=FundCount-1 WHERE AccountID=%d AND FundCount>0",
                        fromAccount)))
        return false;
    if (!Commit(trans, fromAccount)) return FailDb();
    Changed(toAccount);
    LoadHoldings(fromAccount);
    LoadHoldings(toAccount);
    RefreshAccount(fromAccount);
    RefreshAccount(toAccount);
    // A merged holding's average cost is that of both holdings' trades.
    return RecomputeCostValues();
}

bool CAccountManager::DeleteFundBookkeeping(const HoldingKey& key)
{
    ChangeScope scope(*this);
    CAdoTransaction trans(m_db);
    if (!Exec("DELETE FROM T_Trade_Info WHERE" + key.Where())) return false;
    if (!Exec("DELETE FROM T_Fund_Trade WHERE" + key.Where())) return false;
    if (!Commit(trans, key.AccountID)) return FailDb();
    LoadHoldings(key.AccountID);
    RefreshAccount(key.AccountID);
    return true;
}

bool CAccountManager::SetBonusType(const HoldingKey& key, int bonusType)
{
    ChangeScope scope(*this);
    if (!Exec(StrFormat("UPDATE T_Fund_Trade SET BonusType=%d WHERE%s", bonusType, key.Where().c_str()))) return false;
    if (FundTradeInfo* h = FindHolding(key)) h->BonusType = bonusType;
    Changed(key.AccountID);
    return true;
}

bool CAccountManager::SetSaleFee(const FundTradeInfo& holding)
{
    // A negative rate would add a "fee" to the estimated proceeds.
    if (!std::isfinite(holding.SaleFee) || holding.SaleFee < 0 || holding.SaleFee > 100) return Fail("非法的赎回费率");
    if (!std::isfinite(holding.SaleFeeMoney) || holding.SaleFeeMoney < 0 || holding.SaleFeeMoney > kMaxFigure)
        return Fail("非法的固定费用");
    ChangeScope scope(*this);
    if (!ExecOnHolding("UPDATE T_Fund_Trade SET SaleFee=?,SaleFeeMoney=?",
                       {{"SaleFee", Round2(holding.SaleFee)}, {"SaleFeeMoney", Round2(holding.SaleFeeMoney)}},
                       HoldingKey::Of(holding)))
        return false;
    if (FundTradeInfo* h = FindHolding(HoldingKey::Of(holding))) {
        h->SaleFee = holding.SaleFee;
        h->SaleFeeMoney = holding.SaleFeeMoney;
    }
    Changed(holding.AccountID);
    // The estimated fee is one of the income figures.
    return RefreshAccount(holding.AccountID);
}

bool CAccountManager::ReadHoldingRow(const RecordsetPtr& rs, FundTradeInfo& h)
{
    m_db.GetFieldValue(rs, "AccountID", h.AccountID);
    m_db.GetFieldValue(rs, "FundID", h.FundID);
    m_db.GetFieldValue(rs, "BuyType", h.BuyType);
    m_db.GetFieldValue(rs, "TotalCount", h.TotalCount);
    m_db.GetFieldValue(rs, "FreeCount", h.FreeCount);
    m_db.GetFieldValue(rs, "BonusType", h.BonusType);
    m_db.GetFieldValue(rs, "TotalBonus", h.TotalBonus);
    m_db.GetFieldValue(rs, "CashBonus", h.CashBonus);
    m_db.GetFieldValue(rs, "CashBonusNew", h.CashBonusNew);
    m_db.GetFieldValue(rs, "LastBonus", h.LastBonus);
    m_db.GetFieldValue(rs, "LastTrade", h.LastTrade);
    m_db.GetFieldValue(rs, "SaleFee", h.SaleFee);
    m_db.GetFieldValue(rs, "SaleFeeMoney", h.SaleFeeMoney);
    m_db.GetFieldValue(rs, "TradeValue", h.TradeValue);
    return true;
}

void CAccountManager::RecomputeAccountSums(AccountInfo& account)
{
    account.CashBonus = 0;
    account.CashBonusNew = 0;
    for (const FundTradeInfo& h : account.holdings) {
        if (m_fundZeroHide && h.TotalCount == 0) continue;
        account.CashBonus += h.CashBonus;
        account.CashBonusNew += h.CashBonusNew;
    }
}

bool CAccountManager::LoadHoldings(int accountId)
{
    if (!ReadHoldings(accountId)) return false;
    return StoreMoneyIncome(FetchMoneyIncome(accountId));
}

bool CAccountManager::ReadHoldingRows(int accountId)
{
    std::string sql = accountId != 0
                          ? StrFormat("SELECT * FROM T_Fund_Trade WHERE AccountID=%d", accountId)
                          : StrFormat("SELECT * FROM T_Fund_Trade WHERE AccountID IN(SELECT AccountID FROM "
                                      "T_Account_Info WHERE UserID=%d)",
                                      m_userId);
    RecordsetPtr rs = m_db.OpenRecordsetEx(sql);
    if (!rs) return Fail("查询帐户持有基金信息列表错误，" + m_db.GetLastError());
    // The annualised returns stay until they are asked for again.
    std::map<std::tuple<int, std::string, int>, std::optional<double>> rates;
    for (auto& [id, a] : m_accounts)
        if (accountId == 0 || id == accountId) {
            for (const FundTradeInfo& h : a->holdings)
                if (h.figures.AnnualRate) rates[{h.AccountID, h.FundID, h.BuyType}] = h.figures.AnnualRate;
            a->holdings.clear();
        }
    for (; !rs->IsEOF(); rs->MoveNext()) {
        FundTradeInfo h;
        ReadHoldingRow(rs, h);
        if (auto r = rates.find({h.AccountID, h.FundID, h.BuyType}); r != rates.end()) h.figures.AnnualRate = r->second;
        if (AccountInfo* a = FindAccount(h.AccountID)) a->holdings.push_back(std::move(h));
    }
    return true;
}

bool CAccountManager::ReadHoldings(int accountId)
{
    if (!ReadHoldingRows(accountId)) return false;
    for (auto& [id, a] : m_accounts)
        if (accountId == 0 || id == accountId) {
            RecomputeAccountSums(*a);
            ComputeIncome(*a);
        }
    return true;
}

std::vector<CAccountManager::MoneyIncome> CAccountManager::FetchMoneyIncome(int accountId) const
{
    std::vector<MoneyIncome> answers;
    if (!m_services || m_offline) return answers;
    for (const auto& [id, a] : m_accounts) {
        if (accountId != 0 && id != accountId) continue;
        for (const FundTradeInfo& h : a->holdings) {
            if (!IsMoneyMarket(h.FundID)) continue;
            // The income since the last answer (LastBonus), on the shares
            // held now: it adds to what the holding has earned so far.
            MoneyIncome m;
            m.key = HoldingKey::Of(h);
            const OleDate from = h.LastBonus.dt != 0 ? h.LastBonus : h.LastTrade;
            std::string error;
            if (h.TotalCount > 0 &&
                m_services->QueryMoneyIncome(h.FundID, from, Clock::Now(), h.TotalCount, m.amount, m.date, error) ==
                    kDividendOk)
                answers.push_back(std::move(m));
        }
    }
    return answers;
}

bool CAccountManager::StoreMoneyIncome(const std::vector<MoneyIncome>& answers)
{
    ChangeScope scope(*this);
    CAdoTransaction trans(m_db);
    // Accumulated income never shrinks because of a booking: each answer
    // adds the income since LastBonus, which moves to the answer's day.
    for (const MoneyIncome& m : answers) {
        const double amount = Round2(m.amount);
        if (!ExecOnHolding("UPDATE T_Fund_Trade SET CashBonus=CashBonus+?,CashBonusNew=CashBonusNew+?,LastBonus=?",
                           {{"CashBonus", amount}, {"CashBonusNew", amount}, {"LastBonus", m.date}}, m.key))
            return false;
        if (FundTradeInfo* h = FindHolding(m.key)) {
            h->CashBonus = Round2(h->CashBonus + amount);
            h->CashBonusNew = Round2(h->CashBonusNew + amount);
            h->LastBonus = m.date;
        }
    }
    if (!trans.Commit()) return FailDb();
    for (const MoneyIncome& m : answers) Changed(m.key.AccountID);
    for (auto& [id, a] : m_accounts) {
        RecomputeAccountSums(*a);
        if (!answers.empty()) ComputeIncome(*a);
    }
    return true;
}

bool CAccountManager::ClearShareRemainders()
{
    return Exec("UPDATE T_Fund_Trade SET TotalCount=0,FreeCount=0 WHERE FreeCount < 1");
}

}  // namespace vextal

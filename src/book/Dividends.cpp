#include <algorithm>

#include "book/AccountManager.h"
#include "book/BookSql.h"
#include "common/Clock.h"
#include "common/Format.h"

namespace vextal {

using namespace booksql;

namespace {

// Inclusive day bounds of a range; a missing bound reaches without limit.
void Bounds(const UserBonusInfo& r, double& from, double& to)
{
    from = (r.DateState == 1 || r.DateState == 3) ? -1e18 : r.StartDate.DateOnly().dt;
    to = (r.DateState == 2 || r.DateState == 3) ? 1e18 : r.EndDate.DateOnly().dt;
}

bool SameHolding(const UserBonusInfo& r, const HoldingKey& key)
{
    return r.AccountID == key.AccountID && r.FundID == key.FundID && r.BuyType == key.BuyType;
}

bool FindBonusType(const std::vector<UserBonusInfo>& list, const HoldingKey& key, const OleDate& date, int& bonusType)
{
    const double day = date.DateOnly().dt;
    for (const UserBonusInfo& r : list) {
        if (!SameHolding(r, key)) continue;
        double from, to;
        Bounds(r, from, to);
        if (day >= from && day <= to) {
            bonusType = r.BonusType;
            return true;
        }
    }
    return false;
}

}  // namespace

namespace {

bool ReadBonusRows(CAdoDatabase& db, const RecordsetPtr& rs, std::vector<UserBonusInfo>& out)
{
    if (!rs) return false;
    out.clear();
    for (; !rs->IsEOF(); rs->MoveNext()) {
        UserBonusInfo r;
        db.GetFieldValue(rs, "BonusID", r.BonusID);
        db.GetFieldValue(rs, "UserID", r.UserID);
        db.GetFieldValue(rs, "AccountID", r.AccountID);
        db.GetFieldValue(rs, "FundID", r.FundID);
        db.GetFieldValue(rs, "BuyType", r.BuyType);
        db.GetFieldValue(rs, "StartDate", r.StartDate);
        db.GetFieldValue(rs, "EndDate", r.EndDate);
        db.GetFieldValue(rs, "DateState", r.DateState);
        db.GetFieldValue(rs, "BonusType", r.BonusType);
        out.push_back(std::move(r));
    }
    return true;
}

}  // namespace

bool CAccountManager::LoadUserBonus()
{
    std::vector<UserBonusInfo> list;
    if (!ReadBonusRows(m_db,
                       m_db.OpenRecordsetEx(StrFormat("SELECT * FROM T_User_Bonus WHERE UserID=%d ORDER BY EndDate", m_userId)),
                       list))
        return FailDb();
    m_userBonus = std::move(list);
    return true;
}

bool CAccountManager::LoadHoldingBonus(const HoldingKey& key, std::vector<UserBonusInfo>& out)
{
    if (!ReadBonusRows(m_db, m_db.OpenRecordsetEx("SELECT * FROM T_User_Bonus WHERE" + key.Where() + "ORDER BY EndDate"),
                       out))
        return FailDb();
    return true;
}

bool CAccountManager::SaveUserBonus(UserBonusInfo& record)
{
    ChangeScope scope(*this);
    record.StartDate = record.StartDate.DateOnly();
    record.EndDate = record.EndDate.DateOnly();
    if (record.UserID == 0) record.UserID = m_userId;
    FieldValueList fields = {{"UserID", record.UserID},       {"AccountID", record.AccountID},
                             {"FundID", record.FundID},       {"BuyType", record.BuyType},
                             {"StartDate", record.StartDate}, {"EndDate", record.EndDate},
                             {"BonusType", record.BonusType}, {"DateState", record.DateState}};
    CAdoTransaction trans(m_db);
    if (m_db.GetRecordCount(StrFormat("SELECT * FROM T_User_Bonus  WHERE BonusID=%d", record.BonusID)) == 0) {
        int id = 0;
        if (!m_db.GetNextID("BonusID", "T_User_Bonus", id)) return FailDb();
        record.BonusID = id;
        fields.insert(fields.begin(), FieldValue("BonusID", id));
        if (!m_db.InsertRecord("T_User_Bonus", fields)) return FailDb();
    } else if (!m_db.UpdateRecord("T_User_Bonus", fields, StrFormat(" WHERE BonusID=%d", record.BonusID))) {
        return FailDb();
    }
    if (!Commit(trans, record.AccountID)) return FailDb();
    for (UserBonusInfo& r : m_userBonus)
        if (r.BonusID == record.BonusID) {
            r = record;
            return true;
        }
    m_userBonus.push_back(record);
    return true;
}

bool CAccountManager::DeleteUserBonus(int bonusId)
{
    ChangeScope scope(*this);
    if (!Exec(StrFormat("DELETE FROM T_User_Bonus WHERE BonusID=%d", bonusId))) return false;
    for (const UserBonusInfo& r : m_userBonus)
        if (r.BonusID == bonusId) Changed(r.AccountID);
    std::erase_if(m_userBonus, [&](const UserBonusInfo& r) { return r.BonusID == bonusId; });
    return true;
}

bool CAccountManager::GetBonusTypeForDate(const HoldingKey& key, const OleDate& date, int& bonusType) const
{
    return FindBonusType(m_userBonus, key, date, bonusType);
}

bool CAccountManager::IsRangeOverlapping(const UserBonusInfo& record) const
{
    double from, to;
    Bounds(record, from, to);
    const HoldingKey key{record.AccountID, record.FundID, record.BuyType};
    for (const UserBonusInfo& r : m_userBonus) {
        if (r.BonusID == record.BonusID && record.BonusID != 0) continue;
        if (!SameHolding(r, key)) continue;
        double f, t;
        Bounds(r, f, t);
        if (from <= t && f <= to) return true;
    }
    return false;
}

bool CAccountManager::ApplyDividends(TradeInfo holding, bool newSharesOnly, bool moneyMarket)
{
    ChangeScope scope(*this);
    m_lastDividendBooked = OleDate();
    if (moneyMarket) return true;
    if (!newSharesOnly) {
        RecordsetPtr rs =
            m_db.OpenRecordsetEx("SELECT TotalCount,LastBonus,LastTrade FROM T_Fund_Trade WHERE" + HoldingKey::Of(holding).Where());
        if (!rs) return FailDb();
        if (rs->IsEOF()) return false;
        m_db.GetFieldValue(rs, "TotalCount", holding.TradeCount);
        // A holding that never received a dividend starts from its last trade.
        if (!m_db.GetFieldValue(rs, "LastBonus", holding.TradeTime)) m_db.GetFieldValue(rs, "LastTrade", holding.TradeTime);
    }
    if (holding.TradeCount <= 0) return true;
    std::vector<DividendItem> items;
    std::string error;
    if (FetchDividends(holding, items, error) != kDividendOk) return Fail(error);
    return BookDividends(holding, items, newSharesOnly);
}

int CAccountManager::FetchDividends(const TradeInfo& holding, std::vector<DividendItem>& items, std::string& error)
{
    if (m_offline || !m_services) {
        error = "此功能在脱机模式下不可用";
        return kDividendOffline;
    }
    // Shares bought at or after 15:00 are confirmed at a later day's NAV, which
    // is already ex-dividend for that day: they count from the next day.
    OleDate from = holding.TradeTime;
    if (from.Hour() >= 15) from = from.DateOnly().AddDays(1);
    return m_services->QueryDividends(holding.FundID, from, Clock::Now(), holding.TradeCount,
                                      holding.BonusType, items, error);
}

bool CAccountManager::BookDividends(const TradeInfo& holding, const std::vector<DividendItem>& reported,
                                    bool newSharesOnly)
{
    ChangeScope scope(*this);
    m_lastDividendBooked = OleDate();
    const HoldingKey key = HoldingKey::Of(holding);
    const OleDate start = holding.TradeTime;
    std::vector<UserBonusInfo> ranges;
    if (holding.BonusType == kBonusMixed && !LoadHoldingBonus(key, ranges)) return false;
    // In date order: a failure must leave LastBonus before every dividend
    // not yet booked.
    std::vector<DividendItem> items = reported;
    std::stable_sort(items.begin(), items.end(),
                     [](const DividendItem& x, const DividendItem& y) { return x.BookDate < y.BookDate; });
    double shares = holding.TradeCount;
    for (const DividendItem& item : items) {
        // Dividends up to the start were booked before (or belong to no new share).
        if (item.BookDate <= start) continue;
        int mode = holding.BonusType;
        if (mode == kBonusMixed && !FindBonusType(ranges, key, item.BookDate, mode)) mode = kBonusCash;
        double added = 0;
        if (!BookOneDividend(holding, item, mode, shares, newSharesOnly, added)) return false;
        shares += added;
        m_lastDividendBooked = item.BookDate;
    }
    return true;
}

bool CAccountManager::BookOneDividend(const TradeInfo& holding, const DividendItem& item, int mode, double shares,
                                      bool newSharesOnly, double& addedShares)
{
    const HoldingKey key = HoldingKey::Of(holding);
    const double amount = Round2(shares * item.PerShare);
    FieldValueList lastBonus;
    if (!newSharesOnly) lastBonus.emplace_back("LastBonus", item.BookDate);
    const std::string setLastBonus = newSharesOnly ? std::string() : ",LastBonus=?";
    TradeInfo t;
    t.AccountID = holding.AccountID;
    t.UserID = m_userId;
    t.FundID = holding.FundID;
    t.BuyType = holding.BuyType;
    t.BonusType = holding.BonusType;
    t.TradeMoney = amount;
    t.TradeTime = t.DealTime = item.BookDate;
    CAdoTransaction trans(m_db);
    if (mode == kBonusReinvest) {
        t.TradeType = kTradeBonusReinvest;
        t.TradeFee = 0;
        if (!BookPurchase(t)) return false;
        addedShares = t.TradeCount;
        FieldValueList v = {{"TotalBonus", amount}};
        v.insert(v.end(), lastBonus.begin(), lastBonus.end());
        if (!ExecOnHolding("UPDATE T_Fund_Trade SET TotalBonus=TotalBonus+?" + setLastBonus, v, key)) return false;
    } else {
        t.TradeType = kTradeCashBonus;
        t.TradeState = kStateConfirmed;
        t.TradeCount = shares;
        t.TradeValue = item.PerShare;
        if (!InsertTrade(t)) return false;
        FieldValueList v = {{"CashBonus", amount}, {"CashBonusNew", amount}, {"TotalBonus", amount}};
        v.insert(v.end(), lastBonus.begin(), lastBonus.end());
        if (!ExecOnHolding("UPDATE T_Fund_Trade SET CashBonus=CashBonus+?,CashBonusNew=CashBonusNew+?,"
                           "TotalBonus=TotalBonus+?" + setLastBonus,
                           v, key))
            return false;
    }
    return Commit(trans, holding.AccountID) || FailDb();
}

bool CAccountManager::ApplyDividendsAll(int userId)
{
    ChangeScope scope(*this);
    RecordsetPtr rs = m_db.OpenRecordsetEx(StrFormat(
        "SELECT * FROM T_Fund_Trade WHERE TotalCount>0 AND AccountID IN (SELECT AccountID FROM T_Account_Info WHERE "
        "UserID=%d)",
        userId));
    if (!rs) return FailDb();
    std::vector<TradeInfo> holdings;
    for (; !rs->IsEOF(); rs->MoveNext()) {
        TradeInfo h;
        m_db.GetFieldValue(rs, "AccountID", h.AccountID);
        m_db.GetFieldValue(rs, "FundID", h.FundID);
        // A holding that never received a dividend starts from its last trade.
        if (!m_db.GetFieldValue(rs, "LastBonus", h.TradeTime)) m_db.GetFieldValue(rs, "LastTrade", h.TradeTime);
        m_db.GetFieldValue(rs, "TotalCount", h.TradeCount);
        m_db.GetFieldValue(rs, "BuyType", h.BuyType);
        m_db.GetFieldValue(rs, "BonusType", h.BonusType);
        // Money-market income comes with the holdings load, not as dividends.
        if (!IsMoneyMarket(h.FundID)) holdings.push_back(std::move(h));
    }
    // Ask first, then book: the questions need no database, the bookings
    // no answer that is still outstanding.
    std::vector<std::pair<TradeInfo, std::vector<DividendItem>>> answers;
    for (const TradeInfo& h : holdings) {
        std::vector<DividendItem> items;
        std::string error;
        if (FetchDividends(h, items, error) == kDividendOk && !items.empty()) answers.emplace_back(h, std::move(items));
    }
    int before = 0, after = 0;
    m_db.QueryInt("SELECT COUNT(*) FROM T_Trade_Info", before);
    {
        // One commit for the pass, not one per dividend (hundreds at a
        // login); each dividend stays a step of its own inside it. A holding
        // whose dividends fail keeps its LastBonus and is retried next run.
        CAdoTransaction pass(m_db);
        for (const auto& [h, items] : answers) BookDividends(h, items, false);
        if (!pass.Commit()) return FailDb();
        for (const auto& [h, items] : answers) Changed(h.AccountID);
    }
    if (m_afterDividendsAll) m_afterDividendsAll(userId);
    m_db.QueryInt("SELECT COUNT(*) FROM T_Trade_Info", after);
    m_db.CloseRecordset();
    if (after != before) {
        // Booked dividends change counts and sums: show them at once. The
        // rows alone: the load that follows the login asks the money-market
        // income, once.
        ReadHoldings(0);
        RefreshAccountSums(0);
        RecomputeCostValues();
    }
    return true;
}

int CAccountManager::BookDividend(TradeInfo& t)
{
    ChangeScope scope(*this);
    const HoldingKey key = HoldingKey::Of(t);
    CAdoTransaction trans(m_db);
    t.TradeState = kStateConfirmed;
    if (t.TradeType == kTradeCashBonus) {
        if (t.DealTime.dt == 0) t.DealTime = t.TradeTime;
        if (!InsertTrade(t)) return -1;
        const double m = Round2(t.TradeMoney);
        if (!ExecOnHolding("UPDATE T_Fund_Trade SET CashBonus=CashBonus+?,CashBonusNew=CashBonusNew+?,TotalBonus=TotalBonus+?",
                           {{"CashBonus", m}, {"CashBonusNew", m}, {"TotalBonus", m}}, key))
            return -1;
    } else if (t.TradeType == kTradeBonusReinvest) {
        if (!GetFundTradeValueFormServer(t)) return -1;
        if (t.TradeValue == 0) return Fail("GetFundTradeValueFormServer():数据格式错误"), -1;
        if (t.TradeCount == 0) t.TradeCount = Round2(t.TradeMoney / t.TradeValue);
        if (!InsertTrade(t)) return -1;
        const double n = Round2(t.TradeCount);
        if (!ExecOnHolding("UPDATE T_Fund_Trade SET TotalCount=TotalCount+?, FreeCount=FreeCount+?",
                           {{"TotalCount", n}, {"FreeCount", n}}, key))
            return -1;
    } else {
        return Fail("非法的交易类型"), -1;
    }
    return Commit(trans, t.AccountID) ? 0 : (FailDb(), -1);
}

int CAccountManager::ManualDividend(TradeInfo& t)
{
    ChangeScope scope(*this);
    m_lastError.clear();
    m_lastWarning.clear();
    t.UserID = m_userId;
    if (!ValidateTrade(t)) return -1;
    {
        CAdoTransaction trans(m_db);
        if (BookDividend(t) != 0) return -1;
        if (!RecomputeHolding(t, false)) return -1;
        // A dividend booked by hand counts as applied: the automatic pass
        // starts after it and does not pay it again.
        FieldValueList v = {{"LastBonus", t.TradeTime}};
        for (FieldValue& k : HoldingKey::Of(t).Bound()) v.push_back(std::move(k));
        v.emplace_back("LastBonus", t.TradeTime);
        if (!ExecBound(std::string("UPDATE T_Fund_Trade SET LastBonus=? WHERE") + HoldingKey::kWhereBound +
                           "AND (LastBonus IS NULL OR LastBonus<?)",
                       v))
            return -1;
        if (!Commit(trans, t.AccountID)) return FailDb(), -1;
    }
    if (!AfterBooking(t.AccountID))
        Warn("分红已经记帐，但持仓和买入均价重新计算失败:");
    return m_lastWarning.empty() ? 0 : kBookedWithWarning;
}

}  // namespace vextal

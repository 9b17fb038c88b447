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

bool CAccountManager::LoadUserBonus(const std::string& where)
{
    RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT * FROM T_User_Bonus WHERE " + where + " ORDER BY EndDate");
    if (!rs) return FailDb();
    m_userBonus.clear();
    for (; !rs->IsEOF(); rs->MoveNext()) {
        UserBonusInfo r;
        m_db.GetFieldValue(rs, "BonusID", r.BonusID);
        m_db.GetFieldValue(rs, "UserID", r.UserID);
        m_db.GetFieldValue(rs, "AccountID", r.AccountID);
        m_db.GetFieldValue(rs, "FundID", r.FundID);
        m_db.GetFieldValue(rs, "BuyType", r.BuyType);
        m_db.GetFieldValue(rs, "StartDate", r.StartDate);
        m_db.GetFieldValue(rs, "EndDate", r.EndDate);
        m_db.GetFieldValue(rs, "DateState", r.DateState);
        m_db.GetFieldValue(rs, "BonusType", r.BonusType);
        m_userBonus.push_back(std::move(r));
    }
    return true;
}

bool CAccountManager::SaveUserBonus(UserBonusInfo& record)
{
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
    if (!trans.Commit()) return FailDb();
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
    if (!Exec(StrFormat("DELETE FROM T_User_Bonus WHERE BonusID=%d", bonusId))) return false;
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
    m_lastDividendBooked = OleDate();
    const HoldingKey key = HoldingKey::Of(holding);
    if (!newSharesOnly) {
        RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT TotalCount,LastBonus,LastTrade FROM T_Fund_Trade WHERE" + key.Where());
        if (!rs) return FailDb();
        if (rs->IsEOF()) return false;
        m_db.GetFieldValue(rs, "TotalCount", holding.TradeCount);
        // A holding that never received a dividend starts from its last trade.
        if (!m_db.GetFieldValue(rs, "LastBonus", holding.TradeTime)) m_db.GetFieldValue(rs, "LastTrade", holding.TradeTime);
    }
    float shares = holding.TradeCount;
    if (shares <= 0) return true;
    if (m_offline || !m_services) return Fail("此功能在脱机模式下不可用");

    std::vector<DividendItem> items;
    std::string error;
    const OleDate start = holding.TradeTime;
    if (m_services->QueryDividends(holding.FundID, start, Clock::Now(), shares, holding.BonusType, items, error) !=
        kDividendOk)
        return Fail(error);

    std::vector<UserBonusInfo> ranges;
    if (holding.BonusType == kBonusMixed) {
        // The holding's own ranges, without disturbing the list a dialog may show.
        std::vector<UserBonusInfo> shown = m_userBonus;
        if (LoadUserBonus(StrFormat("AccountID=%d AND FundID='%s' AND BuyType=%d", key.AccountID,
                                    SqlEscape(key.FundID).c_str(), key.BuyType)))
            ranges = m_userBonus;
        m_userBonus = std::move(shown);
    }
    for (const DividendItem& item : items) {
        // Dividends up to the start were booked before (or belong to no new share).
        if (item.BookDate <= start) continue;
        int mode = holding.BonusType;
        if (mode == kBonusMixed && !FindBonusType(ranges, key, item.BookDate, mode)) mode = kBonusCash;
        float added = 0;
        if (BookOneDividend(holding, item, mode, shares, newSharesOnly, moneyMarket, added)) {
            shares += added;
            if (item.BookDate > m_lastDividendBooked) m_lastDividendBooked = item.BookDate;
        }
    }
    return true;
}

bool CAccountManager::BookOneDividend(const TradeInfo& holding, const DividendItem& item, int mode, float shares,
                                      bool newSharesOnly, bool moneyMarket, float& addedShares)
{
    const HoldingKey key = HoldingKey::Of(holding);
    const float amount = moneyMarket ? Round2(item.PerShare) : Round2(shares * item.PerShare);
    const std::string a = Money(amount);
    const std::string lastBonus = newSharesOnly ? std::string() : ",LastBonus=" + Date(m_db, item.BookDate);
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
        if (!Exec("UPDATE T_Fund_Trade SET TotalBonus=TotalBonus+" + a + lastBonus + " WHERE" + key.Where()))
            return false;
    } else {
        t.TradeType = kTradeCashBonus;
        t.TradeState = kStateConfirmed;
        t.TradeCount = shares;
        t.TradeValue = item.PerShare;
        if (!InsertTrade(t)) return false;
        if (!Exec("UPDATE T_Fund_Trade SET CashBonus=CashBonus+" + a + ",CashBonusNew=CashBonusNew+" + a +
                  ",TotalBonus=TotalBonus+" + a + lastBonus + " WHERE" + key.Where()))
            return false;
    }
    return trans.Commit() || FailDb();
}

bool CAccountManager::ApplyDividendsAll(int userId)
{
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
        m_db.GetFieldValue(rs, "LastBonus", h.TradeTime);
        m_db.GetFieldValue(rs, "TotalCount", h.TradeCount);
        m_db.GetFieldValue(rs, "BuyType", h.BuyType);
        m_db.GetFieldValue(rs, "BonusType", h.BonusType);
        holdings.push_back(std::move(h));
    }
    int before = 0, after = 0;
    m_db.QueryInt("SELECT COUNT(*) FROM T_Trade_Info", before);
    for (const TradeInfo& h : holdings) ApplyDividends(h, false, IsMoneyMarket(h.FundID));
    if (m_afterDividendsAll) m_afterDividendsAll(userId);
    m_db.QueryInt("SELECT COUNT(*) FROM T_Trade_Info", after);
    m_db.CloseRecordset();
    if (after != before) {
        // Booked dividends change counts and sums: show them at once.
        LoadHoldings(0);
        for (auto& [id, a] : m_accounts) RefreshAccount(id);
        RecomputeCostValues();
    }
    return true;
}

int CAccountManager::BookDividend(TradeInfo& t)
{
    const HoldingKey key = HoldingKey::Of(t);
    CAdoTransaction trans(m_db);
    t.TradeState = kStateConfirmed;
    if (t.TradeType == kTradeCashBonus) {
        if (t.DealTime.dt == 0) t.DealTime = t.TradeTime;
        if (!InsertTrade(t)) return -1;
        const std::string m = Money(t.TradeMoney);
        if (!Exec("UPDATE T_Fund_Trade SET CashBonus=CashBonus+" + m + ",CashBonusNew=CashBonusNew+" + m +
                  ",TotalBonus=TotalBonus+" + m + " WHERE" + key.Where()))
            return -1;
    } else if (t.TradeType == kTradeBonusReinvest) {
        if (!GetFundTradeValueFormServer(t)) return -1;
        if (t.TradeValue == 0) return Fail("GetFundTradeValueFormServer():数据格式错误"), -1;
        if (t.TradeCount == 0) t.TradeCount = Round2(t.TradeMoney / t.TradeValue);
        if (!InsertTrade(t)) return -1;
        const std::string n = Money(t.TradeCount);
        if (!Exec("UPDATE T_Fund_Trade SET TotalCount=TotalCount+" + n + ", FreeCount=FreeCount+" + n + " WHERE" +
                  key.Where()))
            return -1;
    } else {
        return Fail("非法的交易类型"), -1;
    }
    return trans.Commit() ? 0 : (FailDb(), -1);
}

int CAccountManager::ManualDividend(TradeInfo& t)
{
    m_lastError.clear();
    t.UserID = m_userId;
    if (!ValidateTrade(t)) return -1;
    {
        CAdoTransaction trans(m_db);
        if (BookDividend(t) != 0) return -1;
        if (!RecomputeHolding(t, false)) return -1;
        if (!trans.Commit()) return FailDb(), -1;
    }
    LoadHoldings(t.AccountID);
    RefreshAccount(t.AccountID);
    RecomputeCostValues();
    return 0;
}

}  // namespace vextal

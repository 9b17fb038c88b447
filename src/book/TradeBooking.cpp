#include <cmath>

#include "book/AccountManager.h"
#include "book/BookSql.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/NumberInput.h"
#include "wire/BookText.h"

namespace vextal {

using namespace booksql;

namespace {

const char* const kOffline = "此功能在脱机模式下不可用";
const char* const kPriceFormatError = "GetFundTradeValueFormServer():数据格式错误";

bool IsPurchaseType(int t) { return t == kTradeBuy || t == kTradePlanBuy || t == kTradeSubscribe; }

// Bookings whose dialogs let the user choose the dividend mode; the others
// (redemption, split) must not overwrite the holding's mode.
bool TradeCarriesBonusType(int t) { return IsPurchaseType(t) || t == kTradeConvert || t == kTradeQuick; }

// Net amount that buys shares: the fee is taken out of the money (inner
// deduction) or added on top (outer deduction); a negative fee is an amount.
double NetPurchaseAmount(const TradeInfo& t)
{
    const double m = t.TradeMoney, f = t.TradeFee;
    if (f < 0) return m + f;
    if (t.BuyType == kBackEnd) return m;
    if (t.InnerDeduction == 0) return m * 100 / (f + 100);
    return (100 - f) * m * 0.01;
}

bool Within(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

// The figures a trade may carry into the books, whatever the caller checked:
// finite, not negative where a trade cannot be, within bounds no holding
// reaches. The fee fields hold a rate in percent, or minus an amount.
const char* FigureRefusal(const TradeInfo& t)
{
    if (!Within(t.TradeMoney, 0, kMaxFigure)) return "非法的交易金额";
    if (!Within(t.TradeCount, 0, kMaxFigure) || !Within(t.TargetCount, 0, kMaxFigure)) return "非法的交易份数";
    if (!Within(t.TradeFee, -kMaxFigure, 100) || !Within(t.SecondRate, -kMaxFigure, 100)) return "非法的手续费";
    if (!Within(t.TradeValue, 0, 10000) || !std::isfinite(t.CostValue)) return "非法的交易价";
    return nullptr;
}

std::string RemarkOf(const TradeInfo& t) { return WriteTradeRemark(t.TradeType, t.SecondRate, t.InnerDeduction); }

}  // namespace

double CAccountManager::GetTradeFee(TradeInfo& t)
{
    t.TradeFee = Round2(t.TradeFee);
    const double m = t.TradeMoney, f = t.TradeFee;
    if (f < 0) return -f;
    switch (t.TradeType) {
    case kTradeBuy:
    case kTradeConvertIn:
    case kTradePlanBuy:
    case kTradeSubscribe:
        return t.InnerDeduction == 0 ? m - m * 100 / (f + 100) : f * m * 0.01;
    case kTradeRedeem:
    case kTradeConvertOut: return t.TradeValue * t.TradeCount * f * 0.01;
    default: return 0;
    }
}

bool CAccountManager::GetFundTradeValueFormServer(TradeInfo& trade)
{
    if (m_offline) return Fail(kOffline);
    if (!m_services) return Fail("发送请求错误，请检查网络是否可用");
    double value = 0;
    OleDate deal;
    std::string error;
    if (!m_services->GetFundTradeValue(trade.FundID, trade.TradeTime, value, deal, error)) return Fail(error);
    trade.TradeValue = value;
    trade.DealTime = deal;
    return true;
}

bool CAccountManager::ReadTrade(const RecordsetPtr& rs, TradeInfo& t)
{
    m_db.GetFieldValue(rs, "TradeID", t.TradeID);
    m_db.GetFieldValue(rs, "AccountID", t.AccountID);
    m_db.GetFieldValue(rs, "FundID", t.FundID);
    m_db.GetFieldValue(rs, "TradeMoney", t.TradeMoney);
    m_db.GetFieldValue(rs, "TradeCount", t.TradeCount);
    m_db.GetFieldValue(rs, "TradeFee", t.TradeFee);
    m_db.GetFieldValue(rs, "TradeType", t.TradeType);
    m_db.GetFieldValue(rs, "TradeTime", t.TradeTime);
    m_db.GetFieldValue(rs, "DealTime", t.DealTime);
    m_db.GetFieldValue(rs, "TradeState", t.TradeState);
    m_db.GetFieldValue(rs, "BuyType", t.BuyType);
    m_db.GetFieldValue(rs, "TradeValue", t.TradeValue);
    // In the table's order, which the column look-up tries first.
    std::string remark;
    const bool remarked = m_db.GetFieldValue(rs, "Remark", remark);
    m_db.GetFieldValue(rs, "MarkInfo", t.MarkInfo);
    m_db.GetFieldValue(rs, "CostValue", t.CostValue);
    if (remarked) ReadTradeRemark(remark, t.TradeType, t.SecondRate, t.InnerDeduction);
    return true;
}

bool CAccountManager::WriteRemark(const TradeInfo& t)
{
    return ExecBound("UPDATE T_Trade_Info SET Remark=? WHERE TradeID=?", {{"Remark", RemarkOf(t)}, {"TradeID", t.TradeID}});
}

bool CAccountManager::InsertTrade(TradeInfo& t)
{
    int id = 0;
    if (!m_db.GetNextID("TradeID", "T_Trade_Info", id)) return FailDb();
    t.TradeID = id;
    // Money, counts and fees to the cent, prices to four places, costs to eight.
    if (!m_db.InsertRecord("T_Trade_Info", {{"FundID", t.FundID},
                                            {"AccountID", t.AccountID},
                                            {"TradeID", t.TradeID},
                                            {"TradeMoney", Round2(t.TradeMoney)},
                                            {"TradeCount", Round2(t.TradeCount)},
                                            {"TradeFee", Round2(t.TradeFee)},
                                            {"TradeType", t.TradeType},
                                            {"TradeTime", t.TradeTime},
                                            {"DealTime", t.DealTime},
                                            {"TradeState", t.TradeState},
                                            {"BuyType", t.BuyType},
                                            {"TradeValue", RoundDecimal(t.TradeValue, 4)},
                                            {"CostValue", RoundDecimal(t.CostValue, 8)},
                                            {"MarkInfo", t.MarkInfo}}))
        return FailDb();
    Pause("inserted");
    return WriteRemark(t);
}

bool CAccountManager::FinalUpdate(const TradeInfo& t)
{
    return ExecBound("UPDATE T_Trade_Info SET DealTime=?,TradeMoney=?,TradeCount=?,TradeValue=?,TradeState=? WHERE TradeID=?",
                     {{"DealTime", t.DealTime},
                      {"TradeMoney", Round2(t.TradeMoney)},
                      {"TradeCount", Round2(t.TradeCount)},
                      {"TradeValue", RoundDecimal(t.TradeValue, 4)},
                      {"TradeState", t.TradeState},
                      {"TradeID", t.TradeID}});
}

bool CAccountManager::ValidateTrade(TradeInfo& t)
{
    if (m_db.GetRecordCount(StrFormat("SELECT AccountID FROM T_Account_Info WHERE AccountID=%d AND UserID=%d",
                                      t.AccountID, t.UserID)) == 0)
        return Fail("非法的基金帐户");
    if (t.TradeTime > Clock::Now()) return Fail("交易时间不能大于当前时间");
    if (const char* refusal = FigureRefusal(t)) return Fail(refusal);
    // A fund has no NAV before its first day: a trade then would be priced
    // at an invented 1.0. A subscription is made before it, at par.
    if (t.TradeType != kTradeSubscribe && t.TradeType != kTradeSubscribeInterest)
        for (const std::string& id : {t.FundID, t.TradeType == kTradeConvert ? t.TargetFundID : t.FundID}) {
            OleDate established;
            if (m_funds && m_funds->GetEstablishDate(id, established) && established.dt != 0 &&
                t.TradeTime.DateOnly() < established.DateOnly())
                return Fail(StrFormat("基金%s在%s之前没有净值", id.c_str(), established.Format(1).c_str()));
        }
    if (!CheckSplitOrder(t)) return false;
    switch (t.TradeType) {
    case kTradeBuy:
    case kTradePlanBuy:
    case kTradeSubscribe:
        if (t.TradeMoney <= 0) return Fail("非法的交易金额");
        break;
    case kTradeRedeem:
    case kTradeConvert:  // the outgoing leg is a redemption
        if (!(t.TradeCount > 0)) return Fail("非法的交易份数");
        break;
    case kTradeQuick:
        if (t.TradeCount <= 0) return Fail("记帐份额不能小于0");
        break;
    case kTradeSplit:
        if (t.TradeCount <= 0) return Fail("基金拆分后份额不能小于0");
        if (!(t.TradeValue > 0 && t.TradeValue <= 1000)) return Fail("非法的拆分比例");
        break;
    case kTradeBonusReinvest:
    case kTradeCashBonus:
        if (!(t.TradeMoney > 0)) return Fail("分红金额不能小于或者等于0");
        break;
    case kTradePlan: break;
    default: return Fail("非法的交易类型");
    }
    return true;
}

// A split replaces the shares held on its day by the count it states. A
// trade that changes the shares on an earlier day, booked after the split,
// would be lost in that count, and a split dated before trades already
// booked would drop them: both are refused, so that a holding is always
// what its trades give in the order they happened.
bool CAccountManager::CheckSplitOrder(const TradeInfo& t)
{
    const std::string counted = "(TradeType=0 OR TradeType=1 OR TradeType=4 OR TradeType=5 OR TradeType=6 OR "
                                "TradeType=9 OR TradeType=10 OR TradeType=12 OR TradeType=14)";
    if (t.TradeType == kTradeSplit) {
        if (m_db.GetRecordCount("SELECT TradeID FROM T_Trade_Info WHERE" + HoldingKey::Of(t).Where() +
                                "AND TradeState=1 AND " + counted +
                                " AND TradeTime>" + m_db.LiteralOf(FieldValue("", t.TradeTime))) > 0)
            return Fail("拆分日期之后已有该基金的交易记帐，拆分不能记在这些交易之前");
        return true;
    }
    if (t.TradeType == kTradeCashBonus || t.TradeType == kTradePlan) return true;
    std::vector<HoldingKey> keys = {HoldingKey::Of(t)};
    if (t.TradeType == kTradeConvert) keys.push_back({t.AccountID, t.TargetFundID, t.TargetBuyType});
    for (const HoldingKey& key : keys) {
        OleDate split;
        if (m_db.QueryDate("SELECT MAX(TradeTime) FROM T_Trade_Info WHERE" + key.Where() +
                               "AND TradeState=1 AND TradeType=14",
                           split) &&
            split.dt != 0 && t.TradeTime < split)
            return Fail(StrFormat("基金%s在%s已经拆分，不能记入拆分之前的交易", key.FundID.c_str(),
                                  split.Format(1).c_str()));
    }
    return true;
}

bool CAccountManager::AddSubscriptionInterest(TradeInfo& t)
{
    double interest = 0;
    if (t.SecondRate <= 0) {
        interest = -t.SecondRate;
    } else {
        OleDate established;
        int days = 0;
        if (m_funds && m_funds->GetEstablishDate(t.FundID, established)) {
            days = WholeDaysBetween(t.TradeTime, established) - 1;
            DateParts p = t.TradeTime.Parts();
            // After 15:00:00 is after the cut-off, whatever the minute.
            if (p.hour > 15 || (p.hour == 15 && (p.minute > 0 || p.second > 0))) --days;
            if (days < 0) days = 0;
        }
        const double perDay = 2.739726e-05;  // 0.01 / 365
        interest = t.TradeMoney * t.SecondRate * perDay * static_cast<double>(days);
    }
    // The interest is booked to the cent, and the subscription adds exactly that.
    interest = Round2(interest);
    if (interest > 0) {
        TradeInfo it = t;
        it.TradeType = kTradeSubscribeInterest;
        it.TradeState = kStateConfirmed;
        it.TradeValue = 1.0;
        it.TradeFee = 0;
        it.TradeCount = it.TradeMoney = interest;
        it.DealTime = t.TradeTime;
        it.InnerDeduction = 0;
        it.MarkInfo.clear();
        if (!InsertTrade(it)) return false;
    }
    t.SecondRate = interest;
    return true;
}

// Purchase, fixed-investment purchase, subscription, incoming conversion
// leg and reinvested dividend: price, insert, shares, holding.
bool CAccountManager::BookPurchase(TradeInfo& t)
{
    if (t.TradeType == kTradeSubscribe) {
        if (!AddSubscriptionInterest(t)) return false;
        t.TradeValue = 1.0;
        t.DealTime = t.TradeTime;
    } else {
        if (!GetFundTradeValueFormServer(t)) return false;
        if (t.TradeValue == 0) return Fail(kPriceFormatError);
    }
    // A fee in yuan that takes the whole amount buys nothing.
    if (t.TradeType != kTradeBonusReinvest && !(NetPurchaseAmount(t) > 0))
        return Fail("手续费不能大于或者等于交易金额");
    t.TradeState = kStateWritten;
    if (!InsertTrade(t)) return false;
    if (t.TradeCount <= 0) {
        double net = NetPurchaseAmount(t);
        if (t.TradeType == kTradeSubscribe) {
            t.TradeCount = t.SecondRate + net;
            t.TradeValue = 1.0;
        } else {
            t.TradeCount = Round2(net / t.TradeValue);
        }
    }
    int ensured = EnsureHolding(t);
    if (ensured < 0) return false;
    if (ensured == 0 && !Exec(StrFormat("UPDATE T_Account_Info SET FundCount=FundCount+1 WHERE AccountID=%d", t.AccountID)))
        return false;
    Pause("holding");
    if ((ensured == 1 && !RestartDividendsIfEmpty(t)) || !AddShares(t)) return false;
    Pause("shares");
    t.TradeState = kStateConfirmed;
    return FinalUpdate(t);
}

bool CAccountManager::BookRedemption(TradeInfo& t)
{
    double held = 0;
    RecordsetPtr rs =
        m_db.OpenRecordsetEx("SELECT TotalCount,TradeValue FROM T_Fund_Trade WHERE" + HoldingKey::Of(t).Where());
    if (!rs) return FailDb();
    if (rs->IsEOF() || !m_db.GetFieldValue(rs, "TotalCount", held) || held <= 0) return Fail("非法的交易份数");
    // The average cost at the time of the redemption is the cost of the shares it takes away.
    m_db.GetFieldValue(rs, "TradeValue", t.CostValue);
    bool all = held <= t.TradeCount;
    if (all) t.TradeCount = held;
    if (!GetFundTradeValueFormServer(t)) return false;
    if (t.TradeValue == 0) return Fail(kPriceFormatError);
    t.TradeState = kStateWritten;
    if (!InsertTrade(t)) return false;
    if (t.TradeMoney <= 0) {
        double gross = t.TradeCount * t.TradeValue;
        double m = t.TradeFee < 0 ? gross + t.TradeFee : (100 - t.TradeFee) * gross * 0.01;
        t.TradeMoney = Round2(m);
        // A fee in yuan above what the shares bring: no redemption pays the holder's money out.
        if (t.TradeMoney < 0) return Fail("手续费不能大于交易金额");
    }
    if (!RemoveShares(t, all)) return false;
    t.TradeState = kStateConfirmed;
    return FinalUpdate(t);
}

bool CAccountManager::BookQuick(TradeInfo& t)
{
    if (t.TradeMoney <= 0) t.TradeMoney = Round2(t.TradeValue * t.TradeCount);
    t.TradeState = kStateWritten;
    if (!InsertTrade(t)) return false;
    int ensured = EnsureHolding(t);
    if (ensured < 0) return false;
    if (ensured == 0 && !Exec(StrFormat("UPDATE T_Account_Info SET FundCount=FundCount+1 WHERE AccountID=%d", t.AccountID)))
        return false;
    if ((ensured == 1 && !RestartDividendsIfEmpty(t)) || !AddShares(t)) return false;
    t.TradeState = kStateConfirmed;
    return FinalUpdate(t);
}

// An emptied holding bought again earns dividends (or money-market income)
// from that purchase on, not from the last dividend before it was emptied.
// A new holding has its start from EnsureHolding.
bool CAccountManager::RestartDividendsIfEmpty(const TradeInfo& t)
{
    FieldValueList v = {{"LastBonus", t.TradeTime}};
    for (FieldValue& k : HoldingKey::Of(t).Bound()) v.push_back(std::move(k));
    return ExecBound(std::string("UPDATE T_Fund_Trade SET LastBonus=? WHERE") + HoldingKey::kWhereBound +
                         "AND TotalCount<=0",
                     v);
}

bool CAccountManager::BookSplit(TradeInfo& t)
{
    // Only shares held can be split, as only shares held can be redeemed.
    double held = 0;
    RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT TotalCount FROM T_Fund_Trade WHERE" + HoldingKey::Of(t).Where());
    if (!rs) return FailDb();
    if (rs->IsEOF() || !m_db.GetFieldValue(rs, "TotalCount", held) || held <= 0) return Fail("非法的交易份数");
    const double ratio = t.TradeValue;
    if (!GetFundTradeValueFormServer(t)) return false;
    if (t.TradeValue == 0) return Fail(kPriceFormatError);
    t.TradeValue = ratio;
    t.TradeState = kStateWritten;
    if (!InsertTrade(t)) return false;
    if (!SetShares(t)) return false;
    t.TradeState = kStateConfirmed;
    return FinalUpdate(t);
}

bool CAccountManager::ApplyDividendsBeforeSplit(const TradeInfo& split)
{
    TradeInfo holding = split;
    RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT TotalCount,BonusType,LastBonus,LastTrade FROM T_Fund_Trade WHERE" +
                                           HoldingKey::Of(split).Where());
    if (!rs) return FailDb();
    if (rs->IsEOF() || IsMoneyMarket(split.FundID)) return true;
    m_db.GetFieldValue(rs, "TotalCount", holding.TradeCount);
    m_db.GetFieldValue(rs, "BonusType", holding.BonusType);
    if (!m_db.GetFieldValue(rs, "LastBonus", holding.TradeTime)) m_db.GetFieldValue(rs, "LastTrade", holding.TradeTime);
    if (holding.TradeCount <= 0 || holding.TradeTime >= split.TradeTime) return true;
    std::vector<DividendItem> items;
    std::string error;
    if (FetchDividends(holding, items, error) != kDividendOk) return Fail(error);
    // Those from the split's day on belong to the shares after it.
    std::erase_if(items, [&](const DividendItem& d) { return d.BookDate >= split.TradeTime.DateOnly(); });
    return BookDividends(holding, items, false);
}

bool CAccountManager::ApplyExistingHoldingDividends(const TradeInfo& t)
{
    TradeInfo holding = t;
    RecordsetPtr rs = m_db.OpenRecordsetEx("SELECT BonusType FROM T_Fund_Trade WHERE" + HoldingKey::Of(t).Where());
    if (!rs) return FailDb();
    if (rs->IsEOF()) return true;  // a new holding has nothing due yet
    // Trades whose dialogs choose no dividend mode keep the holding's own.
    if (!TradeCarriesBonusType(t.TradeType)) m_db.GetFieldValue(rs, "BonusType", holding.BonusType);
    return ApplyDividends(holding, false, IsMoneyMarket(t.FundID));
}

bool CAccountManager::ApplyNewShareDividends(const TradeInfo& t, bool oldSharesCovered)
{
    TradeInfo shares = t;  // count and time of the shares just booked
    const bool ok = ApplyDividends(shares, true, IsMoneyMarket(t.FundID));
    const std::string error = m_lastError;
    // Old and new shares have now received everything up to the last
    // dividend booked: LastBonus moves there (never back), or the next
    // automatic run would pay the new shares' dividends a second time. After
    // a failure it stops before the failed one, so that one is retried.
    if (oldSharesCovered && m_lastDividendBooked.dt != 0 &&
        !ExecBound(std::string("UPDATE T_Fund_Trade SET LastBonus=? WHERE") + HoldingKey::kWhereBound +
                       "AND (LastBonus IS NULL OR LastBonus<?)",
                   [&] {
                       FieldValueList v = {{"LastBonus", m_lastDividendBooked}};
                       for (FieldValue& k : HoldingKey::Of(t).Bound()) v.push_back(k);
                       v.emplace_back("LastBonus", m_lastDividendBooked);
                       return v;
                   }()))
        return false;
    if (!ok) m_lastError = error;
    return ok;
}

int CAccountManager::BookTrade(TradeInfo& trade)
{
    ChangeScope scope(*this);
    m_lastError.clear();
    m_lastWarning.clear();
    if (m_offline) return Fail(kOffline), -1;
    trade.UserID = m_userId;
    if (!ValidateTrade(trade)) return -1;
    // A fund the catalogue does not know has no price rule: it is not booked.
    for (const std::string& id : {trade.FundID, trade.TradeType == kTradeConvert ? trade.TargetFundID : trade.FundID})
        if (m_funds && !m_funds->IsKnownFund(id))
            return Fail(StrFormat("本地基金列表中没有基金%s，请更新基金列表后再记帐", id.c_str())), -1;

    const int type = trade.TradeType;
    const double splitRatio = trade.TradeValue;
    if (IsPurchaseType(type)) {
        if (trade.BuyType == kBackEnd) trade.TradeFee = 0;
    } else if (type == kTradeQuick) {
        if (!GetFundTradeValueFormServer(trade)) {
            std::string error;
            double value = 0;
            OleDate date;
            if (!m_services || !m_services->GetLatestValue(trade.FundID, value, date, error) || value == 0)
                return -1;
            m_lastError.clear();
            trade.TradeValue = value;
            trade.DealTime = date;
        }
    } else if (type != kTradeRedeem && type != kTradeConvert && type != kTradePlan && type != kTradeSplit) {
        return Fail("非法的交易类型"), -1;
    }
    if (IsMoneyMarket(trade.FundID)) {
        trade.TradeFee = 0;
        trade.TradeValue = type == kTradeSplit ? splitRatio : 1.0;
    }
    if (type == kTradeConvert && IsMoneyMarket(trade.TargetFundID)) trade.SecondRate = 0;
    if (type == kTradePlan) return Fail("未知的记帐类型"), -1;

    // Dividends the holding earned before this trade are their own step.
    // A failure there does not stop the booking, but the user hears of it.
    const char* const kDividendsFailed = "交易已经记帐，但自动分红处理失败:";
    bool covered = true;  // the holding that receives shares had its due dividends applied
    const bool automatic = m_autoDividends;
    if (automatic && (IsPurchaseType(type) || type == kTradeQuick || type == kTradeRedeem))
        covered = ApplyExistingHoldingDividends(trade);
    if (automatic && type == kTradeSplit && !ApplyDividendsBeforeSplit(trade)) Warn(kDividendsFailed);
    if (automatic && type == kTradeConvert) {
        if (!ApplyExistingHoldingDividends(trade)) Warn(kDividendsFailed);
        TradeInfo target = trade;
        target.FundID = trade.TargetFundID;
        target.BuyType = trade.TargetBuyType;
        target.BonusType = trade.TargetBonusType;
        covered = ApplyExistingHoldingDividends(target);
    }
    if (!covered) Warn(kDividendsFailed);

    const OleDate placed = trade.TradeTime;
    TradeInfo incoming;
    {
        CAdoTransaction trans(m_db);
        if (!trans.IsActive()) return FailDb(), -1;
        if (TradeCarriesBonusType(type) &&
            !ExecOnHolding("UPDATE T_Fund_Trade SET BonusType=?", {{"BonusType", trade.BonusType}}, HoldingKey::Of(trade)))
            return -1;
        bool ok = false;
        if (IsPurchaseType(type)) {
            ok = BookPurchase(trade);
        } else if (type == kTradeRedeem) {
            ok = BookRedemption(trade);
        } else if (type == kTradeQuick) {
            ok = BookQuick(trade);
        } else if (type == kTradeSplit) {
            ok = BookSplit(trade);
        } else if (type == kTradeConvert) {
            // Both legs or neither: shares never leave one fund without arriving in the other.
            TradeInfo outgoing = trade;
            outgoing.TradeType = kTradeConvertOut;
            ok = BookRedemption(outgoing);
            if (ok) {
                incoming = trade;
                incoming.TradeType = kTradeConvertIn;
                incoming.FundID = trade.TargetFundID;
                incoming.TradeFee = trade.SecondRate;
                incoming.BuyType = trade.TargetBuyType;
                incoming.BonusType = trade.TargetBonusType;
                incoming.TradeCount = trade.TargetCount;
                incoming.TradeMoney = outgoing.TradeMoney;
                incoming.TradeTime = placed;
                incoming.CostValue = 0;
                if (IsMoneyMarket(incoming.FundID)) incoming.TradeFee = 0;
                ok = ExecOnHolding("UPDATE T_Fund_Trade SET BonusType=?", {{"BonusType", incoming.BonusType}},
                                   HoldingKey::Of(incoming)) &&
                     BookPurchase(incoming);
            }
            if (ok) {
                trade.TradeID = outgoing.TradeID;
                trade.TradeMoney = outgoing.TradeMoney;
                trade.TradeCount = outgoing.TradeCount;
            }
        }
        if (!ok) return -1;
        if (!Commit(trans, trade.AccountID)) return FailDb(), -1;
    }

    // Dividends that fell after the trade, on the shares it brought.
    if (automatic && (trade.NoAutoBonus != 1 || type == kTradeQuick)) {
        if ((IsPurchaseType(type) || type == kTradeQuick) && !ApplyNewShareDividends(trade, covered))
            Warn(kDividendsFailed);
        if (type == kTradeConvert && !ApplyNewShareDividends(incoming, covered)) Warn(kDividendsFailed);
    }
    if (!AfterBooking(trade.AccountID))
        Warn("交易已经记帐，但持仓和买入均价重新计算失败:");
    m_lastError.clear();
    return m_lastWarning.empty() ? 0 : kBookedWithWarning;
}

bool CAccountManager::DeleteTrade(const TradeInfo& given)
{
    ChangeScope scope(*this);
    // A copy: the caller's may be an entry of the trade map the refresh below rebuilds.
    const TradeInfo trade = given;
    m_lastWarning.clear();
    {
        CAdoTransaction trans(m_db);
        const double beside = IncomeBesideTrades(HoldingKey::Of(trade));
        if (!Exec(StrFormat("DELETE FROM T_Trade_Info WHERE TradeID=%d", trade.TradeID))) return false;
        // Shares already redeemed cannot be taken out of the books.
        double left = 0;
        if (!ReplayHolding(HoldingKey::Of(trade), left)) return false;
        if (left < 0) return Fail("删除此记帐后持仓份额将小于0，请先删除其后的赎回记帐");
        if (!RecomputeHolding(trade, true) || !KeepIncomeBesideTrades(HoldingKey::Of(trade), beside)) return false;
        if (!Commit(trans, trade.AccountID)) return FailDb();
    }
    // The trade is saved; the user hears when the figures could not follow.
    bool recomputed = RefreshAccount(trade.AccountID);
    recomputed = LoadHoldings(trade.AccountID) && recomputed;
    recomputed = RecomputeCostValues() && recomputed;
    if (!recomputed)
        Warn("持仓和买入均价重新计算失败:");
    return true;
}

bool CAccountManager::EditTrade(const TradeInfo& given)
{
    ChangeScope scope(*this);
    const TradeInfo trade = given;  // as DeleteTrade
    m_lastWarning.clear();
    if (const char* refusal = FigureRefusal(trade)) return Fail(refusal);
    {
        CAdoTransaction trans(m_db);
        const double beside = IncomeBesideTrades(HoldingKey::Of(trade));
        if (!ExecBound("UPDATE T_Trade_Info SET TradeCount=?,TradeMoney=?,TradeFee=?,TradeValue=? WHERE TradeID=?",
                       {{"TradeCount", Round2(trade.TradeCount)},
                        {"TradeMoney", Round2(trade.TradeMoney)},
                        {"TradeFee", Round2(trade.TradeFee)},
                        {"TradeValue", RoundDecimal(trade.TradeValue, 4)},
                        {"TradeID", trade.TradeID}}))
            return false;
        if (!WriteRemark(trade)) return false;
        double left = 0;
        if (!ReplayHolding(HoldingKey::Of(trade), left)) return false;
        if (left < 0) return Fail("修改后持仓份额将小于0");
        if (!RecomputeHolding(trade, false) || !KeepIncomeBesideTrades(HoldingKey::Of(trade), beside)) return false;
        if (!Commit(trans, trade.AccountID)) return FailDb();
    }
    // The trade is saved; the user hears when the figures could not follow.
    bool recomputed = RefreshAccount(trade.AccountID);
    recomputed = LoadHoldings(trade.AccountID) && recomputed;
    recomputed = RecomputeCostValues() && recomputed;
    if (!recomputed)
        Warn("持仓和买入均价重新计算失败:");
    return true;
}

// A money-market holding's income is added to its cash sum as the service
// reports it, not booked as trades: rebuilding the sum from the cash
// dividend trades would lose it.
double CAccountManager::IncomeBesideTrades(const HoldingKey& key)
{
    double cash = 0, booked = 0;
    m_db.QueryDouble("SELECT CashBonus FROM T_Fund_Trade WHERE" + key.Where(), cash);
    m_db.QueryDouble("SELECT SUM(TradeMoney) FROM T_Trade_Info WHERE" + key.Where() + "AND TradeState=1 AND TradeType=7",
                     booked);
    return Round2(cash - booked);
}

bool CAccountManager::KeepIncomeBesideTrades(const HoldingKey& key, double income)
{
    return income == 0 || ExecOnHolding("UPDATE T_Fund_Trade SET CashBonus=CashBonus+?", {{"CashBonus", income}}, key);
}

bool CAccountManager::CancelTrade(const TradeInfo& trade)
{
    if (m_offline) return Fail(kOffline);
    std::string error;
    const int id = trade.TradeID, accountId = trade.AccountID;  // the caller's record may be the entry erased
    if (!m_services || !m_services->CancelTrade(id, error)) return Fail(error);
    DropCancelledTrade(accountId, id);
    return true;
}

void CAccountManager::DropCancelledTrade(int accountId, int tradeId)
{
    ChangeScope scope(*this);
    if (AccountInfo* a = FindAccount(accountId)) a->trades.erase(tradeId);
    Changed(accountId);
}

}  // namespace vextal

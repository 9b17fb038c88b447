#include "app/LoginBookAnswers.h"

#include "book/BookTypes.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/CommandProtocol.h"

namespace vextal {

std::vector<LoginHolding> ReadLoginHoldings(CAdoDatabase& db, int userId, const IFundDirectory& funds)
{
    std::vector<LoginHolding> holdings;
    RecordsetPtr rs = db.OpenRecordsetEx(StrFormat(
        "SELECT FundID,BonusType,TotalCount,LastBonus,LastTrade FROM T_Fund_Trade WHERE AccountID IN (SELECT "
        "AccountID FROM T_Account_Info WHERE UserID=%d)",
        userId));
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        LoginHolding h;
        // Read as the bookkeeping reads them, so its questions match these.
        decltype(FundTradeInfo::TotalCount) count = 0;
        db.GetFieldValue(rs, "FundID", h.FundID);
        db.GetFieldValue(rs, "BonusType", h.BonusType);
        db.GetFieldValue(rs, "TotalCount", count);
        db.GetFieldValue(rs, "LastTrade", h.LastTrade);
        if (!db.GetFieldValue(rs, "LastBonus", h.DividendStart)) h.DividendStart = h.LastTrade;
        h.TotalCount = count;
        h.MoneyMarket = funds.IsMoneyMarketFund(h.FundID);
        holdings.push_back(std::move(h));
    }
    return holdings;
}

std::shared_ptr<CLoginBookAnswers> CLoginBookAnswers::Fetch(IBookServices& service,
                                                            const std::vector<LoginHolding>& holdings,
                                                            const std::atomic<bool>& cancelled)
{
    auto answers = std::make_shared<CLoginBookAnswers>();
    for (const LoginHolding& h : holdings) {
        if (cancelled) break;
        answers->m_moneyMarket[h.FundID] = h.MoneyMarket;
        if (h.MoneyMarket) {
            IncomeQuery key{h.FundID, h.LastTrade.dt, h.TotalCount};
            if (answers->m_income.count(key)) continue;
            Income& in = answers->m_income[key];
            in.result = service.QueryMoneyIncome(h.FundID, h.LastTrade, Clock::Now(),
                                                 static_cast<float>(h.TotalCount), in.amount, in.date, in.error);
            ++answers->m_requests;
            continue;
        }
        if (h.TotalCount <= 0) continue;
        HoldingQuery key{h.FundID, h.DividendStart.dt, h.TotalCount, h.BonusType};
        if (answers->m_dividends.count(key)) continue;
        Dividends& d = answers->m_dividends[key];
        d.result = service.QueryDividends(h.FundID, h.DividendStart, Clock::Now(), static_cast<float>(h.TotalCount),
                                          h.BonusType, d.items, d.error);
        ++answers->m_requests;
        if (d.result != kDividendOk || h.BonusType == kBonusCash) continue;
        // A reinvested dividend is booked as a purchase at that day's NAV.
        for (const DividendItem& item : d.items) {
            if (item.BookDate <= h.DividendStart || cancelled) continue;
            PriceQuery pk{h.FundID, item.BookDate.dt};
            if (answers->m_prices.count(pk)) continue;
            Price& p = answers->m_prices[pk];
            p.ok = service.GetFundTradeValue(h.FundID, item.BookDate, p.value, p.deal, p.error);
            ++answers->m_requests;
        }
    }
    return answers;
}

bool CLoginBookAnswers::GetFundTradeValue(const std::string& fundId, const OleDate& tradeTime, float& value,
                                          OleDate& dealTime, std::string& error)
{
    auto it = m_prices.find({fundId, tradeTime.dt});
    if (it == m_prices.end()) {
        error = kSendRequestError;
        return false;
    }
    if (!it->second.ok) {
        error = it->second.error;
        return false;
    }
    value = it->second.value;
    dealTime = it->second.deal;
    return true;
}

int CLoginBookAnswers::QueryDividends(const std::string& fundId, const OleDate& start, const OleDate&, float shares,
                                      int bonusType, std::vector<DividendItem>& items, std::string& error)
{
    auto mm = m_moneyMarket.find(fundId);
    if (mm != m_moneyMarket.end() && mm->second) return kDividendOk;  // its income query covers it
    auto it = m_dividends.find({fundId, start.dt, static_cast<double>(shares), bonusType});
    if (it == m_dividends.end()) {
        error = kSendRequestError;
        return kDividendRequestFailed;
    }
    items = it->second.items;
    error = it->second.error;
    return it->second.result;
}

int CLoginBookAnswers::QueryMoneyIncome(const std::string& fundId, const OleDate& start, const OleDate&, float shares,
                                        float& amount, OleDate& date, std::string& error)
{
    auto it = m_income.find({fundId, start.dt, static_cast<double>(shares)});
    if (it == m_income.end()) {
        error = kSendRequestError;
        return kDividendRequestFailed;
    }
    amount = it->second.amount;
    date = it->second.date;
    error = it->second.error;
    return it->second.result;
}

bool CLoginBookAnswers::GetLatestValue(const std::string&, float&, OleDate&, std::string& error)
{
    error = kSendRequestError;
    return false;
}

bool CLoginBookAnswers::CancelTrade(int, std::string& error)
{
    error = kSendRequestError;
    return false;
}

}  // namespace vextal

#include "app/LoginBookAnswers.h"

#include <algorithm>
#include <thread>

#include "book/BookTypes.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "net/HttpTransport.h"

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
                                                            const std::atomic<bool>& cancelled, int parallel)
{
    // The same question asked once: holdings that ask it alike go to one asker.
    std::map<std::string, std::vector<const LoginHolding*>> byFund;
    for (const LoginHolding& h : holdings) byFund[h.FundID].push_back(&h);
    std::vector<const std::vector<const LoginHolding*>*> funds;
    for (const auto& [fund, list] : byFund) funds.push_back(&list);
    const size_t askers = static_cast<size_t>(std::max(1, std::min<int>(parallel, static_cast<int>(funds.size()))));
    // Each asker takes the next fund when its last is answered, so one slow
    // answer does not hold back a share of the others.
    std::atomic<size_t> next{0};
    std::vector<std::shared_ptr<CLoginBookAnswers>> parts(askers);
    auto ask = [&](size_t k) {
        parts[k] = std::make_shared<CLoginBookAnswers>();
        for (size_t f = next++; f < funds.size() && !cancelled; f = next++)
            for (const LoginHolding* h : *funds[f]) {
                if (cancelled) break;
                parts[k]->Ask(service, *h, cancelled);
            }
    };
    std::vector<std::thread> helpers;
    for (size_t k = 1; k < askers; ++k)
        helpers.emplace_back([&ask, &cancelled, k] {
            // A helper's requests give up with the job's.
            CHttpCancelScope scope(&cancelled);
            ask(k);
        });
    ask(0);
    for (std::thread& t : helpers) t.join();
    for (size_t k = 1; k < askers; ++k) parts[0]->Merge(*parts[k]);
    return parts[0];
}

void CLoginBookAnswers::Merge(CLoginBookAnswers& other)
{
    m_dividends.merge(other.m_dividends);
    m_moneyMarket.merge(other.m_moneyMarket);
    m_income.merge(other.m_income);
    m_prices.merge(other.m_prices);
    m_requests += other.m_requests;
}

void CLoginBookAnswers::Ask(IBookServices& service, const LoginHolding& h, const std::atomic<bool>& cancelled)
{
    m_moneyMarket[h.FundID] = h.MoneyMarket;
    if (h.MoneyMarket) {
        // The income since the last answer, on the shares held now.
        if (h.TotalCount <= 0) return;
        IncomeQuery key{h.FundID, h.DividendStart.dt, h.TotalCount};
        if (m_income.count(key)) return;
        Income& in = m_income[key];
        in.result = service.QueryMoneyIncome(h.FundID, h.DividendStart, Clock::Now(), h.TotalCount, in.amount, in.date,
                                             in.error);
        ++m_requests;
        return;
    }
    if (h.TotalCount <= 0) return;
    HoldingQuery key{h.FundID, h.DividendStart.dt, h.TotalCount, h.BonusType};
    if (m_dividends.count(key)) return;
    Dividends& d = m_dividends[key];
    d.result = service.QueryDividends(h.FundID, h.DividendStart, Clock::Now(), h.TotalCount, h.BonusType, d.items,
                                      d.error);
    ++m_requests;
    if (d.result != kDividendOk || h.BonusType == kBonusCash) return;
    // A reinvested dividend is booked as a purchase at that day's NAV.
    for (const DividendItem& item : d.items) {
        if (item.BookDate <= h.DividendStart || cancelled) continue;
        PriceQuery pk{h.FundID, item.BookDate.dt};
        if (m_prices.count(pk)) continue;
        Price& p = m_prices[pk];
        p.ok = service.GetFundTradeValue(h.FundID, item.BookDate, p.value, p.deal, p.error);
        ++m_requests;
    }
}

bool CLoginBookAnswers::GetFundTradeValue(const std::string& fundId, const OleDate& tradeTime, double& value,
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

int CLoginBookAnswers::QueryDividends(const std::string& fundId, const OleDate& start, const OleDate&, double shares,
                                      int bonusType, std::vector<DividendItem>& items, std::string& error)
{
    auto mm = m_moneyMarket.find(fundId);
    if (mm != m_moneyMarket.end() && mm->second) return kDividendOk;  // its income query covers it
    auto it = m_dividends.find({fundId, start.dt, shares, bonusType});
    if (it == m_dividends.end()) {
        error = kSendRequestError;
        return kDividendRequestFailed;
    }
    items = it->second.items;
    error = it->second.error;
    return it->second.result;
}

int CLoginBookAnswers::QueryMoneyIncome(const std::string& fundId, const OleDate& start, const OleDate&, double shares,
                                        double& amount, OleDate& date, std::string& error)
{
    auto it = m_income.find({fundId, start.dt, shares});
    if (it == m_income.end()) {
        error = kSendRequestError;
        return kDividendRequestFailed;
    }
    amount = it->second.amount;
    date = it->second.date;
    error = it->second.error;
    return it->second.result;
}

bool CLoginBookAnswers::GetLatestValue(const std::string&, double&, OleDate&, std::string& error)
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

#pragma once
// The service answers of the first account load after login, asked on a
// worker before the bookkeeping books from them on the document's thread:
// the dividends of every holding with shares (not of money-market funds,
// whose income query covers them), the confirming NAV of every dividend
// that is to be reinvested, and the income of every money-market holding,
// each asked once. The bookkeeping sees them through its usual service
// interface; a question nobody asked beforehand is refused without a request,
// so the window's thread never waits on the network.
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "book/BookServices.h"
#include "db/AdoDatabase.h"

namespace vextal {

// One row of T_Fund_Trade as the account load reads it.
struct LoginHolding {
    std::string FundID;
    int BonusType = 0;
    double TotalCount = 0;
    OleDate DividendStart;  // LastBonus, or LastTrade when none was booked yet (dividends and income start there)
    OleDate LastTrade;
    bool MoneyMarket = false;
};

// The user's holdings, read on the document's thread.
std::vector<LoginHolding> ReadLoginHoldings(CAdoDatabase& db, int userId, const IFundDirectory& funds);

class CLoginBookAnswers : public IBookServices {
public:
    // Asks `service` from the calling thread and `parallel` - 1 more (the
    // service must then take questions from several threads at once); each
    // stops before its next request once `cancelled` is set.
    static std::shared_ptr<CLoginBookAnswers> Fetch(IBookServices& service, const std::vector<LoginHolding>& holdings,
                                                    const std::atomic<bool>& cancelled, int parallel = 1);
    size_t RequestCount() const { return m_requests; }

    bool GetFundTradeValue(const std::string& fundId, const OleDate& tradeTime, double& value, OleDate& dealTime,
                           std::string& error) override;
    int QueryDividends(const std::string& fundId, const OleDate& start, const OleDate& end, double shares,
                       int bonusType, std::vector<DividendItem>& items, std::string& error) override;
    int QueryMoneyIncome(const std::string& fundId, const OleDate& start, const OleDate& end, double shares,
                         double& amount, OleDate& date, std::string& error) override;
    bool GetLatestValue(const std::string& fundId, double& value, OleDate& valueDate, std::string& error) override;
    bool CancelTrade(int tradeId, std::string& error) override;

private:
    void Ask(IBookServices& service, const LoginHolding& h, const std::atomic<bool>& cancelled);
    void Merge(CLoginBookAnswers& other);

    using HoldingQuery = std::tuple<std::string, double, double, int>;  // fund, start, shares, dividend mode
    using IncomeQuery = std::tuple<std::string, double, double>;        // fund, start, shares
    using PriceQuery = std::tuple<std::string, double>;                  // fund, trade time
    struct Dividends {
        int result = kDividendOk;
        std::vector<DividendItem> items;
        std::string error;
    };
    struct Income {
        int result = kDividendOk;
        double amount = 0;
        OleDate date;
        std::string error;
    };
    struct Price {
        bool ok = false;
        double value = 0;
        OleDate deal;
        std::string error;
    };
    std::map<HoldingQuery, Dividends> m_dividends;
    std::map<std::string, bool> m_moneyMarket;
    std::map<IncomeQuery, Income> m_income;
    std::map<PriceQuery, Price> m_prices;
    size_t m_requests = 0;
};

}  // namespace vextal

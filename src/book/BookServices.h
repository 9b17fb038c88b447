#pragma once
// What the bookkeeping engine needs from outside the local database: the
// service's answers (prices that confirm trades, dividends, money-market
// income, latest values, cancellation) and the local fund data (catalogue
// and latest-value cache). The document wires in the real ones; tests use
// their own.
#include <string>
#include <vector>

#include "book/BookTypes.h"
#include "common/OleDate.h"

namespace vextal {

// Results of the dividend queries.
enum DividendQueryResult { kDividendOk = 0, kDividendOffline = -1, kDividendRequestFailed = -2, kDividendMalformed = -5 };

class IBookServices {
public:
    virtual ~IBookServices() = default;
    // The NAV that confirms a trade placed at tradeTime and the date of that NAV.
    virtual bool GetFundTradeValue(const std::string& fundId, const OleDate& tradeTime, double& value,
                                   OleDate& dealTime, std::string& error) = 0;
    // Dividends of a fund between two dates for a share count and dividend mode.
    virtual int QueryDividends(const std::string& fundId, const OleDate& start, const OleDate& end, double shares,
                               int bonusType, std::vector<DividendItem>& items, std::string& error) = 0;
    // Accumulated income of a money-market holding up to `end`, and its date.
    virtual int QueryMoneyIncome(const std::string& fundId, const OleDate& start, const OleDate& end, double shares,
                                 double& amount, OleDate& date, std::string& error) = 0;
    // The fund's latest value as the service reports it.
    virtual bool GetLatestValue(const std::string& fundId, double& value, OleDate& valueDate, std::string& error) = 0;
    // Asks the service to cancel a trade.
    virtual bool CancelTrade(int tradeId, std::string& error) = 0;
    // The fund's NAV growth in percent between two dates and the CSI 300
    // growth over them.
    virtual bool QueryIntervalFigures(const std::string&, const OleDate&, const OleDate&, double&, double&,
                                      std::string& error)
    {
        error = "GetFundIntervalFromServer():数据格式错误";
        return false;
    }
    // The bookkeeping text kept at the service: upload (createNew: 4/7,
    // else 4/6) and download.
    virtual bool UploadBookkeeping(const std::string&, bool, std::string& error)
    {
        error = "发送请求错误，请检查网络是否可用";
        return false;
    }
    virtual bool DownloadBookkeeping(int, std::string&, std::string& error)
    {
        error = "发送请求错误，请检查网络是否可用";
        return false;
    }
    // The user's fixed-investment plans (an empty list is no failure), and
    // saving one; plannedPeriods -1 asks the service to delete it.
    virtual bool ListPlans(int, std::vector<PlanInfo>&, std::string& error)
    {
        error = "发送请求错误，请检查网络是否可用";
        return false;
    }
    virtual bool SavePlan(int, const PlanInfo&, int, std::string& error)
    {
        error = "发送请求错误，请检查网络是否可用";
        return false;
    }
};

struct LatestNav {
    double TodayValue = 0;  // money-market: income per 10,000 units
    double VarPercent = 0;
    double VarValue = 0;
    OleDate ValueDate;
    bool Estimate = false;  // today's real-time estimate, not a published value
};

class IFundDirectory {
public:
    virtual ~IFundDirectory() = default;
    // Investment type 4: booked at 1.0 without fee.
    virtual bool IsMoneyMarketFund(const std::string& fundId) const = 0;
    // False for a fund the catalogue does not know: it is not booked.
    virtual bool IsKnownFund(const std::string&) const { return true; }
    // The fund's establishment date (its creation date in the catalogue).
    virtual bool GetEstablishDate(const std::string& fundId, OleDate& date) const = 0;
    // The latest value the program holds for the fund.
    virtual bool GetLatestNav(const std::string& fundId, LatestNav& nav) const = 0;
    // Cash dividends per share of the fund's dividend history after `from`
    // up to `to`.
    virtual double GetDividendsPerShare(const std::string&, const OleDate&, const OleDate&) const { return 0; }
    // The day the latest values are expected for now; false when unknown.
    virtual bool GetCurrentValueDate(OleDate&) const { return false; }
};

}  // namespace vextal

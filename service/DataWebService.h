#pragma once
// The data web service (holdings, calibrated estimates, splits) and the
// quote site of plindo-serve, over the market. Each function
// gives the whole answer text in GBK; no HTTP here.
#include <map>
#include <string>

#include "MarketSimulator.h"

namespace vextal {
// Text made safe inside XML and HTML (elements and quoted attributes).
std::string XmlEscape(const std::string& text);
}  // namespace vextal

namespace vextal {

class CDataWebService {
public:
    explicit CDataWebService(const CMarket& market);

    // The fund's ten holdings in force today: StockID, StockName,
    // InvestPercent ("%0.2f") and the stock's Industry, largest first; none
    // for an unknown fund or one without stocks.
    std::string FundInvestInfo(const std::string& fundId) const;
    // One FundInvestInfo per code of the "|"-joined list, in the order sent:
    // StockID the code, StockName the fund name, InvestPercent the
    // calibrated estimate (see Calibrate).
    std::string CalcResult(const std::string& fundIdList, const std::string& rawList) const;
    // Split records: typeFlag 1 only the latest, anything else all.
    std::string SplitInfo(const std::string& fundId, int typeFlag) const;
    // The 39-field quote of a stock at the service clock; false for an
    // unknown code.
    bool QuotePage(const std::string& stockId, std::string& page) const;

    // The calibrated estimate of today's change in percent from the raw
    // estimate (the holdings' weighted stock changes).
    double Calibrate(const MarketFund& fund, double raw, const OleDate& now) const;

private:
    const CMarket& m_market;
};

}  // namespace vextal

#pragma once
// The bookkeeping's questions to the Plindo service, over the client commands.
#include <functional>

#include "book/BookServices.h"
#include "net/ClientCommands.h"

namespace vextal {

class CBookServiceClient : public IBookServices {
public:
    // The context is asked for at every request: the login id changes at login.
    explicit CBookServiceClient(std::function<CommandContext()> context) : m_context(std::move(context)) {}

    bool GetFundTradeValue(const std::string& fundId, const OleDate& tradeTime, double& value, OleDate& dealTime,
                           std::string& error) override;
    int QueryDividends(const std::string& fundId, const OleDate& start, const OleDate& end, double shares,
                       int bonusType, std::vector<DividendItem>& items, std::string& error) override;
    int QueryMoneyIncome(const std::string& fundId, const OleDate& start, const OleDate& end, double shares,
                         double& amount, OleDate& date, std::string& error) override;
    bool GetLatestValue(const std::string& fundId, double& value, OleDate& valueDate, std::string& error) override;
    bool CancelTrade(int tradeId, std::string& error) override;
    bool QueryIntervalFigures(const std::string& fundId, const OleDate& from, const OleDate& to, double& fundGrowth,
                              double& indexGrowth, std::string& error) override;
    bool UploadBookkeeping(const std::string& text, bool createNew, std::string& error) override;
    bool DownloadBookkeeping(int userId, std::string& text, std::string& error) override;
    bool ListPlans(int userId, std::vector<PlanInfo>& plans, std::string& error) override;
    bool SavePlan(int userId, const PlanInfo& plan, int plannedPeriods, std::string& error) override;

private:
    std::function<CommandContext()> m_context;
};

}  // namespace vextal

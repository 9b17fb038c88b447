#include "book/BookServiceClient.h"

#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "wire/PlanRecords.h"
#include "wire/ValueRecords.h"

namespace vextal {

namespace {

int DividendResult(const CommandReply& reply)
{
    switch (reply.status) {
    case CommandStatus::Ok: return kDividendOk;
    case CommandStatus::SendFailed: return kDividendRequestFailed;
    case CommandStatus::Refused: return kDividendOffline;
    case CommandStatus::BadFormat: return kDividendMalformed;
    }
    return kDividendMalformed;
}

// A fund without dividends in the range answers with an empty list: return
// code 0 and an empty message. An answer without its message (cut short, a
// proxy's page) is no answer at all.
bool EmptyList(const CommandReply& reply)
{
    return reply.status == CommandStatus::BadFormat && reply.payloadFound && reply.ret == 0 && reply.msg.empty();
}

}  // namespace

bool CBookServiceClient::GetFundTradeValue(const std::string& fundId, const OleDate& tradeTime, double& value,
                                           OleDate& dealTime, std::string& error)
{
    const std::string op = "GetFundTradeValueFormServer";
    CommandReply reply = SendTradeValue(m_context().For(op), fundId, tradeTime);
    if (!reply.ok()) {
        error = reply.error;
        return false;
    }
    if (!ReadTradeNav(reply.fields, value, dealTime)) {
        error = op + "():数据格式错误";
        return false;
    }
    return true;
}

int CBookServiceClient::QueryDividends(const std::string& fundId, const OleDate& start, const OleDate& end,
                                       double shares, int bonusType, std::vector<DividendItem>& items,
                                       std::string& error)
{
    CommandReply reply = SendDividendQuery(m_context(), fundId, start, end, shares, bonusType);
    if (EmptyList(reply)) return kDividendOk;
    if (!reply.ok()) {
        error = reply.error;
        return DividendResult(reply);
    }
    std::vector<CFundBonus> records;
    if (!ReadDividendRecords(reply.fields, records)) {
        error = "SendDividendQuery():数据格式错误";
        items.clear();
        return kDividendMalformed;
    }
    for (const CFundBonus& b : records) items.push_back({b.BonusValue, b.RecordDate, b.BonusDate, b.SubtractDate});
    return kDividendOk;
}

int CBookServiceClient::QueryMoneyIncome(const std::string& fundId, const OleDate& start, const OleDate& end,
                                         double shares, double& amount, OleDate& date, std::string& error)
{
    CommandReply reply = SendMoneyIncomeQuery(m_context(), fundId, start, end, shares);
    if (!reply.ok()) {
        error = reply.error;
        return DividendResult(reply);
    }
    if (!ReadMoneyIncome(reply.fields, amount, date)) {
        error = "SendMoneyIncomeQuery():数据格式错误";
        return kDividendMalformed;
    }
    return kDividendOk;
}

bool CBookServiceClient::GetLatestValue(const std::string& fundId, double& value, OleDate& valueDate,
                                        std::string& error)
{
    const std::string op = "GetFundNewValueFormServer";
    CommandReply reply = SendLatestValue(m_context().For(op), fundId);
    if (!reply.ok()) {
        error = reply.error;
        return false;
    }
    CFundValue latest;
    if (!ReadLatestNav(reply.fields, 0, latest)) {
        error = op + "():数据格式错误";
        return false;
    }
    value = latest.TodayValue;
    valueDate = latest.ValueDate;
    return true;
}

bool CBookServiceClient::CancelTrade(int tradeId, std::string& error)
{
    CommandReply reply = SendTradeCancel(m_context(), tradeId);
    if (!reply.ok()) {
        error = reply.error;
        return false;
    }
    return true;
}

bool CBookServiceClient::QueryIntervalFigures(const std::string& fundId, const OleDate& from, const OleDate& to,
                                              double& fundGrowth, double& indexGrowth, std::string& error)
{
    const std::string op = "GetFundIntervalFromServer";
    CommandReply reply = SendIntervalFigures(m_context().For(op), fundId, from, to);
    if (!reply.ok()) {
        error = reply.error;
        return false;
    }
    if (!ReadIntervalFigures(reply.fields, fundGrowth, indexGrowth)) {
        error = op + "():数据格式错误";
        return false;
    }
    return true;
}

bool CBookServiceClient::UploadBookkeeping(const std::string& text, bool createNew, std::string& error)
{
    CommandReply reply = SendBookUpload(m_context(), text, createNew);
    if (!reply.ok()) {
        error = reply.error;
        return false;
    }
    return true;
}

bool CBookServiceClient::DownloadBookkeeping(int userId, std::string& text, std::string& error)
{
    // A user who uploaded no accounts gets an empty text; an answer cut
    // before its message ends is a failure, not an empty bookkeeping.
    CommandReply reply = SendBookDownload(m_context().For("DownloadBookkeeping"), userId);
    if (!reply.ok()) {
        error = reply.error;
        return false;
    }
    text = reply.msg;
    return true;
}

bool CBookServiceClient::ListPlans(int userId, std::vector<PlanInfo>& plans, std::string& error)
{
    plans.clear();
    CommandReply reply = SendPlanList(m_context(), userId);
    // The service answers a user without plans with return code 1.
    if (reply.status == CommandStatus::Refused && reply.ret == 1) return true;
    if (!reply.ok()) {
        error = reply.error;
        return false;
    }
    std::vector<PlanListRecord> records;
    if (!ReadPlanList(reply.fields, records)) {
        error = "SendPlanList():数据格式错误";
        return false;
    }
    for (const PlanListRecord& r : records) {
        PlanInfo p;
        TradeInfo& t = p.trade;
        t.TradeType = kTradePlan;
        t.UserID = userId;
        p.PlanID = r.PlanID;
        p.PeriodsDone = r.PeriodsDone;
        t.AccountID = r.AccountID;
        t.BuyType = r.BuyType;
        t.BonusType = r.BonusType;
        t.FundID = r.FundID;
        t.TradeMoney = r.Money;
        t.TradeFee = r.FeeRate;
        t.TradeCount = r.Day;
        t.TradeTime = r.Start;
        t.DealTime = r.LastProcessed;
        plans.push_back(std::move(p));
    }
    return true;
}

bool CBookServiceClient::SavePlan(int userId, const PlanInfo& plan, int plannedPeriods, std::string& error)
{
    const TradeInfo& t = plan.trade;
    PlanSaveData data;
    data.FundID = t.FundID;
    data.AccountID = t.AccountID;
    data.BuyType = t.BuyType;
    data.Money = t.TradeMoney;
    data.Day = t.TradeCount;
    data.FeeRate = t.TradeFee;
    data.TradeType = kTradePlan;
    data.BonusType = t.BonusType;
    data.Start = t.TradeTime;
    data.PlannedPeriods = plannedPeriods;
    data.PeriodsDone = plan.PeriodsDone;
    data.UserID = userId;
    CommandReply reply = SendPlanSave(m_context(), WritePlanSave(data));
    if (!reply.ok()) {
        error = reply.error;
        return false;
    }
    return true;
}

}  // namespace vextal

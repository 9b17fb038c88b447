#pragma once
// The fixed-investment plan as it crosses: the save command (4/32) the
// program sends and plindo-serve reads, and the plan list (4/5) the service
// writes and the program reads.
#include <string>
#include <vector>

#include "common/OleDate.h"

namespace vextal {

// 4/32, twelve fields: FundID, AccountID, BuyType, TradeMoney ("%0.2f"), the
// day of the month ("%0.2f"), the fee rate ("%0.1f"), the trade type (8),
// BonusType, the start (TradeTime, "%Y-%m-%d %H:%M:%S"), the planned
// periods (-1 deletes the plan), the periods done, the user number.
struct PlanSaveData {
    std::string FundID;
    int AccountID = 0;
    int BuyType = 0;
    double Money = 0;
    double Day = 0;
    double FeeRate = 0;
    int TradeType = 8;
    int BonusType = 0;
    OleDate Start;
    int PlannedPeriods = 0;
    int PeriodsDone = 0;
    int UserID = 0;
};
std::vector<std::string> WritePlanSave(const PlanSaveData& plan);
// False when the fields are not a save command (count, numbers, the start).
bool ReadPlanSave(const std::vector<std::string>& f, PlanSaveData& plan);

// 4/5, eleven fields a plan: plan id, account id, buy type, dividend mode,
// periods done, fund code, amount ("%0.2f"), fee rate ("%0.2f"), day, start
// date, last processed date ("%Y-%m-%d").
struct PlanListRecord {
    int PlanID = 0;
    int AccountID = 0;
    int BuyType = 0;
    int BonusType = 0;
    int PeriodsDone = 0;
    std::string FundID;
    double Money = 0;
    double FeeRate = 0;
    int Day = 0;
    OleDate Start;
    OleDate LastProcessed;
};
void WritePlanListRecord(std::vector<std::string>& out, const PlanListRecord& p);
bool ReadPlanList(const std::vector<std::string>& f, std::vector<PlanListRecord>& out);

}  // namespace vextal

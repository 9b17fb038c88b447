#include "wire/PlanRecords.h"

#include <climits>

#include "common/Format.h"

namespace vextal {

namespace {

bool Int(const std::string& f, int& out)
{
    std::optional<long long> v = ParseInteger(f);
    if (!v || *v < INT_MIN || *v > INT_MAX) return false;
    out = static_cast<int>(*v);
    return true;
}

bool Number(const std::string& f, double& out)
{
    std::optional<double> v = ParseNumber(f);
    if (!v) return false;
    out = *v;
    return true;
}

bool Date(const std::string& f, OleDate& out) { return OleDate::Parse(TrimText(f), out) && out.IsValid(); }

}  // namespace

std::vector<std::string> WritePlanSave(const PlanSaveData& p)
{
    return {p.FundID,
            std::to_string(p.AccountID),
            std::to_string(p.BuyType),
            FormatFixed(p.Money, 2),
            FormatFixed(p.Day, 2),
            FormatFixed(p.FeeRate, 1),
            std::to_string(p.TradeType),
            std::to_string(p.BonusType),
            p.Start.Format(0),
            std::to_string(p.PlannedPeriods),
            std::to_string(p.PeriodsDone),
            std::to_string(p.UserID)};
}

bool ReadPlanSave(const std::vector<std::string>& f, PlanSaveData& p)
{
    if (f.size() != 12) return false;
    p.FundID = TrimText(f[0]);
    return Int(f[1], p.AccountID) && Int(f[2], p.BuyType) && Number(f[3], p.Money) && Number(f[4], p.Day) &&
           Number(f[5], p.FeeRate) && Int(f[6], p.TradeType) && Int(f[7], p.BonusType) && Date(f[8], p.Start) &&
           Int(f[9], p.PlannedPeriods) && Int(f[10], p.PeriodsDone) && Int(f[11], p.UserID);
}

void WritePlanListRecord(std::vector<std::string>& out, const PlanListRecord& p)
{
    for (std::string v : {std::to_string(p.PlanID), std::to_string(p.AccountID), std::to_string(p.BuyType),
                          std::to_string(p.BonusType), std::to_string(p.PeriodsDone), p.FundID,
                          FormatFixed(p.Money, 2), FormatFixed(p.FeeRate, 2), std::to_string(p.Day), p.Start.Format(3),
                          p.LastProcessed.Format(3)})
        out.push_back(std::move(v));
}

bool ReadPlanList(const std::vector<std::string>& f, std::vector<PlanListRecord>& out)
{
    out.clear();
    if (f.size() % 11) return false;
    for (size_t i = 0; i < f.size(); i += 11) {
        PlanListRecord p;
        p.FundID = TrimText(f[i + 5]);
        if (!Int(f[i], p.PlanID) || !Int(f[i + 1], p.AccountID) || !Int(f[i + 2], p.BuyType) ||
            !Int(f[i + 3], p.BonusType) || !Int(f[i + 4], p.PeriodsDone) || p.FundID.empty() ||
            !Number(f[i + 6], p.Money) || !Number(f[i + 7], p.FeeRate) || !Int(f[i + 8], p.Day) ||
            !Date(f[i + 9], p.Start) || !Date(f[i + 10], p.LastProcessed))
            return out.clear(), false;
        out.push_back(std::move(p));
    }
    return true;
}

}  // namespace vextal

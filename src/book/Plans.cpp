// Fixed-investment plans: kept at the service, held in memory while the
// program runs, and turned into purchases (trade type 9) as they fall due.
#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/NumberInput.h"

#include <cmath>

namespace vextal {

namespace {

// The plan's day, or the month's last day when the month is shorter.
bool IsDue(const OleDate& date, int planDay)
{
    const DateParts p = date.Parts();
    const int last = DaysInMonth(p.year, p.month);
    return p.day == planDay || (planDay > last && p.day == last);
}

// A plan read or saved without a processed day has processed none before its start.
OleDate LastProcessed(const PlanInfo& plan)
{
    return plan.trade.DealTime.IsValid() && plan.trade.DealTime.dt != 0 ? plan.trade.DealTime.DateOnly()
                                                                         : plan.trade.TradeTime.DateOnly().AddDays(-1);
}

}  // namespace

bool CAccountManager::LoadPlans()
{
    if (m_offline) return Fail("此功能在脱机模式下不可用");
    if (!m_services) return Fail("发送请求错误，请检查网络是否可用");
    std::vector<PlanInfo> plans;
    std::string error;
    if (!m_services->ListPlans(m_userId, plans, error)) return Fail(error);
    SetPlans(std::move(plans));
    return true;
}

void CAccountManager::SetPlans(std::vector<PlanInfo> plans)
{
    m_plans.clear();
    for (PlanInfo& p : plans) {
        p.trade.TradeType = kTradePlan;
        p.trade.UserID = m_userId;
        m_plans[{p.trade.AccountID, p.trade.FundID}] = std::move(p);
    }
}

bool CAccountManager::ProcessPlan(PlanInfo& plan)
{
    ChangeScope scope(*this);
    const int day = static_cast<int>(plan.trade.TradeCount);
    const OleDate today = Clock::Now().DateOnly();
    bool ok = true;
    int booked = 0;
    // A start date moved past the processed days still opens the first due day.
    OleDate first = LastProcessed(plan).AddDays(1);
    const OleDate start = plan.trade.TradeTime.DateOnly();
    if (start.IsValid() && first < start) first = start;
    // No purchase falls due before the fund's first NAV.
    OleDate established;
    if (m_funds && m_funds->GetEstablishDate(plan.trade.FundID, established) && first < established.DateOnly())
        first = established.DateOnly();
    for (OleDate d = first; d <= today; d = d.AddDays(1)) {
        if (!IsDue(d, day)) continue;
        // A purchase of this day already in the books, whose progress never
        // reached the service, counts as done instead of being booked twice.
        const HoldingKey key{plan.trade.AccountID, plan.trade.FundID, plan.trade.BuyType};
        if (m_db.GetRecordCount("SELECT TradeID FROM T_Trade_Info WHERE" + key.Where() +
                                StrFormat("AND TradeType=%d AND TradeTime>=#%s# AND TradeTime<#%s#", kTradePlanBuy,
                                          d.Format(0).c_str(), d.AddDays(1).Format(0).c_str())) > 0) {
            ++plan.PeriodsDone;
            plan.trade.DealTime = d;
            ++booked;
            continue;
        }
        TradeInfo buy;
        buy.TradeType = kTradePlanBuy;
        buy.TradeTime = d;
        buy.TradeMoney = plan.trade.TradeMoney;
        buy.TradeFee = plan.trade.TradeFee;
        buy.InnerDeduction = 0;  // the plan's fee is added on top
        buy.BuyType = plan.trade.BuyType;
        buy.BonusType = plan.trade.BonusType;
        buy.AccountID = plan.trade.AccountID;
        buy.FundID = plan.trade.FundID;
        buy.TradeCount = 0;
        if (BookTrade(buy) < 0) {
            ok = false;
            break;
        }
        ++plan.PeriodsDone;
        plan.trade.DealTime = d;
        ++booked;
    }
    if (booked) {
        const std::string bookingError = m_lastError;
        std::string error;
        if (!m_services || !m_services->SavePlan(m_userId, plan, plan.PlannedPeriods, error)) {
            // The purchases are booked; the service hears of them at the next save.
            if (ok) return Fail(error);
        }
        m_lastError = bookingError;
    }
    return ok;
}

bool CAccountManager::ProcessPlans()
{
    ChangeScope scope(*this);
    bool ok = true;
    for (auto& [key, plan] : m_plans)
        // Plans of accounts this database does not have stay as they are.
        if (FindAccount(key.first)) ok = ProcessPlan(plan) && ok;
    return ok;
}

int CAccountManager::SavePlan(PlanInfo& plan)
{
    ChangeScope scope(*this);
    m_lastError.clear();
    if (m_offline) return Fail("此功能在脱机模式下不可用"), -1;
    // The dialog's checks again: a plan stored at the service books by itself for years.
    const TradeInfo& t = plan.trade;
    if (!(t.TradeFee >= 0 && t.TradeFee <= 100)) return Fail("定投费率不能小于0"), -1;
    if (!(t.TradeMoney > 0 && t.TradeMoney <= kMaxFigure)) return Fail("定投金额不能小于0"), -1;
    if (!(t.TradeCount >= 1 && t.TradeCount <= 31 && t.TradeCount == std::trunc(t.TradeCount)))
        return Fail("定投日期范围:1 ~ 31"), -1;
    if (!m_services) return Fail("发送请求错误，请检查网络是否可用"), -1;
    plan.trade.TradeType = kTradePlan;
    plan.trade.UserID = m_userId;
    const PlanKey key{plan.trade.AccountID, plan.trade.FundID};
    auto it = m_plans.find(key);
    // A new plan starts unprocessed; a changed one keeps its progress.
    if (it == m_plans.end()) {
        plan.PeriodsDone = 0;
        plan.trade.DealTime = plan.trade.TradeTime.DateOnly().AddDays(-1);
    } else {
        plan.PlanID = it->second.PlanID;
        plan.PeriodsDone = it->second.PeriodsDone;
        plan.trade.DealTime = it->second.trade.DealTime;
    }
    // Stored first, new or not: a plan with nothing due yet must still be kept.
    std::string error;
    if (!m_services->SavePlan(m_userId, plan, plan.PlannedPeriods, error)) return Fail(error), -1;
    const bool processed = ProcessPlan(plan);
    m_plans[key] = plan;
    return processed ? 0 : 1;
}

bool CAccountManager::DeletePlan(const PlanInfo& plan)
{
    if (m_offline) return Fail("此功能在脱机模式下不可用");
    if (!m_services) return Fail("发送请求错误，请检查网络是否可用");
    std::string error;
    if (!m_services->SavePlan(m_userId, plan, -1, error)) return Fail(error);
    m_plans.erase({plan.trade.AccountID, plan.trade.FundID});
    return true;
}

}  // namespace vextal

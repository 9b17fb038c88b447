#include "estimate/EstimateErrors.h"

#include <algorithm>
#include <cmath>

#include "common/Format.h"

namespace vextal {

OleDate ErrorWindowStart(const OleDate& now, int days)
{
    OleDate day = now.DateOnly();
    if (days <= 0) return day;
    for (int counted = 0;; day = day.AddDays(-1)) {
        if (!day.IsWeekend() && ++counted == days) return day;
    }
}

double MeanAbs(const std::vector<double>& errors)
{
    double sum = 0;
    for (double e : errors) sum += std::fabs(e);
    return errors.empty() ? 0 : sum / static_cast<double>(errors.size());
}

double ErrorScale(const std::vector<double>& errors)
{
    double largest = 0;
    for (double e : errors) largest = std::max(largest, std::fabs(e));
    // The small slack keeps 0.3 (read as 0.30000000000000004) at 0.3.
    return std::max(0.1, std::ceil(largest * 10 - 1e-9) / 10);
}

bool CEstimateErrors::RecordRun(const std::map<std::string, float>& estimates, const OleDate& day,
                                const OleDate& at)
{
    if (estimates.empty() || !day.IsValid() || at.DateOnly() != day.DateOnly() || at.Hour() >= kMarketCloseHour)
        return true;
    std::vector<EstimateOutcome> rows;
    for (const auto& [fund, estimate] : estimates) rows.push_back({fund, day.DateOnly(), estimate, 0});
    CAdoTransaction trans(m_db);
    if (!trans.IsActive()) return false;
    for (const EstimateOutcome& o : rows) {
        const std::string where = " WHERE FundID=" + SqlQuote(o.FundID) +
                                  " AND ValueDate=" + m_db.LiteralOf(FieldValue("", o.Day));
        if (!m_db.Execute("DELETE FROM T_Fund_Estimate" + where)) return false;
        FieldValueList fields = {FieldValue("FundID", o.FundID), FieldValue("ValueDate", o.Day),
                                 FieldValue("Estimate", static_cast<double>(o.Estimate)), FieldValue("Published", 0.0),
                                 FieldValue("EstimateTime", at), FieldValue("Compared", 0)};
        if (!m_db.InsertRecord("T_Fund_Estimate", fields)) return false;
    }
    return trans.Commit();
}

bool CEstimateErrors::Record(const std::vector<EstimateOutcome>& outcomes)
{
    if (outcomes.empty()) return true;
    CAdoTransaction trans(m_db);
    if (!trans.IsActive()) return false;
    for (const EstimateOutcome& o : outcomes) {
        const std::string day = m_db.LiteralOf(FieldValue("", o.Day.DateOnly()));
        if (!m_db.Execute("DELETE FROM T_Fund_Estimate WHERE FundID=" + SqlQuote(o.FundID) + " AND ValueDate=" + day))
            return false;
        FieldValueList fields = {FieldValue("FundID", o.FundID), FieldValue("ValueDate", o.Day.DateOnly()),
                                 FieldValue("Estimate", static_cast<double>(o.Estimate)),
                                 FieldValue("Published", o.Published), FieldValue("Compared", 1)};
        if (!m_db.InsertRecord("T_Fund_Estimate", fields)) return false;
    }
    return trans.Commit();
}

std::map<std::string, OleDate> CEstimateErrors::Waiting(const OleDate& now)
{
    std::map<std::string, OleDate> waiting;
    const OleDate today = now.DateOnly();
    // Today's NAV comes in the evening at the earliest.
    const OleDate last = now.Hour() >= kMarketCloseHour ? today : today.AddDays(-1);
    RecordsetPtr rs = m_db.OpenRecordsetEx(
        "SELECT FundID,ValueDate FROM T_Fund_Estimate WHERE Compared=0 AND ValueDate>=" +
        m_db.LiteralOf(FieldValue("", ErrorWindowStart(now))) + " AND ValueDate<=" +
        m_db.LiteralOf(FieldValue("", last)) + " ORDER BY ValueDate");
    for (; rs && !m_db.IsEOF(rs); rs->MoveNext()) {
        std::string fund;
        OleDate day;
        if (!m_db.GetFieldValue(rs, "FundID", fund) || !m_db.GetFieldValue(rs, "ValueDate", day)) continue;
        waiting.emplace(fund, day);  // the earliest stays
    }
    return waiting;
}

int CEstimateErrors::Compare(const std::vector<CFundValue>& published)
{
    if (published.empty()) return 0;
    CAdoTransaction trans(m_db);
    if (!trans.IsActive()) return -1;
    int compared = 0;
    for (const CFundValue& v : published) {
        const std::string where = " WHERE FundID=" + SqlQuote(v.FundID) +
                                  " AND ValueDate=" + m_db.LiteralOf(FieldValue("", v.ValueDate.DateOnly())) +
                                  " AND Compared=0";
        int waiting = 0;
        if (!m_db.QueryInt("SELECT COUNT(*) FROM T_Fund_Estimate" + where, waiting)) return -1;
        if (waiting == 0) continue;
        if (!m_db.UpdateRecord("T_Fund_Estimate",
                               {FieldValue("Published", static_cast<double>(v.VarPercent)), FieldValue("Compared", 1)},
                               where))
            return -1;
        compared += waiting;
    }
    return trans.Commit() ? compared : -1;
}

std::vector<EstimateOutcome> CEstimateErrors::RecentOutcomes(const std::string& fundId, const OleDate& now)
{
    std::vector<EstimateOutcome> out;
    RecordsetPtr rs = m_db.OpenRecordsetEx(
        "SELECT ValueDate,Estimate,Published FROM T_Fund_Estimate WHERE FundID=" + SqlQuote(fundId) +
        " AND Compared=1 AND ValueDate>=" + m_db.LiteralOf(FieldValue("", ErrorWindowStart(now))) +
        " AND ValueDate<=" + m_db.LiteralOf(FieldValue("", now.DateOnly())) + " ORDER BY ValueDate");
    for (; rs && !m_db.IsEOF(rs); rs->MoveNext()) {
        EstimateOutcome o;
        o.FundID = fundId;
        double estimate = 0;
        if (!m_db.GetFieldValue(rs, "ValueDate", o.Day) || !m_db.GetFieldValue(rs, "Estimate", estimate) ||
            !m_db.GetFieldValue(rs, "Published", o.Published))
            continue;
        o.Estimate = static_cast<float>(estimate);
        out.push_back(o);
    }
    return out;
}

std::optional<double> CEstimateErrors::MeanAbsError(const std::string& fundId, const OleDate& now)
{
    std::vector<double> errors;
    for (const EstimateOutcome& o : RecentOutcomes(fundId, now)) errors.push_back(o.Estimate - o.Published);
    if (errors.empty()) return std::nullopt;
    return MeanAbs(errors);
}

}  // namespace vextal

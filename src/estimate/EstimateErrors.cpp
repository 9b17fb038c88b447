#include "estimate/EstimateErrors.h"

#include <cmath>

#include "common/Format.h"

namespace vextal {

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
                                 FieldValue("Published", o.Published)};
        if (!m_db.InsertRecord("T_Fund_Estimate", fields)) return false;
    }
    return trans.Commit();
}

std::optional<double> CEstimateErrors::MeanAbsError(const std::string& fundId)
{
    RecordsetPtr rs = m_db.OpenRecordsetEx(StrFormat("SELECT TOP %d Estimate,Published FROM T_Fund_Estimate WHERE "
                                                     "FundID=%s ORDER BY ValueDate DESC",
                                                     kEstimateErrorDays, SqlQuote(fundId).c_str()));
    if (!rs) return std::nullopt;
    double sum = 0;
    int n = 0;
    for (; !m_db.IsEOF(rs); rs->MoveNext()) {
        double estimate = 0, published = 0;
        if (!m_db.GetFieldValue(rs, "Estimate", estimate) || !m_db.GetFieldValue(rs, "Published", published)) continue;
        sum += std::fabs(estimate - published);
        ++n;
    }
    if (n == 0) return std::nullopt;
    return sum / n;
}

}  // namespace vextal

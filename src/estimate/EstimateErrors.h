#pragma once
// The per-fund history of the estimate's error: once a day's NAV is
// published, the estimate minus the published growth, kept in
// T_Fund_Estimate, and its mean absolute value over the last 20 trading days.
#include <optional>
#include <string>
#include <vector>

#include "common/OleDate.h"
#include "db/AdoDatabase.h"

namespace vextal {

inline constexpr int kEstimateErrorDays = 20;

struct EstimateOutcome {
    std::string FundID;
    OleDate Day;
    float Estimate = 0;       // percent
    double Published = 0;     // percent
};

class CEstimateErrors {
public:
    explicit CEstimateErrors(CAdoDatabase db) : m_db(std::move(db)) {}
    // Stores the outcomes in one transaction; a day already stored for a
    // fund takes the newer estimate. False (nothing stored) on a failure.
    bool Record(const std::vector<EstimateOutcome>& outcomes);
    // Mean of |estimate − published| over the fund's last 20 stored days.
    std::optional<double> MeanAbsError(const std::string& fundId);

private:
    CAdoDatabase m_db;
};

}  // namespace vextal

#pragma once
// The accuracy of the estimate users act on: the last estimate of each fund
// before the close (15:00) of each trading day is kept in T_Fund_Estimate
// until that day's NAV is published, then compared with its growth. The
// mean absolute error is over the last 20 trading days.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/OleDate.h"
#include "db/AdoDatabase.h"
#include "market/FundValue.h"

namespace vextal {

inline constexpr int kEstimateErrorDays = 20;
inline constexpr int kMarketCloseHour = 15;

// One fund's estimate of a day and, once compared, the published growth.
struct EstimateOutcome {
    std::string FundID;
    OleDate Day;
    float Estimate = 0;    // percent
    double Published = 0;  // percent
};

// The first day of the last `days` trading days up to `now` (weekdays: the
// program knows no exchange holidays, so a holiday week shortens the window).
OleDate ErrorWindowStart(const OleDate& now, int days = kEstimateErrorDays);

// The mean of the absolute values (0 for none).
double MeanAbs(const std::vector<double>& errors);
// The half height of the error curve: the largest error rounded up to a
// tenth of a point, at least 0.1.
double ErrorScale(const std::vector<double>& errors);

class CEstimateErrors {
public:
    explicit CEstimateErrors(CAdoDatabase db) : m_db(std::move(db)) {}

    // The estimates of a run that ended at `at`, from quotes of the session
    // `day`: before the close of that very day each becomes the day's
    // intraday estimate (a later run of the day replaces an earlier one);
    // a run after the close, or on another day's quotes, keeps nothing.
    // One transaction; false (nothing stored) on a failure.
    bool RecordRun(const std::map<std::string, float>& estimates, const OleDate& day, const OleDate& at);
    // Stores outcomes already compared; a day already stored for a fund is replaced.
    bool Record(const std::vector<EstimateOutcome>& outcomes);

    // The funds whose intraday estimate still waits for its day's NAV, with
    // the earliest such day; only days inside the error window whose NAV
    // may be out at `now` (before today, or today after the close).
    std::map<std::string, OleDate> Waiting(const OleDate& now);
    // Compares every waiting estimate whose day is among the published
    // records (fund, day, growth in VarPercent). One transaction; the
    // number of estimates compared, or -1 on a failure (nothing stored).
    int Compare(const std::vector<CFundValue>& published);

    // Mean of |estimate − published| over the fund's compared days in the
    // window up to `now`; none without any.
    std::optional<double> MeanAbsError(const std::string& fundId, const OleDate& now);
    // Those days, oldest first (for the curve of daily errors).
    std::vector<EstimateOutcome> RecentOutcomes(const std::string& fundId, const OleDate& now);

private:
    CAdoDatabase m_db;
};

}  // namespace vextal

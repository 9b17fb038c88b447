#pragma once
// The real-time values of the income figures, taken from the latest
// estimate: the NAV the estimated growth gives on the last published one.
#include <map>
#include <mutex>
#include <string>

#include "book/Income.h"

namespace vextal {

class CRealtimeEstimates : public IRealtimeEstimates {
public:
    // One fund of a finished estimate: its growth in percent on the day
    // `day`, and the NAV it grows from (the latest published one).
    void Set(const std::string& fundId, const OleDate& day, float growth, double baseNav);
    void Clear();
    bool GetRealtimeEstimate(const std::string& fundId, LatestNav& nav) const override;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, LatestNav> m_values;
};

}  // namespace vextal

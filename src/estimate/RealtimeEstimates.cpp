#include "estimate/RealtimeEstimates.h"

namespace vextal {

void CRealtimeEstimates::Set(const std::string& fundId, const OleDate& day, float growth, double baseNav)
{
    LatestNav v;
    v.VarPercent = growth;
    v.VarValue = baseNav * growth / 100.0;
    v.TodayValue = baseNav + v.VarValue;
    v.ValueDate = day;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values[fundId] = v;
}

void CRealtimeEstimates::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values.clear();
}

bool CRealtimeEstimates::GetRealtimeEstimate(const std::string& fundId, LatestNav& nav) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_values.find(fundId);
    if (it == m_values.end()) return false;
    nav = it->second;
    return true;
}

}  // namespace vextal

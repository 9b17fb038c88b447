#pragma once
// The trading calendar of the market: weekdays minus the exchange
// holidays. Days are whole OLE date numbers (days since 1899-12-30).
#include <vector>

#include "common/OleDate.h"

namespace vextal {

inline int DayNumber(const OleDate& d) { return static_cast<int>(d.dt); }
inline OleDate DateOfDay(int day) { return OleDate(static_cast<double>(day)); }
inline int DayOf(int y, int m, int d) { return DayNumber(OleDate::FromParts(y, m, d)); }

class CTradingCalendar {
public:
    // Covers 1998-01-01 to the end of lastYear. The years that any of
    // `closedWeekdays` falls in take that list alone as their closed days,
    // in place of the built-in one.
    explicit CTradingCalendar(int lastYear = 2035, const std::vector<int>& closedWeekdays = {});

    int FirstDay() const { return m_firstDay; }
    int LastDay() const { return m_lastDay; }
    bool IsHoliday(int day) const;
    bool IsTradingDay(int day) const;
    // Trading days in order; TradingIndexOnOrBefore maps a day to its slot.
    int Count() const { return static_cast<int>(m_days.size()); }
    int DayAt(int index) const { return m_days[static_cast<size_t>(index)]; }
    // Index of the last trading day on or before `day`; -1 before the first.
    int IndexOnOrBefore(int day) const;
    // Index of the first trading day on or after `day`; Count() past the last.
    int IndexOnOrAfter(int day) const;
    // Strictly after / before; 0 when out of range.
    int NextTradingDay(int day) const;
    int PrevTradingDay(int day) const;

private:
    int m_firstDay = 0;
    int m_lastDay = 0;
    std::vector<bool> m_holiday;      // by day - m_firstDay
    std::vector<int> m_indexOnOrBefore;  // by day - m_firstDay
    std::vector<int> m_days;
};

}  // namespace vextal

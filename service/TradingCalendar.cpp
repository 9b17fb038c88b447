#include "TradingCalendar.h"

#include <algorithm>
#include <set>

namespace vextal {
namespace {

// Spring Festival (first day of the lunar year), 1998 to 2035.
const int kSpringFestival[][2] = {
    {1, 28}, {2, 16}, {2, 5},  {1, 24}, {2, 12}, {2, 1},  {1, 22}, {2, 9},  {1, 29}, {2, 18},
    {2, 7},  {1, 26}, {2, 14}, {2, 3},  {1, 23}, {2, 10}, {1, 31}, {2, 19}, {2, 8},  {1, 28},
    {2, 16}, {2, 5},  {1, 25}, {2, 12}, {2, 1},  {1, 22}, {2, 10}, {1, 29}, {2, 17}, {2, 6},
    {1, 26}, {2, 13}, {2, 3},  {1, 23}, {2, 11}, {1, 31}, {2, 19}, {2, 8},
};
constexpr int kFirstYear = 1998;

// The weekdays the exchanges were or will be closed in the years of the
// published holiday arrangements (service/data/cn-exchange-closed-weekdays.txt).
// Those years use this list alone; earlier and later years keep the
// approximation below.
const int kClosedWeekdays[][3] = {
#include "ClosedWeekdays.inc"
};
constexpr int kListedFirstYear = 2024;
constexpr int kListedLastYear = 2026;

}  // namespace

CTradingCalendar::CTradingCalendar(int lastYear, const std::vector<int>& closedWeekdays)
{
    lastYear = std::clamp(lastYear, kFirstYear, kFirstYear + static_cast<int>(std::size(kSpringFestival)) - 1);
    m_firstDay = DayOf(kFirstYear, 1, 1);
    m_lastDay = DayOf(lastYear, 12, 31);
    m_holiday.assign(static_cast<size_t>(m_lastDay - m_firstDay + 1), false);
    auto mark = [&](int from, int count) {
        for (int d = from; d < from + count; ++d)
            if (d >= m_firstDay && d <= m_lastDay) m_holiday[static_cast<size_t>(d - m_firstDay)] = true;
    };
    std::set<int> ownYears;
    for (int d : closedWeekdays) ownYears.insert(DateOfDay(d).Year());
    for (int d : closedWeekdays) mark(d, 1);
    for (const auto& c : kClosedWeekdays)
        if (!ownYears.count(c[0])) mark(DayOf(c[0], c[1], c[2]), 1);
    for (int y = kFirstYear; y <= lastYear; ++y) {
        if ((y >= kListedFirstYear && y <= kListedLastYear) || ownYears.count(y)) continue;
        const int* sf = kSpringFestival[y - kFirstYear];
        int lunarNewYear = DayOf(y, sf[0], sf[1]);
        mark(DayOf(y, 1, 1), 1);               // New Year
        mark(lunarNewYear - 1, 7);           // Spring Festival week from the eve
        mark(DayOf(y, 4, y % 4 == 0 ? 4 : 5), 1);  // Qingming
        mark(DayOf(y, 5, 1), 3);               // Labour Day
        // The two later lunar festivals are placed a fixed number of days
        // after the new year (leap months ignored): a simulated market needs
        // the closures, not the exact almanac.
        mark(lunarNewYear + 122, 1);         // Dragon Boat (5th day of the 5th month)
        int midAutumn = lunarNewYear + 222;  // 15th day of the 8th month
        mark(midAutumn, 1);
        mark(DayOf(y, 10, 1), 7);              // National Day week
    }
    m_indexOnOrBefore.resize(m_holiday.size());
    int last = -1;
    for (int d = m_firstDay; d <= m_lastDay; ++d) {
        if (IsTradingDay(d)) {
            m_days.push_back(d);
            last = static_cast<int>(m_days.size()) - 1;
        }
        m_indexOnOrBefore[static_cast<size_t>(d - m_firstDay)] = last;
    }
}

bool CTradingCalendar::IsHoliday(int day) const
{
    if (day < m_firstDay || day > m_lastDay) return false;
    return m_holiday[static_cast<size_t>(day - m_firstDay)];
}

bool CTradingCalendar::IsTradingDay(int day) const
{
    if (day < m_firstDay || day > m_lastDay) return false;
    int dow = ((day % 7) + 6) % 7;  // day 0 (1899-12-30) was a Saturday
    return dow != 0 && dow != 6 && !m_holiday[static_cast<size_t>(day - m_firstDay)];
}

int CTradingCalendar::IndexOnOrBefore(int day) const
{
    if (day < m_firstDay) return -1;
    if (day > m_lastDay) return Count() - 1;
    return m_indexOnOrBefore[static_cast<size_t>(day - m_firstDay)];
}

int CTradingCalendar::IndexOnOrAfter(int day) const
{
    int i = IndexOnOrBefore(day);
    if (i >= 0 && DayAt(i) == day) return i;
    return i + 1;
}

int CTradingCalendar::NextTradingDay(int day) const
{
    int i = IndexOnOrBefore(day) + 1;
    return i < Count() ? DayAt(i) : 0;
}

int CTradingCalendar::PrevTradingDay(int day) const
{
    int i = IndexOnOrBefore(day - 1);
    return i >= 0 ? DayAt(i) : 0;
}

}  // namespace vextal

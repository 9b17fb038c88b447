#pragma once
// OLE automation dates: days since 1899-12-30, the time of day as the
// fraction. Every date of the program is one of these; the wrapper type
// keeps dates apart from plain doubles in overloads (database reads,
// column/value lists).
#include <compare>
#include <ctime>
#include <string>

namespace vextal {

struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    int dayOfWeek = 6;  // 0 Sunday .. 6 Saturday
};

// Days of the month (1-12) of a Gregorian year.
int DaysInMonth(int year, int month);

class OleDate {
public:
    double dt = 0.0;

    constexpr OleDate() = default;
    constexpr explicit OleDate(double value) : dt(value) {}

    // Out-of-range parts give an invalid date (IsValid() false, dt 0).
    static OleDate FromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
    // Beijing wall time (UTC+8) of a Unix time stamp, whatever the machine's zone.
    static OleDate FromTimeT(std::time_t t);
    // Accepts "YYYY-MM-DD", "YYYY-M-D", "YYYY-MM-DD HH:MM", "YYYY-MM-DD HH:MM:SS",
    // "YYYY/MM/DD ..." and "YYYYMMDD". Returns false and leaves out unchanged otherwise.
    static bool Parse(const std::string& text, OleDate& out);
    // The same of a text ending at its first NUL (a cell as the engine gives it).
    static bool Parse(const char* text, OleDate& out);

    bool IsValid() const { return valid_; }
    DateParts Parts() const;
    int Year() const { return Parts().year; }
    int Month() const { return Parts().month; }
    int Day() const { return Parts().day; }
    int Hour() const { return Parts().hour; }
    int Minute() const { return Parts().minute; }
    int Second() const { return Parts().second; }
    int DayOfWeek() const { return Parts().dayOfWeek; }  // 0 Sunday .. 6 Saturday
    bool IsWeekend() const { int w = DayOfWeek(); return w == 0 || w == 6; }

    OleDate DateOnly() const;
    OleDate AddDays(double days) const { return OleDate(dt + days); }
    OleDate AddSeconds(double seconds) const { return OleDate(dt + seconds / 86400.0); }
    std::time_t ToTimeT() const;  // the date read as Beijing wall time

    // Text by style code: 1 and 3 "%Y-%m-%d", 2 "%Y%m%d", 5 "%H:%M:%S",
    // 6 "%Y-%m-%d %H:%M", anything else "%Y-%m-%d %H:%M:%S".
    std::string Format(int style = 0) const;
    // strftime-like with %Y %m %d %H %M %S %%.
    std::string FormatWith(const char* pattern) const;

    friend bool operator==(const OleDate& a, const OleDate& b) { return a.dt == b.dt; }
    friend auto operator<=>(const OleDate& a, const OleDate& b) { return a.dt <=> b.dt; }

private:
    bool valid_ = true;
};

inline std::string FormatDate(const OleDate& d, int style) { return d.Format(style); }

// Whole calendar days from a to b (b - a), ignoring the time of day.
int WholeDaysBetween(const OleDate& a, const OleDate& b);

}  // namespace vextal

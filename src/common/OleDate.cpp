#include "common/OleDate.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vextal {
namespace {

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

constexpr long long kOleEpochFromUnix = -25569;  // 1899-12-30 in days from 1970-01-01

}  // namespace

int DaysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return days[m - 1];
}

OleDate OleDate::FromParts(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        OleDate bad;
        bad.valid_ = false;
        return bad;
    }
    long long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kOleEpochFromUnix;
    double frac = (hour * 3600 + minute * 60 + second) / 86400.0;
    // Before the epoch the fraction still counts forward in time.
    return OleDate(days >= 0 ? days + frac : days - frac);
}

DateParts OleDate::Parts() const
{
    DateParts p;
    double whole = std::trunc(dt);
    double frac = std::fabs(dt - whole);
    long long secs = std::llround(frac * 86400.0);
    long long days = static_cast<long long>(whole);
    if (secs >= 86400) {  // rounding reached the next day
        secs -= 86400;
        days += dt < 0 ? -1 : 1;
    }
    CivilFromDays(days + kOleEpochFromUnix, p.year, p.month, p.day);
    p.hour = static_cast<int>(secs / 3600);
    p.minute = static_cast<int>(secs / 60 % 60);
    p.second = static_cast<int>(secs % 60);
    long long unixDays = days + kOleEpochFromUnix;  // 1970-01-01 was a Thursday
    p.dayOfWeek = static_cast<int>(((unixDays % 7) + 7 + 4) % 7);
    return p;
}

OleDate OleDate::DateOnly() const
{
    DateParts p = Parts();
    return FromParts(p.year, p.month, p.day);
}

// The market runs on Beijing time (UTC+8 all year, no daylight saving), so
// the conversions fix that offset instead of asking the machine's zone.
constexpr long long kBeijingOffsetSeconds = 8 * 3600;

OleDate OleDate::FromTimeT(std::time_t t)
{
    const long long local = static_cast<long long>(t) + kBeijingOffsetSeconds;
    long long days = local / 86400, secs = local % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    int y = 0, m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    return FromParts(y, m, d, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                     static_cast<int>(secs % 60));
}

std::time_t OleDate::ToTimeT() const
{
    DateParts p = Parts();
    const long long days = DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day));
    return static_cast<std::time_t>(days * 86400 + p.hour * 3600 + p.minute * 60 + p.second -
                                    kBeijingOffsetSeconds);
}

bool OleDate::Parse(const std::string& text, OleDate& out) { return Parse(text.c_str(), out); }

bool OleDate::Parse(const char* s, OleDate& out)
{
    if (!s) return false;
    while (*s == ' ' || *s == '\t') ++s;
    auto readInt = [&](int maxDigits, int& value) {
        int n = 0;
        value = 0;
        while (n < maxDigits && *s >= '0' && *s <= '9') {
            value = value * 10 + (*s - '0');
            ++s;
            ++n;
        }
        return n;
    };
    int y = 0, m = 0, d = 0, hh = 0, mi = 0, ss = 0;
    int ny = readInt(8, y);
    if (ny == 8 && (*s == '\0' || *s == ' ')) {  // YYYYMMDD
        d = y % 100;
        m = y / 100 % 100;
        y /= 10000;
    } else {
        if (ny != 4 || (*s != '-' && *s != '/')) return false;
        char sep = *s++;
        if (readInt(2, m) == 0 || *s++ != sep) return false;
        if (readInt(2, d) == 0) return false;
    }
    if (*s == ' ' || *s == 'T') {
        ++s;
        while (*s == ' ') ++s;
        if (*s != '\0') {
            if (readInt(2, hh) == 0 || *s++ != ':') return false;
            if (readInt(2, mi) == 0) return false;
            if (*s == ':') {
                ++s;
                if (readInt(2, ss) == 0) return false;
            }
        }
    }
    while (*s == ' ') ++s;
    if (*s != '\0') return false;
    OleDate r = FromParts(y, m, d, hh, mi, ss);
    if (!r.IsValid()) return false;
    out = r;
    return true;
}

std::string OleDate::FormatWith(const char* pattern) const
{
    DateParts p = Parts();
    std::string r;
    r.reserve(20);
    auto digits = [&r](int value, int width) {
        char buf[8];
        int n = 0;
        unsigned v = static_cast<unsigned>(value < 0 ? 0 : value);
        do {
            buf[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v && n < 8);
        while (n < width) buf[n++] = '0';
        while (n) r += buf[--n];
    };
    for (const char* c = pattern; *c; ++c) {
        if (*c != '%' || c[1] == '\0') {
            r += *c;
            continue;
        }
        switch (*++c) {
        case 'Y': digits(p.year, 4); break;
        case 'm': digits(p.month, 2); break;
        case 'd': digits(p.day, 2); break;
        case 'H': digits(p.hour, 2); break;
        case 'M': digits(p.minute, 2); break;
        case 'S': digits(p.second, 2); break;
        case '%': r += '%'; break;
        default:
            r += '%';
            r += *c;
            break;
        }
    }
    return r;
}

std::string OleDate::Format(int style) const
{
    switch (style) {
    case 1:
    case 3: return FormatWith("%Y-%m-%d");
    case 2: return FormatWith("%Y%m%d");
    case 5: return FormatWith("%H:%M:%S");
    case 6: return FormatWith("%Y-%m-%d %H:%M");
    default: return FormatWith("%Y-%m-%d %H:%M:%S");
    }
}

int WholeDaysBetween(const OleDate& a, const OleDate& b)
{
    DateParts pa = a.Parts(), pb = b.Parts();
    return static_cast<int>(DaysFromCivil(pb.year, pb.month, pb.day) - DaysFromCivil(pa.year, pa.month, pa.day));
}

}  // namespace vextal

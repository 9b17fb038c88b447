#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <optional>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/Format.h"
#include "common/OleDate.h"

using namespace vextal;

TEST(OleDate, CalendarRoundTripAndKnownSerials)
{
    // Well-known serials: 0 is 1899-12-30, 1 is 1899-12-31, 2.25 is 1900-01-01 06:00.
    EXPECT_EQ(OleDate(0).Format(0), "1899-12-30 00:00:00");
    EXPECT_EQ(OleDate(2.25).Format(0), "1900-01-01 06:00:00");
    OleDate d = OleDate::FromParts(2007, 3, 5, 14, 7, 42);
    EXPECT_DOUBLE_EQ(std::floor(d.dt), 39146.0);
    DateParts p = d.Parts();
    EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute, p.second, p.dayOfWeek}),
              std::vector<int>({2007, 3, 5, 14, 7, 42, 1}));  // a Monday
    // Negative serials keep the time as a positive fraction: -1.25 is 1899-12-29 06:00.
    EXPECT_EQ(OleDate(-1.25).Format(0), "1899-12-29 06:00:00");
    EXPECT_EQ(OleDate::FromParts(1899, 12, 29, 6).dt, -1.25);
    // Leap days and invalid parts.
    EXPECT_TRUE(OleDate::FromParts(2024, 2, 29).IsValid());
    EXPECT_FALSE(OleDate::FromParts(2023, 2, 29).IsValid());
    EXPECT_FALSE(OleDate::FromParts(2023, 13, 1).IsValid());
    // A time just short of midnight rounds into the next day, not to "24:00:00".
    EXPECT_EQ(OleDate(39146.9999999).Format(0), "2007-03-06 00:00:00");
}

TEST(OleDate, FormatStylesParseAndDayArithmetic)
{
    OleDate d = OleDate::FromParts(2026, 12, 6, 9, 5, 3);
    EXPECT_EQ(d.Format(3), "2026-12-06");
    EXPECT_EQ(d.Format(2), "20261206");
    EXPECT_EQ(d.Format(5), "09:05:03");
    EXPECT_EQ(d.Format(6), "2026-12-06 09:05");
    EXPECT_EQ(d.Format(4), "2026-12-06 09:05:03");
    EXPECT_EQ(d.DayOfWeek(), 0);  // Sunday
    EXPECT_TRUE(d.IsWeekend());

    OleDate out(7);
    ASSERT_TRUE(OleDate::Parse("2026-12-06 09:05:03", out));
    EXPECT_EQ(out, d);
    ASSERT_TRUE(OleDate::Parse("2007-3-5", out));
    EXPECT_EQ(out.Format(0), "2007-03-05 00:00:00");
    ASSERT_TRUE(OleDate::Parse("20070305", out));
    EXPECT_EQ(out.Format(1), "2007-03-05");
    ASSERT_TRUE(OleDate::Parse("2007/03/05 14:07", out));
    EXPECT_EQ(out.Format(0), "2007-03-05 14:07:00");
    OleDate keep(5);
    EXPECT_FALSE(OleDate::Parse("2007-02-30", keep));
    EXPECT_FALSE(OleDate::Parse("abc", keep));
    EXPECT_FALSE(OleDate::Parse("2007-03-05x", keep));
    EXPECT_EQ(keep.dt, 5);

    EXPECT_EQ(WholeDaysBetween(OleDate::FromParts(2026, 12, 4, 23, 59), OleDate::FromParts(2026, 12, 7, 0, 1)), 3);
    EXPECT_EQ(d.AddDays(-2).Format(1), "2026-12-04");
    EXPECT_EQ(d.DateOnly().Format(0), "2026-12-06 00:00:00");
}

// The market's clock is Beijing time whatever the machine's zone: the same
// instant gives the same wall time under every TZ, and back.
TEST(OleDate, BeijingWallTimeUnderAnyZone)
{
    const char* saved = std::getenv("TZ");
    const std::string keep = saved ? saved : "";
    for (const char* tz : {"Asia/Shanghai", "UTC", "Europe/Berlin", "America/New_York", "Pacific/Auckland"}) {
        setenv("TZ", tz, 1);
        tzset();
        SCOPED_TRACE(tz);
        // 2026-01-06 07:00:00 UTC is 15:00:00 in Beijing, the cut-off itself.
        EXPECT_EQ(OleDate::FromTimeT(1767682800).Format(0), "2026-01-06 15:00:00");
        // Summer (daylight saving in Berlin and New York; none in Beijing).
        EXPECT_EQ(OleDate::FromTimeT(1782923405).Format(0), "2026-07-02 00:30:05");
        EXPECT_EQ(OleDate::FromParts(2026, 7, 2, 0, 30, 5).ToTimeT(), 1782923405);
        EXPECT_EQ(OleDate::FromTimeT(0).Format(0), "1970-01-01 08:00:00");
        // The free-running clock agrees with the machine's UTC plus eight hours.
        Clock::Release();
        const std::time_t t = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&t, &utc);
        OleDate expected = OleDate::FromParts(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                                              utc.tm_min, utc.tm_sec).AddSeconds(8 * 3600);
        EXPECT_LE(std::fabs((Clock::Now().dt - expected.dt) * 86400), 2.0);
    }
    if (saved) setenv("TZ", keep.c_str(), 1); else unsetenv("TZ");
    tzset();
}

TEST(Format, PrintfAndRound2)
{
    EXPECT_EQ(StrFormat("%s-%d-%0.4f", "a", -3, 1.5), "a--3-1.5000");
    std::string longText(1000, 'x');
    EXPECT_EQ(StrFormat("%s!", longText.c_str()).size(), 1001u);
    EXPECT_DOUBLE_EQ(Round2(985.2217), 985.22);
    EXPECT_DOUBLE_EQ(Round2(-0.004), -0.0);
    // Half away from zero on the decimal value, where printf rounds the binary one down.
    EXPECT_DOUBLE_EQ(Round2(2.675), 2.68);
    EXPECT_DOUBLE_EQ(Round2(1.005), 1.01);
    EXPECT_DOUBLE_EQ(Round2(-0.125), -0.13);
    EXPECT_DOUBLE_EQ(Round2(99.995), 100.0);
    EXPECT_DOUBLE_EQ(Round2(2345678.91), 2345678.91);
    EXPECT_DOUBLE_EQ(RoundDecimal(1.00005, 4), 1.0001);
    // A list cell of a tiny fall shows no "-0.00".
    EXPECT_EQ(FormatNumber("%0.2f", -0.004), "0.00");
    EXPECT_EQ(FormatNumber("%0.4f", -0.00001), "0.0000");
    EXPECT_EQ(FormatNumber("%0.2f", -0.005), "-0.01");
    EXPECT_EQ(FormatNumber("%0.2f", -10.0), "-10.00");
    EXPECT_EQ(SplitText("a||b", '|'), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(TrimText("  x y \r\n"), "x y");
    EXPECT_TRUE(EqualsNoCase("FundID", "fundid"));
}

// Numbers are read and printed the same under every locale: a German desktop
// sets LC_NUMERIC to a decimal comma, and the wire, files and lists must not
// follow it.
TEST(Format, NumbersIgnoreTheLocale)
{
    struct Case { const char* text; std::optional<double> value; };
    const Case cases[] = {
        {"1.0878", 1.0878}, {" -0.66 ", -0.66}, {"+12", 12.0}, {"1e3", 1000.0}, {".5", 0.5},
        {"17695,94", std::nullopt}, {"1,000.50", std::nullopt}, {"inf", std::nullopt},
        {"-inf", std::nullopt}, {"nan", std::nullopt}, {"infinity", std::nullopt}, {"abc", std::nullopt},
        {"", std::nullopt}, {"  ", std::nullopt}, {"0x10", std::nullopt}, {"1e999", std::nullopt},
        {"12abc", std::nullopt}, {"1 2", std::nullopt}, {"+-5", std::nullopt}, {"-", std::nullopt},
        {"😀", std::nullopt}, {"１２", std::nullopt},
    };
    const char* saved = std::setlocale(LC_ALL, nullptr);
    const std::string keep = saved ? saved : "C";
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        if (!std::setlocale(LC_ALL, locale)) continue;  // the German locale may not be generated here
        SCOPED_TRACE(locale);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.text);
            EXPECT_EQ(ParseNumber(c.text), c.value);
        }
        EXPECT_EQ(StrFormat("%0.4f|%0.2f", 1.0878, -0.66), "1.0878|-0.66");
        EXPECT_EQ(FormatNumber("%0.2f", -0.001), "0.00");
        EXPECT_EQ(FormatFixed(1.0878, 4), "1.0878");
        EXPECT_EQ(FormatFixed(-0.004, 2), "0.00");
        EXPECT_EQ(FormatGrouped(1234567.891, 2), "1,234,567.89");
        EXPECT_EQ(FormatGrouped(-999.5, 0), "-1,000");
        EXPECT_EQ(FormatGrouped(12.5, 1), "12.5");
        EXPECT_EQ(ParseInteger(" 42 "), 42);
        EXPECT_EQ(ParseInteger("4.2"), std::nullopt);
        EXPECT_EQ(ParseInteger("99999999999999999999"), std::nullopt);
    }
    std::setlocale(LC_ALL, keep.c_str());
}

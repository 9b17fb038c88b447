#pragma once
// printf-style formatting into std::string, and the one rounding that every
// computed amount, share count and price goes through.
#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vextal {

// Every number this program prints or reads goes through this file, and none
// of it follows the desktop's locale: the printf family below runs under the
// "C" locale whatever LC_NUMERIC says, and the readers are built on
// std::from_chars. A German desktop must not turn 1.0878 into "1,0878" on the
// wire or read "17695,94" back as 17695.
std::string StrFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string StrFormatV(const char* fmt, va_list args);
// The calling thread runs under the "C" locale while one of these lives:
// for a library that prints numbers with printf (the spreadsheet writer).
class CNumericLocaleScope {
public:
    CNumericLocaleScope();
    ~CNumericLocaleScope();
    CNumericLocaleScope(const CNumericLocaleScope&) = delete;
    CNumericLocaleScope& operator=(const CNumericLocaleScope&) = delete;

private:
    void* m_previous;
};

// One number printed with a printf format ("%0.2f"); a value that rounds to
// zero shows no sign ("0.00", never "-0.00").
std::string FormatNumber(const char* fmt, double value);
// value with `places` decimals ("%0.*f", locale-free); no "-0.00".
std::string FormatFixed(double value, int places);
// The same with a comma between thousands: 1234567.891, 2 -> "1,234,567.89".
std::string FormatGrouped(double value, int places);
// Commas between the thousands of a number already written ("-1234.5" ->
// "-1,234.5"); a text that is not such a number stays as it is.
std::string GroupThousands(std::string number);

// Reads the whole text as one finite decimal number: blanks around it, an
// optional sign, digits with at most one '.', an optional exponent. Anything
// else (letters, "inf", "nan", hex, a comma, a second number, an empty text,
// a value beyond double) gives nullopt: the caller says what was wrong.
std::optional<double> ParseNumber(std::string_view text);
// A whole integer in decimal (blanks around it and a sign allowed).
std::optional<long long> ParseInteger(std::string_view text);
// ParseNumber with a default for texts that are not numbers, for wire and
// file fields the caller has already decided to read leniently.
inline double NumberOr(std::string_view text, double fallback)
{
    return ParseNumber(text).value_or(fallback);
}
inline long long IntegerOr(std::string_view text, long long fallback)
{
    return ParseInteger(text).value_or(fallback);
}

// Rounds half away from zero on the decimal value the number stands for
// (its shortest decimal form), so 2.675 gives 2.68 and -0.125 gives -0.13,
// where printf would round the binary value below. Amounts and counts go to
// cents (Round2), prices to four places (RoundDecimal(v, 4)).
double RoundDecimal(double value, int places);
inline double Round2(double value) { return RoundDecimal(value, 2); }

// Splits at every occurrence of sep (empty fields kept).
std::vector<std::string> SplitText(const std::string& text, char sep);
std::string TrimText(const std::string& text);
// ASCII-only case folding; Chinese text passes through unchanged.
std::string ToLowerAscii(std::string text);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace vextal

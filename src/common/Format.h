#pragma once
// printf-style formatting into std::string, and the one rounding that every
// computed amount, share count and price goes through.
#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace vextal {

std::string StrFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string StrFormatV(const char* fmt, va_list args);
// One number printed with a printf format ("%0.2f"); a value that rounds to
// zero shows no sign ("0.00", never "-0.00").
std::string FormatNumber(const char* fmt, double value);

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

#pragma once
// printf-style formatting into std::string, and the "%0.2f" rounding that
// every computed amount and share count goes through.
#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace vextal {

std::string StrFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string StrFormatV(const char* fmt, va_list args);

// Rounds by writing "%0.2f" and reading the text back, so the value is
// exactly what a statement or payload will carry.
float Round2(float value);
double Round2(double value);

// Splits at every occurrence of sep (empty fields kept).
std::vector<std::string> SplitText(const std::string& text, char sep);
std::string TrimText(const std::string& text);
// ASCII-only case folding; Chinese text passes through unchanged.
std::string ToLowerAscii(std::string text);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace vextal

#include "common/Format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace vextal {

namespace {

// The "C" locale, made once; uselocale() switches only the calling thread.
locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

using CLocaleScope = CNumericLocaleScope;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimView(std::string_view t)
{
    while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
    return t;
}

}  // namespace

CNumericLocaleScope::CNumericLocaleScope() : m_previous(uselocale(CLocale())) {}
CNumericLocaleScope::~CNumericLocaleScope() { uselocale(static_cast<locale_t>(m_previous)); }

std::string StrFormatV(const char* fmt, va_list args)
{
    CLocaleScope cLocale;
    char small[256];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n), '\0');
    std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    return out;
}

std::string StrFormat(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string r = StrFormatV(fmt, args);
    va_end(args);
    return r;
}

std::string FormatNumber(const char* fmt, double value)
{
    std::string text = StrFormat(fmt, value);
    if (!text.empty() && text[0] == '-' && text.find_first_of("123456789") == std::string::npos) text.erase(0, 1);
    return text;
}

std::string FormatFixed(double value, int places)
{
    places = std::clamp(places, 0, 17);
    if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, places);
    if (res.ec != std::errc()) return std::string();
    std::string text(buf, res.ptr);
    if (!text.empty() && text[0] == '-' && text.find_first_of("123456789") == std::string::npos) text.erase(0, 1);
    return text;
}

std::string FormatGrouped(double value, int places) { return GroupThousands(FormatFixed(value, places)); }

std::string GroupThousands(std::string text)
{
    const size_t start = (!text.empty() && text[0] == '-') ? 1 : 0;
    size_t end = text.find('.');
    if (end == std::string::npos) end = text.size();
    if (end <= start || text.find_first_not_of("0123456789", start) < end) return text;  // inf, nan
    for (size_t i = end; i > start + 3; i -= 3) text.insert(i - 3, 1, ',');
    return text;
}

std::optional<double> ParseNumber(std::string_view text)
{
    text = TrimView(text);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    // from_chars also takes "inf", "nan" and "infinity"; a user's or a
    // file's figure never means those.
    bool digit = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') digit = true;
        else if (c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E') return std::nullopt;
    }
    if (!digit) return std::nullopt;
    double value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<long long> ParseInteger(std::string_view text)
{
    text = TrimView(text);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    long long value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

double RoundDecimal(double value, int places)
{
    if (!std::isfinite(value) || places < 0 || places > 15) return value;
    // The shortest fixed form that reads back as the same double.
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (res.ec != std::errc()) return value;
    std::string text(buf, res.ptr);
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) text.erase(0, 1);
    size_t dot = text.find('.');
    if (dot == std::string::npos || text.size() - dot - 1 <= static_cast<size_t>(places)) return value;
    const bool up = text[dot + 1 + static_cast<size_t>(places)] >= '5';
    std::string digits = text.substr(0, dot) + text.substr(dot + 1, static_cast<size_t>(places));
    if (up) {
        size_t i = digits.size();
        while (i > 0) {
            --i;
            if (digits[i] == '9') {
                digits[i] = '0';
            } else {
                ++digits[i];
                break;
            }
            if (i == 0) digits.insert(digits.begin(), '1');
        }
    }
    std::string rounded = digits.substr(0, digits.size() - static_cast<size_t>(places));
    if (places > 0) rounded += "." + digits.substr(digits.size() - static_cast<size_t>(places));
    double out = 0;
    std::from_chars(rounded.data(), rounded.data() + rounded.size(), out);
    return negative ? -out : out;
}

std::vector<std::string> SplitText(const std::string& text, char sep)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t p = text.find(sep, start);
        if (p == std::string::npos) {
            out.push_back(text.substr(start));
            return out;
        }
        out.push_back(text.substr(start, p - start));
        start = p + 1;
    }
}

std::string TrimText(const std::string& text)
{
    size_t a = text.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return std::string();
    size_t b = text.find_last_not_of(" \t\r\n");
    return text.substr(a, b - a + 1);
}

std::string ToLowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    if (a == b) return true;  // mostly spelt alike: one compare
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace vextal

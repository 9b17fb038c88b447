#include "common/Format.h"

#include <cstdio>
#include <cstdlib>

namespace vextal {

std::string StrFormatV(const char* fmt, va_list args)
{
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

float Round2(float value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0.2f", static_cast<double>(value));
    return static_cast<float>(std::atof(buf));
}

double Round2(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0.2f", value);
    return std::atof(buf);
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
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace vextal

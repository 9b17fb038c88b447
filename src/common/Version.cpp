#include "common/Version.h"

#include <cctype>

#include "common/Format.h"

namespace vextal {
namespace {

struct VersionParts {
    std::string whole;     // digits without leading zeros
    std::string fraction;  // digits after the dot, without trailing zeros
    std::string rest;      // whatever follows, lower case
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

VersionParts Split(const std::string& text)
{
    VersionParts v;
    std::string t = TrimText(text);
    size_t i = 0;
    while (i < t.size() && IsDigit(t[i])) v.whole += t[i++];
    if (v.whole.empty()) return v;  // not a version: counts as 0
    if (i < t.size() && t[i] == '.' && i + 1 < t.size() && IsDigit(t[i + 1])) {
        ++i;
        while (i < t.size() && IsDigit(t[i])) v.fraction += t[i++];
    }
    v.rest = ToLowerAscii(t.substr(i));
    size_t nz = v.whole.find_first_not_of('0');
    v.whole = nz == std::string::npos ? std::string() : v.whole.substr(nz);
    size_t last = v.fraction.find_last_not_of('0');
    v.fraction = last == std::string::npos ? std::string() : v.fraction.substr(0, last + 1);
    return v;
}

int Sign(int c) { return c < 0 ? -1 : c > 0 ? 1 : 0; }

}  // namespace

int CompareVersions(const std::string& a, const std::string& b)
{
    const VersionParts x = Split(a), y = Split(b);
    // Whole numbers of any length: the longer is larger, then digit by digit.
    if (x.whole.size() != y.whole.size()) return x.whole.size() < y.whole.size() ? -1 : 1;
    if (int c = x.whole.compare(y.whole)) return Sign(c);
    // Fractions as decimals: digit by digit, a missing digit being 0.
    if (int c = x.fraction.compare(y.fraction)) return Sign(c);
    return Sign(x.rest.compare(y.rest));
}

}  // namespace vextal

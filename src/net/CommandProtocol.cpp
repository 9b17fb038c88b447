#include "net/CommandProtocol.h"

#include <charconv>
#include <climits>
#include <cmath>

#include "common/Format.h"
#include "net/TagScanner.h"

namespace vextal {

std::string CommandNamespaceMarker()
{
    return std::string("xmlns=\"") + kCommandNamespace + "\">";
}

std::string FormatErrorText(const std::string& operation)
{
    return operation + "():数据格式错误";
}

int ReadLeadingInt(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

bool ReadLeadingDecimal(const std::string& text, double& value)
{
    value = 0;
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool plus = i < text.size() && text[i] == '+';
    if (plus) ++i;
    if (i >= text.size() || (text[i] != '-' && text[i] != '.' && (text[i] < '0' || text[i] > '9'))) return false;
    if (plus && text[i] == '-') return false;
    double v = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v, std::chars_format::general);
    // Infinities and NaN are not figures any answer may carry.
    if (ec != std::errc() || !std::isfinite(v)) return false;
    value = v;
    return true;
}

std::string JoinFields(const std::vector<std::string>& fields)
{
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) out += '|';
        out += fields[i];
    }
    return out;
}

bool SplitFields(const std::string& text, const std::string& separator, std::vector<std::string>& list)
{
    list.clear();
    if (separator.empty()) {  // nothing to split at; an empty separator would never advance
        if (!text.empty()) list.push_back(text);
        return true;
    }
    size_t start = 0;
    for (size_t p; (p = text.find(separator, start)) != std::string::npos;) {
        list.push_back(text.substr(start, p - start));
        start = p + separator.size();
    }
    if (start < text.size()) list.push_back(text.substr(start));
    else if (!text.empty() && text.back() == '|') list.emplace_back();
    return true;
}

std::string BuildCommand(int cmdtype, int cmdid, const std::string& data, const std::string& loginId)
{
    return StrFormat("cmdtype=%d&cmdid=%d&data=", cmdtype, cmdid) + data + "&loginid=" + loginId;
}

namespace {

// The namespace marker, then Ret; ret stays -1 without the marker.
bool ReadRet(CTagScanner& scan, const std::string& answer, int& ret)
{
    ret = -1;
    if (!scan.SkipPast(answer, CommandNamespaceMarker())) return false;
    std::string value;
    if (scan.Next(answer, "<Ret>", "</Ret>", value)) ret = ReadLeadingInt(value);
    return true;
}

// White space at both ends, then the 0xA1 bytes of leading full-width spaces.
std::string TrimMessage(const std::string& text)
{
    std::string t = TrimText(text);
    size_t i = 0;
    while (i < t.size() && static_cast<unsigned char>(t[i]) == 0xA1) ++i;
    return t.substr(i);
}

}  // namespace

bool ParseCommandAnswer(const std::string& answer, int& ret, std::string& msg)
{
    msg.clear();
    CTagScanner scan;
    return ReadRet(scan, answer, ret) && scan.Next(answer, "<Msg>", "</Msg>", msg);
}

bool ParseCommandAnswerEx(const std::string& answer, int& ret, std::string& msg, std::string& msg2)
{
    msg.clear();
    msg2.clear();
    CTagScanner scan;
    if (!ReadRet(scan, answer, ret)) return false;
    std::string value;
    if (scan.Next(answer, "<Msg>", "</Msg>", value)) msg = TrimMessage(value);
    if (!scan.Next(answer, "<Msg2>", "</Msg2>", value)) return false;
    msg2 = TrimMessage(value);
    return true;
}

bool ParseResultAnswer(const std::string& answer, int& code, std::string& msg)
{
    code = -1;
    msg.clear();
    CTagScanner scan;
    if (!scan.SkipPast(answer, "<result>")) return false;
    std::string value;
    if (scan.Next(answer, "<code>", "</code>", value)) code = ReadLeadingInt(value);
    return scan.Next(answer, "<msg>", "</msg>", msg);
}

bool ParseServerIdAnswer(const std::string& answer, int& ret, std::string& serverId)
{
    serverId.clear();
    CTagScanner scan;
    return ReadRet(scan, answer, ret) && scan.Next(answer, "<ServerID>", "</ServerID>", serverId);
}

}  // namespace vextal

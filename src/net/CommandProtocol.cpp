#include "net/CommandProtocol.h"

#include <climits>

#include "common/Format.h"
#include "net/Cipher.h"
#include "net/Encoding.h"
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

// The predefined entities back to their characters, in one pass ("&amp;lt;" is "&lt;").
std::string XmlUnescape(const std::string& text)
{
    if (text.find('&') == std::string::npos) return text;
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}, {"&apos;", '\''}};
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& [entity, c] : kEntities) {
                const std::string_view e(entity);
                if (text.compare(i, e.size(), e) == 0) {
                    out += c;
                    i += e.size() - 1;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += text[i];
    }
    return out;
}

bool NextText(CTagScanner& scan, const std::string& answer, const char* start, const char* end, std::string& value)
{
    if (!scan.Next(answer, start, end, value)) return false;
    value = XmlUnescape(value);
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
    return ReadRet(scan, answer, ret) && NextText(scan, answer, "<Msg>", "</Msg>", msg);
}

bool ParseCommandAnswerEx(const std::string& answer, int& ret, std::string& msg, std::string& msg2)
{
    msg.clear();
    msg2.clear();
    CTagScanner scan;
    if (!ReadRet(scan, answer, ret)) return false;
    std::string value;
    if (NextText(scan, answer, "<Msg>", "</Msg>", value)) msg = TrimMessage(value);
    if (!NextText(scan, answer, "<Msg2>", "</Msg2>", value)) return false;
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
    return NextText(scan, answer, "<msg>", "</msg>", msg);
}

bool ParseServerIdAnswer(const std::string& answer, int& ret, std::string& serverId)
{
    serverId.clear();
    CTagScanner scan;
    return ReadRet(scan, answer, ret) && NextText(scan, answer, "<ServerID>", "</ServerID>", serverId);
}

std::string XmlText(const std::string& text)
{
    if (text.find_first_of("&<>") == std::string::npos) return text;
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string WriteCommandAnswer(const CommandAnswer& a, const CommandEntry* entry)
{
    const bool ok = a.ret == 0;
    auto wire = [](const std::string& utf8, bool ciphered) {
        std::string gbk = Utf8ToGbk(utf8);
        return ciphered ? EncryptText(gbk, kCipherKey) : XmlText(gbk);
    };
    const std::string ret = std::to_string(a.ret);
    if (entry && entry->answer == AnswerKind::Result)
        return "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<result>\r\n  <code>" + ret + "</code>\r\n  <msg>" +
               wire(a.msg, false) + "</msg>\r\n</result>";
    std::string xml = "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<CommandAnswer ";
    xml += CommandNamespaceMarker();
    xml += "\r\n  <Ret>" + ret + "</Ret>\r\n";
    xml += "  <Msg>" + wire(a.msg, ok && entry && entry->msgCiphered) + "</Msg>\r\n";
    if (ok && entry && entry->answer == AnswerKind::MsgEx)
        xml += "  <Msg2>" + wire(a.msg2, entry->msg2Ciphered) + "</Msg2>\r\n";
    if (!a.serverId.empty()) xml += "  <ServerID>" + wire(a.serverId, false) + "</ServerID>\r\n";
    xml += "</CommandAnswer>";
    return xml;
}

}  // namespace vextal

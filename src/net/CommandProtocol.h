#pragma once
// The client command protocol: request bodies, "|" field lists and the
// marker-based readers of the service's XML answers. Pure functions on
// their arguments; answers are taken as untrusted text.
#include <string>
#include <vector>

#include "net/CommandCatalogue.h"

namespace vextal {

// Shared with the service: the namespace of every command answer.
inline constexpr const char* kCommandNamespace = "http://www.plindo.example/plindo/client/clientservice";
// Appended to the service base URL (which ends in "/") to form the command URL.
inline constexpr const char* kCommandPath = "plindo/client/ClientService.asmx/SendCommand";

inline constexpr const char* kSendRequestError = "发送请求错误，请检查网络是否可用";
// The login reports a failed request with this shorter text.
inline constexpr const char* kSendRequestErrorLogin = "发送请求错误";

// The answer marker: xmlns="<namespace>">
std::string CommandNamespaceMarker();
// operation + "():数据格式错误"
std::string FormatErrorText(const std::string& operation);

// Leading decimal integer as atoi reads it (white space, sign, digits; 0
// when there are none), saturated instead of overflowing.
int ReadLeadingInt(const std::string& text);

// The fields joined by "|"; no fields give the empty text.
std::string JoinFields(const std::vector<std::string>& fields);
// a|b|c gives 3 fields, a|b| gives 3 (the last empty), a gives 1 and the
// empty text none. A final empty field is only added after a trailing "|",
// so "1,2," split at "," gives 2. Always true.
bool SplitFields(const std::string& text, const std::string& separator, std::vector<std::string>& list);

// "cmdtype=%d&cmdid=%d&data=%s&loginid=%s" with the values as they are.
std::string BuildCommand(int cmdtype, int cmdid, const std::string& data, const std::string& loginId);

// ret = -1 and empty texts first; false without the namespace marker. Each
// element is searched behind the one before: Ret, Msg (, Msg2).
bool ParseCommandAnswer(const std::string& answer, int& ret, std::string& msg);
// Also Msg2; both messages trimmed and stripped of leading 0xA1 bytes (GBK
// full-width spaces). True when Msg2 was found.
bool ParseCommandAnswerEx(const std::string& answer, int& ret, std::string& msg, std::string& msg2);
// <result> answers: code and msg. True when msg was found.
bool ParseResultAnswer(const std::string& answer, int& code, std::string& msg);
// Ret and ServerID. True when ServerID was found.
bool ParseServerIdAnswer(const std::string& answer, int& ret, std::string& serverId);
// The readers above hand back each element's text with "&lt;", "&gt;",
// "&amp;", "&quot;" and "&#39;" turned back into their characters: the
// service writes its texts as XML text, so a "<" or a "</Msg>" in a trade
// note cannot end an element early.

// An answer of the service before it is written: texts in UTF-8.
struct CommandAnswer {
    int ret = 0;
    std::string msg;
    std::string msg2;
    std::string serverId;  // login answers only

    static CommandAnswer Ok(std::string msg) { return Make(0, std::move(msg)); }
    static CommandAnswer Fail(std::string msg) { return Make(-1, std::move(msg)); }
    static CommandAnswer Make(int ret, std::string msg)
    {
        CommandAnswer a;
        a.ret = ret;
        a.msg = std::move(msg);
        return a;
    }
};

// The XML answer in GBK, in the form the readers above take apart. The
// command's row decides the form (<result> or the namespace element with
// Ret, Msg, Msg2 or ServerID) and, for an answer with Ret 0, which messages
// are enciphered (over their GBK bytes). Without a row (no such command, a
// body that is not a command) it is a plain Ret and Msg answer.
std::string WriteCommandAnswer(const CommandAnswer& answer, const CommandEntry* entry);
// "&", "<" and ">" as XML text.
std::string XmlText(const std::string& text);

}  // namespace vextal

#pragma once
// The XML answers of the command service, in the form the client's marker
// scanner reads: the namespace attribute, then Ret, Msg, Msg2 or ServerID in
// that order. Texts are given in UTF-8; the answer comes back in GBK, the
// wire code page, with enciphered messages enciphered over their GBK bytes.
#include <string>

namespace vextal {

struct CommandAnswer {
    int ret = 0;
    std::string msg;
    std::string msg2;
    bool hasMsg2 = false;
    bool msgCiphered = false;
    bool msg2Ciphered = false;
    std::string serverId;  // login answers only
    // The <result> form (code and msg) of the commands that answer with it.
    bool resultForm = false;

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

std::string BuildAnswerXml(const CommandAnswer& answer);

// Texts that end up inside an element must not hold markup or field
// separators: user input is refused when it does.
bool HasMarkupOrSeparator(const std::string& text);

}  // namespace vextal

#include "AnswerBuilder.h"

#include "net/Cipher.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"

namespace vextal {

std::string BuildAnswerXml(const CommandAnswer& a)
{
    auto wire = [](const std::string& utf8, bool ciphered) {
        std::string gbk = Utf8ToGbk(utf8);
        return ciphered ? EncryptText(gbk, kCipherKey) : gbk;
    };
    if (a.resultForm)
        return "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<result>\r\n  <code>" + std::to_string(a.ret) +
               "</code>\r\n  <msg>" + wire(a.msg, false) + "</msg>\r\n</result>";
    std::string xml = "<?xml version=\"1.0\" encoding=\"gbk\"?>\r\n<CommandAnswer xmlns=\"";
    xml += kCommandNamespace;
    xml += "\">\r\n  <Ret>" + std::to_string(a.ret) + "</Ret>\r\n";
    xml += "  <Msg>" + wire(a.msg, a.msgCiphered) + "</Msg>\r\n";
    if (a.hasMsg2) xml += "  <Msg2>" + wire(a.msg2, a.msg2Ciphered) + "</Msg2>\r\n";
    if (!a.serverId.empty()) xml += "  <ServerID>" + a.serverId + "</ServerID>\r\n";
    xml += "</CommandAnswer>";
    return xml;
}

bool HasMarkupOrSeparator(const std::string& text)
{
    return text.find_first_of("<>&|") != std::string::npos;
}

}  // namespace vextal

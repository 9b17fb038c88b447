#include "net/ClientCommands.h"

#include "common/Format.h"
#include "net/Cipher.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"

namespace vextal {

namespace {

enum class AnswerKind { Msg, MsgEx, Result, Login };

struct CommandDef {
    const char* name;
    int cmdtype;
    int cmdid;
    AnswerKind answer = AnswerKind::Msg;
    bool sendsLoginId = true;
    bool msgCiphered = false;
    bool msg2Ciphered = false;
    bool payloadInMsg2 = false;
    size_t width = 0;  // 0: the payload is not checked
    size_t minimum = 0;
    size_t maximum = 0;
};

// A plain field on the wire: GBK, with the bytes that would end or alter a
// form value escaped. GBK trail bytes are >= 0x40, so no character is split.
std::string WireField(const std::string& utf8)
{
    std::string gbk = Utf8ToGbk(utf8);
    std::string out;
    out.reserve(gbk.size());
    for (char c : gbk) {
        switch (c) {
        case '%': out += "%25"; break;
        case '&': out += "%26"; break;
        case '+': out += "%2B"; break;
        default: out += c;
        }
    }
    return out;
}

std::string WirePassword(const std::string& utf8)
{
    return UrlEncode(EncryptText(Utf8ToGbk(utf8), kCipherKey));
}

std::string WireData(const std::vector<std::string>& utf8Fields)
{
    std::vector<std::string> wire;
    wire.reserve(utf8Fields.size());
    for (const auto& f : utf8Fields) wire.push_back(WireField(f));
    return JoinFields(wire);
}

std::string OperationName(const CommandContext& ctx, const CommandDef& def)
{
    return ctx.operation.empty() ? std::string(def.name) : ctx.operation;
}

CommandReply BadFormat(CommandReply reply, const std::string& operation)
{
    reply.status = CommandStatus::BadFormat;
    reply.error = FormatErrorText(operation);
    return reply;
}

// `data` is already in wire form (GBK, escaped).
CommandReply Run(const CommandContext& ctx, const CommandDef& def, const std::string& data)
{
    CommandReply reply;
    const std::string operation = OperationName(ctx, def);
    std::string body = BuildCommand(def.cmdtype, def.cmdid, data, def.sendsLoginId ? ctx.loginId : std::string());
    std::string answer;
    if (!HttpPostCommand(ctx.commandUrl, answer, body, std::string())) {
        reply.status = CommandStatus::SendFailed;
        reply.error = def.answer == AnswerKind::Login ? kSendRequestErrorLogin : kSendRequestError;
        return reply;
    }

    // Anything that is not the service's answer (an error page, a proxy's
    // page) is malformed rather than a refusal with an empty message.
    const std::string marker = def.answer == AnswerKind::Result ? "<result>" : CommandNamespaceMarker();
    if (answer.find(marker) == std::string::npos) return BadFormat(reply, operation);

    bool msgFound = false, msg2Found = false, idFound = false;
    std::string msg, msg2, serverId;
    switch (def.answer) {
    case AnswerKind::Msg:
        msgFound = ParseCommandAnswer(answer, reply.ret, msg);
        break;
    case AnswerKind::MsgEx: {
        int ret;
        msgFound = ParseCommandAnswer(answer, ret, msg);
        msg2Found = ParseCommandAnswerEx(answer, reply.ret, msg, msg2);
        break;
    }
    case AnswerKind::Result:
        msgFound = ParseResultAnswer(answer, reply.ret, msg);
        break;
    case AnswerKind::Login: {
        msgFound = ParseCommandAnswer(answer, reply.ret, msg);
        int ret;
        idFound = ParseServerIdAnswer(answer, ret, serverId);
        break;
    }
    }

    if (reply.ret != 0) {
        reply.status = CommandStatus::Refused;
        reply.msg = GbkToUtf8(msg);
        reply.msg2 = GbkToUtf8(msg2);
        reply.error = reply.msg;
        return reply;
    }

    if (def.msgCiphered && msgFound) msg = DecryptText(msg, kCipherKey);
    if (def.msg2Ciphered && msg2Found) msg2 = DecryptText(msg2, kCipherKey);
    reply.msg = GbkToUtf8(msg);
    reply.msg2 = GbkToUtf8(msg2);
    reply.serverId = GbkToUtf8(serverId);
    SplitFields(def.payloadInMsg2 ? reply.msg2 : reply.msg, "|", reply.fields);
    reply.status = CommandStatus::Ok;

    bool payloadFound = def.payloadInMsg2 ? msg2Found : msgFound;
    if (!payloadFound || (def.answer == AnswerKind::Login && (!idFound || reply.serverId.empty())))
        return BadFormat(std::move(reply), operation);
    if (def.width > 0) CheckRecordFields(reply, def.width, def.minimum, def.maximum, operation);
    return reply;
}

std::string CalendarDate(const OleDate& d) { return d.Format(3); }
std::string TimeStamp(const OleDate& d) { return d.Format(0); }

}  // namespace

CommandContext CommandContext::For(const std::string& op) const
{
    CommandContext copy = *this;
    copy.operation = op;
    return copy;
}

std::string MakeCommandUrl(const std::string& serviceBase)
{
    return serviceBase + kCommandPath;
}

bool CheckRecordFields(CommandReply& reply, size_t width, size_t minimum, size_t maximum,
                       const std::string& operation)
{
    size_t n = reply.fields.size();
    bool good = (width == 0 || n % width == 0) && n >= minimum && (maximum == 0 || n <= maximum);
    if (!good) {
        reply.status = CommandStatus::BadFormat;
        reply.error = FormatErrorText(operation);
    }
    return good;
}

CommandReply SendCompanyList(const CommandContext& ctx)
{
    return Run(ctx, {"SendCompanyList", 1, 1, AnswerKind::Msg, true, false, false, false, 4, 4}, "");
}

CommandReply SendFundList(const CommandContext& ctx)
{
    return Run(ctx, {"SendFundList", 1, 11, AnswerKind::Msg, true, false, false, false, 11, 11}, "");
}

CommandReply SendGroupList(const CommandContext& ctx)
{
    return Run(ctx, {"SendGroupList", 1, 13}, "");
}

CommandReply SendIndexHistory(const CommandContext& ctx, const OleDate& from, const OleDate& to,
                              int indexNumber, const std::string& indexCode)
{
    CommandDef def{"SendIndexHistory", 1, 21, AnswerKind::Msg, true, false, false, false, 5, 0};
    return Run(ctx, def, WireData({TimeStamp(from), TimeStamp(to), std::to_string(indexNumber), indexCode}));
}

CommandReply SendClassValues(const CommandContext& ctx, int fundClass, const std::string& payload)
{
    int cmdid = (fundClass == 2 || fundClass == 3 || fundClass == 4) ? fundClass : 1;
    CommandDef def{"SendClassValues", 2, cmdid, AnswerKind::MsgEx, true, false, true, true, 20, 20};
    return Run(ctx, def, WireField(payload));
}

CommandReply SendSelectedValues(const CommandContext& ctx, const std::vector<std::string>& fundIds)
{
    CommandDef def{"SendSelectedValues", 2, 5, AnswerKind::MsgEx, true, false, true, true, 20, 20};
    return Run(ctx, def, WireData(fundIds));
}

CommandReply SendFundHistory(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                             const OleDate& to, int flag)
{
    CommandDef def{"SendFundHistory", 2, 11, AnswerKind::Msg, true, false, false, false, 5, 5};
    return Run(ctx, def, WireData({fundId, CalendarDate(from), CalendarDate(to), std::to_string(flag)}));
}

CommandReply SendPeriodRecords(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                               const OleDate& to, int kind, int count)
{
    CommandDef def{"SendPeriodRecords", 2, 12, AnswerKind::Msg, true, false, false, false, 5, 0};
    return Run(ctx, def, WireData({fundId, CalendarDate(from), CalendarDate(to), std::to_string(kind),
                                   std::to_string(count)}));
}

CommandReply SendDividendQuery(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                               const OleDate& to, double shareCount, int bonusType)
{
    CommandDef def{"SendDividendQuery", 2, 13, AnswerKind::MsgEx, true, true, false, false, 4, 4};
    return Run(ctx, def, WireData({fundId, CalendarDate(from), CalendarDate(to),
                                   StrFormat("%0.2f", shareCount),
                                   std::to_string(bonusType)}));
}

CommandReply SendMoneyIncomeQuery(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                                  const OleDate& to, double shareCount)
{
    CommandDef def{"SendMoneyIncomeQuery", 2, 13, AnswerKind::MsgEx, true, true, false, false, 2, 2};
    return Run(ctx, def, WireData({fundId, CalendarDate(from), CalendarDate(to),
                                   StrFormat("%0.2f", shareCount), "1"}));
}

CommandReply SendTradeValue(const CommandContext& ctx, const std::string& fundId, const OleDate& tradeTime)
{
    CommandDef def{"SendTradeValue", 2, 21, AnswerKind::Msg, true, false, false, false, 2, 2};
    return Run(ctx, def, WireData({fundId, TimeStamp(tradeTime)}));
}

CommandReply SendLatestValue(const CommandContext& ctx, const std::string& fundId)
{
    CommandDef def{"SendLatestValue", 2, 22, AnswerKind::Msg, true, false, false, false, 5, 5};
    return Run(ctx, def, WireData({fundId}));
}

CommandReply SendIntervalFigures(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                                 const OleDate& to)
{
    CommandDef def{"SendIntervalFigures", 2, 23, AnswerKind::MsgEx, true, false, false, false, 2, 2, 2};
    return Run(ctx, def, WireData({fundId, CalendarDate(from), CalendarDate(to)}));
}

CommandReply SendRealtimeValue(const CommandContext& ctx, const std::string& fundId)
{
    CommandDef def{"SendRealtimeValue", 2, 24, AnswerKind::MsgEx, true, false, true, true, 5, 5};
    return Run(ctx, def, WireData({fundId}));
}

CommandReply SendValueCache(const CommandContext& ctx, const std::vector<std::string>& fundIds)
{
    CommandDef def{"SendValueCache", 2, 25, AnswerKind::Msg, true, false, false, false, 6, 0};
    return Run(ctx, def, WireData(fundIds));
}

CommandReply SendLogin(const CommandContext& ctx, const std::string& loginName, const std::string& password,
                       const std::string& clientVersion)
{
    CommandDef def{"SendLogin", 3, 1, AnswerKind::Login, true, false, false, false, 1, 9};
    std::string data = JoinFields({WireField(loginName), WirePassword(password), WireField(clientVersion)});
    return Run(ctx, def, data);
}

CommandReply SendLogout(const CommandContext& ctx, int userId, const std::string& loginId)
{
    return Run(ctx, {"SendLogout", 3, 2, AnswerKind::Msg, false}, WireData({std::to_string(userId), loginId}));
}

CommandReply SendRegister(const CommandContext& ctx, const std::string& loginName, const std::string& email,
                          const std::string& nickname, const std::string& password)
{
    std::string data = JoinFields({WireField(loginName), WireField(email), WireField(nickname), WirePassword(password)});
    return Run(ctx, {"SendRegister", 3, 3, AnswerKind::Msg, false}, data);
}

CommandReply SendUserUpdate(const CommandContext& ctx, int userId, const std::string& email,
                            const std::string& nickname, const std::string& password,
                            const std::string& currentPassword)
{
    std::string data = JoinFields({std::to_string(userId), WireField(email), WireField(nickname),
                                   WirePassword(password), WirePassword(currentPassword)});
    return Run(ctx, {"SendUserUpdate", 3, 4}, data);
}

CommandReply SendBookDownload(const CommandContext& ctx, int userId)
{
    return Run(ctx, {"SendBookDownload", 4, 4}, std::to_string(userId));
}

CommandReply SendBookUpload(const CommandContext& ctx, const std::string& bookText, bool createNew)
{
    return Run(ctx, {"SendBookUpload", 4, createNew ? 7 : 6}, WireField(bookText));
}

CommandReply SendPlanList(const CommandContext& ctx, int userId)
{
    CommandDef def{"SendPlanList", 4, 5, AnswerKind::Msg, true, false, false, false, 11, 11};
    return Run(ctx, def, std::to_string(userId));
}

CommandReply SendPlanSave(const CommandContext& ctx, const std::vector<std::string>& tradeFields)
{
    return Run(ctx, {"SendPlanSave", 4, 32}, WireData(tradeFields));
}

CommandReply SendTradeCancel(const CommandContext& ctx, int tradeId)
{
    return Run(ctx, {"SendTradeCancel", 4, 15, AnswerKind::Result}, std::to_string(tradeId));
}

}  // namespace vextal

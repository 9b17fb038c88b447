#include "net/ClientCommands.h"

#include "common/Format.h"
#include "net/Cipher.h"
#include "net/CommandCatalogue.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"

namespace vextal {

namespace {

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

std::string OperationName(const CommandContext& ctx, const CommandEntry& def)
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
CommandReply Run(const CommandContext& ctx, const CommandEntry& def, const std::string& data)
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

    const bool payloadFound = def.payloadInMsg2 ? msg2Found : msgFound;
    reply.payloadFound = payloadFound;
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
    return Run(ctx, command::CompanyList, "");
}

CommandReply SendFundList(const CommandContext& ctx)
{
    return Run(ctx, command::FundList, "");
}

CommandReply SendGroupList(const CommandContext& ctx)
{
    return Run(ctx, command::GroupList, "");
}

CommandReply SendIndexHistory(const CommandContext& ctx, const OleDate& from, const OleDate& to,
                              int indexNumber, const std::string& indexCode)
{
    return Run(ctx, command::IndexHistory, WireData({TimeStamp(from), TimeStamp(to), std::to_string(indexNumber), indexCode}));
}

CommandReply SendClassValues(const CommandContext& ctx, int fundClass, const std::string& payload)
{
    const int cmdid = (fundClass == 2 || fundClass == 3 || fundClass == 4) ? fundClass : 1;
    return Run(ctx, command::ClassValues[cmdid - 1], WireField(payload));
}

CommandReply SendSelectedValues(const CommandContext& ctx, const std::vector<std::string>& fundIds)
{
    return Run(ctx, command::SelectedValues, WireData(fundIds));
}

CommandReply SendFundHistory(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                             const OleDate& to, int flag)
{
    return Run(ctx, command::FundHistory, WireData({fundId, CalendarDate(from), CalendarDate(to), std::to_string(flag)}));
}

CommandReply SendPeriodRecords(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                               const OleDate& to, int kind, int count)
{
    return Run(ctx, command::PeriodRecords, WireData({fundId, CalendarDate(from), CalendarDate(to), std::to_string(kind),
                                   std::to_string(count)}));
}

CommandReply SendDividendQuery(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                               const OleDate& to, double shareCount, int bonusType)
{
    return Run(ctx, command::DividendQuery, WireData({fundId, CalendarDate(from), CalendarDate(to),
                                   StrFormat("%0.2f", shareCount),
                                   std::to_string(bonusType)}));
}

CommandReply SendMoneyIncomeQuery(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                                  const OleDate& to, double shareCount)
{
    CommandEntry def = command::DividendQuery;
    def.name = "SendMoneyIncomeQuery";
    def.width = def.minimum = 2;
    return Run(ctx, def, WireData({fundId, CalendarDate(from), CalendarDate(to),
                                   StrFormat("%0.2f", shareCount), "1"}));
}

CommandReply SendTradeValue(const CommandContext& ctx, const std::string& fundId, const OleDate& tradeTime)
{
    return Run(ctx, command::TradeValue, WireData({fundId, TimeStamp(tradeTime)}));
}

CommandReply SendLatestValue(const CommandContext& ctx, const std::string& fundId)
{
    return Run(ctx, command::LatestValue, WireData({fundId}));
}

CommandReply SendIntervalFigures(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                                 const OleDate& to)
{
    return Run(ctx, command::IntervalFigures, WireData({fundId, CalendarDate(from), CalendarDate(to)}));
}

CommandReply SendRealtimeValue(const CommandContext& ctx, const std::string& fundId)
{
    return Run(ctx, command::RealtimeValue, WireData({fundId}));
}

CommandReply SendValueCache(const CommandContext& ctx, const std::vector<std::string>& fundIds)
{
    return Run(ctx, command::ValueCache, WireData(fundIds));
}

CommandReply SendLogin(const CommandContext& ctx, const std::string& loginName, const std::string& password,
                       const std::string& clientVersion)
{
    std::string data = JoinFields({WireField(loginName), WirePassword(password), WireField(clientVersion)});
    return Run(ctx, command::Login, data);
}

CommandReply SendLogout(const CommandContext& ctx, int userId, const std::string& loginId)
{
    return Run(ctx, command::Logout, WireData({std::to_string(userId), loginId}));
}

CommandReply SendRegister(const CommandContext& ctx, const std::string& loginName, const std::string& email,
                          const std::string& nickname, const std::string& password)
{
    std::string data = JoinFields({WireField(loginName), WireField(email), WireField(nickname), WirePassword(password)});
    return Run(ctx, command::Register, data);
}

CommandReply SendUserUpdate(const CommandContext& ctx, int userId, const std::string& email,
                            const std::string& nickname, const std::string& password,
                            const std::string& currentPassword)
{
    std::string data = JoinFields({std::to_string(userId), WireField(email), WireField(nickname),
                                   WirePassword(password), WirePassword(currentPassword)});
    return Run(ctx, command::UserUpdate, data);
}

CommandReply SendBookDownload(const CommandContext& ctx, int userId)
{
    return Run(ctx, command::BookDownload, std::to_string(userId));
}

CommandReply SendBookUpload(const CommandContext& ctx, const std::string& bookText, bool createNew)
{
    return Run(ctx, createNew ? command::BookUploadNew : command::BookUploadReplace, WireField(bookText));
}

CommandReply SendPlanList(const CommandContext& ctx, int userId)
{
    return Run(ctx, command::PlanList, std::to_string(userId));
}

CommandReply SendPlanSave(const CommandContext& ctx, const std::vector<std::string>& tradeFields)
{
    return Run(ctx, command::PlanSave, WireData(tradeFields));
}

CommandReply SendTradeCancel(const CommandContext& ctx, int tradeId)
{
    return Run(ctx, command::TradeCancel, std::to_string(tradeId));
}

}  // namespace vextal

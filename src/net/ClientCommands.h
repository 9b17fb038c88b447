#pragma once
// One function per command of the client service. Each builds the command's
// `data`, posts it to the command URL, reads the answer, deciphers what the
// service enciphers, and hands back UTF-8 texts and fields, or the exact
// text to show when it failed. Callers never build bodies themselves.
//
// Text conversion happens here and only here: request fields go out in GBK,
// answer texts come back in UTF-8 (after deciphering). Plain field values
// have "%", "&" and "+" percent-escaped so that no value can end its form
// field early or turn into a space; the service's form decoding gives the
// original bytes back. A "|" inside a value still splits it into two fields:
// callers must not pass one.
//
// Dates: calendar dates go out as "%Y-%m-%d", time stamps as
// "%Y-%m-%d %H:%M:%S"; money and counts as "%0.2f".
#include <string>
#include <vector>

#include "common/OleDate.h"

namespace vextal {

// Where and as whom commands are sent.
struct CommandContext {
    std::string commandUrl;  // MakeCommandUrl(service base)
    std::string loginId;     // the login id issued by the login answer
    // The caller's operation, named in the "():数据格式错误" text; empty:
    // the command function's own name.
    std::string operation;

    // A copy that reports format errors under `op`.
    CommandContext For(const std::string& op) const;
};

// service base URL (ending in "/") + the command path.
std::string MakeCommandUrl(const std::string& serviceBase);

enum class CommandStatus {
    Ok,          // sent, Ret 0, payload of the expected shape
    SendFailed,  // transport failure, HTTP status >= 400 or empty answer
    Refused,     // Ret not 0 (or no service answer at all): error = the service's Msg
    BadFormat,   // Ret 0 but the payload is missing or of the wrong shape
};

struct CommandReply {
    CommandStatus status = CommandStatus::SendFailed;
    int ret = -1;
    std::string msg;   // UTF-8; deciphered where the command enciphers it
    std::string msg2;  // UTF-8; deciphered where the command enciphers it
    // The payload split at "|": Msg, or Msg2 for the latest-value commands
    // (class lists, selected funds, real-time value).
    std::vector<std::string> fields;
    std::string serverId;  // login only
    // The payload's element (Msg, or Msg2 where the payload travels there)
    // was in the answer, whole: an empty payload is one found empty, never
    // an answer cut short or a page that is not the service's.
    bool payloadFound = false;
    // What to show when !ok(): "发送请求错误，请检查网络是否可用" (login: "发送请求错误"),
    // the service's Msg, or "<operation>():数据格式错误".
    std::string error;

    bool ok() const { return status == CommandStatus::Ok; }
};

// Checks the payload for records of `width` fields, at least `minimum`
// fields, and at most `maximum` when that is not 0. On a mismatch the reply
// becomes BadFormat with the format error text of `operation`.
bool CheckRecordFields(CommandReply& reply, size_t width, size_t minimum, size_t maximum,
                       const std::string& operation);

// 1/1 fund companies: 4-field records, at least one.
CommandReply SendCompanyList(const CommandContext& ctx);
// 1/11 fund information: 11-field records, at least one.
CommandReply SendFundList(const CommandContext& ctx);
// 1/13 the user's favourite folders (number, name, n, n fund codes; unchecked).
CommandReply SendGroupList(const CommandContext& ctx);
// 1/21 index history: 5-field records.
CommandReply SendIndexHistory(const CommandContext& ctx, const OleDate& from, const OleDate& to,
                              int indexNumber, const std::string& indexCode);

// 2/1..2/4 latest values of a class (cmdid = class for 2, 3, 4, else 1);
// `payload` is the class payload text (the stored NewFundValueNO). Msg2 is
// deciphered; 20-field records, at least one. `msg` keeps the plain Msg.
CommandReply SendClassValues(const CommandContext& ctx, int fundClass, const std::string& payload);
// 2/5 latest values of selected funds, as SendClassValues.
CommandReply SendSelectedValues(const CommandContext& ctx, const std::vector<std::string>& fundIds);
// 2/11 NAV history: 5-field records, at least one. `flag` 1 when local data exists.
CommandReply SendFundHistory(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                             const OleDate& to, int flag);
// 2/12 NAV records at period points: 5-field records.
CommandReply SendPeriodRecords(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                               const OleDate& to, int kind, int count);
// 2/13 dividends for a share count: Msg deciphered, 4-field groups, at least one.
CommandReply SendDividendQuery(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                               const OleDate& to, double shareCount, int bonusType);
// 2/13 with mode 1, the accumulated income of a money-market holding:
// Msg deciphered, pairs (amount, date), at least one.
CommandReply SendMoneyIncomeQuery(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                                  const OleDate& to, double shareCount);
// 2/21 NAV for confirming a trade: an even count of fields, at least 2 (NAV, date).
CommandReply SendTradeValue(const CommandContext& ctx, const std::string& fundId, const OleDate& tradeTime);
// 2/22 latest NAV of one fund: 5-field records, at least one.
CommandReply SendLatestValue(const CommandContext& ctx, const std::string& fundId);
// 2/23 interval figures: exactly 2 fields (fund growth, CSI 300 growth).
CommandReply SendIntervalFigures(const CommandContext& ctx, const std::string& fundId, const OleDate& from,
                                 const OleDate& to);
// 2/24 real-time value: Msg2 deciphered, 5-field records, at least one.
CommandReply SendRealtimeValue(const CommandContext& ctx, const std::string& fundId);
// 2/25 value cache of the user's funds: 6-field records.
CommandReply SendValueCache(const CommandContext& ctx, const std::vector<std::string>& fundIds);

// 3/1 login (the context's login id is sent, normally empty before the
// first login). Msg: at least 9 fields; serverId: the new login id (required).
// A failed request reports "发送请求错误".
CommandReply SendLogin(const CommandContext& ctx, const std::string& loginName, const std::string& password,
                       const std::string& clientVersion);
// 3/2 logout (empty loginid in the body; the login id travels in `data`).
CommandReply SendLogout(const CommandContext& ctx, int userId, const std::string& loginId);
// 3/3 registration (empty loginid).
CommandReply SendRegister(const CommandContext& ctx, const std::string& loginName, const std::string& email,
                          const std::string& nickname, const std::string& password);
// 3/4 update of the user's record: `password` the one to keep (the new one
// for a change), `currentPassword` the one in force, which the service checks.
CommandReply SendUserUpdate(const CommandContext& ctx, int userId, const std::string& email,
                            const std::string& nickname, const std::string& password,
                            const std::string& currentPassword);

// 4/4 download of the bookkeeping text (in msg).
CommandReply SendBookDownload(const CommandContext& ctx, int userId);
// 4/6 (replace accounts of the same name) or 4/7 (create new ones) upload.
CommandReply SendBookUpload(const CommandContext& ctx, const std::string& bookText, bool createNew);
// 4/5 the user's fixed-investment plans: 11-field records, at least one.
CommandReply SendPlanList(const CommandContext& ctx, int userId);
// 4/32 save (or, with planned periods -1, delete) a plan; `tradeFields` in
// the order of the plan's trade record, already formatted.
CommandReply SendPlanSave(const CommandContext& ctx, const std::vector<std::string>& tradeFields);
// 4/15 cancelling a trade (a <result> answer: code and msg).
CommandReply SendTradeCancel(const CommandContext& ctx, int tradeId);

}  // namespace vextal

#pragma once
// The commands of the client service as both ends read them: the program
// builds and checks its requests from these rows, plindo-serve knows a
// command, enciphers its answer and chooses the answer's form from the same
// row. A command that is not in the table does not exist.
#include <cstddef>
#include <span>

namespace vextal {

enum class AnswerKind {
    Msg,     // Ret, Msg
    MsgEx,   // Ret, Msg, Msg2
    Result,  // <result>: code, msg
    Login,   // Ret, Msg, then ServerID
};

// What a request's `data` may carry, checked by the service before anything
// of the payload is decoded: an unknown command, a missing login or an
// oversized payload then costs nothing but the scan of the form.
inline constexpr size_t kSmallRequest = 512;
inline constexpr size_t kBookRequestBytes = size_t(4) << 20;  // a whole bookkeeping text
inline constexpr size_t kMaxRequestCodes = 2000;              // fund codes in one request

struct CommandEntry {
    const char* name = "";  // the operation named in "():数据格式错误"
    int cmdtype = 0;
    int cmdid = 0;
    AnswerKind answer = AnswerKind::Msg;
    bool sendsLoginId = true;
    bool msgCiphered = false;   // Msg of a successful answer
    bool msg2Ciphered = false;  // Msg2 of a successful answer
    bool payloadInMsg2 = false;
    size_t width = 0;    // fields per record; 0: the payload is not checked
    size_t minimum = 0;  // at least this many fields
    size_t maximum = 0;  // at most this many; 0: no limit
    // The request, as the service takes it.
    bool needsLogin = true;               // a live login id in `loginid`
    size_t requestFields = 1;             // "|"-separated fields at most; 0: a text, not split
    size_t requestBytes = kSmallRequest;  // `data` after percent-decoding, in the wire code page
};

namespace command {

inline constexpr CommandEntry CompanyList{.name = "SendCompanyList", .cmdtype = 1, .cmdid = 1, .width = 4, .minimum = 4};
inline constexpr CommandEntry FundList{.name = "SendFundList", .cmdtype = 1, .cmdid = 11, .width = 11, .minimum = 11};
inline constexpr CommandEntry GroupList{.name = "SendGroupList", .cmdtype = 1, .cmdid = 13};
inline constexpr CommandEntry IndexHistory{.name = "SendIndexHistory", .cmdtype = 1, .cmdid = 21, .width = 5,
                                          .requestFields = 4};
// 2/1 to 2/4: the class code for 2, 3 and 4, 1 for every other class.
inline constexpr CommandEntry ClassValues[4] = {
    {.name = "SendClassValues", .cmdtype = 2, .cmdid = 1, .answer = AnswerKind::MsgEx, .msg2Ciphered = true,
     .payloadInMsg2 = true, .width = 20, .minimum = 20},
    {.name = "SendClassValues", .cmdtype = 2, .cmdid = 2, .answer = AnswerKind::MsgEx, .msg2Ciphered = true,
     .payloadInMsg2 = true, .width = 20, .minimum = 20},
    {.name = "SendClassValues", .cmdtype = 2, .cmdid = 3, .answer = AnswerKind::MsgEx, .msg2Ciphered = true,
     .payloadInMsg2 = true, .width = 20, .minimum = 20},
    {.name = "SendClassValues", .cmdtype = 2, .cmdid = 4, .answer = AnswerKind::MsgEx, .msg2Ciphered = true,
     .payloadInMsg2 = true, .width = 20, .minimum = 20},
};
inline constexpr CommandEntry SelectedValues{.name = "SendSelectedValues", .cmdtype = 2, .cmdid = 5,
                                            .answer = AnswerKind::MsgEx, .msg2Ciphered = true,
                                            .payloadInMsg2 = true, .width = 20, .minimum = 20,
                                            .requestFields = kMaxRequestCodes,
                                            .requestBytes = kMaxRequestCodes * 8};
inline constexpr CommandEntry FundHistory{.name = "SendFundHistory", .cmdtype = 2, .cmdid = 11, .width = 5,
                                         .minimum = 5, .requestFields = 4};
inline constexpr CommandEntry PeriodRecords{.name = "SendPeriodRecords", .cmdtype = 2, .cmdid = 12, .width = 5,
                                           .requestFields = 5};
// Groups of four (dividend per unit and three dates); a money-market fund's
// income is a pair (amount, date) of the same command with mode 1.
inline constexpr CommandEntry DividendQuery{.name = "SendDividendQuery", .cmdtype = 2, .cmdid = 13,
                                           .answer = AnswerKind::MsgEx, .msgCiphered = true, .width = 4,
                                           .minimum = 4, .requestFields = 5};
inline constexpr CommandEntry TradeValue{.name = "SendTradeValue", .cmdtype = 2, .cmdid = 21, .width = 2, .minimum = 2,
                                        .requestFields = 2};
inline constexpr CommandEntry LatestValue{.name = "SendLatestValue", .cmdtype = 2, .cmdid = 22, .width = 5,
                                         .minimum = 5};
inline constexpr CommandEntry IntervalFigures{.name = "SendIntervalFigures", .cmdtype = 2, .cmdid = 23,
                                             .answer = AnswerKind::MsgEx, .width = 2, .minimum = 2, .maximum = 2,
                                             .requestFields = 3};
inline constexpr CommandEntry RealtimeValue{.name = "SendRealtimeValue", .cmdtype = 2, .cmdid = 24,
                                           .answer = AnswerKind::MsgEx, .msg2Ciphered = true,
                                           .payloadInMsg2 = true, .width = 5, .minimum = 5};
inline constexpr CommandEntry ValueCache{.name = "SendValueCache", .cmdtype = 2, .cmdid = 25, .width = 6,
                                        .requestFields = kMaxRequestCodes, .requestBytes = kMaxRequestCodes * 8};
inline constexpr CommandEntry Login{.name = "SendLogin", .cmdtype = 3, .cmdid = 1, .answer = AnswerKind::Login,
                                   .width = 1, .minimum = 9, .needsLogin = false, .requestFields = 3,
                                   .requestBytes = 1024};
inline constexpr CommandEntry Logout{.name = "SendLogout", .cmdtype = 3, .cmdid = 2, .sendsLoginId = false,
                                    .needsLogin = false, .requestFields = 2};
inline constexpr CommandEntry Register{.name = "SendRegister", .cmdtype = 3, .cmdid = 3, .sendsLoginId = false,
                                      .needsLogin = false, .requestFields = 4, .requestBytes = 1024};
inline constexpr CommandEntry UserUpdate{.name = "SendUserUpdate", .cmdtype = 3, .cmdid = 4, .requestFields = 5,
                                        .requestBytes = 1024};
inline constexpr CommandEntry BookDownload{.name = "SendBookDownload", .cmdtype = 4, .cmdid = 4};
inline constexpr CommandEntry PlanList{.name = "SendPlanList", .cmdtype = 4, .cmdid = 5, .width = 11, .minimum = 11};
// Upload with "帐户名称相同则替换" (4/6) and with "帐户名称相同则新建" (4/7).
inline constexpr CommandEntry BookUploadReplace{.name = "SendBookUpload", .cmdtype = 4, .cmdid = 6,
                                               .requestFields = 0, .requestBytes = kBookRequestBytes};
inline constexpr CommandEntry BookUploadNew{.name = "SendBookUpload", .cmdtype = 4, .cmdid = 7,
                                           .requestFields = 0, .requestBytes = kBookRequestBytes};
inline constexpr CommandEntry TradeCancel{.name = "SendTradeCancel", .cmdtype = 4, .cmdid = 15,
                                         .answer = AnswerKind::Result};
inline constexpr CommandEntry PlanSave{.name = "SendPlanSave", .cmdtype = 4, .cmdid = 32, .requestFields = 12};

}  // namespace command

// Every command, each (cmdtype, cmdid) once.
std::span<const CommandEntry> CommandCatalogue();
// The row of a command; nullptr for a command that does not exist.
const CommandEntry* FindCommand(int cmdtype, int cmdid);

}  // namespace vextal

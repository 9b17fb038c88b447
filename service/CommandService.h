#pragma once
// The command service: takes the body of a SendCommand request, checks it,
// runs the command against the market simulator and the user store, and
// gives back the XML answer. No HTTP here, so tests drive it in-process.
#include <string>
#include <string_view>
#include <vector>

#include "AnswerBuilder.h"
#include "MarketSimulator.h"
#include "MemberStore.h"
#include "UserStore.h"

namespace vextal {

// Strict decimal integer: optional sign and digits only, within int range.
bool ParseInt(const std::string& text, int& value);

struct CommandRequest {
    int cmdtype = 0;
    int cmdid = 0;
    std::string data;     // wire form: GBK
    std::string loginId;
};

// Percent-decoding of one form value; "+" stays "+" (the client escapes a
// plus of its own), broken escapes stay as they are.
std::string FormDecode(const std::string& value);

inline constexpr const char* kDataFormatError = "数据格式错误";
inline constexpr const char* kLoginFirst = "请先登录";
inline constexpr const char* kUnknownCommand = "不支持的命令";
inline constexpr const char* kVipOnly = "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。";

// What the start of a SendCommand body settles: nothing yet, nothing (the
// body is to be read whole), or the answer.
enum class BodyScreen { More, Read, Answered };

class CCommandService {
public:
    CCommandService(const CMarket& market, CUserStore& users, std::string clientVersion);

    // The whole answer (GBK XML) to a SendCommand body from `address` (the
    // client's, for the login's back-off); `parsed`: the command it named.
    std::string HandleBody(const std::string& body, const std::string& address = {},
                           CommandRequest* parsed = nullptr);
    // Settles a request from the start of its body when it can, so that a
    // refused one is never read whole: an unknown command, a body longer
    // than its command may carry (`length`, 0 when not known), or a login id
    // sent before the data that is no live login. Never waits for the store.
    BodyScreen ScreenBody(std::string_view start, bool whole, size_t length, std::string& answer);
    // The answer of GetClientVersion.
    std::string ClientVersionAnswer() const;
    // The answer of DeleteFundFormTopic (LoginID, TopicID, FundID, AddFlag):
    // a bare number, 0 done, -5 already in the folder (see MemberCommands.cpp).
    std::string FolderRequest(const std::string& body);

private:
    using Fields = std::vector<std::string>;
    // A known command whose login was checked; `data` in UTF-8, `f` its fields.
    CommandAnswer Dispatch(int cmdtype, int cmdid, const Fields& f, const std::string& data, int user,
                           const std::string& loginId, const std::string& address);
    CommandAnswer Login(const Fields& f, const std::string& address);
    CommandAnswer Logout(const Fields& f);
    CommandAnswer Register(const Fields& f);
    CommandAnswer UpdateUser(const Fields& f, int sessionUser, const std::string& loginId, const std::string& address);

    CommandAnswer CompanyList();
    CommandAnswer FundList();
    CommandAnswer IndexHistory(const Fields& f);
    CommandAnswer ClassValues(int cmdid, const std::string& version);
    CommandAnswer SelectedValues(const Fields& f);
    CommandAnswer FundHistory(const Fields& f);
    CommandAnswer PeriodRecords(const Fields& f);
    CommandAnswer DividendQuery(const Fields& f);
    CommandAnswer TradeValue(const Fields& f);
    CommandAnswer LatestNav(const Fields& f);
    CommandAnswer IntervalFigures(const Fields& f);
    CommandAnswer RealtimeValue(const Fields& f);
    CommandAnswer ValueCache(const Fields& f);

    // Member data (MemberCommands.cpp).
    CommandAnswer MemberCommand(int cmdid, const Fields& f, const std::string& data, int user);
    CommandAnswer MemberFolders(int user);
    CommandAnswer BookUpload(const std::string& data, bool replace, int user);
    CommandAnswer BookDownload(const Fields& f, int user);
    CommandAnswer PlanList(const Fields& f, int user);
    CommandAnswer PlanSave(const Fields& f, int user);
    CommandAnswer TradeCancel(const Fields& f, int user);

    // Msg: the values' version; Msg2: the records of the funds whose value is newer than sinceDay.
    CommandAnswer LatestValues(const std::vector<const SimFund*>& funds, int sinceDay) const;
    // The 20-field latest-value record (its code field enciphered), or empty.
    std::string LatestRecord(const SimFund& fund, const OleDate& now, int sinceDay) const;
    std::string FundNotFound(const std::string& code) const;

    const CMarket& m_market;
    // Each fund's code as the latest-value records carry it, by ordinal: a
    // whole class list would otherwise set up the cipher once per record.
    std::vector<std::string> m_cipheredCodes;
    CUserStore& m_users;
    CMemberStore m_members;
    std::string m_clientVersion;
};

}  // namespace vextal

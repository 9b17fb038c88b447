#include "CommandService.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "HttpFront.h"
#include "TradingCalendar.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/Cipher.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "wire/ValueRecords.h"

namespace vextal {
namespace {

size_t CharCount(const std::string& utf8)
{
    size_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace

// Strict decimal integer: optional sign and digits only, within int range.
bool ParseInt(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 11) return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || v < -2147483647L || v > 2147483647L) return false;
    value = static_cast<int>(v);
    return true;
}

std::string FormDecode(const std::string& value) { return PercentDecode(value, false); }

CCommandService::CCommandService(const CMarket& market, CUserStore& users, std::string clientVersion)
    : m_market(market), m_users(users), m_members(users), m_clientVersion(std::move(clientVersion))
{
    // A new member's first folder holds a few equity funds, so the favourite
    // highlighting and the favourites-only list show something at once.
    m_members.SetStarterFunds(m_market.StarterFunds(DayNumber(Clock::Now())));
    m_cipheredCodes.reserve(m_market.Funds().size());
    for (const SimFund& f : m_market.Funds()) m_cipheredCodes.push_back(EncipherFundCode(f.code));
}

namespace {

// The command's form fields; `data` is left encoded (a view into `body`)
// until the command and the login are known to be worth it.
bool ScanCommandBody(const std::string& body, CommandRequest& request, std::string_view& rawData)
{
    request = CommandRequest{};
    rawData = {};
    bool hasType = false, hasId = false;
    size_t pos = 0;
    while (pos <= body.size()) {
        size_t amp = body.find('&', pos);
        if (amp == std::string::npos) amp = body.size();
        const std::string_view pair(body.data() + pos, amp - pos);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos) {
            const std::string_view key = pair.substr(0, eq), value = pair.substr(eq + 1);
            if (key == "data")
                rawData = value;
            else if (key == "cmdtype")
                hasType = ParseInt(FormDecode(std::string(value)), request.cmdtype);
            else if (key == "cmdid")
                hasId = ParseInt(FormDecode(std::string(value)), request.cmdid);
            else if (key == "loginid")
                request.loginId = FormDecode(std::string(value.substr(0, 256)));
        }
        pos = amp + 1;
    }
    return hasType && hasId;
}

}  // namespace

BodyScreen CCommandService::ScreenBody(std::string_view start, bool whole, size_t length, std::string& answer)
{
    CommandRequest req;
    bool hasType = false, hasId = false, hasLogin = false, dataFirst = false;
    for (size_t pos = 0; pos <= start.size();) {
        size_t amp = start.find('&', pos);
        if (amp == std::string_view::npos) {
            // The last field may still be coming; only its name counts then.
            if (!whole) {
                dataFirst = dataFirst || start.substr(pos).rfind("data=", 0) == 0;
                break;
            }
            amp = start.size();
        }
        const std::string_view pair = start.substr(pos, amp - pos);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos) {
            const std::string_view key = pair.substr(0, eq), value = pair.substr(eq + 1);
            if (key == "data")
                dataFirst = dataFirst || !hasLogin;
            else if (key == "cmdtype")
                hasType = ParseInt(FormDecode(std::string(value)), req.cmdtype);
            else if (key == "cmdid")
                hasId = ParseInt(FormDecode(std::string(value)), req.cmdid);
            else if (key == "loginid") {
                hasLogin = true;
                req.loginId = FormDecode(std::string(value.substr(0, 256)));
            }
        }
        pos = amp + 1;
    }
    if (!hasType || !hasId) return dataFirst || whole ? BodyScreen::Read : BodyScreen::More;
    const CommandEntry* entry = FindCommand(req.cmdtype, req.cmdid);
    if (!entry) {
        answer = WriteCommandAnswer(CommandAnswer::Fail(kUnknownCommand), nullptr);
        return BodyScreen::Answered;
    }
    if (hasLogin && entry->needsLogin && !m_users.SessionLive(req.loginId)) {
        answer = WriteCommandAnswer(CommandAnswer::Fail(kLoginFirst), entry);
        return BodyScreen::Answered;
    }
    // Percent-encoding makes a byte of data at most three; the other fields
    // are short.
    if (length > 3 * entry->requestBytes + 1024) {
        answer = WriteCommandAnswer(CommandAnswer::Fail(kDataFormatError), entry);
        return BodyScreen::Answered;
    }
    return hasLogin || dataFirst || whole ? BodyScreen::Read : BodyScreen::More;
}

std::string CCommandService::HandleBody(const std::string& body, const std::string& address, CommandRequest* parsed)
{
    CommandRequest req;
    std::string_view rawData;
    const bool wellFormed = ScanCommandBody(body, req, rawData);
    if (parsed) *parsed = req;
    if (!wellFormed) return WriteCommandAnswer(CommandAnswer::Fail(kDataFormatError), nullptr);
    const CommandEntry* entry = FindCommand(req.cmdtype, req.cmdid);
    if (!entry) return WriteCommandAnswer(CommandAnswer::Fail(kUnknownCommand), nullptr);
    int user = 0;
    if (entry->needsLogin && !m_users.FindSession(req.loginId, user))
        return WriteCommandAnswer(CommandAnswer::Fail(kLoginFirst), entry);
    // Percent-encoding makes a byte at most three.
    if (rawData.size() > 3 * entry->requestBytes) return WriteCommandAnswer(CommandAnswer::Fail(kDataFormatError), entry);
    req.data = FormDecode(std::string(rawData));
    if (req.data.size() > entry->requestBytes ||
        (entry->requestFields &&
         static_cast<size_t>(std::count(req.data.begin(), req.data.end(), '|')) >= entry->requestFields))
        return WriteCommandAnswer(CommandAnswer::Fail(kDataFormatError), entry);
    // The one place where request text leaves the wire code page. A
    // bookkeeping text is stored converted, so it must come back as the very
    // bytes sent: text that is not clean GBK is refused rather than altered.
    std::string data = GbkToUtf8(req.data);
    if (entry->requestFields == 0) {
        if (Utf8ToGbk(data) != req.data) return WriteCommandAnswer(CommandAnswer::Fail("记帐数据编码错误"), entry);
        return WriteCommandAnswer(MemberCommand(req.cmdid, {}, data, user), entry);
    }
    Fields f;
    SplitFields(data, "|", f);
    return WriteCommandAnswer(Dispatch(req.cmdtype, req.cmdid, f, data, user, req.loginId, address), entry);
}

std::string CCommandService::ClientVersionAnswer() const
{
    return WriteCommandAnswer(CommandAnswer::Ok(m_clientVersion), nullptr);
}

CommandAnswer CCommandService::Dispatch(int cmdtype, int cmdid, const Fields& f, const std::string& data, int user,
                                        const std::string& loginId, const std::string& address)
{
    if (cmdtype == 3) {
        switch (cmdid) {
        case 1: return Login(f, address);
        case 2: return Logout(f);
        case 3: return Register(f);
        default: return UpdateUser(f, user, loginId, address);
        }
    }
    if (cmdtype == 4) return MemberCommand(cmdid, f, data, user);
    if (cmdtype == 1) {
        if (cmdid == 1) return CompanyList();
        if (cmdid == 11) return FundList();
        if (cmdid == 13) return MemberFolders(user);
        return IndexHistory(f);
    }
    switch (cmdid) {
    case 1: case 2: case 3: case 4: return ClassValues(cmdid, data);
    case 5: return SelectedValues(f);
    case 11: return FundHistory(f);
    case 12: return PeriodRecords(f);
    case 13: return DividendQuery(f);
    case 21: return TradeValue(f);
    case 22: return LatestNav(f);
    case 23: return IntervalFigures(f);
    case 24: return RealtimeValue(f);
    default: return ValueCache(f);
    }
}

CommandAnswer CCommandService::Login(const Fields& f, const std::string& address)
{
    if (f.size() < 2) return CommandAnswer::Fail(kDataFormatError);
    ServiceUser user;
    std::string password = GbkToUtf8(DecryptText(f[1], kCipherKey));
    long waitMs = 0;
    switch (m_users.Authenticate(TrimText(f[0]), password, address, user, waitMs)) {
    case CUserStore::LoginResult::Throttled:
        return CommandAnswer::Fail(StrFormat("登录失败次数过多，请%ld秒后再试", (waitMs + 999) / 1000));
    case CUserStore::LoginResult::Wrong: return CommandAnswer::Fail("用户名或密码错误");
    case CUserStore::LoginResult::Ok: break;
    }
    const OleDate now = Clock::Now();
    // A lapsed membership logs in as a free member.
    if (!CUserStore::IsVip(user, now)) user.level = 0;
    std::string loginId = m_users.CreateSession(user, now);
    if (loginId.empty()) return CommandAnswer::Fail("系统错误，请联系管理员");
    int newest = m_market.LatestNavDay(now);
    CommandAnswer a = CommandAnswer::Ok(JoinFields({
        std::to_string(user.userId), user.nickname, user.email, user.regDate.Format(3), user.endDate.Format(3),
        m_market.CompanyListVersion(now), m_market.FundListVersion(now), DateOfDay(newest).Format(3),
        StrFormat("vip=%d;level=%d", user.level > 0 ? 1 : 0, user.level)}));
    a.serverId = loginId;
    return a;
}

CommandAnswer CCommandService::Logout(const Fields& f)
{
    int userId = 0, sessionUser = 0;
    if (f.size() < 2 || !ParseInt(f[0], userId)) return CommandAnswer::Fail(kDataFormatError);
    if (!m_users.FindSession(f[1], sessionUser) || sessionUser != userId) return CommandAnswer::Fail(kLoginFirst);
    m_users.EndSession(f[1]);
    return CommandAnswer::Ok("注销成功");
}

namespace {

// The checks shared by registration and update, in the order of the form.
std::string CheckUserFields(const std::string& email, const std::string& nickname, const std::string& password)
{
    if (email.empty()) return "Email不能为空";
    if (nickname.empty()) return "昵称不能为空";
    if (password.empty()) return "密码不能为空";
    if (HasMarkupOrSeparator(email) || HasMarkupOrSeparator(nickname)) return "Email和昵称不能包含< > & |字符";
    size_t at = email.find('@');
    if (at == std::string::npos || at == 0 || email.find('.', at) == std::string::npos || email.size() > 64)
        return "Email格式不正确";
    if (CharCount(nickname) > 32) return "昵称不能超过32个字符";
    if (password.size() > 32) return "密码不能超过32个字符";
    return {};
}

}  // namespace

CommandAnswer CCommandService::Register(const Fields& f)
{
    if (f.size() != 4) return CommandAnswer::Fail(kDataFormatError);
    ServiceUser user;
    user.loginName = TrimText(f[0]);
    user.email = TrimText(f[1]);
    user.nickname = TrimText(f[2]);
    user.password = GbkToUtf8(DecryptText(f[3], kCipherKey));
    if (user.loginName.empty()) return CommandAnswer::Fail("用户名不能为空");
    std::string problem = CheckUserFields(user.email, user.nickname, user.password);
    if (!problem.empty()) return CommandAnswer::Fail(problem);
    if (CharCount(user.loginName) > 16) return CommandAnswer::Fail("用户名不能超过16个字符");
    if (HasMarkupOrSeparator(user.loginName) || user.loginName.find_first_of(" '\"\t") != std::string::npos)
        return CommandAnswer::Fail("用户名包含非法字符");
    user.level = 0;
    user.regDate = Clock::Now();
    user.endDate = user.regDate;
    switch (m_users.AddUser(user)) {
    case CUserStore::AddResult::Added: return CommandAnswer::Ok("注册成功");
    case CUserStore::AddResult::NameTaken: return CommandAnswer::Fail("该用户名已经被注册");
    default: return CommandAnswer::Fail("系统错误，请联系管理员");
    }
}

// Fields: user id, Email, nickname, the new password, the current password
// (enciphered). Without the fifth field the password field is taken as the
// current one, so such an update cannot change the password. A changed
// password ends the member's other logins.
CommandAnswer CCommandService::UpdateUser(const Fields& f, int sessionUser, const std::string& loginId,
                                          const std::string& address)
{
    int userId = 0;
    if ((f.size() != 4 && f.size() != 5) || !ParseInt(f[0], userId)) return CommandAnswer::Fail(kDataFormatError);
    if (userId != sessionUser) return CommandAnswer::Fail("不能修改其他用户的信息");
    ServiceUser user;
    if (!m_users.FindById(userId, user)) return CommandAnswer::Fail(kLoginFirst);
    const std::string password = GbkToUtf8(DecryptText(f[3], kCipherKey));
    const std::string current = f.size() == 5 ? GbkToUtf8(DecryptText(f[4], kCipherKey)) : password;
    // Checked as a login is, back-off included: a borrowed login id is no
    // way to guess the password.
    ServiceUser checked;
    long waitMs = 0;
    switch (m_users.Authenticate(user.loginName, current, address, checked, waitMs)) {
    case CUserStore::LoginResult::Throttled:
        return CommandAnswer::Fail(StrFormat("登录失败次数过多，请%ld秒后再试", (waitMs + 999) / 1000));
    case CUserStore::LoginResult::Wrong: return CommandAnswer::Fail("旧密码不正确");
    case CUserStore::LoginResult::Ok: break;
    }
    user.email = TrimText(f[1]);
    user.nickname = TrimText(f[2]);
    user.password = password;
    std::string problem = CheckUserFields(user.email, user.nickname, user.password);
    if (!problem.empty()) return CommandAnswer::Fail(problem);
    if (!m_users.UpdateUser(user)) return CommandAnswer::Fail("系统错误，请联系管理员");
    if (password != current) m_users.EndOtherSessions(userId, loginId);
    return CommandAnswer::Ok("修改成功");
}

}  // namespace vextal

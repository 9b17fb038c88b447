#include "app/Membership.h"

#include "app/ProgramState.h"
#include "common/Format.h"
#include "common/StringTable.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"

namespace vextal {

int MembershipLevelOf(const std::string& serverId)
{
    size_t dash = serverId.rfind('-');
    if (dash == std::string::npos || dash + 1 >= serverId.size()) return -1;
    for (size_t i = dash + 1; i < serverId.size(); ++i)
        if (serverId[i] < '0' || serverId[i] > '9') return -1;
    return ReadLeadingInt(serverId.substr(dash + 1));
}

int CMembership::LoginOnline(CUserInfo& user, const std::string& clientVersion)
{
    return TakeLoginReply(user, AskLogin(m_commandUrl, user, clientVersion));
}

CommandReply CMembership::AskLogin(const std::string& commandUrl, const CUserInfo& user,
                                   const std::string& clientVersion)
{
    CommandContext ctx{commandUrl, user.LoginID, "LoginOnline"};
    return SendLogin(ctx, user.LoginName, user.Password, clientVersion);
}

int CMembership::TakeLoginReply(CUserInfo& user, const CommandReply& reply)
{
    m_error.clear();
    if (!reply.ok()) {
        m_error = reply.error;
        return -1;
    }
    user.LoginID = reply.serverId;
    m_vip = MembershipLevelOf(reply.serverId) >= 1 ? 1 : 0;

    const auto& f = reply.fields;
    if (f.size() == 9) {
        user.UserID = ReadLeadingInt(f[0]);
        user.NickName = f[1];
        user.Email = f[2];
        user.RegisterDate = f[3];
        user.EndDate = f[4];
        user.FundCorVersion = f[5];
        user.FundInfoVersion = f[6];
        user.NewValueDate = f[7];
        OleDate newest;
        if (OleDate::Parse(f[7], newest)) {
            DateParts p = newest.Parts();
            SetNewestValueDate({p.year, p.month, p.day});
        }
        for (const auto& item : SplitText(f[8], ';')) {
            auto kv = SplitText(item, '=');
            if (kv.size() == 2) user.Attributes[kv[0]] = kv[1];
        }
        SaveLocalUser(user);
    }
    return 0;
}

int CMembership::LoginOffline(CUserInfo& user)
{
    m_error.clear();
    std::string sql = "SELECT UserID FROM T_User_Info WHERE LoginName='" + SqlEscape(user.LoginName) +
                      "' AND UserPwd='" + SqlEscape(user.Password) + "'";
    RecordsetPtr rs = m_db.OpenRecordsetEx(sql);
    if (!rs) {
        m_error = m_db.GetLastError();
        return -1;
    }
    if (rs->IsEOF()) {
        m_error = kOfflineLoginError;
        return -1;
    }
    int userId = 0;
    m_db.GetFieldValue(rs, "UserID", userId);
    user.UserID = userId;
    return 0;
}

bool CMembership::SaveLocalUser(const CUserInfo& user)
{
    FieldValueList fields{{"UserID", user.UserID}, {"LoginName", user.LoginName}, {"UserPwd", user.Password}};
    std::string name = SqlEscape(user.LoginName);
    int count = m_db.GetRecordCount("SELECT * FROM T_User_Info WHERE LoginName='" + name + "'");
    bool ok = count <= 0 ? m_db.InsertRecord("T_User_Info", fields)
                         : m_db.UpdateRecord("T_User_Info", fields, " WHERE LoginName='" + name + "'");
    if (!ok) m_error = m_db.GetLastError();
    return ok;
}

bool CMembership::Register(const std::string& loginName, const std::string& email, const std::string& nickname,
                           const std::string& password)
{
    m_error.clear();
    CommandReply reply = SendRegister({m_commandUrl, "", "Register"}, loginName, email, nickname, password);
    if (!reply.ok()) m_error = reply.error;
    return reply.ok();
}

bool CMembership::UpdateUser(const CUserInfo& user, const std::string& currentPassword)
{
    m_error.clear();
    CommandReply reply = SendUserUpdate({m_commandUrl, user.LoginID, "UpdateUser"}, user.UserID, user.Email,
                                        user.NickName, user.Password, currentPassword);
    if (!reply.ok()) m_error = reply.error;
    return reply.ok();
}

void CMembership::Logout(const CUserInfo& user)
{
    if (user.OfflineFlag || user.LoginID.empty()) return;
    CommandReply reply = SendLogout({m_commandUrl, user.LoginID, "Logout"}, user.UserID, user.LoginID);
    m_error = reply.ok() ? std::string() : reply.error;
}

bool CMembership::CheckFundCount(int count, IUserPrompt* prompt) const
{
    int limit = GetFundLimit();
    if (count < limit) return true;
    if (prompt)
        prompt->ShowMessage(StrFormat(LoadResString(str::FundCountLimit).c_str(), m_vip ? "VIP会员" : "免费会员", limit),
                            PromptIcon::Warning);
    return false;
}

void CMembership::TrimFundList(std::vector<std::string>& codes) const
{
    size_t limit = static_cast<size_t>(GetFundLimit());
    if (codes.size() > limit) codes.erase(codes.begin(), codes.end() - static_cast<std::ptrdiff_t>(limit));
}

bool CMembership::RequireVip(IUserPrompt* prompt) const
{
    if (m_vip) return true;
    if (prompt) prompt->ShowMessage(LoadResString(str::VipOnly), PromptIcon::Information);
    return false;
}

}  // namespace vextal

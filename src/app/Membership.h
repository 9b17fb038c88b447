#pragma once
// The logged-in user and the membership object: login online and offline,
// the local user table, registration, user updates, logout, the VIP flag
// and the membership limits on how many funds a user may pick.
#include <map>
#include <string>
#include <vector>

#include "common/OleDate.h"
#include "common/UserPrompt.h"
#include "db/AdoDatabase.h"
#include "net/ClientCommands.h"

namespace vextal {

// The user record. Fields 2 to 8 of the login answer are kept as texts.
struct CUserInfo {
    int UserID = 0;
    int OfflineFlag = 0;
    std::string LoginID;   // issued by the service at login, carried by every command
    std::string LoginName;
    std::string Password;
    std::string NickName;         // field 2
    std::string Email;            // field 3
    std::string RegisterDate;     // field 4
    std::string EndDate;          // field 5: end of the membership
    std::string FundCorVersion;   // field 6: the service's company list version
    std::string FundInfoVersion;  // field 7: the service's fund list version
    std::string NewValueDate;     // field 8: newest NAV date "%Y-%m-%d"
    std::map<std::string, std::string> Attributes;  // field 9, "k=v;k=v"
    OleDate ResetTime;
};

inline constexpr int kVipFundLimit = 12;
inline constexpr int kFreeFundLimit = 4;
inline constexpr const char* kUnknownError = "未知错误";
inline constexpr const char* kOfflineLoginError = "错误的用户名或者密码，或者没有连机正确登录过系统";

// The membership level that a login id carries after its last "-" (0 free,
// 1 or more VIP); -1 when the id carries none.
int MembershipLevelOf(const std::string& serverId);

class CMembership {
public:
    // A copy of the document's database object (shares its connection).
    void SetDatabase(const CAdoDatabase& db) { m_db = db; }
    CAdoDatabase& GetDatabase() { return m_db; }
    void SetCommandUrl(const std::string& url) { m_commandUrl = url; }
    const std::string& GetCommandUrl() const { return m_commandUrl; }

    int GetVipFlag() const { return m_vip; }
    void SetVipFlag(int vip) { m_vip = vip; }

    // 0 on success, -1 with an error text. Online: the login command; a
    // login answer of exactly 9 fields fills the record and is saved into
    // T_User_Info. The VIP flag comes from the issued login id.
    int LoginOnline(CUserInfo& user, const std::string& clientVersion);
    // Its halves, so the question can go to a worker: the request (any
    // thread, no member touched) and the answer taken into the user record
    // (this object's thread; the same result as LoginOnline).
    static CommandReply AskLogin(const std::string& commandUrl, const CUserInfo& user,
                                 const std::string& clientVersion);
    int TakeLoginReply(CUserInfo& user, const CommandReply& reply);
    // Against the credentials of the last online login; no service contact.
    int LoginOffline(CUserInfo& user);
    bool SaveLocalUser(const CUserInfo& user);
    bool Register(const std::string& loginName, const std::string& email, const std::string& nickname,
                  const std::string& password);
    // User id, Email, nickname and (enciphered) password of `user`, with the
    // password in force (enciphered) that the service asks for.
    bool UpdateUser(const CUserInfo& user, const std::string& currentPassword);
    // Only for an online user with a login id; the answer only sets the error text.
    void Logout(const CUserInfo& user);
    // The last error text, or "未知错误" when there is none.
    std::string GetErrorText() const { return m_error.empty() ? kUnknownError : m_error; }
    void ClearError() { m_error.clear(); }

    // Membership limits: 12 funds for a VIP member, 4 for a free one.
    int GetFundLimit() const { return m_vip ? kVipFundLimit : kFreeFundLimit; }
    // May a fund be added to `count` picked ones? If not, says why (59164).
    bool CheckFundCount(int count, IUserPrompt* prompt) const;
    // Keeps the last GetFundLimit() codes.
    void TrimFundList(std::vector<std::string>& codes) const;
    // VIP functions: without VIP rights shows 59163 and is false.
    bool RequireVip(IUserPrompt* prompt) const;

private:
    CAdoDatabase m_db;
    std::string m_commandUrl;
    std::string m_error;
    int m_vip = 0;
};

}  // namespace vextal

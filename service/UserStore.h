#pragma once
// The service's own store of members and login sessions: one SQLite file
// in the data folder, written through prepared statements (no text of a
// request ever becomes part of a statement). Thread-safe. Passwords are
// kept only as salted PBKDF2 hashes; login ids come from getrandom and end
// with logout or after a day without use.
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "common/OleDate.h"

struct sqlite3;

namespace vextal {

struct ServiceUser {
    int userId = 0;
    // `password`: the plain password when adding or updating a user; read
    // back it is the stored hash, to be checked with CheckPassword only.
    std::string loginName, email, nickname, password;
    int level = 0;  // 0 free member, 1 or more VIP
    OleDate regDate, endDate;
};

class CUserStore {
public:
    CUserStore() = default;
    ~CUserStore();
    CUserStore(const CUserStore&) = delete;
    CUserStore& operator=(const CUserStore&) = delete;

    // Opens or creates `path`; a new store gets the two demo members
    // demo/demo123 (VIP) and free/free123.
    bool Open(const std::string& path, std::string& error);

    bool FindByName(const std::string& loginName, ServiceUser& user);
    bool FindById(int userId, ServiceUser& user);
    enum class AddResult { Added, NameTaken, Failed };
    // Gives the user the next id.
    AddResult AddUser(ServiceUser& user);
    bool UpdateUser(const ServiceUser& user);
    // Constant-time check of a plain password against the user's stored hash.
    static bool CheckPassword(const ServiceUser& user, const std::string& password);
    // Whether the user is a VIP member at `now` (a lapsed membership is free).
    static bool IsVip(const ServiceUser& user, const OleDate& now) { return user.level > 0 && now.dt < user.endDate.dt + 1; }

    // A new login id: 32 hex digits, "-", the membership level.
    std::string CreateSession(const ServiceUser& user, const OleDate& now);
    // The user of a login id; false for an unknown, ended or expired
    // session. A found session counts as used at the service clock's now.
    bool FindSession(const std::string& loginId, int& userId);
    bool EndSession(const std::string& loginId);
    size_t SessionCount();

    // Runs `fn` on the open database under the store's lock: the member
    // data of other service parts lives in the same file.
    bool WithDatabase(const std::function<bool(sqlite3*)>& fn);

private:
    bool OpenFile(const std::string& path, std::string& error);
    bool Exec(const char* sql);
    bool ReadUser(const char* sql, const std::string& key, int id, ServiceUser& user);

    std::mutex m_mutex;
    sqlite3* m_db = nullptr;
    bool ConvertPlainPasswords();
    void DropExpiredSessions(const OleDate& now);

    struct Session {
        int userId = 0;
        double lastUse = 0;  // service clock, OLE days
        double storedUse = 0;  // the last use written to the file
    };
    std::map<std::string, Session> m_sessions;
};

}  // namespace vextal

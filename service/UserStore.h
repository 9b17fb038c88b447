#pragma once
// The service's own store of members and login sessions: one SQLite file
// in the data folder, written through prepared statements (no text of a
// request ever becomes part of a statement). Thread-safe.
#include <map>
#include <mutex>
#include <string>

#include "common/OleDate.h"

struct sqlite3;

namespace vextal {

struct ServiceUser {
    int userId = 0;
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

    // A new login id: 32 hex digits, "-", the membership level.
    std::string CreateSession(const ServiceUser& user, const OleDate& now);
    // The user of a login id; false for an unknown or ended session.
    bool FindSession(const std::string& loginId, int& userId);
    bool EndSession(const std::string& loginId);

private:
    bool OpenFile(const std::string& path, std::string& error);
    bool Exec(const char* sql);
    bool ReadUser(const char* sql, const std::string& key, int id, ServiceUser& user);

    std::mutex m_mutex;
    sqlite3* m_db = nullptr;
    std::map<std::string, int> m_sessions;
};

}  // namespace vextal

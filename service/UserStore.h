#pragma once
// The service's own store of members and login sessions: one SQLite file
// in the data folder, written through prepared statements (no text of a
// request ever becomes part of a statement). Thread-safe. Passwords are
// kept only as Argon2id hashes (older PBKDF2 ones are replaced at the next
// login); login ids come from getrandom, are kept only as their SHA-256 and
// end with logout, a password change or after a day without use. Login
// names are unique after NFKC normalisation and case folding.
#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

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

// The key under which a login name is unique: NFKC with case folding, so
// "Demo", "DEMO" and the full-width "ｄｅｍｏ" are all "demo". Empty when
// the name is not valid UTF-8.
std::string LoginNameKey(const std::string& name);

// Failed logins slow further tries, per name and per client address: past a
// few free ones each failure doubles the wait (up to a quarter of an hour);
// a success clears both. Thread-safe; memory stays bounded.
class CLoginThrottle {
public:
    // Milliseconds until the next try is taken; 0: now.
    long WaitMs(const std::string& nameKey, const std::string& address);
    void Failed(const std::string& nameKey, const std::string& address);
    void Succeeded(const std::string& nameKey, const std::string& address);

    static constexpr int kFreeNameFailures = 3;
    static constexpr int kFreeAddressFailures = 10;

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        int failures = 0;
        Clock::time_point last, until;
    };
    using Table = std::unordered_map<std::string, Entry>;
    static void Fail(Table& table, const std::string& key, int free, Clock::time_point now);
    void Prune(Clock::time_point now);

    std::mutex m_mutex;
    Table m_names, m_addresses;
    size_t m_pruneAt = 4096;
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

    // The member of that name (the exact name first, then its key).
    bool FindByName(const std::string& loginName, ServiceUser& user);
    bool FindById(int userId, ServiceUser& user);
    enum class AddResult { Added, NameTaken, Failed };
    // Gives the user the next id.
    AddResult AddUser(ServiceUser& user);
    bool UpdateUser(const ServiceUser& user);
    // Check of a plain password against the user's stored hash.
    static bool CheckPassword(const ServiceUser& user, const std::string& password);
    // Whether the user is a VIP member at `now` (a lapsed membership is free).
    static bool IsVip(const ServiceUser& user, const OleDate& now) { return user.level > 0 && now.dt < user.endDate.dt + 1; }

    enum class LoginResult { Ok, Wrong, Throttled };
    // A login by name and password from `address`: the same work whether or
    // not the name exists, slowed after failures (`waitMs` then says how
    // long), and an old or weaker stored hash replaced on success.
    LoginResult Authenticate(const std::string& loginName, const std::string& password, const std::string& address,
                             ServiceUser& user, long& waitMs);

    // A new login id: 32 hex digits, "-", the membership level.
    std::string CreateSession(const ServiceUser& user, const OleDate& now);
    // The user of a login id; false for an unknown, ended or expired
    // session. A found session counts as used at the service clock's now.
    bool FindSession(const std::string& loginId, int& userId);
    // Whether `loginId` is a live login, without noting its use.
    bool SessionLive(const std::string& loginId);
    bool EndSession(const std::string& loginId);
    // Ends every login id of the user but `keep`.
    void EndOtherSessions(int userId, const std::string& keep);
    size_t SessionCount();

    // Runs `fn` on the open database under the store's lock: the member
    // data of other service parts lives in the same file.
    bool WithDatabase(const std::function<bool(sqlite3*)>& fn);

private:
    bool OpenFile(const std::string& path, std::string& error);
    bool Exec(const char* sql);
    bool ReadUser(const char* sql, const std::string& key, int id, ServiceUser& user);
    bool ConvertPlainPasswords();
    bool AddNameKeys();
    bool StoreHash(int userId, const std::string& hash);
    // Called with m_sessionMutex held.
    void DropExpiredSessions(double now);
    void ForgetSession(std::string key);  // a copy: `key` may be the list's own

    std::mutex m_mutex;  // the database
    sqlite3* m_db = nullptr;

    CLoginThrottle m_throttle;

    // Sessions by the SHA-256 of their login id, and in order of last use,
    // so expired ones leave from the front in constant time each.
    struct Session {
        int userId = 0;
        double lastUse = 0;    // service clock, OLE days
        double storedUse = 0;  // the last use written to the file
        std::list<std::string>::iterator order;
    };
    std::mutex m_sessionMutex;
    std::unordered_map<std::string, Session> m_sessions;
    std::list<std::string> m_byUse;
    std::unordered_map<int, std::unordered_set<std::string>> m_byUser;
};

}  // namespace vextal

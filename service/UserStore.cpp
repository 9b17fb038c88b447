#include "UserStore.h"

#include <sqlite3.h>

#include <random>

#include "common/Format.h"

namespace vextal {
namespace {

// Finalizes on every path out.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr); }
    ~Statement() { sqlite3_finalize(stmt); }
    explicit operator bool() const { return stmt != nullptr; }
    void Bind(int i, const std::string& s) { sqlite3_bind_text(stmt, i, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT); }
    void Bind(int i, int v) { sqlite3_bind_int(stmt, i, v); }
    std::string Text(int i) const
    {
        const unsigned char* p = sqlite3_column_text(stmt, i);
        return p ? reinterpret_cast<const char*>(p) : "";
    }
};

OleDate ParseOr(const std::string& text)
{
    OleDate d;
    OleDate::Parse(text, d);
    return d;
}

}  // namespace

CUserStore::~CUserStore()
{
    if (m_db) sqlite3_close_v2(m_db);
}

bool CUserStore::Exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool CUserStore::Open(const std::string& path, std::string& error)
{
    if (!OpenFile(path, error)) return false;
    struct Seed { const char *name, *password, *nick; int level; };
    const Seed seeds[] = {{"demo", "demo123", "演示用户", 1}, {"free", "free123", "免费用户", 0}};
    bool seeded = true;
    for (const Seed& s : seeds) {
        ServiceUser u;
        if (FindByName(s.name, u)) continue;
        u.loginName = s.name;
        u.password = s.password;
        u.nickname = s.nick;
        u.email = std::string(s.name) + "@plindo.example";
        u.level = s.level;
        u.regDate = OleDate::FromParts(2024, 1, 1);
        u.endDate = s.level ? OleDate::FromParts(2099, 12, 31) : u.regDate;
        seeded = AddUser(u) == AddResult::Added && seeded;
    }
    if (!seeded) error = "cannot create the demo members";
    return seeded;
}

bool CUserStore::OpenFile(const std::string& path, std::string& error)
{
    std::lock_guard lock(m_mutex);
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    bool ok = Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL") &&
              Exec("CREATE TABLE IF NOT EXISTS T_Service_User(UserID int PRIMARY KEY, LoginName TEXT UNIQUE NOT NULL,"
                   " Email TEXT NOT NULL, NickName TEXT NOT NULL, UserPwd TEXT NOT NULL, UserLevel int NOT NULL,"
                   " RegDate DateTime NOT NULL, EndDate DateTime NOT NULL)") &&
              Exec("CREATE TABLE IF NOT EXISTS T_Service_Session(LoginID TEXT PRIMARY KEY, UserID int NOT NULL,"
                   " LoginTime DateTime NOT NULL)");
    if (!ok) {
        error = sqlite3_errmsg(m_db);
        return false;
    }
    Statement st(m_db, "SELECT LoginID, UserID FROM T_Service_Session");
    while (st && sqlite3_step(st.stmt) == SQLITE_ROW) m_sessions[st.Text(0)] = sqlite3_column_int(st.stmt, 1);
    return true;
}

bool CUserStore::ReadUser(const char* sql, const std::string& key, int id, ServiceUser& user)
{
    std::lock_guard lock(m_mutex);
    Statement st(m_db, sql);
    if (!st) return false;
    if (key.empty()) st.Bind(1, id); else st.Bind(1, key);
    if (sqlite3_step(st.stmt) != SQLITE_ROW) return false;
    user.userId = sqlite3_column_int(st.stmt, 0);
    user.loginName = st.Text(1);
    user.email = st.Text(2);
    user.nickname = st.Text(3);
    user.password = st.Text(4);
    user.level = sqlite3_column_int(st.stmt, 5);
    user.regDate = ParseOr(st.Text(6));
    user.endDate = ParseOr(st.Text(7));
    return true;
}

bool CUserStore::FindByName(const std::string& loginName, ServiceUser& user)
{
    if (loginName.empty()) return false;
    return ReadUser("SELECT UserID, LoginName, Email, NickName, UserPwd, UserLevel, RegDate, EndDate"
                    " FROM T_Service_User WHERE LoginName=?", loginName, 0, user);
}

bool CUserStore::FindById(int userId, ServiceUser& user)
{
    return ReadUser("SELECT UserID, LoginName, Email, NickName, UserPwd, UserLevel, RegDate, EndDate"
                    " FROM T_Service_User WHERE UserID=?", "", userId, user);
}

CUserStore::AddResult CUserStore::AddUser(ServiceUser& user)
{
    std::lock_guard lock(m_mutex);
    // The id and the row are taken in one transaction, so two registrations
    // never get the same number.
    if (!Exec("BEGIN IMMEDIATE")) return AddResult::Failed;
    AddResult result = AddResult::Failed;
    {
        Statement exists(m_db, "SELECT 1 FROM T_Service_User WHERE LoginName=?");
        exists.Bind(1, user.loginName);
        Statement next(m_db, "SELECT IFNULL(MAX(UserID), 10000) + 1 FROM T_Service_User");
        if (exists && sqlite3_step(exists.stmt) == SQLITE_ROW) {
            result = AddResult::NameTaken;
        } else if (next && sqlite3_step(next.stmt) == SQLITE_ROW) {
            int id = sqlite3_column_int(next.stmt, 0);
            Statement ins(m_db, "INSERT INTO T_Service_User VALUES(?,?,?,?,?,?,?,?)");
            if (ins) {
                ins.Bind(1, id);
                ins.Bind(2, user.loginName);
                ins.Bind(3, user.email);
                ins.Bind(4, user.nickname);
                ins.Bind(5, user.password);
                ins.Bind(6, user.level);
                ins.Bind(7, user.regDate.Format(0));
                ins.Bind(8, user.endDate.Format(0));
                if (sqlite3_step(ins.stmt) == SQLITE_DONE) {
                    user.userId = id;
                    result = AddResult::Added;
                }
            }
        }
    }
    Exec(result == AddResult::Added ? "COMMIT" : "ROLLBACK");
    return result;
}

bool CUserStore::UpdateUser(const ServiceUser& user)
{
    std::lock_guard lock(m_mutex);
    Statement st(m_db, "UPDATE T_Service_User SET Email=?, NickName=?, UserPwd=? WHERE UserID=?");
    if (!st) return false;
    st.Bind(1, user.email);
    st.Bind(2, user.nickname);
    st.Bind(3, user.password);
    st.Bind(4, user.userId);
    return sqlite3_step(st.stmt) == SQLITE_DONE && sqlite3_changes(m_db) == 1;
}

std::string CUserStore::CreateSession(const ServiceUser& user, const OleDate& now)
{
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    std::string id = StrFormat("%016llx%016llx-%d", static_cast<unsigned long long>(rng()),
                               static_cast<unsigned long long>(rng()), user.level);
    std::lock_guard lock(m_mutex);
    Statement st(m_db, "INSERT INTO T_Service_Session VALUES(?,?,?)");
    if (!st) return {};
    st.Bind(1, id);
    st.Bind(2, user.userId);
    st.Bind(3, now.Format(0));
    if (sqlite3_step(st.stmt) != SQLITE_DONE) return {};
    m_sessions[id] = user.userId;
    return id;
}

bool CUserStore::FindSession(const std::string& loginId, int& userId)
{
    std::lock_guard lock(m_mutex);
    auto it = m_sessions.find(loginId);
    if (it == m_sessions.end()) return false;
    userId = it->second;
    return true;
}

bool CUserStore::EndSession(const std::string& loginId)
{
    std::lock_guard lock(m_mutex);
    if (!m_sessions.erase(loginId)) return false;
    Statement st(m_db, "DELETE FROM T_Service_Session WHERE LoginID=?");
    if (!st) return false;
    st.Bind(1, loginId);
    return sqlite3_step(st.stmt) == SQLITE_DONE;
}

}  // namespace vextal

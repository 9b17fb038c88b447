#include "UserStore.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sqlite3.h>
#include <sys/random.h>

#include <vector>

#include "common/Clock.h"
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

// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>"
constexpr const char* kHashPrefix = "pbkdf2-sha256$";
constexpr int kHashIterations = 60000;
constexpr double kSessionDays = 1.0;

bool RandomBytes(unsigned char* out, size_t n)
{
    while (n > 0) {
        ssize_t got = getrandom(out, n, 0);
        if (got <= 0) return false;
        out += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

std::string Hex(const unsigned char* p, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) out += StrFormat("%02x", p[i]);
    return out;
}

std::vector<unsigned char> FromHex(const std::string& hex)
{
    std::vector<unsigned char> out;
    if (hex.size() % 2) return {};
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(hex.c_str() + i, "%2x", &v) != 1) return {};
        out.push_back(static_cast<unsigned char>(v));
    }
    return out;
}

bool Derive(const std::string& password, const std::vector<unsigned char>& salt, int iterations,
            unsigned char (&out)[32])
{
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                             static_cast<int>(salt.size()), iterations, EVP_sha256(), sizeof out, out) == 1;
}

bool IsHashed(const std::string& stored) { return stored.rfind(kHashPrefix, 0) == 0; }

// Empty when the random source or the derivation fails.
std::string HashPassword(const std::string& password)
{
    std::vector<unsigned char> salt(16);
    unsigned char hash[32];
    if (!RandomBytes(salt.data(), salt.size()) || !Derive(password, salt, kHashIterations, hash)) return {};
    return StrFormat("%s%d$", kHashPrefix, kHashIterations) + Hex(salt.data(), salt.size()) + "$" + Hex(hash, 32);
}

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
    if (seeded && !ConvertPlainPasswords()) {
        error = "cannot convert the stored passwords: " + path;
        return false;
    }
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
    {
        Statement st(m_db, "SELECT LoginID, UserID, LoginTime FROM T_Service_Session");
        while (st && sqlite3_step(st.stmt) == SQLITE_ROW) {
            double use = ParseOr(st.Text(2)).dt;
            m_sessions[st.Text(0)] = Session{sqlite3_column_int(st.stmt, 1), use, use};
        }
    }
    DropExpiredSessions(Clock::Now());
    return true;
}

// A data folder of an older service keeps plain passwords: each becomes a
// hash in one transaction, so a failure leaves the file as it was.
bool CUserStore::ConvertPlainPasswords()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::pair<int, std::string>> plain;
    {
        Statement st(m_db, "SELECT UserID, UserPwd FROM T_Service_User");
        while (st && sqlite3_step(st.stmt) == SQLITE_ROW)
            if (!IsHashed(st.Text(1))) plain.emplace_back(sqlite3_column_int(st.stmt, 0), st.Text(1));
    }
    if (plain.empty()) return true;
    if (!Exec("BEGIN IMMEDIATE")) return false;
    bool ok = true;
    for (const auto& [id, password] : plain) {
        std::string hash = HashPassword(password);
        Statement up(m_db, "UPDATE T_Service_User SET UserPwd=? WHERE UserID=?");
        if (hash.empty() || !up) { ok = false; break; }
        up.Bind(1, hash);
        up.Bind(2, id);
        if (sqlite3_step(up.stmt) != SQLITE_DONE) { ok = false; break; }
    }
    ok = Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
    // The plain texts may survive in free pages and the journal otherwise.
    if (ok) Exec("PRAGMA wal_checkpoint(TRUNCATE); VACUUM; PRAGMA wal_checkpoint(TRUNCATE)");
    return ok;
}

bool CUserStore::CheckPassword(const ServiceUser& user, const std::string& password)
{
    std::vector<std::string> parts = SplitText(user.password, '$');
    if (!IsHashed(user.password) || parts.size() != 4) return false;
    int iterations = std::atoi(parts[1].c_str());
    std::vector<unsigned char> salt = FromHex(parts[2]), expected = FromHex(parts[3]);
    unsigned char hash[32];
    if (iterations < 1 || iterations > 10000000 || salt.empty() || expected.size() != sizeof hash ||
        !Derive(password, salt, iterations, hash))
        return false;
    return CRYPTO_memcmp(hash, expected.data(), sizeof hash) == 0;
}

bool CUserStore::WithDatabase(const std::function<bool(sqlite3*)>& fn)
{
    std::lock_guard lock(m_mutex);
    return m_db && fn(m_db);
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
    const std::string hash = HashPassword(user.password);
    if (hash.empty()) return AddResult::Failed;
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
                ins.Bind(5, hash);
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
    const std::string hash = HashPassword(user.password);
    if (hash.empty()) return false;
    std::lock_guard lock(m_mutex);
    Statement st(m_db, "UPDATE T_Service_User SET Email=?, NickName=?, UserPwd=? WHERE UserID=?");
    if (!st) return false;
    st.Bind(1, user.email);
    st.Bind(2, user.nickname);
    st.Bind(3, hash);
    st.Bind(4, user.userId);
    return sqlite3_step(st.stmt) == SQLITE_DONE && sqlite3_changes(m_db) == 1;
}

std::string CUserStore::CreateSession(const ServiceUser& user, const OleDate& now)
{
    unsigned char bytes[16];
    if (!RandomBytes(bytes, sizeof bytes)) return {};
    std::string id = Hex(bytes, sizeof bytes) + StrFormat("-%d", user.level);
    std::lock_guard lock(m_mutex);
    DropExpiredSessions(now);
    Statement st(m_db, "INSERT INTO T_Service_Session VALUES(?,?,?)");
    if (!st) return {};
    st.Bind(1, id);
    st.Bind(2, user.userId);
    st.Bind(3, now.Format(0));
    if (sqlite3_step(st.stmt) != SQLITE_DONE) return {};
    m_sessions[id] = Session{user.userId, now.dt, now.dt};
    return id;
}

// Called with the lock held (or before the store is shared).
void CUserStore::DropExpiredSessions(const OleDate& now)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (now.dt - it->second.lastUse < kSessionDays) {
            ++it;
            continue;
        }
        Statement st(m_db, "DELETE FROM T_Service_Session WHERE LoginID=?");
        if (st) {
            st.Bind(1, it->first);
            sqlite3_step(st.stmt);
        }
        it = m_sessions.erase(it);
    }
}

bool CUserStore::FindSession(const std::string& loginId, int& userId)
{
    const double now = Clock::Now().dt;
    std::lock_guard lock(m_mutex);
    auto it = m_sessions.find(loginId);
    if (it == m_sessions.end()) return false;
    if (now - it->second.lastUse >= kSessionDays) {
        DropExpiredSessions(Clock::Now());
        return false;
    }
    userId = it->second.userId;
    if (now > it->second.lastUse) it->second.lastUse = now;
    // The file learns of the use at most once an hour: enough for a restart
    // to keep a live session, without a write per request.
    if (it->second.lastUse - it->second.storedUse > 1.0 / 24) {
        Statement st(m_db, "UPDATE T_Service_Session SET LoginTime=? WHERE LoginID=?");
        if (st) {
            OleDate use;
            use.dt = it->second.lastUse;
            st.Bind(1, use.Format(0));
            st.Bind(2, loginId);
            if (sqlite3_step(st.stmt) == SQLITE_DONE) it->second.storedUse = it->second.lastUse;
        }
    }
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

size_t CUserStore::SessionCount()
{
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

}  // namespace vextal

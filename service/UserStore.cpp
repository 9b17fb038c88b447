#include "UserStore.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sodium.h>
#include <sqlite3.h>
#include <sys/random.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <semaphore>
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

// Stored hashes: libsodium's Argon2id string ("$argon2id$v=19$m=...").
// Older stores hold "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>",
// still checked and replaced at the next login.
constexpr const char* kArgonPrefix = "$argon2id$";
constexpr const char* kHashPrefix = "pbkdf2-sha256$";
// 19 MiB and two passes: the least that current guidance asks of Argon2id.
constexpr unsigned long long kArgonOps = 2;
constexpr size_t kArgonMemory = size_t(19) << 20;
constexpr double kSessionDays = 1.0;

// At most two hashes at once: each takes its 19 MiB, and a burst of logins
// must not take the service's memory.
std::counting_semaphore<2> g_hashGate(2);
struct HashSlot {
    HashSlot() { g_hashGate.acquire(); }
    ~HashSlot() { g_hashGate.release(); }
};

bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

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
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

// What the file and the session table keep of a login id.
std::string SessionKey(const std::string& loginId)
{
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(hash, reinterpret_cast<const unsigned char*>(loginId.data()), loginId.size());
    return Hex(hash, sizeof hash);
}

bool IsSessionKey(const std::string& text)
{
    return text.size() == 2 * crypto_hash_sha256_BYTES && text.find_first_not_of("0123456789abcdef") == std::string::npos;
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

bool IsArgon(const std::string& stored) { return stored.rfind(kArgonPrefix, 0) == 0; }
bool IsHashed(const std::string& stored) { return IsArgon(stored) || stored.rfind(kHashPrefix, 0) == 0; }
bool NeedsRehash(const std::string& stored)
{
    return !IsArgon(stored) || crypto_pwhash_str_needs_rehash(stored.c_str(), kArgonOps, kArgonMemory) != 0;
}

// Empty when the library or the derivation fails.
std::string HashPassword(const std::string& password)
{
    if (!SodiumReady()) return {};
    char out[crypto_pwhash_STRBYTES];
    HashSlot slot;
    if (crypto_pwhash_str_alg(out, password.data(), password.size(), kArgonOps, kArgonMemory,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        return {};
    return out;
}

// Checked in place of a member's hash when the name is unknown, so that
// both cases cost the same.
const std::string& UnknownMemberHash()
{
    static const std::string hash = HashPassword("no such member");
    return hash;
}

std::u16string ToUtf16(const std::string& text, bool& ok)
{
    UErrorCode err = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &err);
    ok = err == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(err);
    std::u16string out(static_cast<size_t>(length), u'\0');
    err = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), length, nullptr, text.data(), static_cast<int32_t>(text.size()), &err);
    ok = ok && U_SUCCESS(err);
    return out;
}

OleDate ParseOr(const std::string& text)
{
    OleDate d;
    OleDate::Parse(text, d);
    return d;
}

}  // namespace

std::string LoginNameKey(const std::string& name)
{
    if (name.empty() || name.size() > 1024) return {};
    bool ok = false;
    const std::u16string src = ToUtf16(name, ok);
    UErrorCode err = U_ZERO_ERROR;
    const UNormalizer2* nfkc = unorm2_getNFKCCasefoldInstance(&err);
    if (!ok || U_FAILURE(err)) return {};
    std::u16string folded(src.size() * 4 + 16, u'\0');
    const int32_t n = unorm2_normalize(nfkc, src.data(), static_cast<int32_t>(src.size()), folded.data(),
                                       static_cast<int32_t>(folded.size()), &err);
    if (U_FAILURE(err)) return {};
    int32_t bytes = 0;
    err = U_ZERO_ERROR;
    u_strToUTF8(nullptr, 0, &bytes, folded.data(), n, &err);
    std::string out(static_cast<size_t>(bytes), '\0');
    err = U_ZERO_ERROR;
    u_strToUTF8(out.data(), bytes, nullptr, folded.data(), n, &err);
    return U_SUCCESS(err) ? out : std::string();
}

void CLoginThrottle::Fail(Table& table, const std::string& key, int free, Clock::time_point now)
{
    if (key.empty()) return;
    Entry& e = table[key];
    // An hour without failures starts the count again.
    if (e.failures > 0 && now - e.last > std::chrono::hours(1)) e.failures = 0;
    e.last = now;
    if (++e.failures <= free) return;
    const int doublings = std::min(e.failures - free - 1, 10);
    e.until = now + std::min<std::chrono::milliseconds>(std::chrono::milliseconds(1000L << doublings),
                                                         std::chrono::minutes(15));
}

// The entries whose wait is over and whose count has lapsed go when the
// tables have doubled since the last pruning: constant work per failure.
void CLoginThrottle::Prune(Clock::time_point now)
{
    if (m_names.size() + m_addresses.size() < m_pruneAt) return;
    for (Table* t : {&m_names, &m_addresses})
        for (auto it = t->begin(); it != t->end();)
            it = it->second.until <= now && now - it->second.last > std::chrono::hours(1) ? t->erase(it) : std::next(it);
    m_pruneAt = std::max<size_t>(4096, 2 * (m_names.size() + m_addresses.size()));
}

long CLoginThrottle::WaitMs(const std::string& nameKey, const std::string& address)
{
    std::lock_guard lock(m_mutex);
    const Clock::time_point now = Clock::now();
    long wait = 0;
    for (auto [table, key] : {std::pair{&m_names, &nameKey}, std::pair{&m_addresses, &address}}) {
        auto it = table->find(*key);
        if (it != table->end() && it->second.until > now)
            wait = std::max<long>(wait, std::chrono::duration_cast<std::chrono::milliseconds>(it->second.until - now).count() + 1);
    }
    return wait;
}

void CLoginThrottle::Failed(const std::string& nameKey, const std::string& address)
{
    std::lock_guard lock(m_mutex);
    const Clock::time_point now = Clock::now();
    Fail(m_names, nameKey, kFreeNameFailures, now);
    Fail(m_addresses, address, kFreeAddressFailures, now);
    Prune(now);
}

void CLoginThrottle::Succeeded(const std::string& nameKey, const std::string& address)
{
    std::lock_guard lock(m_mutex);
    m_names.erase(nameKey);
    m_addresses.erase(address);
}

CUserStore::~CUserStore()
{
    if (m_db) sqlite3_close_v2(m_db);
}

bool CUserStore::Exec(const char* sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool CUserStore::Open(const std::string& path, std::string& error)
{
    if (!SodiumReady()) {
        error = "the password hash library does not start";
        return false;
    }
    if (!OpenFile(path, error)) return false;
    if (!AddNameKeys()) {
        error = "cannot give the login names their keys: " + path;
        return false;
    }
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
    // A page cache that holds a large member's bookkeeping whole (the
    // default 2 MB does not), so an upload's cost grows with its size only.
    bool ok = Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-32768") &&
              Exec("CREATE TABLE IF NOT EXISTS T_Service_User(UserID int PRIMARY KEY, LoginName TEXT UNIQUE NOT NULL,"
                   " Email TEXT NOT NULL, NickName TEXT NOT NULL, UserPwd TEXT NOT NULL, UserLevel int NOT NULL,"
                   " RegDate DateTime NOT NULL, EndDate DateTime NOT NULL, NameKey TEXT)") &&
              Exec("CREATE TABLE IF NOT EXISTS T_Service_Session(LoginID TEXT PRIMARY KEY, UserID int NOT NULL,"
                   " LoginTime DateTime NOT NULL);"
                   "CREATE INDEX IF NOT EXISTS T_Service_Session_User ON T_Service_Session(UserID)");
    if (!ok) {
        error = sqlite3_errmsg(m_db);
        return false;
    }
    // Sessions of an older service were kept under their login ids: from
    // now on only their hashes are.
    const double now = Clock::Now().dt;
    std::vector<std::pair<std::string, std::string>> plain;
    {
        std::lock_guard sessions(m_sessionMutex);
        Statement st(m_db, "SELECT LoginID, UserID, LoginTime FROM T_Service_Session ORDER BY LoginTime");
        while (st && sqlite3_step(st.stmt) == SQLITE_ROW) {
            std::string key = st.Text(0);
            if (!IsSessionKey(key)) {
                plain.emplace_back(key, SessionKey(key));
                key = plain.back().second;
            }
            const double use = ParseOr(st.Text(2)).dt;
            if (now - use >= kSessionDays) continue;
            const int userId = sqlite3_column_int(st.stmt, 1);
            auto order = m_byUse.insert(m_byUse.end(), key);
            m_sessions[key] = Session{userId, use, use, order};
            m_byUser[userId].insert(key);
        }
    }
    if (!plain.empty()) {
        ok = Exec("BEGIN IMMEDIATE");
        for (const auto& [id, key] : plain) {
            Statement up(m_db, "UPDATE T_Service_Session SET LoginID=? WHERE LoginID=?");
            up.Bind(1, key);
            up.Bind(2, id);
            ok = ok && up && sqlite3_step(up.stmt) == SQLITE_DONE;
        }
        ok = Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
        if (ok) Exec("PRAGMA wal_checkpoint(TRUNCATE); VACUUM; PRAGMA wal_checkpoint(TRUNCATE)");
    }
    OleDate cutoff;
    cutoff.dt = now - kSessionDays;
    Statement old(m_db, "DELETE FROM T_Service_Session WHERE LoginTime<?");
    old.Bind(1, cutoff.Format(0));
    if (old) sqlite3_step(old.stmt);
    return true;
}

// Stores of an older service have no name keys: each name gets its key;
// a name whose key another already has (registered before names were
// folded) keeps its login by its exact name and gets a key of its own.
bool CUserStore::AddNameKeys()
{
    std::lock_guard lock(m_mutex);
    bool hasColumn = false;
    {
        Statement cols(m_db, "PRAGMA table_info(T_Service_User)");
        while (cols && sqlite3_step(cols.stmt) == SQLITE_ROW) hasColumn = hasColumn || cols.Text(1) == "NameKey";
    }
    if (!hasColumn && !Exec("ALTER TABLE T_Service_User ADD COLUMN NameKey TEXT")) return false;
    std::vector<std::pair<int, std::string>> missing;
    {
        Statement st(m_db, "SELECT UserID, LoginName FROM T_Service_User WHERE NameKey IS NULL ORDER BY UserID");
        while (st && sqlite3_step(st.stmt) == SQLITE_ROW) missing.emplace_back(sqlite3_column_int(st.stmt, 0), st.Text(1));
    }
    bool ok = Exec("BEGIN IMMEDIATE");
    for (const auto& [id, name] : missing) {
        std::string key = LoginNameKey(name);
        Statement taken(m_db, "SELECT 1 FROM T_Service_User WHERE NameKey=?");
        taken.Bind(1, key);
        if (key.empty() || (taken && sqlite3_step(taken.stmt) == SQLITE_ROW)) key += StrFormat("\x1f%d", id);
        Statement up(m_db, "UPDATE T_Service_User SET NameKey=? WHERE UserID=?");
        up.Bind(1, key);
        up.Bind(2, id);
        ok = ok && up && sqlite3_step(up.stmt) == SQLITE_DONE;
    }
    ok = Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
    return ok && Exec("CREATE UNIQUE INDEX IF NOT EXISTS T_Service_User_Key ON T_Service_User(NameKey)");
}

// A data folder of an older service keeps plain passwords: each becomes a
// hash in one transaction, so a failure leaves the file as it was.
bool CUserStore::ConvertPlainPasswords()
{
    std::vector<std::pair<int, std::string>> plain;
    {
        std::lock_guard lock(m_mutex);
        Statement st(m_db, "SELECT UserID, UserPwd FROM T_Service_User");
        while (st && sqlite3_step(st.stmt) == SQLITE_ROW)
            if (!IsHashed(st.Text(1))) plain.emplace_back(sqlite3_column_int(st.stmt, 0), st.Text(1));
    }
    if (plain.empty()) return true;
    std::vector<std::string> hashes;
    for (const auto& entry : plain) {
        hashes.push_back(HashPassword(entry.second));
        if (hashes.back().empty()) return false;
    }
    std::lock_guard lock(m_mutex);
    if (!Exec("BEGIN IMMEDIATE")) return false;
    bool ok = true;
    for (size_t i = 0; i < plain.size() && ok; ++i) {
        Statement up(m_db, "UPDATE T_Service_User SET UserPwd=? WHERE UserID=?");
        up.Bind(1, hashes[i]);
        up.Bind(2, plain[i].first);
        ok = up && sqlite3_step(up.stmt) == SQLITE_DONE;
    }
    ok = Exec(ok ? "COMMIT" : "ROLLBACK") && ok;
    // The plain texts may survive in free pages and the journal otherwise.
    if (ok) Exec("PRAGMA wal_checkpoint(TRUNCATE); VACUUM; PRAGMA wal_checkpoint(TRUNCATE)");
    return ok;
}

bool CUserStore::CheckPassword(const ServiceUser& user, const std::string& password)
{
    if (IsArgon(user.password)) {
        if (!SodiumReady() || user.password.size() >= crypto_pwhash_STRBYTES) return false;
        HashSlot slot;
        return crypto_pwhash_str_verify(user.password.c_str(), password.data(), password.size()) == 0;
    }
    std::vector<std::string> parts = SplitText(user.password, '$');
    if (!IsHashed(user.password) || parts.size() != 4) return false;
    const long long iterations = IntegerOr(parts[1], 0);
    std::vector<unsigned char> salt = FromHex(parts[2]), expected = FromHex(parts[3]);
    unsigned char hash[32];
    if (iterations < 1 || iterations > 10000000 || salt.empty() || expected.size() != sizeof hash ||
        !Derive(password, salt, int(iterations), hash))
        return false;
    return CRYPTO_memcmp(hash, expected.data(), sizeof hash) == 0;
}

CUserStore::LoginResult CUserStore::Authenticate(const std::string& loginName, const std::string& password,
                                                 const std::string& address, ServiceUser& user, long& waitMs)
{
    std::string key = LoginNameKey(loginName);
    if (key.empty()) key = loginName;
    waitMs = m_throttle.WaitMs(key, address);
    if (waitMs > 0) return LoginResult::Throttled;
    ServiceUser found;
    const bool known = FindByName(loginName, found);
    ServiceUser probe;
    probe.password = known ? found.password : UnknownMemberHash();
    if (!CheckPassword(probe, password) || !known) {
        m_throttle.Failed(key, address);
        return LoginResult::Wrong;
    }
    m_throttle.Succeeded(key, address);
    if (NeedsRehash(found.password)) {
        const std::string hash = HashPassword(password);
        if (!hash.empty() && StoreHash(found.userId, hash)) found.password = hash;
    }
    user = found;
    return LoginResult::Ok;
}

bool CUserStore::StoreHash(int userId, const std::string& hash)
{
    std::lock_guard lock(m_mutex);
    Statement st(m_db, "UPDATE T_Service_User SET UserPwd=? WHERE UserID=?");
    if (!st) return false;
    st.Bind(1, hash);
    st.Bind(2, userId);
    return sqlite3_step(st.stmt) == SQLITE_DONE;
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
    if (ReadUser("SELECT UserID, LoginName, Email, NickName, UserPwd, UserLevel, RegDate, EndDate"
                 " FROM T_Service_User WHERE LoginName=?", loginName, 0, user))
        return true;
    const std::string key = LoginNameKey(loginName);
    return !key.empty() && ReadUser("SELECT UserID, LoginName, Email, NickName, UserPwd, UserLevel, RegDate, EndDate"
                                    " FROM T_Service_User WHERE NameKey=?", key, 0, user);
}

bool CUserStore::FindById(int userId, ServiceUser& user)
{
    return ReadUser("SELECT UserID, LoginName, Email, NickName, UserPwd, UserLevel, RegDate, EndDate"
                    " FROM T_Service_User WHERE UserID=?", "", userId, user);
}

CUserStore::AddResult CUserStore::AddUser(ServiceUser& user)
{
    const std::string key = LoginNameKey(user.loginName);
    if (key.empty()) return AddResult::Failed;
    const std::string hash = HashPassword(user.password);
    if (hash.empty()) return AddResult::Failed;
    std::lock_guard lock(m_mutex);
    // The id and the row are taken in one transaction, so two registrations
    // never get the same number.
    if (!Exec("BEGIN IMMEDIATE")) return AddResult::Failed;
    AddResult result = AddResult::Failed;
    {
        Statement exists(m_db, "SELECT 1 FROM T_Service_User WHERE NameKey=? OR LoginName=?");
        exists.Bind(1, key);
        exists.Bind(2, user.loginName);
        Statement next(m_db, "SELECT IFNULL(MAX(UserID), 10000) + 1 FROM T_Service_User");
        if (exists && sqlite3_step(exists.stmt) == SQLITE_ROW) {
            result = AddResult::NameTaken;
        } else if (next && sqlite3_step(next.stmt) == SQLITE_ROW) {
            int id = sqlite3_column_int(next.stmt, 0);
            Statement ins(m_db, "INSERT INTO T_Service_User(UserID, LoginName, Email, NickName, UserPwd, UserLevel,"
                                " RegDate, EndDate, NameKey) VALUES(?,?,?,?,?,?,?,?,?)");
            if (ins) {
                ins.Bind(1, id);
                ins.Bind(2, user.loginName);
                ins.Bind(3, user.email);
                ins.Bind(4, user.nickname);
                ins.Bind(5, hash);
                ins.Bind(6, user.level);
                ins.Bind(7, user.regDate.Format(0));
                ins.Bind(8, user.endDate.Format(0));
                ins.Bind(9, key);
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
    const std::string key = SessionKey(id);
    {
        std::lock_guard lock(m_mutex);
        Statement st(m_db, "INSERT INTO T_Service_Session VALUES(?,?,?)");
        if (!st) return {};
        st.Bind(1, key);
        st.Bind(2, user.userId);
        st.Bind(3, now.Format(0));
        if (sqlite3_step(st.stmt) != SQLITE_DONE) return {};
    }
    std::lock_guard lock(m_sessionMutex);
    DropExpiredSessions(now.dt);
    auto order = m_byUse.insert(m_byUse.end(), key);
    m_sessions[key] = Session{user.userId, now.dt, now.dt, order};
    m_byUser[user.userId].insert(key);
    return id;
}

// With m_sessionMutex held. The file's rows of expired sessions are
// ignored by a later start (and removed by it).
void CUserStore::ForgetSession(std::string key)
{
    auto it = m_sessions.find(key);
    if (it == m_sessions.end()) return;
    m_byUse.erase(it->second.order);
    auto user = m_byUser.find(it->second.userId);
    if (user != m_byUser.end()) {
        user->second.erase(key);
        if (user->second.empty()) m_byUser.erase(user);
    }
    m_sessions.erase(it);
}

// With m_sessionMutex held: the sessions in order of last use, so the
// expired ones are all at the front.
void CUserStore::DropExpiredSessions(double now)
{
    while (!m_byUse.empty()) {
        auto it = m_sessions.find(m_byUse.front());
        if (it != m_sessions.end() && now - it->second.lastUse < kSessionDays) break;
        ForgetSession(m_byUse.front());
    }
}

bool CUserStore::FindSession(const std::string& loginId, int& userId)
{
    if (loginId.empty() || loginId.size() > 64) return false;
    const double now = Clock::Now().dt;
    const std::string key = SessionKey(loginId);
    OleDate use;
    {
        std::lock_guard lock(m_sessionMutex);
        DropExpiredSessions(now);
        auto it = m_sessions.find(key);
        if (it == m_sessions.end()) return false;
        Session& s = it->second;
        if (now - s.lastUse >= kSessionDays) {
            ForgetSession(key);
            return false;
        }
        userId = s.userId;
        if (now > s.lastUse) {
            s.lastUse = now;
            m_byUse.splice(m_byUse.end(), m_byUse, s.order);
        }
        // The file learns of the use at most once an hour: enough for a
        // restart to keep a live session, without a write per request.
        if (s.lastUse - s.storedUse <= 1.0 / 24) return true;
        use.dt = s.lastUse;
    }
    // Never waits for the database: a busy store (an upload being written)
    // puts the note off to a later request.
    std::unique_lock db(m_mutex, std::try_to_lock);
    if (!db) return true;
    Statement st(m_db, "UPDATE T_Service_Session SET LoginTime=? WHERE LoginID=?");
    if (!st) return true;
    st.Bind(1, use.Format(0));
    st.Bind(2, key);
    if (sqlite3_step(st.stmt) != SQLITE_DONE) return true;
    db.unlock();
    std::lock_guard lock(m_sessionMutex);
    auto it = m_sessions.find(key);
    if (it != m_sessions.end()) it->second.storedUse = std::max(it->second.storedUse, use.dt);
    return true;
}

bool CUserStore::SessionLive(const std::string& loginId)
{
    if (loginId.empty() || loginId.size() > 64) return false;
    const std::string key = SessionKey(loginId);
    std::lock_guard lock(m_sessionMutex);
    auto it = m_sessions.find(key);
    return it != m_sessions.end() && Clock::Now().dt - it->second.lastUse < kSessionDays;
}

bool CUserStore::EndSession(const std::string& loginId)
{
    const std::string key = SessionKey(loginId);
    {
        std::lock_guard lock(m_sessionMutex);
        if (!m_sessions.count(key)) return false;
        ForgetSession(key);
    }
    std::lock_guard lock(m_mutex);
    Statement st(m_db, "DELETE FROM T_Service_Session WHERE LoginID=?");
    if (!st) return false;
    st.Bind(1, key);
    return sqlite3_step(st.stmt) == SQLITE_DONE;
}

void CUserStore::EndOtherSessions(int userId, const std::string& keep)
{
    const std::string keepKey = SessionKey(keep);
    {
        std::lock_guard lock(m_sessionMutex);
        auto user = m_byUser.find(userId);
        if (user != m_byUser.end()) {
            std::vector<std::string> keys(user->second.begin(), user->second.end());
            for (const std::string& key : keys)
                if (key != keepKey) ForgetSession(key);
        }
    }
    std::lock_guard lock(m_mutex);
    Statement st(m_db, "DELETE FROM T_Service_Session WHERE UserID=? AND LoginID<>?");
    if (!st) return;
    st.Bind(1, userId);
    st.Bind(2, keepKey);
    sqlite3_step(st.stmt);
}

size_t CUserStore::SessionCount()
{
    std::lock_guard lock(m_sessionMutex);
    return m_sessions.size();
}

}  // namespace vextal

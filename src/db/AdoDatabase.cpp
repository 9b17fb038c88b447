#include "db/AdoDatabase.h"

#include <sqlite3.h>

#include <openssl/evp.h>

#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <unordered_map>

#include "common/Format.h"
#include "common/ProgramDir.h"
#include "db/JetSql.h"

namespace vextal {

namespace fs = std::filesystem;

// Statements of one shape (literals lifted out) share one prepared form, so
// the thousands of look-ups and inserts of a download are not each compiled.
struct CAdoDatabase::Connection {
    sqlite3* db = nullptr;
    int transDepth = 0;
    // Transactions alive whose begin failed, and the begin's error: their
    // statements fail too, rather than each waiting for the lock and being
    // stored one by one outside any transaction.
    int refusedScopes = 0;
    std::string refusal;
    std::unordered_map<std::string, sqlite3_stmt*> prepared;

    void FinalizeAll()
    {
        for (auto& [sql, st] : prepared) sqlite3_finalize(st);
        prepared.clear();
    }
    ~Connection()
    {
        FinalizeAll();
        if (db) sqlite3_close_v2(db);
    }
};

// ---- CAdoRecordset ---------------------------------------------------------

bool CAdoRecordset::MoveNext()
{
    if (!m_open) return false;
    if (m_row < RowCount()) ++m_row;
    return true;
}

void CAdoRecordset::Close()
{
    m_open = false;
    m_names.clear();
    m_cells.clear();
    m_row = 0;
}

int CAdoRecordset::FindColumn(std::string_view name) const
{
    // Readers mostly ask for the columns in their order: the one after the
    // last found is tried first.
    const size_t n = m_names.size();
    for (size_t k = 0; k < n; ++k) {
        const size_t i = (m_nextColumn + k) % n;
        const std::string& n = m_names[i];
        if (n.size() == name.size() && (n == name || EqualsNoCase(n, name))) {
            m_nextColumn = i + 1;
            return static_cast<int>(i);
        }
    }
    return -1;
}

const DbValue* CAdoRecordset::Cell(size_t column) const
{
    if (IsEOF() || column >= m_names.size()) return nullptr;
    return &m_cells[m_row * m_names.size() + column];
}

// ---- helpers ---------------------------------------------------------------

std::string SqlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

std::string SqlQuote(const std::string& text) { return "'" + SqlEscape(text) + "'"; }

namespace {

// "%0.4f" without the printf machinery; the same correctly rounded text.
std::string FourDecimals(float v)
{
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(v), std::chars_format::fixed, 4);
    return std::string(buf, r.ptr);
}

enum class ColumnKind { ByValue, Integer, Real, Text, Date };

ColumnKind KindOfDecl(const char* decl)
{
    if (!decl || !*decl) return ColumnKind::ByValue;
    std::string d = ToLowerAscii(decl);
    if (d.find("int") != std::string::npos) return ColumnKind::Integer;
    if (d.find("date") != std::string::npos || d.find("time") != std::string::npos) return ColumnKind::Date;
    if (d.find("char") != std::string::npos || d.find("text") != std::string::npos ||
        d.find("clob") != std::string::npos || d.find("memo") != std::string::npos)
        return ColumnKind::Text;
    if (d.find("float") != std::string::npos || d.find("real") != std::string::npos ||
        d.find("doub") != std::string::npos || d.find("num") != std::string::npos ||
        d.find("dec") != std::string::npos || d.find("single") != std::string::npos ||
        d.find("currency") != std::string::npos)
        return ColumnKind::Real;
    return ColumnKind::ByValue;
}

bool IsStoredDateText(const unsigned char* text, int len)
{
    // Exactly "YYYY-MM-DD HH:MM:SS".
    static const char shape[] = "dddd-dd-dd dd:dd:dd";
    if (len != 19) return false;
    for (int i = 0; i < 19; ++i) {
        if (shape[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != static_cast<unsigned char>(shape[i]))
            return false;
    }
    return true;
}

// One cell into `v`, whose text keeps its buffer from the row before: a
// large read row by row allocates nothing per cell. A date keeps no text.
void ReadCellInto(sqlite3_stmt* st, int col, ColumnKind kind, DbValue& v)
{
    v.kind = DbValue::Null;
    v.i = 0;
    v.d = 0;
    v.s.clear();
    const int type = sqlite3_column_type(st, col);
    if (type == SQLITE_NULL) return;
    auto asText = [&] {
        const unsigned char* p = sqlite3_column_text(st, col);
        const int n = sqlite3_column_bytes(st, col);
        if (p) v.s.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
    };
    auto textOrDate = [&](bool dateColumn) {
        const unsigned char* p = sqlite3_column_text(st, col);
        const int n = sqlite3_column_bytes(st, col);
        OleDate d;
        if (p && (dateColumn || IsStoredDateText(p, n)) && OleDate::Parse(reinterpret_cast<const char*>(p), d)) {
            v.kind = DbValue::Date;
            v.d = d.dt;
        } else {
            v.kind = DbValue::Text;
            asText();
        }
    };
    switch (kind) {
    case ColumnKind::Text:
        v.kind = DbValue::Text;
        asText();
        return;
    case ColumnKind::Date:
        if (type == SQLITE_TEXT) {
            textOrDate(true);
        } else if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
            v.kind = DbValue::Date;
            v.d = sqlite3_column_double(st, col);
        } else {
            v.kind = DbValue::Other;
        }
        return;
    case ColumnKind::Integer:
    case ColumnKind::Real:
    case ColumnKind::ByValue:
        break;
    }
    switch (type) {
    case SQLITE_INTEGER:
        if (kind == ColumnKind::Real) {
            v.kind = DbValue::Real;
            v.d = sqlite3_column_double(st, col);
        } else {
            v.kind = DbValue::Integer;
            v.i = sqlite3_column_int64(st, col);
        }
        break;
    case SQLITE_FLOAT:
        v.kind = DbValue::Real;
        v.d = sqlite3_column_double(st, col);
        break;
    case SQLITE_TEXT:
        if (kind == ColumnKind::ByValue) {
            textOrDate(false);
        } else {
            v.kind = DbValue::Text;
            asText();
        }
        break;
    default:
        v.kind = DbValue::Other;
        break;
    }
}

// Only white space and semicolons may follow the one statement.
bool OnlyTrailingNoise(const char* tail)
{
    for (; tail && *tail; ++tail)
        if (*tail != ';' && *tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n') return false;
    return true;
}

std::string ConnectString(const std::string& path, const std::string& password)
{
    std::string s = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path;
    if (!password.empty()) s += ";Persist Security Info=True;Jet OLEDB:Database Password=" + password;
    return s;
}

std::string ConnectionPart(const std::string& conn, const std::string& key)
{
    std::string lower = ToLowerAscii(conn);
    std::string k = ToLowerAscii(key) + "=";
    size_t p = 0;
    while ((p = lower.find(k, p)) != std::string::npos) {
        if (p == 0 || conn[p - 1] == ';') {
            size_t start = p + k.size();
            size_t end = conn.find(';', start);
            return conn.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
        p += k.size();
    }
    return std::string();
}

}  // namespace

// ---- CAdoDatabase ----------------------------------------------------------

CAdoDatabase::CAdoDatabase()
    : m_password(kDefaultPassword),
      m_conn(std::make_shared<Connection>()),
      m_rs(std::make_shared<RecordsetPtr>(std::make_shared<CAdoRecordset>()))
{
}

CAdoDatabase::~CAdoDatabase() = default;

sqlite3* CAdoDatabase::Handle() const { return m_conn ? m_conn->db : nullptr; }

void CAdoDatabase::SetLogin(const std::string& userId, const std::string& password)
{
    m_userId = userId;
    m_password = password;
}

void CAdoDatabase::SetDatabase(const std::string& fileName, int dateStyle)
{
    m_filePath = ProgramPath(fileName);
    std::error_code ec;
    auto st = fs::status(m_filePath, ec);
    if (!ec && fs::exists(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none)
        fs::permissions(m_filePath, fs::perms::owner_write, fs::perm_options::add, ec);
    m_connectString = ConnectString(m_filePath, m_password);
    m_dateStyle = dateStyle;
}

namespace {

// Keying a connection with the password makes SQLCipher derive the page key
// from it and the file's salt (PBKDF2-HMAC-SHA1 at its default iteration
// count): tens of milliseconds, at every open. The same derivation is made
// here once per password and salt, and every connection of this process to
// such a file is keyed with the result as a raw key, so a worker's
// connection costs no derivation. The parameters are SQLCipher's own
// defaults, read from the engine; an engine of another line keeps the
// password path.
class CDerivedKeys {
public:
    // The raw key of `password` for a file whose first bytes are `salt`, or
    // empty when this engine's derivation is not the one made here.
    std::string KeyFor(sqlite3* db, const std::string& password, const std::string& salt)
    {
        std::lock_guard lock(m_mutex);
        if (m_iterations < 0) m_iterations = DefaultIterations(db);
        if (m_iterations == 0) return {};
        auto it = m_keys.find({password, salt});
        if (it != m_keys.end()) return it->second;
        unsigned char key[32];
        if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                                   reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                                   m_iterations, sizeof key, key) != 1)
            return {};
        static const char hex[] = "0123456789ABCDEF";
        std::string spec = "x'";
        auto add = [&](const unsigned char* p, size_t n) {
            for (size_t i = 0; i < n; ++i) {
                spec += hex[p[i] >> 4];
                spec += hex[p[i] & 15];
            }
        };
        add(key, sizeof key);
        add(reinterpret_cast<const unsigned char*>(salt.data()), salt.size());
        spec += '\'';
        OPENSSL_cleanse(key, sizeof key);
        ++m_derived;
        return m_pending[{password, salt}] = spec;
    }
    int Derived()
    {
        std::lock_guard lock(m_mutex);
        return m_derived;
    }
    // The engine derives it from the password itself.
    void CountEngineDerivation()
    {
        std::lock_guard lock(m_mutex);
        ++m_derived;
    }
    // A key that opened its file: later connections take it as it is.
    void Confirm(const std::string& password, const std::string& salt)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_pending.find({password, salt});
        if (it == m_pending.end()) return;
        m_keys[it->first] = it->second;
        m_pending.erase(it);
    }

private:
    static int DefaultIterations(sqlite3* db)
    {
        std::string version, iterations;
        auto one = [](void* out, int n, char** values, char**) {
            if (n > 0 && values[0]) *static_cast<std::string*>(out) = values[0];
            return 0;
        };
        sqlite3_exec(db, "PRAGMA cipher_version", one, &version, nullptr);
        sqlite3_exec(db, "PRAGMA cipher_default_kdf_iter", one, &iterations, nullptr);
        if (version.rfind("3.", 0) != 0) return 0;  // 4.x derives with SHA-512
        const std::optional<long long> n = ParseInteger(iterations);
        return n && *n > 0 && *n <= 100000000 ? static_cast<int>(*n) : 0;
    }

    std::mutex m_mutex;
    int m_iterations = -1;  // not yet asked; 0: not ours to derive
    int m_derived = 0;
    std::map<std::pair<std::string, std::string>, std::string> m_keys, m_pending;
};

CDerivedKeys& DerivedKeys()
{
    static CDerivedKeys keys;
    return keys;
}

// The salt SQLCipher keeps in the first bytes of the file; empty for a
// file too short to hold one (not yet written).
std::string ReadSalt(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string salt(16, '\0');
    if (!in.read(salt.data(), static_cast<std::streamsize>(salt.size()))) return {};
    return salt;
}

}  // namespace

bool CAdoDatabase::Open() { return OpenFile(true); }

int CAdoDatabase::KeyDerivations() { return DerivedKeys().Derived(); }

bool CAdoDatabase::OpenAnother(const CAdoDatabase& open)
{
    // Copies made before the file was chosen know it only through the
    // shared connection, and the password only as the program's own.
    const char* file = open.Handle() ? sqlite3_db_filename(open.Handle(), "main") : nullptr;
    SetLogin(open.m_userId, open.m_connectString.empty()
                                ? open.m_password
                                : ConnectionPart(open.m_connectString, "Jet OLEDB:Database Password"));
    m_filePath = file && *file ? file : open.m_filePath;
    m_dateStyle = open.m_dateStyle;
    m_connectString = ConnectString(m_filePath, m_password);
    return OpenFile(false);
}

bool CAdoDatabase::OpenFile(bool check)
{
    if (m_openFlag) return true;
    if (m_conn->db) {  // opened through a copy
        m_openFlag = 1;
        return true;
    }
    std::string path, password;
    if (!m_connectString.empty()) {
        path = ConnectionPart(m_connectString, "Data Source");
        password = ConnectionPart(m_connectString, "Jet OLEDB:Database Password");
    } else {
        // Data-link form: the link file holds a connection string naming the database.
        std::ifstream link(ProgramPath(m_linkFile));
        std::string line, all;
        while (std::getline(link, line)) all += TrimText(line) + ";";
        path = ConnectionPart(all, "Data Source");
        password = m_password;
        if (path.empty()) {
            m_lastError = "Open Database Error:Cannot read the data link file '" + m_linkFile + "'.";
            return false;
        }
    }
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) {
        m_lastError = "Open Database Error:Could not find file '" + path + "'.";
        return false;
    }
    sqlite3* db = nullptr;
    auto fail = [&](const std::string& why) {
        m_lastError = "Open Database Error:" + why;
        if (db) sqlite3_close_v2(db);
        return false;
    };
    // Keyed, and read once: a wrong or missing key only shows at the first read.
    auto connect = [&](const std::string& key) {
        if (db) sqlite3_close_v2(db);
        db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
            return SQLITE_CANTOPEN;
        if (!key.empty() && sqlite3_key(db, key.data(), static_cast<int>(key.size())) != SQLITE_OK) return SQLITE_ERROR;
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        return sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    };
    int rc = SQLITE_ERROR;
    const std::string salt = password.empty() ? std::string() : ReadSalt(path);
    if (!salt.empty()) {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
            return fail(db ? sqlite3_errmsg(db) : "out of memory");
        const std::string raw = DerivedKeys().KeyFor(db, password, salt);
        if (!raw.empty() && (rc = connect(raw)) == SQLITE_OK) DerivedKeys().Confirm(password, salt);
    }
    // The password itself when no derived key opened the file (a wrong
    // password fails here as before).
    if (rc != SQLITE_OK) {
        if (!password.empty()) DerivedKeys().CountEngineDerivation();
        rc = connect(password);
    }
    if (rc == SQLITE_CANTOPEN) return fail(db ? sqlite3_errmsg(db) : "out of memory");
    if (rc != SQLITE_OK) return fail(sqlite3_errmsg(db));
    // Every page read is decrypted: a cache that holds a whole book of
    // ordinary size (16 MiB) decrypts the pages the open's check reads only
    // once, not again for the loads that follow it.
    if (sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-16384", nullptr,
                     nullptr, nullptr) != SQLITE_OK)
        return fail(sqlite3_errmsg(db));
    // The program's open checks the file; a second connection of the same
    // process to it does not read it all again.
    if (check) {
        std::string result;
        auto collect = [](void* p, int n, char** values, char**) {
            auto* s = static_cast<std::string*>(p);
            if (n > 0 && values[0]) {
                if (!s->empty()) *s += "; ";
                *s += values[0];
            }
            return 0;
        };
        if (sqlite3_exec(db, "PRAGMA quick_check", collect, &result, nullptr) != SQLITE_OK)
            return fail(sqlite3_errmsg(db));
        if (result != "ok") return fail("database disk image is malformed: " + result);
    }
    m_conn->db = db;
    m_conn->transDepth = 0;
    m_openFlag = 1;
    return true;
}

bool CAdoDatabase::Close()
{
    if (*m_rs) (*m_rs)->Close();
    m_openFlag = 0;
    if (!m_conn->db) {
        m_lastError = "Close Database Error:Operation is not allowed when the object is closed.";
        return false;
    }
    m_conn->FinalizeAll();
    if (sqlite3_close_v2(m_conn->db) != SQLITE_OK) {
        m_lastError = std::string("Close Database Error:") + sqlite3_errmsg(m_conn->db);
        return false;
    }
    m_conn->db = nullptr;
    m_conn->transDepth = 0;
    return true;
}

bool CAdoDatabase::IsOpen()
{
    m_openFlag = m_conn->db ? 1 : 0;
    return m_openFlag != 0;
}

RecordsetPtr CAdoDatabase::Query(const std::string& sql, std::string& error, bool keepRows, size_t* rowCount)
{
    if (!m_conn->db) {
        error = "Operation is not allowed when the object is closed.";
        return nullptr;
    }
    std::vector<SqlParam> params;
    std::string translated = TranslateJetSql(sql, params);
    return Run(translated, params, error, keepRows, rowCount);
}

RecordsetPtr CAdoDatabase::Run(const std::string& translated, std::vector<SqlParam>& params, std::string& error,
                               bool keepRows, size_t* rowCount, const RowReader* each)
{
    sqlite3* const db = m_conn->db;
    if (!db) {
        error = "Operation is not allowed when the object is closed.";
        return nullptr;
    }
    if (m_conn->refusedScopes > 0) {
        error = m_conn->refusal;
        return nullptr;
    }
    sqlite3_stmt* st = nullptr;
    bool cached = false;
    if (auto it = m_conn->prepared.find(translated); it != m_conn->prepared.end()) {
        st = it->second;
        cached = true;
    } else {
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, translated.c_str(), static_cast<int>(translated.size()), &st, &tail) != SQLITE_OK) {
            error = sqlite3_errmsg(db);
            return nullptr;
        }
        if (!st) {
            error = "Invalid SQL statement; the statement is empty.";
            return nullptr;
        }
        if (!OnlyTrailingNoise(tail)) {
            sqlite3_finalize(st);
            error = "Characters found after end of SQL statement.";
            return nullptr;
        }
        if (!params.empty() || sqlite3_stmt_readonly(st)) {
            if (m_conn->prepared.size() >= 256) m_conn->FinalizeAll();
            m_conn->prepared.emplace(translated, st);
            cached = true;
        }
    }
    // A reader of rows may run statements of its own meanwhile, this one's
    // text among them: while it steps, the statement is out of the cache.
    if (cached && each) m_conn->prepared.erase(translated);
    // Hands the statement back for its next use (or frees a one-off).
    auto release = [&] {
        if (!cached) {
            sqlite3_finalize(st);
        } else if (each && (m_conn->db != db || !m_conn->prepared.emplace(translated, st).second)) {
            sqlite3_finalize(st);
        } else {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    };
    for (size_t p = 0; p < params.size(); ++p) {
        int idx = static_cast<int>(p + 1);
        const SqlParam& v = params[p];
        int rc = v.kind == SqlParam::Integer ? sqlite3_bind_int64(st, idx, v.i)
                 : v.kind == SqlParam::Real  ? sqlite3_bind_double(st, idx, v.d)
                                             : sqlite3_bind_text(st, idx, v.s.data(), static_cast<int>(v.s.size()),
                                                                 SQLITE_TRANSIENT);
        if (rc != SQLITE_OK) {
            error = sqlite3_errmsg(db);
            release();
            return nullptr;
        }
    }
    auto rs = std::make_shared<CAdoRecordset>();
    // The columns are read after the first step: a cached statement whose
    // table changed since (ALTER TABLE ... ADD) is prepared again inside
    // that step, and only then reports its new column list.
    int rc = sqlite3_step(st);
    const int cols = sqlite3_column_count(st);
    std::vector<ColumnKind> kinds(static_cast<size_t>(cols));
    for (int c = 0; c < cols; ++c) {
        const char* name = sqlite3_column_name(st, c);
        rs->m_names.emplace_back(name ? name : "");
        kinds[static_cast<size_t>(c)] = KindOfDecl(sqlite3_column_decltype(st, c));
    }
    if (each) {
        rs->m_cells.resize(static_cast<size_t>(cols));
        rs->m_open = true;
    }
    size_t rows = 0;
    for (; rc == SQLITE_ROW; rc = sqlite3_step(st)) {
        ++rows;
        if (each) {
            for (int c = 0; c < cols; ++c)
                ReadCellInto(st, c, kinds[static_cast<size_t>(c)], rs->m_cells[static_cast<size_t>(c)]);
            rs->m_row = 0;
            if (!(*each)(rs)) {
                rc = SQLITE_DONE;
                break;
            }
            if (m_conn->db != db) {
                error = "Operation is not allowed when the object is closed.";
                release();
                return nullptr;
            }
        } else if (keepRows) {
            for (int c = 0; c < cols; ++c) ReadCellInto(st, c, kinds[static_cast<size_t>(c)], rs->m_cells.emplace_back());
        }
    }
    if (rc != SQLITE_DONE) {
        error = sqlite3_errmsg(db);
        release();
        return nullptr;
    }
    release();
    if (rowCount) *rowCount = rows;
    if (each) rs->Close();
    else rs->m_open = true;
    return rs;
}

bool CAdoDatabase::ForEachRow(const std::string& sql, const RowReader& each)
{
    if (!m_conn->db) {
        m_lastError = "Operation is not allowed when the object is closed.";
        return false;
    }
    std::vector<SqlParam> params;
    const std::string translated = TranslateJetSql(sql, params);
    std::string error;
    if (!Run(translated, params, error, true, nullptr, &each)) {
        m_lastError = error;
        return false;
    }
    return true;
}

bool CAdoDatabase::Execute(const std::string& sql)
{
    std::string error;
    if (!Query(sql, error, false)) {
        m_lastError = error;
        return false;
    }
    return true;
}

bool CAdoDatabase::OpenRecordset(const std::string& sql)
{
    if (*m_rs) (*m_rs)->Close();
    std::string error;
    RecordsetPtr rs = Query(sql, error);
    if (!rs) {
        m_lastError = error;
        return false;
    }
    // Copies hold the same current result set object: fill it in place.
    CAdoRecordset& cur = **m_rs;
    cur.m_names = std::move(rs->m_names);
    cur.m_cells = std::move(rs->m_cells);
    cur.m_row = 0;
    cur.m_open = true;
    return true;
}

RecordsetPtr CAdoDatabase::OpenRecordsetEx(const std::string& sql)
{
    std::string error;
    RecordsetPtr rs = Query(sql, error);
    if (!rs) m_lastError = error;
    return rs;
}

bool CAdoDatabase::CloseRecordset()
{
    if (*m_rs && (*m_rs)->IsOpen()) (*m_rs)->Close();
    return true;
}

bool CAdoDatabase::IsRecordsetOpen(const RecordsetPtr& rs) { return rs && rs->IsOpen(); }

bool CAdoDatabase::MoveNext()
{
    RecordsetPtr rs = CurrentRecordset();
    if (!rs || !rs->IsOpen()) return false;
    return rs->MoveNext();
}

bool CAdoDatabase::IsEOF(const RecordsetPtr& rs)
{
    RecordsetPtr r = Pick(rs);
    return !r || r->IsEOF();
}

int CAdoDatabase::GetRecordCount(const std::string& sql)
{
    std::string error;
    size_t rows = 0;
    if (!Query(sql, error, false, &rows)) {
        m_lastError = "Get Record Count Error:" + error;
        return 0;
    }
    return static_cast<int>(rows);
}

const DbValue* CAdoDatabase::CurrentCell(const RecordsetPtr& rs, std::string_view column)
{
    const CAdoRecordset* r = rs ? rs.get() : m_rs ? m_rs->get() : nullptr;
    if (!r || !r->IsOpen()) {
        m_lastError = "GetFieldValue Error:Operation is not allowed when the object is closed.";
        return nullptr;
    }
    int c = r->FindColumn(column);
    if (c < 0) {
        m_lastError = "GetFieldValue Error:Item '" + std::string(column) + "' cannot be found in the result set.";
        return nullptr;
    }
    const DbValue* v = r->Cell(static_cast<size_t>(c));
    if (!v) m_lastError = "GetFieldValue Error:Either BOF or EOF is True; the operation requires a current record.";
    return v;
}

bool CAdoDatabase::GetFieldValue(const RecordsetPtr& rs, std::string_view column, std::string& out)
{
    const DbValue* v = CurrentCell(rs, column);
    if (!v || v->kind != DbValue::Text) return false;
    out = v->s;
    return true;
}

bool CAdoDatabase::GetFieldValue(const RecordsetPtr& rs, std::string_view column, int& out)
{
    const DbValue* v = CurrentCell(rs, column);
    if (!v || v->kind != DbValue::Integer) return false;
    out = static_cast<int>(v->i);
    return true;
}

bool CAdoDatabase::GetFieldValue(const RecordsetPtr& rs, std::string_view column, unsigned& out)
{
    const DbValue* v = CurrentCell(rs, column);
    if (!v || v->kind != DbValue::Integer) return false;
    out = static_cast<unsigned>(v->i);
    return true;
}

bool CAdoDatabase::GetFieldValue(const RecordsetPtr& rs, std::string_view column, float& out)
{
    const DbValue* v = CurrentCell(rs, column);
    if (!v) return false;
    if (v->kind == DbValue::Integer) out = static_cast<float>(v->i);
    else if (v->kind == DbValue::Real) out = static_cast<float>(v->d);
    else return false;
    return true;
}

bool CAdoDatabase::GetFieldValue(const RecordsetPtr& rs, std::string_view column, double& out)
{
    const DbValue* v = CurrentCell(rs, column);
    if (!v) return false;
    if (v->kind == DbValue::Integer) out = static_cast<double>(v->i);
    else if (v->kind == DbValue::Real) out = v->d;
    else return false;
    return true;
}

bool CAdoDatabase::GetFieldValue(const RecordsetPtr& rs, std::string_view column, OleDate& out)
{
    const DbValue* v = CurrentCell(rs, column);
    if (!v || v->kind != DbValue::Date) return false;
    out = OleDate(v->d);
    return true;
}

bool CAdoDatabase::QueryInt(const std::string& sql, int& out)
{
    out = 0;
    if (!OpenRecordset(sql)) return false;
    const DbValue* v = (*m_rs)->Cell(0);
    if (!v) return false;
    if (v->kind == DbValue::Integer) out = static_cast<int>(v->i);
    else if (v->kind == DbValue::Real) out = static_cast<int>(v->d);
    else return false;
    return true;
}

bool CAdoDatabase::QueryFloat(const std::string& sql, float& out)
{
    out = 0;
    if (!OpenRecordset(sql)) return false;
    const DbValue* v = (*m_rs)->Cell(0);
    if (!v) return false;
    if (v->kind == DbValue::Integer) out = static_cast<float>(v->i);
    else if (v->kind == DbValue::Real) out = static_cast<float>(v->d);
    else return false;
    return true;
}

bool CAdoDatabase::QueryDouble(const std::string& sql, double& out)
{
    out = 0;
    if (!OpenRecordset(sql)) return false;
    const DbValue* v = (*m_rs)->Cell(0);
    if (!v) return false;
    if (v->kind == DbValue::Integer) out = static_cast<double>(v->i);
    else if (v->kind == DbValue::Real) out = v->d;
    else return false;
    return true;
}

bool CAdoDatabase::QueryDate(const std::string& sql, OleDate& out)
{
    if (!OpenRecordset(sql)) return false;
    const DbValue* v = (*m_rs)->Cell(0);
    if (!v || v->kind != DbValue::Date) return false;
    out = OleDate(v->d);
    return true;
}

bool CAdoDatabase::GetNextID(const std::string& column, const std::string& table, int& out)
{
    m_lastError.clear();
    QueryInt(StrFormat("SELECT MAX(%s) FROM %s", column.c_str(), table.c_str()), out);
    out += 1;
    CloseRecordset();
    // An empty table (MAX is NULL) is not a failure; an engine error is.
    return m_lastError.empty();
}

std::string CAdoDatabase::LiteralOf(const FieldValue& field) const
{
    return std::visit(
        [this](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, int>) {
                return StrFormat("%d", v);
            } else if constexpr (std::is_same_v<T, float>) {
                return FourDecimals(v);
            } else if constexpr (std::is_same_v<T, double>) {
                char buf[64];
                auto r = std::to_chars(buf, buf + sizeof buf, v);
                return std::string(buf, r.ptr);
            } else if constexpr (std::is_same_v<T, OleDate>) {
                DateParts p = v.Parts();
                std::string d = StrFormat("%04d-%02d-%02d %02d:%02d:00", p.year, p.month, p.day, p.hour, p.minute);
                return m_dateStyle == 0 ? "#" + d + "#" : "'" + d + "'";
            } else {
                return SqlQuote(v);
            }
        },
        field.value);
}

std::string CAdoDatabase::BuildInsert(const std::string& table, const FieldValueList& fields) const
{
    std::string cols, values;
    for (const FieldValue& f : fields) {
        if (!cols.empty()) {
            cols += ',';
            values += ',';
        }
        cols += f.name;
        values += LiteralOf(f);
    }
    return "INSERT INTO " + table + "(" + cols + ") VALUES(" + values + ")";
}

std::string CAdoDatabase::BuildUpdate(const std::string& table, const FieldValueList& fields,
                                      const std::string& condition) const
{
    std::string sql = "UPDATE " + table + " SET ";
    bool first = true;
    for (const FieldValue& f : fields) {
        if (!first) sql += ',';
        first = false;
        sql += f.name + "=" + LiteralOf(f);
    }
    return sql + condition;
}

bool CAdoDatabase::InsertRecord(const std::string& table, const FieldValueList& fields)
{
    return ExecuteFields(table, fields, std::string(), true);
}

bool CAdoDatabase::UpdateRecord(const std::string& table, const FieldValueList& fields, const std::string& condition)
{
    return ExecuteFields(table, fields, condition, false);
}

// A builder value as a bound parameter, exactly as its literal would read
// (floats to four decimals, dates to the minute).
static SqlParam ParamOf(const FieldValue& f)
{
    SqlParam p;
    std::visit(
        [&p](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, int>) {
                p.kind = SqlParam::Integer;
                p.i = v;
            } else if constexpr (std::is_same_v<T, float>) {
                p.kind = SqlParam::Real;
                std::string text = FourDecimals(v);
                std::from_chars(text.data(), text.data() + text.size(), p.d);
            } else if constexpr (std::is_same_v<T, double>) {
                p.kind = SqlParam::Real;
                p.d = v;
            } else if constexpr (std::is_same_v<T, OleDate>) {
                DateParts d = v.Parts();
                p.s = StrFormat("%04d-%02d-%02d %02d:%02d:00", d.year, d.month, d.day, d.hour, d.minute);
            } else {
                p.s = v;
            }
        },
        f.value);
    return p;
}

bool CAdoDatabase::ExecuteBound(const std::string& sql, const FieldValueList& values)
{
    if (!m_conn->db) {
        m_lastError = "Operation is not allowed when the object is closed.";
        return false;
    }
    // The statement's own constants (TradeState=1) stay as they are; only
    // the markers take values.
    std::string translated = TranslateJetSql(sql);
    size_t markers = 0;
    for (char c : translated) markers += c == '?';
    if (markers != values.size()) {
        m_lastError = "Parameter count mismatch";
        return false;
    }
    std::vector<SqlParam> params;
    params.reserve(values.size());
    for (const FieldValue& v : values) params.push_back(ParamOf(v));
    std::string error;
    if (!Run(translated, params, error, false, nullptr)) {
        m_lastError = error;
        return false;
    }
    return true;
}

bool CAdoDatabase::ExecuteFields(const std::string& table, const FieldValueList& fields, const std::string& condition,
                                 bool insert)
{
    // The values go in bound, exactly as their literals would read (four
    // decimals, dates to the minute), so the thousands of rows of a download
    // neither format and re-read text nor compile one statement each.
    std::vector<SqlParam> params;
    params.reserve(fields.size());
    std::string head = insert ? "INSERT INTO " + table + "(" : "UPDATE " + table + " SET ";
    std::string values;
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldValue& f = fields[i];
        SqlParam p = ParamOf(f);
        params.push_back(std::move(p));
        if (insert) {
            if (i) {
                head += ',';
                values += ',';
            }
            head += f.name;
            values += '?';
        } else {
            if (i) head += ',';
            head += f.name + "=?";
        }
    }
    std::string sql = insert ? head + ") VALUES(" + values + ")" : head;
    if (!insert && !condition.empty()) {
        // The caller's condition may hold literals of its own; they follow
        // the field markers in the text, so their values follow in order.
        std::vector<SqlParam> more;
        sql = TranslateJetSql(sql + condition, more);
        for (SqlParam& p : more) params.push_back(std::move(p));
    }
    std::string error;
    if (!Run(sql, params, error, false, nullptr)) {
        m_lastError = error;
        return false;
    }
    return true;
}

std::vector<std::vector<std::string>> CAdoDatabase::RecordsetToFields(bool allRows, const RecordsetPtr& rs)
{
    RecordsetPtr r = Pick(rs);
    std::vector<std::vector<std::string>> rows;
    if (!r) return rows;
    while (!r->IsEOF()) {
        std::vector<std::string>& row = rows.emplace_back();
        row.reserve(r->ColumnCount());
        for (size_t c = 0; c < r->ColumnCount(); ++c) {
            const DbValue* v = r->Cell(c);
            std::string& s = row.emplace_back();
            switch (v->kind) {
            case DbValue::Integer: s = StrFormat("%lld", v->i); break;
            case DbValue::Real: s = StrFormat("%f", v->d); break;
            case DbValue::Date: s = OleDate(v->d).Format(0); break;
            case DbValue::Text: s = v->s; break;
            default: break;
            }
        }
        if (!allRows) break;
        r->MoveNext();
    }
    r->Close();
    return rows;
}

std::string CAdoDatabase::RecordsetToText(bool allRows, const RecordsetPtr& rs)
{
    std::string text;
    bool first = true;
    for (const std::vector<std::string>& row : RecordsetToFields(allRows, rs)) {
        for (const std::string& s : row) {
            if (!first) text += '|';
            first = false;
            for (char ch : s) text += ch == '|' ? ';' : ch;
        }
    }
    return text;
}

bool CAdoDatabase::RunTransStatement(const std::string& sql)
{
    if (!m_conn->db) {
        m_lastError = "Operation is not allowed when the object is closed.";
        return false;
    }
    char* err = nullptr;
    if (sqlite3_exec(m_conn->db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        m_lastError = err ? err : sqlite3_errmsg(m_conn->db);
        sqlite3_free(err);
        return false;
    }
    return true;
}

// The outermost level takes the write lock at its begin (BEGIN IMMEDIATE),
// nested levels are savepoints. A deferred transaction that has read and
// then writes while another connection of the file holds the write lock gets
// "database is locked" at once: the engine does not wait for a connection
// that already reads, since the other writer's commit would leave it a stale
// snapshot. A writer that asks for the lock before its first read waits
// (kBusyTimeoutMs, set at open) for the other's commit and then reads what
// that committed; WAL readers never wait. A lock held past the wait fails
// the begin with the engine's text.
bool CAdoDatabase::BeginTrans()
{
    if (m_conn->refusedScopes > 0) {
        m_lastError = m_conn->refusal;
        return false;
    }
    const int depth = m_conn->transDepth;
    if (!RunTransStatement(depth == 0 ? std::string("BEGIN IMMEDIATE") : StrFormat("SAVEPOINT vx_%d", depth)))
        return false;
    ++m_conn->transDepth;
    return true;
}

bool CAdoDatabase::CommitTrans()
{
    if (m_conn->transDepth == 0) {
        m_lastError = "No transaction is active.";
        return false;
    }
    const int d = --m_conn->transDepth;
    if (d > 0) {
        bool ok = RunTransStatement(StrFormat("RELEASE vx_%d", d));
        if (!ok && m_conn->db && sqlite3_get_autocommit(m_conn->db)) m_conn->transDepth = 0;
        return ok;
    }
    if (RunTransStatement("COMMIT")) return true;
    // A commit that failed leaves nothing of the transaction behind, nor
    // the write lock held.
    if (m_conn->db && !sqlite3_get_autocommit(m_conn->db)) sqlite3_exec(m_conn->db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool CAdoDatabase::RollbackTrans()
{
    if (m_conn->transDepth == 0) {
        m_lastError = "No transaction is active.";
        return false;
    }
    const int d = --m_conn->transDepth;
    // The engine may already have rolled the whole transaction back (disk
    // full, I/O error); then there is no savepoint left to return to.
    if (m_conn->db && sqlite3_get_autocommit(m_conn->db)) {
        m_conn->transDepth = 0;
        return true;
    }
    return RunTransStatement(d == 0 ? std::string("ROLLBACK") : StrFormat("ROLLBACK TO vx_%d; RELEASE vx_%d", d, d));
}

int CAdoDatabase::TransDepth() const { return m_conn->transDepth; }

void CAdoDatabase::RefuseStatements(bool on)
{
    if (on && m_conn->refusedScopes++ == 0) m_conn->refusal = m_lastError;
    if (!on && m_conn->refusedScopes > 0) --m_conn->refusedScopes;
}

}  // namespace vextal

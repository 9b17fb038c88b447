#pragma once
// The one access object to the local database Vextal.mdb, kept in the shape
// the rest of the program uses (execute, open a result set, step, typed
// column reads, scalar queries, INSERT/UPDATE builders), over SQLCipher.
// Statements are written in the Jet dialect and translated (JetSql.h).
// Nothing throws: failures return false and leave GetLastError().
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/OleDate.h"
#include "db/JetSql.h"

struct sqlite3;

namespace vextal {

// One cell as read from the engine. The kind comes from the declared type of
// the column: text columns give Text, DateTime columns Date, integer columns
// Integer, float/number columns Real; expression columns take the kind of
// their value (a text of the form "YYYY-MM-DD HH:MM:SS" counts as a date).
struct DbValue {
    enum Kind { Null, Integer, Real, Text, Date, Other };
    Kind kind = Null;
    long long i = 0;
    double d = 0;  // Real, and Date as an OLE date
    std::string s;
};

// A result set read whole into memory (static cursor): a value the caller
// can step through while other statements run.
class CAdoRecordset {
public:
    bool IsOpen() const { return m_open; }
    bool IsEOF() const { return !m_open || m_row >= RowCount(); }
    bool MoveNext();
    void Close();
    size_t RowCount() const { return m_names.empty() ? 0 : m_cells.size() / m_names.size(); }
    size_t ColumnCount() const { return m_names.size(); }
    const std::string& ColumnName(size_t i) const { return m_names[i]; }
    // Column index by name, without regard to case; -1 when absent.
    int FindColumn(std::string_view name) const;
    // Cell of the current row; nullptr past the end.
    const DbValue* Cell(size_t column) const;

private:
    friend class CAdoDatabase;
    std::vector<std::string> m_names;
    std::vector<DbValue> m_cells;  // row-major
    size_t m_row = 0;
    bool m_open = false;
    mutable size_t m_nextColumn = 0;  // where the next FindColumn starts looking
};
using RecordsetPtr = std::shared_ptr<CAdoRecordset>;

// One column/value pair of the builders.
struct FieldValue {
    std::string name;
    // float: written with four decimals; double (money, counts, NAVs): exact.
    std::variant<int, float, OleDate, std::string, double> value;

    FieldValue(std::string n, int v) : name(std::move(n)), value(v) {}
    FieldValue(std::string n, float v) : name(std::move(n)), value(v) {}
    FieldValue(std::string n, double v) : name(std::move(n)), value(v) {}
    FieldValue(std::string n, OleDate v) : name(std::move(n)), value(v) {}
    FieldValue(std::string n, std::string v) : name(std::move(n)), value(std::move(v)) {}
    FieldValue(std::string n, const char* v) : name(std::move(n)), value(std::string(v)) {}
};
using FieldValueList = std::vector<FieldValue>;

// A text between single quotes with every quote inside doubled, so no text
// of the user or the service can change the shape of a statement.
std::string SqlQuote(const std::string& text);
// The same without the surrounding quotes, for statements built with "'%s'".
std::string SqlEscape(const std::string& text);

class CAdoDatabase {
public:
    // The password the program protects its database with.
    static constexpr const char* kDefaultPassword = "m3Rk9pWz2Tq8Vd";
    // How long a connection waits for another connection of the file to
    // release the write lock before the statement fails.
    static constexpr int kBusyTimeoutMs = 5000;

    CAdoDatabase();
    // Copies share the connection and the current result set.
    CAdoDatabase(const CAdoDatabase&) = default;
    CAdoDatabase& operator=(const CAdoDatabase&) = default;
    ~CAdoDatabase();

    // Connection
    void SetLogin(const std::string& userId, const std::string& password);
    void SetLinkFile(const std::string& linkFile) { m_linkFile = linkFile; }
    // Path = program directory + file name (an absolute name is kept); a
    // read-only file is made writable; builds the connection string.
    void SetDatabase(const std::string& fileName, int dateStyle);
    bool Open();
    // A connection of its own to the file `open` has open, for a worker
    // (copies share one connection, which two threads must not use): keyed
    // alike without deriving the key again, and without the check of the
    // whole file that the first open made.
    bool OpenAnother(const CAdoDatabase& open);
    // How many times this process has had a key derived from a password,
    // here or by the engine (tests).
    static int KeyDerivations();
    bool Close();
    bool IsOpen();
    const std::string& GetLastError() const { return m_lastError; }
    const std::string& GetConnectionString() const { return m_connectString; }
    const std::string& GetFilePath() const { return m_filePath; }
    int GetDateStyle() const { return m_dateStyle; }

    // Statements and result sets
    bool Execute(const std::string& sql);
    // A statement whose every value is a "?" marker, bound in order from
    // values: no number or text of the caller becomes statement text.
    bool ExecuteBound(const std::string& sql, const FieldValueList& values);
    bool OpenRecordset(const std::string& sql);
    RecordsetPtr OpenRecordsetEx(const std::string& sql);
    // Rows straight from the engine one at a time, for large reads that keep
    // none of them as they are: `each` reads the current row of the result
    // set it is given (GetFieldValue) and returns false to stop; that set
    // holds the one row only. False, with GetLastError(), when the engine
    // fails, however many rows were seen before.
    using RowReader = std::function<bool(const RecordsetPtr&)>;
    bool ForEachRow(const std::string& sql, const RowReader& each);
    bool CloseRecordset();
    bool IsRecordsetOpen(const RecordsetPtr& rs);
    bool MoveNext();
    bool IsEOF(const RecordsetPtr& rs = nullptr);
    bool HasRecord(const RecordsetPtr& rs = nullptr) { return !IsEOF(rs); }
    int GetRecordCount(const std::string& sql);
    RecordsetPtr CurrentRecordset() const { return m_rs ? *m_rs : nullptr; }

    // Typed column reads of the current row. True only when the column holds
    // a value of an accepted kind; otherwise the output is left as it was.
    bool GetFieldValue(std::string_view column, std::string& out) { return GetFieldValue(nullptr, column, out); }
    bool GetFieldValue(std::string_view column, int& out) { return GetFieldValue(nullptr, column, out); }
    bool GetFieldValue(std::string_view column, unsigned& out) { return GetFieldValue(nullptr, column, out); }
    bool GetFieldValue(std::string_view column, float& out) { return GetFieldValue(nullptr, column, out); }
    bool GetFieldValue(std::string_view column, double& out) { return GetFieldValue(nullptr, column, out); }
    bool GetFieldValue(std::string_view column, OleDate& out) { return GetFieldValue(nullptr, column, out); }
    bool GetFieldValue(const RecordsetPtr& rs, std::string_view column, std::string& out);
    bool GetFieldValue(const RecordsetPtr& rs, std::string_view column, int& out);
    bool GetFieldValue(const RecordsetPtr& rs, std::string_view column, unsigned& out);
    bool GetFieldValue(const RecordsetPtr& rs, std::string_view column, float& out);
    bool GetFieldValue(const RecordsetPtr& rs, std::string_view column, double& out);
    bool GetFieldValue(const RecordsetPtr& rs, std::string_view column, OleDate& out);

    // Scalar reads: first column of the first row of the query.
    bool QueryInt(const std::string& sql, int& out);
    bool QueryFloat(const std::string& sql, float& out);
    bool QueryDouble(const std::string& sql, double& out);
    bool QueryDate(const std::string& sql, OleDate& out);
    // MAX(column)+1; 1 for an empty table.
    bool GetNextID(const std::string& column, const std::string& table, int& out);

    // Builders
    std::string LiteralOf(const FieldValue& field) const;
    std::string BuildInsert(const std::string& table, const FieldValueList& fields) const;
    std::string BuildUpdate(const std::string& table, const FieldValueList& fields, const std::string& condition) const;
    bool InsertRecord(const std::string& table, const FieldValueList& fields);
    bool UpdateRecord(const std::string& table, const FieldValueList& fields, const std::string& condition);
    // Rows from the current one: columns joined by "|", rows by "|", a "|"
    // inside a value becomes ";". Releases the result set.
    std::string RecordsetToText(bool allRows, const RecordsetPtr& rs = nullptr);
    // The same rows as field texts ("%d", "%f", "%Y-%m-%d %H:%M:%S", text
    // unchanged, NULL empty). Releases the result set.
    std::vector<std::vector<std::string>> RecordsetToFields(bool allRows, const RecordsetPtr& rs = nullptr);

    // Transactions. They nest (savepoints); a failure or crash before the
    // outermost commit leaves the database as it was before the first begin.
    // The outermost begin waits for the write lock (kBusyTimeoutMs) and
    // fails when it is not released in that time.
    bool BeginTrans();
    bool CommitTrans();
    bool RollbackTrans();
    int TransDepth() const;

    // Low-level handle for tools that need the engine directly (backup, bench).
    sqlite3* Handle() const;

private:
    friend class CAdoTransaction;
    struct Connection;
    // While on (counted), every statement and begin of the connection fails
    // with the error the refused begin left.
    void RefuseStatements(bool on);
    bool OpenFile(bool check);
    RecordsetPtr Query(const std::string& sql, std::string& error, bool keepRows = true, size_t* rowCount = nullptr);
    // Runs a statement already in engine form with its values bound; with
    // `each`, hands it the rows one at a time instead of keeping them.
    RecordsetPtr Run(const std::string& translated, std::vector<SqlParam>& params, std::string& error, bool keepRows,
                     size_t* rowCount, const RowReader* each = nullptr);
    // The builders' statements in engine form: the same statement as the
    // text builders make, with the literals as bound values.
    bool ExecuteFields(const std::string& head, const FieldValueList& fields, const std::string& condition, bool insert);
    RecordsetPtr Pick(const RecordsetPtr& rs) const { return rs ? rs : CurrentRecordset(); }
    const DbValue* CurrentCell(const RecordsetPtr& rs, std::string_view column);
    bool RunTransStatement(const std::string& sql);

    std::string m_linkFile;
    std::string m_userId;
    std::string m_password;
    std::string m_connectString;
    std::string m_filePath;
    std::string m_lastError;
    std::shared_ptr<Connection> m_conn;
    std::shared_ptr<RecordsetPtr> m_rs;  // the current result set, shared by copies
    int m_openFlag = 0;
    int m_dateStyle = 1;
};

// Commits on Commit(); rolls back when it goes out of scope uncommitted.
// When the begin fails (the write lock not released in time), the statements
// of the connection fail with its error until this goes out of scope, so an
// operation that goes on regardless stores nothing of itself.
class CAdoTransaction {
public:
    explicit CAdoTransaction(CAdoDatabase& db) : m_db(db), m_active(db.BeginTrans()), m_refused(!m_active)
    {
        if (m_refused) m_db.RefuseStatements(true);
    }
    ~CAdoTransaction()
    {
        if (m_active) m_db.RollbackTrans();
        if (m_refused) m_db.RefuseStatements(false);
    }
    CAdoTransaction(const CAdoTransaction&) = delete;
    CAdoTransaction& operator=(const CAdoTransaction&) = delete;
    bool IsActive() const { return m_active; }
    bool Commit()
    {
        if (!m_active) return false;
        m_active = false;
        return m_db.CommitTrans();
    }

private:
    CAdoDatabase& m_db;
    bool m_active;
    bool m_refused;
};

}  // namespace vextal

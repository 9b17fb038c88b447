#include "MemberStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>

#include "common/Format.h"
#include "common/OleDate.h"
#include "net/CommandProtocol.h"
#include "wire/BookText.h"

namespace vextal {
namespace {

struct Stmt {
    sqlite3_stmt* stmt = nullptr;
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr); }
    ~Stmt() { sqlite3_finalize(stmt); }
    explicit operator bool() const { return stmt != nullptr; }
    Stmt& Bind(int i, const std::string& s)
    {
        sqlite3_bind_text(stmt, i, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, int v)
    {
        sqlite3_bind_int(stmt, i, v);
        return *this;
    }
    Stmt& Bind(int i, double v)
    {
        sqlite3_bind_double(stmt, i, v);
        return *this;
    }
    bool Step() { return stmt && sqlite3_step(stmt) == SQLITE_ROW; }
    // Runs the statement to its end and resets it for the next bindings.
    bool Done()
    {
        const bool done = stmt && sqlite3_step(stmt) == SQLITE_DONE;
        if (stmt) sqlite3_reset(stmt);
        return done;
    }
    std::string Text(int i) const
    {
        const unsigned char* p = sqlite3_column_text(stmt, i);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt, i)))
                 : std::string();
    }
    int Int(int i) const { return sqlite3_column_int(stmt, i); }
    double Real(int i) const { return sqlite3_column_double(stmt, i); }
};

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// Runs `body` in one transaction: committed when it returns true, else rolled back.
template <class F>
bool Transaction(sqlite3* db, F body)
{
    if (!Exec(db, "BEGIN IMMEDIATE")) return false;
    bool ok = body();
    if (ok && Exec(db, "COMMIT")) return true;
    Exec(db, "ROLLBACK");
    return false;
}

}  // namespace

bool ParseBookText(const std::string& text, std::vector<BookAccount>& accounts, std::string& error)
{
    accounts.clear();
    std::vector<BookTextAccount> read;
    if (!ReadBookText(text, read, error)) return false;
    accounts.reserve(read.size());
    for (BookTextAccount& a : read) {
        BookAccount account;
        account.name = a.account[kBookAccountName];
        for (const std::vector<std::string>& t : a.trades)
            account.tradeIds.push_back(static_cast<int>(IntegerOr(t[kBookTradeId], 0)));
        // Written back as read: the very bytes of this account in the upload.
        std::vector<BookTextAccount> one;
        one.push_back(std::move(a));
        account.block = WriteBookTextUnchecked(one);
        accounts.push_back(std::move(account));
    }
    return true;
}

bool CMemberStore::Ready(sqlite3* db)
{
    if (m_ready) return true;
    m_ready = Exec(db,
                   "CREATE TABLE IF NOT EXISTS T_Service_Book(UserID int NOT NULL, Seq int NOT NULL,"
                   " AccountName TEXT NOT NULL, Block TEXT NOT NULL, PRIMARY KEY(UserID, Seq));"
                   "CREATE INDEX IF NOT EXISTS T_Service_Book_Name ON T_Service_Book(UserID, AccountName);"
                   "CREATE TABLE IF NOT EXISTS T_Service_Trade(UserID int NOT NULL, TradeID int NOT NULL,"
                   " Cancelled int NOT NULL DEFAULT 0, PRIMARY KEY(UserID, TradeID));"
                   "CREATE TABLE IF NOT EXISTS T_Service_Plan(UserID int NOT NULL, PlanID int NOT NULL,"
                   " AccountID int NOT NULL, FundID TEXT NOT NULL, BuyType int NOT NULL, BonusType int NOT NULL,"
                   " PeriodsDone int NOT NULL, PlannedPeriods int NOT NULL, TradeMoney float NOT NULL,"
                   " TradeFee float NOT NULL, PlanDay int NOT NULL, StartDate TEXT NOT NULL, LastDate TEXT NOT NULL,"
                   " PRIMARY KEY(UserID, PlanID), UNIQUE(UserID, AccountID, FundID));"
                   "CREATE TABLE IF NOT EXISTS T_Service_Folder(UserID int NOT NULL, FolderID int NOT NULL,"
                   " FolderName TEXT NOT NULL, PRIMARY KEY(UserID, FolderID));"
                   "CREATE TABLE IF NOT EXISTS T_Service_FolderFund(UserID int NOT NULL, FolderID int NOT NULL,"
                   " FundID TEXT NOT NULL, Seq int NOT NULL, PRIMARY KEY(UserID, FolderID, FundID))");
    return m_ready;
}

// Linear in the upload: each statement is prepared once and every lookup
// goes through an index, so the one transaction (and the store's lock) is
// short even for tens of thousands of accounts.
bool CMemberStore::StoreBook(int userId, const std::vector<BookAccount>& accounts, bool replace, std::string& error)
{
    error = "系统错误，请联系管理员";
    return m_users.WithDatabase([&](sqlite3* db) {
        if (!Ready(db)) return false;
        return Transaction(db, [&] {
            Stmt del(db, "DELETE FROM T_Service_Book WHERE UserID=? AND AccountName=?");
            Stmt ins(db, "INSERT INTO T_Service_Book VALUES(?, ?, ?, ?)");
            Stmt trade(db, "INSERT OR IGNORE INTO T_Service_Trade VALUES(?, ?, 0)");  // never revives a cancelled trade
            Stmt last(db, "SELECT IFNULL(MAX(Seq), 0) FROM T_Service_Book WHERE UserID=?");
            if (!del || !ins || !trade || !last.Bind(1, userId).Step()) return false;
            int seq = last.Int(0);
            for (const BookAccount& a : accounts) {
                if (replace && !del.Bind(1, userId).Bind(2, a.name).Done()) return false;
                if (!ins.Bind(1, userId).Bind(2, ++seq).Bind(3, a.name).Bind(4, a.block).Done()) return false;
                for (int id : a.tradeIds)
                    if (!trade.Bind(1, userId).Bind(2, id).Done()) return false;
            }
            Stmt size(db, "SELECT IFNULL(SUM(LENGTH(CAST(Block AS BLOB))), 0) FROM T_Service_Book WHERE UserID=?");
            if (!size.Bind(1, userId).Step()) return false;
            if (static_cast<size_t>(sqlite3_column_int64(size.stmt, 0)) > kMaxStoredBookBytes) {
                error = "服务器上的记帐数据过多，请用替换方式上传";
                return false;
            }
            return true;
        });
    });
}

bool CMemberStore::LoadBook(int userId, std::string& text)
{
    text.clear();
    return m_users.WithDatabase([&](sqlite3* db) {
        if (!Ready(db)) return false;
        Stmt st(db, "SELECT Block FROM T_Service_Book WHERE UserID=? ORDER BY AccountName, Seq");
        st.Bind(1, userId);
        while (st.Step()) {
            if (!text.empty()) text += '|';
            text += st.Text(0);
        }
        return true;
    });
}

CMemberStore::CancelResult CMemberStore::CancelTrade(int userId, int tradeId)
{
    CancelResult result = CancelResult::Failed;
    m_users.WithDatabase([&](sqlite3* db) {
        if (!Ready(db)) return false;
        Stmt up(db, "UPDATE T_Service_Trade SET Cancelled=1 WHERE UserID=? AND TradeID=? AND Cancelled=0");
        if (!up.Bind(1, userId).Bind(2, tradeId).Done()) return false;
        if (sqlite3_changes(db) == 1) {
            result = CancelResult::Cancelled;
            return true;
        }
        Stmt known(db, "SELECT 1 FROM T_Service_Trade WHERE UserID=? AND TradeID=?");
        result = known.Bind(1, userId).Bind(2, tradeId).Step() ? CancelResult::AlreadyCancelled : CancelResult::Unknown;
        return true;
    });
    return result;
}

bool CMemberStore::Plans(int userId, std::vector<ServicePlan>& plans)
{
    plans.clear();
    return m_users.WithDatabase([&](sqlite3* db) {
        if (!Ready(db)) return false;
        Stmt st(db, "SELECT PlanID, AccountID, BuyType, BonusType, PeriodsDone, PlannedPeriods, FundID, TradeMoney,"
                    " TradeFee, PlanDay, StartDate, LastDate FROM T_Service_Plan WHERE UserID=? ORDER BY PlanID");
        st.Bind(1, userId);
        while (st.Step()) {
            ServicePlan p;
            p.planId = st.Int(0);
            p.accountId = st.Int(1);
            p.buyType = st.Int(2);
            p.bonusType = st.Int(3);
            p.periodsDone = st.Int(4);
            p.plannedPeriods = st.Int(5);
            p.fundId = st.Text(6);
            p.money = st.Real(7);
            p.feeRate = st.Real(8);
            p.day = st.Int(9);
            p.startDate = st.Text(10);
            p.lastDate = st.Text(11);
            plans.push_back(std::move(p));
        }
        return true;
    });
}

namespace {

// The due day of the `count`-th purchase after `last` (count >= 1), walked as
// the program walks it: from the day after the last processed one, not
// before the start, each month's plan day or the month's last day when the
// month is shorter. Empty when a date does not read.
std::string DueDayAfter(const std::string& last, const std::string& start, int day, int count)
{
    OleDate l, s;
    if (!OleDate::Parse(last, l) || !OleDate::Parse(start, s) || count < 1) return std::string();
    OleDate from = l.DateOnly().AddDays(1);
    if (from < s.DateOnly()) from = s.DateOnly();
    DateParts p = from.Parts();
    int year = p.year, month = p.month;
    if (std::min(day, DaysInMonth(year, month)) < p.day) ++month;
    month += count - 1;
    year += (month - 1) / 12;
    month = (month - 1) % 12 + 1;
    return OleDate::FromParts(year, month, std::min(day, DaysInMonth(year, month))).Format(3);
}

}  // namespace

bool CMemberStore::SavePlan(int userId, ServicePlan& plan, const std::string& today)
{
    return m_users.WithDatabase([&](sqlite3* db) {
        if (!Ready(db)) return false;
        return Transaction(db, [&] {
            Stmt old(db, "SELECT PlanID, PeriodsDone, LastDate FROM T_Service_Plan"
                         " WHERE UserID=? AND AccountID=? AND FundID=?");
            if (old.Bind(1, userId).Bind(2, plan.accountId).Bind(3, plan.fundId).Step()) {
                plan.planId = old.Int(0);
                // The save carries no processed day: the due day of the last
                // purchase booked, counted on from the stored processed day
                // with the plan's day and start as they are now, so a walk
                // that stopped at a failed period resumes there however the
                // day or the start were changed before it (today would skip
                // it for good).
                if (plan.periodsDone > old.Int(1)) {
                    plan.lastDate = DueDayAfter(old.Text(2), plan.startDate, plan.day, plan.periodsDone - old.Int(1));
                    if (plan.lastDate.empty() || plan.lastDate > today) plan.lastDate = today;
                } else {
                    plan.lastDate = old.Text(2);
                }
            } else {
                Stmt count(db, "SELECT COUNT(*), IFNULL(MAX(PlanID), 0) + 1 FROM T_Service_Plan WHERE UserID=?");
                if (!count.Bind(1, userId).Step() || static_cast<size_t>(count.Int(0)) >= kMaxPlans) return false;
                plan.planId = count.Int(1);
            }
            Stmt del(db, "DELETE FROM T_Service_Plan WHERE UserID=? AND PlanID=?");
            Stmt ins(db, "INSERT INTO T_Service_Plan VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?)");
            return del.Bind(1, userId).Bind(2, plan.planId).Done() &&
                   ins.Bind(1, userId).Bind(2, plan.planId).Bind(3, plan.accountId).Bind(4, plan.fundId)
                       .Bind(5, plan.buyType).Bind(6, plan.bonusType).Bind(7, plan.periodsDone)
                       .Bind(8, plan.plannedPeriods).Bind(9, plan.money).Bind(10, plan.feeRate).Bind(11, plan.day)
                       .Bind(12, plan.startDate).Bind(13, plan.lastDate).Done();
        });
    });
}

bool CMemberStore::DeletePlan(int userId, int accountId, const std::string& fundId, bool& found)
{
    found = false;
    return m_users.WithDatabase([&](sqlite3* db) {
        if (!Ready(db)) return false;
        Stmt del(db, "DELETE FROM T_Service_Plan WHERE UserID=? AND AccountID=? AND FundID=?");
        if (!del.Bind(1, userId).Bind(2, accountId).Bind(3, fundId).Done()) return false;
        found = sqlite3_changes(db) > 0;
        return found;
    });
}

bool CMemberStore::EnsureFolders(sqlite3* db, int userId)
{
    Stmt any(db, "SELECT 1 FROM T_Service_Folder WHERE UserID=?");
    if (any.Bind(1, userId).Step()) return true;
    return Transaction(db, [&] {
        const char* names[] = {"我的收藏", "关注基金"};
        for (int i = 0; i < 2; ++i) {
            Stmt ins(db, "INSERT INTO T_Service_Folder VALUES(?, ?, ?)");
            if (!ins.Bind(1, userId).Bind(2, i + 1).Bind(3, std::string(names[i])).Done()) return false;
        }
        int seq = 0;
        for (const std::string& fund : m_starterFunds) {
            Stmt ins(db, "INSERT OR IGNORE INTO T_Service_FolderFund VALUES(?, 1, ?, ?)");
            if (!ins.Bind(1, userId).Bind(2, fund).Bind(3, ++seq).Done()) return false;
        }
        return true;
    });
}

bool CMemberStore::Folders(int userId, std::vector<ServiceFolder>& folders)
{
    folders.clear();
    return m_users.WithDatabase([&](sqlite3* db) {
        if (!Ready(db) || !EnsureFolders(db, userId)) return false;
        Stmt st(db, "SELECT FolderID, FolderName FROM T_Service_Folder WHERE UserID=? ORDER BY FolderID");
        st.Bind(1, userId);
        while (st.Step()) folders.push_back(ServiceFolder{st.Int(0), st.Text(1), {}});
        for (ServiceFolder& f : folders) {
            Stmt funds(db, "SELECT FundID FROM T_Service_FolderFund WHERE UserID=? AND FolderID=? ORDER BY Seq");
            funds.Bind(1, userId).Bind(2, f.folderId);
            while (funds.Step()) f.funds.push_back(funds.Text(0));
        }
        return true;
    });
}

CMemberStore::FolderResult CMemberStore::AddToFolder(int userId, int folderId, const std::string& fundId)
{
    FolderResult result = FolderResult::Failed;
    m_users.WithDatabase([&](sqlite3* db) {
        if (!Ready(db) || !EnsureFolders(db, userId)) return false;
        Stmt folder(db, "SELECT COUNT(f.FundID), IFNULL(MAX(f.Seq), 0) + 1 FROM T_Service_Folder d"
                        " LEFT JOIN T_Service_FolderFund f ON f.UserID=d.UserID AND f.FolderID=d.FolderID"
                        " WHERE d.UserID=? AND d.FolderID=? GROUP BY d.FolderID");
        if (!folder.Bind(1, userId).Bind(2, folderId).Step()) {
            result = FolderResult::NoFolder;
            return true;
        }
        Stmt there(db, "SELECT 1 FROM T_Service_FolderFund WHERE UserID=? AND FolderID=? AND FundID=?");
        if (there.Bind(1, userId).Bind(2, folderId).Bind(3, fundId).Step()) {
            result = FolderResult::AlreadyThere;
            return true;
        }
        if (static_cast<size_t>(folder.Int(0)) >= kMaxFolderFunds) {
            result = FolderResult::Full;
            return true;
        }
        Stmt ins(db, "INSERT INTO T_Service_FolderFund VALUES(?, ?, ?, ?)");
        if (ins.Bind(1, userId).Bind(2, folderId).Bind(3, fundId).Bind(4, folder.Int(1)).Done())
            result = FolderResult::Done;
        return true;
    });
    return result;
}

CMemberStore::FolderResult CMemberStore::RemoveFromFolder(int userId, int folderId, const std::string& fundId)
{
    FolderResult result = FolderResult::Failed;
    m_users.WithDatabase([&](sqlite3* db) {
        if (!Ready(db) || !EnsureFolders(db, userId)) return false;
        Stmt del(db, "DELETE FROM T_Service_FolderFund WHERE UserID=? AND FolderID=? AND FundID=?");
        if (!del.Bind(1, userId).Bind(2, folderId).Bind(3, fundId).Done()) return false;
        result = sqlite3_changes(db) > 0 ? FolderResult::Done : FolderResult::NotThere;
        return true;
    });
    return result;
}

}  // namespace vextal

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "DbTestUtil.h"
#include "common/OleDate.h"
#include "support/ChildWait.h"

using namespace vextal;

class AdoDatabaseTest : public test::TempDirTest {};

TEST_F(AdoDatabaseTest, OpenNeedsTheRightKeyAndMakesReadOnlyFilesWritable)
{
    // Missing file: no silent creation of an empty database.
    CAdoDatabase missing;
    missing.SetDatabase(Path("a.mdb"), 0);
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(missing.GetLastError().rfind("Open Database Error:", 0), 0u) << missing.GetLastError();
    EXPECT_FALSE(std::filesystem::exists(Path("a.mdb")));
    {
        CAdoDatabase db;
        MakeDatabase(db);
        EXPECT_TRUE(db.Close());
    }
    CAdoDatabase wrong;
    wrong.SetLogin("", "not-the-password");
    wrong.SetDatabase(Path("Vextal.mdb"), 1);
    EXPECT_FALSE(wrong.Open());
    EXPECT_EQ(wrong.GetLastError().rfind("Open Database Error:", 0), 0u);

    chmod(Path("Vextal.mdb").c_str(), 0444);
    CAdoDatabase db;
    db.SetDatabase(Path("Vextal.mdb"), 1);
    struct stat st {};
    stat(Path("Vextal.mdb").c_str(), &st);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
    ASSERT_TRUE(db.Open()) << db.GetLastError();
    EXPECT_TRUE(db.Execute("INSERT INTO T_MyFund_Focus(FundID) VALUES('000001')")) << db.GetLastError();
}

TEST_F(AdoDatabaseTest, KeyIsDerivedOnceAndAWorkersConnectionSharesTheFile)
{
    CAdoDatabase db;
    MakeDatabase(db);
    const int derived = CAdoDatabase::KeyDerivations();
    ASSERT_TRUE(db.Execute("INSERT INTO T_MyFund_Focus(FundID) VALUES('000001')"));

    // A copy made before the file was chosen, as the engines hold theirs.
    CAdoDatabase early;
    CAdoDatabase copy = early;
    copy = db;
    CAdoDatabase worker;
    ASSERT_TRUE(worker.OpenAnother(copy)) << worker.GetLastError();
    EXPECT_EQ(worker.GetRecordCount("SELECT * FROM T_MyFund_Focus"), 1);
    ASSERT_TRUE(worker.Execute("INSERT INTO T_MyFund_Focus(FundID) VALUES('000002')"));
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM T_MyFund_Focus"), 2);
    CAdoDatabase again;
    again.SetDatabase(Path("Vextal.mdb"), 1);
    ASSERT_TRUE(again.Open()) << again.GetLastError();
    EXPECT_EQ(CAdoDatabase::KeyDerivations(), derived);
    worker.Close();
    again.Close();
    db.Close();

    // The file stays keyed as the engine keys it from the password.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(Path("Vextal.mdb").c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    const std::string password = CAdoDatabase::kDefaultPassword;
    sqlite3_key(raw, password.data(), static_cast<int>(password.size()));
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT COUNT(*) FROM T_MyFund_Focus", -1, &st, nullptr), SQLITE_OK)
        << sqlite3_errmsg(raw);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 2);
    sqlite3_finalize(st);
    sqlite3_close_v2(raw);
}

TEST_F(AdoDatabaseTest, DamagedFileIsReportedAtOpen)
{
    {
        CAdoDatabase db;
        MakeDatabase(db);
        CAdoTransaction t(db);
        for (int i = 0; i < 400; ++i)
            db.Execute(StrFormat("INSERT INTO T_Fund_Value(FundID,TodayValue,VarPercent,TotalValue,VarValue,ValueDate) "
                                 "VALUES('%06d',1,0,1,0,'2020-01-01 00:00:00')", i));
        t.Commit();
        db.Close();
    }
    // Overwrite a page in the middle of the file.
    std::fstream f(Path("Vextal.mdb"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(3 * 1024 + 100);
    std::string junk(600, '\x5a');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    f.close();
    CAdoDatabase db;
    db.SetDatabase(Path("Vextal.mdb"), 1);
    EXPECT_FALSE(db.Open());
    EXPECT_EQ(db.GetLastError().rfind("Open Database Error:", 0), 0u) << db.GetLastError();
}

TEST_F(AdoDatabaseTest, StatementsCountsAndScalarReads)
{
    CAdoDatabase db;
    MakeDatabase(db);
    int id = -1;
    EXPECT_TRUE(db.GetNextID("AccountID", "T_Account_Info", id));
    EXPECT_EQ(id, 1);
    OleDate created = OleDate::FromParts(2020, 5, 6, 7, 8, 9);
    for (int acc : {7, 41, 3}) {
        ASSERT_TRUE(db.InsertRecord("T_Account_Info", {{"AccountID", acc},
                                                       {"UserID", 12},
                                                       {"AccountName", StrFormat("acc%d", acc)},
                                                       {"TotalMoney", 100.25f},
                                                       {"CreateDate", created}}))
            << db.GetLastError();
    }
    EXPECT_TRUE(db.GetNextID("AccountID", "T_Account_Info", id));
    EXPECT_EQ(id, 42);
    // Values are stored as their literals read (the date literals of both
    // connection kinds: JetSqlTest): four decimals, dates to the minute.
    ASSERT_TRUE(db.UpdateRecord("T_Account_Info", {{"FreeMoney", 1.23456f}, {"CreateDate", OleDate::FromParts(2020, 5, 6, 7, 8, 59)}},
                                " WHERE AccountID=7 AND AccountName='acc7'"));
    double free = 0;
    ASSERT_TRUE(db.OpenRecordset("SELECT FreeMoney FROM T_Account_Info WHERE AccountID=7"));
    db.GetFieldValue("FreeMoney", free);
    EXPECT_DOUBLE_EQ(free, 1.2346);
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM T_Account_Info WHERE CreateDate=#2020-05-06 07:08:00#"), 3);
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM NoSuchTable"), 0);
    int n = -1;
    EXPECT_FALSE(db.QueryInt("SELECT MAX(AccountID) FROM T_Account_Info WHERE UserID=99", n));  // NULL
    EXPECT_EQ(n, 0);

    // Only one statement runs; anything after it is refused, not executed.
    EXPECT_FALSE(db.Execute("DELETE FROM T_Account_Info; DROP TABLE T_Account_Info"));
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM T_Account_Info"), 3);
    // Ordinals still order by column, also when the statement shape is reused.
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(db.OpenRecordset("SELECT AccountID, AccountName FROM T_Account_Info WHERE UserID=12 ORDER BY 2 DESC"));
        EXPECT_EQ(db.RecordsetToText(true), "7|acc7|41|acc41|3|acc3");
    }
    EXPECT_TRUE(db.Execute("DELETE * FROM T_Account_Info WHERE AccountID=3;"));
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM T_Account_Info"), 2);
}

TEST_F(AdoDatabaseTest, QuotesInTextsNeitherBreakNorChangeStatements)
{
    CAdoDatabase db;
    MakeDatabase(db);
    const std::string hostile = "O'Brien'); DELETE FROM T_Account_Info; --";
    ASSERT_TRUE(db.InsertRecord("T_Account_Info", {{"AccountID", 1},
                                                   {"UserID", 1},
                                                   {"AccountName", hostile},
                                                   {"CreateDate", OleDate::FromParts(2020, 1, 1)}}))
        << db.GetLastError();
    ASSERT_TRUE(db.UpdateRecord("T_Account_Info", {{"AccountName", hostile + "x"}},
                                " WHERE AccountName=" + SqlQuote(hostile)));
    ASSERT_TRUE(db.OpenRecordset("SELECT AccountName FROM T_Account_Info"));
    std::string name;
    ASSERT_TRUE(db.GetFieldValue("AccountName", name));
    EXPECT_EQ(name, hostile + "x");
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM T_Account_Info"), 1);
}

TEST_F(AdoDatabaseTest, TypedReadsFollowTheColumnKind)
{
    CAdoDatabase db;
    MakeDatabase(db);
    ASSERT_TRUE(db.Execute("INSERT INTO T_Fund_Trade(AccountID,FundID,BuyType,TotalCount,LastTrade) "
                           "VALUES(5,'000001',1,123.5,#2021-02-03 04:05:06#)"));
    ASSERT_TRUE(db.OpenRecordset("SELECT * FROM T_Fund_Trade"));
    std::string text = "unchanged";
    EXPECT_FALSE(db.GetFieldValue("TotalCount", text));  // numeric column
    EXPECT_FALSE(db.GetFieldValue("LastTrade", text));   // date column
    EXPECT_EQ(text, "unchanged");
    int i = -7;
    EXPECT_FALSE(db.GetFieldValue("TotalCount", i));  // float column
    EXPECT_FALSE(db.GetFieldValue("LastBonus", i));   // NULL
    EXPECT_EQ(i, -7);
    EXPECT_TRUE(db.GetFieldValue("accountid", i));  // names without regard to case
    EXPECT_EQ(i, 5);
    double dbl = 0;
    OleDate d(9);
    EXPECT_FALSE(db.GetFieldValue("FundID", d));
    EXPECT_EQ(d.dt, 9);
    EXPECT_TRUE(db.GetFieldValue("LastTrade", d));
    EXPECT_EQ(d.Format(0), "2021-02-03 04:05:06");
    db.MoveNext();
    EXPECT_FALSE(db.GetFieldValue("FundID", text));  // past the end

    // Expression columns take the kind of their value.
    ASSERT_TRUE(db.OpenRecordset("SELECT MIN(LastTrade) AS D, SUM(TotalCount) AS S, COUNT(*) AS C, 'x' AS T "
                                 "FROM T_Fund_Trade"));
    EXPECT_TRUE(db.GetFieldValue("D", d));
    EXPECT_TRUE(db.GetFieldValue("S", dbl));
    EXPECT_FALSE(db.GetFieldValue("S", i));
    EXPECT_TRUE(db.GetFieldValue("C", i));
    EXPECT_EQ(i, 1);
    EXPECT_TRUE(db.GetFieldValue("T", text));
    EXPECT_EQ(text, "x");
}

// (The text form of result sets travels in the bookkeeping upload: book tests.)
TEST_F(AdoDatabaseTest, IndependentResultSets)
{
    CAdoDatabase db;
    MakeDatabase(db);
    ASSERT_TRUE(db.Execute("CREATE TABLE R(n int, s TEXT(10))"));
    ASSERT_TRUE(db.Execute("INSERT INTO R VALUES(1,'a')"));
    ASSERT_TRUE(db.Execute("INSERT INTO R(n,s) VALUES(2,'c')"));
    // An independent result set survives queries on the current one, and a
    // copy of the object shares the connection and the current result set.
    RecordsetPtr outer = db.OpenRecordsetEx("SELECT n FROM R ORDER BY n");
    ASSERT_TRUE(outer);
    CAdoDatabase copy = db;
    int seen = 0;
    while (!db.IsEOF(outer)) {
        int n = 0;
        ASSERT_TRUE(db.GetFieldValue(outer, "n", n));
        ASSERT_TRUE(copy.OpenRecordset(StrFormat("SELECT s FROM R WHERE n=%d", n)));
        std::string s;
        EXPECT_TRUE(db.GetFieldValue("s", s));  // the copy's query is the original's current set
        seen += n;
        outer->MoveNext();
    }
    EXPECT_EQ(seen, 3);
    EXPECT_TRUE(db.IsRecordsetOpen(outer));
    EXPECT_FALSE(db.IsRecordsetOpen(nullptr));
    EXPECT_EQ(db.OpenRecordsetEx("SELECT * FROM Nowhere"), nullptr);
}

// Rows one at a time: the same values as a whole read, the same statement
// free to run again inside, a stop on request, and an engine failure after
// some rows reported as a failure.
TEST_F(AdoDatabaseTest, RowsOneAtATime)
{
    CAdoDatabase db;
    MakeDatabase(db);
    ASSERT_TRUE(db.Execute("CREATE TABLE R(n int, s TEXT(10), d DateTime)"));
    for (int n = 1; n <= 4; ++n)
        ASSERT_TRUE(db.Execute(StrFormat("INSERT INTO R VALUES(%d,'%c',#2021-02-0%d 04:05:06#)", n, 'a' + n, n)));
    const std::string sql = "SELECT * FROM R ORDER BY n";
    std::string seen;
    ASSERT_TRUE(db.ForEachRow(sql, [&](const RecordsetPtr& rs) {
        int n = 0;
        std::string s;
        OleDate d;
        EXPECT_TRUE(db.GetFieldValue(rs, "n", n) && db.GetFieldValue(rs, "s", s) && db.GetFieldValue(rs, "d", d));
        // The same statement, whole and row by row, inside the first.
        EXPECT_EQ(db.GetRecordCount(sql), 4);
        int inner = 0;
        EXPECT_TRUE(db.ForEachRow(sql, [&](const RecordsetPtr&) { return ++inner < 2; }));
        EXPECT_EQ(inner, 2);
        seen += StrFormat("%d%s%s;", n, s.c_str(), d.Format(0).c_str());
        return true;
    })) << db.GetLastError();
    EXPECT_EQ(seen, "1b2021-02-01 04:05:06;2c2021-02-02 04:05:06;3d2021-02-03 04:05:06;4e2021-02-04 04:05:06;");
    EXPECT_EQ(db.GetRecordCount(sql), 4);

    // The engine fails on the last row: what came before is no whole read.
    ASSERT_TRUE(db.Execute("INSERT INTO R(n,s,d) VALUES(-9223372036854775807-1,'z',#2021-03-01#)"));
    int rows = 0;
    EXPECT_FALSE(db.ForEachRow("SELECT abs(n) AS a FROM R", [&](const RecordsetPtr&) {
        ++rows;
        return true;
    }));
    EXPECT_EQ(rows, 4);
    EXPECT_NE(db.GetLastError().find("overflow"), std::string::npos) << db.GetLastError();
}

TEST_F(AdoDatabaseTest, TransactionsUndoEverythingOnFailureOrCrash)
{
    CAdoDatabase db;
    MakeDatabase(db);
    auto count = [&] { return db.GetRecordCount("SELECT * FROM T_MyFund_Focus"); };
    {
        CAdoTransaction outer(db);
        db.Execute("INSERT INTO T_MyFund_Focus VALUES('000001')");
        {
            CAdoTransaction inner(db);
            db.Execute("INSERT INTO T_MyFund_Focus VALUES('000002')");
            EXPECT_TRUE(inner.Commit());
        }
        EXPECT_EQ(count(), 2);
        // outer not committed
    }
    EXPECT_EQ(count(), 0);
    EXPECT_EQ(db.TransDepth(), 0);
    {
        CAdoTransaction outer(db);
        db.Execute("INSERT INTO T_MyFund_Focus VALUES('000003')");
        {
            CAdoTransaction inner(db);
            db.Execute("INSERT INTO T_MyFund_Focus VALUES('000004')");
        }  // inner rolled back alone
        EXPECT_TRUE(outer.Commit());
    }
    EXPECT_EQ(count(), 1);

    // A process that dies in the middle of an operation leaves nothing of it.
    db.Close();
    pid_t pid = fork();
    if (pid == 0) {
        CAdoDatabase child;
        child.SetDatabase(Path("Vextal.mdb"), 1);
        if (!child.Open()) _exit(2);
        child.BeginTrans();
        for (int i = 0; i < 50; ++i) child.Execute(StrFormat("INSERT INTO T_MyFund_Focus VALUES('%06d')", i));
        _exit(0);  // no commit, no close
    }
    int status = 0;
    ASSERT_TRUE(test::WaitChildFor(pid, status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    CAdoDatabase again;
    again.SetDatabase(Path("Vextal.mdb"), 1);
    ASSERT_TRUE(again.Open()) << again.GetLastError();
    EXPECT_EQ(again.GetRecordCount("SELECT * FROM T_MyFund_Focus"), 1);
}

// The import's preview books on a connection of its own while the window's
// connection may be writing: the later writer waits for the lock instead of
// failing at its first write, and a lock held past the wait is an error
// that stores nothing of the operation.
TEST_F(AdoDatabaseTest, TwoConnectionsTakeTurnsAtWriting)
{
    CAdoDatabase window;
    MakeDatabase(window);
    CAdoDatabase preview;
    ASSERT_TRUE(preview.OpenAnother(window)) << preview.GetLastError();
    auto count = [&] { return window.GetRecordCount("SELECT * FROM T_MyFund_Focus"); };

    std::promise<void> holding;
    std::thread writer([&] {
        CAdoTransaction trans(window);
        window.Execute("INSERT INTO T_MyFund_Focus VALUES('000001')");
        holding.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        trans.Commit();
    });
    holding.get_future().wait();
    // Read first, then write, as a booking does.
    bool began = false, inserted = false, committed = false;
    int seen = -1;
    {
        CAdoTransaction trans(preview);
        began = trans.IsActive();
        seen = preview.GetRecordCount("SELECT * FROM T_MyFund_Focus");
        inserted = preview.Execute("INSERT INTO T_MyFund_Focus VALUES('000002')");
        committed = trans.Commit();
    }
    writer.join();
    EXPECT_TRUE(began && inserted && committed) << preview.GetLastError();
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(count(), 2);

    // A lock that outlasts the wait: the begin fails and says so, and what
    // the operation tries regardless is refused, even once the lock is free.
    ASSERT_TRUE(window.BeginTrans());
    ASSERT_TRUE(window.Execute("INSERT INTO T_MyFund_Focus VALUES('000003')"));
    {
        CAdoTransaction refused(preview);
        EXPECT_FALSE(refused.IsActive());
        EXPECT_NE(preview.GetLastError().find("locked"), std::string::npos) << preview.GetLastError();
        ASSERT_TRUE(window.CommitTrans());
        EXPECT_FALSE(preview.Execute("INSERT INTO T_MyFund_Focus VALUES('000005')"));
        EXPECT_NE(preview.GetLastError().find("locked"), std::string::npos) << preview.GetLastError();
        EXPECT_FALSE(refused.Commit());
    }
    EXPECT_EQ(preview.TransDepth(), 0);
    {
        CAdoTransaction trans(preview);
        EXPECT_TRUE(preview.Execute("INSERT INTO T_MyFund_Focus VALUES('000004')")) << preview.GetLastError();
        EXPECT_TRUE(trans.Commit());
    }
    EXPECT_EQ(count(), 4);
}

// A result set run again after ALTER TABLE ... ADD on the same connection
// (the upgrade chain does this) lists the new column.
TEST_F(AdoDatabaseTest, CachedSelectSeesAnAddedColumn)
{
    CAdoDatabase db;
    MakeDatabase(db);
    ASSERT_TRUE(db.Execute("INSERT INTO T_MyFund_Focus VALUES('000001')"));
    ASSERT_TRUE(db.OpenRecordset("SELECT * FROM T_MyFund_Focus"));
    EXPECT_EQ(db.CurrentRecordset()->ColumnCount(), 1u);
    ASSERT_TRUE(db.Execute("ALTER TABLE T_MyFund_Focus ADD Note TEXT(8) NULL"));
    ASSERT_TRUE(db.Execute("UPDATE T_MyFund_Focus SET Note='x'"));
    ASSERT_TRUE(db.OpenRecordset("SELECT * FROM T_MyFund_Focus"));
    EXPECT_EQ(db.CurrentRecordset()->ColumnCount(), 2u);
    std::string note;
    EXPECT_TRUE(db.GetFieldValue("Note", note));
    EXPECT_EQ(note, "x");
}

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "DbTestUtil.h"

using namespace vextal;

namespace {

// Columns of a table in physical order.
std::vector<std::string> ColumnsOf(CAdoDatabase& db, const std::string& table)
{
    std::vector<std::string> cols;
    RecordsetPtr rs = db.OpenRecordsetEx("PRAGMA table_info(" + table + ")");
    while (rs && !rs->IsEOF()) {
        std::string name;
        db.GetFieldValue(rs, "name", name);
        cols.push_back(name);
        rs->MoveNext();
    }
    return cols;
}

std::string SchemaDump(CAdoDatabase& db)
{
    db.OpenRecordset("SELECT type, name, sql FROM sqlite_master ORDER BY name");
    std::string text = db.RecordsetToText(true);
    db.OpenRecordset("SELECT * FROM T_System_Info ORDER BY ItemName");
    return text + "\n" + db.RecordsetToText(true);
}

}  // namespace

class SchemaTest : public test::TempDirTest {
protected:
    // An old file: the base tables, then the chain up to `version` as that
    // release left it (or no T_System_Info at all without a version).
    void MakeOldFile(CAdoDatabase& db, const char* version)
    {
        MakeDatabase(db, "seed.mdb");
        db.Close();
        // Start again from a bare encrypted file holding only the base tables.
        std::filesystem::remove(Path("seed.mdb"));
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(Path("old.mdb").c_str(), &raw), SQLITE_OK);
        sqlite3_key(raw, CAdoDatabase::kDefaultPassword, 14);
        sqlite3_exec(raw, "CREATE TABLE T_Probe(x int); DROP TABLE T_Probe", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
        db = CAdoDatabase();
        db.SetDatabase(Path("old.mdb"), 1);
        ASSERT_TRUE(db.Open()) << db.GetLastError();
        ASSERT_TRUE(CreateBaseTables(db));
        if (version) {
            std::string error;
            ASSERT_TRUE(UpgradeDatabaseTo(db, version, &error)) << error;
            ASSERT_TRUE(SetSystemInfo(db, "DBVersion", version));
        }
    }
    bool HasTable(CAdoDatabase& db, const std::string& t)
    {
        return db.GetRecordCount("SELECT * FROM sqlite_master WHERE type='table' AND name='" + t + "'") == 1;
    }
    std::string Version(CAdoDatabase& db)
    {
        std::string v = "none";
        GetSystemInfo(db, "DBVersion", v);
        return v;
    }
};

TEST_F(SchemaTest, FileFromNothingHoldsEveryTableAtCurrentVersion)
{
    std::string error;
    ASSERT_TRUE(CreateDatabaseFile(Path("Vextal.mdb"), CAdoDatabase::kDefaultPassword, error)) << error;
    EXPECT_FALSE(CreateDatabaseFile(Path("Vextal.mdb"), CAdoDatabase::kDefaultPassword, error));  // never overwrites
    EXPECT_FALSE(std::filesystem::exists(Path("Vextal.mdb-wal")));

    CAdoDatabase db;
    db.SetDatabase(Path("Vextal.mdb"), 1);
    ASSERT_TRUE(db.Open()) << db.GetLastError();
    EXPECT_EQ(Version(db), "3.25");
    std::string stamp;
    EXPECT_TRUE(GetSystemInfo(db, "FundInfoVersion", stamp));
    EXPECT_EQ(stamp, "20070101");

    EXPECT_EQ(ColumnsOf(db, "T_Account_Info"), AccountInfoColumns());
    EXPECT_EQ(ColumnsOf(db, "T_Fund_Trade"), FundTradeColumns());
    EXPECT_EQ(ColumnsOf(db, "T_Trade_Info"), TradeInfoColumns());
    const std::map<std::string, std::vector<std::string>> expected = {
        {"T_System_Info", {"ItemName", "ItemValue"}},
        {"T_Fund_Company", {"CompanyID", "CompanyName", "CompanyURL", "CompanyType"}},
        {"T_Fund_Info", {"FundID", "CompanyID", "FundName", "FundShortName", "FundTypeID", "InvestTypeID", "BankID",
                         "FundURL", "CreateDate", "NewFundCount", "OldFundCount"}},
        {"T_Fund_Value", {"FundID", "TodayValue", "VarPercent", "TotalValue", "VarValue", "ValueDate", "TotalValue1"}},
        {"T_New_Fund_Value", {"FundID", "TodayValue", "VarPercent", "TotalValue", "VarValue", "WeekVarPercent",
                              "MonthVarPercent", "OneMonthVar", "TwoMonthVar", "ThreeMonthVar", "ValueDate",
                              "TotalValue1"}},
        {"T_Fund_Invest", {"FundID", "LastDate", "StockID", "InvestPercent"}},
        {"T_Fund_Bonus", {"FundID", "RecordDate", "BonusDate", "BonusValue", "SubtractDate"}},
        {"T_Index_Value", {"IndexID", "ValueDate", "IndexValue", "TradeMoney", "VarValue", "VarPercent"}},
        {"T_User_Info", {"UserID", "LoginName", "UserPwd"}},
        {"T_FundInfo_Map", {"FundID", "ValueDate", "BaseValue", "VarFlag", "SplitScale"}},
        {"T_User_Bonus", {"BonusID", "UserID", "AccountID", "FundID", "BuyType", "StartDate", "EndDate", "DateState",
                          "BonusType"}},
        {"T_User_Config", {"UserID", "ConfigType", "ConfigIndex", "ConfigValue"}},
        {"T_New_Income", {"FundID", "WeekIncome", "MonthIncome", "TwoMonthIncome", "ThreeMonthIncome",
                          "SixMonthIncome", "ThisYearIncome", "OneYearIncome", "LastYearIncome", "YearAvgIncome",
                          "TotalIncome", "IncomeSum22", "IncomeSum44", "LastCalcDate"}},
        {"T_MyFund_Focus", {"FundID"}},
        {"T_Fund_Estimate", {"FundID", "ValueDate", "Estimate", "Published", "EstimateTime", "Compared"}},
    };
    for (const auto& [table, cols] : expected) EXPECT_EQ(ColumnsOf(db, table), cols) << table;

    // Keys hold: a second NAV row for the same fund and day is refused.
    const char* nav = "INSERT INTO T_Fund_Value(FundID,TodayValue,VarPercent,TotalValue,VarValue,ValueDate) "
                      "VALUES('000001',1,0,1,0,#2024-01-02#)";
    EXPECT_TRUE(db.Execute(nav));
    EXPECT_FALSE(db.Execute(nav));
}

TEST_F(SchemaTest, UpgradeChainFollowsTheStoredVersionAsADecimal)
{
    EXPECT_EQ(PendingUpgradeSteps("3.11"),
              (std::vector<std::string>{"3.12", "3.13", "3.16", "3.19", "3.20", "3.23", "3.24", "3.25"}));
    EXPECT_EQ(PendingUpgradeSteps("3.2"), (std::vector<std::string>{"3.23", "3.24", "3.25"}));  // 3.20
    EXPECT_TRUE(PendingUpgradeSteps("3.3").empty());                                   // 3.30 > 3.25
    EXPECT_EQ(PendingUpgradeSteps("3.24"), (std::vector<std::string>{"3.25"}));
    EXPECT_TRUE(PendingUpgradeSteps("3.25").empty());
    EXPECT_TRUE(PendingUpgradeSteps("10.0").empty());  // a later release, not "1" < "3"

    CAdoDatabase none;
    MakeOldFile(none, nullptr);  // no T_System_Info at all
    EXPECT_TRUE(UpgradeDatabase(none));
    EXPECT_EQ(Version(none), "3.25");
    EXPECT_EQ(ColumnsOf(none, "T_Fund_Trade"), FundTradeColumns());
    EXPECT_TRUE(HasTable(none, "T_New_Income"));
    none.Close();
    auto reset = [&] {
        for (const char* f : {"old.mdb", "old.mdb.bak", "old.mdb-wal", "old.mdb-shm"}) std::filesystem::remove(Path(f));
    };
    reset();

    CAdoDatabase v312;
    MakeOldFile(v312, "3.12");
    ASSERT_TRUE(SetSystemInfo(v312, "FundCorVersion", "20240101"));
    EXPECT_TRUE(UpgradeDatabase(v312));
    EXPECT_EQ(Version(v312), "3.25");
    EXPECT_TRUE(HasTable(v312, "T_Fund_Bonus"));  // 3.13 ran
    std::string stamp;
    GetSystemInfo(v312, "FundCorVersion", stamp);
    EXPECT_EQ(stamp, "20240101");  // 3.12 did not
    EXPECT_EQ(ColumnsOf(v312, "T_Fund_Trade"), FundTradeColumns());
    v312.Close();
    reset();

    CAdoDatabase v33;
    MakeOldFile(v33, "3.3");
    std::string before = SchemaDump(v33);
    EXPECT_TRUE(UpgradeDatabase(v33));
    EXPECT_EQ(SchemaDump(v33), before);
    EXPECT_FALSE(std::filesystem::exists(Path("old.mdb.bak")));  // nothing ran, nothing copied
}

TEST_F(SchemaTest, AFailedStepKeepsItsVersionAndTheBackup)
{
    CAdoDatabase db;
    MakeOldFile(db, "3.16");
    // A column that an interrupted run of an older program already added.
    ASSERT_TRUE(db.Execute("ALTER TABLE T_Fund_Trade ADD CashBonusNew float DEFAULT 0"));
    // The disk is full: the file cannot grow by a single page.
    int pages = 0;
    ASSERT_TRUE(db.QueryInt("PRAGMA page_count", pages));
    ASSERT_TRUE(db.Execute(StrFormat("PRAGMA max_page_count=%d", pages)));
    std::string error;
    EXPECT_FALSE(UpgradeDatabase(db, &error));
    EXPECT_NE(error.find("full"), std::string::npos) << error;
    EXPECT_EQ(Version(db), "3.16");
    EXPECT_FALSE(HasTable(db, "T_User_Bonus"));
    auto cols = ColumnsOf(db, "T_Fund_Trade");
    EXPECT_EQ(std::count(cols.begin(), cols.end(), "SaleFeeMoney"), 0);  // the step is undone whole
    EXPECT_TRUE(std::filesystem::exists(Path("old.mdb.bak")));

    // With room again the next start completes the chain; the column already there counts as done.
    ASSERT_TRUE(db.Execute("PRAGMA max_page_count=1073741823"));
    EXPECT_TRUE(UpgradeDatabase(db, &error)) << error;
    EXPECT_EQ(Version(db), "3.25");
    EXPECT_EQ(ColumnsOf(db, "T_Fund_Trade"), FundTradeColumns());
}

TEST_F(SchemaTest, UpgradeKeepsABackupAndASecondRunChangesNothing)
{
    CAdoDatabase db;
    MakeOldFile(db, "3.13");
    ASSERT_TRUE(db.Execute("INSERT INTO T_Trade_Info(TradeID,AccountID,FundID,TradeTime) VALUES(1,2,'000001',#2020-01-01#)"));
    EXPECT_TRUE(UpgradeDatabase(db));
    EXPECT_EQ(Version(db), "3.25");
    std::string after = SchemaDump(db);
    UpgradeDatabase(db);
    EXPECT_EQ(SchemaDump(db), after);

    // The copy is the file as it was before the chain: version 3.13, data intact.
    ASSERT_TRUE(std::filesystem::exists(Path("old.mdb.bak")));
    CAdoDatabase bak;
    bak.SetDatabase(Path("old.mdb.bak"), 1);
    ASSERT_TRUE(bak.Open()) << bak.GetLastError();
    EXPECT_EQ(Version(bak), "3.13");
    EXPECT_EQ(bak.GetRecordCount("SELECT * FROM T_Trade_Info"), 1);
    EXPECT_FALSE(HasTable(bak, "T_User_Bonus"));
}

TEST_F(SchemaTest, SystemInfoInsertsOnceThenUpdates)
{
    CAdoDatabase db;
    MakeDatabase(db);
    std::string v = "untouched";
    EXPECT_FALSE(GetSystemInfo(db, "NewFundValueNO", v));
    EXPECT_EQ(v, "untouched");
    EXPECT_TRUE(SetSystemInfo(db, "NewFundValueNO", "7"));
    EXPECT_TRUE(SetSystemInfo(db, "NewFundValueNO", "it's 8"));
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM T_System_Info WHERE ItemName='NewFundValueNO'"), 1);
    EXPECT_TRUE(GetSystemInfo(db, "NewFundValueNO", v));
    EXPECT_EQ(v, "it's 8");
}

#include "db/Schema.h"

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "common/Format.h"
#include "common/Version.h"

namespace vextal {

namespace fs = std::filesystem;

const std::vector<std::string>& AccountInfoColumns()
{
    static const std::vector<std::string> cols = {"AccountID", "UserID",    "AccountName", "AccountType",
                                                  "TotalMoney", "FreeMoney", "FundCount",   "CreateDate"};
    return cols;
}

const std::vector<std::string>& FundTradeColumns()
{
    static const std::vector<std::string> cols = {
        "AccountID", "FundID",   "BuyType",    "TotalCount", "FreeCount", "TradeValue",   "BonusType",
        "CashBonus", "TotalBonus", "LastBonus", "LastTrade", "SaleFee",   "CashBonusNew", "SaleFeeMoney"};
    return cols;
}

const std::vector<std::string>& TradeInfoColumns()
{
    static const std::vector<std::string> cols = {
        "TradeID",   "AccountID", "FundID",     "TradeMoney", "TradeCount", "TradeFee", "TradeType", "TradeTime",
        "DealTime",  "TradeState", "BuyType",   "TradeValue", "Remark",     "MarkInfo", "CostValue"};
    return cols;
}

namespace {

// Base tables of a new file. Their columns up to the first upgrade-added one
// follow the order above; the chain appends the rest.
const char* const kBaseTables[] = {
    "CREATE TABLE T_Account_Info(AccountID int NOT NULL,UserID int NOT NULL,AccountName TEXT(64) NOT NULL,"
    "AccountType int NOT NULL DEFAULT 0,TotalMoney float NOT NULL DEFAULT 0,FreeMoney float NOT NULL DEFAULT 0,"
    "FundCount int NOT NULL DEFAULT 0,CreateDate DateTime NOT NULL)",
    "ALTER TABLE T_Account_Info ADD PRIMARY KEY([AccountID])",
    "CREATE TABLE T_Fund_Trade(AccountID int NOT NULL,FundID TEXT(6) NOT NULL,BuyType int NOT NULL DEFAULT 0,"
    "TotalCount float NOT NULL DEFAULT 0,FreeCount float NOT NULL DEFAULT 0,TradeValue float NOT NULL DEFAULT 0,"
    "BonusType int NOT NULL DEFAULT 0,CashBonus float NOT NULL DEFAULT 0,TotalBonus float NOT NULL DEFAULT 0,"
    "LastBonus DateTime NULL,LastTrade DateTime NULL)",
    "ALTER TABLE T_Fund_Trade ADD PRIMARY KEY([AccountID],[FundID],[BuyType])",
    "CREATE TABLE T_Trade_Info(TradeID int NOT NULL,AccountID int NOT NULL,FundID TEXT(6) NOT NULL,"
    "TradeMoney float NOT NULL DEFAULT 0,TradeCount float NOT NULL DEFAULT 0,TradeFee float NOT NULL DEFAULT 0,"
    "TradeType int NOT NULL DEFAULT 0,TradeTime DateTime NOT NULL,DealTime DateTime NULL,"
    "TradeState int NOT NULL DEFAULT 0,BuyType int NOT NULL DEFAULT 0,TradeValue float NOT NULL DEFAULT 0,"
    "Remark TEXT(255) NULL)",
    "ALTER TABLE T_Trade_Info ADD PRIMARY KEY([TradeID])",
    // Lookups of a holding's or an account's trades.
    "CREATE INDEX IX_Trade_Info_Account ON T_Trade_Info(AccountID,FundID,BuyType)",
    "CREATE TABLE T_MyFund_Focus(FundID TEXT(6) NOT NULL)",
};

const char* const kStep312[] = {
    "CREATE TABLE T_System_Info(ItemName TEXT(16) NOT NULL,ItemValue TEXT(255) NOT NULL)",
    "ALTER TABLE T_Fund_Trade ADD COLUMN SaleFee float DEFAULT 0",
    "CREATE TABLE T_Fund_Company(CompanyID TEXT(4) NOT NULL,CompanyName TEXT(64) NOT NULL,"
    "CompanyURL TEXT(128) NOT NULL,CompanyType TEXT(8) NOT NULL)",
    "CREATE TABLE T_Fund_Info(FundID TEXT(6) NOT NULL,CompanyID TEXT(4) NOT NULL,FundName TEXT(32) NOT NULL,"
    "FundShortName TEXT(16) NOT NULL,FundTypeID int NOT NULL,InvestTypeID int NOT NULL,BankID int NOT NULL,"
    "FundURL TEXT(255) NOT NULL,CreateDate DateTime NOT NULL)",
    "CREATE TABLE T_Fund_Value(FundID TEXT(6) NOT NULL,TodayValue float NOT NULL,VarPercent float NOT NULL,"
    "TotalValue float NOT NULL,VarValue float NOT NULL,ValueDate DateTime NOT NULL)",
    "CREATE TABLE T_New_Fund_Value(FundID TEXT(6) NOT NULL,TodayValue float NOT NULL,VarPercent float NOT NULL,"
    "TotalValue float NOT NULL,VarValue float NOT NULL,WeekVarPercent float NOT NULL,MonthVarPercent float NOT NULL,"
    "OneMonthVar float NOT NULL,TwoMonthVar float NOT NULL,ThreeMonthVar float NOT NULL,ValueDate DateTime NOT NULL)",
    "CREATE TABLE T_Fund_Invest(FundID TEXT(6) NOT NULL,LastDate DateTime NOT NULL,StockID TEXT(6) NOT NULL,"
    "InvestPercent float NOT NULL)",
};

const char* const kStep313[] = {
    "CREATE TABLE T_Fund_Bonus(FundID TEXT(6) NOT NULL,RecordDate DateTime NOT NULL,BonusDate DateTime NOT NULL,"
    "BonusValue float NOT NULL)",
    "CREATE TABLE T_Index_Value(IndexID TEXT(6) NOT NULL,ValueDate DateTime NOT NULL,IndexValue float NOT NULL,"
    "TradeMoney float NULL,VarValue float NOT NULL,VarPercent float NOT NULL)",
    "CREATE TABLE T_User_Info(UserID int NOT NULL,LoginName TEXT(16) NOT NULL,UserPwd TEXT(32) NULL)",
    "CREATE TABLE T_FundInfo_Map(FundID TEXT(6) NOT NULL,ValueDate DateTime NOT NULL,BaseValue float NOT NULL,"
    "VarFlag float NOT NULL,SplitScale number NOT NULL DEFAULT 0)",
    "ALTER TABLE T_Fund_Value ADD PRIMARY KEY([ValueDate],[FundID])",
    "ALTER TABLE T_New_Fund_Value ADD PRIMARY KEY([FundID])",
    "ALTER TABLE T_Fund_Invest ADD PRIMARY KEY([FundID],[LastDate],[StockID])",
    "ALTER TABLE T_Fund_Info ADD PRIMARY KEY([FundID])",
    "ALTER TABLE T_Index_Value ADD PRIMARY KEY([IndexID], [ValueDate])",
    "ALTER TABLE T_User_Info ADD PRIMARY KEY([LoginName])",
    "ALTER TABLE T_FundInfo_Map ADD PRIMARY KEY([FundID], [ValueDate])",
};

const char* const kStep316[] = {
    "ALTER TABLE T_Trade_Info ADD MarkInfo TEXT(128) NULL",
    "ALTER TABLE T_Trade_Info ADD CostValue float NULL",
    "ALTER TABLE T_Fund_Bonus ADD SubtractDate DateTime NULL",
};

const char* const kStep319[] = {
    "ALTER TABLE T_Fund_Trade ADD CashBonusNew float DEFAULT 0",
    "ALTER TABLE T_Fund_Trade ADD SaleFeeMoney float DEFAULT 0",
    "CREATE TABLE T_User_Bonus(BonusID int NOT NULL,UserID int NOT NULL,AccountID int NOT NULL,"
    "FundID TEXT(6) NOT NULL,BuyType int NOT NULL,StartDate DateTime NOT NULL,EndDate DateTime NOT NULL,"
    "DateState int NOT NULL,BonusType int NOT NULL)",
    "ALTER TABLE T_User_Bonus ADD PRIMARY KEY([BonusID])",
};

const char* const kStep320[] = {
    "CREATE TABLE T_User_Config(UserID int NOT NULL,ConfigType int NOT NULL,ConfigIndex int NOT NULL,"
    "ConfigValue TEXT NOT NULL)",
    "ALTER TABLE T_User_Config ADD PRIMARY KEY([UserID],[ConfigType],[ConfigIndex])",
    "ALTER TABLE T_New_Fund_Value ADD COLUMN TotalValue1 float NULL",
    "ALTER TABLE T_Fund_Value ADD COLUMN TotalValue1 float NULL",
    "CREATE TABLE T_New_Income(FundID TEXT(6) NOT NULL,WeekIncome float NOT NULL,MonthIncome float NOT NULL,"
    "TwoMonthIncome float NOT NULL,ThreeMonthIncome float NOT NULL,SixMonthIncome float NOT NULL,"
    "ThisYearIncome float NOT NULL,OneYearIncome float NOT NULL,LastYearIncome float NOT NULL,"
    "YearAvgIncome float NOT NULL,TotalIncome float NOT NULL,IncomeSum22 int NOT NULL,IncomeSum44 int NOT NULL,"
    "LastCalcDate DateTime NOT NULL)",
    "ALTER TABLE T_New_Income ADD PRIMARY KEY([FundID])",
};

const char* const kStep323[] = {
    "ALTER TABLE T_Fund_Info ADD COLUMN NewFundCount float NULL",
    "ALTER TABLE T_Fund_Info ADD COLUMN OldFundCount float NULL",
};

// The history of the real-time estimate against the published growth, per fund and day.
const char* const kStep324[] = {
    "CREATE TABLE T_Fund_Estimate(FundID TEXT(6) NOT NULL,ValueDate DateTime NOT NULL,"
    "Estimate float NOT NULL,Published float NOT NULL)",
    "ALTER TABLE T_Fund_Estimate ADD PRIMARY KEY([FundID],[ValueDate])",
};

// The intraday estimate waits for its day's NAV (Compared 0) before it is
// compared; rows of the earlier rule were compared when stored.
const char* const kStep325[] = {
    "ALTER TABLE T_Fund_Estimate ADD COLUMN EstimateTime DateTime NULL",
    "ALTER TABLE T_Fund_Estimate ADD COLUMN Compared int NOT NULL DEFAULT 1",
};

struct UpgradeStep {
    const char* version;   // written to DBVersion
    const char* threshold;
    bool inclusive;        // run when stored <= threshold (else stored < threshold)
    const char* const* statements;
    size_t count;
};

template <size_t N>
constexpr UpgradeStep Step(const char* version, const char* threshold, bool inclusive, const char* const (&s)[N])
{
    return {version, threshold, inclusive, s, N};
}

const UpgradeStep kChain[] = {
    Step("3.12", "3.12", false, kStep312), Step("3.13", "3.12", true, kStep313),
    Step("3.16", "3.13", true, kStep316),  Step("3.19", "3.16", true, kStep319),
    Step("3.20", "3.19", true, kStep320),  Step("3.23", "3.20", true, kStep323),
    Step("3.24", "3.23", true, kStep324),  Step("3.25", "3.24", true, kStep325),
};

bool StepRuns(const UpgradeStep& step, const std::string& stored)
{
    // Decimal versions: "3.3" is 3.30, later than "3.23"; "10.0" later than "9.9".
    int c = CompareVersions(stored, step.threshold);
    return step.inclusive ? c <= 0 : c < 0;
}

// Keeps the file as it was before the chain touches it. The WAL is folded
// into the main file first, so a byte copy is the whole database. False when
// the copy could not be made: then the file must not be changed.
bool BackupBeforeUpgrade(CAdoDatabase& db, std::string& error)
{
    const std::string& path = db.GetFilePath();
    if (path.empty() || !db.Handle()) return true;
    sqlite3_wal_checkpoint_v2(db.Handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    std::error_code ec;
    std::string tmp = path + ".bak.tmp";
    fs::copy_file(path, tmp, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(tmp, path + ".bak", ec);
    if (!ec) return true;
    error = "cannot keep a copy of the file as " + path + ".bak: " + ec.message();
    fs::remove(tmp, ec);
    return false;
}

// A statement whose work an earlier run already did (the program once ran
// steps without a transaction, so an interrupted step left some of its
// columns and tables behind): the column, table or index is there.
bool AlreadyDone(const std::string& error)
{
    return error.find("duplicate column name") != std::string::npos ||
           error.find("already exists") != std::string::npos;
}

// One step in one transaction: all its statements and its version items, or
// nothing. False with `error` when a statement failed for any other reason.
bool RunStep(CAdoDatabase& db, const UpgradeStep& step, std::string& error)
{
    CAdoTransaction trans(db);
    if (!trans.IsActive()) {
        error = db.GetLastError();
        return false;
    }
    for (size_t i = 0; i < step.count; ++i) {
        if (db.Execute(step.statements[i]) || AlreadyDone(db.GetLastError())) continue;
        error = db.GetLastError();
        return false;
    }
    bool ok = SetSystemInfo(db, "DBVersion", step.version);
    if (ok && std::strcmp(step.version, "3.12") == 0)
        ok = SetSystemInfo(db, "FundCorVersion", "20070101") && SetSystemInfo(db, "FundInfoVersion", "20070101");
    if (ok) ok = trans.Commit();
    if (!ok) error = db.GetLastError();
    return ok;
}

bool RunChain(CAdoDatabase& db, bool keepBackup, std::string& error, const char* lastStep = nullptr)
{
    std::string version = "3.11";
    GetSystemInfo(db, "DBVersion", version);
    bool backedUp = !keepBackup;
    for (const UpgradeStep& step : kChain) {
        if (lastStep && CompareVersions(step.version, lastStep) > 0) break;
        if (!StepRuns(step, version)) continue;
        std::string why;
        if (!backedUp) {
            if (!BackupBeforeUpgrade(db, why)) {
                error = "Upgrade Database Error:" + why;
                return false;
            }
            backedUp = true;
        }
        if (!RunStep(db, step, why)) {
            std::string stored = "3.11";
            GetSystemInfo(db, "DBVersion", stored);
            error = "Upgrade Database Error:" + why + " (version " + stored + " to " + step.version + ")";
            if (keepBackup && !db.GetFilePath().empty())
                error += "; the file before the upgrade is kept as " + db.GetFilePath() + ".bak";
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> PendingUpgradeSteps(const std::string& storedVersion)
{
    std::vector<std::string> steps;
    for (const UpgradeStep& step : kChain)
        if (StepRuns(step, storedVersion)) steps.emplace_back(step.version);
    return steps;
}

bool GetSystemInfo(CAdoDatabase db, const std::string& item, std::string& value)
{
    bool found = false;
    if (db.OpenRecordset("SELECT ItemValue FROM T_System_Info WHERE ItemName='" + SqlEscape(item) + "'") &&
        db.HasRecord())
        found = db.GetFieldValue("ItemValue", value);
    db.CloseRecordset();
    return found;
}

bool SetSystemInfo(CAdoDatabase db, const std::string& item, const std::string& value)
{
    std::string name = SqlEscape(item), text = SqlEscape(value);
    if (db.GetRecordCount("SELECT * FROM T_System_Info WHERE ItemName='" + name + "'") == 0)
        return db.Execute("INSERT INTO T_System_Info(ItemName,ItemValue) VALUES('" + name + "', '" + text + "')");
    return db.Execute("UPDATE T_System_Info SET ItemValue='" + text + "' WHERE ItemName='" + name + "'");
}

bool UpgradeDatabaseTo(CAdoDatabase db, const std::string& lastStep, std::string* error)
{
    std::string why;
    bool ok = RunChain(db, false, why, lastStep.c_str());
    if (!ok && error) *error = why;
    return ok;
}

bool UpgradeDatabase(CAdoDatabase db, std::string* error)
{
    std::string why;
    bool ok = RunChain(db, true, why);
    if (!ok && error) *error = why;
    return ok;
}

bool CreateBaseTables(CAdoDatabase& db)
{
    CAdoTransaction trans(db);
    for (const char* sql : kBaseTables)
        if (!db.Execute(sql)) return false;
    return trans.Commit();
}

bool CreateDatabaseFile(const std::string& path, const std::string& password, std::string& error)
{
    std::error_code ec;
    if (fs::exists(path, ec)) {
        error = "The file '" + path + "' already exists.";
        return false;
    }
    // Built under a temporary name and renamed into place when complete.
    std::string tmp = path + StrFormat(".new%d", static_cast<int>(getpid()));
    fs::remove(tmp, ec);
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(tmp.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        error = raw ? sqlite3_errmsg(raw) : "out of memory";
        sqlite3_close_v2(raw);
        return false;
    }
    if (!password.empty()) sqlite3_key(raw, password.data(), static_cast<int>(password.size()));
    // DELETE journal while building, so the finished file stands alone.
    int rc = sqlite3_exec(raw, "PRAGMA journal_mode=DELETE; CREATE TABLE T_Probe(x int); DROP TABLE T_Probe",
                          nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) error = sqlite3_errmsg(raw);
    sqlite3_close_v2(raw);
    if (rc != SQLITE_OK) {
        fs::remove(tmp, ec);
        return false;
    }

    bool ok = false;
    {
        CAdoDatabase db;
        db.SetLogin("", password);
        db.SetDatabase(tmp, 1);
        if (db.Open()) {
            std::string why;
            ok = CreateBaseTables(db);
            if (!ok) why = db.GetLastError();
            ok = ok && RunChain(db, false, why);
            std::string version;
            if (ok && !(GetSystemInfo(db, "DBVersion", version) && version == kCurrentDBVersion)) {
                ok = false;
                why = db.GetLastError();
            }
            if (!ok) error = why;
            // Fold the WAL in so the renamed file holds everything.
            sqlite3_wal_checkpoint_v2(db.Handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
            db.Execute("PRAGMA journal_mode=DELETE");
            db.Close();
        } else {
            error = db.GetLastError();
        }
    }
    if (ok) {
        fs::rename(tmp, path, ec);
        if (ec) {
            error = ec.message();
            ok = false;
        }
    }
    if (!ok) {
        fs::remove(tmp, ec);
        fs::remove(tmp + "-wal", ec);
        fs::remove(tmp + "-shm", ec);
    }
    return ok;
}

}  // namespace vextal

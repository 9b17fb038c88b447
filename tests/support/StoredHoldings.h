#pragma once
// A program home's database read back by a process test once the program
// has ended (or was killed): its integrity, and its holdings as text.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "common/Format.h"
#include "db/AdoDatabase.h"

namespace vextal::test {

// Opens the database with the program's key; true when the integrity check says "ok".
inline bool OpenChecked(CAdoDatabase& db, const std::string& path)
{
    db.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
    db.SetDatabase(path, 0);
    EXPECT_TRUE(db.Open()) << db.GetLastError();
    std::string check;
    EXPECT_TRUE(db.IsOpen() && db.OpenRecordset("PRAGMA integrity_check"));
    db.GetFieldValue("integrity_check", check);
    EXPECT_EQ(check, "ok");
    return check == "ok";
}

// The lines of `text` that start with "H ", sorted.
inline std::string HoldingLinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("H ", 0) == 0) lines.push_back(line + "\n");
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& line : lines) out += line;
    return out;
}

// "H account fund buyType count bonus cash" per stored holding, sorted.
inline std::string HoldingLines(CAdoDatabase& db)
{
    std::string text;
    RecordsetPtr rs = db.OpenRecordsetEx("SELECT AccountID,FundID,BuyType,TotalCount,TotalBonus,CashBonus FROM T_Fund_Trade");
    EXPECT_TRUE(rs);
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        int account = 0, buyType = 0;
        std::string fund;
        double count = 0, bonus = 0, cash = 0;
        db.GetFieldValue(rs, "AccountID", account);
        db.GetFieldValue(rs, "FundID", fund);
        db.GetFieldValue(rs, "BuyType", buyType);
        db.GetFieldValue(rs, "TotalCount", count);
        db.GetFieldValue(rs, "TotalBonus", bonus);
        db.GetFieldValue(rs, "CashBonus", cash);
        text += StrFormat("H %d %s %d %0.2f %0.2f %0.2f\n", account, fund.c_str(), buyType, count, bonus, cash);
    }
    return HoldingLinesOf(text);
}

}  // namespace vextal::test

#include "market/ReturnStatistics.h"

namespace vextal {

bool SaveReturnStatistics(CAdoDatabase& db, const CNewFundValue& v, std::optional<bool> rowExists)
{
    std::string id = SqlEscape(v.FundID);
    bool exists = rowExists ? *rowExists : db.GetRecordCount("SELECT FundID FROM T_New_Income WHERE FundID='" + id + "'") > 0;
    FieldValueList fields = {{"FundID", v.FundID},
                             {"WeekIncome", v.WeekIncome},
                             {"MonthIncome", v.MonthIncome},
                             {"TwoMonthIncome", v.TwoMonthIncome},
                             {"ThreeMonthIncome", v.ThreeMonthIncome},
                             {"SixMonthIncome", v.SixMonthIncome},
                             {"OneYearIncome", v.OneYearIncome},
                             {"ThisYearIncome", v.ThisYearIncome},
                             {"YearAvgIncome", v.YearAvgIncome},
                             {"TotalIncome", v.TotalIncome},
                             {"LastYearIncome", 0},
                             {"IncomeSum22", v.IncomeSum22},
                             {"IncomeSum44", v.IncomeSum44},
                             {"LastCalcDate", v.ValueDate}};
    return exists ? db.UpdateRecord("T_New_Income", fields, " WHERE FundID='" + id + "'")
                  : db.InsertRecord("T_New_Income", fields);
}

bool LoadReturnStatistics(CAdoDatabase& db, std::map<std::string, CNewFundValue>& values)
{
    RecordsetPtr rs = db.OpenRecordsetEx("SELECT * FROM T_New_Income ORDER BY FundID");
    if (!rs) return false;
    for (; !rs->IsEOF(); rs->MoveNext()) {
        std::string id;
        db.GetFieldValue(rs, "FundID", id);
        auto it = values.find(id);
        if (it == values.end()) continue;
        CNewFundValue& v = it->second;
        db.GetFieldValue(rs, "WeekIncome", v.WeekIncome);
        db.GetFieldValue(rs, "MonthIncome", v.MonthIncome);
        db.GetFieldValue(rs, "TwoMonthIncome", v.TwoMonthIncome);
        db.GetFieldValue(rs, "ThreeMonthIncome", v.ThreeMonthIncome);
        db.GetFieldValue(rs, "SixMonthIncome", v.SixMonthIncome);
        db.GetFieldValue(rs, "OneYearIncome", v.OneYearIncome);
        db.GetFieldValue(rs, "ThisYearIncome", v.ThisYearIncome);
        db.GetFieldValue(rs, "YearAvgIncome", v.YearAvgIncome);
        db.GetFieldValue(rs, "TotalIncome", v.TotalIncome);
        db.GetFieldValue(rs, "IncomeSum22", v.IncomeSum22);
        db.GetFieldValue(rs, "IncomeSum44", v.IncomeSum44);
    }
    return true;
}

bool CleanUpLatestValues(CAdoDatabase& db)
{
    CAdoTransaction trans(db);
    bool ok = db.Execute("DELETE FROM T_New_Fund_Value WHERE FundID NOT IN(SELECT FundID FROM T_Fund_Info)") &&
              db.Execute("DELETE FROM T_New_Income WHERE FundID NOT IN(SELECT FundID FROM T_Fund_Info)");
    return ok && trans.Commit();
}

}  // namespace vextal

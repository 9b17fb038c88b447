#include "wire/ValueRecords.h"

#include <cctype>
#include <climits>

#include "common/Format.h"
#include "net/Cipher.h"

namespace vextal {

namespace {

std::string Fixed(double v, int places) { return FormatFixed(v, places); }

bool ReadWireInt(const std::string& field, int& value)
{
    const std::string text = TrimText(field);
    if (text.empty()) {
        value = 0;
        return true;
    }
    std::optional<long long> v = ParseInteger(text);
    if (!v || *v < INT_MIN || *v > INT_MAX) return false;
    value = static_cast<int>(*v);
    return true;
}

}  // namespace

bool IsFundCode(const std::string& id)
{
    if (id.empty() || id.size() > 6) return false;
    for (char c : id)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

bool ReadWireFloat(const std::string& field, double& value)
{
    const std::string text = TrimText(field);
    if (text.empty()) {
        value = 0;
        return true;
    }
    std::optional<double> v = ParseNumber(text);
    if (!v) return false;
    value = *v;
    return true;
}

bool ReadWireDate(const std::string& field, OleDate& value)
{
    OleDate d;
    if (!OleDate::Parse(TrimText(field), d) || !d.IsValid()) return false;
    value = d;
    return true;
}

void WriteNavFigures(std::vector<std::string>& out, const CFundValue& v, bool moneyMarket)
{
    out.push_back(Fixed(v.TodayValue, 4));
    out.push_back(Fixed(v.TotalValue, 4));
    out.push_back(Fixed(v.VarPercent, moneyMarket ? 3 : 2));
    out.push_back(Fixed(v.VarValue, 4));
}

bool ReadNavFigures(const std::vector<std::string>& f, size_t at, CFundValue& v)
{
    return at + 4 <= f.size() && ReadWireFloat(f[at], v.TodayValue) && ReadWireFloat(f[at + 1], v.TotalValue) &&
           ReadWireFloat(f[at + 2], v.VarPercent) && ReadWireFloat(f[at + 3], v.VarValue);
}

void WriteHistoryRecord(std::vector<std::string>& out, const CFundValue& v, bool moneyMarket)
{
    out.push_back(v.ValueDate.Format(3));
    WriteNavFigures(out, v, moneyMarket);
}

bool ReadHistoryRecords(const std::vector<std::string>& f, const std::string& fundId, std::vector<CFundValue>& out)
{
    out.clear();
    if (f.size() % 5) return false;
    out.reserve(f.size() / 5);
    for (size_t i = 0; i < f.size(); i += 5) {
        CFundValue v;
        v.FundID = fundId;
        if (!ReadWireDate(f[i], v.ValueDate) || !ReadNavFigures(f, i + 1, v)) return out.clear(), false;
        out.push_back(std::move(v));
    }
    return true;
}

void WriteLatestNav(std::vector<std::string>& out, const CFundValue& v, bool moneyMarket, bool withTime)
{
    WriteNavFigures(out, v, moneyMarket);
    out.push_back(v.ValueDate.Format(withTime ? 0 : 3));
}

bool ReadLatestNav(const std::vector<std::string>& f, size_t at, CFundValue& v)
{
    return at + 5 <= f.size() && ReadNavFigures(f, at, v) && ReadWireDate(f[at + 4], v.ValueDate);
}

void WriteCachedValue(std::vector<std::string>& out, const CFundValue& v, bool moneyMarket)
{
    WriteLatestNav(out, v, moneyMarket);
    out.push_back(v.FundID);
}

bool ReadCachedValues(const std::vector<std::string>& f, std::vector<CFundValue>& out)
{
    out.clear();
    if (f.size() % 6) return false;
    for (size_t i = 0; i < f.size(); i += 6) {
        CFundValue v;
        v.FundID = TrimText(f[i + 5]);
        if (v.FundID.empty() || !ReadLatestNav(f, i, v)) return out.clear(), false;
        out.push_back(std::move(v));
    }
    return true;
}

std::string EncipherFundCode(const std::string& fundId) { return EncryptText(fundId, kCipherKey); }

void WriteLatestValueRecord(std::vector<std::string>& out, const CNewFundValue& v, const std::string& cipheredCode,
                            bool moneyMarket)
{
    out.push_back(v.ValueDate.Format(3));
    out.push_back(cipheredCode);
    WriteNavFigures(out, v, moneyMarket);
    for (double x : {v.WeekVarPercent, v.MonthVarPercent, v.WeekIncome, v.MonthIncome, v.TwoMonthIncome,
                     v.ThreeMonthIncome, v.SixMonthIncome, v.OneYearIncome, v.ThisYearIncome, v.YearAvgIncome,
                     v.TotalIncome})
        out.push_back(Fixed(x, 2));
    out.push_back(std::to_string(v.IncomeSum22));
    out.push_back(std::to_string(v.IncomeSum44));
    out.push_back(Fixed(v.TotalValue1, 4));
}

bool ReadLatestValueRecord(const std::vector<std::string>& f, size_t i, CNewFundValue& v)
{
    if (i + kLatestValueFields > f.size()) return false;
    v.FundID = TrimText(DecryptText(f[i + 1], kCipherKey));
    if (!IsFundCode(v.FundID)) return false;
    double* figures[] = {&v.WeekVarPercent, &v.MonthVarPercent, &v.WeekIncome,     &v.MonthIncome,
                         &v.TwoMonthIncome, &v.ThreeMonthIncome, &v.SixMonthIncome, &v.OneYearIncome,
                         &v.ThisYearIncome, &v.YearAvgIncome,    &v.TotalIncome};
    for (size_t k = 0; k < 11; ++k)
        if (!ReadWireFloat(f[i + 6 + k], *figures[k])) return false;
    if (!ReadWireDate(f[i], v.ValueDate) || !ReadNavFigures(f, i + 2, v) || !ReadWireInt(f[i + 17], v.IncomeSum22) ||
        !ReadWireInt(f[i + 18], v.IncomeSum44) || !ReadWireFloat(f[i + 19], v.TotalValue1))
        return false;
    v.OneMonthVar = v.MonthIncome;
    v.TwoMonthVar = v.TwoMonthIncome;
    v.ThreeMonthVar = v.ThreeMonthIncome;
    return true;
}

void WriteTradeNav(std::vector<std::string>& out, double nav, const OleDate& navDate)
{
    out.push_back(Fixed(nav, 4));
    out.push_back(navDate.Format(3));
}

bool ReadTradeNav(const std::vector<std::string>& f, double& nav, OleDate& navDate)
{
    double v = 0;
    OleDate d;
    if (f.size() < 2 || f.size() % 2 || !ReadWireFloat(f[0], v) || !ReadWireDate(f[1], d)) return false;
    nav = v;
    navDate = d;
    return true;
}

void WriteIntervalFigures(std::vector<std::string>& out, double fundGrowth, double indexGrowth)
{
    out.push_back(Fixed(fundGrowth, 2));
    out.push_back(Fixed(indexGrowth, 2));
}

bool ReadIntervalFigures(const std::vector<std::string>& f, double& fundGrowth, double& indexGrowth)
{
    // Both figures must be there: an empty one is not a growth of 0.
    if (f.size() != 2) return false;
    std::optional<double> a = ParseNumber(f[0]), b = ParseNumber(f[1]);
    if (!a || !b) return false;
    fundGrowth = *a;
    indexGrowth = *b;
    return true;
}

void WriteDividendRecord(std::vector<std::string>& out, const CFundBonus& d)
{
    out.push_back(Fixed(d.BonusValue, 4));
    out.push_back(d.RecordDate.Format(3));
    out.push_back(d.BonusDate.Format(3));
    out.push_back(d.SubtractDate.Format(3));
}

bool ReadDividendRecords(const std::vector<std::string>& f, std::vector<CFundBonus>& out)
{
    out.clear();
    if (f.size() % 4) return false;
    for (size_t i = 0; i < f.size(); i += 4) {
        CFundBonus b;
        if (!ReadWireFloat(f[i], b.BonusValue) || !ReadWireDate(f[i + 1], b.RecordDate) ||
            !ReadWireDate(f[i + 2], b.BonusDate) || !ReadWireDate(f[i + 3], b.SubtractDate))
            return out.clear(), false;
        out.push_back(b);
    }
    return true;
}

void WriteMoneyIncome(std::vector<std::string>& out, double amount, const OleDate& upTo)
{
    out.push_back(Fixed(amount, 2));
    out.push_back(upTo.Format(3));
}

bool ReadMoneyIncome(const std::vector<std::string>& f, double& amount, OleDate& upTo)
{
    const size_t n = f.size();
    double v = 0;
    OleDate d;
    if (n < 2 || n % 2 || !ReadWireFloat(f[n - 2], v) || !ReadWireDate(f[n - 1], d)) return false;
    amount = v;
    upTo = d;
    return true;
}

void WriteIndexRecord(std::vector<std::string>& out, const CIndexValue& r)
{
    out.push_back(r.IndexID);
    out.push_back(r.ValueDate.Format(3));
    out.push_back(Fixed(r.TradeMoney, 2));
    out.push_back(Fixed(r.IndexValue, 2));
    out.push_back(Fixed(r.VarValue, 2));
}

bool ReadIndexRecords(const std::vector<std::string>& f, std::vector<CIndexValue>& out)
{
    out.clear();
    if (f.size() % 5) return false;
    for (size_t i = 0; i < f.size(); i += 5) {
        CIndexValue v;
        v.IndexID = TrimText(f[i]);
        if (v.IndexID.empty() || !ReadWireDate(f[i + 1], v.ValueDate) || !ReadWireFloat(f[i + 2], v.TradeMoney) ||
            !ReadWireFloat(f[i + 3], v.IndexValue) || !ReadWireFloat(f[i + 4], v.VarValue))
            return out.clear(), false;
        out.push_back(std::move(v));
    }
    return true;
}

}  // namespace vextal

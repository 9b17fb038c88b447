#include "MarketFolder.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>

#include "MarketCsv.h"
#include "common/Format.h"

namespace vextal {

namespace fs = std::filesystem;

namespace {


// Place (1-based) of `text` in `names`, 0 when it is none of them.
template <size_t N>
int Lookup(std::string_view text, const char* const (&names)[N])
{
    for (size_t i = 0; i < N; ++i)
        if (text == names[i]) return static_cast<int>(i) + 1;
    return 0;
}

template <size_t N>
std::string Choices(const char* const (&names)[N])
{
    std::string out;
    for (size_t i = 0; i < N; ++i) out += (i ? ", " : "") + std::string(names[i]);
    return out;
}

bool IsCode(std::string_view s, size_t minLength, size_t maxLength)
{
    if (s.size() < minLength || s.size() > maxLength) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    return true;
}

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

}  // namespace

// Reads one folder into a market; stops at the first fault.
class CFolderLoader {
public:
    CFolderLoader(const std::string& folder, std::string& error, int threads)
        : m_folder(folder), m_error(error), m_threads(std::max(1, threads))
    {
    }

    std::unique_ptr<CFileMarket> Load();

private:
    bool Fail(const std::string& message)
    {
        m_error = message;
        return false;
    }
    bool Open(CCsvReader& csv, const std::string& name, const std::vector<CsvColumn>& columns)
    {
        return csv.Open((fs::path(m_folder) / name).string(), name, m_error) && csv.ReadHeader(columns, m_error);
    }
    bool Exists(const std::string& name) const
    {
        std::error_code ec;
        return fs::exists(fs::path(m_folder) / name, ec);
    }
    // A date field within the years the calendar covers.
    bool Day(const CCsvReader& csv, size_t column, const char* what, int& day);
    bool Number(const CCsvReader& csv, size_t column, const char* what, double& value, bool positive);
    bool Text(const CCsvReader& csv, size_t column, const char* what, std::string& out, bool required);
    // The files of a subfolder, sorted; hidden files are passed over.
    bool Files(const std::string& sub, std::vector<std::string>& names);
    const MarketFund* Fund(const CCsvReader& csv, size_t column);

    bool ReadClosedDays(std::vector<int>& days);
    bool ReadCompanies();
    bool ReadFunds();
    bool ReadNavs();
    bool ReadNavFile(const std::string& name, FundHistory& h, std::string& error) const;
    bool ReadDividends();
    bool ReadSplits();
    bool ReadIndices();
    bool ReadHoldings();
    bool ReadQuotes();
    int Stock(const std::string& code);

    std::string m_folder;
    std::string& m_error;
    int m_threads;
    const CTradingCalendar m_span;  // the years a date may fall in
    std::unique_ptr<CFileMarket> m_market;
    std::unordered_map<std::string, int> m_fundByCode, m_stockByCode;
};

bool CFolderLoader::Day(const CCsvReader& csv, size_t column, const char* what, int& day)
{
    const std::string_view text = csv.Field(column);
    if (!ParseCsvDay(text, day)) return Fail(csv.Fail(std::string(what) + ": not a date (YYYY-MM-DD): " + Quoted(text)));
    if (day < m_span.FirstDay() || day > m_span.LastDay())
        return Fail(csv.Fail(std::string(what) + " " + std::string(text) + " lies outside " +
                             DateOfDay(m_span.FirstDay()).Format(1) + " to " + DateOfDay(m_span.LastDay()).Format(1)));
    return true;
}

bool CFolderLoader::Number(const CCsvReader& csv, size_t column, const char* what, double& value, bool positive)
{
    const std::string_view text = csv.Field(column);
    const std::optional<double> v = ParseNumber(text);
    if (!v) return Fail(csv.Fail(std::string(what) + ": not a number: " + Quoted(text)));
    if (positive && !(*v > 0)) return Fail(csv.Fail(std::string(what) + " must be above 0: " + Quoted(text)));
    if (std::fabs(*v) > 1e9) return Fail(csv.Fail(std::string(what) + " is out of range: " + Quoted(text)));
    value = *v;
    return true;
}

bool CFolderLoader::Text(const CCsvReader& csv, size_t column, const char* what, std::string& out, bool required)
{
    const std::string_view text = csv.Field(column);
    if (required && text.empty()) return Fail(csv.Fail(std::string(what) + " is empty"));
    if (!IsWireText(text))
        return Fail(csv.Fail(std::string(what) + " " + Quoted(text) +
                             " holds a character the service cannot send (< > & |, a control character, or one GBK lacks)"));
    if (text.size() > 255) return Fail(csv.Fail(std::string(what) + " is longer than 255 bytes"));
    out = std::string(text);
    return true;
}

const MarketFund* CFolderLoader::Fund(const CCsvReader& csv, size_t column)
{
    const std::string code(csv.Field(column));
    auto it = m_fundByCode.find(code);
    if (it == m_fundByCode.end()) {
        Fail(csv.Fail("no fund " + Quoted(code) + " in funds.csv"));
        return nullptr;
    }
    return &m_market->m_funds[static_cast<size_t>(it->second)];
}

bool CFolderLoader::Files(const std::string& sub, std::vector<std::string>& names)
{
    names.clear();
    std::error_code ec;
    const fs::path dir = fs::path(m_folder) / sub;
    if (!fs::exists(dir, ec)) return true;
    if (!fs::is_directory(dir, ec)) return Fail(sub + ": not a folder");
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        if (!e.is_regular_file(ec)) return Fail(sub + "/" + name + ": not a file");
        names.push_back(name);
    }
    if (ec) return Fail(sub + ": cannot be read: " + ec.message());
    std::sort(names.begin(), names.end());
    return true;
}

bool CFolderLoader::ReadClosedDays(std::vector<int>& days)
{
    if (!Exists("closed-days.csv")) return true;
    CCsvReader csv;
    if (!Open(csv, "closed-days.csv", {{"date", true}})) return false;
    while (csv.Next(m_error)) {
        int day = 0;
        if (!Day(csv, 0, "date", day)) return false;
        days.push_back(day);
    }
    return m_error.empty();
}

bool CFolderLoader::ReadCompanies()
{
    if (!Exists("companies.csv")) return Fail("companies.csv: missing (every folder needs it, beside funds.csv)");
    enum { kId, kName, kType, kUrl };
    CCsvReader csv;
    if (!Open(csv, "companies.csv", {{"id", true}, {"name", true}, {"type", false}, {"url", false}})) return false;
    std::map<std::string, int> lines;
    while (csv.Next(m_error)) {
        MarketCompany c;
        c.id = std::string(csv.Field(kId));
        if (!IsCode(c.id, 4, 4)) return Fail(csv.Fail("company id must be 4 letters or digits: " + Quoted(c.id)));
        if (auto [it, added] = lines.emplace(c.id, csv.Line()); !added)
            return Fail(csv.Fail("company " + c.id + " again (first on line " + std::to_string(it->second) + ")"));
        if (!Text(csv, kName, "name", c.name, true) || !Text(csv, kType, "type", c.type, false) ||
            !Text(csv, kUrl, "url", c.url, false))
            return false;
        m_market->m_companies.push_back(std::move(c));
    }
    return m_error.empty();
}

bool CFolderLoader::ReadFunds()
{
    if (!Exists("funds.csv")) return Fail("funds.csv: missing (every folder needs it)");
    enum { kCode, kName, kShort, kCompany, kType, kInvest, kBank, kUrl, kFounded, kWoundUp, kUnits, kUnitsBefore };
    CCsvReader csv;
    if (!Open(csv, "funds.csv",
              {{"code", true}, {"name", true}, {"short_name", false}, {"company", true}, {"type", true},
               {"invest", true}, {"bank", false}, {"url", false}, {"founded", true}, {"wound_up", false},
               {"units", false}, {"units_before", false}}))
        return false;
    std::set<std::string> companies;
    for (const MarketCompany& c : m_market->m_companies) companies.insert(c.id);
    std::map<std::string, int> lines;
    while (csv.Next(m_error)) {
        MarketFund f;
        f.ordinal = static_cast<int>(m_market->m_funds.size());
        f.code = std::string(csv.Field(kCode));
        if (!IsCode(f.code, 6, 6)) return Fail(csv.Fail("fund code must be 6 letters or digits: " + Quoted(f.code)));
        if (auto [it, added] = lines.emplace(f.code, csv.Line()); !added)
            return Fail(csv.Fail("fund " + f.code + " again (first on line " + std::to_string(it->second) + ")"));
        if (!Text(csv, kName, "name", f.name, true) || !Text(csv, kShort, "short_name", f.shortName, false) ||
            !Text(csv, kUrl, "url", f.url, false))
            return false;
        if (f.shortName.empty()) f.shortName = f.name;
        f.companyId = std::string(csv.Field(kCompany));
        if (!companies.count(f.companyId))
            return Fail(csv.Fail("company " + Quoted(f.companyId) + " is not in companies.csv"));
        f.fundType = Lookup(csv.Field(kType), kFolderFundTypes);
        if (!f.fundType) return Fail(csv.Fail("type must be one of " + Choices(kFolderFundTypes) + ": " + Quoted(csv.Field(kType))));
        f.investType = Lookup(csv.Field(kInvest), kFolderInvestTypes);
        if (!f.investType)
            return Fail(csv.Fail("invest must be one of " + Choices(kFolderInvestTypes) + ": " + Quoted(csv.Field(kInvest))));
        f.bankId = 0;
        if (!csv.Field(kBank).empty()) {
            const std::optional<long long> bank = ParseInteger(csv.Field(kBank));
            if (!bank || *bank < 0 || *bank > 13)
                return Fail(csv.Fail("bank must be a number from 1 to 13 (0 or empty: none): " + Quoted(csv.Field(kBank))));
            f.bankId = static_cast<int>(*bank);
        }
        if (!Day(csv, kFounded, "founded", f.createDay)) return false;
        if (!csv.Field(kWoundUp).empty()) {
            if (!Day(csv, kWoundUp, "wound_up", f.withdrawDay)) return false;
            if (f.withdrawDay < f.createDay) return Fail(csv.Fail("wound_up lies before founded"));
        }
        double units = 0, before = 0;
        if ((!csv.Field(kUnits).empty() && !Number(csv, kUnits, "units", units, false)) ||
            (!csv.Field(kUnitsBefore).empty() && !Number(csv, kUnitsBefore, "units_before", before, false)))
            return false;
        if (units < 0 || before < 0) return Fail(csv.Fail("units cannot be negative"));
        f.newCount = static_cast<float>(units);
        f.oldCount = static_cast<float>(before);
        m_fundByCode.emplace(f.code, f.ordinal);
        m_market->m_funds.push_back(std::move(f));
    }
    if (!m_error.empty()) return false;
    m_market->m_raw.resize(m_market->m_funds.size());
    m_market->m_disclosures.resize(m_market->m_funds.size());
    return true;
}

bool CFolderLoader::ReadNavFile(const std::string& name, FundHistory& h, std::string& error) const
{
    const std::string code = name.substr(0, name.size() - 4);
    const MarketFund& fund = m_market->m_funds[static_cast<size_t>(m_fundByCode.at(code))];
    const bool money = fund.IsMoneyMarket();
    const std::string path = "nav/" + name;
    CCsvReader csv;
    if (!csv.Open((fs::path(m_folder) / path).string(), path, error)) return false;
    if (money ? !csv.ReadHeader({{"date", true}, {"income", true}, {"yield", true}}, error)
              : !csv.ReadHeader({{"date", true}, {"nav", true}, {"acc", true}}, error)) {
        if (error.find("unknown column") != std::string::npos || error.find("no column") != std::string::npos)
            error += money ? "; a money-market fund's NAV file has date,income,yield"
                           : "; a fund's NAV file has date,nav,acc (date,income,yield is for money-market funds)";
        return false;
    }
    const CTradingCalendar& cal = m_span;
    std::vector<float>& second = money ? h.pct : h.acc;
    while (csv.Next(error)) {
        int day = 0;
        const std::string_view date = csv.Field(0);
        if (!ParseCsvDay(date, day)) {
            error = csv.Fail("date: not a date (YYYY-MM-DD): " + Quoted(date));
            return false;
        }
        if (day > cal.LastDay()) {
            error = csv.Fail("date " + std::string(date) + " lies after " + DateOfDay(cal.LastDay()).Format(1));
            return false;
        }
        if (day < fund.createDay) {
            error = csv.Fail("date " + std::string(date) + " lies before the fund was founded (" +
                             DateOfDay(fund.createDay).Format(1) + ")");
            return false;
        }
        if (!h.days.empty() && day <= h.days.back()) {
            error = csv.Fail("dates must increase: " + std::string(date) + " follows " + DateOfDay(h.days.back()).Format(1));
            return false;
        }
        const std::optional<double> a = ParseNumber(csv.Field(1)), b = ParseNumber(csv.Field(2));
        const char* names[] = {money ? "income" : "nav", money ? "yield" : "acc"};
        for (int k = 0; k < 2; ++k) {
            const std::optional<double>& v = k ? b : a;
            if (!v || std::fabs(*v) > 1e6) {
                error = csv.Fail(std::string(names[k]) + ": not a number: " + Quoted(csv.Field(1 + static_cast<size_t>(k))));
                return false;
            }
            if (!money && !(*v > 0)) {
                error = csv.Fail(std::string(names[k]) + " must be above 0: " + Quoted(csv.Field(1 + static_cast<size_t>(k))));
                return false;
            }
        }
        h.days.push_back(day);
        h.nav.push_back(static_cast<float>(*a));
        second.push_back(static_cast<float>(*b));
    }
    if (!error.empty()) return false;
    h.days.shrink_to_fit();
    h.nav.shrink_to_fit();
    second.shrink_to_fit();
    return true;
}

bool CFolderLoader::ReadNavs()
{
    std::vector<std::string> names;
    if (!Files("nav", names)) return false;
    for (const std::string& name : names) {
        const size_t dot = name.rfind(".csv");
        if (dot == std::string::npos || dot + 4 != name.size())
            return Fail("nav/" + name + ": a NAV file is named after its fund: <code>.csv");
        if (!m_fundByCode.count(name.substr(0, dot)))
            return Fail("nav/" + name + ": no fund " + Quoted(name.substr(0, dot)) + " in funds.csv");
    }
    // The files in parallel, each into its fund's slot; the first fault in
    // name order is the one reported, whatever the threads met first.
    std::vector<std::string> errors(names.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        for (size_t i; !failed && (i = next++) < names.size();) {
            const int ordinal = m_fundByCode.at(names[i].substr(0, names[i].size() - 4));
            if (!ReadNavFile(names[i], m_market->m_raw[static_cast<size_t>(ordinal)], errors[i])) failed = true;
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < m_threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
    for (const std::string& e : errors)
        if (!e.empty()) return Fail(e);
    return true;
}

bool CFolderLoader::ReadDividends()
{
    if (!Exists("dividends.csv")) return true;
    enum { kFund, kRecord, kEx, kPay, kPerUnit };
    CCsvReader csv;
    if (!Open(csv, "dividends.csv",
              {{"fund", true}, {"record_date", false}, {"ex_date", true}, {"pay_date", false}, {"per_unit", true}}))
        return false;
    std::map<std::pair<int, int>, int> lines;
    while (csv.Next(m_error)) {
        const MarketFund* f = Fund(csv, kFund);
        FundDividend d;
        if (!f || !Day(csv, kEx, "ex_date", d.exDay) || !Number(csv, kPerUnit, "per_unit", d.perUnit, true)) return false;
        d.recordDay = d.payDay = d.exDay;
        if ((!csv.Field(kRecord).empty() && !Day(csv, kRecord, "record_date", d.recordDay)) ||
            (!csv.Field(kPay).empty() && !Day(csv, kPay, "pay_date", d.payDay)))
            return false;
        if (f->IsMoneyMarket()) return Fail(csv.Fail(f->code + " is a money-market fund: its income is in its NAV file"));
        if (auto [it, added] = lines.emplace(std::make_pair(f->ordinal, d.exDay), csv.Line()); !added)
            return Fail(csv.Fail("a second dividend of " + f->code + " on " + DateOfDay(d.exDay).Format(1) +
                                 " (first on line " + std::to_string(it->second) + ")"));
        m_market->m_raw[static_cast<size_t>(f->ordinal)].dividends.push_back(d);
    }
    if (!m_error.empty()) return false;
    for (FundHistory& h : m_market->m_raw)
        std::sort(h.dividends.begin(), h.dividends.end(),
                  [](const FundDividend& a, const FundDividend& b) { return a.exDay < b.exDay; });
    return true;
}

bool CFolderLoader::ReadSplits()
{
    if (!Exists("splits.csv")) return true;
    enum { kFund, kDate, kRatio };
    CCsvReader csv;
    if (!Open(csv, "splits.csv", {{"fund", true}, {"date", true}, {"ratio", true}})) return false;
    std::map<std::pair<int, int>, int> lines;
    while (csv.Next(m_error)) {
        const MarketFund* f = Fund(csv, kFund);
        FundSplit s;
        if (!f || !Day(csv, kDate, "date", s.day) || !Number(csv, kRatio, "ratio", s.ratio, true)) return false;
        if (auto [it, added] = lines.emplace(std::make_pair(f->ordinal, s.day), csv.Line()); !added)
            return Fail(csv.Fail("a second split of " + f->code + " on " + DateOfDay(s.day).Format(1) +
                                 " (first on line " + std::to_string(it->second) + ")"));
        m_market->m_raw[static_cast<size_t>(f->ordinal)].splits.push_back(s);
    }
    if (!m_error.empty()) return false;
    for (FundHistory& h : m_market->m_raw)
        std::sort(h.splits.begin(), h.splits.end(), [](const FundSplit& a, const FundSplit& b) { return a.day < b.day; });
    return true;
}

bool CFolderLoader::ReadIndices()
{
    m_market->m_indexCloses.assign(StandardIndices().size(), {});
    std::vector<std::string> names;
    if (!Files("indices", names)) return false;
    int newest = 0;
    for (const std::string& name : names) {
        const int index = m_market->FindIndex(name.size() > 4 ? name.substr(0, name.size() - 4) : name);
        if (index < 0 || name.substr(name.size() - 4) != ".csv")
            return Fail("indices/" + name + ": the index files are 1A0001.csv, 399001.csv and 399300.csv");
        enum { kDate, kClose, kTurnover };
        CCsvReader csv;
        if (!Open(csv, "indices/" + name, {{"date", true}, {"close", true}, {"turnover", false}})) return false;
        std::vector<IndexClose>& closes = m_market->m_indexCloses[static_cast<size_t>(index)];
        while (csv.Next(m_error)) {
            IndexClose c;
            if (!Day(csv, kDate, "date", c.day) || !Number(csv, kClose, "close", c.value, true)) return false;
            if (!csv.Field(kTurnover).empty() && !Number(csv, kTurnover, "turnover", c.turnover, false)) return false;
            if (c.turnover < 0) return Fail(csv.Fail("turnover cannot be negative"));
            if (!closes.empty() && c.day <= closes.back().day)
                return Fail(csv.Fail("dates must increase: " + DateOfDay(c.day).Format(1) + " follows " +
                                     DateOfDay(closes.back().day).Format(1)));
            closes.push_back(c);
        }
        if (!m_error.empty()) return false;
        if (!closes.empty()) newest = std::max(newest, closes.back().day);
    }
    m_market->m_newestIndexDay = newest;
    return true;
}

int CFolderLoader::Stock(const std::string& code)
{
    auto [it, added] = m_stockByCode.emplace(code, static_cast<int>(m_market->m_stocks.size()));
    if (added) m_market->m_stocks.push_back({code, code, ""});
    return it->second;
}

bool CFolderLoader::ReadHoldings()
{
    if (!Exists("holdings.csv")) return true;
    enum { kFund, kDate, kStock, kName, kWeight, kIndustry };
    CCsvReader csv;
    if (!Open(csv, "holdings.csv",
              {{"fund", true}, {"date", true}, {"stock", true}, {"stock_name", true}, {"weight", true},
               {"industry", false}}))
        return false;
    // (fund, day) -> the disclosure and where it was first seen
    std::map<std::pair<int, int>, std::pair<CFileMarket::Disclosure, int>> disclosures;
    std::map<int, int> namedOn;  // stock -> the latest day its name and industry come from
    while (csv.Next(m_error)) {
        const MarketFund* f = Fund(csv, kFund);
        int day = 0;
        double weight = 0;
        std::string name, industry;
        if (!f || !Day(csv, kDate, "date", day) || !Text(csv, kName, "stock_name", name, true) ||
            !Text(csv, kIndustry, "industry", industry, false) || !Number(csv, kWeight, "weight", weight, true))
            return false;
        const std::string code(csv.Field(kStock));
        if (!IsCode(code, 1, 12)) return Fail(csv.Fail("stock code must be 1 to 12 letters or digits: " + Quoted(code)));
        if (weight > 100) return Fail(csv.Fail("weight is a percentage of the fund, at most 100: " + Quoted(csv.Field(kWeight))));
        const int stock = Stock(code);
        // A stock's newest disclosure names it.
        if (auto it = namedOn.find(stock); it == namedOn.end() || it->second <= day) {
            namedOn[stock] = day;
            m_market->m_stocks[static_cast<size_t>(stock)].name = name;
            m_market->m_stocks[static_cast<size_t>(stock)].industry = industry;
        }
        auto& [disclosure, firstLine] = disclosures[{f->ordinal, day}];
        if (disclosure.holdings.empty()) firstLine = csv.Line();
        disclosure.day = day;
        for (const Holding& h : disclosure.holdings)
            if (h.stock == stock)
                return Fail(csv.Fail(code + " twice in the holdings of " + f->code + " on " + DateOfDay(day).Format(1)));
        double sum = weight;
        for (const Holding& h : disclosure.holdings) sum += h.weight * 100.0;
        if (sum > 100.005)
            return Fail(csv.Fail(StrFormat("the holdings of %s on %s add up to %0.2f%%, more than the whole fund",
                                           f->code.c_str(), DateOfDay(day).Format(1).c_str(), sum)));
        disclosure.holdings.push_back({stock, weight / 100.0});
    }
    if (!m_error.empty()) return false;
    for (auto& [key, entry] : disclosures) {
        std::stable_sort(entry.first.holdings.begin(), entry.first.holdings.end(),
                         [](const Holding& a, const Holding& b) { return a.weight > b.weight; });
        m_market->m_disclosures[static_cast<size_t>(key.first)].push_back(std::move(entry.first));
    }
    return true;
}

bool CFolderLoader::ReadQuotes()
{
    std::vector<std::string> names;
    if (!Files("quotes", names)) return false;
    for (const std::string& name : names) {
        int day = 0;
        if (name.size() != 14 || name.substr(10) != ".csv" || !ParseCsvDay(name.substr(0, 10), day))
            return Fail("quotes/" + name + ": a quotes file is named after its day: YYYY-MM-DD.csv");
        if (!m_market->Calendar().IsTradingDay(day))
            return Fail("quotes/" + name + ": " + name.substr(0, 10) + " is not a trading day");
        enum { kTime, kStock, kPrice, kPrevClose };
        CCsvReader csv;
        if (!Open(csv, "quotes/" + name, {{"time", true}, {"stock", true}, {"price", true}, {"prev_close", true}}))
            return false;
        struct Row {
            int second, line;
            float price;
        };
        std::map<int, std::pair<float, std::vector<Row>>> stocks;  // stock -> previous close, rows
        while (csv.Next(m_error)) {
            int second = 0;
            if (!ParseCsvTime(csv.Field(kTime), second))
                return Fail(csv.Fail("time: not a time of day (HH:MM:SS): " + Quoted(csv.Field(kTime))));
            const std::string code(csv.Field(kStock));
            if (!IsCode(code, 1, 12)) return Fail(csv.Fail("stock code must be 1 to 12 letters or digits: " + Quoted(code)));
            double price = 0, prevClose = 0;
            if (!Number(csv, kPrice, "price", price, true) || !Number(csv, kPrevClose, "prev_close", prevClose, true))
                return false;
            auto [it, added] = stocks.try_emplace(Stock(code), static_cast<float>(prevClose), std::vector<Row>());
            if (!added && it->second.first != static_cast<float>(prevClose))
                return Fail(csv.Fail(StrFormat("prev_close of %s differs from its earlier lines (%0.2f)", code.c_str(),
                                               static_cast<double>(it->second.first))));
            it->second.second.push_back({second, csv.Line(), static_cast<float>(price)});
        }
        if (!m_error.empty()) return false;
        CFileMarket::DayQuotes& out = m_market->m_quotes[day];
        for (auto& [stock, entry] : stocks) {
            std::vector<Row>& rows = entry.second;
            std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.second < b.second; });
            auto q = std::make_shared<StockQuotes>();
            q->prevClose = entry.first;
            q->rows.reserve(rows.size());
            for (size_t k = 0; k < rows.size(); ++k) {
                if (k && rows[k].second == rows[k - 1].second) {
                    const Row& again = std::max(rows[k], rows[k - 1], [](const Row& a, const Row& b) { return a.line < b.line; });
                    return Fail("quotes/" + name + ":" + std::to_string(again.line) + ": " +
                                m_market->m_stocks[static_cast<size_t>(stock)].code + " at that time a second time");
                }
                q->rows.push_back({rows[k].second, rows[k].price});
            }
            out.emplace_back(stock, std::move(q));
        }
    }
    return true;
}

std::unique_ptr<CFileMarket> CFolderLoader::Load()
{
    m_error.clear();
    std::error_code ec;
    if (!fs::is_directory(m_folder, ec)) {
        Fail(m_folder + ": not a folder");
        return nullptr;
    }
    std::vector<int> closed;
    if (!ReadClosedDays(closed)) return nullptr;
    m_market = std::unique_ptr<CFileMarket>(new CFileMarket(CTradingCalendar(2035, closed)));
    if (!ReadCompanies() || !ReadFunds() || !ReadNavs() || !ReadDividends() || !ReadSplits() || !ReadIndices() ||
        !ReadHoldings() || !ReadQuotes())
        return nullptr;
    int newest = 0;
    for (const FundHistory& h : m_market->m_raw)
        if (!h.days.empty()) newest = std::max(newest, h.days.back());
    m_market->m_newestNavDay = newest;
    m_market->IndexCatalogue();
    return std::move(m_market);
}

std::unique_ptr<CFileMarket> CFileMarket::Load(const std::string& folder, std::string& error, int threads)
{
    return CFolderLoader(folder, error, threads).Load();
}

std::shared_ptr<FundHistory> CFileMarket::ComputeHistory(const MarketFund& fund, int) const
{
    auto h = std::make_shared<FundHistory>(m_raw[static_cast<size_t>(fund.ordinal)]);
    DeriveFigures(fund.IsMoneyMarket(), *h);
    h->through = INT_MAX;
    return h;
}

std::vector<Holding> CFileMarket::Holdings(const MarketFund& fund, int day) const
{
    const auto& list = m_disclosures[static_cast<size_t>(fund.ordinal)];
    auto it = std::upper_bound(list.begin(), list.end(), day, [](int d, const Disclosure& x) { return d < x.day; });
    return it == list.begin() ? std::vector<Holding>() : std::prev(it)->holdings;
}

int CFileMarket::HoldingsDate(const MarketFund& fund, int day) const
{
    const auto& list = m_disclosures[static_cast<size_t>(fund.ordinal)];
    auto it = std::upper_bound(list.begin(), list.end(), day, [](int d, const Disclosure& x) { return d < x.day; });
    return it == list.begin() ? 0 : std::prev(it)->day;
}

std::shared_ptr<const StockQuotes> CFileMarket::Quotes(int stock, int day) const
{
    auto d = m_quotes.find(day);
    if (d == m_quotes.end()) return nullptr;
    auto it = std::lower_bound(d->second.begin(), d->second.end(), stock,
                               [](const auto& entry, int s) { return entry.first < s; });
    return it != d->second.end() && it->first == stock ? it->second : nullptr;
}

bool CFileMarket::DayClose(int stock, int day, double& close, double& prevClose) const
{
    const std::shared_ptr<const StockQuotes> q = Quotes(stock, day);
    if (!q || q->rows.empty()) return false;
    close = q->Close();
    prevClose = q->prevClose;
    return true;
}

bool CFileMarket::HasQuotes(int day) const { return m_quotes.count(day) > 0; }

const std::vector<IndexClose>& CFileMarket::IndexCloses(int index) const
{
    return m_indexCloses[static_cast<size_t>(index)];
}

}  // namespace vextal

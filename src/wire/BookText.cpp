#include "wire/BookText.h"

#include <climits>
#include <map>
#include <string_view>

#include "common/Format.h"
#include "common/OleDate.h"
#include "db/Schema.h"
#include "net/Encoding.h"

namespace vextal {

namespace {

enum class Kind { Int, Real, Date, Text };
struct Column {
    Kind kind;
    bool nullable;  // NULL (an empty field) allowed; a text: may be empty
};

constexpr Column I{Kind::Int, false}, R{Kind::Real, false}, R0{Kind::Real, true}, D{Kind::Date, false},
    D0{Kind::Date, true}, T{Kind::Text, false}, T0{Kind::Text, true};

// In the column order of db/Schema. The first and last column of each are
// never text: the reader depends on it.
const std::vector<Column> kAccountColumns = {I, I, T, I, R, R, I, D};
const std::vector<Column> kHoldingColumns = {I, T, I, R, R, R, I, R, R, D0, D0, R0, R0, R0};
const std::vector<Column> kTradeColumns = {I, I, T, R, R, R, I, D, D0, I, I, R, T0, T0, R0};

struct Table {
    const char* name;
    const char* marker;
    const std::vector<Column>& columns;
    const std::vector<std::string>& names;
};

const Table& AccountTable()
{
    static const Table t{"T_Account_Info", "_A_", kAccountColumns, AccountInfoColumns()};
    return t;
}
const Table& HoldingTable()
{
    static const Table t{"T_Fund_Trade", "_F_", kHoldingColumns, FundTradeColumns()};
    return t;
}
const Table& TradeTable()
{
    static const Table t{"T_Trade_Info", "_T_", kTradeColumns, TradeInfoColumns()};
    return t;
}

bool FieldFits(const std::string& f, const Column& c)
{
    if (f.empty()) return c.nullable;
    switch (c.kind) {
    case Kind::Int: {
        std::optional<long long> v = ParseInteger(f);
        return v && *v >= INT_MIN && *v <= INT_MAX && f.find_first_of(" \t") == std::string::npos;
    }
    case Kind::Real: return ParseNumber(f).has_value() && f.find_first_of(" \t") == std::string::npos;
    case Kind::Date: {
        OleDate d;
        return OleDate::Parse(f, d) && d.IsValid();
    }
    case Kind::Text: return true;
    }
    return false;
}

std::string Quoted(const std::string& s) { return "“" + s + "”"; }

// The reader's place in the text and what it is reading, for the message.
class Reader {
public:
    explicit Reader(const std::string& text) : m_t(text) {}

    bool Done() const { return m_pos == m_t.size(); }
    bool Eat(std::string_view s)
    {
        if (m_t.compare(m_pos, s.size(), s) != 0) return false;
        m_pos += s.size();
        return true;
    }
    // A text field runs to the "|" behind it; any other stops at "|" or "_".
    std::string Field(bool text)
    {
        const size_t end = m_t.find_first_of(text ? "|" : "|_", m_pos);
        const size_t stop = end == std::string::npos ? m_t.size() : end;
        std::string f = m_t.substr(m_pos, stop - m_pos);
        m_pos = stop;
        return f;
    }

    // One row of `table`; false with the message naming the column that
    // does not read.
    bool Row(const Table& table, std::vector<std::string>& row)
    {
        const size_t n = table.columns.size();
        row.clear();
        row.reserve(n);
        for (size_t c = 0; c < n; ++c) {
            row.push_back(Field(table.columns[c].kind == Kind::Text));
            if ((c + 1 < n && !Eat("|")) || !FieldFits(row.back(), table.columns[c]))
                return Fail(table, table.names[c]);
        }
        return true;
    }
    // A section of rows between two markers; `oneRow`: exactly one.
    bool Section(const Table& table, bool oneRow, std::vector<std::vector<std::string>>& rows)
    {
        m_row = 0;
        if (!Eat(table.marker)) return Fail(table, table.marker);
        if (!oneRow && Eat(table.marker)) return true;
        for (;;) {
            ++m_row;
            rows.emplace_back();
            if (!Row(table, rows.back())) return false;
            if (!oneRow && Eat("|")) continue;
            if (Eat(table.marker)) return true;
            return Fail(table, table.marker);
        }
    }

    void SetAccount(size_t number, const std::string& name)
    {
        m_account = number;
        m_name = name;
    }
    bool Fail(const Table& table, const std::string& what) { return Fail(table, m_row, what); }
    bool Fail(const Table& table, size_t row, const std::string& what)
    {
        m_error = "记帐数据格式错误：" + (m_name.empty() ? StrFormat("第%zu个帐户", m_account) : "帐户" + Quoted(m_name)) +
                  "的" + table.name + (row ? StrFormat("第%zu行", row) : std::string()) + "，" + what;
        return false;
    }
    const std::string& Error() const { return m_error; }

private:
    const std::string& m_t;
    size_t m_pos = 0;
    size_t m_account = 0;
    size_t m_row = 0;
    std::string m_name;
    std::string m_error;
};

void AppendRow(std::string& out, const std::vector<std::string>& row, const std::vector<Column>& columns)
{
    for (size_t c = 0; c < row.size(); ++c) {
        if (c) out += '|';
        if (c < columns.size() && columns[c].kind == Kind::Text) {
            for (char ch : row[c]) out += ch == '|' ? ';' : ch;
        } else {
            out += row[c];
        }
    }
}

void AppendSection(std::string& out, const char* marker, const std::vector<std::vector<std::string>>& rows,
                   const std::vector<Column>& columns)
{
    out += marker;
    for (size_t r = 0; r < rows.size(); ++r) {
        if (r) out += '|';
        AppendRow(out, rows[r], columns);
    }
    out += marker;
}

std::string Written(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c == '|') c = ';';
    return out;
}

bool TravelsAsGbk(const std::string& s) { return GbkToUtf8(Utf8ToGbk(s)) == s; }

// The first character of `s` that GBK cannot carry (a byte that is no
// character counts as one).
std::string FirstUntravelled(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        const unsigned char lead = static_cast<unsigned char>(s[i]);
        size_t len = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 1;
        if (i + len > s.size()) len = 1;
        const std::string one = s.substr(i, len);
        if (!TravelsAsGbk(one)) return one;
        i += len;
    }
    return s;
}

const char* ColumnLabel(const std::string& column)
{
    static const std::map<std::string, const char*> labels = {
        {"AccountName", "名称"}, {"FundID", "基金代码"}, {"Remark", "交易选项"}, {"MarkInfo", "交易备注"}};
    auto it = labels.find(column);
    return it == labels.end() ? column.c_str() : it->second;
}

// A text field GBK cannot carry, named by its account and its row.
bool CheckEncodable(const BookTextAccount& a, std::string& error)
{
    const std::string name = a.account.size() > kBookAccountName ? a.account[kBookAccountName] : std::string();
    auto check = [&](const Table& table, const std::vector<std::string>& row, const std::string& rowName) {
        for (size_t c = 0; c < row.size() && c < table.columns.size(); ++c) {
            if (table.columns[c].kind != Kind::Text || TravelsAsGbk(row[c])) continue;
            error = "帐户" + Quoted(name) + rowName + "的" + ColumnLabel(table.names[c]) + "含有服务器不能保存的字符" +
                    Quoted(FirstUntravelled(row[c])) + "，请先修改";
            return false;
        }
        return true;
    };
    if (!check(AccountTable(), a.account, "")) return false;
    for (const auto& h : a.holdings)
        if (!check(HoldingTable(), h, "中基金" + (h.size() > 1 ? h[1] : std::string()))) return false;
    for (const auto& t : a.trades)
        if (!check(TradeTable(), t, "中" + (t.size() > 7 ? t[7] : std::string()) + "的交易")) return false;
    return true;
}

}  // namespace

std::string WriteBookTextUnchecked(const std::vector<BookTextAccount>& accounts)
{
    std::string text;
    for (const BookTextAccount& a : accounts) {
        if (!text.empty()) text += '|';
        text += "_A_";
        AppendRow(text, a.account, kAccountColumns);
        text += "_A_";
        AppendSection(text, "_F_", a.holdings, kHoldingColumns);
        AppendSection(text, "_T_", a.trades, kTradeColumns);
    }
    return text;
}

bool WriteBookText(const std::vector<BookTextAccount>& accounts, std::string& text, std::string& error)
{
    text.clear();
    std::map<std::string, std::string> names;  // written name -> local name
    for (const BookTextAccount& a : accounts) {
        const std::string name = a.account.size() > kBookAccountName ? a.account[kBookAccountName] : std::string();
        auto [it, fresh] = names.emplace(Written(name), name);
        if (!fresh) {
            error = "帐户" + Quoted(it->second) + "和" + Quoted(name) + "上传后名称相同（“|”上传为“;”），" +
                    "请先修改其中一个帐户的名称";
            return false;
        }
    }
    std::string written = WriteBookTextUnchecked(accounts);
    // One conversion of the whole text; only a text that does not come back
    // whole is searched for the field to name.
    if (!TravelsAsGbk(written)) {
        for (const BookTextAccount& a : accounts)
            if (!CheckEncodable(a, error)) return false;
    }
    text = std::move(written);
    return true;
}

bool ReadBookText(const std::string& text, std::vector<BookTextAccount>& accounts, std::string& error)
{
    accounts.clear();
    Reader r(text);
    for (size_t number = 1; !r.Done(); ++number) {
        if (number > 1 && !r.Eat("|")) {
            error = "记帐数据格式错误：帐户" + Quoted(accounts.back().account[kBookAccountName]) + "之后不是下一个帐户";
            accounts.clear();
            return false;
        }
        r.SetAccount(number, std::string());
        BookTextAccount a;
        std::vector<std::vector<std::string>> head;
        bool ok = r.Section(AccountTable(), true, head);
        if (ok) {
            a.account = std::move(head.front());
            r.SetAccount(number, a.account[kBookAccountName]);
            ok = r.Section(HoldingTable(), false, a.holdings) && r.Section(TradeTable(), false, a.trades);
        }
        // The rows of an account carry its number.
        for (size_t i = 0; ok && i < a.holdings.size(); ++i)
            if (a.holdings[i][0] != a.account[kBookAccountId]) ok = r.Fail(HoldingTable(), i + 1, "AccountID");
        for (size_t i = 0; ok && i < a.trades.size(); ++i)
            if (a.trades[i][kBookTradeAccount] != a.account[kBookAccountId])
                ok = r.Fail(TradeTable(), i + 1, "AccountID");
        if (!ok) {
            error = r.Error();
            accounts.clear();
            return false;
        }
        accounts.push_back(std::move(a));
    }
    return true;
}

// Trade type 10 is the subscription.
std::string WriteTradeRemark(int tradeType, double secondRate, int innerDeduction)
{
    if (tradeType == 10) return FormatFixed(secondRate, 2) + "|" + std::to_string(innerDeduction);
    if (innerDeduction == 1) return "1";
    return std::string();
}

void ReadTradeRemark(const std::string& remark, int tradeType, double& secondRate, int& innerDeduction)
{
    if (remark.empty()) return;
    if (tradeType != 10) {
        innerDeduction = static_cast<int>(IntegerOr(remark, 0));
        return;
    }
    const size_t sep = remark.find_first_of(";|");
    secondRate = NumberOr(remark.substr(0, sep), 0);
    if (sep != std::string::npos) innerDeduction = static_cast<int>(IntegerOr(remark.substr(sep + 1), 0));
}

}  // namespace vextal

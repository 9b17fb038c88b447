#include "book/TradeImport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <set>

#include "book/AccountManager.h"
#include "book/TradeForms.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "db/AdoDatabase.h"
#include "net/Encoding.h"

namespace vextal {

namespace {

struct KindName {
    const char* text;
    ImportKind kind;
};
// Chinese as the program names them, and plain English for files kept elsewhere.
const KindName kKinds[] = {
    {"申购", ImportKind::Purchase},           {"买入", ImportKind::Purchase},
    {"purchase", ImportKind::Purchase},       {"buy", ImportKind::Purchase},
    {"认购", ImportKind::Subscription},       {"subscription", ImportKind::Subscription},
    {"subscribe", ImportKind::Subscription},  {"赎回", ImportKind::Redemption},
    {"卖出", ImportKind::Redemption},         {"redemption", ImportKind::Redemption},
    {"redeem", ImportKind::Redemption},       {"sell", ImportKind::Redemption},
    {"转换", ImportKind::Conversion},         {"conversion", ImportKind::Conversion},
    {"convert", ImportKind::Conversion},      {"现金红利", ImportKind::CashDividend},
    {"cash dividend", ImportKind::CashDividend}, {"dividend", ImportKind::CashDividend},
    {"红利转投", ImportKind::ReinvestDividend}, {"reinvest", ImportKind::ReinvestDividend},
};

// The columns: date, fund, kind, amount or shares, fee, NAV, target fund, remark.
enum { kColDate, kColFund, kColKind, kColQuantity, kColFee, kColNav, kColTarget, kColRemark, kColumns };

struct Field {
    std::string text;
    bool quoted = false;
};

std::vector<Field> SplitLine(const std::string& line)
{
    // Tab-separated when the line has a tab: amounts may then carry commas.
    const char sep = line.find('\t') != std::string::npos ? '\t' : ',';
    std::vector<Field> fields;
    Field cur;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            cur.quoted = true;
        } else if (c == sep && !quoted) {
            cur.text = TrimText(cur.text);
            fields.push_back(std::move(cur));
            cur = Field();
        } else {
            cur.text += c;
        }
    }
    cur.text = TrimText(cur.text);
    fields.push_back(std::move(cur));
    return fields;
}

// Thousands separators as a statement prints them ("1,000.50"), where a comma
// cannot be a field separator: inside quotes, or on a tab-separated line.
// Groups of three digits only; anything else stays for the reader to refuse.
std::string WithoutGrouping(const std::string& text)
{
    const size_t dot = std::min(text.find('.'), text.size());
    const size_t first = text.find(',');
    if (first == std::string::npos || first >= dot) return text;
    auto digits = [&text](size_t from, size_t to) {
        return to > from && to <= text.size() && text.find_first_not_of("0123456789", from) >= to;
    };
    const size_t sign = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (first - sign > 3 || !digits(sign, first)) return text;
    size_t i = first;
    for (; i < dot; i += 4)
        if (text[i] != ',' || i + 4 > dot || !digits(i + 1, i + 4)) return text;
    std::string head = text.substr(0, dot);
    std::erase(head, ',');
    return head + text.substr(dot);
}

bool ReadNumber(const Field& f, bool tabbed, const NumberRule& rule, double& out, std::string& reason)
{
    const std::string text = f.quoted || tabbed ? WithoutGrouping(f.text) : f.text;
    const NumberReading r = ReadNumberInput(text, rule);
    if (!r.ok()) return reason = r.refusal + "：" + f.text, false;
    out = r.value;
    return true;
}

bool IsSixDigits(const std::string& s)
{
    return s.size() == 6 && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// An unquoted "1,000.50" on a comma-separated line falls apart into "1" and
// "000.50", which would book 1 yuan at a 0.5 % fee: a short whole number
// followed by a field of three digits is read as that, and refused.
bool LooksSplitByGrouping(const Field& left, const Field& right)
{
    auto digits = [](const std::string& s, size_t from, size_t to) {
        return to > from && s.find_first_not_of("0123456789", from) >= to;
    };
    const std::string& a = left.text;
    const std::string& b = right.text;
    const size_t dot = std::min(b.find('.'), b.size());
    return !left.quoted && !right.quoted && a.size() <= 3 && digits(a, 0, a.size()) && dot == 3 && digits(b, 0, 3) &&
           (dot == b.size() || digits(b, dot + 1, b.size()));
}

// The fee: "1.5" or "1.5%" a rate in percent, "12元" or "12 yuan" an amount (stored negated, as the dialogs do).
bool ParseFee(Field field, bool tabbed, double& stored, std::string& reason)
{
    stored = 0;
    std::string& text = field.text;
    if (text.empty()) return true;
    bool amount = false;
    for (const char* suffix : {"元", "yuan"}) {
        const std::string s = suffix;
        if (text.size() > s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0) {
            text = TrimText(text.substr(0, text.size() - s.size()));
            amount = true;
        }
    }
    if (!amount && !text.empty() && text.back() == '%') text.pop_back();
    double v = 0;
    if (!ReadNumber(field, tabbed, {"手续费", -kMaxFigure, amount ? kMaxFigure : 100, 2, true}, v, reason)) return false;
    if (v < 0) return reason = "手续费不能小于0", false;
    stored = amount ? -v : v;
    return true;
}

bool ParseLine(const std::string& line, int accountId, ImportRow& row, std::string& reason)
{
    std::vector<Field> f = SplitLine(line);
    if (f.size() < 4) return reason = "至少需要日期、基金代码、类型、金额或份数四列", false;
    const bool tabbed = line.find('\t') != std::string::npos;
    f.resize(kColumns);
    if (!tabbed)
        for (int col : {kColQuantity, kColFee})
            if (LooksSplitByGrouping(f[col], f[col + 1]))
                return reason = "数字中的千位分隔符必须放在引号中：" + f[col].text + "," + f[col + 1].text, false;
    TradeInfo& t = row.trade;
    t.AccountID = accountId;
    if (!OleDate::Parse(f[kColDate].text, t.TradeTime) || !t.TradeTime.IsValid())
        return reason = "日期格式错误：" + f[kColDate].text, false;
    if (!IsSixDigits(f[kColFund].text)) return reason = "基金代码必须是6位数字：" + f[kColFund].text, false;
    t.FundID = f[kColFund].text;
    const std::string kind = ToLowerAscii(f[kColKind].text);
    const KindName* k = std::find_if(std::begin(kKinds), std::end(kKinds),
                                     [&](const KindName& n) { return kind == n.text; });
    if (k == std::end(kKinds)) return reason = "未知的交易类型：" + f[kColKind].text, false;
    row.kind = k->kind;
    const bool byShares = row.kind == ImportKind::Redemption || row.kind == ImportKind::Conversion;
    // Below zero is the dialogs' own refusal, in their words.
    const NumberRule quantity{byShares ? "份数" : "金额", -kMaxFigure, kMaxFigure, byShares ? 4 : 2, false};
    if (!ReadNumber(f[kColQuantity], tabbed, quantity, byShares ? t.TradeCount : t.TradeMoney, reason)) return false;
    if (!ParseFee(f[kColFee], tabbed, t.TradeFee, reason)) return false;
    if (!f[kColNav].text.empty()) {
        if (!ReadNumber(f[kColNav], tabbed, {"净值", 0, 10000, 4}, row.nav, reason)) return false;
        if (row.nav <= 0) return reason = "净值必须大于0：" + f[kColNav].text, false;
    }
    if (row.kind == ImportKind::Conversion) {
        if (!IsSixDigits(f[kColTarget].text)) return reason = "转换需要6位数字的目标基金代码", false;
        t.TargetFundID = f[kColTarget].text;
    }
    t.MarkInfo = f[kColRemark].text;
    return true;
}

bool IsHeader(const std::string& line)
{
    const std::string first = ToLowerAscii(SplitLine(line).front().text);
    return first.find("日期") != std::string::npos || first.find("date") != std::string::npos;
}

// The holding's own dividend mode, so that an import does not switch it;
// cash for a new holding.
int HoldingBonusIndex(CAdoDatabase& db, const HoldingKey& key)
{
    double mode = kBonusCash;
    db.QueryDouble("SELECT BonusType FROM T_Fund_Trade WHERE" + key.Where(), mode);
    return static_cast<int>(mode) + 1;
}

double HeldCount(CAdoDatabase& db, const HoldingKey& key)
{
    double n = 0;
    db.QueryDouble("SELECT TotalCount FROM T_Fund_Trade WHERE" + key.Where(), n);
    return n;
}

// One row through the checks and the engine call of its dialog.
bool BookRow(CAccountManager& manager, CAdoDatabase& db, const IFundDirectory* funds, ImportRow& row,
             std::string& reason)
{
    TradeInfo& t = row.trade;
    const HoldingKey key = HoldingKey::Of(t);
    if (row.kind == ImportKind::CashDividend || row.kind == ImportKind::ReinvestDividend) {
        // The manual dividend dialog's checks.
        if (t.TradeMoney <= 0) return reason = "分红金额不能小于或者等于0", false;
        if (t.TradeTime > Clock::Now()) return reason = "交易时间不能大于当前时间", false;
        if (db.GetRecordCount("SELECT FundID FROM T_Fund_Trade WHERE" + key.Where()) == 0)
            return reason = "帐户中没有此基金，不能分红", false;
        t.TradeType = row.kind == ImportKind::CashDividend ? kTradeCashBonus : kTradeBonusReinvest;
        t.BonusType = row.kind == ImportKind::CashDividend ? kBonusCash : kBonusReinvest;
        t.TradeState = kStateConfirmed;
        t.DealTime = t.TradeTime;
        if (manager.ManualDividend(t) < 0) return reason = manager.GetLastErrorText(), false;
        row.feeYuan = 0;
        return true;
    }
    TradeForm form;
    form.kind = row.kind == ImportKind::Purchase       ? FormKind::Purchase
                : row.kind == ImportKind::Subscription ? FormKind::Subscription
                : row.kind == ImportKind::Redemption   ? FormKind::Redemption
                                                       : FormKind::Conversion;
    form.AccountID = t.AccountID;
    form.FundID = t.FundID;
    form.TargetFundID = t.TargetFundID;
    form.BonusIndex = HoldingBonusIndex(db, key);
    form.TargetBonusIndex = HoldingBonusIndex(db, {t.AccountID, t.TargetFundID, kFrontEnd});
    form.Amount = t.TradeMoney;
    form.Count = t.TradeCount;
    form.Fee = std::fabs(t.TradeFee);
    form.FeeIsAmount = t.TradeFee < 0;
    form.TradeTime = t.TradeTime;
    form.MarkInfo = t.MarkInfo;
    form.HeldCount = HeldCount(db, key);
    // Imported rows carry their own dividends: no automatic dividends on top.
    form.NoAutoBonus = true;
    // The establishment date as the subscription dialog knows it; unknown passes.
    form.EstablishDate = OleDate(0);
    if (form.kind == FormKind::Subscription && funds) funds->GetEstablishDate(t.FundID, form.EstablishDate);
    FormResult checked = CheckTradeForm(form, UserBonusLookup(manager));
    if (!checked.ok) return reason = checked.message, false;
    TradeInfo trade = checked.trade;
    if (manager.BookTrade(trade) < 0) return reason = manager.GetLastErrorText(), false;
    if (row.nav > 0 && std::fabs(trade.TradeValue - row.nav) > 0.00005)
        return reason = StrFormat("文件中的净值%0.4f与记帐净值%0.4f不符", row.nav, trade.TradeValue), false;
    t = trade;
    row.feeYuan = Round2(CAccountManager::GetTradeFee(trade));
    return true;
}

}  // namespace

std::set<int> DuplicateLines(const std::vector<ImportRow>& rows, const AccountInfo& account)
{
    auto typeOf = [](ImportKind k) {
        switch (k) {
        case ImportKind::Purchase: return kTradeBuy;
        case ImportKind::Subscription: return kTradeSubscribe;
        case ImportKind::Redemption: return kTradeRedeem;
        case ImportKind::Conversion: return kTradeConvertOut;
        case ImportKind::CashDividend: return kTradeCashBonus;
        case ImportKind::ReinvestDividend: return kTradeBonusReinvest;
        }
        return kTradeBuy;
    };
    // Each trade in the books answers one row: a file that holds the same
    // purchase twice, against one in the books, has one duplicate.
    std::vector<const TradeInfo*> unmatched;
    for (const auto& [id, t] : account.trades) unmatched.push_back(&t);
    std::set<int> lines;
    for (const ImportRow& row : rows) {
        const TradeInfo& r = row.trade;
        const bool byShares = row.kind == ImportKind::Redemption || row.kind == ImportKind::Conversion;
        auto same = std::find_if(unmatched.begin(), unmatched.end(), [&](const TradeInfo* t) {
            return t->FundID == r.FundID && t->BuyType == kFrontEnd && t->TradeType == typeOf(row.kind) &&
                   t->TradeTime.DateOnly() == r.TradeTime.DateOnly() &&
                   (byShares ? Round2(t->TradeCount) == Round2(r.TradeCount)
                             : Round2(t->TradeMoney) == Round2(r.TradeMoney));
        });
        if (same == unmatched.end()) continue;
        lines.insert(row.line);
        unmatched.erase(same);
    }
    return lines;
}

const char* ImportKindName(ImportKind kind)
{
    switch (kind) {
    case ImportKind::Purchase: return "申购";
    case ImportKind::Subscription: return "认购";
    case ImportKind::Redemption: return "赎回";
    case ImportKind::Conversion: return "转换";
    case ImportKind::CashDividend: return "现金红利";
    case ImportKind::ReinvestDividend: return "红利转投";
    }
    return "";
}

std::string ImportRefusal::Text() const
{
    return line > 0 ? StrFormat("第%d行：%s", line, reason.c_str()) : reason;  // 0: the whole file
}

namespace {

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 after its byte-order mark; false for an odd length or a lone surrogate.
bool Utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& out)
{
    if (bytes.size() % 2) return false;
    auto unit = [&](size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00) {
            if (i + 2 >= bytes.size()) return false;
            const uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low >= 0xE000) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c < 0xE000) {
            return false;
        }
        AppendUtf8(out, c);
    }
    return true;
}

}  // namespace

ImportText DecodeImportText(const std::string& bytes)
{
    ImportText t;
    std::string text;
    if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0) {
        if (!Utf16ToUtf8(std::string_view(bytes).substr(2), bytes[0] == '\xFE', text)) {
            t.refusal = "文件不是完整的UTF-16编码，无法读取";
            return t;
        }
    } else {
        text = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? bytes.substr(3) : bytes;
        // UTF-16 without its mark: every other byte of an ASCII text is 0.
        if (std::count(text.begin(), text.end(), '\0') * 4 > static_cast<std::ptrdiff_t>(text.size())) {
            t.refusal = "文件是没有字节顺序标记的UTF-16编码，请另存为UTF-8或带字节顺序标记的UTF-16";
            return t;
        }
    }
    // UTF-8 when the whole file is; otherwise GBK, each line by itself (a
    // line break is never part of a GBK character), so that a line GBK
    // cannot read is refused by its number instead of taking the rest of
    // the file with it.
    const bool utf8 = IsValidUtf8(text);
    for (size_t pos = 0; pos <= text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        bool readable = line.find('\0') == std::string::npos;
        if (readable && !utf8 && !IsValidUtf8(line)) {
            const std::string converted = GbkToUtf8(line);
            readable = Utf8ToGbk(converted) == line;
            line = converted;
        }
        t.lines.push_back(readable ? line : std::string());
        t.readable.push_back(readable);
    }
    return t;
}

ImportResult ParseTradeCsv(const std::string& bytes, int accountId)
{
    ImportResult result;
    const ImportText text = DecodeImportText(bytes);
    if (!text.refusal.empty()) {
        result.refusals.push_back({0, text.refusal});
        return result;
    }
    bool seenData = false;
    for (size_t i = 0; i < text.lines.size(); ++i) {
        const int lineNo = static_cast<int>(i) + 1;
        if (!text.readable[i]) {
            result.refusals.push_back({lineNo, "含有无法识别的字符"});
            seenData = true;
            continue;
        }
        const std::string line = TrimText(text.lines[i]);
        if (line.empty() || line[0] == '#') continue;
        if (!seenData && IsHeader(line)) {
            seenData = true;
            continue;
        }
        seenData = true;
        ImportRow row;
        row.line = lineNo;
        std::string reason;
        if (ParseLine(line, accountId, row, reason)) result.rows.push_back(row);
        else result.refusals.push_back({lineNo, reason});
    }
    if (result.rows.empty() && result.refusals.empty()) result.refusals.push_back({0, "文件中没有交易记录"});
    return result;
}

ImportResult ImportTrades(CAccountManager& manager, CAdoDatabase& db, int accountId, const std::string& bytes,
                          bool dryRun, const IFundDirectory* funds, const ImportControl& control)
{
    ImportResult result = ParseTradeCsv(bytes, accountId);
    if (!manager.FindAccount(accountId)) {
        result.refusals.insert(result.refusals.begin(), {0, "请先选择基金帐户"});
        return result;
    }
    if (result.rows.empty()) return result;
    manager.LoadUserBonus();  // the mixed-mode ranges the checks look up
    const std::set<int> duplicates = DuplicateLines(result.rows, *manager.FindAccount(accountId));
    std::stable_sort(result.rows.begin(), result.rows.end(),
                     [](const ImportRow& a, const ImportRow& b) { return a.trade.TradeTime < b.trade.TradeTime; });
    auto cancelled = [&control] { return control.cancelled && control.cancelled->load(); };
    bool committed = false;
    {
        CAdoTransaction trans(db);
        if (!trans.IsActive()) {
            result.refusals.push_back({0, "数据库错误:" + db.GetLastError()});
            return result;
        }
        // The account is recomputed once at the end, not from all its
        // trades after every row.
        manager.DeferRecompute(true);
        // The file's own dividends only: the automatic ones would pay them again.
        manager.SetAutomaticDividends(false);
        // Every row is tried, so one run lists all refusals; later rows see
        // the earlier ones booked.
        size_t done = 0;
        for (ImportRow& row : result.rows) {
            if (cancelled()) break;
            row.duplicate = duplicates.count(row.line) > 0;
            std::string reason;
            if ((!row.duplicate || control.bookDuplicates) && !BookRow(manager, db, funds, row, reason))
                result.refusals.push_back({row.line, reason});
            if (control.progress) control.progress(++done, result.rows.size());
        }
        manager.SetAutomaticDividends(true);
        manager.DeferRecompute(false);
        std::stable_sort(result.refusals.begin(), result.refusals.end(),
                         [](const ImportRefusal& a, const ImportRefusal& b) { return a.line < b.line; });
        result.cancelled = cancelled();
        if (!dryRun && result.refusals.empty() && !result.cancelled) {
            if (!manager.FinishBookings(accountId))
                result.refusals.push_back({0, manager.GetLastErrorText()});
            else if (cancelled())
                result.cancelled = true;
            else if (!(committed = trans.Commit()))
                result.refusals.push_back({0, "数据库错误:" + db.GetLastError()});
        }
    }
    if (!committed) {
        // The engine's lists followed the rolled-back bookings: read them again.
        manager.ReadHoldings(accountId);
        manager.RefreshAccount(accountId);
    }
    result.booked = committed;
    return result;
}

CFundFacts::CFundFacts(const IFundDirectory* from, const std::vector<std::string>& fundIds)
{
    for (const std::string& id : fundIds) {
        Fact f;
        if (from) {
            f.known = from->IsKnownFund(id);
            f.moneyMarket = from->IsMoneyMarketFund(id);
            f.established = from->GetEstablishDate(id, f.establishDate);
        }
        m_facts[id] = f;
    }
}

bool CFundFacts::IsMoneyMarketFund(const std::string& fundId) const
{
    auto it = m_facts.find(fundId);
    return it != m_facts.end() && it->second.moneyMarket;
}

bool CFundFacts::IsKnownFund(const std::string& fundId) const
{
    auto it = m_facts.find(fundId);
    return it == m_facts.end() || it->second.known;
}

bool CFundFacts::GetEstablishDate(const std::string& fundId, OleDate& date) const
{
    auto it = m_facts.find(fundId);
    if (it == m_facts.end() || !it->second.established) return false;
    date = it->second.establishDate;
    return true;
}

ImportJob PrepareImport(CAccountManager& manager, const CAdoDatabase& db, const IFundDirectory* funds, int accountId,
                        const std::string& bytes, bool dryRun)
{
    ImportJob job;
    job.db = db;
    job.services = manager.Services();
    job.offline = manager.IsOffline();
    job.userId = manager.GetUserID();
    job.accountId = accountId;
    job.bytes = bytes;
    job.dryRun = dryRun;
    std::vector<std::string> ids;
    const ImportResult parsed = ParseTradeCsv(bytes, accountId);
    job.rows = parsed.rows.size();
    for (const ImportRow& row : parsed.rows) {
        ids.push_back(row.trade.FundID);
        if (!row.trade.TargetFundID.empty()) ids.push_back(row.trade.TargetFundID);
    }
    if (const AccountInfo* a = manager.FindAccount(accountId)) {
        for (const FundTradeInfo& h : a->holdings) ids.push_back(h.FundID);
        job.duplicates = DuplicateLines(parsed.rows, *a).size();
    }
    job.funds = std::make_shared<CFundFacts>(funds, ids);
    return job;
}

ImportResult ImportTradesElsewhere(const ImportJob& job, const ImportControl& control)
{
    ImportResult failed;
    CAdoDatabase own;
    if (!own.OpenAnother(job.db)) {
        failed.refusals.push_back({0, "数据库错误:" + own.GetLastError()});
        return failed;
    }
    CAccountManager engine;
    engine.Init(own, job.userId, job.offline, job.services, job.funds.get());
    engine.SkipDividendsAll();
    if (!engine.LoadAccounts(job.userId)) {
        failed.refusals.push_back({0, engine.GetLastErrorText()});
        return failed;
    }
    ImportControl withJob = control;
    withJob.bookDuplicates = job.bookDuplicates;
    ImportResult result = ImportTrades(engine, own, job.accountId, job.bytes, job.dryRun, job.funds.get(), withJob);
    own.Close();
    return result;
}

}  // namespace vextal

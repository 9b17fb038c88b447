#include "book/TradeImport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

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

bool ParseNumber(const std::string& text, double& out)
{
    std::string t;
    for (char c : text)
        if (c != ',' && c != ' ') t += c;  // thousands separators as a statement prints them
    if (t.empty()) return false;
    char* end = nullptr;
    out = std::strtod(t.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out);
}

std::vector<std::string> SplitLine(const std::string& line)
{
    // Tab-separated when the line has a tab: amounts may then carry commas.
    const char sep = line.find('\t') != std::string::npos ? '\t' : ',';
    std::vector<std::string> fields;
    std::string cur;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        else if (c == sep && !quoted) fields.push_back(TrimText(cur)), cur.clear();
        else cur += c;
    }
    fields.push_back(TrimText(cur));
    return fields;
}

bool IsSixDigits(const std::string& s)
{
    return s.size() == 6 && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The fee: "1.5" or "1.5%" a rate in percent, "12元" or "12 yuan" an amount (stored negated, as the dialogs do).
bool ParseFee(std::string text, double& stored, std::string& reason)
{
    stored = 0;
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
    if (!ParseNumber(text, v)) return reason = "手续费格式错误：" + text, false;
    if (v < 0) return reason = "手续费不能小于0", false;
    stored = amount ? -v : v;
    return true;
}

bool ParseLine(const std::string& line, int accountId, ImportRow& row, std::string& reason)
{
    std::vector<std::string> f = SplitLine(line);
    if (f.size() < 4) return reason = "至少需要日期、基金代码、类型、金额或份数四列", false;
    f.resize(kColumns);
    TradeInfo& t = row.trade;
    t.AccountID = accountId;
    if (!OleDate::Parse(f[kColDate], t.TradeTime) || !t.TradeTime.IsValid())
        return reason = "日期格式错误：" + f[kColDate], false;
    if (!IsSixDigits(f[kColFund])) return reason = "基金代码必须是6位数字：" + f[kColFund], false;
    t.FundID = f[kColFund];
    const std::string kind = ToLowerAscii(f[kColKind]);
    const KindName* k = std::find_if(std::begin(kKinds), std::end(kKinds),
                                     [&](const KindName& n) { return kind == n.text; });
    if (k == std::end(kKinds)) return reason = "未知的交易类型：" + f[kColKind], false;
    row.kind = k->kind;
    double quantity = 0;
    if (!ParseNumber(f[kColQuantity], quantity)) return reason = "金额或份数格式错误：" + f[kColQuantity], false;
    const bool byShares = row.kind == ImportKind::Redemption || row.kind == ImportKind::Conversion;
    (byShares ? t.TradeCount : t.TradeMoney) = quantity;
    if (!ParseFee(f[kColFee], t.TradeFee, reason)) return false;
    if (!f[kColNav].empty() && (!ParseNumber(f[kColNav], row.nav) || row.nav <= 0))
        return reason = "净值格式错误：" + f[kColNav], false;
    if (row.kind == ImportKind::Conversion) {
        if (!IsSixDigits(f[kColTarget])) return reason = "转换需要6位数字的目标基金代码", false;
        t.TargetFundID = f[kColTarget];
    }
    t.MarkInfo = f[kColRemark];
    return true;
}

bool IsHeader(const std::string& line)
{
    const std::string first = ToLowerAscii(SplitLine(line).front());
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

// The service as a run of many rows asks it. Each row asks the dividends of
// its holding from the holding's last dividend or trade up to now: the
// dividends of a fund are asked once over the whole run instead, and a
// row's question that none of them can answer is answered "none" here.
// Every other question goes to the service, so each answer is the
// service's own.
class CImportServices : public IBookServices {
public:
    CImportServices(IBookServices& live, const OleDate& firstRow) : m_live(live), m_firstDay(firstRow.DateOnly()) {}

    bool GetFundTradeValue(const std::string& fundId, const OleDate& tradeTime, double& value, OleDate& dealTime,
                           std::string& error) override
    {
        return m_live.GetFundTradeValue(fundId, tradeTime, value, dealTime, error);
    }
    int QueryDividends(const std::string& fundId, const OleDate& start, const OleDate& end, double shares,
                       int bonusType, std::vector<DividendItem>& items, std::string& error) override
    {
        const Known* known = KnownDividends(fundId, end);
        if (known && start >= m_firstDay && end.DateOnly() <= known->until.DateOnly()) {
            // The service counts only ex-days after the day the holding
            // starts (BookDate is the ex-day): none of those, no question.
            bool later = false;
            for (const DividendItem& d : known->items) later = later || d.BookDate > start.DateOnly();
            if (!later) {
                items.clear();
                return kDividendOk;
            }
        }
        return m_live.QueryDividends(fundId, start, end, shares, bonusType, items, error);
    }
    int QueryMoneyIncome(const std::string& fundId, const OleDate& start, const OleDate& end, double shares,
                         double& amount, OleDate& date, std::string& error) override
    {
        return m_live.QueryMoneyIncome(fundId, start, end, shares, amount, date, error);
    }
    bool GetLatestValue(const std::string& fundId, double& value, OleDate& valueDate, std::string& error) override
    {
        return m_live.GetLatestValue(fundId, value, valueDate, error);
    }
    bool CancelTrade(int tradeId, std::string& error) override { return m_live.CancelTrade(tradeId, error); }

private:
    struct Known {
        OleDate until;
        std::vector<DividendItem> items;
    };
    const Known* KnownDividends(const std::string& fundId, const OleDate& end)
    {
        auto it = m_known.find(fundId);
        if (it == m_known.end()) {
            Known k;
            k.until = end;
            std::string error;
            if (m_live.QueryDividends(fundId, m_firstDay.AddDays(-10), end, 1, kBonusCash, k.items, error) !=
                kDividendOk)
                return nullptr;  // asked again by the row itself, which reports its failure
            it = m_known.emplace(fundId, std::move(k)).first;
        }
        return &it->second;
    }

    IBookServices& m_live;
    OleDate m_firstDay;
    std::map<std::string, Known> m_known;
};

}  // namespace

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

std::string DecodeImportText(const std::string& bytes)
{
    std::string text = bytes;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    return IsValidUtf8(text) ? text : GbkToUtf8(text);
}

ImportResult ParseTradeCsv(const std::string& bytes, int accountId)
{
    ImportResult result;
    const std::string text = DecodeImportText(bytes);
    int lineNo = 0;
    bool seenData = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = TrimText(line);
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
        // Every row is tried, so one run lists all refusals; later rows see
        // the earlier ones booked.
        size_t done = 0;
        for (ImportRow& row : result.rows) {
            if (cancelled()) break;
            std::string reason;
            if (!BookRow(manager, db, funds, row, reason)) result.refusals.push_back({row.line, reason});
            if (control.progress) control.progress(++done, result.rows.size());
        }
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
    job.firstTrade = Clock::Now();
    for (const ImportRow& row : parsed.rows) {
        ids.push_back(row.trade.FundID);
        if (!row.trade.TargetFundID.empty()) ids.push_back(row.trade.TargetFundID);
        job.firstTrade = std::min(job.firstTrade, row.trade.TradeTime);
    }
    if (const AccountInfo* a = manager.FindAccount(accountId))
        for (const FundTradeInfo& h : a->holdings) ids.push_back(h.FundID);
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
    std::unique_ptr<CImportServices> services;
    if (job.services) services = std::make_unique<CImportServices>(*job.services, job.firstTrade);
    CAccountManager engine;
    engine.Init(own, job.userId, job.offline, services.get(), job.funds.get());
    engine.SkipDividendsAll();
    if (!engine.LoadAccounts(job.userId)) {
        failed.refusals.push_back({0, engine.GetLastErrorText()});
        return failed;
    }
    ImportResult result = ImportTrades(engine, own, job.accountId, job.bytes, job.dryRun, job.funds.get(), control);
    own.Close();
    return result;
}

}  // namespace vextal

#include "WebPages.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "CommandService.h"
#include "DataWebService.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/CommandProtocol.h"

namespace vextal {
namespace {

const char* const kStyle =
    "body{font-family:\"WenQuanYi Micro Hei\",\"Microsoft YaHei\",sans-serif;font-size:13px;margin:10px 14px;"
    "color:#222;background:#fff}"
    "h1{font-size:18px;color:#1d4f91;margin:4px 0 8px;border-bottom:2px solid #1d4f91;padding-bottom:4px}"
    "h2{font-size:14px;color:#1d4f91;margin:14px 0 6px}"
    "table{border-collapse:collapse;margin:4px 0 10px}"
    "td,th{border:1px solid #c8d4e6;padding:3px 8px;text-align:right;white-space:nowrap}"
    "th{background:#eef3fa;text-align:center}td.l{text-align:left}"
    ".up{color:#d00}.down{color:#007c00}.name{color:#3179bd}.note{color:#666}.warn{color:#b00;font-weight:bold}"
    "form{background:#f6f8fb;border:1px solid #dde5f0;padding:6px 10px;margin:6px 0}"
    "input,select,textarea{font-size:13px;margin-right:8px}a{color:#1d4f91}";

std::string Esc(const std::string& text) { return XmlEscape(text); }

std::string Head(const std::string& title)
{
    return "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>" + Esc(title) +
           "</title><style>" + kStyle + "</style></head><body><h1>" + Esc(title) + "</h1>";
}

std::string Tail() { return "<p class=\"note\">数据来源：Plindo基金数据中心 · " + Clock::Now().Format(6) + "</p></body></html>"; }

std::string Param(const PageParams& p, const char* key)
{
    auto it = p.find(key);
    return it == p.end() ? std::string() : it->second;
}

// A percentage cell coloured by its sign.
std::string PctCell(double v)
{
    const char* cls = v > 0.00499 ? "up" : (v < -0.00499 ? "down" : "");
    return StrFormat("<td class=\"%s\">%0.2f%%</td>", cls, v);
}

std::string MoneyCell(double v)
{
    const char* cls = v > 0.00499 ? "up" : (v < -0.00499 ? "down" : "");
    return StrFormat("<td class=\"%s\">%0.2f</td>", cls, v);
}

std::string InvestTypeName(int t)
{
    switch (t) {
    case 2: return "混合";
    case 3: return "债券";
    case 4: return "现金";
    default: return "股票";
    }
}

std::string FundTypeName(int t)
{
    switch (t) {
    case 2: return "封闭式";
    case 3: return "ETF";
    case 4: return "LOF";
    case 5: return "集合理财";
    default: return "开放式";
    }
}

// At most `chars` characters of a UTF-8 name, "…" marking a cut.
std::string ShortLabel(const std::string& name, size_t chars)
{
    size_t count = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;
        if (count++ == chars) return name.substr(0, i) + "…";
    }
    return name;
}

const char* const kPalette[] = {"#3b7dd8", "#e8702a", "#3aa757", "#d9453d", "#8e5bc5",
                                "#c9a227", "#2fa7b5", "#b05a8c", "#6b7b8c", "#94b63c"};

// A line chart of several series over the same x positions; NaN leaves a gap.
std::string SvgLines(const std::vector<std::pair<std::string, std::vector<double>>>& series,
                     const std::string& firstLabel, const std::string& lastLabel, const char* unit)
{
    const int w = 640, h = 240, left = 56, right = 12, top = 12, bottom = 40;
    double lo = 1e300, hi = -1e300;
    size_t n = 0;
    for (const auto& s : series) {
        n = std::max(n, s.second.size());
        for (double v : s.second)
            if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
    }
    std::string svg = StrFormat("<svg width=\"%d\" height=\"%d\" "
                                "viewBox=\"0 0 %d %d\" style=\"max-width:100%%;height:auto;border:1px solid #dde5f0;background:#fcfdff\">",
                                w, h + 20 * static_cast<int>((series.size() + 3) / 4), w,
                                h + 20 * static_cast<int>((series.size() + 3) / 4));
    if (n < 2 || lo > hi) return svg + "<text x=\"20\" y=\"40\">暂无数据</text></svg>";
    if (hi - lo < 1e-9) hi = lo + 1;
    const double pad = (hi - lo) * 0.05;
    lo -= pad;
    hi += pad;
    auto X = [&](size_t i) { return left + (w - left - right) * static_cast<double>(i) / static_cast<double>(n - 1); };
    auto Y = [&](double v) { return top + (h - top - bottom) * (hi - v) / (hi - lo); };
    for (int k = 0; k <= 4; ++k) {
        double v = lo + (hi - lo) * k / 4;
        svg += StrFormat("<line x1=\"%d\" y1=\"%0.1f\" x2=\"%d\" y2=\"%0.1f\" stroke=\"#e3e8f0\"/>"
                         "<text x=\"%d\" y=\"%0.1f\" font-size=\"11\" text-anchor=\"end\" fill=\"#555\">%0.*f%s</text>",
                         left, Y(v), w - right, Y(v), left - 4, Y(v) + 4, hi - lo < 0.5 ? 3 : 2, v, unit);
    }
    svg += StrFormat("<text x=\"%d\" y=\"%d\" font-size=\"11\" fill=\"#555\">%s</text>", left, h - bottom + 16,
                     Esc(firstLabel).c_str());
    svg += StrFormat("<text x=\"%d\" y=\"%d\" font-size=\"11\" text-anchor=\"end\" fill=\"#555\">%s</text>", w - right,
                     h - bottom + 16, Esc(lastLabel).c_str());
    for (size_t k = 0; k < series.size(); ++k) {
        const char* colour = kPalette[k % std::size(kPalette)];
        std::string d;
        bool pen = false;
        for (size_t i = 0; i < series[k].second.size(); ++i) {
            double v = series[k].second[i];
            if (!std::isfinite(v)) {
                pen = false;
                continue;
            }
            d += StrFormat("%c%0.1f,%0.1f ", pen ? 'L' : 'M', X(i), Y(v));
            pen = true;
        }
        svg += "<path d=\"" + d + "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1.6\"/>";
        const int lx = left + static_cast<int>(k % 4) * 145, ly = h + 4 + 20 * static_cast<int>(k / 4);
        svg += StrFormat("<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"10\" fill=\"%s\"/>"
                         "<text x=\"%d\" y=\"%d\" font-size=\"12\">%s</text>",
                         lx, ly, colour, lx + 16, ly + 10, Esc(series[k].first).c_str());
    }
    return svg + "</svg>";
}

// The chart of the financing analysis: 1 pie, 2 columns, 3 bars.
std::string SvgChart(const std::vector<std::pair<std::string, double>>& items, int style)
{
    const int w = 640, h = 340;
    std::string svg = StrFormat("<svg width=\"%d\" height=\"%d\" "
                                "viewBox=\"0 0 %d %d\" style=\"max-width:100%%;height:auto;border:1px solid #dde5f0;background:#fcfdff\">",
                                w, h, w, h);
    if (items.empty()) return svg + "<text x=\"20\" y=\"40\">没有可统计的数据</text></svg>";
    if (style == 1) {
        double total = 0;
        for (const auto& it : items) total += std::max(0.0, it.second);
        const double cx = 170, cy = 170, r = 140;
        if (total <= 0) {
            svg += "<text x=\"20\" y=\"40\">各项均不大于0，无法绘制饼图</text>";
        } else {
            double a0 = -M_PI / 2;
            for (size_t k = 0; k < items.size(); ++k) {
                const double v = std::max(0.0, items[k].second);
                if (v <= 0) continue;
                const double a1 = a0 + 2 * M_PI * v / total;
                const char* colour = kPalette[k % std::size(kPalette)];
                if (v >= total - 1e-9) {
                    svg += StrFormat("<circle cx=\"%0.1f\" cy=\"%0.1f\" r=\"%0.1f\" fill=\"%s\"/>", cx, cy, r, colour);
                } else {
                    svg += StrFormat("<path d=\"M%0.1f,%0.1f L%0.2f,%0.2f A%0.1f,%0.1f 0 %d 1 %0.2f,%0.2f Z\" "
                                     "fill=\"%s\" stroke=\"#fff\"/>",
                                     cx, cy, cx + r * std::cos(a0), cy + r * std::sin(a0), r, r,
                                     a1 - a0 > M_PI ? 1 : 0, cx + r * std::cos(a1), cy + r * std::sin(a1), colour);
                }
                a0 = a1;
            }
        }
        for (size_t k = 0; k < items.size() && k < 14; ++k) {
            const int y = 30 + static_cast<int>(k) * 21;
            const double share = total > 0 ? std::max(0.0, items[k].second) * 100 / total : 0;
            svg += StrFormat("<rect x=\"340\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\"/>"
                             "<text x=\"358\" y=\"%d\" font-size=\"12\">%s %0.2f (%0.1f%%)</text>",
                             y, kPalette[k % std::size(kPalette)], y + 11, Esc(ShortLabel(items[k].first, 12)).c_str(),
                             items[k].second, share);
        }
        return svg + "</svg>";
    }
    double lo = 0, hi = 0;
    for (const auto& it : items) lo = std::min(lo, it.second), hi = std::max(hi, it.second);
    if (hi - lo < 1e-9) hi = lo + 1;
    const size_t n = items.size();
    if (style == 2) {
        const int left = 60, right = 40, top = 16, bottom = 84;
        auto Y = [&](double v) { return top + (h - top - bottom) * (hi - v) / (hi - lo); };
        const double slot = static_cast<double>(w - left - right) / static_cast<double>(n);
        svg += StrFormat("<line x1=\"%d\" y1=\"%0.1f\" x2=\"%d\" y2=\"%0.1f\" stroke=\"#888\"/>", left, Y(0), w - right, Y(0));
        for (size_t k = 0; k < n; ++k) {
            const double v = items[k].second, x = left + slot * static_cast<double>(k) + slot * 0.15;
            const double y0 = Y(std::max(0.0, v)), y1 = Y(std::min(0.0, v));
            svg += StrFormat("<rect x=\"%0.1f\" y=\"%0.1f\" width=\"%0.1f\" height=\"%0.1f\" fill=\"%s\"/>"
                             "<text x=\"%0.1f\" y=\"%0.1f\" font-size=\"11\" text-anchor=\"middle\">%0.2f</text>"
                             "<text x=\"%0.1f\" y=\"%d\" font-size=\"11\" text-anchor=\"middle\">%s</text>",
                             x, y0, slot * 0.7, std::max(1.0, y1 - y0), kPalette[k % std::size(kPalette)],
                             x + slot * 0.35, v < 0 ? y1 + 12 : y0 - 3, v, x + slot * 0.35,
                             h - bottom + 34 + static_cast<int>(k % 2) * 14,
                             Esc(ShortLabel(items[k].first, static_cast<size_t>(std::max(2, static_cast<int>(slot * 1.6 / 12) - 1)))).c_str());
        }
        return svg + "</svg>";
    }
    // Bars: one row per item, names at the left; the picture as tall as its rows.
    const int left = 170, right = 70, top = 10;
    const double row = std::max(12.0, std::min(28.0, 600.0 / static_cast<double>(n)));
    const int bh = 2 * top + static_cast<int>(row * static_cast<double>(n));
    svg = StrFormat("<svg width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                    "style=\"max-width:100%%;height:auto;border:1px solid #dde5f0;background:#fcfdff\">",
                    w, bh, w, bh);
    auto X = [&](double v) { return left + (w - left - right) * (v - lo) / (hi - lo); };
    svg += StrFormat("<line x1=\"%0.1f\" y1=\"%d\" x2=\"%0.1f\" y2=\"%d\" stroke=\"#888\"/>", X(0), top, X(0), bh - top);
    for (size_t k = 0; k < n; ++k) {
        const double v = items[k].second, y = top + row * static_cast<double>(k);
        const double x0 = X(std::min(0.0, v)), x1 = X(std::max(0.0, v));
        svg += StrFormat("<text x=\"%d\" y=\"%0.1f\" font-size=\"12\" text-anchor=\"end\">%s</text>"
                         "<rect x=\"%0.1f\" y=\"%0.1f\" width=\"%0.1f\" height=\"%0.1f\" fill=\"%s\"/>"
                         "<text x=\"%0.1f\" y=\"%0.1f\" font-size=\"11\">%0.2f</text>",
                         left - 6, y + row * 0.65, Esc(ShortLabel(items[k].first, 12)).c_str(), x0, y + row * 0.15,
                         std::max(1.0, x1 - x0), row * 0.7, kPalette[k % std::size(kPalette)], x1 + 4, y + row * 0.65, v);
    }
    return svg + "</svg>";
}

// `text` cut to at most `bytes` bytes without splitting a character.
std::string CutUtf8(std::string text, size_t bytes)
{
    if (text.size() <= bytes) return text;
    text.resize(bytes);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
    if (!text.empty() && (static_cast<unsigned char>(text.back()) & 0x80)) text.pop_back();
    return text;
}

std::string ColumnText(sqlite3_stmt* st, int i)
{
    const unsigned char* t = sqlite3_column_text(st, i);
    return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
}

std::string FundLink(const SimFund& f)
{
    return "<a class=\"name\" href=\"/fundinfo/FundInfoClient.asp?FundID=" + f.code + "\">" + Esc(f.name) + "</a>";
}

// Subscription state of a fund on a day, from its life cycle: subscription
// before its first NAV, a closed building period of 30 days after it,
// cleared after withdrawal; among open funds a few large ones limit big
// purchases, and QDII-like sector funds pause one day in twenty.
std::string BuyState(const SimFund& f, int day, std::string& sell)
{
    sell = "开放赎回";
    if (f.createDay > day) return sell = "未开放", "认购期";
    if (f.withdrawDay && f.withdrawDay < day) return sell = "已清盘", "已清盘";
    if (f.fundType == 2) return sell = "场内交易", "封闭期";
    if (day - f.createDay < 30) return sell = "封闭期", "封闭期";
    if (f.newCount > 80) return "暂停大额申购";
    if ((f.ordinal * 7 + day) % 20 == 0) return "暂停申购";
    return "开放申购";
}

}  // namespace

CWebPages::CWebPages(const CMarket& market, CUserStore& users)
    : m_market(market), m_users(users), m_members(users)
{
    // The same first folder as the command service gives a new member, so
    // the first page a member opens does not make folders that differ.
    m_members.SetStarterFunds(m_market.StarterFunds(DayNumber(Clock::Now())));
}

const std::vector<std::string>& CWebPages::Paths()
{
    static const std::vector<std::string> paths = {
        "plindo/tool/myfundfocus.aspx",   "plindo/tool/financingnotepad.aspx",   "plindo/tool/FundFilterView.aspx",
        "plindo/Info/FundStateIndex.aspx", "fundinfo/FundInfoClient.asp",       "plindo/Tool/FundCompareIndex.aspx",
        "plindo/vip/FundIncomeTool.aspx", "html/top/StatTopView.htm",           "report/FundHistoryTopIndex.htm",
        "vip/realstock.asp",              "html/Data/FundState.htm",            "plindo/newvip/RealtimeCalcView.aspx",
        "plindo/Account/FinancingAnalyseResult.aspx", "plindo/User/VIPFunction.htm", "plindo/SuggestView.aspx",
        "plindo/Login.aspx",
    };
    return paths;
}

bool CWebPages::Page(const std::string& path, const PageParams& p, bool post, std::string& html)
{
    // The site's addresses are case-insensitive (the tool pages are linked
    // as "Tool" and "tool").
    std::string key = path;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key == "plindo/tool/myfundfocus.aspx") html = MyFunds(p);
    else if (key == "plindo/tool/financingnotepad.aspx") html = Notepad(p, post);
    else if (key == "plindo/tool/fundfilterview.aspx") html = FundFilter(p);
    else if (key == "plindo/info/fundstateindex.aspx") html = FundState(p, false);
    else if (key == "fundinfo/fundinfoclient.asp") html = FundInfo(p);
    else if (key == "plindo/tool/fundcompareindex.aspx") html = FundCompare(p);
    else if (key == "plindo/vip/fundincometool.aspx") html = IncomeTool(p);
    else if (key == "html/top/stattopview.htm") html = TopView();
    else if (key == "report/fundhistorytopindex.htm") html = HistoryTop();
    else if (key == "vip/realstock.asp") html = IndexQuotes(p);
    else if (key == "html/data/fundstate.htm") html = FundState(p, true);
    else if (key == "plindo/newvip/realtimecalcview.aspx") html = RealtimeCalc(p);
    else if (key == "plindo/account/financinganalyseresult.aspx") html = FinancingResult(p);
    else if (key == "plindo/user/vipfunction.htm") html = VipFunctions();
    else if (key == "plindo/suggestview.aspx") html = Suggest(p, post);
    else if (key == "plindo/login.aspx") html = Login(p, post);
    else return false;
    return true;
}

CWebPages::Member CWebPages::CheckMember(const PageParams& p)
{
    Member m;
    const std::string loginId = Param(p, "loginid"), userText = Param(p, "userid");
    int claimed = 0, sessionUser = 0;
    if (loginId.empty()) {
        m.refusal = "请先登录：此页面需要从Vextal程序中打开。";
    } else if (!ParseInt(userText, claimed) || !m_users.FindSession(loginId, sessionUser) || sessionUser != claimed ||
               !m_users.FindById(sessionUser, m.user)) {
        m.refusal = "登录信息无效（loginid与userid不符或已过期），请重新登录程序后再打开此页面。";
    } else {
        m.known = true;
    }
    return m;
}

std::vector<const SimFund*> CWebPages::ListedFunds(int day) const
{
    std::vector<const SimFund*> out;
    for (const SimFund& f : m_market.Funds())
        if (m_market.IsListed(f, day) && !m_market.IsWithdrawn(f, day)) out.push_back(&f);
    return out;
}

std::string CWebPages::HoldingsDateText(const MarketFund& fund, int day) const
{
    const int disclosed = m_market.HoldingsDate(fund, day);
    return disclosed ? DateOfDay(disclosed).Format(1) : "—";
}

std::string CWebPages::FundName(const std::string& code) const
{
    const SimFund* f = m_market.FindFund(code);
    return f ? f->name : code;
}

namespace {

const char* const kValueHeader =
    "<tr><th>基金代码</th><th>基金名称</th><th>类型</th><th>净值日期</th><th>单位净值</th><th>累计净值</th>"
    "<th>日增长率</th><th>一个月</th><th>三个月</th><th>一年</th><th>今年以来</th></tr>";

std::string ValueRow(const SimFund& f, const LatestValue& v)
{
    const bool money = f.IsMoneyMarket();
    std::string row = "<tr><td>" + f.code + "</td><td class=\"l\">" + FundLink(f) + "</td><td>" +
                      InvestTypeName(f.investType) + "</td><td>" + DateOfDay(v.rec.day).Format(1) + "</td>";
    row += StrFormat("<td>%0.4f</td><td>%s</td>", v.rec.nav, money ? "—" : StrFormat("%0.4f", v.rec.acc).c_str());
    row += PctCell(v.rec.pct) + PctCell(v.month) + PctCell(v.threeMonth) + PctCell(v.oneYear) + PctCell(v.thisYear) + "</tr>";
    return row;
}

}  // namespace

std::string CWebPages::MyFunds(const PageParams& p)
{
    std::string html = Head("我的基金");
    Member m = CheckMember(p);
    if (!m.known) return html + "<p class=\"warn\">" + m.refusal + "</p>" + Tail();
    std::vector<ServiceFolder> folders;
    if (!m_members.Folders(m.user.userId, folders)) return html + "<p class=\"warn\">系统错误，请稍后再试。</p>" + Tail();
    html += "<p>" + Esc(m.user.nickname.empty() ? m.user.loginName : m.user.nickname) +
            "，以下是您收藏夹中的基金（在程序的最新净值列表中用“添加到基金收藏夹”添加）。</p>";
    const OleDate now = Clock::Now();
    for (const ServiceFolder& folder : folders) {
        html += "<h2>" + Esc(folder.name) + StrFormat("（%zu只）</h2>", folder.funds.size());
        if (folder.funds.empty()) {
            html += "<p class=\"note\">此收藏夹中还没有基金。</p>";
            continue;
        }
        html += std::string("<table>") + kValueHeader;
        for (const std::string& code : folder.funds) {
            const SimFund* f = m_market.FindFund(code);
            LatestValue v;
            if (f && m_market.Latest(*f, now, v)) html += ValueRow(*f, v);
            else html += "<tr><td>" + Esc(code) + "</td><td class=\"l\" colspan=\"10\">暂无净值</td></tr>";
        }
        html += "</table>";
    }
    return html + Tail();
}

std::string CWebPages::Notepad(const PageParams& p, bool post)
{
    std::string html = Head("理财记事本");
    Member m = CheckMember(p);
    if (!m.known) return html + "<p class=\"warn\">" + m.refusal + "</p>" + Tail();
    const OleDate now = Clock::Now();
    const int today = DayNumber(now);
    // The member's notes: a posted one is stored first; the newest are kept.
    const std::string note = CutUtf8(Param(p, "note"), kMaxSuggestion);
    const bool adding = post && note.find_first_not_of(" \t\r\n") != std::string::npos;
    std::string notes;
    const bool stored = m_users.WithDatabase([&](sqlite3* db) {
        sqlite3_exec(db,
                     "CREATE TABLE IF NOT EXISTS T_Service_Note(ID INTEGER PRIMARY KEY, UserID int NOT NULL,"
                     " NoteTime TEXT NOT NULL, Content TEXT NOT NULL)",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        if (adding) {
            const std::string when = now.Format(6);
            if (sqlite3_prepare_v2(db, "INSERT INTO T_Service_Note(UserID, NoteTime, Content) VALUES(?,?,?)", -1, &st,
                                   nullptr) != SQLITE_OK)
                return false;
            sqlite3_bind_int(st, 1, m.user.userId);
            sqlite3_bind_text(st, 2, when.c_str(), static_cast<int>(when.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 3, note.c_str(), static_cast<int>(note.size()), SQLITE_TRANSIENT);
            const bool done = sqlite3_step(st) == SQLITE_DONE;
            sqlite3_finalize(st);
            if (!done) return false;
            if (sqlite3_prepare_v2(db, "DELETE FROM T_Service_Note WHERE UserID=?1 AND ID NOT IN (SELECT ID FROM "
                                       "T_Service_Note WHERE UserID=?1 ORDER BY ID DESC LIMIT ?2)",
                                   -1, &st, nullptr) == SQLITE_OK) {
                sqlite3_bind_int(st, 1, m.user.userId);
                sqlite3_bind_int(st, 2, static_cast<int>(kKeptNotes));
                sqlite3_step(st);
                sqlite3_finalize(st);
            }
        }
        if (sqlite3_prepare_v2(db, "SELECT NoteTime, Content FROM T_Service_Note WHERE UserID=? ORDER BY ID DESC LIMIT 50",
                               -1, &st, nullptr) != SQLITE_OK)
            return false;
        sqlite3_bind_int(st, 1, m.user.userId);
        while (sqlite3_step(st) == SQLITE_ROW)
            notes += "<tr><td>" + Esc(ColumnText(st, 0)) + "</td><td class=\"l\">" + Esc(ColumnText(st, 1)) + "</td></tr>";
        sqlite3_finalize(st);
        return true;
    });
    html += "<h2>我的记事</h2>";
    if (adding) html += stored ? "<p>已保存。</p>" : "<p class=\"warn\">保存失败，请稍后再试。</p>";
    html += "<form method=\"post\">";
    for (const char* key : {"loginid", "userid"})
        html += std::string("<input type=\"hidden\" name=\"") + key + "\" value=\"" + Esc(Param(p, key)) + "\">";
    html += "<textarea name=\"note\" rows=\"3\" cols=\"70\"></textarea><br><input type=\"submit\" value=\"记下\"></form>";
    html += "<table><tr><th>时间</th><th>内容</th></tr>" +
            (notes.empty() ? std::string("<tr><td class=\"l\" colspan=\"2\">还没有记事</td></tr>") : notes) + "</table>";
    std::vector<ServicePlan> plans;
    m_members.Plans(m.user.userId, plans);
    html += "<h2>基金定投计划</h2>";
    if (plans.empty()) {
        html += "<p class=\"note\">您还没有上传定投计划（在程序的“基金定投管理”中设置）。</p>";
    } else {
        html += "<table><tr><th>基金</th><th>帐户</th><th>每期金额</th><th>扣款日</th><th>已投期数</th>"
                "<th>上次扣款</th><th>下次扣款</th></tr>";
        for (const ServicePlan& plan : plans) {
            // The next debit: the plan day of the month after the last processed day.
            OleDate last;
            std::string next = "—";
            if (OleDate::Parse(plan.lastDate, last)) {
                int y = last.Year(), mo = last.Month() + (last.Day() >= plan.day ? 1 : 0);
                if (mo > 12) mo = 1, ++y;
                OleDate n = OleDate::FromParts(y, mo, std::clamp(plan.day, 1, 28));
                if (n.IsValid()) next = n.Format(1);
            }
            html += "<tr><td class=\"l\">" + Esc(plan.fundId) + " " + Esc(FundName(plan.fundId)) + "</td>" +
                    StrFormat("<td>%d</td><td>%0.2f</td><td>%d日</td><td>%d</td>", plan.accountId, plan.money,
                              plan.day, plan.periodsDone) +
                    "<td>" + Esc(plan.lastDate) + "</td><td>" + next + "</td></tr>";
        }
        html += "</table>";
    }
    // Dividends of the member's favourite funds in the last 30 days.
    std::vector<ServiceFolder> folders;
    m_members.Folders(m.user.userId, folders);
    html += "<h2>收藏基金近30天分红</h2><table><tr><th>基金</th><th>权益登记日</th><th>除息日</th><th>每份分红</th></tr>";
    int rows = 0;
    for (const ServiceFolder& folder : folders)
        for (const std::string& code : folder.funds) {
            const SimFund* f = m_market.FindFund(code);
            if (!f) continue;
            for (const SimDividend& d : m_market.Dividends(*f, now, today - 30, today)) {
                html += "<tr><td class=\"l\">" + FundLink(*f) + "</td><td>" + DateOfDay(d.recordDay).Format(1) +
                        "</td><td>" + DateOfDay(d.exDay).Format(1) + StrFormat("</td><td>%0.4f</td></tr>", d.perUnit);
                ++rows;
            }
        }
    if (rows == 0) html += "<tr><td class=\"l\" colspan=\"4\">近30天没有分红</td></tr>";
    return html + "</table>" + Tail();
}

std::string CWebPages::FundFilter(const PageParams& p)
{
    const int invest = static_cast<int>(IntegerOr(Param(p, "invest"), 0));
    const std::string minYearText = Param(p, "minyear");
    const double minYear = NumberOr(minYearText, -1000);
    const int minAge = static_cast<int>(std::clamp(IntegerOr(Param(p, "age"), 0), 0LL, 100LL));
    std::string sort = Param(p, "sort");
    if (sort != "month" && sort != "three" && sort != "thisyear") sort = "year";

    std::string html = Head("基金筛选器");
    html += "<form method=\"get\">";
    for (const char* key : {"loginid", "userid"})
        html += std::string("<input type=\"hidden\" name=\"") + key + "\" value=\"" + Esc(Param(p, key)) + "\">";
    html += "投资类型：<select name=\"invest\">";
    const char* investNames[] = {"全部", "股票", "混合", "债券", "现金"};
    for (int i = 0; i < 5; ++i)
        html += StrFormat("<option value=\"%d\"%s>%s</option>", i, i == invest ? " selected" : "", investNames[i]);
    html += "</select>成立满 <input name=\"age\" size=\"2\" value=\"" + StrFormat("%d", minAge) +
            "\"> 年　近一年回报不低于 <input name=\"minyear\" size=\"4\" value=\"" + Esc(minYearText) +
            "\">%　排序：<select name=\"sort\">";
    const std::pair<const char*, const char*> sorts[] = {
        {"year", "一年回报"}, {"three", "三个月回报"}, {"month", "一个月回报"}, {"thisyear", "今年以来"}};
    for (const auto& [k, name] : sorts)
        html += std::string("<option value=\"") + k + "\"" + (sort == k ? " selected" : "") + ">" + name + "</option>";
    html += "</select><input type=\"submit\" value=\"筛选\"></form>";

    const OleDate now = Clock::Now();
    const int today = DayNumber(now);
    std::vector<std::pair<const SimFund*, LatestValue>> hits;
    for (const SimFund* f : ListedFunds(today)) {
        if (f->fundType == 2) continue;  // the filter covers the funds one can buy and redeem
        if (invest >= 1 && invest <= 4 && f->investType != invest) continue;
        if (minAge > 0 && today - f->createDay < minAge * 365) continue;
        LatestValue v;
        if (!m_market.Latest(*f, now, v) || v.oneYear < minYear) continue;
        hits.emplace_back(f, v);
    }
    auto key = [&](const LatestValue& v) {
        return sort == "month" ? v.month : sort == "three" ? v.threeMonth : sort == "thisyear" ? v.thisYear : v.oneYear;
    };
    std::stable_sort(hits.begin(), hits.end(), [&](const auto& a, const auto& b) { return key(a.second) > key(b.second); });
    html += StrFormat("<p>符合条件的基金共 %zu 只%s。</p>", hits.size(), hits.size() > 100 ? "，显示前100只" : "");
    html += std::string("<table>") + kValueHeader;
    for (size_t i = 0; i < hits.size() && i < 100; ++i) html += ValueRow(*hits[i].first, hits[i].second);
    return html + "</table>" + Tail();
}

std::string CWebPages::FundState(const PageParams& p, bool openEndOnly)
{
    const int today = DayNumber(Clock::Now());
    std::string html = Head(openEndOnly ? "开放式基金申购状态" : "基金申购状态");
    const std::string code = Param(p, "FundID");
    if (!openEndOnly) {
        html += "<form method=\"get\">";
        for (const char* key : {"loginid", "userid"})
            html += std::string("<input type=\"hidden\" name=\"") + key + "\" value=\"" + Esc(Param(p, key)) + "\">";
        html += "基金代码：<input name=\"FundID\" size=\"8\" value=\"" + Esc(code) +
                "\"><input type=\"submit\" value=\"查询\"></form>";
    }
    std::map<std::string, int> counts;
    std::string rows;
    int shown = 0;
    for (const SimFund& f : m_market.Funds()) {
        if (openEndOnly && f.fundType != 1) continue;
        if (!code.empty() && f.code != code) continue;
        if (f.withdrawDay && f.withdrawDay < today - 365) continue;
        std::string sell;
        const std::string buy = BuyState(f, today, sell);
        ++counts[buy];
        // The index page lists what is out of the ordinary; the static list every fund.
        if ((openEndOnly || !code.empty() || buy != "开放申购") && shown < 500) {
            ++shown;
            rows += "<tr><td>" + f.code + "</td><td class=\"l\">" + FundLink(f) + "</td><td>" + FundTypeName(f.fundType) +
                    "</td><td class=\"" + (buy == "开放申购" ? "" : "warn") + "\">" + buy + "</td><td>" + sell + "</td></tr>";
        }
    }
    html += "<p>";
    for (const auto& [state, n] : counts) html += StrFormat("%s：%d只　", state.c_str(), n);
    html += "</p><table><tr><th>基金代码</th><th>基金名称</th><th>类别</th><th>申购状态</th><th>赎回状态</th></tr>" + rows;
    if (rows.empty()) html += "<tr><td class=\"l\" colspan=\"5\">没有符合条件的基金</td></tr>";
    if (shown == 500) html += "<tr><td class=\"l\" colspan=\"5\">（仅显示前500只）</td></tr>";
    return html + "</table>" + Tail();
}

std::string CWebPages::FundInfo(const PageParams& p)
{
    const std::string code = Param(p, "FundID");
    const SimFund* f = m_market.FindFund(code);
    if (!f) return Head("基金信息汇总") + "<p class=\"warn\">没有找到基金“" + Esc(code) + "”。</p>" + Tail();
    const OleDate now = Clock::Now();
    const int today = DayNumber(now);
    std::string html = Head(f->name + "（" + f->code + "）");
    std::string company;
    for (const SimCompany& c : m_market.Companies())
        if (c.id == f->companyId) company = c.name;
    html += "<table><tr><th>基金简称</th><td class=\"l\">" + Esc(f->shortName) + "</td><th>基金公司</th><td class=\"l\">" +
            Esc(company) + "</td></tr><tr><th>基金类别</th><td class=\"l\">" + FundTypeName(f->fundType) +
            "</td><th>投资类型</th><td class=\"l\">" + InvestTypeName(f->investType) +
            "</td></tr><tr><th>成立日期</th><td class=\"l\">" + DateOfDay(f->createDay).Format(1) +
            StrFormat("</td><th>基金份额</th><td class=\"l\">%0.2f亿份</td></tr></table>", f->newCount);
    LatestValue v;
    if (!m_market.Latest(*f, now, v)) return html + "<p>该基金还没有公布净值。</p>" + Tail();
    html += "<h2>最新净值</h2><table><tr><th>净值日期</th><th>" +
            std::string(f->IsMoneyMarket() ? "每万份收益</th><th>7日年化收益率" : "单位净值</th><th>累计净值") +
            "</th><th>日增长率</th><th>一周</th><th>一个月</th><th>三个月</th><th>六个月</th><th>一年</th>"
            "<th>今年以来</th><th>成立以来</th></tr><tr><td>" + DateOfDay(v.rec.day).Format(1) + "</td>" +
            StrFormat("<td>%0.4f</td>", v.rec.nav) +
            (f->IsMoneyMarket() ? StrFormat("<td>%0.3f%%</td><td>—</td>", v.rec.pct)
                                : StrFormat("<td>%0.4f</td>", v.rec.acc) + PctCell(v.rec.pct)) +
            PctCell(v.week) + PctCell(v.month) + PctCell(v.threeMonth) + PctCell(v.sixMonth) + PctCell(v.oneYear) +
            PctCell(v.thisYear) + PctCell(v.total) + "</tr></table>";

    // Half a year of NAVs as a chart.
    std::vector<NavRecord> recs = m_market.Published(*f, now, today - 182, today);
    if (recs.size() >= 2) {
        std::vector<double> nav;
        for (const NavRecord& r : recs) nav.push_back(f->IsMoneyMarket() ? r.pct : r.nav);
        html += std::string("<h2>近半年") + (f->IsMoneyMarket() ? "7日年化收益率" : "单位净值") + "走势</h2>" +
                SvgLines({{f->shortName.empty() ? f->name : f->shortName, nav}}, DateOfDay(recs.front().day).Format(1),
                         DateOfDay(recs.back().day).Format(1), f->IsMoneyMarket() ? "%" : "");
    }
    if (f->HoldsStocks()) {
        const std::vector<Holding> holdings = m_market.Holdings(*f, today);
        html += "<h2>十大重仓股（" + HoldingsDateText(*f, today) +
                "）</h2><table><tr><th>序号</th><th>股票代码</th><th>股票名称</th><th>占净值比例</th></tr>";
        if (holdings.empty()) html += "<tr><td class=\"l\" colspan=\"4\">暂无持仓数据</td></tr>";
        int k = 0;
        for (const Holding& h : holdings) {
            const MarketStock& s = m_market.Stocks()[static_cast<size_t>(h.stock)];
            html += StrFormat("<tr><td>%d</td><td>%s</td><td class=\"l\">%s</td><td>%0.2f%%</td></tr>", ++k,
                              s.code.c_str(), Esc(s.name).c_str(), h.weight * 100);
        }
        html += "</table>";
    }
    std::vector<SimDividend> divs = m_market.Dividends(*f, now, f->createDay - 1, today);
    html += "<h2>分红记录</h2><table><tr><th>权益登记日</th><th>除息日</th><th>派息日</th><th>每份分红</th></tr>";
    if (divs.empty()) html += "<tr><td class=\"l\" colspan=\"4\">暂无分红</td></tr>";
    for (auto it = divs.rbegin(); it != divs.rend(); ++it)
        html += "<tr><td>" + DateOfDay(it->recordDay).Format(1) + "</td><td>" + DateOfDay(it->exDay).Format(1) +
                "</td><td>" + DateOfDay(it->payDay).Format(1) + StrFormat("</td><td>%0.4f</td></tr>", it->perUnit);
    html += "</table>";
    std::vector<SimSplit> splits = m_market.Splits(*f, now);
    if (!splits.empty()) {
        html += "<h2>拆分记录</h2><table><tr><th>拆分日期</th><th>拆分比例</th></tr>";
        for (const SimSplit& s : splits)
            html += "<tr><td>" + DateOfDay(s.day).Format(1) + StrFormat("</td><td>1:%0.4f</td></tr>", s.ratio);
        html += "</table>";
    }
    return html + Tail();
}

std::string CWebPages::FundCompare(const PageParams& p)
{
    std::string html = Head("基金分析");
    const OleDate now = Clock::Now();
    const int today = DayNumber(now);
    // The funds: the form's codes, else the member's first favourites.
    std::vector<const SimFund*> funds;
    for (const std::string& code : SplitText(Param(p, "funds"), ','))
        if (const SimFund* f = m_market.FindFund(code); f && funds.size() < 5) funds.push_back(f);
    Member m = CheckMember(p);
    if (funds.empty() && m.known) {
        std::vector<ServiceFolder> folders;
        m_members.Folders(m.user.userId, folders);
        for (const ServiceFolder& folder : folders)
            for (const std::string& code : folder.funds)
                if (const SimFund* f = m_market.FindFund(code); f && funds.size() < 3) funds.push_back(f);
    }
    if (funds.empty())
        for (const SimFund& f : m_market.Funds())
            if (f.fundType == 1 && f.HoldsStocks() && f.createDay < today - 400 && !f.withdrawDay && funds.size() < 3)
                funds.push_back(&f);
    std::string codes;
    for (const SimFund* f : funds) codes += (codes.empty() ? "" : ",") + f->code;
    html += "<form method=\"get\">";
    for (const char* key : {"loginid", "userid"})
        html += std::string("<input type=\"hidden\" name=\"") + key + "\" value=\"" + Esc(Param(p, key)) + "\">";
    html += "基金代码（以逗号分隔，最多5只）：<input name=\"funds\" size=\"40\" value=\"" + Esc(codes) +
            "\"><input type=\"submit\" value=\"分析\"></form>";
    if (!m.known) html += "<p class=\"note\">" + m.refusal + "（以下为示例基金）</p>";

    html += "<h2>区间回报与沪深300比较</h2><table><tr><th>基金</th><th>一周</th><th>一个月</th><th>三个月</th>"
            "<th>六个月</th><th>一年</th><th>今年以来</th><th>年平均</th></tr>";
    for (const SimFund* f : funds) {
        LatestValue v;
        if (!m_market.Latest(*f, now, v)) continue;
        html += "<tr><td class=\"l\">" + FundLink(*f) + "</td>" + PctCell(v.week) + PctCell(v.month) +
                PctCell(v.threeMonth) + PctCell(v.sixMonth) + PctCell(v.oneYear) + PctCell(v.thisYear) +
                PctCell(v.yearAvg) + "</tr>";
    }
    html += "</table>";
    // One year of cumulative growth, the index beside the funds.
    const int from = today - 365;
    std::vector<IndexRecord> index = m_market.IndexHistory(2, now, from, today);
    if (index.size() >= 2) {
        std::vector<std::pair<std::string, std::vector<double>>> series;
        std::vector<double> idx;
        for (const IndexRecord& r : index) idx.push_back((r.value / index.front().value - 1) * 100);
        for (const SimFund* f : funds) {
            std::vector<NavRecord> recs = m_market.Published(*f, now, from, today);
            std::map<int, double> byDay;
            for (const NavRecord& r : recs) byDay[r.day] = r.growth;
            std::vector<double> line;
            double base = 0;
            for (const IndexRecord& r : index) {
                auto it = byDay.find(r.day);
                if (it == byDay.end() || it->second <= 0) {
                    line.push_back(NAN);
                    continue;
                }
                if (base == 0) base = it->second;
                line.push_back((it->second / base - 1) * 100);
            }
            series.emplace_back(f->shortName.empty() ? f->name : f->shortName, line);
        }
        series.emplace_back(m_market.Indices()[2].name, idx);
        html += "<h2>近一年累计增长率</h2>" + SvgLines(series, DateOfDay(index.front().day).Format(1),
                                                      DateOfDay(index.back().day).Format(1), "%");
    }
    return html + Tail();
}

std::string CWebPages::IncomeTool(const PageParams& p)
{
    std::string html = Head("基金收益计算器");
    Member m = CheckMember(p);
    if (!m.known) return html + "<p class=\"warn\">" + m.refusal + "</p>" + Tail();
    const OleDate now = Clock::Now();
    if (!CUserStore::IsVip(m.user, now)) return html + "<p class=\"warn\">" + kVipOnly + "</p>" + Tail();
    std::string code = Param(p, "FundID"), from = Param(p, "from"), to = Param(p, "to"), money = Param(p, "money"),
                fee = Param(p, "fee");
    if (code.empty()) code = "000001";
    const int today = DayNumber(now);
    if (from.empty()) from = DateOfDay(today - 365).Format(1);
    if (to.empty()) to = DateOfDay(today).Format(1);
    if (money.empty()) money = "10000";
    if (fee.empty()) fee = "1.5";
    html += "<form method=\"get\">";
    for (const char* key : {"loginid", "userid"})
        html += std::string("<input type=\"hidden\" name=\"") + key + "\" value=\"" + Esc(Param(p, key)) + "\">";
    html += "基金代码 <input name=\"FundID\" size=\"7\" value=\"" + Esc(code) + "\">买入日期 <input name=\"from\" size=\"10\" value=\"" +
            Esc(from) + "\">卖出日期 <input name=\"to\" size=\"10\" value=\"" + Esc(to) +
            "\">投资金额 <input name=\"money\" size=\"8\" value=\"" + Esc(money) +
            "\">申购费率 <input name=\"fee\" size=\"4\" value=\"" + Esc(fee) + "\">% <input type=\"submit\" value=\"计算\"></form>";
    const SimFund* f = m_market.FindFund(code);
    OleDate d0, d1;
    const double amount = NumberOr(money, 0), rate = NumberOr(fee, 0);
    if (!f) return html + "<p class=\"warn\">没有找到基金“" + Esc(code) + "”。</p>" + Tail();
    if (!OleDate::Parse(from, d0) || !OleDate::Parse(to, d1) || d1 < d0)
        return html + "<p class=\"warn\">请输入正确的日期（卖出日期不能早于买入日期）。</p>" + Tail();
    if (!(amount > 0 && amount < 1e10) || !(rate >= 0 && rate < 100))
        return html + "<p class=\"warn\">请输入正确的投资金额和费率。</p>" + Tail();
    // Bought at the first NAV on or after the buying day, valued at the last
    // NAV on or before the selling day, dividends reinvested (the growth
    // series carries them and the splits).
    std::vector<NavRecord> a = m_market.Published(*f, now, DayNumber(d0), DayNumber(d0) + 40);
    std::vector<NavRecord> b = m_market.Published(*f, now, DayNumber(d1) - 40, DayNumber(d1));
    if (a.empty() || b.empty() || b.back().day < a.front().day)
        return html + "<p class=\"warn\">该区间内没有公布的净值。</p>" + Tail();
    const NavRecord& buy = a.front();
    const NavRecord& sell = b.back();
    const double net = amount / (1 + rate / 100);
    const double shares = f->IsMoneyMarket() ? net : net / buy.nav;
    const double end = f->IsMoneyMarket() ? net * (sell.growth / buy.growth) : net * (sell.growth / buy.growth);
    const double gain = end - amount;
    const int days = sell.day - buy.day;
    html += "<h2>" + Esc(f->name) + "</h2><table><tr><th>买入净值日</th><th>买入净值</th><th>申购费</th><th>买入份额</th>"
            "<th>卖出净值日</th><th>卖出净值</th><th>期末市值</th><th>收益</th><th>收益率</th><th>年化收益率</th></tr>";
    html += "<tr><td>" + DateOfDay(buy.day).Format(1) + StrFormat("</td><td>%0.4f</td><td>%0.2f</td><td>%0.2f</td>",
                                                                   buy.nav, amount - net, shares) +
            "<td>" + DateOfDay(sell.day).Format(1) + StrFormat("</td><td>%0.4f</td><td>%0.2f</td>", sell.nav, end) +
            MoneyCell(gain) + PctCell(gain / amount * 100) +
            PctCell(days > 0 ? (std::pow(end / amount, 365.0 / days) - 1) * 100 : 0) + "</tr></table>";
    html += "<p class=\"note\">按分红再投资计算；期间的分红和拆分已计入期末市值。</p>";
    return html + Tail();
}

std::string CWebPages::TopView()
{
    std::string html = Head("开放式基金推荐榜");
    const OleDate now = Clock::Now();
    const int today = DayNumber(now);
    html += "<p>按近三个月、六个月和一年回报的综合排名，每类推荐前10只（成立满一年的开放式基金）。</p>";
    for (int invest : {1, 2, 3}) {
        std::vector<std::pair<const SimFund*, LatestValue>> list;
        for (const SimFund* f : ListedFunds(today)) {
            LatestValue v;
            if (f->fundType == 1 && f->investType == invest && today - f->createDay >= 365 && m_market.Latest(*f, now, v))
                list.emplace_back(f, v);
        }
        // Score: the sum of the three ranks (smaller is better).
        std::vector<double> score(list.size(), 0);
        for (double LatestValue::*field : {&LatestValue::threeMonth, &LatestValue::sixMonth, &LatestValue::oneYear}) {
            std::vector<size_t> order(list.size());
            for (size_t i = 0; i < order.size(); ++i) order[i] = i;
            std::stable_sort(order.begin(), order.end(),
                             [&](size_t x, size_t y) { return list[x].second.*field > list[y].second.*field; });
            for (size_t r = 0; r < order.size(); ++r) score[order[r]] += static_cast<double>(r);
        }
        std::vector<size_t> order(list.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) { return score[x] < score[y]; });
        html += "<h2>" + InvestTypeName(invest) + "型基金</h2><table><tr><th>推荐</th><th>基金代码</th><th>基金名称</th>"
                "<th>单位净值</th><th>三个月</th><th>六个月</th><th>一年</th><th>今年以来</th></tr>";
        for (size_t r = 0; r < order.size() && r < 10; ++r) {
            const auto& [f, v] = list[order[r]];
            html += StrFormat("<tr><td>%zu</td><td>%s</td><td class=\"l\">", r + 1, f->code.c_str()) + FundLink(*f) +
                    StrFormat("</td><td>%0.4f</td>", v.rec.nav) + PctCell(v.threeMonth) + PctCell(v.sixMonth) +
                    PctCell(v.oneYear) + PctCell(v.thisYear) + "</tr>";
        }
        if (order.empty()) html += "<tr><td class=\"l\" colspan=\"8\">暂无符合条件的基金</td></tr>";
        html += "</table>";
    }
    return html + Tail();
}

bool CWebPages::RankYears(int year)
{
    // Closed years do not change: computed once a service year, each fund's
    // series read once (asking three years apart would compute it again and
    // again in a market of ten thousand funds).
    m_ranks.clear();
    const CTradingCalendar& cal = m_market.Calendar();
    auto yearEnd = [](int y) { return DayNumber(OleDate::FromParts(y, 12, 31)); };
    std::vector<std::vector<std::pair<const SimFund*, double>>> lists(3);
    for (const SimFund& f : m_market.Funds()) {
        if (m_stop) return false;
        if (f.fundType != 1 || !f.HoldsStocks() || f.createDay > yearEnd(year - 2) - 10) continue;
        std::shared_ptr<const FundHistory> history = m_market.History(f, yearEnd(year - 1), false);
        // The growth at the year's last trading day; none when the fund has no NAV of that day.
        auto growthAt = [&](int day) {
            const long i = history->Find(cal.DayAt(cal.IndexOnOrBefore(day)));
            return i >= 0 ? static_cast<double>(history->growth[static_cast<size_t>(i)]) : 0.0;
        };
        for (int k = 0; k < 3; ++k) {
            const int y = year - 1 - k;
            if ((f.withdrawDay && f.withdrawDay < yearEnd(y)) || f.createDay > yearEnd(y - 1) - 10) continue;
            const double a = growthAt(yearEnd(y - 1)), b = growthAt(yearEnd(y));
            if (a > 0 && b > 0) lists[static_cast<size_t>(k)].emplace_back(&f, (b / a - 1) * 100);
        }
    }
    for (int k = 0; k < 3; ++k) {
        auto& list = lists[static_cast<size_t>(k)];
        std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        YearRank rank{year - 1 - k, list.size(), {}};
        rank.top.assign(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(20, list.size())));
        m_ranks.push_back(std::move(rank));
    }
    m_rankYear = year;
    return true;
}

void CWebPages::StartWarming()
{
    m_warmer = std::thread([this] {
        RunAtBackgroundPriority();
        std::lock_guard lock(m_rankMutex);
        const int year = Clock::Now().Year();
        if (m_rankYear != year) RankYears(year);
    });
}

CWebPages::~CWebPages()
{
    m_stop = true;
    if (m_warmer.joinable()) m_warmer.join();
}

std::string CWebPages::HistoryTop()
{
    std::string html = Head("开放式基金历史排名");
    const OleDate now = Clock::Now();
    const int year = now.Year();
    html += "<p>各年度开放式基金（股票型和混合型）净值增长率前20名，分红再投资计算。</p>";
    std::lock_guard lock(m_rankMutex);
    if (m_rankYear != year && !RankYears(year)) return html + "<p class=\"warn\">服务正在停止。</p>" + Tail();
    for (const YearRank& rank : m_ranks) {
        html += StrFormat("<h2>%d年度（共%zu只参与排名）</h2>", rank.year, rank.count) +
                "<table><tr><th>排名</th><th>基金代码</th><th>基金名称</th><th>类型</th><th>年度增长率</th></tr>";
        for (size_t r = 0; r < rank.top.size(); ++r)
            html += StrFormat("<tr><td>%zu</td><td>%s</td><td class=\"l\">", r + 1, rank.top[r].first->code.c_str()) +
                    FundLink(*rank.top[r].first) + "</td><td>" + InvestTypeName(rank.top[r].first->investType) + "</td>" +
                    PctCell(rank.top[r].second) + "</tr>";
        if (rank.top.empty()) html += "<tr><td class=\"l\" colspan=\"5\">暂无数据</td></tr>";
        html += "</table>";
    }
    return html + Tail();
}

std::string CWebPages::IndexQuotes(const PageParams& p)
{
    std::string html = Head("大盘指数实时行情");
    Member m = CheckMember(p);
    if (!m.known) return html + "<p class=\"warn\">" + m.refusal + "</p>" + Tail();
    const OleDate now = Clock::Now();
    const int today = DayNumber(now);
    html += "<table><tr><th>指数代码</th><th>指数名称</th><th>日期</th><th>收盘</th><th>涨跌</th><th>涨跌幅</th>"
            "<th>成交额(亿元)</th></tr>";
    std::vector<std::pair<std::string, std::vector<double>>> series;
    std::string first, last;
    for (size_t k = 0; k < m_market.Indices().size(); ++k) {
        std::vector<IndexRecord> recs = m_market.IndexHistory(static_cast<int>(k), now, today - 90, today);
        if (recs.empty()) continue;
        const IndexRecord& r = recs.back();
        const MarketIndex& idx = m_market.Indices()[k];
        html += "<tr><td>" + idx.code + "</td><td class=\"l\">" + Esc(idx.name) + "</td><td>" + DateOfDay(r.day).Format(1) +
                StrFormat("</td><td>%0.2f</td>", r.value) + MoneyCell(r.var) + PctCell(r.pct) +
                StrFormat("<td>%0.2f</td></tr>", r.turnover);
        std::vector<double> line;
        for (const IndexRecord& x : recs) line.push_back((x.value / recs.front().value - 1) * 100);
        series.emplace_back(idx.name, line);
        first = DateOfDay(recs.front().day).Format(1);
        last = DateOfDay(r.day).Format(1);
    }
    html += "</table>";
    if (!series.empty()) html += "<h2>近三个月涨跌幅走势</h2>" + SvgLines(series, first, last, "%");
    return html + Tail();
}

std::string CWebPages::RealtimeCalc(const PageParams& p)
{
    const std::string code = Param(p, "fundid");
    const SimFund* f = m_market.FindFund(code);
    if (!f) return Head("基金净值实时估算") + "<p class=\"warn\">没有找到基金“" + Esc(code) + "”。</p>" + Tail();
    const OleDate now = Clock::Now();
    const int today = DayNumber(now);
    std::string html = Head(f->name + " 净值实时估算");
    LatestValue v;
    const bool hasLatest = m_market.Latest(*f, now, v);
    double nav = 0, pct = 0;
    if (m_market.EstimateAt(*f, now, nav, pct)) {
        html += "<table><tr><th>估算时间</th><th>估算净值</th><th>估算涨跌幅</th><th>上一净值日</th><th>上一单位净值</th></tr>"
                "<tr><td>" + now.Format(6) + StrFormat("</td><td>%0.4f</td>", nav) + PctCell(pct) + "<td>" +
                (hasLatest ? DateOfDay(v.rec.day).Format(1) + StrFormat("</td><td>%0.4f</td>", v.rec.nav)
                           : std::string("—</td><td>—</td>")) + "</tr></table>";
    } else {
        if (f->HoldsStocks()) html += "<p class=\"note\">现在不是交易时间，没有实时估算。</p>";
        if (hasLatest)
            html += std::string("<table><tr><th>净值日期</th><th>") +
                    (f->IsMoneyMarket() ? "每万份收益</th><th>7日年化收益率" : "单位净值</th><th>日增长率") +
                    "</th></tr><tr><td>" + DateOfDay(v.rec.day).Format(1) + StrFormat("</td><td>%0.4f</td>", v.rec.nav) +
                    (f->IsMoneyMarket() ? StrFormat("<td>%0.3f%%</td>", v.rec.pct) : PctCell(v.rec.pct)) + "</tr></table>";
    }
    if (!f->HoldsStocks()) return html + "<p class=\"note\">该基金不持有股票，不做持仓估算。</p>" + Tail();
    // The holdings with their move since the previous close.
    // Before the opening bell of a trading day the last close is the day before's.
    const CTradingCalendar& cal = m_market.Calendar();
    const bool tradingDay = cal.IsTradingDay(today);
    const bool trading = tradingDay && now.Hour() * 60 + now.Minute() >= 570;
    const int last = cal.IndexOnOrBefore(today) - (tradingDay && !trading ? 1 : 0);
    const std::vector<Holding> holdings = m_market.Holdings(*f, today);
    html += "<h2>重仓股行情（" + HoldingsDateText(*f, today) + "公布的持仓）</h2>"
            "<table><tr><th>序号</th><th>股票</th><th>持仓比例</th><th>现价</th><th>涨跌幅</th><th>贡献</th></tr>";
    if (holdings.empty()) html += "<tr><td class=\"l\" colspan=\"6\">暂无持仓数据，不做持仓估算</td></tr>";
    double sumW = 0, sumC = 0;
    int k = 0;
    for (const Holding& h : holdings) {
        const MarketStock& s = m_market.Stocks()[static_cast<size_t>(h.stock)];
        std::shared_ptr<const StockQuotes> q = last >= 0 ? m_market.Quotes(h.stock, cal.DayAt(last)) : nullptr;
        double change = 0;
        std::string price = "—";
        if (q && q->prevClose > 0) {
            const double p = trading ? q->PriceAt(SecondOfDay(now)) : q->Close();
            change = (p / q->prevClose - 1) * 100;
            price = StrFormat("%0.2f", p);
        }
        const double contribution = h.weight * 100 * change * 0.01;
        sumW += h.weight * 100;
        sumC += contribution;
        html += StrFormat("<tr><td>%d</td><td class=\"l\">%s(%s)</td><td>%0.2f%%</td><td>%s</td>", ++k,
                          Esc(s.name).c_str(), s.code.c_str(), h.weight * 100, price.c_str()) +
                PctCell(change) + PctCell(contribution) + "</tr>";
    }
    html += StrFormat("<tr><th>合计</th><td></td><td>%0.2f%%</td><td></td><td></td>", sumW) + PctCell(sumC) + "</tr></table>";
    return html + Tail();
}

std::string CWebPages::FinancingResult(const PageParams& p)
{
    const int type = static_cast<int>(IntegerOr(Param(p, "type"), 0)),
              show = static_cast<int>(IntegerOr(Param(p, "show"), 0)),
              style = static_cast<int>(IntegerOr(Param(p, "style"), 0));
    static const char* const kTypes[] = {"按帐户统计", "按基金统计", "按类型统计"};
    static const char* const kShows[] = {"基金市值", "最新本金", "最新收益", "累计红利",
                                         "当日收益", "赎回金额", "累计本金", "累计收益"};
    const std::string title = std::string("基金投资分析：") + (type >= 0 && type <= 2 ? kTypes[type] : "统计") + " · " +
                              (show >= 0 && show <= 7 ? kShows[show] : "统计项");
    std::string html = Head(title);
    Member m = CheckMember(p);
    if (!m.known) return html + "<p class=\"warn\">" + m.refusal + "</p>" + Tail();
    // "name|value|name|value..."; a name may not hold "|", values are numbers.
    std::vector<std::pair<std::string, double>> items;
    std::vector<std::string> fields = SplitText(Param(p, "data"), '|');
    for (size_t i = 0; i + 1 < fields.size() && items.size() < 200; i += 2) {
        const std::optional<double> value = ParseNumber(fields[i + 1]);
        if (!value) continue;
        items.emplace_back(fields[i], *value);
    }
    if (style == 0) {
        // Incomes are coloured by their sign; amounts of money are not.
        const bool gains = show == 2 || show == 4 || show == 7;
        double total = 0, positive = 0;
        for (const auto& it : items) total += it.second, positive += std::max(0.0, it.second);
        html += "<table><tr><th>序号</th><th>名称</th><th>" + std::string(show >= 0 && show <= 7 ? kShows[show] : "数值") +
                "</th><th>占比</th></tr>";
        int k = 0;
        for (const auto& [name, value] : items)
            html += StrFormat("<tr><td>%d</td><td class=\"l\">", ++k) + Esc(name) + "</td>" +
                    (gains ? MoneyCell(value) : StrFormat("<td>%0.2f</td>", value)) +
                    (value > 0 && positive > 0 ? StrFormat("<td>%0.2f%%</td></tr>", value * 100 / positive)
                                               : std::string("<td>—</td></tr>"));
        if (items.empty()) html += "<tr><td class=\"l\" colspan=\"4\">没有可统计的数据</td></tr>";
        html += "<tr><th>合计</th><td></td>" + (gains ? MoneyCell(total) : StrFormat("<td>%0.2f</td>", total)) +
                "<td></td></tr></table>";
        return html + Tail();
    }
    return html + SvgChart(items, style == 2 || style == 3 ? style : 1) + Tail();
}

std::string CWebPages::VipFunctions()
{
    std::string html = Head("VIP会员功能列表");
    const std::pair<const char*, const char*> rows[] = {
        {"上传/下载记帐数据", "把记帐数据保存在服务器上，换电脑也不丢失"},
        {"n个交易日回报叠加", "比较多只基金任意交易日数的滚动回报"},
        {"日涨跌区间叠加", "多只基金每日涨跌幅的分布区间"},
        {"日涨跌波段叠加", "多只基金的涨跌波段比较"},
        {"实时净值估算走势", "交易时间内随时查看估算走势（免费会员仅限非交易时段）"},
        {"基金收益计算器", "按分红再投资计算任意区间的投资收益"},
        {"导出表格到Excel", "把列表导出为Excel文件"},
        {"自选基金", "最多12只自选基金（免费会员4只）"},
    };
    html += "<table><tr><th>功能</th><th>说明</th><th>免费会员</th><th>VIP会员</th></tr>";
    for (const auto& [name, note] : rows)
        html += std::string("<tr><td class=\"l\">") + name + "</td><td class=\"l\">" + note + "</td><td>" +
                (std::string(name) == "自选基金" ? "4只" : std::string(name) == "实时净值估算走势" ? "限时段" : "—") +
                "</td><td>✔</td></tr>";
    html += "</table><p>升级为VIP会员请<a href=\"/plindo/Login.aspx?code=102\">登录会员中心</a>。</p>";
    return html + Tail();
}

std::string CWebPages::Suggest(const PageParams& p, bool post)
{
    std::string html = Head("建议留言");
    std::string message;
    if (post) {
        const std::string name = CutUtf8(Param(p, "name"), 64), text = CutUtf8(Param(p, "content"), kMaxSuggestion);
        if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
            message = "<p class=\"warn\">请填写留言内容。</p>";
        } else {
            const bool ok = m_users.WithDatabase([&](sqlite3* db) {
                sqlite3_exec(db,
                             "CREATE TABLE IF NOT EXISTS T_Service_Suggestion(ID INTEGER PRIMARY KEY, Name TEXT,"
                             " Content TEXT NOT NULL, PostTime TEXT NOT NULL)",
                             nullptr, nullptr, nullptr);
                sqlite3_stmt* st = nullptr;
                if (sqlite3_prepare_v2(db, "INSERT INTO T_Service_Suggestion(Name, Content, PostTime) VALUES(?,?,?)",
                                       -1, &st, nullptr) != SQLITE_OK)
                    return false;
                const std::string when = Clock::Now().Format(0);
                sqlite3_bind_text(st, 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
                sqlite3_bind_text(st, 2, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
                sqlite3_bind_text(st, 3, when.c_str(), static_cast<int>(when.size()), SQLITE_TRANSIENT);
                const bool done = sqlite3_step(st) == SQLITE_DONE;
                sqlite3_finalize(st);
                // Only the newest suggestions are kept.
                sqlite3_exec(db,
                             StrFormat("DELETE FROM T_Service_Suggestion WHERE ID <= (SELECT MAX(ID) FROM "
                                       "T_Service_Suggestion) - %zu", kKeptSuggestions)
                                 .c_str(),
                             nullptr, nullptr, nullptr);
                return done;
            });
            message = ok ? "<p>谢谢您的留言！</p>" : "<p class=\"warn\">留言保存失败，请稍后再试。</p>";
        }
    }
    html += message + "<form method=\"post\">称呼：<input name=\"name\" size=\"20\"><br><textarea name=\"content\" "
                      "rows=\"6\" cols=\"60\"></textarea><br><input type=\"submit\" value=\"提交留言\"></form>";
    html += "<h2>最新留言</h2><table><tr><th>时间</th><th>称呼</th><th>内容</th></tr>";
    std::string rows;
    m_users.WithDatabase([&](sqlite3* db) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT PostTime, Name, Content FROM T_Service_Suggestion ORDER BY ID DESC LIMIT 20",
                               -1, &st, nullptr) != SQLITE_OK)
            return false;
        auto col = [st](int i) { return ColumnText(st, i); };
        while (sqlite3_step(st) == SQLITE_ROW)
            rows += "<tr><td>" + Esc(col(0)) + "</td><td class=\"l\">" + Esc(col(1)) + "</td><td class=\"l\">" +
                    Esc(col(2)) + "</td></tr>";
        sqlite3_finalize(st);
        return true;
    });
    if (rows.empty()) rows = "<tr><td class=\"l\" colspan=\"3\">还没有留言</td></tr>";
    return html + rows + "</table>" + Tail();
}

std::string CWebPages::Login(const PageParams& p, bool post)
{
    const std::string code = Param(p, "code");
    std::string html = Head(code == "102" ? "会员中心 - 升级为VIP" : "会员登录");
    std::string note;
    if (post) {
        ServiceUser user;
        const std::string name = Param(p, "name");
        long waitMs = 0;
        if (m_users.Authenticate(name, Param(p, "password"), "", user, waitMs) == CUserStore::LoginResult::Ok) {
            const bool vip = CUserStore::IsVip(user, Clock::Now());
            html += "<p>欢迎您，" + Esc(user.nickname.empty() ? user.loginName : user.nickname) + "。</p><table>"
                    "<tr><th>登录名</th><td class=\"l\">" + Esc(user.loginName) + "</td></tr><tr><th>会员级别</th>"
                    "<td class=\"l\">" + (vip ? "VIP会员" : "免费会员") + "</td></tr><tr><th>注册日期</th><td class=\"l\">" +
                    user.regDate.Format(1) + "</td></tr>" +
                    (vip ? "<tr><th>VIP到期日</th><td class=\"l\">" + user.endDate.Format(1) + "</td></tr>" : "") + "</table>";
            html += vip ? "<p>您已是VIP会员，可以使用全部功能。</p>"
                        : "<p>VIP会员年费100元。本地演示服务不收取费用，请联系管理员开通VIP会员。</p>";
            return html + "<p><a href=\"/plindo/User/VIPFunction.htm\">VIP会员功能列表</a></p>" + Tail();
        }
        note = "<p class=\"warn\">登录名或密码错误。</p>";
    }
    if (code == "102") html += "<p>升级为VIP会员需要先登录会员中心。</p>";
    html += note + "<form method=\"post\"><input type=\"hidden\" name=\"code\" value=\"" + Esc(code) +
            "\">登录名：<input name=\"name\" size=\"16\"> 密码：<input name=\"password\" type=\"password\" size=\"16\">"
            "<input type=\"submit\" value=\"登录\"></form>";
    return html + "<p><a href=\"/plindo/User/VIPFunction.htm\">VIP会员功能列表</a></p>" + Tail();
}

}  // namespace vextal

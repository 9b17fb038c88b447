#include "MarketExport.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "MarketCsv.h"
#include "common/Format.h"

namespace vextal {

namespace fs = std::filesystem;

namespace {


// Lines of one file, numbers printed as printf's "%0.Nf" would (locale-free).
class CLines {
public:
    CLines& Add(std::string_view text)
    {
        if (m_fieldStarted) m_text += ',';
        m_text += text;
        m_fieldStarted = true;
        return *this;
    }
    CLines& Add(double value, int places)
    {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof(buf), value, std::chars_format::fixed, places);
        return Add(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
    }
    CLines& Day(int day)
    {
        if (day <= 0) return Add("");
        const DateParts p = DateOfDay(day).Parts();
        char buf[11] = {static_cast<char>('0' + p.year / 1000), static_cast<char>('0' + p.year / 100 % 10),
                        static_cast<char>('0' + p.year / 10 % 10), static_cast<char>('0' + p.year % 10), '-',
                        static_cast<char>('0' + p.month / 10), static_cast<char>('0' + p.month % 10), '-',
                        static_cast<char>('0' + p.day / 10), static_cast<char>('0' + p.day % 10), 0};
        return Add(std::string_view(buf, 10));
    }
    void Append(const CLines& more) { m_text += more.m_text; }
    void End()
    {
        m_text += '\n';
        m_fieldStarted = false;
    }
    bool Write(const fs::path& path, std::string& error) const
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!(out << m_text) || !out.flush()) {
            error = "cannot write " + path.string();
            return false;
        }
        return true;
    }

private:
    std::string m_text;
    bool m_fieldStarted = false;
};

std::string Time(int second)
{
    return StrFormat("%02d:%02d:%02d", second / 3600, second / 60 % 60, second % 60);
}

}  // namespace

bool ExportMarket(const CMarket& market, const std::string& folder, int from, int to, std::string& error, int threads)
{
    const fs::path root(folder);
    std::error_code ec;
    if (fs::exists(root, ec) && !fs::is_empty(root, ec)) {
        error = folder + " is not empty";
        return false;
    }
    for (const char* sub : {"nav", "indices", "quotes"}) fs::create_directories(root / sub, ec);
    if (ec) {
        error = "cannot create " + folder + ": " + ec.message();
        return false;
    }
    const CTradingCalendar& cal = market.Calendar();
    const OleDate now = OleDate::FromParts(DateOfDay(to).Year(), DateOfDay(to).Month(), DateOfDay(to).Day(), 23, 59, 59);
    // Every fund of the catalogue, those still to be founded too: they are
    // in subscription until then, and the order of the funds is kept.
    std::vector<const MarketFund*> funds;
    for (const MarketFund& f : market.Funds()) funds.push_back(&f);

    CLines closed;
    closed.Add("date").End();
    for (int d = cal.FirstDay(); d <= cal.LastDay(); ++d) {
        const int weekday = DateOfDay(d).DayOfWeek();
        if (weekday != 0 && weekday != 6 && !cal.IsTradingDay(d)) closed.Day(d).End();
    }
    CLines companies;
    companies.Add("id").Add("name").Add("type").Add("url").End();
    for (const MarketCompany& c : market.Companies()) companies.Add(c.id).Add(c.name).Add(c.type).Add(c.url).End();
    CLines list;
    list.Add("code").Add("name").Add("short_name").Add("company").Add("type").Add("invest").Add("bank").Add("url");
    list.Add("founded").Add("wound_up").Add("units").Add("units_before").End();
    for (const MarketFund* f : funds) {
        list.Add(f->code).Add(f->name).Add(f->shortName).Add(f->companyId).Add(kFolderFundTypes[f->fundType - 1]);
        list.Add(kFolderInvestTypes[f->investType - 1]).Add(std::to_string(f->bankId)).Add(f->url).Day(f->createDay);
        list.Day(f->withdrawDay).Add(f->newCount, 2).Add(f->oldCount, 2).End();
    }
    if (!closed.Write(root / "closed-days.csv", error) || !companies.Write(root / "companies.csv", error) ||
        !list.Write(root / "funds.csv", error))
        return false;

    // Each fund's NAVs, on a few threads; dividends and splits gathered by fund.
    std::vector<CLines> dividends(funds.size()), splits(funds.size());
    std::vector<std::string> errors(funds.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < funds.size();) {
            const MarketFund& f = *funds[i];
            CLines nav;
            nav.Add("date").Add(f.IsMoneyMarket() ? "income" : "nav").Add(f.IsMoneyMarket() ? "yield" : "acc").End();
            for (const NavRecord& r : market.Published(f, now, 0, to))
                nav.Day(r.day).Add(r.nav, 4).Add(f.IsMoneyMarket() ? r.pct : r.acc, 4).End();
            nav.Write(root / "nav" / (f.code + ".csv"), errors[i]);
            for (const FundDividend& d : market.Dividends(f, now, 0, to))
                dividends[i].Add(f.code).Day(d.recordDay).Day(d.exDay).Day(d.payDay).Add(d.perUnit, 4).End();
            for (const FundSplit& s : market.Splits(f, now)) splits[i].Add(f.code).Day(s.day).Add(s.ratio, 4).End();
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
    for (const std::string& e : errors)
        if (!e.empty()) {
            error = e;
            return false;
        }
    CLines dividendFile, splitFile;
    dividendFile.Add("fund").Add("record_date").Add("ex_date").Add("pay_date").Add("per_unit").End();
    splitFile.Add("fund").Add("date").Add("ratio").End();
    for (size_t i = 0; i < funds.size(); ++i) {
        dividendFile.Append(dividends[i]);
        splitFile.Append(splits[i]);
    }
    if (!dividendFile.Write(root / "dividends.csv", error) || !splitFile.Write(root / "splits.csv", error)) return false;

    const int lastIndexDay = market.LatestIndexDay(now);
    for (size_t k = 0; k < market.Indices().size(); ++k) {
        CLines closes;
        closes.Add("date").Add("close").Add("turnover").End();
        for (const IndexClose& c : market.IndexCloses(static_cast<int>(k))) {
            if (c.day > lastIndexDay) break;
            closes.Day(c.day).Add(c.value, 2).Add(c.turnover, 2).End();
        }
        if (!closes.Write(root / "indices" / (market.Indices()[k].code + ".csv"), error)) return false;
    }

    // Holdings from the first day whose closes are written; each disclosure once.
    const int closesFrom = cal.DayAt(std::max(0, cal.IndexOnOrAfter(from) - kExportCloseDays));
    CLines holdings;
    holdings.Add("fund").Add("date").Add("stock").Add("stock_name").Add("weight").Add("industry").End();
    std::map<int, std::set<int>> held;  // trading day -> the stocks any fund holds
    for (const MarketFund* f : funds) {
        int disclosed = -1;
        for (int d = closesFrom; d <= to; ++d) {
            const int date = market.HoldingsDate(*f, d);
            const std::vector<Holding> in = market.Holdings(*f, d);
            if (cal.IsTradingDay(d))
                for (const Holding& h : in) held[d].insert(h.stock);
            if (date == disclosed || !date) continue;
            disclosed = date;
            for (const Holding& h : in) {
                const MarketStock& s = market.Stocks()[static_cast<size_t>(h.stock)];
                holdings.Add(f->code).Day(date).Add(s.code).Add(s.name).Add(h.weight * 100.0, 2).Add(s.industry).End();
            }
        }
    }
    if (!holdings.Write(root / "holdings.csv", error)) return false;

    for (const auto& [day, stocks] : held) {
        CLines quotes;
        quotes.Add("time").Add("stock").Add("price").Add("prev_close").End();
        for (int stock : stocks) {
            const std::string& code = market.Stocks()[static_cast<size_t>(stock)].code;
            std::shared_ptr<const StockQuotes> q = market.Quotes(stock, day);
            if (!q) continue;
            for (size_t r = day < from ? (q->rows.empty() ? 0 : q->rows.size() - 1) : 0; r < q->rows.size(); ++r)
                quotes.Add(Time(q->rows[r].second)).Add(code).Add(q->rows[r].price, 2).Add(q->prevClose, 2).End();
        }
        if (!quotes.Write(root / "quotes" / (DateOfDay(day).Format(1) + ".csv"), error)) return false;
    }
    return true;
}

}  // namespace vextal

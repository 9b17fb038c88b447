#include "MarketSimulator.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <set>

#include "common/Format.h"

namespace vextal {
namespace {

// Counter-based randomness: every draw is a pure function of the seed and
// its coordinates, so any day of any fund can be computed on its own.
uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Hash = HashRest(HashPrefix(seed, tag, a), b, c): the prefix of a fund's or
// a stock's daily draws is computed once per series, not once per day.
uint64_t HashPrefix(uint64_t seed, uint64_t tag, uint64_t a) { return Mix(Mix(seed ^ (tag << 48)) ^ a); }

uint64_t HashRest(uint64_t prefix, uint64_t b, uint64_t c = 0)
{
    return Mix(Mix(prefix ^ (b * 0xD6E8FEB86659FD93ull)) ^ (c * 0xA0761D6478BD642Full));
}

uint64_t Hash(uint64_t seed, uint64_t tag, uint64_t a = 0, uint64_t b = 0, uint64_t c = 0)
{
    return HashRest(HashPrefix(seed, tag, a), b, c);
}

double Cents(double v) { return std::round(v * 100.0) / 100.0; }

double Uniform(uint64_t h) { return static_cast<double>(h >> 11) * 0x1.0p-53; }

double Normal(uint64_t h)
{
    double u1 = std::max(Uniform(h), 1e-300);
    double u2 = Uniform(Mix(h));
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

enum Tag : uint64_t {
    kTagStock = 1, kTagFund, kTagMarket, kTagRegime, kTagSector, kTagBond, kTagIdio, kTagTrack, kTagHold,
    kTagDividend, kTagSplit, kTagYield, kTagIntraday, kTagTurnover, kTagName
};

const char* const kCompanyFirst[] = {"华", "嘉", "鼎", "瑞", "泰", "汇", "安", "宏", "信", "盛"};
const char* const kCompanySecond[] = {"丰", "和", "达", "元", "诚", "源"};
const char* const kStockPrefix[] = {
    "东方", "华东", "华南", "华北", "西部", "中原", "江南", "江北", "海天", "长江", "黄河", "珠江",
    "天山", "泰山", "华山", "金山", "银河", "星河", "新华", "振华", "兴华", "国华", "安华", "宏达",
    "恒达", "通达", "永安", "长安", "新安", "恒安", "鼎盛", "昌盛", "隆盛", "荣盛", "金桥", "银桥",
    "海港", "山河", "远航", "启航", "天成", "永成", "大成", "中成", "晨光", "曙光", "瑞丰", "瑞祥",
    "嘉禾", "嘉和", "富源", "广源", "清源", "汇源", "华联", "金联", "百合", "千禾", "万和", "天和"};
// Three name endings per sector: banks, brokers, property, pharma,
// electronics, autos, food, chemicals, energy, technology.
const char* const kStockSuffix[] = {"银行", "农商", "信托", "证券", "投资", "金控", "地产", "置业", "建设", "药业",
                                    "医疗", "生物", "电子", "光电", "微电", "汽车", "机械", "重工", "食品", "酒业",
                                    "乳业", "化工", "材料", "化纤", "能源", "电力", "石化", "科技", "软件", "信息"};
const char* const kThemes[] = {"成长", "价值", "稳健", "优选", "精选", "红利", "蓝筹", "消费", "医疗", "科技",
                               "新能源", "均衡", "领先", "核心", "动力", "回报", "先锋", "量化", "中小盘", "主题",
                               "创新", "策略", "增利", "安心", "添利", "丰收", "灵活配置", "行业轮动", "品质", "远见"};


// A fund's day: the stock part (already weighted), the rest of its assets in
// bonds, a small tracking error and the fee.
// `track` is the fund's HashPrefix of kTagTrack.
double CombineReturn(double bond, uint64_t track, const MarketFund& fund, double stockPart, double stockWeight,
                     int index)
{
    double noise = Normal(HashRest(track, static_cast<uint64_t>(index)));
    if (fund.HoldsStocks()) return stockPart + (1.0 - stockWeight) * bond + 0.0006 * noise - 0.00005;
    return 1.3 * bond + 0.0004 * noise;
}

// Annual yield of a money-market fund on a calendar day; `yield` is the
// fund's HashPrefix of kTagYield.
double MoneyYield(uint64_t yield, int day)
{
    // From 2024 money-market yields sat in a narrow band around 2 %: a
    // gentle cycle, a fund's own spread and little daily noise, so the
    // 7-day yield stays within 1.5-2.5 %.
    static const int kNarrowFrom = DayOf(2024, 1, 1) - 7;
    if (day >= kNarrowFrom) {
        double spread = 0.003 * (Uniform(HashRest(yield, 0)) - 0.5);
        double y = 0.0195 + 0.002 * std::sin(2.0 * std::numbers::pi * day / 1100.0) + spread +
                   0.0006 * Normal(HashRest(yield, static_cast<uint64_t>(day)));
        return std::clamp(y, 0.013, 0.027);
    }
    double spread = 0.004 * (Uniform(HashRest(yield, 0)) - 0.5);
    double y = 0.022 + 0.012 * std::sin(2.0 * std::numbers::pi * day / 1100.0) + spread +
               0.0015 * Normal(HashRest(yield, static_cast<uint64_t>(day)));
    return std::max(0.004, y);
}

}  // namespace

const char* SectorIndustry(int sector)
{
    static const char* const kIndustries[] = {"银行", "非银金融", "房地产", "医药生物", "电子",
                                              "汽车机械", "食品饮料", "基础化工", "能源电力", "计算机"};
    return sector >= 0 && sector < 10 ? kIndustries[sector] : "";
}

CMarketSimulator::CMarketSimulator(const MarketOptions& options) : CMarket(CTradingCalendar(2035)), m_options(options)
{
    m_options.fundCount = std::clamp(m_options.fundCount, 1, 20000);
    BuildFactors();
    BuildStocks();
    BuildCompanies();
    BuildFunds();
    IndexCatalogue();
    // Address space only: a stock's pages are written when its returns are.
    for (size_t j = 0; j < m_simStocks.size(); ++j)
        m_stockPaths.push_back(std::make_unique<StockPath>(static_cast<size_t>(m_calendar.Count())));
    m_stockCloses.resize(m_simStocks.size());
    // The date arithmetic of the quarter is too slow for every day of every history.
    m_quarterOfIndex.reserve(static_cast<size_t>(m_calendar.Count()));
    for (int i = 0; i < m_calendar.Count(); ++i) m_quarterOfIndex.push_back(QuarterStart(m_calendar.DayAt(i)));
}

void CMarketSimulator::BuildFactors()
{
    const uint64_t seed = m_options.seed;
    const int n = m_calendar.Count();
    m_market.resize(static_cast<size_t>(n));
    m_bond.resize(static_cast<size_t>(n));
    m_sector.assign(10, std::vector<double>(static_cast<size_t>(n)));
    for (int i = 0; i < n; ++i) {
        // Bull and bear phases of about three months on top of daily noise.
        double drift = 0.0003 + 0.0015 * Normal(Hash(seed, kTagRegime, static_cast<uint64_t>(i / 60)));
        m_market[static_cast<size_t>(i)] = std::clamp(drift + 0.013 * Normal(Hash(seed, kTagMarket, i)), -0.09, 0.09);
        m_bond[static_cast<size_t>(i)] = 0.00015 + 0.0007 * Normal(Hash(seed, kTagBond, i));
        for (int k = 0; k < 10; ++k)
            m_sector[static_cast<size_t>(k)][static_cast<size_t>(i)] = 0.007 * Normal(Hash(seed, kTagSector, k, i));
    }

    // The three indices of StandardIndices(), in that order: base levels and sector weights.
    struct IndexDef { double base; double w[10]; };
    const IndexDef defs[] = {
        {1200, {0.22, 0.14, 0.10, 0.06, 0.05, 0.09, 0.07, 0.09, 0.13, 0.05}},
        {3300, {0.06, 0.08, 0.10, 0.13, 0.15, 0.09, 0.12, 0.08, 0.05, 0.14}},
        {900, {0.15, 0.12, 0.09, 0.09, 0.10, 0.09, 0.10, 0.08, 0.09, 0.09}},
    };
    for (size_t k = 0; k < std::size(defs); ++k) {
        const IndexDef& d = defs[k];
        std::vector<IndexClose> closes(static_cast<size_t>(n));
        double v = d.base;
        for (int i = 0; i < n; ++i) {
            if (i > 0) {
                double r = m_market[static_cast<size_t>(i)];
                for (int s = 0; s < 10; ++s) r += d.w[s] * m_sector[static_cast<size_t>(s)][static_cast<size_t>(i)];
                v *= 1.0 + std::clamp(r, -0.1, 0.1);
            }
            IndexClose& c = closes[static_cast<size_t>(i)];
            c.day = m_calendar.DayAt(i);
            c.value = Cents(v);
            c.turnover = Cents(300.0 + 900.0 * Uniform(Hash(seed, kTagTurnover, k, i)));
        }
        m_indexCloses.push_back(std::move(closes));
    }
}

void CMarketSimulator::BuildStocks()
{
    const uint64_t seed = m_options.seed;
    m_stocksBySector.assign(10, {});
    for (int j = 0; j < 1500; ++j) {
        MarketStock m;
        SimStock s;
        if (j < 600)
            m.code = StrFormat("600%03d", j);
        else if (j < 1200)
            m.code = StrFormat("000%03d", j - 599);
        else
            m.code = StrFormat("300%03d", j - 1199);
        int suffix = (j / 60 + j * 7) % 30;
        m.name = std::string(kStockPrefix[j % 60]) + kStockSuffix[suffix];
        s.sector = suffix / 3;
        m.industry = SectorIndustry(s.sector);
        uint64_t h = Hash(seed, kTagStock, j);
        s.beta = 0.7 + 0.6 * Uniform(h);
        s.sigma = 0.010 + 0.015 * Uniform(Mix(h));
        s.startPrice = 3.0 + 45.0 * Uniform(Mix(Mix(h)));
        m_stocksBySector[static_cast<size_t>(s.sector)].push_back(j);
        m_simStocks.push_back(s);
        m_stocks.push_back(std::move(m));
    }
}

void CMarketSimulator::BuildCompanies()
{
    for (int c = 0; c < 60; ++c) {
        MarketCompany co;
        co.id = StrFormat("%04d", c + 1);
        std::string shortName = std::string(kCompanyFirst[c / 6]) + kCompanySecond[c % 6];
        co.name = shortName + "基金管理有限公司";
        co.url = StrFormat("http://www.fund%04d.example/", c + 1);
        co.type = (Hash(m_options.seed, kTagName, 1000 + c) % 4 == 0) ? "合资" : "内资";
        m_companies.push_back(std::move(co));
    }
}

void CMarketSimulator::BuildFunds()
{
    const uint64_t seed = m_options.seed;
    const int lastCreate = DayOf(2025, 12, 31);
    int next[6] = {0, 1, 500001, 510001, 160001, 880001};  // code sequence per fund type
    std::set<std::string> shortNames;
    for (int i = 0; i < m_options.fundCount; ++i) {
        MarketFund f;
        f.ordinal = i;
        uint64_t h = Hash(seed, kTagFund, i);
        double u = Uniform(h);
        double v = Uniform(Hash(seed, kTagFund, i, 1));
        if (u < 0.55) {
            f.fundType = 1;
            f.investType = v < 0.30 ? 1 : v < 0.65 ? 2 : v < 0.85 ? 3 : 4;
        } else if (u < 0.60) {
            f.fundType = 2;
            f.investType = v < 0.5 ? 1 : 2;
        } else if (u < 0.72) {
            f.fundType = 3;
            f.investType = 1;
        } else if (u < 0.85) {
            f.fundType = 4;
            f.investType = v < 0.4 ? 1 : v < 0.8 ? 2 : 3;
        } else {
            f.fundType = 5;
            f.investType = v < 0.3 ? 1 : v < 0.7 ? 2 : 3;
        }
        f.code = StrFormat("%06d", next[f.fundType]++);
        f.companyId = m_companies[Hash(seed, kTagFund, i, 2) % m_companies.size()].id;
        f.bankId = 1 + static_cast<int>(Hash(seed, kTagFund, i, 3) % 13);
        m_fundSector.push_back(static_cast<int>(Hash(seed, kTagFund, i, 4) % 10));

        // More funds were launched in later years.
        int minYear = (f.investType == 4 || f.fundType == 3 || f.fundType == 4) ? 2004 : 1998;
        double w = std::pow(Uniform(Hash(seed, kTagFund, i, 5)), 0.6);
        int firstDay = DayOf(minYear, 3, 1);
        int create = firstDay + static_cast<int>(w * (lastCreate - firstDay));
        int idx = m_calendar.IndexOnOrAfter(create);
        f.createDay = m_calendar.DayAt(idx);
        if (Uniform(Hash(seed, kTagFund, i, 6)) < 0.03) {
            int life = 750 + static_cast<int>(Uniform(Hash(seed, kTagFund, i, 7)) * 1500);
            if (idx + life < m_calendar.IndexOnOrBefore(lastCreate)) f.withdrawDay = m_calendar.DayAt(idx + life);
        }
        f.newCount = static_cast<float>(Round2(2.0 + 60.0 * Uniform(Hash(seed, kTagFund, i, 8))));
        f.oldCount = static_cast<float>(Round2(f.newCount * (0.3 + 1.5 * Uniform(Hash(seed, kTagFund, i, 9)))));

        const MarketCompany& co = m_companies[static_cast<size_t>(std::stoi(f.companyId) - 1)];
        std::string company = co.name.substr(0, co.name.find("基金"));
        std::string theme = kThemes[Hash(seed, kTagFund, i, 10) % std::size(kThemes)];
        static const char* const kInvest[] = {"", "股票", "混合", "债券", "货币"};
        std::string kind, full;
        switch (f.fundType) {
        case 2: kind = "封闭"; full = "封闭式证券投资基金"; break;
        case 3: kind = "ETF"; full = "交易型开放式指数证券投资基金"; break;
        case 4: kind = std::string(kInvest[f.investType]) + "LOF"; full = "证券投资基金(LOF)"; break;
        case 5: kind = std::string(kInvest[f.investType]) + "集合"; full = "集合资产管理计划"; break;
        default: kind = kInvest[f.investType]; full = std::string(kInvest[f.investType]) + "型证券投资基金"; break;
        }
        std::string base = company + theme;
        std::string shortName = base + kind;
        for (int n = 2; shortNames.count(shortName); ++n) shortName = base + StrFormat("%d号", n) + kind;
        shortNames.insert(shortName);
        f.shortName = shortName;
        f.name = shortName.substr(0, shortName.size() - kind.size()) + full;
        f.url = co.url + "fund/" + f.code + ".html";
        m_funds.push_back(std::move(f));
    }
}

const float* CMarketSimulator::StockReturns(int stock, int lastIndex) const
{
    StockPath* path = m_stockPaths[static_cast<size_t>(stock)].get();
    if (path->done.load(std::memory_order_acquire) > lastIndex) return path->returns.get();
    // Extended in place (the storage never moves), so earlier readers keep
    // valid pointers; the days before `done` are never written again.
    std::lock_guard lock(path->mutex);
    int from = path->done.load(std::memory_order_relaxed);
    if (from > lastIndex) return path->returns.get();
    const int to = std::min(m_calendar.Count(), (lastIndex / 256 + 1) * 256);
    const SimStock& s = m_simStocks[static_cast<size_t>(stock)];
    const uint64_t prefix = HashPrefix(m_options.seed, kTagIdio, static_cast<uint64_t>(stock));
    for (int i = std::max(from, 1); i < to; ++i) {
        double r = s.beta * m_market[static_cast<size_t>(i)] + m_sector[static_cast<size_t>(s.sector)][static_cast<size_t>(i)] +
                   s.sigma * Normal(HashRest(prefix, static_cast<uint64_t>(i)));
        path->returns[static_cast<size_t>(i)] = static_cast<float>(std::clamp(r, -0.1, 0.1));
    }
    path->done.store(to, std::memory_order_release);
    return path->returns.get();
}

const std::vector<float>& CMarketSimulator::StockCloses(int stock) const
{
    const size_t count = static_cast<size_t>(m_calendar.Count());
    const float* r = StockReturns(stock, m_calendar.Count() - 1);
    {
        std::lock_guard lock(m_mutex);
        if (auto& p = m_stockCloses[static_cast<size_t>(stock)]) return *p;
    }
    auto v = std::make_shared<std::vector<float>>(count);
    double price = m_simStocks[static_cast<size_t>(stock)].startPrice;
    for (size_t i = 0; i < count; ++i) {
        price *= 1.0 + r[i];
        (*v)[i] = static_cast<float>(price);
    }
    std::lock_guard lock(m_mutex);
    auto& slot = m_stockCloses[static_cast<size_t>(stock)];
    if (!slot) slot = std::move(v);
    return *slot;
}

double CMarketSimulator::PublishedClose(int stock, int index) const
{
    return std::max(0.01, Cents(StockCloses(stock)[static_cast<size_t>(index)]));
}

bool CMarketSimulator::HasQuotes(int day) const
{
    return m_calendar.IsTradingDay(day) && m_calendar.IndexOnOrBefore(day) >= 1;
}

bool CMarketSimulator::DayClose(int stock, int day, double& close, double& prevClose) const
{
    if (stock < 0 || stock >= static_cast<int>(m_simStocks.size()) || !HasQuotes(day)) return false;
    const int i = m_calendar.IndexOnOrBefore(day);
    // As the quotes hold them.
    close = static_cast<float>(PublishedClose(stock, i));
    prevClose = static_cast<float>(PublishedClose(stock, i - 1));
    return true;
}

std::shared_ptr<const StockQuotes> CMarketSimulator::Quotes(int stock, int day) const
{
    if (stock < 0 || stock >= static_cast<int>(m_simStocks.size()) || !HasQuotes(day)) return nullptr;
    const QuoteKey key{stock, day};
    {
        std::lock_guard lock(m_mutex);
        auto it = m_quotes.find(key);
        if (it != m_quotes.end()) {
            m_quoteOrder.splice(m_quoteOrder.end(), m_quoteOrder, it->second.second);
            return it->second.first;
        }
    }
    const int i = m_calendar.IndexOnOrBefore(day);
    const SimStock& s = m_simStocks[static_cast<size_t>(stock)];
    auto q = std::make_shared<StockQuotes>();
    q->prevClose = static_cast<float>(PublishedClose(stock, i - 1));
    // A Brownian bridge pinned at the previous close and the close.
    const double p0 = std::log(StockCloses(stock)[static_cast<size_t>(i - 1)]);
    const double p1 = std::log(StockCloses(stock)[static_cast<size_t>(i)]);
    const double step = s.sigma / std::sqrt(240.0);
    std::vector<double> walkAt(240);
    double walk = 0;
    for (int k = 0; k < 240; ++k) {
        walkAt[static_cast<size_t>(k)] = walk;
        walk += step * Normal(Hash(m_options.seed, kTagIntraday, stock, i, k));
    }
    q->rows.reserve(240);
    for (int m = 1; m <= 240; ++m) {
        const int minute = m <= 120 ? 570 + m : 660 + m;
        const double f = m / 240.0;
        const double price =
            m == 240 ? PublishedClose(stock, i)
                     : std::max(0.01, Cents(std::exp(p0 + f * (p1 - p0) + walkAt[static_cast<size_t>(m)] - f * walk)));
        q->rows.push_back({minute * 60, static_cast<float>(price)});
    }
    std::lock_guard lock(m_mutex);
    auto [it, added] = m_quotes.try_emplace(key);
    if (added) {
        it->second = {q, m_quoteOrder.insert(m_quoteOrder.end(), key)};
        if (m_quotes.size() > 4000) {
            m_quotes.erase(m_quoteOrder.front());
            m_quoteOrder.pop_front();
        }
    }
    return it->second.first;
}

const std::vector<IndexClose>& CMarketSimulator::IndexCloses(int index) const
{
    return m_indexCloses[static_cast<size_t>(index)];
}

double CMarketSimulator::BondReturn(int index) const
{
    if (index < 0 || index >= m_calendar.Count()) return 0;
    return m_bond[static_cast<size_t>(index)];
}

int CMarketSimulator::QuarterStart(int day) const
{
    DateParts p = DateOfDay(day).Parts();
    return DayOf(p.year, (p.month - 1) / 3 * 3 + 1, 1);
}

int CMarketSimulator::HoldingsDate(const MarketFund& fund, int day) const
{
    return fund.HoldsStocks() ? QuarterStart(day) : 0;
}

std::vector<Holding> CMarketSimulator::Holdings(const MarketFund& fund, int day) const
{
    std::vector<Holding> out;
    if (!fund.HoldsStocks()) return out;
    const uint64_t seed = m_options.seed;
    const uint64_t quarter = static_cast<uint64_t>(QuarterStart(day));
    const auto& own = m_stocksBySector[static_cast<size_t>(FundSector(fund))];
    // Ten distinct stocks in ascending order (a small array: this runs once
    // a quarter for every fund of the market).
    std::vector<int> picked;
    picked.reserve(10);
    const uint64_t prefix = HashPrefix(seed, kTagHold, static_cast<uint64_t>(fund.ordinal));
    for (int k = 0; picked.size() < 10; ++k) {
        uint64_t h = HashRest(prefix, quarter, static_cast<uint64_t>(k));
        int stock = k % 2 == 0 && !own.empty() ? own[h % own.size()] : static_cast<int>(h % m_simStocks.size());
        if (std::find(picked.begin(), picked.end(), stock) == picked.end()) picked.push_back(stock);
    }
    std::sort(picked.begin(), picked.end());
    double lo = fund.investType == 1 ? 0.80 : 0.50, hi = fund.investType == 1 ? 0.93 : 0.75;
    double total = lo + (hi - lo) * Uniform(HashRest(prefix, quarter, 100));
    std::vector<double> raw;
    raw.reserve(10);
    double sum = 0;
    for (size_t k = 0; k < picked.size(); ++k) {
        raw.push_back(0.4 + Uniform(HashRest(prefix, quarter, 200 + k)));
        sum += raw.back();
    }
    size_t k = 0;
    for (int stock : picked) {
        // Disclosed in percent with two decimals; the fund runs on exactly
        // that, read back as a disclosure file gives it.
        const double percent = std::round(total * raw[k++] / sum * 10000.0) / 100.0;
        out.push_back({stock, percent / 100.0});
    }
    std::sort(out.begin(), out.end(), [](const Holding& a, const Holding& b) {
        return a.weight != b.weight ? a.weight > b.weight : a.stock < b.stock;
    });
    return out;
}

std::shared_ptr<FundHistory> CMarketSimulator::ComputeHistory(const MarketFund& fund, int lastDay) const
{
    const uint64_t seed = m_options.seed;
    auto s = std::make_shared<FundHistory>();
    // A withdrawn fund's records end with it (a closed-end fund's last
    // Friday may follow a few days later).
    s->through = fund.withdrawDay && lastDay >= fund.withdrawDay + 7 ? INT_MAX : lastDay;
    const int firstIndex = m_calendar.IndexOnOrAfter(fund.createDay);
    int end = m_calendar.IndexOnOrBefore(lastDay);
    if (fund.withdrawDay) end = std::min(end, m_calendar.IndexOnOrBefore(fund.withdrawDay));
    if (end < firstIndex) return s;
    const size_t n = static_cast<size_t>(end - firstIndex + 1);
    s->days.reserve(n);
    s->nav.reserve(n);
    (fund.IsMoneyMarket() ? s->pct : s->acc).reserve(n);

    if (fund.IsMoneyMarket()) {
        // Each calendar day's income once; the week's is a window over them.
        const int firstDay = m_calendar.DayAt(firstIndex) - 7;
        const uint64_t yield = HashPrefix(seed, kTagYield, static_cast<uint64_t>(fund.ordinal));
        std::vector<double> daily;
        auto incomeUpTo = [&](int day) {
            while (firstDay + static_cast<int>(daily.size()) <= day)
                daily.push_back(10000.0 * MoneyYield(yield, firstDay + static_cast<int>(daily.size())) / 365.0);
        };
        auto sum = [&](int fromExclusive, int toInclusive) {
            incomeUpTo(toInclusive);
            double total = 0;
            for (int c = fromExclusive + 1; c <= toInclusive; ++c) total += daily[static_cast<size_t>(c - firstDay)];
            return total;
        };
        for (int i = firstIndex; i <= end; ++i) {
            int day = m_calendar.DayAt(i);
            int prev = i == firstIndex ? day - 1 : m_calendar.DayAt(i - 1);
            s->days.push_back(day);
            s->nav.push_back(static_cast<float>(Round4(sum(prev, day))));
            s->pct.push_back(static_cast<float>(Round4(sum(day - 7, day) / 10000.0 * 365.0 / 7.0 * 100.0)));
        }
        DeriveFigures(true, *s);
        return s;
    }

    double nav = 1, dividends = 0, splitOffset = 0;
    int lastDividend = -100000;
    const uint64_t track = HashPrefix(seed, kTagTrack, static_cast<uint64_t>(fund.ordinal));
    auto push = [&](int day) {
        s->days.push_back(day);
        s->nav.push_back(static_cast<float>(Round4(nav)));
        s->acc.push_back(static_cast<float>(Round4(nav + dividends + splitOffset)));
    };
    // The stock part of each day of the quarter in force, summed one holding
    // at a time over the quarter (one stock's returns are read in a row, not
    // ten stocks' a day), in the holdings' order as before.
    std::vector<double> parts;
    int blockStart = 0, blockEnd = -1;
    double stockWeight = 0;
    push(m_calendar.DayAt(firstIndex));
    for (int i = firstIndex + 1; i <= end; ++i) {
        int day = m_calendar.DayAt(i);
        if (fund.HoldsStocks() && i > blockEnd) {
            const int quarter = m_quarterOfIndex[static_cast<size_t>(i)];
            blockStart = i;
            blockEnd = i;
            while (blockEnd < end && m_quarterOfIndex[static_cast<size_t>(blockEnd + 1)] == quarter) ++blockEnd;
            parts.assign(static_cast<size_t>(blockEnd - blockStart + 1), 0.0);
            stockWeight = 0;
            const std::vector<Holding> holdings = Holdings(fund, day);
            const float* legs[16] = {};
            const size_t bytes = parts.size() * sizeof(float);
            for (size_t h = 0; h < holdings.size() && h < std::size(legs); ++h) {
                legs[h] = StockReturns(holdings[h].stock, blockEnd) + blockStart;
                // The ten stocks' quarters are far apart in memory: ask for
                // all of them before the first is read, so the waits overlap.
                for (size_t b = 0; b < bytes; b += 64) __builtin_prefetch(reinterpret_cast<const char*>(legs[h]) + b);
            }
            for (size_t h = 0; h < holdings.size(); ++h) {
                const float* returns = h < std::size(legs) ? legs[h] : StockReturns(holdings[h].stock, blockEnd) + blockStart;
                for (size_t k = 0; k < parts.size(); ++k) parts[k] += holdings[h].weight * returns[k];
                stockWeight += holdings[h].weight;
            }
        }
        const double part = fund.HoldsStocks() ? parts[static_cast<size_t>(i - blockStart)] : 0.0;
        double r = std::max(-0.2, CombineReturn(BondReturn(i), track, fund, part, stockWeight, i));
        double x = nav * (1.0 + r);
        double threshold = fund.investType == 3 ? 1.03 : 1.12;
        if (i - lastDividend > 120 && x > threshold && Uniform(Hash(seed, kTagDividend, fund.ordinal, i)) < 0.012) {
            double share = 0.15 + 0.4 * Uniform(Hash(seed, kTagDividend, fund.ordinal, i, 1));
            double amount = std::max(0.01, std::round((x - 1.0) * share * 1000.0) / 1000.0);
            x -= amount;
            dividends += amount;
            lastDividend = i;
            int pay = i + 2 < m_calendar.Count() ? m_calendar.DayAt(i + 2) : day + 2;
            s->dividends.push_back({day, pay, day, amount});
        } else if (x > 1.8 && Uniform(Hash(seed, kTagSplit, fund.ordinal, i)) < 0.003) {
            // A split brings the NAV back to about 1; the accumulated NAV runs on.
            double ratio = Round4(x);
            double after = x / ratio;
            splitOffset += x - after;
            x = after;
            s->splits.push_back({day, ratio});
        }
        nav = x;
        push(day);
    }
    if (fund.fundType == 2) {
        // Closed-end funds publish weekly, on Fridays (a holiday Friday too),
        // the NAV of the last trading day.
        auto weekly = std::make_shared<FundHistory>();
        weekly->through = s->through;
        weekly->dividends = std::move(s->dividends);
        weekly->splits = std::move(s->splits);
        const long lastEntry = static_cast<long>(s->Size()) - 1;
        const int firstFriday = fund.createDay + (12 - ((fund.createDay % 7) + 6) % 7) % 7;
        for (int f = firstFriday; f <= lastDay; f += 7) {
            const long entry = m_calendar.IndexOnOrBefore(f) - firstIndex;
            if (entry < 0) continue;
            if (entry > lastEntry) break;
            weekly->days.push_back(f);
            weekly->nav.push_back(s->nav[static_cast<size_t>(entry)]);
            weekly->acc.push_back(s->acc[static_cast<size_t>(entry)]);
        }
        s = weekly;
    }
    DeriveFigures(false, *s);
    return s;
}

}  // namespace vextal

#include "MarketSimulator.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <set>
#include <thread>

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

double Round4(double v) { return std::round(v * 10000.0) / 10000.0; }

int DayOf(int y, int m, int d) { return DayNumber(OleDate::FromParts(y, m, d)); }

// The day `months` calendar months before `day`, the day of month clamped.
int MonthsBefore(int day, int months)
{
    DateParts p = DateOfDay(day).Parts();
    int total = p.year * 12 + (p.month - 1) - months;
    int y = total / 12, m = total % 12 + 1;
    for (int d = p.day; d >= 28; --d) {
        OleDate r = OleDate::FromParts(y, m, d);
        if (r.IsValid()) return DayNumber(r);
    }
    return DayOf(y, m, std::min(p.day, 28));
}

bool IsPublishedBy(int day, const OleDate& now, int hour)
{
    int today = DayNumber(now);
    return day < today || (day == today && now.Hour() >= hour);
}

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

}  // namespace

CMarketSimulator::CMarketSimulator(const MarketOptions& options) : m_options(options), m_calendar(2035)
{
    m_options.fundCount = std::clamp(m_options.fundCount, 1, 20000);
    BuildFactors();
    BuildStocks();
    BuildCompanies();
    BuildFunds();
    // Address space only: a stock's pages are written when its returns are.
    for (size_t j = 0; j < m_stocks.size(); ++j)
        m_stockPaths.push_back(std::make_unique<StockPath>(static_cast<size_t>(m_calendar.Count())));
    m_stockCloses.resize(m_stocks.size());
    // The date arithmetic of HoldingsDate is too slow for every day of every history.
    m_quarterOfIndex.reserve(static_cast<size_t>(m_calendar.Count()));
    for (int i = 0; i < m_calendar.Count(); ++i) m_quarterOfIndex.push_back(HoldingsDate(m_calendar.DayAt(i)));
}

const char* SectorIndustry(int sector)
{
    static const char* const kIndustries[] = {"银行", "非银金融", "房地产", "医药生物", "电子",
                                              "汽车机械", "食品饮料", "基础化工", "能源电力", "计算机"};
    return sector >= 0 && sector < 10 ? kIndustries[sector] : "";
}

void RunAtBackgroundPriority()
{
    // Linux gives each thread its own nice value.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

void CMarketSimulator::WarmLatest(const OleDate& now, const std::vector<int>& classes, int threads,
                                  const std::atomic<bool>* stop) const
{
    const int today = DayNumber(now);
    std::atomic<size_t> next{0};
    auto work = [&] {
        LatestValue v;
        for (size_t i; (i = next++) < m_funds.size() && !(stop && *stop);) {
            const SimFund& f = m_funds[i];
            if (!classes.empty() && std::find(classes.begin(), classes.end(), FundClass(f)) == classes.end()) continue;
            if (IsListed(f, today) && !IsWithdrawn(f, today)) Latest(f, now, v);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
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

    struct IndexDef { const char* code; const char* name; double base; double w[10]; };
    const IndexDef defs[] = {
        {"1A0001", "上证指数", 1200, {0.22, 0.14, 0.10, 0.06, 0.05, 0.09, 0.07, 0.09, 0.13, 0.05}},
        {"399001", "深证成指", 3300, {0.06, 0.08, 0.10, 0.13, 0.15, 0.09, 0.12, 0.08, 0.05, 0.14}},
        {"399300", "沪深300", 900, {0.15, 0.12, 0.09, 0.09, 0.10, 0.09, 0.10, 0.08, 0.09, 0.09}},
    };
    for (const IndexDef& d : defs) {
        SimIndex idx;
        idx.code = d.code;
        idx.name = d.name;
        idx.base = d.base;
        std::copy(std::begin(d.w), std::end(d.w), idx.sectorWeight);
        std::vector<double> level(static_cast<size_t>(n));
        double v = d.base;
        for (int i = 0; i < n; ++i) {
            if (i > 0) {
                double r = m_market[static_cast<size_t>(i)];
                for (int k = 0; k < 10; ++k) r += d.w[k] * m_sector[static_cast<size_t>(k)][static_cast<size_t>(i)];
                v *= 1.0 + std::clamp(r, -0.1, 0.1);
            }
            level[static_cast<size_t>(i)] = v;
        }
        m_indices.push_back(idx);
        m_indexLevel.push_back(std::move(level));
    }
}

void CMarketSimulator::BuildStocks()
{
    const uint64_t seed = m_options.seed;
    m_stocksBySector.assign(10, {});
    for (int j = 0; j < 1500; ++j) {
        SimStock s;
        if (j < 600)
            s.code = StrFormat("600%03d", j);
        else if (j < 1200)
            s.code = StrFormat("000%03d", j - 599);
        else
            s.code = StrFormat("300%03d", j - 1199);
        int suffix = (j / 60 + j * 7) % 30;
        s.name = std::string(kStockPrefix[j % 60]) + kStockSuffix[suffix];
        s.sector = suffix / 3;
        uint64_t h = Hash(seed, kTagStock, j);
        s.beta = 0.7 + 0.6 * Uniform(h);
        s.sigma = 0.010 + 0.015 * Uniform(Mix(h));
        s.startPrice = 3.0 + 45.0 * Uniform(Mix(Mix(h)));
        m_stocksBySector[static_cast<size_t>(s.sector)].push_back(j);
        m_stocks.push_back(std::move(s));
    }
}

void CMarketSimulator::BuildCompanies()
{
    for (int c = 0; c < 60; ++c) {
        SimCompany co;
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
        SimFund f;
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
        f.sector = static_cast<int>(Hash(seed, kTagFund, i, 4) % 10);

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

        const SimCompany& co = m_companies[static_cast<size_t>(std::stoi(f.companyId) - 1)];
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
        m_fundByCode[f.code] = i;
        m_funds.push_back(std::move(f));
    }
    for (const SimFund& f : m_funds) {
        SimCompany& co = m_companies[static_cast<size_t>(std::stoi(f.companyId) - 1)];
        if (co.firstFundDay == 0 || f.createDay < co.firstFundDay) co.firstFundDay = f.createDay;
    }
}

const SimFund* CMarketSimulator::FindFund(const std::string& code) const
{
    auto it = m_fundByCode.find(code);
    return it == m_fundByCode.end() ? nullptr : &m_funds[static_cast<size_t>(it->second)];
}

int CMarketSimulator::FindIndex(const std::string& code) const
{
    for (size_t k = 0; k < m_indices.size(); ++k)
        if (m_indices[k].code == code) return static_cast<int>(k);
    return -1;
}

int CMarketSimulator::FundClass(const SimFund& fund)
{
    switch (fund.fundType) {
    case 1: return fund.investType == 4 ? 2 : 1;
    case 2: return 3;
    case 5: return 5;
    default: return 4;
    }
}

// The client expects the evening's NAVs from 20:00 too (kNavPublishHour of
// its latest values): keep the two hours in agreement.
int CMarketSimulator::LatestNavDay(const OleDate& now) const
{
    int i = m_calendar.IndexOnOrBefore(DayNumber(now));
    if (i >= 0 && !IsPublishedBy(m_calendar.DayAt(i), now, 20)) --i;
    return i >= 0 ? m_calendar.DayAt(i) : 0;
}

int CMarketSimulator::LatestIndexDay(const OleDate& now) const
{
    int i = m_calendar.IndexOnOrBefore(DayNumber(now));
    if (i >= 0 && !IsPublishedBy(m_calendar.DayAt(i), now, 15)) --i;
    return i >= 0 ? m_calendar.DayAt(i) : 0;
}

std::string CMarketSimulator::FundListVersion(const OleDate& now) const
{
    int today = DayNumber(now), stamp = 0;
    for (const SimFund& f : m_funds) {
        if (f.createDay <= today) stamp = std::max(stamp, f.createDay);
        if (f.withdrawDay && f.withdrawDay < today) stamp = std::max(stamp, f.withdrawDay + 1);
    }
    // Never at or below the stamp of an empty local catalogue.
    return std::max(std::string("20070102"), DateOfDay(stamp).Format(2));
}

std::string CMarketSimulator::CompanyListVersion(const OleDate& now) const
{
    int today = DayNumber(now), stamp = 0;
    for (const SimCompany& c : m_companies)
        if (c.firstFundDay && c.firstFundDay <= today) stamp = std::max(stamp, c.firstFundDay);
    return std::max(std::string("20070102"), DateOfDay(stamp).Format(2));
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
    const SimStock& s = m_stocks[static_cast<size_t>(stock)];
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
    double price = m_stocks[static_cast<size_t>(stock)].startPrice;
    for (size_t i = 0; i < count; ++i) {
        price *= 1.0 + r[i];
        (*v)[i] = static_cast<float>(price);
    }
    std::lock_guard lock(m_mutex);
    auto& slot = m_stockCloses[static_cast<size_t>(stock)];
    if (!slot) slot = std::move(v);
    return *slot;
}

double CMarketSimulator::StockReturn(int stock, int index) const
{
    if (stock < 0 || stock >= static_cast<int>(m_stocks.size()) || index < 0 || index >= m_calendar.Count()) return 0;
    return StockReturns(stock, index)[static_cast<size_t>(index)];
}

double CMarketSimulator::StockClose(int stock, int index) const
{
    if (stock < 0 || stock >= static_cast<int>(m_stocks.size()) || index < 0 || index >= m_calendar.Count()) return 0;
    return StockCloses(stock)[static_cast<size_t>(index)];
}

double CMarketSimulator::StockPriceAt(int stock, const OleDate& at) const
{
    int day = DayNumber(at);
    int i = m_calendar.IndexOnOrBefore(day);
    if (i < 0) return m_stocks[static_cast<size_t>(stock)].startPrice;
    if (m_calendar.DayAt(i) != day || i == 0) return StockClose(stock, i);
    // Trading minute of the day: 0 at 9:30, 120 through the lunch break, 240 from 15:00.
    int minutes = at.Hour() * 60 + at.Minute();
    int m = minutes < 570 ? 0 : minutes < 690 ? minutes - 570 : minutes < 780 ? 120 : std::min(240, minutes - 660);
    double p0 = std::log(StockClose(stock, i - 1)), p1 = std::log(StockClose(stock, i));
    if (m == 0) return std::exp(p0);
    if (m == 240) return std::exp(p1);
    // A Brownian bridge pinned at the previous close and the close.
    double step = m_stocks[static_cast<size_t>(stock)].sigma / std::sqrt(240.0);
    double walk = 0, walkAtM = 0;
    for (int k = 0; k < 240; ++k) {
        if (k == m) walkAtM = walk;
        walk += step * Normal(Hash(m_options.seed, kTagIntraday, stock, i, k));
    }
    double f = m / 240.0;
    return std::exp(p0 + f * (p1 - p0) + walkAtM - f * walk);
}

std::vector<double> CMarketSimulator::StockDayPrices(int stock, int day) const
{
    std::vector<double> prices(241);
    int i = m_calendar.IndexOnOrBefore(day);
    if (i < 0 || m_calendar.DayAt(i) != day || i == 0) {
        std::fill(prices.begin(), prices.end(),
                  i < 0 ? m_stocks[static_cast<size_t>(stock)].startPrice : StockClose(stock, i));
        return prices;
    }
    double p0 = std::log(StockClose(stock, i - 1)), p1 = std::log(StockClose(stock, i));
    // The walk summed in the same order as StockPriceAt, so every value is the same.
    double step = m_stocks[static_cast<size_t>(stock)].sigma / std::sqrt(240.0);
    std::vector<double> walkAt(240);
    double walk = 0;
    for (int k = 0; k < 240; ++k) {
        walkAt[static_cast<size_t>(k)] = walk;
        walk += step * Normal(Hash(m_options.seed, kTagIntraday, stock, i, k));
    }
    prices[0] = std::exp(p0);
    prices[240] = std::exp(p1);
    for (int m = 1; m < 240; ++m) {
        double f = m / 240.0;
        prices[static_cast<size_t>(m)] = std::exp(p0 + f * (p1 - p0) + walkAt[static_cast<size_t>(m)] - f * walk);
    }
    return prices;
}

double CMarketSimulator::BondReturn(int index) const
{
    if (index < 0 || index >= m_calendar.Count()) return 0;
    return m_bond[static_cast<size_t>(index)];
}

int CMarketSimulator::HoldingsDate(int day) const
{
    DateParts p = DateOfDay(day).Parts();
    return DayOf(p.year, (p.month - 1) / 3 * 3 + 1, 1);
}

std::vector<Holding> CMarketSimulator::Holdings(const SimFund& fund, int day) const
{
    std::vector<Holding> out;
    if (!fund.HoldsStocks()) return out;
    const uint64_t seed = m_options.seed;
    const uint64_t quarter = static_cast<uint64_t>(HoldingsDate(day));
    const auto& own = m_stocksBySector[static_cast<size_t>(fund.sector)];
    // Ten distinct stocks in ascending order (a small array: this runs once
    // a quarter for every fund of the market).
    std::vector<int> picked;
    picked.reserve(10);
    const uint64_t prefix = HashPrefix(seed, kTagHold, static_cast<uint64_t>(fund.ordinal));
    for (int k = 0; picked.size() < 10; ++k) {
        uint64_t h = HashRest(prefix, quarter, static_cast<uint64_t>(k));
        int stock = k % 2 == 0 && !own.empty() ? own[h % own.size()] : static_cast<int>(h % m_stocks.size());
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
        // Disclosed in percent with two decimals; the fund runs on exactly that.
        out.push_back({stock, std::round(total * raw[k++] / sum * 10000.0) / 10000.0});
    }
    std::sort(out.begin(), out.end(), [](const Holding& a, const Holding& b) {
        return a.weight != b.weight ? a.weight > b.weight : a.stock < b.stock;
    });
    return out;
}

namespace {

// A fund's day: the stock part (already weighted), the rest of its assets in
// bonds, a small tracking error and the fee.
// `track` is the fund's HashPrefix of kTagTrack.
double CombineReturn(const CMarketSimulator& sim, uint64_t track, const SimFund& fund, double stockPart,
                     double stockWeight, int index)
{
    double noise = Normal(HashRest(track, static_cast<uint64_t>(index)));
    if (fund.HoldsStocks()) return stockPart + (1.0 - stockWeight) * sim.BondReturn(index) + 0.0006 * noise - 0.00005;
    return 1.3 * sim.BondReturn(index) + 0.0004 * noise;
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

double CMarketSimulator::FundReturn(const SimFund& fund, int index) const
{
    if (index < 0 || index >= m_calendar.Count()) return 0;
    double part = 0, weight = 0;
    for (const Holding& h : Holdings(fund, m_calendar.DayAt(index))) {
        part += h.weight * StockReturn(h.stock, index);
        weight += h.weight;
    }
    return CombineReturn(*this, HashPrefix(m_options.seed, kTagTrack, static_cast<uint64_t>(fund.ordinal)), fund, part,
                         weight, index);
}

std::shared_ptr<FundSeries> CMarketSimulator::Compute(const SimFund& fund, int lastIndex) const
{
    const uint64_t seed = m_options.seed;
    auto s = std::make_shared<FundSeries>();
    s->firstIndex = m_calendar.IndexOnOrAfter(fund.createDay);
    int end = lastIndex;
    if (fund.withdrawDay) end = std::min(end, m_calendar.IndexOnOrBefore(fund.withdrawDay));
    if (end < s->firstIndex) return s;
    size_t n = static_cast<size_t>(end - s->firstIndex + 1);
    s->nav.reserve(n);
    s->acc.reserve(n);
    s->pct.reserve(n);
    s->var.reserve(n);
    s->growth.reserve(n);
    auto push = [&](double nav, double acc, double pct, double var, double growth) {
        s->nav.push_back(static_cast<float>(nav));
        s->acc.push_back(static_cast<float>(acc));
        s->pct.push_back(static_cast<float>(pct));
        s->var.push_back(static_cast<float>(var));
        s->growth.push_back(static_cast<float>(growth));
    };

    if (fund.IsMoneyMarket()) {
        double growth = 1;
        // Each calendar day's income once; the week's is a window over them.
        const int firstDay = m_calendar.DayAt(s->firstIndex) - 7;
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
        for (int i = s->firstIndex; i <= end; ++i) {
            int day = m_calendar.DayAt(i);
            int prev = i == s->firstIndex ? day - 1 : m_calendar.DayAt(i - 1);
            double income = sum(prev, day);
            double week = sum(day - 7, day);
            growth *= 1.0 + income / 10000.0;
            push(income, 1.0, week / 10000.0 * 365.0 / 7.0 * 100.0, 0, growth);
        }
        return s;
    }

    double nav = 1, growth = 1, dividends = 0, splitOffset = 0;
    int lastDividend = -100000;
    const uint64_t track = HashPrefix(seed, kTagTrack, static_cast<uint64_t>(fund.ordinal));
    // The stock part of each day of the quarter in force, summed one holding
    // at a time over the quarter (one stock's returns are read in a row, not
    // ten stocks' a day), in the holdings' order as before.
    std::vector<double> parts;
    int blockStart = 0, blockEnd = -1;
    double stockWeight = 0;
    push(1, 1, 0, 0, 1);
    for (int i = s->firstIndex + 1; i <= end; ++i) {
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
        double r = std::max(-0.2, CombineReturn(*this, track, fund, part, stockWeight, i));
        double prev = nav;
        double x = prev * (1.0 + r);
        growth *= 1.0 + r;
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
        push(nav, nav + dividends + splitOffset, r * 100.0, prev * r, growth);
    }
    return s;
}

std::shared_ptr<const FundSeries> CMarketSimulator::Series(const SimFund& fund, int lastDay, bool keep) const
{
    int lastIndex = m_calendar.IndexOnOrBefore(lastDay);
    {
        std::lock_guard lock(m_mutex);
        auto it = m_series.find(fund.ordinal);
        if (it != m_series.end()) {
            const FundSeries& s = *it->second;
            // A longer series holds the shorter one: nothing looks ahead.
            int covered = s.firstIndex + s.Size() - 1;
            if (covered >= lastIndex || (fund.withdrawDay && covered >= m_calendar.IndexOnOrBefore(fund.withdrawDay)))
                return it->second;
        }
    }
    std::shared_ptr<FundSeries> s = Compute(fund, lastIndex);
    if (!keep) return s;
    std::lock_guard lock(m_mutex);
    auto [it, added] = m_series.try_emplace(fund.ordinal, s);
    if (added) {
        m_seriesOrder.push_back(fund.ordinal);
    } else {
        m_seriesPoints -= static_cast<size_t>(it->second->Size());
        it->second = s;
    }
    m_seriesPoints += static_cast<size_t>(s->Size());
    // Bounded memory: a full market of long histories does not stay
    // resident. The oldest series go first, not all at once, so the funds
    // being looked at stay cached.
    while (m_seriesPoints > 4'000'000 && m_seriesOrder.size() > 1) {
        const int oldest = m_seriesOrder.front();
        m_seriesOrder.pop_front();
        if (oldest == fund.ordinal) {
            m_seriesOrder.push_back(oldest);
            continue;
        }
        auto old = m_series.find(oldest);
        m_seriesPoints -= static_cast<size_t>(old->second->Size());
        m_series.erase(old);
    }
    return s;
}

NavRecord CMarketSimulator::RecordAt(const SimFund& fund, const FundSeries& s, int i) const
{
    NavRecord r;
    size_t k = static_cast<size_t>(i);
    r.day = m_calendar.DayAt(s.firstIndex + i);
    r.nav = s.nav[k];
    r.acc = s.acc[k];
    r.pct = s.pct[k];
    r.var = s.var[k];
    r.growth = s.growth[k];
    return r;
}

std::vector<NavRecord> CMarketSimulator::Published(const SimFund& fund, const OleDate& now, int from, int to) const
{
    std::vector<NavRecord> out;
    int last = std::min(to, LatestNavDay(now));
    if (last < fund.createDay || from > last) return out;
    auto s = Series(fund, last);
    if (s->Size() == 0) return out;
    if (fund.fundType != 2) {
        int begin = std::max(0, m_calendar.IndexOnOrAfter(from) - s->firstIndex);
        int stop = std::min(s->Size() - 1, m_calendar.IndexOnOrBefore(last) - s->firstIndex);
        for (int i = begin; i <= stop; ++i) out.push_back(RecordAt(fund, *s, i));
        return out;
    }
    // Closed-end funds publish weekly, on Fridays; the week's change is
    // measured against the Friday before (or the first NAV).
    int today = DayNumber(now);
    int firstFriday = fund.createDay + (12 - ((fund.createDay % 7) + 6) % 7) % 7;  // Friday on or after
    int prevEntry = 0;
    int lastEntry = s->Size() - 1;
    for (int f = firstFriday; f <= today; f += 7) {
        if (!IsPublishedBy(f, now, 20)) break;
        int entry = m_calendar.IndexOnOrBefore(f) - s->firstIndex;
        if (entry < 0) continue;
        if (entry > lastEntry) break;
        if (f >= from && f <= to) {
            NavRecord r = RecordAt(fund, *s, entry);
            r.day = f;
            double base = s->growth[static_cast<size_t>(prevEntry)];
            r.pct = (r.growth / base - 1.0) * 100.0;
            r.var = s->nav[static_cast<size_t>(prevEntry)] * r.pct / 100.0;
            out.push_back(r);
        }
        prevEntry = entry;
    }
    return out;
}

bool CMarketSimulator::Latest(const SimFund& fund, const OleDate& now, LatestValue& out) const
{
    // What is published changes with the day and at 20:00 (a closed-end
    // fund's Friday NAV appears even when the Friday is a holiday).
    const int stamp = DayNumber(now) * 2 + (now.Hour() >= 20 ? 1 : 0);
    {
        std::lock_guard lock(m_mutex);
        auto it = m_latest.find({fund.ordinal, stamp});
        if (it != m_latest.end()) {
            out = it->second;
            return true;
        }
    }
    LatestValue v;
    std::vector<NavRecord> recs;
    std::shared_ptr<const FundSeries> daily;
    int lastEntry = -1;
    if (fund.fundType == 2) {
        recs = Published(fund, now, 0, DayNumber(now));
        if (recs.empty()) return false;
        v.rec = recs.back();
    } else {
        // Daily publishers: straight from the series, without copying every
        // record of the history (the cost of a first whole class list).
        const int lastNav = LatestNavDay(now);
        if (lastNav < fund.createDay) return false;
        // Not kept: warming the whole market would push out every series
        // that pages and histories are reading.
        daily = Series(fund, lastNav, false);
        lastEntry = std::min(daily->Size() - 1, m_calendar.IndexOnOrBefore(lastNav) - daily->firstIndex);
        if (lastEntry < 0) return false;
        v.rec = RecordAt(fund, *daily, lastEntry);
    }
    const int last = v.rec.day;
    auto growthAt = [&](int ref) {
        if (daily) {
            int entry = std::min(lastEntry, m_calendar.IndexOnOrBefore(ref) - daily->firstIndex);
            return entry < 0 ? 1.0 : static_cast<double>(daily->growth[static_cast<size_t>(entry)]);
        }
        auto it = std::upper_bound(recs.begin(), recs.end(), ref,
                                   [](int d, const NavRecord& r) { return d < r.day; });
        return it == recs.begin() ? 1.0 : std::prev(it)->growth;
    };
    auto since = [&](int ref) { return (v.rec.growth / growthAt(ref) - 1.0) * 100.0; };
    v.week = since(last - 7);
    v.month = since(MonthsBefore(last, 1));
    v.twoMonth = since(MonthsBefore(last, 2));
    v.threeMonth = since(MonthsBefore(last, 3));
    v.sixMonth = since(MonthsBefore(last, 6));
    v.oneYear = since(MonthsBefore(last, 12));
    v.thisYear = since(DayOf(DateOfDay(last).Year() - 1, 12, 31));
    v.total = (v.rec.growth - 1.0) * 100.0;
    const int firstDay = daily ? m_calendar.DayAt(daily->firstIndex) : recs.front().day;
    double years = (last - firstDay) / 365.25;
    v.yearAvg = years >= 1.0 ? (std::pow(v.rec.growth, 1.0 / years) - 1.0) * 100.0 : v.total;
    const size_t count = daily ? static_cast<size_t>(lastEntry + 1) : recs.size();
    for (size_t k = 0; k < count && k < 44; ++k) {
        const double pct = daily ? daily->pct[static_cast<size_t>(lastEntry) - k] : recs[recs.size() - 1 - k].pct;
        if (pct > 0) {
            if (k < 22) ++v.sum22;
            ++v.sum44;
        }
    }
    v.adjusted = fund.IsMoneyMarket() ? 1.0 : v.rec.growth;
    std::lock_guard lock(m_mutex);
    if (m_latest.size() > 200000) m_latest.clear();
    m_latest[{fund.ordinal, stamp}] = v;
    out = v;
    return true;
}

std::vector<SimDividend> CMarketSimulator::Dividends(const SimFund& fund, const OleDate& now, int from, int to) const
{
    std::vector<SimDividend> out;
    int last = std::min(to, LatestNavDay(now));
    if (last < fund.createDay) return out;
    for (const SimDividend& d : Series(fund, last)->dividends)
        if (d.exDay > from && d.exDay <= last) out.push_back(d);
    return out;
}

std::vector<SimSplit> CMarketSimulator::Splits(const SimFund& fund, const OleDate& now) const
{
    int last = LatestNavDay(now);
    if (last < fund.createDay) return {};
    std::vector<SimSplit> out;
    for (const SimSplit& s : Series(fund, last)->splits)
        if (s.day <= last) out.push_back(s);
    return out;
}

bool CMarketSimulator::TradeNav(const SimFund& fund, const OleDate& tradeTime, const OleDate& now, double& nav,
                                int& day, std::string& refusal) const
{
    int t = DayNumber(tradeTime);
    int navDay = m_calendar.IsTradingDay(t) && tradeTime.Hour() < 15 ? t : m_calendar.NextTradingDay(t);
    if (navDay == 0) {
        refusal = "交易时间超出了系统的日期范围";
        return false;
    }
    if (fund.withdrawDay && navDay > fund.withdrawDay) {
        refusal = "该基金已经终止，无法确认交易";
        return false;
    }
    if (!IsPublishedBy(navDay, now, 20)) {
        refusal = StrFormat("%s的基金净值尚未公布，请在当日20:00以后确认交易", DateOfDay(navDay).Format(1).c_str());
        return false;
    }
    if (fund.fundType == 2 && navDay >= fund.createDay) {
        // A closed-end fund publishes its NAV on Fridays only: a trade
        // confirms at the NAV of the Friday on or after its day.
        navDay += (12 - ((navDay % 7) + 6) % 7) % 7;
        if (!IsPublishedBy(navDay, now, 20)) {
            refusal = StrFormat("%s的基金净值尚未公布，请在当日20:00以后确认交易", DateOfDay(navDay).Format(1).c_str());
            return false;
        }
    }
    day = navDay;
    if (fund.IsMoneyMarket() || navDay < fund.createDay) {
        // Money-market units always cost 1; subscriptions before the first
        // NAV are made at par and confirmed on the fund's first day.
        nav = 1.0;
        day = std::max(navDay, fund.createDay);
        // A fund launched after `now` has no first day to confirm on yet.
        if (!IsPublishedBy(day, now, 20)) {
            refusal = StrFormat("%s的基金净值尚未公布，请在当日20:00以后确认交易", DateOfDay(day).Format(1).c_str());
            return false;
        }
        return true;
    }
    auto s = Series(fund, navDay);
    int entry = m_calendar.IndexOnOrBefore(navDay) - s->firstIndex;
    if (entry < 0 || entry >= s->Size()) {
        refusal = "没有找到该交易日的基金净值";
        return false;
    }
    nav = Round4(s->nav[static_cast<size_t>(entry)]);
    return true;
}

bool CMarketSimulator::EstimateAt(const SimFund& fund, const OleDate& at, double& nav, double& pct) const
{
    int day = DayNumber(at);
    // A closed-end fund's estimate would start from a daily NAV it never publishes.
    if (!m_calendar.IsTradingDay(day) || fund.IsMoneyMarket() || fund.fundType == 2) return false;
    int prevDay = m_calendar.PrevTradingDay(day);
    if (prevDay < fund.createDay || (fund.withdrawDay && day > fund.withdrawDay)) return false;
    auto s = Series(fund, prevDay);
    int entry = m_calendar.IndexOnOrBefore(prevDay) - s->firstIndex;
    if (entry < 0 || entry >= s->Size()) return false;
    int prevIndex = m_calendar.IndexOnOrBefore(prevDay);
    double r = 0;
    for (const Holding& h : Holdings(fund, day)) {
        double p0 = StockClose(h.stock, prevIndex);
        if (p0 > 0) r += h.weight * (StockPriceAt(h.stock, at) / p0 - 1.0);
    }
    nav = s->nav[static_cast<size_t>(entry)] * (1.0 + r);
    pct = r * 100.0;
    return true;
}

double CMarketSimulator::MoneyIncome(const SimFund& fund, const OleDate& now, int from, int to, double shares,
                                     int& lastDay) const
{
    lastDay = from;
    double per10k = 0;
    for (const NavRecord& r : Published(fund, now, from + 1, to)) {
        per10k += r.nav;
        lastDay = r.day;
    }
    return shares * per10k / 10000.0;
}

std::vector<IndexRecord> CMarketSimulator::IndexHistory(int index, const OleDate& now, int from, int to) const
{
    std::vector<IndexRecord> out;
    if (index < 0 || index >= static_cast<int>(m_indices.size())) return out;
    int last = std::min(to, LatestIndexDay(now));
    const auto& level = m_indexLevel[static_cast<size_t>(index)];
    int begin = std::max(1, m_calendar.IndexOnOrAfter(from));
    int stop = m_calendar.IndexOnOrBefore(last);
    for (int i = begin; i <= stop; ++i) {
        IndexRecord r;
        r.day = m_calendar.DayAt(i);
        r.value = level[static_cast<size_t>(i)];
        r.var = r.value - level[static_cast<size_t>(i - 1)];
        r.pct = r.var * 100.0 / level[static_cast<size_t>(i - 1)];
        r.turnover = 300.0 + 900.0 * Uniform(Hash(m_options.seed, kTagTurnover, index, i));
        out.push_back(r);
    }
    return out;
}

}  // namespace vextal

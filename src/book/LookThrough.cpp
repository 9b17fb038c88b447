#include "book/LookThrough.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace vextal {

namespace {

// One fund's disclosure, cleaned: each stock once, weights as fractions of
// the fund, together at most 1.
struct CleanFund {
    std::string FundID;
    int FundClass = 1;
    double MarketValue = 0;
    std::vector<const LookThroughStock*> Stocks;  // the first line of each stock
    std::vector<double> Weights;                  // fractions, by Stocks
    double Disclosed = 0;                         // sum of Weights
};

bool Usable(double v) { return std::isfinite(v) && v > 0; }

CleanFund Clean(const LookThroughFund& f)
{
    CleanFund c{f.FundID, f.FundClass, f.MarketValue, {}, {}, 0};
    std::unordered_map<std::string, size_t> seen;
    for (const LookThroughStock& s : f.Stocks) {
        if (s.StockID.empty() || !Usable(s.Percent)) continue;
        auto [it, added] = seen.emplace(s.StockID, c.Stocks.size());
        if (added) {
            c.Stocks.push_back(&s);
            c.Weights.push_back(0);
        }
        c.Weights[it->second] += s.Percent / 100.0;
    }
    for (double w : c.Weights) c.Disclosed += w;
    if (c.Disclosed > 1) {
        for (double& w : c.Weights) w /= c.Disclosed;
        c.Disclosed = 1;
    }
    return c;
}

// The funds cleaned, each fund once with its market values added.
std::vector<CleanFund> CleanFunds(const std::vector<LookThroughFund>& funds, bool needValue)
{
    std::vector<CleanFund> out;
    std::unordered_map<std::string, size_t> index;
    for (const LookThroughFund& f : funds) {
        const bool valued = std::isfinite(f.MarketValue) && f.MarketValue > 0;
        if (needValue && !valued) continue;
        auto it = index.find(f.FundID);
        if (it != index.end()) {
            if (valued) out[it->second].MarketValue += f.MarketValue;
            continue;
        }
        index.emplace(f.FundID, out.size());
        out.push_back(Clean(f));
        if (!valued) out.back().MarketValue = 0;
    }
    return out;
}

double ShareOf(double amount, double total) { return total > 0 ? amount * 100.0 / total : 0; }

}  // namespace

const char* FundClassName(int fundClass)
{
    switch (fundClass) {
    case 2: return "货币基金";
    case 3: return "封闭式基金";
    case 4: return "ETF/LOF";
    case 5: return "集合理财产品";
    default: return "开放式基金";
    }
}

LookThroughResult ComputeLookThrough(const std::vector<LookThroughFund>& funds)
{
    LookThroughResult result;
    const std::vector<CleanFund> clean = CleanFunds(funds, true);

    struct Line {
        StockExposure exposure;
        std::vector<std::pair<double, const std::string*>> parts;  // amount, fund
    };
    std::vector<Line> lines;
    std::unordered_map<std::string, size_t> byStock;
    std::map<int, Line> undisclosed;  // by fund class
    for (const CleanFund& f : clean) {
        result.MarketValue += f.MarketValue;
        for (size_t k = 0; k < f.Stocks.size(); ++k) {
            const LookThroughStock& s = *f.Stocks[k];
            auto [it, added] = byStock.emplace(s.StockID, lines.size());
            if (added) {
                lines.emplace_back();
                StockExposure& e = lines.back().exposure;
                e.StockID = s.StockID;
                e.StockName = s.StockName;
                e.Industry = s.Industry.empty() ? kUnknownIndustry : s.Industry;
            }
            Line& line = lines[it->second];
            const double amount = f.MarketValue * f.Weights[k];
            line.exposure.Amount += amount;
            line.parts.emplace_back(amount, &f.FundID);
        }
        const double rest = f.MarketValue * (1 - f.Disclosed);
        if (rest > 0) {
            Line& line = undisclosed[f.FundClass];
            line.exposure.StockName = kUndisclosedName;
            line.exposure.Industry = FundClassName(f.FundClass);
            line.exposure.FundClass = f.FundClass;
            line.exposure.Amount += rest;
            line.parts.emplace_back(rest, &f.FundID);
        }
    }

    auto finish = [&result](Line& line) {
        std::stable_sort(line.parts.begin(), line.parts.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [amount, fund] : line.parts) line.exposure.Funds.push_back(*fund);
        line.exposure.Share = ShareOf(line.exposure.Amount, result.MarketValue);
        return std::move(line.exposure);
    };
    result.Stocks.reserve(lines.size() + undisclosed.size());
    std::map<std::string, double> industries;
    for (Line& line : lines) {
        industries[line.exposure.Industry] += line.exposure.Amount;
        result.Stocks.push_back(finish(line));
    }
    std::stable_sort(result.Stocks.begin(), result.Stocks.end(), [](const StockExposure& a, const StockExposure& b) {
        return a.Amount != b.Amount ? a.Amount > b.Amount : a.StockID < b.StockID;
    });
    double rest = 0;
    for (auto& [fundClass, line] : undisclosed) {
        rest += line.exposure.Amount;
        result.Stocks.push_back(finish(line));
    }

    for (const auto& [name, amount] : industries) result.Industries.push_back({name, amount, ShareOf(amount, result.MarketValue)});
    std::stable_sort(result.Industries.begin(), result.Industries.end(),
                     [](const IndustryExposure& a, const IndustryExposure& b) { return a.Amount > b.Amount; });
    if (rest > 0) result.Industries.push_back({kUndisclosedName, rest, ShareOf(rest, result.MarketValue)});
    return result;
}

std::vector<FundOverlap> ComputeOverlaps(const std::vector<LookThroughFund>& funds)
{
    std::vector<CleanFund> clean = CleanFunds(funds, false);
    std::sort(clean.begin(), clean.end(), [](const CleanFund& a, const CleanFund& b) { return a.FundID < b.FundID; });
    const size_t n = clean.size();
    // Who holds each stock (in fund order); each pair then meets once per stock it shares.
    struct Holder {
        uint32_t fund;
        double weight;
    };
    std::vector<const std::string*> stockIds;
    std::vector<std::vector<Holder>> holders;
    std::unordered_map<std::string_view, uint32_t> stockIndex;
    for (size_t i = 0; i < n; ++i)
        for (size_t k = 0; k < clean[i].Stocks.size(); ++k) {
            const std::string& id = clean[i].Stocks[k]->StockID;
            auto [it, added] = stockIndex.emplace(id, static_cast<uint32_t>(stockIds.size()));
            if (added) {
                stockIds.push_back(&id);
                holders.emplace_back();
            }
            holders[it->second].push_back({static_cast<uint32_t>(i), clean[i].Weights[k]});
        }
    // Pairs a < b in the order a, then b: a place in one triangle of n x n.
    auto place = [n](size_t a, size_t b) { return a * n - a * (a + 1) / 2 + (b - a - 1); };
    struct Shared {
        size_t pair;
        double weight;
        uint32_t stock;
    };
    std::vector<Shared> shared;
    for (uint32_t stock = 0; stock < holders.size(); ++stock) {
        const std::vector<Holder>& list = holders[stock];
        for (size_t a = 0; a < list.size(); ++a)
            for (size_t b = a + 1; b < list.size(); ++b)
                shared.push_back({place(list[a].fund, list[b].fund), std::min(list[a].weight, list[b].weight), stock});
    }
    std::sort(shared.begin(), shared.end(), [&stockIds](const Shared& x, const Shared& y) {
        if (x.pair != y.pair) return x.pair < y.pair;
        if (x.weight != y.weight) return x.weight > y.weight;
        return *stockIds[x.stock] < *stockIds[y.stock];
    });

    const size_t pairCount = n > 1 ? n * (n - 1) / 2 : 0;
    std::vector<double> percent(pairCount, 0.0);
    std::vector<size_t> firstShared(pairCount, shared.size());
    for (size_t i = 0; i < shared.size(); ++i) {
        if (firstShared[shared[i].pair] == shared.size()) firstShared[shared[i].pair] = i;
        percent[shared[i].pair] += shared[i].weight * 100.0;
    }
    std::vector<std::pair<uint32_t, uint32_t>> order;  // the funds of each pair, strongest first
    order.reserve(pairCount);
    for (uint32_t a = 0; a < n; ++a)
        for (uint32_t b = a + 1; b < n; ++b) order.emplace_back(a, b);
    std::stable_sort(order.begin(), order.end(), [&](const auto& x, const auto& y) {
        return percent[place(x.first, x.second)] > percent[place(y.first, y.second)];
    });
    std::vector<FundOverlap> out(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const size_t p = place(order[i].first, order[i].second);
        FundOverlap& o = out[i];
        o.FundA = clean[order[i].first].FundID;
        o.FundB = clean[order[i].second].FundID;
        o.Percent = percent[p];
        for (size_t k = firstShared[p]; k < shared.size() && shared[k].pair == p; ++k) o.Common.push_back(*stockIds[shared[k].stock]);
    }
    return out;
}

std::vector<FundOverlap> OverlapsAbove(const std::vector<FundOverlap>& overlaps, double threshold)
{
    std::vector<FundOverlap> out;
    if (!(threshold > 0)) return out;
    for (const FundOverlap& o : overlaps)
        if (o.Percent > threshold) out.push_back(o);
    return out;
}

}  // namespace vextal

#pragma once
// What an investor owns through his funds: each held fund's market value
// spread over the stocks it discloses by their weights (look-through
// exposure), summed per stock and per industry, and how much any two held
// funds hold alike (overlap). Plain functions over plain records; the
// holdings come from the data service, the market values from the books.
#include <string>
#include <vector>

namespace vextal {

// One disclosed holding of a fund: a share of the fund's assets in percent.
struct LookThroughStock {
    std::string StockID;
    std::string StockName;
    std::string Industry;  // empty when the service does not say
    double Percent = 0;
};

// One held fund. The same fund held in several accounts or under both
// charging types may come more than once: its values are added up.
struct LookThroughFund {
    std::string FundID;
    int FundClass = 1;         // 1 open-end .. 5 collective, as the catalogue classes funds
    double MarketValue = 0;    // yuan
    std::vector<LookThroughStock> Stocks;
};

inline constexpr const char* kUndisclosedName = "其他/未披露";
inline constexpr const char* kUnknownIndustry = "未分类";
// "开放式基金", "货币基金", "封闭式基金", "ETF/LOF", "集合理财产品".
const char* FundClassName(int fundClass);

// One line of the exposure list: a stock, or (StockID empty) the part of
// the funds of one class that their disclosures do not cover.
struct StockExposure {
    std::string StockID;
    std::string StockName;
    std::string Industry;  // the undisclosed lines: the fund class's name
    int FundClass = 0;     // the undisclosed lines only
    double Amount = 0;     // yuan
    double Share = 0;      // percent of the whole market value
    std::vector<std::string> Funds;  // the funds it comes through, largest part first
    bool Undisclosed() const { return StockID.empty(); }
};

struct IndustryExposure {
    std::string Industry;  // kUndisclosedName for the undisclosed rest of every fund
    double Amount = 0;
    double Share = 0;
};

struct LookThroughResult {
    double MarketValue = 0;                  // the funds' market values together
    std::vector<StockExposure> Stocks;       // stocks by amount, largest first, then the undisclosed lines
    std::vector<IndustryExposure> Industries;  // largest first, the undisclosed rest last
};

// Weights that are not finite or not above 0, and lines without a stock
// code, are left out; a stock disclosed twice by one fund counts once with
// the weights added; disclosures above 100 % together are scaled down to
// 100 %, so a fund never shows more than it is worth. Funds worth 0 or less
// (or not finite) are left out.
LookThroughResult ComputeLookThrough(const std::vector<LookThroughFund>& funds);

// Two held funds and the weight they share: the sum over the stocks both
// disclose of the smaller of the two weights, in percent.
struct FundOverlap {
    std::string FundA, FundB;  // FundA < FundB
    double Percent = 0;
    std::vector<std::string> Common;  // stock codes, largest shared weight first
};

// Every pair of distinct funds (each fund once, whatever its value),
// strongest first; equal pairs by their codes. Weights are cleaned as above.
std::vector<FundOverlap> ComputeOverlaps(const std::vector<LookThroughFund>& funds);

// The pairs above `threshold` percent (none when it is 0 or less).
std::vector<FundOverlap> OverlapsAbove(const std::vector<FundOverlap>& overlaps, double threshold);

}  // namespace vextal

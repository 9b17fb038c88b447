#pragma once
// Queries of the data web service (GET with query parameters), the
// favourite-folder request and the outside stock quote page. Answers are
// read with the marker scanner; missing markers end the reading, and the
// records read so far stay. Names come back in UTF-8.
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/OleDate.h"
#include "net/FundInvestInfo.h"

namespace vextal {

// One split record of a fund. The ratio scales share counts: double, as they are.
struct CFundSplitItem {
    std::string FundID;
    std::string SplitDate;
    double SplitScale = 0;
};

// Holdings already fetched, by fund code; kept by the object that requests
// them. Thread-safe.
class CFundInvestCache {
public:
    struct Entry {
        std::string FundID;
        OleDate FetchDate;
        std::vector<CFundInvestItem> Items;
    };

    // Copies the fund's holdings into `items`; false when the fund is not cached.
    bool Find(const std::string& fundId, std::vector<CFundInvestItem>& items) const;
    void Store(const std::string& fundId, const OleDate& fetchDate, const std::vector<CFundInvestItem>& items);
    void Clear();
    size_t Size() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

// Appends every complete FundID/SplitDate/SplitScale triple.
void ReadFundSplitInfo(const std::string& answer, std::vector<CFundSplitItem>& items);
// The quote page: exactly 39 comma-separated fields, index 6 the change in
// percent. False (no quote) for any other text or a non-numeric change.
bool ReadStockQuote(const std::string& page, float& changePercent);
// The same, and the day of the session the quote belongs to (index 29,
// "YYYY-MM-DD"); `sessionDay` is left invalid when that field is unreadable.
bool ReadStockQuote(const std::string& page, float& changePercent, OleDate& sessionDay);

inline constexpr const char* kDataServicePath = "plindo/common/plindoservice.asmx/";

// The fund's stock holdings: from the cache when present, else requested
// and cached. `clear` empties `items` first; the holdings are appended.
// False when the request failed or the answer was not a whole holdings
// document (a failed fetch is not cached, so the next call tries again).
bool GetNewFundInvestInfo(CFundInvestCache& cache, const std::string& baseUrl, const std::string& fundId,
                          bool clear, std::vector<CFundInvestItem>& items);
// The service's computation for several funds, one value each ("%0.2f").
// Answer: one FundInvestInfo per fund (StockID = fund code, StockName = fund
// name, InvestPercent = the result). `items` is replaced; false as above.
bool GetNewFundCalcResult(const std::string& baseUrl, const std::vector<std::pair<std::string, float>>& funds,
                          std::vector<CFundInvestItem>& items);
// Split records; `typeFlag` 0 all, 1 only the latest. `items` is replaced.
bool GetFundSplitInfo(const std::string& baseUrl, const std::string& fundId, int typeFlag,
                      std::vector<CFundSplitItem>& items);
// Adds the fund to one of the user's favourite folders and returns the
// message to show: "添加成功", "已收藏有此基金", "添加失败", or with no
// folder selected (topicId < 0) "没有可用的收藏夹" without sending anything.
std::string AddFundToTopic(const std::string& baseUrl, const std::string& loginId, int topicId,
                           const std::string& fundId);
// The change in percent of a stock from the quote site (`quoteBase` ends in "/").
bool GetStockQuote(const std::string& quoteBase, const std::string& stockId, float& changePercent);
bool GetStockQuote(const std::string& quoteBase, const std::string& stockId, float& changePercent,
                   OleDate& sessionDay);

}  // namespace vextal

#pragma once
// A market read from a folder of plain files: the investor's own NAVs,
// dividends, holdings and quotes (the README's "Serving your own market"
// describes the files; docs/market-example/ is a small one). Every file is
// checked when the folder is read, and a folder with any fault is refused
// as a whole with the file, the line and the reason.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Market.h"

namespace vextal {

class CFileMarket : public CMarket {
public:
    // Reads and checks every file of `folder`; null with the first fault,
    // "file:line: reason" (the file alone when no one line is at fault).
    // `threads`: how many NAV files are read at once.
    static std::unique_ptr<CFileMarket> Load(const std::string& folder, std::string& error, int threads = 2);

    std::vector<Holding> Holdings(const MarketFund& fund, int day) const override;
    int HoldingsDate(const MarketFund& fund, int day) const override;
    std::shared_ptr<const StockQuotes> Quotes(int stock, int day) const override;
    bool DayClose(int stock, int day, double& close, double& prevClose) const override;
    bool HasQuotes(int day) const override;
    const std::vector<IndexClose>& IndexCloses(int index) const override;

    // The newest day of any NAV in the folder (0 when it has none).
    int NewestNavDay() const { return m_newestNavDay; }

protected:
    std::shared_ptr<FundHistory> ComputeHistory(const MarketFund& fund, int lastDay) const override;

private:
    friend class CFolderLoader;
    explicit CFileMarket(CTradingCalendar calendar) : CMarket(std::move(calendar)) {}

    struct Disclosure {
        int day = 0;
        std::vector<Holding> holdings;  // largest first
    };
    using DayQuotes = std::vector<std::pair<int, std::shared_ptr<const StockQuotes>>>;  // by stock

    std::vector<FundHistory> m_raw;                      // by ordinal: the records as the files give them
    std::vector<std::vector<Disclosure>> m_disclosures;  // by ordinal, by day
    std::map<int, DayQuotes> m_quotes;                   // by day
    std::vector<std::vector<IndexClose>> m_indexCloses;
};

}  // namespace vextal

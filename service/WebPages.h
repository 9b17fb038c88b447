#pragma once
// The web site pages the program shows inside its windows or opens in the
// desktop browser: the tool and ranking pages, the estimate page of a fund,
// the financing analysis chart and the member pages. Plain HTML in UTF-8
// with inline CSS and SVG, built from the simulator's market and the
// member's data at the service clock. No HTTP here: tests call it directly.
#include <map>
#include <atomic>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "MarketSimulator.h"
#include "MemberStore.h"
#include "UserStore.h"

namespace vextal {

using PageParams = std::multimap<std::string, std::string>;

class CWebPages {
public:
    CWebPages(const CMarket& market, CUserStore& users);
    ~CWebPages();
    CWebPages(const CWebPages&) = delete;
    CWebPages& operator=(const CWebPages&) = delete;
    // Computes the yearly rankings on a thread of its own, so the first
    // visitor of the history page does not wait for every fund's series.
    void StartWarming();

    // `path` without the leading "/". False when the site has no such page.
    // `post`: the request was a form post (notes, suggestions, login).
    bool Page(const std::string& path, const PageParams& params, bool post, std::string& html);
    // Every page path the site answers.
    static const std::vector<std::string>& Paths();

    // Suggestions kept: the newest this many, each cut to kMaxSuggestion bytes.
    static constexpr size_t kKeptSuggestions = 200;
    static constexpr size_t kMaxSuggestion = 2000;
    // Notes kept per member (the notebook).
    static constexpr size_t kKeptNotes = 500;

private:
    struct Member {
        bool known = false;
        ServiceUser user;
        std::string refusal;  // shown instead of the member's data
    };
    Member CheckMember(const PageParams& params);

    std::string MyFunds(const PageParams& p);
    std::string Notepad(const PageParams& p, bool post);
    std::string FundFilter(const PageParams& p);
    std::string FundState(const PageParams& p, bool openEndOnly);
    std::string FundInfo(const PageParams& p);
    std::string FundCompare(const PageParams& p);
    std::string IncomeTool(const PageParams& p);
    std::string TopView();
    std::string HistoryTop();
    std::string IndexQuotes(const PageParams& p);
    std::string RealtimeCalc(const PageParams& p);
    std::string FinancingResult(const PageParams& p);
    std::string VipFunctions();
    std::string Suggest(const PageParams& p, bool post);
    std::string Login(const PageParams& p, bool post);

    std::vector<const SimFund*> ListedFunds(int day) const;
    std::string FundName(const std::string& code) const;
    // The disclosure day of the holdings in force, "—" when none is.
    std::string HoldingsDateText(const MarketFund& fund, int day) const;

    const CMarket& m_market;
    CUserStore& m_users;
    CMemberStore m_members;

    // The yearly rankings of the history page, for the service year m_rankYear.
    struct YearRank {
        int year = 0;
        size_t count = 0;
        std::vector<std::pair<const SimFund*, double>> top;
    };
    std::mutex m_rankMutex;
    int m_rankYear = 0;
    std::vector<YearRank> m_ranks;
    // Under m_rankMutex; false when the work was stopped.
    bool RankYears(int year);
    std::thread m_warmer;
    std::atomic<bool> m_stop{false};
};

}  // namespace vextal

#pragma once
// The addresses of the web site pages the program opens: the tool pages of
// the web page view, the financing analysis, the estimate page of a fund and
// the member pages of the main menu. Plain functions (no Qt), so the rules
// are checked without a browser and other views can open the same pages.
#include <functional>
#include <string>
#include <vector>

namespace vextal {

struct AccountInfo;
struct FundTradeInfo;

inline constexpr int kToolPageCount = 11;

// The page path of tool page `index` (0..10), empty outside.
std::string ToolPagePath(int index);
// The index of the tool page a command opens, -1 for other commands.
int ToolPageOfCommand(int commandId);

// Tool page `index` under `webBase` (ends with "/"): index 4 takes
// "FundID=" and `fundId`; other dynamic pages take the user query and
// "&FundSN=" with `serial`; static pages ("*.htm") "?FundSN=" with `serial`.
// Empty for an index outside 0..10.
std::string ToolPageUrl(const std::string& webBase, int index, const std::string& fundId,
                        const std::string& userQuery, int serial);
// The serial number of a tool page request (keeps caches from answering).
int RandomPageSerial();

// The grouping, statistic and style of the financing analysis.
struct FinancingQuery {
    int type = 0;   // 0 accounts, 1 funds, 2 fund types
    int show = 0;   // the item value of the "统计项:" entry
    int style = 1;  // the item value of the "显示风格:" entry; 0 the table
};

// The account and holding figure of a statistic (its item value 0..7).
double FinancingFigure(const AccountInfo& account, int show);
double FinancingFigure(const FundTradeInfo& holding, int show);

// The data text: one "name|%0.2f" per group, joined by "|". `accountId` 0
// takes every account. Holdings of one fund in several accounts or charging
// types make one group; `fundName` and `fundType` give a fund's name and
// the name of its investment type (the code and "股票" when not known).
std::string FinancingDataText(const std::vector<const AccountInfo*>& accounts, const FinancingQuery& q,
                              int accountId, const std::function<std::string(const std::string&)>& fundName,
                              const std::function<std::string(const std::string&)>& fundType);
// The page address with `style` as given: the first browser takes the
// query's style, the second the same with style 0. Characters that would
// end the data value early ("&", "#", "%", "+") are percent-encoded.
std::string FinancingAnalyseUrl(const std::string& webBase, const FinancingQuery& q, const std::string& userQuery,
                                const std::string& dataText);

// "%splindo/newvip/RealtimeCalcView.aspx?flag=1&fundid=%s".
std::string RealtimeCalcUrl(const std::string& webBase, const std::string& fundId);

// The member pages of the main menu, opened in the desktop browser.
std::string UpgradeVipUrl(const std::string& serverUrl);  // plindo/Login.aspx?code=102
std::string VipFunctionUrl(const std::string& serverUrl);
std::string SuggestUrl(const std::string& serverUrl);
// The page of the About dialog.
std::string AboutPageUrl(const std::string& serverUrl);

}  // namespace vextal

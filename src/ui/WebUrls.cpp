#include "ui/WebUrls.h"

#include <map>
#include <random>

#include "book/BookTypes.h"
#include "common/Format.h"
#include "ui/CommandTable.h"

namespace vextal {

namespace {

struct ToolPage {
    int command;
    const char* path;
};
const ToolPage kToolPages[kToolPageCount] = {
    {cmd::MyFunds, "plindo/tool/myfundfocus.aspx?"},
    {cmd::Notebook, "plindo/tool/financingnotepad.aspx?"},
    {cmd::FundFilter, "plindo/tool/FundFilterView.aspx?"},
    {cmd::BuyStatus, "plindo/Info/FundStateIndex.aspx?"},
    {cmd::FundSummary, "fundinfo/FundInfoClient.asp?"},
    {cmd::FundAnalysis, "plindo/Tool/FundCompareIndex.aspx?"},
    {cmd::IncomeCalculator, "plindo/vip/FundIncomeTool.aspx?"},
    {cmd::Recommend, "html/top/StatTopView.htm"},
    {cmd::Ranking, "report/FundHistoryTopIndex.htm"},
    {cmd::IndexQuotes, "vip/realstock.asp?"},
    {cmd::OpenBuyStatus, "html/Data/FundState.htm"},
};

}  // namespace

std::string ToolPagePath(int index)
{
    if (index < 0 || index >= kToolPageCount) return {};
    return kToolPages[index].path;
}

int ToolPageOfCommand(int commandId)
{
    for (int i = 0; i < kToolPageCount; ++i)
        if (kToolPages[i].command == commandId) return i;
    return -1;
}

std::string ToolPageUrl(const std::string& webBase, int index, const std::string& fundId,
                        const std::string& userQuery, int serial)
{
    const std::string path = ToolPagePath(index);
    if (path.empty()) return {};
    std::string url = webBase + path;
    if (index == 4) url += "FundID=" + fundId;
    else if (path.find(".htm") == std::string::npos) url += userQuery + StrFormat("&FundSN=%d", serial);
    else url += StrFormat("?FundSN=%d", serial);
    return url;
}

int RandomPageSerial()
{
    static std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<int>(0, 32767)(generator);
}

double FinancingFigure(const AccountInfo& a, int show)
{
    switch (show) {
    case 0: return a.MarketValue;
    case 1: return a.NewPrincipal;
    case 2: return a.NewIncome;
    case 3: return a.TotalBonus;
    case 4: return a.TodayIncome;
    case 5: return a.RedeemMoney;
    case 6: return a.TotalPrincipal;
    case 7: return a.TotalIncome;
    default: return 0;
    }
}

double FinancingFigure(const FundTradeInfo& h, int show)
{
    switch (show) {
    case 0: return h.figures.MarketValue;
    case 1: return h.figures.NewPrincipal;
    case 2: return h.figures.NewIncome;
    case 3: return h.TotalBonus;
    case 4: return h.figures.TodayIncome;
    case 5: return h.figures.RedeemMoney;
    case 6: return h.figures.TotalPrincipal;
    case 7: return h.figures.TotalIncome;
    default: return 0;
    }
}

std::string FinancingDataText(const std::vector<const AccountInfo*>& accounts, const FinancingQuery& q,
                              int accountId, const std::function<std::string(const std::string&)>& fundName,
                              const std::function<std::string(const std::string&)>& fundType)
{
    // Groups in the order they first appear, each with its summed figure.
    std::vector<std::pair<std::string, double>> groups;
    std::map<std::string, size_t> where;
    auto add = [&](const std::string& name, double value) {
        auto it = where.find(name);
        if (it == where.end()) {
            where[name] = groups.size();
            groups.emplace_back(name, value);
        } else {
            groups[it->second].second += value;
        }
    };
    for (const AccountInfo* a : accounts) {
        if (!a || (accountId != 0 && a->AccountID != accountId)) continue;
        if (q.type == 0) {
            add(a->AccountName, FinancingFigure(*a, q.show));
            continue;
        }
        for (const FundTradeInfo& h : a->holdings) {
            std::string name;
            if (q.type == 1) name = fundName ? fundName(h.FundID) : std::string();
            else name = fundType ? fundType(h.FundID) : std::string();
            if (name.empty()) name = q.type == 1 ? h.FundID : "股票";
            add(name, FinancingFigure(h, q.show));
        }
    }
    std::string text;
    for (const auto& [name, value] : groups) {
        if (!text.empty()) text += "|";
        text += StrFormat("%s|%0.2f", name.c_str(), value);
    }
    return text;
}

std::string FinancingAnalyseUrl(const std::string& webBase, const FinancingQuery& q, const std::string& userQuery,
                                const std::string& dataText)
{
    // A name with "&" or "#" would otherwise end the data value (or the
    // address) early, and the page would draw a chart of the wrong groups.
    std::string data;
    for (char c : dataText) {
        if (c == '&' || c == '#' || c == '%' || c == '+' || static_cast<unsigned char>(c) < 0x20)
            data += StrFormat("%%%02X", static_cast<unsigned char>(c));
        else data += c;
    }
    return webBase + StrFormat("plindo/Account/FinancingAnalyseResult.aspx?type=%d&show=%d&style=%d&%s&data=%s",
                               q.type, q.show, q.style, userQuery.c_str(), data.c_str());
}

std::string RealtimeCalcUrl(const std::string& webBase, const std::string& fundId)
{
    return StrFormat("%splindo/newvip/RealtimeCalcView.aspx?flag=1&fundid=%s", webBase.c_str(), fundId.c_str());
}

std::string UpgradeVipUrl(const std::string& serverUrl) { return serverUrl + "plindo/Login.aspx?code=102"; }
std::string VipFunctionUrl(const std::string& serverUrl) { return serverUrl + "plindo/User/VIPFunction.htm"; }
std::string SuggestUrl(const std::string& serverUrl) { return serverUrl + "plindo/SuggestView.aspx"; }
std::string AboutPageUrl(const std::string& serverUrl) { return serverUrl + "vextal.htm"; }

}  // namespace vextal

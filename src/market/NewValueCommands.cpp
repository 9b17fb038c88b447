#include "market/NewValueCommands.h"

#include "common/Format.h"
#include "common/StringTable.h"

namespace vextal {

std::string NewValueListTitle(int fundClass)
{
    switch (fundClass) {
    case 2: return "现金基金最新净值";
    case 3: return "封闭式基金最新净值";
    case 4: return "ETF和LOF基金最新净值";
    case 5: return "集合理财产品最新净值";
    default: return "开放式基金最新净值";
    }
}

SelectedFunds CollectSelectedFunds(const std::vector<std::string>& selected)
{
    SelectedFunds result;
    if (selected.empty()) {
        result.message = LoadResString(str::SelectFundFirst);
        return result;
    }
    for (const std::string& id : selected) {
        result.fundIds.push_back(id);
        if (result.fundIds.size() == 32) {
            result.message = "一次最多可以下载32个基金";
            break;
        }
    }
    return result;
}

std::string MirrorServer(const std::vector<std::string>& serverList, const std::string& mainServer)
{
    for (const std::string& server : serverList)
        if (!server.empty() && server != mainServer) return server;
    return std::string();
}

std::string ServerDownloadConfirmText(const std::string& serverName)
{
    return StrFormat(LoadResString(str::ConfirmServerDownload).c_str(), serverName.c_str());
}

std::string LocalFetchRefusal(const OleDate& now)
{
    if (!now.IsWeekend() && now.Hour() < 20) return "请在20:00后再使用此功能获取";
    return std::string();
}

void RunServerDownloadCommand(IUserPrompt& prompt, const std::string& serverName,
                              const std::vector<std::string>& selected,
                              const std::function<void(const std::vector<std::string>&)>& download)
{
    if (!prompt.AskYesNo(ServerDownloadConfirmText(serverName))) return;
    SelectedFunds funds = CollectSelectedFunds(selected);
    if (!funds.message.empty())
        prompt.ShowMessage(funds.message, funds.fundIds.empty() ? PromptIcon::Warning : PromptIcon::Information);
    if (!funds.fundIds.empty()) download(funds.fundIds);
}

void RunLocalFetchCommand(IUserPrompt& prompt, const OleDate& now, const std::vector<std::string>& selected,
                          const std::function<void(const std::string&)>& fetch)
{
    std::string refusal = LocalFetchRefusal(now);
    if (!refusal.empty()) {
        prompt.ShowMessage(refusal, PromptIcon::Information);
        return;
    }
    if (selected.empty()) {
        prompt.ShowMessage(LoadResString(str::SelectFundFirst), PromptIcon::Warning);
        return;
    }
    if (!prompt.AskYesNo(LoadResString(str::ConfirmLocalFetch))) return;
    for (const std::string& id : selected) fetch(id);
}

void RunIncrementalValuesCommand(IUserPrompt& prompt, const std::function<void(bool refresh)>& download)
{
    if (prompt.AskYesNo(LoadResString(str::ConfirmIncrementalDownload))) download(true);
}

}  // namespace vextal

#pragma once
// What the commands of the latest-value list decide before anything is
// downloaded: which funds, which message, which question. The list view
// only collects the selection and shows what these return.
#include <functional>
#include <string>
#include <vector>

#include "common/OleDate.h"
#include "common/UserPrompt.h"

namespace vextal {

inline constexpr int kCmdDownloadMain = 32845;       // 从主站下载最新净值
inline constexpr int kCmdDownloadMirror = 32855;     // 从分站下载最新净值
inline constexpr int kCmdLocalFetch = 32854;         // 在本地获取最新净值
inline constexpr int kCmdIncrementalValues = 32856;  // 增量下载最新净值

// The list title of a fund class (unknown classes: the open-end title).
std::string NewValueListTitle(int fundClass);

// The codes of the selected items in list order, at most 32, and the
// message to show first: 59151 when nothing is selected, "一次最多可以下载32个基金"
// once the 32nd code was taken, else empty.
struct SelectedFunds {
    std::vector<std::string> fundIds;
    std::string message;
};
SelectedFunds CollectSelectedFunds(const std::vector<std::string>& selected);

// The mirror of 32855: the first server of the list that is not the main
// service (empty when there is none).
std::string MirrorServer(const std::vector<std::string>& serverList, const std::string& mainServer);

// 59152 naming the server.
std::string ServerDownloadConfirmText(const std::string& serverName);
// The refusal of the local fetch on a weekday before 20:00; empty when it may run.
std::string LocalFetchRefusal(const OleDate& now);

// Whole command sequences over a prompt. `download` receives the codes.
// Server download (32845/32855): confirm, collect, download.
void RunServerDownloadCommand(IUserPrompt& prompt, const std::string& serverName,
                              const std::vector<std::string>& selected,
                              const std::function<void(const std::vector<std::string>&)>& download);
// Local fetch (32854): the time rule, the selection, confirmation, then
// `fetch` for each selected fund in list order (all of them: no 32 limit).
void RunLocalFetchCommand(IUserPrompt& prompt, const OleDate& now, const std::vector<std::string>& selected,
                          const std::function<void(const std::string&)>& fetch);
// Incremental download (32856): confirm with 59156, then `download` the
// class as a refresh: what is missing or newer, even when the class
// already holds values (the opening download stops there).
void RunIncrementalValuesCommand(IUserPrompt& prompt, const std::function<void(bool refresh)>& download);

}  // namespace vextal

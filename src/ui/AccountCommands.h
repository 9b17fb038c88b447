#pragma once
// Two commands of the accounts views: "浏览帐户详情..." opens the holdings of
// the panel's account (the account list when none is chosen), and
// "最新当日收益估算" switches today's income of the account lists to the
// real-time estimate during trading hours (VIP members; kept in Vextal.ini).
#include <string>

namespace vextal {

class CMainFrame;
class CVextalDoc;
class IUserPrompt;

// After login, once the bookkeeping is installed.
void InstallAccountCommands(CMainFrame& frame, CVextalDoc& doc, IUserPrompt& prompt, const std::string& iniPath);

}  // namespace vextal

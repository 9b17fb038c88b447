#pragma once
// The menu and toolbar commands as data, the checks one router applies
// before any command runs, and the frame's navigation state with its
// one-step back history. Plain logic: the frame only shows what it says.
#include <string>
#include <vector>

#include "common/OleDate.h"

namespace vextal {

namespace cmd {
// Command ids (kept as the program has always numbered them).
enum : int {
    DownloadHistory = 32847, DownloadIndex = 32850, SyncBookkeeping = 32875, UserInfo = 32790,
    Password = 32788, ExportExcel = 32862, Exit = 57665, Estimate = 32829, PortfolioIncome = 32857,
    BuyStatus = 32881, MyFunds = 32824, FundAnalysis = 32889, Notebook = 32858, FundFilter = 32879,
    FundSummary = 32887, IncomeCalculator = 32890, ValuesOpen = 32775, ValuesMoney = 32776, ValuesEtf = 32808,
    ValuesClosed = 32807, ValuesCollective = 32865, History = 32821, HistoryMoney = 32822,
    HistoryClosed = 32823, IndexQuotes = 32893, Recommend = 32891, Ranking = 32892, OpenBuyStatus = 32894,
    MovingAverage = 32859, DailyTrend = 32812, GrowthTrend = 32831, DailyOverlay = 32813,
    WeeklyOverlay = 32814, MonthlyOverlay = 32815, RealtimeCurve = 32888, NDayReturn = 32880,
    RangeOverlay = 32816, BandOverlay = 32817, NewAccount = 32779, QuickBooking = 32809,
    Subscribe = 32832, Purchase = 32780, Redeem = 32781, Convert = 32819, DividendBooking = 32841,
    Split = 32853, Plans = 32842, EditBooking = 32837, DividendMode = 32839, SaleFee = 32844,
    MoveHolding = 32849, TradeDetails = 32782, TradeIncome = 32843, InvestAnalysis = 32895,
    AccountDetail = 32864, DeleteAccount = 32786, AccountProperties = 32787, Options = 32818,
    TodayIncome = 32886, AccountPanel = 32789, SortValues = 32848, Help = 32805, UpgradeVip = 32878,
    VipList = 32877, Suggestion = 32791, Website = 32793, About = 57664, ImportTrades = 32898,
    LookThrough = 32899, FundOverlap = 32900, IndexCompare = 32901,
    // Toolbar and accelerators only.
    GroupData = 32869, GroupCurves = 32870, GroupAccounts = 32897, GroupUsers = 32868, Refresh = 32830,
    Back = 32896, Tools = 108, Delete = 32840, Properties = 32867,
    // Popup menus of the lists only.
    AddFavourite = 32863,
};
}  // namespace cmd

// Checks a command needs before it may run.
enum CommandCheck : unsigned {
    kCheckNone = 0,
    kCheckOffline = 1,     // refused in offline mode (59154)
    kCheckVip = 2,         // VIP members only (59163)
    kCheckTimeWindow = 4,  // free members only in the off-trading hours (59174)
    kCheckAccountPanel = 8,  // enabled by the account panel's selection
};

struct CommandDef {
    int id;
    const char* text;    // menu text
    int page;            // 0: not a page command
    int group;           // 0: keeps the group
    unsigned checks;
    int fundClass;       // latest-value pages: 1 open-end .. 5 collective
    const char* menu;    // the menu it belongs to; nullptr: toolbar/accelerator only
};

const std::vector<CommandDef>& CommandTable();
const CommandDef* FindCommand(int id);
// "Prompt\nTooltip" of the commands that have one; empty otherwise.
std::string CommandPrompt(int id);
// Menu titles in menu-bar order.
const std::vector<const char*>& MenuTitles();

// The string to show when the command may not run now (0: it may).
int RefusalFor(const CommandDef& c, bool offline, bool vip, const OleDate& now);
// Free members may use the time-window commands at weekends, before 9:00
// and from 15:00 to 18:59 on weekdays.
bool InFreeTimeWindow(const OleDate& now);

// Caption of a page for the window title ("Vextal -- caption").
std::string PageCaption(int page);

// Navigation of the main frame: current page, command and group, the
// accounts page, and the one-step back history.
class CNavigation {
public:
    int page = 105;
    int accountsPage = 105;
    int command = cmd::GroupAccounts;
    int group = 3;
    int lastCommand = -1;
    int lastGroup = 3;
    int previousPage = 105;  // the home view's previous page

    // A page command: records itself, then switches.
    void Go(int commandId, int newPage, int newGroup);
    // The accounts group (as the group button does).
    void GoAccounts();
    // What back did: true when the account view was reset to its first state.
    bool Back();

private:
    void ShowPage(int newPage);
};

}  // namespace vextal

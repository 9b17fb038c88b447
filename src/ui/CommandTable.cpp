#include "ui/CommandTable.h"

#include "common/StringTable.h"

namespace vextal {

namespace {
const char* const kMenuSystem = "系统(&S)";
const char* const kMenuTools = "理财工具(&T)";
const char* const kMenuData = "基金数据(&D)";
const char* const kMenuCurves = "基金曲线(&C)";
const char* const kMenuBook = "基金理财(&F)";
const char* const kMenuHelp = "帮助(&H)";
}  // namespace

const std::vector<const char*>& MenuTitles()
{
    static const std::vector<const char*> titles = {kMenuSystem, kMenuTools, kMenuData, kMenuCurves, kMenuBook, kMenuHelp};
    return titles;
}

const std::vector<CommandDef>& CommandTable()
{
    using namespace cmd;
    static const std::vector<CommandDef> table = {
        {SyncBookkeeping, "上传/下载记帐数据", 0, 0, kCheckVip, 0, kMenuSystem},
        {UserInfo, "修改用户信息...", 0, 0, 0, 0, kMenuSystem},
        {Password, "设置登录密码...", 0, 0, 0, 0, kMenuSystem},
        {ExportExcel, "导出表格到Excel", 0, 0, 0, 0, kMenuSystem},
        {Options, "参数设置...", 0, 0, 0, 0, kMenuSystem},
        {Exit, "退出(&X)", 0, 0, 0, 0, kMenuSystem},
        {Estimate, "基金净值估算", 112, 4, kCheckOffline, 0, kMenuTools},
        {PortfolioIncome, "基金组合收益", 0, 0, 0, 0, kMenuTools},
        {BuyStatus, "基金申购状态", 111, 4, kCheckOffline, 0, kMenuTools},
        {MyFunds, "我的基金", 111, 4, kCheckOffline, 0, kMenuTools},
        {FundAnalysis, "基金分析", 111, 4, kCheckOffline, 0, kMenuTools},
        {Notebook, "理财记事本", 111, 4, kCheckOffline, 0, kMenuTools},
        {FundFilter, "基金筛选器", 111, 4, kCheckOffline, 0, kMenuTools},
        {FundSummary, "基金信息汇总", 111, 4, kCheckOffline, 0, kMenuTools},
        {IncomeCalculator, "基金收益计算器", 111, 4, kCheckOffline, 0, kMenuTools},
        {InvestAnalysis, "基金投资分析", 116, 4, kCheckOffline, 0, kMenuTools},
        {ValuesOpen, "最新净值 - 开放式基金", 100, 1, 0, 1, kMenuData},
        {ValuesMoney, "最新净值 - 现金基金", 102, 1, 0, 2, kMenuData},
        {ValuesEtf, "最新净值 - ETF/LOF", 110, 1, 0, 4, kMenuData},
        {ValuesClosed, "最新净值 - 封闭式基金", 109, 1, 0, 3, kMenuData},
        {ValuesCollective, "最新净值 - 集合理财产品", 115, 1, 0, 5, kMenuData},
        {SortValues, "最新净值排序...", 0, 0, 0, 0, kMenuData},
        {History, "基金历史净值", 113, 1, kCheckOffline, 1, kMenuData},
        {HistoryMoney, "历史净值 - 现金基金", 113, 1, kCheckOffline, 2, kMenuData},
        {HistoryClosed, "历史净值 - 封闭式基金", 113, 1, kCheckOffline, 3, kMenuData},
        {DownloadHistory, "从服务器下载历史净值", 0, 0, 0, 0, kMenuData},
        {DownloadIndex, "从服务器下载大盘指数", 0, 0, 0, 0, kMenuData},
        {IndexQuotes, "大盘指数实时行情", 111, 4, kCheckOffline, 0, kMenuData},
        {Recommend, "开放式基金推荐榜", 111, 4, kCheckOffline, 0, kMenuData},
        {Ranking, "开放式基金历史排名", 111, 4, kCheckOffline, 0, kMenuData},
        {OpenBuyStatus, "开放式基金申购状态", 111, 4, kCheckOffline, 0, kMenuData},
        {DailyTrend, "基金净值日走势", 103, 2, 0, 0, kMenuCurves},
        {GrowthTrend, "累计增长率走势", 103, 2, 0, 0, kMenuCurves},
        {DailyOverlay, "基金日走势叠加", 103, 2, 0, 0, kMenuCurves},
        {WeeklyOverlay, "基金周走势叠加", 103, 2, kCheckOffline, 0, kMenuCurves},
        {MonthlyOverlay, "基金月走势叠加", 103, 2, kCheckOffline, 0, kMenuCurves},
        {MovingAverage, "移动平均线叠加", 103, 2, 0, 0, kMenuCurves},
        {RealtimeCurve, "实时净值估算走势", 103, 2, kCheckOffline | kCheckTimeWindow, 0, kMenuCurves},
        {NDayReturn, "n个交易日回报叠加", 103, 2, kCheckOffline | kCheckVip, 0, kMenuCurves},
        {RangeOverlay, "日涨跌区间叠加", 103, 2, kCheckOffline | kCheckVip, 0, kMenuCurves},
        {BandOverlay, "日涨跌波段叠加", 103, 2, kCheckOffline | kCheckVip, 0, kMenuCurves},
        {NewAccount, "新建帐户...", 0, 0, kCheckAccountPanel, 0, kMenuBook},
        {QuickBooking, "快速记帐...", 0, 0, kCheckAccountPanel, 0, kMenuBook},
        {Subscribe, "基金认购...", 0, 0, kCheckAccountPanel, 0, kMenuBook},
        {Purchase, "基金购买...", 0, 0, kCheckAccountPanel, 0, kMenuBook},
        {Redeem, "基金赎回...", 0, 0, kCheckAccountPanel, 0, kMenuBook},
        {Convert, "基金转换...", 0, 0, kCheckAccountPanel, 0, kMenuBook},
        {DividendBooking, "分红记帐...", 0, 0, 0, 0, kMenuBook},
        {Split, "基金拆分...", 0, 0, 0, 0, kMenuBook},
        {Plans, "基金定投管理...", 0, 0, 0, 0, kMenuBook},
        {EditBooking, "修改记帐信息...", 0, 0, 0, 0, kMenuBook},
        {DividendMode, "设置分红方式...", 0, 0, 0, 0, kMenuBook},
        {SaleFee, "设置赎回费率...", 0, 0, 0, 0, kMenuBook},
        {MoveHolding, "帐户间基金移动...", 0, 0, 0, 0, kMenuBook},
        {ImportTrades, "导入交易记录(CSV)...", 0, 0, 0, 0, kMenuBook},
        {TradeDetails, "查询交易明细", 107, 0, kCheckAccountPanel, 0, kMenuBook},
        {TradeIncome, "查询交易收益", 114, 0, kCheckAccountPanel, 0, kMenuBook},
        {LookThrough, "持仓穿透分析", 117, 3, kCheckOffline, 0, kMenuBook},
        {FundOverlap, "基金持仓重合", 118, 3, kCheckOffline, 0, kMenuBook},
        {IndexCompare, "帐户收益与指数比较", 119, 3, 0, 0, kMenuBook},
        {TodayIncome, "最新当日收益估算", 0, 0, 0, 0, kMenuBook},
        {AccountDetail, "浏览帐户详情...", 0, 0, 0, 0, kMenuBook},
        {DeleteAccount, "删除帐户", 0, 0, kCheckAccountPanel, 0, kMenuBook},
        {AccountProperties, "帐户属性...", 0, 0, kCheckAccountPanel, 0, kMenuBook},
        {AccountPanel, "帐户面板", 0, 0, 0, 0, kMenuBook},
        {Help, "帮助文档", 0, 0, 0, 0, kMenuHelp},
        {UpgradeVip, "升级为VIP", 0, 0, 0, 0, kMenuHelp},
        {VipList, "VIP功能列表", 0, 0, 0, 0, kMenuHelp},
        {Suggestion, "建议留言", 0, 0, 0, 0, kMenuHelp},
        {Website, "Plindo", 0, 0, 0, 0, kMenuHelp},
        {About, "关于...", 0, 0, 0, 0, kMenuHelp},
        {GroupData, "最新基金净值", 100, 1, 0, 1, nullptr},
        {GroupCurves, "基金曲线", 103, 2, 0, 0, nullptr},
        {GroupAccounts, "基金理财", 0, 3, 0, 0, nullptr},
        {GroupUsers, "用户管理", 104, 4, 0, 0, nullptr},
        {Refresh, "刷新", 0, 0, 0, 0, nullptr},
        {Back, "返回", 0, 0, 0, 0, nullptr},
        {Tools, "理财工具", 112, 4, kCheckOffline, 0, nullptr},
        {Delete, "删除", 0, 0, 0, 0, nullptr},
        {Properties, "属性", 0, 0, 0, 0, nullptr},
        {AddFavourite, "添加到基金收藏夹", 0, 0, kCheckOffline, 0, nullptr},
    };
    return table;
}

const CommandDef* FindCommand(int id)
{
    for (const CommandDef& c : CommandTable())
        if (c.id == id) return &c;
    return nullptr;
}

std::string CommandPrompt(int id)
{
    switch (id) {
    case cmd::GroupData: return "查看最新基金净值\n最新基金净值(Ctrl+5)";
    case cmd::GroupCurves: return "显示基金曲线\n基金曲线";
    case cmd::GroupAccounts: return "进入投资基金管理界面\n基金理财(Ctrl+4)";
    case cmd::GroupUsers: return "进入用户管理界面\n用户管理";
    case cmd::Refresh: return "刷新当前视图\n刷新(F5)";
    case cmd::Back: return "返回上次所在的界面\n返回(Backup)";
    case cmd::Tools: return "基金理财工具\n理财工具";
    case cmd::Delete: return "删除当前选择的项目\n删除(Delete)";
    case cmd::Properties: return "显示当前项的属性\n显示当前项的详细属性(Enter)";
    default: return std::string();
    }
}

bool InFreeTimeWindow(const OleDate& now)
{
    if (now.IsWeekend()) return true;
    int h = now.Hour();
    return h < 9 || (h >= 15 && h < 19);
}

int RefusalFor(const CommandDef& c, bool offline, bool vip, const OleDate& now)
{
    if ((c.checks & kCheckOffline) && offline) return str::OfflineNotYet;
    if ((c.checks & kCheckVip) && !vip) return str::VipOnly;
    if ((c.checks & kCheckTimeWindow) && !vip && !InFreeTimeWindow(now)) return str::VipTimeWindow;
    return 0;
}

std::string PageCaption(int page)
{
    switch (page) {
    case 100: return "开放式基金最新净值";
    case 102: return "现金基金最新净值";
    case 103: return "基金净值走势";
    case 104: return "用户管理";
    case 105:
    case 106:
    case 107:
    case 108: return "基金帐户";
    case 109: return "封闭式基金最新净值";
    case 110: return "ETF/LOF最新净值";
    case 111: return "理财工具";
    case 112: return "基金净值估算";
    case 113: return "基金历史净值";
    case 114: return "交易收益";
    case 115: return "集合理财产品最新净值";
    case 116: return "基金投资分析";
    case 117: return "持仓穿透分析";
    case 118: return "基金持仓重合";
    case 119: return "帐户收益与指数比较";
    default: return std::string();
    }
}

void CNavigation::ShowPage(int newPage)
{
    if (newPage == page) return;
    previousPage = page;
    page = newPage;
}

void CNavigation::Go(int commandId, int newPage, int newGroup)
{
    if (newGroup == 0) newGroup = group;  // pages of the accounts views keep the group
    if (newGroup == 3) lastCommand = 0;
    else if (commandId != command) lastCommand = command;
    if (group != newGroup) lastGroup = group;
    command = commandId;
    group = newGroup;
    if (newGroup == 3 && (newPage == 105 || newPage == 106)) accountsPage = newPage;
    ShowPage(newPage);
}

void CNavigation::GoAccounts() { Go(cmd::GroupAccounts, accountsPage, 3); }

bool CNavigation::Back()
{
    bool reset = false;
    if (lastCommand == -1) {
        if (group != 3) GoAccounts();
    } else if (lastCommand == cmd::TradeDetails || lastCommand == cmd::TradeIncome) {
        ShowPage(previousPage);
    } else if (lastCommand == cmd::GroupAccounts) {
        ShowPage(previousPage);
        if (group != 3) GoAccounts();
    } else {
        if (page == 105 || page == 106) {
            reset = true;
            accountsPage = 105;
        }
        GoAccounts();
    }
    lastCommand = -1;
    return reset;
}

}  // namespace vextal

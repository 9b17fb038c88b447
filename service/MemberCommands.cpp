// The member-data commands of the command service: bookkeeping upload and
// download, fixed-investment plans, trade cancellation and favourite folders.
#include <cmath>
#include <cstdlib>
#include <set>

#include "CommandService.h"
#include "TradingCalendar.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/CommandProtocol.h"
#include "wire/PlanRecords.h"

namespace vextal {
namespace {

using Fields = std::vector<std::string>;

// The user number a command names must be the session's own.
bool IsOwnUser(const Fields& f, size_t index, int user)
{
    int named = 0;
    return f.size() > index && ParseInt(f[index], named) && named == user;
}

}  // namespace

CommandAnswer CCommandService::MemberCommand(int cmdid, const Fields& f, const std::string& data, int user)
{
    switch (cmdid) {
    case 4: return BookDownload(f, user);
    case 5: return PlanList(f, user);
    case 6: return BookUpload(data, true, user);
    case 7: return BookUpload(data, false, user);
    case 15: return TradeCancel(f, user);
    default: return PlanSave(f, user);
    }
}

// 4/6 replaces stored accounts of the same name; 4/7 keeps them and stores
// the uploaded ones beside (the download then brings both, and the program
// gives the second a new name). The whole upload is one transaction.
CommandAnswer CCommandService::BookUpload(const std::string& data, bool replace, int user)
{
    std::vector<BookAccount> accounts;
    std::string error;
    if (!ParseBookText(data, accounts, error)) return CommandAnswer::Fail(error);
    // Stored accounts are replaced by name: two of one name in one upload
    // would leave only the last.
    if (replace) {
        std::set<std::string> names;
        for (const BookAccount& a : accounts)
            if (!names.insert(a.name).second)
                return CommandAnswer::Fail("记帐数据中有两个名为“" + a.name + "”的帐户，不能按名称替换");
    }
    if (!m_members.StoreBook(user, accounts, replace, error)) return CommandAnswer::Fail(error);
    return CommandAnswer::Ok("上传记帐数据成功");
}

CommandAnswer CCommandService::BookDownload(const Fields& f, int user)
{
    if (f.size() != 1) return CommandAnswer::Fail(kDataFormatError);
    if (!IsOwnUser(f, 0, user)) return CommandAnswer::Fail("不能下载其他用户的记帐数据");
    ServiceUser member;
    if (!m_users.FindById(user, member)) return CommandAnswer::Fail(kLoginFirst);
    if (!CUserStore::IsVip(member, Clock::Now())) return CommandAnswer::Fail(kVipOnly);
    std::string text;
    if (!m_members.LoadBook(user, text)) return CommandAnswer::Fail("系统错误，请联系管理员");
    return CommandAnswer::Ok(text);
}

// Records of 11 fields: plan id, account id, buy type, dividend mode,
// periods done, fund code, amount, fee rate, day, start date, last
// processed date. A member without plans gets return code 1 and a text:
// the program's list needs at least one record.
CommandAnswer CCommandService::PlanList(const Fields& f, int user)
{
    if (f.size() != 1) return CommandAnswer::Fail(kDataFormatError);
    if (!IsOwnUser(f, 0, user)) return CommandAnswer::Fail("不能查看其他用户的定投记录");
    std::vector<ServicePlan> plans;
    if (!m_members.Plans(user, plans)) return CommandAnswer::Fail("系统错误，请联系管理员");
    if (plans.empty()) return CommandAnswer::Make(1, "没有基金定投记录");
    Fields out;
    for (const ServicePlan& p : plans) {
        PlanListRecord r;
        r.PlanID = p.planId;
        r.AccountID = p.accountId;
        r.BuyType = p.buyType;
        r.BonusType = p.bonusType;
        r.PeriodsDone = p.periodsDone;
        r.FundID = p.fundId;
        r.Money = p.money;
        r.FeeRate = p.feeRate;
        r.Day = p.day;
        OleDate::Parse(p.startDate, r.Start);
        OleDate::Parse(p.lastDate, r.LastProcessed);
        WritePlanListRecord(out, r);
    }
    return CommandAnswer::Ok(JoinFields(out));
}

// Fields: fund, account, buy type, amount, day, fee rate, trade type (8),
// dividend mode, start time, planned periods (-1 deletes), periods done,
// user number. A plan is the member's plan for that account and fund.
CommandAnswer CCommandService::PlanSave(const Fields& f, int user)
{
    PlanSaveData in;
    if (!ReadPlanSave(f, in) || in.TradeType != 8 || in.PlannedPeriods < -1 || in.PeriodsDone < 0 ||
        (in.BuyType != 0 && in.BuyType != 1) || in.BonusType < -1 || in.BonusType > 1 || in.Day != std::floor(in.Day) ||
        std::fabs(in.Money) >= 1e12 || std::fabs(in.FeeRate) >= 1e12 || std::fabs(in.Day) >= 1e12)
        return CommandAnswer::Fail(kDataFormatError);
    if (in.UserID != user) return CommandAnswer::Fail("不能修改其他用户的定投记录");
    ServicePlan p;
    p.accountId = in.AccountID;
    p.buyType = in.BuyType;
    p.bonusType = in.BonusType;
    p.money = in.Money;
    p.feeRate = in.FeeRate;
    p.plannedPeriods = in.PlannedPeriods;
    p.periodsDone = in.PeriodsDone;
    p.fundId = in.FundID;
    const double day = in.Day;
    const OleDate start = in.Start;
    if (!m_market.FindFund(p.fundId)) return CommandAnswer::Fail(FundNotFound(p.fundId));
    if (p.plannedPeriods == -1) {
        bool found = false;
        if (m_members.DeletePlan(user, p.accountId, p.fundId, found)) return CommandAnswer::Ok("删除成功");
        return CommandAnswer::Fail(found ? "系统错误，请联系管理员" : "没有找到此基金的定投记录");
    }
    if (p.feeRate < 0) return CommandAnswer::Fail("定投费率不能小于0");
    if (p.money <= 0) return CommandAnswer::Fail("定投金额不能小于0");
    if (day < 1 || day > 31) return CommandAnswer::Fail("定投日期范围:1 ~ 31");
    p.day = static_cast<int>(day);
    p.startDate = start.Format(3);
    p.lastDate = DateOfDay(DayNumber(start) - 1).Format(3);
    if (!m_members.SavePlan(user, p, Clock::Now().Format(3)))
        return CommandAnswer::Fail("保存基金定投信息失败");
    return CommandAnswer::Ok("保存成功");
}

// The rule: a trade can be cancelled when its id was in a bookkeeping text
// the member uploaded, and only once; any other id is refused.
CommandAnswer CCommandService::TradeCancel(const Fields& f, int user)
{
    CommandAnswer a;
    int tradeId = 0;
    if (f.size() != 1 || !ParseInt(f[0], tradeId)) {
        a = CommandAnswer::Fail(kDataFormatError);
    } else {
        switch (m_members.CancelTrade(user, tradeId)) {
        case CMemberStore::CancelResult::Cancelled: a = CommandAnswer::Ok("取消交易成功"); break;
        case CMemberStore::CancelResult::Unknown: a = CommandAnswer::Fail("没有找到此交易"); break;
        case CMemberStore::CancelResult::AlreadyCancelled: a = CommandAnswer::Make(-2, "此交易已经取消"); break;
        default: a = CommandAnswer::Fail("系统错误，请联系管理员"); break;
        }
    }
    return a;
}

CommandAnswer CCommandService::MemberFolders(int user)
{
    std::vector<ServiceFolder> folders;
    if (!m_members.Folders(user, folders)) return CommandAnswer::Fail("系统错误，请联系管理员");
    Fields out;
    for (const ServiceFolder& folder : folders) {
        out.push_back(std::to_string(folder.folderId));
        out.push_back(folder.name);
        out.push_back(std::to_string(folder.funds.size()));
        out.insert(out.end(), folder.funds.begin(), folder.funds.end());
    }
    return CommandAnswer::Ok(JoinFields(out));
}

// AddFlag 1 adds the fund, 0 takes it out. Answers: 0 done, -1 not logged
// in, -2 no such folder, -3 no such fund, -4 malformed request, -5 already
// in the folder, -6 not in the folder, -7 folder full, -9 store failure.
std::string CCommandService::FolderRequest(const std::string& body)
{
    std::string loginId, fundId;
    int topic = 0, add = -1;
    bool hasTopic = false;
    for (const std::string& pair : SplitText(body, '&')) {
        size_t eq = pair.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = pair.substr(0, eq), value = FormDecode(pair.substr(eq + 1));
        if (key == "LoginID") loginId = value;
        else if (key == "TopicID") hasTopic = ParseInt(value, topic);
        else if (key == "FundID") fundId = value;
        else if (key == "AddFlag" && !ParseInt(value, add)) add = -1;
    }
    int user = 0;
    if (!m_users.FindSession(loginId, user)) return "-1";
    if (!hasTopic || (add != 0 && add != 1)) return "-4";
    if (!m_market.FindFund(fundId)) return "-3";
    switch (add ? m_members.AddToFolder(user, topic, fundId) : m_members.RemoveFromFolder(user, topic, fundId)) {
    case CMemberStore::FolderResult::Done: return "0";
    case CMemberStore::FolderResult::NoFolder: return "-2";
    case CMemberStore::FolderResult::AlreadyThere: return "-5";
    case CMemberStore::FolderResult::NotThere: return "-6";
    case CMemberStore::FolderResult::Full: return "-7";
    default: return "-9";
    }
}

}  // namespace vextal

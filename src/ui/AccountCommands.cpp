#include "ui/AccountCommands.h"

#include <QAction>
#include <QDockWidget>
#include <QStatusBar>

#include "app/IniFile.h"
#include "app/VextalDoc.h"
#include "common/StringTable.h"
#include "ui/BookkeepingUi.h"
#include "ui/MainFrame.h"

namespace vextal {

void InstallAccountCommands(CMainFrame& frame, CVextalDoc& doc, IUserPrompt& prompt, const std::string& iniPath)
{
    CMainFrame* f = &frame;
    frame.SetHandler(cmd::AccountDetail, [f] {
        CBookkeepingUi* book = CBookkeepingUi::Of(*f);
        const int account = book ? book->CurrentAccountID() : 0;
        f->RunCommand(cmd::GroupAccounts);
        f->ShowAccountsPage(account ? 106 : 105);
    });

    QAction* realtime = frame.Action(cmd::TodayIncome);
    realtime->setCheckable(true);
    realtime->setChecked(doc.Settings().showRealtimeFlag != 0);
    frame.SetHandler(cmd::TodayIncome, [f, d = &doc, p = &prompt, iniPath, realtime] {
        CSettings& settings = d->Settings();
        if (!d->IsVip()) {
            realtime->setChecked(settings.showRealtimeFlag != 0);  // the click toggled it
            p->ShowMessage(LoadResString(str::VipOnly), PromptIcon::Information);
            return;
        }
        settings.showRealtimeFlag = settings.showRealtimeFlag ? 0 : 1;
        realtime->setChecked(settings.showRealtimeFlag != 0);
        WriteShowString("ShowRealtimeFlag", std::to_string(settings.showRealtimeFlag), iniPath);
        d->Accounts().SetShowRealtime(settings.showRealtimeFlag != 0);
        f->statusBar()->showMessage(settings.showRealtimeFlag
                                        ? QStringLiteral("当日收益：交易时间内按实时估算净值计算")
                                        : QStringLiteral("当日收益：按最新公布净值计算"),
                                    5000);
        // Every account's figures again, with the new source of today's NAV.
        if (CBookkeepingUi* book = CBookkeepingUi::Of(*f)) book->RefreshAll();
    });
}

}  // namespace vextal

#include "ui/ExportOptionsPages.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLayout>
#include <QListWidget>
#include <QPointer>
#include <QTabWidget>
#include <QVBoxLayout>
#include <memory>

#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "common/ProgramDir.h"
#include "net/DataService.h"
#include "ui/ExcelExport.h"
#include "ui/FundValueListView.h"
#include "ui/FundValueNewView.h"
#include "ui/MainFrame.h"
#include "ui/OptionsDialog.h"
#include "ui/TaskRunner.h"

namespace vextal {

namespace {

// Sheet name of a latest-value list by fund class.
QString ValuesSheetName(int fundClass)
{
    switch (fundClass) {
    case 2: return QStringLiteral("货币基金最新净值");
    case 3: return QStringLiteral("封闭式基金最新净值");
    case 4: return QStringLiteral("ETF和LOF基金最新净值");
    case 5: return QStringLiteral("集合理财产品最新净值");
    default: return QStringLiteral("开放式基金最新净值");
    }
}

class CSilentPrompt : public IUserPrompt {
public:
    void ShowMessage(const std::string&, PromptIcon) override {}
    bool AskYesNo(const std::string&) override { return false; }
};

}  // namespace

CAddFavouriteDialog::CAddFavouriteDialog(const std::vector<CFundGroup>& folders,
                                         std::function<std::string(int)> add, IUserPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_add(std::move(add)), m_prompt(prompt), m_folders(new QComboBox(this))
{
    setWindowTitle(QStringLiteral("添加到基金收藏夹"));
    for (const CFundGroup& g : folders) m_folders->addItem(QString::fromStdString(g.GroupName), g.GroupID);
    m_folders->setMinimumContentsLength(16);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("收藏夹:"), m_folders);
    auto* box = new QDialogButtonBox(this);
    QPushButton* addButton = box->addButton(QStringLiteral("添加"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    addButton->setDefault(true);
    connect(addButton, &QPushButton::clicked, this, &CAddFavouriteDialog::Add);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(box);
}

void CAddFavouriteDialog::Add()
{
    const int folder = m_folders->currentIndex() < 0 ? -1 : m_folders->currentData().toInt();
    QApplication::setOverrideCursor(Qt::WaitCursor);  // one short request
    m_message = m_add(folder);
    QApplication::restoreOverrideCursor();
    m_prompt.ShowMessage(m_message, PromptIcon::Information);
    if (folder < 0) {
        m_folders->setFocus();
        return;
    }
    accept();
}

void AddFundToFavourites(CVextalDoc& doc, CMarketData& market, CTaskRunner& runner, IUserPrompt& prompt,
                         const std::string& fundId, QWidget* parent, std::function<void()> changed)
{
    if (fundId.empty()) return;
    const std::string server = doc.Settings().serverUrl;
    const std::string loginId = doc.User().LoginID;
    CAddFavouriteDialog dialog(
        market.Catalogue().FundGroups(),
        [&](int folder) { return AddFundToTopic(server, loginId, folder, fundId); }, prompt, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.Message() != "添加成功") return;
    // The folders again (1/13), so the highlighting shows the new member.
    market.SyncSession();
    auto ctx = market.Catalogue().FetchContext("LoadFundGroups");
    if (!ctx) return;
    runner.Run([&market, ctx = *ctx, changed = std::move(changed)](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto fetched = std::make_shared<FundGroupsFetch>(FetchFundGroups(ctx));
        if (cancelled) return nullptr;
        return [&market, fetched, changed] {
            if (market.Catalogue().StoreFundGroups(*fetched) && changed) changed();
        };
    });
}

CFundValueListView* InstallExportOptionsPages(CMainFrame& frame, CVextalDoc& doc, CMarketData& market,
                                              CTaskRunner& runner, IUserPrompt& prompt, const std::string& iniPath,
                                              CFundValueNewView* values, CFundValueNewView* money)
{
    auto* history = new CFundValueListView(market, runner, doc.Settings(), &frame);
    frame.HomeView()->SetPage(113, history);
    const std::pair<int, int> historyCommands[] = {{cmd::History, 1}, {cmd::HistoryMoney, 2}, {cmd::HistoryClosed, 3}};
    for (auto [id, fundClass] : historyCommands)
        frame.SetHandler(id, [d = &doc, history, fundClass = fundClass] {
            history->SetOffline(d->User().OfflineFlag != 0);
            history->SetFundClass(fundClass);
        });
    QObject::connect(&frame, &CMainFrame::refreshRequested, history, [history](int page) {
        if (page == 113) history->Refresh();
    });

    for (CFundValueNewView* view : {values, money}) {
        if (!view) continue;
        SetExportSource(view, [view] {
            const bool moneyList = view->FundClass() == 2;
            return ExportSource{view->List(), moneyList ? kExportMoneyValues : 59177, ValuesSheetName(view->FundClass())};
        });
        view->SetFavouriteHandler([f = &frame](const std::string&) { f->RunCommand(cmd::AddFavourite); });
    }
    CMainFrame* f = &frame;
    CVextalDoc* d = &doc;
    CMarketData* m = &market;
    CTaskRunner* r = &runner;
    IUserPrompt* p = &prompt;
    frame.SetHandler(cmd::AddFavourite, [f, d, m, r, p, values, money] {
        auto* view = qobject_cast<CFundValueNewView*>(f->HomeView()->currentWidget());
        if (!view) return;
        AddFundToFavourites(*d, *m, *r, *p, view->CurrentFund(), f, [values, money] {
            if (values) values->Rebuild();
            if (money) money->Rebuild();
        });
    });
    frame.SetHandler(cmd::ExportExcel, [f, d, p] {
        ExportSource source;
        if (FindExportSource(f->HomeView()->currentWidget(), source)) ExportList(source, d->IsVip(), *p);
    });
    // Only a page with a list or a table to export offers the export.
    frame.SetAvailability(cmd::ExportExcel, [f] { return HasExportSource(f->HomeView()->currentWidget()); });
    frame.SetHandler(cmd::Options, [f, d, p, iniPath] { RunOptionsDialog(d->Settings(), iniPath, *p, f); });

    // The lists take the new options at once.
    QObject::connect(&OptionsNotifier(), &COptionsNotifier::settingsChanged, history,
                     [d = &doc, iniPath, values, money, history] {
                         const int size = d->Settings().listItemSize;
                         if (values) {
                             values->List()->BuildColumns(NewValueListConfig(), false, size, iniPath);
                             values->Rebuild();
                         }
                         if (money) {
                             money->List()->ApplyListStyle(size);
                             money->Rebuild();
                         }
                         if (history->FundClass() != 0) history->ApplySettings();
                     });
    return history;
}

bool SaveExportOptionsScreenshots(CMainFrame& frame, const QString& dir)
{
    CSilentPrompt prompt;
    COptionsDialog dialog(DefaultIniPath(), prompt, &frame);
    dialog.show();
    bool ok = true;
    const char* names[] = {"options-show", "options-accounts", "options-holdings", "options-values", "options-proxy"};
    for (int i = 0; i < dialog.Tabs()->count() && i < 5; ++i) {
        dialog.Tabs()->setCurrentIndex(i);
        if (dialog.layout()) dialog.layout()->activate();
        ok = dialog.grab().save(QDir(dir).filePath(QString::fromLatin1(names[i]) + ".png")) && ok;
    }
    dialog.hide();
    CCurveColourDialog colours(dialog.CurveColours(), &frame);
    colours.Curves()->setCurrentRow(2);
    colours.show();
    if (colours.layout()) colours.layout()->activate();
    ok = colours.grab().save(QDir(dir).filePath(QStringLiteral("options-curve-colours.png"))) && ok;
    colours.hide();
    return ok;
}

}  // namespace vextal

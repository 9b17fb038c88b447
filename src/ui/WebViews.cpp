#include "ui/WebViews.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QCoreApplication>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "book/BookTypes.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/StringTable.h"
#include "market/FundCatalogue.h"
#include "ui/CurvePointsDialog.h"
#include "ui/ExcelExport.h"
#include "ui/MainFrame.h"
#include "ui/WebPane.h"

namespace vextal {

namespace {

// "text|value|text|value..." of a numbered string into a combo box.
void FillChoices(QComboBox* box, int stringId)
{
    std::vector<std::string> f = SplitText(LoadResString(stringId), '|');
    for (size_t i = 0; i + 1 < f.size(); i += 2)
        box->addItem(QString::fromStdString(f[i]), int(IntegerOr(f[i + 1], 0)));
}

std::string Get(const std::function<std::string()>& f) { return f ? f() : std::string(); }

}  // namespace

// ---- tool pages ----------------------------------------------------------------

CFundValueHistoryView::CFundValueHistoryView(WebPageSource source, QWidget* parent)
    : QWidget(parent), m_source(std::move(source)), m_pane(new CWebPane(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pane);
}

void CFundValueHistoryView::OpenToolPage(int index)
{
    std::string url = ToolPageUrl(Get(m_source.webBase), index, Get(m_source.currentFund), Get(m_source.userQuery),
                                  RandomPageSerial());
    if (url.empty()) return;
    m_url = url;
    m_index = index;
    m_pane->Load(QString::fromStdString(m_url));
}

void CFundValueHistoryView::Reload()
{
    // A new serial, so that no cache answers for the page.
    if (m_index >= 0) OpenToolPage(m_index);
}

// ---- financing analysis --------------------------------------------------------

CFinancingAnalyseView::CFinancingAnalyseView(WebPageSource source, QWidget* parent)
    : QWidget(parent),
      m_source(std::move(source)),
      m_type(new QButtonGroup(this)),
      m_show(new QComboBox(this)),
      m_style(new QComboBox(this)),
      m_account(new QComboBox(this)),
      m_chart(new CWebPane(this)),
      m_table(new CWebPane(this))
{
    auto* bar = new QHBoxLayout;
    int id = 0;
    for (const char* text : {"按帐户统计", "按基金统计", "按类型统计"}) {
        auto* radio = new QRadioButton(QString::fromUtf8(text), this);
        m_type->addButton(radio, id++);
        bar->addWidget(radio);
    }
    m_type->button(0)->setChecked(true);
    FillChoices(m_show, 59178);
    FillChoices(m_style, 59179);
    bar->addSpacing(12);
    bar->addWidget(new QLabel(QStringLiteral("统计项:"), this));
    bar->addWidget(m_show);
    bar->addWidget(new QLabel(QStringLiteral("显示风格:"), this));
    bar->addWidget(m_style);
    bar->addWidget(new QLabel(QStringLiteral("帐户:"), this));
    m_account->setMinimumContentsLength(10);
    bar->addWidget(m_account);
    auto* show = new QPushButton(QStringLiteral("显示"), this);
    show->setObjectName(QStringLiteral("showButton"));
    bar->addWidget(show);
    bar->addStretch(1);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(m_chart);
    split->addWidget(m_table);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(split, 1);

    connect(m_type, &QButtonGroup::idClicked, this, [this] { RefillAccounts(); });
    connect(show, &QPushButton::clicked, this, [this] { ShowResult(); });
    RefillAccounts();
}

void CFinancingAnalyseView::RefillAccounts()
{
    m_account->clear();
    m_account->addItem(QStringLiteral("全部"), 0);
    if (!m_source.accounts) return;
    for (const AccountInfo* a : m_source.accounts())
        if (a) m_account->addItem(QString::fromStdString(a->AccountName), a->AccountID);
}

FinancingQuery CFinancingAnalyseView::Query() const
{
    FinancingQuery q;
    q.type = std::max(0, m_type->checkedId());
    q.show = m_show->currentData().toInt();
    q.style = m_style->currentData().toInt();
    return q;
}

int CFinancingAnalyseView::ChosenAccount() const { return m_account->currentData().toInt(); }

void CFinancingAnalyseView::ShowResult()
{
    const FinancingQuery q = Query();
    std::vector<const AccountInfo*> accounts = m_source.accounts ? m_source.accounts() : std::vector<const AccountInfo*>();
    const std::string data = FinancingDataText(accounts, q, ChosenAccount(), m_source.fundName, m_source.fundType);
    const std::string base = Get(m_source.webBase), query = Get(m_source.userQuery);
    m_data = data;
    m_groupTitle = m_type->checkedButton() ? m_type->checkedButton()->text() : QString();
    m_figureTitle = m_show->currentText();
    m_first = FinancingAnalyseUrl(base, q, query, data);
    FinancingQuery table = q;
    table.style = 0;
    m_second = FinancingAnalyseUrl(base, table, query, data);
    m_chart->Load(QString::fromStdString(m_first));
    m_table->Load(QString::fromStdString(m_second));
}

std::shared_ptr<QAbstractItemModel> CFinancingAnalyseView::ResultTable() const
{
    if (m_first.empty()) return nullptr;
    // "name|figure|name|figure...", as the two pages got it.
    const std::vector<std::string> f = SplitText(m_data, '|');
    std::vector<QStringList> rows;
    for (size_t i = 0; i + 1 < f.size(); i += 2) rows.push_back({QString::fromStdString(f[i]), QString::fromStdString(f[i + 1])});
    QString group = m_groupTitle;
    group.remove(QStringLiteral("按")).remove(QStringLiteral("统计"));
    auto table = std::make_shared<CTextTableModel>(QStringList{group.isEmpty() ? QStringLiteral("项目") : group, m_figureTitle});
    table->SetRows(std::move(rows));
    return table;
}

// ---- About -------------------------------------------------------------------

CAboutDialog::CAboutDialog(const std::string& clientVersion, const std::string& serverUrl, const std::string& member,
                           QWidget* parent)
    : QDialog(parent), m_pane(new CWebPane(this))
{
    setWindowTitle(QStringLiteral("关于Vextal"));
    auto* layout = new QVBoxLayout(this);
    auto* version = new QLabel(QString::fromStdString(StrFormat("Vextal:%s", clientVersion.c_str())), this);
    QFont big = version->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    version->setFont(big);
    layout->addWidget(version);
    layout->addWidget(new QLabel(QStringLiteral("基金投资记帐、净值查询、走势分析和实时估算"), this));
    layout->addWidget(new QLabel(QStringLiteral("服务地址：") + QString::fromStdString(serverUrl), this));
    layout->addWidget(new QLabel(QStringLiteral("当前会员：") + QString::fromStdString(member), this));
    layout->addWidget(new QLabel(QStringLiteral("本软件供个人使用；所示数据仅供参考，不构成投资建议。"), this));
    m_pane->setMinimumSize(460, 220);
    layout->addWidget(m_pane, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    m_pane->Load(QString::fromStdString(AboutPageUrl(serverUrl)));
    resize(520, 440);
}

// ---- installation ---------------------------------------------------------------

namespace {
// The document of the installed pages, for the screenshot run only.
CVextalDoc* g_screenshotDoc = nullptr;
CMarketData* g_screenshotMarket = nullptr;
}  // namespace

void InstallWebPages(CMainFrame& frame, CVextalDoc& doc, CMarketData& market)
{
    CVextalDoc* d = &doc;
    g_screenshotDoc = &doc;
    g_screenshotMarket = &market;
    CMarketData* m = &market;
    WebPageSource source;
    // The site's pages are the service's: the web base is the server URL.
    source.webBase = [d] { return d->Settings().serverUrl; };
    source.userQuery = [d] { return d->GetUserQuery(); };
    source.currentFund = [d] { return d->Settings().fundId; };
    source.accounts = [d] {
        std::vector<const AccountInfo*> list;
        for (const auto& [id, account] : d->Accounts().Accounts()) list.push_back(account.get());
        return list;
    };
    source.fundName = [m](const std::string& code) {
        const CFundInfo* f = m->Catalogue().FindFund(code);
        return f ? f->FundName : std::string();
    };
    source.fundType = [m](const std::string& code) {
        const CFundInfo* f = m->Catalogue().FindFund(code);
        return f ? GetInvestTypeName(f->InvestTypeID) : std::string();
    };

    CHomeView* home = frame.HomeView();
    auto* tools = qobject_cast<CFundValueHistoryView*>(home->Page(111));
    if (!tools) {
        tools = new CFundValueHistoryView(source, &frame);
        home->SetPage(111, tools);
    }
    auto* analyse = qobject_cast<CFinancingAnalyseView*>(home->Page(116));
    if (!analyse) {
        analyse = new CFinancingAnalyseView(source, &frame);
        home->SetPage(116, analyse);
    }
    for (int i = 0; i < kToolPageCount; ++i)
        for (const CommandDef& c : CommandTable())
            if (ToolPageOfCommand(c.id) == i) frame.SetHandler(c.id, [tools, i] { tools->OpenToolPage(i); });
    // The accounts may have changed since the page was last shown.
    frame.SetHandler(cmd::InvestAnalysis, [analyse] { analyse->RefillAccounts(); });
    // "刷新": the tool page loaded again; the analysis of the accounts as they are now.
    QObject::connect(&frame, &CMainFrame::refreshRequested, tools, [tools, analyse](int page) {
        if (page == 111) tools->Reload();
        if (page == 116) {
            analyse->RefillAccounts();
            analyse->ShowResult();
        }
    });
    SetExportSource(analyse, [analyse] {
        ExportSource source;
        source.model = analyse->ResultTable();
        source.kind = kExportAnalysis;
        source.sheetName = QStringLiteral("基金投资分析");
        return source;
    }, [analyse] { return !analyse->FirstUrl().empty(); });
    frame.SetHandler(cmd::About, [d, f = &frame] {
        const CUserInfo& u = d->User();
        std::string member = u.LoginName.empty() ? std::string("未登录")
                                                 : u.LoginName + (u.OfflineFlag ? "（脱机）" : d->IsVip() ? "（VIP会员）" : "（免费会员）");
        CAboutDialog dialog(d->GetClientVersion(), d->Settings().serverUrl, member, f);
        dialog.exec();
    });
}

// ---- screenshots -------------------------------------------------------------------

namespace {

// A screenshot run starts from an empty program folder: two accounts with
// a few purchases give the analysis figures to draw (online bookings, at
// the service's NAVs).
void SeedSampleAccounts(CVextalDoc& doc, CMarketData& market)
{
    CAccountManager& book = doc.Accounts();
    if (!book.Accounts().empty() || doc.User().OfflineFlag) return;
    const OleDate now = Clock::Now();
    std::vector<std::string> funds;
    for (const auto& [code, f] : market.Catalogue().Funds())
        if (funds.size() < 6 && f.FundTypeID == 1 && f.InvestTypeID == 1 + static_cast<int>(funds.size() % 3) &&
            f.CreateDate.dt > 0 && f.CreateDate.dt < now.dt - 500)
            funds.push_back(code);
    size_t k = 0;
    for (const char* name : {"稳健组合", "进取组合"}) {
        AccountInfo account;
        account.AccountName = name;
        if (!book.CreateAccount(account)) return;
        for (int i = 0; i < 3 && k < funds.size(); ++i, ++k) {
            TradeInfo t;
            t.AccountID = account.AccountID;
            t.FundID = funds[k];
            t.TradeType = kTradeBuy;
            t.TradeMoney = 10000 + 5000 * static_cast<double>(k);
            t.TradeFee = 1.5;
            t.TradeTime = now.AddDays(-400 + 50 * static_cast<double>(k)).DateOnly().AddSeconds(10 * 3600);
            t.NoAutoBonus = 1;
            book.BookTrade(t);
        }
    }
    book.LoadHoldings(0);
    for (const auto& entry : book.Accounts()) book.RefreshAccount(entry.first);
}

// Runs `trigger`, then `next` once every pane has loaded (or after 20 s).
void AfterLoads(std::vector<CWebPane*> panes, const std::function<void()>& trigger, std::function<void()> next)
{
    auto left = std::make_shared<int>(static_cast<int>(panes.size()));
    auto fired = std::make_shared<bool>(false);
    auto finish = [fired, next] {
        if (*fired) return;
        *fired = true;
        // A moment for the engine to paint what it loaded.
        QTimer::singleShot(600, next);
    };
    // Owned by a pane (or the application), so a run that ends sooner frees it too.
    auto* guard = new QObject(panes.empty() ? static_cast<QObject*>(QCoreApplication::instance()) : panes.front());
    for (CWebPane* pane : panes)
        QObject::connect(pane, &CWebPane::loaded, guard, [left, finish] {
            if (--*left == 0) finish();
        });
    QTimer::singleShot(20000, guard, finish);
    QTimer::singleShot(25000, guard, &QObject::deleteLater);
    trigger();
}

}  // namespace

std::function<void(bool)> WithWebScreenshots(CMainFrame& frame, const QString& dir, std::function<void(bool)> done)
{
    return [&frame, dir, done = std::move(done)](bool ok) {
        auto* tools = qobject_cast<CFundValueHistoryView*>(frame.HomeView()->Page(111));
        auto* analyse = qobject_cast<CFinancingAnalyseView*>(frame.HomeView()->Page(116));
        if (!tools || !analyse) {
            done(ok);
            return;
        }
        auto all = std::make_shared<bool>(ok);
        auto save = [all, dir](QWidget* w, const char* name) {
            *all = w->grab().save(QDir(dir).filePath(QString::fromUtf8(name))) && *all;
        };
        // The About dialog through its command, open while the picture is taken.
        auto about = [&frame, save, done, all] {
            QTimer::singleShot(0, &frame, [&frame, save, done, all] {
                QTimer::singleShot(3000, &frame, [save, done, all] {
                    if (auto* dialog = qobject_cast<CAboutDialog*>(QApplication::activeModalWidget())) {
                        save(dialog, "about.png");
                        dialog->accept();
                    }
                    QTimer::singleShot(0, [done, all] { done(*all); });
                });
                frame.RunCommand(cmd::About);
            });
        };
        // The analysis with a choice of the controls, as the user makes it.
        auto choose = [analyse](const QString& type, const QString& show, const QString& style) {
            for (QRadioButton* r : analyse->findChildren<QRadioButton*>())
                if (r->text() == type) r->click();
            for (QComboBox* box : analyse->findChildren<QComboBox*>())
                for (const QString& text : {show, style})
                    if (int i = box->findText(text); i >= 0) box->setCurrentIndex(i);
            analyse->ShowResult();
        };
        auto analysis = [&frame, analyse, save, choose, about] {
            const std::vector<CWebPane*> panes = {analyse->FirstPane(), analyse->SecondPane()};
            AfterLoads(panes, [choose] { choose(QStringLiteral("按帐户统计"), QStringLiteral("按基金市值"), QStringLiteral("饼图")); },
                       [&frame, save, choose, about, panes] {
                           save(&frame, "financing-pie.png");
                           AfterLoads(panes,
                                      [choose] {
                                          choose(QStringLiteral("按类型统计"), QStringLiteral("按累计本金"),
                                                 QStringLiteral("条形图"));
                                      },
                                      [&frame, save, choose, about, panes] {
                                          save(&frame, "financing-bars.png");
                                          AfterLoads(panes,
                                                     [choose] {
                                                         choose(QStringLiteral("按基金统计"), QStringLiteral("按最新收益"),
                                                                QStringLiteral("柱形图"));
                                                     },
                                                     [&frame, save, about] {
                                                         save(&frame, "financing.png");
                                                         about();
                                                     });
                                      });
                       });
        };
        auto step3 = [&frame, analysis] {
            if (g_screenshotDoc && g_screenshotMarket) SeedSampleAccounts(*g_screenshotDoc, *g_screenshotMarket);
            frame.RunCommand(cmd::InvestAnalysis);
            analysis();
        };
        // Every tool page in table order, then the analysis and About.
        auto page = std::make_shared<std::function<void(int)>>();
        *page = [&frame, tools, save, step3, page](int index) {
            if (index == kToolPageCount) {
                step3();
                // Ends the self-reference once this call has returned.
                QTimer::singleShot(0, [page] { *page = nullptr; });
                return;
            }
            int command = 0;
            for (const CommandDef& c : CommandTable())
                if (ToolPageOfCommand(c.id) == index) command = c.id;
            AfterLoads({tools->Pane()}, [&frame, command] { frame.RunCommand(command); },
                       [&frame, save, page, index] {
                           save(&frame, StrFormat("webpage-%02d.png", index).c_str());
                           (*page)(index + 1);
                       });
        };
        // Offline the tool pages load nothing: each would only wait out its time.
        const bool offline = g_screenshotDoc && g_screenshotDoc->User().OfflineFlag != 0;
        (*page)(offline ? kToolPageCount : 0);
    };
}

}  // namespace vextal

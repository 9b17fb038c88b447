#include "ui/FundCurveView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <set>

#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "common/Clock.h"
#include "common/StringTable.h"
#include "common/UserPrompt.h"
#include "curve/AccountIncomeHistory.h"
#include "curve/CurveBar.h"
#include "ui/CommandTable.h"
#include "ui/CurveChart.h"
#include "ui/CurvePointsDialog.h"
#include "ui/ExcelExport.h"
#include "ui/FundPicker.h"
#include "ui/MainFrame.h"

namespace vextal {

namespace {

constexpr int kMaxSelectedFunds = 12;

QString Q(const std::string& s) { return QString::fromStdString(s); }
OleDate ToOle(const QDate& d) { return OleDate::FromParts(d.year(), d.month(), d.day()); }
QDate ToQDate(const OleDate& d)
{
    DateParts p = d.Parts();
    return QDate(p.year, p.month, p.day);
}

QDateEdit* DateBox(QWidget* parent)
{
    auto* e = new QDateEdit(parent);
    e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    e->setCalendarPopup(true);
    return e;
}

int KindOfCommand(int id)
{
    switch (id) {
    case cmd::GrowthTrend: return kCurveGrowthOverlay;
    case cmd::DailyOverlay: return kCurveDailyOverlay;
    case cmd::WeeklyOverlay: return kCurveWeeklyOverlay;
    case cmd::MonthlyOverlay: return kCurveMonthlyOverlay;
    case cmd::MovingAverage: return kCurveMovingAverage;
    case cmd::RealtimeCurve: return kCurveEstimate;
    case cmd::NDayReturn: return kCurveNDayReturn;
    case cmd::RangeOverlay: return kCurveRangeOverlay;
    case cmd::BandOverlay: return kCurveBandOverlay;
    default: return kCurveNav;
    }
}

}  // namespace

// ---- curve bar ---------------------------------------------------------------

CCurveBar::CCurveBar(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    statistic = new QComboBox(this);
    statistic->setObjectName(QStringLiteral("statistic"));
    statistic->setMinimumContentsLength(8);
    start = DateBox(this);
    end = DateBox(this);
    shanghai = new QCheckBox(QStringLiteral("上证"), this);
    shenzhen = new QCheckBox(QStringLiteral("深证"), this);
    csi300 = new QCheckBox(QStringLiteral("沪深"), this);
    days = new QComboBox(this);
    days->setEditable(true);
    for (const char* n : {"5", "10", "20", "30", "60", "120", "250"}) days->addItem(QString::fromLatin1(n));
    days->setCurrentText(QStringLiteral("10"));
    m_dayLabel = new QLabel(QStringLiteral("天"), this);
    chooseFunds = new QPushButton(QStringLiteral("选择基金"), this);
    ok = new QPushButton(QStringLiteral("确定"), this);
    row->addWidget(new QLabel(QStringLiteral("曲线:"), this));
    row->addWidget(statistic);
    row->addWidget(new QLabel(QStringLiteral("开始日期:"), this));
    row->addWidget(start);
    row->addWidget(new QLabel(QStringLiteral("结束日期:"), this));
    row->addWidget(end);
    row->addWidget(shanghai);
    row->addWidget(shenzhen);
    row->addWidget(csi300);
    row->addWidget(days);
    row->addWidget(m_dayLabel);
    row->addWidget(chooseFunds);
    row->addWidget(ok);
    row->addStretch(1);
    connect(statistic, &QComboBox::currentIndexChanged, this, [this] { ApplyIndexRule(); });
}

void CCurveBar::Fill(int kind, const QDate& today)
{
    const CurveBarSpec spec = CurveBarFor(kind);
    m_kind = kind;
    QSignalBlocker block(statistic);
    statistic->clear();
    for (const std::string& s : spec.Statistics) statistic->addItem(Q(s));
    statistic->setCurrentIndex(statistic->count() > 0 ? 0 : -1);
    end->setDate(today);
    start->setDate(today.addDays(-spec.StartDaysBack));
    for (QCheckBox* b : {shanghai, shenzhen, csi300}) b->setVisible(spec.IndexBoxesShown);
    days->setVisible(spec.DayBoxShown);
    m_dayLabel->setVisible(spec.DayBoxShown);
    statistic->setEnabled(spec.StatisticEnabled);
    ApplyIndexRule();
}

void CCurveBar::ApplyIndexRule()
{
    const bool on = CurveIndexBoxesEnabled(m_kind, statistic->currentIndex());
    for (QCheckBox* b : {shanghai, shenzhen, csi300}) {
        b->setEnabled(on);
        if (!on) b->setChecked(false);
    }
}

CurveBarValues CCurveBar::Values() const
{
    CurveBarValues v;
    v.StartDate = ToOle(start->date());
    // The whole of the last day.
    v.EndDate = ToOle(end->date()).AddDays(1.0 - 1.0 / 86400.0);
    v.Shanghai = shanghai->isChecked();
    v.Shenzhen = shenzhen->isChecked();
    v.Csi300 = csi300->isChecked();
    v.DayText = days->currentText().toStdString();
    v.StatisticIndex = statistic->currentIndex();
    for (int i = 0; i < statistic->count(); ++i) v.Statistics.push_back(statistic->itemText(i).toStdString());
    return v;
}

// ---- single-fund bar ---------------------------------------------------------

CSingleFundBar::CSingleFundBar(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    fund = new QComboBox(this);
    fund->setObjectName(QStringLiteral("fund"));
    fund->setEditable(true);
    fund->setMinimumContentsLength(10);
    start = DateBox(this);
    end = DateBox(this);
    dailyChange = new QCheckBox(QStringLiteral("涨跌幅曲线"), this);
    ok = new QPushButton(QStringLiteral("确定"), this);
    list = new QPushButton(QStringLiteral("？"), this);
    list->setToolTip(QStringLiteral("选择基金"));
    keyboard = new QPushButton(QStringLiteral("F"), this);
    keyboard->setToolTip(QStringLiteral("显示键盘精灵,快速选择基金"));
    for (QPushButton* b : {list, keyboard}) b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 8);
    row->addWidget(new QLabel(QStringLiteral("基金:"), this));
    row->addWidget(fund);
    row->addWidget(new QLabel(QStringLiteral("开始日期:"), this));
    row->addWidget(start);
    row->addWidget(new QLabel(QStringLiteral("结束日期:"), this));
    row->addWidget(end);
    row->addWidget(dailyChange);
    row->addWidget(ok);
    row->addWidget(list);
    row->addWidget(keyboard);
    row->addStretch(1);
}

// ---- fund selection ----------------------------------------------------------

CFundSelectDialog::CFundSelectDialog(const std::vector<std::pair<std::string, std::string>>& available,
                                     const std::vector<std::string>& selected, IUserPrompt& prompt,
                                     std::function<bool(int)> checkCount, QWidget* parent)
    : QDialog(parent), m_prompt(prompt), m_checkCount(std::move(checkCount))
{
    setWindowTitle(QStringLiteral("基金选择"));
    availableList = new QListWidget(this);
    selectedList = new QListWidget(this);
    std::map<std::string, std::string> names(available.begin(), available.end());
    auto item = [&](const std::string& code) {
        auto* it = new QListWidgetItem(Q(code + " " + names[code]));
        it->setData(Qt::UserRole, Q(code));
        return it;
    };
    std::set<std::string> chosen(selected.begin(), selected.end());
    for (const auto& [code, name] : available)
        if (!chosen.count(code)) availableList->addItem(item(code));
    for (const std::string& code : selected) selectedList->addItem(item(code));

    auto* add = new QPushButton(QStringLiteral(">"), this);
    auto* back = new QPushButton(QStringLiteral("<"), this);
    auto* all = new QPushButton(QStringLiteral("<<"), this);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    connect(add, &QPushButton::clicked, this, [this] { AddHighlighted(); });
    connect(back, &QPushButton::clicked, this, &CFundSelectDialog::RemoveHighlighted);
    connect(all, &QPushButton::clicked, this, &CFundSelectDialog::RemoveAll);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(availableList, &QListWidget::itemDoubleClicked, this, [this] { AddHighlighted(); });
    connect(selectedList, &QListWidget::itemDoubleClicked, this, &CFundSelectDialog::RemoveHighlighted);

    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("可选基金"), this));
    left->addWidget(availableList);
    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {add, back, all}) buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("已选基金"), this));
    right->addWidget(selectedList);
    auto* row = new QHBoxLayout(this);
    row->addLayout(left, 1);
    row->addLayout(buttons);
    row->addLayout(right, 1);
    resize(560, 400);
}

bool CFundSelectDialog::AddHighlighted()
{
    QListWidgetItem* it = availableList->currentItem();
    if (!it) return false;
    const int count = selectedList->count();
    if (count >= kMaxSelectedFunds) {
        m_prompt.ShowMessage(LoadResString(str::OnlyTwelveFunds), PromptIcon::Warning);
        return false;
    }
    if (m_checkCount && !m_checkCount(count)) return false;
    selectedList->addItem(availableList->takeItem(availableList->row(it)));
    return true;
}

void CFundSelectDialog::RemoveHighlighted()
{
    if (QListWidgetItem* it = selectedList->currentItem())
        availableList->insertItem(0, selectedList->takeItem(selectedList->row(it)));
}

void CFundSelectDialog::RemoveAll()
{
    while (selectedList->count() > 0) availableList->insertItem(0, selectedList->takeItem(selectedList->count() - 1));
}

std::vector<std::string> CFundSelectDialog::Selected() const
{
    std::vector<std::string> out;
    for (int i = 0; i < selectedList->count(); ++i)
        out.push_back(selectedList->item(i)->data(Qt::UserRole).toString().toStdString());
    return out;
}

// ---- view --------------------------------------------------------------------

CFundCurveView::CFundCurveView(CVextalDoc& doc, CMarketData& market, CTaskRunner& runner, IUserPrompt& prompt,
                               const std::string& iniPath, QWidget* parent)
    : QWidget(parent), m_doc(doc), m_market(market), m_runner(runner), m_prompt(prompt), m_iniPath(iniPath),
      m_data([&] {
          CurveSources s;
          s.History = &market.History();
          s.Catalogue = &market.Catalogue();
          s.Latest = &market.Latest();
          s.DataServiceUrl = doc.Settings().dataServerUrl.empty() ? doc.Settings().serverUrl
                                                                  : doc.Settings().dataServerUrl;
          return s;
      }()),
      m_chart(new CCurveChart(this)), m_bar(new CCurveBar(this)), m_single(new CSingleFundBar(this))
{
    setObjectName(QStringLiteral("fundCurveView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_bar);
    layout->addWidget(m_single);
    layout->addWidget(m_chart, 1);
    m_bar->hide();
    ReloadDisplay();

    connect(m_bar->ok, &QPushButton::clicked, this, &CFundCurveView::ApplyCurveBar);
    connect(m_bar->chooseFunds, &QPushButton::clicked, this, &CFundCurveView::ChooseFunds);
    connect(m_single->ok, &QPushButton::clicked, this, &CFundCurveView::ApplySingleFund);
    // Enter in the code box draws, as "确定".
    connect(m_single->fund->lineEdit(), &QLineEdit::returnPressed, this, &CFundCurveView::ApplySingleFund);
    connect(m_single->list, &QPushButton::clicked, this, [this] { PickSingleFund(false); });
    connect(m_single->keyboard, &QPushButton::clicked, this, [this] { PickSingleFund(true); });
    connect(m_chart, &CCurveChart::pointListRequested, this, &CFundCurveView::ShowPointList);

    const QDate today = ToQDate(Clock::Now());
    m_single->end->setDate(today);
    m_single->start->setDate(today.addMonths(-6));
    for (const std::string& code : doc.Settings().fundIdList) m_single->fund->addItem(Q(code));
    m_single->fund->setCurrentText(Q(doc.Settings().fundId));
}

CFundCurveView::~CFundCurveView()
{
    CTaskRunner::Cancel(m_pending);
    if (m_busyCursor) QApplication::restoreOverrideCursor();
}

void CFundCurveView::PickSingleFund(bool withTyped)
{
    const std::vector<FundChoice> choices = FundChoicesOf(m_market.Catalogue(), m_doc.FundKeys());
    const QString code = CFundPicker::Pick(choices, this, withTyped ? m_single->fund->currentText().trimmed() : QString());
    if (code.isEmpty()) return;
    m_single->fund->setCurrentText(code);
    ApplySingleFund();
}

void CFundCurveView::ReloadDisplay()
{
    m_chart->SetDisplay(ReadCurveDisplay(m_iniPath));
}

void CFundCurveView::SyncSession()
{
    m_market.SyncSession();
    const bool offline = m_doc.User().OfflineFlag != 0;
    m_market.History().SetSession(m_doc.MakeCommandContext(), offline);
    m_data.SetSession(m_doc.MakeCommandContext());
}

std::string CFundCurveView::CurrentFundChoice() const
{
    // A holding chosen in the account panel names the fund.
    if (m_tree && m_tree->currentItem()) {
        QString code = m_tree->currentItem()->data(0, Qt::UserRole + 1).toString();
        if (!code.isEmpty()) return code.toStdString();
    }
    std::string typed = m_single->fund->currentText().trimmed().toStdString();
    return typed.empty() ? m_doc.Settings().fundId : typed;
}

void CFundCurveView::RunCurveCommand(int commandId)
{
    m_kind = KindOfCommand(commandId);
    // Colours changed in the options show from the next curve on.
    ReloadDisplay();
    const CurveBarSpec spec = CurveBarFor(m_kind);
    if (!spec.ShowBar) {
        m_bar->hide();
        m_single->show();
        m_single->fund->setCurrentText(Q(CurrentFundChoice()));
        ApplySingleFund();
        return;
    }
    m_single->hide();
    m_bar->show();
    // The bar keeps its values for the same kind; another kind refills it.
    if (m_bar->Kind() != m_kind) m_bar->Fill(m_kind, ToQDate(Clock::Now()));
    ApplyCurveBar();
}

void CFundCurveView::ApplySingleFund()
{
    if (m_kind != kCurveNav && m_kind != kCurveEstimate) m_kind = kCurveNav;
    CurveParams& p = m_data.Params();
    p.Kind = m_kind;
    p.CurrentFund = m_single->fund->currentText().trimmed().toStdString();
    if (m_kind == kCurveEstimate) {
        p.StartDate = Clock::Now().DateOnly();
        p.EndDate = Clock::Now();
    } else {
        p.StartDate = ToOle(m_single->start->date());
        p.EndDate = ToOle(m_single->end->date()).AddDays(1.0 - 1.0 / 86400.0);
    }
    p.IndexCompare = m_single->dailyChange->isChecked() ? 1 : 0;
    const int kind = m_kind;
    const CFundInfo* info = m_market.Catalogue().FindFund(p.CurrentFund);
    const bool splits = kind == kCurveNav && info && info->InvestTypeID != 4 && p.IndexCompare == 0;
    std::vector<int> indexes;
    if (kind == kCurveNav && p.IndexCompare != 0) indexes.push_back(p.IndexCompare);
    LoadThenDraw(kind, {p.CurrentFund}, 0, splits, [this, kind] {
        m_data.Params().Loaded = false;
        // A fund without records leaves no title of the curve before.
        m_chart->Model().SetTitle("", "");
        // Series on dates cannot share the intraday axis.
        if (kind == kCurveEstimate) m_chart->Model().RemoveAllSeries();
        m_data.ShowCurve(m_chart->Model(), kind);
    });
}

void CFundCurveView::ApplyCurveBar()
{
    const CurveBarValues values = m_bar->Values();
    const int kind = m_kind;
    // The overlays draw the document's selection as it is now.
    m_data.Params().SelectedFunds = m_doc.Settings().fundIdList;
    // The records of the bar's range and statistic are fetched first.
    m_data.Params().StartDate = values.StartDate;
    m_data.Params().EndDate = values.EndDate;
    std::vector<int> indexes;
    if (kind == kCurveDailyOverlay || kind == kCurveGrowthOverlay) {
        if (values.Shanghai) indexes.push_back(1);
        if (values.Shenzhen) indexes.push_back(2);
        if (values.Csi300) indexes.push_back(3);
    }
    LoadThenDraw(kind, m_data.Params().SelectedFunds, values.StatisticIndex, false, [this, values, kind] {
        m_chart->Model().SetTitle("", "");
        m_data.ApplyCurveBar(m_chart->Model(), values, kind);
    }, indexes);
}

void CFundCurveView::Redraw()
{
    if (m_kind == kCurveAccountIncome) ShowAccountIncome(m_accountId);
    else if (m_bar->isVisibleTo(this)) ApplyCurveBar();
    else ApplySingleFund();
}

void CFundCurveView::ShowAccountIncome(int accountId)
{
    m_accountId = accountId;
    m_kind = kCurveAccountIncome;
    m_bar->hide();
    m_single->hide();
    AccountInfo* account = m_doc.Accounts().FindAccount(accountId);
    if (account && account->trades.empty()) m_doc.Accounts().RefreshAccount(accountId);
    std::vector<std::string> funds;
    if (account) {
        std::set<std::string> seen;
        for (const auto& [id, t] : account->trades)
            if (seen.insert(t.FundID).second) funds.push_back(t.FundID);
    }
    LoadThenDraw(kCurveNav, funds, 0, false, [this, funds] {
        AccountInfo* a = m_doc.Accounts().FindAccount(m_accountId);
        const OleDate today = Clock::Now();
        std::map<std::string, IncomeHistoryFund> values;
        if (a) {
            OleDate first = today;
            for (const auto& [id, t] : a->trades)
                if (t.DealTime.dt != 0 && t.DealTime < first) first = t.DealTime;
            for (const std::string& fund : funds) {
                IncomeHistoryFund& f = values[fund];
                const CFundInfo* info = m_market.Catalogue().FindFund(fund);
                f.MoneyMarket = info && info->InvestTypeID == 4;
                if (!f.MoneyMarket) f.Records = m_market.History().LoadFundValues(fund, first.DateOnly(), today);
            }
        }
        const std::string name = a ? a->AccountName : std::string();
        std::vector<CurveIncomePoint> points = a ? AccountIncomeHistory(a->trades, values, today)
                                                 : std::vector<CurveIncomePoint>{};
        // Kind 29 takes the history through the document's callback.
        CCurveData data([&] {
            CurveSources s;
            s.AccountIncome = [&](std::string& account, std::vector<CurveIncomePoint>& out) {
                account = name;
                out = points;
                return a != nullptr;
            };
            return s;
        }());
        data.ShowCurve(m_chart->Model(), kCurveAccountIncome);
    });
}

void CFundCurveView::LoadThenDraw(int kind, const std::vector<std::string>& funds, int statistic, bool splits,
                                  std::function<void()> draw, const std::vector<int>& indexes)
{
    SyncSession();
    CTaskRunner::Cancel(m_pending);
    m_pending = nullptr;
    const int serial = ++m_serial;
    const int dataKind = CurveDataKind(kind);
    const bool offline = m_doc.User().OfflineFlag != 0;
    const bool local = IsLocalCurveDataKind(dataKind);

    // Local kinds: the funds with no stored history are downloaded whole;
    // the service's kinds: every fund (the estimate only when its minute
    // is over).
    std::vector<HistoryRequest> downloads;
    std::vector<std::string> ask;
    std::vector<int> indexDownloads;  // indexes with nothing stored
    if (!offline) {
        OleDate first, last;
        for (int n : indexes)
            if (!m_market.History().GetIndexValueRange(GetIndexCode(n), first, last)) indexDownloads.push_back(n);
        if (local) {
            std::vector<std::string> missing;
            for (const std::string& f : funds)
                if (!m_market.History().GetFundValueRange(f, first, last)) missing.push_back(f);
            if (!missing.empty()) downloads = m_market.History().PlanIncrementalDownloads(missing);
            if (splits) ask = funds;
        } else {
            for (const std::string& f : funds)
                if (dataKind != kCurveEstimate || m_data.EstimateDue(f)) ask.push_back(f);
        }
    }
    auto finish = [this, draw, serial] {
        if (serial != m_serial) return;
        m_pending = nullptr;
        if (m_busyCursor) QApplication::restoreOverrideCursor();
        m_busyCursor = false;
        draw();
        Finish();
    };
    if (downloads.empty() && ask.empty() && indexDownloads.empty()) {
        m_data.SetPrefetch(CurvePrefetch());
        finish();
        return;
    }
    if (!m_busyCursor) QApplication::setOverrideCursor(Qt::BusyCursor);
    m_busyCursor = true;
    const CommandContext ctx = m_doc.MakeCommandContext();
    const std::string splitUrl = splits ? (m_doc.Settings().dataServerUrl.empty() ? m_doc.Settings().serverUrl
                                                                                   : m_doc.Settings().dataServerUrl)
                                        : std::string();
    const CurveParams p = m_data.Params();
    QPointer<CFundCurveView> self(this);
    CNavHistory& history = m_market.History();
    m_pending = m_runner.Run([=, this, &history](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto fetched = std::make_shared<std::vector<HistoryFetch>>(FetchFundHistories(downloads, cancelled));
        auto indexRecords = std::make_shared<std::vector<CIndexValue>>();
        for (int n : indexDownloads) {
            std::vector<CIndexValue> records;
            if (!cancelled && FetchIndexRecords(ctx, n, p.StartDate, p.EndDate, records))
                indexRecords->insert(indexRecords->end(), records.begin(), records.end());
        }
        auto pre = std::make_shared<CurvePrefetch>(FetchCurveData(
            ctx, splitUrl, ask, dataKind, statistic, p.StartDate, p.EndDate, splits, cancelled));
        // Cancelled: nothing of it is stored; the newer draw owns the cursor.
        if (cancelled) return nullptr;
        return [=, this, &history] {
            if (!downloads.empty()) history.StoreFundHistories(downloads, *fetched);
            if (!indexRecords->empty() && self) {
                CAdoTransaction trans(m_doc.GetDatabase());
                bool stored = true;
                for (const CIndexValue& v : *indexRecords) stored = stored && history.SaveIndexValue(v);
                if (stored) trans.Commit();
            }
            if (!self) return;
            m_data.SetPrefetch(*pre);
            finish();
        };
    });
}

void CFundCurveView::ShowPointList()
{
    if (!m_points) m_points = new CCurvePointsDialog(*m_chart, this);
    m_points->Refill();
    m_points->show();
    m_points->raise();
}

void CFundCurveView::Finish()
{
    m_chart->RecalculateLayout();
    if (m_points) m_points->Refill();
    m_chart->setFocus();
    emit curveDrawn();
}

void CFundCurveView::ChooseFunds()
{
    std::vector<std::pair<std::string, std::string>> available;
    for (const auto& [code, info] : m_market.Catalogue().Funds())
        if (!info.CompanyID.empty()) available.emplace_back(code, info.FundName);
    CFundSelectDialog dialog(available, m_doc.Settings().fundIdList, m_prompt,
                             [this](int count) { return m_doc.CheckFundCount(count); }, this);
    if (dialog.exec() == QDialog::Accepted) SetSelectedFunds(dialog.Selected());
}

void CFundCurveView::SetSelectedFunds(const std::vector<std::string>& funds)
{
    m_doc.Settings().fundIdList = funds;
    m_data.Params().SelectedFunds = funds;
}

CFundCurveView* InstallCurveView(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner,
                                 IUserPrompt& prompt, const std::string& iniPath)
{
    auto* view = new CFundCurveView(doc, market, runner, prompt, iniPath, &frame);
    view->SetAccountTree(frame.AccountTree());
    frame.HomeView()->SetPage(103, view);
    for (int id : {cmd::DailyTrend, cmd::GrowthTrend, cmd::DailyOverlay, cmd::WeeklyOverlay, cmd::MonthlyOverlay,
                   cmd::MovingAverage, cmd::RealtimeCurve, cmd::NDayReturn, cmd::RangeOverlay, cmd::BandOverlay})
        frame.SetHandler(id, [view, id] { view->RunCurveCommand(id); });
    // The group button shows the page as it was; the first time, the NAV trend.
    frame.SetHandler(cmd::GroupCurves, [view] {
        if (view->Chart()->Model().Series().empty() && !view->IsLoading()) view->RunCurveCommand(cmd::DailyTrend);
    });
    QObject::connect(&frame, &CMainFrame::refreshRequested, view, [view](int page) {
        if (page == 103) view->Redraw();
    });
    // "导出表格到Excel": the points of the curves drawn.
    SetCurvePointsExport(view, view->Chart(), QStringLiteral("基金曲线"));
    QObject::connect(view, &CFundCurveView::curveDrawn, &frame, &CMainFrame::UpdateCommandStates);
    return view;
}

}  // namespace vextal

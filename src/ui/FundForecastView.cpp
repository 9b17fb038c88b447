#include "ui/FundForecastView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/ProgramDir.h"
#include "estimate/EstimateErrors.h"
#include "estimate/RealtimeEstimates.h"
#include "ui/ExcelExport.h"
#include "ui/MainFrame.h"
#include "ui/WebPane.h"
#include "ui/WebUrls.h"

namespace vextal {

namespace {

const QColor kUp(255, 0, 0);
const QColor kDown(0, 124, 0);

// Red above 0, green below, by the value itself (a gain of 0.004 is a gain).
int SignOf(double v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }
QString Q(const std::string& s) { return QString::fromStdString(s); }

QTableView* MakeList(CForecastModel* model, QWidget* parent)
{
    auto* list = new QTableView(parent);
    list->setModel(model);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(22);
    list->horizontalHeader()->setStretchLastSection(true);
    list->setStyleSheet(QStringLiteral("QTableView { background: white; }"));
    return list;
}

}  // namespace

// --- model -----------------------------------------------------------------

void CForecastModel::SetRows(std::vector<std::vector<Cell>> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CForecastModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CForecastModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_titles.size(); }

QVariant CForecastModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const auto& row = m_rows[static_cast<size_t>(index.row())];
    if (static_cast<size_t>(index.column()) >= row.size()) return {};
    const Cell& c = row[static_cast<size_t>(index.column())];
    switch (role) {
    case Qt::DisplayRole: return c.text;
    case Qt::ForegroundRole: return c.sign > 0 ? kUp : c.sign < 0 ? kDown : QColor(0, 0, 0);
    case Qt::BackgroundRole: return QColor(255, 255, 255);
    case Qt::TextAlignmentRole: return int(Qt::AlignCenter);
    default: return {};
    }
}

QVariant CForecastModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= m_titles.size())
        return {};
    return m_titles[section];
}

// --- view ------------------------------------------------------------------

CFundForecastView::CFundForecastView(CTaskRunner& runner, ForecastViewContext context, QWidget* parent)
    : QWidget(parent), m_runner(runner), m_ctx(std::move(context)), m_arrived(std::make_shared<std::atomic<int>>(0)),
      m_total(std::make_shared<std::atomic<int>>(0)), m_result(std::make_shared<EstimateResult>())
{
    m_fundBox = new QComboBox(this);
    m_fundBox->setMinimumWidth(200);
    m_allFunds = new QCheckBox(QStringLiteral("全部自选基金"), this);
    m_allFunds->setChecked(true);
    m_estimate = new QPushButton(QStringLiteral("估算"), this);
    m_auto = new QCheckBox(QStringLiteral("自动刷新(30秒)"), this);
    m_indexQuotes = new QPushButton(QStringLiteral("大盘指数实时行情"), this);
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("基金:"), this));
    bar->addWidget(m_fundBox);
    bar->addWidget(m_allFunds);
    bar->addWidget(m_estimate);
    bar->addWidget(m_auto);
    bar->addStretch(1);
    bar->addWidget(m_indexQuotes);

    m_fundModel = new CForecastModel({QStringLiteral("序号"), QStringLiteral("基金名称"), QStringLiteral("最新净值"),
                                      QStringLiteral("估算值"), QStringLiteral("公布值"), QStringLiteral("估算误差")},
                                     this);
    m_holdingModel = new CForecastModel({QStringLiteral("序号"), QStringLiteral("证券名称"),
                                         QStringLiteral("持仓比例"), QStringLiteral("涨跌幅"),
                                         QStringLiteral("估算值")},
                                        this);
    m_fundList = MakeList(m_fundModel, this);
    m_holdingList = MakeList(m_holdingModel, this);
    const int fundWidths[] = {40, 180, 80, 80, 120, 80};
    for (int i = 0; i < 6; ++i) m_fundList->setColumnWidth(i, fundWidths[i]);
    const int holdingWidths[] = {40, 180, 80, 80, 80};
    for (int i = 0; i < 5; ++i) m_holdingList->setColumnWidth(i, holdingWidths[i]);
    m_web = new CWebPane(this);

    auto* lists = new QSplitter(Qt::Vertical, this);
    lists->addWidget(m_fundList);
    lists->addWidget(m_holdingList);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(lists);
    split->addWidget(m_web);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    // The lists' size hints alone would take the whole width and fold the page away.
    m_web->setMinimumWidth(280);
    split->setChildrenCollapsible(false);
    split->setSizes({3000, 2000});

    m_progress = new QProgressBar(this);
    m_cancel = new QPushButton(QStringLiteral("取消"), this);
    m_status = new QLabel(this);
    auto* foot = new QHBoxLayout;
    foot->addWidget(m_status, 1);
    foot->addWidget(m_progress);
    foot->addWidget(m_cancel);
    m_progress->hide();
    m_cancel->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(split, 1);
    layout->addLayout(foot);

    m_autoTimer.setObjectName(QString::number(kAutoRefreshTimerId));
    m_autoTimer.setInterval(kAutoRefreshMs);
    connect(&m_autoTimer, &QTimer::timeout, this, [this] { OnTimerTick(kAutoRefreshTimerId); });
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        const int total = m_total->load();
        m_progress->setMaximum(std::max(total, 1));
        m_progress->setValue(m_arrived->load());
        m_status->setText(QStringLiteral("正在取得股票行情 %1/%2").arg(m_arrived->load()).arg(total));
    });

    connect(m_estimate, &QPushButton::clicked, this, [this] { RunEstimate(); });
    connect(m_auto, &QCheckBox::toggled, this, [this](bool on) { SetAutoRefresh(on); });
    connect(m_allFunds, &QCheckBox::toggled, this, [this](bool all) { SetAllFunds(all); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { CancelRun(); });
    connect(m_indexQuotes, &QPushButton::clicked, this, [this] {
        if (m_ctx.showIndexQuotes) m_ctx.showIndexQuotes();
    });
    connect(m_fundList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) SelectFund(current.row());
            });
    ReloadFundBox();
    m_fundBox->setEnabled(false);
}

CFundForecastView::~CFundForecastView()
{
    if (!m_pending) return;
    CTaskRunner::Cancel(m_pending);
    QApplication::restoreOverrideCursor();
}

void CFundForecastView::ReloadFundBox()
{
    const QString current = m_fundBox->currentData().toString();
    m_fundBox->clear();
    if (!m_ctx.selectedFunds) return;
    for (const std::string& code : m_ctx.selectedFunds()) {
        std::string name = m_ctx.fundInfo ? m_ctx.fundInfo(code).Name : std::string();
        m_fundBox->addItem(Q(name.empty() ? code : name + "(" + code + ")"), Q(code));
    }
    int i = m_fundBox->findData(current);
    if (i >= 0) m_fundBox->setCurrentIndex(i);
}

void CFundForecastView::SetAllFunds(bool all)
{
    if (m_allFunds->isChecked() != all) m_allFunds->setChecked(all);
    m_fundBox->setEnabled(!all);
}

std::vector<std::string> CFundForecastView::FundsToEstimate() const
{
    if (m_allFunds->isChecked()) return m_ctx.selectedFunds ? m_ctx.selectedFunds() : std::vector<std::string>{};
    const QString code = m_fundBox->currentData().toString();
    if (code.isEmpty()) return {};
    return {code.toStdString()};
}

bool CFundForecastView::RunEstimate()
{
    if (m_pending) return false;
    std::vector<std::string> funds = FundsToEstimate();
    if (funds.empty()) {
        m_status->setText(QStringLiteral("没有要估算的基金"));
        return false;
    }
    m_arrived->store(0);
    m_total->store(0);
    EstimateSources sources = m_ctx.sources;
    const int waitPerFund = m_ctx.waitPerFundMs;
    auto arrived = m_arrived;
    auto total = m_total;
    QPointer<CFundForecastView> self(this);
    m_pending = m_runner.Run([funds, sources, waitPerFund, arrived, total,
                              self](const std::atomic<bool>& cancelled) -> WorkFinish {
        EstimateOptions options;
        options.waitPerFundMs = waitPerFund;
        options.cancel = &cancelled;
        options.progress = [arrived, total](int a, int t) {
            arrived->store(a);
            total->store(t);
        };
        auto result = std::make_shared<EstimateResult>(vextal::RunEstimate(funds, sources, options));
        result->Fetch.reset();  // the workers' state is theirs alone now
        if (result->Status == EstimateStatus::Cancelled) return nullptr;
        return [self, result] {
            if (self) self->Finish(result);
        };
    });
    m_estimate->setEnabled(false);
    m_progress->setValue(0);
    m_progress->show();
    m_cancel->show();
    m_status->setText(QStringLiteral("正在取得基金持仓…"));
    m_progressTimer.start();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    return true;
}

void CFundForecastView::EndRun()
{
    if (!m_pending) return;
    m_pending = nullptr;
    m_progressTimer.stop();
    m_progress->hide();
    m_cancel->hide();
    m_estimate->setEnabled(true);
    QApplication::restoreOverrideCursor();
}

void CFundForecastView::CancelRun()
{
    if (!m_pending) return;
    CTaskRunner::Cancel(m_pending);
    EndRun();
    m_status->setText(QStringLiteral("估算已取消"));
    emit estimateFinished(static_cast<int>(EstimateStatus::Cancelled));
}

void CFundForecastView::Finish(std::shared_ptr<EstimateResult> result)
{
    EndRun();
    switch (result->Status) {
    case EstimateStatus::Done: break;
    case EstimateStatus::CalcFailed: m_status->setText(QStringLiteral("估算失败：无法取得估算结果")); break;
    case EstimateStatus::NoStock: m_status->setText(QStringLiteral("没有取得基金的股票持仓")); break;
    default: break;
    }
    if (result->Status != EstimateStatus::Done) {
        emit estimateFinished(static_cast<int>(result->Status));
        return;
    }
    m_result = std::move(result);
    // Funds whose NAV of the quotes' day is out: the error enters the history.
    const OleDate day = EstimateDay(*m_result);
    std::vector<EstimateOutcome> outcomes;
    if (m_ctx.realtime) m_ctx.realtime->Clear();
    for (const auto& [fund, estimate] : m_result->Calibrated) {
        ForecastFundInfo info = m_ctx.fundInfo ? m_ctx.fundInfo(fund) : ForecastFundInfo{};
        const bool published = info.HasNav && day.IsValid() && info.NavDate.IsValid() && info.NavDate.DateOnly() == day;
        if (published) outcomes.push_back({fund, day, estimate, info.NavGrowth});
        else if (m_ctx.realtime && info.HasNav && day.IsValid()) m_ctx.realtime->Set(fund, day, estimate, info.LatestNav);
    }
    if (m_ctx.errors && !m_ctx.errors->Record(outcomes))
        m_status->setText(QStringLiteral("估算误差未能保存"));
    else
        m_status->setText(QStringLiteral("估算完成（行情日期 %1，估算时间 %2）")
                              .arg(Q(day.IsValid() ? day.Format(1) : "-"), Q(Clock::Now().Format(5))));
    ShowFundRows();
    emit estimateFinished(static_cast<int>(EstimateStatus::Done));
}

void CFundForecastView::ShowFundRows()
{
    auto info = [this](const std::string& fund) {
        ForecastFundInfo f = m_ctx.fundInfo ? m_ctx.fundInfo(fund) : ForecastFundInfo{};
        if (m_ctx.errors) f.MeanError = m_ctx.errors->MeanAbsError(fund);
        return f;
    };
    m_fundRows = FundRows(*m_result, info);
    std::vector<std::vector<CForecastModel::Cell>> rows;
    for (const ForecastFundRow& r : m_fundRows) {
        rows.push_back({{Q(r.No)},
                        {Q(r.Name)},
                        {Q(r.LatestNav)},
                        {Q(r.Estimate), r.HasEstimate ? SignOf(r.EstimateValue) : 0},
                        {Q(r.PublishedText), r.Published ? SignOf(r.PublishedGrowth) : 0},
                        {Q(r.Error)}});
    }
    QString selected;
    if (QModelIndex i = m_fundList->currentIndex(); i.isValid() && static_cast<size_t>(i.row()) < m_fundRows.size())
        selected = Q(m_fundRows[static_cast<size_t>(i.row())].FundID);
    m_fundModel->SetRows(std::move(rows));
    int row = 0;
    for (size_t i = 0; i < m_fundRows.size(); ++i)
        if (Q(m_fundRows[i].FundID) == selected) row = static_cast<int>(i);
    if (!m_fundRows.empty()) m_fundList->setCurrentIndex(m_fundModel->index(row, 0));
    else m_holdingModel->SetRows({});
}

void CFundForecastView::SelectFund(int row)
{
    if (row < 0 || static_cast<size_t>(row) >= m_fundRows.size()) return;
    const std::string& fund = m_fundRows[static_cast<size_t>(row)].FundID;
    ShowHoldings(fund);
    m_web->Load(Q(RealtimeCalcUrl(m_ctx.webSiteBase, fund)));
}

void CFundForecastView::ShowHoldings(const std::string& fundId)
{
    std::vector<std::vector<CForecastModel::Cell>> rows;
    for (const ForecastHoldingRow& r : HoldingRows(*m_result, fundId)) {
        rows.push_back({{Q(r.No)},
                        {Q(r.Name)},
                        {Q(r.Percent)},
                        {Q(r.Change), r.Total ? 0 : SignOf(r.ChangeValue)},
                        {Q(r.Contribution), SignOf(r.ContributionValue)}});
    }
    m_holdingModel->SetRows(std::move(rows));
}

void CFundForecastView::SetAutoRefresh(bool on)
{
    if (m_auto->isChecked() != on) m_auto->setChecked(on);
    if (on) m_autoTimer.start();  // a restart when it runs already
    else m_autoTimer.stop();
}

void CFundForecastView::OnTimerTick(int timerId)
{
    // A hidden page does not estimate: the next tick after it is shown does.
    if (timerId != kAutoRefreshTimerId || !isVisible()) return;
    RunEstimate();
}

QString CFundForecastView::StatusText() const { return m_status->text(); }

void CFundForecastView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    ReloadFundBox();
    if (!m_ctx.indexPage.isEmpty()) m_web->Load(m_ctx.indexPage);
}

// --- installation ----------------------------------------------------------

namespace {

// The error history and the real-time values live with the view. The
// document's bookkeeping keeps a pointer to the latter: the frame, and so
// this view, goes only after the document at shutdown.
struct ForecastOwned : QObject {
    std::unique_ptr<CEstimateErrors> errors;
    std::unique_ptr<CRealtimeEstimates> realtime = std::make_unique<CRealtimeEstimates>();
};

}  // namespace

CFundForecastView* InstallFundForecastView(CMainFrame& frame, CVextalDoc& doc, CMarketData& market,
                                           CTaskRunner& runner)
{
    auto* owned = new ForecastOwned;
    if (doc.IsDatabaseOpen()) owned->errors = std::make_unique<CEstimateErrors>(doc.GetDatabase());
    ForecastViewContext ctx;
    const CSettings& settings = doc.Settings();
    ctx.selectedFunds = [&settings] { return settings.fundIdList; };
    ctx.fundInfo = [&market](const std::string& fund) {
        ForecastFundInfo f;
        if (const CFundInfo* info = market.Catalogue().FindFund(fund)) f.Name = info->FundName;
        if (const CNewFundValue* v = market.Latest().FindValue(fund)) {
            f.HasNav = true;
            f.LatestNav = v->TodayValue;
            f.NavDate = v->ValueDate;
            f.NavGrowth = v->VarPercent;
        }
        return f;
    };
    // The quote site is a configuration value; here it is the data service's host.
    auto cache = std::make_shared<CFundInvestCache>();
    ctx.sources = ServiceSources(cache, settings.dataServerUrl, settings.dataServerUrl);
    // The site's pages are the service's, as for the web page view: the server URL.
    ctx.webSiteBase = settings.serverUrl;
    ctx.indexPage = QString::fromStdString(ProgramPath("Html/stockindex.htm"));
    ctx.errors = owned->errors.get();
    ctx.realtime = owned->realtime.get();
    // Posted: the page changes after the click has been handled.
    ctx.showIndexQuotes = [&frame] {
        QMetaObject::invokeMethod(&frame, [&frame] { frame.RunCommand(cmd::IndexQuotes); }, Qt::QueuedConnection);
    };
    auto* view = new CFundForecastView(runner, std::move(ctx), &frame);
    owned->setParent(view);
    doc.Accounts().SetRealtimeEstimates(owned->realtime.get());
    frame.HomeView()->SetPage(112, view);
    // "导出表格到Excel": the stocks of the chosen fund when that list has the focus, else the funds.
    SetExportSource(view, [view] {
        ExportSource source;
        QTableView* stocks = view->HoldingList();
        const bool onStocks = stocks->hasFocus() || stocks->isAncestorOf(QApplication::focusWidget());
        source.table = onStocks ? stocks : view->FundList();
        source.kind = onStocks ? kExportEstimateStocks : kExportEstimates;
        source.sheetName = onStocks ? QStringLiteral("估算持仓明细") : QStringLiteral("基金净值估算");
        return source;
    });
    // "刷新" on this page estimates again.
    QObject::connect(&frame, &CMainFrame::refreshRequested, view, [view](int page) {
        if (page == 112) view->RunEstimate();
    });
    return view;
}

void SaveForecastScreenshot(CMainFrame& frame, const QString& dir, std::function<void(bool ok)> done)
{
    auto* view = qobject_cast<CFundForecastView*>(frame.HomeView()->Page(112));
    if (!view) {
        done(true);
        return;
    }
    frame.RunCommand(cmd::Estimate);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(view, &CFundForecastView::estimateFinished, view, [&frame, view, dir, done, connection] {
        QObject::disconnect(*connection);
        auto save = [&frame, dir, done] { done(frame.grab().save(QDir(dir).filePath(QStringLiteral("estimate.png")))); };
        if (!view->Pane()->UsesWebEngine()) {
            save();
            return;
        }
        // The chosen fund's estimate page is loading: the picture once it is shown.
        auto taken = std::make_shared<bool>(false);
        auto once = [taken, save] {
            if (*taken) return;
            *taken = true;
            QTimer::singleShot(600, save);
        };
        QObject::connect(view->Pane(), &CWebPane::loaded, view, once, Qt::SingleShotConnection);
        QTimer::singleShot(15000, view, once);
    });
    if (!view->RunEstimate() && !view->IsRunning()) {
        QObject::disconnect(*connection);
        done(frame.grab().save(QDir(dir).filePath(QStringLiteral("estimate.png"))));
    }
}

}  // namespace vextal

#include "ui/FundForecastView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "app/MarketData.h"
#include "app/ProgramState.h"
#include "app/VextalDoc.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/ProgramDir.h"
#include "estimate/EstimateErrors.h"
#include "estimate/RealtimeEstimates.h"
#include "ui/ExcelExport.h"
#include "ui/ListView.h"
#include "ui/MainFrame.h"
#include "ui/WebPane.h"
#include "ui/WebUrls.h"

namespace vextal {

namespace {

// Red above 0, green below, by the value itself (a gain of 0.004 is a gain).
int SignOf(double v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }
// In the shades of the program's other lists, which follow the palette.
QColor SignShade(double v)
{
    return SignQColor(v > 0 ? SignColour::Red : v < 0 ? SignColour::Green : SignColour::Black);
}
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
    case Qt::ForegroundRole: return SignShade(c.sign);
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

// --- error curve -------------------------------------------------------------

CErrorCurve::CErrorCurve(QWidget* parent) : QWidget(parent)
{
    setMinimumHeight(110);
    setAutoFillBackground(false);
}

void CErrorCurve::SetOutcomes(const QString& fundName, std::vector<EstimateOutcome> outcomes)
{
    m_fund = fundName;
    m_outcomes = std::move(outcomes);
    update();
}

void CErrorCurve::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    p.setPen(QColor(160, 160, 160));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QFontMetrics fm = p.fontMetrics();
    const int line = fm.height();
    QString title = QStringLiteral("估算误差（近%1个交易日）").arg(kEstimateErrorDays);
    if (!m_fund.isEmpty()) title = m_fund + QStringLiteral(" ") + title;
    std::vector<double> errors;
    for (const EstimateOutcome& o : m_outcomes) errors.push_back(o.Estimate - o.Published);
    if (!errors.empty())
        title += QStringLiteral("：平均 %1%，%2天").arg(Q(FormatNumber("%0.2f", Round2(MeanAbs(errors))))).arg(errors.size());
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRect(8, 4, width() - 16, line), Qt::AlignLeft | Qt::AlignVCenter, title);
    if (errors.empty()) {
        p.setPen(HintQColor());
        p.drawText(rect().adjusted(8, line + 4, -8, -4), Qt::AlignCenter,
                   QStringLiteral("暂无记录：交易日15:00前的估算在当天净值公布后比较"));
        return;
    }
    const double scale = ErrorScale(errors);
    const QString top = Q(FormatNumber("+%0.2f%%", scale)), bottom = Q(FormatNumber("-%0.2f%%", scale));
    const int labelWidth = std::max(fm.horizontalAdvance(top), fm.horizontalAdvance(bottom)) + 6;
    const QRect plot(8 + labelWidth, line + 10, width() - 24 - labelWidth, height() - 2 * line - 20);
    if (plot.width() < 20 || plot.height() < 20) return;
    p.setPen(HintQColor());
    p.drawText(QRect(4, plot.top() - line / 2, labelWidth, line), Qt::AlignRight | Qt::AlignVCenter, top);
    p.drawText(QRect(4, plot.bottom() - line / 2, labelWidth, line), Qt::AlignRight | Qt::AlignVCenter, bottom);
    p.drawText(QRect(4, plot.center().y() - line / 2, labelWidth, line), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("0"));
    auto yOf = [&plot, scale](double v) {
        return plot.center().y() - static_cast<int>(std::lround(v / scale * plot.height() / 2.0));
    };
    const size_t n = errors.size();
    auto xOf = [&plot, n](size_t i) {
        return n == 1 ? plot.center().x()
                      : plot.left() + static_cast<int>(std::lround(double(i) * plot.width() / double(n - 1)));
    };
    p.setPen(QPen(QColor(180, 180, 180), 1, Qt::DashLine));
    p.drawLine(plot.left(), yOf(0), plot.right(), yOf(0));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(IsDarkPalette() ? QColor(90, 150, 230) : QColor(40, 90, 170), 1.5));
    for (size_t i = 1; i < n; ++i) p.drawLine(xOf(i - 1), yOf(errors[i - 1]), xOf(i), yOf(errors[i]));
    for (size_t i = 0; i < n; ++i) {
        const QColor c = SignShade(errors[i]);
        p.setPen(c);
        p.setBrush(c);
        p.drawEllipse(QPoint(xOf(i), yOf(errors[i])), 3, 3);
    }
    p.setPen(HintQColor());
    const QRect dates(plot.left(), plot.bottom() + 4, plot.width(), line);
    p.drawText(dates, Qt::AlignLeft | Qt::AlignVCenter, Q(m_outcomes.front().Day.FormatWith("%m-%d")));
    if (n > 1) p.drawText(dates, Qt::AlignRight | Qt::AlignVCenter, Q(m_outcomes.back().Day.FormatWith("%m-%d")));
}

// --- view ------------------------------------------------------------------

CFundForecastView::CFundForecastView(CTaskRunner& runner, ForecastViewContext context, QWidget* parent)
    : QWidget(parent), m_runner(runner), m_ctx(std::move(context)), m_progressState(std::make_shared<Progress>()),
      m_result(std::make_shared<EstimateResult>())
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
                                      QStringLiteral("估算值"), QStringLiteral("行情"), QStringLiteral("公布值"),
                                      QStringLiteral("估算误差")},
                                     this);
    m_holdingModel = new CForecastModel({QStringLiteral("序号"), QStringLiteral("证券名称"),
                                         QStringLiteral("持仓比例"), QStringLiteral("涨跌幅"),
                                         QStringLiteral("估算值")},
                                        this);
    m_fundList = MakeList(m_fundModel, this);
    m_holdingList = MakeList(m_holdingModel, this);
    const int fundWidths[] = {36, 150, 64, 64, 48, 104, 64};
    for (int i = 0; i < 7; ++i) m_fundList->setColumnWidth(i, fundWidths[i]);
    const int holdingWidths[] = {40, 180, 80, 80, 80};
    for (int i = 0; i < 5; ++i) m_holdingList->setColumnWidth(i, holdingWidths[i]);
    m_web = new CWebPane(this);
    m_curve = new CErrorCurve(this);

    auto* lists = new QSplitter(Qt::Vertical, this);
    lists->addWidget(m_fundList);
    lists->addWidget(m_holdingList);
    lists->addWidget(m_curve);
    lists->setStretchFactor(0, 3);
    lists->setStretchFactor(1, 3);
    lists->setStretchFactor(2, 1);
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
        const auto phase = static_cast<EstimatePhase>(m_progressState->phase.load());
        const int done = m_progressState->done.load(), total = m_progressState->total.load();
        // The one-request phases have no count: the bar just shows it is busy.
        m_progress->setMaximum(total);
        m_progress->setValue(done);
        m_status->setText(Q(PhaseText(phase, done, total)));
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
    auto progress = std::make_shared<Progress>();
    progress->phase = static_cast<int>(EstimatePhase::Holdings);
    progress->total = static_cast<int>(funds.size());
    m_progressState = progress;
    EstimateSources sources = m_ctx.sources;
    const int waitPerFund = m_ctx.waitPerFundMs;
    ForecastFetch latest = m_ctx.latestValues ? m_ctx.latestValues(funds) : nullptr;
    QPointer<CFundForecastView> self(this);
    // Aside: a download the user starts meanwhile does not wait for the quotes.
    m_pending = m_runner.RunAside([funds, sources, waitPerFund, progress, latest,
                                   self](const std::atomic<bool>& cancelled) -> WorkFinish {
        EstimateOptions options;
        options.waitPerFundMs = waitPerFund;
        options.cancel = &cancelled;
        options.progress = [progress](EstimatePhase phase, int done, int total) {
            progress->total = total;
            progress->done = done;
            progress->phase = static_cast<int>(phase);
        };
        auto result = std::make_shared<EstimateResult>(vextal::RunEstimate(funds, sources, options));
        result->Fetch.reset();  // the workers' state is theirs alone now
        if (result->Status == EstimateStatus::Cancelled || cancelled) return nullptr;
        // What the page shows beside the estimate, asked for these funds themselves.
        ForecastStore store;
        if (latest) {
            options.progress(EstimatePhase::LatestValues, 0, 0);
            store = latest();
        }
        if (cancelled) return nullptr;
        return [self, result, store] {
            if (store) store();
            if (self) self->Finish(result);
        };
    });
    m_estimate->setEnabled(false);
    m_progress->setMaximum(static_cast<int>(funds.size()));
    m_progress->setValue(0);
    m_progress->show();
    m_cancel->show();
    m_status->setText(Q(PhaseText(EstimatePhase::Holdings, 0, static_cast<int>(funds.size()))));
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
    const OleDate now = Clock::Now();
    const EstimateStatus status = result->Status;
    m_status->setText(Q(RunSummary(*result, now)));
    // A failed calibration or no holdings at all leave the lists as they were.
    if (status == EstimateStatus::Done || status == EstimateStatus::NoQuote) {
        m_result = std::move(result);
        const OleDate day = EstimateDay(*m_result);
        if (m_ctx.realtime) m_ctx.realtime->Clear();
        for (const auto& [fund, estimate] : m_result->Calibrated) {
            ForecastFundInfo info = m_ctx.fundInfo ? m_ctx.fundInfo(fund) : ForecastFundInfo{};
            const bool published = info.HasNav && day.IsValid() && info.NavDate.IsValid() && info.NavDate.DateOnly() == day;
            if (!published && m_ctx.realtime && info.HasNav && day.IsValid())
                m_ctx.realtime->Set(fund, day, estimate, info.LatestNav);
        }
        if (m_ctx.errors && !m_ctx.errors->RecordRun(m_result->Calibrated, day, now))
            m_status->setText(m_status->text() + QStringLiteral("；估算记录未能保存"));
        CompareWithLatest();
        ShowFundRows();
    }
    emit estimateFinished(static_cast<int>(status));
}

void CFundForecastView::CompareWithLatest()
{
    if (!m_ctx.errors || !m_ctx.fundInfo) return;
    std::vector<CFundValue> published;
    for (const std::string& fund : m_result->Plan.Funds) {
        ForecastFundInfo info = m_ctx.fundInfo(fund);
        if (!info.HasNav || !info.NavDate.IsValid()) continue;
        CFundValue v;
        v.FundID = fund;
        v.ValueDate = info.NavDate.DateOnly();
        v.VarPercent = info.NavGrowth;
        published.push_back(v);
    }
    m_ctx.errors->Compare(published);
}

void CFundForecastView::CompareWaitingEstimates()
{
    if (!m_ctx.errors || !m_ctx.publishedValues) return;
    const OleDate now = Clock::Now();
    const std::map<std::string, OleDate> waiting = m_ctx.errors->Waiting(now);
    if (waiting.empty()) return;
    PublishedSource source = m_ctx.publishedValues();
    if (!source) return;
    QPointer<CFundForecastView> self(this);
    m_runner.Run([waiting, source, today = now.DateOnly(), self](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto records = std::make_shared<std::vector<CFundValue>>();
        for (const auto& [fund, from] : waiting) {
            if (cancelled) return nullptr;
            std::vector<CFundValue> days;
            if (source(fund, from, today, days)) records->insert(records->end(), days.begin(), days.end());
        }
        if (cancelled) return nullptr;
        return [self, records] {
            if (!self || self->m_ctx.errors->Compare(*records) <= 0) return;
            self->ShowFundRows();
        };
    });
}

void CFundForecastView::ShowFundRows()
{
    const OleDate now = Clock::Now();
    auto info = [this, now](const std::string& fund) {
        ForecastFundInfo f = m_ctx.fundInfo ? m_ctx.fundInfo(fund) : ForecastFundInfo{};
        if (m_ctx.errors) f.MeanError = m_ctx.errors->MeanAbsError(fund, now);
        return f;
    };
    m_fundRows = FundRows(*m_result, info);
    std::vector<std::vector<CForecastModel::Cell>> rows;
    for (const ForecastFundRow& r : m_fundRows) {
        rows.push_back({{Q(r.No)},
                        {Q(r.Name)},
                        {Q(r.LatestNav)},
                        {Q(r.Estimate), r.HasEstimate ? SignOf(r.EstimateValue) : 0},
                        {Q(r.Quotes)},
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
    if (!m_fundRows.empty()) {
        m_fundList->setCurrentIndex(m_fundModel->index(row, 0));
        ShowErrorCurve(m_fundRows[static_cast<size_t>(row)].FundID);  // also when the row stayed the same
    } else {
        m_holdingModel->SetRows({});
    }
}

void CFundForecastView::SelectFund(int row)
{
    if (row < 0 || static_cast<size_t>(row) >= m_fundRows.size()) return;
    const std::string& fund = m_fundRows[static_cast<size_t>(row)].FundID;
    ShowHoldings(fund);
    ShowErrorCurve(fund);
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

void CFundForecastView::ShowErrorCurve(const std::string& fundId)
{
    std::vector<EstimateOutcome> outcomes;
    if (m_ctx.errors) outcomes = m_ctx.errors->RecentOutcomes(fundId, Clock::Now());
    std::string name = m_ctx.fundInfo ? m_ctx.fundInfo(fundId).Name : std::string();
    m_curve->SetOutcomes(Q(name.empty() ? fundId : name), std::move(outcomes));
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
    // The funds' latest values (2/5): the list shows their NAV and, once the
    // day's is out, its growth beside the estimate.
    ctx.latestValues = [&market](const std::vector<std::string>& funds) -> ForecastFetch {
        market.SyncSession();
        auto request = std::make_shared<ValuesRequest>();
        if (market.Latest().PlanSelectedValues(funds, *request) != kMarketOk || !request->send) return nullptr;
        return [&market, request]() -> ForecastStore {
            auto fetched = std::make_shared<ValuesFetch>(FetchValues(*request));
            return [&market, request, fetched] { market.Latest().StoreValues(*request, *fetched); };
        };
    };
    ctx.publishedValues = [&doc]() -> PublishedSource {
        if (doc.User().OfflineFlag != 0 || IsProgramOffline()) return nullptr;
        const CommandContext command = doc.MakeCommandContext("GetFundValueHistory");
        return [command](const std::string& fund, const OleDate& from, const OleDate& to, std::vector<CFundValue>& records) {
            HistoryFetch fetched = FetchFundHistory({fund, from, to, 0, command});
            records = std::move(fetched.records);
            return fetched.result == kMarketOk;
        };
    };
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

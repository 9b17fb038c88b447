#include "ui/LookThroughViews.h"

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <set>

#include "app/MarketData.h"
#include "app/Settings.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "curve/CurveData.h"
#include "ui/CurveChart.h"
#include "ui/ExcelExport.h"
#include "ui/OptionsDialog.h"
#include "ui/ListView.h"

namespace vextal {

namespace {

constexpr const char* kExposureDefault = "10|11|12|13|14|15|16";
constexpr double kDefaultOverlapWarning = 30;
constexpr const char* kOtherIndustries = "其他行业";

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Percent(double v) { return Q(FormatNumber("%0.2f", v)) + "%"; }
QDate ToDate(const OleDate& d) { return QDate(d.Year(), d.Month(), d.Day()); }
OleDate FromDate(const QDate& d) { return OleDate::FromParts(d.year(), d.month(), d.day()); }

// The short name and the code: the lists name several funds in one cell.
QString FundLabel(const BookContext& ctx, const std::string& code)
{
    const CFundInfo* info = ctx.market.Catalogue().FindFund(code);
    const QString name = info && !info->FundShortName.empty() ? Q(info->FundShortName) : ctx.FundName(code);
    return name == Q(code) ? name : name + "(" + Q(code) + ")";
}

// The trades of one account (0: every account), each account's read first when not yet cached.
std::map<int, TradeInfo> AccountTrades(const BookContext& ctx, int accountId)
{
    CAccountManager& manager = ctx.Accounts();
    std::vector<int> ids;
    for (const auto& [id, a] : manager.Accounts())
        if (accountId == 0 || id == accountId) ids.push_back(id);
    std::map<int, TradeInfo> trades;
    for (int id : ids) {
        AccountInfo* a = manager.FindAccount(id);
        if (a && a->trades.empty() && !a->holdings.empty()) manager.RefreshAccount(id);
        if ((a = manager.FindAccount(id))) trades.insert(a->trades.begin(), a->trades.end());
    }
    return trades;
}

}  // namespace

const ConfigurableList& ExposureListConfig()
{
    static const ConfigurableList c{kExposureCatalogue, "ExposureItem", "ExposureList", kExposureDefault};
    return c;
}

double ReadOverlapWarning(const std::string& iniPath)
{
    const std::optional<double> v = ParseNumber(ReadShowString("OverlapWarn", "", kIniNoLimit, iniPath));
    return v && *v >= 0 && *v <= 100 ? *v : kDefaultOverlapWarning;
}

bool WriteOverlapWarning(double percent, const std::string& iniPath)
{
    return WriteShowString("OverlapWarn", FormatFixed(std::clamp(percent, 0.0, 100.0), 1), iniPath);
}

QString AccountCaption(const BookContext& ctx, int accountId)
{
    if (const AccountInfo* a = ctx.Accounts().FindAccount(accountId)) return QStringLiteral("帐户 ") + Q(a->AccountName);
    return QStringLiteral("全部帐户");
}

// ---- holdings from the data service ----------------------------------------------

CFundHoldingsSource::CFundHoldingsSource(const BookContext& ctx)
    : m_ctx(ctx), m_cache(std::make_shared<CFundInvestCache>())
{
}

CTaskRunner::CancelFlag CFundHoldingsSource::Fetch(const std::vector<std::string>& funds,
                                                   std::function<void(const Result&)> done)
{
    Result known;
    std::vector<std::string> missing;
    for (const std::string& f : funds) {
        std::vector<CFundInvestItem> items;
        if (m_ctx.market.Catalogue().IsMoneyMarketFund(f)) known.holdings[f];
        else if (m_cache->Find(f, items)) known.holdings[f] = std::move(items);
        else missing.push_back(f);
    }
    const CSettings& s = m_ctx.doc.Settings();
    const std::string url = s.dataServerUrl.empty() ? s.serverUrl : s.dataServerUrl;
    if (missing.empty() || m_ctx.doc.User().OfflineFlag != 0) {
        known.failed = missing;
        done(known);
        return nullptr;
    }
    auto cache = m_cache;
    return m_ctx.runner.Run([cache, url, missing, known, done](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto got = std::make_shared<Result>(known);
        for (const std::string& f : missing) {
            if (cancelled) return nullptr;
            std::vector<CFundInvestItem> items;
            if (GetNewFundInvestInfo(*cache, url, f, true, items)) got->holdings[f] = std::move(items);
            else got->failed.push_back(f);
        }
        return [got, done] { done(*got); };
    });
}

std::vector<LookThroughFund> HeldFunds(const BookContext& ctx, int accountId, const CFundHoldingsSource::Result* got)
{
    std::vector<LookThroughFund> funds;
    for (const auto& [id, a] : ctx.Accounts().Accounts()) {
        if (accountId != 0 && id != accountId) continue;
        for (const FundTradeInfo& h : a->holdings) {
            if (h.TotalCount <= 0) continue;
            LookThroughFund f;
            f.FundID = h.FundID;
            f.FundClass = ctx.market.Catalogue().GetFundClass(h.FundID);
            f.MarketValue = h.figures.MarketValue;
            if (got)
                if (auto it = got->holdings.find(h.FundID); it != got->holdings.end())
                    for (const CFundInvestItem& item : it->second)
                        f.Stocks.push_back({item.StockID, item.StockName, item.Industry, item.InvestPercent});
            funds.push_back(std::move(f));
        }
    }
    return funds;
}

std::vector<std::string> FundCodes(const std::vector<LookThroughFund>& funds)
{
    std::vector<std::string> codes;
    std::set<std::string> seen;
    for (const LookThroughFund& f : funds)
        if (seen.insert(f.FundID).second) codes.push_back(f.FundID);
    return codes;
}

// ---- industry picture -----------------------------------------------------------

CIndustryChart::CIndustryChart(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(280, 240);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void CIndustryChart::SetIndustries(const std::vector<IndustryExposure>& industries, bool thousands)
{
    constexpr size_t kShown = 8;
    m_thousands = thousands;
    m_bars.clear();
    IndustryExposure rest{kOtherIndustries, 0, 0};
    for (const IndustryExposure& i : industries) {
        if (i.Industry == kUndisclosedName) continue;
        if (m_bars.size() < kShown) m_bars.push_back(i);
        else rest.Amount += i.Amount, rest.Share += i.Share;
    }
    if (rest.Amount > 0) m_bars.push_back(rest);
    for (const IndustryExposure& i : industries)
        if (i.Industry == kUndisclosedName) m_bars.push_back(i);
    update();
}

void CIndustryChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics fm(font());
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(Qt::black);
    p.drawText(QRect(8, 6, width() - 16, fm.height() + 4), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("行业分布(穿透后)"));
    p.setFont(font());
    if (m_bars.empty()) {
        p.setPen(QColor(128, 128, 128));
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("没有持有的基金"));
        return;
    }
    static const QColor kColours[] = {{217, 83, 79}, {240, 173, 78}, {91, 192, 222}, {92, 184, 92},
                                      {66, 139, 202}, {153, 102, 204}, {204, 121, 167}, {0, 158, 115}};
    // The two lumps of the rest in greys.
    auto colour = [](const IndustryExposure& b, size_t i) {
        if (b.Industry == kUndisclosedName) return QColor(190, 190, 190);
        if (b.Industry == kOtherIndustries) return QColor(130, 130, 130);
        return kColours[i % std::size(kColours)];
    };
    // The pie above, its legend below: one line per slice with amount and share.
    const int lineHeight = fm.height() + 6;
    const int legendHeight = lineHeight * static_cast<int>(m_bars.size());
    const int top = fm.height() + 16;
    const int side = std::max(60, std::min(width() - 24, height() - top - legendHeight - 16));
    const QRectF pie((width() - side) / 2.0, top, side, side);
    double total = 0;
    for (const IndustryExposure& b : m_bars) total += b.Amount;
    int angle = 90 * 16;  // from twelve o'clock, clockwise
    p.setPen(QPen(Qt::white, 1));
    for (size_t i = 0; i < m_bars.size(); ++i) {
        const int span = total > 0 ? -static_cast<int>(std::lround(m_bars[i].Amount / total * 360 * 16)) : 0;
        p.setBrush(colour(m_bars[i], i));
        p.drawPie(pie, angle, span);
        angle += span;
    }
    p.setBrush(Qt::NoBrush);
    int y = static_cast<int>(pie.bottom()) + 12;
    const int box = fm.height() - 4;
    for (size_t i = 0; i < m_bars.size(); ++i, y += lineHeight) {
        const IndustryExposure& b = m_bars[i];
        p.fillRect(QRect(12, y + (lineHeight - box) / 2, box, box), colour(b, i));
        p.setPen(Qt::black);
        const QRect line(12 + box + 6, y, width() - box - 30, lineHeight);
        p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, Q(b.Industry));
        p.drawText(line, Qt::AlignRight | Qt::AlignVCenter,
                   BookNumber(b.Amount, m_thousands) + QStringLiteral("元  ") + Percent(b.Share));
    }
}

// ---- exposure --------------------------------------------------------------------

CExposureView::CExposureView(const BookContext& ctx, CFundHoldingsSource& holdings, QWidget* parent)
    : CBookListPage(parent), m_ctx(ctx), m_holdings(holdings), m_note(new QLabel(this)),
      m_industries(new CIndustryChart(this))
{
    setObjectName(QStringLiteral("exposureView"));
    auto* box = static_cast<QVBoxLayout*>(layout());
    box->removeWidget(m_list);
    m_note->setContentsMargins(6, 0, 6, 2);
    m_note->setWordWrap(true);
    box->addWidget(m_note);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(m_list);
    split->addWidget(m_industries);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    box->addWidget(split, 1);
    m_list->BuildColumns(ExposureListConfig(), true, m_ctx.ListItemSize(), m_ctx.iniPath);
    SetTitle(QStringLiteral("持仓穿透分析"));
}

CExposureView::~CExposureView()
{
    CTaskRunner::Cancel(m_pending);
    m_list->SaveColumnWidths(ExposureListConfig().listName, m_ctx.iniPath);
}

void CExposureView::RebuildColumns()
{
    m_list->BuildColumns(ExposureListConfig(), true, m_ctx.ListItemSize(), m_ctx.iniPath);
    m_list->Model()->SetSource(static_cast<int>(m_result.Stocks.size()), [this](int row, int id) { return Cell(row, id); });
}

void CExposureView::Refresh(int accountId)
{
    m_accountId = accountId;
    SetTitle(AccountCaption(m_ctx, accountId) + QStringLiteral(" 持仓穿透分析"));
    CTaskRunner::Cancel(m_pending);
    m_pending = nullptr;
    const int serial = ++m_serial;
    const std::vector<std::string> codes = FundCodes(HeldFunds(m_ctx, accountId));
    QPointer<CExposureView> self(this);
    auto pending = m_holdings.Fetch(codes, [self, serial](const CFundHoldingsSource::Result& got) {
        if (!self || serial != self->m_serial) return;
        self->m_pending = nullptr;
        self->Show(got);
    });
    // Asked on the worker: the list says so until the answers are in.
    if (pending) {
        m_pending = pending;
        m_note->setText(QStringLiteral("正在取得基金的股票持仓…"));
    }
}

void CExposureView::Show(const CFundHoldingsSource::Result& got)
{
    m_result = ComputeLookThrough(HeldFunds(m_ctx, m_accountId, &got));
    double disclosed = 0;
    for (const StockExposure& s : m_result.Stocks)
        if (!s.Undisclosed()) disclosed += s.Share;
    QString note = QStringLiteral("基金市值合计 %1 元，其中 %2 穿透到基金披露的股票(各基金最近一季的前十大持仓)，其余计入“其他/未披露”。")
                       .arg(BookNumber(m_result.MarketValue, m_ctx.ShowThousand()), Percent(disclosed));
    if (!got.failed.empty()) {
        QStringList names;
        for (const std::string& f : got.failed) names << FundLabel(m_ctx, f);
        note += QStringLiteral(" 未能取得持仓的基金(全部计入其他/未披露): ") + names.join(QStringLiteral("、"));
    }
    m_note->setText(note);
    m_industries->SetIndustries(m_result.Industries, m_ctx.ShowThousand());
    m_list->Model()->SetSource(static_cast<int>(m_result.Stocks.size()), [this](int row, int id) { return Cell(row, id); });
    emit loaded();
}

QString CExposureView::Note() const { return m_note->text(); }

ListCell CExposureView::Cell(int row, int columnId) const
{
    if (row < 0 || row >= static_cast<int>(m_result.Stocks.size())) return {};
    const StockExposure& s = m_result.Stocks[static_cast<size_t>(row)];
    switch (columnId) {
    case 10: return {QString::number(row + 1), row + 1};
    case 11: return {Q(s.StockID), {}};
    case 12: return {Q(s.StockName), {}};
    case 13: return {Q(s.Industry), {}};
    case 14: return {BookNumber(s.Amount, m_ctx.ShowThousand()), s.Amount};
    case 15: return {Percent(s.Share), s.Share};
    case 16: {
        QStringList names;
        for (const std::string& f : s.Funds) names << FundLabel(m_ctx, f);
        return {names.join(QStringLiteral("、")), {}};
    }
    case 17: return {QString::number(s.Funds.size()), static_cast<int>(s.Funds.size())};
    default: return {};
    }
}

// ---- overlap ---------------------------------------------------------------------

namespace {

const std::vector<ColumnSpec>& OverlapColumns()
{
    static const std::vector<ColumnSpec> columns = {{"序号", 40, 1},     {"基金", 150, 2},       {"基金", 150, 3},
                                                    {"重合度", 70, 4},   {"共同持股数", 80, 5}, {"共同持有的股票", 260, 6}};
    return columns;
}

}  // namespace

COverlapView::COverlapView(const BookContext& ctx, CFundHoldingsSource& holdings, QWidget* parent)
    : CBookListPage(parent), m_ctx(ctx), m_holdings(holdings), m_note(new QLabel(this))
{
    setObjectName(QStringLiteral("overlapView"));
    auto* box = static_cast<QVBoxLayout*>(layout());
    m_note->setContentsMargins(6, 0, 6, 2);
    m_note->setWordWrap(true);
    box->insertWidget(1, m_note);
    m_list->BuildFixedColumns(OverlapColumns(), m_ctx.ListItemSize());
    SetTitle(QStringLiteral("基金持仓重合"));
}

void COverlapView::Refresh(int accountId)
{
    m_accountId = accountId;
    SetTitle(AccountCaption(m_ctx, accountId) + QStringLiteral(" 基金持仓重合"));
    CTaskRunner::Cancel(m_pending);
    m_pending = nullptr;
    const int serial = ++m_serial;
    QPointer<COverlapView> self(this);
    auto pending = m_holdings.Fetch(FundCodes(HeldFunds(m_ctx, accountId)), [self, serial](const CFundHoldingsSource::Result& got) {
        if (!self || serial != self->m_serial) return;
        self->m_pending = nullptr;
        const std::vector<LookThroughFund> funds = HeldFunds(self->m_ctx, self->m_accountId, &got);
        self->m_overlaps = ComputeOverlaps(funds);
        self->m_stockNames.clear();
        for (const LookThroughFund& f : funds)
            for (const LookThroughStock& s : f.Stocks) self->m_stockNames.emplace(s.StockID, s.StockName);
        const double threshold = ReadOverlapWarning(self->m_ctx.iniPath);
        QString note = QStringLiteral("重合度：两只基金都持有的股票，各取两者持仓比例中较小的一个，相加所得(按各基金最近一季披露的前十大持仓)。");
        note += threshold > 0 ? QStringLiteral("超过 %1% 的基金对在帐户持仓页提示(参数设置 - 持仓穿透)。").arg(Q(FormatNumber("%0.1f", threshold)))
                              : QStringLiteral("重合提示已关闭(参数设置 - 持仓穿透)。");
        if (!self->m_overlaps.empty() && self->m_overlaps.front().Percent <= 0)
            note += QStringLiteral(" 所持基金披露的股票互不重合。");
        if (!got.failed.empty()) note += QStringLiteral(" %1 个基金的持仓未能取得，按没有股票计。").arg(got.failed.size());
        self->m_note->setText(note);
        self->m_list->Model()->SetSource(static_cast<int>(self->m_overlaps.size()),
                                         [s = self.data()](int row, int id) { return s->Cell(row, id); });
        emit self->loaded();
    });
    if (pending) {
        m_pending = pending;
        m_note->setText(QStringLiteral("正在取得基金的股票持仓…"));
    }
}

QString COverlapView::Note() const { return m_note->text(); }

ListCell COverlapView::Cell(int row, int columnId) const
{
    if (row < 0 || row >= static_cast<int>(m_overlaps.size())) return {};
    const FundOverlap& o = m_overlaps[static_cast<size_t>(row)];
    switch (columnId) {
    case 1: return {QString::number(row + 1), row + 1};
    case 2: return {FundLabel(m_ctx, o.FundA), {}};
    case 3: return {FundLabel(m_ctx, o.FundB), {}};
    case 4: return {Percent(o.Percent), o.Percent};
    case 5: return {QString::number(o.Common.size()), static_cast<int>(o.Common.size())};
    case 6: {
        QStringList names;
        for (const std::string& id : o.Common) {
            auto it = m_stockNames.find(id);
            names << (it != m_stockNames.end() && !it->second.empty() ? Q(it->second) : Q(id));
        }
        return {names.join(QStringLiteral("、")), {}};
    }
    default: return {};
    }
}

// ---- account against an index ------------------------------------------------------

CAccountIndexView::CAccountIndexView(const BookContext& ctx, QWidget* parent)
    : QWidget(parent), m_ctx(ctx), m_title(new QLabel(this)), m_index(new QComboBox(this)),
      m_start(new QDateEdit(this)), m_end(new QDateEdit(this)), m_ok(new QPushButton(QStringLiteral("确定"), this)),
      m_chart(new CCurveChart(this)), m_figures(new QLabel(this))
{
    setObjectName(QStringLiteral("accountIndexView"));
    QFont f = m_title->font();
    f.setBold(true);
    m_title->setFont(f);
    for (int n = 1; n <= 3; ++n) m_index->addItem(Q(CurveIndexName(n)), n);
    m_index->setCurrentIndex(2);
    for (QDateEdit* d : {m_start, m_end}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(6, 4, 6, 4);
    bar->addWidget(m_title);
    bar->addStretch();
    bar->addWidget(new QLabel(QStringLiteral("对比指数:"), this));
    bar->addWidget(m_index);
    bar->addWidget(new QLabel(QStringLiteral("开始日期:"), this));
    bar->addWidget(m_start);
    bar->addWidget(new QLabel(QStringLiteral("结束日期:"), this));
    bar->addWidget(m_end);
    bar->addWidget(m_ok);
    m_figures->setTextFormat(Qt::RichText);
    m_figures->setWordWrap(true);
    m_figures->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_figures->setContentsMargins(10, 10, 10, 10);
    m_figures->setFixedWidth(270);
    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->addWidget(m_chart, 1);
    body->addWidget(m_figures);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addLayout(body, 1);
    connect(m_ok, &QPushButton::clicked, this, &CAccountIndexView::Apply);
    ReloadDisplay();
    const QDate today = ToDate(Clock::Now());
    m_end->setDate(today);
    m_start->setDate(today.addYears(-1));
}

CAccountIndexView::~CAccountIndexView()
{
    CTaskRunner::Cancel(m_pending);
    if (m_pending) QApplication::restoreOverrideCursor();
}

void CAccountIndexView::ReloadDisplay() { m_chart->SetDisplay(ReadCurveDisplay(m_ctx.iniPath)); }

void CAccountIndexView::SetAccount(int accountId)
{
    const bool other = accountId != m_accountId || m_twr.Points.empty();
    m_accountId = accountId;
    if (other) {
        // A new account: from its first trade to today.
        OleDate first = Clock::Now();
        for (const auto& [id, t] : AccountTrades(m_ctx, accountId))
            if (t.DealTime.dt != 0 && t.DealTime < first) first = t.DealTime;
        m_start->setDate(ToDate(first));
        m_end->setDate(ToDate(Clock::Now()));
    }
    Apply();
}

void CAccountIndexView::Apply()
{
    m_title->setText(AccountCaption(m_ctx, m_accountId) + QStringLiteral(" 收益与指数比较"));
    if (m_pending) QApplication::restoreOverrideCursor();
    CTaskRunner::Cancel(m_pending);
    m_pending = nullptr;
    const int serial = ++m_serial;
    m_ctx.market.SyncSession();
    const bool offline = m_ctx.doc.User().OfflineFlag != 0;
    const CommandContext command = m_ctx.doc.MakeCommandContext();
    CNavHistory& history = m_ctx.market.History();
    history.SetSession(command, offline);
    const OleDate from = FromDate(m_start->date()), to = FromDate(m_end->date());
    const int indexNumber = m_index->currentData().toInt();
    std::vector<HistoryRequest> downloads;
    bool fetchIndex = false;
    if (!offline) {
        // Funds with no stored NAVs, or stored up to a day before their newest published one.
        std::vector<std::string> stale;
        std::set<std::string> seen;
        for (const auto& [id, t] : AccountTrades(m_ctx, m_accountId)) {
            if (!seen.insert(t.FundID).second) continue;
            OleDate first, last;
            const CNewFundValue* latest = m_ctx.market.Latest().FindValue(t.FundID);
            if (!history.GetFundValueRange(t.FundID, first, last) ||
                (latest && last.DateOnly() < latest->ValueDate.DateOnly() && last.DateOnly() < to))
                stale.push_back(t.FundID);
        }
        downloads = history.PlanIncrementalDownloads(stale);
        OleDate first, last;
        const OleDate until = std::min(to, Clock::Now().DateOnly());
        fetchIndex = !history.GetIndexValueRange(GetIndexCode(indexNumber), first, last) || first > from ||
                     last.DateOnly() < until.AddDays(-4);
    }
    if (downloads.empty() && !fetchIndex) {
        Draw();
        return;
    }
    QApplication::setOverrideCursor(Qt::BusyCursor);
    QPointer<CAccountIndexView> self(this);
    CAdoDatabase db = m_ctx.doc.GetDatabase();
    m_pending = m_ctx.runner.Run([=, &history](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto fetched = std::make_shared<std::vector<HistoryFetch>>(FetchFundHistories(downloads, cancelled));
        auto index = std::make_shared<std::vector<CIndexValue>>();
        // From two weeks before the start: the close before it is the index's base.
        if (fetchIndex && !cancelled) FetchIndexRecords(command, indexNumber, from.AddDays(-14), to, *index);
        if (cancelled) return nullptr;
        return [=, &history]() mutable {
            if (!downloads.empty()) history.StoreFundHistories(downloads, *fetched);
            if (!index->empty()) {
                CAdoTransaction trans(db);
                bool stored = true;
                for (const CIndexValue& v : *index) stored = stored && history.SaveIndexValue(v);
                if (stored) trans.Commit();
            }
            if (!self || serial != self->m_serial) return;
            self->m_pending = nullptr;
            QApplication::restoreOverrideCursor();
            self->Draw();
        };
    });
}

void CAccountIndexView::Draw()
{
    const OleDate from = FromDate(m_start->date()), to = FromDate(m_end->date());
    const int indexNumber = m_index->currentData().toInt();
    const std::map<int, TradeInfo> trades = AccountTrades(m_ctx, m_accountId);
    OleDate first = to;
    for (const auto& [id, t] : trades)
        if (t.DealTime.dt != 0 && t.DealTime < first) first = t.DealTime;
    std::map<std::string, IncomeHistoryFund> funds;
    CNavHistory& history = m_ctx.market.History();
    for (const auto& [id, t] : trades) {
        if (funds.count(t.FundID)) continue;
        IncomeHistoryFund& f = funds[t.FundID];
        f.MoneyMarket = m_ctx.market.Catalogue().IsMoneyMarketFund(t.FundID);
        f.Records = history.LoadFundValues(t.FundID, first.DateOnly(), to);
    }
    m_twr = ComputeAccountTwr(trades, funds, from, to);
    m_indexTwr = ComputeIndexReturn(history.LoadIndexValues(GetIndexCode(indexNumber), from.AddDays(-14), to), m_twr);
    const AccountInfo* account = m_ctx.Accounts().FindAccount(m_accountId);
    BuildTwrChart(m_chart->Model(), account ? account->AccountName : "全部帐户", m_twr, indexNumber, m_indexTwr);
    m_chart->RecalculateLayout();
    m_figures->setText(Figures());
    emit drawn();
}

QString CAccountIndexView::Figures() const
{
    const QString index = Q(CurveIndexName(m_index->currentData().toInt()));
    // The list's sign colours, legible on a dark palette too.
    const QString plain = SignQColor(SignColour::Black).name();
    auto row = [&plain](const QString& name, const QString& value, const QString& colour = QString()) {
        return QStringLiteral("<tr><td>%1</td><td align=\"right\" style=\"color:%3\"><b>%2</b></td></tr>")
            .arg(name, value, colour.isEmpty() ? plain : colour);
    };
    auto signedPercent = [](double v) { return Q(FormatNumber("%+0.2f", v)) + "%"; };
    auto colour = [](double v) {
        return SignQColor(v > 0 ? SignColour::Red : v < 0 ? SignColour::Green : SignColour::Black).name();
    };
    if (m_start->date() > m_end->date()) return QStringLiteral("<p>开始日期晚于结束日期。</p>");
    if (m_twr.Points.empty()) return QStringLiteral("<p>所选区间内帐户没有持仓和交易。</p>");
    const OleDate start = m_twr.Points.front().Date, end = m_twr.Points.back().Date;
    QString html = QStringLiteral("<p><b>%1 至 %2</b> (%3天)</p><table width=\"100%\" cellspacing=\"4\">")
                       .arg(Q(start.Format(1)), Q(end.Format(1)))
                       .arg(WholeDaysBetween(start, end));
    html += row(QStringLiteral("时间加权收益率"), signedPercent(m_twr.Twr), colour(m_twr.Twr));
    if (m_indexTwr.Known) {
        html += row(index + QStringLiteral("涨跌"), signedPercent(m_indexTwr.Return), colour(m_indexTwr.Return));
        const double diff = m_twr.Twr - m_indexTwr.Return;
        html += row(QStringLiteral("超出指数"), Q(FormatNumber("%+0.2f", diff)) + QStringLiteral("个百分点"), colour(diff));
    } else {
        html += row(index + QStringLiteral("涨跌"), QStringLiteral("无数据"));
    }
    if (auto annual = AnnualisedPercent(m_twr.Twr, start, end))
        html += row(QStringLiteral("时间加权年化"), signedPercent(*annual), colour(*annual));
    html += row(QStringLiteral("资金加权年化(XIRR)"), m_twr.Xirr ? signedPercent(*m_twr.Xirr) : QStringLiteral("无"),
                m_twr.Xirr ? colour(*m_twr.Xirr) : plain);
    html += row(QStringLiteral("期初市值"), BookNumber(m_twr.StartValue, true));
    html += row(QStringLiteral("期末市值"), BookNumber(m_twr.EndValue, true));
    html += QStringLiteral("</table><p style=\"color:") + HintQColor().name() + QStringLiteral("\">时间加权收益率在每次申购、赎回处把区间切开，"
                           "各段按当日净值计算的收益连乘，与资金进出的时点和多少无关，可与指数直接比较；"
                           "现金红利和货币基金每日收益计入当天的收益，红利再投资只增加份额。"
                           "XIRR按每笔资金进出的日期和金额计算，含择时的影响。</p>");
    return html;
}

// ---- options ----------------------------------------------------------------------

CLookThroughOptionsPage::CLookThroughOptionsPage(const std::string& iniPath, QWidget* parent)
    : QWidget(parent), m_iniPath(iniPath), m_threshold(new QDoubleSpinBox(this)),
      m_columns(new CColumnPage(ExposureListConfig(), kExposureDefault, iniPath, this))
{
    m_threshold->setRange(0, 100);
    m_threshold->setDecimals(1);
    m_threshold->setSuffix(QStringLiteral(" %"));
    m_threshold->setValue(ReadOverlapWarning(iniPath));
    auto* warn = new QGroupBox(QStringLiteral("持仓重合提示"), this);
    auto* form = new QFormLayout(warn);
    form->addRow(QStringLiteral("两只基金的持仓重合度超过:"), m_threshold);
    form->addRow(new QLabel(QStringLiteral("时在帐户持仓页提示(0为不提示)"), warn));
    auto* columns = new QGroupBox(QStringLiteral("持仓穿透列表"), this);
    auto* inner = new QVBoxLayout(columns);
    inner->addWidget(m_columns);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(warn);
    layout->addWidget(columns, 1);
}

void CLookThroughOptionsPage::Save() const
{
    WriteOverlapWarning(m_threshold->value(), m_iniPath);
    WriteVisibleColumns(ExposureListConfig().key, m_columns->Visible(), m_iniPath);
}

}  // namespace vextal

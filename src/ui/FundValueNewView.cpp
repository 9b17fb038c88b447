#include "ui/FundValueNewView.h"

#include <QApplication>
#include <QMenu>
#include <QProgressDialog>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/MarketData.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "market/LatestValueCache.h"
#include "market/NewValueCommands.h"

namespace vextal {

namespace {

QString Fixed(double v, const char* fmt) { return QString::fromStdString(FormatNumber(fmt, v)); }

// Money-market funds publish income per 10,000 units and a 7-day yield.
const std::vector<ColumnSpec>& MoneyMarketColumns()
{
    static const std::vector<ColumnSpec> cols = {
        {"序号", 40, 10},        {"日期", 70, 11},      {"基金名称", 150, 12}, {"基金代码", 60, 13},
        {"每万份收益", 80, 15},  {"7日年化收益率", 95, 18}, {"一周", 60, 20},     {"一个月", 70, 21},
        {"三个月", 70, 23},      {"一年", 60, 25},      {"成立日期", 70, 30}};
    return cols;
}

}  // namespace

CFundValueNewView::CFundValueNewView(CMarketData& market, CTaskRunner& runner, const CSettings& settings,
                                     std::string iniPath, IUserPrompt& prompt, bool moneyMarket, QWidget* parent)
    : QWidget(parent), m_market(market), m_runner(runner), m_settings(settings), m_iniPath(std::move(iniPath)), m_prompt(prompt),
      m_moneyMarket(moneyMarket), m_fundClass(moneyMarket ? 2 : 1), m_list(new CListView(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    if (moneyMarket) m_list->BuildFixedColumns(MoneyMarketColumns(), m_settings.listItemSize);
    else m_list->BuildColumns(NewValueListConfig(), true, m_settings.listItemSize, m_iniPath);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &CFundValueNewView::ShowContextMenu);
    m_list->Model()->SetRowBackground([this](int row) -> QColor {
        if (m_settings.fundView != 1 || row >= RowCount()) return {};
        int group = 0;
        if (!m_market.Catalogue().GetFundGroup(m_rows[static_cast<size_t>(row)]->FundID, group)) return {};
        uint32_t c = m_settings.highLight;  // 0x00BBGGRR
        return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    });
}

QString CFundValueNewView::Title() const { return QString::fromStdString(NewValueListTitle(m_fundClass)); }

void CFundValueNewView::SetFundClass(int fundClass)
{
    m_fundClass = fundClass;
    if (!m_market.Latest().IsLoaded()) m_market.Latest().LoadNewFundValues();
    if (!m_offline && m_market.Latest().NeedsClassDownload(fundClass)) Download(false);
    Rebuild();
    emit titleChanged(Title());
}

void CFundValueNewView::Refresh()
{
    if (!m_offline) Download(true);
    Rebuild();
}

void CFundValueNewView::Download(bool refresh)
{
    if (m_pending) return;  // one download at a time
    m_market.SyncSession();
    auto request = std::make_shared<ValuesRequest>();
    if (m_market.Latest().PlanClassValues(m_fundClass, refresh, *request) != kMarketOk)
        m_prompt.ShowMessage(m_market.Latest().GetLastError(), PromptIcon::Warning);
    else if (request->send)
        StartDownload(request);
}

void CFundValueNewView::DownloadSelected(const std::vector<std::string>& fundIds, const std::string& serverUrl)
{
    if (m_pending) return;
    m_market.SyncSession();
    auto request = std::make_shared<ValuesRequest>();
    if (m_market.Latest().PlanSelectedValues(fundIds, *request, serverUrl) != kMarketOk)
        m_prompt.ShowMessage(m_market.Latest().GetLastError(), PromptIcon::Warning);
    else if (request->send)
        StartDownload(request);
}

void CFundValueNewView::StartDownload(std::shared_ptr<ValuesRequest> request)
{
    m_downloadClass = request->fundClass;
    // The worker asks, parses and writes the values in one transaction
    // through a connection of its own (a whole class is thousands of rows);
    // the list takes them all at once here when they are stored.
    CLatestValueCache& latest = m_market.Latest();
    const int serial = ++m_downloadSerial;
    m_pending = m_runner.Run([this, request, &latest, serial](const std::atomic<bool>& cancelled) -> WorkFinish {
        ValuesFetch fetched = FetchValues(*request);
        if (cancelled) return nullptr;
        auto stored = std::make_shared<StoredValues>(latest.WriteValuesElsewhere(*request, fetched, cancelled));
        if (stored->result == kMarketCancelled) return nullptr;
        return [this, self = QPointer<CFundValueNewView>(this), &latest, stored, serial] {
            int result = latest.ApplyStored(*stored);
            if (!self) return;
            // Cancelled after the commit: the values are in, the list shows them.
            if (serial == m_downloadSerial && m_pending) EndDownload(result);
            else Rebuild();
        };
    });
    ShowProgress(QStringLiteral("正在下载%1…").arg(Title()));
}

void CFundValueNewView::FetchDisclosurePages(const std::vector<std::string>& fundIds)
{
    if (m_pending) return;
    m_market.SyncSession();
    // The pages one after another on the worker; the values stored here.
    m_pending = m_runner.Run([this, fundIds, base = m_market.Latest().DisclosureBase()](
                                 const std::atomic<bool>& cancelled) -> WorkFinish {
        auto pages = std::make_shared<std::vector<DisclosureFetch>>();
        for (const std::string& id : fundIds) {
            if (cancelled) return nullptr;
            pages->push_back(FetchDisclosurePage(base, id));
        }
        if (cancelled) return nullptr;
        return [this, self = QPointer<CFundValueNewView>(this), pages] {
            if (!self) return;
            for (const DisclosureFetch& page : *pages) m_market.Latest().StoreDisclosureValue(page);
            EndDownload(kMarketOk);
        };
    });
    ShowProgress(QStringLiteral("正在获取最新净值…"));
}

// A busy indicator with a cancel button; the window keeps running under it.
void CFundValueNewView::ShowProgress(const QString& text)
{
    m_progress = new QProgressDialog(text, QStringLiteral("取消"), 0, 0, this);
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    connect(m_progress, &QProgressDialog::canceled, this, &CFundValueNewView::CancelDownload);
    // A busy dialog gets no values to time itself by: it shows when the work
    // lasts longer than a blink.
    QTimer::singleShot(300, m_progress, [dialog = m_progress.data()] { dialog->show(); });
    QApplication::setOverrideCursor(Qt::BusyCursor);
}

void CFundValueNewView::CancelDownload()
{
    if (!m_pending) return;
    CTaskRunner::Cancel(m_pending);
    ++m_downloadSerial;
    EndDownload(kMarketCancelled);
}

void CFundValueNewView::EndDownload(int result)
{
    m_pending.reset();
    QApplication::restoreOverrideCursor();
    if (m_progress) {
        m_progress->disconnect(this);
        m_progress->deleteLater();
    }
    // A cancel needs no message.
    if (result != kMarketOk && result != kMarketCancelled)
        m_prompt.ShowMessage(m_market.Latest().GetLastError(), PromptIcon::Warning);
    Rebuild();
    emit downloadFinished(result);
    // The page moved to another class meanwhile: that class's turn now.
    if (result != kMarketCancelled && m_downloadClass != 0 && m_downloadClass != m_fundClass && !m_offline &&
        m_market.Latest().NeedsClassDownload(m_fundClass))
        Download(false);
}

void CFundValueNewView::Rebuild()
{
    m_rows = m_market.Latest().ClassValues(m_fundClass);
    if (m_settings.fundView == 2) {  // only favourites
        std::erase_if(m_rows, [this](const CNewFundValue* v) {
            int group = 0;
            return !m_market.Catalogue().GetFundGroup(v->FundID, group);
        });
    }
    CSortSettings sort = ReadSortSettings(m_iniPath);
    if (!m_moneyMarket && sort.item[0] != 0) ApplySort(sort);
    else m_list->Model()->SetSource(RowCount(), [this](int row, int id) { return Cell(row, id); });
}

void CFundValueNewView::ApplySort(const CSortSettings& sort)
{
    auto key = [this](const CNewFundValue* v, int item) -> QVariant {
        const CFundInfo* info = m_market.Catalogue().FindFund(v->FundID);
        switch (item) {
        case 1: return FundName(v->FundID);
        case 2: return QString::fromStdString(v->FundID);
        case 3: return v->TodayValue;
        case 4: return v->TotalValue;
        case 5: return v->VarPercent;
        case 6: return v->VarValue;
        case 7: return v->WeekIncome;
        case 8: return v->MonthIncome;
        case 9: return v->TwoMonthIncome;
        case 10: return v->ThreeMonthIncome;
        case 11: return info ? info->CreateDate.dt : 0.0;
        default: return {};
        }
    };
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const CNewFundValue* a, const CNewFundValue* b) {
        for (int k = 0; k < 3; ++k) {
            if (sort.item[k] == 0) continue;
            int c = CompareListValues(key(a, sort.item[k]), key(b, sort.item[k]));
            if (c != 0) return sort.descending[k] ? c > 0 : c < 0;
        }
        return false;
    });
    m_list->Proxy()->sort(-1);
    m_list->Model()->SetSource(RowCount(), [this](int row, int id) { return Cell(row, id); });
}

QString CFundValueNewView::FundName(const std::string& fundId) const
{
    const CFundInfo* info = m_market.Catalogue().FindFund(fundId);
    QString code = QString::fromStdString(fundId);
    if (!info) return code;
    QString name = QString::fromStdString(info->FundName);
    QString shortName = QString::fromStdString(info->FundShortName);
    switch (m_settings.fundShowType) {
    case 1: return code;
    case 2: return shortName + "(" + code + ")";
    case 3: return code + "(" + shortName + ")";
    default: return name;
    }
}

ListCell CFundValueNewView::Cell(int row, int columnId) const
{
    if (row < 0 || row >= RowCount()) return {};
    const CNewFundValue& v = *m_rows[static_cast<size_t>(row)];
    auto percent = [](double f) { return ListCell{Fixed(f, "%0.2f") + "%", f}; };
    const CFundInfo* info = m_market.Catalogue().FindFund(v.FundID);
    switch (columnId) {
    case 10: return {QString::number(row + 1), row + 1};
    case 11: return {QString::fromStdString(v.ValueDate.Format(1)), v.ValueDate.dt};
    case 12: return {FundName(v.FundID), {}};
    case 13: return {QString::fromStdString(v.FundID), {}};
    case 14: return {info ? QString::fromStdString(GetInvestTypeName(info->InvestTypeID)) : QString(), {}};
    case 15: return {Fixed(v.TodayValue, "%0.4f"), v.TodayValue};
    case 16: return {Fixed(v.TotalValue, "%0.4f"), v.TotalValue};
    case 17: return {Fixed(v.TotalValue1, "%0.4f"), v.TotalValue1};
    case 18: return percent(v.VarPercent);
    case 19: return {Fixed(v.VarValue, "%0.4f"), v.VarValue};
    case 20: return percent(v.WeekIncome);
    case 21: return percent(v.MonthIncome);
    case 22: return percent(v.TwoMonthIncome);
    case 23: return percent(v.ThreeMonthIncome);
    case 24: return percent(v.SixMonthIncome);
    case 25: return percent(v.OneYearIncome);
    case 26: return percent(v.ThisYearIncome);
    case 27: return percent(v.YearAvgIncome);
    case 28: return percent(v.TotalIncome);
    case 29: return {info ? Fixed(info->NewFundCount, "%0.2f") : QString(), info ? info->NewFundCount : 0.0f};
    case 30: return {info ? QString::fromStdString(info->CreateDate.Format(1)) : QString(), info ? info->CreateDate.dt : 0.0};
    default: return {};
    }
}

std::vector<std::string> CFundValueNewView::SelectedFunds() const
{
    std::vector<std::pair<int, std::string>> picked;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows()) {
        QModelIndex source = m_list->Proxy()->mapToSource(index);
        if (source.row() < RowCount()) picked.emplace_back(index.row(), m_rows[static_cast<size_t>(source.row())]->FundID);
    }
    std::sort(picked.begin(), picked.end());  // list order
    std::vector<std::string> ids;
    for (auto& p : picked) ids.push_back(p.second);
    return ids;
}

std::string CFundValueNewView::CurrentFund() const
{
    QModelIndex source = m_list->Proxy()->mapToSource(m_list->currentIndex());
    if (!source.isValid() || source.row() >= RowCount()) return {};
    return m_rows[static_cast<size_t>(source.row())]->FundID;
}

void CFundValueNewView::ShowContextMenu(const QPoint& pos)
{
    QMenu menu(this);
    QAction* main = menu.addAction(QStringLiteral("从主站下载最新净值"));
    QAction* mirror = menu.addAction(QStringLiteral("从分站下载最新净值"));
    QAction* local = menu.addAction(QStringLiteral("在本地获取最新净值"));
    QAction* incremental = menu.addAction(QStringLiteral("增量下载最新净值"));
    const std::string mirrorServer = MirrorServer(m_settings.serverList, m_settings.serverUrl);
    mirror->setEnabled(!mirrorServer.empty());
    for (QAction* a : {main, mirror, incremental}) a->setEnabled(a->isEnabled() && !m_offline);
    QAction* favourite = nullptr;
    if (m_favourite) {
        menu.addSeparator();
        favourite = menu.addAction(QStringLiteral("添加到基金收藏夹"));
        favourite->setEnabled(!m_offline && !CurrentFund().empty());
    }
    QAction* chosen = menu.exec(m_list->viewport()->mapToGlobal(pos));
    if (!chosen) return;
    if (chosen == favourite) {
        m_favourite(CurrentFund());
        return;
    }
    m_market.SyncSession();
    auto downloadFrom = [this](const std::string& server) {
        return [this, server](const std::vector<std::string>& ids) { DownloadSelected(ids, server); };
    };
    if (chosen == main) {
        RunServerDownloadCommand(m_prompt, m_settings.serverUrl, SelectedFunds(), downloadFrom(std::string()));
    } else if (chosen == mirror) {
        RunServerDownloadCommand(m_prompt, mirrorServer, SelectedFunds(), downloadFrom(mirrorServer));
    } else if (chosen == local) {
        std::vector<std::string> ids;
        RunLocalFetchCommand(m_prompt, Clock::Now(), SelectedFunds(), [&ids](const std::string& id) { ids.push_back(id); });
        if (!ids.empty()) FetchDisclosurePages(ids);
    } else if (chosen == incremental) {
        RunIncrementalValuesCommand(m_prompt, [this](bool refresh) { Download(refresh); });
    }
    Rebuild();
}

void CFundValueNewView::SaveColumnWidths() const
{
    if (!m_moneyMarket) m_list->SaveColumnWidths(NewValueListConfig().listName, m_iniPath);
}

}  // namespace vextal

#include "ui/FundValueListView.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "app/MarketData.h"
#include "app/Settings.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "ui/ExcelExport.h"

namespace vextal {

namespace {

QDate ToQDate(const OleDate& d) { return QDate(d.Year(), d.Month(), d.Day()); }
OleDate FromQDate(const QDate& d) { return OleDate::FromParts(d.year(), d.month(), d.day()); }
QString Fixed(double v, const char* fmt) { return QString::fromStdString(FormatNumber(fmt, v)); }

}  // namespace

CFundValueListView::CFundValueListView(CMarketData& market, CTaskRunner& runner, const CSettings& settings,
                                       QWidget* parent)
    : QWidget(parent), m_market(market), m_runner(runner), m_settings(settings), m_funds(new QComboBox(this)),
      m_from(new QDateEdit(this)), m_to(new QDateEdit(this)), m_status(new QLabel(this)),
      m_cancel(new QPushButton(QStringLiteral("取消"), this)), m_list(new CListView(this))
{
    m_funds->setMinimumContentsLength(24);
    m_funds->setMaxVisibleItems(25);
    for (QDateEdit* d : {m_from, m_to}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setCalendarPopup(true);
    }
    const OleDate now = Clock::Now();
    m_to->setDate(ToQDate(now));
    m_from->setDate(ToQDate(now.AddDays(-365)));
    m_cancel->hide();
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("基金:")));
    bar->addWidget(m_funds);
    bar->addWidget(new QLabel(QStringLiteral("开始日期:")));
    bar->addWidget(m_from);
    bar->addWidget(new QLabel(QStringLiteral("结束日期:")));
    bar->addWidget(m_to);
    bar->addWidget(m_status);
    bar->addWidget(m_cancel);
    bar->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->addLayout(bar);
    layout->addWidget(m_list, 1);

    connect(m_funds, &QComboBox::activated, this, [this] { ShowFund(CurrentFund()); });
    // Dates the user picked stay; until then the range follows the fund's stored year.
    for (QDateEdit* d : {m_from, m_to})
        connect(d, &QDateEdit::dateChanged, this, [this] {
            m_userRange = true;
            Reload();
        });
    connect(m_cancel, &QPushButton::clicked, this, &CFundValueListView::CancelDownload);
    SetExportSource(this, [this] {
        return ExportSource{m_list, m_fundClass == 2 ? kExportMoneyHistory : kExportNavHistory,
                            QStringLiteral("历史净值")};
    });
}

void CFundValueListView::BuildColumns()
{
    if (m_fundClass == 2) {
        m_list->BuildFixedColumns({{"序号", 40, 10}, {"日期", 80, 11}, {"每万份收益", 90, 12}, {"7日年化收益率", 100, 13}},
                                  m_settings.listItemSize);
        m_list->Model()->SetSignedColumns({});
    } else {
        m_list->BuildFixedColumns({{"序号", 40, 10}, {"日期", 80, 11}, {"单位净值", 70, 12}, {"累计净值", 70, 13},
                                   {"日增长率", 70, 14}, {"日增长值", 70, 15}},
                                  m_settings.listItemSize);
        m_list->Model()->SetSignedColumns({14, 15});
    }
}

void CFundValueListView::FillFunds()
{
    const std::string keep = CurrentFund();
    m_funds->clear();
    const CFundCatalogue& catalogue = m_market.Catalogue();
    for (const auto& [id, info] : catalogue.Funds()) {
        const int c = catalogue.GetFundClass(id);
        const bool ours = m_fundClass == 2 ? c == 2 : m_fundClass == 3 ? c == 3 : (c == 1 || c == 4 || c == 5);
        if (!ours) continue;
        const QString code = QString::fromStdString(id);
        const QString name = QString::fromStdString(info.FundName);
        const QString text = m_settings.fundShowType == 1 || m_settings.fundShowType == 3
                                 ? QStringLiteral("%1(%2)").arg(code, name)
                                 : QStringLiteral("%1(%2)").arg(name, code);
        m_funds->addItem(text, code);
    }
    int index = m_funds->findData(QString::fromStdString(keep));
    if (index < 0) index = m_funds->findData(QString::fromStdString(m_settings.fundId));
    m_funds->setCurrentIndex(index < 0 ? 0 : index);
}

void CFundValueListView::SetFundClass(int fundClass)
{
    if (fundClass != m_fundClass || m_funds->count() == 0) {
        m_fundClass = fundClass;
        BuildColumns();
        FillFunds();
    }
    ShowFund(CurrentFund());
}

void CFundValueListView::ApplySettings()
{
    BuildColumns();
    FillFunds();
    Reload();
}

std::string CFundValueListView::CurrentFund() const { return m_funds->currentData().toString().toStdString(); }

void CFundValueListView::ShowFund(const std::string& fundId)
{
    const int index = m_funds->findData(QString::fromStdString(fundId));
    if (index >= 0 && index != m_funds->currentIndex()) m_funds->setCurrentIndex(index);
    Reload();
    if (!fundId.empty() && !m_offline && !m_upToDate.count(fundId)) Download(fundId);
}

void CFundValueListView::SetRange(const OleDate& from, const OleDate& to)
{
    const QSignalBlocker a(m_from), b(m_to);
    m_from->setDate(ToQDate(from));
    m_to->setDate(ToQDate(to));
    m_userRange = true;
    Reload();
}

void CFundValueListView::Refresh()
{
    const std::string fund = CurrentFund();
    m_upToDate.erase(fund);
    if (!fund.empty() && !m_offline) Download(fund);
}

void CFundValueListView::Reload()
{
    const std::string fund = CurrentFund();
    m_rows.clear();
    OleDate first, last;
    if (!fund.empty() && !m_userRange && m_market.History().GetFundValueRange(fund, first, last)) {
        const QSignalBlocker a(m_from), b(m_to);
        m_to->setDate(ToQDate(last));
        m_from->setDate(ToQDate(std::max(first, last.AddDays(-365))));
    }
    if (!fund.empty()) {
        // The whole last day counts.
        m_rows = m_market.History().LoadFundValues(fund, FromQDate(m_from->date()), FromQDate(m_to->date()).AddDays(1));
        std::reverse(m_rows.begin(), m_rows.end());
    }
    m_list->Proxy()->sort(-1);
    m_list->Model()->SetSource(RowCount(), [this](int row, int id) { return Cell(row, id); });
}

void CFundValueListView::Download(const std::string& fundId)
{
    if (m_pending) return;  // one at a time; the fund shown when it ends is looked at then
    m_market.SyncSession();
    auto requests = std::make_shared<std::vector<HistoryRequest>>(m_market.History().PlanIncrementalDownloads({fundId}));
    if (requests->empty()) return;
    // Tried once per run, whatever comes of it; the refresh command tries again.
    m_upToDate.insert(fundId);
    m_pending = m_runner.Run([this, requests](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto fetched = std::make_shared<std::vector<HistoryFetch>>(FetchFundHistories(*requests, cancelled));
        if (cancelled) return nullptr;
        return [this, self = QPointer<CFundValueListView>(this), requests, fetched] {
            if (!self) return;
            const bool stored = m_market.History().StoreFundHistories(*requests, *fetched) == requests->size();
            EndDownload();
            if (!stored) m_status->setText(QStringLiteral("下载历史净值失败"));
        };
    });
    m_status->setText(QStringLiteral("正在下载历史净值…"));
    m_cancel->show();
}

void CFundValueListView::CancelDownload()
{
    if (!m_pending) return;
    CTaskRunner::Cancel(m_pending);
    EndDownload();
}

void CFundValueListView::EndDownload()
{
    m_pending.reset();
    m_status->clear();
    m_cancel->hide();
    Reload();
    emit downloadFinished();
    // Another fund was chosen meanwhile: its turn now.
    const std::string fund = CurrentFund();
    if (!fund.empty() && !m_offline && !m_upToDate.count(fund)) Download(fund);
}

ListCell CFundValueListView::Cell(int row, int columnId) const
{
    if (row < 0 || row >= RowCount()) return {};
    const CFundValue& v = m_rows[static_cast<size_t>(row)];
    switch (columnId) {
    case 10: return {QString::number(row + 1), row + 1};
    case 11: return {QString::fromStdString(v.ValueDate.Format(1)), v.ValueDate.dt};
    case 12: return {Fixed(v.TodayValue, "%0.4f"), v.TodayValue};
    case 13:
        if (m_fundClass == 2) return {Fixed(v.VarPercent, "%0.4f") + "%", v.VarPercent};
        return {Fixed(v.TotalValue, "%0.4f"), v.TotalValue};
    case 14: return {Fixed(v.VarPercent, "%0.2f") + "%", v.VarPercent};
    case 15: return {Fixed(v.VarValue, "%0.4f"), v.VarValue};
    default: return {};
    }
}

}  // namespace vextal

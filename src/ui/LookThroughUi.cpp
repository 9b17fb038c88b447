#include "ui/LookThroughUi.h"

#include <QDir>
#include <algorithm>
#include <QDockWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "book/TradeForms.h"
#include "common/Format.h"
#include "ui/BookkeepingUi.h"
#include "ui/CurvePointsDialog.h"
#include "ui/CurveChart.h"
#include "ui/ExcelExport.h"
#include "ui/MainFrame.h"
#include "ui/OptionsDialog.h"

namespace vextal {

CLookThroughUi::CLookThroughUi(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner,
                               IUserPrompt& prompt, std::string iniPath)
    : QObject(&frame), m_frame(frame), m_ctx{doc, market, runner, prompt, std::move(iniPath)}, m_holdings(m_ctx)
{
    setObjectName(QStringLiteral("lookThrough"));
    m_exposure = new CExposureView(m_ctx, m_holdings, &frame);
    m_overlap = new COverlapView(m_ctx, m_holdings, &frame);
    m_index = new CAccountIndexView(m_ctx, &frame);
    CHomeView* home = frame.HomeView();
    home->SetPage(kLookThroughPage, m_exposure);
    home->SetPage(kOverlapPage, m_overlap);
    home->SetPage(kIndexComparePage, m_index);

    // "导出表格到Excel" on the two lists.
    RegisterExportKind(kExposureCatalogue, {{10, {ExportCell::Number, 0}},
                                            {14, {ExportCell::Number, 2}},
                                            {15, {ExportCell::Number, 2}},
                                            {17, {ExportCell::Number, 0}}});
    RegisterExportKind(kExportOverlap, {{1, {ExportCell::Number, 0}}, {2, {ExportCell::Highlight, 0}},
                                        {3, {ExportCell::Highlight, 0}}, {4, {ExportCell::Number, 2}},
                                        {5, {ExportCell::Number, 0}}});
    SetExportSource(m_exposure, [this] { return ExportSource{m_exposure->List(), kExposureCatalogue, m_exposure->Title()}; });
    SetExportSource(m_overlap, [this] { return ExportSource{m_overlap->List(), kExportOverlap, m_overlap->Title()}; });
    // The comparison's chart: its points.
    SetCurvePointsExport(m_index, m_index->Chart(), QStringLiteral("帐户收益与指数比较"));
    connect(m_index, &CAccountIndexView::drawn, &frame, &CMainFrame::UpdateCommandStates);

    // The warning line sits under the holdings page's title.
    if (CBookkeepingUi* book = CBookkeepingUi::Of(frame)) {
        m_warning = new QLabel(book->Holdings());
        m_warning->setObjectName(QStringLiteral("overlapWarning"));
        m_warning->setWordWrap(true);
        m_warning->setContentsMargins(6, 2, 6, 2);
        m_warning->setStyleSheet(QStringLiteral("QLabel { color: #a00000; background: #fff4d6; }"));
        m_warning->hide();
        if (auto* box = qobject_cast<QBoxLayout*>(book->Holdings()->layout())) box->insertWidget(1, m_warning);
    }

    // Every change the pages follow, in one place: the books (a booking, a
    // refresh, new latest values), the panel's choice, the page shown and
    // the options.
    if (CBookkeepingUi* book = CBookkeepingUi::Of(frame))
        connect(book, &CBookkeepingUi::booksChanged, this, [this] { OnBooksChanged(); });
    connect(&frame, &CMainFrame::refreshRequested, this, [this](int page) {
        if (IsLookThroughPage(page)) RefreshShown();
    });
    // After the panel's own handling of the choice (connected before), on whatever page it leaves.
    connect(frame.AccountTree(), &QTreeWidget::currentItemChanged, this, [this] { OnBooksChanged(); });
    connect(&frame, &CMainFrame::pageShown, this, [this](int page) {
        if (IsLookThroughPage(page)) {
            m_frame.AccountPanel()->show();
            RefreshShown();
        }
        if (page == 106) UpdateWarning();
    });
    connect(&OptionsNotifier(), &COptionsNotifier::settingsChanged, this, [this] {
        m_exposure->RebuildColumns();
        m_overlap->List()->ApplyListStyle(m_ctx.ListItemSize());
        m_index->ReloadDisplay();
        OnBooksChanged();
    });
}

CLookThroughUi* CLookThroughUi::Of(const CMainFrame& frame)
{
    return frame.findChild<CLookThroughUi*>(QStringLiteral("lookThrough"), Qt::FindDirectChildrenOnly);
}

int CLookThroughUi::PanelAccount() const
{
    CBookkeepingUi* book = CBookkeepingUi::Of(m_frame);
    return book ? book->CurrentAccountID() : 0;
}

void CLookThroughUi::RefreshShown()
{
    switch (m_frame.Navigation().page) {
    case kLookThroughPage: m_exposure->Refresh(PanelAccount()); break;
    case kOverlapPage: m_overlap->Refresh(PanelAccount()); break;
    case kIndexComparePage: m_index->SetAccount(PanelAccount()); break;
    default: break;
    }
}

void CLookThroughUi::OnBooksChanged()
{
    RefreshShown();
    if (m_frame.Navigation().page == 106) UpdateWarning();
}

void CLookThroughUi::UpdateWarning()
{
    CBookkeepingUi* book = CBookkeepingUi::Of(m_frame);
    if (!m_warning || !book) return;
    CTaskRunner::Cancel(m_warningPending);
    m_warningPending = nullptr;
    const int serial = ++m_warningSerial;
    const int accountId = book->Holdings()->AccountID();
    const double threshold = ReadOverlapWarning(m_ctx.iniPath);
    const std::vector<std::string> codes = FundCodes(HeldFunds(m_ctx, accountId));
    if (accountId == 0 || threshold <= 0 || codes.size() < 2) {
        m_warning->hide();
        emit warningUpdated();
        return;
    }
    QPointer<CLookThroughUi> self(this);
    auto pending = m_holdings.Fetch(codes, [self, serial, accountId, threshold](const CFundHoldingsSource::Result& got) {
        if (!self || serial != self->m_warningSerial) return;
        self->m_warningPending = nullptr;
        const std::vector<FundOverlap> above = OverlapsAbove(ComputeOverlaps(HeldFunds(self->m_ctx, accountId, &got)), threshold);
        if (above.empty()) {
            self->m_warning->hide();
        } else {
            const FundOverlap& o = above.front();
            QString text = QStringLiteral("持仓重合提示：%1 与 %2 的持仓重合度为 %3%，超过设定的 %4%")
                               .arg(self->m_ctx.FundName(o.FundA), self->m_ctx.FundName(o.FundB),
                                    QString::fromStdString(FormatNumber("%0.2f", o.Percent)),
                                    QString::fromStdString(FormatNumber("%0.1f", threshold)));
            if (above.size() > 1) text += QStringLiteral("；另有 %1 对基金也超过").arg(above.size() - 1);
            self->m_warning->setText(text + QStringLiteral("。详见“基金持仓重合”。"));
            self->m_warning->show();
        }
        emit self->warningUpdated();
    });
    if (pending) m_warningPending = pending;
}

// ---- screenshots --------------------------------------------------------------------

namespace {

// `then` once the view has loaded (now, or at its signal).
template <class View, class Signal>
void WhenLoaded(View* view, Signal signal, std::function<void()> then)
{
    if (!view->IsLoading()) {
        QTimer::singleShot(0, view, then);
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(view, signal, view, [connection, then] {
        QObject::disconnect(*connection);
        QTimer::singleShot(0, then);
    });
}

}  // namespace

// The example books hold funds that the simulated market lets share few
// stocks. So that the overlap table has something to show, the example
// account also buys the fund of the first stock funds that shares most with
// one it holds (asked on the worker), then `then` runs.
void CLookThroughUi::AddOverlappingExample(std::function<void()> then)
{
    CAccountManager& manager = m_ctx.Accounts();
    AccountInfo* account = manager.Accounts().empty() ? nullptr : manager.Accounts().begin()->second.get();
    if (!account || account->AccountName != "示例帐户" || account->holdings.empty() || m_ctx.doc.User().OfflineFlag != 0) {
        then();
        return;
    }
    const int accountId = account->AccountID;
    OleDate bought = account->holdings.front().LastTrade;
    for (const auto& [id, t] : account->trades)
        if (t.TradeType == kTradeBuy && t.TradeTime < bought) bought = t.TradeTime;
    std::vector<std::string> candidates = FundCodes(HeldFunds(m_ctx, accountId));
    const size_t held = candidates.size();
    for (const auto& [code, info] : m_ctx.market.Catalogue().Funds()) {
        if (candidates.size() >= held + 24) break;
        if ((info.InvestTypeID == 1 || info.InvestTypeID == 2) && info.CreateDate < bought.AddDays(-30) &&
            std::find(candidates.begin(), candidates.end(), code) == candidates.end())
            candidates.push_back(code);
    }
    QPointer<CLookThroughUi> self(this);
    m_holdings.Fetch(candidates, [self, then, accountId, bought, candidates, held](const CFundHoldingsSource::Result& got) {
        if (!self) return;
        std::vector<LookThroughFund> funds;
        for (const std::string& code : candidates) {
            LookThroughFund f{code, 1, 1, {}};
            if (auto it = got.holdings.find(code); it != got.holdings.end())
                for (const CFundInvestItem& item : it->second) f.Stocks.push_back({item.StockID, item.StockName, item.Industry, item.InvestPercent});
            funds.push_back(std::move(f));
        }
        const auto isHeld = [&](const std::string& code) {
            return std::find(candidates.begin(), candidates.begin() + static_cast<long>(held), code) != candidates.begin() + static_cast<long>(held);
        };
        for (const FundOverlap& o : ComputeOverlaps(funds)) {
            if (o.Percent <= 0) break;
            if (isHeld(o.FundA) == isHeld(o.FundB)) continue;
            TradeForm f = DefaultTradeForm(FormKind::Purchase);
            f.AccountID = accountId;
            f.FundID = isHeld(o.FundA) ? o.FundB : o.FundA;
            f.Amount = 10000;
            f.TradeTime = bought;
            f.MarkInfo = "示例";
            TradeInfo t = TradeFromForm(f);
            self->m_ctx.Accounts().BookTrade(t);
            if (CBookkeepingUi* book = CBookkeepingUi::Of(self->m_frame)) book->RefreshAll();
            break;
        }
        then();
    });
}

void CLookThroughUi::SaveScreenshots(const QString& dir, std::function<void(bool)> done)
{
    AddOverlappingExample([this, dir, done] { TakeScreenshots(dir, done); });
}

void CLookThroughUi::TakeScreenshots(const QString& dir, std::function<void(bool)> done)
{
    auto ok = std::make_shared<bool>(true);
    auto save = [this, ok, dir](const char* name) {
        *ok = m_frame.grab().save(QDir(dir).filePath(QString::fromUtf8(name) + ".png")) && *ok;
    };
    // The first account (the example books), as the user chooses it in the panel.
    if (CBookkeepingUi* book = CBookkeepingUi::Of(m_frame); book && !m_ctx.Accounts().Accounts().empty())
        book->SelectAccount(m_ctx.Accounts().Accounts().begin()->first);
    // A page the command refuses (offline) leaves no picture.
    auto shoot = [save](bool shown, const char* name) {
        if (shown) save(name);
    };
    const bool exposure = m_frame.RunCommand(cmd::LookThrough);
    WhenLoaded(m_exposure.data(), &CExposureView::loaded, [this, shoot, exposure, ok, done] {
        shoot(exposure, "look-through");
        const bool overlap = m_frame.RunCommand(cmd::FundOverlap);
        WhenLoaded(m_overlap.data(), &COverlapView::loaded, [this, shoot, overlap, ok, done] {
            shoot(overlap, "fund-overlap");
            const bool index = m_frame.RunCommand(cmd::IndexCompare);
            WhenLoaded(m_index.data(), &CAccountIndexView::drawn, [shoot, index, ok, done] {
                shoot(index, "account-vs-index");
                done(*ok);
            });
        });
    });
}

void InstallLookThrough(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner,
                        IUserPrompt& prompt, const std::string& iniPath)
{
    new CLookThroughUi(frame, doc, market, runner, prompt, iniPath);
}

void SaveLookThroughScreenshots(CMainFrame& frame, const QString& dir, std::function<void(bool)> done)
{
    CLookThroughUi* ui = CLookThroughUi::Of(frame);
    if (!ui) {
        done(true);
        return;
    }
    ui->SaveScreenshots(dir, std::move(done));
}

}  // namespace vextal

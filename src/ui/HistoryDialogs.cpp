#include "ui/HistoryDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "common/Format.h"
#include "market/NavHistory.h"
#include "ui/TaskRunner.h"
#include "ui/ListView.h"

namespace vextal {

namespace {

QLabel* RangeLabel()
{
    auto* l = new QLabel;
    // The range stands out, as the highlight colour did, on a dark palette too.
    l->setStyleSheet(IsDarkPalette() ? QStringLiteral("color: #ff7070;") : QStringLiteral("color: #c00000;"));
    return l;
}

QLabel* Explanation(const char* text)
{
    auto* l = new QLabel(QString::fromUtf8(text));
    l->setWordWrap(true);
    return l;
}

QString RangeOf(bool found, const OleDate& first, const OleDate& last, const char* none, const char* format)
{
    if (!found) return QString::fromUtf8(none);
    return QString::fromUtf8(format).arg(QString::fromStdString(first.FormatWith("%Y-%m-%d")),
                                        QString::fromStdString(last.FormatWith("%Y-%m-%d")));
}

void Say(IUserPrompt* prompt, const char* text, PromptIcon icon = PromptIcon::Information)
{
    if (prompt) prompt->ShowMessage(text, icon);
}
bool Ask(IUserPrompt* prompt, const char* text) { return prompt && prompt->AskYesNo(text); }

}  // namespace

// ---------------------------------------------------------------- 从服务器下载历史净值

CFundHistoryDialog::CFundHistoryDialog(HistoryDialogContext ctx, QWidget* parent)
    : QDialog(parent), m_ctx(std::move(ctx))
{
    setWindowTitle(QStringLiteral("从服务器下载历史净值"));
    m_fund = new QComboBox;
    m_fund->setObjectName("fund");
    for (const auto& [code, text] : m_ctx.funds) m_fund->addItem(QString::fromStdString(text), QString::fromStdString(code));
    m_range = RangeLabel();
    m_many = new QCheckBox(QStringLiteral("多个基金"));
    m_choose = new QPushButton(QStringLiteral("选择基金"));
    m_choose->setEnabled(false);
    m_clear = new QPushButton(QStringLiteral("清空本地数据"));
    m_progress = new QProgressBar;
    m_progress->hide();
    m_poll = new QTimer(this);
    m_poll->setInterval(100);

    auto* pick = new QHBoxLayout;
    pick->addWidget(new QLabel(QStringLiteral("需要下载的基金")));
    pick->addWidget(m_fund, 1);
    auto* info = new QGroupBox(QStringLiteral("下载信息"));
    auto* infoLayout = new QVBoxLayout(info);
    infoLayout->addWidget(m_range);
    infoLayout->addWidget(Explanation(
        "如果选定基金本地已有部分数据，则从服务器增量下载历史净值数据，反之则下载选定基金的全部历史净值数据"
        "(注：此时下载会比较慢，请耐心等候）"));
    infoLayout->addWidget(m_progress);
    auto* many = new QHBoxLayout;
    many->addWidget(m_many);
    many->addWidget(m_choose);
    many->addStretch();
    many->addWidget(m_clear);
    auto* buttons = new QDialogButtonBox;
    m_download = buttons->addButton(QStringLiteral("下载"), QDialogButtonBox::AcceptRole);
    m_close = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    auto* top = new QVBoxLayout(this);
    top->addLayout(pick);
    top->addWidget(info);
    top->addLayout(many);
    top->addWidget(buttons);
    setMinimumWidth(480);

    connect(m_fund, &QComboBox::currentIndexChanged, this, &CFundHistoryDialog::ShowRange);
    connect(m_many, &QCheckBox::toggled, this, [this](bool on) { m_choose->setEnabled(on && m_ctx.chooseFunds); });
    connect(m_choose, &QPushButton::clicked, this, [this] {
        if (m_ctx.chooseFunds) m_ctx.chooseFunds();
    });
    connect(m_clear, &QPushButton::clicked, this, &CFundHistoryDialog::OnClear);
    connect(m_download, &QPushButton::clicked, this, &CFundHistoryDialog::OnDownload);
    connect(m_close, &QPushButton::clicked, this, &CFundHistoryDialog::OnCancel);
    connect(m_poll, &QTimer::timeout, this, [this] {
        if (m_done) m_progress->setValue(static_cast<int>(m_done->load()));
    });
    ShowRange();
}

CFundHistoryDialog::~CFundHistoryDialog() { CTaskRunner::Cancel(m_cancel); }

std::string CFundHistoryDialog::Chosen() const
{
    return m_fund->currentIndex() < 0 ? std::string() : m_fund->currentData().toString().toStdString();
}

void CFundHistoryDialog::SelectFund(const std::string& code)
{
    m_fund->setCurrentIndex(m_fund->findData(QString::fromStdString(code)));
}

void CFundHistoryDialog::SetManyFunds(bool many) { m_many->setChecked(many); }

QString CFundHistoryDialog::RangeText() const { return m_range->text(); }

int CFundHistoryDialog::Progress() const { return m_progress->value(); }

void CFundHistoryDialog::ShowRange()
{
    OleDate first, last;
    const std::string code = Chosen();
    const bool found = !code.empty() && m_ctx.history->GetFundValueRange(code, first, last);
    m_range->setText(RangeOf(found, first, last, "此基金本地无历史净值数据", "本地历史净值数据日期范围:%1 ~ %2"));
}

void CFundHistoryDialog::OnClear()
{
    const std::string code = Chosen();
    if (code.empty() || IsBusy()) return;
    if (!Ask(m_ctx.prompt, "确定要清空选定基金的本地历史净值数据吗?")) return;
    m_ctx.history->DeleteFundValues(code);
    Say(m_ctx.prompt, "清空选定基金的本地历史净值数据完成");
    ShowRange();
}

void CFundHistoryDialog::SetBusy(bool busy)
{
    for (QWidget* w : {static_cast<QWidget*>(m_fund), static_cast<QWidget*>(m_many),
                       static_cast<QWidget*>(m_download), static_cast<QWidget*>(m_clear)})
        w->setEnabled(!busy);
    m_choose->setEnabled(!busy && m_many->isChecked() && m_ctx.chooseFunds);
    m_progress->setVisible(busy);
    if (busy) m_poll->start();
    else m_poll->stop();
    if (!busy) {
        m_cancel.reset();
        m_done.reset();
    }
}

void CFundHistoryDialog::OnDownload()
{
    const std::string code = Chosen();
    if (code.empty() || IsBusy()) return;
    if (!Ask(m_ctx.prompt, "确定要从服务器增量下载选定基金的本地历史净值数据吗?")) return;
    std::vector<std::string> ids;
    if (!m_many->isChecked()) ids.push_back(code);
    else if (m_ctx.chosenFunds) ids = m_ctx.chosenFunds();
    // The requests from the stored ranges here; fetched on the worker; stored back here in one transaction.
    std::vector<HistoryRequest> requests = m_ctx.history->PlanIncrementalDownloads(ids);
    // A fund that failed is said so: the completion text alone would report a failure as success.
    auto finish = [this](size_t failed, const std::string& error) {
        SetBusy(false);
        if (failed == 0) Say(m_ctx.prompt, "从服务器下载选定基金的本地历史净值数据完成");
        else if (m_ctx.prompt)
            m_ctx.prompt->ShowMessage(StrFormat("%d个基金的历史净值下载失败:", static_cast<int>(failed)) + error,
                                      PromptIcon::Error);
        ShowRange();
        emit downloadDone();
    };
    if (requests.empty()) return finish(0, std::string());
    m_progress->setRange(0, static_cast<int>(requests.size()));
    m_progress->setValue(0);
    m_done = std::make_shared<std::atomic<size_t>>(0);
    auto done = m_done;
    QPointer<CFundHistoryDialog> self(this);
    CNavHistory* history = m_ctx.history;
    auto told = m_ctx.fetched;
    Work work = [requests, done, self, history, finish, told](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto fetched = std::make_shared<std::vector<HistoryFetch>>(
            FetchFundHistories(requests, cancelled, [done, told, &cancelled](size_t n, size_t) {
                *done = n;
                if (told) told(n);
                return !cancelled.load();
            }));
        if (cancelled) return nullptr;
        return [requests, fetched, self, history, finish] {
            const size_t stored = history->StoreFundHistories(requests, *fetched);
            std::string error = history->GetLastError();
            for (const HistoryFetch& f : *fetched)
                if (f.result != kMarketOk && !f.error.empty()) error = f.error;
            if (self) finish(requests.size() - stored, error);
        };
    };
    SetBusy(true);
    if (m_ctx.runner) {
        m_cancel = m_ctx.runner->Run(std::move(work));
    } else {
        m_cancel = std::make_shared<std::atomic<bool>>(false);
        RunWork(nullptr, std::move(work));
    }
}

void CFundHistoryDialog::OnCancel()
{
    if (!IsBusy()) return reject();
    // Stops before the next fund's request; nothing of the run is stored.
    CTaskRunner::Cancel(m_cancel);
    SetBusy(false);
    ShowRange();
    emit downloadDone();
}

// ---------------------------------------------------------------- 从服务器下载大盘指数

CIndexHistoryDialog::CIndexHistoryDialog(HistoryDialogContext ctx, QWidget* parent)
    : QDialog(parent), m_ctx(std::move(ctx))
{
    setWindowTitle(QStringLiteral("从服务器下载大盘指数"));
    m_index = new QComboBox;
    m_index->setObjectName("index");
    // Position + 1 is the index number.
    m_index->addItems({QStringLiteral("上证指数(1A0001)"), QStringLiteral("深证成指(399001)"),
                       QStringLiteral("沪深300(399300)")});
    m_range = RangeLabel();
    auto* clear = new QPushButton(QStringLiteral("清空本地数据"));
    auto* pick = new QHBoxLayout;
    pick->addWidget(new QLabel(QStringLiteral("需要下载的大盘指数")));
    pick->addWidget(m_index, 1);
    auto* info = new QGroupBox(QStringLiteral("下载信息"));
    auto* infoLayout = new QVBoxLayout(info);
    infoLayout->addWidget(m_range);
    infoLayout->addWidget(Explanation(
        "如果选定大盘指数本地已有部分数据，则从服务器增量下载大盘指数数据，反之则下载选定大盘指数的全部数据"
        "(注：此时下载会比较慢，请耐心等候）"));
    auto* buttons = new QDialogButtonBox;
    auto* download = buttons->addButton(QStringLiteral("下载"), QDialogButtonBox::AcceptRole);
    auto* close = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(clear);
    auto* top = new QVBoxLayout(this);
    top->addLayout(pick);
    top->addWidget(info);
    top->addLayout(row);
    top->addWidget(buttons);
    setMinimumWidth(480);
    connect(m_index, &QComboBox::currentIndexChanged, this, &CIndexHistoryDialog::ShowRange);
    connect(clear, &QPushButton::clicked, this, &CIndexHistoryDialog::OnClear);
    connect(download, &QPushButton::clicked, this, &CIndexHistoryDialog::OnDownload);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    ShowRange();
}

void CIndexHistoryDialog::SelectIndex(int position) { m_index->setCurrentIndex(position); }

QString CIndexHistoryDialog::RangeText() const { return m_range->text(); }

void CIndexHistoryDialog::ShowRange()
{
    OleDate first, last;
    const bool found = m_ctx.history->GetIndexValueRange(GetIndexCode(m_index->currentIndex() + 1), first, last);
    m_range->setText(RangeOf(found, first, last, "此大盘指数本地无数据", "本地大盘指数数据日期范围:%1 ~ %2"));
}

void CIndexHistoryDialog::OnClear()
{
    if (!Ask(m_ctx.prompt, "确定要清空选定大盘指数的本地数据吗?")) return;
    m_ctx.history->DeleteIndexValues(GetIndexCode(m_index->currentIndex() + 1));
    Say(m_ctx.prompt, "清空选定大盘指数的本地数据完成");
    ShowRange();
}

void CIndexHistoryDialog::OnDownload()
{
    if (!Ask(m_ctx.prompt, "确定要从服务器增量下载选定的大盘指数数据吗?")) return;
    // One request for one series: in place under the wait cursor.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = m_ctx.history->IncrementalDownloadIndex(m_index->currentIndex() + 1);
    QApplication::restoreOverrideCursor();
    if (ok) Say(m_ctx.prompt, "从服务器增量下载选定大盘指数数据完成");
    else if (m_ctx.prompt)
        m_ctx.prompt->ShowMessage("从服务器增量下载选定大盘指数数据失败:" + m_ctx.history->GetLastError(),
                                  PromptIcon::Error);
    ShowRange();
}

}  // namespace vextal

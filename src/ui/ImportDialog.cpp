#include "ui/ImportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "book/AccountManager.h"
#include "book/TradeImport.h"
#include "common/Format.h"
#include "ui/TaskRunner.h"

namespace vextal {

namespace {
QString Num(const char* fmt, double v) { return QString::fromStdString(FormatNumber(fmt, v)); }
}  // namespace

CImportDialog::CImportDialog(const BookDialogContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setWindowTitle(QStringLiteral("导入交易记录"));
    m_account = new QComboBox;
    m_account->setObjectName("account");
    m_file = new QLineEdit;
    m_file->setObjectName("file");
    auto* browse = m_browse = new QPushButton(QStringLiteral("浏览..."));
    auto* preview = m_preview = new QPushButton(QStringLiteral("预览"));
    m_model = new CRowsModel({QStringLiteral("行号"), QStringLiteral("交易时间"), QStringLiteral("基金名称"),
                              QStringLiteral("交易类型"), QStringLiteral("交易金额"), QStringLiteral("交易份数"),
                              QStringLiteral("交易价"), QStringLiteral("手续费"), QStringLiteral("结果")},
                             this);
    m_view = new QTableView;
    m_view->setModel(m_model);
    m_view->verticalHeader()->hide();
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_refusals = new QPlainTextEdit;
    m_refusals->setReadOnly(true);
    m_refusals->setMaximumHeight(110);
    m_refusals->setPlaceholderText(QStringLiteral("被拒绝的行在此列出"));
    m_progress = new QProgressBar;
    m_progress->hide();
    m_status = new QLabel;
    m_status->hide();
    m_poll = new QTimer(this);
    m_poll->setInterval(100);

    auto* form = new QHBoxLayout;
    form->addWidget(new QLabel(QStringLiteral("基金帐户:")));
    form->addWidget(m_account);
    form->addWidget(new QLabel(QStringLiteral("文件:")));
    form->addWidget(m_file, 1);
    form->addWidget(browse);
    form->addWidget(preview);
    auto* hint = new QLabel(QStringLiteral(
        "每行一笔交易：日期,基金代码,类型(申购/认购/赎回/转换/现金红利/红利转投),金额或份数,手续费,净值,目标基金,备注。"
        "有任何一行被拒绝则不导入任何交易。"));
    hint->setWordWrap(true);
    auto* buttons = new QDialogButtonBox;
    m_import = buttons->addButton(QStringLiteral("导入"), QDialogButtonBox::AcceptRole);
    auto* close = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(hint);
    top->addWidget(m_view, 1);
    top->addWidget(new QLabel(QStringLiteral("被拒绝的行:")));
    top->addWidget(m_refusals);
    top->addWidget(m_status);
    top->addWidget(m_progress);
    top->addWidget(buttons);
    resize(860, 540);

    connect(browse, &QPushButton::clicked, this, [this] {
        // The folder of the last file chosen, for the next one.
        static QString folder;
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("导入交易记录"), folder,
                                                          QStringLiteral("CSV (*.csv *.txt);;所有文件 (*)"));
        if (path.isEmpty()) return;
        folder = QFileInfo(path).absolutePath();
        SetFile(path);
    });
    connect(preview, &QPushButton::clicked, this, &CImportDialog::OnPreview);
    connect(m_import, &QPushButton::clicked, this, &CImportDialog::OnImport);
    connect(close, &QPushButton::clicked, this, &CImportDialog::reject);
    connect(m_poll, &QTimer::timeout, this, [this] {
        if (m_done) m_progress->setValue(static_cast<int>(m_done->load()));
    });
    FillAccounts(m_account, m_ctx, m_ctx.currentAccount);
}

void CImportDialog::SetFile(const QString& path)
{
    m_file->setText(path);
    OnPreview();
}

QString CImportDialog::Refusals() const { return m_refusals->toPlainText(); }

bool CImportDialog::ReadFile(std::string& bytes)
{
    QFile file(m_file->text().trimmed());
    if (m_file->text().trimmed().isEmpty() || !file.open(QIODevice::ReadOnly)) {
        m_ctx.Say("无法打开文件:" + m_file->text().toStdString(), PromptIcon::Warning);
        return false;
    }
    bytes = file.readAll().toStdString();
    return true;
}

void CImportDialog::Show(const ImportResult& result)
{
    std::set<int> refusedLines;
    for (const ImportRefusal& r : result.refusals) refusedLines.insert(r.line);
    std::vector<QStringList> rows;
    for (const ImportRow& r : result.rows) {
        const bool refused = refusedLines.count(r.line) > 0;
        const TradeInfo& t = r.trade;
        const bool byShares = r.kind == ImportKind::Redemption || r.kind == ImportKind::Conversion;
        QString name = m_ctx.FundLabel(t.FundID);
        if (r.kind == ImportKind::Conversion) name += QStringLiteral(" → ") + m_ctx.FundLabel(t.TargetFundID);
        rows.push_back({QString::number(r.line), QString::fromStdString(t.TradeTime.Format(6)), name,
                        QString::fromUtf8(ImportKindName(r.kind)),
                        t.TradeMoney > 0 || !byShares ? Num("%0.2f", t.TradeMoney) : QString(),
                        t.TradeCount > 0 ? Num("%0.2f", t.TradeCount) : QString(),
                        t.TradeValue > 0 && !refused ? Num("%0.4f", t.TradeValue) : QString(),
                        refused || Skipped(r) ? QString() : Num("%0.2f", r.feeYuan), Outcome(r, refused, result.booked)});
    }
    m_model->SetRows(std::move(rows));
    m_view->resizeColumnsToContents();
    QStringList refused;
    for (const ImportRefusal& r : result.refusals) refused << QString::fromStdString(r.Text());
    m_refusals->setPlainText(refused.join('\n'));
}

bool CImportDialog::Skipped(const ImportRow& row) const { return row.duplicate && !m_bookDuplicates; }

QString CImportDialog::Outcome(const ImportRow& row, bool refused, bool booked) const
{
    if (refused) return QStringLiteral("拒绝");
    if (Skipped(row)) return booked ? QStringLiteral("重复，未记帐") : QStringLiteral("重复，确认后才记帐");
    return booked ? QStringLiteral("已记帐") : QStringLiteral("可以记帐");
}

void CImportDialog::OnPreview()
{
    if (!IsBusy()) Start(true);
}

void CImportDialog::OnImport()
{
    if (IsBusy() && m_importing) return;
    // A preview still running only shows figures: the import replaces it.
    if (IsBusy()) CTaskRunner::Cancel(m_cancel);
    Start(false);
}

void CImportDialog::reject()
{
    if (!IsBusy()) return QDialog::reject();
    // The run stops before its next row or its commit: nothing is booked.
    CTaskRunner::Cancel(m_cancel);
    ++m_serial;
    SetBusy(false);
    m_status->setText(QStringLiteral("已取消，没有导入任何交易"));
    m_status->show();
    emit runDone();
}

void CImportDialog::SetBusy(bool busy)
{
    for (QWidget* w : {static_cast<QWidget*>(m_browse), static_cast<QWidget*>(m_preview),
                       static_cast<QWidget*>(m_account), static_cast<QWidget*>(m_file)})
        w->setEnabled(!busy);
    // "导入" stays for a preview, which it replaces, not for an import.
    m_import->setEnabled(!busy || !m_importing);
    m_file->setEnabled(!busy);
    m_progress->setVisible(busy);
    m_status->setVisible(busy);
    if (busy) m_poll->start();
    else m_poll->stop();
    if (!busy) {
        m_cancel.reset();
        m_done.reset();
    }
}

void CImportDialog::Start(bool dryRun)
{
    std::string bytes;
    if (!ReadFile(bytes)) return;
    const int account = ChosenAccount(m_account);
    // The window's engine and fund data are read here; the worker books
    // through an engine and a connection of its own and asks the service.
    ImportJob job = PrepareImport(*m_ctx.accounts, *m_ctx.db, m_ctx.funds, account, bytes, dryRun);
    // Rows the account already holds are booked again only when the user says so.
    job.bookDuplicates =
        !dryRun && job.duplicates > 0 &&
        m_ctx.Ask(StrFormat("文件中有%d笔交易与帐户中已有的记帐相同（日期、基金、类型和金额或份数都相同）。"
                            "要再次记入这些交易吗?选择“否”则只导入其余的交易。",
                            static_cast<int>(job.duplicates)));
    m_bookDuplicates = job.bookDuplicates;
    const int rows = static_cast<int>(job.rows);
    const int serial = ++m_serial;
    auto done = std::make_shared<std::atomic<size_t>>(0);
    QPointer<CImportDialog> self(this);
    CAccountManager* accounts = m_ctx.accounts;
    Work work = [job, done, self, serial, accounts, dryRun](const std::atomic<bool>& cancelled) -> WorkFinish {
        ImportControl control;
        control.cancelled = &cancelled;
        control.progress = [done](size_t n, size_t) { *done = n; };
        auto result = std::make_shared<ImportResult>(ImportTradesElsewhere(job, control));
        if (!result->booked && cancelled) return nullptr;  // stopped: nothing to show or store
        return [self, serial, result, accounts, job, dryRun] {
            // The file is in the database: the window's engine reads it and
            // tells the lists, whether or not the dialog is still open.
            if (result->booked) accounts->TakeCommittedRows(job.accountId);
            if (self && self->m_serial == serial) self->Finished(dryRun, *result);
            else if (self && result->booked) self->CommittedAfterCancel(*result);
        };
    };
    m_progress->setRange(0, std::max(rows, 1));
    m_progress->setValue(0);
    m_status->setText(dryRun ? QStringLiteral("正在预览...") : QStringLiteral("正在导入..."));
    m_done = done;
    m_importing = !dryRun;
    if (m_ctx.runner) {
        m_cancel = m_ctx.runner->Run(std::move(work));
        SetBusy(true);
    } else {
        // No worker (tests, the command line): in place.
        m_cancel = std::make_shared<std::atomic<bool>>(false);
        SetBusy(true);
        RunWork(nullptr, std::move(work));
    }
}

void CImportDialog::CommittedAfterCancel(const ImportResult& result)
{
    // "取消" came after the commit: the rows are booked, and the dialog must
    // not go on saying that nothing was.
    const int n = BookedRows(result);
    m_status->setText(QString::fromStdString(StrFormat("取消时导入已经完成：%d笔交易已导入", n)));
    m_status->show();
    m_ctx.Say(StrFormat("导入成功：%d笔交易", n));
}

int CImportDialog::BookedRows(const ImportResult& result) const
{
    return static_cast<int>(std::count_if(result.rows.begin(), result.rows.end(),
                                          [this](const ImportRow& r) { return !Skipped(r); }));
}

void CImportDialog::Finished(bool dryRun, const ImportResult& result)
{
    SetBusy(false);
    Show(result);
    if (!dryRun && !result.booked) {
        m_ctx.Say(StrFormat("导入失败：%d行被拒绝，没有导入任何交易", static_cast<int>(result.refusals.size())),
                  PromptIcon::Warning);
    } else if (!dryRun) {
        m_ctx.Say(StrFormat("导入成功：%d笔交易", BookedRows(result)));
        accept();
    }
    emit runDone();
}

}  // namespace vextal

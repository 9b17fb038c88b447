#include "ui/ImportDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <set>

#include "book/AccountManager.h"
#include "book/TradeImport.h"
#include "common/Format.h"

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
    auto* browse = new QPushButton(QStringLiteral("浏览..."));
    auto* preview = new QPushButton(QStringLiteral("预览"));
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
    top->addWidget(buttons);
    resize(860, 540);

    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("导入交易记录"), QString(),
                                                          QStringLiteral("CSV (*.csv *.txt);;所有文件 (*)"));
        if (!path.isEmpty()) SetFile(path);
    });
    connect(preview, &QPushButton::clicked, this, &CImportDialog::OnPreview);
    connect(m_import, &QPushButton::clicked, this, &CImportDialog::OnImport);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
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
                        refused ? QString() : Num("%0.2f", r.feeYuan),
                        refused ? QStringLiteral("拒绝") : result.booked ? QStringLiteral("已记帐") : QStringLiteral("可以记帐")});
    }
    m_model->SetRows(std::move(rows));
    m_view->resizeColumnsToContents();
    QStringList refused;
    for (const ImportRefusal& r : result.refusals) refused << QString::fromStdString(r.Text());
    m_refusals->setPlainText(refused.join('\n'));
}

void CImportDialog::OnPreview()
{
    std::string bytes;
    if (!ReadFile(bytes)) return;
    // The engine asks the service for each row's NAV: the busy cursor says so.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ImportResult result = ImportTrades(*m_ctx.accounts, *m_ctx.db, ChosenAccount(m_account), bytes, true, m_ctx.funds);
    QApplication::restoreOverrideCursor();
    Show(result);
}

void CImportDialog::OnImport()
{
    std::string bytes;
    if (!ReadFile(bytes)) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ImportResult result = ImportTrades(*m_ctx.accounts, *m_ctx.db, ChosenAccount(m_account), bytes, false, m_ctx.funds);
    QApplication::restoreOverrideCursor();
    Show(result);
    if (!result.booked) {
        return m_ctx.Say(StrFormat("导入失败：%d行被拒绝，没有导入任何交易", static_cast<int>(result.refusals.size())),
                         PromptIcon::Warning);
    }
    m_ctx.Say(StrFormat("导入成功：%d笔交易", static_cast<int>(result.rows.size())));
    m_ctx.Changed();
    accept();
}

}  // namespace vextal

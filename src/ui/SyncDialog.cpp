#include "ui/SyncDialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <memory>

#include "book/AccountManager.h"
#include "ui/TaskRunner.h"

namespace vextal {

namespace {
const char* const kVipOnlyText = "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。";

WorkRunner RunnerOf(CTaskRunner* runner) { return runner ? runner->AsRunner() : WorkRunner(); }
}  // namespace

CSyncDialog::CSyncDialog(const BookDialogContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setWindowTitle(QStringLiteral("记帐数据上传/下载"));
    auto* group = new QGroupBox(QStringLiteral("帐户名称相同时"));
    m_createNew = new QRadioButton(QStringLiteral("帐户名称相同则新建"));
    m_replace = new QRadioButton(QStringLiteral("帐户名称相同则替换"));
    m_createNew->setChecked(true);
    auto* options = new QVBoxLayout(group);
    options->addWidget(m_createNew);
    options->addWidget(m_replace);
    m_progress = new QProgressBar;
    m_progress->setRange(0, 0);  // the service gives no sizes: a busy bar
    m_progress->setTextVisible(false);
    m_progress->hide();
    m_status = new QLabel;
    m_status->hide();
    auto* buttons = new QDialogButtonBox;
    m_upload = buttons->addButton(QStringLiteral("上传记帐数据"), QDialogButtonBox::ActionRole);
    m_download = buttons->addButton(QStringLiteral("下载记帐数据"), QDialogButtonBox::ActionRole);
    m_cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(m_upload, &QPushButton::clicked, this, &CSyncDialog::OnUpload);
    connect(m_download, &QPushButton::clicked, this, &CSyncDialog::OnDownload);
    connect(m_cancel, &QPushButton::clicked, this, &CSyncDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addWidget(group);
    top->addWidget(m_status);
    top->addWidget(m_progress);
    top->addWidget(buttons);
    setMinimumWidth(420);
}

void CSyncDialog::SetCreateNew(bool createNew) { (createNew ? m_createNew : m_replace)->setChecked(true); }

void CSyncDialog::SetBusy(bool busy, const QString& what)
{
    m_busy = busy;
    m_progress->setVisible(busy);
    m_status->setText(what);
    m_status->setVisible(busy);
    for (QWidget* w : {static_cast<QWidget*>(m_upload), static_cast<QWidget*>(m_download),
                       static_cast<QWidget*>(m_cancel), static_cast<QWidget*>(m_createNew),
                       static_cast<QWidget*>(m_replace)})
        w->setEnabled(!busy);
}

void CSyncDialog::reject()
{
    // The answer of a running request still has to be stored or reported.
    if (m_busy) return;
    QDialog::reject();
}

void CSyncDialog::OnUpload()
{
    if (m_busy || !m_ctx.Ask("确定要上传本地记帐数据到服务器吗?")) return;
    // A text that could not be made whole is not sent at all.
    std::string text;
    if (!m_ctx.accounts->ExportBookkeeping(text))
        return m_ctx.Say("上传记帐数据失败:" + m_ctx.accounts->GetLastErrorText(), PromptIcon::Error);
    const bool createNew = m_createNew->isChecked();
    SetBusy(true, QStringLiteral("正在上传记帐数据…"));
    QPointer<CSyncDialog> self(this);
    const CAccountManager* accounts = m_ctx.accounts;
    RunWork(RunnerOf(m_ctx.runner), [self, accounts, text, createNew](const std::atomic<bool>&) -> WorkFinish {
        auto error = std::make_shared<std::string>();
        const bool ok = accounts->SendBookkeeping(text, createNew, *error);
        return [self, ok, error] {
            if (!self) return;
            self->SetBusy(false);
            if (ok) self->m_ctx.Say("上传记帐数据成功");
            else self->m_ctx.Say("上传记帐数据失败:" + *error, PromptIcon::Error);
            emit self->workDone();
        };
    });
}

void CSyncDialog::OnDownload()
{
    if (m_busy) return;
    if (m_ctx.isVip && !m_ctx.isVip()) return m_ctx.Say(kVipOnlyText, PromptIcon::Warning);
    if (!m_ctx.Ask("确定要从服务器下载记帐数据到本地数据库吗?")) return;
    const bool createNew = m_createNew->isChecked();
    SetBusy(true, QStringLiteral("正在下载记帐数据…"));
    QPointer<CSyncDialog> self(this);
    CAccountManager* accounts = m_ctx.accounts;
    RunWork(RunnerOf(m_ctx.runner), [self, accounts, createNew](const std::atomic<bool>&) -> WorkFinish {
        auto text = std::make_shared<std::string>();
        auto error = std::make_shared<std::string>();
        const bool fetched = accounts->FetchBookkeeping(*text, *error);
        // The merge writes the database: back on the window's thread.
        return [self, accounts, createNew, fetched, text, error] {
            // The engine tells the window's lists what the merge changed.
            const bool ok = fetched && accounts->MergeBookkeeping(*text, createNew);
            if (!self) return;
            self->SetBusy(false);
            if (ok) {
                self->m_ctx.Say("下载记帐数据成功");
            } else {
                self->m_ctx.Say("下载记帐数据失败:" + (fetched ? accounts->GetLastErrorText() : *error),
                                PromptIcon::Error);
            }
            emit self->workDone();
        };
    });
}

}  // namespace vextal

#include "ui/LoginDialogs.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/VextalDoc.h"
#include "ui/OptionsDialog.h"
#include "ui/WebPane.h"

namespace vextal {

namespace {

std::string Text(const QLineEdit* e) { return e->text().toStdString(); }

QDialogButtonBox* Buttons(QDialog* dialog, const QString& ok)
{
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    box->button(QDialogButtonBox::Ok)->setText(ok);
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

}  // namespace

CLoginDialog::CLoginDialog(CVextalDoc& doc, IUserPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_doc(doc), m_prompt(prompt), m_logic(doc, prompt)
{
    setWindowTitle(QStringLiteral("登录"));
    m_page = new CWebPane(this);
    m_page->setMinimumSize(460, 200);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("name"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_remember = new QCheckBox(QStringLiteral("记住密码"), this);
    m_offline = new QCheckBox(QStringLiteral("脱机运行"), this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("用户名:"), m_name);
    form->addRow(QStringLiteral("密码:"), m_password);
    auto* checks = new QHBoxLayout;
    checks->addWidget(m_remember);
    checks->addWidget(m_offline);
    checks->addStretch();
    auto* login = new QPushButton(QStringLiteral("登录"), this);
    login->setDefault(true);
    auto* reg = new QPushButton(QStringLiteral("注册"), this);
    auto* options = new QPushButton(QStringLiteral("设置"), this);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {login, reg, options, cancel}) buttons->addWidget(b);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_page, 1);
    layout->addLayout(form);
    layout->addLayout(checks);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    m_inputs = {m_name, m_password, m_remember, m_offline, login, reg, options};
    m_countdown.setInterval(1000);
    connect(&m_countdown, &QTimer::timeout, this, &CLoginDialog::Tick);
    connect(login, &QPushButton::clicked, this, &CLoginDialog::accept);
    connect(reg, &QPushButton::clicked, this, &CLoginDialog::Register);
    // Before login too: a proxy may be needed to reach the service at all.
    connect(options, &QPushButton::clicked, this,
            [this] { RunOptionsDialog(m_doc.Settings(), DefaultIniPath(), m_prompt, this); });
    connect(cancel, &QPushButton::clicked, this, &CLoginDialog::reject);
}

bool CLoginDialog::Prepare()
{
    CLoginDialogLogic::OpenState state = m_logic.OnOpen();
    if (state.endProgram) return false;
    SetForm(state.form);
    Focus(state.focus);
    m_page->Load(QString::fromStdString(state.pagePath));
    return true;
}

void CLoginDialog::SetForm(const CLoginForm& form)
{
    m_name->setText(QString::fromStdString(form.name));
    m_password->setText(QString::fromStdString(form.password));
    m_remember->setChecked(form.rememberPassword);
    m_offline->setChecked(form.offline);
}

CLoginForm CLoginDialog::Form() const
{
    return {Text(m_name), Text(m_password), m_remember->isChecked(), m_offline->isChecked()};
}

void CLoginDialog::Focus(DialogFocus focus)
{
    if (focus == DialogFocus::Name) m_name->setFocus();
    if (focus == DialogFocus::Password) m_password->setFocus();
}

void CLoginDialog::accept()
{
    if (m_pending) return;  // one login at a time
    const CLoginForm form = Form();
    DialogFocus focus = DialogFocus::None;
    if (!m_logic.BeginLogin(form, &focus)) {
        Focus(focus);
        return;
    }
    if (!form.offline) {
        StartOnlineLogin(form);
        return;
    }
    // The local table only: no wait worth a worker.
    if (m_logic.FinishOffline(form)) QDialog::accept();
    else Focus(DialogFocus::Password);
}

void CLoginDialog::StartOnlineLogin(const CLoginForm& form)
{
    const CLoginDialogLogic::Question question = m_logic.LoginQuestion();
    QPointer<CLoginDialog> self(this);
    m_pending = m_runner.Run([question, form, self](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto reply = std::make_shared<CommandReply>(CLoginDialogLogic::Ask(question));
        if (cancelled) return nullptr;
        return [self, form, reply] {
            if (self) self->Answered(form, *reply);
        };
    });
    for (QWidget* w : m_inputs) w->setEnabled(false);
    m_left = m_waitSeconds;
    m_status->setText(QStringLiteral("正在登录，最多再等%1秒…").arg(m_left));
    m_countdown.start();
}

void CLoginDialog::Tick()
{
    if (!m_pending) return;
    if (--m_left > 0) {
        m_status->setText(QStringLiteral("正在登录，最多再等%1秒…").arg(m_left));
        return;
    }
    // The service did not answer in time: given up as a failed request.
    EndLogin(QStringLiteral("服务器%1秒内没有回答").arg(m_waitSeconds));
    CommandReply reply;
    reply.status = CommandStatus::SendFailed;
    reply.error = kSendRequestErrorLogin;
    m_logic.FinishOnline(Form(), reply);
}

void CLoginDialog::Answered(const CLoginForm& form, const CommandReply& reply)
{
    if (!m_pending) return;
    EndLogin(QString());
    if (m_logic.FinishOnline(form, reply)) QDialog::accept();
    else Focus(DialogFocus::Password);
}

void CLoginDialog::EndLogin(const QString& status)
{
    CTaskRunner::Cancel(m_pending);
    m_pending.reset();
    m_countdown.stop();
    m_status->setText(status);
    for (QWidget* w : m_inputs) w->setEnabled(true);
}

void CLoginDialog::reject()
{
    if (m_pending) {
        EndLogin(QStringLiteral("登录已取消"));
        return;
    }
    QDialog::reject();
}

QString CLoginDialog::StatusText() const { return m_status->text(); }

void CLoginDialog::Register()
{
    CRegisterDialog dialog(m_logic, this);
    if (dialog.exec() != QDialog::Accepted) return;
    m_name->setText(QString::fromStdString(dialog.Form().loginName));
    m_password->setText(QString::fromStdString(dialog.Form().password));
}

CRegisterDialog::CRegisterDialog(CLoginDialogLogic& logic, QWidget* parent) : QDialog(parent), m_logic(logic)
{
    setWindowTitle(QStringLiteral("注册"));
    auto* form = new QFormLayout;
    const char* labels[] = {"用户名:", "Email:", "昵称:", "密码:"};
    for (int i = 0; i < 4; ++i) {
        m_fields[i] = new QLineEdit(this);
        form->addRow(QString::fromUtf8(labels[i]), m_fields[i]);
    }
    m_fields[3]->setEchoMode(QLineEdit::Password);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    auto* notice = new QLabel(QStringLiteral("注册成功后，系统将向您的Email发送激活邮件，请激活后再登录。"), this);
    notice->setWordWrap(true);
    layout->addWidget(notice);
    layout->addWidget(Buttons(this, QStringLiteral("注册")));
}

void CRegisterDialog::accept()
{
    m_form = {Text(m_fields[0]), Text(m_fields[1]), Text(m_fields[2]), Text(m_fields[3])};
    DialogFocus focus = DialogFocus::None;
    if (m_logic.OnRegister(m_form, &focus)) QDialog::accept();
}

CUserInfoDialog::CUserInfoDialog(CVextalDoc& doc, IUserPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_doc(doc), m_prompt(prompt)
{
    setWindowTitle(QStringLiteral("修改用户信息"));
    m_email = new QLineEdit(QString::fromStdString(doc.User().Email), this);
    m_email->setReadOnly(true);
    // The whole address shows, however long.
    m_email->setMinimumWidth(std::max(240, m_email->fontMetrics().horizontalAdvance(m_email->text()) + 24));
    m_nickname = new QLineEdit(QString::fromStdString(doc.User().NickName), this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Email:"), m_email);
    form->addRow(QStringLiteral("昵称:"), m_nickname);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Buttons(this, QStringLiteral("保存")));
}

void CUserInfoDialog::accept()
{
    if (SaveUserInformation(m_doc, m_prompt, Text(m_email), Text(m_nickname))) QDialog::accept();
}

CPasswordDialog::CPasswordDialog(CVextalDoc& doc, IUserPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_doc(doc), m_prompt(prompt)
{
    setWindowTitle(QStringLiteral("设置登录密码"));
    m_old = new QLineEdit(this);
    m_new = new QLineEdit(this);
    m_old->setEchoMode(QLineEdit::Password);
    m_new->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("旧密码:"), m_old);
    form->addRow(QStringLiteral("新密码:"), m_new);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Buttons(this, QStringLiteral("设置")));
}

void CPasswordDialog::accept()
{
    DialogFocus focus = DialogFocus::None;
    if (ChangeLoginPassword(m_doc, m_prompt, Text(m_old), Text(m_new), &focus)) QDialog::accept();
    else if (focus == DialogFocus::OldPassword) m_old->setFocus();
}

}  // namespace vextal

#include "app/LoginDialogLogic.h"

#include "app/PageFiles.h"
#include "app/ProgramState.h"
#include "app/Settings.h"
#include "app/VextalDoc.h"
#include "common/Format.h"
#include "common/ProgramDir.h"
#include "db/Schema.h"
#include "net/HttpTransport.h"

namespace vextal {
namespace {

void SetFocus(DialogFocus* out, DialogFocus focus)
{
    if (out) *out = focus;
}

// Shows `text` and puts the focus on `field`; always false.
bool Refuse(IUserPrompt& prompt, const char* text, DialogFocus* out, DialogFocus field)
{
    prompt.ShowMessage(text, PromptIcon::Warning);
    SetFocus(out, field);
    return false;
}

void ShowFailure(IUserPrompt& prompt, const char* format, const CMembership& membership)
{
    prompt.ShowMessage(StrFormat(format, membership.GetErrorText().c_str()), PromptIcon::Warning);
}

}  // namespace

CLoginDialogLogic::CLoginDialogLogic(CVextalDoc& doc, IUserPrompt& prompt)
    : m_doc(doc), m_prompt(prompt), m_version(doc, prompt)
{
}

CLoginDialogLogic::OpenState CLoginDialogLogic::OnOpen()
{
    OpenState state;
    PrepareHtmlFiles(m_doc.Settings().serverUrl, true);
    CLoginSettings stored = ReadLoginSettings();
    state.form.offline = stored.loginFlag != 0;
    state.form.name = stored.name;
    state.form.password = stored.password;
    state.form.rememberPassword = !stored.password.empty();
    if (!stored.name.empty()) state.focus = DialogFocus::Password;
    if (!state.form.offline) {
        {
            // Asked before the dialog is shown, on the window's thread: a
            // service that does not answer soon is not waited for.
            CHttpCancelScope limit(nullptr, kVersionQuestionWaitMs);
            m_version.GetClientVersion();
        }
        state.endProgram = m_version.CheckNewVersion();
    }
    state.pagePath = ProgramPath(std::string(kHtmlFolder) + "/vextal.htm");
    return state;
}

bool CLoginDialogLogic::OnLogin(const CLoginForm& form, DialogFocus* focus)
{
    if (!BeginLogin(form, focus)) return false;
    if (form.offline) return FinishOffline(form);
    return FinishOnline(form, Ask(LoginQuestion()));
}

bool CLoginDialogLogic::BeginLogin(const CLoginForm& form, DialogFocus* focus)
{
    SetFocus(focus, DialogFocus::None);
    const std::string name = TrimText(form.name);
    if (name.empty()) return Refuse(m_prompt, kEmptyLoginName, focus, DialogFocus::Name);
    CUserInfo& user = m_doc.User();
    user.LoginName = name;
    user.Password = TrimText(form.password);
    user.OfflineFlag = form.offline ? 1 : 0;
    SetProgramOffline(form.offline);
    return true;
}

CLoginDialogLogic::Question CLoginDialogLogic::LoginQuestion() const
{
    return {m_doc.Membership().GetCommandUrl(), m_doc.User(), m_doc.GetClientVersion()};
}

CommandReply CLoginDialogLogic::Ask(const Question& question)
{
    return CMembership::AskLogin(question.commandUrl, question.user, question.clientVersion);
}

bool CLoginDialogLogic::FinishOnline(const CLoginForm& form, const CommandReply& reply)
{
    return Finish(form, m_doc.Membership().TakeLoginReply(m_doc.User(), reply));
}

bool CLoginDialogLogic::FinishOffline(const CLoginForm& form)
{
    // The offline login reads the local copy: without the database file
    // there is nothing to check, which the database's own text would not say.
    if (!m_doc.IsDatabaseOpen()) {
        m_prompt.ShowMessage(StrFormat("登录失败:数据库文件 %s 没有打开,不能离线登录。\n"
                                       "请在线登录,或者重新启动程序按提示打开备份或新建数据库文件。",
                                       ProgramPath(kDatabaseFileName).c_str()),
                             PromptIcon::Warning);
        return false;
    }
    return Finish(form, m_doc.Membership().LoginOffline(m_doc.User()));
}

bool CLoginDialogLogic::Finish(const CLoginForm& form, int rc)
{
    if (rc != 0) {
        ShowFailure(m_prompt, kLoginFailed, m_doc.Membership());
        return false;
    }
    const CUserInfo& user = m_doc.User();
    SaveLoginSettings(user.LoginName, m_doc.Settings().serverUrl, user.Password, form.rememberPassword,
                      user.OfflineFlag);
    m_doc.TrimFundList();
    return true;
}

bool CLoginDialogLogic::OnRegister(CRegisterForm& form, DialogFocus* focus)
{
    SetFocus(focus, DialogFocus::None);
    form.loginName = TrimText(form.loginName);
    form.email = TrimText(form.email);
    form.nickname = TrimText(form.nickname);
    form.password = TrimText(form.password);
    if (form.loginName.empty()) return Refuse(m_prompt, "用户名不能为空", focus, DialogFocus::Name);
    if (form.email.empty()) return Refuse(m_prompt, "Email不能为空", focus, DialogFocus::Email);
    if (form.nickname.empty()) return Refuse(m_prompt, "姓名不能为空", focus, DialogFocus::Nickname);
    if (form.password.empty()) return Refuse(m_prompt, "密码不能为空", focus, DialogFocus::Password);

    CMembership& membership = m_doc.Membership();
    if (!membership.Register(form.loginName, form.email, form.nickname, form.password)) {
        ShowFailure(m_prompt, kRegisterFailed, membership);
        return false;
    }
    m_prompt.ShowMessage(kRegisterDone, PromptIcon::Information);
    return true;
}

bool SaveUserInformation(CVextalDoc& doc, IUserPrompt& prompt, const std::string& email, const std::string& nickname,
                         DialogFocus* focus)
{
    SetFocus(focus, DialogFocus::None);
    CUserInfo changed = doc.User();
    changed.Email = TrimText(email);
    changed.NickName = TrimText(nickname);
    if (changed.Email.empty()) return Refuse(prompt, "Email不能为空", focus, DialogFocus::Email);
    if (changed.NickName.empty()) return Refuse(prompt, "姓名不能为空", focus, DialogFocus::Nickname);
    if (!doc.Membership().UpdateUser(changed, doc.User().Password)) {
        ShowFailure(prompt, kUpdateFailed, doc.Membership());
        return false;
    }
    doc.User() = changed;
    prompt.ShowMessage(kUpdateDone, PromptIcon::Information);
    return true;
}

bool ChangeLoginPassword(CVextalDoc& doc, IUserPrompt& prompt, const std::string& oldPassword,
                         const std::string& newPassword, DialogFocus* focus)
{
    SetFocus(focus, DialogFocus::None);
    // Trimmed as the login dialog trims what is typed, or the stored
    // password could never be typed again.
    if (TrimText(oldPassword) != doc.User().Password)
        return Refuse(prompt, kWrongOldPassword, focus, DialogFocus::OldPassword);
    CUserInfo changed = doc.User();
    changed.Password = TrimText(newPassword);
    if (!doc.Membership().UpdateUser(changed, doc.User().Password)) {
        ShowFailure(prompt, kPasswordFailed, doc.Membership());
        return false;
    }
    doc.User() = changed;
    // The offline login checks the local copy: it must not keep accepting
    // the old password.
    doc.Membership().SaveLocalUser(changed);
    doc.Accounts().LoadAccounts(changed.UserID);
    return true;
}

}  // namespace vextal

#pragma once
// What the login, registration, user information and password dialogs do,
// without the widgets: the dialogs collect fields, call these, and show
// nothing themselves (messages go through IUserPrompt).
#include <string>

#include "app/Membership.h"
#include "app/VersionCheck.h"
#include "common/UserPrompt.h"

namespace vextal {

class CVextalDoc;

inline constexpr const char* kEmptyLoginName = "登录用户名不能为空";
// The longest the opening of the login dialog waits for the newest version.
inline constexpr int kVersionQuestionWaitMs = 5000;
inline constexpr const char* kLoginFailed = "登录失败:%s";
inline constexpr const char* kRegisterFailed = "注册失败:%s";
inline constexpr const char* kRegisterDone =
    "恭喜，注册成功，请到注册时使用的电子邮箱中查收激活邮件，激活帐户。";
inline constexpr const char* kUpdateDone = "修改成功";
inline constexpr const char* kUpdateFailed = "修改失败:%s";
inline constexpr const char* kWrongOldPassword = "旧密码不正确";
inline constexpr const char* kPasswordFailed = "设置登录密码失败:%s";

// The login dialog's fields.
struct CLoginForm {
    std::string name;
    std::string password;
    bool rememberPassword = false;
    bool offline = false;
};

// The registration dialog's fields.
struct CRegisterForm {
    std::string loginName;
    std::string email;
    std::string nickname;
    std::string password;
};

enum class DialogFocus { None, Name, Password, Email, Nickname, OldPassword };

class CLoginDialogLogic {
public:
    CLoginDialogLogic(CVextalDoc& doc, IUserPrompt& prompt);

    struct OpenState {
        CLoginForm form;
        DialogFocus focus = DialogFocus::None;
        bool endProgram = false;  // the updater was started: close and end
        std::string pagePath;     // Html/vextal.htm for the browser control
    };
    // Missing page files fetched, the stored login values read, and in
    // online mode the version check run.
    OpenState OnOpen();

    // "登录": true when the dialog closes with OK. Otherwise a message was
    // shown and `focus` (when given) says where the focus goes.
    bool OnLogin(const CLoginForm& form, DialogFocus* focus = nullptr);

    // The same in three steps, so that the window stays live while the
    // service is asked: the checks and the user record (false: refused as
    // OnLogin refuses); an offline login then ends with FinishOffline, an
    // online one asks with Ask (any thread) and ends with FinishOnline.
    struct Question {
        std::string commandUrl;
        CUserInfo user;
        std::string clientVersion;
    };
    bool BeginLogin(const CLoginForm& form, DialogFocus* focus = nullptr);
    Question LoginQuestion() const;
    static CommandReply Ask(const Question& question);
    bool FinishOnline(const CLoginForm& form, const CommandReply& reply);
    bool FinishOffline(const CLoginForm& form);

    // "注册" of the registration dialog: true when registered; the trimmed
    // name and password are then in `form` for the login dialog.
    bool OnRegister(CRegisterForm& form, DialogFocus* focus = nullptr);

    CVersionCheck& VersionCheck() { return m_version; }

private:
    // Success: the login settings stored and the fund list trimmed; failure shown.
    bool Finish(const CLoginForm& form, int rc);

    CVextalDoc& m_doc;
    IUserPrompt& m_prompt;
    CVersionCheck m_version;
};

// "保存" of the user information dialog.
bool SaveUserInformation(CVextalDoc& doc, IUserPrompt& prompt, const std::string& email, const std::string& nickname,
                         DialogFocus* focus = nullptr);
// "设置" of the password dialog: on success the user record carries the new
// password and the accounts are reloaded.
bool ChangeLoginPassword(CVextalDoc& doc, IUserPrompt& prompt, const std::string& oldPassword,
                         const std::string& newPassword, DialogFocus* focus = nullptr);

}  // namespace vextal

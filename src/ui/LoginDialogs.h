#pragma once
// The login dialog and the user dialogs around it: registration, user
// information, login password. They collect fields and show what the
// document's login logic decides.
#include <QDialog>
#include <QList>
#include <QTimer>

#include "app/LoginDialogLogic.h"
#include "ui/TaskRunner.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace vextal {

class CVextalDoc;
class CWebPane;

// The login dialog. An online login asks the service on a worker: the
// dialog stays live, counts down the seconds it still waits, and its 取消
// gives the login up (a second 取消 closes the dialog).
class CLoginDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kLoginWaitSeconds = 20;

    CLoginDialog(CVextalDoc& doc, IUserPrompt& prompt, QWidget* parent = nullptr);
    // Reads the stored login and runs the version check; false when the
    // program must end (an update was started).
    bool Prepare();
    void SetForm(const CLoginForm& form);
    CLoginForm Form() const;
    void accept() override;
    // 取消, Esc or the window's close: gives up a login going, else closes.
    void reject() override;
    CLoginDialogLogic& Logic() { return m_logic; }
    // How long a login waits for the service before it is given up.
    void SetWaitSeconds(int seconds) { m_waitSeconds = seconds; }
    bool IsLoggingIn() const { return m_pending != nullptr; }
    bool IsWorking() const { return m_runner.IsBusy(); }
    QString StatusText() const;

private:
    void Register();
    void Focus(DialogFocus focus);
    void StartOnlineLogin(const CLoginForm& form);
    void Answered(const CLoginForm& form, const CommandReply& reply);
    // The login going ends: its request given up, the fields usable again.
    void EndLogin(const QString& status);
    void Tick();

    CVextalDoc& m_doc;
    IUserPrompt& m_prompt;
    CLoginDialogLogic m_logic;
    QLineEdit* m_name;
    QLineEdit* m_password;
    QCheckBox* m_remember;
    QCheckBox* m_offline;
    QLabel* m_status;
    QList<QWidget*> m_inputs;  // off while a login goes
    CWebPane* m_page;
    CTaskRunner m_runner;
    CTaskRunner::CancelFlag m_pending;
    QTimer m_countdown;
    int m_waitSeconds = kLoginWaitSeconds;
    int m_left = 0;
};

class CRegisterDialog : public QDialog {
    Q_OBJECT

public:
    CRegisterDialog(CLoginDialogLogic& logic, QWidget* parent = nullptr);
    const CRegisterForm& Form() const { return m_form; }
    void accept() override;

private:
    CLoginDialogLogic& m_logic;
    CRegisterForm m_form;
    QLineEdit* m_fields[4];
};

class CUserInfoDialog : public QDialog {
    Q_OBJECT

public:
    CUserInfoDialog(CVextalDoc& doc, IUserPrompt& prompt, QWidget* parent = nullptr);
    void accept() override;

private:
    CVextalDoc& m_doc;
    IUserPrompt& m_prompt;
    QLineEdit* m_email;
    QLineEdit* m_nickname;
};

class CPasswordDialog : public QDialog {
    Q_OBJECT

public:
    CPasswordDialog(CVextalDoc& doc, IUserPrompt& prompt, QWidget* parent = nullptr);
    void accept() override;

private:
    CVextalDoc& m_doc;
    IUserPrompt& m_prompt;
    QLineEdit* m_old;
    QLineEdit* m_new;
};

}  // namespace vextal

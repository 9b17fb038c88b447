#pragma once
// The login dialog and the user dialogs around it: registration, user
// information, login password. They collect fields and show what the
// document's login logic decides.
#include <QDialog>

#include "app/LoginDialogLogic.h"

class QCheckBox;
class QLineEdit;

namespace vextal {

class CVextalDoc;
class CWebPane;

class CLoginDialog : public QDialog {
    Q_OBJECT

public:
    CLoginDialog(CVextalDoc& doc, IUserPrompt& prompt, QWidget* parent = nullptr);
    // Reads the stored login and runs the version check; false when the
    // program must end (an update was started).
    bool Prepare();
    void SetForm(const CLoginForm& form);
    CLoginForm Form() const;
    void accept() override;
    CLoginDialogLogic& Logic() { return m_logic; }

private:
    void Register();
    void Focus(DialogFocus focus);

    CVextalDoc& m_doc;
    IUserPrompt& m_prompt;
    CLoginDialogLogic m_logic;
    QLineEdit* m_name;
    QLineEdit* m_password;
    QCheckBox* m_remember;
    QCheckBox* m_offline;
    CWebPane* m_page;
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

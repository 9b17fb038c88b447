#pragma once
// Messages and questions of the core shown as message boxes.
#include <QWidget>

#include "common/UserPrompt.h"

namespace vextal {

class CMessagePrompt : public IUserPrompt {
public:
    explicit CMessagePrompt(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }
    // Nobody at the keyboard (screenshot runs): messages go to stderr, questions are answered no.
    void SetUnattended(bool unattended) { m_unattended = unattended; }
    void ShowMessage(const std::string& text, PromptIcon icon) override;
    bool AskYesNo(const std::string& text) override;

private:
    QWidget* m_parent;
    bool m_unattended = false;
};

// Screenshot mode: a question (是/否) and an error (确定/取消) as the
// program shows them, in `dir`.
bool SaveMessageBoxShots(const QString& dir, QWidget* parent);

}  // namespace vextal

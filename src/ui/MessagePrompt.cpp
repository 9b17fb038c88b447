#include "ui/MessagePrompt.h"

#include <QMessageBox>
#include <cstdio>

namespace vextal {

void CMessagePrompt::ShowMessage(const std::string& text, PromptIcon icon)
{
    if (m_unattended) {
        std::fprintf(stderr, "Vextal: %s\n", text.c_str());
        return;
    }
    QMessageBox::Icon i = QMessageBox::Information;
    if (icon == PromptIcon::Warning) i = QMessageBox::Warning;
    if (icon == PromptIcon::Error) i = QMessageBox::Critical;
    if (icon == PromptIcon::Question) i = QMessageBox::Question;
    QMessageBox box(i, QStringLiteral("Vextal"), QString::fromStdString(text), QMessageBox::Ok, m_parent);
    // A path or an address in the text can be copied.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

bool CMessagePrompt::AskYesNo(const std::string& text)
{
    if (m_unattended) {
        std::fprintf(stderr, "Vextal: %s (no)\n", text.c_str());
        return false;
    }
    return QMessageBox::question(m_parent, QStringLiteral("Vextal"), QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace vextal

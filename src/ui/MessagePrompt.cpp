#include "ui/MessagePrompt.h"

#include <QMessageBox>

namespace vextal {

void CMessagePrompt::ShowMessage(const std::string& text, PromptIcon icon)
{
    QMessageBox::Icon i = QMessageBox::Information;
    if (icon == PromptIcon::Warning) i = QMessageBox::Warning;
    if (icon == PromptIcon::Error) i = QMessageBox::Critical;
    if (icon == PromptIcon::Question) i = QMessageBox::Question;
    QMessageBox box(i, QStringLiteral("Vextal"), QString::fromStdString(text), QMessageBox::Ok, m_parent);
    box.exec();
}

bool CMessagePrompt::AskYesNo(const std::string& text)
{
    return QMessageBox::question(m_parent, QStringLiteral("Vextal"), QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace vextal

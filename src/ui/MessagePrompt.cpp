#include "ui/MessagePrompt.h"

#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <cstdio>
#include <memory>

namespace vextal {
namespace {

// Every box of the program: a path or an address in the text can be copied.
std::unique_ptr<QMessageBox> MakeBox(PromptIcon icon, const std::string& text, QMessageBox::StandardButtons buttons,
                                     QWidget* parent)
{
    QMessageBox::Icon i = QMessageBox::Information;
    if (icon == PromptIcon::Warning) i = QMessageBox::Warning;
    if (icon == PromptIcon::Error) i = QMessageBox::Critical;
    if (icon == PromptIcon::Question) i = QMessageBox::Question;
    auto box = std::make_unique<QMessageBox>(i, QStringLiteral("Vextal"), QString::fromStdString(text), buttons, parent);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return box;
}

}  // namespace

void CMessagePrompt::ShowMessage(const std::string& text, PromptIcon icon)
{
    if (m_unattended) {
        std::fprintf(stderr, "Vextal: %s\n", text.c_str());
        return;
    }
    MakeBox(icon, text, QMessageBox::Ok, m_parent)->exec();
}

bool CMessagePrompt::AskYesNo(const std::string& text)
{
    if (m_unattended) {
        std::fprintf(stderr, "Vextal: %s (no)\n", text.c_str());
        return false;
    }
    auto box = MakeBox(PromptIcon::Question, text, QMessageBox::Yes | QMessageBox::No, m_parent);
    box->setDefaultButton(QMessageBox::No);
    return box->exec() == QMessageBox::Yes;
}

bool SaveMessageBoxShots(const QString& dir, QWidget* parent)
{
    struct Shot {
        const char* name;
        PromptIcon icon;
        const char* text;
        QMessageBox::StandardButtons buttons;
    };
    const Shot shots[] = {
        {"message-question", PromptIcon::Question,
         "确定要删除选定的帐户吗?\n\n帐户“主帐户”和它的3个基金持仓、12条交易记录将一并删除，不能恢复。",
         QMessageBox::Yes | QMessageBox::No},
        {"message-error", PromptIcon::Error,
         "无法在文件夹 /home/user/.local/share/Vextal 中建立数据库文件 Vextal.mdb(database or disk is full)。\n"
         "该文件夹所在的磁盘空间不足:请腾出磁盘空间后重新启动程序。",
         QMessageBox::Ok | QMessageBox::Cancel},
    };
    bool ok = true;
    for (const Shot& s : shots) {
        auto box = MakeBox(s.icon, s.text, s.buttons, parent);
        box->show();
        ok = box->grab().save(QDir(dir).filePath(QString::fromUtf8(s.name) + ".png")) && ok;
        box->hide();
    }
    return ok;
}

}  // namespace vextal

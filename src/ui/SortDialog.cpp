#include "ui/SortDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QRadioButton>
#include <QButtonGroup>
#include <QPushButton>

namespace vextal {

const std::vector<const char*>& SortChoices()
{
    static const std::vector<const char*> choices = {"(无)",       "基金名称",   "基金代码",   "单位净值",
                                                     "累计净值",   "日增长率",   "日增长值",   "一周回报",
                                                     "一个月回报", "二个月回报", "三个月回报", "成立日期"};
    return choices;
}

const char* SortKeysRefusal(int a, int b, int c)
{
    if (a == 0) return "主要关键字不能为空";
    if (a == b) return "主要关键字和次要关键字不能相同";
    if (a == c) return "主要关键字和第三关键字不能相同";
    if (b == c && b != 0) return "次要关键字和第三关键字不能相同";
    return nullptr;
}

CSortDialog::CSortDialog(const std::string& iniPath, QWidget* parent) : QDialog(parent), m_iniPath(iniPath)
{
    setWindowTitle(QStringLiteral("最新净值排序"));
    auto* grid = new QGridLayout(this);
    const char* labels[] = {"主要关键字:", "次要关键字:", "第三关键字:"};
    CSortSettings saved = ReadSortSettings(iniPath);
    const int choices = static_cast<int>(SortChoices().size());
    for (int k = 0; k < 3; ++k) {
        grid->addWidget(new QLabel(QString::fromUtf8(labels[k])), k, 0);
        m_keys[k] = new QComboBox(this);
        for (const char* c : SortChoices()) m_keys[k]->addItem(QString::fromUtf8(c));
        if (saved.item[k] >= 0 && saved.item[k] < choices) m_keys[k]->setCurrentIndex(saved.item[k]);
        grid->addWidget(m_keys[k], k, 1);
        auto* up = new QRadioButton(QStringLiteral("递增"), this);
        m_down[k] = new QRadioButton(QStringLiteral("递减"), this);
        auto* group = new QButtonGroup(this);
        group->addButton(up);
        group->addButton(m_down[k]);
        (saved.descending[k] == 1 ? m_down[k] : up)->setChecked(true);
        grid->addWidget(up, k, 2);
        grid->addWidget(m_down[k], k, 3);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CSortDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSortDialog::reject);
    grid->addWidget(buttons, 3, 0, 1, 4);
}

void CSortDialog::SetKeys(int a, int b, int c)
{
    m_keys[0]->setCurrentIndex(a);
    m_keys[1]->setCurrentIndex(b);
    m_keys[2]->setCurrentIndex(c);
}

CSortSettings CSortDialog::Settings() const
{
    CSortSettings s;
    for (int k = 0; k < 3; ++k) {
        s.item[k] = m_keys[k]->currentIndex();
        s.descending[k] = m_down[k]->isChecked() ? 1 : 0;
    }
    return s;
}

void CSortDialog::accept()
{
    CSortSettings s = Settings();
    if (const char* refusal = SortKeysRefusal(s.item[0], s.item[1], s.item[2])) {
        m_lastRefusal = QString::fromUtf8(refusal);
        if (!m_quiet) QMessageBox::information(this, QStringLiteral("Vextal"), m_lastRefusal);
        return;
    }
    m_lastRefusal.clear();
    WriteSortSettings(s, m_iniPath);
    QDialog::accept();
}

}  // namespace vextal

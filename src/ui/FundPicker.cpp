#include "ui/FundPicker.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <set>

#include "common/StringTable.h"
#include "market/FundCatalogue.h"

namespace vextal {

std::vector<FundChoice> FundChoicesOf(const CFundCatalogue& catalogue,
                                      const std::map<std::string, std::string>& wizardList)
{
    std::vector<FundChoice> out;
    out.reserve(catalogue.Funds().size() + wizardList.size());
    for (const auto& [code, info] : catalogue.Funds()) {
        FundChoice c;
        c.code = QString::fromStdString(code);
        c.name = QString::fromStdString(info.FundName);
        c.shortName = QString::fromStdString(info.FundShortName);
        c.companyId = QString::fromStdString(info.CompanyID);
        if (auto it = catalogue.Companies().find(info.CompanyID); it != catalogue.Companies().end())
            c.companyName = QString::fromStdString(it->second.CompanyName);
        out.push_back(std::move(c));
    }
    for (const auto& [code, name] : wizardList) {
        if (catalogue.Funds().count(code)) continue;
        FundChoice c;
        c.code = QString::fromStdString(code);
        c.name = QString::fromStdString(name);
        out.push_back(std::move(c));
    }
    return out;
}

std::vector<int> MatchFundChoices(const std::vector<FundChoice>& choices, const QString& typed, int limit)
{
    const QString text = typed.trimmed();
    std::vector<int> byCode, byName;
    for (int i = 0; i < static_cast<int>(choices.size()); ++i) {
        const FundChoice& c = choices[static_cast<size_t>(i)];
        if (text.isEmpty() || c.code.startsWith(text)) byCode.push_back(i);
        else if (c.name.contains(text, Qt::CaseInsensitive) || c.shortName.contains(text, Qt::CaseInsensitive))
            byName.push_back(i);
        if (static_cast<int>(byCode.size()) >= limit) break;
    }
    byCode.insert(byCode.end(), byName.begin(), byName.end());
    if (static_cast<int>(byCode.size()) > limit) byCode.resize(static_cast<size_t>(limit));
    return byCode;
}

// ---- picker -------------------------------------------------------------------

CFundPicker::CFundPicker(const std::vector<FundChoice>& choices, const QString& initialText, QWidget* parent)
    : QDialog(parent), m_choices(choices), m_search(new QLineEdit(this)), m_results(new QListWidget(this))
{
    setWindowTitle(QStringLiteral("键盘精灵"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("输入基金代码或名称:"), this));
    layout->addWidget(m_search);
    layout->addWidget(m_results);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_search, &QLineEdit::textChanged, this, &CFundPicker::Search);
    connect(m_results, &QListWidget::itemActivated, this, &QDialog::accept);
    // Enter in the search field takes the highlighted fund.
    connect(m_search, &QLineEdit::returnPressed, this, [this] {
        if (m_results->currentItem()) accept();
    });
    // Up and down move in the results while the typing goes on in the field.
    m_search->installEventFilter(this);
    resize(360, 420);
    m_search->setText(initialText);
    Search(initialText);
    m_search->setFocus();
}

void CFundPicker::Search(const QString& text)
{
    m_results->clear();
    for (int i : MatchFundChoices(m_choices, text)) {
        const FundChoice& c = m_choices[static_cast<size_t>(i)];
        auto* item = new QListWidgetItem(c.code + QStringLiteral("  ") + c.name, m_results);
        item->setData(Qt::UserRole, c.code);
    }
    if (m_results->count() > 0) m_results->setCurrentRow(0);
}

QString CFundPicker::SelectedCode() const
{
    QListWidgetItem* item = m_results->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

bool CFundPicker::eventFilter(QObject* watched, QEvent* event)
{
    // Enter belongs to the picker, not to an accelerator of the window behind it.
    if (watched == m_search && event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            event->accept();
            return true;
        }
    }
    if (watched == m_search && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Down || key->key() == Qt::Key_Up || key->key() == Qt::Key_PageDown ||
            key->key() == Qt::Key_PageUp) {
            QCoreApplication::sendEvent(m_results, event);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QString CFundPicker::Pick(const std::vector<FundChoice>& choices, QWidget* parent, const QString& initialText)
{
    CFundPicker picker(choices, initialText, parent);
    if (picker.exec() != QDialog::Accepted) return {};
    return picker.SelectedCode();
}

// ---- selector -----------------------------------------------------------------

CFundSelector::CFundSelector(QWidget* parent)
    : QWidget(parent), m_company(new QComboBox(this)), m_fund(new QComboBox(this)), m_button(new QPushButton(QStringLiteral("F"), this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_company, 2);
    layout->addWidget(m_fund, 3);
    layout->addWidget(m_button);
    m_button->setFixedWidth(28);
    m_button->setToolTip(QString::fromStdString(LoadResString(59161)));
    m_fund->setMinimumContentsLength(14);
    m_fund->installEventFilter(this);
    connect(m_button, &QPushButton::clicked, this, [this] { OpenPicker(); });
    connect(m_company, &QComboBox::activated, this, [this] {
        FillFunds(m_company->currentData().toString());
        emit fundChanged(QString::fromStdString(FundID()));
    });
    connect(m_fund, &QComboBox::activated, this, [this] { emit fundChanged(QString::fromStdString(FundID())); });
}

void CFundSelector::SetChoices(std::vector<FundChoice> choices)
{
    m_choices = std::move(choices);
    m_company->clear();
    m_company->addItem(QStringLiteral("(全部基金公司)"), QString());
    std::set<QString> seen;
    for (const FundChoice& c : m_choices)
        if (!c.companyId.isEmpty() && seen.insert(c.companyId).second)
            m_company->addItem(c.companyName.isEmpty() ? c.companyId : c.companyName, c.companyId);
    FillFunds(QString());
}

void CFundSelector::FillFunds(const QString& companyId)
{
    m_fund->clear();
    m_fund->addItem(QString(), QString());  // no fund chosen
    for (const FundChoice& c : m_choices)
        if (companyId.isEmpty() || c.companyId == companyId) m_fund->addItem(c.code + QStringLiteral(" ") + c.name, c.code);
    m_fund->setCurrentIndex(0);
}

std::string CFundSelector::FundID() const { return m_fund->currentData().toString().toStdString(); }

void CFundSelector::SetFundID(const std::string& code)
{
    const QString q = QString::fromStdString(code);
    int index = m_fund->findData(q);
    if (index < 0) {  // another company's fund: show every company's
        m_company->setCurrentIndex(0);
        FillFunds(QString());
        index = m_fund->findData(q);
    }
    m_fund->setCurrentIndex(index < 0 ? 0 : index);
    emit fundChanged(QString::fromStdString(FundID()));
}

void CFundSelector::OpenPicker(const QString& initialText)
{
    const QString code = CFundPicker::Pick(m_choices, this, initialText);
    if (!code.isEmpty()) SetFundID(code.toStdString());
    m_fund->setFocus();
}

bool CFundSelector::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_fund && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        // "F" opens the picker; a digit or a letter opens it with that start.
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
        if (text.compare(QStringLiteral("F"), Qt::CaseInsensitive) == 0) {
            OpenPicker();
            return true;
        }
        if (text.size() == 1 && text[0].isLetterOrNumber()) {
            OpenPicker(text);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace vextal

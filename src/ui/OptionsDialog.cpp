#include "ui/OptionsDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "common/UserPrompt.h"
#include "net/Cipher.h"
#include "common/Format.h"
#include "net/HttpTransport.h"
#include "ui/ListView.h"
#include "ui/LookThroughViews.h"

namespace vextal {

namespace {

QColor ToQColor(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
uint32_t FromQColor(const QColor& c)
{
    return uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16);
}

std::vector<int> ParseIds(const std::string& text)
{
    std::vector<int> ids;
    for (size_t start = 0; start <= text.size();) {
        size_t bar = text.find('|', start);
        std::string piece = text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        // A piece that is not a whole number names no column; it is left out.
        if (auto id = ParseInteger(piece); id && *id >= 0 && *id <= 1000) ids.push_back(int(*id));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return ids;
}

QRadioButton* Radio(const QString& text, QButtonGroup* group, int id, QLayout* layout)
{
    auto* b = new QRadioButton(text);
    group->addButton(b, id);
    layout->addWidget(b);
    return b;
}

// The preview chart of the curve colour dialog: a frame, a grid, a date
// and value scale and the 16 curves as gentle waves.
class CCurvePreview : public QWidget {
public:
    explicit CCurvePreview(const CCurveColours& colours, QWidget* parent = nullptr) : QWidget(parent), m_c(colours)
    {
        setMinimumSize(360, 220);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), ToQColor(m_c.background));
        const QRect plot = rect().adjusted(48, 24, -16, -28);
        p.fillRect(plot, ToQColor(m_c.plot));
        p.setPen(ToQColor(m_c.grid));
        for (int i = 1; i < 5; ++i) {
            int y = plot.top() + plot.height() * i / 5;
            p.drawLine(plot.left() + 1, y, plot.right() - 1, y);
        }
        p.setPen(ToQColor(m_c.axis));
        p.drawRect(plot);
        p.setPen(ToQColor(m_c.text));
        p.drawText(QRect(0, 2, width(), 20), Qt::AlignCenter, QStringLiteral("日期区间:2024/01/02 - 2024/06/28"));
        for (int i = 0; i <= 5; ++i) {
            int y = plot.bottom() - plot.height() * i / 5;
            p.drawText(QRect(0, y - 8, plot.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(1.0 + 0.1 * i, 'f', 2));
        }
        const char* months[] = {"01-02", "02", "03", "04", "05", "06"};
        for (int i = 0; i < 6; ++i) {
            int x = plot.left() + plot.width() * i / 6;
            p.drawText(QRect(x - 20, plot.bottom() + 4, 40, 18), Qt::AlignCenter, QString::fromLatin1(months[i]));
        }
        p.setRenderHint(QPainter::Antialiasing);
        for (int s = 0; s < ini::kCurveCount; ++s) {
            QPainterPath path;
            for (int x = 0; x <= plot.width() - 2; x += 3) {
                double t = double(x) / plot.width();
                double y = plot.top() + plot.height() * (0.08 + 0.84 * s / 15.0) +
                           std::sin(t * 6.28 * 1.5 + s * 0.7) * plot.height() * 0.03;
                if (x == 0) path.moveTo(plot.left() + 1 + x, y);
                else path.lineTo(plot.left() + 1 + x, y);
            }
            p.setPen(QPen(ToQColor(m_c.series[s]), 1.5));
            p.drawPath(path);
        }
    }

private:
    const CCurveColours& m_c;
};

}  // namespace

// --- colour button ------------------------------------------------------------

CColourButton::CColourButton(uint32_t colour, QWidget* parent) : QPushButton(parent), m_colour(colour)
{
    setFixedSize(48, 22);
    SetColour(colour);
    connect(this, &QPushButton::clicked, this, [this] {
        QColor c = QColorDialog::getColor(ToQColor(m_colour), this);
        if (c.isValid()) SetColour(FromQColor(c));
    });
}

void CColourButton::SetColour(uint32_t colour)
{
    m_colour = colour;
    setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid #808080;").arg(ToQColor(colour).name()));
    emit colourChanged(colour);
}

// --- column pages -------------------------------------------------------------

CColumnPage::CColumnPage(const ConfigurableList& list, std::string concise, const std::string& iniPath, QWidget* parent)
    : QWidget(parent), m_list(list), m_concise(std::move(concise)), m_catalogue(ParseCatalogue(list.catalogueId)),
      m_available(new QListWidget(this)), m_chosen(new QListWidget(this))
{
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("可选显示字段")), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("已选显示字段")), 0, 2);
    grid->addWidget(m_available, 1, 0);
    grid->addWidget(m_chosen, 1, 2);
    auto* buttons = new QVBoxLayout;
    buttons->addStretch();
    const std::pair<const char*, void (CColumnPage::*)()> actions[] = {
        {"->", &CColumnPage::MoveRight}, {"<-", &CColumnPage::MoveLeft}, {"完整", &CColumnPage::All},
        {"<<", &CColumnPage::None},      {"↑", &CColumnPage::Up},        {"↓", &CColumnPage::Down},
        {"简洁", &CColumnPage::Concise}};
    for (auto [text, fn] : actions) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setFixedWidth(64);
        connect(b, &QPushButton::clicked, this, fn);
        buttons->addWidget(b);
    }
    buttons->addStretch();
    grid->addLayout(buttons, 1, 1);
    connect(m_available, &QListWidget::itemDoubleClicked, this, &CColumnPage::MoveRight);
    connect(m_chosen, &QListWidget::itemDoubleClicked, this, &CColumnPage::MoveLeft);
    // Read without writing the default back: "取消" leaves the file as it was.
    std::string visible = ReadShowString(list.key, "", kIniNoLimit, iniPath);
    SetVisible(ParseIds(visible.empty() ? list.defaultColumns : visible));
}

std::vector<int> CColumnPage::Visible() const
{
    std::vector<int> ids;
    for (int i = 0; i < m_chosen->count(); ++i) ids.push_back(m_chosen->item(i)->data(Qt::UserRole).toInt());
    return ids;
}

void CColumnPage::SetVisible(const std::vector<int>& ids) { Refill(ids, -1); }

// Only catalogue columns, each once, in the order given.
void CColumnPage::Refill(const std::vector<int>& visible, int chosenRow)
{
    m_available->clear();
    m_chosen->clear();
    std::vector<int> shown;
    for (int id : visible) {
        auto spec = std::find_if(m_catalogue.begin(), m_catalogue.end(), [id](const ColumnSpec& s) { return s.id == id; });
        if (spec == m_catalogue.end() || std::count(shown.begin(), shown.end(), id)) continue;
        shown.push_back(id);
        auto* item = new QListWidgetItem(QString::fromStdString(spec->title), m_chosen);
        item->setData(Qt::UserRole, id);
    }
    for (const ColumnSpec& spec : m_catalogue)
        if (!std::count(shown.begin(), shown.end(), spec.id)) {
            auto* item = new QListWidgetItem(QString::fromStdString(spec.title), m_available);
            item->setData(Qt::UserRole, spec.id);
        }
    if (chosenRow >= 0 && chosenRow < m_chosen->count()) m_chosen->setCurrentRow(chosenRow);
}

void CColumnPage::MoveRight()
{
    QListWidgetItem* item = m_available->currentItem();
    if (!item) return;
    std::vector<int> ids = Visible();
    ids.push_back(item->data(Qt::UserRole).toInt());
    Refill(ids, static_cast<int>(ids.size()) - 1);
}

void CColumnPage::MoveLeft()
{
    const int row = m_chosen->currentRow();
    if (row < 0) return;
    std::vector<int> ids = Visible();
    ids.erase(ids.begin() + row);
    Refill(ids, std::min(row, static_cast<int>(ids.size()) - 1));
}

void CColumnPage::All()
{
    std::vector<int> ids = Visible();
    for (const ColumnSpec& spec : m_catalogue) ids.push_back(spec.id);  // the rest in catalogue order
    Refill(ids, -1);
}

void CColumnPage::None() { Refill({}, -1); }

void CColumnPage::Up()
{
    const int row = m_chosen->currentRow();
    if (row <= 0) return;
    std::vector<int> ids = Visible();
    std::swap(ids[static_cast<size_t>(row)], ids[static_cast<size_t>(row - 1)]);
    Refill(ids, row - 1);
}

void CColumnPage::Down()
{
    const int row = m_chosen->currentRow();
    if (row < 0 || row + 1 >= m_chosen->count()) return;
    std::vector<int> ids = Visible();
    std::swap(ids[static_cast<size_t>(row)], ids[static_cast<size_t>(row + 1)]);
    Refill(ids, row + 1);
}

void CColumnPage::Concise() { SetVisible(ParseIds(m_concise)); }

// --- curve colours -------------------------------------------------------------

CCurveColourDialog::CCurveColourDialog(const CCurveColours& colours, QWidget* parent)
    : QDialog(parent), m_colours(colours), m_curves(new QListWidget(this))
{
    setWindowTitle(QStringLiteral("曲线颜色设置"));
    m_preview = new CCurvePreview(m_colours, this);
    auto* form = new QFormLayout;
    const std::pair<const char*, uint32_t CCurveColours::*> fixed[] = {
        {"坐标轴颜色:", &CCurveColours::axis},     {"文字颜色:", &CCurveColours::text},
        {"曲线区域颜色:", &CCurveColours::plot},   {"曲线背景颜色:", &CCurveColours::background},
        {"网格线颜色:", &CCurveColours::grid}};
    for (auto [label, member] : fixed) {
        auto* button = new CColourButton(m_colours.*member, this);
        connect(button, &CColourButton::colourChanged, this, [this, member](uint32_t c) {
            m_colours.*member = c;
            m_preview->update();
        });
        form->addRow(QString::fromUtf8(label), button);
    }
    for (int i = 0; i < ini::kCurveCount; ++i) {
        QPixmap swatch(14, 14);
        swatch.fill(ToQColor(m_colours.series[i]));
        auto* item = new QListWidgetItem(QIcon(swatch), QStringLiteral("曲线%1").arg(i + 1), m_curves);
        item->setData(Qt::UserRole, i);
    }
    m_curves->setFixedWidth(110);
    m_curveColour = new CColourButton(m_colours.series[0], this);
    connect(m_curveColour, &CColourButton::colourChanged, this, [this](uint32_t c) {
        const int i = m_curves->currentRow();
        if (i < 0) return;
        m_colours.series[i] = c;
        QPixmap swatch(14, 14);
        swatch.fill(ToQColor(c));
        m_curves->item(i)->setIcon(QIcon(swatch));
        m_preview->update();
    });
    connect(m_curves, &QListWidget::currentRowChanged, this, &CCurveColourDialog::SelectCurve);
    connect(m_curves, &QListWidget::itemDoubleClicked, m_curveColour, &QPushButton::click);
    form->addRow(QStringLiteral("曲线颜色:"), m_curveColour);
    m_curves->setCurrentRow(0);

    auto* left = new QVBoxLayout;
    left->addLayout(form);
    left->addStretch();
    auto* body = new QHBoxLayout;
    body->addLayout(left);
    body->addWidget(m_curves);
    body->addWidget(m_preview, 1);
    auto* box = new QDialogButtonBox(this);
    box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addWidget(box);
}

void CCurveColourDialog::SelectCurve(int index)
{
    if (index < 0) return;
    const QSignalBlocker quiet(m_curveColour);
    m_curveColour->SetColour(m_colours.series[index]);
}

// --- the dialog ---------------------------------------------------------------

COptionsDialog::COptionsDialog(std::string iniPath, IUserPrompt& prompt, QWidget* parent)
    : QDialog(parent), m_iniPath(std::move(iniPath)), m_prompt(prompt), m_tabs(new QTabWidget(this))
{
    setWindowTitle(QStringLiteral("参数设置"));
    LoadSettings(m_loaded, m_iniPath);
    m_curveColours = ReadCurveColours(m_iniPath);
    m_tabs->addTab(BuildShowPage(), QStringLiteral("显示参数"));
    const std::pair<const ConfigurableList*, const char*> pages[] = {
        {&AccountListConfig(), "基金帐户"}, {&HoldingListConfig(), "基金持仓"}, {&NewValueListConfig(), "最新净值"}};
    for (int i = 0; i < 3; ++i) {
        m_columns[i] = new CColumnPage(*pages[i].first, pages[i].first->defaultColumns, m_iniPath, this);
        m_tabs->addTab(m_columns[i], QString::fromUtf8(pages[i].second));
    }
    m_tabs->addTab(BuildProxyPage(), QStringLiteral("代理服务器"));
    m_lookThrough = new CLookThroughOptionsPage(m_iniPath, this);
    m_tabs->addTab(m_lookThrough, QStringLiteral("持仓穿透"));
    auto* box = new QDialogButtonBox(this);
    box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(box);
    resize(560, 440);
}

QWidget* COptionsDialog::BuildShowPage()
{
    auto* page = new QWidget(this);
    auto group = [page](const QString& title, QLayout* inner) {
        auto* g = new QGroupBox(title, page);
        g->setLayout(inner);
        return g;
    };
    m_showType = new QButtonGroup(page);
    auto* names = new QVBoxLayout;
    int id = 0;
    for (const char* t : {"基金名称", "基金代码", "基金简称(基金代码)", "基金代码(基金简称)"})
        Radio(QString::fromUtf8(t), m_showType, id++, names);
    m_itemSize = new QButtonGroup(page);
    auto* sizes = new QHBoxLayout;
    Radio(QStringLiteral("加大"), m_itemSize, 0, sizes);
    Radio(QStringLiteral("缺省大小"), m_itemSize, 1, sizes);
    m_fundView = new QButtonGroup(page);
    auto* views = new QGridLayout;
    id = 0;
    for (const char* t : {"正常显示", "高亮显示收藏夹中的基金", "只显示收藏夹中的基金"}) {
        auto* b = new QRadioButton(QString::fromUtf8(t));
        m_fundView->addButton(b, id);
        views->addWidget(b, id++, 0);
    }
    m_highLight = new CColourButton(m_loaded.highLight, page);
    views->addWidget(m_highLight, 1, 1);
    m_zeroHide = new QCheckBox(QStringLiteral("隐藏份额为0的基金"), page);
    m_thousand = new QCheckBox(QStringLiteral("基金理财中使用千分号显示"), page);
    m_showNew = new QCheckBox(QStringLiteral("只显示最新净值"), page);
    auto* latest = new QVBoxLayout;
    latest->addWidget(m_showNew);

    m_showType->button(std::clamp(m_loaded.fundShowType, 0, 3))->setChecked(true);
    m_itemSize->button(m_loaded.listItemSize == 0 ? 0 : 1)->setChecked(true);
    m_fundView->button(std::clamp(m_loaded.fundView, 0, 2))->setChecked(true);
    m_zeroHide->setChecked(m_loaded.fundZeroHide != 0);
    m_thousand->setChecked(m_loaded.showThousand != 0);
    m_showNew->setChecked(m_loaded.showNew != 0);

    // "显示效果:" shows two rows of the latest-value list as the choices make them.
    m_preview = new CListView(page);
    m_preview->setFixedHeight(82);
    m_preview->setFocusPolicy(Qt::NoFocus);
    m_preview->setSelectionMode(QAbstractItemView::NoSelection);
    m_preview->horizontalHeader()->setStretchLastSection(true);
    auto* curves = new QPushButton(QStringLiteral("曲线颜色..."), page);
    connect(curves, &QPushButton::clicked, this, &COptionsDialog::EditCurveColours);

    auto* left = new QVBoxLayout;
    left->addWidget(group(QStringLiteral("基金列表显示风格"), names));
    left->addWidget(group(QStringLiteral("列表行高"), sizes));
    left->addWidget(group(QStringLiteral("最新净值显示风格"), latest));
    auto* right = new QVBoxLayout;
    right->addWidget(group(QStringLiteral("收藏夹中的基金"), views));
    right->addWidget(m_zeroHide);
    right->addWidget(m_thousand);
    right->addWidget(curves, 0, Qt::AlignLeft);
    right->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(left);
    top->addLayout(right);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(new QLabel(QStringLiteral("显示效果:")));
    layout->addWidget(m_preview);

    for (QButtonGroup* g : {m_showType, m_itemSize, m_fundView})
        connect(g, &QButtonGroup::idClicked, this, &COptionsDialog::UpdatePreview);
    connect(m_highLight, &CColourButton::colourChanged, this, &COptionsDialog::UpdatePreview);
    UpdatePreview();
    return page;
}

void COptionsDialog::UpdatePreview()
{
    const CSettings s = ShowSettings();
    m_preview->BuildFixedColumns({{"序号", 40, 10}, {"基金名称", 150, 12}, {"单位净值", 60, 15}, {"日增长率", 60, 18}},
                                 s.listItemSize);
    m_preview->Model()->SetColumns(59177, m_preview->Model()->Columns());  // the list's colours
    const QString names[2][2] = {{QStringLiteral("示例成长混合"), QStringLiteral("000001")},
                                 {QStringLiteral("示例收藏债券"), QStringLiteral("000011")}};
    auto name = [s, names](int row) {
        const QString& n = names[row][0];
        const QString& code = names[row][1];
        switch (s.fundShowType) {
        case 1: return code;
        case 2: return n + "(" + code + ")";
        case 3: return code + "(" + n + ")";
        default: return n;
        }
    };
    m_preview->Model()->SetSource(2, [name](int row, int id) -> ListCell {
        switch (id) {
        case 10: return {QString::number(row + 1), {}};
        case 12: return {name(row), {}};
        case 15: return {row ? QStringLiteral("1.0213") : QStringLiteral("2.3456"), {}};
        case 18: return {row ? QStringLiteral("-0.35%") : QStringLiteral("1.20%"), {}};
        default: return {};
        }
    });
    // The second row is a favourite.
    m_preview->Model()->SetRowBackground([s](int row) -> QColor {
        return row == 1 && s.fundView == 1 ? ToQColor(s.highLight) : QColor();
    });
}

QWidget* COptionsDialog::BuildProxyPage()
{
    auto* page = new QWidget(this);
    m_proxyEnable = new QCheckBox(QStringLiteral("HTTP代理服务器设置"), page);
    m_proxyEnable->setObjectName(QStringLiteral("proxyEnable"));
    const CProxySettings& p = m_loaded.proxy;
    const QString values[4] = {QString::fromStdString(p.ip), QString::number(p.port),
                               QString::fromStdString(p.userName), QString::fromStdString(p.password)};
    const char* names[4] = {"proxyIP", "proxyPort", "proxyUser", "proxyPassword"};
    for (int i = 0; i < 4; ++i) {
        m_proxyFields[i] = new QLineEdit(values[i], page);
        m_proxyFields[i]->setObjectName(QString::fromLatin1(names[i]));
    }
    // The file's buffers: address 32, user 16 characters with the end.
    m_proxyFields[0]->setMaxLength(static_cast<int>(ini::kProxyIpBuffer) - 1);
    m_proxyFields[0]->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^((25[0-5]|2[0-4]\\d|1?\\d?\\d)\\.){0,3}(25[0-5]|2[0-4]\\d|1?\\d?\\d)?$")),
        m_proxyFields[0]));
    m_proxyFields[1]->setValidator(new QIntValidator(1, 65535, m_proxyFields[1]));
    m_proxyFields[2]->setMaxLength(static_cast<int>(ini::kProxyUserBuffer) - 1);
    m_proxyFields[3]->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    const char* labels[4] = {"地址:", "端口:", "用户:", "密码:"};
    for (int i = 0; i < 4; ++i) form->addRow(QString::fromUtf8(labels[i]), m_proxyFields[i]);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_proxyEnable);
    layout->addLayout(form);
    layout->addStretch();
    m_proxyEnable->setChecked(p.enable != 0);
    connect(m_proxyEnable, &QCheckBox::toggled, this, &COptionsDialog::UpdateProxyFields);
    UpdateProxyFields();
    return page;
}

void COptionsDialog::UpdateProxyFields()
{
    for (QLineEdit* field : m_proxyFields) field->setEnabled(m_proxyEnable->isChecked());
}

CSettings COptionsDialog::ShowSettings() const
{
    CSettings s = m_loaded;
    s.fundShowType = m_showType->checkedId();
    s.listItemSize = m_itemSize->checkedId();
    s.fundView = m_fundView->checkedId();
    s.highLight = m_highLight->Colour();
    s.fundZeroHide = m_zeroHide->isChecked() ? 1 : 0;
    s.showThousand = m_thousand->isChecked() ? 1 : 0;
    s.showNew = m_showNew->isChecked() ? 1 : 0;
    return s;
}

CProxySettings COptionsDialog::Proxy() const
{
    CProxySettings p;
    p.enable = m_proxyEnable->isChecked() ? 1 : 0;
    p.ip = m_proxyFields[0]->text().trimmed().toStdString();
    const NumberReading port = ReadNumberInput(m_proxyFields[1]->text().toStdString(), ProxyPortRule());
    p.port = port.ok() ? static_cast<int>(port.value) : ini::kDefaultProxyPort;
    p.userName = m_proxyFields[2]->text().toStdString();
    p.password = m_proxyFields[3]->text().toStdString();
    return p;
}

void COptionsDialog::EditCurveColours()
{
    CCurveColourDialog dialog(m_curveColours, this);
    if (dialog.exec() == QDialog::Accepted) m_curveColours = dialog.Colours();
}

void COptionsDialog::accept()
{
    // A ticked proxy without an address would fail every request.
    if (m_proxyEnable->isChecked() && m_proxyFields[0]->text().trimmed().isEmpty()) {
        m_prompt.ShowMessage("使用代理服务器时请填写代理服务器的地址", PromptIcon::Warning);
        m_tabs->setCurrentIndex(4);
        m_proxyFields[0]->setFocus();
        return;
    }
    // A port that is no port is said, not replaced by 8080 behind the user's back.
    const QString portText = m_proxyFields[1]->text();
    const NumberReading port = ReadNumberInput(portText.toStdString(), ProxyPortRule());
    if (!port.ok() && (m_proxyEnable->isChecked() || !portText.trimmed().isEmpty())) {
        m_prompt.ShowMessage(port.refusal, PromptIcon::Warning);
        m_tabs->setCurrentIndex(4);
        m_proxyFields[1]->setFocus();
        return;
    }
    const CProxySettings proxy = Proxy();
    // The file keeps 47 characters of the enciphered password: a longer one
    // would come back cut and undecipherable.
    if (EncryptText(proxy.password, kCipherKey).size() >= ini::kPasswordBuffer) {
        m_prompt.ShowMessage("代理服务器密码太长", PromptIcon::Warning);
        m_tabs->setCurrentIndex(4);
        m_proxyFields[3]->setFocus();
        return;
    }
    SaveShowSettings(ShowSettings(), m_iniPath);
    for (CColumnPage* page : m_columns) WriteVisibleColumns(page->List().key, page->Visible(), m_iniPath);
    SaveProxySettings(proxy, m_iniPath);
    WriteCurveColours(m_curveColours, m_iniPath);
    m_lookThrough->Save();
    QDialog::accept();
}

COptionsNotifier& OptionsNotifier()
{
    static COptionsNotifier notifier;
    return notifier;
}

void ApplyOptions(CSettings& settings, const std::string& iniPath)
{
    CSettings read;
    LoadSettings(read, iniPath);
    settings.fundShowType = read.fundShowType;
    settings.listItemSize = read.listItemSize;
    settings.fundView = read.fundView;
    settings.highLight = read.highLight;
    settings.fundZeroHide = read.fundZeroHide;
    settings.showThousand = read.showThousand;
    settings.showNew = read.showNew;
    settings.proxy = read.proxy;
    ProxySettings proxy;
    proxy.Enable = read.proxy.enable;
    proxy.IP = read.proxy.ip;
    proxy.Port = read.proxy.port;
    proxy.UserName = read.proxy.userName;
    proxy.Password = read.proxy.password;
    SetProxySettings(proxy);
    emit OptionsNotifier().settingsChanged();
}

bool RunOptionsDialog(CSettings& settings, const std::string& iniPath, IUserPrompt& prompt, QWidget* parent)
{
    COptionsDialog dialog(iniPath, prompt, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    ApplyOptions(settings, iniPath);
    return true;
}

}  // namespace vextal

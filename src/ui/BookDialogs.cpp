#include "ui/BookDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "book/AccountManager.h"
#include "book/TradeForms.h"
#include "common/Clock.h"
#include "common/Format.h"

namespace vextal {

namespace {

QDate ToQDate(const OleDate& d)
{
    const DateParts p = d.Parts();
    return QDate(p.year, p.month, p.day);
}
QDateTime ToQDateTime(const OleDate& d)
{
    const DateParts p = d.Parts();
    return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second));
}
OleDate FromQDate(const QDate& d) { return OleDate::FromParts(d.year(), d.month(), d.day()); }
OleDate FromQDateTime(const QDateTime& t)
{
    return OleDate::FromParts(t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute(),
                              t.time().second());
}

QString Num(const char* fmt, double v) { return QString::fromStdString(FormatNumber(fmt, v)); }

QLabel* Hint(const char* text)
{
    auto* l = new QLabel(QString::fromUtf8(text));
    l->setWordWrap(true);
    return l;
}

QPushButton* AddButton(QDialogButtonBox* box, const char* text, QDialogButtonBox::ButtonRole role)
{
    return box->addButton(QString::fromUtf8(text), role);
}

QTableView* MakeTable(CRowsModel* model, QWidget* parent)
{
    auto* view = new QTableView(parent);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

int SelectedRow(const QTableView* view)
{
    const QModelIndexList rows = view->selectionModel() ? view->selectionModel()->selectedRows() : QModelIndexList();
    return rows.isEmpty() ? -1 : rows.first().row();
}

}  // namespace

// ---------------------------------------------------------------- 基金分红记帐

CDividendBookingDialog::CDividendBookingDialog(const BookDialogContext& ctx, QWidget* parent)
    : QDialog(parent), m_ctx(ctx)
{
    setWindowTitle(QStringLiteral("基金分红记帐"));
    auto* form = new QFormLayout;
    m_account = new QComboBox;
    m_fund = new QComboBox;
    m_time = new QDateTimeEdit(ToQDateTime(Clock::Now()));
    m_time->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    m_time->setCalendarPopup(true);
    m_perTen = new QLineEdit;
    m_mode = new QComboBox;
    m_mode->addItems({QStringLiteral("现金红利"), QStringLiteral("红利转投")});
    m_amount = new QLineEdit;
    m_account->setObjectName("account");
    m_fund->setObjectName("fund");
    m_time->setObjectName("time");
    m_perTen->setObjectName("perTen");
    m_mode->setObjectName("mode");
    m_amount->setObjectName("amount");
    form->addRow(QStringLiteral("基金帐户:"), m_account);
    form->addRow(QStringLiteral("分红基金:"), m_fund);
    form->addRow(QStringLiteral("分红时间:"), m_time);
    auto* per = new QHBoxLayout;
    per->addWidget(m_perTen);
    per->addWidget(new QLabel(QStringLiteral("10份/元")));
    form->addRow(QStringLiteral("单位分红:"), per);
    form->addRow(QStringLiteral("分红方式:"), m_mode);
    auto* amount = new QHBoxLayout;
    amount->addWidget(m_amount);
    amount->addWidget(new QLabel(QStringLiteral("元")));
    form->addRow(QStringLiteral("分红金额:"), amount);
    auto* buttons = new QDialogButtonBox;
    connect(AddButton(buttons, "记帐", QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
            &CDividendBookingDialog::OnBook);
    connect(AddButton(buttons, "取消", QDialogButtonBox::RejectRole), &QPushButton::clicked, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(Hint("如果系统自动分红错误可以删除错误的分红记帐，然后使用此功能进行手工分红记帐。"
                        "如果系统没有自动分红也可以使用此功能手工记帐。"));
    top->addWidget(buttons);

    connect(m_account, &QComboBox::currentIndexChanged, this,
            [this] { FillHoldings(m_fund, m_ctx, ChosenAccount(m_account), m_ctx.currentFund); });
    connect(m_fund, &QComboBox::currentIndexChanged, this, &CDividendBookingDialog::ComputeAmount);
    connect(m_perTen, &QLineEdit::textChanged, this, &CDividendBookingDialog::ComputeAmount);
    FillAccounts(m_account, m_ctx, m_ctx.currentAccount);
    FillHoldings(m_fund, m_ctx, ChosenAccount(m_account), m_ctx.currentFund);
}

void CDividendBookingDialog::ComputeAmount()
{
    // The amount the holding's shares receive; the user may still change it.
    const HoldingKey key = ChosenHolding(m_fund, ChosenAccount(m_account));
    const FundTradeInfo* h = key.FundID.empty() ? nullptr : m_ctx.accounts->FindHolding(key);
    const NumberReading perTen = ReadNumberInput(m_perTen->text().toStdString(), {"单位分红", 0, 10000, 4});
    if (h && perTen.ok() && perTen.value > 0) m_amount->setText(Num("%0.2f", Round2(h->TotalCount * perTen.value / 10)));
}

void CDividendBookingDialog::OnBook()
{
    FormResult checked = CheckDividendForm(ChosenHolding(m_fund, ChosenAccount(m_account)), m_perTen->text().toStdString(),
                                           m_amount->text().toStdString(), FromQDateTime(m_time->dateTime()));
    if (!checked.ok) {
        m_ctx.Say(checked.message, PromptIcon::Warning);
        if (checked.focus == FormField::Ratio) m_perTen->setFocus();
        if (checked.focus == FormField::Amount) m_amount->setFocus();
        return;
    }
    TradeInfo t = checked.trade;
    const bool cash = m_mode->currentIndex() == 0;
    t.TradeType = cash ? kTradeCashBonus : kTradeBonusReinvest;
    t.BonusType = cash ? kBonusCash : kBonusReinvest;
    const int result = m_ctx.accounts->ManualDividend(t);
    if (result < 0) return m_ctx.Say("手工分红记帐失败:" + m_ctx.accounts->GetLastErrorText(), PromptIcon::Error);
    m_ctx.Say(result == CAccountManager::kBookedWithWarning
                  ? "手工分红记帐成功\n" + m_ctx.accounts->GetLastWarningText()
                  : std::string("手工分红记帐成功"));
    accept();
}

// ---------------------------------------------------------------- 基金分红设置

CDividendModeDialog::CDividendModeDialog(const BookDialogContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setWindowTitle(QStringLiteral("基金分红设置"));
    m_account = new QComboBox;
    m_fund = new QComboBox;
    m_anyFund = new CFundSelector;
    m_anyFund->SetChoices(m_ctx.fundChoices);
    m_heldOnly = new QCheckBox(QStringLiteral("只显示已购买的基金"));
    m_heldOnly->setChecked(true);
    m_buyType = new QComboBox;
    m_buyType->addItems({QStringLiteral("前端"), QStringLiteral("后端")});
    const QDate today = ToQDate(Clock::Now());
    m_start = new QDateEdit(today);
    m_end = new QDateEdit(today);
    for (QDateEdit* d : {m_start, m_end}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setCalendarPopup(true);
    }
    m_noStart = new QCheckBox(QStringLiteral("无开始日期"));
    m_noEnd = new QCheckBox(QStringLiteral("无结束日期"));
    m_mode = new QComboBox;
    m_mode->addItems({QStringLiteral("现金红利"), QStringLiteral("红利转投")});
    m_account->setObjectName("account");
    m_fund->setObjectName("fund");
    m_anyFund->setObjectName("anyFund");
    m_heldOnly->setObjectName("heldOnly");
    m_buyType->setObjectName("buyType");
    m_start->setObjectName("start");
    m_end->setObjectName("end");
    m_noStart->setObjectName("noStart");
    m_noEnd->setObjectName("noEnd");
    m_mode->setObjectName("mode");
    m_model = new CRowsModel({QStringLiteral("序号"), QStringLiteral("开始日期"), QStringLiteral("结束日期"),
                              QStringLiteral("分红方式")},
                             this);
    m_view = MakeTable(m_model, this);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("基金帐户:"), m_account);
    auto* fund = new QHBoxLayout;
    fund->addWidget(m_fund, 1);
    fund->addWidget(m_anyFund, 1);
    fund->addWidget(m_heldOnly);
    form->addRow(QStringLiteral("基金:"), fund);
    form->addRow(QStringLiteral("收费方式:"), m_buyType);
    auto* start = new QHBoxLayout;
    start->addWidget(m_start, 1);
    start->addWidget(m_noStart);
    form->addRow(QStringLiteral("开始日期:"), start);
    auto* end = new QHBoxLayout;
    end->addWidget(m_end, 1);
    end->addWidget(m_noEnd);
    form->addRow(QStringLiteral("结束日期:"), end);
    form->addRow(QStringLiteral("分红方式:"), m_mode);
    auto* buttons = new QDialogButtonBox;
    connect(AddButton(buttons, "设置", QDialogButtonBox::ActionRole), &QPushButton::clicked, this,
            &CDividendModeDialog::OnSet);
    connect(AddButton(buttons, "删除", QDialogButtonBox::ActionRole), &QPushButton::clicked, this,
            &CDividendModeDialog::OnDelete);
    connect(AddButton(buttons, "返回", QDialogButtonBox::RejectRole), &QPushButton::clicked, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addWidget(Hint("设置不同日期基金的分红方式"));
    top->addLayout(form);
    top->addWidget(buttons);
    top->addWidget(m_view, 1);
    resize(520, 480);

    connect(m_account, &QComboBox::currentIndexChanged, this, &CDividendModeDialog::FillFunds);
    connect(m_heldOnly, &QCheckBox::toggled, this, &CDividendModeDialog::FillFunds);
    connect(m_fund, &QComboBox::currentIndexChanged, this, [this] {
        if (m_heldOnly->isChecked()) m_buyType->setCurrentIndex(m_fund->currentData(Qt::UserRole + 1).toInt());
        ShowRanges();
    });
    connect(m_buyType, &QComboBox::currentIndexChanged, this, &CDividendModeDialog::ShowRanges);
    connect(m_anyFund, &CFundSelector::fundChanged, this, &CDividendModeDialog::ShowRanges);
    connect(m_noStart, &QCheckBox::toggled, m_start, &QWidget::setDisabled);
    connect(m_noEnd, &QCheckBox::toggled, m_end, &QWidget::setDisabled);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CDividendModeDialog::LoadSelected);
    m_ctx.accounts->LoadUserBonus();
    FillAccounts(m_account, m_ctx, m_ctx.currentAccount);
    // A fund the account does not hold (a new plan's) is found among all funds.
    if (!m_ctx.currentFund.empty()) {
        m_anyFund->SetFundID(m_ctx.currentFund);
        bool held = false;
        if (const AccountInfo* a = m_ctx.accounts->FindAccount(ChosenAccount(m_account)))
            for (const FundTradeInfo& h : a->holdings) held = held || h.FundID == m_ctx.currentFund;
        if (!held) m_heldOnly->setChecked(false);
    }
    FillFunds();
    if (m_ctx.currentBuyType >= 0) m_buyType->setCurrentIndex(m_ctx.currentBuyType);
}

void CDividendModeDialog::FillFunds()
{
    QSignalBlocker block(m_fund);
    FillHoldings(m_fund, m_ctx, ChosenAccount(m_account), m_ctx.currentFund);
    // Unchecked: any fund, from the fund picker.
    m_fund->setVisible(m_heldOnly->isChecked());
    m_anyFund->setVisible(!m_heldOnly->isChecked());
    if (m_heldOnly->isChecked()) m_buyType->setCurrentIndex(m_fund->currentData(Qt::UserRole + 1).toInt());
    ShowRanges();
}

HoldingKey CDividendModeDialog::Key() const
{
    HoldingKey key;
    key.AccountID = ChosenAccount(m_account);
    if (!m_heldOnly->isChecked()) {
        key.FundID = m_anyFund->FundID();
    } else if (m_fund->currentIndex() >= 0) {
        key.FundID = m_fund->currentData().toString().toStdString();
    }
    key.BuyType = m_buyType->currentIndex();
    return key;
}

void CDividendModeDialog::ShowRanges()
{
    const HoldingKey key = Key();
    m_shown.clear();
    std::vector<QStringList> rows;
    for (const UserBonusInfo& b : m_ctx.accounts->UserBonus()) {
        if (b.AccountID != key.AccountID || b.FundID != key.FundID || b.BuyType != key.BuyType) continue;
        m_shown.push_back(b);
        const bool noStart = b.DateState == 1 || b.DateState == 3, noEnd = b.DateState == 2 || b.DateState == 3;
        rows.push_back({QString::number(rows.size() + 1),
                        noStart ? QStringLiteral("无开始日期") : QString::fromStdString(b.StartDate.Format(1)),
                        noEnd ? QStringLiteral("无结束日期") : QString::fromStdString(b.EndDate.Format(1)),
                        QString::fromUtf8(BonusTypeName(b.BonusType))});
    }
    m_model->SetRows(std::move(rows));
}

void CDividendModeDialog::LoadSelected()
{
    const int row = SelectedRow(m_view);
    if (row < 0 || row >= static_cast<int>(m_shown.size())) return;
    const UserBonusInfo& b = m_shown[static_cast<size_t>(row)];
    m_noStart->setChecked(b.DateState == 1 || b.DateState == 3);
    m_noEnd->setChecked(b.DateState == 2 || b.DateState == 3);
    m_start->setDate(ToQDate(b.StartDate));
    m_end->setDate(ToQDate(b.EndDate));
    m_mode->setCurrentIndex(b.BonusType == kBonusReinvest ? 1 : 0);
}

void CDividendModeDialog::OnSet()
{
    const HoldingKey key = Key();
    const bool hasStart = !m_noStart->isChecked(), hasEnd = !m_noEnd->isChecked();
    const OleDate start = FromQDate(m_start->date()), end = FromQDate(m_end->date());
    const OleDate today = Clock::Now().DateOnly();
    const char* refusal = key.AccountID <= 0                                   ? "没有可用的帐户"
                          : key.FundID.empty()                                 ? "没有可用的基金"
                          : hasStart && hasEnd && start > end                  ? "开始日期不能大于结束日期"
                          : (hasStart && start > today) || (hasEnd && end > today) ? "日期范围中的日期不能大于当前日期"
                                                                               : nullptr;
    if (refusal) return m_ctx.Say(refusal, PromptIcon::Warning);
    UserBonusInfo record;
    // A chosen row is changed; otherwise a new range is added.
    const int row = SelectedRow(m_view);
    if (row >= 0 && row < static_cast<int>(m_shown.size())) record = m_shown[static_cast<size_t>(row)];
    record.AccountID = key.AccountID;
    record.FundID = key.FundID;
    record.BuyType = key.BuyType;
    record.StartDate = start;
    record.EndDate = end;
    record.DateState = hasStart ? (hasEnd ? 0 : 2) : (hasEnd ? 1 : 3);
    record.BonusType = m_mode->currentIndex() == 1 ? kBonusReinvest : kBonusCash;
    if (m_ctx.accounts->IsRangeOverlapping(record)) return m_ctx.Say("日期重叠，请重新设置", PromptIcon::Warning);
    if (!m_ctx.accounts->SaveUserBonus(record))
        return m_ctx.Say("设置失败:" + m_ctx.accounts->GetLastErrorText(), PromptIcon::Error);
    m_view->clearSelection();
    ShowRanges();
}

void CDividendModeDialog::OnDelete()
{
    const int row = SelectedRow(m_view);
    if (row < 0 || row >= static_cast<int>(m_shown.size()))
        return m_ctx.Say("请先选择需要删除的记录", PromptIcon::Warning);
    if (!m_ctx.accounts->DeleteUserBonus(m_shown[static_cast<size_t>(row)].BonusID))
        return m_ctx.Say("删除失败:" + m_ctx.accounts->GetLastErrorText(), PromptIcon::Error);
    m_view->clearSelection();
    ShowRanges();
}

// ---------------------------------------------------------------- 基金赎回参考费率设置

CSaleFeeDialog::CSaleFeeDialog(const BookDialogContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setWindowTitle(QStringLiteral("基金赎回参考费率设置"));
    m_account = new QComboBox;
    m_fund = new QComboBox;
    m_rate = new QLineEdit;
    m_fixed = new QLineEdit;
    m_account->setObjectName("account");
    m_fund->setObjectName("fund");
    m_rate->setObjectName("rate");
    m_fixed->setObjectName("fixed");
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("基金帐户:"), m_account);
    form->addRow(QStringLiteral("持有基金:"), m_fund);
    auto* rate = new QHBoxLayout;
    rate->addWidget(m_rate);
    rate->addWidget(new QLabel(QStringLiteral("%  用于动态计算投资收益")));
    form->addRow(QStringLiteral("赎回费率:"), rate);
    auto* fixed = new QHBoxLayout;
    fixed->addWidget(m_fixed);
    fixed->addWidget(new QLabel(QStringLiteral("元 用于后端方式计算")));
    form->addRow(QStringLiteral("固定费用:"), fixed);
    auto* buttons = new QDialogButtonBox;
    connect(AddButton(buttons, "设置", QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
            &CSaleFeeDialog::OnSet);
    connect(AddButton(buttons, "取消", QDialogButtonBox::RejectRole), &QPushButton::clicked, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(Hint("赎回费率用于计算投资收益时减去赎回时的手续费，是一个动态参考值。"));
    top->addWidget(buttons);
    setMinimumWidth(440);
    connect(m_account, &QComboBox::currentIndexChanged, this,
            [this] { FillHoldings(m_fund, m_ctx, ChosenAccount(m_account), m_ctx.currentFund); });
    connect(m_fund, &QComboBox::currentIndexChanged, this, &CSaleFeeDialog::ShowFees);
    FillAccounts(m_account, m_ctx, m_ctx.currentAccount);
    FillHoldings(m_fund, m_ctx, ChosenAccount(m_account), m_ctx.currentFund);
    ShowFees();
}

void CSaleFeeDialog::ShowFees()
{
    const HoldingKey key = ChosenHolding(m_fund, ChosenAccount(m_account));
    const FundTradeInfo* h = key.FundID.empty() ? nullptr : m_ctx.accounts->FindHolding(key);
    m_rate->setText(h ? Num("%0.2f", h->SaleFee) : QString());
    m_fixed->setText(h ? Num("%0.2f", h->SaleFeeMoney) : QString());
}

void CSaleFeeDialog::OnSet()
{
    const HoldingKey key = ChosenHolding(m_fund, ChosenAccount(m_account));
    FundTradeInfo* h = key.FundID.empty() ? nullptr : m_ctx.accounts->FindHolding(key);
    if (!h) return m_ctx.Say("设置失败", PromptIcon::Error);
    FundTradeInfo changed = *h;
    const std::string refusal = ReadSaleFees(m_rate->text().toStdString(), m_fixed->text().toStdString(), changed);
    if (!refusal.empty()) {
        m_ctx.Say(refusal, PromptIcon::Warning);
        (refusal.rfind("固定费用", 0) == 0 ? m_fixed : m_rate)->setFocus();
        return;
    }
    if (!m_ctx.accounts->SetSaleFee(changed))
        return m_ctx.Say("设置失败:" + m_ctx.accounts->GetLastErrorText(), PromptIcon::Error);
    m_ctx.Say("设置成功");
}

// ---------------------------------------------------------------- 帐户间基金移动

CMoveHoldingDialog::CMoveHoldingDialog(const BookDialogContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setWindowTitle(QStringLiteral("帐户间基金移动"));
    m_from = new QComboBox;
    m_fund = new QComboBox;
    m_to = new QComboBox;
    m_from->setObjectName("from");
    m_fund->setObjectName("fund");
    m_to->setObjectName("to");
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("移出帐户:"), m_from);
    form->addRow(QStringLiteral("移动基金:"), m_fund);
    form->addRow(QStringLiteral("移入帐户:"), m_to);
    auto* buttons = new QDialogButtonBox;
    connect(AddButton(buttons, "转移", QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
            &CMoveHoldingDialog::OnMove);
    connect(AddButton(buttons, "取消", QDialogButtonBox::RejectRole), &QPushButton::clicked, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(buttons);
    connect(m_from, &QComboBox::currentIndexChanged, this,
            [this] { FillHoldings(m_fund, m_ctx, ChosenAccount(m_from), m_ctx.currentFund); });
    FillAccounts(m_from, m_ctx, m_ctx.currentAccount);
    FillAccounts(m_to, m_ctx, 0);
    // The target starts at another account than the source.
    for (int i = 0; i < m_to->count(); ++i)
        if (m_to->itemData(i).toInt() != ChosenAccount(m_from)) {
            m_to->setCurrentIndex(i);
            break;
        }
    FillHoldings(m_fund, m_ctx, ChosenAccount(m_from), m_ctx.currentFund);
}

void CMoveHoldingDialog::OnMove()
{
    if (m_from->count() == 0 || m_to->count() == 0) return m_ctx.Say("无可用的基金帐户", PromptIcon::Warning);
    const HoldingKey key = ChosenHolding(m_fund, ChosenAccount(m_from));
    if (key.FundID.empty()) return m_ctx.Say("无可用的基金", PromptIcon::Warning);
    if (!m_ctx.accounts->MoveHolding(ChosenAccount(m_to), key.AccountID, key.FundID, key.BuyType))
        return m_ctx.Say("转移基金失败:" + m_ctx.accounts->GetLastErrorText(), PromptIcon::Error);
    m_ctx.Say("转移基金成功");
    FillHoldings(m_fund, m_ctx, ChosenAccount(m_from), std::string());
}

// ---------------------------------------------------------------- 修改记帐信息

CEditBookingDialog::CEditBookingDialog(const BookDialogContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setWindowTitle(QStringLiteral("修改记帐信息"));
    m_account = new QComboBox;
    m_account->setObjectName("account");
    m_model = new CRowsModel({QStringLiteral("序号"), QStringLiteral("基金名称"), QStringLiteral("交易类型"),
                              QStringLiteral("交易金额"), QStringLiteral("交易份数"), QStringLiteral("交易价"),
                              QStringLiteral("费率"), QStringLiteral("手续费"), QStringLiteral("交易时间")},
                             this);
    m_view = MakeTable(m_model, this);
    m_money = new QLineEdit;
    m_count = new QLineEdit;
    m_fee = new QLineEdit;
    m_price = new QLineEdit;
    m_money->setObjectName("money");
    m_count->setObjectName("count");
    m_fee->setObjectName("fee");
    m_price->setObjectName("price");
    auto* fields = new QHBoxLayout;
    for (auto [caption, edit] : {std::pair{"交易金额:", m_money}, {"交易份数:", m_count}, {"费率:", m_fee},
                                 {"交易价:", m_price}}) {
        fields->addWidget(new QLabel(QString::fromUtf8(caption)));
        fields->addWidget(edit);
    }
    auto* account = new QHBoxLayout;
    account->addWidget(new QLabel(QStringLiteral("基金帐户:")));
    account->addWidget(m_account, 1);
    auto* buttons = new QDialogButtonBox;
    connect(AddButton(buttons, "保存", QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
            &CEditBookingDialog::OnSave);
    connect(AddButton(buttons, "返回", QDialogButtonBox::RejectRole), &QPushButton::clicked, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(account);
    top->addWidget(Hint("点击下面列表中的记帐记录，即可修改记帐信息"));
    top->addWidget(m_view, 1);
    top->addLayout(fields);
    top->addWidget(buttons);
    resize(860, 480);
    connect(m_account, &QComboBox::currentIndexChanged, this, &CEditBookingDialog::ShowTrades);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CEditBookingDialog::LoadTrade);
    FillAccounts(m_account, m_ctx, m_ctx.currentAccount);
    ShowTrades();
}

void CEditBookingDialog::ShowTrades()
{
    m_trades.clear();
    std::vector<QStringList> rows;
    if (AccountInfo* a = m_ctx.accounts->FindAccount(ChosenAccount(m_account)))
        for (const auto& [id, t] : a->trades) {
            m_trades.push_back(t);
            TradeInfo copy = t;
            const double fee = CAccountManager::GetTradeFee(copy);
            rows.push_back({QString::number(rows.size() + 1), m_ctx.FundLabel(t.FundID, t.BuyType),
                            QString::fromUtf8(TradeTypeName(t.TradeType)), Num("%0.2f", t.TradeMoney),
                            Num("%0.2f", t.TradeCount), Num("%0.4f", t.TradeValue),
                            t.TradeFee >= 0 ? Num("%0.2f", t.TradeFee) + "%" : QStringLiteral("-"),
                            Num("%0.2f", fee), QString::fromStdString(t.TradeTime.Format(6))});
        }
    m_model->SetRows(std::move(rows));
    m_view->resizeColumnsToContents();
    for (QLineEdit* e : {m_money, m_count, m_fee, m_price}) e->clear();
}

void CEditBookingDialog::SelectTrade(int accountId, int tradeId)
{
    const int index = m_account->findData(accountId);
    if (index >= 0) m_account->setCurrentIndex(index);
    for (size_t row = 0; row < m_trades.size(); ++row)
        if (m_trades[row].TradeID == tradeId) m_view->selectRow(static_cast<int>(row));
}

void CEditBookingDialog::LoadTrade()
{
    const int row = SelectedRow(m_view);
    if (row < 0 || row >= static_cast<int>(m_trades.size())) return;
    const TradeInfo& t = m_trades[static_cast<size_t>(row)];
    m_money->setText(Num("%0.2f", t.TradeMoney));
    m_count->setText(Num("%0.2f", t.TradeCount));
    m_fee->setText(Num("%0.2f", t.TradeFee));
    m_price->setText(Num("%0.4f", t.TradeValue));
}

void CEditBookingDialog::OnSave()
{
    const int row = SelectedRow(m_view);
    if (row < 0 || row >= static_cast<int>(m_trades.size()))
        return m_ctx.Say("没有选择需要修改的记帐记录", PromptIcon::Warning);
    const TradeInfo& chosen = m_trades[static_cast<size_t>(row)];
    if (!m_ctx.accounts->FindHolding(HoldingKey::Of(chosen))) return m_ctx.Say("获取持有基金信息错误", PromptIcon::Error);
    const FormResult checked = CheckEditForm(chosen, m_money->text().toStdString(), m_count->text().toStdString(),
                                             m_fee->text().toStdString(), m_price->text().toStdString());
    if (!checked.ok) {
        m_ctx.Say(checked.message, PromptIcon::Warning);
        switch (checked.focus) {
        case FormField::Amount: m_money->setFocus(); break;
        case FormField::Count: m_count->setFocus(); break;
        case FormField::Fee: m_fee->setFocus(); break;
        default: m_price->setFocus(); break;
        }
        return;
    }
    if (!m_ctx.accounts->EditTrade(checked.trade))
        return m_ctx.Say("保存修改失败:" + m_ctx.accounts->GetLastErrorText(), PromptIcon::Error);
    m_ctx.Say("保存修改成功");
    ShowTrades();
}

}  // namespace vextal

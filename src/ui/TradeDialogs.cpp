#include "ui/TradeDialogs.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "book/BookServiceClient.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/DataService.h"
#include "ui/FundPicker.h"
#include "ui/ListView.h"

namespace vextal {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QDateTime ToQDateTime(const OleDate& d)
{
    DateParts p = d.Parts();
    return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute));
}

OleDate FromQDateTime(const QDateTime& t)
{
    return OleDate::FromParts(t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute());
}

QString FormatField(double v)
{
    if (v == 0) return QString();
    std::string s = FormatNumber("%0.2f", v);
    return Q(s);
}

QComboBox* MakeFeeBox(QWidget* parent, double value)
{
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    for (const char* choice : kFeeChoices) box->addItem(QString::fromUtf8(choice));
    // As the form gives it: "1.5", "1.0".
    const bool tenths = std::fabs(value * 10 - std::round(value * 10)) < 1e-9;
    box->setEditText(value == 0 ? QStringLiteral("0") : QString::number(value, 'f', tenths ? 1 : 2));
    return box;
}

QComboBox* BonusModeBox(QWidget* parent, int index)
{
    auto* box = new QComboBox(parent);
    box->addItems({QStringLiteral("混合分红"), QStringLiteral("现金红利"), QStringLiteral("红利转投")});
    box->setCurrentIndex(index);
    return box;
}

// "前端"/"后端" as two radio buttons; returns the back-end one.
QRadioButton* ChargingType(QWidget* parent, QLayout*& row, int buyType)
{
    auto* box = new QHBoxLayout;
    auto* front = new QRadioButton(QStringLiteral("前端"), parent);
    auto* back = new QRadioButton(QStringLiteral("后端"), parent);
    auto* group = new QButtonGroup(parent);
    group->addButton(front);
    group->addButton(back);
    (buyType == kBackEnd ? back : front)->setChecked(true);
    box->addWidget(front);
    box->addWidget(back);
    box->addStretch();
    row = box;
    return back;
}

struct KindTexts {
    const char* title;
    const char* ok;
    const char* amount;  // nullptr: no amount field
    const char* count;
};

KindTexts TextsOf(FormKind kind)
{
    switch (kind) {
    case FormKind::Purchase: return {"基金购买", "购买", "购买金额:", "购买份额:"};
    case FormKind::Subscription: return {"基金认购", "认购", "认购金额:", "认购份额:"};
    case FormKind::Redemption: return {"基金赎回", "赎回", "赎回金额:", "赎回份额:"};
    case FormKind::Conversion: return {"基金转换", "转换", nullptr, "转换份数:"};
    case FormKind::Quick: return {"快速记帐", "记帐", "投入本金:", "份数:"};
    default: break;
    }
    return {"", "确定", nullptr, nullptr};
}

QLabel* Hint(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(HintQColor().name()));
    return label;
}

}  // namespace

// ---- account dialog -------------------------------------------------------------

CAccountDialog::CAccountDialog(CAccountManager& manager, IUserPrompt& prompt, const AccountInfo* existing, QWidget* parent)
    : QDialog(parent), m_manager(manager), m_prompt(prompt), m_existing(existing != nullptr),
      m_accountId(existing ? existing->AccountID : 0), m_name(new QLineEdit(this))
{
    setWindowTitle(m_existing ? QStringLiteral("帐户属性") : QStringLiteral("新建帐户"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("名称:"), m_name);
    auto* money = new QHBoxLayout;
    auto* moneyEdit = new QLineEdit(QStringLiteral("0.00"), this);
    moneyEdit->setEnabled(false);
    money->addWidget(moneyEdit);
    money->addWidget(new QLabel(QStringLiteral("元"), this));
    form->addRow(QStringLiteral("资金:"), money);
    if (existing) m_name->setText(Q(existing->AccountName));
    m_name->setMaxLength(50);
    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(m_existing ? QStringLiteral("保存") : QStringLiteral("新建"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, [this] {
        if (Submit()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

bool CAccountDialog::Submit()
{
    const std::string name = m_name->text().trimmed().toStdString();
    if (name.empty()) {
        m_prompt.ShowMessage("名称不能为空", PromptIcon::Warning);
        m_name->setFocus();
        return false;
    }
    for (const auto& [id, a] : m_manager.Accounts())
        if (id != m_accountId && a->AccountName == name) {
            m_prompt.ShowMessage("已经存在相同名称的帐户", PromptIcon::Warning);
            m_name->setFocus();
            return false;
        }
    if (m_existing) {
        const AccountInfo* current = m_manager.FindAccount(m_accountId);
        if (!current) return false;
        AccountInfo renamed = *current;
        renamed.AccountName = name;
        if (!m_manager.RenameAccount(renamed)) {
            m_prompt.ShowMessage("修改失败:" + m_manager.GetLastErrorText(), PromptIcon::Warning);
            return false;
        }
        return true;
    }
    AccountInfo account;
    account.AccountName = name;
    account.CreateDate = Clock::Now();
    if (!m_manager.CreateAccount(account)) {
        m_prompt.ShowMessage("新建失败:" + m_manager.GetLastErrorText(), PromptIcon::Warning);
        return false;
    }
    m_accountId = account.AccountID;
    return true;
}

// ---- booking dialogs -------------------------------------------------------------

CTradeDialog::CTradeDialog(FormKind kind, const BookContext& context, int accountId, const HoldingKey* holding,
                           BookingHooks hooks, QWidget* parent)
    : QDialog(parent), m_kind(kind), m_ctx(context), m_accountId(accountId), m_hooks(std::move(hooks))
{
    const KindTexts texts = TextsOf(kind);
    const TradeForm defaults = DefaultTradeForm(kind);
    setWindowTitle(QString::fromUtf8(texts.title));
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    std::vector<FundChoice> choices = FundChoicesOf(m_ctx.market.Catalogue(), m_ctx.doc.FundKeys());

    const AccountInfo* account = m_ctx.Accounts().FindAccount(accountId);
    form->addRow(QStringLiteral("基金帐户:"), new QLabel(account ? Q(account->AccountName) : QString(), this));

    m_fund = new CFundSelector(this);
    m_fund->SetChoices(choices);
    form->addRow(kind == FormKind::Conversion ? QStringLiteral("转出基金:") : QStringLiteral("基金:"), m_fund);
    QLayout* chargeRow = nullptr;
    m_backEnd = ChargingType(this, chargeRow, holding ? holding->BuyType : kFrontEnd);
    form->addRow(kind == FormKind::Conversion ? QStringLiteral("转出方式:") : QStringLiteral("购买方式:"), chargeRow);

    const FundTradeInfo* held = holding ? m_ctx.Accounts().FindHolding(*holding) : nullptr;
    if (kind != FormKind::Redemption) {
        int index = defaults.BonusIndex;
        if (held && kind != FormKind::Conversion) index = held->BonusType + 1;
        auto* row = new QHBoxLayout;
        if (kind == FormKind::Conversion) {
            m_target = new CFundSelector(this);
            m_target->SetChoices(choices);
            form->addRow(QStringLiteral("转入基金:"), m_target);
            QLayout* targetCharge = nullptr;
            m_targetBackEnd = ChargingType(this, targetCharge, kFrontEnd);
            form->addRow(QStringLiteral("转入方式:"), targetCharge);
            m_targetBonus = BonusModeBox(this, index);
            row->addWidget(m_targetBonus);
        } else {
            m_bonus = BonusModeBox(this, index);
            row->addWidget(m_bonus);
        }
        auto* mixed = new QPushButton(QStringLiteral("设置混合分红方式"), this);
        connect(mixed, &QPushButton::clicked, this, [this] {
            if (!m_hooks.mixedSettings) return;
            const TradeForm f = Form();
            m_hooks.mixedSettings(m_target ? HoldingKey{m_accountId, f.TargetFundID, f.TargetBuyType}
                                           : HoldingKey{m_accountId, f.FundID, f.BuyType});
        });
        row->addWidget(mixed);
        form->addRow(QStringLiteral("分红方式:"), row);
    }

    if (kind == FormKind::Redemption || kind == FormKind::Conversion) {
        m_available = new QLabel(this);
        form->addRow(QString(), m_available);
    }

    auto numberRow = [this, form](const char* caption, QLineEdit*& edit, double value, const QString& hint) {
        edit = new QLineEdit(FormatField(value), this);
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        if (!hint.isEmpty()) row->addWidget(Hint(hint, this));
        form->addRow(QString::fromUtf8(caption), row);
    };
    const QString autoHint = QStringLiteral("为0则系统自动计算");
    switch (kind) {
    case FormKind::Purchase:
    case FormKind::Subscription:
        numberRow(texts.amount, m_amount, defaults.Amount, QStringLiteral("元"));
        numberRow(texts.count, m_count, defaults.Count, autoHint);
        break;
    case FormKind::Redemption:
        numberRow(texts.count, m_count, defaults.Count, QStringLiteral("份"));
        numberRow(texts.amount, m_amount, defaults.Amount, autoHint);
        break;
    case FormKind::Conversion:
        numberRow(texts.count, m_count, defaults.Count, QStringLiteral("份"));
        numberRow("转入份额:", m_targetCount, defaults.TargetCount, autoHint);
        break;
    case FormKind::Quick:
        numberRow(texts.count, m_count, defaults.Count, QStringLiteral("份"));
        numberRow(texts.amount, m_amount, defaults.Amount, QStringLiteral("元"));
        break;
    default: break;
    }

    auto feeRow = [this, form](QComboBox*& box, QCheckBox*& isAmount, QLabel*& caption, QLabel*& unit, double value) {
        box = MakeFeeBox(this, value);
        isAmount = new QCheckBox(QStringLiteral("输入金额"), this);
        caption = new QLabel(this);
        unit = new QLabel(this);
        auto* row = new QHBoxLayout;
        row->addWidget(box, 1);
        row->addWidget(unit);
        row->addWidget(isAmount);
        form->addRow(caption, row);
        connect(isAmount, &QCheckBox::toggled, this, [this] { UpdateCaptions(); });
    };
    if (kind != FormKind::Quick) {
        feeRow(m_fee, m_feeIsAmount, m_feeCaption, m_feeUnit, defaults.Fee);
        if (kind == FormKind::Conversion) feeRow(m_targetFee, m_targetFeeIsAmount, m_targetFeeCaption, m_targetFeeUnit, 0);
    }
    if (kind == FormKind::Subscription) {
        m_interest = new QLineEdit(QString::number(defaults.Interest, 'f', 2), this);
        m_interestIsAmount = new QCheckBox(QStringLiteral("输入金额"), this);
        m_interestCaption = new QLabel(this);
        m_interestUnit = new QLabel(this);
        auto* row = new QHBoxLayout;
        row->addWidget(m_interest, 1);
        row->addWidget(m_interestUnit);
        row->addWidget(m_interestIsAmount);
        form->addRow(m_interestCaption, row);
        connect(m_interestIsAmount, &QCheckBox::toggled, this, [this] { UpdateCaptions(); });
    }
    if (kind == FormKind::Purchase || kind == FormKind::Subscription || kind == FormKind::Conversion) {
        m_inner = new QCheckBox(QStringLiteral("使用内扣法"), this);
        form->addRow(QString(), m_inner);
    }
    if (kind == FormKind::Purchase || kind == FormKind::Subscription || kind == FormKind::Conversion) {
        m_noAutoBonus = new QCheckBox(QStringLiteral("此次记帐不自动分红"), this);
        form->addRow(QString(), m_noAutoBonus);
    }
    m_time = new QDateTimeEdit(ToQDateTime(defaults.TradeTime), this);
    m_time->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    m_time->setCalendarPopup(true);
    form->addRow(kind == FormKind::Quick ? QStringLiteral("记帐日期:") : QStringLiteral("交易时间:"), m_time);
    m_note = new QLineEdit(this);
    m_note->setMaxLength(128);
    form->addRow(QStringLiteral("交易备注:"), m_note);

    auto* layout = new QVBoxLayout(this);
    if (kind == FormKind::Quick) {
        auto* h1 = new QLabel(QString::fromUtf8(kQuickHint1), this);
        h1->setWordWrap(true);
        layout->addWidget(h1);
    }
    layout->addLayout(form);
    if (kind == FormKind::Quick) layout->addWidget(Hint(QString::fromUtf8(kQuickHint2), this));
    m_preview = new QLabel(this);
    layout->addWidget(m_preview);
    auto* buttons = new QHBoxLayout;
    m_calc = new QPushButton(QStringLiteral("计算"), this);
    m_ok = new QPushButton(QString::fromUtf8(texts.ok), this);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    m_ok->setDefault(true);
    buttons->addWidget(m_calc);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(m_calc, &QPushButton::clicked, this, &CTradeDialog::Calculate);
    connect(m_ok, &QPushButton::clicked, this, [this] {
        if (Submit()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_fund, &CFundSelector::fundChanged, this, [this] { UpdateHeld(); });
    connect(m_backEnd, &QRadioButton::toggled, this, [this] { UpdateHeld(); });

    if (holding) m_fund->SetFundID(holding->FundID);
    UpdateCaptions();
    UpdateHeld();
    setMinimumWidth(460);
}

CTradeDialog::~CTradeDialog() { CTaskRunner::Cancel(m_pending); }

void CTradeDialog::UpdateCaptions()
{
    auto apply = [this](QLabel* caption, QLabel* unit, QCheckBox* box, FeeInput input) {
        if (!caption) return;
        FeeLabel label = FeeCaption(m_kind, input, box->isChecked());
        caption->setText(Q(label.caption));
        unit->setText(Q(label.unit));
    };
    apply(m_feeCaption, m_feeUnit, m_feeIsAmount, FeeInput::Fee);
    apply(m_targetFeeCaption, m_targetFeeUnit, m_targetFeeIsAmount, FeeInput::TargetFee);
    apply(m_interestCaption, m_interestUnit, m_interestIsAmount, FeeInput::Interest);
}

void CTradeDialog::UpdateHeld()
{
    if (!m_available) return;
    const AccountInfo* account = m_ctx.Accounts().FindAccount(m_accountId);
    const double held = account ? HeldShares(*account, m_fund->FundID(), m_backEnd->isChecked() ? kBackEnd : kFrontEnd) : 0;
    m_available->setText(Q(AvailableSharesText(held)));
}

TradeForm CTradeDialog::Form() const
{
    TradeForm f = DefaultTradeForm(m_kind);
    f.AccountID = m_accountId;
    f.FundID = m_fund->FundID();
    f.BuyType = m_backEnd->isChecked() ? kBackEnd : kFrontEnd;
    if (m_bonus) f.BonusIndex = m_bonus->currentIndex();
    // The conversion's dividend mode is the target's; the source holding
    // keeps its own (the booking writes the trade's mode onto it).
    if (m_kind == FormKind::Conversion)
        if (const FundTradeInfo* h = m_ctx.Accounts().FindHolding({m_accountId, f.FundID, f.BuyType}))
            f.BonusIndex = h->BonusType + 1;
    // Every typed number through the one reader; its refusal waits for the
    // field's turn in the checks.
    auto read = [&f](FormField field, const QString& text) { SetFormNumber(f, field, text.toStdString()); };
    if (m_target) {
        f.TargetFundID = m_target->FundID();
        f.TargetBuyType = m_targetBackEnd->isChecked() ? kBackEnd : kFrontEnd;
        f.TargetBonusIndex = m_targetBonus->currentIndex();
        f.TargetFeeIsAmount = m_targetFeeIsAmount->isChecked();
        read(FormField::TargetCount, m_targetCount->text());
        read(FormField::TargetFee, m_targetFee->currentText());
    }
    f.Amount = 0;
    f.Count = 0;
    f.Fee = 0;
    if (m_amount) read(FormField::Amount, m_amount->text());
    if (m_count) read(FormField::Count, m_count->text());
    if (m_fee) {
        f.FeeIsAmount = m_feeIsAmount->isChecked();
        read(FormField::Fee, m_fee->currentText());
    }
    if (m_interest) {
        f.InterestIsAmount = m_interestIsAmount->isChecked();
        read(FormField::Interest, m_interest->text());
    }
    f.InnerDeduction = m_inner && m_inner->isChecked();
    f.NoAutoBonus = m_noAutoBonus && m_noAutoBonus->isChecked();
    f.TradeTime = FromQDateTime(m_time->dateTime());
    f.MarkInfo = m_note->text().toStdString();
    if (const AccountInfo* account = m_ctx.Accounts().FindAccount(m_accountId))
        f.HeldCount = HeldShares(*account, f.FundID, f.BuyType);
    OleDate established;
    if (!f.FundID.empty() && m_ctx.doc.FundDirectory().GetEstablishDate(f.FundID, established)) f.EstablishDate = established;
    return f;
}

QWidget* CTradeDialog::FieldWidget(FormField field) const
{
    switch (field) {
    case FormField::Fund: return m_fund->FundBox();
    case FormField::TargetFund: return m_target ? m_target->FundBox() : nullptr;
    case FormField::Fee: return m_fee;
    case FormField::TargetFee: return m_targetFee;
    case FormField::Interest: return m_interest;
    case FormField::Amount: return m_amount;
    case FormField::Count: return m_count;
    case FormField::TargetCount: return m_targetCount;
    case FormField::Time: return m_time;
    case FormField::BonusMode: return m_bonus;
    case FormField::TargetBonusMode: return m_targetBonus;
    default: return nullptr;
    }
}

bool CTradeDialog::Submit()
{
    CAccountManager& manager = m_ctx.Accounts();
    manager.LoadUserBonus();  // the ranges as set now, for the mixed-mode check
    const TradeForm form = Form();
    FormResult checked = CheckTradeForm(form, UserBonusLookup(manager));
    if (!checked.ok) {
        m_ctx.prompt.ShowMessage(checked.message, PromptIcon::Warning);
        if (QWidget* w = FieldWidget(checked.focus)) w->setFocus();
        return false;
    }
    TradeInfo trade = checked.trade;
    // The booking asks the service for the confirming NAV (and dividends)
    // between its statements, so it runs here under a busy cursor.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int result = manager.BookTrade(trade);
    QApplication::restoreOverrideCursor();
    BookingOutcome outcome = BookingOutcomeText(result, m_kind == FormKind::Quick, manager.GetLastErrorText());
    std::string text = outcome.text;
    if (result == CAccountManager::kBookedWithWarning) text += "\n" + manager.GetLastWarningText();
    m_ctx.prompt.ShowMessage(text, outcome.close ? PromptIcon::Information : PromptIcon::Warning);
    return outcome.close;
}

void CTradeDialog::Calculate()
{
    const TradeForm form = Form();
    // What the booking would refuse is not previewed either (a field that is
    // no number, a day before the fund's first NAV); the dividend mode does
    // not matter to the figures.
    const FormResult checked =
        CheckTradeForm(form, [](const HoldingKey&, const OleDate&, int& mode) { return mode = kBonusCash, true; });
    if (!checked.ok) {
        m_ctx.prompt.ShowMessage(checked.message, PromptIcon::Warning);
        if (QWidget* w = FieldWidget(checked.focus)) w->setFocus();
        return;
    }
    if (m_pending) return;
    if (m_ctx.doc.User().OfflineFlag != 0) {
        m_ctx.prompt.ShowMessage("此功能在脱机模式下不可用", PromptIcon::Warning);
        return;
    }
    IFundDirectory& funds = m_ctx.doc.FundDirectory();
    const bool sourceMoney = funds.IsMoneyMarketFund(form.FundID);
    const bool targetMoney = m_kind == FormKind::Conversion && funds.IsMoneyMarketFund(form.TargetFundID);
    const bool needsTarget = m_kind == FormKind::Conversion;
    // A subscription is priced at 1.0; the others ask the confirming NAV on the worker.
    const bool needsSource = m_kind != FormKind::Subscription && !sourceMoney;
    auto client = std::make_shared<CBookServiceClient>([ctx = m_ctx.doc.MakeCommandContext()] { return ctx; });
    m_calc->setEnabled(false);
    m_pending = m_ctx.runner.Run([this, self = QPointer<CTradeDialog>(this), client, form, needsSource, needsTarget,
                                  sourceMoney, targetMoney](const std::atomic<bool>& cancelled) -> WorkFinish {
        struct Answer {
            double nav = 1.0, targetNav = 1.0;
            std::string error;
        };
        auto answer = std::make_shared<Answer>();
        OleDate deal;
        if (needsSource && !client->GetFundTradeValue(form.FundID, form.TradeTime, answer->nav, deal, answer->error))
            answer->nav = 0;
        if (cancelled) return nullptr;
        if (needsTarget && !targetMoney && answer->error.empty() &&
            !client->GetFundTradeValue(form.TargetFundID, form.TradeTime, answer->targetNav, deal, answer->error))
            answer->targetNav = 0;
        (void)sourceMoney;
        return [this, self, answer, form] {
            if (!self) return;
            m_pending.reset();
            m_calc->setEnabled(true);
            if (!answer->error.empty()) {
                m_ctx.prompt.ShowMessage(answer->error, PromptIcon::Warning);
                emit calculated();
                return;
            }
            FeePreview p = PreviewFee(form, answer->nav, answer->targetNav);
            QString text = QStringLiteral("净值:%1  手续费:%2元").arg(Q(FormatNumber("%0.4f", answer->nav)), Q(FormatNumber("%0.2f", p.Fee)));
            switch (m_kind) {
            case FormKind::Purchase: m_count->setText(Q(FormatNumber("%0.2f", p.TradeCount))); break;
            case FormKind::Subscription:
                m_count->setText(Q(FormatNumber("%0.2f", p.TradeCount)));
                text += QStringLiteral("  认购期利息:%1元").arg(Q(FormatNumber("%0.2f", p.Interest)));
                break;
            case FormKind::Redemption: m_amount->setText(Q(FormatNumber("%0.2f", p.TradeMoney))); break;
            case FormKind::Conversion:
                m_targetCount->setText(Q(FormatNumber("%0.2f", p.TargetCount)));
                text += QStringLiteral("  转出金额:%1元  转入手续费:%2元")
                            .arg(Q(FormatNumber("%0.2f", p.TradeMoney)), Q(FormatNumber("%0.2f", p.TargetFee)));
                break;
            case FormKind::Quick: m_amount->setText(Q(FormatNumber("%0.2f", p.TradeMoney))); break;
            default: break;
            }
            m_preview->setText(text);
            emit calculated();
        };
    });
}

// ---- split ------------------------------------------------------------------------

CSplitDialog::CSplitDialog(const BookContext& context, int accountId, const HoldingKey* holding, BookingHooks hooks,
                           QWidget* parent)
    : QDialog(parent), m_ctx(context), m_hooks(std::move(hooks)), m_account(new QComboBox(this)),
      m_fund(new CFundSelector(this)), m_ratio(new QLineEdit(this)), m_count(new QLineEdit(this)),
      m_date(new QDateEdit(this)), m_records(new QListWidget(this)), m_held(new QLabel(this))
{
    setWindowTitle(QStringLiteral("基金拆分记帐"));
    for (const auto& [id, a] : m_ctx.Accounts().Accounts()) m_account->addItem(Q(a->AccountName), id);
    m_account->setCurrentIndex(m_account->findData(accountId));
    m_fund->SetChoices(FundChoicesOf(m_ctx.market.Catalogue(), m_ctx.doc.FundKeys()));
    const DateParts today = Clock::Now().Parts();
    m_date->setDate(QDate(today.year, today.month, today.day));
    m_date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_date->setCalendarPopup(true);
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    form->addRow(QStringLiteral("基金帐户:"), m_account);
    form->addRow(QStringLiteral("基金:"), m_fund);
    form->addRow(QString(), m_held);
    form->addRow(QStringLiteral("拆分比例:"), m_ratio);
    form->addRow(QStringLiteral("拆分后份额:"), m_count);
    form->addRow(QStringLiteral("拆分日期:"), m_date);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("基金拆分记录（点击记录填入拆分比例和日期）:"), this));
    m_records->setMaximumHeight(110);
    layout->addWidget(m_records);
    auto* buttons = new QHBoxLayout;
    m_ok = new QPushButton(QStringLiteral("记帐"), this);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    m_ok->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(m_ok, &QPushButton::clicked, this, [this] {
        if (Submit()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto updateHeld = [this] { m_held->setText(Q(AvailableSharesText(Held()))); };
    connect(m_fund, &CFundSelector::fundChanged, this, [this, updateHeld] {
        updateHeld();
        LoadSplitRecords();
    });
    connect(m_account, &QComboBox::currentIndexChanged, this, updateHeld);
    connect(m_records, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const double ratio = item->data(Qt::UserRole).toDouble();
        m_ratio->setText(Q(FormatNumber("%0.4f", ratio)));
        const QDate date = item->data(Qt::UserRole + 1).toDate();
        if (date.isValid()) m_date->setDate(date);
        m_count->setText(Q(FormatNumber("%0.2f", Round2(Held() * ratio))));
    });
    if (holding) m_fund->SetFundID(holding->FundID);
    updateHeld();
    setMinimumWidth(440);
}

CSplitDialog::~CSplitDialog() { CTaskRunner::Cancel(m_pending); }

double CSplitDialog::Held() const
{
    const AccountInfo* account = m_ctx.Accounts().FindAccount(m_account->currentData().toInt());
    return account ? HeldShares(*account, m_fund->FundID(), kFrontEnd) + HeldShares(*account, m_fund->FundID(), kBackEnd) : 0;
}

void CSplitDialog::LoadSplitRecords()
{
    CTaskRunner::Cancel(m_pending);
    m_pending.reset();
    m_records->clear();
    const std::string fund = m_fund->FundID();
    if (fund.empty() || m_ctx.doc.User().OfflineFlag != 0) return;
    const std::string base = m_ctx.doc.Settings().dataServerUrl;
    m_pending = m_ctx.runner.Run([this, self = QPointer<CSplitDialog>(this), fund, base](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto items = std::make_shared<std::vector<CFundSplitItem>>();
        if (!GetFundSplitInfo(base, fund, 0, *items)) items->clear();
        if (cancelled) return nullptr;
        return [this, self, items, fund] {
            if (!self || fund != m_fund->FundID()) return;
            m_pending.reset();
            m_records->clear();
            for (const CFundSplitItem& s : *items) {
                auto* item = new QListWidgetItem(QStringLiteral("%1  拆分比例 %2").arg(Q(s.SplitDate.substr(0, 10)), Q(FormatNumber("%0.4f", s.SplitScale))), m_records);
                item->setData(Qt::UserRole, s.SplitScale);
                OleDate d;
                if (OleDate::Parse(s.SplitDate, d)) {
                    DateParts p = d.Parts();
                    item->setData(Qt::UserRole + 1, QDate(p.year, p.month, p.day));
                }
            }
            emit recordsLoaded();
        };
    });
}

TradeForm CSplitDialog::Form() const
{
    TradeForm f = DefaultTradeForm(FormKind::Split);
    f.AccountID = m_account->currentIndex() >= 0 ? m_account->currentData().toInt() : 0;
    f.FundID = m_fund->FundID();
    SetFormNumber(f, FormField::Ratio, m_ratio->text().toStdString());
    SetFormNumber(f, FormField::Count, m_count->text().toStdString());
    const QDate d = m_date->date();
    f.TradeTime = OleDate::FromParts(d.year(), d.month(), d.day());
    if (const AccountInfo* account = m_ctx.Accounts().FindAccount(f.AccountID))
        if (HeldShares(*account, f.FundID, kFrontEnd) == 0 && HeldShares(*account, f.FundID, kBackEnd) != 0) f.BuyType = kBackEnd;
    return f;
}

bool CSplitDialog::Submit()
{
    CAccountManager& manager = m_ctx.Accounts();
    FormResult checked = CheckTradeForm(Form(), nullptr);
    if (!checked.ok) {
        m_ctx.prompt.ShowMessage(checked.message, PromptIcon::Warning);
        QWidget* focus = nullptr;
        switch (checked.focus) {
        case FormField::Account: focus = m_account; break;
        case FormField::Fund: focus = m_fund->FundBox(); break;
        case FormField::Ratio: focus = m_ratio; break;
        case FormField::Count: focus = m_count; break;
        case FormField::Time: focus = m_date; break;
        default: break;
        }
        if (focus) focus->setFocus();
        return false;
    }
    TradeInfo trade = checked.trade;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int result = manager.BookTrade(trade);
    QApplication::restoreOverrideCursor();
    BookingOutcome outcome = BookingOutcomeText(result, false, manager.GetLastErrorText());
    std::string text = outcome.text;
    if (result == CAccountManager::kBookedWithWarning) text += "\n" + manager.GetLastWarningText();
    m_ctx.prompt.ShowMessage(text, outcome.close ? PromptIcon::Information : PromptIcon::Warning);
    return outcome.close;
}

}  // namespace vextal

namespace vextal {

CCancelTradeDialog::CCancelTradeDialog(const BookContext& context, int accountId, BookingHooks hooks, QWidget* parent)
    : QDialog(parent), m_ctx(context), m_accountId(accountId), m_hooks(std::move(hooks)),
      m_list(new CTradeInfoListView(context, this)), m_cancel(new QPushButton(QStringLiteral("取消交易"), this))
{
    setWindowTitle(QStringLiteral("取消交易"));
    m_list->Show(accountId);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    resize(640, 360);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_cancel, &QPushButton::clicked, this, &CCancelTradeDialog::CancelChosen);
}

CCancelTradeDialog::~CCancelTradeDialog() { CTaskRunner::Cancel(m_pending); }

bool CCancelTradeDialog::CancelChosen()
{
    if (m_pending) return false;
    const TradeInfo* trade = m_list->CurrentTrade();
    if (!trade) {
        m_ctx.prompt.ShowMessage("请先选择要取消交易对应的基金", PromptIcon::Warning);
        return false;
    }
    if (!m_ctx.prompt.AskYesNo("确定要取消选定的基金交易吗?")) return false;
    const int tradeId = trade->TradeID, accountId = trade->AccountID;
    auto client = std::make_shared<CBookServiceClient>([ctx = m_ctx.doc.MakeCommandContext()] { return ctx; });
    m_cancel->setEnabled(false);
    m_pending = m_ctx.runner.Run([this, self = QPointer<CCancelTradeDialog>(this), client, tradeId,
                                  accountId](const std::atomic<bool>&) -> WorkFinish {
        auto error = std::make_shared<std::string>();
        const bool ok = client->CancelTrade(tradeId, *error);
        return [this, self, ok, error, tradeId, accountId] {
            if (!self) return;
            m_pending.reset();
            m_cancel->setEnabled(true);
            if (!ok) {
                m_ctx.prompt.ShowMessage("取消交易失败:" + *error, PromptIcon::Warning);
            } else {
                m_ctx.Accounts().DropCancelledTrade(accountId, tradeId);
            }
            m_list->Show(m_accountId);
            emit answered(ok);
        };
    });
    return true;
}

}  // namespace vextal

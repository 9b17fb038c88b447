#include "ui/PlanDialogs.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include "book/AccountManager.h"
#include "book/TradeForms.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/NumberInput.h"
#include "ui/BookDialogs.h"
#include "ui/FundPicker.h"

namespace vextal {

namespace {
QString Num(const char* fmt, double v) { return QString::fromStdString(FormatNumber(fmt, v)); }
}  // namespace

CPlanDialog::CPlanDialog(const BookDialogContext& ctx, int accountId, const PlanInfo* plan, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_accountId(accountId), m_new(plan == nullptr)
{
    setWindowTitle(m_new ? QStringLiteral("基金定投") : QStringLiteral("修改基金定投"));
    if (plan) m_plan = *plan;
    m_fund = new CFundSelector;
    m_fund->SetChoices(m_ctx.fundChoices);
    if (!m_ctx.currentFund.empty()) m_fund->SetFundID(m_ctx.currentFund);  // the panel's holding to start with
    m_buyType = new QComboBox;
    m_buyType->addItem(QStringLiteral("前端"));  // back-end plans are not supported
    m_amount = new QLineEdit;
    m_fee = new QComboBox;
    m_fee->setEditable(true);
    for (const char* f : kFeeChoices) m_fee->addItem(QString::fromUtf8(f));
    m_fee->setCurrentText(QStringLiteral("1.5"));
    m_day = new QSpinBox;
    m_day->setRange(0, 99);
    m_day->setValue(1);
    m_start = new QDateEdit;
    m_start->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_start->setCalendarPopup(true);
    m_mode = new QComboBox;
    m_mode->addItems({QStringLiteral("混合分红"), QStringLiteral("现金红利"), QStringLiteral("红利转投")});
    m_mode->setCurrentIndex(kBonusIndexCash);
    m_fund->setObjectName("fund");
    m_amount->setObjectName("amount");
    m_fee->setObjectName("fee");
    m_day->setObjectName("day");
    m_start->setObjectName("start");
    m_mode->setObjectName("mode");

    const DateParts today = Clock::Now().Parts();
    m_start->setDate(QDate(today.year, today.month, today.day));
    if (plan) {
        const TradeInfo& t = plan->trade;
        m_fund->SetFundID(t.FundID);
        m_fund->setEnabled(false);  // a plan is kept per fund: another fund is another plan
        m_amount->setText(Num("%0.2f", t.TradeMoney));
        m_fee->setCurrentText(Num("%0.1f", t.TradeFee));
        m_day->setValue(static_cast<int>(t.TradeCount));
        const DateParts s = t.TradeTime.Parts();
        m_start->setDate(QDate(s.year, s.month, s.day));
        m_mode->setCurrentIndex(t.BonusType + 1);
    }

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("定投基金:"), m_fund);
    form->addRow(QStringLiteral("收费方式:"), m_buyType);
    auto* amount = new QHBoxLayout;
    amount->addWidget(m_amount);
    amount->addWidget(new QLabel(QStringLiteral("元")));
    form->addRow(QStringLiteral("定投金额:"), amount);
    auto* fee = new QHBoxLayout;
    fee->addWidget(m_fee);
    fee->addWidget(new QLabel(QStringLiteral("%")));
    form->addRow(QStringLiteral("定投费率:"), fee);
    auto* day = new QHBoxLayout;
    day->addWidget(new QLabel(QStringLiteral("每月")));
    day->addWidget(m_day);
    day->addWidget(new QLabel(QStringLiteral("号")));
    day->addStretch();
    form->addRow(QStringLiteral("定投日期:"), day);
    form->addRow(QStringLiteral("开始日期:"), m_start);
    auto* mode = new QHBoxLayout;
    mode->addWidget(m_mode, 1);
    auto* mixed = new QPushButton(QStringLiteral("设置混合分红方式"));
    mode->addWidget(mixed);
    form->addRow(QStringLiteral("分红方式:"), mode);
    auto* hint = new QLabel(QStringLiteral("手续费使用外扣法。开始日期为扣款起始日期，暂时不支持后端方式。"));
    hint->setWordWrap(true);
    auto* buttons = new QDialogButtonBox;
    connect(buttons->addButton(QStringLiteral("保存"), QDialogButtonBox::AcceptRole), &QPushButton::clicked, this,
            &CPlanDialog::OnSave);
    connect(buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole), &QPushButton::clicked, this,
            &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(hint);
    top->addWidget(buttons);
    connect(mixed, &QPushButton::clicked, this, [this] {
        BookDialogContext c = m_ctx;
        c.currentAccount = m_accountId;
        c.currentFund = m_fund->FundID();
        CDividendModeDialog(c, this).exec();
    });
}

void CPlanDialog::OnSave()
{
    const std::string code = m_new ? m_fund->FundID() : m_plan.trade.FundID;
    // Below zero is the dialog's own refusal; letters, too many places or a
    // rate above 100 % are the reader's.
    const NumberReading fee = ReadNumberInput(m_fee->currentText().toStdString(), {"定投费率", -kMaxFigure, 100, 2, true});
    const NumberReading amount = ReadNumberInput(m_amount->text().toStdString(), {"定投金额", -kMaxFigure, kMaxFigure, 2, true});
    const int day = m_day->value();
    const int bonusType = m_mode->currentIndex() - 1;
    const OleDate start = OleDate::FromParts(m_start->date().year(), m_start->date().month(), m_start->date().day());
    bool mixedWithoutRange = false;
    if (bonusType == kBonusMixed && !code.empty()) {
        // A range must cover the plan's first day, as a booking's date.
        m_ctx.accounts->LoadUserBonus();
        int mode = 0;
        mixedWithoutRange = !m_ctx.accounts->GetBonusTypeForDate({m_accountId, code, kFrontEnd}, start, mode);
    }
    const auto& plans = m_ctx.accounts->Plans();
    const char* refusal = code.empty()                   ? "请先选择要定投的基金"
                          : !fee.ok()                    ? fee.refusal.c_str()
                          : fee.value < 0                ? "定投费率不能小于0"
                          : !amount.ok()                 ? amount.refusal.c_str()
                          : amount.value <= 0            ? "定投金额不能小于0"
                          : day < 1 || day > 31          ? "定投日期范围:1 ~ 31"
                          : mixedWithoutRange            ? "选择混合分红方式，请先设置混合分红方式"
                          : m_new && plans.count({m_accountId, code}) ? "已有此基金的定投记录"
                                                         : nullptr;
    if (refusal) return m_ctx.Say(refusal, PromptIcon::Warning);
    PlanInfo plan = m_plan;
    TradeInfo& t = plan.trade;
    t.AccountID = m_accountId;
    t.FundID = code;
    t.BuyType = kFrontEnd;
    t.BonusType = bonusType;
    t.TradeMoney = amount.value;
    t.TradeFee = fee.value;
    t.TradeCount = day;
    t.TradeTime = start;
    const int result = m_ctx.accounts->SavePlan(plan);
    if (result < 0)
        return m_ctx.Say("保存基金定投信息失败:" + m_ctx.accounts->GetLastErrorText(), PromptIcon::Error);
    m_ctx.Say(result == 0 ? "保存基金定投信息成功" : "交易成功，等待系统确认交易");
    accept();
}

CPlansDialog::CPlansDialog(const BookDialogContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx)
{
    setWindowTitle(QStringLiteral("基金定投管理"));
    m_account = new QComboBox;
    m_account->setObjectName("account");
    m_model = new CRowsModel({QStringLiteral("序号"), QStringLiteral("基金名称"), QStringLiteral("分红方式"),
                              QStringLiteral("定投金额"), QStringLiteral("定投费率"), QStringLiteral("定投日期"),
                              QStringLiteral("已投期数"), QStringLiteral("最后处理"), QStringLiteral("开始日期")},
                             this);
    m_view = new QTableView;
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_view->installEventFilter(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("基金帐户:")));
    row->addWidget(m_account, 1);
    auto* add = new QPushButton(QStringLiteral("基金定投"));
    row->addWidget(add);
    auto* hint = new QLabel(QStringLiteral(
        "选中列表中的定投记录,双击即可进入修改界面,按下\"Delete\"键可以删除(不删除已经成功定投的购买记帐)"));
    hint->setWordWrap(true);
    auto* buttons = new QDialogButtonBox;
    connect(buttons->addButton(QStringLiteral("返回"), QDialogButtonBox::RejectRole), &QPushButton::clicked, this,
            &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(row);
    top->addWidget(m_view, 1);
    top->addWidget(hint);
    top->addWidget(buttons);
    resize(820, 420);
    connect(m_account, &QComboBox::currentIndexChanged, this, &CPlansDialog::ShowPlans);
    connect(add, &QPushButton::clicked, this, [this] { OpenPlan(nullptr); });
    connect(m_view, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.row() < static_cast<int>(m_shown.size())) OpenPlan(&m_shown[static_cast<size_t>(index.row())]);
    });
    FillAccounts(m_account, m_ctx, m_ctx.currentAccount);
    ShowPlans();
}

void CPlansDialog::ShowPlans()
{
    const int account = ChosenAccount(m_account);
    std::vector<PlanInfo> plans;
    for (const auto& [key, p] : m_ctx.accounts->Plans())
        if (key.first == account) plans.push_back(p);
    ShowPlanList(std::move(plans));
}

void CPlansDialog::ShowPlanList(std::vector<PlanInfo> plans)
{
    m_shown = std::move(plans);
    std::vector<QStringList> rows;
    for (const PlanInfo& p : m_shown) {
        const TradeInfo& t = p.trade;
        rows.push_back({QString::number(rows.size() + 1), m_ctx.FundLabel(t.FundID, t.BuyType),
                        QString::fromUtf8(BonusTypeName(t.BonusType)), Num("%0.2f", t.TradeMoney),
                        Num("%0.2f", t.TradeFee) + "%",
                        QString::fromStdString(StrFormat("每月%d号", static_cast<int>(t.TradeCount))),
                        QString::number(p.PeriodsDone), QString::fromStdString(t.DealTime.Format(1)),
                        QString::fromStdString(t.TradeTime.Format(1))});
    }
    m_model->SetRows(std::move(rows));
}

void CPlansDialog::OpenPlan(const PlanInfo* plan)
{
    const int account = ChosenAccount(m_account);
    if (account <= 0) return m_ctx.Say("没有可用的帐户", PromptIcon::Warning);
    CPlanDialog dialog(m_ctx, account, plan, this);
    if (dialog.exec() == QDialog::Accepted) ShowPlans();
}

void CPlansDialog::DeleteChosen()
{
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty() || rows.first().row() >= static_cast<int>(m_shown.size())) return;
    if (!m_ctx.accounts->DeletePlan(m_shown[static_cast<size_t>(rows.first().row())]))
        return m_ctx.Say("删除失败:" + m_ctx.accounts->GetLastErrorText(), PromptIcon::Error);
    ShowPlans();
}

bool CPlansDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        DeleteChosen();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace vextal

#pragma once
// The account dialog and the booking dialogs: purchase, subscription,
// redemption, conversion, quick booking and split. They collect a
// TradeForm, let book/TradeForms check it and preview the fee, and hand the
// trade to CAccountManager::BookTrade; every text they show comes from there.
#include <QDialog>
#include <functional>

#include "book/TradeForms.h"
#include "ui/BookViews.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace vextal {

class CFundSelector;

// "新建帐户", or "帐户属性" for an existing account.
class CAccountDialog : public QDialog {
    Q_OBJECT

public:
    CAccountDialog(CAccountManager& manager, IUserPrompt& prompt, const AccountInfo* existing, QWidget* parent = nullptr);
    QLineEdit* NameEdit() const { return m_name; }
    QPushButton* OkButton() const { return m_ok; }
    // The account created or renamed (after Accepted).
    int AccountID() const { return m_accountId; }
    // Checks the name and creates or renames; true when done.
    bool Submit();

private:
    CAccountManager& m_manager;
    IUserPrompt& m_prompt;
    bool m_existing;
    int m_accountId = 0;
    QLineEdit* m_name;
    QPushButton* m_ok;
};

// Hooks the frame gives the booking dialogs.
struct BookingHooks {
    // "设置混合分红方式": the dividend settings dialog on the holding whose
    // mode the trade sets (a conversion's target).
    std::function<void(const HoldingKey&)> mixedSettings;
};

// Purchase, subscription, redemption, conversion and quick booking.
class CTradeDialog : public QDialog {
    Q_OBJECT

public:
    // `holding`: the holding chosen in the panel (fund and charging type preset), or null.
    CTradeDialog(FormKind kind, const BookContext& context, int accountId, const HoldingKey* holding,
                 BookingHooks hooks = {}, QWidget* parent = nullptr);
    ~CTradeDialog() override;

    FormKind Kind() const { return m_kind; }
    // The form as the fields hold it now.
    TradeForm Form() const;
    // "购买" / "认购" / ...: checks in order, then books; true when booked.
    bool Submit();
    // "计算": asks the NAVs on the worker, then fills the computed field.
    void Calculate();
    bool IsCalculating() const { return m_pending != nullptr; }

    CFundSelector* Fund() const { return m_fund; }
    CFundSelector* TargetFund() const { return m_target; }
    QLineEdit* AmountEdit() const { return m_amount; }
    QLineEdit* CountEdit() const { return m_count; }
    QLineEdit* TargetCountEdit() const { return m_targetCount; }
    QComboBox* FeeBox() const { return m_fee; }
    QCheckBox* FeeIsAmount() const { return m_feeIsAmount; }
    QLabel* FeeCaptionLabel() const { return m_feeCaption; }
    QLabel* FeeUnitLabel() const { return m_feeUnit; }
    QComboBox* TargetFeeBox() const { return m_targetFee; }
    QCheckBox* TargetFeeIsAmount() const { return m_targetFeeIsAmount; }
    QLabel* TargetFeeCaptionLabel() const { return m_targetFeeCaption; }
    QLineEdit* InterestEdit() const { return m_interest; }
    QCheckBox* InterestIsAmount() const { return m_interestIsAmount; }
    QLabel* InterestCaptionLabel() const { return m_interestCaption; }
    QRadioButton* BackEnd() const { return m_backEnd; }
    QRadioButton* TargetBackEnd() const { return m_targetBackEnd; }
    QComboBox* BonusBox() const { return m_bonus; }
    QComboBox* TargetBonusBox() const { return m_targetBonus; }
    QCheckBox* InnerDeduction() const { return m_inner; }
    QCheckBox* NoAutoBonus() const { return m_noAutoBonus; }
    QDateTimeEdit* TimeEdit() const { return m_time; }
    QLineEdit* NoteEdit() const { return m_note; }
    QLabel* AvailableLabel() const { return m_available; }
    QLabel* PreviewLabel() const { return m_preview; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CalcButton() const { return m_calc; }

signals:
    void calculated();

private:
    void UpdateCaptions();
    void UpdateHeld();
    QWidget* FieldWidget(FormField field) const;

    FormKind m_kind;
    const BookContext& m_ctx;
    int m_accountId;
    BookingHooks m_hooks;
    CTaskRunner::CancelFlag m_pending;
    CFundSelector* m_fund = nullptr;
    CFundSelector* m_target = nullptr;
    QLineEdit* m_amount = nullptr;
    QLineEdit* m_count = nullptr;
    QLineEdit* m_targetCount = nullptr;
    QComboBox* m_fee = nullptr;
    QCheckBox* m_feeIsAmount = nullptr;
    QLabel* m_feeCaption = nullptr;
    QLabel* m_feeUnit = nullptr;
    QComboBox* m_targetFee = nullptr;
    QCheckBox* m_targetFeeIsAmount = nullptr;
    QLabel* m_targetFeeCaption = nullptr;
    QLabel* m_targetFeeUnit = nullptr;
    QLineEdit* m_interest = nullptr;
    QCheckBox* m_interestIsAmount = nullptr;
    QLabel* m_interestCaption = nullptr;
    QLabel* m_interestUnit = nullptr;
    QRadioButton* m_backEnd = nullptr;
    QRadioButton* m_targetBackEnd = nullptr;
    QComboBox* m_bonus = nullptr;
    QComboBox* m_targetBonus = nullptr;
    QCheckBox* m_inner = nullptr;
    QCheckBox* m_noAutoBonus = nullptr;
    QDateTimeEdit* m_time = nullptr;
    QLineEdit* m_note = nullptr;
    QLabel* m_available = nullptr;
    QLabel* m_preview = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_calc = nullptr;
};

// "基金拆分记帐": the split records of the fund come from the data service.
class CSplitDialog : public QDialog {
    Q_OBJECT

public:
    CSplitDialog(const BookContext& context, int accountId, const HoldingKey* holding, BookingHooks hooks = {},
                 QWidget* parent = nullptr);
    ~CSplitDialog() override;
    TradeForm Form() const;
    bool Submit();
    // Asks the fund's split records on the worker.
    void LoadSplitRecords();
    bool IsLoading() const { return m_pending != nullptr; }

    QComboBox* AccountBox() const { return m_account; }
    CFundSelector* Fund() const { return m_fund; }
    QLineEdit* RatioEdit() const { return m_ratio; }
    QLineEdit* CountEdit() const { return m_count; }
    QDateEdit* DateEdit() const { return m_date; }
    QListWidget* Records() const { return m_records; }
    QPushButton* OkButton() const { return m_ok; }

signals:
    void recordsLoaded();

private:
    double Held() const;

    const BookContext& m_ctx;
    BookingHooks m_hooks;
    CTaskRunner::CancelFlag m_pending;
    QComboBox* m_account;
    CFundSelector* m_fund;
    QLineEdit* m_ratio;
    QLineEdit* m_count;
    QDateEdit* m_date;
    QListWidget* m_records;
    QLabel* m_held;
    QPushButton* m_ok;
};

// "取消交易": the account's trades; the chosen one is cancelled at the
// service (4/15) on the worker, the dialog stays responsive meanwhile.
class CCancelTradeDialog : public QDialog {
    Q_OBJECT

public:
    CCancelTradeDialog(const BookContext& context, int accountId, BookingHooks hooks = {}, QWidget* parent = nullptr);
    ~CCancelTradeDialog() override;
    // Asks, then sends the cancellation of the chosen trade; false when nothing was sent.
    bool CancelChosen();
    bool IsCancelling() const { return m_pending != nullptr; }
    CTradeInfoListView* List() const { return m_list; }
    QPushButton* CancelButton() const { return m_cancel; }

signals:
    // The service answered (and the trade left the account's trades when ok).
    void answered(bool ok);

private:
    const BookContext& m_ctx;
    int m_accountId;
    BookingHooks m_hooks;
    CTaskRunner::CancelFlag m_pending;
    CTradeInfoListView* m_list;
    QPushButton* m_cancel;
};

}  // namespace vextal

#pragma once
// The bookkeeping dialogs around the bookings: the manual dividend, the
// mixed dividend ranges, the reference redemption fee, moving a holding
// between accounts and editing a booked trade.
#include <QDialog>

#include "ui/BookDialogSupport.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QLineEdit;
class QTableView;

namespace vextal {

// "基金分红记帐"
class CDividendBookingDialog : public QDialog {
    Q_OBJECT

public:
    CDividendBookingDialog(const BookDialogContext& ctx, QWidget* parent = nullptr);
    // "记帐": the checks in order, then the engine; closes when booked.
    void OnBook();

private:
    void ComputeAmount();
    BookDialogContext m_ctx;
    QComboBox* m_account;
    QComboBox* m_fund;
    QDateTimeEdit* m_time;
    QLineEdit* m_perTen;
    QComboBox* m_mode;
    QLineEdit* m_amount;
};

// "基金分红设置"
class CDividendModeDialog : public QDialog {
    Q_OBJECT

public:
    CDividendModeDialog(const BookDialogContext& ctx, QWidget* parent = nullptr);
    void OnSet();
    void OnDelete();
    CRowsModel* Ranges() const { return m_model; }
    QTableView* View() const { return m_view; }

private:
    void FillFunds();
    void ShowRanges();
    void LoadSelected();
    HoldingKey Key() const;
    BookDialogContext m_ctx;
    QComboBox* m_account;
    QComboBox* m_fund;
    CFundSelector* m_anyFund;
    QCheckBox* m_heldOnly;
    QComboBox* m_buyType;
    QDateEdit* m_start;
    QDateEdit* m_end;
    QCheckBox* m_noStart;
    QCheckBox* m_noEnd;
    QComboBox* m_mode;
    QTableView* m_view;
    CRowsModel* m_model;
    std::vector<UserBonusInfo> m_shown;
};

// "基金赎回参考费率设置"
class CSaleFeeDialog : public QDialog {
    Q_OBJECT

public:
    CSaleFeeDialog(const BookDialogContext& ctx, QWidget* parent = nullptr);
    void OnSet();

private:
    void ShowFees();
    BookDialogContext m_ctx;
    QComboBox* m_account;
    QComboBox* m_fund;
    QLineEdit* m_rate;
    QLineEdit* m_fixed;
};

// "帐户间基金移动"
class CMoveHoldingDialog : public QDialog {
    Q_OBJECT

public:
    CMoveHoldingDialog(const BookDialogContext& ctx, QWidget* parent = nullptr);
    void OnMove();

private:
    BookDialogContext m_ctx;
    QComboBox* m_from;
    QComboBox* m_fund;
    QComboBox* m_to;
};

// "修改记帐信息"
class CEditBookingDialog : public QDialog {
    Q_OBJECT

public:
    CEditBookingDialog(const BookDialogContext& ctx, QWidget* parent = nullptr);
    // Chooses the trade's account and row (the trade list's Enter).
    void SelectTrade(int accountId, int tradeId);
    void OnSave();
    QTableView* View() const { return m_view; }

private:
    void ShowTrades();
    void LoadTrade();
    BookDialogContext m_ctx;
    QComboBox* m_account;
    QTableView* m_view;
    CRowsModel* m_model;
    std::vector<TradeInfo> m_trades;
    QLineEdit* m_money;
    QLineEdit* m_count;
    QLineEdit* m_fee;
    QLineEdit* m_price;
};

}  // namespace vextal

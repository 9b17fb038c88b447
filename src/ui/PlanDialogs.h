#pragma once
// Fixed-investment plans: "基金定投管理" lists an account's plans, "基金定投"
// makes or changes one. The engine stores them at the service and books
// what fell due.
#include <QDialog>

#include "ui/BookDialogSupport.h"

class QComboBox;
class QDateEdit;
class QLineEdit;
class QSpinBox;
class QTableView;

namespace vextal {

class CPlanDialog : public QDialog {
    Q_OBJECT

public:
    // plan null: a new plan of the account.
    CPlanDialog(const BookDialogContext& ctx, int accountId, const PlanInfo* plan, QWidget* parent = nullptr);
    // "保存": the checks in order, then SavePlan; closes when saved.
    void OnSave();

private:
    BookDialogContext m_ctx;
    int m_accountId;
    bool m_new;
    PlanInfo m_plan;
    CFundSelector* m_fund;
    QComboBox* m_buyType;
    QLineEdit* m_amount;
    QComboBox* m_fee;
    QSpinBox* m_day;
    QDateEdit* m_start;
    QComboBox* m_mode;
};

class CPlansDialog : public QDialog {
    Q_OBJECT

public:
    CPlansDialog(const BookDialogContext& ctx, QWidget* parent = nullptr);
    void ShowPlans();
    // The rows of these plans (ShowPlans: the account's plans held by the engine).
    void ShowPlanList(std::vector<PlanInfo> plans);
    // The Delete key on the chosen plan.
    void DeleteChosen();
    CRowsModel* Model() const { return m_model; }
    QTableView* View() const { return m_view; }
    // Opens the plan dialog (a plan of the list, or a new one).
    void OpenPlan(const PlanInfo* plan);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    BookDialogContext m_ctx;
    QComboBox* m_account;
    QTableView* m_view;
    CRowsModel* m_model;
    std::vector<PlanInfo> m_shown;
};

}  // namespace vextal

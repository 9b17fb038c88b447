#pragma once
// "导入交易记录": a CSV file of trades, its dry run as a table with the
// refused lines, and "导入" booking it all or nothing.
#include <QDialog>

#include "ui/BookDialogSupport.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace vextal {

struct ImportResult;

class CImportDialog : public QDialog {
    Q_OBJECT

public:
    CImportDialog(const BookDialogContext& ctx, QWidget* parent = nullptr);
    void SetFile(const QString& path);
    // "预览": the rows as they would be booked and the refused lines.
    void OnPreview();
    // "导入": books the file; closes when everything is booked.
    void OnImport();
    CRowsModel* Model() const { return m_model; }
    QString Refusals() const;

private:
    bool ReadFile(std::string& bytes);
    void Show(const ImportResult& result);
    BookDialogContext m_ctx;
    QComboBox* m_account;
    QLineEdit* m_file;
    QTableView* m_view;
    CRowsModel* m_model;
    QPlainTextEdit* m_refusals;
    QPushButton* m_import;
};

}  // namespace vextal

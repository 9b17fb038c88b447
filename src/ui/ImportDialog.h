#pragma once
// "导入交易记录": a CSV file of trades, its dry run as a table with the
// refused lines, and "导入" booking it all or nothing. Both run on the
// program's worker with a progress bar; "取消" stops a run, and a stopped
// run books nothing.
#include <QDialog>
#include <atomic>
#include <memory>

#include "ui/BookDialogSupport.h"

class QComboBox;
class QLineEdit;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;

namespace vextal {

struct ImportResult;
struct ImportRow;

class CImportDialog : public QDialog {
    Q_OBJECT

public:
    CImportDialog(const BookDialogContext& ctx, QWidget* parent = nullptr);
    void SetFile(const QString& path);
    // "预览": the rows as they would be booked and the refused lines.
    void OnPreview();
    // "导入": books the file; closes when everything is booked. It takes the
    // place of a preview that is still running.
    void OnImport();
    CRowsModel* Model() const { return m_model; }
    QString Refusals() const;
    bool IsBusy() const { return m_cancel != nullptr; }
    // While a run goes on: stops it; otherwise closes.
    void reject() override;

signals:
    // A run ended: shown, failed, booked or stopped.
    void runDone();

private:
    bool ReadFile(std::string& bytes);
    void Start(bool dryRun);
    void CommittedAfterCancel(const ImportResult& result);
    void Finished(bool dryRun, const ImportResult& result);
    void SetBusy(bool busy);
    void Show(const ImportResult& result);
    // A duplicate the user did not say to book again.
    bool Skipped(const ImportRow& row) const;
    QString Outcome(const ImportRow& row, bool refused, bool booked) const;
    int BookedRows(const ImportResult& result) const;
    BookDialogContext m_ctx;
    QProgressBar* m_progress;
    QLabel* m_status;
    QTimer* m_poll;
    std::shared_ptr<std::atomic<bool>> m_cancel;  // set while a run goes on
    std::shared_ptr<std::atomic<size_t>> m_done;
    int m_serial = 0;  // the run whose end is shown
    QComboBox* m_account;
    QLineEdit* m_file;
    QTableView* m_view;
    CRowsModel* m_model;
    QPlainTextEdit* m_refusals;
    QPushButton* m_import;
    QPushButton* m_browse;
    QPushButton* m_preview;
    bool m_importing = false;  // the run books (not a preview)
    bool m_bookDuplicates = false;  // the run books the rows the account already holds
};

}  // namespace vextal

#pragma once
// The supplier parameters in bulk on the desktop: the export to a CSV file and the import, whose
// dry run is shown row by row (changes, refusals, conflicts) before the clerk applies it, both
// with progress and a cancel button.
#include <QDialog>
#include <QString>

#include <memory>

#include "ParamsTransfer.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QWidget;
class TNetConnection;

class TQtParamsImportDialog : public QDialog {
public:
    TQtParamsImportDialog(QString path, QWidget* parent = nullptr);
    ~TQtParamsImportDialog() override;

    // The dry run over the whole file, its rows in the table; the Apply button is offered when it
    // found something to change. False when the file or the server failed (said in the summary)
    // or the clerk cancelled.
    bool Check();
    // Applies the file (the Apply button): rows that pass are stored, the others reported again.
    void Apply();

    QTableWidget* Table() const { return table_; }
    QLabel* Summary() const { return summary_; }
    QPushButton* ApplyButton() const { return apply_; }
    QPushButton* CancelButton() const { return cancel_; }
    QProgressBar* Progress() const { return progress_; }
    const ParamsTransfer::Summary& Result() const { return result_; }

protected:
    // Esc and the window's close button interrupt the work under way instead of hiding it.
    void reject() override;

private:
    bool Run(bool apply);

    QString path_;
    std::unique_ptr<TNetConnection> conn_;
    QTableWidget* table_;
    QLabel* summary_;
    QProgressBar* progress_;
    QPushButton* apply_;
    QPushButton* cancel_;
    QPushButton* close_;
    bool cancelled_ = false;
    bool running_ = false;
    ParamsTransfer::Summary result_;
};

// Asks for the file and exports every supplier to it, with progress and cancel; the outcome in a
// message box.
void ExportParamsToFile(QWidget* parent);
// Asks for the file and opens the import's preview over it.
void ImportParamsFromFile(QWidget* parent);

#pragma once
// The rows of a pick list as a lazy table model: rows are read from the source only as the view
// asks for more (canFetchMore/fetchMore, growing with IPickSource::Fetch rather than RowCount), so
// a list of a million rows opens at once. A filter
// keeps the rows that contain its text in any column; it too scans the source step by step.
#include <vector>

#include <QAbstractTableModel>
#include <QStringList>

#include "vcl/Dialogs.h"

class TQtPickModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // With `checks` (one entry per source row) the first column carries a check box per row;
    // rows whose first column reads one of `checkedKeys` start checked as they are read.
    TQtPickModel(IPickSource* source, const std::vector<String>& columns,
                 std::vector<char>* checks = nullptr, QObject* parent = nullptr,
                 const std::vector<String>& checkedKeys = {});

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // Rows matching `text` (case and accents ignored); empty shows every row.
    void SetFilter(const QString& text);
    const QString& Filter() const { return filter_; }
    // The source row shown at `row`, or -1.
    int SourceRow(int row) const;
    // The rows the source has made known so far; all of them once Exhausted().
    int Known() const { return known_; }
    bool Exhausted() const { return exhausted_; }
    // How many source rows were scanned so far, and how many Row calls were made.
    int Scanned() const { return scanned_; }
    int RowsRead() const { return rowsRead_; }
    bool ScanFinished() const { return exhausted_ && scanned_ >= known_; }
    // The message of a source that failed; reading stops there, the rows read stay.
    const QString& Error() const { return error_; }
    // Reads on, without showing, until every row of the initial choice has its check mark, so
    // confirming never drops a choice the user has not scrolled to.
    void CompleteChecks();
    static QString Fold(const QString& s);

    static constexpr int kBatch = 200;     // rows added per fetch
    static constexpr int kScanStep = 5000; // rows a filtered fetch examines at most

signals:
    void progress();

private:
    struct Row {
        int source;
        QStringList cells;
    };
    void Scan(int wanted, int budget);
    // The first reading of a source row: its initial check mark.
    void FirstRead(int source, const QStringList& cells);
    // Asks the source for rows up to `n` (it never reads all of them to answer).
    void EnsureKnown(int n);

    IPickSource* source_;
    QStringList columns_;
    std::vector<char>* checks_;
    std::vector<Row> rows_;
    int known_ = 0;
    bool exhausted_ = false;
    int scanned_ = 0;
    int rowsRead_ = 0;
    QString filter_, folded_;
    QString error_;
    bool continueQueued_ = false;
    int firstUnread_ = 0; // source rows below this were read once
    QStringList pendingKeys_;
};

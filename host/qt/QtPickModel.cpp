#include "qt/QtPickModel.h"

#include <QTimer>

#include "qt/QtText.h"

TQtPickModel::TQtPickModel(IPickSource* source, const std::vector<String>& columns,
                           std::vector<char>* checks, QObject* parent,
                           const std::vector<String>& checkedKeys)
    : QAbstractTableModel(parent), source_(source), checks_(checks) {
    for (const String& c : columns)
        columns_ << ToQ(c);
    if (checks_)
        for (const String& k : checkedKeys)
            pendingKeys_ << ToQ(k);
    if (!source_) exhausted_ = true;
}

void TQtPickModel::FirstRead(int source, const QStringList& cells) {
    if (source < firstUnread_) return;
    firstUnread_ = source + 1;
    if (!checks_ || pendingKeys_.isEmpty() || cells.isEmpty()) return;
    if (pendingKeys_.removeAll(cells.first()) > 0 && source < static_cast<int>(checks_->size()))
        (*checks_)[static_cast<size_t>(source)] = 1;
}

void TQtPickModel::CompleteChecks() {
    try {
        while (!pendingKeys_.isEmpty() && error_.isEmpty()) {
            if (firstUnread_ >= known_) {
                EnsureKnown(firstUnread_ + kBatch);
                if (firstUnread_ >= known_) break;
            }
            QStringList cells;
            for (const String& c : source_->Row(firstUnread_))
                cells << ToQ(c);
            ++rowsRead_;
            FirstRead(firstUnread_, cells);
        }
    } catch (const std::exception& e) {
        error_ = QString::fromUtf8(e.what());
    } catch (...) {
        error_ = QStringLiteral("Erro ao ler a lista.");
    }
}

void TQtPickModel::EnsureKnown(int n) {
    if (exhausted_ || known_ >= n) return;
    try {
        int k = source_->Fetch(n);
        if (k < n) exhausted_ = true;
        known_ = std::max(known_, k);
    } catch (const std::exception& e) {
        error_ = QString::fromUtf8(e.what());
        exhausted_ = true;
    } catch (...) {
        error_ = QStringLiteral("Erro ao ler a lista.");
        exhausted_ = true;
    }
    if (checks_ && static_cast<int>(checks_->size()) < known_)
        checks_->resize(static_cast<size_t>(known_), 0);
}

int TQtPickModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TQtPickModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(static_cast<int>(columns_.size()), 1);
}

QVariant TQtPickModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const Row& r = rows_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return index.column() < r.cells.size() ? r.cells.at(index.column()) : QString();
    if (role == Qt::CheckStateRole && checks_ && index.column() == 0)
        return (*checks_)[static_cast<size_t>(r.source)] ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool TQtPickModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!checks_ || role != Qt::CheckStateRole || index.column() != 0 || !index.isValid() ||
        index.row() >= static_cast<int>(rows_.size()))
        return false;
    int src = rows_[static_cast<size_t>(index.row())].source;
    (*checks_)[static_cast<size_t>(src)] = value.value<Qt::CheckState>() == Qt::Checked ? 1 : 0;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags TQtPickModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (checks_ && index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant TQtPickModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (o == Qt::Horizontal) return section < columns_.size() ? columns_.at(section) : QString();
    return section + 1;
}

bool TQtPickModel::canFetchMore(const QModelIndex& parent) const {
    // After a failure the rows already read can still be shown (a filter cleared, say).
    return !parent.isValid() && (scanned_ < known_ || (!exhausted_ && error_.isEmpty()));
}

void TQtPickModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent)) return;
    Scan(kBatch, folded_.isEmpty() ? kBatch : kScanStep);
}

void TQtPickModel::Scan(int wanted, int budget) {
    std::vector<Row> found;
    int end = scanned_ + budget;
    try {
        while (scanned_ < end && static_cast<int>(found.size()) < wanted) {
            if (scanned_ >= known_) {
                EnsureKnown(scanned_ + kBatch);
                if (scanned_ >= known_ || !error_.isEmpty()) break;
            }
            std::vector<String> cells = source_->Row(scanned_);
            ++rowsRead_;
            Row r{scanned_, {}};
            ++scanned_;
            bool match = folded_.isEmpty();
            for (const String& c : cells) {
                r.cells << ToQ(c);
                if (!match && Fold(r.cells.back()).contains(folded_)) match = true;
            }
            FirstRead(r.source, r.cells);
            if (match) found.push_back(std::move(r));
        }
    } catch (const std::exception& e) {
        error_ = QString::fromUtf8(e.what());
    } catch (...) {
        error_ = QStringLiteral("Erro ao ler a lista.");
    }
    if (!error_.isEmpty()) {
        // Nothing past the row that failed can be read; the rows before it still can.
        known_ = std::min(known_, scanned_);
        exhausted_ = true;
    }
    if (!found.empty()) {
        int first = static_cast<int>(rows_.size());
        beginInsertRows({}, first, first + static_cast<int>(found.size()) - 1);
        for (Row& r : found)
            rows_.push_back(std::move(r));
        endInsertRows();
    } else if (canFetchMore({}) && !continueQueued_) {
        // Nothing matched in this step: keep scanning in later steps, so the window stays
        // responsive and a view with room for rows still fills.
        continueQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            continueQueued_ = false;
            fetchMore({});
        });
    }
    emit progress();
}

void TQtPickModel::SetFilter(const QString& text) {
    if (text == filter_) return;
    beginResetModel();
    filter_ = text;
    folded_ = Fold(text.trimmed());
    rows_.clear();
    scanned_ = 0;
    endResetModel();
    fetchMore({});
}

int TQtPickModel::SourceRow(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return -1;
    return rows_[static_cast<size_t>(row)].source;
}

QString TQtPickModel::Fold(const QString& s) {
    QString d = s.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(d.size());
    for (QChar ch : d)
        if (ch.category() != QChar::Mark_NonSpacing) out += ch;
    return out.toCaseFolded();
}

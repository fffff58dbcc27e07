#include "qt/QtDialogs.h"

#include <map>

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include "qt/QtBusyOverlay.h"
#include "qt/QtPickModel.h"
#include "qt/QtText.h"
#include "qt/QtWidgetSet.h"

void MakeDialogWindow(QWidget* w) {
    w->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                      Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
}

TQtPickDialog::TQtPickDialog(const String& title, const std::vector<String>& columns,
                             IPickSource* rows, std::vector<char>* checks, QWidget* parent,
                             const std::vector<int>& widths, const std::vector<String>& checkedKeys,
                             int current)
    : QDialog(parent), multi_(checks != nullptr), widths_(widths) {
    MakeDialogWindow(this);
    setObjectName(multi_ ? QStringLiteral("multiPickDialog") : QStringLiteral("pickDialog"));
    setWindowTitle(ToQ(title));
    setWindowModality(Qt::ApplicationModal);
    resize(560, 420);

    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("filter"));
    filter_->setPlaceholderText(QStringLiteral("Digite para filtrar"));
    filter_->installEventFilter(this);

    model_ = new TQtPickModel(rows, columns, checks, this, checkedKeys);
    view_ = new QTableView(this);
    view_->setObjectName(QStringLiteral("list"));
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setDefaultSectionSize(20);
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->setAlternatingRowColors(true);
    // Tab leaves the list for the buttons, as in any dialog, instead of going cell by cell.
    view_->setTabKeyNavigation(false);
    view_->installEventFilter(this);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));

    ok_ =
        new QPushButton(multi_ ? QStringLiteral("Confirmar") : QStringLiteral("Selecionar"), this);
    auto* cancel = cancel_ = new QPushButton(QStringLiteral("Cancelar"), this);
    ok_->setDefault(true);
    cancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(filter_);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);

    connect(ok_, &QPushButton::clicked, this, [this] {
        if (multi_) {
            model_->CompleteChecks();
            accept();
        } else {
            Pick();
        }
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(view_, &QTableView::doubleClicked, this, [this] {
        if (!multi_) Pick();
    });
    connect(filter_, &QLineEdit::textChanged, this, [this](const QString& t) {
        model_->SetFilter(t);
        SelectFirst();
    });
    connect(model_, &TQtPickModel::progress, this, [this] {
        UpdateStatus();
        if (!view_->currentIndex().isValid()) SelectFirst();
        if (!sized_ && model_->rowCount() > 0) SizeColumns();
    });
    if (model_->canFetchMore({})) model_->fetchMore({});
    SelectFirst();
    if (current > 0) GoToRow(current);
    UpdateStatus();
    SizeColumns();
    filter_->setFocus();
}

void TQtPickDialog::SizeColumns() {
    QHeaderView* header = view_->horizontalHeader();
    QFontMetrics fm(view_->font());
    int total = 0;
    for (int c = 0; c < model_->columnCount(); ++c) {
        int w = std::max(header->sectionSizeHint(c),
                         static_cast<QAbstractItemView*>(view_)->sizeHintForColumn(c));
        if (c < static_cast<int>(widths_.size()) && widths_[static_cast<size_t>(c)] > 0)
            w = std::max(w, fm.horizontalAdvance(QLatin1Char('0')) *
                                    std::min(widths_[static_cast<size_t>(c)], 60) +
                                12);
        view_->setColumnWidth(c, w);
        total += w;
    }
    if (sized_) return;
    sized_ = true;
    // Wide enough for every column and the scroll bar, within the screen it opens on.
    int frame = view_->frameWidth() * 2 + view_->verticalScrollBar()->sizeHint().width() +
                layout()->contentsMargins().left() + layout()->contentsMargins().right() + 4;
    int want = std::max(total + frame, 420);
    QRect avail = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(std::min(want, avail.width() - 40), std::min(height(), avail.height() - 60));
}

int TQtPickDialog::CurrentSourceRow() const {
    QModelIndex i = view_->currentIndex();
    return i.isValid() ? model_->SourceRow(i.row()) : -1;
}

void TQtPickDialog::SetReadOnly() {
    readOnly_ = true;
    setObjectName(QStringLiteral("listDialog"));
    ok_->hide();
    cancel_->setText(QStringLiteral("Fechar"));
    cancel_->setDefault(true);
}

void TQtPickDialog::Pick() {
    if (readOnly_) return;
    if (CurrentSourceRow() >= 0) accept();
}

void TQtPickDialog::SelectFirst() {
    if (model_->rowCount() > 0) view_->setCurrentIndex(model_->index(0, 0));
}

void TQtPickDialog::GoToRow(int row) {
    while ((row < 0 || model_->rowCount() <= row) && model_->canFetchMore({}))
        model_->fetchMore({});
    int last = model_->rowCount() - 1;
    if (last < 0) return;
    QModelIndex i = model_->index(row < 0 ? last : std::min(row, last), 0);
    view_->setCurrentIndex(i);
    view_->scrollTo(i, QAbstractItemView::PositionAtCenter);
    UpdateStatus();
}

void TQtPickDialog::UpdateStatus() {
    QString s;
    if (!model_->Error().isEmpty())
        s = model_->Error();
    else if (model_->Filter().trimmed().isEmpty())
        s = model_->Exhausted() ? QStringLiteral("%1 registro(s)").arg(model_->Known())
                                : QStringLiteral("%1 registros ou mais").arg(model_->Known());
    else if (model_->ScanFinished())
        s = QStringLiteral("%1 encontrado(s)").arg(model_->rowCount());
    else
        s = QStringLiteral("%1 encontrado(s) até agora...").arg(model_->rowCount());
    status_->setText(s);
}

bool TQtPickDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    auto* k = static_cast<QKeyEvent*>(event);
    if (watched == filter_) {
        switch (k->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            // The filter keeps the focus while the arrows move through the list.
            QApplication::sendEvent(view_, event);
            return true;
        default:
            return false;
        }
    }
    if (watched == view_ && (k->key() == Qt::Key_Home || k->key() == Qt::Key_End) &&
        !(k->modifiers() & (Qt::AltModifier | Qt::ShiftModifier))) {
        // The first or the last row, not the first or last column of the row.
        GoToRow(k->key() == Qt::Key_Home ? 0 : -1);
        return true;
    }
    if (watched == view_ && multi_ && k->key() == Qt::Key_Space) {
        QModelIndex i = view_->currentIndex();
        if (i.isValid()) {
            QModelIndex first = model_->index(i.row(), 0);
            bool on =
                model_->data(first, Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
            model_->setData(first, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        }
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------

TQtDialogService::TQtDialogService(TQtWidgetSet* widgetSet) : widgetSet_(widgetSet) {}

TQtDialogService::~TQtDialogService() {
    delete busy_.data();
}

QString TQtDialogService::Title(TMsgDlgType type) {
    switch (type) {
    case mtError:
        return QStringLiteral("Erro");
    case mtWarning:
        return QStringLiteral("Aviso");
    case mtConfirmation:
        return QStringLiteral("Confirmação");
    default:
        return QStringLiteral("Informação");
    }
}

QString TQtDialogService::ButtonCaption(TMsgDlgBtn b) {
    switch (b) {
    case mbYes:
        return QStringLiteral("Sim");
    case mbNo:
        return QStringLiteral("Não");
    case mbOK:
        return QStringLiteral("OK");
    case mbCancel:
        return QStringLiteral("Cancelar");
    case mbAbort:
        return QStringLiteral("Abortar");
    case mbRetry:
        return QStringLiteral("Repetir");
    case mbIgnore:
        return QStringLiteral("Ignorar");
    case mbAll:
        return QStringLiteral("Todos");
    case mbNoToAll:
        return QStringLiteral("Não para todos");
    case mbYesToAll:
        return QStringLiteral("Sim para todos");
    case mbHelp:
        return QStringLiteral("Ajuda");
    }
    return QStringLiteral("OK");
}

namespace {
// The classic results of the buttons beyond mrNo.
constexpr int mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;

int ResultOf(TMsgDlgBtn b) {
    switch (b) {
    case mbYes:
        return mrYes;
    case mbNo:
        return mrNo;
    case mbOK:
        return mrOk;
    case mbCancel:
        return mrCancel;
    case mbAbort:
        return mrAbort;
    case mbRetry:
        return mrRetry;
    case mbIgnore:
        return mrIgnore;
    case mbAll:
        return mrAll;
    case mbNoToAll:
        return mrNoToAll;
    case mbYesToAll:
        return mrYesToAll;
    case mbHelp:
        return mrNone;
    }
    return mrNone;
}

QMessageBox::ButtonRole RoleOf(TMsgDlgBtn b) {
    switch (b) {
    case mbYes:
    case mbYesToAll:
    case mbAll:
        return QMessageBox::YesRole;
    case mbNo:
    case mbNoToAll:
        return QMessageBox::NoRole;
    case mbCancel:
    case mbAbort:
        return QMessageBox::RejectRole;
    case mbHelp:
        return QMessageBox::HelpRole;
    default:
        return QMessageBox::AcceptRole;
    }
}
} // namespace

QWidget* TQtDialogService::DialogParent() const {
    // A box belongs to a framed window: never to a pop-up (the calendar), a tool tip or a window
    // being closed, which the window manager may not frame or place.
    auto framed = [](QWidget* w) {
        if (!w || !w->isVisible()) return false;
        Qt::WindowType type = w->windowType();
        return (type == Qt::Window || type == Qt::Dialog) &&
               !(w->windowFlags() & Qt::FramelessWindowHint);
    };
    for (QWidget* w : {QApplication::activeModalWidget(), QApplication::activeWindow()}) {
        while (w && !framed(w))
            w = w->parentWidget() ? w->parentWidget()->window() : nullptr;
        if (w) return w;
    }
    QWidget* main = widgetSet_ ? widgetSet_->MainWindow() : nullptr;
    return framed(main) ? main : nullptr;
}

int TQtDialogService::MessageBox(const String& text, TMsgDlgType type,
                                 const TMsgDlgButtons& buttons) {
    QMessageBox box(DialogParent());
    MakeDialogWindow(&box);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setWindowTitle(Title(type));
    // The text is shown as it stands: no markup from messages reaches the renderer.
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQ(text));
    box.setWindowModality(Qt::ApplicationModal);
    switch (type) {
    case mtError:
        box.setIcon(QMessageBox::Critical);
        break;
    case mtWarning:
        box.setIcon(QMessageBox::Warning);
        break;
    case mtConfirmation:
        box.setIcon(QMessageBox::Question);
        break;
    case mtInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    TMsgDlgButtons list = buttons.empty() ? TMsgDlgButtons{mbOK} : buttons;
    std::map<QAbstractButton*, int> results;
    QAbstractButton* escape = nullptr;
    int escapeRank = 99;
    for (TMsgDlgBtn b : list) {
        if (b == mbHelp) continue; // there is no help to show
        QPushButton* pb = box.addButton(ButtonCaption(b), RoleOf(b));
        results[pb] = ResultOf(b);
        if (results.size() == 1) box.setDefaultButton(pb);
        // Esc and the close button answer Cancel, else No, else the only button there is.
        int rank = b == mbCancel ? 0 : b == mbNo ? 1 : b == mbOK ? 2 : 9;
        if (rank < escapeRank) {
            escapeRank = rank;
            escape = pb;
        }
    }
    if (!escape && results.size() == 1) escape = results.begin()->first;
    if (escape) box.setEscapeButton(escape);
    // A box of fixed size: window managers that draw buttons by themselves then offer neither
    // maximise nor a size grip.
    if (box.layout()) box.layout()->setSizeConstraint(QLayout::SetFixedSize);
    box.exec();
    auto it = results.find(box.clickedButton());
    if (it != results.end()) return it->second;
    if (escape) return results[escape];
    return mrCancel;
}

std::optional<int> TQtDialogService::PickRow(const TPickRequest& request) {
    if (!request.rows) return std::nullopt;
    TQtPickDialog dlg(request.title, request.columns, request.rows, nullptr, DialogParent(),
                      request.widths, {}, request.current);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    int row = dlg.CurrentSourceRow();
    if (row < 0) return std::nullopt;
    return row;
}

void TQtDialogService::ShowList(const TPickRequest& request) {
    if (!request.rows) return;
    TQtPickDialog dlg(request.title, request.columns, request.rows, nullptr, DialogParent(),
                      request.widths);
    dlg.SetReadOnly();
    dlg.exec();
}

std::optional<std::vector<int>> TQtDialogService::PickRows(const TMultiPickRequest& request) {
    if (!request.rows) return std::nullopt;
    std::vector<char> checks(request.checked.begin(), request.checked.end());
    TQtPickDialog dlg(request.title, request.columns, request.rows, &checks, DialogParent(),
                      request.widths, request.checkedKeys, request.current);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<int> out;
    for (size_t i = 0; i < checks.size(); ++i)
        if (checks[i]) out.push_back(static_cast<int>(i));
    return out;
}

void TQtDialogService::BusyShow(TCustomForm* over, int kind, const String& text) {
    BusyHide();
    QWidget* target = nullptr;
    // Kind 1 covers the form it names; the others cover the host's main window.
    if (widgetSet_ && kind == 1) target = widgetSet_->WindowOf(over);
    if (!target && widgetSet_) target = widgetSet_->MainWindow();
    if (!target && widgetSet_) target = widgetSet_->WindowOf(over);
    if (!target) target = QApplication::activeWindow();
    if (!target) return;
    busy_ = new TQtBusyOverlay(target, kind, ToQ(text));
    busy_->ShowNow();
}

void TQtDialogService::BusyHide() {
    if (!busy_) return;
    QWidget* under = busy_->parentWidget();
    delete busy_.data();
    if (under) under->update();
}

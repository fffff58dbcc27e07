#pragma once
// The dialog service of the widgetset: Portuguese message boxes, the pick list over a lazy model,
// the multi-select list and the busy overlay.
#include <optional>
#include <vector>

#include <QDialog>
#include <QPointer>

#include "qt/QtBusyOverlay.h"
#include "vcl/Dialogs.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class TQtPickModel;
class TQtWidgetSet;

// A list to pick one row from (Enter or double click) or, with check marks, several rows
// ("Confirmar"). A filter box above the list narrows it as the user types. It opens on the row
// of the current value; Tab and Shift+Tab move between the filter, the list and the buttons, the
// arrows, Home and End through the rows (End reading to the last), Space checks a row.
class TQtPickDialog : public QDialog {
    Q_OBJECT
public:
    // `widths`: the display width of each column in characters (may be shorter or empty).
    TQtPickDialog(const String& title, const std::vector<String>& columns, IPickSource* rows,
                  std::vector<char>* checks, QWidget* parent, const std::vector<int>& widths = {},
                  const std::vector<String>& checkedKeys = {}, int current = -1);

    TQtPickModel* Model() const { return model_; }
    QTableView* View() const { return view_; }
    QLineEdit* FilterBox() const { return filter_; }
    QPushButton* AcceptButton() const { return ok_; }
    // The source row of the current line, or -1.
    int CurrentSourceRow() const;
    // Picks the current line (single pick); nothing happens without one or when read only.
    void Pick();
    // Only to look at: no pick, one button "Fechar".
    void SetReadOnly();
    QPushButton* CloseButton() const { return cancel_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateStatus();
    void SelectFirst();
    // Reads on until the list shows `row` (all of them for -1), then makes it the current one.
    void GoToRow(int row);
    // Each column as wide as its title, its display width and the rows read so far; the dialog
    // as wide as its columns, within the screen.
    void SizeColumns();

    TQtPickModel* model_;
    QTableView* view_;
    QLineEdit* filter_;
    QLabel* status_;
    QPushButton* ok_;
    QPushButton* cancel_;
    bool multi_;
    bool readOnly_ = false;
    std::vector<int> widths_;
    bool sized_ = false;
};

// Dialog window flags: a title and a close button, never minimise or maximise.
void MakeDialogWindow(QWidget* w);

class TQtDialogService : public IDialogService {
public:
    // `widgetSet` finds the windows of forms and the main window; it may be null.
    explicit TQtDialogService(TQtWidgetSet* widgetSet = nullptr);
    ~TQtDialogService() override;

    int MessageBox(const String& text, TMsgDlgType type, const TMsgDlgButtons& buttons) override;
    std::optional<int> PickRow(const TPickRequest& request) override;
    std::optional<std::vector<int>> PickRows(const TMultiPickRequest& request) override;
    void ShowList(const TPickRequest& request) override;
    void BusyShow(TCustomForm* over, int kind, const String& text) override;
    void BusyHide() override;

    TQtBusyOverlay* Busy() const { return busy_; }
    // Titles and button captions, in Portuguese.
    static QString Title(TMsgDlgType type);
    static QString ButtonCaption(TMsgDlgBtn b);

private:
    QWidget* DialogParent() const;
    TQtWidgetSet* widgetSet_;
    QPointer<TQtBusyOverlay> busy_;
};

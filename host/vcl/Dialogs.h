#pragma once
// Message boxes, pick lists and the busy animation go through one injected service, so the screen
// runs headless (a scripted service records them) or with real windows (the toolkit's service).
#include <deque>
#include <optional>
#include <vector>

#include "vcl/Classes.h"

class TCustomForm;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};
using TMsgDlgButtons = std::vector<TMsgDlgBtn>;

constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6,
              mrNo = 7;

// Rows of a pick list, read only when shown, so a list of a million rows opens at once.
class IPickSource {
public:
    virtual ~IPickSource() = default;
    // Every row; a source that fetches lazily reads them all to answer.
    virtual int RowCount() = 0;
    virtual std::vector<String> Row(int index) = 0;
    // Makes sure at least `wanted` rows are read (fewer when the source ends first) and returns how
    // many are known; a lazy list view grows with this instead of asking RowCount.
    virtual int Fetch(int wanted) {
        int n = RowCount();
        return wanted < n ? wanted : n;
    }
};

struct TPickRequest {
    String title;
    std::vector<String> columns;
    IPickSource* rows = nullptr;
    std::vector<int> widths = {}; // display width of each column in characters, when known
    // The row the list opens on (the one of the current value), or -1 for the first.
    int current = -1;
};

struct TMultiPickRequest {
    String title;
    std::vector<String> columns;
    IPickSource* rows = nullptr;
    std::vector<bool> checked; // initial check marks, one per row from the first
    // Rows whose first column reads one of these start checked too; the list finds them as it
    // reads, so it never needs every row to open.
    std::vector<String> checkedKeys = {};
    std::vector<int> widths = {};
    int current = -1; // as for TPickRequest
};

class IDialogService {
public:
    virtual ~IDialogService() = default;
    // Returns the mr* code of the button pressed.
    virtual int MessageBox(const String& text, TMsgDlgType type, const TMsgDlgButtons& buttons) = 0;
    // The chosen row, or nothing when cancelled.
    virtual std::optional<int> PickRow(const TPickRequest& request) = 0;
    // The checked rows in list order, or nothing when cancelled.
    virtual std::optional<std::vector<int>> PickRows(const TMultiPickRequest& request) = 0;
    // A list only to look at (a history, say); returns when the user closes it.
    virtual void ShowList(const TPickRequest& request) = 0;
    // Shows the busy animation of `kind` over `over` (a form) and returns at once.
    virtual void BusyShow(TCustomForm* over, int kind, const String& text) = 0;
    virtual void BusyHide() = 0;
};

IDialogService& DialogService();
void SetDialogService(IDialogService* service); // null restores the built-in scripted service

int MessageDlg(const String& text, TMsgDlgType type, const TMsgDlgButtons& buttons,
               int helpContext);
void ShowMessage(const String& text);
String DialogKindName(TMsgDlgType type); // "error", "warning", "question", "info"

// Records every dialog and answers from queues; a question with no answer left gets "no".
class TScriptedDialogs : public IDialogService {
public:
    struct Dialog {
        String kind;
        String text;
        bool hasChoice = false;
        String answer; // "yes", "no", "ok", "cancel" when hasChoice
        bool unanswered = false;
    };
    struct Busy {
        int kind = 0;
        String text;
        String over; // name of the form it covers
    };
    struct List {
        String title;
        std::vector<String> columns;
        std::vector<std::vector<String>> rows; // the first 100, as displayed
        int count = 0;
        std::vector<String>
            checked;     // multi-select: first-column texts of the rows checked on entry
        int current = 0; // the row the list opens on
        bool multi = false;
        bool readOnly = false; // shown only to look at (ShowList)
    };
    struct PickAnswer {
        bool cancel = false;
        int row = -1;             // single pick
        std::vector<String> keys; // multi pick: first-column texts to check
        bool multi = false;
    };

    int MessageBox(const String& text, TMsgDlgType type, const TMsgDlgButtons& buttons) override;
    std::optional<int> PickRow(const TPickRequest& request) override;
    std::optional<std::vector<int>> PickRows(const TMultiPickRequest& request) override;
    void ShowList(const TPickRequest& request) override;
    void BusyShow(TCustomForm* over, int kind, const String& text) override;
    void BusyHide() override;

    std::deque<String> answers;
    std::deque<PickAnswer> picks;
    std::vector<Dialog> dialogs;
    std::vector<Busy> busy;
    std::vector<List> lists;
    bool busyVisible = false;
    int busyShows = 0, busyHides = 0;
    // Messages of failures inside the service (a pick of a row that is not there, say).
    std::vector<String> errors;
    void ClearLog();
};

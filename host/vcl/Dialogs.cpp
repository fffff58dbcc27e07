#include "vcl/Dialogs.h"

#include <algorithm>

#include "vcl/Forms.h"

namespace {
TScriptedDialogs gBuiltIn;
IDialogService* gService = nullptr;

bool Has(const TMsgDlgButtons& b, TMsgDlgBtn x) {
    return std::find(b.begin(), b.end(), x) != b.end();
}
} // namespace

IDialogService& DialogService() {
    return gService ? *gService : gBuiltIn;
}

void SetDialogService(IDialogService* service) {
    gService = service;
}

int MessageDlg(const String& text, TMsgDlgType type, const TMsgDlgButtons& buttons, int) {
    return DialogService().MessageBox(text, type, buttons.empty() ? TMsgDlgButtons{mbOK} : buttons);
}

void ShowMessage(const String& text) {
    DialogService().MessageBox(text, mtInformation, {mbOK});
}

String DialogKindName(TMsgDlgType type) {
    switch (type) {
    case mtError:
        return "error";
    case mtWarning:
        return "warning";
    case mtConfirmation:
        return "question";
    default:
        return "info";
    }
}

int TScriptedDialogs::MessageBox(const String& text, TMsgDlgType type,
                                 const TMsgDlgButtons& buttons) {
    Dialog d;
    d.kind = DialogKindName(type);
    d.text = text;
    d.hasChoice = buttons.size() > 1;
    int result = Has(buttons, mbOK) ? mrOk : mrYes;
    if (d.hasChoice) {
        String a;
        if (!answers.empty()) {
            a = answers.front();
            answers.pop_front();
        } else {
            a = "no";
            d.unanswered = true;
        }
        if (a == "yes" && Has(buttons, mbYes))
            result = mrYes;
        else if (a == "yes" || a == "ok")
            result = Has(buttons, mbOK) ? mrOk : mrYes;
        else if (a == "cancel")
            result = mrCancel;
        else
            result = Has(buttons, mbNo) ? mrNo : mrCancel;
        d.answer = result == mrYes  ? "yes"
                   : result == mrOk ? "ok"
                   : result == mrNo ? "no"
                                    : "cancel";
    }
    dialogs.push_back(d);
    return result;
}

namespace {
TScriptedDialogs::List Snapshot(const String& title, const std::vector<String>& columns,
                                IPickSource* rows, int current = -1) {
    TScriptedDialogs::List l;
    l.title = title;
    l.columns = columns;
    l.count = rows ? rows->RowCount() : 0;
    l.current = current >= 0 && current < l.count ? current : 0;
    for (int i = 0; i < std::min(l.count, 100); ++i)
        l.rows.push_back(rows->Row(i));
    return l;
}
} // namespace

std::optional<int> TScriptedDialogs::PickRow(const TPickRequest& request) {
    lists.push_back(Snapshot(request.title, request.columns, request.rows, request.current));
    if (picks.empty()) return std::nullopt;
    PickAnswer a = picks.front();
    picks.pop_front();
    if (a.cancel) return std::nullopt;
    if (a.row < 0 || a.row >= lists.back().count) {
        errors.push_back("a lista não tem a linha " + std::to_string(a.row));
        return std::nullopt;
    }
    return a.row;
}

void TScriptedDialogs::ShowList(const TPickRequest& request) {
    lists.push_back(Snapshot(request.title, request.columns, request.rows));
    lists.back().readOnly = true;
}

std::optional<std::vector<int>> TScriptedDialogs::PickRows(const TMultiPickRequest& request) {
    List l = Snapshot(request.title, request.columns, request.rows, request.current);
    l.multi = true;
    for (int i = 0; i < l.count; ++i) {
        bool on = i < static_cast<int>(request.checked.size()) && request.checked[i];
        String key = on || !request.checkedKeys.empty() ? request.rows->Row(i).at(0) : String();
        if (!on)
            on = std::find(request.checkedKeys.begin(), request.checkedKeys.end(), key) !=
                 request.checkedKeys.end();
        if (on) l.checked.push_back(key);
    }
    lists.push_back(l);
    if (picks.empty()) return std::nullopt;
    PickAnswer a = picks.front();
    picks.pop_front();
    if (a.cancel) return std::nullopt;
    std::vector<int> chosen;
    std::vector<bool> found(a.keys.size(), false);
    for (int i = 0; i < l.count; ++i) {
        String key = request.rows->Row(i).at(0);
        for (size_t k = 0; k < a.keys.size(); ++k)
            if (a.keys[k] == key && !found[k]) {
                found[k] = true;
                chosen.push_back(i);
                break;
            }
    }
    bool missing = false;
    for (size_t k = 0; k < a.keys.size(); ++k)
        if (!found[k]) {
            errors.push_back("a lista não tem a chave " + a.keys[k]);
            missing = true;
        }
    // A choice the list cannot give is not half applied: the list is left as if cancelled.
    if (missing) return std::nullopt;
    return chosen;
}

void TScriptedDialogs::BusyShow(TCustomForm* over, int kind, const String& text) {
    busy.push_back({kind, text, over ? over->Name() : String()});
    busyVisible = true;
    ++busyShows;
}

void TScriptedDialogs::BusyHide() {
    if (busyVisible) ++busyHides;
    busyVisible = false;
}

void TScriptedDialogs::ClearLog() {
    dialogs.clear();
    busy.clear();
    lists.clear();
    errors.clear();
}

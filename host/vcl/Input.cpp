#include "vcl/Input.h"

#include "rtl/Utf8.h"
#include "vcl/Mask.h"

namespace UserInput {

namespace {
bool FocusNow(TWinControl* c) {
    TCustomForm* f = c->ParentForm();
    if (!f) return false;
    f->FocusControlByMouse(c);
    return f->ActiveControl() == c;
}

void PlaceCaretAtEnd(TCustomEdit* e) {
    if (auto* m = dynamic_cast<TCustomMaskEdit*>(e); m && m->IsMasked()) {
        TEditMask mask(m->EditMask());
        std::u32string t = ToU32(m->EditText());
        size_t end = 0;
        for (size_t i = 0; i < t.size() && i < mask.Positions(); ++i)
            if (!mask.IsLiteral(i) && t[i] != mask.BlankChar()) end = i + 1;
        e->SetSelStart(static_cast<int>(end));
        return;
    }
    e->SetSelStart(static_cast<int>(Utf8Length(e->TControl::Text())));
}
} // namespace

bool Command(TCustomForm* form, const TFormCommand& command) {
    const TFormCommand c = command; // the form's own list may change while it runs
    return RunEvent([&] {
        if (form->Released() || (c.enabled && !c.enabled())) return;
        if (c.execute) c.execute();
    });
}

bool Focus(TWinControl* control) {
    return RunEvent([&] { FocusNow(control); });
}

bool Key(TWinControl* control, Char key) {
    return RunEvent([&] {
        if (TCustomForm* f = control->ParentForm()) f->DispatchKey(control, key);
    });
}

bool KeyDown(TWinControl* control, Word key, TShiftState shift) {
    return RunEvent([&] {
        if (TCustomForm* f = control->ParentForm()) f->DispatchKeyDown(control, key, shift);
    });
}

bool ShortCut(TCustomForm* form, const String& shortCut) {
    if (!form->HasShortCut(shortCut)) return false;
    return RunEvent([&] {
        if (!form->Released()) form->ShortCut(shortCut);
    });
}

bool Click(TControl* control) {
    return RunEvent([&] {
        if (auto* w = dynamic_cast<TWinControl*>(control); w && w->Focusable()) {
            if (!FocusNow(w)) return;
        }
        control->UserClick();
    });
}

bool TypeText(TCustomEdit* edit, const String& text) {
    bool keysOk = true;
    // One event around all the keys, as for a paste: a form released by one of them is freed only
    // after the last, so the edit can still be asked whether it has the focus.
    bool ok = RunEvent([&] {
        if (!edit->Focused() && !FocusNow(edit)) throw EAbort();
        PlaceCaretAtEnd(edit);
        for (char32_t ch : ToU32(text)) {
            if (edit->Destroying() || !edit->Focused() || edit->ParentForm()->Released() ||
                !Key(edit, ch)) {
                keysOk = false;
                return;
            }
        }
    });
    return ok && keysOk;
}

bool ClearText(TCustomEdit* edit) {
    return RunEvent([&] {
        if (!edit->Focused() && !FocusNow(edit)) return;
        edit->SelectAll();
        edit->DeleteSelection();
    });
}

bool Select(TCustomEdit* edit, int start, int length) {
    return RunEvent([&] {
        if (!edit->Focused() && !FocusNow(edit)) return;
        edit->SetSelStart(start);
        edit->SetSelLength(length);
    });
}

bool DeleteForward(TCustomEdit* edit) {
    return RunEvent([&] {
        if (!edit->Focused() && !FocusNow(edit)) return;
        // The character after the caret is selected as one, then deleted.
        if (edit->SelLength() == 0) edit->SetSelLength(1);
        edit->DeleteSelection();
    });
}

bool Paste(TCustomEdit* edit, const String& text) {
    bool keysOk = true;
    // One event around all the keys: a form released by one of them is freed only after the last,
    // so the edit can still be asked whether it has the focus.
    bool ok = RunEvent([&] {
        if (!edit->Focused() && !FocusNow(edit)) return;
        for (char32_t ch : ToU32(text)) {
            if (ch < 32 || ch == 127) continue;
            if (edit->Destroying() || !edit->Focused() || edit->ParentForm()->Released()) break;
            if (!Key(edit, ch)) keysOk = false;
        }
    });
    return ok && keysOk;
}

bool Tab(TCustomForm* form, bool back) {
    return RunEvent([&] { form->SelectNext(!back); });
}

bool Close(TCustomForm* form) {
    return RunEvent([&] { form->Close(); });
}

bool WindowState(TCustomForm* form, TWindowState state) {
    return RunEvent([&] { form->SetWindowState(state); });
}

} // namespace UserInput

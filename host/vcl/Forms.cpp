#include "vcl/Forms.h"

#include <cctype>

#include <algorithm>

#include "rtl/ScopeGuard.h"
#include "vcl/Dialogs.h"
#include "vcl/FormReader.h"
#include "vcl/StdCtrls.h"

namespace {
TScreen gScreen;
int gEventDepth = 0;
} // namespace

TApplication* Application = new TApplication(nullptr);
TScreen* Screen = &gScreen;

// ---------------------------------------------------------------------------------------------

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
    SetVisible(false);
}

TCustomForm::~TCustomForm() {
    BeginDestroy();
    if (OnDestroy) {
        try {
            OnDestroy(this);
        } catch (...) {
            // A failing destroy handler must not stop the freeing of the form.
        }
    }
    if (Application && Application->Peer()) Application->Peer()->FormClosed(this);
    Screen->RemoveForm(this);
    activeControl_ = nullptr;
    DestroyComponents();
}

void TCustomForm::AfterConstruction() {
    // A definition that makes the form visible shows it once its creation event has run.
    bool visible = Visible();
    SetVisible(false);
    if (OnCreate) OnCreate(this);
    if (visible) Show();
}

void TCustomForm::SetActiveControl(TWinControl* c) {
    if (Loading()) {
        activeControl_ = c;
        return;
    }
    FocusControl(c);
}

void TCustomForm::FocusControl(TWinControl* c) {
    if (c == activeControl_) return;
    if (c && (c->ParentForm() != this || !c->CanFocus()))
        throw EInvalidOperation("Não é possível mover o foco para " + c->Name() +
                                ": o controle está desabilitado ou invisível.");
    unsigned generation = ++focusGeneration_;
    TWinControl* old = activeControl_;
    if (old) {
        std::vector<TWinControl*> leaving;
        for (TWinControl* w = old; w && w != this && !(c && w->ContainsControl(c)); w = w->Parent())
            leaving.push_back(w);
        static thread_local std::vector<TWinControl*> exiting;
        for (TWinControl* w : leaving) {
            // A handler that moves the focus elsewhere must not see its own exit event again.
            if (std::find(exiting.begin(), exiting.end(), w) != exiting.end()) continue;
            exiting.push_back(w);
            {
                TScopeExit exited(
                    [w] { exiting.erase(std::find(exiting.begin(), exiting.end(), w)); });
                w->DoExit();
            }
            if (focusGeneration_ != generation || Destroying()) return;
        }
    }
    if (c && !c->CanFocus()) return; // an exit handler disabled the target
    activeControl_ = c;
    Changed(TControlProperty::ActiveControl);
    if (!c) return;
    std::vector<TWinControl*> entering;
    for (TWinControl* w = c; w && w != this && !(old && w->ContainsControl(old)); w = w->Parent())
        entering.push_back(w);
    std::reverse(entering.begin(), entering.end());
    for (TWinControl* w : entering) {
        w->DoEnter();
        if (focusGeneration_ != generation || Destroying()) return;
    }
}

void TCustomForm::FocusControlByMouse(TWinControl* c) {
    TScopedValue<TWinControl*> byMouse(mouseTarget_, c);
    FocusControl(c);
}

namespace {
void CollectTabSequence(const TWinControl* parent, std::vector<TWinControl*>& out) {
    for (TWinControl* w : parent->TabList()) {
        if (!w->Visible() || !w->Enabled()) continue;
        if (w->Focusable()) {
            if (w->TabStop()) out.push_back(w);
        } else if (w->ControlCount() > 0) {
            CollectTabSequence(w, out);
        }
    }
}
} // namespace

std::vector<TWinControl*> TCustomForm::TabSequence() const {
    std::vector<TWinControl*> out;
    CollectTabSequence(this, out);
    return out;
}

TWinControl* TCustomForm::FindNextControl(TWinControl* current, bool forward) const {
    std::vector<TWinControl*> seq = TabSequence();
    if (seq.empty()) return nullptr;
    auto it = std::find(seq.begin(), seq.end(), current);
    if (it == seq.end()) {
        if (!current) return forward ? seq.front() : seq.back();
        // The current control left the sequence (disabled, say): continue from its place in the
        // full order of controls.
        std::vector<TWinControl*> all;
        std::function<void(const TWinControl*)> walk = [&](const TWinControl* p) {
            for (TWinControl* w : p->TabList()) {
                if (w->Focusable())
                    all.push_back(w);
                else
                    walk(w);
            }
        };
        walk(this);
        auto pos = std::find(all.begin(), all.end(), current);
        if (pos == all.end()) return forward ? seq.front() : seq.back();
        if (forward) {
            for (auto p = pos + 1; p != all.end(); ++p)
                if (std::find(seq.begin(), seq.end(), *p) != seq.end()) return *p;
            return seq.front();
        }
        for (auto p = pos; p != all.begin();) {
            --p;
            if (std::find(seq.begin(), seq.end(), *p) != seq.end()) return *p;
        }
        return seq.back();
    }
    if (forward) return (it + 1 == seq.end()) ? seq.front() : *(it + 1);
    return (it == seq.begin()) ? seq.back() : *(it - 1);
}

void TCustomForm::SelectNext(bool forward) {
    if (TWinControl* next = FindNextControl(activeControl_, forward)) FocusControl(next);
}

void TCustomForm::DispatchKey(TWinControl* target, Char key) {
    if (key == U'\t') {
        SelectNext(true);
        return;
    }
    if (keyPreview_) {
        KeyPress(key);
        if (key == 0) return;
    }
    if (!target || target == this || Destroying()) return;
    const bool typed = key >= 32 && key != 127;
    target->KeyPress(key);
    if (key == 0) {
        // A character the control's filters refused is signalled, never dropped in silence.
        if (typed && Application) Application->Beep();
        return;
    }
    if (target->Destroying()) return;
    target->HandleKey(key);
}

void TCustomForm::DispatchKeyDown(TWinControl* target, Word key, TShiftState shift) {
    if (!target || target == this || Destroying() || target->Destroying()) return;
    target->KeyDown(key, shift);
    if (key == 0 || target->Destroying()) return;
    target->HandleKeyDown(key, shift);
}

namespace {
String Lowered(String s) {
    for (char& ch : s)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

TSpeedButton* ButtonWithShortCut(const TWinControl* parent, const String& lowered) {
    for (int i = 0; i < parent->ControlCount(); ++i) {
        TControl* c = parent->Controls(i);
        if (auto* b = dynamic_cast<TSpeedButton*>(c);
            b && !b->ShortCut.empty() && Lowered(b->ShortCut) == lowered)
            return b;
        if (auto* w = dynamic_cast<TWinControl*>(c))
            if (TSpeedButton* b = ButtonWithShortCut(w, lowered)) return b;
    }
    return nullptr;
}
} // namespace

void TCustomForm::ShortCut(const String& shortCut) {
    if (const TFormCommand* c = CommandByShortCut(shortCut)) {
        const TFormCommand command = *c; // the form's own list may change while it runs
        if ((!command.enabled || command.enabled()) && command.execute) command.execute();
        return;
    }
    // The button never has the focus; it works from anywhere while it can be clicked.
    TSpeedButton* b = ButtonWithShortCut(this, Lowered(shortCut));
    if (b && b->Showing() && b->EnabledChain()) b->UserClick();
}

bool TCustomForm::HasShortCut(const String& shortCut) const {
    return CommandByShortCut(shortCut) || ButtonWithShortCut(this, Lowered(shortCut));
}

void TCustomForm::HandOffFocus() {
    TWinControl* old = activeControl_;
    if (!old || old->CanFocus() || released_ || Destroying() || !Visible()) return;
    FocusControl(FindNextControl(old, true));
}

void TCustomForm::Show() {
    bool first = !Screen->HasForm(this);
    SetVisible(true);
    Screen->AddForm(this);
    BringToFront();
    if (Application && Application->Peer()) Application->Peer()->FormShown(this);
    if (first && OnShow) OnShow(this);
    // The first showing puts the focus on the first control in tab order.
    if (first && !activeControl_)
        if (TWinControl* c = FindNextControl(nullptr, true)) FocusControl(c);
}

void TCustomForm::BringToFront() {
    zOrder_ = Screen->NextZOrder();
    Changed(TControlProperty::ZOrder);
}

void TCustomForm::DoClose(TCloseAction& action) {
    if (OnClose) OnClose(this, action);
}

bool TCustomForm::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(this, canClose);
    return canClose;
}

void TCustomForm::Close() {
    if (!CloseQuery()) return;
    TCloseAction action = formStyle_ == fsMDIChild ? caMinimize : caHide;
    DoClose(action);
    switch (action) {
    case caNone:
        return;
    case caHide:
        SetVisible(false);
        break;
    case caMinimize:
        SetWindowState(wsMinimized);
        break;
    case caFree:
        Release();
        break;
    }
}

void TCustomForm::Release() {
    if (released_) return;
    released_ = true;
    SetVisible(false);
    Screen->RemoveForm(this);
    Application->QueueRelease(this);
}

void TCustomForm::SetWindowState(TWindowState s) {
    if (s == windowState_) return;
    windowState_ = s;
    Changed(TControlProperty::WindowState);
}

void TCustomForm::SetClientSize(int w, int h) {
    if (w == clientWidth_ && h == clientHeight_) return;
    clientWidth_ = w;
    clientHeight_ = h;
    Changed(TControlProperty::Bounds);
}

const TFormCommand* TCustomForm::CommandByShortCut(const String& shortCut) const {
    for (const TFormCommand& c : commands_)
        if (!c.shortCut.empty() && Lowered(c.shortCut) == Lowered(shortCut)) return &c;
    return nullptr;
}

void TCustomForm::ControlDestroying(TWinControl* c) {
    if (activeControl_ && c->ContainsControl(activeControl_)) activeControl_ = nullptr;
}

bool TCustomForm::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "ClientWidth")
        SetClientSize(r.Int(p), clientHeight_);
    else if (n == "ClientHeight")
        SetClientSize(clientWidth_, r.Int(p));
    else if (n == "KeyPreview")
        SetKeyPreview(r.Bool(p));
    else if (n == "OnCreate")
        OnCreate = r.Method<TNotifyEvent>(p);
    else if (n == "OnShow")
        OnShow = r.Method<TNotifyEvent>(p);
    else if (n == "OnDestroy")
        OnDestroy = r.Method<TNotifyEvent>(p);
    else if (n == "OnClose")
        OnClose = r.Method<TCloseEvent>(p);
    else if (n == "OnCloseQuery")
        OnCloseQuery = r.Method<TCloseQueryEvent>(p);
    else if (n == "FormStyle") {
        String s = r.Ident(p);
        if (s == "fsNormal")
            formStyle_ = fsNormal;
        else if (s == "fsMDIChild")
            formStyle_ = fsMDIChild;
        else if (s == "fsMDIForm")
            formStyle_ = fsMDIForm;
        else if (s == "fsStayOnTop")
            formStyle_ = fsStayOnTop;
        else
            r.Fail(p, "estilo de formulário desconhecido " + s);
    } else if (n == "BorderStyle") {
        String s = r.Ident(p);
        if (s == "bsNone")
            borderStyle_ = bsNone;
        else if (s == "bsSingle")
            borderStyle_ = bsSingle;
        else if (s == "bsSizeable")
            borderStyle_ = bsSizeable;
        else if (s == "bsDialog")
            borderStyle_ = bsDialog;
        else if (s == "bsToolWindow")
            borderStyle_ = bsToolWindow;
        else if (s == "bsSizeToolWin")
            borderStyle_ = bsSizeToolWin;
        else
            r.Fail(p, "borda desconhecida " + s);
    } else if (n == "WindowState") {
        String s = r.Ident(p);
        if (s == "wsNormal")
            windowState_ = wsNormal;
        else if (s == "wsMinimized")
            windowState_ = wsMinimized;
        else if (s == "wsMaximized")
            windowState_ = wsMaximized;
        else
            r.Fail(p, "estado de janela desconhecido " + s);
    } else if (n == "ActiveControl") {
        r.Ref<TWinControl>(p, [this](TWinControl* c) { activeControl_ = c; });
    } else if (n == "Position" || n == "PixelsPerInch" || n == "TextHeight" ||
               n == "OldCreateOrder") {
        // Placement hints of the designer; positions are given explicitly.
    } else
        return TWinControl::ReadProperty(p, r);
    return true;
}

// ---------------------------------------------------------------------------------------------

TDataModule::TDataModule(TComponent* owner) : TComponent(owner) {
    RegisterGlobalRoot(this);
}

TDataModule::~TDataModule() {
    UnregisterGlobalRoot(this);
    DestroyComponents();
}

bool TDataModule::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "Left")
        Left = r.Int(p);
    else if (n == "Top")
        Top = r.Int(p);
    else if (n == "Width")
        Width = r.Int(p);
    else if (n == "Height")
        Height = r.Int(p);
    else if (n == "OldCreateOrder")
        r.Bool(p);
    else
        return TComponent::ReadProperty(p, r);
    return true;
}

// ---------------------------------------------------------------------------------------------

TApplication::TApplication(TComponent* owner) : TComponent(owner) {}

TApplication::~TApplication() {
    DestroyComponents();
}

void TApplication::Notification(TComponent* c, bool removing) {
    if (removing && c == mainForm_) mainForm_ = nullptr;
    if (removing)
        released_.erase(std::remove(released_.begin(), released_.end(), c), released_.end());
}

void TApplication::HandleException(std::exception_ptr e) {
    try {
        std::rethrow_exception(std::move(e));
    } catch (const EAbort&) {
        // The silent abort ends the operation without a message.
    } catch (const std::exception& ex) {
        ShowException(ex);
    } catch (...) {
        MessageDlg("Erro desconhecido.", mtError, {mbOK}, 0);
    }
}

void TApplication::ShowException(const std::exception& e) {
    String text;
    if (auto* ex = dynamic_cast<const Exception*>(&e))
        text = ex->Message();
    else
        text = e.what();
    if (text.empty()) text = "Erro sem mensagem.";
    MessageDlg(text, mtError, {mbOK}, 0);
}

void TApplication::ShowStatus(const String& text) {
    statusText_ = text;
    if (peer_) peer_->StatusShown(text);
}

void TApplication::Beep() {
    ++beeps_;
    if (peer_) peer_->Beep();
}

void TApplication::QueueRelease(TCustomForm* f) {
    if (std::find(released_.begin(), released_.end(), f) == released_.end()) released_.push_back(f);
}

void TApplication::ProcessMessages() {
    while (!released_.empty()) {
        TCustomForm* f = released_.front();
        released_.erase(released_.begin());
        if (mainForm_ == f) mainForm_ = nullptr;
        delete f;
    }
}

// ---------------------------------------------------------------------------------------------

void TScreen::SetCursor(int c) {
    if (c == cursor_) return;
    cursor_ = c;
    if (Application && Application->Peer()) Application->Peer()->CursorChanged(c);
}

std::vector<TCustomForm*> TScreen::Forms() const {
    std::vector<TCustomForm*> v = forms_;
    std::stable_sort(v.begin(), v.end(),
                     [](TCustomForm* a, TCustomForm* b) { return a->ZOrder() < b->ZOrder(); });
    return v;
}

bool TScreen::HasForm(const TCustomForm* f) const {
    return std::find(forms_.begin(), forms_.end(), f) != forms_.end();
}

void TScreen::AddForm(TCustomForm* f) {
    if (std::find(forms_.begin(), forms_.end(), f) == forms_.end()) forms_.push_back(f);
}

void TScreen::RemoveForm(TCustomForm* f) {
    forms_.erase(std::remove(forms_.begin(), forms_.end(), f), forms_.end());
}

// ---------------------------------------------------------------------------------------------

bool RunEvent(const std::function<void()>& action) {
    bool ok = true;
    {
        TScopedValue<int> nested(gEventDepth, gEventDepth + 1);
        try {
            action();
        } catch (...) {
            ok = false;
            Application->HandleException(std::current_exception());
        }
        if (gEventDepth == 1) {
            // A control the event switched off while it had the focus gives the focus on now,
            // or the next key would go nowhere.
            for (TCustomForm* f : Screen->Forms()) {
                if (!Screen->HasForm(f)) continue; // freed or hidden by an earlier hand-off
                try {
                    f->HandOffFocus();
                } catch (...) {
                    Application->HandleException(std::current_exception());
                }
            }
        }
    }
    if (gEventDepth == 0) Application->ProcessMessages();
    return ok;
}

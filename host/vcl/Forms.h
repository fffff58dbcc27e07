#pragma once
// Forms, data modules, the application object and the screen (cursor, forms).
#include <exception>
#include <functional>
#include <vector>

#include "vcl/Controls.h"

enum TWindowState { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

constexpr int crDefault = 0;
constexpr int crHourGlass = -11;

// What a form offers beyond its own controls: the host lists it in its menu while the form is
// open and runs it by its shortcut, so the form's layout stays as designed.
struct TFormCommand {
    String caption;                // menu text, "&" marking the accelerator
    String shortCut;               // "Ctrl+H"; empty for none
    std::function<bool()> enabled; // null: always
    std::function<void()> execute;
};

class TCustomForm : public TWinControl {
public:
    explicit TCustomForm(TComponent* owner);
    ~TCustomForm() override;
    String ClassName() const override { return "TCustomForm"; }
    bool Focusable() const override { return false; }

    // Runs OnCreate; the application's form factory calls it once construction has finished.
    virtual void AfterConstruction();

    TWinControl* ActiveControl() const { return activeControl_; }
    void SetActiveControl(TWinControl* c);
    // Moves the focus: the exit events of the old control and of the containers being left (up to
    // the common parent), then the enter events of the containers entered and of the new control.
    // A handler vetoes the move by raising or by moving the focus itself.
    void FocusControl(TWinControl* c);
    // The same move made by a mouse click into `c`: an edit entered so keeps its caret where the
    // click put it instead of selecting its text.
    void FocusControlByMouse(TWinControl* c);
    // The control a click is moving the focus to, while that move runs; null otherwise.
    TWinControl* MouseFocusTarget() const { return mouseTarget_; }
    // The next (or previous) control in tab order that can take the focus, wrapping around.
    TWinControl* FindNextControl(TWinControl* current, bool forward) const;
    void SelectNext(bool forward);
    // Every control that can take the focus, in tab order.
    std::vector<TWinControl*> TabSequence() const;

    bool KeyPreview() const { return keyPreview_; }
    void SetKeyPreview(bool v) { keyPreview_ = v; }
    // A key typed into `target` (the focused control): the form's OnKeyPress first when KeyPreview
    // is on, then the control's filter, then the control's own handling. Key 0 stops it anywhere.
    void DispatchKey(TWinControl* target, Char key);
    // A key that types no character, pressed in `target`: its OnKeyDown, then its own handling.
    void DispatchKeyDown(TWinControl* target, Word key, TShiftState shift);
    // A key combination of the form ("Ctrl+S"): the command of that shortcut, or the button that
    // carries it, clicked when it is enabled.
    void ShortCut(const String& shortCut);
    // Whether a command or a button of the form answers to that key combination.
    bool HasShortCut(const String& shortCut) const;
    // The focus left on a control that has since been disabled or hidden moves on to the next
    // control in tab order, so the keyboard keeps working; the move runs the usual exit and enter
    // events. Run after every event.
    void HandOffFocus();

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnDestroy;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

    void Show();
    // Asks OnCloseQuery first; a form that may not close stays as it is.
    void Close();
    virtual bool CloseQuery();
    // Frees the form once the event that is running has finished.
    void Release();
    bool Released() const { return released_; }
    void BringToFront();
    int ZOrder() const { return zOrder_; }

    TWindowState WindowState() const { return windowState_; }
    void SetWindowState(TWindowState s);
    TFormStyle FormStyle() const { return formStyle_; }
    void SetFormStyle(TFormStyle s) { formStyle_ = s; }
    TFormBorderStyle BorderStyle() const { return borderStyle_; }
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    void SetClientSize(int w, int h);

    void ControlDestroying(TWinControl* c);
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

    void AddCommand(TFormCommand command) { commands_.push_back(std::move(command)); }
    const std::vector<TFormCommand>& Commands() const { return commands_; }
    // The command with that shortcut (case-insensitive), or null.
    const TFormCommand* CommandByShortCut(const String& shortCut) const;

protected:
    // Runs OnClose; the default action of an MDI child is to minimise, of other forms to hide.
    virtual void DoClose(TCloseAction& action);

private:
    TWinControl* activeControl_ = nullptr;
    TWinControl* mouseTarget_ = nullptr;
    unsigned focusGeneration_ = 0;
    bool keyPreview_ = false;
    bool released_ = false;
    TWindowState windowState_ = wsNormal;
    TFormStyle formStyle_ = fsNormal;
    TFormBorderStyle borderStyle_ = bsSizeable;
    int clientWidth_ = 0, clientHeight_ = 0;
    int zOrder_ = 0;
    std::vector<TFormCommand> commands_;
};

class TForm : public TCustomForm {
public:
    using TCustomForm::TCustomForm;
    String ClassName() const override { return "TForm"; }
};

// A non-visual container of shared components (database connection, queries).
class TDataModule : public TComponent {
public:
    explicit TDataModule(TComponent* owner);
    ~TDataModule() override;
    String ClassName() const override { return "TDataModule"; }
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;
    int Left = 0, Top = 0, Width = 0, Height = 0;
};

// Tells the toolkit side about application-level events (forms shown, cursor changes).
class IApplicationPeer {
public:
    virtual ~IApplicationPeer() = default;
    virtual void FormShown(TCustomForm* form) = 0;
    virtual void FormClosed(TCustomForm* form) = 0;
    virtual void CursorChanged(int cursor) = 0;
    // A short notice for the status line (a change saved); it fades by itself.
    virtual void StatusShown(const String&) {}
    // The system's beep.
    virtual void Beep() {}
};

class TApplication : public TComponent {
public:
    explicit TApplication(TComponent* owner);
    ~TApplication() override;
    String ClassName() const override { return "TApplication"; }

    // Creates a form owned by the application and stores it in `ref` before its creation event
    // runs, as the classic factory does. On failure the form is freed and `ref` is left null.
    template <class T> void CreateForm(T*& ref) {
        T* form = nullptr;
        try {
            form = new T(this);
            ref = form;
            if (!mainForm_) mainForm_ = form;
            form->AfterConstruction();
        } catch (...) {
            if (mainForm_ == form) mainForm_ = nullptr;
            delete form;
            ref = nullptr;
            throw;
        }
    }

    TCustomForm* MainForm() const { return mainForm_; }
    void SetMainForm(TCustomForm* f) { mainForm_ = f; }

    // Shows the message of an exception that reached the event loop; a silent abort shows nothing.
    void HandleException(std::exception_ptr e);
    void ShowException(const std::exception& e);
    // Frees the forms released while the last event ran.
    void ProcessMessages();
    void QueueRelease(TCustomForm* f);

    // A short notice for the host's status line, replacing the one before.
    void ShowStatus(const String& text);
    const String& StatusText() const { return statusText_; }
    // Signals a key that was refused, so a text never changes in silence; counted.
    void Beep();
    int Beeps() const { return beeps_; }

    String Title;
    IApplicationPeer* Peer() const { return peer_; }
    void SetPeer(IApplicationPeer* p) { peer_ = p; }
    void Notification(TComponent* c, bool removing) override;

private:
    TCustomForm* mainForm_ = nullptr;
    std::vector<TCustomForm*> released_;
    IApplicationPeer* peer_ = nullptr;
    String statusText_;
    int beeps_ = 0;
};

class TScreen {
public:
    int Cursor() const { return cursor_; }
    void SetCursor(int c);
    // Visible forms, the most recently brought to front last.
    std::vector<TCustomForm*> Forms() const;
    void AddForm(TCustomForm* f);
    bool HasForm(const TCustomForm* f) const;
    void RemoveForm(TCustomForm* f);
    int NextZOrder() { return ++zCounter_; }

private:
    int cursor_ = crDefault;
    std::vector<TCustomForm*> forms_;
    int zCounter_ = 0;
};

extern TApplication* Application;
extern TScreen* Screen;

// A cursor (the hourglass) for the life of the scope, and the default cursor again at its end,
// however it ends.
class TCursorScope {
public:
    explicit TCursorScope(int cursor) { Screen->SetCursor(cursor); }
    ~TCursorScope() { Screen->SetCursor(crDefault); }
    TCursorScope(const TCursorScope&) = delete;
    TCursorScope& operator=(const TCursorScope&) = delete;
};

// Runs one user action the way the event loop does: exceptions go to Application->HandleException,
// and released forms are freed afterwards. Returns false when the action raised.
bool RunEvent(const std::function<void()>& action);

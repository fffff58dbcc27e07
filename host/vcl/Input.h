#pragma once
// The one door through which user input enters the model, for the toolkit's peers and the script
// driver alike. Each call runs as one event: exceptions are shown by the application and released
// forms are freed afterwards. Each returns false when the action raised.
#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"

namespace UserInput {
// Moves the focus as a mouse click into the control would.
bool Focus(TWinControl* control);
// One key typed into the focused control: form preview, the control's filter, its own handling.
bool Key(TWinControl* control, Char key);
// A key that types no character (an arrow, Home, End, F4), with the modifiers held.
bool KeyDown(TWinControl* control, Word key, TShiftState shift = 0);
// A key combination of the form ("Ctrl+S"), wherever the focus is. Nothing runs when the form has
// none of that name (see TCustomForm::HasShortCut); false then, or when the action raised.
bool ShortCut(TCustomForm* form, const String& shortCut);
// A click: a control that takes the focus gets it first; the click is lost when that move fails.
bool Click(TControl* control);

// What follows acts on an edit: it gets the focus first, as a click into it would, and nothing
// happens when it does not take it.

// Places the caret after the last character the user typed (for a masked edit, after the last
// filled position), then types the text one key at a time, as one event. It stops where the focus
// leaves the edit or a key fails.
bool TypeText(TCustomEdit* edit, const String& text);
// Selects the whole text and deletes it.
bool ClearText(TCustomEdit* edit);
// Moves the caret or the selection (arrow keys, the mouse): `length` characters from `start`.
bool Select(TCustomEdit* edit, int start, int length);
// The Delete key: removes the selection, or the character after the caret.
bool DeleteForward(TCustomEdit* edit);
// Pasted text is typed key by key at the caret, so filters, masks and limits apply to it; control
// characters are dropped. It stops where the focus leaves the edit.
bool Paste(TCustomEdit* edit, const String& text);

bool Tab(TCustomForm* form, bool back);
// A command of the form (its menu entry or its shortcut); nothing happens while it is disabled.
bool Command(TCustomForm* form, const TFormCommand& command);
bool Close(TCustomForm* form);
// The user minimised, maximised or restored the form's window.
bool WindowState(TCustomForm* form, TWindowState state);
} // namespace UserInput

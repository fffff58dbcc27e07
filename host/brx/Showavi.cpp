#include "Showavi.h"

#include "vcl/Dialogs.h"

namespace Showavi {
namespace {
bool gShowing = false;
}

void ActiveShowAvi(TCustomForm* form, int kind) {
    ActiveShowAvi(form, kind, "");
}

void ActiveShowAvi(TCustomForm* form, int kind, const String& text) {
    // A second animation replaces the first, so one hide always clears the screen.
    if (gShowing) DialogService().BusyHide();
    DialogService().BusyShow(form, kind, text);
    gShowing = true;
}

void DeactiveShowAvi() {
    if (!gShowing) return;
    gShowing = false;
    DialogService().BusyHide();
}

bool Showing() {
    return gShowing;
}

TBusyScope::TBusyScope(TCustomForm* form, int kind) {
    ActiveShowAvi(form, kind);
}

TBusyScope::TBusyScope(TCustomForm* form, int kind, const String& text) {
    ActiveShowAvi(form, kind, text);
}

TBusyScope::~TBusyScope() {
    Hide();
}

void TBusyScope::Hide() {
    if (!showing_) return;
    showing_ = false;
    DeactiveShowAvi();
}
} // namespace Showavi

#pragma once
// The host's busy animation, shown over a window while a blocking call runs.
#include "rtl/SysUtils.h"

class TCustomForm;

namespace Showavi {
// Shows animation `kind` (0 connecting, 1 sending, 6 loading) over `form` and returns at once.
void ActiveShowAvi(TCustomForm* form, int kind);
void ActiveShowAvi(TCustomForm* form, int kind, const String& text);
// Hides the animation; harmless when none is shown.
void DeactiveShowAvi();
bool Showing();

// The animation for the life of the scope, hidden when the scope ends however it ends; Hide ends
// it earlier, before what must not appear under it (a message).
class TBusyScope {
public:
    TBusyScope(TCustomForm* form, int kind);
    TBusyScope(TCustomForm* form, int kind, const String& text);
    ~TBusyScope();
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;
    void Hide();

private:
    bool showing_ = true;
};
} // namespace Showavi

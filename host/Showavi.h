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
} // namespace Showavi

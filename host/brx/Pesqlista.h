#pragma once
// The host's multiple-choice list search.
#include "rtl/SysUtils.h"

class TDataSource;

namespace Pesqlista {
// Shows the rows of `dataSource` with a check box each, the rows whose `keyField` is in `list`
// checked. `titleAndError` is the title and the empty-list message joined by "|". `requireOne`
// refuses a confirmation with nothing checked. On confirmation `list` receives the checked keys in
// list order joined by ";", followed by the keys of `list` that no row offers (kept, since the user
// never saw them), and the result is true; cancelled, nothing changes and it is false.
// A choice longer than the 255 characters of the stored field is refused with a message.
bool PesquisaLista(TDataSource* dataSource, const String& keyField, const String& titleAndError,
                   bool requireOne, String& list);
} // namespace Pesqlista

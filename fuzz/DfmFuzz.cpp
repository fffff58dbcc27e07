// The form-definition reader over any text.
#include "FuzzTarget.h"

#include "vcl/DfmParser.h"

namespace {

size_t Walk(const DfmObject& o) {
    size_t n = o.properties.size();
    for (const auto& c : o.children)
        n += Walk(*c);
    return n;
}

} // namespace

KX_FUZZ_TARGET(Dfm) {
    try {
        const auto form = ParseDfm(FuzzText(data, size));
        (void)Walk(*form);
        (void)form->Find("Caption");
    } catch (const EDfmError& e) {
        if (e.Line() < 0) __builtin_trap(); // a fault always names a line
    }
    return 0;
}

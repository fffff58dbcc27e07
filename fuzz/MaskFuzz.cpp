// The mask engine: the first line is the mask, the second a value, the rest keys typed and
// erased at the cursor.
#include "FuzzTarget.h"

#include "rtl/Utf8.h"
#include "vcl/MaskUtils.h"

KX_FUZZ_TARGET(Mask) {
    const std::string text = FuzzText(data, size);
    const size_t a = text.find('\n');
    const size_t b = a == std::string::npos ? std::string::npos : text.find('\n', a + 1);
    const std::string mask = text.substr(0, a);
    const std::string value =
        a == std::string::npos ? "" : text.substr(a + 1, b == std::string::npos ? b : b - a - 1);
    const std::string keys = b == std::string::npos ? "" : text.substr(b + 1);
    try {
        const TEditMask m(mask);
        (void)FormatMaskText(mask, value);
        String edit = m.EditTextFromValue(value);
        (void)m.EditTextFromText(value);
        size_t cursor = 0;
        for (char32_t ch : ToU32(keys)) {
            if (ch == 8)
                cursor = m.Backspace(edit, cursor);
            else if (auto next = m.TypeChar(edit, cursor, ch))
                cursor = *next;
            else
                ++cursor;
            if (cursor > m.Positions()) cursor = 0;
        }
        (void)m.IsComplete(edit);
        (void)m.ValueFromEditText(edit);
    } catch (const Exception&) {
    }
    return 0;
}

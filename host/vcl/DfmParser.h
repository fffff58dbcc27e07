#pragma once
// Reader of form definitions in the classic text syntax (object ... end trees of properties).
#include <cstdint>
#include <memory>
#include <vector>

#include "rtl/SysUtils.h"

struct DfmValue {
    enum class Kind { Integer, Float, Text, Boolean, Identifier, Set, StringList, Binary };
    Kind kind = Kind::Integer;
    int64_t integer = 0;
    double number = 0;
    bool boolean = false;
    String text;               // String (UTF-8), Identifier, Binary as upper-case hex digits
    std::vector<String> items; // Set members, StringList entries
    int line = 0;
};

struct DfmProperty {
    String name; // may be dotted: "Font.Style"
    DfmValue value;
    int line = 0;
};

struct DfmObject {
    enum class Kind { Object, Inherited, Inline } kind = Kind::Object;
    String name; // empty for an unnamed component ("object TClass")
    String className;
    int line = 0;
    std::vector<DfmProperty> properties;              // in file order
    std::vector<std::unique_ptr<DfmObject>> children; // in file order

    // Property names compare without regard to ASCII case, as identifiers do in the form language.
    const DfmProperty* Find(const String& wanted) const;
};

class EDfmError : public EConvertError {
public:
    EDfmError(int line, const String& reason);
    int Line() const { return line_; }
    const String& Reason() const { return reason_; }

private:
    int line_;
    String reason_;
};

// Reads one top-level object; raises EDfmError naming the line and the reason on any fault.
std::unique_ptr<DfmObject> ParseDfm(const String& text);

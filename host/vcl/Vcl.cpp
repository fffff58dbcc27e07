// Registration of the component classes that form definitions may name.
#include "vcl/StdCtrls.h"

namespace {
struct Registrar {
    Registrar() { RegisterStandardClasses(); }
} registrar;
} // namespace

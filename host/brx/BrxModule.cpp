// The host library as a module of the run time: its component classes and its own resources.
#include "brx/BtnPesquisa.h"
#include "brx/DBDateEditPlus.h"
#include "brx/RotiGeral.h"
#include "vcl/FormReader.h"
#include "vcl/Resources.h"

std::optional<std::string> BrxFindResource(const std::string& name);

void RegisterBrxClasses() {
    RegisterComponentClass<TMessages>("TMessages");
    RegisterComponentClass<TButtonFlat>("TButtonFlat");
    RegisterComponentClass<TBtnPesquisa>("TBtnPesquisa");
    RegisterComponentClass<TDBDateEditPlus>("TDBDateEditPlus");
}

namespace {
struct BrxModule {
    BrxModule() {
        RegisterBrxClasses();
        RegisterModule("brx", [](const String& name) { return BrxFindResource(name); });
    }
} module;
} // namespace

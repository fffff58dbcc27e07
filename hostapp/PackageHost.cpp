#include "hostapp/PackageHost.h"

#include <dlfcn.h>

#include "vcl/Forms.h"

namespace {
// The qualified names of the package's globals as the C++ compiler exports them.
const char* kBoStCriado = "_ZN12Cli_kxf2740010boStCriadoE";
const char* kFrmParamForne = "_ZN12Cli_kxf2740013frmParamForneE";
const char* kDtDataAtual = "_ZN12Cli_kxf2740011dtDataAtualE";
const char* kStProdSerConsidera = "_ZN12Cli_kxf2740018stProdSerConsideraB5cxx11E";
} // namespace

TPackageHost::~TPackageHost() {
    try {
        Unload();
    } catch (...) {
    }
}

void* TPackageHost::Symbol(const char* name) const {
    if (!handle_) return nullptr;
    return dlsym(handle_, name);
}

void TPackageHost::Load() {
    if (handle_) return;
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!handle_) {
        const char* err = dlerror();
        throw Exception("Não foi possível carregar o pacote " + path_ + ": " + (err ? err : "?"));
    }
    auto init = reinterpret_cast<void (*)()>(Symbol("Initialize"));
    if (!init || !Symbol("IniProc") || !Symbol("Finalize")) {
        dlclose(handle_);
        handle_ = nullptr;
        throw Exception("O pacote " + path_ + " não exporta Initialize, IniProc e Finalize.");
    }
    init();
}

void TPackageHost::Unload() {
    if (!handle_) return;
    // A screen still open is closed and freed before its code goes away.
    if (BoStCriado())
        if (TCustomForm* f = FrmParamForne()) {
            RunEvent([f] { f->Close(); });
            if (BoStCriado()) delete f;
        }
    Application->ProcessMessages();
    if (auto fin = reinterpret_cast<void (*)()>(Symbol("Finalize"))) fin();
    dlclose(handle_);
    handle_ = nullptr;
}

void TPackageHost::IniProc() {
    Load();
    reinterpret_cast<void (*)()>(Symbol("IniProc"))();
}

bool TPackageHost::BoStCriado() const {
    auto* p = static_cast<bool*>(Symbol(kBoStCriado));
    return p && *p;
}

TCustomForm* TPackageHost::FrmParamForne() const {
    auto* p = static_cast<TCustomForm**>(Symbol(kFrmParamForne));
    return p ? *p : nullptr;
}

TDateTime TPackageHost::DtDataAtual() const {
    auto* p = static_cast<TDateTime*>(Symbol(kDtDataAtual));
    return p ? *p : TDateTime();
}

String TPackageHost::StProdSerConsidera() const {
    auto* p = static_cast<String*>(Symbol(kStProdSerConsidera));
    return p ? *p : String();
}

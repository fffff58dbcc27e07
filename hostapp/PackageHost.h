#pragma once
// Loads the screen's run-time package with the dynamic loader on first use and unloads it at exit.
#include "rtl/DateUtils.h"

class TCustomForm;

class TPackageHost {
public:
    explicit TPackageHost(String path) : path_(std::move(path)) {}
    ~TPackageHost();
    bool Loaded() const { return handle_ != nullptr; }
    // dlopen, then the package's Initialize. Raises Exception when the library or an entry is
    // missing.
    void Load();
    // The package's Finalize, then dlclose.
    void Unload();
    void IniProc();

    // The package's exported globals, read through their qualified names.
    bool BoStCriado() const;
    TCustomForm* FrmParamForne() const;
    TDateTime DtDataAtual() const;
    String StProdSerConsidera() const;

private:
    void* Symbol(const char* name) const;
    String path_;
    void* handle_ = nullptr;
};

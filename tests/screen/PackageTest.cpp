// The run-time package as the host sees it: the names it exports, the entries found by their
// plain names, the unit table with its start-up counters, and the module's resources.
#include <dlfcn.h>

#include <cstdio>
#include <map>
#include <memory>

#include "ScreenFixture.h"
#include "vcl/Resources.h"

using namespace Cli_kxf27400;

namespace {

const char* const kLibrary = KX_LIB_DIR "/libPKG_KXF27400.so";

// Symbol name -> nm type letter of the package's defined dynamic symbols.
std::map<std::string, char> DynamicSymbols(bool demangle) {
    std::string command = std::string("nm -D --defined-only ") + (demangle ? "-C " : "") + "'" +
                          kLibrary + "' 2>/dev/null";
    std::map<std::string, char> out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    char buf[4096];
    while (fgets(buf, sizeof buf, pipe.get())) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        // "<address> <type> <name>"; the name may hold blanks once demangled.
        size_t a = line.find(' ');
        if (a == std::string::npos || a + 3 > line.size()) continue;
        // The library's ABI tag on string globals is no part of the name the host looks for.
        std::string name = line.substr(a + 3);
        for (size_t t; (t = name.find("[abi:cxx11]")) != std::string::npos;)
            name.erase(t, 11);
        out[name] = line[a + 1];
    }
    return out;
}

bool IsGlobalCode(char type) {
    return type == 'T' || type == 'W';
}
bool IsGlobalData(char type) {
    return type == 'B' || type == 'D' || type == 'R' || type == 'V' || type == 'u';
}

} // namespace

TEST(PackageExports, PlainEntriesAndTheMarkedTableName) {
    auto syms = DynamicSymbols(false);
    ASSERT_FALSE(syms.empty()) << "nm could not read " << kLibrary;
    for (const char* name :
         {"IniProc", "Initialize", "Finalize", "GetPackageInfoTable", "_GetPackageInfoTable"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(syms.count(name));
        EXPECT_TRUE(IsGlobalCode(syms[name])) << syms[name];
    }
}

TEST(PackageExports, QualifiedEntriesGlobalsClassAndHandlers) {
    auto syms = DynamicSymbols(true);
    ASSERT_FALSE(syms.empty()) << "nm could not read " << kLibrary;
    for (const char* name : {
             "Pkg_kxf27400::PackageLoad()",
             "Pkg_kxf27400::PackageUnload()",
             "Pkg_kxf27400::GetPackageInfoTable()",
             "Pkg_kxf27400::initialization(int)",
             "Cli_kxf27400::CriaParamForne()",
             "Cli_kxf27400::initialization()",
             "Cli_kxf27400::Finalization()",
             "Cli_kxf27400::TfrmParamForne::Vd_Fornecedor(bool)",
             "Cli_kxf27400::TfrmParamForne::Vd_GrupoOper()",
             "Cli_kxf27400::TfrmParamForne::Vd_Data()",
             "Cli_kxf27400::TfrmParamForne::dckSimplesClick(TObject*)",
             "Cli_kxf27400::TfrmParamForne::FormCreate(TObject*)",
             "Cli_kxf27400::TfrmParamForne::FormClose(TObject*, TCloseAction&)",
             "Cli_kxf27400::TfrmParamForne::netParamForneBeforeConnect(TObject*)",
             "Cli_kxf27400::TfrmParamForne::btpFornecedorBeforePesq(TObject*, bool&)",
             "Cli_kxf27400::TfrmParamForne::cdsParamForneBeforePost(TDataSet*)",
         }) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(syms.count(name));
        EXPECT_TRUE(IsGlobalCode(syms[name])) << syms[name];
    }
    for (const char* name :
         {"Cli_kxf27400::frmParamForne", "Cli_kxf27400::boStCriado", "Cli_kxf27400::dtDataAtual",
          "Cli_kxf27400::stProdSerConsidera", "typeinfo for Cli_kxf27400::TfrmParamForne"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(syms.count(name));
        EXPECT_TRUE(IsGlobalData(syms[name])) << syms[name];
    }
    // The unit's own string stays inside it.
    for (const auto& [name, type] : syms)
        EXPECT_EQ(name.find("stInscricao"), std::string::npos) << name;

    // Every operation the form definition binds by name, one export each.
    for (const char* op : {
             "FormKeyPress",
             "grbFornecedorEnter",
             "medNrInsJurNFlxChange",
             "medNrInsJurNFlxEnter",
             "medNrInsJurNFlxExit",
             "btpFornecedorAfterPesq",
             "qryFornecedorNRINSJURFORNGetText",
             "qryFornecedorIDTPIJURFORNGetText",
             "sbtConfirmaClick",
             "sbtCancelaClick",
             "dbeNrDiasBloqNFKeyPress",
             "dtsParamFornStateChange",
             "cdsParamForneAfterEdit",
             "cdsParamForneAfterPost",
             "cdsParamForneAfterCancel",
             "dckBloqNFRelacFornClick",
             "dckOImpXmlNFClick",
             "dckObrigCAcessoClick",
             "dckVerifCpfCnpjClick",
             "dckVencXMLClick",
             "dckImpVencCTeClick",
             "dckBloqAltProdRelacClick",
             "dckReaConfNFClick",
             "dckIdUtDescBCSTClick",
             "dckCfopCteClick",
             "dckNGravaRelacClick",
             "dbeValMaxPermKeyPress",
             "dbeCdGrupoPermLanChange",
             "dbeCdGrupoPermLanExit",
             "btnPesqGrupoBeforePesq",
             "btnPesqGrupoAfterPesq",
             "dckReaConsImpXmlClick",
             "dbdDtReaConsImpXMLExit",
             "dbeQtRepeteProdNFChange",
             "rbtTodosProdSerConsideraClick",
             "rbtListaProdSerConsideraClick",
             "btpProdSerConsideraClick",
         }) {
        const std::string prefix = std::string("Cli_kxf27400::TfrmParamForne::") + op + "(";
        auto it = syms.lower_bound(prefix);
        bool found = it != syms.end() && it->first.compare(0, prefix.size(), prefix) == 0;
        EXPECT_TRUE(found) << op;
        if (found) {
            EXPECT_TRUE(IsGlobalCode(it->second)) << op;
        }
    }
}

// The host looks the entries up by their plain names in the library it loaded.
TEST(PackageExports, PlainNamesResolveToTheEntries) {
    void* lib = dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_EQ(dlsym(lib, "IniProc"), reinterpret_cast<void*>(&IniProc));
    EXPECT_EQ(dlsym(lib, "Initialize"), reinterpret_cast<void*>(&Initialize));
    EXPECT_EQ(dlsym(lib, "Finalize"), reinterpret_cast<void*>(&Finalize));
    using TTable = const TPackageInfoTable* (*)();
    auto plain = reinterpret_cast<TTable>(dlsym(lib, "GetPackageInfoTable"));
    auto marked = reinterpret_cast<TTable>(dlsym(lib, "_GetPackageInfoTable"));
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(marked, nullptr);
    EXPECT_EQ(plain(), Pkg_kxf27400::GetPackageInfoTable());
    EXPECT_EQ(marked(), Pkg_kxf27400::GetPackageInfoTable());
    dlclose(lib);
}

TEST(PackageExports, UnitTableEndsWithTheScreenUnit) {
    const TPackageInfoTable* t = GetPackageInfoTable();
    ASSERT_NE(t, nullptr);
    ASSERT_GE(t->UnitCount, 1);
    const TPackageUnitEntry& last = t->Units[t->UnitCount - 1];
    EXPECT_STREQ(last.Name, "Cli_kxf27400");
    EXPECT_EQ(last.Init, &Cli_kxf27400::initialization);
    EXPECT_EQ(last.FInit, &Cli_kxf27400::Finalization);
    EXPECT_NE(last.Counter, nullptr);
}

// The package information as the host's loader reads it: a run-time package never rebuilt, the
// packages it requires and the units it contains in their declared order, and every unit it
// starts, the host library's first, in start order, the screen's last.
TEST(PackageExports, InformationTableKindRequiresContainsAndStartOrder) {
    const TPackageInfoTable* t = GetPackageInfoTable();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Kind, TPackageKind::RunTimeOnly);
    EXPECT_TRUE(t->NeverBuild);
    auto names = [](int n, const char* const* list) {
        return std::vector<std::string>(list, list + n);
    };
    EXPECT_EQ(
        names(t->RequiresCount, t->Requires),
        (std::vector<std::string>{"_brx", "_rtl", "_qr", "_lib", "_ger", "_frm", "_db", "_vcl"}));
    EXPECT_EQ(names(t->ContainsCount, t->Contains),
              (std::vector<std::string>{"Pkg_kxf27400", "Cli_kxf27400", "SysInit"}));
    std::vector<std::string> units;
    for (int i = 0; i < t->UnitCount; ++i) {
        units.push_back(t->Units[i].Name);
        EXPECT_NE(t->Units[i].Init, nullptr) << t->Units[i].Name;
        EXPECT_NE(t->Units[i].Counter, nullptr) << t->Units[i].Name;
    }
    EXPECT_EQ(units, (std::vector<std::string>{"StdCtrls", "DBRegister", "NetConnection",
                                               "BrxModule", "Cli_kxf27400"}));
    // The host's units are the host library's own entries, shared with every package.
    EXPECT_EQ(t->Units[0].Counter, HostUnit("StdCtrls").Counter);
    EXPECT_THROW(HostUnit("Inexistente"), EComponentError);
}

// The module registered itself at load, carrying the screen's form definition.
TEST(PackageExports, TheModuleCarriesTheFormDefinition) {
    auto modules = RegisteredModules();
    EXPECT_NE(std::find(modules.begin(), modules.end(), "PKG_KXF27400"), modules.end());
    EXPECT_FALSE(Pkg_kxf27400::UsesResourceModule());
    std::optional<String> dfm = FindResource("TFRMPARAMFORNE");
    ASSERT_TRUE(dfm.has_value());
    EXPECT_EQ(dfm->rfind("inherited frmParamForne: TfrmParamForne", 0), 0u);
}

class PackageLoadTest : public ScreenTest {
protected:
    int Counter() const {
        const TPackageInfoTable* t = GetPackageInfoTable();
        return *t->Units[t->UnitCount - 1].Counter;
    }
};

TEST_F(PackageLoadTest, StartUpRunsOnceAndShutDownWhenTheLoadsArePaired) {
    // The fixture has loaded the package once: nothing is open yet, every unit started once.
    EXPECT_FALSE(boStCriado);
    ASSERT_EQ(Counter(), 1);
    const TPackageInfoTable* t = GetPackageInfoTable();
    for (int i = 0; i < t->UnitCount; ++i)
        EXPECT_EQ(*t->Units[i].Counter, 1) << t->Units[i].Name;

    // A second load does not run the start-up again.
    boStCriado = true;
    Initialize();
    EXPECT_EQ(Counter(), 2);
    EXPECT_TRUE(boStCriado);

    // The first unload is not the last: the unit's strings survive.
    stProdSerConsidera = "0101;0102";
    Finalize();
    EXPECT_EQ(Counter(), 1);
    EXPECT_EQ(stProdSerConsidera, "0101;0102");

    // The last unload releases them, and every unit is stopped.
    Finalize();
    EXPECT_EQ(Counter(), 0);
    EXPECT_EQ(stProdSerConsidera, "");
    for (int i = 0; i < t->UnitCount; ++i)
        EXPECT_EQ(*t->Units[i].Counter, 0) << t->Units[i].Name;

    // An unload too many changes nothing; the next load starts the unit afresh.
    Finalize();
    EXPECT_EQ(Counter(), 0);
    Initialize();
    EXPECT_EQ(Counter(), 1);
    EXPECT_FALSE(boStCriado);
}

// Through the plain entry, as the host calls it, the screen opens and a second call re-shows it.
TEST_F(PackageLoadTest, IniProcFoundByNameOpensTheScreen) {
    void* lib = dlopen(kLibrary, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto entry = reinterpret_cast<void (*)()>(dlsym(lib, "IniProc"));
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(RunEvent(entry));
    ASSERT_TRUE(boStCriado);
    TfrmParamForne* first = Form();
    EXPECT_TRUE(first->netParamForne->Connected());
    ASSERT_TRUE(RunEvent(entry));
    EXPECT_EQ(Form(), first);
    EXPECT_TRUE(Dialogs().empty());
    dlclose(lib);
}

// The supplier-parameters screen headless, with the real appserver up: creating it from its
// form definition (and connecting), and loading a supplier as a user does.
#include "DemoServer.h"

#include <benchmark/benchmark.h>

#include "db/DBGeral.h"
#include "net/Brannox.h"
#include "package/Pkg_kxf27400.h"
#include "rtl/DateUtils.h"
#include "screen/Cli_kxf27400.h"
#include "vcl/Dialogs.h"
#include "vcl/Input.h"

namespace {

TScriptedDialogs dialogs;

void SetUpHost() {
    DemoServer& server = DemoServer::Shared();
    TForm* main = nullptr;
    Application->CreateForm(main);
    main->SetName("frmPrincipal");
    main->SetFormStyle(fsMDIForm);
    OpenDtmDBGeral(server.DbUrl());
    Brannox::SetServer(server.Address());
    SetTodayOverride(EncodeDate(2026, 12, 8));
    SetDialogService(&dialogs);
    Initialize();
}

void TearDownHost() {
    if (Cli_kxf27400::boStCriado) UserInput::Close(Cli_kxf27400::frmParamForne);
    Application->ProcessMessages();
    Finalize();
    CloseDtmDBGeral();
    SetDialogService(nullptr);
}

// The menu entry and the close: the form read from its definition, FormCreate with the
// connect, then FormClose with the disconnect and the free.
void BM_OpenAndCloseScreen(benchmark::State& state) {
    for (auto _ : state) {
        RunEvent([] { IniProc(); });
        if (!Cli_kxf27400::boStCriado || !Cli_kxf27400::frmParamForne->netParamForne->Connected()) {
            state.SkipWithError("a tela não abriu conectada");
            break;
        }
        UserInput::Close(Cli_kxf27400::frmParamForne);
        Application->ProcessMessages();
    }
    state.SetLabel("definição, conexão e fechamento");
}
BENCHMARK(BM_OpenAndCloseScreen)->Unit(benchmark::kMillisecond);

// Typing an inscription and leaving the edit: the supplier lookup, GetParamForn and the
// controls set from the row.
void BM_LoadSupplier(benchmark::State& state) {
    RunEvent([] { IniProc(); });
    auto* form = Cli_kxf27400::frmParamForne;
    for (auto _ : state) {
        UserInput::ClearText(form->medNrInsJurNF);
        UserInput::TypeText(form->medNrInsJurNF, "11222333000181");
        UserInput::Tab(form, false);
    }
    if (form->cdsParamForne->FieldByName("CDFORNECED")->AsString() != "000001" ||
        !dialogs.dialogs.empty())
        state.SkipWithError("o fornecedor não carregou");
    state.SetLabel("consulta, GetParamForn e controles");
    UserInput::Close(form);
    Application->ProcessMessages();
}
BENCHMARK(BM_LoadSupplier)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SetUpHost();
    benchmark::RunSpecifiedBenchmarks();
    TearDownHost();
    benchmark::Shutdown();
    return 0;
}

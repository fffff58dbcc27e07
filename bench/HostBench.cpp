// The host library on its own: a lazy query over a large table and typing into a masked edit.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <unistd.h>

#include "Consiste.h"
#include "db/ADOIBQuery.h"
#include "db/DBGeral.h"
#include "vcl/Dialogs.h"
#include "vcl/FormReader.h"
#include "vcl/Forms.h"
#include "vcl/Input.h"
#include "vcl/Mask.h"

namespace {

constexpr int kRows = 100000;

// A SQLite file with a table of kRows rows on the shared data module, for the whole program.
class LargeTable {
public:
    LargeTable() {
        path_ = std::filesystem::temp_directory_path() /
                ("kx_bench_" + std::to_string(getpid()) + ".db");
        OpenDtmDBGeral("sqlite:" + path_.string());
        dtmDBGeral->adcGeral->ExecSQL(
            "CREATE TABLE GRANDE (ID INTEGER PRIMARY KEY, NOME VARCHAR(40))");
        dtmDBGeral->adcGeral->ExecSQL(
            "INSERT INTO GRANDE WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
            "WHERE x < " +
            std::to_string(kRows) + ") SELECT x, 'nome ' || x FROM c");
        root_ = std::make_unique<TComponent>(nullptr);
        query_ = new TADOIBQuery(root_.get());
        query_->SetName("qryGrande");
        query_->SQL().Assign({"SELECT ID, NOME", "  FROM GRANDE", " ORDER BY ID"});
    }
    ~LargeTable() {
        root_.reset();
        CloseDtmDBGeral();
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            std::filesystem::remove(path_.string() + suffix);
    }
    TADOIBQuery* Query() { return query_; }

private:
    std::filesystem::path path_;
    std::unique_ptr<TComponent> root_;
    TADOIBQuery* query_ = nullptr;
};

LargeTable& Table() {
    static LargeTable table;
    return table;
}

// Open reads one row; the rest is fetched only when navigation asks for it.
void BM_QueryOpenFirstRow(benchmark::State& state) {
    TADOIBQuery* q = Table().Query();
    for (auto _ : state) {
        q->Close();
        q->Open();
        String first = q->FieldByName("NOME")->AsString();
        benchmark::DoNotOptimize(first);
    }
    state.SetLabel(std::to_string(q->FetchedRows()) + " de " + std::to_string(kRows) +
                   " linhas lidas");
}
BENCHMARK(BM_QueryOpenFirstRow)->Unit(benchmark::kMicrosecond);

// What the lazy fetch spares: counting the rows reads them all.
void BM_QueryOpenRecordCount(benchmark::State& state) {
    TADOIBQuery* q = Table().Query();
    for (auto _ : state) {
        q->Close();
        q->Open();
        benchmark::DoNotOptimize(q->RecordCount());
    }
    state.SetLabel(std::to_string(q->FetchedRows()) + " linhas lidas");
}
BENCHMARK(BM_QueryOpenRecordCount)->Unit(benchmark::kMillisecond);

const char* kMaskForm = R"(object frmBench: TForm
  Caption = 'Bench'
  ClientWidth = 200
  ClientHeight = 60
  object medInscricao: TMaskEdit
    Left = 8
    Top = 8
    Width = 150
    Height = 21
    MaxLength = 20
    TabOrder = 0
  end
end
)";

// A CNPJ typed key by key into the inscription mask: filters, mask positions, literals.
void BM_TypeCnpjMasked(benchmark::State& state) {
    TScriptedDialogs dialogs;
    SetDialogService(&dialogs);
    auto* form = new TForm(Application);
    TFormReader(form).Read(kMaskForm);
    form->Show();
    auto* edit = FindOwned<TMaskEdit>(form, "medInscricao");
    edit->SetEditMask(Consiste::PictPess("J"));
    for (auto _ : state) {
        UserInput::ClearText(edit);
        UserInput::TypeText(edit, "11222333000181");
    }
    if (edit->EditText() != "11.222.333/0001-81") state.SkipWithError("texto inesperado");
    state.SetLabel("14 teclas, máscara de CNPJ");
    delete form;
    SetDialogService(nullptr);
}
BENCHMARK(BM_TypeCnpjMasked)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

#include "brx/BtnPesquisa.h"

#include "db/ADOIBQuery.h"

#include "vcl/Dialogs.h"
#include "vcl/FormReader.h"
#include "vcl/Forms.h"

TBtnPesquisa::TBtnPesquisa(TComponent* owner) : TSpeedButton(owner) {}

void TBtnPesquisa::Click() {
    if (OnClick) {
        OnClick(this);
        return;
    }
    Pesquisa();
}

void TBtnPesquisa::Pesquisa() {
    bool proceed = true;
    if (OnBeforePesq) OnBeforePesq(this, proceed);
    if (!proceed) return;
    TDataSet* ds = DataSource ? DataSource->DataSet() : nullptr;
    if (!ds) throw Exception("O botão de pesquisa " + Name() + " não tem fonte de dados.");
    if (!ds->Active() || ds->IsEmpty()) {
        MessageDlg(EmptyError, mtWarning, {mbOK}, 0);
        return;
    }
    std::vector<TField*> fields;
    std::vector<String> columns;
    std::vector<int> widths;
    for (TField* f : ds->Fields())
        if (f->Visible()) {
            fields.push_back(f);
            columns.push_back(f->DisplayLabel());
            widths.push_back(f->DisplayWidth());
        }
    TDataSetPickSource rows(ds, fields);
    std::optional<int> picked = DialogService().PickRow({Title, columns, &rows, widths});
    if (!picked) return;
    ds->SetRecNo(*picked + 1);
    if (Associate && Associate->CanFocus()) {
        Associate->SetFocus();
        if (!Associate->Focused()) Abort();
    }
    if (OnAfterPesq) OnAfterPesq(this);
}

void TBtnPesquisa::Notification(TComponent* c, bool removing) {
    TSpeedButton::Notification(c, removing);
    if (!removing) return;
    if (c == Associate) Associate = nullptr;
    if (c == DataSource) DataSource = nullptr;
}

bool TBtnPesquisa::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "Associate")
        r.Ref<TWinControl>(p, [this](TWinControl* c) { Associate = c; });
    else if (n == "DataSource")
        r.Ref<TDataSource>(p, [this](TDataSource* d) { DataSource = d; });
    else if (n == "Title")
        Title = r.Str(p);
    else if (n == "EmptyError")
        EmptyError = r.Str(p);
    else if (n == "OnBeforePesq")
        OnBeforePesq = r.Method<TBeforePesqEvent>(p);
    else if (n == "OnAfterPesq")
        OnAfterPesq = r.Method<TNotifyEvent>(p);
    else
        return TSpeedButton::ReadProperty(p, r);
    return true;
}

int TDataSetPickSource::RowCount() {
    // A query counts in the database: the list's total never reads the rows.
    if (auto* q = dynamic_cast<TQueryDataSet*>(ds_)) return q->CountRecords();
    return ds_->RecordCount();
}

std::vector<String> TDataSetPickSource::Row(int index) {
    ds_->SetRecNo(index + 1);
    std::vector<String> out;
    for (TField* f : fields_)
        out.push_back(f->DisplayText());
    return out;
}

int TDataSetPickSource::Fetch(int wanted) {
    return ds_->FetchRows(wanted);
}

#include "brx/BtnPesquisa.h"

#include <algorithm>

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
    // The list opens on the row of the value the associated edit holds, in the first column.
    int current = -1;
    String value = Associate && !fields.empty() ? Trim(Associate->Text()) : String();
    if (!value.empty()) current = FindPickRow(ds, fields.front(), {value});
    TDataSetPickSource rows(ds, fields);
    std::optional<int> picked = DialogService().PickRow({Title, columns, &rows, widths, current});
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

int FindPickRow(TDataSet* ds, TField* field, const std::vector<String>& values) {
    if (values.empty() || !ds->Active()) return -1;
    // A list of a million rows is not read to its end to find where it opens.
    const int known = ds->FetchRows(kCurrentRowScan);
    const int before = ds->RecNo();
    int found = -1;
    for (int i = 0; i < known && found < 0; ++i) {
        ds->SetRecNo(i + 1);
        if (std::find(values.begin(), values.end(), Trim(field->AsString())) != values.end())
            found = i;
    }
    if (before > 0) ds->SetRecNo(before);
    return found;
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

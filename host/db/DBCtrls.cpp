#include "db/DBCtrls.h"

#include "vcl/FormReader.h"

namespace {
// "S;s": the values a check box accepts as its state; the first is the one it writes.
bool ValueMatch(const String& list, const String& value) {
    size_t start = 0;
    while (true) {
        size_t semi = list.find(';', start);
        if (SameText(list.substr(start, semi - start), value)) return true;
        if (semi == String::npos) return false;
        start = semi + 1;
    }
}

String FirstValue(const String& list) {
    return list.substr(0, list.find(';'));
}

void Unbind(TFieldDataLink& link) {
    link.OnDataChange = nullptr;
    link.OnEditingChange = nullptr;
    link.OnUpdateData = nullptr;
    link.OnActiveChange = nullptr;
    link.SetDataSource(nullptr);
}
} // namespace

TDBEdit::TDBEdit(TComponent* owner) : TCustomMaskEdit(owner) {
    link_.OnDataChange = [this] { DataChange(); };
    link_.OnUpdateData = [this] { UpdateData(); };
}

TDBEdit::~TDBEdit() {
    Unbind(link_);
}

void TDBEdit::SetDataSource(TDataSource* ds) {
    link_.SetDataSource(ds);
}

void TDBEdit::SetDataField(const String& name) {
    link_.SetFieldName(name);
}

void TDBEdit::SetMaxLength(int n) {
    // Zero gives the limit back to the field.
    maxLengthSet_ = n > 0;
    if (!maxLengthSet_ && Field() && Field()->DataType() == ftString) n = Field()->Size();
    TCustomMaskEdit::SetMaxLength(n);
}

void TDBEdit::DataChange() {
    TField* f = link_.Field();
    if (!f) {
        SetEditText("");
        return;
    }
    if (!maxLengthSet_) TCustomMaskEdit::SetMaxLength(f->DataType() == ftString ? f->Size() : 0);
    if (focused_ && link_.CanModify())
        SetText(f->Text());
    else
        SetEditText(f->DisplayText());
}

void TDBEdit::UpdateData() {
    link_.Field()->SetText(Text());
}

bool TDBEdit::EditCanModify() {
    return TCustomMaskEdit::EditCanModify() && link_.Edit();
}

void TDBEdit::Change() {
    link_.Modified();
    TCustomMaskEdit::Change();
}

void TDBEdit::KeyPress(Char& key) {
    TCustomMaskEdit::KeyPress(key);
    TField* f = link_.Field();
    if (key >= 32 && key != 127 && f && !f->IsValidChar(key)) key = 0;
    if (key == 27) {
        link_.Reset();
        SelectAll();
        key = 0;
    }
}

void TDBEdit::DoEnter() {
    focused_ = true;
    // The edit form of the value; a value put in by the program while the record is being
    // edited (a proposed date) is the user's pending change and stays.
    if (!(link_.Editing() && link_.IsModified())) link_.Reset();
    TCustomMaskEdit::DoEnter();
}

void TDBEdit::DoExit() {
    try {
        if (link_.Editing()) link_.UpdateRecord();
    } catch (...) {
        // The focus stays here with the text that could not be stored.
        SelectAll();
        throw;
    }
    focused_ = false;
    // Back to the display form. A change made while the record could not be edited (the text
    // set by code in browse state) never reaches the record and is dropped here.
    link_.Reset();
    TCustomMaskEdit::DoExit();
}

bool TDBEdit::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "DataSource") {
        r.Ref<TDataSource>(p, [this](TDataSource* ds) { SetDataSource(ds); });
        return true;
    }
    if (p.name == "DataField") {
        SetDataField(r.Str(p));
        return true;
    }
    return TCustomMaskEdit::ReadProperty(p, r);
}

// ---------------------------------------------------------------------------------------------

TDBCheckBox::TDBCheckBox(TComponent* owner) : TCustomCheckBox(owner) {
    link_.OnDataChange = [this] { DataChange(); };
    link_.OnUpdateData = [this] { UpdateData(); };
}

TDBCheckBox::~TDBCheckBox() {
    Unbind(link_);
}

void TDBCheckBox::SetDataSource(TDataSource* ds) {
    link_.SetDataSource(ds);
}

void TDBCheckBox::SetDataField(const String& name) {
    link_.SetFieldName(name);
}

void TDBCheckBox::SetValueChecked(const String& v) {
    if (v == valueChecked_) return;
    valueChecked_ = v;
    if (link_.Active()) link_.Reset();
}

void TDBCheckBox::SetValueUnchecked(const String& v) {
    if (v == valueUnchecked_) return;
    valueUnchecked_ = v;
    if (link_.Active()) link_.Reset();
}

void TDBCheckBox::DataChange() {
    TField* f = link_.Field();
    SetChecked(f && !f->IsNull() && ValueMatch(valueChecked_, f->Text()));
}

void TDBCheckBox::UpdateData() {
    link_.Field()->SetAsString(FirstValue(Checked() ? valueChecked_ : valueUnchecked_));
}

void TDBCheckBox::Toggle() {
    if (!link_.Edit()) return;
    TCustomCheckBox::Toggle();
    link_.Modified();
}

void TDBCheckBox::KeyPress(Char& key) {
    TCustomCheckBox::KeyPress(key);
    if (key == 27) link_.Reset();
}

void TDBCheckBox::DoExit() {
    if (link_.Editing()) link_.UpdateRecord();
    TCustomCheckBox::DoExit();
}

bool TDBCheckBox::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "DataSource")
        r.Ref<TDataSource>(p, [this](TDataSource* ds) { SetDataSource(ds); });
    else if (n == "DataField")
        SetDataField(r.Str(p));
    else if (n == "ValueChecked")
        SetValueChecked(r.Str(p));
    else if (n == "ValueUnchecked")
        SetValueUnchecked(r.Str(p));
    else
        return TCustomCheckBox::ReadProperty(p, r);
    return true;
}

#pragma once
// Data-aware controls: an edit and a check box bound to one field through a data source.
//
// Form-definition properties (besides those of the plain controls): DataSource, DataField;
// the check box also ValueChecked and ValueUnchecked ("S" and "N" unless set; a list
// "S;s" accepts any of its values and writes the first).
#include "db/DB.h"
#include "vcl/Mask.h"

// Shows the field's display text while it has no focus and no pending change, and its edit text
// while focused. The first change starts the edit of the record; the value reaches the field on
// exit (before OnExit runs) and when the record is posted. Esc drops the pending change.
class TDBEdit : public TCustomMaskEdit {
public:
    explicit TDBEdit(TComponent* owner);
    ~TDBEdit() override;
    String ClassName() const override { return "TDBEdit"; }

    TDataSource* DataSource() const { return link_.DataSource(); }
    void SetDataSource(TDataSource* ds);
    const String& DataField() const { return link_.FieldName(); }
    void SetDataField(const String& name);
    TField* Field() const { return link_.Field(); }
    // A maximum length set here wins over the size of a string field.
    void SetMaxLength(int n) override;

    void KeyPress(Char& key) override;
    void DoEnter() override;
    void DoExit() override;
    void Change() override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

protected:
    bool EditCanModify() override;

private:
    void DataChange();
    void UpdateData();
    TFieldDataLink link_;
    bool focused_ = false;
    bool maxLengthSet_ = false;
};

// Checked when the field holds ValueChecked. Showing a record sets Checked, so OnClick runs then
// too (handlers test the data set's state). A user click first starts the edit through the link
// (AfterEdit runs), then toggles and runs OnClick; the value reaches the field when the record
// is updated from the controls. A click while the data set is closed does nothing.
class TDBCheckBox : public TCustomCheckBox {
public:
    explicit TDBCheckBox(TComponent* owner);
    ~TDBCheckBox() override;
    String ClassName() const override { return "TDBCheckBox"; }

    TDataSource* DataSource() const { return link_.DataSource(); }
    void SetDataSource(TDataSource* ds);
    const String& DataField() const { return link_.FieldName(); }
    void SetDataField(const String& name);
    TField* Field() const { return link_.Field(); }
    const String& ValueChecked() const { return valueChecked_; }
    void SetValueChecked(const String& v);
    const String& ValueUnchecked() const { return valueUnchecked_; }
    void SetValueUnchecked(const String& v);

    void KeyPress(Char& key) override;
    void DoExit() override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

protected:
    void Toggle() override;

private:
    void DataChange();
    void UpdateData();
    TFieldDataLink link_;
    String valueChecked_ = "S", valueUnchecked_ = "N";
};

#pragma once
// The data layer's core: fields, the data set state machine, data sources and data links.
//
// Event order follows the classic library exactly, because screen handlers depend on it:
//   Edit   BeforeEdit, copy the row to the edit buffer, state edit, record change, AfterEdit
//   Post   update record from the controls, BeforePost, write, state browse, refresh, AfterPost
//   Cancel BeforeCancel, discard the buffer, state browse, refresh, AfterCancel
// SetState is the only place that announces a state change; a data source informs its links
// first and then fires OnStateChange.
//
// Form-definition properties:
//   fields       FieldName DisplayLabel DisplayWidth Visible Size Origin ReadOnly Required
//                OnGetText OnSetText, and DisplayFormat on float and date-time fields; a field
//                written inside a data set (or a query) belongs to it
//   data sets    Active BeforeOpen AfterOpen BeforeClose AfterClose BeforeEdit AfterEdit
//                BeforePost AfterPost BeforeCancel AfterCancel AfterScroll
//   data source  DataSet (a data set or a query) AutoEdit Enabled OnStateChange OnDataChange
//                OnUpdateData
#include <functional>
#include <vector>

#include "rtl/Variant.h"
#include "vcl/Classes.h"

class TField;
class TDataSet;
class TDataSource;
class TDataLink;

enum TDataSetState { dsInactive = 0, dsBrowse = 1, dsEdit = 2, dsInsert = 3 };
enum TFieldType { ftUnknown, ftString, ftFloat, ftDateTime };
enum TDataEvent {
    deFieldChange,
    deRecordChange,
    deDataSetChange,
    deDataSetScroll,
    deLayoutChange,
    deUpdateRecord,
    deUpdateState,
    deCheckBrowseMode
};

using TDataSetNotifyEvent = std::function<void(TDataSet*)>;
using TFieldGetTextEvent = std::function<void(TField* sender, String& text, bool displayText)>;
using TFieldSetTextEvent = std::function<void(TField* sender, const String& text)>;
using TDataChangeEvent = std::function<void(TObject* sender, TField* field)>;

// "inactive", "browse", "edit", "insert": the names the host's state snapshot uses.
const char* DataSetStateName(TDataSetState s);

// A component that stands for a data set it holds (a query and its result set). Data sources
// and fields written inside such a component bind to the data set it provides.
class IDataSetProvider {
public:
    virtual ~IDataSetProvider() = default;
    virtual TDataSet* ProvidedDataSet() const = 0;
};

// ---------------------------------------------------------------------------------------------

class TField : public TComponent {
public:
    explicit TField(TComponent* owner);
    ~TField() override;
    String ClassName() const override { return "TField"; }
    virtual TFieldType DataType() const { return ftUnknown; }

    const String& FieldName() const { return fieldName_; }
    void SetFieldName(const String& name);
    // The caption of the field in lists and messages: DisplayLabel, else the field name.
    String DisplayLabel() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
    void SetDisplayLabel(const String& s) { displayLabel_ = s; }
    String DisplayName() const { return DisplayLabel(); }
    int DisplayWidth() const;
    void SetDisplayWidth(int w) { displayWidth_ = w; }
    bool Visible() const { return visible_; }
    void SetVisible(bool v) { visible_ = v; }
    int Size() const { return size_; }
    virtual void SetSize(int size);
    const String& Origin() const { return origin_; }
    void SetOrigin(const String& s) { origin_ = s; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v) { readOnly_ = v; }
    bool Required() const { return required_; }
    void SetRequired(bool v) { required_ = v; }
    // Position in the data set's field list (record order).
    int Index() const;
    void SetIndex(int index);
    TDataSet* DataSet() const { return dataSet_; }
    void SetDataSet(TDataSet* ds);
    // Not read-only and its data set can be changed.
    bool CanModify() const;

    TFieldGetTextEvent OnGetText;
    // Turns a text typed into a data-aware control into the value, in place of SetAsString.
    TFieldSetTextEvent OnSetText;

    // The value in the active buffer: the edit buffer while editing, else the current row.
    Variant AsVariant() const;
    Variant Value() const { return AsVariant(); }
    // Writes need the data set in edit or insert state; each write notifies the links.
    void SetValue(const Variant& v);
    bool IsNull() const { return AsVariant().IsNull() || AsVariant().IsEmpty(); }
    void Clear() { SetValue(Variant::Null()); }

    virtual String AsString() const;
    virtual void SetAsString(const String& s);
    virtual double AsFloat() const;
    virtual void SetAsFloat(double v);
    int64_t AsInteger() const;
    void SetAsInteger(int64_t v);
    virtual TDateTime AsDateTime() const;
    virtual void SetAsDateTime(TDateTime v);

    // The edit form (OnGetText with display false) and the display form (display true).
    String Text() const;
    void SetText(const String& s);
    String DisplayText() const;

    // The value as loaded or last merged, and the value about to be posted.
    Variant OldValue() const;
    Variant NewValue() const;

    // Whether a typed character can be part of the field's text.
    virtual bool IsValidChar(Char c) const;

    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;
    void SetParentComponent(TComponent* parent) override;

protected:
    // The text without OnGetText.
    virtual String GetText(bool displayText) const;
    // Turns a value into the form this kind stores (or null); raises when it does not fit.
    virtual Variant Coerce(const Variant& v) const { return v; }
    [[noreturn]] void ConvertFailed(const String& text, const String& what) const;

private:
    String fieldName_, displayLabel_, origin_;
    int displayWidth_ = -1;
    int size_ = 0;
    bool visible_ = true, readOnly_ = false, required_ = false;
    TDataSet* dataSet_ = nullptr;
    friend class TDataSet;
};

// Text of at most Size characters (UTF-8 characters, not bytes); longer text is refused, never
// cut. Size 0 means no limit.
class TStringField : public TField {
public:
    explicit TStringField(TComponent* owner);
    String ClassName() const override { return "TStringField"; }
    TFieldType DataType() const override { return ftString; }

protected:
    Variant Coerce(const Variant& v) const override;
};

// Text: empty stores null; text that is not a number raises EConvertError and changes nothing.
class TFloatField : public TField {
public:
    explicit TFloatField(TComponent* owner);
    String ClassName() const override { return "TFloatField"; }
    TFieldType DataType() const override { return ftFloat; }
    const String& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const String& f) { displayFormat_ = f; }
    double AsFloat() const override;
    bool IsValidChar(Char c) const override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

protected:
    String GetText(bool displayText) const override;
    Variant Coerce(const Variant& v) const override;

private:
    String displayFormat_;
};

// Text: empty stores null; a date, optionally with a time (also ISO); else EConvertError.
class TDateTimeField : public TField {
public:
    explicit TDateTimeField(TComponent* owner);
    String ClassName() const override { return "TDateTimeField"; }
    TFieldType DataType() const override { return ftDateTime; }
    const String& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const String& f) { displayFormat_ = f; }
    TDateTime AsDateTime() const override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

protected:
    String GetText(bool displayText) const override;
    Variant Coerce(const Variant& v) const override;

private:
    String displayFormat_;
};

// ---------------------------------------------------------------------------------------------

// A set of rows with a current row, fields over it and the classic state machine. Subclasses
// supply the rows.
class TDataSet : public TComponent {
public:
    explicit TDataSet(TComponent* owner);
    ~TDataSet() override;
    String ClassName() const override { return "TDataSet"; }

    TDataSetState State() const { return state_; }
    bool Active() const { return state_ != dsInactive; }
    void SetActive(bool on);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }

    void Edit();
    void Post();
    void Cancel();
    // Posts a pending edit that changed something, else cancels it.
    void CheckBrowseMode();
    // Asks the links to write their pending control values into the fields.
    void UpdateRecord();
    // A field was written since the edit began.
    bool Modified() const { return modified_; }
    // False for read-only data sets (queries).
    virtual bool CanModify() const { return true; }

    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }
    bool IsEmpty();
    // May read every row of a lazily fetched data set.
    int RecordCount();
    // Makes the first `wanted` rows known without moving the cursor and returns how many are
    // known: `wanted`, or all of them when the rows end first. Reads no further than that.
    int FetchRows(int wanted);
    // 1-based, 0 when there is no current row.
    int RecNo() const { return recNo_ + 1; }
    void SetRecNo(int recNo);

    TField* FieldByName(const String& name) const; // EDatabaseError when missing
    TField* FindField(const String& name) const;   // case-insensitive
    const std::vector<TField*>& Fields() const { return fields_; }
    int FieldCount() const { return static_cast<int>(fields_.size()); }

    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent AfterScroll;

    // The name used in messages (a query's result set uses the query's name).
    virtual String DataSetName() const { return Name(); }

    void Loaded() override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

    // Used by fields and data sources.
    Variant FieldValue(const TField* f) const;
    void SetFieldValue(TField* f, const Variant& v);
    // EDatabaseError unless the data set is open, modifiable and in edit or insert state.
    void CheckWritable(const TField* f) const;
    virtual Variant FieldOldValue(const TField* f) const;
    void AttachField(TField* f);
    void DetachField(TField* f);
    void MoveField(TField* f, int index);
    void AddDataSource(TDataSource* ds);
    void RemoveDataSource(TDataSource* ds);
    void DataEvent(TDataEvent event, TField* field);

protected:
    // Row storage. InternalOpen prepares the rows; RowExists may fetch lazily.
    virtual void InternalOpen() = 0;
    virtual void InternalClose() = 0;
    virtual bool RowExists(int index) = 0;
    virtual int InternalRecordCount() = 0;
    virtual const std::vector<Variant>& RowValues(int index) = 0;
    // Writes the edit buffer into the current row.
    virtual void InternalPost(int index, const std::vector<Variant>& values) = 0;

    void SetState(TDataSetState s);
    // Leaves edit or insert without events (closing, replacing the content).
    void DiscardEdit();
    void CheckActive() const;
    int CurrentIndex() const { return recNo_; }
    // Places the cursor on the first row (or none) after the rows changed underneath.
    void ResetCursor();
    void Fire(const TDataSetNotifyEvent& ev);

private:
    void ScrollTo(int index);
    TDataSetState state_ = dsInactive;
    bool modified_ = false;
    bool eof_ = true, bof_ = true;
    bool activeOnLoad_ = false;
    int recNo_ = -1;
    std::vector<Variant> editBuffer_;
    std::vector<TField*> fields_;
    std::vector<TDataSource*> dataSources_;
};

// ---------------------------------------------------------------------------------------------

// The link of a control (or any client) to a data source.
class TDataLink {
public:
    TDataLink() = default;
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return dataSource_; }
    void SetDataSource(TDataSource* ds);
    TDataSet* DataSet() const;
    bool Active() const { return active_; }
    bool Editing() const { return editing_; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v);
    // Starts the edit through the data source (AutoEdit); true when the record is now editable.
    virtual bool Edit();
    // Writes the pending value of the control into the record.
    void UpdateRecord();

    // From the data source.
    void DataEvent(TDataEvent event, TField* field);
    void UpdateState();
    void DataSourceDestroying();

protected:
    virtual void ActiveChanged() {}
    virtual void EditingChanged() {}
    virtual void RecordChanged(TField*) {}
    virtual void LayoutChanged() { RecordChanged(nullptr); }
    virtual void UpdateData() {}
    // Whether this link may edit at all (a field link: its field can be modified).
    virtual bool CanEdit() const { return true; }
    void RefreshEditing();
    void SetEditing(bool v);

private:
    void SetActive(bool v);
    TDataSource* dataSource_ = nullptr;
    bool active_ = false, editing_ = false, readOnly_ = false, updating_ = false;
};

// A link to one field of the data set: the binding of a data-aware control.
class TFieldDataLink : public TDataLink {
public:
    const String& FieldName() const { return fieldName_; }
    void SetFieldName(const String& name);
    TField* Field() const { return field_; }
    bool CanModify() const;
    bool Edit() override;
    // The control's value differs from the field's (set by the control on each change).
    void Modified() { modified_ = true; }
    bool IsModified() const { return modified_; }
    // Shows the field's value again, dropping the control's pending change.
    void Reset() { RecordChanged(nullptr); }

    std::function<void()> OnDataChange;
    std::function<void()> OnEditingChange;
    std::function<void()> OnUpdateData;
    std::function<void()> OnActiveChange;

protected:
    void ActiveChanged() override;
    void EditingChanged() override;
    void RecordChanged(TField* field) override;
    void LayoutChanged() override;
    void UpdateData() override;
    bool CanEdit() const override { return CanModify(); }

private:
    void UpdateField();
    String fieldName_;
    TField* field_ = nullptr;
    bool modified_ = false;
};

// ---------------------------------------------------------------------------------------------

class TDataSource : public TComponent {
public:
    explicit TDataSource(TComponent* owner);
    ~TDataSource() override;
    String ClassName() const override { return "TDataSource"; }

    TDataSet* DataSet() const { return dataSet_; }
    void SetDataSet(TDataSet* ds);
    TDataSetState State() const { return state_; }
    bool AutoEdit() const { return autoEdit_; }
    void SetAutoEdit(bool v) { autoEdit_ = v; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    // Starts the data set's edit when AutoEdit is on and the data set is browsing.
    void Edit();

    TNotifyEvent OnStateChange;
    TDataChangeEvent OnDataChange;
    TNotifyEvent OnUpdateData;

    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

    // From the data set and the links.
    void DataEvent(TDataEvent event, TField* field);
    void AddLink(TDataLink* link);
    void RemoveLink(TDataLink* link);
    void DataSetDestroying();

private:
    void UpdateState();
    void SetState(TDataSetState s);
    TDataSet* dataSet_ = nullptr;
    TDataSetState state_ = dsInactive;
    bool autoEdit_ = true, enabled_ = true;
    std::vector<TDataLink*> links_;
};

// A data set, or the data set a provider (a query) stands for; null for anything else.
TDataSet* DataSetOf(TComponent* c);

void RegisterDataClasses();

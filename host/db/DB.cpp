#include "db/DB.h"

#include <algorithm>

#include "rtl/ScopeGuard.h"
#include "vcl/FormReader.h"

namespace {
// Runs fn for each element of a snapshot of `list` that is still in `list` when its turn comes:
// a handler may add or remove links and data sources while they are being notified.
template <class T, class F> void ForEachStill(const std::vector<T*>& list, F fn) {
    std::vector<T*> snapshot = list;
    for (T* item : snapshot)
        if (std::find(list.begin(), list.end(), item) != list.end()) fn(item);
}

bool EditMode(TDataSetState s) {
    return s == dsEdit || s == dsInsert;
}
} // namespace

const char* DataSetStateName(TDataSetState s) {
    switch (s) {
    case dsInactive:
        return "inactive";
    case dsBrowse:
        return "browse";
    case dsEdit:
        return "edit";
    case dsInsert:
        return "insert";
    }
    return "inactive";
}

TDataSet* DataSetOf(TComponent* c) {
    if (auto* ds = dynamic_cast<TDataSet*>(c)) return ds;
    if (auto* p = dynamic_cast<IDataSetProvider*>(c)) return p->ProvidedDataSet();
    return nullptr;
}

// ---------------------------------------------------------------------------------------------

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

TDataSet::~TDataSet() {
    BeginDestroy();
    ForEachStill(dataSources_, [](TDataSource* ds) { ds->DataSetDestroying(); });
    dataSources_.clear();
    for (TField* f : fields_)
        f->dataSet_ = nullptr;
    fields_.clear();
}

void TDataSet::Fire(const TDataSetNotifyEvent& ev) {
    if (ev && !Destroying()) ev(this);
}

void TDataSet::CheckActive() const {
    if (!Active()) throw EDatabaseError("O conjunto de dados " + DataSetName() + " está fechado.");
}

void TDataSet::SetState(TDataSetState s) {
    if (s == state_) return;
    state_ = s;
    modified_ = false;
    DataEvent(deUpdateState, nullptr);
}

void TDataSet::SetActive(bool on) {
    if (Loading()) {
        activeOnLoad_ = on;
        return;
    }
    if (on == Active()) return;
    if (on) {
        Fire(BeforeOpen);
        InternalOpen();
        editBuffer_.clear();
        recNo_ = RowExists(0) ? 0 : -1;
        bof_ = true;
        eof_ = recNo_ < 0;
        SetState(dsBrowse);
        DataEvent(deDataSetChange, nullptr);
        Fire(AfterOpen);
        Fire(AfterScroll);
    } else {
        Fire(BeforeClose);
        // A pending edit is dropped without the cancel events, as closing always did.
        editBuffer_.clear();
        SetState(dsInactive);
        InternalClose();
        recNo_ = -1;
        bof_ = eof_ = true;
        Fire(AfterClose);
    }
}

void TDataSet::Loaded() {
    TComponent::Loaded();
    if (activeOnLoad_) {
        activeOnLoad_ = false;
        Open();
    }
}

void TDataSet::DiscardEdit() {
    if (!EditMode(state_)) return;
    editBuffer_.clear();
    SetState(dsBrowse);
}

void TDataSet::ResetCursor() {
    recNo_ = RowExists(0) ? 0 : -1;
    bof_ = true;
    eof_ = recNo_ < 0;
}

void TDataSet::Edit() {
    if (EditMode(state_)) return;
    CheckActive();
    if (!CanModify())
        throw EDatabaseError("O conjunto de dados " + DataSetName() +
                             " é somente leitura e não pode ser alterado.");
    if (recNo_ < 0)
        throw EDatabaseError("O conjunto de dados " + DataSetName() +
                             " está vazio: não há registro para alterar.");
    Fire(BeforeEdit);
    editBuffer_ = RowValues(recNo_);
    SetState(dsEdit);
    DataEvent(deRecordChange, nullptr);
    Fire(AfterEdit);
}

void TDataSet::UpdateRecord() {
    if (!EditMode(state_))
        throw EDatabaseError("O conjunto de dados " + DataSetName() +
                             " não está em modo de edição ou inclusão.");
    DataEvent(deUpdateRecord, nullptr);
}

void TDataSet::Post() {
    UpdateRecord();
    if (!EditMode(state_)) return; // a control's update ended the edit
    Fire(BeforePost);
    InternalPost(recNo_, editBuffer_);
    editBuffer_.clear();
    SetState(dsBrowse);
    DataEvent(deDataSetChange, nullptr);
    Fire(AfterPost);
}

void TDataSet::Cancel() {
    if (!EditMode(state_)) return;
    Fire(BeforeCancel);
    editBuffer_.clear();
    SetState(dsBrowse);
    DataEvent(deDataSetChange, nullptr);
    Fire(AfterCancel);
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    if (!EditMode(state_)) return;
    UpdateRecord();
    if (modified_)
        Post();
    else
        Cancel();
}

void TDataSet::ScrollTo(int index) {
    recNo_ = index;
    DataEvent(deDataSetScroll, nullptr);
    Fire(AfterScroll);
}

void TDataSet::First() {
    CheckBrowseMode();
    bool any = RowExists(0);
    bof_ = true;
    eof_ = !any;
    ScrollTo(any ? 0 : -1);
}

void TDataSet::Next() {
    CheckBrowseMode();
    if (eof_) return;
    if (!RowExists(recNo_ + 1)) {
        eof_ = true;
        return;
    }
    bof_ = false;
    ScrollTo(recNo_ + 1);
}

void TDataSet::Prior() {
    CheckBrowseMode();
    if (bof_) return;
    if (recNo_ <= 0) {
        bof_ = true;
        return;
    }
    eof_ = false;
    ScrollTo(recNo_ - 1);
}

void TDataSet::Last() {
    CheckBrowseMode();
    int count = InternalRecordCount();
    eof_ = true;
    bof_ = count == 0;
    ScrollTo(count - 1);
}

void TDataSet::SetRecNo(int recNo) {
    CheckBrowseMode();
    if (recNo < 1 || !RowExists(recNo - 1))
        throw EDatabaseError("Registro " + std::to_string(recNo) + " não existe em " +
                             DataSetName() + ".");
    bof_ = eof_ = false;
    ScrollTo(recNo - 1);
}

bool TDataSet::IsEmpty() {
    return !Active() || !RowExists(0);
}

int TDataSet::RecordCount() {
    return Active() ? InternalRecordCount() : 0;
}

int TDataSet::FetchRows(int wanted) {
    if (!Active() || wanted <= 0) return 0;
    if (RowExists(wanted - 1)) return wanted;
    // The rows ended before `wanted`: every row is read, so counting them reads nothing more.
    return InternalRecordCount();
}

TField* TDataSet::FindField(const String& name) const {
    for (TField* f : fields_)
        if (SameText(f->FieldName(), name)) return f;
    return nullptr;
}

TField* TDataSet::FieldByName(const String& name) const {
    if (TField* f = FindField(name)) return f;
    throw EDatabaseError("Campo '" + name + "' não encontrado.");
}

Variant TDataSet::FieldValue(const TField* f) const {
    if (state_ == dsInactive) return Variant::Null();
    int i = f->Index();
    if (i < 0) return Variant::Null();
    if (EditMode(state_)) return editBuffer_.at(static_cast<size_t>(i));
    if (recNo_ < 0) return Variant::Null();
    return const_cast<TDataSet*>(this)->RowValues(recNo_).at(static_cast<size_t>(i));
}

Variant TDataSet::FieldOldValue(const TField* f) const {
    if (state_ == dsInactive || recNo_ < 0) return Variant::Null();
    int i = f->Index();
    if (i < 0) return Variant::Null();
    return const_cast<TDataSet*>(this)->RowValues(recNo_).at(static_cast<size_t>(i));
}

void TDataSet::CheckWritable(const TField* f) const {
    CheckActive();
    if (!CanModify())
        throw EDatabaseError("O campo " + f->FieldName() + " de " + DataSetName() +
                             " é somente leitura.");
    if (!EditMode(state_))
        throw EDatabaseError("O conjunto de dados " + DataSetName() +
                             " não está em modo de edição ou inclusão: o campo " + f->FieldName() +
                             " não pode ser alterado.");
}

void TDataSet::SetFieldValue(TField* f, const Variant& v) {
    CheckWritable(f);
    editBuffer_.at(static_cast<size_t>(f->Index())) = v;
    modified_ = true;
    DataEvent(deFieldChange, f);
}

void TDataSet::AttachField(TField* f) {
    if (Active())
        throw EDatabaseError("Não é possível incluir o campo " + f->FieldName() +
                             " com o conjunto de dados " + DataSetName() + " aberto.");
    fields_.push_back(f);
    f->dataSet_ = this;
}

void TDataSet::DetachField(TField* f) {
    // The rows are laid out by field position: an open data set closes before losing a field.
    if (Active() && !Destroying()) Close();
    fields_.erase(std::remove(fields_.begin(), fields_.end(), f), fields_.end());
    f->dataSet_ = nullptr;
}

void TDataSet::MoveField(TField* f, int index) {
    if (Active())
        throw EDatabaseError("Não é possível reordenar os campos com o conjunto de dados " +
                             DataSetName() + " aberto.");
    auto it = std::find(fields_.begin(), fields_.end(), f);
    if (it == fields_.end()) return;
    fields_.erase(it);
    size_t pos = std::min(static_cast<size_t>(std::max(index, 0)), fields_.size());
    fields_.insert(fields_.begin() + static_cast<long>(pos), f);
}

void TDataSet::AddDataSource(TDataSource* ds) {
    if (std::find(dataSources_.begin(), dataSources_.end(), ds) == dataSources_.end())
        dataSources_.push_back(ds);
}

void TDataSet::RemoveDataSource(TDataSource* ds) {
    dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), ds),
                       dataSources_.end());
}

void TDataSet::DataEvent(TDataEvent event, TField* field) {
    if (Destroying()) return;
    ForEachStill(dataSources_, [&](TDataSource* ds) { ds->DataEvent(event, field); });
}

bool TDataSet::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    TDataSetNotifyEvent* ev = nullptr;
    if (n == "Active") {
        SetActive(r.Bool(p));
        return true;
    }
    if (n == "BeforeOpen")
        ev = &BeforeOpen;
    else if (n == "AfterOpen")
        ev = &AfterOpen;
    else if (n == "BeforeClose")
        ev = &BeforeClose;
    else if (n == "AfterClose")
        ev = &AfterClose;
    else if (n == "BeforeEdit")
        ev = &BeforeEdit;
    else if (n == "AfterEdit")
        ev = &AfterEdit;
    else if (n == "BeforePost")
        ev = &BeforePost;
    else if (n == "AfterPost")
        ev = &AfterPost;
    else if (n == "BeforeCancel")
        ev = &BeforeCancel;
    else if (n == "AfterCancel")
        ev = &AfterCancel;
    else if (n == "AfterScroll")
        ev = &AfterScroll;
    else
        return TComponent::ReadProperty(p, r);
    *ev = r.Method<TDataSetNotifyEvent>(p);
    return true;
}

// ---------------------------------------------------------------------------------------------

TDataLink::~TDataLink() {
    if (dataSource_) dataSource_->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* ds) {
    if (ds == dataSource_) return;
    if (dataSource_) dataSource_->RemoveLink(this);
    dataSource_ = ds;
    if (ds) ds->AddLink(this);
    UpdateState();
}

void TDataLink::DataSourceDestroying() {
    dataSource_ = nullptr;
    UpdateState();
}

TDataSet* TDataLink::DataSet() const {
    return dataSource_ ? dataSource_->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool v) {
    if (v == readOnly_) return;
    readOnly_ = v;
    RefreshEditing();
}

void TDataLink::UpdateState() {
    SetActive(dataSource_ && dataSource_->State() != dsInactive);
    RefreshEditing();
}

void TDataLink::RefreshEditing() {
    bool editMode = dataSource_ && EditMode(dataSource_->State());
    SetEditing(active_ && editMode && !readOnly_ && CanEdit());
}

void TDataLink::SetActive(bool v) {
    if (v == active_) return;
    active_ = v;
    ActiveChanged();
}

void TDataLink::SetEditing(bool v) {
    if (v == editing_) return;
    editing_ = v;
    EditingChanged();
}

bool TDataLink::Edit() {
    if (!readOnly_ && dataSource_) dataSource_->Edit();
    return editing_;
}

void TDataLink::UpdateRecord() {
    TScopedValue<bool> updating(updating_, true);
    UpdateData();
}

void TDataLink::DataEvent(TDataEvent event, TField* field) {
    if (event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!active_) return;
    switch (event) {
    case deFieldChange:
    case deRecordChange:
        // The link's own write reaches the field while it updates; it already shows that value.
        if (!updating_) RecordChanged(field);
        break;
    case deDataSetChange:
    case deDataSetScroll:
        RecordChanged(nullptr);
        break;
    case deLayoutChange:
        LayoutChanged();
        break;
    case deUpdateRecord:
        UpdateRecord();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------

void TFieldDataLink::SetFieldName(const String& name) {
    if (name == fieldName_) return;
    fieldName_ = name;
    UpdateField();
}

bool TFieldDataLink::CanModify() const {
    return !ReadOnly() && field_ && field_->CanModify();
}

bool TFieldDataLink::Edit() {
    if (CanModify()) TDataLink::Edit();
    return Editing();
}

void TFieldDataLink::UpdateField() {
    TField* f = nullptr;
    if (Active() && DataSet() && !fieldName_.empty()) f = DataSet()->FieldByName(fieldName_);
    if (f == field_) return;
    field_ = f;
    RefreshEditing();
    RecordChanged(nullptr);
}

void TFieldDataLink::ActiveChanged() {
    UpdateField();
    if (OnActiveChange) OnActiveChange();
}

void TFieldDataLink::LayoutChanged() {
    UpdateField();
    RecordChanged(nullptr);
}

void TFieldDataLink::EditingChanged() {
    modified_ = false;
    if (OnEditingChange) OnEditingChange();
}

void TFieldDataLink::RecordChanged(TField* field) {
    if (field && field != field_) return;
    if (OnDataChange) OnDataChange();
    modified_ = false;
}

void TFieldDataLink::UpdateData() {
    if (!modified_) return;
    if (field_ && OnUpdateData) OnUpdateData();
    modified_ = false;
}

// ---------------------------------------------------------------------------------------------

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
    BeginDestroy();
    ForEachStill(links_, [](TDataLink* l) { l->DataSourceDestroying(); });
    links_.clear();
    if (dataSet_) dataSet_->RemoveDataSource(this);
}

void TDataSource::SetDataSet(TDataSet* ds) {
    if (ds == dataSet_) return;
    if (dataSet_) dataSet_->RemoveDataSource(this);
    dataSet_ = ds;
    if (ds) ds->AddDataSource(this);
    UpdateState();
}

void TDataSource::DataSetDestroying() {
    dataSet_ = nullptr;
    UpdateState();
}

void TDataSource::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    UpdateState();
}

void TDataSource::UpdateState() {
    SetState(enabled_ && dataSet_ ? dataSet_->State() : dsInactive);
}

void TDataSource::SetState(TDataSetState s) {
    if (s == state_) return;
    TDataSetState prior = state_;
    state_ = s;
    ForEachStill(links_, [](TDataLink* l) { l->DataEvent(deUpdateState, nullptr); });
    if (Destroying()) return;
    if (OnStateChange) OnStateChange(this);
    if (prior == dsInactive && OnDataChange) OnDataChange(this, nullptr);
}

void TDataSource::Edit() {
    if (autoEdit_ && state_ == dsBrowse && dataSet_) dataSet_->Edit();
}

void TDataSource::DataEvent(TDataEvent event, TField* field) {
    if (event == deUpdateState) {
        UpdateState();
        return;
    }
    if (state_ == dsInactive) return;
    ForEachStill(links_, [&](TDataLink* l) { l->DataEvent(event, field); });
    if (Destroying()) return;
    switch (event) {
    case deFieldChange:
        if (OnDataChange) OnDataChange(this, field);
        break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
        if (OnDataChange) OnDataChange(this, nullptr);
        break;
    case deUpdateRecord:
        if (OnUpdateData) OnUpdateData(this);
        break;
    default:
        break;
    }
}

void TDataSource::AddLink(TDataLink* link) {
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void TDataSource::RemoveLink(TDataLink* link) {
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

bool TDataSource::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "DataSet") {
        String name = r.Ident(p);
        int line = p.line;
        TFormReader* reader = &r;
        r.Fixup([this, reader, name, line] {
            TDataSet* ds = DataSetOf(reader->Resolve(name));
            if (!ds)
                throw EDfmError(line, "DataSet: '" + name +
                                          "' não é um conjunto de dados nem uma consulta");
            SetDataSet(ds);
        });
    } else if (n == "AutoEdit")
        SetAutoEdit(r.Bool(p));
    else if (n == "Enabled")
        SetEnabled(r.Bool(p));
    else if (n == "OnStateChange")
        OnStateChange = r.Method<TNotifyEvent>(p);
    else if (n == "OnDataChange")
        OnDataChange = r.Method<TDataChangeEvent>(p);
    else if (n == "OnUpdateData")
        OnUpdateData = r.Method<TNotifyEvent>(p);
    else
        return TComponent::ReadProperty(p, r);
    return true;
}

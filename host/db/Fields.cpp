#include <cmath>

#include "db/DB.h"
#include "rtl/Utf8.h"
#include "vcl/FormReader.h"

TField::TField(TComponent* owner) : TComponent(owner) {}

TField::~TField() {
    if (dataSet_) dataSet_->DetachField(this);
}

void TField::SetFieldName(const String& name) {
    if (name == fieldName_) return;
    if (dataSet_ && dataSet_->Active())
        throw EDatabaseError("Não é possível renomear o campo " + fieldName_ +
                             " com o conjunto de dados " + dataSet_->DataSetName() + " aberto.");
    fieldName_ = name;
}

int TField::DisplayWidth() const {
    if (displayWidth_ >= 0) return displayWidth_;
    switch (DataType()) {
    case ftString:
        return size_;
    case ftDateTime:
        return 18;
    default:
        return 10;
    }
}

void TField::SetSize(int size) {
    if (size < 0) throw EDatabaseError("Tamanho inválido para o campo " + fieldName_ + ".");
    if (size == size_) return;
    if (dataSet_ && dataSet_->Active())
        throw EDatabaseError("Não é possível mudar o tamanho do campo " + fieldName_ +
                             " com o conjunto de dados aberto.");
    size_ = size;
}

int TField::Index() const {
    if (!dataSet_) return -1;
    const auto& f = dataSet_->Fields();
    for (size_t i = 0; i < f.size(); ++i)
        if (f[i] == this) return static_cast<int>(i);
    return -1;
}

void TField::SetIndex(int index) {
    if (dataSet_) dataSet_->MoveField(this, index);
}

void TField::SetDataSet(TDataSet* ds) {
    if (ds == dataSet_) return;
    if (ds && !fieldName_.empty() && ds->FindField(fieldName_))
        throw EDatabaseError("Campo '" + fieldName_ + "' repetido em " + ds->DataSetName() + ".");
    if (dataSet_) dataSet_->DetachField(this);
    if (ds) ds->AttachField(this);
}

bool TField::CanModify() const {
    return !readOnly_ && dataSet_ && dataSet_->CanModify();
}

Variant TField::AsVariant() const {
    if (!dataSet_) return Variant::Null();
    return dataSet_->FieldValue(this);
}

void TField::SetValue(const Variant& v) {
    if (!dataSet_)
        throw EDatabaseError("O campo " + fieldName_ + " não pertence a um conjunto de dados.");
    if (readOnly_) throw EDatabaseError("O campo " + fieldName_ + " não pode ser modificado.");
    // The state is checked before the value, so a write outside edit says why.
    dataSet_->CheckWritable(this);
    dataSet_->SetFieldValue(this, Coerce(v));
}

String TField::AsString() const {
    return GetText(false);
}

void TField::SetAsString(const String& s) {
    SetValue(Variant(s));
}

double TField::AsFloat() const {
    Variant v = AsVariant();
    return VarIsNull(v) ? 0.0 : v.AsDouble();
}

void TField::SetAsFloat(double v) {
    SetValue(Variant(v));
}

int64_t TField::AsInteger() const {
    Variant v = AsVariant();
    if (VarIsNull(v)) return 0;
    if (DataType() == ftString) return StrToInt64(v.AsString());
    return Variant(AsFloat()).AsInteger();
}

void TField::SetAsInteger(int64_t v) {
    SetValue(Variant(static_cast<long long>(v)));
}

TDateTime TField::AsDateTime() const {
    Variant v = AsVariant();
    return VarIsNull(v) ? TDateTime() : v.AsDateTime();
}

void TField::SetAsDateTime(TDateTime v) {
    SetValue(Variant(v));
}

String TField::GetText(bool) const {
    return VarToStr(AsVariant());
}

String TField::Text() const {
    if (OnGetText) {
        String t;
        OnGetText(const_cast<TField*>(this), t, false);
        return t;
    }
    return GetText(false);
}

void TField::SetText(const String& s) {
    if (OnSetText)
        OnSetText(this, s);
    else
        SetAsString(s);
}

String TField::DisplayText() const {
    if (OnGetText) {
        String t;
        OnGetText(const_cast<TField*>(this), t, true);
        return t;
    }
    return GetText(true);
}

Variant TField::OldValue() const {
    if (!dataSet_) return Variant::Null();
    return dataSet_->FieldOldValue(this);
}

Variant TField::NewValue() const {
    return AsVariant();
}

bool TField::IsValidChar(Char c) const {
    return c >= 32;
}

void TField::ConvertFailed(const String& text, const String& what) const {
    // The user meets the field under its label, never under its column name.
    throw EConvertError("'" + text + "' não é " + what + " para o campo " + DisplayLabel() + ".");
}

bool TField::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "FieldName")
        SetFieldName(r.Str(p));
    else if (n == "DisplayLabel")
        SetDisplayLabel(r.Str(p));
    else if (n == "DisplayWidth")
        SetDisplayWidth(r.Int(p));
    else if (n == "Visible")
        SetVisible(r.Bool(p));
    else if (n == "Size")
        SetSize(r.Int(p));
    else if (n == "Origin")
        SetOrigin(r.Str(p));
    else if (n == "ReadOnly")
        SetReadOnly(r.Bool(p));
    else if (n == "Required")
        SetRequired(r.Bool(p));
    else if (n == "OnGetText")
        OnGetText = r.Method<TFieldGetTextEvent>(p);
    else if (n == "OnSetText")
        OnSetText = r.Method<TFieldSetTextEvent>(p);
    else
        return TComponent::ReadProperty(p, r);
    return true;
}

void TField::SetParentComponent(TComponent* parent) {
    TDataSet* ds = DataSetOf(parent);
    if (!ds)
        throw EComponentError("O campo " + Name() +
                              " só pode ser colocado dentro de um conjunto de dados.");
    SetDataSet(ds);
}

// ---------------------------------------------------------------------------------------------

TStringField::TStringField(TComponent* owner) : TField(owner) {
    SetSize(20);
}

Variant TStringField::Coerce(const Variant& v) const {
    if (VarIsNull(v)) return Variant::Null();
    String s = v.AsString();
    size_t len = Utf8Length(s);
    if (Size() > 0 && len > static_cast<size_t>(Size()))
        throw EDatabaseError("O texto de " + std::to_string(len) +
                             " caracteres não cabe no campo " + DisplayLabel() + " (máximo de " +
                             std::to_string(Size()) + " caracteres).");
    return Variant(s);
}

// ---------------------------------------------------------------------------------------------

TFloatField::TFloatField(TComponent* owner) : TField(owner) {}

double TFloatField::AsFloat() const {
    Variant v = AsVariant();
    return VarIsNull(v) ? 0.0 : v.AsDouble();
}

bool TFloatField::IsValidChar(Char c) const {
    return (c >= U'0' && c <= U'9') || c == U'+' || c == U'-' || c == U'E' || c == U'e' ||
           c == static_cast<Char>(FormatSettings().DecimalSeparator);
}

String TFloatField::GetText(bool displayText) const {
    Variant v = AsVariant();
    if (VarIsNull(v)) return "";
    if (displayText && !displayFormat_.empty()) return FormatFloat(displayFormat_, v.AsDouble());
    return FloatToStr(v.AsDouble());
}

Variant TFloatField::Coerce(const Variant& v) const {
    if (VarIsNull(v)) return Variant::Null();
    double d = 0;
    String text;
    if (v.IsString()) {
        text = v.AsString();
        if (Trim(text).empty()) return Variant::Null();
        if (!TryStrToFloat(Trim(text), d)) ConvertFailed(text, "um número válido");
    } else {
        d = v.AsDouble();
        text = FloatToStr(d);
    }
    // Neither a stored number nor the wire form of the record can hold NaN or infinity.
    if (!std::isfinite(d)) ConvertFailed(text, "um número válido");
    return Variant(d);
}

bool TFloatField::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "DisplayFormat") {
        SetDisplayFormat(r.Str(p));
        return true;
    }
    return TField::ReadProperty(p, r);
}

// ---------------------------------------------------------------------------------------------

TDateTimeField::TDateTimeField(TComponent* owner) : TField(owner) {}

TDateTime TDateTimeField::AsDateTime() const {
    Variant v = AsVariant();
    return VarIsNull(v) ? TDateTime() : v.AsDateTime();
}

String TDateTimeField::GetText(bool displayText) const {
    Variant v = AsVariant();
    if (VarIsNull(v)) return "";
    TDateTime d = v.AsDateTime();
    if (displayText && !displayFormat_.empty()) return FormatDateTime(displayFormat_, d);
    return DateTimeToStr(d);
}

Variant TDateTimeField::Coerce(const Variant& v) const {
    if (VarIsNull(v)) return Variant::Null();
    TDateTime d;
    if (v.IsString()) {
        String t = Trim(v.AsString());
        if (t.empty()) return Variant::Null();
        if (!TryStrToDateTime(t, d) && !TryISOToDateTime(t, d))
            ConvertFailed(v.AsString(), "uma data válida");
    } else {
        d = v.AsDateTime();
    }
    if (!std::isfinite(d.Val)) ConvertFailed(FloatToStr(d.Val), "uma data válida");
    return Variant(d);
}

bool TDateTimeField::ReadProperty(const DfmProperty& p, TFormReader& r) {
    if (p.name == "DisplayFormat") {
        SetDisplayFormat(r.Str(p));
        return true;
    }
    return TField::ReadProperty(p, r);
}

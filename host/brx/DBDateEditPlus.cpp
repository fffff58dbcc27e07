#include "brx/DBDateEditPlus.h"

#include "Consiste.h"
#include "vcl/FormReader.h"

TDBDateEditPlus::TDBDateEditPlus(TComponent* owner) : TDBEdit(owner) {
    SetEditMask("!99/99/9999;1;_");
}

void TDBDateEditPlus::CheckValidDate() const {
    if (Consiste::EmptyString(Text())) return;
    TDateTime d;
    if (!TryStrToDate(Text(), d)) throw EConvertError("'" + EditText() + "' não é uma data válida");
}

bool TDBDateEditPlus::HasValidDate() const {
    TDateTime d;
    return !Consiste::EmptyString(Text()) && TryStrToDate(Text(), d);
}

TDateTime TDBDateEditPlus::GetDate() const {
    if (Consiste::EmptyString(Text())) return TDateTime();
    TDateTime d = StrToDate(Text());
    return SaveTime ? d : DateOf(d);
}

void TDBDateEditPlus::SetDate(TDateTime date) {
    SetEditText(DateToStr(SaveTime ? date : DateOf(date)));
}

TColor TDBDateEditPlus::TextColor() const {
    return HasValidDate() ? ValidDateColor : TDBEdit::TextColor();
}

String TDBDateEditPlus::WeekdayName() const {
    if (!HasValidDate()) return "";
    int d = DayOfWeek(GetDate());
    return d >= 1 && d <= NomeSemana.Count() ? NomeSemana[d - 1] : String();
}

bool TDBDateEditPlus::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "ValidDateColor")
        ValidDateColor = r.Color(p);
    else if (n == "NomeSemana.Strings") {
        std::vector<String> names = r.List(p);
        if (names.size() != 7) r.Fail(p, "são esperados os 7 nomes dos dias, de domingo a sábado");
        NomeSemana.Assign(names);
    } else if (n == "SaveTime")
        SaveTime = r.Bool(p);
    else if (n == "Glyph.Data") {
        if (p.value.kind != DfmValue::Kind::Binary) r.Fail(p, "dados binários esperados");
        GlyphData = p.value.text;
    } else if (n == "NumGlyphs")
        NumGlyphs = r.Int(p);
    else
        return TDBEdit::ReadProperty(p, r);
    return true;
}

#include "db/DBClient.h"

#include <cmath>

#include "rtl/Utf8.h"

using nlohmann::json;

namespace {
const char* TypeName(TFieldType t) {
    switch (t) {
    case ftString:
        return "string";
    case ftFloat:
        return "float";
    case ftDateTime:
        return "datetime";
    default:
        return "unknown";
    }
}

bool Same(const Variant& a, const Variant& b) {
    bool na = VarIsNull(a), nb = VarIsNull(b);
    if (na || nb) return na == nb;
    return a == b;
}

// A number as the packets carry it: whole values as JSON integers.
json NumberJson(double v) {
    if (std::trunc(v) == v && std::fabs(v) <= 9007199254740992.0) return static_cast<int64_t>(v);
    return v;
}
} // namespace

TClientDataSet::TClientDataSet(TComponent* owner) : TDataSet(owner) {}

TClientDataSet::~TClientDataSet() {
    BeginDestroy();
}

json TClientDataSet::FieldsJson() const {
    json fields = json::array();
    for (TField* f : Fields()) {
        json m = {{"name", f->FieldName()}, {"type", TypeName(f->DataType())}};
        if (f->DataType() == ftString) m["size"] = f->Size();
        fields.push_back(std::move(m));
    }
    return fields;
}

json TClientDataSet::ValueJson(const TField* f, const Variant& v) {
    if (VarIsNull(v)) return nullptr;
    switch (f->DataType()) {
    case ftFloat:
        return NumberJson(v.AsDouble());
    case ftDateTime:
        return DateTimeToISO(v.AsDateTime());
    default:
        return v.AsString();
    }
}

json TClientDataSet::RowJson(const Row& row, const Stored* stored) const {
    json out = json::array();
    const auto& fields = Fields();
    for (size_t i = 0; i < fields.size(); ++i) {
        const auto kept = stored ? stored->find(i) : Stored::const_iterator();
        if (stored && kept != stored->end())
            out.push_back(kept->second);
        else
            out.push_back(ValueJson(fields[i], row.at(i)));
    }
    return out;
}

std::vector<TClientDataSet::Row> TClientDataSet::ReadPacket(const json& packet,
                                                            std::vector<Stored>& stored) const {
    const String where = "O pacote de dados não serve para " + DataSetName() + ": ";
    auto fail = [&](const String& why) { throw EDatabaseError(where + why); };
    if (!packet.is_object() || !packet.contains("fields") || !packet["fields"].is_array() ||
        !packet.contains("rows") || !packet["rows"].is_array())
        fail("esperado um objeto com as listas \"fields\" e \"rows\".");

    const auto& fields = Fields();
    const json& meta = packet["fields"];
    if (meta.size() != fields.size())
        fail("traz " + std::to_string(meta.size()) + " campos, e o conjunto de dados tem " +
             std::to_string(fields.size()) + ".");
    for (size_t i = 0; i < fields.size(); ++i) {
        const TField* f = fields[i];
        const json& m = meta[i];
        String expected = f->FieldName() + " (" + TypeName(f->DataType()) +
                          (f->DataType() == ftString ? ", " + std::to_string(f->Size()) : "") + ")";
        String pos = "o campo " + std::to_string(i + 1) + " deveria ser " + expected;
        if (!m.is_object() || !m.contains("name") || !m["name"].is_string() ||
            !m.contains("type") || !m["type"].is_string())
            fail(pos + ", e sua descrição está incompleta.");
        String name = m["name"], type = m["type"];
        if (name != f->FieldName() || type != TypeName(f->DataType()))
            fail(pos + ", e o pacote traz " + name + " (" + type + ").");
        if (f->DataType() == ftString) {
            if (!m.contains("size") || !m["size"].is_number_integer() || m["size"] != f->Size())
                fail(pos + ", e o pacote traz outro tamanho.");
        }
    }

    std::vector<Row> rows;
    for (size_t r = 0; r < packet["rows"].size(); ++r) {
        const json& src = packet["rows"][r];
        String at = "linha " + std::to_string(r + 1);
        if (!src.is_array() || src.size() != fields.size())
            fail(at + ": esperados " + std::to_string(fields.size()) + " valores.");
        Row row;
        for (size_t i = 0; i < fields.size(); ++i) {
            const json& v = src[i];
            const TField* f = fields[i];
            String bad = at + ", campo " + f->FieldName() + ": ";
            if (v.is_null()) {
                row.push_back(Variant::Null());
                continue;
            }
            switch (f->DataType()) {
            case ftString: {
                if (!v.is_string()) fail(bad + "texto esperado.");
                String s = v;
                if (f->Size() > 0 && Utf8Length(s) > static_cast<size_t>(f->Size()))
                    fail(bad + "texto maior que " + std::to_string(f->Size()) + " caracteres.");
                row.push_back(Variant(s));
                break;
            }
            case ftFloat:
                if (!v.is_number()) fail(bad + "número esperado.");
                row.push_back(Variant(v.get<double>()));
                break;
            case ftDateTime: {
                TDateTime d;
                if (!v.is_string() || !TryISOToDateTime(v.get<String>(), d))
                    fail(bad + "data AAAA-MM-DD esperada.");
                row.push_back(Variant(d));
                break;
            }
            default:
                fail(bad + "campo de tipo desconhecido.");
            }
        }
        rows.push_back(std::move(row));
    }

    stored.assign(rows.size(), Stored());
    if (packet.contains("stored")) {
        const json& all = packet["stored"];
        if (!all.is_array() || all.size() != rows.size())
            fail("esperada em \"stored\" uma lista com um objeto por linha.");
        for (size_t r = 0; r < rows.size(); ++r) {
            if (!all[r].is_object())
                fail("linha " + std::to_string(r + 1) + " de \"stored\": objeto esperado.");
            for (const auto& [name, value] : all[r].items()) {
                const TField* f = FindField(name);
                String at =
                    "linha " + std::to_string(r + 1) + " de \"stored\", campo " + name + ": ";
                if (!f) fail(at + "não pertence ao conjunto de dados.");
                const size_t i = static_cast<size_t>(f->Index());
                if (value.is_null() || value.is_structured()) fail(at + "valor simples esperado.");
                if (!VarIsNull(rows[r][i])) fail(at + "a linha deveria trazer nulo.");
                stored[r][i] = value;
            }
        }
    }
    return rows;
}

Variant TClientDataSet::Data() const {
    json rows = json::array(), stored = json::array();
    bool anyStored = false;
    for (size_t r = 0; r < rows_.size(); ++r) {
        rows.push_back(RowJson(rows_[r]));
        json kept = json::object();
        if (r < stored_.size() && r < base_.size())
            for (const auto& [i, value] : stored_[r])
                if (Same(base_[r][i], rows_[r][i])) kept[Fields()[i]->FieldName()] = value;
        anyStored = anyStored || !kept.empty();
        stored.push_back(std::move(kept));
    }
    json packet = {{"fields", FieldsJson()}, {"rows", std::move(rows)}};
    if (anyStored) packet["stored"] = std::move(stored);
    return Variant::Json(std::move(packet));
}

void TClientDataSet::SetData(const Variant& packet) {
    if (VarIsNull(packet)) {
        Close();
        return;
    }
    json doc;
    if (packet.VarType() == varJson) {
        doc = packet.AsJson();
    } else if (packet.IsString()) {
        doc = json::parse(packet.AsString(), nullptr, false);
        if (doc.is_discarded())
            throw EDatabaseError("O pacote de dados de " + DataSetName() +
                                 " não é um JSON válido.");
    } else {
        throw EDatabaseError("O pacote de dados de " + DataSetName() +
                             " deve ser um documento JSON.");
    }
    std::vector<Stored> stored;
    std::vector<Row> rows = ReadPacket(doc, stored); // before anything changes
    Close();
    base_ = rows;
    rows_ = std::move(rows);
    stored_ = std::move(stored);
    changeCount_ = 0;
    Open();
}

Variant TClientDataSet::Delta() const {
    json changes = json::array();
    const auto& fields = Fields();
    for (size_t r = 0; r < rows_.size() && r < base_.size(); ++r) {
        json changed = json::object();
        for (size_t i = 0; i < fields.size(); ++i)
            if (!Same(base_[r][i], rows_[r][i]))
                changed[fields[i]->FieldName()] = ValueJson(fields[i], rows_[r][i]);
        if (changed.empty()) continue;
        changes.push_back({{"op", "update"},
                           {"old", RowJson(base_[r], r < stored_.size() ? &stored_[r] : nullptr)},
                           {"new", changed}});
    }
    return Variant::Json({{"fields", FieldsJson()}, {"changes", std::move(changes)}});
}

void TClientDataSet::MergeChangeLog() {
    // A changed field's new value replaces what its source held.
    for (size_t r = 0; r < stored_.size() && r < base_.size() && r < rows_.size(); ++r)
        std::erase_if(stored_[r], [&](const auto& kept) {
            return !Same(base_[r][kept.first], rows_[r][kept.first]);
        });
    base_ = rows_;
    changeCount_ = 0;
}

void TClientDataSet::CancelUpdates() {
    DiscardEdit();
    rows_ = base_;
    changeCount_ = 0;
    if (Active()) DataEvent(deDataSetChange, nullptr);
}

Variant TClientDataSet::FieldOldValue(const TField* f) const {
    int r = CurrentIndex(), i = f->Index();
    if (!Active() || r < 0 || i < 0 || static_cast<size_t>(r) >= base_.size())
        return Variant::Null();
    return base_[static_cast<size_t>(r)].at(static_cast<size_t>(i));
}

void TClientDataSet::InternalClose() {
    base_.clear();
    rows_.clear();
    stored_.clear();
    changeCount_ = 0;
}

bool TClientDataSet::RowExists(int index) {
    return index >= 0 && static_cast<size_t>(index) < rows_.size();
}

const std::vector<Variant>& TClientDataSet::RowValues(int index) {
    return rows_.at(static_cast<size_t>(index));
}

void TClientDataSet::InternalPost(int index, const std::vector<Variant>& values) {
    rows_.at(static_cast<size_t>(index)) = values;
    ++changeCount_;
}

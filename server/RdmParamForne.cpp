#include "RdmParamForne.h"

#include "Database.h"
#include "IdempotencyStore.h"
#include "ParamStore.h"
#include "RpcError.h"
#include "host/rtl/Utf8.h"

#include <charconv>
#include <cmath>

using nlohmann::json;

namespace {

[[noreturn]] void Refuse(const std::string& message) {
    throw RpcError(kRpcRefused, message);
}
[[noreturn]] void BadParams(const std::string& message) {
    throw RpcError(kRpcInvalidParams, message);
}

std::string Quoted(const json& v) {
    if (!v.is_string()) return v.dump();
    std::string out = "\"";
    out += v.get_ref<const std::string&>();
    out += '"';
    return out;
}

std::string DdMmYyyy(const std::string& iso) {
    return iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4);
}

// New texts and supplier codes may hold no control character at all. An original value echoes
// what the database holds, where another program may have left a tab: only a NUL, which
// PostgreSQL would cut the comparison at, is refused there.
void RefuseControlCharacter(const std::string& where, const json& v, bool onlyNul = false) {
    if (!v.is_string()) return;
    const std::string& text = v.get_ref<const std::string&>();
    size_t at = 0;
    if (!onlyNul)
        at = ControlCharacterPosition(text);
    else if (const size_t nul = text.find('\0'); nul != std::string::npos)
        at = Utf8Length(std::string_view(text).substr(0, nul)) + 1;
    if (at)
        Refuse(where + ": o texto contém um caractere de controle na posição " +
               std::to_string(at) + ", o que não é aceito.");
}

// The type check shared by the original and the new values. An original date is any text, and
// an original number may be a text that reads as no number: what another program stored in a
// form of its own is sent as it stands and must come back. A number written as a text is not
// such a value (SQLite stores it as a number): the client sent the wrong type.
void CheckType(int field, const json& v, const char* which, bool original = false) {
    if (v.is_null()) return;
    const ParamField& f = ParamFields()[field];
    const std::string where = std::string(which) + f.name;
    if (original && f.kind == FieldKind::Date) {
        if (!v.is_string())
            Refuse(where + ": esperado um texto de data, recebido " + v.dump() + ".");
        return;
    }
    if (original && f.kind == FieldKind::Number && v.is_string()) {
        const std::string& s = v.get_ref<const std::string&>();
        double d = 0;
        const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), d);
        if (s.empty() || error != std::errc() || end != s.data() + s.size()) return;
    }
    switch (f.kind) {
    case FieldKind::Text:
        if (!v.is_string()) Refuse(where + ": esperado um texto, recebido " + v.dump() + ".");
        break;
    case FieldKind::Number:
        if (!v.is_number()) Refuse(where + ": esperado um número, recebido " + v.dump() + ".");
        if (!std::isfinite(v.get<double>())) Refuse(where + ": o número deve ser finito.");
        break;
    case FieldKind::Date:
        if (!v.is_string() || !ParseIsoDateTime(v.get<std::string>()))
            Refuse(where + ": esperada uma data no formato AAAA-MM-DD, recebido " + v.dump() + ".");
        break;
    }
}

// The rules of one new value, apart from those that need the database.
void CheckNewValue(int field, const json& v) {
    const ParamField& f = ParamFields()[field];
    const std::string name = std::string("Campo ") + f.name;
    CheckType(field, v, "Campo ");
    RefuseControlCharacter(name, v);
    if (f.flag && !(v.is_string() && (v == "S" || v == "N")))
        Refuse(name + ": valor " + Quoted(v) + " inválido; use \"S\" ou \"N\".");
    if (f.kind == FieldKind::Text && v.is_string()) {
        const size_t n = Utf8Length(v.get_ref<const std::string&>());
        if (n > static_cast<size_t>(f.size))
            Refuse(name + ": o texto tem " + std::to_string(n) + " caracteres e o máximo é " +
                   std::to_string(f.size) + ".");
    }
    if (v.is_null()) return;
    // Whole numbers of at most 4 digits, what their boxes hold.
    if (field == kNrDiasBloq) {
        const double d = v.get<double>();
        if (d < 0 || d > 9999 || d != std::trunc(d))
            Refuse(name + ": o número de dias deve ser um número inteiro de 0 a 9999.");
    }
    if (field == kQtRepete) {
        const double q = v.get<double>();
        if (q < 1 || q > 9999 || q != std::trunc(q))
            Refuse(name + ": a quantidade deve ser um número inteiro de 1 a 9999.");
    }
    if (field == kVrMaxPerm) {
        const double x = v.get<double>();
        if (x < 0) Refuse(name + ": o valor não pode ser negativo.");
        // At most two decimals, allowing for the binary representation of the decimal value.
        const double cents = x * 100;
        const double rounded = std::round(cents);
        const double slack = 8 * (std::nextafter(cents, INFINITY) - cents) + 1e-7;
        if (std::fabs(cents - rounded) > slack)
            Refuse(name + ": o valor admite no máximo 2 casas decimais.");
        if (rounded > 99999999999.0)
            Refuse(name + ": o valor admite no máximo 9 dígitos inteiros.");
    }
    if (field == kDtReacons) {
        auto d = ParseIsoDateTime(v.get<std::string>());
        if (d->hour || d->minute || d->second)
            Refuse(name + ": a data não pode conter hora (" + v.get<std::string>() + ").");
    }
}

struct Change {
    ParamRow old;
    json changed = json::object(); // field name -> new value
};

// The one update of the delta, its original row taken in record order.
std::optional<Change> ReadDelta(const json& delta) {
    if (!delta.is_object()) BadParams("O primeiro parâmetro deve ser o pacote de alterações.");
    const auto fields = delta.find("fields");
    const auto changes = delta.find("changes");
    if (fields == delta.end() || !fields->is_array())
        BadParams("O pacote de alterações não traz a lista \"fields\".");
    if (changes == delta.end() || !changes->is_array())
        BadParams("O pacote de alterações não traz a lista \"changes\".");
    if (changes->empty()) return std::nullopt;
    if (changes->size() > 1)
        BadParams("O pacote de alterações deve conter uma única alteração, do fornecedor "
                  "carregado.");

    // Where each field of the record sits in the original row.
    std::array<int, kParamFieldCount> position;
    position.fill(-1);
    for (size_t i = 0; i < fields->size(); ++i) {
        const json& f = (*fields)[i];
        if (!f.is_object() || !f.contains("name") || !f["name"].is_string())
            BadParams("Descrição de campo inválida no pacote de alterações.");
        const std::string name = f["name"];
        const int id = ParamFieldIndex(name);
        if (id < 0) Refuse("Campo " + name + " não pertence ao registro de parâmetros.");
        if (position[id] >= 0) BadParams("Campo " + name + " repetido no pacote de alterações.");
        position[id] = static_cast<int>(i);
    }
    for (int id = 0; id < kParamFieldCount; ++id)
        if (position[id] < 0)
            Refuse(std::string("O pacote de alterações não descreve o campo ") +
                   ParamFields()[id].name + ".");

    const json& c = (*changes)[0];
    if (!c.is_object() || !c.contains("op") || !c["op"].is_string())
        BadParams("Alteração sem a operação \"op\".");
    const std::string op = c["op"];
    if (op == "insert")
        Refuse("Inclusão não permitida: os parâmetros do fornecedor são gravados pela alteração "
               "do registro carregado.");
    if (op == "delete") Refuse("Exclusão de parâmetros do fornecedor não permitida.");
    if (op != "update") BadParams("Operação desconhecida no pacote de alterações: " + op + ".");

    const json old = c.value("old", json());
    if (!old.is_array() || old.size() != fields->size())
        Refuse("O registro original deve trazer os " + std::to_string(kParamFieldCount) +
               " valores do registro.");
    Change out;
    for (int id = 0; id < kParamFieldCount; ++id) {
        out.old[id] = old[position[id]];
        CheckType(id, out.old[id], "Valor original do campo ", true);
        RefuseControlCharacter(std::string("Valor original do campo ") + ParamFields()[id].name,
                               out.old[id], id != kCdForneced);
    }
    const json changed = c.value("new", json());
    if (!changed.is_object()) BadParams("Alteração sem os valores novos (\"new\").");
    out.changed = changed;
    return out;
}

} // namespace

json RdmParamForne::Call(const std::string& method, const json& params, CallContext& ctx) {
    if (method == "GetParamForn") return GetParamForn(params, ctx);
    if (method == "SetParamForn") return SetParamForn(params, ctx);
    if (method == "GetLogParamForn") return GetLogParamForn(params, ctx);
    throw RpcError(kRpcMethodNotFound,
                   "Método " + method + " não existe no módulo " + Name() + ".");
}

json RdmParamForne::GetParamForn(const json& params, CallContext& ctx) {
    if (params.size() != 1 || !params[0].is_string())
        BadParams("GetParamForn espera um parâmetro: o código do fornecedor (texto).");
    const std::string code = params[0];
    RefuseControlCharacter("Código do fornecedor", params[0]);
    ctx.subject = code;
    return ctx.db.Run([&](DbCall& db) -> json {
        auto found = LoadParams(db, code);
        if (!found) return json::array({"N", "Fornecedor não cadastrado."});
        json row = json::array(), stored = json::object();
        for (int i = 0; i < kParamFieldCount; ++i) {
            json& v = found->row[i];
            // Shown empty by the client and kept as stored; the call's log line names it.
            if (Unreadable(i, v)) {
                ctx.note +=
                    std::string(ctx.note.empty() ? "valor ilegível mantido como gravado:" : ",") +
                    " " + ParamFields()[i].name + "=" + Quoted(v);
                stored[ParamFields()[i].name] = std::move(v);
                v = nullptr;
            }
            row.push_back(std::move(v));
        }
        json packet = {{"fields", PacketFields()}, {"rows", json::array({row})}};
        if (!stored.empty()) packet["stored"] = json::array({std::move(stored)});
        return json::array({"S", packet, DdMmYyyy(ctx.today)});
    });
}

json RdmParamForne::SetParamForn(const json& params, CallContext& ctx) {
    if (params.size() != 2 || !params[1].is_boolean())
        BadParams("SetParamForn espera dois parâmetros: o pacote de alterações e o indicador de "
                  "dias em branco (verdadeiro ou falso).");
    const bool daysEmpty = params[1];
    const std::optional<Change> change = ReadDelta(params[0]);
    if (!change) return json::array({"S"});
    const ParamRow& old = change->old;
    if (!old[kCdForneced].is_string() || old[kCdForneced].get<std::string>().empty())
        Refuse("O registro original não traz o código do fornecedor (CDFORNECED).");
    const std::string code = old[kCdForneced];
    ctx.subject = code;

    // Every changed value is checked before anything is written. A value equal to the original
    // ('' and null alike) is no change: it is neither checked nor written, so a blank another
    // program stored never blocks the save of the fields the user did change.
    ParamRow wanted = old;
    for (int id = 0; id < kParamFieldCount; ++id) {
        const auto it = change->changed.find(ParamFields()[id].name);
        if (it == change->changed.end()) continue;
        if (Normalized(id, *it) == Normalized(id, old[id])) continue;
        CheckNewValue(id, *it);
        wanted[id] = *it;
    }
    for (const auto& [name, value] : change->changed.items())
        if (ParamFieldIndex(name) < 0)
            Refuse("Campo " + name + " não pertence ao registro de parâmetros.");
    for (int id : {kCdForneced, kIdForneHomo})
        if (Normalized(id, wanted[id]) != Normalized(id, old[id]))
            Refuse(std::string("Campo ") + ParamFields()[id].name + " não pode ser alterado.");
    // The days box shows an unreadable stored value empty: empty there is not the user's wish.
    if (daysEmpty && !Unreadable(kNrDiasBloq, old[kNrDiasBloq])) wanted[kNrDiasBloq] = nullptr;
    // A date that cannot be read is no start date: the user may give one in its place.
    const auto hasDate = [](const ParamRow& r) {
        return !Normalized(kDtReacons, r[kDtReacons]).is_null() &&
               !Unreadable(kDtReacons, r[kDtReacons]);
    };
    const json oldDate = Normalized(kDtReacons, old[kDtReacons]);
    if (hasDate(old) && Normalized(kDtReacons, wanted[kDtReacons]) != oldDate)
        Refuse("Campo DTREACONSIMPXML: a data de reconsistência já gravada (" +
               oldDate.get<std::string>() + ") não pode ser alterada.");

    // The consistency option needs its start date, unless the row already stood so.
    const auto tickedWithoutDate = [&](const ParamRow& r) {
        return Normalized(kIdReacons, r[kIdReacons]) == "S" && !hasDate(r);
    };
    if (tickedWithoutDate(wanted) && !tickedWithoutDate(old))
        Refuse("Campo DTREACONSIMPXML: a data inicial para validações das consistências deve ser "
               "informada quando IDREACONSIMPXML é \"S\".");

    std::vector<ColumnChange> changes;
    for (int id = 0; id < kParamFieldCount; ++id) {
        if (!ParamFields()[id].column) continue;
        json before = Normalized(id, old[id]), after = Normalized(id, wanted[id]);
        if (before != after) changes.push_back({id, std::move(before), std::move(after), old[id]});
    }
    if (changes.empty()) return json::array({"S"});

    if (ctx.idempotencyKey) PurgeExpiredIdempotencyKeys(ctx.db);
    const std::string digest =
        ctx.idempotencyKey ? IdempotencyDigest("SetParamForn", params, ctx.operatorName) : "";
    // A COMMIT that broke may have been carried out: the key, stored with the save, tells.
    SettleCommit settle;
    if (ctx.idempotencyKey)
        settle = [&](DbCall& db, const std::string& failure) -> std::optional<json> {
            std::optional<json> answer = CommittedAnswer(db, *ctx.idempotencyKey, digest);
            if (answer) {
                ctx.applied = true;
                ctx.confirmedAfter = failure;
            }
            return answer;
        };
    return ctx.db.Run(
        [&](DbCall& db) -> json {
            db.Begin();
            if (ctx.idempotencyKey) {
                if (auto stored = ClaimIdempotencyKey(db, *ctx.idempotencyKey, digest)) {
                    if (stored->digest != digest)
                        throw RpcError(
                            kRpcInvalidRequest,
                            "Chave de idempotência já usada por outra gravação: gere uma "
                            "chave nova para cada gravação.");
                    ctx.replayed = true;
                    return stored->answer; // applied once already: nothing more is written
                }
            }
            if (!SupplierExists(db, code)) Refuse("Fornecedor " + code + " não cadastrado.");
            const json group = Normalized(kCdGrPerm, wanted[kCdGrPerm]);
            if (!group.is_null() && !GroupExists(db, group.get<std::string>()))
                Refuse("Campo CDGRPERMLANMAX: grupo de operadores " + Quoted(group) +
                       " não cadastrado.");
            if (ParamRowExists(db, code)) {
                if (UpdateParams(db, code, changes) != 1)
                    throw RpcError(kRpcConflict, kConflictMessage);
            } else {
                // Only the default row may become the first stored row: anything else was read
                // from a row that has since been deleted.
                const ParamRow defaults = DefaultParamRow(code, old[kIdForneHomo]);
                for (int id = 0; id < kParamFieldCount; ++id)
                    if (ParamFields()[id].column &&
                        Normalized(id, old[id]) != Normalized(id, defaults[id]))
                        throw RpcError(kRpcConflict, kConflictMessage);
                if (InsertParams(db, code, wanted) != 1)
                    throw RpcError(kRpcConflict, kConflictMessage);
            }
            WriteParamLog(db, code, ctx.now, ctx.operatorName, changes);
            const json answer = json::array({"S"});
            if (ctx.idempotencyKey) StoreIdempotentAnswer(db, *ctx.idempotencyKey, answer);
            db.Commit();
            ctx.applied = true;
            return answer;
        },
        settle);
}

// GetLogParamForn(code, offset, count) -> ["S", {"rows": [[when, operator, field, old, new], ...],
// "more": bool}]: a page of the supplier's changes, newest first.
json RdmParamForne::GetLogParamForn(const json& params, CallContext& ctx) {
    constexpr long long kPageMax = 500;
    const auto whole = [](const json& v, long long min, long long max) {
        return v.is_number_integer() && v.get<long long>() >= min && v.get<long long>() <= max;
    };
    if (params.size() != 3 || !params[0].is_string() || !whole(params[1], 0, 1LL << 40) ||
        !whole(params[2], 1, kPageMax))
        BadParams("GetLogParamForn espera três parâmetros: o código do fornecedor (texto), a "
                  "posição da primeira alteração (a partir de 0) e quantas alterações (de 1 a " +
                  std::to_string(kPageMax) + ").");
    const std::string code = params[0];
    RefuseControlCharacter("Código do fornecedor", params[0]);
    ctx.subject = code;
    const long long offset = params[1], count = params[2];
    return ctx.db.Run([&](DbCall& db) -> json {
        if (!SupplierExists(db, code)) return json::array({"N", "Fornecedor não cadastrado."});
        // One row more than asked tells whether another page follows.
        std::vector<LogEntry> entries = LoadParamLog(db, code, offset, count + 1);
        const bool more = static_cast<long long>(entries.size()) > count;
        if (more) entries.pop_back();
        json rows = json::array();
        for (LogEntry& e : entries)
            rows.push_back({e.when, e.operatorName, e.field, e.before, e.after});
        return json::array({"S", {{"rows", rows}, {"more", more}}});
    });
}

#include "RdmParamForne.h"

#include "Database.h"
#include "IdempotencyStore.h"
#include "JsonRpc.h"
#include "ParamBulk.h"
#include "ParamSave.h"
#include "ParamStore.h"
#include "RpcError.h"
#include "host/rtl/Utf8.h"

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

// The one update a delta carries: the row the client read, taken in record order, and the new
// values by field name.
struct Delta {
    ParamRow old;
    json changed = json::object();
};

std::optional<Delta> ReadDelta(const json& delta) {
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
    const json changed = c.value("new", json());
    if (!changed.is_object()) BadParams("Alteração sem os valores novos (\"new\").");
    Delta out;
    for (int id = 0; id < kParamFieldCount; ++id)
        out.old[id] = old[position[id]];
    out.changed = changed;
    return out;
}

} // namespace

json RdmParamForne::Call(const std::string& method, const json& params, CallContext& ctx) {
    if (method == "GetParamForn") return GetParamForn(params, ctx);
    if (method == "SetParamForn") return SetParamForn(params, ctx);
    if (method == "GetLogParamForn") return GetLogParamForn(params, ctx);
    if (method == "ExportParamForn") return ExportParamForn(params, ctx);
    if (method == "ImportParamForn") return ImportParamForn(params, ctx);
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
        // Every load answers with the same field list: written out once, and the answer is
        // written as text around it rather than built as a tree and written out again.
        static const std::string fields = DumpJson(PacketFields());
        std::string row;
        json stored = json::object();
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
            row += i ? "," : "[";
            row += DumpJson(v);
        }
        row += "]";
        std::string& out = ctx.resultText;
        out.reserve(fields.size() + row.size() + 64);
        out = "[\"S\",{\"fields\":";
        out += fields;
        out += ",\"rows\":[";
        out += row;
        out += "]";
        if (!stored.empty()) {
            out += ",\"stored\":[";
            out += DumpJson(stored);
            out += "]";
        }
        out += "},";
        out += DumpJson(DdMmYyyy(ctx.today));
        out += "]";
        return json::array({"S"});
    });
}

// SetParamForn(delta, daysEmpty): the change the delta carries, validated by the record's rules
// and then stored once.
json RdmParamForne::SetParamForn(const json& params, CallContext& ctx) {
    if (params.size() != 2 || !params[1].is_boolean())
        BadParams("SetParamForn espera dois parâmetros: o pacote de alterações e o indicador de "
                  "dias em branco (verdadeiro ou falso).");
    const std::optional<Delta> delta = ReadDelta(params[0]);
    if (!delta) return json::array({"S"});
    // The log line names the supplier also when a new value is refused.
    ctx.subject = StoredSupplier(delta->old);
    const ValidChange change = ValidateChange(delta->old, delta->changed, params[1].get<bool>());
    if (change.columns.empty()) return json::array({"S"});
    std::optional<IdempotencyClaim> claim;
    if (ctx.idempotencyKey)
        claim = IdempotencyClaim{*ctx.idempotencyKey,
                                 IdempotencyDigest("SetParamForn", params, ctx.operatorName)};
    return SaveParamChange(ctx, change, claim);
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

// ExportParamForn(filter, after, count) -> ["S", {"header": [...], "rows": [[cell, ...]],
// "next": code or null}]: a page of the suppliers after `after`, as CSV cells.
json RdmParamForne::ExportParamForn(const json& params, CallContext& ctx) {
    if (params.size() != 3 || !(params[0].is_object() || params[0].is_null()) ||
        !params[1].is_string() || !params[2].is_number_integer() ||
        params[2].get<long long>() < 1 || params[2].get<long long>() > kBulkPageMax)
        BadParams("ExportParamForn espera três parâmetros: o filtro (objeto ou null), o último "
                  "código da página anterior (texto, \"\" na primeira) e quantos fornecedores ler "
                  "(de 1 a " +
                  std::to_string(kBulkPageMax) + ").");
    RefuseControlCharacter("Código do fornecedor", params[1]);
    const ExportFilter filter = ReadExportFilter(params[0]);
    const std::string after = params[1];
    const int count = params[2].get<int>();
    ctx.subject = after.empty() ? "-" : after;
    return ctx.db.Run([&](DbCall& db) -> json {
        ExportPage page = ExportParams(db, filter, after, count);
        json header = json::array();
        for (const BulkColumn& c : BulkColumns())
            header.push_back(c.caption);
        return json::array({"S",
                            {{"header", std::move(header)},
                             {"rows", std::move(page.rows)},
                             {"next", page.next ? json(*page.next) : json()}}});
    });
}

// ImportParamForn(header, rows, apply) -> ["S", {"rows": [{"line", "code", "outcome",
// "changes", "errors"}]}]: each row checked by the rules of a save and, when `apply`, stored in a
// transaction of its own, at most once per row and operator.
json RdmParamForne::ImportParamForn(const json& params, CallContext& ctx) {
    if (params.size() != 3 || !params[1].is_array() || !params[2].is_boolean() ||
        params[1].size() > static_cast<size_t>(kBulkPageMax))
        BadParams("ImportParamForn espera três parâmetros: o cabeçalho do arquivo (lista de "
                  "textos), as linhas (lista de até " +
                  std::to_string(kBulkPageMax) +
                  " objetos {\"line\", \"cells\"}) e se aplica as alterações (verdadeiro) ou só as "
                  "confere (falso).");
    const std::vector<BulkColumn> header = ReadImportHeader(params[0]);
    const bool apply = params[2];
    std::vector<ImportRow> rows;
    for (const json& r : params[1]) {
        if (!r.is_object() || !r.contains("line") || !r["line"].is_number_integer() ||
            !r.contains("cells") || !r["cells"].is_array())
            BadParams("Cada linha deve ser um objeto {\"line\": número, \"cells\": [textos]}.");
        ImportRow row;
        row.line = r["line"];
        for (const json& c : r["cells"]) {
            if (!c.is_string()) BadParams("As células de uma linha devem ser textos.");
            if (!ValidUtf8(c.get_ref<const std::string&>()))
                BadParams("Linha " + std::to_string(row.line) + ": texto que não é UTF-8.");
            row.cells.push_back(c);
        }
        rows.push_back(std::move(row));
    }
    json results = json::array();
    int applied = 0;
    const auto add = [&](ImportResult r) {
        if (r.outcome == "applied") ++applied;
        results.push_back({{"line", r.line},
                           {"code", r.code},
                           {"outcome", r.outcome},
                           {"changes", std::move(r.changes)},
                           {"errors", std::move(r.errors)}});
    };
    if (apply) {
        for (const ImportRow& row : rows)
            add(ImportParamRow(ctx, header, row, true));
    } else {
        // The dry run reads the whole batch on one session.
        ctx.db.Run([&](DbCall& db) -> json {
            results = json::array(); // a run again on a fresh session starts over
            for (const ImportRow& row : rows)
                add(ImportParamRow(ctx, header, row, false, &db));
            return nullptr;
        });
    }
    ctx.applied = applied > 0;
    if (!rows.empty())
        ctx.subject = results.front()["code"].get<std::string>() + ".." +
                      results.back()["code"].get<std::string>();
    ctx.note = std::string(apply ? "importação" : "conferência") + ": " +
               std::to_string(rows.size()) + " linhas, " + std::to_string(applied) + " aplicadas";
    return json::array({"S", {{"rows", std::move(results)}}});
}

#include "ParamsTransfer.h"

#include "net/NetConnection.h"
#include "rtl/Variant.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

using nlohmann::json;

namespace ParamsTransfer {

namespace {

// The server reads at most this many rows a call; a batch is also sent once its cells pass
// kBatchBytes, well under the request limit of 1 MiB.
constexpr size_t kBatchRows = 500;
constexpr size_t kBatchBytes = size_t{512} * 1024;

json Result(TNetConnection& conn, const char* method, const json& params) {
    std::vector<Variant> args;
    for (const json& p : params)
        args.push_back(p.is_structured() ? Variant::Json(p) : Variant::FromJson(p));
    const Variant answer = conn.Call(method, args);
    const json result = answer.ToJson();
    if (!result.is_array() || result.empty() || result[0] != "S" || result.size() < 2)
        throw Exception(result.is_array() && result.size() >= 2 && result[1].is_string()
                            ? result[1].get<std::string>()
                            : "Resposta inválida do servidor de aplicação.");
    return result[1];
}

// Opens the connection when it is not: raises Exception when the server cannot be reached.
void Open(TNetConnection& conn) {
    if (!conn.Connected()) conn.SetConnected(true);
}

bool ValidUtf8(const std::string& s) {
    return ParamsCsv::LooksUtf8(s) &&
           (s.empty() || ParamsCsv::LooksUtf8(s + "\x01")); // no sequence cut at the end
}

} // namespace

long long Export(TNetConnection& conn, const ExportFilter& filter, std::FILE* out,
                 const ProgressFn& progress) {
    json f = json::object();
    if (!filter.codes.empty()) f["codes"] = filter.codes;
    if (!filter.inscriptions.empty()) f["inscriptions"] = filter.inscriptions;
    for (const auto& [column, cell] : filter.cells)
        f["cells"][column] = cell;
    Open(conn);
    ParamsCsv::Writer writer(out);
    std::string after;
    Progress p;
    bool header = true;
    for (;;) {
        const json page = Result(conn, "ExportParamForn", {f, after, 500});
        if (header) {
            writer.Row(page["header"].get<std::vector<std::string>>());
            header = false;
        }
        for (const json& row : page["rows"]) {
            writer.Row(row.get<std::vector<std::string>>());
            ++p.rows;
        }
        if (writer.Failed()) throw Exception("Falha ao gravar o arquivo exportado.");
        if (progress && !progress(p)) throw EAbort("Exportação cancelada.");
        if (page["next"].is_null()) return p.rows;
        after = page["next"];
    }
}

Summary Import(TNetConnection& conn, const std::string& path, const ImportOptions& options,
               const std::function<void(const RowResult&)>& onRow, const ProgressFn& progress) {
    Open(conn);
    ParamsCsv::Reader reader(path, options.read);
    Summary summary;
    json header;
    json batch = json::array();
    size_t batchBytes = 0;
    Progress p;
    p.totalBytes = reader.Size();

    const auto count = [&](const RowResult& r) {
        ++summary.rows;
        if (r.outcome == "change" || r.outcome == "applied") ++summary.changed;
        if (r.outcome == "unchanged") ++summary.unchanged;
        if (r.outcome == "refused") ++summary.refused;
        if (r.outcome == "conflict") ++summary.conflicts;
        if (r.outcome == "repeated") ++summary.repeated;
        if (onRow) onRow(r);
    };
    const auto send = [&] {
        if (batch.empty()) return;
        const json answer = Result(conn, "ImportParamForn", {header, batch, options.apply});
        for (const json& r : answer["rows"]) {
            RowResult row;
            row.line = r["line"];
            row.code = r["code"];
            row.outcome = r["outcome"];
            for (const json& c : r["changes"])
                row.changes.push_back({c[0], c[1], c[2]});
            for (const json& e : r["errors"])
                row.errors.emplace_back(e[0].is_string() ? e[0].get<std::string>() : "", e[1]);
            count(row);
        }
        p.rows = summary.rows;
        batch = json::array();
        batchBytes = 0;
    };

    try {
        reader.Read(
            [&](long long number, std::vector<std::string>& cells) {
                if (header.is_null()) {
                    for (const std::string& c : cells)
                        if (!ValidUtf8(c))
                            throw EFileRefused("Cabeçalho do arquivo com texto que não é UTF-8: "
                                               "escolha a codificação Windows-1252.");
                    header = cells;
                    // The header alone first: a file the server cannot read stops here.
                    try {
                        Result(conn, "ImportParamForn", {header, json::array(), false});
                    } catch (const EAbort&) {
                        throw;
                    } catch (const ENetOutcomeUnknown&) {
                        throw;
                    } catch (const Exception& e) {
                        if (!conn.Connected()) throw;
                        throw EFileRefused(e.Message());
                    }
                    return true;
                }
                // A spreadsheet leaves rows of bare separators after the last one: not rows.
                if (std::all_of(cells.begin(), cells.end(),
                                [](const std::string& c) { return c.empty(); }))
                    return true;
                for (const std::string& c : cells)
                    if (!ValidUtf8(c)) {
                        RowResult r;
                        r.line = number;
                        r.outcome = "refused";
                        r.errors.emplace_back("", "texto que não é UTF-8: escolha a codificação "
                                                  "Windows-1252.");
                        count(r);
                        return true;
                    }
                for (const std::string& c : cells)
                    batchBytes += c.size() + 4;
                batch.push_back({{"line", number}, {"cells", std::move(cells)}});
                if (batch.size() >= kBatchRows || batchBytes >= kBatchBytes) {
                    send();
                    if (progress && !progress(p)) {
                        summary.cancelled = true;
                        return false;
                    }
                }
                return true;
            },
            [&](long long bytes) { p.bytes = bytes; });
        if (!summary.cancelled) send();
    } catch (const std::runtime_error& e) {
        // The rows sent before stay as the server answered them: the clerk must know.
        std::string message = e.what();
        if (summary.rows > 0)
            message += std::string(" Antes dela, ") + (options.apply ? "aplicadas" : "conferidas") +
                       ": " + Describe(summary, options.apply);
        throw EFileRefused(message);
    }
    if (header.is_null()) throw EFileRefused("O arquivo está vazio: falta o cabeçalho.");
    if (progress && !summary.cancelled) progress(p);
    return summary;
}

std::string Describe(const RowResult& r) {
    std::string out = "Linha " + std::to_string(r.line);
    if (!r.code.empty()) out += " (fornecedor " + r.code + ")";
    if (r.outcome == "unchanged") return out + ": sem alteração.";
    if (r.outcome == "repeated") return out + ": já aplicada antes; nada a fazer.";
    if (r.outcome == "change" || r.outcome == "applied") {
        out += r.outcome == "change" ? ": alteraria" : ": alterado";
        for (size_t i = 0; i < r.changes.size(); ++i)
            out += std::string(i ? ";" : "") + " \"" + r.changes[i][0] + "\" de \"" +
                   r.changes[i][1] + "\" para \"" + r.changes[i][2] + "\"";
        return out + ".";
    }
    out += r.outcome == "conflict" ? ": conflito" : ": recusada";
    for (size_t i = 0; i < r.errors.size(); ++i) {
        out += i ? "; " : ": ";
        if (!r.errors[i].first.empty()) out += "coluna \"" + r.errors[i].first + "\": ";
        out += r.errors[i].second;
    }
    return out;
}

std::string Describe(const Summary& s, bool apply) {
    std::string out = std::to_string(s.rows) + (s.rows == 1 ? " linha: " : " linhas: ") +
                      std::to_string(s.changed) + (apply ? " alteradas" : " a alterar") + ", " +
                      std::to_string(s.unchanged) + " sem alteração, " +
                      std::to_string(s.repeated) + " já aplicadas, " + std::to_string(s.refused) +
                      " recusadas, " + std::to_string(s.conflicts) + " em conflito.";
    if (s.cancelled) out += " Interrompida a pedido: as linhas seguintes não foram lidas.";
    return out;
}

} // namespace ParamsTransfer

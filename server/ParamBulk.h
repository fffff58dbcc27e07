// Supplier parameters in bulk: one CSV row per supplier as a spreadsheet shows it (the screen's
// captions as headers, flags S/N, decimal comma, dates dd/mm/aaaa) and back, and the export and
// import of such rows in batches. An imported row goes through the record's rules
// (ValidateChange) and is stored as a save of the screen (ParamSave), once per idempotency key.
#pragma once

#include "ParamRecord.h"
#include "RemoteModule.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class DbCall;

// The most rows (suppliers read, or rows imported) in one call: an import batch of full rows stays
// well under the request limit of 1 MiB.
inline constexpr int kBulkPageMax = 500;

// A column of the file: the supplier's code, inscription and name first (read only but the code),
// then the record's stored fields in record order, then the row's version.
struct BulkColumn {
    const char* caption;
    int field; // a field of the record, or one of the kBulk* below
};
inline constexpr int kBulkCode = -1, kBulkInscription = -2, kBulkName = -3, kBulkVersion = -4;

const std::vector<BulkColumn>& BulkColumns();
// The column of a header cell (caption as exported, or the field's name), or nullopt.
std::optional<BulkColumn> BulkColumnOf(std::string_view header);

// A stored value as its cell: flags as stored, numbers with a decimal comma and the decimals of
// their limit, dates dd/mm/aaaa, null empty. A value the field cannot carry is written as stored.
std::string CellText(int field, const nlohmann::json& value);

// A cell's value for the record, or the refusal (in Portuguese, without the row and column).
struct CellValue {
    nlohmann::json value;
    std::string error; // "" when read
};
CellValue ParseCell(int field, std::string_view text);

// The inscription as the screen shows it: CPF and CNPJ masks, other kinds bare.
std::string MaskedInscription(const std::string& type, const std::string& bare);

// What the where-changed check of an import compares: 16 hex digits of the SHA-256 of the
// stored fields, as compared (Normalized), so a row another program rewrote in an equal form
// keeps its version.
std::string RowVersion(const ParamRow& row);

// Which suppliers an export takes: every one, or those of the codes, of the inscriptions (bare or
// masked) and whose fields hold the given cells (by caption or field name, as exported).
struct ExportFilter {
    std::vector<std::string> codes;
    std::vector<std::string> inscriptions;
    std::vector<std::pair<int, nlohmann::json>> cells; // field, value (Normalized)
};
// From the method's filter object; RpcError(-32602) naming what is wrong.
ExportFilter ReadExportFilter(const nlohmann::json& filter);

// One page of the export: the rows (cells in BulkColumns() order) of suppliers after `after`, in
// code order, among at most `count` suppliers read; `next` the last code read, or nullopt at the
// end. A filter may leave a page with fewer rows, or none, before the end.
struct ExportPage {
    std::vector<std::vector<std::string>> rows;
    std::optional<std::string> next;
};
ExportPage ExportParams(DbCall& db, const ExportFilter& filter, const std::string& after,
                        int count);

// One row of an imported file: its line number in the file and its cells as the header orders them.
struct ImportRow {
    long long line = 0;
    std::vector<std::string> cells;
};

// The outcome of one row: "unchanged", "change" (dry run), "applied", "repeated" (applied once
// already under its key), "refused" or "conflict"; the changed cells as [caption, before, after]
// and every refusal as [caption or null, message].
struct ImportResult {
    long long line = 0;
    std::string code;
    std::string outcome;
    nlohmann::json changes = nlohmann::json::array();
    nlohmann::json errors = nlohmann::json::array();
};

// The columns of a file's header; RpcError(-32000) for a caption that is no column, one repeated,
// or a file without the code and version columns.
std::vector<BulkColumn> ReadImportHeader(const nlohmann::json& header);

// One row, checked by the rules of a save and, when `apply`, stored in a transaction of its own
// with its audit under the call's operator. Faults of the database are thrown (RpcError -32002
// and the like): the batch can be sent again, its rows' keys stop a second apply. A dry run may
// be given the session of the whole batch, which then reads without a session per row.
ImportResult ImportParamRow(CallContext& ctx, const std::vector<BulkColumn>& header,
                            const ImportRow& row, bool apply, DbCall* session = nullptr);

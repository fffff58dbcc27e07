// The SQL of the supplier-parameters module. Every value is bound as a parameter.
#pragma once

#include "Database.h"
#include "ParamRecord.h"

#include <optional>
#include <string>
#include <vector>

struct StoredParams {
    ParamRow row;        // packet forms: dates "YYYY-MM-DD", numbers, null
    bool stored = false; // the supplier has a PARAMFORNE row
};

// std::nullopt when the supplier is not registered.
std::optional<StoredParams> LoadParams(DbCall& db, const std::string& code);

bool SupplierExists(DbCall& db, const std::string& code);
bool GroupExists(DbCall& db, const std::string& group);
// Whether the supplier is registered and has a stored row, in one read.
enum class StoredRow { NoSupplier, Defaults, Stored };
StoredRow StoredRowOf(DbCall& db, const std::string& code);
bool ProductExists(DbCall& db, const std::string& product);

// A page of suppliers in code order after `after`, each with its row as LoadParams reads it, in
// one statement.
struct SupplierIdentity {
    std::string code, inscription, name, type; // inscription bare, as stored
};
struct SupplierParams {
    SupplierIdentity supplier;
    StoredParams params;
};
std::vector<SupplierParams> LoadParamsPage(DbCall& db, const std::string& after, long long count);

// UPDATE of the changed columns where each still holds its old value; returns the rows hit.
long long UpdateParams(DbCall& db, const std::string& code,
                       const std::vector<ColumnChange>& changes);

// INSERT of a whole row, its values normalized, unless another client inserted first; returns the
// rows inserted.
long long InsertParams(DbCall& db, const std::string& code, const ParamRow& row);

// One PARAMFORNELOG row: when (YYYY-MM-DD HH:MM:SS), operator, column and the two values
// (texts or null).
struct LogEntry {
    std::string when;
    nlohmann::json operatorName;
    std::string field;
    nlohmann::json before, after;
};

// `count` rows of the supplier's changes from `offset`, newest first.
std::vector<LogEntry> LoadParamLog(DbCall& db, const std::string& code, long long offset,
                                   long long count);

void WriteParamLog(DbCall& db, const std::string& code, const std::string& when,
                   const std::optional<std::string>& operatorName,
                   const std::vector<ColumnChange>& changes);

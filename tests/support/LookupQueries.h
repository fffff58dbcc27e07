// The lookups of the screen's form as the database tests and the benchmarks open them: the
// supplier lookup's statement, and a query with text fields of the given names.
#pragma once

#include "db/ADOIBQuery.h"

#include <vector>

// The supplier lookup, line by line as the form holds it (blank lines at the end included).
inline const std::vector<String> kFornecedorSql = {"SELECT",
                                                   "   CDFORNECED,",
                                                   "   NRINSJURFORN,",
                                                   "   NMRAZSOCFORN,",
                                                   "   IDTPIJURFORN",
                                                   "FROM",
                                                   "   FORNECEDOR",
                                                   "WHERE",
                                                   "   (NRINSJURFORN = :P_NRINSJURFORN OR "
                                                   ":P_TNRINSJURFORN = 'T')",
                                                   "ORDER BY",
                                                   "   IDTPIJURFORN,",
                                                   "   NRINSJURFORN",
                                                   "",
                                                   " ",
                                                   " "};

// A query owned by `owner` with a persistent text field for each name, in that order; without
// names every column of the result becomes a field.
inline TADOIBQuery* NewLookupQuery(TComponent* owner, const char* name,
                                   const std::vector<String>& sql,
                                   const std::vector<const char*>& fields = {}) {
    auto* q = new TADOIBQuery(owner);
    q->SetName(name);
    q->SQL().Assign(sql);
    for (const char* f : fields) {
        auto* field = new TADOIBStringField(owner);
        field->SetFieldName(f);
        field->SetDataSet(q->Query());
    }
    return q;
}

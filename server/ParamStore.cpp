#include "ParamStore.h"

#include <soci/soci.h>

#include <charconv>
#include <deque>

namespace {

// Values bound in the order their placeholders appear (:p1, :p2, ...).
class Binds {
public:
    std::string Add(const nlohmann::json& value) {
        Value& v = values_.emplace_back();
        if (value.is_null()) {
            v.ind = soci::i_null;
        } else if (value.is_number()) {
            v.number = true;
            v.d = value.get<double>();
        } else {
            v.s = value.is_string() ? value.get<std::string>() : value.dump();
        }
        return ":p" + std::to_string(values_.size());
    }
    // Runs the statement, prepared once per session for its text and the kinds of its values.
    long long Execute(DbCall& db, const std::string& text) {
        std::string key = "binds:";
        for (const Value& v : values_)
            key += v.number ? 'n' : 's';
        key += text;
        auto& kept = db.Prepared().Get<Kept>(key, [&] {
            auto k = std::make_unique<Kept>();
            k->values = values_;
            k->query = std::make_unique<Query>(db, text);
            for (Value& v : k->values) {
                if (v.number)
                    k->query->Use(v.d, v.ind);
                else
                    k->query->Use(v.s, v.ind);
            }
            return k;
        });
        for (size_t i = 0; i < values_.size(); ++i)
            kept.values[i] = values_[i];
        kept.query->Run();
        return kept.query->AffectedRows();
    }

private:
    struct Value {
        std::string s;
        double d = 0;
        bool number = false;
        soci::indicator ind = soci::i_ok;
    };
    struct Kept : PreparedCache::Entry {
        std::deque<Value> values; // stable addresses: SOCI keeps references
        std::unique_ptr<Query> query;
    };
    std::deque<Value> values_;
};

std::string SourceOf(int field) {
    const ParamField& f = ParamFields()[field];
    if (field == kCdForneced || field == kIdForneHomo) return std::string("F.") + f.name;
    if (field == kDsGrupoPer) return "G.DSGRUPOPER";
    return std::string("P.") + f.name;
}

bool Exists(DbCall& db, const std::string& sqlText, const std::string& key) {
    struct Kept : PreparedCache::Entry {
        int one = 0;
        soci::indicator ind = soci::i_null;
        std::string key;
        std::unique_ptr<Query> query;
    };
    auto& kept = db.Prepared().Get<Kept>(sqlText, [&] {
        auto k = std::make_unique<Kept>();
        k->query = std::make_unique<Query>(db, sqlText);
        k->query->Into(k->one, k->ind).Use(k->key);
        return k;
    });
    kept.key = key;
    const bool found = kept.query->Run();
    kept.query->Drain();
    return found;
}

// A value as the audit log writes it: null stays null, numbers in their shortest exact form.
std::optional<std::string> LogText(const nlohmann::json& value) {
    if (value.is_null()) return std::nullopt;
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number()) {
        const double v = value.get<double>();
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, v);
        return std::string(buf, r.ptr);
    }
    return value.dump();
}

} // namespace

namespace {

// The columns of a supplier's row as LoadParams reads them, and the variables they go to.
struct Cell {
    std::string s;
    double d = 0;
    soci::indicator ind = soci::i_null;
};
struct RowCells {
    std::array<Cell, kParamFieldCount> cells;
    std::array<Cell, kParamFieldCount> texts; // a number column holding a text
    Cell marker;
};

// The column list and the joins below are constant text of this file (only the engine chooses
// between two forms), so the statements that join them carry no outside value.
std::string RowColumns(DbCall& db) {
    std::string text;
    for (int i = 0; i < kParamFieldCount; ++i)
        // PostgreSQL writes a date as the session's DateStyle says: the form is named here.
        text += ParamFields()[i].kind == FieldKind::Date && db.Engine() == kxsql::Engine::PostgreSQL
                    ? "to_char(" + SourceOf(i) + ", 'YYYY-MM-DD'), "
                    : SourceOf(i) + ", ";
    // SQLite keeps a text another program wrote into a REAL column, and reads it as 0: the
    // text comes along, so a blank reads as null and anything else is kept as stored.
    for (int i = 0; i < kParamFieldCount; ++i)
        if (ParamFields()[i].kind == FieldKind::Number)
            text += db.Engine() == kxsql::Engine::SQLite
                        ? "CASE WHEN typeof(" + SourceOf(i) + ") IN ('text', 'blob') THEN CAST(" +
                              SourceOf(i) + " AS TEXT) END, "
                        : std::string("CAST(NULL AS TEXT), ");
    return text + "P.CDFORNECED";
}

const char* const kRowJoins = " FROM FORNECEDOR F "
                              "LEFT JOIN PARAMFORNE P ON P.CDFORNECED = F.CDFORNECED "
                              "LEFT JOIN GRUPOPER G ON G.CDGRUPOPER = P.CDGRPERMLANMAX ";

void IntoRow(Query& query, RowCells& r) {
    for (int i = 0; i < kParamFieldCount; ++i) {
        if (ParamFields()[i].kind == FieldKind::Number)
            query.Into(r.cells[i].d, r.cells[i].ind);
        else
            query.Into(r.cells[i].s, r.cells[i].ind);
    }
    for (int i = 0; i < kParamFieldCount; ++i)
        if (ParamFields()[i].kind == FieldKind::Number) query.Into(r.texts[i].s, r.texts[i].ind);
    query.Into(r.marker.s, r.marker.ind);
}

StoredParams RowOf(const RowCells& r) {
    const auto& cells = r.cells;
    StoredParams out;
    out.stored = r.marker.ind != soci::i_null;
    if (!out.stored) {
        out.row =
            DefaultParamRow(cells[kCdForneced].s, cells[kIdForneHomo].ind == soci::i_null
                                                      ? nlohmann::json()
                                                      : nlohmann::json(cells[kIdForneHomo].s));
        return out;
    }
    for (int i = 0; i < kParamFieldCount; ++i) {
        const Cell& c = cells[i];
        nlohmann::json& v = out.row[i];
        if (c.ind == soci::i_null) {
            v = nullptr;
            continue;
        }
        switch (ParamFields()[i].kind) {
        case FieldKind::Number:
            if (r.texts[i].ind != soci::i_null)
                v = Normalized(i, r.texts[i].s); // null for a blank, else the text
            else
                v = PacketNumber(c.d);
            break;
        case FieldKind::Date:
            v = PacketDate(c.s);
            break;
        case FieldKind::Text:
            v = c.s;
            break;
        }
    }
    if (out.row[kCdProdCons].is_null()) out.row[kCdProdCons] = ""; // the empty list
    return out;
}

} // namespace

std::optional<StoredParams> LoadParams(DbCall& db, const std::string& code) {
    struct Kept : PreparedCache::Entry {
        RowCells row;
        std::string key;
        std::unique_ptr<Query> query;
    };
    auto& kept = db.Prepared().Get<Kept>("LoadParams", [&] {
        auto k = std::make_unique<Kept>();
        k->query = std::make_unique<Query>(db, "SELECT " + RowColumns(db) + kRowJoins +
                                                   "WHERE F.CDFORNECED = :code");
        IntoRow(*k->query, k->row);
        k->query->Use(k->key);
        return k;
    });
    kept.key = code;
    const bool found = kept.query->Run();
    kept.query->Drain();
    if (!found) return std::nullopt;
    return RowOf(kept.row);
}

std::vector<SupplierParams> LoadParamsPage(DbCall& db, const std::string& after, long long count) {
    RowCells row;
    SupplierIdentity who;
    soci::indicator typeInd = soci::i_null;
    std::string key = after;
    Query query(db, "SELECT " + RowColumns(db) +
                        ", F.NRINSJURFORN, F.NMRAZSOCFORN, F.IDTPIJURFORN" + kRowJoins +
                        "WHERE F.CDFORNECED > :a ORDER BY F.CDFORNECED LIMIT :n");
    IntoRow(query, row);
    query.Into(who.inscription).Into(who.name).Into(who.type, typeInd).Use(key).Use(count);
    std::vector<SupplierParams> out;
    for (bool got = query.Run(); got; got = query.Next()) {
        SupplierParams p{who, RowOf(row)};
        p.supplier.code = row.cells[kCdForneced].s;
        if (typeInd == soci::i_null) p.supplier.type.clear();
        out.push_back(std::move(p));
    }
    return out;
}

bool SupplierExists(DbCall& db, const std::string& code) {
    return Exists(db, "SELECT 1 FROM FORNECEDOR WHERE CDFORNECED = :c", code);
}

bool GroupExists(DbCall& db, const std::string& group) {
    return Exists(db, "SELECT 1 FROM GRUPOPER WHERE CDGRUPOPER = :c", group);
}

StoredRow StoredRowOf(DbCall& db, const std::string& code) {
    struct Kept : PreparedCache::Entry {
        std::string supplier, stored, key;
        soci::indicator storedInd = soci::i_null;
        std::unique_ptr<Query> query;
    };
    auto& kept = db.Prepared().Get<Kept>("StoredRowOf", [&] {
        auto k = std::make_unique<Kept>();
        k->query = std::make_unique<Query>(
            db, "SELECT F.CDFORNECED, P.CDFORNECED FROM FORNECEDOR F LEFT JOIN PARAMFORNE P ON "
                "P.CDFORNECED = F.CDFORNECED WHERE F.CDFORNECED = :c");
        k->query->Into(k->supplier).Into(k->stored, k->storedInd).Use(k->key);
        return k;
    });
    kept.key = code;
    const bool found = kept.query->Run();
    kept.query->Drain();
    if (!found) return StoredRow::NoSupplier;
    return kept.storedInd == soci::i_null ? StoredRow::Defaults : StoredRow::Stored;
}

bool ProductExists(DbCall& db, const std::string& product) {
    return Exists(db, "SELECT 1 FROM PRODUTO WHERE CDARVPROD = :c", product);
}

// The statement text is built only from the fixed column names of ParamFields() and from
// placeholders; every value, the key included, is bound.
long long UpdateParams(DbCall& db, const std::string& code,
                       const std::vector<ColumnChange>& changes) {
    Binds binds;
    std::string set, where;
    for (const ColumnChange& c : changes) {
        const std::string name = ParamFields()[c.field].name;
        set += (set.empty() ? "" : ", ") + name + " = " + binds.Add(c.newValue);
    }
    where = " WHERE CDFORNECED = " + binds.Add(code);
    const char* same = db.Engine() == kxsql::Engine::SQLite ? " IS " : " IS NOT DISTINCT FROM ";
    for (const ColumnChange& c : changes) {
        const std::string name = ParamFields()[c.field].name;
        if (EmptyMeansNull(c.field)) // another program may have stored '' for null
            where += " AND COALESCE(" + name + ", '') = " +
                     binds.Add(c.original.is_string() ? c.original : nlohmann::json(""));
        else if (c.oldValue.is_null()) // and blanks in a number or date column too
            where += " AND COALESCE(TRIM(CAST(" + name + " AS TEXT)), '') = ''";
        else if (c.unreadable) // a text the client kept as it was stored
            where += " AND CAST(" + name + " AS TEXT) = " + binds.Add(c.oldValue);
        else
            where += " AND " + name + same + binds.Add(c.oldValue);
    }
    std::string text = "UPDATE PARAMFORNE SET ";
    text += set;
    text += where;
    return binds.Execute(db, text);
}

// As in UpdateParams: fixed column names and placeholders in the text, values bound.
long long InsertParams(DbCall& db, const std::string& code, const ParamRow& row) {
    Binds binds;
    std::string cols = "CDFORNECED", vals = binds.Add(code);
    for (int i = 0; i < kParamFieldCount; ++i) {
        if (!ParamFields()[i].column || i == kCdForneced) continue;
        cols += std::string(", ") + ParamFields()[i].name;
        vals += ", " + binds.Add(row[i]);
    }
    std::string text = "INSERT INTO PARAMFORNE (";
    text += cols + ") VALUES (" + vals + ") ON CONFLICT (CDFORNECED) DO NOTHING";
    return binds.Execute(db, text);
}

void WriteParamLog(DbCall& db, const std::string& code, const std::string& when,
                   const std::optional<std::string>& operatorName,
                   const std::vector<ColumnChange>& changes) {
    for (const ColumnChange& c : changes) {
        auto text = [](const std::optional<std::string>& s) {
            return s ? nlohmann::json(*s) : nlohmann::json();
        };
        Binds binds;
        std::string vals = binds.Add(code);
        vals += ", " + binds.Add(when);
        vals += ", " + binds.Add(text(operatorName));
        vals += ", " + binds.Add(ParamFields()[c.field].name);
        vals += ", " + binds.Add(text(LogText(c.oldValue)));
        vals += ", " + binds.Add(text(LogText(c.newValue)));
        binds.Execute(db, "INSERT INTO PARAMFORNELOG (CDFORNECED, DTALTERACAO, CDOPERADOR, "
                          "NMCAMPO, DSVALORANT, DSVALORNOVO) VALUES (" +
                              vals + ")");
    }
}

std::vector<LogEntry> LoadParamLog(DbCall& db, const std::string& code, long long offset,
                                   long long count) {
    std::string key = code, when, op, field, before, after;
    soci::indicator opInd = soci::i_null, beforeInd = soci::i_null, afterInd = soci::i_null;
    // Newest first: by time, and among rows of the same second (one save, or quick saves) the
    // later written first.
    const std::string stamp = db.Engine() == kxsql::Engine::PostgreSQL
                                  ? "to_char(DTALTERACAO, 'YYYY-MM-DD HH24:MI:SS')"
                                  : "DTALTERACAO";
    Query query(db, "SELECT " + stamp +
                        ", CDOPERADOR, NMCAMPO, DSVALORANT, DSVALORNOVO "
                        "FROM PARAMFORNELOG WHERE CDFORNECED = :c "
                        "ORDER BY DTALTERACAO DESC, IDPARAMFORNELOG DESC "
                        "LIMIT :n OFFSET :o");
    query.Into(when).Into(op, opInd).Into(field).Into(before, beforeInd).Into(after, afterInd);
    query.Use(key).Use(count).Use(offset);
    std::vector<LogEntry> out;
    const auto text = [](const std::string& s, soci::indicator ind) {
        return ind == soci::i_null ? nlohmann::json() : nlohmann::json(s);
    };
    for (bool got = query.Run(); got; got = query.Next())
        out.push_back({when.substr(0, 19), text(op, opInd), field, text(before, beforeInd),
                       text(after, afterInd)});
    return out;
}

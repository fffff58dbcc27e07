#include "db/ADOIBQuery.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <functional>
#include <soci/soci.h>
#include <sstream>

#include "vcl/FormReader.h"

namespace {
bool IdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

template <class T>
void CheckIdent(TFormReader& r, const DfmProperty& p, const String& v,
                std::initializer_list<const char*> allowed, T& out) {
    for (const char* a : allowed)
        if (v == a) {
            out = v;
            return;
        }
    r.Fail(p, "valor desconhecido " + v);
}

// A column's value as the database gave it.
Variant ColumnValue(const soci::row& row, size_t col) {
    if (row.get_indicator(col) == soci::i_null) return Variant::Null();
    switch (row.get_properties(col).get_data_type()) {
    case soci::dt_string:
    case soci::dt_xml:
        return Variant(row.get<std::string>(col));
    case soci::dt_double:
        return Variant(row.get<double>(col));
    case soci::dt_integer:
        return Variant(row.get<int>(col));
    case soci::dt_long_long:
        return Variant(static_cast<long long>(row.get<long long>(col)));
    case soci::dt_unsigned_long_long:
        return Variant(static_cast<unsigned long long>(row.get<unsigned long long>(col)));
    case soci::dt_date: {
        std::tm t = row.get<std::tm>(col);
        return Variant(TDateTime(EncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday) +
                                 EncodeTime(t.tm_hour, t.tm_min, t.tm_sec)));
    }
    case soci::dt_blob:
        break;
    }
    return Variant::Null();
}

// The column's value in the form the field stores.
Variant AsFieldValue(const TField* f, const Variant& v) {
    if (VarIsNull(v)) return v;
    switch (f->DataType()) {
    case ftFloat:
        if (v.IsString()) {
            std::istringstream in(v.AsString());
            double d = 0;
            in >> d;
            return in.fail() ? Variant::Null() : Variant(d);
        }
        return Variant(v.AsDouble());
    case ftDateTime: {
        if (v.VarType() == varDate) return v;
        TDateTime d;
        if (v.IsString() && TryISOToDateTime(v.AsString(), d)) return Variant(d);
        return Variant::Null();
    }
    default:
        return Variant(v.VarType() == varDate ? DateToISO(v.AsDateTime()) : v.AsString());
    }
}
} // namespace

std::vector<String> FindSqlParams(const String& sql) {
    std::vector<String> names;
    size_t i = 0, n = sql.size();
    while (i < n) {
        char c = sql[i];
        if (c == '\'' || c == '"') {
            // Quoted text or identifier; a doubled quote stays inside.
            for (++i; i < n; ++i) {
                if (sql[i] != c) continue;
                if (i + 1 < n && sql[i + 1] == c) {
                    ++i;
                    continue;
                }
                break;
            }
            ++i;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            size_t end = sql.find("*/", i + 2);
            i = end == String::npos ? n : end + 2;
        } else if (c == ':' && i + 1 < n && sql[i + 1] == ':') {
            i += 2; // a type cast
        } else if (c == ':' && i + 1 < n && IdentStart(sql[i + 1]) &&
                   (i == 0 || !IdentChar(sql[i - 1]))) {
            size_t start = ++i;
            while (i < n && IdentChar(sql[i]))
                ++i;
            String name = sql.substr(start, i - start);
            if (std::none_of(names.begin(), names.end(),
                             [&](const String& x) { return SameText(x, name); }))
                names.push_back(name);
        } else {
            ++i;
        }
    }
    return names;
}

// ---------------------------------------------------------------------------------------------

struct TQueryDataSet::Cursor {
    std::vector<std::string> values;
    std::vector<soci::indicator> indicators;
    std::vector<String> names;
    std::unique_ptr<soci::row> row;
    std::unique_ptr<soci::statement> statement;
    std::vector<size_t> columnOf; // per field
    TADOConnection* connection = nullptr;
    // PostgreSQL: the server-side cursor the rows come from, one FETCH of kBatch rows at a time.
    bool server = false;
    TADOConnection::TCursor pg;
    int batchRows = 0; // rows the current FETCH has given

    // Binds the parameters to a statement in the making.
    void Bind(soci::details::prepare_temp_type& prep) {
        for (size_t i = 0; i < values.size(); ++i)
            prep, soci::use(values[i], indicators[i], names[i]);
    }
    void Bind(soci::statement& st) {
        for (size_t i = 0; i < values.size(); ++i)
            st.exchange(soci::use(values[i], indicators[i], names[i]));
    }
};

namespace {
// Runs a statement that is not repeated as such (a DECLARE, a FETCH, a count): on PostgreSQL
// one round trip, where a prepared statement takes one more to prepare and one to deallocate.
// `bind` adds its values and results before it runs; its rows are then fetched from it.
std::unique_ptr<soci::statement> RunOnce(soci::session& s, const std::string& text,
                                         const std::function<void(soci::statement&)>& bind) {
    auto st = std::make_unique<soci::statement>(s);
    bind(*st);
    st->alloc();
    st->prepare(text, soci::details::st_one_time_query);
    st->define_and_bind();
    st->execute(false);
    return st;
}
} // namespace

namespace {
constexpr int kBatch = 200; // rows per FETCH: one screenful of a list and then some
} // namespace

TQueryDataSet::TQueryDataSet(TADOIBQuery* query) : TDataSet(query), query_(query) {}

TQueryDataSet::~TQueryDataSet() {
    BeginDestroy();
    if (cursor_ && cursor_->connection) {
        cursor_->connection->RemoveOpenQuery(this);
        if (cursor_->server && !done_) cursor_->connection->CloseCursor(cursor_->pg);
    }
    cursor_.reset();
}

String TQueryDataSet::DataSetName() const {
    return query_->Name();
}

void TQueryDataSet::InternalOpen() {
    TADOConnection* connection = query_->Connection();
    if (!connection)
        throw EDatabaseError("A consulta " + DataSetName() +
                             " não tem conexão com o banco de dados.");
    soci::session& session = connection->Session();
    // Other queries left partway would keep this statement on their old snapshot.
    connection->ReleaseOpenQueries(this);
    const String text = query_->SQL().Text();
    const String context = "Erro na consulta " + DataSetName() + ": ";

    auto c = std::make_unique<Cursor>();
    std::vector<TParam*> params = query_->ParamCheck ? query_->Params() : std::vector<TParam*>{};
    for (TParam* p : params) {
        c->values.push_back(p->AsString());
        c->indicators.push_back(p->IsNull() ? soci::i_null : soci::i_ok);
        c->names.push_back(p->Name());
    }
    c->connection = connection;
    c->server = !connection->IsSQLite();
    if (c->server) {
        // libpq would hold the whole result of a plain SELECT: the rows come from a cursor.
        Declare(*c, text);
        NextBatch(*c);
    } else {
        try {
            c->row = std::make_unique<soci::row>();
            soci::details::prepare_temp_type prep = (session.prepare << text);
            prep, soci::into(*c->row);
            c->Bind(prep);
            c->statement = std::make_unique<soci::statement>(prep);
            c->statement->execute(false);
        } catch (...) {
            RethrowAsDatabaseError(context);
        }
    }
    // The cursor is closed with the query unless it is kept below.
    struct CloseOnFailure {
        Cursor* c;
        ~CloseOnFailure() {
            if (c && c->server) c->connection->CloseCursor(c->pg);
        }
    } guard{c.get()};
    const soci::row& row = *c->row;

    // Persistent fields find their column; without them every column becomes a field.
    std::vector<String> columns;
    for (size_t i = 0; i < row.size(); ++i)
        columns.push_back(row.get_properties(i).get_name());
    if (Fields().empty()) {
        for (size_t i = 0; i < columns.size(); ++i) {
            TField* f = nullptr;
            switch (row.get_properties(i).get_data_type()) {
            case soci::dt_double:
            case soci::dt_integer:
            case soci::dt_long_long:
            case soci::dt_unsigned_long_long:
                f = new TFloatField(this);
                break;
            case soci::dt_date:
                f = new TDateTimeField(this);
                break;
            default:
                f = new TStringField(this);
                f->SetSize(0);
            }
            f->SetFieldName(columns[i]);
            f->SetDataSet(this);
            dynamicFields_.push_back(f);
        }
    }
    for (TField* f : Fields()) {
        auto it = std::find_if(columns.begin(), columns.end(),
                               [&](const String& col) { return SameText(col, f->FieldName()); });
        if (it == columns.end()) {
            for (TField* d : dynamicFields_)
                delete d;
            dynamicFields_.clear();
            throw EDatabaseError("O campo " + f->FieldName() + " da consulta " + DataSetName() +
                                 " não está no resultado do comando SQL.");
        }
        c->columnOf.push_back(static_cast<size_t>(it - columns.begin()));
    }
    guard.c = nullptr;
    cursor_ = std::move(c);
    rows_.clear();
    fetched_ = 0;
    done_ = false;
    connection->AddOpenQuery(
        this, [this] { Close(); }, [this] { ReleaseStatement(); });
}

void TQueryDataSet::InternalClose() {
    if (cursor_ && cursor_->connection) {
        cursor_->connection->RemoveOpenQuery(this);
        if (cursor_->server && !done_) cursor_->connection->CloseCursor(cursor_->pg);
    }
    cursor_.reset();
    rows_.clear();
    done_ = true;
    for (TField* f : dynamicFields_)
        delete f;
    dynamicFields_.clear();
}

void TQueryDataSet::ReleaseStatement() {
    while (FetchOne()) {
    }
}

void TQueryDataSet::EndOfRows() {
    const bool wasOpen = !done_;
    done_ = true;
    if (!cursor_) return;
    cursor_->statement.reset(); // ends the connection's read on SQLite
    if (cursor_->server && wasOpen) cursor_->connection->CloseCursor(cursor_->pg);
}

void TQueryDataSet::Declare(Cursor& c, const String& text) {
    try {
        c.pg = c.connection->DeclareCursor([&](soci::session& s, const String& name) {
            RunOnce(s, "DECLARE " + name + " NO SCROLL CURSOR FOR " + text,
                    [&](soci::statement& st) { c.Bind(st); });
        });
    } catch (...) {
        RethrowAsDatabaseError("Erro na consulta " + DataSetName() + ": ");
    }
}

void TQueryDataSet::NextBatch(Cursor& c) {
    // Each batch comes from a cursor of its own transaction, declared again after the rows
    // already read. A cursor whose session broke (the database restarted) is declared again once
    // on a fresh one and read on from where it was.
    for (int attempt = 0;; ++attempt) {
        try {
            c.statement.reset();
            if (!c.connection->Alive(c.pg)) {
                // The transaction ended under the cursor (another cursor failed, the server went
                // away and came back): declared again, it goes on after the rows already read.
                Declare(c, query_->SQL().Text());
                if (fetched_ > 0)
                    c.connection->CursorSession()
                        << "MOVE FORWARD " + std::to_string(fetched_) + " FROM " + c.pg.name;
            }
            c.row = std::make_unique<soci::row>();
            c.statement = RunOnce(c.connection->CursorSession(),
                                  "FETCH FORWARD " + std::to_string(kBatch) + " FROM " + c.pg.name,
                                  [&](soci::statement& st) { st.exchange(soci::into(*c.row)); });
            c.batchRows = 0;
            // The batch is in hand: no transaction stays open while the clerk looks at the list
            // (it would hold back vacuum, and a pooler's connection). The next batch declares
            // the cursor again and moves past the rows read.
            c.connection->CloseCursor(c.pg);
            return;
        } catch (...) {
            c.statement.reset();
            c.connection->CursorFailed();
            if (attempt == 0 && c.connection->CursorSessionLost()) continue;
            RethrowAsDatabaseError("Erro na consulta " + DataSetName() + ": ");
        }
    }
}

bool TQueryDataSet::FetchOne() {
    if (done_ || !cursor_ || !cursor_->statement) return false;
    Cursor& c = *cursor_;
    try {
        bool got = c.statement->fetch();
        if (!got && c.server && c.batchRows == kBatch) {
            NextBatch(c);
            got = c.statement->fetch();
        }
        if (!got) {
            EndOfRows();
            return false;
        }
        ++c.batchRows;
    } catch (...) {
        if (c.server) c.connection->CursorFailed();
        EndOfRows();
        RethrowAsDatabaseError("Erro na consulta " + DataSetName() + ": ");
    }
    ++fetched_;
    const auto& fields = Fields();
    std::vector<Variant> values;
    values.reserve(fields.size());
    for (size_t i = 0; i < fields.size(); ++i)
        values.push_back(AsFieldValue(fields[i], ColumnValue(*c.row, c.columnOf[i])));
    rows_.push_back(std::move(values));
    if (query_->ADOMaxRecords > 0 && static_cast<int>(rows_.size()) >= query_->ADOMaxRecords)
        EndOfRows();
    return true;
}

bool TQueryDataSet::RowExists(int index) {
    if (index < 0) return false;
    while (static_cast<size_t>(index) >= rows_.size())
        if (!FetchOne()) return false;
    return true;
}

int TQueryDataSet::CountRecords() {
    if (!Active() || done_ || !cursor_) return Active() ? static_cast<int>(rows_.size()) : 0;
    Cursor& c = *cursor_;
    // On SQLite the open statement keeps its place: the count runs beside it on the same
    // connection and snapshot. The text wrapped is the query's own statement, with its
    // parameters bound exactly as the query binds them.
    int count = 0;
    for (int attempt = 0;; ++attempt) {
        try {
            auto st = RunOnce(c.connection->Session(),
                              "SELECT COUNT(*) FROM (" + query_->SQL().Text() + "\n) KX_COUNT",
                              [&](soci::statement& s) {
                                  s.exchange(soci::into(count));
                                  c.Bind(s);
                              });
            st->fetch();
            break;
        } catch (const std::exception& e) {
            // A count only reads: once more on a fresh session when the connection broke.
            if (attempt == 0 && c.connection->RenewIfBroken(e)) continue;
            RethrowAsDatabaseError("Erro na consulta " + DataSetName() + ": ");
        }
    }
    if (query_->ADOMaxRecords > 0) count = std::min(count, query_->ADOMaxRecords);
    return std::max(count, static_cast<int>(rows_.size()));
}

int TQueryDataSet::InternalRecordCount() {
    while (FetchOne()) {
    }
    return static_cast<int>(rows_.size());
}

const std::vector<Variant>& TQueryDataSet::RowValues(int index) {
    return rows_.at(static_cast<size_t>(index));
}

void TQueryDataSet::InternalPost(int, const std::vector<Variant>&) {
    throw EDatabaseError("A consulta " + DataSetName() + " é somente leitura.");
}

// ---------------------------------------------------------------------------------------------

TADOIBQuery::TADOIBQuery(TComponent* owner) : TComponent(owner), query_(new TQueryDataSet(this)) {}

TADOIBQuery::~TADOIBQuery() {
    BeginDestroy();
    SetADOConnection(nullptr);
    SetDataBase(nullptr);
    SetTransaction(nullptr);
    DestroyComponents(); // the result set, while the query's own state is alive
}

void TADOIBQuery::SetActive(bool on) {
    if (Loading()) {
        activeOnLoad_ = on;
        return;
    }
    query_->SetActive(on);
}

void TADOIBQuery::Loaded() {
    TComponent::Loaded();
    if (activeOnLoad_) {
        activeOnLoad_ = false;
        Open();
    }
}

void TADOIBQuery::SyncParams() {
    String text = sql_.Text();
    if (parsed_ && text == parsedText_) return;
    std::vector<std::unique_ptr<TParam>> next;
    for (const String& name : FindSqlParams(text)) {
        auto kept = std::find_if(params_.begin(), params_.end(), [&](const auto& p) {
            return p && SameText(p->Name(), name) && p->Name() == name;
        });
        if (kept != params_.end()) {
            next.push_back(std::move(*kept));
        } else {
            next.push_back(std::make_unique<TParam>(name));
            for (const auto& old : params_)
                if (old && SameText(old->Name(), name)) next.back()->SetValue(old->Value());
        }
    }
    params_ = std::move(next);
    parsedText_ = text;
    parsed_ = true;
}

std::vector<TParam*> TADOIBQuery::Params() {
    SyncParams();
    std::vector<TParam*> out;
    for (const auto& p : params_)
        out.push_back(p.get());
    return out;
}

TParam& TADOIBQuery::ParamByName(const String& name) {
    SyncParams();
    for (const auto& p : params_)
        if (SameText(p->Name(), name)) return *p;
    throw EDatabaseError("Parâmetro '" + name + "' não encontrado na consulta " + Name() + ".");
}

TADOConnection* TADOIBQuery::Connection() const {
    if (adoConnection_) return adoConnection_;
    if (dataBase_ && dataBase_->Connection()) return dataBase_->Connection();
    if (transaction_ && transaction_->Connection()) return transaction_->Connection();
    return dynamic_cast<TADOConnection*>(FindGlobalComponent("dtmDBGeral.adcGeral"));
}

namespace {
template <class T> void Retarget(TADOIBQuery* self, T*& slot, T* value) {
    if (value == slot) return;
    if (slot) slot->RemoveFreeNotification(self);
    slot = value;
    if (value) value->AddFreeNotification(self, [&slot] { slot = nullptr; });
}
} // namespace

void TADOIBQuery::SetADOConnection(TADOConnection* c) {
    Retarget(this, adoConnection_, c);
}

void TADOIBQuery::SetDataBase(TIBDatabase* d) {
    Retarget(this, dataBase_, d);
}

void TADOIBQuery::SetTransaction(TIBTransaction* t) {
    Retarget(this, transaction_, t);
}

void TADOIBQuery::Notification(TComponent* c, bool removing) {
    TComponent::Notification(c, removing);
    if (removing && c == dataSource_) dataSource_ = nullptr;
}

bool TADOIBQuery::ReadProperty(const DfmProperty& p, TFormReader& r) {
    const String& n = p.name;
    if (n == "SQL.Strings") {
        sql_.Assign(r.List(p));
    } else if (n == "Params.Strings") {
        std::vector<String> declared;
        for (const String& line : r.List(p)) {
            std::istringstream words(line);
            String name, type = "ftString", direction = "ptUnknown", extra;
            words >> name >> type >> direction >> extra;
            if (name.empty() || !extra.empty() || !IdentStart(name[0]) ||
                !std::all_of(name.begin(), name.end(), IdentChar))
                r.Fail(p, "linha inválida '" + line + "' (esperado: NOME ftString ptUnknown)");
            if (type != "ftString")
                r.Fail(p, "o parâmetro " + name + " é " + type + "; só ftString é aceito");
            if (direction != "ptUnknown" && direction != "ptInput")
                r.Fail(p, "direção desconhecida " + direction + " do parâmetro " + name);
            declared.push_back(name);
        }
        int line = p.line;
        r.Fixup([this, declared, line] {
            if (!ParamCheck) return;
            std::vector<String> found = FindSqlParams(sql_.Text());
            auto has = [](const std::vector<String>& list, const String& name) {
                return std::any_of(list.begin(), list.end(),
                                   [&](const String& x) { return SameText(x, name); });
            };
            for (const String& d : declared)
                if (!has(found, d))
                    throw EDfmError(line,
                                    "Params: " + d + " não aparece no texto SQL de " + Name());
            for (const String& f : found)
                if (!has(declared, f))
                    throw EDfmError(line,
                                    "Params: falta declarar o parâmetro " + f + " de " + Name());
        });
    } else if (n == "Active")
        SetActive(r.Bool(p));
    else if (n == "AutoCalcFields")
        AutoCalcFields = r.Bool(p);
    else if (n == "ParamCheck")
        ParamCheck = r.Bool(p);
    else if (n == "CachedUpdates")
        CachedUpdates = r.Bool(p);
    else if (n == "ObjectView")
        ObjectView = r.Bool(p);
    else if (n == "ADOEnableBCD")
        ADOEnableBCD = r.Bool(p);
    else if (n == "ADOFiltered")
        ADOFiltered = r.Bool(p);
    else if (n == "ADOPrepared")
        ADOPrepared = r.Bool(p);
    else if (n == "ADOCacheSize") {
        ADOCacheSize = r.Int(p);
        if (ADOCacheSize < 1) r.Fail(p, "deve ser pelo menos 1");
    } else if (n == "ADOMaxRecords") {
        ADOMaxRecords = r.Int(p);
        if (ADOMaxRecords < 0) r.Fail(p, "não pode ser negativo");
    } else if (n == "ADOCursorLocation")
        CheckIdent(r, p, r.Ident(p), {"clUseClient", "clUseServer"}, ADOCursorLocation);
    else if (n == "ADOCursorType")
        CheckIdent(r, p, r.Ident(p),
                   {"ctUnspecified", "ctOpenForwardOnly", "ctKeyset", "ctDynamic", "ctStatic"},
                   ADOCursorType);
    else if (n == "ADOLockType")
        CheckIdent(
            r, p, r.Ident(p),
            {"ltUnspecified", "ltReadOnly", "ltPessimistic", "ltOptimistic", "ltBatchOptimistic"},
            ADOLockType);
    else if (n == "ADOMarshalOptions")
        CheckIdent(r, p, r.Ident(p), {"moMarshalAll", "moMarshalModifiedOnly"}, ADOMarshalOptions);
    else if (n == "ADOExecuteOptions") {
        std::vector<String> options = r.Set(p);
        for (const String& o : options) {
            String ignored;
            CheckIdent(
                r, p, o,
                {"eoAsyncExecute", "eoAsyncFetch", "eoAsyncFetchNonBlocking", "eoExecuteNoRecords"},
                ignored);
        }
        ADOExecuteOptions = options;
    } else if (n == "ADOConnection")
        r.Ref<TADOConnection>(p, [this](TADOConnection* c) { SetADOConnection(c); });
    else if (n == "DataBase")
        r.Ref<TIBDatabase>(p, [this](TIBDatabase* d) { SetDataBase(d); });
    else if (n == "Transaction")
        r.Ref<TIBTransaction>(p, [this](TIBTransaction* t) { SetTransaction(t); });
    else if (n == "DataSource")
        r.Ref<TDataSource>(p, [this](TDataSource* ds) { SetDataSource(ds); });
    else
        return TComponent::ReadProperty(p, r);
    return true;
}

#pragma once
// Read-only query on the host database. The SQL text is kept line by line exactly as given; its
// parameters are the ":NAME"s outside quoted strings and comments, always bound as values by
// name, never spliced into the text. Rows are fetched as navigation asks for them, so opening
// a large result reads one row (on PostgreSQL one batch of a server-side cursor, see
// TADOConnection::DeclareCursor); RecordCount reads them all, CountRecords asks the database. The
// statement is released once its last row is read; on SQLite also when another statement runs on
// the same connection (the remaining rows are read first), so a query left open does not hold an
// old snapshot. Data sources
// bind to Query(), the result set; persistent fields (TADOIBStringField) find their column by name,
// ignoring case.
//
// Form definition:
//   SQL.Strings = ('SELECT ...' '  FROM ...')
//   Params.Strings = ('P_NAME ftString ptUnknown' ...)   optional: one line per parameter,
//       name, then type and direction (only ftString; ptUnknown or ptInput). With ParamCheck
//       True (the default) the list must name exactly the parameters of the SQL text.
//   Active, AutoCalcFields, ParamCheck, CachedUpdates, ObjectView, ADOEnableBCD, ADOFiltered,
//   ADOPrepared (booleans); ADOCacheSize (>= 1), ADOMaxRecords (0 = no limit: honoured);
//   ADOCursorLocation (clUseClient, clUseServer), ADOCursorType (ctUnspecified,
//   ctOpenForwardOnly, ctKeyset, ctDynamic, ctStatic), ADOLockType (ltUnspecified, ltReadOnly,
//   ltPessimistic, ltOptimistic, ltBatchOptimistic), ADOMarshalOptions (moMarshalAll,
//   moMarshalModifiedOnly), ADOExecuteOptions (set of eoAsyncExecute, eoAsyncFetch,
//   eoAsyncFetchNonBlocking, eoExecuteNoRecords); ADOConnection, DataBase, Transaction (the
//   shared module's components, "dtmDBGeral.adcGeral"), DataSource.
// The statement runs on ADOConnection, else on DataBase's or Transaction's connection, else on
// dtmDBGeral.adcGeral.
#include <memory>

#include "db/Connection.h"
#include "db/DB.h"

class TADOIBQuery;

class TParam {
public:
    explicit TParam(String name) : name_(std::move(name)) {}
    const String& Name() const { return name_; }
    // Values are bound as text; null (the initial value) binds SQL NULL.
    void SetAsString(const String& s) { value_ = Variant(s); }
    String AsString() const { return VarToStr(value_); }
    void SetValue(const Variant& v) { value_ = v; }
    const Variant& Value() const { return value_; }
    bool IsNull() const { return VarIsNull(value_); }
    void Clear() { value_ = Variant::Null(); }
    String DataType = "ftString";
    String ParamType = "ptUnknown";

private:
    String name_;
    Variant value_ = Variant::Null();
};

// The names of the ":NAME" parameters of a statement, first spelling, in order of appearance.
std::vector<String> FindSqlParams(const String& sql);

class TADOIBStringField : public TStringField {
public:
    using TStringField::TStringField;
    String ClassName() const override { return "TADOIBStringField"; }
};

// The result set of a query.
class TQueryDataSet : public TDataSet {
public:
    explicit TQueryDataSet(TADOIBQuery* query);
    ~TQueryDataSet() override;
    String ClassName() const override { return "TQueryDataSet"; }
    String DataSetName() const override;
    bool CanModify() const override { return false; }
    TADOIBQuery* QueryComponent() const { return query_; }
    // Rows read from the database since the last open.
    int FetchedRows() const { return fetched_; }
    // The number of rows of the result, counted by the database in a statement of its own, so no
    // row is read here and none is held (their number once every row is read). The query's
    // position and the rows read stay as they are.
    int CountRecords();

protected:
    void InternalOpen() override;
    void InternalClose() override;
    bool RowExists(int index) override;
    int InternalRecordCount() override;
    const std::vector<Variant>& RowValues(int index) override;
    void InternalPost(int index, const std::vector<Variant>& values) override;

private:
    struct Cursor;
    // Reads the next row into rows_; false at the end, where the statement is released.
    bool FetchOne();
    void EndOfRows();
    void Declare(Cursor& c, const String& text);
    void NextBatch(Cursor& c);
    // Reads the remaining rows, so the statement goes while result and position stay.
    void ReleaseStatement();
    TADOIBQuery* query_;
    std::unique_ptr<Cursor> cursor_;
    std::vector<std::vector<Variant>> rows_;
    std::vector<TField*> dynamicFields_;
    int fetched_ = 0;
    bool done_ = true;
};

class TADOIBQuery : public TComponent, public IDataSetProvider {
public:
    explicit TADOIBQuery(TComponent* owner);
    ~TADOIBQuery() override;
    String ClassName() const override { return "TADOIBQuery"; }

    TStrings& SQL() { return sql_; }
    const TStrings& SQL() const { return sql_; }
    // The parameters of the current SQL text; values survive a text change for names kept.
    std::vector<TParam*> Params();
    TParam& ParamByName(const String& name); // case-insensitive; EDatabaseError when missing

    void Open() { query_->Open(); }
    void Close() { query_->Close(); }
    bool Active() const { return query_->Active(); }
    void SetActive(bool on);
    bool IsEmpty() { return query_->IsEmpty(); }
    int RecordCount() { return query_->RecordCount(); }
    TField* FieldByName(const String& name) const { return query_->FieldByName(name); }
    TDataSet* Query() const { return query_; }
    TDataSet* ProvidedDataSet() const override { return query_; }
    int FetchedRows() const { return query_->FetchedRows(); }
    int CountRecords() { return query_->CountRecords(); }

    // The connection the statement runs on (see the header comment); null when there is none.
    TADOConnection* Connection() const;
    TADOConnection* ADOConnection() const { return adoConnection_; }
    void SetADOConnection(TADOConnection* c);
    TIBDatabase* DataBase() const { return dataBase_; }
    void SetDataBase(TIBDatabase* d);
    TIBTransaction* Transaction() const { return transaction_; }
    void SetTransaction(TIBTransaction* t);
    TDataSource* DataSource() const { return dataSource_; }
    void SetDataSource(TDataSource* ds) { dataSource_ = ds; }

    bool AutoCalcFields = true;
    bool ParamCheck = true;
    bool CachedUpdates = false;
    bool ObjectView = false;
    bool ADOEnableBCD = false;
    bool ADOFiltered = false;
    bool ADOPrepared = false;
    int ADOCacheSize = 1;
    int ADOMaxRecords = 0;
    String ADOCursorLocation = "clUseClient";
    String ADOCursorType = "ctKeyset";
    String ADOLockType = "ltReadOnly";
    String ADOMarshalOptions = "moMarshalAll";
    std::vector<String> ADOExecuteOptions;

    void Loaded() override;
    void Notification(TComponent* c, bool removing) override;
    bool ReadProperty(const DfmProperty& p, TFormReader& reader) override;

private:
    void SyncParams();
    TStrings sql_;
    TQueryDataSet* query_;
    String parsedText_;
    bool parsed_ = false;
    std::vector<std::unique_ptr<TParam>> params_;
    TADOConnection* adoConnection_ = nullptr;
    TIBDatabase* dataBase_ = nullptr;
    TIBTransaction* transaction_ = nullptr;
    TDataSource* dataSource_ = nullptr;
    bool activeOnLoad_ = false;
};

// Queries on the shared data module against a temporary SQLite file, and against PostgreSQL when
// KX_TEST_PG holds a libpq URI (each test gets a database of its own, dropped afterwards).
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <soci/soci.h>
#include <tuple>

#include "LookupQueries.h"
#include "Schema.h"
#include "TestDatabase.h"
#include "db/DBGeral.h"
#include "vcl/FormReader.h"

namespace {

const std::vector<String> kGrupoSql = {
    "SELECT CDGRUPOPER, DSGRUPOPER", "  FROM GRUPOPER",
    " WHERE ((CDGRUPOPER = :P_CDGRUPOPER) OR (:P_TGRUPOPER = 'T'))", " ORDER BY CDGRUPOPER", " "};
const std::vector<String> kProdutoSql = {"SELECT CDARVPROD, NMPRODUTO", "  FROM PRODUTO",
                                         " WHERE CDNVPRODUTO = '1'", " ORDER BY CDARVPROD"};

struct Supplier {
    String code, inscription, name, type;
};
const std::vector<Supplier> kSuppliers = {
    {"000001", "11144477735", "ANA", "F"},     {"000002", "11222333000181", "BETA", "J"},
    {"000003", "12ABC34501DE35", "GAMA", "J"}, {"000004", "999", "OUTRO", "O"},
    {"000005", "12'34", "ASPAS", "I"},         {"000006", "00011122233", "ZECA", "F"},
};
const std::vector<std::pair<String, String>> kGroups = {
    {"10", "DIRETORIA"}, {"01", "COMPRAS"}, {"02", "FISCAL"}};
const std::vector<std::tuple<String, String, String>> kProducts = {{"1.02", "PORCA", "1"},
                                                                   {"2.01", "MOTOR", "2"},
                                                                   {"0.99", "ARRUELA", "1"},
                                                                   {"1.01", "PARAFUSO", "1"}};

class Queries : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (String(GetParam()) != "sqlite") {
            const char* admin = std::getenv("KX_TEST_PG");
            if (!admin || !*admin) GTEST_SKIP() << "KX_TEST_PG não definido";
        }
        db_ = std::make_unique<TestDatabase>(GetParam(), TestDatabase::Init::Empty);
        url_ = db_->Url();
        OpenDtmDBGeral(url_);
        // The shared connection's session, with every value bound.
        soci::session& sql = dtmDBGeral->adcGeral->Session();
        for (const std::string& statement : kxsql::SchemaStatements(kxsql::EngineOfUrl(url_)))
            sql << statement;
        for (const Supplier& s : kSuppliers)
            sql << "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, IDTPIJURFORN) "
                   "VALUES (:c, :i, :n, :t)",
                soci::use(s.code), soci::use(s.inscription), soci::use(s.name), soci::use(s.type);
        for (const auto& [code, name] : kGroups)
            sql << "INSERT INTO GRUPOPER (CDGRUPOPER, DSGRUPOPER) VALUES (:c, :d)", soci::use(code),
                soci::use(name);
        for (const auto& [code, name, level] : kProducts)
            sql << "INSERT INTO PRODUTO (CDARVPROD, NMPRODUTO, CDNVPRODUTO) VALUES (:c, :n, :l)",
                soci::use(code), soci::use(name), soci::use(level);
    }

    void TearDown() override {
        root_.reset();
        CloseDtmDBGeral();
        db_.reset();
    }

    void Exec(const String& sql) { dtmDBGeral->adcGeral->ExecSQL(sql); }
    bool IsPg() const { return db_ && !db_->IsSqlite(); }
    int SessionsIdleInTransaction() {
        int idle = -1;
        dtmDBGeral->adcGeral->Session()
            << "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = current_database() AND "
               "state LIKE 'idle in transaction%'",
            soci::into(idle);
        return idle;
    }

    TADOIBQuery* NewQuery(const char* name, const std::vector<String>& sql,
                          std::vector<const char*> fields = {}) {
        return NewLookupQuery(root_.get(), name, sql, fields);
    }

    static std::vector<String> Column(TADOIBQuery* q, const char* field) {
        std::vector<String> out;
        for (q->Query()->First(); !q->Query()->Eof(); q->Query()->Next())
            out.push_back(q->FieldByName(field)->AsString());
        return out;
    }

    std::unique_ptr<TComponent> root_ = std::make_unique<TComponent>(nullptr);
    std::unique_ptr<TestDatabase> db_;
    String url_;
};

TEST_P(Queries, SupplierLookupListsAllWithTheSwitchAndOneByInscription) {
    TADOIBQuery* q = NewQuery("qryFornecedor", kFornecedorSql,
                              {"CDFORNECED", "NRINSJURFORN", "NMRAZSOCFORN", "IDTPIJURFORN"});
    EXPECT_EQ(q->SQL().Lines(), kFornecedorSql);
    ASSERT_EQ(q->Params().size(), 2u);
    EXPECT_EQ(q->Params()[0]->Name(), "P_NRINSJURFORN");
    EXPECT_EQ(q->Params()[1]->Name(), "P_TNRINSJURFORN");

    q->ParamByName("P_NRINSJURFORN").SetAsString("");
    q->ParamByName("p_tnrinsjurforn").SetAsString("T");
    q->Open();
    std::vector<Supplier> sorted = kSuppliers;
    std::sort(sorted.begin(), sorted.end(), [](const Supplier& a, const Supplier& b) {
        return std::tie(a.type, a.inscription) < std::tie(b.type, b.inscription);
    });
    std::vector<String> expected;
    for (const Supplier& s : sorted)
        expected.push_back(s.inscription);
    EXPECT_EQ(Column(q, "NRINSJURFORN"), expected);
    EXPECT_EQ(q->RecordCount(), static_cast<int>(kSuppliers.size()));

    for (const Supplier& s : kSuppliers) {
        q->Close();
        q->ParamByName("P_NRINSJURFORN").SetAsString(s.inscription); // 12'34 too: bound
        q->ParamByName("P_TNRINSJURFORN").SetValue(Variant(""));
        q->Open();
        EXPECT_EQ(Column(q, "CDFORNECED"), std::vector<String>{s.code}) << s.inscription;
        EXPECT_EQ(q->FieldByName("NMRAZSOCFORN")->AsString(), s.name);
    }
    // Text that would widen a spliced condition is only a value that matches nothing.
    q->Close();
    q->ParamByName("P_NRINSJURFORN").SetAsString("x' OR 'T' = 'T");
    q->Open();
    EXPECT_TRUE(q->IsEmpty());
}

TEST_P(Queries, GroupAndProductLookups) {
    TADOIBQuery* g = NewQuery("qryGrupoPermLan", kGrupoSql, {"CDGRUPOPER", "DSGRUPOPER"});
    g->ParamByName("P_CDGRUPOPER").SetAsString("");
    g->ParamByName("P_TGRUPOPER").SetAsString("T");
    g->Open();
    std::vector<std::pair<String, String>> groups = kGroups;
    std::sort(groups.begin(), groups.end());
    std::vector<String> codes;
    for (const auto& grp : groups)
        codes.push_back(grp.first);
    EXPECT_EQ(Column(g, "CDGRUPOPER"), codes);

    g->Close();
    g->ParamByName("P_CDGRUPOPER").SetAsString("02");
    g->ParamByName("P_TGRUPOPER").SetAsString("");
    g->Open();
    EXPECT_EQ(Column(g, "DSGRUPOPER"), std::vector<String>{"FISCAL"});
    g->Close();
    g->ParamByName("P_CDGRUPOPER").SetAsString("99");
    g->Open();
    EXPECT_TRUE(g->IsEmpty());

    // No persistent fields: every column becomes a field.
    TADOIBQuery* p = NewQuery("qryProdSerConsidera", kProdutoSql);
    EXPECT_TRUE(p->Params().empty());
    p->Open();
    std::vector<String> level1;
    for (const auto& [code, name, level] : kProducts)
        if (level == "1") level1.push_back(code);
    std::sort(level1.begin(), level1.end());
    EXPECT_EQ(p->Query()->FieldCount(), 2);
    EXPECT_EQ(Column(p, "CDARVPROD"), level1);
    EXPECT_THROW(p->ParamByName("P_X"), EDatabaseError);
}

TEST_P(Queries, OpeningALargeTableReadsOnlyWhatIsAskedFor) {
    Exec("CREATE TABLE GRANDE (ID INTEGER PRIMARY KEY, NOME VARCHAR(20))");
    if (IsPg())
        Exec("INSERT INTO GRANDE SELECT x, 'n' || x FROM generate_series(1, 100000) AS x");
    else
        Exec("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 100000) "
             "INSERT INTO GRANDE SELECT x, 'n' || x FROM c");
    TADOIBQuery* q = NewQuery("qryGrande", {"SELECT ID, NOME FROM GRANDE ORDER BY ID"});
    q->Open();
    EXPECT_LE(q->FetchedRows(), 1);
    EXPECT_EQ(q->FieldByName("NOME")->AsString(), "n1");
    for (int i = 0; i < 4; ++i)
        q->Query()->Next();
    EXPECT_EQ(q->FieldByName("ID")->AsInteger(), 5);
    EXPECT_LE(q->FetchedRows(), 6);
    EXPECT_EQ(q->RecordCount(), 100000);
    EXPECT_EQ(q->FetchedRows(), 100000);
}

// Two lists open at once over one connection, read in turns past the batches a PostgreSQL
// cursor gives, counted by the database, one of them losing its cursor transaction midway.
TEST_P(Queries, ListsReadOnInTurnsAndCountWithoutReading) {
    Exec("CREATE TABLE GRANDE (ID INTEGER PRIMARY KEY, NOME VARCHAR(20))");
    for (int from = 1; from <= 1000; from += 250) {
        String values; // made of loop counters only: nothing from outside reaches the SQL
        for (int i = from; i < from + 250; ++i)
            values += (values.empty() ? "(" : ", (") + std::to_string(i) + ", 'n" +
                      std::to_string(i) + "')";
        Exec("INSERT INTO GRANDE (ID, NOME) VALUES " + values);
    }
    TADOIBQuery* all = NewQuery("qryTodos", {"SELECT ID, NOME FROM GRANDE ORDER BY ID"});
    TADOIBQuery* some =
        NewQuery("qryAlguns", {"SELECT ID FROM GRANDE WHERE ID > :P_ID ORDER BY ID", "-- fim"});
    some->ParamByName("P_ID").SetAsString("600");
    all->Open();
    EXPECT_EQ(all->CountRecords(), 1000);
    EXPECT_LE(all->FetchedRows(), 1);
    some->Open(); // on SQLite the other query is read to its end first (see ReleaseOpenQueries)
    EXPECT_EQ(some->CountRecords(), 400);
    EXPECT_LE(some->FetchedRows(), 1);
    for (int step = 0; step < 450; ++step) {
        ASSERT_EQ(all->FieldByName("ID")->AsInteger(), step + 1);
        all->Query()->Next();
        if (step < 400) {
            ASSERT_EQ(some->FieldByName("ID")->AsInteger(), step + 601);
            some->Query()->Next();
        }
        if (step == 250 && IsPg()) {
            // Both lists stand partway, each past its first batch: none holds a transaction open
            // while the clerk looks at it.
            EXPECT_EQ(SessionsIdleInTransaction(), 0);
        }
        if (step == 300) {
            // As after another query's failure on the cursor session: every cursor is lost,
            // and the lists declare theirs again, after the rows they have read.
            dtmDBGeral->adcGeral->CursorFailed();
            Exec("DELETE FROM GRANDE WHERE ID = 999");
        }
    }
    EXPECT_EQ(all->FieldByName("NOME")->AsString(), "n451");
    EXPECT_TRUE(some->Query()->Eof());
    EXPECT_EQ(some->RecordCount(), 400);
    // On SQLite every row was read before the delete: the count is of the rows read.
    EXPECT_EQ(all->CountRecords(), IsPg() ? 999 : 1000);
    all->Close();
    some->Close();
    if (IsPg()) {
        // Every list closed: no session of ours is left holding a transaction open.
        EXPECT_EQ(SessionsIdleInTransaction(), 0);
        // The server drops the idle cursor session: the next list opens on a new one. The call
        // sits in a FILTER, evaluated only for rows the WHERE kept: in the WHERE itself the
        // planner may call it before the database test and end other tests' sessions.
        int dropped = 0;
        dtmDBGeral->adcGeral->Session()
            << "SELECT COUNT(*) FILTER (WHERE pg_terminate_backend(pid, 5000)) "
               "FROM pg_stat_activity WHERE datname = current_database() AND pid <> "
               "pg_backend_pid()",
            soci::into(dropped);
        EXPECT_EQ(dropped, 1);
        all->Open();
        EXPECT_EQ(all->FieldByName("ID")->AsInteger(), 1);
        all->Close();
    }
}

// Each statement of the lookups is served by an index: the lists read in their order without a
// sort, the product list and (on PostgreSQL) the lookup by inscription without a table scan.
TEST_P(Queries, LookupsUseTheirIndexes) {
    soci::session& sql = dtmDBGeral->adcGeral->Session();
    auto plan = [&](const std::vector<String>& lines, std::vector<String> values) {
        String text;
        for (const String& l : lines)
            text += l + "\n";
        const std::vector<String> names = FindSqlParams(text); // bound in this order
        values.resize(names.size());
        soci::row row;
        soci::details::prepare_temp_type prep =
            (sql.prepare << String(IsPg() ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") + text,
             soci::into(row));
        for (size_t i = 0; i < names.size(); ++i)
            prep, soci::use(values[i], names[i]);
        soci::statement st(prep);
        st.execute(false);
        String out;
        while (st.fetch())
            out += row.get<std::string>(row.size() - 1) + "\n";
        return out;
    };
    // A table of a few rows is read whole anyway: the planner is told to avoid scans and sorts
    // where it can, so what it cannot avoid shows.
    if (IsPg()) sql << "SET enable_seqscan = off";
    struct Case {
        const char* what;
        std::vector<String> sql, values;
        const char* uses; // lower case: PostgreSQL's spelling
        bool ordered;     // read in order, no sort
    };
    std::vector<Case> cases = {
        {"lista de fornecedores", kFornecedorSql, {"", "T"}, "ixfornecedor1", true},
        {"lista de grupos", kGrupoSql, {"", "T"}, nullptr, true},
        {"lista de produtos", kProdutoSql, {}, "ixproduto1", true},
    };
    if (IsPg())
        cases.push_back(
            {"inscrição", kFornecedorSql, {"999", ""}, "index cond: ((nrinsjurforn)", false});
    for (const Case& c : cases) {
        if (IsPg()) sql << (c.ordered ? "SET enable_sort = off" : "RESET enable_sort");
        String p = plan(c.sql, c.values);
        String lower = p;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char ch) { return std::tolower(ch); });
        EXPECT_EQ(lower.find("seq scan"), String::npos) << c.what << "\n" << p;
        if (c.ordered) {
            EXPECT_EQ(lower.find("temp b-tree"), String::npos) << c.what << "\n" << p;
            EXPECT_EQ(lower.find("sort"), String::npos) << c.what << "\n" << p;
        }
        if (c.uses) {
            EXPECT_NE(lower.find(c.uses), String::npos) << c.what << "\n" << p;
        }
    }
    if (IsPg()) sql << "RESET enable_seqscan; RESET enable_sort";
}

// The clerk reads Portuguese; the database library's own words, which name the cause, go to
// the log.
TEST_P(Queries, FailuresNameTheirCauseAndLeaveTheQueryClosed) {
    std::vector<String> log;
    SetDatabaseLog([&](const String& line) { log.push_back(line); });
    TADOIBQuery* bad = NewQuery("qryRuim", {"SELECT * FROM NAO_EXISTE"});
    try {
        bad->Open();
        ADD_FAILURE();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Erro na consulta qryRuim: o banco de dados recusou o comando. "
                               "Avise o suporte (os detalhes estão no registro do aplicativo).");
    }
    SetDatabaseLog({});
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("banco de dados: Erro na consulta qryRuim: ", 0), 0u) << log[0];
    EXPECT_NE(LowerCase(log[0]).find("nao_existe"), String::npos) << log[0];
    EXPECT_FALSE(bad->Active());

    TADOIBQuery* missing = NewQuery("qryFalta", kGrupoSql, {"CDGRUPOPER", "NMGRUPO"});
    missing->ParamByName("P_TGRUPOPER").SetAsString("T");
    try {
        missing->Open();
        ADD_FAILURE();
    } catch (const EDatabaseError& e) {
        EXPECT_NE(e.Message().find("NMGRUPO"), String::npos) << e.Message();
    }
    EXPECT_FALSE(missing->Active());

    // Results are read-only.
    TADOIBQuery* g = NewQuery("qryGrupo", kGrupoSql, {"CDGRUPOPER", "DSGRUPOPER"});
    g->ParamByName("P_TGRUPOPER").SetAsString("T");
    g->Open();
    EXPECT_THROW(g->Query()->Edit(), EDatabaseError);
    EXPECT_THROW(g->FieldByName("DSGRUPOPER")->SetAsString("X"), EDatabaseError);

    // Closing the connection closes its queries first.
    dtmDBGeral->adcGeral->Close();
    EXPECT_FALSE(g->Active());
    EXPECT_THROW(g->Open(), EDatabaseError);
}

// Another program (the application server, another client) writing on a session of its own.
class QueriesWithAnotherWriter : public Queries {
protected:
    void SetUp() override {
        Queries::SetUp();
        if (IsSkipped()) return;
        kxsql::OpenSession(other_, url_);
        if (!IsPg()) other_ << "PRAGMA busy_timeout = 0"; // a blocked checkpoint answers at once
    }
    void TearDown() override {
        other_.close();
        Queries::TearDown();
    }
    void InsertGroup(const String& code, const String& name) {
        other_ << "INSERT INTO GRUPOPER (CDGRUPOPER, DSGRUPOPER) VALUES (:c, :d)", soci::use(code),
            soci::use(name);
    }
    TADOIBQuery* GroupLookup(const char* name, const String& code) {
        TADOIBQuery* q = NewQuery(name, kGrupoSql, {"CDGRUPOPER", "DSGRUPOPER"});
        q->ParamByName("P_CDGRUPOPER").SetAsString(code);
        q->ParamByName("P_TGRUPOPER").SetAsString(code.empty() ? "T" : "");
        return q;
    }
    static std::vector<String> SortedCodes(std::vector<String> extra = {}) {
        for (const auto& grp : kGroups)
            extra.push_back(grp.first);
        std::sort(extra.begin(), extra.end());
        return extra;
    }
    soci::session other_;
};

TEST_P(QueriesWithAnotherWriter, AQueryLeftPartwayHidesNothingCommittedMeanwhile) {
    TADOIBQuery* all = GroupLookup("qryTodos", "");
    all->Open(); // stands on its first row, the rest unread
    const std::vector<String> before = SortedCodes();
    ASSERT_EQ(all->FieldByName("CDGRUPOPER")->AsString(), before[0]);

    InsertGroup("77", "AUDITORIA");
    TADOIBQuery* one = GroupLookup("qryUm", "77");
    one->Open();
    EXPECT_EQ(Column(one, "DSGRUPOPER"), std::vector<String>{"AUDITORIA"});

    // The first query kept its position and its own rows, in order.
    EXPECT_EQ(all->FieldByName("CDGRUPOPER")->AsString(), before[0]);
    std::vector<String> rest;
    for (; !all->Query()->Eof(); all->Query()->Next())
        rest.push_back(all->FieldByName("CDGRUPOPER")->AsString());
    EXPECT_EQ(rest, before);

    // A write on the shared connection while a query stands partway: committed and seen by all.
    all->Close();
    all->Open();
    InsertGroup("78", "CONTROLADORIA");
    Exec("INSERT INTO GRUPOPER (CDGRUPOPER, DSGRUPOPER) VALUES ('79', 'TESOURARIA')");
    EXPECT_EQ(all->RecordCount(), static_cast<int>(before.size()) + 1);
    all->Close();
    all->Open();
    EXPECT_EQ(Column(all, "CDGRUPOPER"), SortedCodes({"77", "78", "79"}));
    int count = 0;
    other_ << "SELECT COUNT(*) FROM GRUPOPER WHERE CDGRUPOPER = '79'", soci::into(count);
    EXPECT_EQ(count, 1);
}

// Queries left open must not keep the write-ahead log from being checkpointed (it would grow).
TEST_P(QueriesWithAnotherWriter, QueriesLeftOpenLetTheLogBeCheckpointed) {
    if (IsPg()) GTEST_SKIP() << "só SQLite tem o registro de escrita antecipada";
    auto checkpointBlocked = [this] {
        int busy = -1, log = 0, done = 0;
        other_ << "PRAGMA wal_checkpoint(TRUNCATE)", soci::into(busy), soci::into(log),
            soci::into(done);
        return busy != 0;
    };
    TADOIBQuery* all = GroupLookup("qryTodos", "");
    all->Open();
    // Cut short by its row limit: nothing more to read, so nothing held.
    TADOIBQuery* first = GroupLookup("qryPrimeiro", "");
    first->ADOMaxRecords = 1;
    first->Open();
    EXPECT_EQ(first->RecordCount(), 1);
    InsertGroup("77", "AUDITORIA");
    EXPECT_FALSE(checkpointBlocked());
    EXPECT_EQ(Column(all, "CDGRUPOPER"), SortedCodes());

    // A query whose rows are read to the end holds nothing either.
    TADOIBQuery* one = GroupLookup("qryUm", "77");
    one->Open();
    EXPECT_EQ(Column(one, "CDGRUPOPER"), std::vector<String>{"77"});
    InsertGroup("78", "CONTROLADORIA");
    EXPECT_FALSE(checkpointBlocked());
}

INSTANTIATE_TEST_SUITE_P(Engines, QueriesWithAnotherWriter,
                         ::testing::Values("sqlite", "postgresql"),
                         [](const auto& test) { return String(test.param); });

INSTANTIATE_TEST_SUITE_P(Engines, Queries, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& test) { return String(test.param); });

// ---------------------------------------------------------------------------------------------

struct LookupForm : TForm {
    explicit LookupForm(TComponent* owner) : TForm(owner) {
        Publish("qryFornecedorIDTPIJURFORNGetText", &LookupForm::TypeText);
    }
    String ClassName() const override { return "TLookupForm"; }
    void TypeText(TField* f, String& text, bool) {
        text = f->AsString() == "F" ? "Física" : "Outra";
    }
};

const char* const kLookupDefinition = R"(object frmLookup: TLookupForm
  object qryFornecedor: TADOIBQuery
    Active = False
    AutoCalcFields = True
    ADOConnection = dtmDBGeral.adcGeral
    DataBase = dtmDBGeral.dtbGeral
    Transaction = dtmDBGeral.ibtGeral
    ADOCursorLocation = clUseClient
    ADOCursorType = ctKeyset
    ADOLockType = ltReadOnly
    ADOCacheSize = 1
    ADOMaxRecords = 0
    ADOEnableBCD = False
    ADOExecuteOptions = []
    ADOFiltered = False
    ADOMarshalOptions = moMarshalAll
    ADOPrepared = False
    ParamCheck = True
    CachedUpdates = False
    ObjectView = False
    DataSource = dtsFornecedor
    SQL.Strings = (
      'SELECT'
      '   CDFORNECED,'
      '   NRINSJURFORN,'
      '   NMRAZSOCFORN,'
      '   IDTPIJURFORN'
      'FROM'
      '   FORNECEDOR'
      'WHERE'
      '   (NRINSJURFORN = :P_NRINSJURFORN OR :P_TNRINSJURFORN = '#39'T'#39')'
      'ORDER BY'
      '   IDTPIJURFORN,'
      '   NRINSJURFORN'
      ''
      ' '
      ' ')
    Params.Strings = (
      'P_NRINSJURFORN ftString ptUnknown'
      'P_TNRINSJURFORN ftString ptUnknown')
    object qryFornecedorCDFORNECED: TADOIBStringField
      FieldName = 'CDFORNECED'
      Origin = 'FORNECEDOR.CDFORNECED'
      Visible = False
      DisplayWidth = 21
      Size = 21
    end
    object qryFornecedorIDTPIJURFORN: TADOIBStringField
      DisplayLabel = 'Tipo'
      DisplayWidth = 15
      FieldName = 'IDTPIJURFORN'
      Origin = 'FORNECEDOR.IDTPIJURFORN'
      OnGetText = qryFornecedorIDTPIJURFORNGetText
      Size = 1
    end
  end
  object dtsFornecedor: TDataSource
    DataSet = qryFornecedor
  end
end
)";

class QueryDefinitions : public Queries {};

TEST_P(QueryDefinitions, ReadTheSettingsAndBindTheDataSourceToTheResult) {
    LookupForm form(nullptr);
    TFormReader(&form).Read(kLookupDefinition);
    auto* q = FindOwned<TADOIBQuery>(&form, "qryFornecedor");
    auto* dts = FindOwned<TDataSource>(&form, "dtsFornecedor");
    ASSERT_TRUE(q && dts);
    EXPECT_EQ(q->SQL().Lines(), kFornecedorSql);
    EXPECT_EQ(dts->DataSet(), q->Query());
    EXPECT_EQ(q->DataSource(), dts);
    EXPECT_EQ(q->ADOConnection(), dtmDBGeral->adcGeral);
    EXPECT_EQ(q->DataBase(), dtmDBGeral->dtbGeral);
    EXPECT_EQ(q->ADOCursorType, "ctKeyset");
    EXPECT_EQ(q->ADOLockType, "ltReadOnly");
    EXPECT_TRUE(q->ADOExecuteOptions.empty());
    ASSERT_EQ(q->Query()->FieldCount(), 2);
    EXPECT_FALSE(q->FieldByName("CDFORNECED")->Visible());
    EXPECT_EQ(q->FieldByName("IDTPIJURFORN")->DisplayLabel(), "Tipo");

    q->ParamByName("P_NRINSJURFORN").SetAsString(kSuppliers[0].inscription);
    q->ParamByName("P_TNRINSJURFORN").SetAsString("");
    q->Open();
    EXPECT_EQ(dts->State(), dsBrowse);
    EXPECT_EQ(q->FieldByName("CDFORNECED")->AsString(), kSuppliers[0].code);
    EXPECT_EQ(q->FieldByName("IDTPIJURFORN")->DisplayText(), "Física");

    // The module going away leaves the query without its connection, not dangling.
    CloseDtmDBGeral();
    EXPECT_FALSE(q->Active());
    EXPECT_EQ(q->ADOConnection(), nullptr);
    EXPECT_EQ(q->Connection(), nullptr);
    EXPECT_THROW(q->Open(), EDatabaseError);
}

// The database dropped every connection (a restart) while a lookup stood open partway: the next
// lookup, the list read on and its count each work at the first try, on fresh sessions.
TEST_P(Queries, LookupsSurviveTheDatabaseDroppingTheConnections) {
    if (!IsPg()) GTEST_SKIP() << "SQLite não tem conexão que caia";
    TADOIBQuery* list = NewQuery("qryGrupo", kGrupoSql, {"CDGRUPOPER", "DSGRUPOPER"});
    list->ParamByName("P_TGRUPOPER").SetAsString("T");
    list->Open(); // its cursor stays open: it has not been read to its end
    TADOIBQuery* one = NewQuery("qryUm", kGrupoSql, {"CDGRUPOPER", "DSGRUPOPER"});
    db_->Admin() << "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                        db_->Name() + "'";
    std::vector<String> log;
    SetDatabaseLog([&](const String& line) { log.push_back(line); });
    one->ParamByName("P_CDGRUPOPER").SetAsString("02");
    one->ParamByName("P_TGRUPOPER").SetAsString("");
    EXPECT_NO_THROW(one->Open());
    EXPECT_EQ(Column(one, "DSGRUPOPER"), std::vector<String>{"FISCAL"});
    EXPECT_EQ(Column(list, "CDGRUPOPER"), (std::vector<String>{"01", "02", "10"}));
    list->Close();
    list->Open();
    EXPECT_EQ(list->CountRecords(), 3);
    SetDatabaseLog({});
    EXPECT_EQ(log, std::vector<String>{});
}

TEST_P(QueryDefinitions, RefuseWrongSettingsAndParameterLists) {
    auto with = [](const String& from, const String& to) {
        String text = kLookupDefinition;
        size_t at = text.find(from);
        EXPECT_NE(at, String::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const String bad[] = {
        with("ADOCursorType = ctKeyset", "ADOCursorType = ctKeyboard"),
        with("ADOExecuteOptions = []", "ADOExecuteOptions = [eoFast]"),
        with("ADOCacheSize = 1", "ADOCacheSize = 0"),
        with("'P_TNRINSJURFORN ftString ptUnknown'", "'P_TNRINSJURFORN ftInteger ptUnknown'"),
        with("'P_TNRINSJURFORN ftString ptUnknown'", "'P_OUTRO ftString ptUnknown'"),
        with("'P_TNRINSJURFORN ftString ptUnknown')", ")"),
        with("ObjectView = False", "ObjectView = False\n    Filtered = True"),
    };
    for (size_t i = 0; i < std::size(bad); ++i) {
        LookupForm form(nullptr);
        EXPECT_THROW(TFormReader(&form).Read(bad[i]), EDfmError) << "case " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, QueryDefinitions, ::testing::Values("sqlite"),
                         [](const auto& test) { return String(test.param); });

TEST(SqlParams, FoundOutsideQuotesAndComments) {
    EXPECT_EQ(FindSqlParams("SELECT ':NO', \"a:b\" FROM T -- :NAO\n WHERE A = :Um AND B = :um "
                            "/* :NADA */ AND C = :DOIS_2 AND D::text = 'x''y:z' AND E=:TRES"),
              (std::vector<String>{"Um", "DOIS_2", "TRES"}));
}

} // namespace

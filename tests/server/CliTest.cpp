// appserver's command line, init and the demo data.
#include "ServerHarness.h"

#include "Schema.h"

#include <boost/asio/ip/tcp.hpp>

#include <filesystem>
#include <functional>
#include <unistd.h>

namespace {

int CheckDigit(const std::vector<int>& values, int firstWeight, bool cnpjWeights) {
    int sum = 0, w = firstWeight;
    for (int v : values) {
        sum += v * w;
        w = cnpjWeights ? (w == 2 ? 9 : w - 1) : w - 1;
    }
    const int r = sum % 11;
    return r < 2 ? 0 : 11 - r;
}

bool ValidCpf(const std::string& s) {
    if (s.size() != 11 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    std::vector<int> d;
    for (char c : s)
        d.push_back(c - '0');
    std::vector<int> base(d.begin(), d.begin() + 9);
    const int d1 = CheckDigit(base, 10, false);
    base.push_back(d1);
    return d1 == d[9] && CheckDigit(base, 11, false) == d[10];
}

// Numeric and alphanumeric CNPJ: a character is worth its code minus 48.
bool ValidCnpj(const std::string& s) {
    if (s.size() != 14 ||
        s.substr(0, 12).find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ") !=
            std::string::npos ||
        s.substr(12).find_first_not_of("0123456789") != std::string::npos)
        return false;
    std::vector<int> base;
    for (int i = 0; i < 12; ++i)
        base.push_back(s[i] - 48);
    const int d1 = CheckDigit(base, 5, true);
    base.push_back(d1);
    return d1 == s[12] - '0' && CheckDigit(base, 6, true) == s[13] - '0';
}

} // namespace

TEST(CheckDigits, KnownDocuments) {
    EXPECT_TRUE(ValidCnpj("12ABC34501DE35")); // the published example of the alphanumeric form
    EXPECT_FALSE(ValidCnpj("12ABC34501DE36"));
    EXPECT_TRUE(ValidCpf("52998224725"));
    EXPECT_FALSE(ValidCpf("52998224724"));
}

TEST(AppserverCli, HelpOnEveryCommand) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"},
                                                 {"init", "--help"},
                                                 {"serve", "--help"},
                                                 {"backup", "--help"}}) {
        const RunResult r = RunAppserver(args);
        EXPECT_EQ(r.exitCode, 0) << args.front();
        EXPECT_NE(r.out.find("uso: appserver"), std::string::npos) << r.out;
    }
    // Every option of a command is in its help.
    const std::map<std::string, std::vector<std::string>> options = {
        {"init", {"--db", "--demo", "--config", "KX_APPSERVER_"}},
        {"serve",
         {"--db", "--listen", "--metrics-listen", "--today", "--idle-timeout", "--workers",
          "--config", "KX_APPSERVER_", "/healthz", "/readyz", "/metrics"}},
        {"backup", {"--db", "--to", "--config", "pg_dump"}},
    };
    for (const auto& [command, names] : options) {
        const std::string help = RunAppserver({command, "--help"}).out;
        for (const std::string& name : names)
            EXPECT_NE(help.find(name), std::string::npos) << command << " " << name;
    }
    const RunResult version = RunAppserver({"--version"});
    EXPECT_EQ(version.out, "appserver " KX_VERSION "\n");
}

TEST(AppserverCli, BadArgumentsExitWithCode2AndPortugueseMessage) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, "informe o comando"},
        {{"start"}, "comando desconhecido: start"},
        {{"init"}, "a opção --db é obrigatória"},
        {{"init", "--db"}, "a opção --db exige um valor"},
        {{"init", "--db", "mysql://x/y"}, "URL do banco de dados não reconhecida"},
        {{"init", "--db", "sqlite:"}, "caminho do arquivo"},
        {{"init", "--db", "sqlite:a.db", "--verbose"}, "opção desconhecida: --verbose"},
        {{"init", "--db", "sqlite:a.db", "--demo=1"}, "não aceita valor"},
        {{"serve", "--db", "sqlite:a.db", "--db", "sqlite:b.db"}, "mais de uma vez"},
        {{"serve", "--db", "sqlite:a.db", "--listen", "4711"}, "endereço de escuta inválido"},
        {{"serve", "--db", "sqlite:a.db", "--listen", "127.0.0.1:65536"}, "valor inválido"},
        {{"serve", "--db", "sqlite:a.db", "--listen", "127.0.0.1:x"}, "valor inválido"},
        {{"serve", "--db", "sqlite:a.db", "--today", "2026-02-30"}, "data inválida em --today"},
        {{"serve", "--db", "sqlite:a.db", "--today", "08/12/2026"}, "data inválida em --today"},
        {{"serve", "--db", "sqlite:a.db", "--idle-timeout", "0"}, "valor inválido"},
        {{"serve", "--db", "sqlite:a.db", "extra"}, "argumento inesperado: extra"},
    };
    for (const Case& c : cases) {
        const RunResult r = RunAppserver(c.args);
        std::string shown;
        for (const auto& a : c.args)
            shown += a + " ";
        EXPECT_EQ(r.exitCode, 2) << shown << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << shown << r.err;
    }
    // Nothing was created by the refused commands.
    EXPECT_FALSE(std::filesystem::exists("a.db"));
}

TEST(AppserverCli, InitIsIdempotentAndKeepsExistingRows) {
    TempDir dir;
    const std::string url = "sqlite:" + dir.Path() + "/kx.db";
    ASSERT_EQ(RunAppserver({"init", "--db", url}).exitCode, 0);
    ASSERT_EQ(RunAppserver({"init", "--db", url, "--demo"}).exitCode, 0);
    soci::session sql;
    kxsql::OpenSession(sql, url);
    sql << "UPDATE PARAMFORNE SET IDUTPRIGXML = 'S', VRMAXPERMFORN = 77 WHERE CDFORNECED = "
           "'000001'";
    auto counts = [&] {
        std::string out;
        for (const char* t : {"FORNECEDOR", "GRUPOPER", "PRODUTO", "PARAMFORNE", "PARAMFORNELOG"}) {
            int n = 0;
            sql << std::string("SELECT COUNT(*) FROM ") + t, soci::into(n);
            out += std::string(t) + "=" + std::to_string(n) + " ";
        }
        return out;
    };
    const std::string before = counts();
    sql << "DELETE FROM PRODUTO WHERE CDARVPROD = '0402'";
    // A database from before saves were keyed gets the key table, and its index, from init.
    sql << "DROP TABLE CHAVEIDEMPOT";
    sql << "DROP TABLE SESSAOOPER";
    {
        ServerProcess older(url, {}, "127.0.0.1:0", {kServerDefaultAuth});
        older.Stop();
        EXPECT_NE(older.Log().find("a tabela CHAVEIDEMPOT não existe"), std::string::npos)
            << older.Log();
        EXPECT_NE(older.Log().find("as tabelas OPERADOR e SESSAOOPER não existem"),
                  std::string::npos)
            << older.Log();
    }
    ASSERT_EQ(RunAppserver({"init", "--db", url, "--demo"}).exitCode, 0);
    int keyTable = 0;
    sql << "SELECT COUNT(*) FROM sqlite_master WHERE name IN ('CHAVEIDEMPOT', 'IXCHAVEIDEMPOT1', "
           "'SESSAOOPER', 'IXSESSAOOPER1', 'IXSESSAOOPER2')",
        soci::into(keyTable);
    EXPECT_EQ(keyTable, 5);
    // The deleted demo row is back, nothing is doubled and the changed row is kept.
    EXPECT_EQ(before, counts());
    std::string flag;
    double value = 0;
    sql << "SELECT IDUTPRIGXML, VRMAXPERMFORN FROM PARAMFORNE WHERE CDFORNECED = '000001'",
        soci::into(flag), soci::into(value);
    EXPECT_EQ(flag, "S");
    EXPECT_EQ(value, 77);
    std::string mode;
    sql << "PRAGMA journal_mode", soci::into(mode);
    EXPECT_EQ(mode, "wal");
}

TEST(AppserverCli, DemoDataCoversEveryPersonTypeWithValidDocuments) {
    TestDatabase db("sqlite");
    std::set<std::string> types, homologation;
    soci::rowset<soci::row> rows =
        db.Sql().prepare << "SELECT NRINSJURFORN, IDTPIJURFORN, IDFORNEHOMO FROM FORNECEDOR";
    bool alphanumeric = false;
    int suppliers = 0;
    for (const soci::row& r : rows) {
        ++suppliers;
        const std::string doc = r.get<std::string>(0), type = r.get<std::string>(1);
        types.insert(type);
        homologation.insert(r.get_indicator(2) == soci::i_null ? "null" : r.get<std::string>(2));
        if (type == "F") {
            EXPECT_TRUE(ValidCpf(doc)) << doc;
        }
        if (type == "J") {
            EXPECT_TRUE(ValidCnpj(doc)) << doc;
            alphanumeric |= doc.find_first_not_of("0123456789") != std::string::npos;
        }
    }
    EXPECT_GE(suppliers, 8);
    EXPECT_TRUE(alphanumeric);
    EXPECT_EQ(types, (std::set<std::string>{"F", "I", "J", "O"}));
    EXPECT_EQ(homologation, (std::set<std::string>{"N", "S", "null"}));

    // Level-2 products sit under a level-1 product.
    soci::rowset<soci::row> products =
        db.Sql().prepare << "SELECT CDARVPROD, CDNVPRODUTO FROM PRODUTO ORDER BY CDARVPROD";
    std::set<std::string> level1;
    int level2 = 0;
    for (const soci::row& r : products) {
        const std::string code = r.get<std::string>(0), level = r.get<std::string>(1);
        if (level == "1") level1.insert(code);
        if (level == "2") {
            ++level2;
            EXPECT_TRUE(level1.count(code.substr(0, 2))) << code;
        }
    }
    EXPECT_FALSE(level1.empty());
    EXPECT_GT(level2, 0);
    int groups = 0, withDate = 0, withList = 0;
    db.Sql() << "SELECT COUNT(*) FROM GRUPOPER", soci::into(groups);
    db.Sql() << "SELECT COUNT(*) FROM PARAMFORNE WHERE DTREACONSIMPXML IS NOT NULL",
        soci::into(withDate);
    db.Sql() << "SELECT COUNT(*) FROM PARAMFORNE WHERE CDPRODCONSREPE IS NOT NULL",
        soci::into(withList);
    EXPECT_EQ(groups, 4);
    EXPECT_GE(withDate, 1);
    EXPECT_GE(withList, 1);
}

TEST(AppserverCli, ServeRefusesAPortInUse) {
    TestDatabase db("sqlite");
    ServerProcess first(db.Url());
    const RunResult r = RunAppserver(
        {"serve", "--db", db.Url(), "--listen", "127.0.0.1:" + std::to_string(first.Port())});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("não foi possível escutar"), std::string::npos) << r.err;
    EXPECT_EQ(first.Stop(), 0);
}

// A server started before its SQLite file exists answers database failures, does not create
// an empty database in its place, and serves once the file is there.
TEST(AppserverCli, ServeWaitsForAMissingSqliteFile) {
    TempDir dir;
    const std::string path = dir.Path() + "/later.db", url = "sqlite:" + path;
    ServerProcess server(url);
    HttpClient client(server.Port());
    const json answer = client.Call("GetParamForn", {"000001"});
    EXPECT_EQ(RpcErrorOf(answer)["code"], -32002) << answer.dump();
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_EQ(RunAppserver({"init", "--db", url, "--demo"}).exitCode, 0);
    EXPECT_EQ(client.Call("GetParamForn", {"000001"})["result"][0], "S");
    EXPECT_NE(server.Log().find("até que o banco de dados volte"), std::string::npos);
    EXPECT_EQ(server.Stop(), 0);
}

// What serve says at start when every call would be refused, passwords would cross the network in
// clear, the schema is not this server's, or it runs as root.
TEST(AppserverCli, ServeWarnsAtStartOfWhatWouldGoWrong) {
    TestDatabase db("sqlite");
    const TestCertificate pem = MakeCertificate(db.Dir(), "servidor");
    // The port is taken: each serve below says its warnings and stops, listening nowhere.
    ServerProcess busy(db.Url());
    const std::string port = ":" + std::to_string(busy.Port());
    const std::string noOperator = "nenhum operador ativo", plain = "HTTP sem criptografia em",
                      schema = "está na versão 4 e este servidor usa a versão",
                      root = "rodando como root";
    struct Case {
        std::function<void()> before;
        std::vector<std::string> args;
        std::vector<std::string> said, unsaid;
    };
    const std::vector<Case> cases = {
        {[] {}, {"--listen", "127.0.0.1" + port}, {noOperator}, {plain, schema}},
        {[&] { AddOperator(db.Url(), "ana", "senha-da-ana-1"); },
         {"--listen", "0.0.0.0" + port},
         {plain + " 0.0.0.0" + port},
         {noOperator}},
        {[] {},
         {"--listen", "0.0.0.0" + port, "--tls-cert", pem.cert, "--tls-key", pem.key},
         {},
         {plain, noOperator}},
        {[&] {
             RunAppserver({"operator", "disable", "ana", "--db", db.Url()});
         },
         {"--listen", "127.0.0.1" + port},
         {noOperator},
         {plain}},
        {[] {}, {"--listen", "127.0.0.1" + port, "--auth", "off"}, {}, {noOperator}},
        {[&] { db.Sql() << "PRAGMA user_version = 4"; },
         {"--listen", "127.0.0.1" + port, "--auth", "off"},
         {schema},
         {}},
    };
    for (const Case& c : cases) {
        c.before();
        std::vector<std::string> args = {"serve", "--db", db.Url()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = RunAppserver(args);
        SCOPED_TRACE(args[4] + " " + r.err);
        EXPECT_EQ(r.exitCode, 1);
        for (const std::string& text : c.said)
            EXPECT_NE(r.err.find(text), std::string::npos) << text;
        for (const std::string& text : c.unsaid)
            EXPECT_EQ(r.err.find(text), std::string::npos) << text;
        EXPECT_EQ(r.err.find(root) != std::string::npos, ::geteuid() == 0);
    }
    EXPECT_EQ(busy.Stop(), 0);
}

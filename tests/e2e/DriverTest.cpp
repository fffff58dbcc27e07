// The script driver's own rules through hostapp: refused commands change nothing, blank and
// comment lines are skipped, every command gives exactly one line.
#include "E2eFixture.h"

#include <array>
#include <fstream>

namespace {

class DriverTest : public E2eTest {};

TEST_P(DriverTest, RefusedCommandsAnswerAnErrorAndChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("11222333000181"));
    Ok({{"do", "focus"}, {"control", "dbeNrDiasBloqNF"}});
    const json before = State();
    ASSERT_EQ(before["controls"]["sbtConfirma"]["enabled"], false);

    struct Case {
        std::string line;
        std::string error; // the start of the error text
    };
    const std::vector<Case> cases = {
        {R"({"do":"click","control":"dckSimples")", "JSON inválido"},
        {R"(["do","click"])", "o comando deve ser um objeto JSON"},
        {R"({"control":"dckSimples"})", "o comando precisa de \"do\""},
        {R"({"do":"fly"})", "comando desconhecido: fly"},
        {R"({"do":"click","control":"dckNada"})", "controle desconhecido: dckNada"},
        {R"({"do":"click","control":"sbtConfirma"})", "controle desabilitado: sbtConfirma"},
        {R"({"do":"type","control":"edtNmRasSocForn","text":"x"})",
         "controle desabilitado: edtNmRasSocForn"},
        {R"({"do":"type","control":"lblIdForne","text":"x"})", "o controle não é uma caixa"},
        {R"({"do":"clear","control":"lblIdForne"})", "o controle não é uma caixa"},
        {R"({"do":"type","control":"dbeNrDiasBloqNF","text":5})", "o comando precisa de \"text\""},
        {R"({"do":"key","control":"dbeNrDiasBloqNF","key":"F1"})", "tecla desconhecida: F1"},
        {R"({"do":"pick","control":"dckSimples","row":0})", "o controle não é um botão"},
        {R"({"do":"pick","control":"btpFornecedor"})", "\"row\" deve ser um número"},
        {R"({"do":"picklist","control":"btpFornecedor","keys":"01"})", "\"keys\" deve ser"},
        {R"({"do":"click","control":"dckSimples","answers":"yes"})", "\"answers\" deve ser"},
        {R"({"do":"click","control":"dckSimples","answers":[true]})", "respostas são textos"},
        {R"({"do":"config"})", "config precisa de"},
    };
    for (const Case& c : cases) {
        json a = host_->Send(c.line);
        EXPECT_EQ(a["ok"], false) << c.line;
        EXPECT_EQ(a.value("error", "").rfind(c.error, 0), 0u) << c.line << " -> " << a.dump();
        EXPECT_EQ(State(), before) << "changed by " << c.line;
    }
    EXPECT_TRUE(db_->LogRows("000001").empty());
}

TEST_P(DriverTest, DuringAnEditTheSupplierBoxRefusesInput) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("11222333000181"));
    Ok({{"do", "click"}, {"control", "dckSimples"}});
    const json before = State();
    for (const json& cmd :
         {json{{"do", "type"}, {"control", "medNrInsJurNF"}, {"text", "45782163000101"}},
          json{{"do", "focus"}, {"control", "medNrInsJurNF"}},
          json{{"do", "pick"}, {"control", "btpFornecedor"}, {"row", 0}}}) {
        json a = Do(cmd);
        EXPECT_EQ(a["ok"], false) << cmd.dump();
        EXPECT_EQ(a["error"].get<std::string>().rfind("controle desabilitado: ", 0), 0u)
            << a.dump();
        EXPECT_EQ(State(), before) << cmd.dump();
    }
}

TEST_P(DriverTest, WithoutAnOpenScreenOnlyOpenStateAndConfigRun) {
    Start();
    for (const char* line :
         {R"({"do":"close"})", R"({"do":"tab"})", R"({"do":"click","control":"sbtConfirma"})"}) {
        json a = host_->Send(line);
        EXPECT_EQ(a["ok"], false) << line;
        EXPECT_EQ(a["error"], "a tela não está aberta") << line;
    }
    EXPECT_EQ(State()["screen"]["open"], false);
    Ok({{"do", "config"}, {"today", "2027-01-15"}});
    Ok({{"do", "open"}});
}

TEST_P(DriverTest, BlankAndCommentLinesGiveNoAnswer) {
    Start();
    host_->Write("\n   \n\t\n# {\"do\":\"open\"}\n   # indented comment\n");
    json a = Ok({{"do", "state"}});
    EXPECT_EQ(a["state"]["screen"]["open"], false) << "the commented open did not run";
    EXPECT_EQ(host_->ReadLine(300), std::nullopt) << "no line for the skipped ones";
    // A command line that only starts with blanks is still a command.
    json b = host_->Send("   {\"do\":\"open\"}   ");
    EXPECT_EQ(b["ok"], true) << b.dump();
    EXPECT_EQ(State()["screen"]["open"], true);
}

TEST_P(DriverTest, AScriptFileGivesOneLinePerCommandAndExitsZero) {
    TempDir dir;
    const std::string path = dir.Path() + "/roteiro.jsonl";
    const std::vector<std::string> commands = {
        R"({"do":"open"})",
        R"({"do":"type","control":"medNrInsJurNF","text":"52998224725"})",
        R"({"do":"tab"})",
        R"({not json)",
        R"({"do":"state"})",
        R"({"do":"click","control":"dckSimples"})",
        R"({"do":"key","control":"dckSimples","key":"Esc"})",
        R"({"do":"fly"})",
        R"({"do":"close","answers":["yes"]})",
        R"({"do":"state"})",
    };
    {
        std::ofstream out(path);
        out << "# a session in a file\n\n";
        for (const std::string& c : commands)
            out << c << "\n\n";
        out << "# the end";
    }
    std::vector<std::string> args = BaseArgs();
    args.insert(args.end(), {"--script", path});
    HostappProcess run(args);
    EXPECT_EQ(run.Finish(), 0) << run.Stderr();
    const auto& lines = run.RemainingLines();
    ASSERT_EQ(lines.size(), commands.size());
    std::vector<bool> ok;
    for (const std::string& l : lines)
        ok.push_back(json::parse(l).value("ok", false));
    EXPECT_EQ(ok,
              (std::vector<bool>{true, true, true, false, true, true, true, false, true, true}));
    json loaded = json::parse(lines[4])["state"];
    EXPECT_EQ(loaded["record"]["fields"]["CDFORNECED"], "000004");
    EXPECT_EQ(loaded["controls"]["medNrInsJurNF"]["text"], "529.982.247-25");
    json esc = json::parse(lines[6]);
    EXPECT_EQ(esc["dialogs"][0]["unanswered"], true);
    // The edit is still pending: closing asks first.
    json close = json::parse(lines[8]);
    EXPECT_EQ(close["dialogs"][0]["text"], "Cancelar operação?");
    EXPECT_EQ(close["dialogs"][0]["answer"], "yes");
    EXPECT_EQ(json::parse(lines[9])["state"]["screen"]["open"], false);
}

// The edit's own keys reach the model as the window's do: a selection, Delete, a paste that the
// field's key filter and length still govern.
TEST_P(DriverTest, SelectDeleteAndPasteWorkTheTextAsTheKeyboardDoes) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("11222333000181"));
    Ok({{"do", "clear"}, {"control", "dbeNrDiasBloqNF"}});
    Ok({{"do", "type"}, {"control", "dbeNrDiasBloqNF"}, {"text", "123"}});
    Ok({{"do", "select"}, {"control", "dbeNrDiasBloqNF"}, {"start", 0}, {"length", 2}});
    Ok({{"do", "delete"}, {"control", "dbeNrDiasBloqNF"}});
    EXPECT_EQ(Control("dbeNrDiasBloqNF")["text"], "3");
    Ok({{"do", "paste"}, {"control", "dbeNrDiasBloqNF"}, {"text", "9-8.76"}});
    EXPECT_EQ(Control("dbeNrDiasBloqNF")["text"], "9873");
    EXPECT_EQ(State()["record"]["state"], "edit");

    const json before = State();
    for (const char* line : {R"({"do":"select","control":"dbeNrDiasBloqNF","length":1})",
                             R"({"do":"select","control":"dbeNrDiasBloqNF","start":-1,"length":1})",
                             R"({"do":"delete","control":"lblIdForne"})",
                             R"({"do":"paste","control":"dbeNrDiasBloqNF"})"}) {
        json a = host_->Send(line);
        EXPECT_EQ(a["ok"], false) << line;
        EXPECT_EQ(State(), before) << "changed by " << line;
    }
}

// The keys of the window drive the script too: caret keys, Space, Tab, the arrows through
// "Todos" and "Lista", F4 and Alt+Down for the lists, Ctrl+S.
TEST_P(DriverTest, TheKeyboardsKeysDriveTheScreen) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("11222333000181"));
    // Each step: control, key, then what is asked ("focus", "list", CONTROL.PROPERTY) and found.
    const std::vector<std::array<std::string, 4>> steps = {
        {"dbeNrDiasBloqNF", "Home", "", ""},
        {"dbeNrDiasBloqNF", "1", "dbeNrDiasBloqNF.text", "\"130\""},
        {"dbeNrDiasBloqNF", "Tab", "focus", "\"dckBloqNFRelacForn\""},
        {"dckBloqNFRelacForn", "Space", "dckBloqNFRelacForn.checked", "false"},
        {"dbeQtRepeteProdNF", "5", "", ""},
        {"dbeQtRepeteProdNF", "Tab", "focus", "\"rbtTodosProdSerConsidera\""},
        {"rbtTodosProdSerConsidera", "Right", "rbtListaProdSerConsidera.checked", "true"},
        {"rbtListaProdSerConsidera", "Up", "focus", "\"rbtTodosProdSerConsidera\""},
        {"rbtTodosProdSerConsidera", "Down", "rbtListaProdSerConsidera.checked", "true"},
        {"rbtListaProdSerConsidera", "F4", "list", "\"Produto\""},
        {"dbeQtRepeteProdNF", "Alt+Down", "list", "\"Produto\""},
        {"dbeCdGrupoPermLan", "F4", "list", "\"Grupo de Operadores\""},
        {"dckSimples", "Ctrl+S", "sbtConfirma.enabled", "false"},
        {"medNrInsJurNF", "F4", "list", "\"Fornecedor\""},
    };
    for (const auto& [control, key, asked, found] : steps) {
        SCOPED_TRACE(control + " " + key);
        json a = Ok({{"do", "key"}, {"control", control}, {"key", key}});
        if (asked == "list") {
            EXPECT_EQ(a["list"]["title"], json::parse(found));
        } else if (asked == "focus") {
            EXPECT_EQ(State()["screen"]["focus"], json::parse(found));
        } else if (!asked.empty()) {
            const auto dot = asked.find('.');
            EXPECT_EQ(Control(asked.substr(0, dot))[asked.substr(dot + 1)], json::parse(found));
        }
    }
    auto row = db_->ParamRow("000001");
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ((*row)["NRDIASBLOQNFFOR"], 130);
    EXPECT_EQ((*row)["QTREPETEPRODNF"], 5);
    EXPECT_EQ((*row)["IDBLQNFRELAFOAF"], "N");
}

TEST_P(DriverTest, AScriptThatCannotBeReadIsAnErrorExit) {
    std::vector<std::string> args = BaseArgs();
    args.insert(args.end(), {"--script", "/nonexistent/roteiro.jsonl"});
    HostappProcess run(args);
    EXPECT_EQ(run.Finish(), 1);
    EXPECT_TRUE(run.RemainingLines().empty());
    EXPECT_NE(run.Stderr().find("/nonexistent/roteiro.jsonl"), std::string::npos);
}

KX_E2E_ENGINES(DriverTest);

} // namespace

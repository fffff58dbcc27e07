// A user's session through hostapp: loading a supplier, editing, saving to the real server and
// database, cancelling with Esc and the questions it asks, the consistency date and its texts.
#include "E2eFixture.h"

namespace {

class SessionTest : public E2eTest {};

const char* kRefusal = "Operação bloqueada. Data inicial para validações das consistências deve "
                       "ser maior ou igual ao dia de hoje (%s).";

std::string WithDate(std::string text, const std::string& date) {
    return text.replace(text.find("%s"), 2, date);
}

TEST_P(SessionTest, TypeTheInscriptionEditAFlagAndConfirm) {
    Start();
    Ok({{"do", "open"}});
    json typed = Ok({{"do", "type"}, {"control", "medNrInsJurNF"}, {"text", "11222333000181"}});
    EXPECT_EQ(BusyKinds(typed), std::vector<int>{}) << "nothing is loaded while typing";
    json tab = Ok({{"do", "tab"}});
    EXPECT_EQ(DialogTexts(tab), std::vector<std::string>{});
    EXPECT_EQ(tab["busy"], json::parse(R"([{"kind":6,"text":""}])"));

    json s = State();
    EXPECT_NE(s["screen"]["focus"], "medNrInsJurNF") << "the focus moved on";
    EXPECT_EQ(s["record"]["state"], "browse");
    EXPECT_EQ(s["record"]["changeCount"], 0);
    const json& f = s["record"]["fields"];
    EXPECT_EQ(f["CDFORNECED"], "000001");
    EXPECT_EQ(f["NRDIASBLOQNFFOR"], 30);
    EXPECT_EQ(f["IDSIMPLESNACIONAL"], "S");
    EXPECT_EQ(f["VRMAXPERMFORN"], 1500.5);
    EXPECT_EQ(f["CDGRPERMLANMAX"], "02");
    EXPECT_EQ(f["DSGRUPOPER"], "Fiscal") << "joined by the server";
    EXPECT_EQ(f["IDFORNEHOMO"], "S");
    EXPECT_EQ(f["DTREACONSIMPXML"], "2026-11-20");
    EXPECT_EQ(f["QTREPETEPRODNF"], nullptr);
    EXPECT_EQ(s["globals"]["dtDataAtual"], "2026-12-08") << "the server's day";
    const json& c = s["controls"];
    EXPECT_EQ(c["medNrInsJurNF"]["text"], "11.222.333/0001-81");
    EXPECT_EQ(c["edtNmRasSocForn"]["text"], "Distribuidora Alfa Ltda");
    EXPECT_EQ(c["lblIdForne"]["caption"], "Homologado");
    EXPECT_EQ(c["dckSimples"]["checked"], true);
    EXPECT_EQ(c["dbeValMaxPerm"]["text"], "1.500,50") << "display format applied";
    EXPECT_EQ(c["dbeDescGrupoXML"]["text"], "Fiscal");
    EXPECT_EQ(c["dbdDtReaConsImpXML"]["text"], "20/11/2026");
    EXPECT_EQ(c["dbdDtReaConsImpXML"]["enabled"], false) << "a stored date stays closed";
    EXPECT_EQ(c["dbdDtReaConsImpXML"]["color"], "clBtnFace");

    json click = Ok({{"do", "click"}, {"control", "dckSimples"}});
    EXPECT_EQ(DialogTexts(click), std::vector<std::string>{});
    s = State();
    EXPECT_EQ(s["record"]["state"], "edit");
    EXPECT_EQ(s["record"]["fields"]["IDSIMPLESNACIONAL"], "N");
    EXPECT_EQ(s["controls"]["sbtConfirma"]["enabled"], true);
    EXPECT_EQ(s["controls"]["sbtCancela"]["enabled"], true);
    EXPECT_EQ(s["controls"]["medNrInsJurNF"]["enabled"], false) << "no other supplier mid-edit";
    EXPECT_EQ(s["controls"]["btpFornecedor"]["enabled"], false);
    EXPECT_EQ(db_->ParamRow("000001")->at("IDSIMPLESNACIONAL"), "S") << "nothing saved yet";

    json confirm = Ok({{"do", "click"}, {"control", "sbtConfirma"}});
    EXPECT_EQ(DialogTexts(confirm), std::vector<std::string>{});
    EXPECT_EQ(confirm["busy"],
              json::parse(R"([{"kind":1,"text":"Aplicando alterações no servidor..."},
                                               {"kind":6,"text":""}])"))
        << "the save, then the reload";

    auto row = db_->ParamRow("000001");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->at("IDSIMPLESNACIONAL"), "N");
    EXPECT_EQ(row->at("NRDIASBLOQNFFOR"), 30) << "untouched fields stay";
    EXPECT_EQ(row->at("IDOBRIMPXMLNF"), "S");
    auto log = db_->LogRows("000001");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("NMCAMPO"), "IDSIMPLESNACIONAL");
    EXPECT_EQ(log[0].at("DSVALORANT"), "S");
    EXPECT_EQ(log[0].at("DSVALORNOVO"), "N");
    EXPECT_EQ(log[0].at("CDOPERADOR"), kOperator);

    s = State();
    EXPECT_EQ(s["record"]["state"], "browse");
    EXPECT_EQ(s["record"]["changeCount"], 0);
    EXPECT_EQ(s["record"]["fields"]["IDSIMPLESNACIONAL"], "N") << "reloaded from the server";
    EXPECT_EQ(s["controls"]["dckSimples"]["checked"], false);
    EXPECT_EQ(s["controls"]["sbtConfirma"]["enabled"], false);
    EXPECT_EQ(s["controls"]["sbtCancela"]["enabled"], false);
    EXPECT_EQ(s["controls"]["medNrInsJurNF"]["enabled"], true);
}

TEST_P(SessionTest, EscAsksAndOnlyYesDiscardsTheEdit) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("11222333000181"));
    json idle = Ok({{"do", "key"}, {"control", "dckVencXML"}, {"key", "Esc"}});
    EXPECT_EQ(DialogTexts(idle), std::vector<std::string>{}) << "nothing to cancel in browse";

    Ok({{"do", "click"}, {"control", "dckVencXML"}});
    ASSERT_EQ(State()["record"]["fields"]["IMPVENCXML"], "S");

    json no = Ok({{"do", "key"}, {"control", "dckVencXML"}, {"key", "Esc"}, {"answers", {"no"}}});
    EXPECT_EQ(no["dialogs"], json::parse(R"([{"kind":"question","text":"Cancelar operação?",
                                              "answer":"no"}])"));
    json s = State();
    EXPECT_EQ(s["record"]["state"], "edit");
    EXPECT_EQ(s["record"]["fields"]["IMPVENCXML"], "S") << "the edit is kept";
    EXPECT_EQ(s["controls"]["sbtConfirma"]["enabled"], true);

    json none = Ok({{"do", "key"}, {"control", "dckVencXML"}, {"key", "Esc"}});
    EXPECT_EQ(none["dialogs"], json::parse(R"([{"kind":"question","text":"Cancelar operação?",
                                                "answer":"no","unanswered":true}])"));
    EXPECT_EQ(State()["record"]["fields"]["IMPVENCXML"], "S");

    // Answers are per command: the "yes" left over here does not reach the next command.
    json yes =
        Ok({{"do", "key"}, {"control", "dckVencXML"}, {"key", "Esc"}, {"answers", {"yes", "yes"}}});
    EXPECT_EQ(yes["dialogs"], json::parse(R"([{"kind":"question","text":"Cancelar operação?",
                                               "answer":"yes"}])"));
    EXPECT_EQ(BusyKinds(yes), std::vector<int>{6}) << "the row is loaded again";
    s = State();
    EXPECT_EQ(s["record"]["state"], "browse");
    EXPECT_EQ(s["record"]["changeCount"], 0);
    EXPECT_EQ(s["record"]["fields"]["IMPVENCXML"], "N");
    EXPECT_EQ(s["controls"]["sbtConfirma"]["enabled"], false);

    Ok({{"do", "click"}, {"control", "dckVencXML"}});
    json later = Ok({{"do", "key"}, {"control", "dckVencXML"}, {"key", "Esc"}});
    EXPECT_EQ(later["dialogs"][0].value("unanswered", false), true);
    EXPECT_EQ(State()["record"]["state"], "edit");

    EXPECT_EQ(db_->ParamRow("000001")->at("IMPVENCXML"), "N");
    EXPECT_TRUE(db_->LogRows("000001").empty());
}

TEST_P(SessionTest, ASaveTheServerCannotTakeIsShownAndTheChangeIsDiscarded) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("11222333000181"));
    Ok({{"do", "click"}, {"control", "dckSimples"}});
    server_->Stop();
    json confirm = Ok({{"do", "click"}, {"control", "sbtConfirma"}});
    ASSERT_EQ(confirm["dialogs"].size(), 1u) << confirm.dump();
    EXPECT_EQ(confirm["dialogs"][0]["kind"], "error");
    EXPECT_NE(confirm["dialogs"][0]["text"], "");
    EXPECT_EQ(BusyKinds(confirm), std::vector<int>{1});
    json s = State();
    EXPECT_EQ(s["record"]["state"], "browse");
    EXPECT_EQ(s["record"]["changeCount"], 0);
    EXPECT_EQ(s["record"]["fields"]["IDSIMPLESNACIONAL"], "S") << "the change log was discarded";
    EXPECT_EQ(s["controls"]["sbtConfirma"]["enabled"], true) << "the failure ends Confirm early";
    EXPECT_EQ(db_->ParamRow("000001")->at("IDSIMPLESNACIONAL"), "S");
}

TEST_P(SessionTest, TheRefusalOfAnEarlyDateNamesTheWorkstationsDay) {
    Start();
    Ok({{"do", "open"}});
    ASSERT_EQ(DialogTexts(Load("45782163000101")), std::vector<std::string>{});
    ASSERT_FALSE(db_->ParamRow("000002")) << "a supplier without a stored row";
    Ok({{"do", "click"}, {"control", "dckReaConsImpXml"}});
    json box = Control("dbdDtReaConsImpXML");
    EXPECT_EQ(box["enabled"], true);
    EXPECT_EQ(box["color"], "clInfoBk");
    EXPECT_EQ(box["text"], "08/12/2026") << "filled with the server's day";

    Ok({{"do", "clear"}, {"control", "dbdDtReaConsImpXML"}});
    Ok({{"do", "type"}, {"control", "dbdDtReaConsImpXML"}, {"text", "07/12/2026"}});
    ASSERT_EQ(Control("dbdDtReaConsImpXML")["text"], "07/12/2026");

    // The server's day decides; the text names the workstation's day, whatever it is.
    struct Case {
        const char* today; // null: as started (--today 2026-12-08)
        const char* shown;
    };
    for (const Case& c : {Case{nullptr, "08/12/2026"}, Case{"2027-01-15", "15/01/2027"},
                          Case{"2026-12-01", "01/12/2026"}}) {
        if (c.today) Ok({{"do", "config"}, {"today", c.today}});
        json confirm = Ok({{"do", "click"}, {"control", "sbtConfirma"}});
        EXPECT_EQ(DialogTexts(confirm),
                  std::vector<std::string>{"error:" + WithDate(kRefusal, c.shown)})
            << (c.today ? c.today : "--today");
        json s = State();
        EXPECT_EQ(s["record"]["state"], "edit");
        EXPECT_EQ(s["screen"]["focus"], "dbdDtReaConsImpXML");
        EXPECT_EQ(s["globals"]["dtDataAtual"], "2026-12-08") << "config leaves the server's day";
    }
    EXPECT_FALSE(db_->ParamRow("000002"));

    // The server's own day passes, is confirmed once and then stays closed.
    Ok({{"do", "clear"}, {"control", "dbdDtReaConsImpXML"}});
    Ok({{"do", "type"}, {"control", "dbdDtReaConsImpXML"}, {"text", "08/12/2026"}});
    json declined = Ok({{"do", "click"}, {"control", "sbtConfirma"}, {"answers", {"no"}}});
    ASSERT_EQ(declined["dialogs"].size(), 1u) << declined.dump();
    EXPECT_EQ(declined["dialogs"][0]["kind"], "warning");
    EXPECT_EQ(declined["dialogs"][0]["answer"], "no");
    EXPECT_EQ(State()["record"]["state"], "edit");
    EXPECT_FALSE(db_->ParamRow("000002"));

    json confirmed = Ok({{"do", "click"}, {"control", "sbtConfirma"}, {"answers", {"yes"}}});
    EXPECT_EQ(confirmed["dialogs"],
              json::array({{{"kind", "warning"},
                            {"text", "Confirma a data inicial para as validações das "
                                     "consistências na importação XML (geração de painel) para "
                                     "o dia 08/12/2026? Essa data não poderá ser alterada após a "
                                     "confirmação."},
                            {"answer", "yes"}}}));
    EXPECT_EQ(BusyKinds(confirmed), (std::vector<int>{1, 6}));
    auto row = db_->ParamRow("000002");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->at("IDREACONSIMPXML"), "S");
    EXPECT_EQ(row->at("DTREACONSIMPXML"), "2026-12-08");
    box = Control("dbdDtReaConsImpXML");
    EXPECT_EQ(box["enabled"], false);
    EXPECT_EQ(box["color"], "clBtnFace");
    EXPECT_EQ(box["text"], "08/12/2026");
}

KX_E2E_ENGINES(SessionTest);

} // namespace

// Opening and closing the screen through hostapp, the host's settings (options, environment and
// the config command) and where the screen connects.
#include "E2eFixture.h"

namespace {

class LifecycleTest : public E2eTest {};

std::string Address(const ServerProcess& s) {
    return "127.0.0.1:" + std::to_string(s.Port());
}

TEST_P(LifecycleTest, OpenShowsTheConnectedScreenAndCloseTakesItAway) {
    Start();
    json before = State();
    EXPECT_EQ(before["screen"], json({{"open", false}}));
    EXPECT_EQ(before["controls"], json::object());
    EXPECT_EQ(before["globals"]["boStCriado"], false);

    json open = Ok({{"do", "open"}});
    EXPECT_EQ(DialogTexts(open), std::vector<std::string>{});
    EXPECT_EQ(BusyKinds(open), std::vector<int>{0}) << "the connect runs under the animation";

    json s = State();
    EXPECT_EQ(s["screen"], json({{"open", true},
                                 {"caption", "Parâmetros por Fornecedor"},
                                 {"windowState", "normal"},
                                 {"focus", "medNrInsJurNF"}}));
    EXPECT_EQ(s["connection"],
              json({{"connected", true}, {"host", "127.0.0.1"}, {"port", server_->Port()}}));
    EXPECT_EQ(s["cursor"], 0) << "the hourglass is put back after the creation";
    EXPECT_EQ(s["record"],
              json({{"state", "inactive"}, {"changeCount", 0}, {"fields", json::object()}}));
    EXPECT_EQ(
        s["globals"],
        json({{"boStCriado", true}, {"dtDataAtual", "1899-12-30"}, {"stProdSerConsidera", ""}}));
    const json& c = s["controls"];
    EXPECT_EQ(c["medNrInsJurNF"], json({{"class", "TMaskEdit"},
                                        {"parent", "grbFornecedor"},
                                        {"enabled", true},
                                        {"visible", true},
                                        {"color", "clInfoBk"},
                                        {"text", ""},
                                        {"editText", ""},
                                        {"editMask", ""},
                                        {"maxLength", 20},
                                        {"tabOrder", 0}}));
    for (const char* b : {"sbtConfirma", "sbtCancela", "btpProdSerConsidera"})
        EXPECT_EQ(c[b]["enabled"], false) << b;
    EXPECT_EQ(c["rbtTodosProdSerConsidera"]["checked"], true);
    EXPECT_EQ(c["edtNmRasSocForn"]["enabled"], false);
    EXPECT_EQ(c["lblIdForne"]["caption"], "");

    json close = Ok({{"do", "close"}});
    EXPECT_EQ(DialogTexts(close), std::vector<std::string>{});
    json after = State();
    EXPECT_EQ(after["screen"], json({{"open", false}}));
    EXPECT_EQ(after["controls"], json::object());
    EXPECT_EQ(after["record"]["state"], "inactive");
    EXPECT_EQ(after["connection"]["connected"], false);
    EXPECT_EQ(after["globals"]["boStCriado"], false);
}

TEST_P(LifecycleTest, OpeningAgainReshowsTheInstanceAndAfterACloseCreatesANewOne) {
    ASSERT_NO_FATAL_FAILURE(OpenAndLoad("11222333000181"));
    json reopen = Ok({{"do", "open"}});
    EXPECT_EQ(BusyKinds(reopen), std::vector<int>{}) << "no second creation, no second connect";
    json s = State();
    EXPECT_EQ(s["record"]["fields"]["CDFORNECED"], "000001") << "the open instance keeps its row";
    EXPECT_EQ(s["controls"]["edtNmRasSocForn"]["text"], "Distribuidora Alfa Ltda");

    Ok({{"do", "close"}});
    json again = Ok({{"do", "open"}});
    EXPECT_EQ(BusyKinds(again), std::vector<int>{0});
    s = State();
    EXPECT_EQ(s["screen"]["open"], true);
    EXPECT_EQ(s["connection"]["connected"], true);
    EXPECT_EQ(s["record"]["state"], "inactive") << "a new instance starts empty";
    EXPECT_EQ(s["controls"]["edtNmRasSocForn"]["text"], "");
    EXPECT_EQ(s["globals"]["dtDataAtual"], "2026-12-08") << "the package's globals outlive it";
}

TEST_P(LifecycleTest, ConfigServerTakesEffectAtTheNextOpenAfterAClose) {
    ServerProcess second(db_->Url(), {"--today", "2026-12-08"});
    Start();
    Ok({{"do", "open"}});
    // Addresses that are not HOST:PORT are refused and leave the setting as it was.
    for (const char* bad : {"abc", "127.0.0.1:99999", "127.0.0.1:"}) {
        json a = Do({{"do", "config"}, {"server", bad}});
        EXPECT_EQ(a["ok"], false) << bad;
        EXPECT_NE(a.value("error", "").find(bad), std::string::npos) << a.dump();
    }
    EXPECT_EQ(Do({{"do", "config"}, {"today", "2026-13-45"}})["ok"], false);
    Ok({{"do", "close"}});
    Ok({{"do", "open"}});
    EXPECT_EQ(State()["connection"]["port"], server_->Port());

    json config = Ok({{"do", "config"}, {"server", Address(second)}});
    EXPECT_EQ(DialogTexts(config), std::vector<std::string>{});
    EXPECT_EQ(State()["connection"]["port"], server_->Port()) << "the open screen keeps its line";

    Ok({{"do", "open"}});
    EXPECT_EQ(State()["connection"]["port"], server_->Port()) << "re-showing does not reconnect";

    Ok({{"do", "close"}});
    Ok({{"do", "open"}});
    json s = State();
    EXPECT_EQ(s["connection"],
              json({{"connected", true}, {"host", "127.0.0.1"}, {"port", second.Port()}}));

    // With the first server gone, loading still works: the calls go to the second one.
    server_->Stop();
    json load = Load("33987654000100");
    EXPECT_EQ(DialogTexts(load), std::vector<std::string>{});
    EXPECT_EQ(State()["record"]["fields"]["CDFORNECED"], "000008");
    second.Stop();
}

TEST_P(LifecycleTest, ConfigToAServerThatIsNotThereLeavesTheScreenUnconnected) {
    Start();
    ServerProcess gone(db_->Url());
    const std::string address = Address(gone);
    gone.Stop();
    Ok({{"do", "config"}, {"server", address}});
    json open = Ok({{"do", "open"}});
    EXPECT_EQ(DialogTexts(open), std::vector<std::string>{})
        << "a failed connect does not raise into the screen";
    json s = State();
    EXPECT_EQ(s["screen"]["open"], true);
    EXPECT_EQ(s["connection"]["connected"], false);
    EXPECT_EQ(s["connection"]["port"], gone.Port());
}

TEST_P(LifecycleTest, SettingsComeFromTheEnvironmentWhenNoOptionIsGiven) {
    host_ = std::make_unique<HostappProcess>(
        std::vector<std::string>{"--today", "2026-12-08", "--script", "-"},
        std::map<std::string, std::string>{{"KX_DB", db_->Url()},
                                           {"KX_SERVER", Address(*server_)},
                                           {"KX_OPERATOR", "operador.ambiente"}});
    Ok({{"do", "open"}});
    EXPECT_EQ(State()["connection"]["port"], server_->Port());
    EXPECT_EQ(DialogTexts(Load("45782163000101")), std::vector<std::string>{});
    EXPECT_EQ(State()["controls"]["edtNmRasSocForn"]["text"], "Comercial Beta S.A.")
        << "the lookup reads the database of KX_DB";
    Ok({{"do", "click"}, {"control", "dckSimples"}});
    Ok({{"do", "click"}, {"control", "sbtConfirma"}});
    auto log = db_->LogRows("000002");
    ASSERT_FALSE(log.empty());
    for (const auto& row : log)
        EXPECT_EQ(row.at("CDOPERADOR"), "operador.ambiente");
}

KX_E2E_ENGINES(LifecycleTest);

} // namespace

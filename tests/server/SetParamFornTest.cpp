// SetParamForn: saving, defaults becoming a row, audit rows, validation and conflicts.
#include "ServerHarness.h"

namespace {

const char* kConflict =
    "Registro alterado por outro usuário. Recarregue o fornecedor e repita a alteração.";

json Save(HttpClient& client, const json& delta, bool daysEmpty = false,
          const std::optional<std::string>& op = std::nullopt) {
    return client.Call("SetParamForn", {delta, daysEmpty}, op);
}

} // namespace

class SetParamFornTest : public ServerTest {
protected:
    std::string Snapshot() {
        return db_->Dump("SELECT * FROM PARAMFORNE ORDER BY CDFORNECED") +
               db_->Dump("SELECT * FROM PARAMFORNELOG ORDER BY IDPARAMFORNELOG");
    }
};
KX_ENGINES(SetParamFornTest);

TEST_P(SetParamFornTest, UpdateStoresChangesAndOneAuditRowPerChangedColumn) {
    const json packet = LoadPacket(*client_, "000001");
    const json changes = {{"IDSIMPLESNACIONAL", "N"}, // S -> N
                          {"IDUTPRIGXML", "S"},       // N -> S
                          {"VRMAXPERMFORN", 1500.5},  // unchanged: no audit row
                          {"QTREPETEPRODNF", 4},      // null -> 4
                          {"CDGRPERMLANMAX", "04"},   // joined description is not stored
                          {"DSGRUPOPER", "Gerência"},
                          {"CDPRODCONSREPE", "01;0201"}}; // "" (null) -> list
    EXPECT_EQ(Save(*client_, UpdateDelta(packet, changes), false, "Ana Lúcia")["result"],
              json::array({"S"}));

    const auto row = db_->ParamRow("000001");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->at("IDSIMPLESNACIONAL"), "N");
    EXPECT_EQ(row->at("IDUTPRIGXML"), "S");
    EXPECT_EQ(row->at("QTREPETEPRODNF"), 4.0);
    EXPECT_EQ(row->at("CDGRPERMLANMAX"), "04");
    EXPECT_EQ(row->at("CDPRODCONSREPE"), "01;0201");
    EXPECT_EQ(row->at("NRDIASBLOQNFFOR"), 30.0);
    const json reloaded = LoadPacket(*client_, "000001");
    std::string description;
    db_->Sql() << "SELECT DSGRUPOPER FROM GRUPOPER WHERE CDGRUPOPER = '04'",
        soci::into(description);
    EXPECT_EQ(reloaded["rows"][0][15], description);

    const auto log = db_->LogRows("000001");
    std::map<std::string, std::pair<json, json>> byField;
    for (const auto& r : log) {
        byField[r.at("NMCAMPO").get<std::string>()] = {r.at("DSVALORANT"), r.at("DSVALORNOVO")};
        EXPECT_EQ(r.at("CDOPERADOR"), "Ana Lúcia");
        EXPECT_EQ(r.at("DTALTERACAO").get<std::string>().substr(0, 10), "2026-12-08");
    }
    EXPECT_EQ(log.size(), 5u);
    EXPECT_EQ(byField["IDSIMPLESNACIONAL"], std::make_pair(json("S"), json("N")));
    EXPECT_EQ(byField["IDUTPRIGXML"], std::make_pair(json("N"), json("S")));
    EXPECT_EQ(byField["QTREPETEPRODNF"], std::make_pair(json(), json("4")));
    EXPECT_EQ(byField["CDGRPERMLANMAX"], std::make_pair(json("02"), json("04")));
    EXPECT_EQ(byField["CDPRODCONSREPE"], std::make_pair(json(), json("01;0201")));
}

TEST_P(SetParamFornTest, SupplierWithoutRowGetsItInsertedFromItsDefaults) {
    ASSERT_FALSE(db_->ParamRow("000002"));
    const json packet = LoadPacket(*client_, "000002");
    const json changes = {{"IDOBRIMPXMLNF", "S"}, {"NRDIASBLOQNFFOR", 15}, {"CDPRODCONSREPE", ""}};
    EXPECT_EQ(Save(*client_, UpdateDelta(packet, changes))["result"], json::array({"S"}));
    const auto row = db_->ParamRow("000002");
    ASSERT_TRUE(row);
    for (const auto& [column, value] : *row) {
        if (column == "IDOBRIMPXMLNF")
            EXPECT_EQ(value, "S");
        else if (column == "NRDIASBLOQNFFOR")
            EXPECT_EQ(value, 15.0);
        else if (column == "CDFORNECED")
            EXPECT_EQ(value, "000002");
        else if (column.rfind("ID", 0) == 0 || column == "IMPVENCXML")
            EXPECT_EQ(value, "N") << column;
        else
            EXPECT_TRUE(value.is_null()) << column; // the empty list is stored as null
    }
    const auto log = db_->LogRows("000002");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].at("CDOPERADOR").is_null()); // no X-Operator header

    // The default row is stale now for the columns that were saved.
    EXPECT_EQ(Save(*client_, UpdateDelta(packet, {{"NRDIASBLOQNFFOR", 20}}))["error"]["message"],
              kConflict);
}

TEST_P(SetParamFornTest, DefaultRowThatWasNotTheOriginalIsAConflict) {
    json packet = LoadPacket(*client_, "000002");
    packet["rows"][0][7] = "S"; // IDSIMPLESNACIONAL as if read from a row since deleted
    const std::string before = Snapshot();
    const json answer = Save(*client_, UpdateDelta(packet, {{"IDUTPRIGXML", "S"}}));
    EXPECT_EQ(RpcErrorOf(answer)["code"], -32001);
    EXPECT_EQ(RpcErrorOf(answer)["message"], kConflict);
    EXPECT_EQ(Snapshot(), before);
}

TEST_P(SetParamFornTest, DaysEmptyStoresNullWhateverTheDeltaSays) {
    const json packet = LoadPacket(*client_, "000001");
    EXPECT_EQ(Save(*client_, UpdateDelta(packet, {{"NRDIASBLOQNFFOR", 45}}), true)["result"],
              json::array({"S"}));
    EXPECT_TRUE(db_->ParamRow("000001")->at("NRDIASBLOQNFFOR").is_null());
    const auto log = db_->LogRows("000001");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("DSVALORANT"), "30");
    EXPECT_TRUE(log[0].at("DSVALORNOVO").is_null());
}

TEST_P(SetParamFornTest, SameValuesAndEmptyDeltaChangeNothing) {
    const json packet = LoadPacket(*client_, "000001");
    const std::string before = Snapshot();
    EXPECT_EQ(Save(*client_, UpdateDelta(packet, {{"IDSIMPLESNACIONAL", "S"},
                                                  {"VRMAXPERMFORN", 1500.50},
                                                  {"NRDIASBLOQNFFOR", 30.0},
                                                  {"DTREACONSIMPXML", "2026-11-20T00:00:00"},
                                                  {"CDPRODCONSREPE", ""}}))["result"],
              json::array({"S"}));
    EXPECT_EQ(Save(*client_, {{"fields", packet["fields"]}, {"changes", json::array()}})["result"],
              json::array({"S"}));
    EXPECT_EQ(Snapshot(), before);
}

TEST_P(SetParamFornTest, BoundaryValuesAreAccepted) {
    const json packet = LoadPacket(*client_, "000008"); // stored row without a date
    std::string cedillas;
    for (int i = 0; i < 255; ++i)
        cedillas += "ç"; // 255 characters, 510 bytes
    const json changes = {{"VRMAXPERMFORN", 999999999.99},
                          {"QTREPETEPRODNF", 1},
                          {"NRDIASBLOQNFFOR", 9999},
                          {"CDPRODCONSREPE", cedillas},
                          {"DSGRUPOPER", std::string(30, 'x')},
                          {"DTREACONSIMPXML", "2026-12-08"}};
    EXPECT_EQ(Save(*client_, UpdateDelta(packet, changes))["result"], json::array({"S"}));
    const auto row = db_->ParamRow("000008");
    EXPECT_EQ(row->at("VRMAXPERMFORN"), 999999999.99);
    EXPECT_EQ(row->at("CDPRODCONSREPE"), cedillas);
    EXPECT_EQ(row->at("DTREACONSIMPXML"), "2026-12-08");
    // Zero and an empty group are accepted too; the empty group is stored as null.
    const json again = LoadPacket(*client_, "000008");
    EXPECT_EQ(Save(*client_, UpdateDelta(again, {{"VRMAXPERMFORN", 0},
                                                 {"CDGRPERMLANMAX", ""},
                                                 {"NRDIASBLOQNFFOR", 0},
                                                 {"QTREPETEPRODNF", 9999}}))["result"],
              json::array({"S"}));
    EXPECT_EQ(db_->ParamRow("000008")->at("NRDIASBLOQNFFOR"), 0.0);
    EXPECT_EQ(db_->ParamRow("000008")->at("QTREPETEPRODNF"), 9999.0);
    EXPECT_EQ(db_->ParamRow("000008")->at("VRMAXPERMFORN"), 0.0);
    EXPECT_TRUE(db_->ParamRow("000008")->at("CDGRPERMLANMAX").is_null());
}

// Each refused value comes with a valid change beside it: neither is written.
TEST_P(SetParamFornTest, InvalidValuesAreRefusedAndNothingIsWritten) {
    struct Case {
        std::string supplier;
        json changes;
        std::string message; // part of the refusal text
    };
    const std::vector<Case> cases = {
        {"000001", {{"IDSIMPLESNACIONAL", "X"}}, "IDSIMPLESNACIONAL: valor \"X\" inválido"},
        {"000001", {{"IDSIMPLESNACIONAL", "s"}}, "use \"S\" ou \"N\""},
        {"000001", {{"IDNGRAVARELAC", nullptr}}, "IDNGRAVARELAC: valor null inválido"},
        {"000001", {{"IDOBRIMPXMLNF", 1}}, "IDOBRIMPXMLNF: esperado um texto"},
        {"000001", {{"CDFORNECED", "000002"}}, "CDFORNECED não pode ser alterado"},
        {"000001", {{"IDFORNEHOMO", "N"}}, "IDFORNEHOMO não pode ser alterado"},
        {"000001", {{"CDPRODCONSREPE", std::string(256, 'a')}}, "CDPRODCONSREPE: o texto tem 256"},
        {"000001", {{"DSGRUPOPER", std::string(31, 'a')}}, "DSGRUPOPER: o texto tem 31"},
        {"000001", {{"CDGRPERMLANMAX", "123"}}, "CDGRPERMLANMAX: o texto tem 3"},
        {"000001", {{"CDGRPERMLANMAX", "99"}}, "grupo de operadores \"99\" não cadastrado"},
        {"000001", {{"NRDIASBLOQNFFOR", "30"}}, "NRDIASBLOQNFFOR: esperado um número"},
        {"000001", {{"NRDIASBLOQNFFOR", true}}, "NRDIASBLOQNFFOR: esperado um número"},
        {"000001", {{"VRMAXPERMFORN", -0.01}}, "VRMAXPERMFORN: o valor não pode ser negativo"},
        {"000001", {{"VRMAXPERMFORN", 10.005}}, "VRMAXPERMFORN: o valor admite no máximo 2 casas"},
        {"000001", {{"VRMAXPERMFORN", 1000000000}}, "no máximo 9 dígitos inteiros"},
        {"000001", {{"QTREPETEPRODNF", 0}}, "QTREPETEPRODNF: a quantidade deve ser"},
        {"000001", {{"QTREPETEPRODNF", 2.5}}, "QTREPETEPRODNF: a quantidade deve ser"},
        {"000001", {{"QTREPETEPRODNF", 10000}}, "QTREPETEPRODNF: a quantidade deve ser"},
        {"000001", {{"QTREPETEPRODNF", 1e300}}, "QTREPETEPRODNF: a quantidade deve ser"},
        {"000001", {{"NRDIASBLOQNFFOR", -5}}, "NRDIASBLOQNFFOR: o número de dias deve ser"},
        {"000001", {{"NRDIASBLOQNFFOR", 2.5}}, "NRDIASBLOQNFFOR: o número de dias deve ser"},
        {"000001", {{"NRDIASBLOQNFFOR", 10000}}, "NRDIASBLOQNFFOR: o número de dias deve ser"},
        {"000001", {{"NRDIASBLOQNFFOR", 1e300}}, "NRDIASBLOQNFFOR: o número de dias deve ser"},
        {"000008", {{"IDREACONSIMPXML", "S"}}, "DTREACONSIMPXML: a data inicial para validações"},
        {"000008", {{"DTREACONSIMPXML", "2026-02-30"}}, "DTREACONSIMPXML: esperada uma data"},
        {"000008", {{"DTREACONSIMPXML", "08/12/2026"}}, "DTREACONSIMPXML: esperada uma data"},
        {"000008", {{"DTREACONSIMPXML", "2026-12-08T10:30:00"}}, "não pode conter hora"},
        {"000001", {{"DTREACONSIMPXML", "2026-12-08"}}, "já gravada (2026-11-20) não pode"},
        {"000001", {{"DTREACONSIMPXML", nullptr}}, "já gravada (2026-11-20) não pode"},
        {"000001", {{"CDNOVOCAMPO", "S"}}, "CDNOVOCAMPO não pertence ao registro"},
    };
    const std::string before = Snapshot();
    for (const Case& c : cases) {
        json changes = c.changes;
        changes["IDUTPRIGXML"] = "S";
        const json answer = Save(*client_, UpdateDelta(LoadPacket(*client_, c.supplier), changes));
        EXPECT_EQ(RpcErrorOf(answer)["code"], -32000) << c.changes.dump() << answer.dump();
        EXPECT_NE(RpcErrorOf(answer)["message"].get<std::string>().find(c.message),
                  std::string::npos)
            << c.changes.dump() << " -> " << answer.dump();
    }
    EXPECT_EQ(Snapshot(), before);
}

TEST_P(SetParamFornTest, MalformedDeltasAreRefused) {
    const json packet = LoadPacket(*client_, "000001");
    auto with = [&](const std::function<void(json&)>& edit) {
        json delta = UpdateDelta(packet, {{"IDUTPRIGXML", "S"}});
        edit(delta);
        return delta;
    };
    struct Case {
        json delta;
        int code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {with([](json& d) { d["changes"][0]["old"].erase(23); }), -32000, "os 24 valores"},
        {with([](json& d) { d["changes"][0]["old"][13] = "1500.5"; }), -32000,
         "Valor original do campo VRMAXPERMFORN: esperado um número"},
        {with([](json& d) { d["changes"][0]["old"][0] = nullptr; }), -32000,
         "código do fornecedor"},
        {with([](json& d) { d["changes"][0]["old"][0] = "777777"; }), -32000,
         "Fornecedor 777777 não cadastrado"},
        {with([](json& d) { d["changes"][0]["op"] = "insert"; }), -32000, "Inclusão não permitida"},
        {with([](json& d) { d["changes"][0]["op"] = "delete"; }), -32000, "Exclusão"},
        {with([](json& d) { d["changes"][0]["op"] = "merge"; }), -32602, "Operação desconhecida"},
        {with([](json& d) {
             d["fields"].erase(5);
             d["changes"][0]["old"].erase(5);
         }),
         -32000, "não descreve o campo IDOBRCHAVACESFO"},
        {with([](json& d) { d["changes"].push_back(d["changes"][0]); }), -32602, "única alteração"},
        {with([](json& d) { d.erase("fields"); }), -32602, "\"fields\""},
        {with([](json& d) { d["changes"][0]["new"] = json::array(); }), -32602, "valores novos"},
    };
    const std::string before = Snapshot();
    for (const Case& c : cases) {
        const json answer = Save(*client_, c.delta);
        EXPECT_EQ(RpcErrorOf(answer)["code"], c.code) << answer.dump();
        EXPECT_NE(RpcErrorOf(answer)["message"].get<std::string>().find(c.message),
                  std::string::npos)
            << answer.dump();
    }
    EXPECT_EQ(Snapshot(), before);
}

// The fields may come in any order: values are found by the names of the metadata.
TEST_P(SetParamFornTest, DeltaFieldsAreMatchedByName) {
    json packet = LoadPacket(*client_, "000001");
    std::swap(packet["fields"][7], packet["fields"][12]);
    std::swap(packet["rows"][0][7], packet["rows"][0][12]);
    EXPECT_EQ(Save(*client_, UpdateDelta(packet, {{"IDSIMPLESNACIONAL", "N"}}))["result"],
              json::array({"S"}));
    EXPECT_EQ(db_->ParamRow("000001")->at("IDSIMPLESNACIONAL"), "N");
    EXPECT_EQ(db_->ParamRow("000001")->at("IDUTPRIGXML"), "N");
}

TEST_P(SetParamFornTest, StaleOriginalIsAConflictButOtherColumnsStillSave) {
    const json packet = LoadPacket(*client_, "000001");
    ASSERT_EQ(Save(*client_, UpdateDelta(packet, {{"VRMAXPERMFORN", 10}}))["result"],
              json::array({"S"}));
    const std::string before = Snapshot();
    const json stale =
        Save(*client_, UpdateDelta(packet, {{"VRMAXPERMFORN", 20}, {"IDUTPRIGXML", "S"}}));
    EXPECT_EQ(RpcErrorOf(stale)["code"], -32001);
    EXPECT_EQ(RpcErrorOf(stale)["message"], kConflict);
    EXPECT_EQ(Snapshot(), before);
    // A column nobody else changed is saved from the same original.
    EXPECT_EQ(Save(*client_, UpdateDelta(packet, {{"IDUTPRIGXML", "S"}}))["result"],
              json::array({"S"}));
    EXPECT_EQ(db_->ParamRow("000001")->at("VRMAXPERMFORN"), 10.0);
    EXPECT_EQ(db_->ParamRow("000001")->at("IDUTPRIGXML"), "S");
}

TEST_P(SetParamFornTest, ValueChangedBehindTheServerIsAConflict) {
    const json packet = LoadPacket(*client_, "000001");
    db_->Sql() << "UPDATE PARAMFORNE SET CDPRODCONSREPE = '03' WHERE CDFORNECED = '000001'";
    const json answer = Save(*client_, UpdateDelta(packet, {{"CDPRODCONSREPE", "01"}}));
    EXPECT_EQ(RpcErrorOf(answer)["code"], -32001);
    // Another program's empty text reads as the empty list and still matches.
    db_->Sql() << "UPDATE PARAMFORNE SET CDPRODCONSREPE = '' WHERE CDFORNECED = '000001'";
    EXPECT_EQ(Save(*client_, UpdateDelta(packet, {{"CDPRODCONSREPE", "01"}}))["result"],
              json::array({"S"}));
}

// Values other programs stored where this server writes null or its own forms: they come back as
// originals and, unchanged, are neither checked nor written, whatever the client sends for them.
TEST_P(SetParamFornTest, ValuesOtherProgramsStoredNeverBlockASave) {
    db_->Sql() << "UPDATE FORNECEDOR SET IDFORNEHOMO = '' WHERE CDFORNECED = '000001'";
    db_->Sql() << "UPDATE PARAMFORNE SET IDCFOPCTEXML = '', NRDIASBLOQNFFOR = 2.5, "
                  "IDREACONSIMPXML = 'S', DTREACONSIMPXML = NULL WHERE CDFORNECED = '000001'";
    if (db_->IsSqlite()) // a date in a form of its own; a PostgreSQL date column holds none
        db_->Sql() << "UPDATE PARAMFORNE SET DTREACONSIMPXML = '20/11/2026' "
                      "WHERE CDFORNECED = '000008'";
    const std::string blank =
        db_->Dump("SELECT IDCFOPCTEXML FROM PARAMFORNE WHERE CDFORNECED = '000001'");
    const json packet = LoadPacket(*client_, "000001");
    // An older client turned every blank it read into null; the days it did not touch.
    const json answer = Save(*client_, UpdateDelta(packet, {{"IDFORNEHOMO", nullptr},
                                                            {"IDCFOPCTEXML", nullptr},
                                                            {"NRDIASBLOQNFFOR", 2.5},
                                                            {"IDUTPRIGXML", "S"}}));
    EXPECT_EQ(ResultOf(answer), json::array({"S"})) << answer.dump();
    EXPECT_EQ(db_->ParamRow("000001")->at("IDUTPRIGXML"), "S");
    EXPECT_EQ(db_->Dump("SELECT IDCFOPCTEXML FROM PARAMFORNE WHERE CDFORNECED = '000001'"), blank);
    const auto log = db_->LogRows("000001");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].at("NMCAMPO"), "IDUTPRIGXML");

    // The blank flag itself, changed from the same original: the stored '' matches it.
    EXPECT_EQ(ResultOf(Save(*client_, UpdateDelta(packet, {{"IDCFOPCTEXML", "S"}}))),
              json::array({"S"}));
    EXPECT_EQ(db_->ParamRow("000001")->at("IDCFOPCTEXML"), "S");

    const json packet8 = LoadPacket(*client_, "000008");
    EXPECT_EQ(ResultOf(Save(*client_, UpdateDelta(packet8, {{"IDSIMPLESNACIONAL", "S"}}))),
              json::array({"S"}));
    EXPECT_EQ(db_->ParamRow("000008")->at("IDSIMPLESNACIONAL"), "S");
}

// The audit read back: newest first across saves (other programs' older rows included), paged,
// with the values as stored.
TEST_P(SetParamFornTest, GetLogParamFornPagesTheChangesNewestFirst) {
    db_->Sql() << "INSERT INTO PARAMFORNELOG (CDFORNECED, DTALTERACAO, CDOPERADOR, NMCAMPO, "
                  "DSVALORANT, DSVALORNOVO) VALUES ('000001', '2026-11-01 08:00:00', NULL, "
                  "'IMPVENCXML', NULL, 'N')";
    json packet = LoadPacket(*client_, "000001");
    Save(*client_, UpdateDelta(packet, {{"IDSIMPLESNACIONAL", "N"}, {"QTREPETEPRODNF", 3}}), false,
         "ana");
    packet = LoadPacket(*client_, "000001");
    Save(*client_, UpdateDelta(packet, {{"IDSIMPLESNACIONAL", "S"}}), false, "bia");

    const auto page = [&](long long offset, long long count) {
        return ResultOf(client_->Call("GetLogParamForn", {"000001", offset, count}));
    };
    const json first = page(0, 2);
    ASSERT_EQ(first[0], "S") << first;
    const json rows = first[1]["rows"];
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "bia");
    EXPECT_EQ(rows[0][2], "IDSIMPLESNACIONAL");
    EXPECT_EQ(rows[0][3], "N");
    EXPECT_EQ(rows[0][4], "S");
    EXPECT_EQ(rows[1][1], "ana");
    EXPECT_EQ(rows[0][0].get<std::string>().substr(0, 11), "2026-12-08 ");
    EXPECT_EQ(first[1]["more"], true);
    const json rest = page(2, 10)[1];
    ASSERT_EQ(rest["rows"].size(), 2u);
    EXPECT_EQ(rest["more"], false);
    EXPECT_EQ(rest["rows"][1],
              json::array({"2026-11-01 08:00:00", nullptr, "IMPVENCXML", nullptr, "N"}));
    EXPECT_EQ(page(4, 10)[1]["rows"], json::array());
    EXPECT_EQ(ResultOf(client_->Call("GetLogParamForn", {"999999", 0, 10})),
              json::array({"N", "Fornecedor não cadastrado."}));
    for (const json& bad : {json::array({"000001", -1, 10}), json::array({"000001", 0, 0}),
                            json::array({"000001", 0, 501}), json::array({"000001", 0}),
                            json::array({1, 0, 10}), json::array({"000001", 0.5, 10})})
        EXPECT_EQ(RpcErrorOf(client_->Call("GetLogParamForn", bad))["code"], -32602) << bad;
}

// GetParamForn: the packet of a stored row, the default row, an unknown supplier, the date.
#include "ServerHarness.h"

#include <ctime>

namespace {

const std::vector<std::pair<std::string, std::string>> kRecord = {
    {"CDFORNECED", "string"},       {"NRDIASBLOQNFFOR", "float"},
    {"IDFORNEHOMO", "string"},      {"IDBLQNFRELAFOAF", "string"},
    {"IDOBRIMPXMLNF", "string"},    {"IDOBRCHAVACESFO", "string"},
    {"IDVERINSFORCHNFE", "string"}, {"IDSIMPLESNACIONAL", "string"},
    {"IMPVENCXML", "string"},       {"IDREACONSIMPXML", "string"},
    {"IDBLOQALTPRODREL", "string"}, {"IDPROCNOTADEBCRE", "string"},
    {"IDUTPRIGXML", "string"},      {"VRMAXPERMFORN", "float"},
    {"CDGRPERMLANMAX", "string"},   {"DSGRUPOPER", "string"},
    {"IDREACONFVRNF", "string"},    {"IDUTDESCITBCST", "string"},
    {"IDCFOPCTEXML", "string"},     {"IDIMPVENCXMLCTE", "string"},
    {"IDNGRAVARELAC", "string"},    {"DTREACONSIMPXML", "datetime"},
    {"QTREPETEPRODNF", "float"},    {"CDPRODCONSREPE", "string"},
};

json Field(const json& packet, const std::string& name) {
    const json& fields = packet["fields"];
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i]["name"] == name) return packet["rows"][0][i];
    ADD_FAILURE() << "campo ausente: " << name;
    return json();
}

std::string Text(soci::session& sql, const std::string& query, const std::string& key) {
    std::string value;
    soci::indicator ind = soci::i_null;
    sql << query, soci::into(value, ind), soci::use(key);
    return ind == soci::i_null ? "null" : value;
}

} // namespace

class GetParamFornTest : public ServerTest {};
KX_ENGINES(GetParamFornTest);

TEST_P(GetParamFornTest, StoredRowInRecordOrderWithJoinedFields) {
    const json answer = client_->Call("GetParamForn", {"000001"});
    const json& result = ResultOf(answer);
    ASSERT_EQ(result.size(), 3u) << answer.dump();
    EXPECT_EQ(result[0], "S");
    EXPECT_EQ(result[2], "08/12/2026");
    const json& packet = result[1];
    ASSERT_EQ(packet["fields"].size(), kRecord.size());
    for (size_t i = 0; i < kRecord.size(); ++i) {
        EXPECT_EQ(packet["fields"][i]["name"], kRecord[i].first);
        EXPECT_EQ(packet["fields"][i]["type"], kRecord[i].second);
        EXPECT_EQ(packet["fields"][i].contains("size"), kRecord[i].second == "string");
    }
    ASSERT_EQ(packet["rows"].size(), 1u);
    ASSERT_EQ(packet["rows"][0].size(), kRecord.size());

    // Every stored column comes back as stored; the empty list reads "".
    const auto stored = db_->ParamRow("000001");
    ASSERT_TRUE(stored);
    for (const auto& [column, value] : *stored) {
        const json sent = Field(packet, column);
        if (value.is_null())
            EXPECT_TRUE(column == "CDPRODCONSREPE" ? sent == "" : sent.is_null()) << column;
        else if (value.is_number())
            EXPECT_DOUBLE_EQ(sent.get<double>(), value.get<double>()) << column;
        else
            EXPECT_EQ(sent, value) << column;
    }
    EXPECT_EQ(
        Field(packet, "IDFORNEHOMO"),
        Text(db_->Sql(), "SELECT IDFORNEHOMO FROM FORNECEDOR WHERE CDFORNECED = :c", "000001"));
    EXPECT_EQ(Field(packet, "DSGRUPOPER"),
              Text(db_->Sql(), "SELECT DSGRUPOPER FROM GRUPOPER WHERE CDGRUPOPER = :c",
                   stored->at("CDGRPERMLANMAX").get<std::string>()));
}

TEST_P(GetParamFornTest, SupplierWithoutRowGetsDefaults) {
    std::vector<std::string> codes;
    soci::rowset<std::string> rows = db_->Sql().prepare
                                     << "SELECT CDFORNECED FROM FORNECEDOR WHERE CDFORNECED NOT IN "
                                        "(SELECT CDFORNECED FROM PARAMFORNE)";
    for (const std::string& c : rows)
        codes.push_back(c);
    ASSERT_GE(codes.size(), 3u);
    for (const std::string& code : codes) {
        const json packet = LoadPacket(*client_, code);
        const json row = packet["rows"][0];
        for (size_t i = 0; i < kRecord.size(); ++i) {
            const std::string& name = kRecord[i].first;
            if (name == "CDFORNECED")
                EXPECT_EQ(row[i], code);
            else if (name == "IDFORNEHOMO")
                EXPECT_EQ(row[i].is_null() ? "null" : row[i].get<std::string>(),
                          Text(db_->Sql(),
                               "SELECT IDFORNEHOMO FROM FORNECEDOR WHERE CDFORNECED = :c", code));
            else if (name == "CDPRODCONSREPE")
                EXPECT_EQ(row[i], "");
            else if (name.rfind("ID", 0) == 0 || name == "IMPVENCXML")
                EXPECT_EQ(row[i], "N") << code << " " << name;
            else
                EXPECT_TRUE(row[i].is_null()) << code << " " << name;
        }
    }
}

TEST_P(GetParamFornTest, UnknownSupplierIsRefused) {
    for (const std::string code :
         {"999999", "", "000001 ", "' OR '1'='1", "0000010000100001000010"}) {
        const json answer = client_->Call("GetParamForn", {code});
        EXPECT_EQ(ResultOf(answer), json::array({"N", "Fornecedor não cadastrado."})) << code;
    }
}

// What another program stored in a form the record cannot carry is sent apart, as stored, with
// null in the row, and the call's log line names it; blanks are null, dates are read as their day.
TEST_P(GetParamFornTest, ValuesTheRecordCannotCarryAreSentApartAndLogged) {
    if (GetParam() != "sqlite") GTEST_SKIP() << "PostgreSQL's typed columns hold no such values";
    struct Case {
        const char* column;
        const char* stored; // SQL literal
        json row;           // the value in the packet's row
        json apart;         // the value in "stored" (null: none)
    };
    const Case cases[] = {
        {"QTREPETEPRODNF", "'três'", nullptr, "três"},
        {"NRDIASBLOQNFFOR", "' '", nullptr, nullptr},
        {"DTREACONSIMPXML", "'20/11/2026 08:15'", "2026-11-20", nullptr},
        {"DTREACONSIMPXML", "'2026-11-20T10:30:00.250'", "2026-11-20", nullptr},
        {"DTREACONSIMPXML", "'2026-02-30'", nullptr, "2026-02-30"},
        {"IDSIMPLESNACIONAL", "'Sim'", nullptr, "Sim"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.column) + " = " + c.stored);
        db_->Sql() << "UPDATE PARAMFORNE SET " + std::string(c.column) + " = " + c.stored +
                          " WHERE CDFORNECED = '000001'";
        const json packet = ResultOf(client_->Call("GetParamForn", {"000001"}))[1];
        EXPECT_EQ(Field(packet, c.column), c.row);
        EXPECT_EQ(packet.contains("stored"), !c.apart.is_null());
        if (c.apart.is_null()) continue;
        EXPECT_EQ(packet.value("stored", json()), json::array({json{{c.column, c.apart}}}));
        EXPECT_NE(
            server_->LogWith(std::string("valor ilegível mantido como gravado: ") + c.column + "=")
                .find(std::string("message=\"valor ilegível mantido como gravado: ") + c.column +
                      "=\\\"" + c.apart.get<std::string>() + "\\\"\""),
            std::string::npos)
            << server_->Log();
        db_->Sql() << "UPDATE PARAMFORNE SET " + std::string(c.column) +
                          " = NULL WHERE CDFORNECED = '000001'";
    }
}

class GetParamFornTodayTest : public ServerTest {
protected:
    std::vector<std::string> ServerArgs() const override { return {}; }
};
KX_ENGINES(GetParamFornTodayTest);

TEST_P(GetParamFornTodayTest, WithoutFixedDateAnswersTheLocalDate) {
    const json answer = client_->Call("GetParamForn", {"000002"});
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char today[16];
    std::strftime(today, sizeof today, "%d/%m/%Y", &tm);
    EXPECT_EQ(ResultOf(answer)[2], today);
}

// Supplier parameters in bulk: the cells as a spreadsheet writes them, and export -> edit ->
// dry run -> apply through the real server, with its audit, its keys and its where-changed check.
#include "ParamBulk.h"
#include "ServerHarness.h"

#include <map>

namespace {

int Field(const char* name) {
    return ParamFieldIndex(name);
}

TEST(BulkCellTest, CellsReadAsASpreadsheetWritesThem) {
    const struct {
        const char* field;
        const char* cell;
        json value;        // what the cell reads as (null with an error)
        const char* error; // "" when read
    } rows[] = {
        {"VRMAXPERMFORN", "1500,50", 1500.5, ""},
        {"VRMAXPERMFORN", "1.234.567,8", 1234567.8, ""},
        {"VRMAXPERMFORN", " 2000 ", 2000, ""},
        {"VRMAXPERMFORN", "1.5", nullptr,
         "número inválido (\"1.5\"); use a vírgula como separador decimal, como em 1500,50."},
        {"VRMAXPERMFORN", "12,3,4", nullptr, "número inválido (\"12,3,4\")."},
        {"VRMAXPERMFORN", "-0,01", -0.01, ""}, // read: the record's rule refuses it, naming it
        {"NRDIASBLOQNFFOR", "", nullptr, ""},
        {"NRDIASBLOQNFFOR", "1e3", nullptr, "número inválido (\"1e3\")."},
        {"IDSIMPLESNACIONAL", "s", "S", ""},
        {"IDSIMPLESNACIONAL", "Sim", nullptr, "valor \"Sim\" inválido; use S ou N."},
        {"DTREACONSIMPXML", "5/1/2027", "2027-01-05", ""},
        {"DTREACONSIMPXML", "2027-01-05", "2027-01-05", ""},
        {"DTREACONSIMPXML", "31/02/2027", nullptr,
         "data inválida (\"31/02/2027\"); use dd/mm/aaaa."},
        {"DTREACONSIMPXML", "05/01/27", nullptr, "data inválida (\"05/01/27\"); use dd/mm/aaaa."},
        {"CDPRODCONSREPE", " 0101;0102 ", "0101;0102", ""},
    };
    for (const auto& r : rows) {
        const CellValue v = ParseCell(Field(r.field), r.cell);
        EXPECT_EQ(v.error, r.error) << r.field << " " << r.cell;
        EXPECT_EQ(v.value, r.value) << r.field << " " << r.cell;
    }
}

TEST(BulkCellTest, ExportedCellsReadBackAsTheStoredValue) {
    const struct {
        const char* field;
        json stored;
        const char* cell;
    } rows[] = {
        {"VRMAXPERMFORN", 1500.5, "1500,50"},
        {"VRMAXPERMFORN", 999999999.99, "999999999,99"},
        {"NRDIASBLOQNFFOR", 30, "30"},
        {"DTREACONSIMPXML", "2026-11-20", "20/11/2026"},
        {"IDUTPRIGXML", "N", "N"},
        {"CDGRPERMLANMAX", nullptr, ""},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(CellText(Field(r.field), r.stored), r.cell) << r.field;
        EXPECT_EQ(ParseCell(Field(r.field), r.cell).value, r.stored) << r.field;
    }
    EXPECT_EQ(MaskedInscription("J", "12ABC34501DE35"), "12.ABC.345/01DE-35");
    EXPECT_EQ(MaskedInscription("F", "52998224725"), "529.982.247-25");
    EXPECT_EQ(MaskedInscription("F", "5299"), "5299"); // not a CPF's shape: as stored
}

// Rows of an export as column caption -> cell, by supplier code.
using Sheet = std::map<std::string, std::map<std::string, std::string>>;

} // namespace

class BulkParamsTest : public ServerTest {
protected:
    // Every page of the export, with the filter.
    Sheet Export(const json& filter = nullptr, int pageSize = 4) {
        Sheet sheet;
        std::string after;
        for (;;) {
            const json answer = client_->Call("ExportParamForn", {filter, after, pageSize});
            const json result = ResultOf(answer);
            EXPECT_EQ(result[0], "S") << answer.dump();
            if (result[0] != "S") return sheet;
            header_ = result[1]["header"];
            for (const json& row : result[1]["rows"])
                for (size_t i = 0; i < header_.size(); ++i)
                    sheet[row[0]][header_[i]] = row[i];
            if (result[1]["next"].is_null()) return sheet;
            after = result[1]["next"];
        }
    }
    // The rows of the sheet's suppliers through ImportParamForn: outcome by line (line = the
    // supplier's place in `codes`, from 2 as below a header).
    json Import(const Sheet& sheet, const std::vector<std::string>& codes, bool apply,
                const std::string& op = "ana") {
        json rows = json::array();
        for (size_t i = 0; i < codes.size(); ++i) {
            json cells = json::array();
            for (const json& caption : header_)
                cells.push_back(sheet.at(codes[i]).at(caption));
            rows.push_back({{"line", i + 2}, {"cells", cells}});
        }
        const json answer = client_->Call("ImportParamForn", {header_, rows, apply}, op);
        EXPECT_EQ(ResultOf(answer)[0], "S") << answer.dump();
        return ResultOf(answer)[1]["rows"];
    }
    std::string Outcomes(const json& results) {
        std::string out;
        for (const json& r : results)
            out += r["code"].get<std::string>() + ":" + r["outcome"].get<std::string>() + " ";
        return out;
    }
    json header_;
};
KX_ENGINES(BulkParamsTest);

TEST_P(BulkParamsTest, EditedExportAppliesExactlyItsChangesOnceAndStopsAtAConflict) {
    Sheet sheet = Export();
    ASSERT_EQ(sheet.size(), 9u);
    EXPECT_EQ(sheet["000001"]["Inscrição"], "11.222.333/0001-81");
    EXPECT_EQ(sheet["000001"]["Valor Máximo Permitido"], "1500,50");
    EXPECT_EQ(sheet["000001"]["Data inicial para validações das consistências"], "20/11/2026");

    // As a spreadsheet would: a money cell retyped, a flag in lower case, a group set, a number
    // cell emptied, and the read-only name edited (ignored).
    sheet["000001"]["Valor Máximo Permitido"] = "2.000,75";
    sheet["000002"]["Fornecedor optante pelo Simples Nacional"] = "s";
    sheet["000002"]["Grupo com Permissão para Lançamento Acima do Limite Permitido"] = "04";
    sheet["000008"]["Nº de vezes que um produto poderá se repetir no lançamento da NF"] = "";
    sheet["000004"]["Razão Social"] = "Outro nome";
    const std::vector<std::string> codes = {"000001", "000002", "000004", "000008"};

    const std::string before = db_->Dump("SELECT * FROM PARAMFORNE ORDER BY CDFORNECED");
    const json dry = Import(sheet, codes, false);
    EXPECT_EQ(Outcomes(dry), "000001:change 000002:change 000004:unchanged 000008:change ");
    EXPECT_EQ(dry[0]["changes"],
              json::parse(R"([["Valor Máximo Permitido","1500,50","2000,75"]])"));
    EXPECT_EQ(db_->Dump("SELECT * FROM PARAMFORNE ORDER BY CDFORNECED"), before);

    // Someone saves supplier 000008 on the screen after the export.
    json packet = LoadPacket(*client_, "000008");
    ASSERT_EQ(ResultOf(client_->Call(
                  "SetParamForn", {UpdateDelta(packet, {{"IDUTPRIGXML", "N"}}), false}, "bia"))[0],
              "S");

    const json applied = Import(sheet, codes, true, "ana");
    EXPECT_EQ(Outcomes(applied), "000001:applied 000002:applied 000004:unchanged 000008:conflict ");
    EXPECT_EQ(applied[3]["errors"][0][0], "Versão");
    EXPECT_EQ(db_->ParamRow("000001")->at("VRMAXPERMFORN"), 2000.75);
    EXPECT_EQ(db_->ParamRow("000002")->at("IDSIMPLESNACIONAL"), "S");
    EXPECT_EQ(db_->ParamRow("000008")->at("QTREPETEPRODNF"), 3.0);
    const auto audit = [&](const std::string& code) {
        std::string out;
        for (const auto& r : db_->LogRows(code))
            out += r.at("CDOPERADOR").get<std::string>() + " " +
                   r.at("NMCAMPO").get<std::string>() + " " + r.at("DSVALORANT").dump() + "->" +
                   r.at("DSVALORNOVO").dump() + "; ";
        return out;
    };
    EXPECT_EQ(audit("000001"), "ana VRMAXPERMFORN \"1500.5\"->\"2000.75\"; ");
    EXPECT_EQ(audit("000002"),
              "ana IDSIMPLESNACIONAL \"N\"->\"S\"; ana CDGRPERMLANMAX null->\"04\"; ");

    // The same file again: nothing applied twice, and the dry run says so too.
    const std::string after = db_->Dump("SELECT * FROM PARAMFORNE ORDER BY CDFORNECED") +
                              db_->Dump("SELECT * FROM PARAMFORNELOG ORDER BY IDPARAMFORNELOG");
    EXPECT_EQ(Outcomes(Import(sheet, codes, true)),
              "000001:repeated 000002:repeated 000004:unchanged 000008:conflict ");
    EXPECT_EQ(Outcomes(Import(sheet, codes, false)),
              "000001:repeated 000002:repeated 000004:unchanged 000008:conflict ");
    EXPECT_EQ(db_->Dump("SELECT * FROM PARAMFORNE ORDER BY CDFORNECED") +
                  db_->Dump("SELECT * FROM PARAMFORNELOG ORDER BY IDPARAMFORNELOG"),
              after);
}

TEST_P(BulkParamsTest, EveryRefusalNamesItsRowAndColumn) {
    Sheet sheet = Export();
    const std::string days =
        "Nº de dias para bloqueio do número de NF repetido para fornecedor e série";
    const std::string date = "Data inicial para validações das consistências";
    const std::string consist = "Realiza Consistências na Importação de XML (geração de painel)";
    const std::string products = "Produtos a serem considerados";
    const std::string group = "Grupo com Permissão para Lançamento Acima do Limite Permitido";
    sheet["000001"][days] = "10000";
    sheet["000001"]["Valor Máximo Permitido"] = "-1";
    sheet["000001"][date] = "21/11/2026"; // a stored date never changes
    sheet["000002"][consist] = "S";       // needs a date
    sheet["000003"][group] = "99";
    sheet["000004"][products] = "0101;9999";
    sheet["000005"]["Versão"] = "x";
    sheet["000006"]["Código"] = "999999";
    const json results =
        Import(sheet, {"000001", "000002", "000003", "000004", "000005", "000006"}, true);
    const std::vector<std::vector<std::string>> expected = {
        {"2", days, "o número de dias deve ser um número inteiro de 0 a 9999."},
        {"2", "Valor Máximo Permitido", "o valor não pode ser negativo."},
        {"2", date, "a data de reconsistência já gravada (2026-11-20) não pode ser alterada."},
        {"3", date,
         "a data inicial para validações das consistências deve ser informada quando "
         "IDREACONSIMPXML é \"S\"."},
        {"4", group, "grupo de operadores \"99\" não cadastrado."},
        {"5", products, "produto \"9999\" não cadastrado."},
        {"6", "Versão",
         "versão ausente ou alterada: use um arquivo exportado por este sistema, sem mudar esta "
         "coluna."},
        {"7", "Código", "fornecedor 999999 não cadastrado."},
    };
    std::vector<std::vector<std::string>> got;
    for (const json& r : results) {
        EXPECT_EQ(r["outcome"], "refused") << r.dump();
        for (const json& e : r["errors"])
            got.push_back({std::to_string(r["line"].get<int>()), e[0], e[1]});
    }
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(db_->LogRows("000001").empty());
    EXPECT_FALSE(db_->ParamRow("000002"));
}

TEST_P(BulkParamsTest, ExportFiltersByCodeInscriptionAndCell) {
    const struct {
        json filter;
        std::vector<std::string> codes;
    } rows[] = {
        {{{"codes", {"000002", "000009", "777"}}}, {"000002", "000009"}},
        {{{"inscriptions", {"529.982.247-25", "12abc34501de35"}}}, {"000003", "000004"}},
        {{{"cells", {{"Fornecedor optante pelo Simples Nacional", "S"}}}}, {"000001"}},
        {{{"cells", {{"QTREPETEPRODNF", "3"}}}}, {"000008"}},
    };
    for (const auto& r : rows) {
        std::vector<std::string> codes;
        for (const auto& [code, cells] : Export(r.filter, 3))
            codes.push_back(code);
        EXPECT_EQ(codes, r.codes) << r.filter.dump();
    }
    const json bad = client_->Call("ExportParamForn", {{{"cells", {{"Versão", "1"}}}}, "", 10});
    EXPECT_EQ(RpcErrorOf(bad)["message"], "Filtro por coluna desconhecida: Versão.");
}

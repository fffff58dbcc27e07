// The rules of a change to the supplier-parameters record, without a server: the number limits
// at their edges, with the whole refusal the client shows, and what a change hands to the save.
#include "ParamRecord.h"
#include "RpcError.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

// The refusal of changing one field of a supplier's default row; "" when accepted.
std::string RefusalOf(const char* field, const json& value) {
    try {
        ValidateChange(DefaultParamRow("000001", "N"), {{field, value}});
        return "";
    } catch (const RpcError& e) {
        EXPECT_EQ(e.Code(), kRpcRefused) << field << "=" << value.dump();
        return e.what();
    }
}

TEST(ParamRecordTest, NumbersAreCheckedAgainstTheirLimitsAtTheEdges) {
    const std::string days =
        "Campo NRDIASBLOQNFFOR: o número de dias deve ser um número inteiro de 0 a 9999.";
    const std::string repeats =
        "Campo QTREPETEPRODNF: a quantidade deve ser um número inteiro de 1 a 9999.";
    const struct {
        const char* field;
        json value;
        std::string refusal;
    } rows[] = {
        {"NRDIASBLOQNFFOR", 0, ""},
        {"NRDIASBLOQNFFOR", 9999, ""},
        {"NRDIASBLOQNFFOR", 10000, days},
        {"NRDIASBLOQNFFOR", -1, days},
        {"NRDIASBLOQNFFOR", 9998.5, days},
        {"QTREPETEPRODNF", 1, ""},
        {"QTREPETEPRODNF", 0, repeats},
        {"QTREPETEPRODNF", 0.999, repeats},
        {"VRMAXPERMFORN", 999999999.99, ""},
        {"VRMAXPERMFORN", 0.1 + 0.2, ""}, // 0.30000000000000004: two decimals all the same
        {"VRMAXPERMFORN", 1000000000,
         "Campo VRMAXPERMFORN: o valor admite no máximo 9 dígitos "
         "inteiros."},
        {"VRMAXPERMFORN", 10.005,
         "Campo VRMAXPERMFORN: o valor admite no máximo 2 casas "
         "decimais."},
        {"VRMAXPERMFORN", -0.01, "Campo VRMAXPERMFORN: o valor não pode ser negativo."},
    };
    for (const auto& row : rows)
        EXPECT_EQ(RefusalOf(row.field, row.value), row.refusal) << row.field << "=" << row.value;
}

TEST(ParamRecordTest, AChangeNamesOnlyTheColumnsThatChange) {
    const ParamRow stored = DefaultParamRow("000001", "N");
    const ValidChange same = ValidateChange(stored, {{"CDGRPERMLANMAX", ""}, {"IMPVENCXML", "N"}});
    EXPECT_TRUE(same.columns.empty());

    const ValidChange change =
        ValidateChange(stored, {{"VRMAXPERMFORN", 12.5}, {"CDGRPERMLANMAX", "01"}});
    EXPECT_EQ(change.supplier, "000001");
    EXPECT_TRUE(change.fromDefaults);
    EXPECT_EQ(change.group, "01");
    ASSERT_EQ(change.columns.size(), 2u);
    EXPECT_EQ(change.columns[0].field, ParamFieldIndex("VRMAXPERMFORN"));
    EXPECT_TRUE(change.columns[0].oldValue.is_null());
    EXPECT_EQ(change.columns[0].newValue, 12.5);
    EXPECT_EQ(change.columns[1].newValue, "01");

    // A stored row naming a group: the group is looked up only when the save writes it.
    ParamRow named = stored;
    named[ParamFieldIndex("CDGRPERMLANMAX")] = "01";
    named[ParamFieldIndex("VRMAXPERMFORN")] = 5.0;
    EXPECT_EQ(ValidateChange(named, {{"VRMAXPERMFORN", 6.0}}).group, std::nullopt);
    EXPECT_EQ(ValidateChange(named, {{"CDGRPERMLANMAX", "02"}}).group, "02");
}

} // namespace

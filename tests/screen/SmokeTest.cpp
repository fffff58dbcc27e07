// The screen opens, connects, loads a supplier and saves an option end to end.
#include "ScreenFixture.h"

TEST_F(ScreenTest, OpenLoadEditConfirm) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Cli_kxf27400::boStCriado);
    EXPECT_TRUE(Form()->netParamForne->Connected());
    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_EQ(Form()->edtNmRasSocForn->Text(), "Distribuidora Alfa Ltda");
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "S");
    ASSERT_TRUE(Click("dckSimples"));
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    EXPECT_EQ(Field("IDSIMPLESNACIONAL")->AsString(), "N");
    EXPECT_EQ(db_->ParamRow("000001")->at("IDSIMPLESNACIONAL"), "N");
    EXPECT_TRUE(Dialogs().empty());
}

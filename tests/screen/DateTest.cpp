// The consistency start date: ticking the option opens the date box with the server's day, the
// date is checked against the server's day and confirmed once, and a stored date stays closed.
#include "ScreenFixture.h"

#include "rtl/DateUtils.h"

namespace {
String Bloqueada(const char* day) {
    return String("error:Operação bloqueada. Data inicial para validações das consistências deve "
                  "ser maior ou igual ao dia de hoje (") +
           day + ").";
}
} // namespace

class DateTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(Open());
    }
    TDBDateEditPlus* Box() { return Form()->dbdDtReaConsImpXML; }
    void ExpectOpen(bool open) {
        EXPECT_EQ(Box()->Enabled(), open);
        EXPECT_EQ(Box()->Color(), open ? clInfoBk : clBtnFace);
    }
    json Stored(const char* code, const char* field) {
        auto row = db_->ParamRow(code);
        return row ? row->at(field) : json("(sem linha)");
    }
    bool TypeDate(const char* text) {
        return Clear("dbdDtReaConsImpXML") && Type("dbdDtReaConsImpXML", text);
    }
};

TEST_F(DateTest, TickingFillsTheServersDayAndYesStoresIt) {
    // The workstation is two days ahead: the box still receives the server's day.
    SetTodayOverride(EncodeDate(2026, 12, 10));
    ASSERT_TRUE(Load("45782163000101"));
    ExpectOpen(false);
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    EXPECT_EQ(Field("IDREACONSIMPXML")->AsString(), "S");
    ExpectOpen(true);
    EXPECT_EQ(Box()->Text(), "08/12/2026");

    dialogs_.answers.push_back("no");
    EXPECT_FALSE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), std::vector<String>{kConfirma08});
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    EXPECT_EQ(Form()->ActiveControl(), Box());
    EXPECT_TRUE(Form()->sbtConfirma->Enabled());
    EXPECT_EQ(Box()->Text(), "08/12/2026");
    EXPECT_FALSE(db_->ParamRow("000002"));

    dialogs_.answers.push_back("yes");
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), std::vector<String>{kConfirma08});
    EXPECT_EQ(Stored("000002", "DTREACONSIMPXML"), "2026-12-08");
    EXPECT_EQ(Stored("000002", "IDREACONSIMPXML"), "S");
    // Reloaded: the stored date closes the box for good.
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
    ExpectOpen(false);
    EXPECT_EQ(Box()->Text(), "08/12/2026");
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    ExpectOpen(false);
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    ExpectOpen(false);
    EXPECT_EQ(Box()->Text(), "08/12/2026");
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Stored("000002", "DTREACONSIMPXML"), "2026-12-08");
}

TEST_F(DateTest, TheProposedDayStaysWhenTheBoxIsEnteredAndLeft) {
    ASSERT_TRUE(Load("45782163000101"));
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    ASSERT_TRUE(Tab());
    ASSERT_EQ(Form()->ActiveControl(), Box());
    EXPECT_EQ(Box()->EditText(), "08/12/2026");
    ASSERT_TRUE(Tab());
    EXPECT_EQ(Box()->EditText(), "08/12/2026");
    EXPECT_EQ(DateToStr(Field("DTREACONSIMPXML")->AsDateTime()), "08/12/2026");
    // Entered from the keyboard its text is selected: a date typed replaces it.
    ASSERT_TRUE(Tab(true));
    ASSERT_TRUE(Key("dbdDtReaConsImpXML", U'1'));
    EXPECT_EQ(Box()->EditText(), "1_/__/____");
}

TEST_F(DateTest, EarlierDayThanTheServersIsRefusedNamingTheWorkstationsDay) {
    struct Case {
        TDateTime workstation;
        const char* shown;
    };
    // Ahead of the server and behind it: the server decides, the workstation's day is shown.
    const Case cases[] = {{EncodeDate(2026, 12, 10), "10/12/2026"},
                          {EncodeDate(2026, 12, 1), "01/12/2026"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        SetTodayOverride(c.workstation);
        ASSERT_TRUE(Load("45782163000101"));
        ASSERT_TRUE(Click("dckReaConsImpXml"));
        ASSERT_TRUE(TypeDate("07/12/2026"));
        EXPECT_FALSE(Click("sbtConfirma"));
        EXPECT_EQ(Dialogs(), std::vector<String>{Bloqueada(c.shown)});
        EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
        EXPECT_EQ(Form()->ActiveControl(), Box());
        EXPECT_FALSE(db_->ParamRow("000002"));
        dialogs_.answers.push_back("yes");
        ASSERT_TRUE(Click("sbtCancela"));
        Dialogs();
    }
    // The server's own day passes, though the workstation is ahead.
    SetTodayOverride(EncodeDate(2026, 12, 10));
    ASSERT_TRUE(Load("45782163000101"));
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    ASSERT_TRUE(TypeDate("08/12/2026"));
    dialogs_.answers.push_back("yes");
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), std::vector<String>{kConfirma08});
    EXPECT_EQ(Stored("000002", "DTREACONSIMPXML"), "2026-12-08");
}

TEST_F(DateTest, LaterDateIsConfirmedWithItsOwnDay) {
    ASSERT_TRUE(Load("45782163000101"));
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    ASSERT_TRUE(TypeDate("15/01/2027"));
    dialogs_.answers.push_back("yes");
    ASSERT_TRUE(Click("sbtConfirma"));
    auto shown = Dialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("para o dia 15/01/2027?"), String::npos) << shown[0];
    EXPECT_EQ(Stored("000002", "DTREACONSIMPXML"), "2027-01-15");
}

TEST_F(DateTest, TickedWithoutDateCannotBeSavedUntilADateIsGiven) {
    db_->Sql() << "INSERT INTO PARAMFORNE (CDFORNECED, IDREACONSIMPXML) VALUES ('000002', 'S')";
    ASSERT_TRUE(Load("45782163000101"));
    ExpectOpen(true);
    EXPECT_EQ(Box()->Text(), "");
    ASSERT_TRUE(Click("dckSimples"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(Click("sbtConfirma"));
        EXPECT_EQ(Dialogs(), std::vector<String>{kDeve});
        EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
        EXPECT_EQ(Form()->ActiveControl(), Box());
    }
    EXPECT_TRUE(Stored("000002", "IDSIMPLESNACIONAL").is_null());
    ASSERT_TRUE(Type("dbdDtReaConsImpXML", "09/12/2026"));
    dialogs_.answers.push_back("yes");
    ASSERT_TRUE(Click("sbtConfirma"));
    auto shown = Dialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("para o dia 09/12/2026?"), String::npos) << shown[0];
    EXPECT_EQ(Stored("000002", "DTREACONSIMPXML"), "2026-12-09");
    EXPECT_EQ(Stored("000002", "IDSIMPLESNACIONAL"), "S");
}

TEST_F(DateTest, StoredDateSurvivesUntickingAndIsNeverCheckedAgain) {
    // 000001 keeps a date earlier than today: checks that ran on it would refuse every save.
    ASSERT_TRUE(Load("11222333000181"));
    ExpectOpen(false);
    EXPECT_EQ(Box()->Text(), "20/11/2026");
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    EXPECT_EQ(Field("IDREACONSIMPXML")->AsString(), "N");
    ExpectOpen(false);
    EXPECT_EQ(Box()->Text(), "20/11/2026");
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Stored("000001", "IDREACONSIMPXML"), "N");
    EXPECT_EQ(Stored("000001", "DTREACONSIMPXML"), "2026-11-20");

    ASSERT_TRUE(Click("dckSimples"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Stored("000001", "IDSIMPLESNACIONAL"), "N");
    EXPECT_EQ(Stored("000001", "DTREACONSIMPXML"), "2026-11-20");
}

TEST_F(DateTest, UntickingDropsADateNeverStored) {
    ASSERT_TRUE(Load("33987654000100"));
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    ASSERT_TRUE(TypeDate("20/12/2026"));
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    EXPECT_EQ(Field("IDREACONSIMPXML")->AsString(), "N");
    ExpectOpen(false);
    EXPECT_EQ(Box()->Text(), "");
    ASSERT_TRUE(Click("dckSimples"));
    ASSERT_TRUE(Click("sbtConfirma"));
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Stored("000008", "IDSIMPLESNACIONAL"), "S");
    EXPECT_EQ(Stored("000008", "IDREACONSIMPXML"), "N");
    EXPECT_TRUE(Stored("000008", "DTREACONSIMPXML").is_null());
    EXPECT_TRUE(Field("DTREACONSIMPXML")->IsNull());
    for (const auto& log : db_->LogRows("000008"))
        EXPECT_NE(log.at("NMCAMPO"), "DTREACONSIMPXML");
}

TEST_F(DateTest, TextThatIsNoDateIsRefusedOnLeavingAndAtSaving) {
    ASSERT_TRUE(Load("45782163000101"));
    ASSERT_TRUE(Click("dckReaConsImpXml"));
    ASSERT_TRUE(TypeDate("31/02/2026"));
    EXPECT_FALSE(Tab());
    auto shown = Dialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].substr(0, 6), "error:");
    EXPECT_EQ(Form()->ActiveControl(), Box());
    EXPECT_FALSE(Click("sbtConfirma"));
    EXPECT_EQ(Dialogs(), shown);
    EXPECT_EQ(Form()->ActiveControl(), Box());
    EXPECT_EQ(Form()->cdsParamForne->State(), dsEdit);
    EXPECT_FALSE(db_->ParamRow("000002"));
}

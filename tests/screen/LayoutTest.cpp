// The screen as its form definition makes it, before any supplier is loaded: window, captions,
// tab order, states, colours, fonts, bindings, the message catalogue, the parameter record and
// the lookups; then the two server calls of the record, used on their own.
#include <algorithm>
#include <functional>
#include <set>

#include "ScreenFixture.h"
#include "db/DBGeral.h"

using namespace Cli_kxf27400;

class LayoutTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        ASSERT_TRUE(Open());
        ASSERT_TRUE(Dialogs().empty());
    }

    // Every control of the screen, depth first in definition order.
    std::vector<TControl*> AllControls() const {
        std::vector<TControl*> out;
        std::function<void(TWinControl*)> walk = [&](TWinControl* p) {
            for (int i = 0; i < p->ControlCount(); ++i) {
                TControl* c = p->Controls(i);
                out.push_back(c);
                if (auto* w = dynamic_cast<TWinControl*>(c)) walk(w);
            }
        };
        walk(Form());
        return out;
    }
    static std::vector<String> Names(const std::vector<TWinControl*>& controls) {
        std::vector<String> out;
        for (auto* c : controls)
            out.push_back(c->Name());
        return out;
    }
};

// ---------------------------------------------------------------------------------------------
// Window and base areas

TEST_F(LayoutTest, WindowIsTheFixedSizeMdiChildOfTheHost) {
    TfrmParamForne* f = Form();
    EXPECT_EQ(f->ClassName(), "TfrmParamForne");
    EXPECT_EQ(f->Owner(), Application);
    EXPECT_EQ(f->Caption(), "Parâmetros por Fornecedor");
    EXPECT_EQ(f->ClientWidth(), 572);
    EXPECT_EQ(f->ClientHeight(), 613);
    EXPECT_EQ(f->FormStyle(), fsMDIChild);
    EXPECT_EQ(f->BorderStyle(), bsSingle);
    EXPECT_EQ(f->Left(), 515);
    EXPECT_EQ(f->Top(), 49);
    EXPECT_TRUE(f->Visible());
    EXPECT_EQ(f->WindowState(), wsNormal);
    EXPECT_EQ(f->lblCodTela->Caption(), "KXF27400");
    EXPECT_EQ(f->lblCodTela->Width(), 51);

    EXPECT_EQ(f->grbDadosRel->Width(), 517);
    EXPECT_EQ(f->grbDadosRel->Height(), 613);
    EXPECT_EQ(f->panMenu->Left(), 517);
    EXPECT_EQ(f->panMenu->Height(), 613);
    EXPECT_EQ(f->panHelp->Top(), 104);
    EXPECT_EQ(f->panBotoes->Height(), 92);
    EXPECT_EQ(f->sbtConfirma->Parent(), f->panBotoes);
    EXPECT_EQ(f->sbtCancel->Parent(), f->panBotoes);
    EXPECT_EQ(f->sbtCancel->Top(), 68);

    TButtonFlat* cancela = f->sbtCancela;
    EXPECT_EQ(cancela->Parent(), f->panBotoes);
    EXPECT_EQ(cancela->Left(), 4);
    EXPECT_EQ(cancela->Top(), 25);
    EXPECT_EQ(cancela->Width(), 40);
    EXPECT_EQ(cancela->Height(), 21);
    EXPECT_EQ(cancela->Hint(), "Cancelar");
    EXPECT_TRUE(cancela->ShowHint());
    EXPECT_FALSE(cancela->ParentShowHint());
    EXPECT_TRUE(cancela->Flat);
    EXPECT_EQ(cancela->NumGlyphs, 2);
    EXPECT_FALSE(cancela->GlyphData.empty());
}

TEST_F(LayoutTest, EveryCaptionAsWritten) {
    const std::pair<const char*, const char*> captions[] = {
        {"grbFornecedor", "Fornecedor "},
        {"lblInscricao", "Inscrição"},
        {"lblIdForne", ""},
        {"lblRazSocForn", "Razão Social"},
        {"grbNrDiasBloqNF", ""},
        {"lblNrDiasBloqNF",
         "N\u00BA de dias para bloqueio do número de NF repetido para fornecedor e série"},
        {"grbBloqNFRelacForn", ""},
        {"dckBloqNFRelacForn",
         "Bloqueia fechamento de NF caso utilize relacionamento de fornecedor na Importação da AF"},
        {"grbOImpXmlNF", ""},
        {"dckOImpXmlNF", "Obriga Importação de XML (NFe-) no Lançamento de Nota Fiscal"},
        {"dckObrigCAcesso", "Obriga informar Chave de Acesso no Lançamento de Nota Fiscal"},
        {"dckVerifCpfCnpj", "Verifica CPF/CNPJ do fornecedor na chave de acesso NF-e"},
        {"dckSimples", "Fornecedor optante pelo Simples Nacional"},
        {"dckVencXML", "Importar vencimentos do XML da NF-e"},
        {"dckImpVencCTe", "Importar vencimentos do XML do CT-e"},
        {"dckBloqAltProdRelac", "Bloqueia Alteração de Produto Relacionado(Importação XML)"},
        {"dckProcNotaDebCre", "Processa nota de crédito no SAP"},
        {"dckProdIGXML", "Utiliza o Código do Produto igual Arquivo XML(OL)"},
        {"dckReaConfNF", "Realiza conferência do valor da NF"},
        {"dckIdUtDescBCST", "Considera Desconto do Produto na Base de Cálculo do ST"},
        {"dckCfopCte", "Utiliza 1 Dígito CFOP CT-e de acordo com arquivo XML"},
        {"dckNGravaRelac",
         "Não grava relacionamento do produto (tela Relacionamento Produtos AF X Produtos NF-e)"},
        {"GroupBox1", " Limite de Compras Mensal "},
        {"lblValMaxPerm", "Valor Máximo Permitido"},
        {"GroupBox2", " Grupo com Permissão para Lançamento Acima do Limite Permitido "},
        {"Label15", "Código"},
        {"grbLancNFSimplificado", "Lançamento Simplificado "},
        {"dckReaConsImpXml", "Realiza Consistências na Importação de XML (geração de painel)"},
        {"lblDtReaConsImpXML", "Data inicial para validações das consistências"},
        {"grbLimiteProdNF", "Limitação de Produtos na Nota Fiscal "},
        {"lblQtRepeteProdNF",
         "N\u00BA de vezes que um produto poderá se repetir no lançamento da NF"},
        {"grbProdSerConsidera", "Produtos a serem considerados "},
        {"rbtTodosProdSerConsidera", "Todos"},
        {"rbtListaProdSerConsidera", "Lista"},
        {"lblObsProdSerConsidera",
         "* Produtos não selecionado poderão se repetir várias vezes no lançamento da NF"},
    };
    for (const auto& [name, caption] : captions) {
        TControl* c = Component<TControl>(name);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->Caption(), caption) << name;
    }
}

// ---------------------------------------------------------------------------------------------
// Boxes, positions and tab order

TEST_F(LayoutTest, GroupBoxesInTabOrderAreNotInTopToBottomOrder) {
    struct Box {
        const char* name;
        int tab, top, height;
    };
    const Box boxes[] = {
        {"grbFornecedor", 0, 6, 67},        {"grbNrDiasBloqNF", 1, 72, 36},
        {"grbBloqNFRelacForn", 2, 107, 29}, {"grbOImpXmlNF", 3, 135, 229},
        {"GroupBox1", 4, 513, 95},          {"grbLancNFSimplificado", 5, 365, 58},
        {"grbLimiteProdNF", 6, 424, 88},
    };
    for (const Box& b : boxes) {
        SCOPED_TRACE(b.name);
        auto* g = Component<TGroupBox>(b.name);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->Parent(), Form()->grbDadosRel);
        EXPECT_EQ(g->TabOrder(), b.tab);
        EXPECT_EQ(g->Top(), b.top);
        EXPECT_EQ(g->Height(), b.height);
        EXPECT_EQ(g->Left(), 4);
        EXPECT_EQ(g->Width(), 505);
    }
    // Only these seven boxes make up the data area.
    EXPECT_EQ(Form()->grbDadosRel->ControlCount(), 7);
}

TEST_F(LayoutTest, OptionBoxesTopToBottomWithTheirTabPositionsFieldsAndHandlers) {
    struct Box {
        const char* name;
        int top, tab;
        const char* field;
        bool handler;
    };
    const Box boxes[] = {
        {"dckOImpXmlNF", 8, 0, "IDOBRIMPXMLNF", true},
        {"dckObrigCAcesso", 25, 1, "IDOBRCHAVACESFO", true},
        {"dckVerifCpfCnpj", 42, 2, "IDVERINSFORCHNFE", true},
        {"dckSimples", 59, 3, "IDSIMPLESNACIONAL", true},
        {"dckVencXML", 76, 4, "IMPVENCXML", true},
        {"dckImpVencCTe", 93, 11, "IDIMPVENCXMLCTE", true},
        {"dckBloqAltProdRelac", 110, 5, "IDBLOQALTPRODREL", true},
        {"dckProcNotaDebCre", 127, 6, "IDPROCNOTADEBCRE", false},
        {"dckProdIGXML", 144, 7, "IDUTPRIGXML", false},
        {"dckReaConfNF", 160, 8, "IDREACONFVRNF", true},
        {"dckIdUtDescBCST", 177, 9, "IDUTDESCITBCST", true},
        {"dckCfopCte", 194, 10, "IDCFOPCTEXML", true},
        {"dckNGravaRelac", 211, 12, "IDNGRAVARELAC", true},
    };
    auto* box = Form()->grbOImpXmlNF;
    ASSERT_EQ(box->ControlCount(), 13);
    for (int i = 0; i < 13; ++i) {
        const Box& b = boxes[i];
        SCOPED_TRACE(b.name);
        auto* d = Component<TDBCheckBox>(b.name);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(box->Controls(i), d); // one under the other, in this order
        EXPECT_EQ(d->Left(), 6);
        EXPECT_EQ(d->Top(), b.top);
        EXPECT_EQ(d->TabOrder(), b.tab);
        EXPECT_EQ(d->DataField(), b.field);
        EXPECT_EQ(d->DataSource(), Form()->dtsParamForn);
        EXPECT_EQ(d->ValueChecked(), "S");
        EXPECT_EQ(d->ValueUnchecked(), "N");
        EXPECT_EQ(static_cast<bool>(d->OnClick), b.handler);
    }

    // The lone options of the other boxes.
    struct Single {
        const char* name;
        const char* parent;
        int left, top, width;
        const char* field;
    };
    const Single singles[] = {
        {"dckBloqNFRelacForn", "grbBloqNFRelacForn", 6, 8, 456, "IDBLQNFRELAFOAF"},
        {"dckReaConsImpXml", "grbLancNFSimplificado", 6, 14, 435, "IDREACONSIMPXML"},
    };
    for (const Single& s : singles) {
        SCOPED_TRACE(s.name);
        auto* d = Component<TDBCheckBox>(s.name);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->Parent(), Component<TGroupBox>(s.parent));
        EXPECT_EQ(d->Left(), s.left);
        EXPECT_EQ(d->Top(), s.top);
        EXPECT_EQ(d->Width(), s.width);
        EXPECT_EQ(d->TabOrder(), 0);
        EXPECT_EQ(d->DataField(), s.field);
        EXPECT_EQ(d->DataSource(), Form()->dtsParamForn);
        EXPECT_TRUE(static_cast<bool>(d->OnClick));
    }
}

TEST_F(LayoutTest, ControlsHoldTheirPlacesAndTabPositionsInTheirBoxes) {
    struct Place {
        const char* name;
        const char* parent;
        int left, top, width, tab; // -1: not fixed by the layout
    };
    const Place places[] = {
        {"lblInscricao", "grbFornecedor", 6, -1, -1, -1},
        {"medNrInsJurNF", "grbFornecedor", 89, -1, 128, 0},
        {"btpFornecedor", "grbFornecedor", 222, -1, 21, -1},
        {"lblIdForne", "grbFornecedor", 276, -1, 3, -1},
        {"lblRazSocForn", "grbFornecedor", 6, -1, -1, -1},
        {"edtNmRasSocForn", "grbFornecedor", 89, -1, 369, 2},
        {"lblNrDiasBloqNF", "grbNrDiasBloqNF", 6, -1, 363, -1},
        {"dbeNrDiasBloqNF", "grbNrDiasBloqNF", 373, -1, 37, 0},
        {"lblValMaxPerm", "GroupBox1", 11, 19, -1, -1},
        {"dbeValMaxPerm", "GroupBox1", 130, 15, 111, 0},
        {"GroupBox2", "GroupBox1", 11, 35, 486, 1},
        {"Label15", "GroupBox2", 8, -1, -1, -1},
        {"dbeCdGrupoPermLan", "GroupBox2", 54, -1, 26, 0},
        {"btnPesqGrupo", "GroupBox2", 82, -1, 21, -1},
        {"dbeDescGrupoXML", "GroupBox2", 106, -1, 369, 2},
        {"lblDtReaConsImpXML", "grbLancNFSimplificado", 6, 34, -1, -1},
        {"dbdDtReaConsImpXML", "grbLancNFSimplificado", 230, 31, 90, 1},
        {"lblQtRepeteProdNF", "grbLimiteProdNF", 6, 14, 332, -1},
        {"dbeQtRepeteProdNF", "grbLimiteProdNF", 342, 11, 37, 0},
        {"grbProdSerConsidera", "grbLimiteProdNF", 6, 32, 403, 1},
        {"rbtTodosProdSerConsidera", "grbProdSerConsidera", 6, 16, -1, 0},
        {"rbtListaProdSerConsidera", "grbProdSerConsidera", 68, 16, -1, 1},
        {"btpProdSerConsidera", "grbProdSerConsidera", 122, 14, 21, -1},
        {"lblObsProdSerConsidera", "grbProdSerConsidera", 6, 34, -1, -1},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        TControl* c = Component<TControl>(p.name);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->Parent(), Component<TWinControl>(p.parent));
        EXPECT_EQ(c->Left(), p.left);
        if (p.top >= 0) {
            EXPECT_EQ(c->Top(), p.top);
        }
        if (p.width >= 0) {
            EXPECT_EQ(c->Width(), p.width);
        }
        if (p.tab >= 0) {
            EXPECT_EQ(dynamic_cast<TWinControl*>(c)->TabOrder(), p.tab);
        }
    }
    EXPECT_EQ(Form()->GroupBox2->Height(), 56);
    EXPECT_EQ(Form()->grbProdSerConsidera->Height(), 51);
    EXPECT_EQ(Form()->btpFornecedor->Height(), 21);
    // The fixed-size labels do not size themselves to their text; the centred status label does,
    // so the homologation word shows whole.
    EXPECT_FALSE(Form()->lblNrDiasBloqNF->AutoSize());
    EXPECT_FALSE(Form()->lblQtRepeteProdNF->AutoSize());
    EXPECT_TRUE(Form()->lblIdForne->AutoSize());
    EXPECT_EQ(Form()->lblIdForne->Alignment(), taCenter);
    EXPECT_TRUE(Form()->rbtTodosProdSerConsidera->TabStop());
}

TEST_F(LayoutTest, TabSequenceOfTheWholeScreen) {
    const std::vector<String> atStart = {
        "medNrInsJurNF",       "dbeNrDiasBloqNF",
        "dckBloqNFRelacForn",  "dckOImpXmlNF",
        "dckObrigCAcesso",     "dckVerifCpfCnpj",
        "dckSimples",          "dckVencXML",
        "dckBloqAltProdRelac", "dckProcNotaDebCre",
        "dckProdIGXML",        "dckReaConfNF",
        "dckIdUtDescBCST",     "dckCfopCte",
        "dckImpVencCTe",       "dckNGravaRelac",
        "dbeValMaxPerm",       "dbeCdGrupoPermLan",
        "dckReaConsImpXml",    "dbdDtReaConsImpXML",
        "dbeQtRepeteProdNF",   "rbtTodosProdSerConsidera",
    };
    EXPECT_EQ(Names(Form()->TabSequence()), atStart);
    // The first showing put the focus on the inscription.
    ASSERT_NE(Form()->ActiveControl(), nullptr);
    EXPECT_EQ(Form()->ActiveControl()->Name(), "medNrInsJurNF");

    // From the keyboard, with a supplier whose date is closed and whose product list is chosen:
    // the CT-e due dates only after the CFOP option, the purchase limit at the bottom before the
    // consistency option above it, and the checked radio button last.
    ASSERT_TRUE(Load("33987654000100"));
    std::vector<String> walked = {Form()->ActiveControl()->Name()};
    for (int i = 0; i < 19; ++i) {
        ASSERT_TRUE(Tab());
        walked.push_back(Form()->ActiveControl()->Name());
    }
    const std::vector<String> expected = {
        "dbeNrDiasBloqNF",   "dckBloqNFRelacForn", "dckOImpXmlNF",      "dckObrigCAcesso",
        "dckVerifCpfCnpj",   "dckSimples",         "dckVencXML",        "dckBloqAltProdRelac",
        "dckProcNotaDebCre", "dckProdIGXML",       "dckReaConfNF",      "dckIdUtDescBCST",
        "dckCfopCte",        "dckImpVencCTe",      "dckNGravaRelac",    "dbeValMaxPerm",
        "dbeCdGrupoPermLan", "dckReaConsImpXml",   "dbeQtRepeteProdNF", "rbtListaProdSerConsidera",
    };
    EXPECT_EQ(walked, expected);
    ASSERT_TRUE(Tab(true));
    EXPECT_EQ(Form()->ActiveControl()->Name(), "dbeQtRepeteProdNF");
    EXPECT_TRUE(Dialogs().empty());
    EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
}

// ---------------------------------------------------------------------------------------------
// Initial state, colours and fonts

TEST_F(LayoutTest, InitialStateBeforeAnySupplierIsLoaded) {
    const std::set<String> disabled = {"sbtConfirma", "sbtCancela", "btpProdSerConsidera",
                                       "edtNmRasSocForn", "dbeDescGrupoXML"};
    for (TControl* c : AllControls()) {
        EXPECT_EQ(c->Enabled(), !disabled.count(c->Name())) << c->Name();
        EXPECT_TRUE(c->Visible()) << c->Name();
    }
    TfrmParamForne* f = Form();
    EXPECT_EQ(f->cdsParamForne->State(), dsInactive);
    EXPECT_EQ(f->dtsParamForn->State(), dsInactive);
    EXPECT_EQ(f->medNrInsJurNF->Text(), "");
    EXPECT_EQ(f->medNrInsJurNF->EditMask(), "");
    EXPECT_EQ(f->medNrInsJurNF->MaxLength(), 20);
    EXPECT_EQ(f->edtNmRasSocForn->Text(), "");
    EXPECT_EQ(f->lblIdForne->Caption(), "");
    EXPECT_TRUE(f->rbtTodosProdSerConsidera->Checked());
    EXPECT_FALSE(f->rbtListaProdSerConsidera->Checked());
    // The bound controls show nothing.
    for (const char* name : {"dbeNrDiasBloqNF", "dbeValMaxPerm", "dbeCdGrupoPermLan",
                             "dbeDescGrupoXML", "dbdDtReaConsImpXML", "dbeQtRepeteProdNF"})
        EXPECT_EQ(Component<TCustomEdit>(name)->Text(), "") << name;
    for (TControl* c : AllControls()) {
        if (auto* d = dynamic_cast<TDBCheckBox*>(c)) {
            EXPECT_FALSE(d->Checked()) << d->Name();
        }
    }
    EXPECT_EQ(stProdSerConsidera, "");
}

TEST_F(LayoutTest, ColoursMarkInputsAndDisplayOnlyFields) {
    const std::pair<const char*, TColor> colours[] = {
        {"medNrInsJurNF", clInfoBk},     {"edtNmRasSocForn", clBtnFace},
        {"dbeDescGrupoXML", clBtnFace},  {"dckBloqNFRelacForn", clBtnFace},
        {"dbeNrDiasBloqNF", clWindow},   {"dbeValMaxPerm", clWindow},
        {"dbeCdGrupoPermLan", clWindow}, {"dbeQtRepeteProdNF", clWindow},
    };
    for (const auto& [name, colour] : colours)
        EXPECT_EQ(ColorToString(Component<TControl>(name)->Color()), ColorToString(colour)) << name;
    EXPECT_EQ(ColorToString(Form()->dbdDtReaConsImpXML->ValidDateColor), "clBlue");
}

TEST_F(LayoutTest, CaptionsOfTheTitledBoxesAndTheirLabelsAreBold) {
    const std::set<String> bold = {"grbFornecedor",   "GroupBox1", "grbLancNFSimplificado",
                                   "grbLimiteProdNF", "GroupBox2", "lblInscricao",
                                   "lblRazSocForn",   "Label15"};
    int seen = 0;
    for (TControl* c : AllControls()) {
        if (!Form()->grbDadosRel->ContainsControl(c) || c == Form()->grbDadosRel) continue;
        if (dynamic_cast<TSpeedButton*>(c)) continue; // glyph only, no text
        ++seen;
        const TFont& font = c->Font();
        EXPECT_EQ(font.Bold, bold.count(c->Name()) == 1) << c->Name();
        EXPECT_EQ(font.Name, "MS Sans Serif") << c->Name();
        EXPECT_EQ(font.Height, -11) << c->Name();
        EXPECT_EQ(ColorToString(font.Color), "clWindowText") << c->Name();
    }
    EXPECT_GE(seen, 40);
}

TEST_F(LayoutTest, MaximumLengthsHoldForTypedText) {
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->MaxLength(), 4);
    EXPECT_EQ(Form()->dbeQtRepeteProdNF->MaxLength(), 4);

    ASSERT_TRUE(Type("medNrInsJurNF", "123456789012345678901234"));
    EXPECT_EQ(Form()->medNrInsJurNF->Text(), "12345678901234567890");

    ASSERT_TRUE(Load("11222333000181"));
    EXPECT_EQ(Form()->dbeCdGrupoPermLan->MaxLength(), 2);
    ASSERT_TRUE(Clear("dbeNrDiasBloqNF"));
    ASSERT_TRUE(Type("dbeNrDiasBloqNF", "123456"));
    EXPECT_EQ(Form()->dbeNrDiasBloqNF->Text(), "1234");
    ASSERT_TRUE(Type("dbeQtRepeteProdNF", "987654"));
    EXPECT_EQ(Form()->dbeQtRepeteProdNF->Text(), "9876");
    ASSERT_TRUE(Clear("dbeCdGrupoPermLan"));
    ASSERT_TRUE(Type("dbeCdGrupoPermLan", "034"));
    EXPECT_EQ(Form()->dbeCdGrupoPermLan->Text(), "03");
}

TEST_F(LayoutTest, TheRepetitionEditFiltersKeysLikeTheDaysEdit) {
    for (const char* name : {"dbeNrDiasBloqNF", "dbeQtRepeteProdNF"}) {
        SCOPED_TRACE(name);
        auto* e = Component<TDBEdit>(name);
        ASSERT_TRUE(static_cast<bool>(e->OnKeyPress));
        for (Char refused : {U'+', U',', U'-', U'.', U'e'}) {
            Char k = refused;
            e->OnKeyPress(e, k);
            EXPECT_EQ(k, Char(0)) << static_cast<int>(refused);
        }
        Char digit = U'7';
        e->OnKeyPress(e, digit);
        EXPECT_EQ(digit, U'7');
    }
}

// ---------------------------------------------------------------------------------------------
// Search buttons, bindings and other components

TEST_F(LayoutTest, SearchButtons) {
    struct Button {
        const char* name;
        const char* associate;
        const char* title;
        TDataSource* source;
        const char* emptyError;
        bool enabled, pesqEvents, click;
    };
    TfrmParamForne* f = Form();
    const Button buttons[] = {
        {"btpFornecedor", "medNrInsJurNF", "Fornecedor", f->dtsFornecedor,
         "Não há fornecedor cadastrado.", true, true, false},
        {"btnPesqGrupo", "dbeCdGrupoPermLan", "Grupo de Operadores", f->dtsGrupoPermLan,
         "Não há grupo de operadores cadastrado.", true, true, false},
        {"btpProdSerConsidera", "medNrInsJurNF", "Fornecedor", f->dtsFornecedor,
         "Não há fornecedor cadastrado.", false, false, true},
    };
    for (const Button& b : buttons) {
        SCOPED_TRACE(b.name);
        auto* btn = Component<TBtnPesquisa>(b.name);
        ASSERT_NE(btn, nullptr);
        EXPECT_EQ(btn->Associate, Component<TWinControl>(b.associate));
        EXPECT_EQ(btn->Title, b.title);
        EXPECT_EQ(btn->DataSource, b.source);
        EXPECT_EQ(btn->EmptyError, b.emptyError);
        EXPECT_EQ(btn->Hint(), "Pesquisar");
        EXPECT_TRUE(btn->ShowHint());
        EXPECT_FALSE(btn->ParentShowHint());
        EXPECT_EQ(btn->Width(), 21);
        EXPECT_EQ(btn->NumGlyphs, 2);
        EXPECT_FALSE(btn->GlyphData.empty());
        EXPECT_EQ(btn->Enabled(), b.enabled);
        EXPECT_EQ(static_cast<bool>(btn->OnBeforePesq), b.pesqEvents);
        EXPECT_EQ(static_cast<bool>(btn->OnAfterPesq), b.pesqEvents);
        EXPECT_EQ(static_cast<bool>(btn->OnClick), b.click);
    }
}

TEST_F(LayoutTest, BoundEditsAndTheDateEdit) {
    const std::pair<const char*, const char*> bindings[] = {
        {"dbeNrDiasBloqNF", "NRDIASBLOQNFFOR"},  {"dbeValMaxPerm", "VRMAXPERMFORN"},
        {"dbeCdGrupoPermLan", "CDGRPERMLANMAX"}, {"dbeDescGrupoXML", "DSGRUPOPER"},
        {"dbeQtRepeteProdNF", "QTREPETEPRODNF"}, {"dbdDtReaConsImpXML", "DTREACONSIMPXML"},
    };
    for (const auto& [name, field] : bindings) {
        auto* e = Component<TDBEdit>(name);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->DataField(), field) << name;
        EXPECT_EQ(e->DataSource(), Form()->dtsParamForn) << name;
    }
    TDBDateEditPlus* d = Form()->dbdDtReaConsImpXML;
    EXPECT_FALSE(d->SaveTime);
    EXPECT_EQ(d->NomeSemana.Lines(), (std::vector<String>{"Domingo", "Segunda", "Terça", "Quarta",
                                                          "Quinta", "Sexta", "Sábado"}));
    EXPECT_EQ(d->NumGlyphs, 2);
    EXPECT_FALSE(d->GlyphData.empty());
    // The data sources and what they bind.
    TfrmParamForne* f = Form();
    EXPECT_EQ(f->dtsParamForn->DataSet(), f->cdsParamForne);
    EXPECT_EQ(f->dtsFornecedor->DataSet(), f->qryFornecedor->Query());
    EXPECT_EQ(f->dtsGrupoPermLan->DataSet(), f->qryGrupoPermLan->Query());
    EXPECT_EQ(f->dtsProdSerConsidera->DataSet(), f->qryProdSerConsidera->Query());
}

TEST_F(LayoutTest, TheMessageCatalogue) {
    const std::vector<String> expected = {
        "Forn_N_Inf|Fornecedor deve ser informado.",
        "Forn_NCad|Fornecedor não cadastrado.",
        "Aplic_alter|Aplicando alterações no servidor...",
        "Canc|Cancelar operação?",
        "JURIDICA|Jurídica",
        "FISICA|Física",
        "OUTROS|OUTROS",
        "INSC_JURIDICA|Insc. Juridica",
        "Homologado|Homologado",
        "N_homologado|Não Homologado",
        "Grupo_Oper|Grupo de Operadores não cadastrado.",
        "CONF_DT_VAL_CONS|Confirma a data inicial para as validações das consistências na "
        "importação XML (geração de painel) para o dia %s? Essa data não poderá ser alterada "
        "após a confirmação.",
        "DT_INI_MAIOR_ATUAL|Operação bloqueada. Data inicial para validações das consistências "
        "deve ser maior ou igual ao dia de hoje (%s).",
        "DT_INI_DEVE|Data inicial para validações das consistências deve ser informada quando o "
        "parâmetro \"Realiza Consistências na Importação de XML (geração de painel)\" estiver "
        "selecionado.",
        "Produto|Produto",
        "Nao_Ha_Produto|Não há produto cadastrado.",
        "QtRepeteProdNF_Maior|N\u00BA de vezes que um produto poderá se repetir no lançamento da "
        "NF deve ser maior que 0 (zero).",
    };
    EXPECT_EQ(Form()->msgPadrao->Messages().Lines(), expected);
    // Fetched by key, "%s" left for the caller.
    EXPECT_EQ(Form()->msgPadrao->Msg("Canc"), "Cancelar operação?");
    EXPECT_EQ(Form()->msgPadrao->Msg("DT_INI_MAIOR_ATUAL").rfind("Operação bloqueada.", 0), 0u);
}

TEST_F(LayoutTest, TheParameterRecordFields) {
    struct FieldDef {
        const char* name;
        const char* cls;
        int size; // text fields only
    };
    const FieldDef fields[] = {
        {"CDFORNECED", "TStringField", 21},      {"NRDIASBLOQNFFOR", "TFloatField", 0},
        {"IDFORNEHOMO", "TStringField", 1},      {"IDBLQNFRELAFOAF", "TStringField", 1},
        {"IDOBRIMPXMLNF", "TStringField", 1},    {"IDOBRCHAVACESFO", "TStringField", 1},
        {"IDVERINSFORCHNFE", "TStringField", 1}, {"IDSIMPLESNACIONAL", "TStringField", 1},
        {"IMPVENCXML", "TStringField", 1},       {"IDREACONSIMPXML", "TStringField", 1},
        {"IDBLOQALTPRODREL", "TStringField", 1}, {"IDPROCNOTADEBCRE", "TStringField", 1},
        {"IDUTPRIGXML", "TStringField", 1},      {"VRMAXPERMFORN", "TFloatField", 0},
        {"CDGRPERMLANMAX", "TStringField", 2},   {"DSGRUPOPER", "TStringField", 30},
        {"IDREACONFVRNF", "TStringField", 1},    {"IDUTDESCITBCST", "TStringField", 1},
        {"IDCFOPCTEXML", "TStringField", 1},     {"IDIMPVENCXMLCTE", "TStringField", 1},
        {"IDNGRAVARELAC", "TStringField", 1},    {"DTREACONSIMPXML", "TDateTimeField", 0},
        {"QTREPETEPRODNF", "TFloatField", 0},    {"CDPRODCONSREPE", "TStringField", 255},
    };
    const auto& actual = Form()->cdsParamForne->Fields();
    ASSERT_EQ(actual.size(), std::size(fields));
    for (size_t i = 0; i < actual.size(); ++i) {
        const FieldDef& e = fields[i];
        TField* f = actual[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(f->FieldName(), e.name);
        EXPECT_EQ(f->ClassName(), e.cls);
        if (f->DataType() == ftString) {
            EXPECT_EQ(f->Size(), e.size);
        }
        EXPECT_EQ(f->Visible(), String(e.name) != "IDFORNEHOMO");
        EXPECT_FALSE(f->Required());
        EXPECT_FALSE(f->ReadOnly());
        String format;
        if (auto* ff = dynamic_cast<TFloatField*>(f)) format = ff->DisplayFormat();
        if (auto* df = dynamic_cast<TDateTimeField*>(f)) format = df->DisplayFormat();
        EXPECT_EQ(format, String(e.name) == "VRMAXPERMFORN" ? "#,##0.00" : "");
    }
}

// ---------------------------------------------------------------------------------------------
// Lookups

TEST_F(LayoutTest, LookupStatementsLineForLine) {
    TfrmParamForne* f = Form();
    EXPECT_EQ(
        f->qryFornecedor->SQL().Lines(),
        (std::vector<String>{"SELECT", "   CDFORNECED,", "   NRINSJURFORN,", "   NMRAZSOCFORN,",
                             "   IDTPIJURFORN", "FROM", "   FORNECEDOR", "WHERE",
                             "   (NRINSJURFORN = :P_NRINSJURFORN OR :P_TNRINSJURFORN = 'T')",
                             "ORDER BY", "   IDTPIJURFORN,", "   NRINSJURFORN", "", " ", " "}));
    EXPECT_EQ(f->qryGrupoPermLan->SQL().Lines(),
              (std::vector<String>{"SELECT CDGRUPOPER, DSGRUPOPER", "  FROM GRUPOPER",
                                   " WHERE ((CDGRUPOPER = :P_CDGRUPOPER) OR (:P_TGRUPOPER = 'T'))",
                                   " ORDER BY CDGRUPOPER", " "}));
    EXPECT_EQ(f->qryProdSerConsidera->SQL().Lines(),
              (std::vector<String>{"SELECT CDARVPROD, NMPRODUTO", "  FROM PRODUTO",
                                   " WHERE CDNVPRODUTO = '1'", " ORDER BY CDARVPROD"}));

    struct Q {
        TADOIBQuery* q;
        std::vector<String> params;
        TDataSource* ownSource;
    };
    const Q queries[] = {
        {f->qryFornecedor, {"P_NRINSJURFORN", "P_TNRINSJURFORN"}, nullptr},
        {f->qryGrupoPermLan, {"P_CDGRUPOPER", "P_TGRUPOPER"}, f->dtsGrupoPermLan},
        {f->qryProdSerConsidera, {}, f->dtsProdSerConsidera},
    };
    for (const Q& q : queries) {
        SCOPED_TRACE(q.q->Name());
        std::vector<String> names;
        for (TParam* p : q.q->Params()) {
            names.push_back(p->Name());
            EXPECT_EQ(p->DataType, "ftString");
            EXPECT_EQ(p->ParamType, "ptUnknown");
        }
        EXPECT_EQ(names, q.params);
        EXPECT_EQ(q.q->DataSource(), q.ownSource);
        EXPECT_FALSE(q.q->Active());
        EXPECT_EQ(q.q->ADOConnection(), dtmDBGeral->adcGeral);
        EXPECT_EQ(q.q->DataBase(), dtmDBGeral->dtbGeral);
        EXPECT_EQ(q.q->Transaction(), dtmDBGeral->ibtGeral);
        EXPECT_TRUE(q.q->AutoCalcFields);
        EXPECT_TRUE(q.q->ParamCheck);
        EXPECT_FALSE(q.q->CachedUpdates);
        EXPECT_FALSE(q.q->ObjectView);
        EXPECT_FALSE(q.q->ADOEnableBCD);
        EXPECT_FALSE(q.q->ADOFiltered);
        EXPECT_FALSE(q.q->ADOPrepared);
        EXPECT_EQ(q.q->ADOCacheSize, 1);
        EXPECT_EQ(q.q->ADOMaxRecords, 0);
        EXPECT_EQ(q.q->ADOCursorLocation, "clUseClient");
        EXPECT_EQ(q.q->ADOCursorType, "ctKeyset");
        EXPECT_EQ(q.q->ADOLockType, "ltReadOnly");
        EXPECT_EQ(q.q->ADOMarshalOptions, "moMarshalAll");
        EXPECT_TRUE(q.q->ADOExecuteOptions.empty());
    }
}

TEST_F(LayoutTest, LookupFields) {
    struct QF {
        const char* query;
        const char* name;
        const char* label;
        int size;
        bool visible;
        const char* origin;
        int displayWidth;
        bool getText;
    };
    const QF fields[] = {
        {"qryFornecedor", "CDFORNECED", "CDFORNECED", 21, false, "FORNECEDOR.CDFORNECED", 21,
         false},
        {"qryFornecedor", "NRINSJURFORN", "Inscrição", 20, true, "FORNECEDOR.NRINSJURFORN", 20,
         true},
        {"qryFornecedor", "NMRAZSOCFORN", "Razão Social", 40, true, "FORNECEDOR.NMRAZSOCFORN", 40,
         false},
        {"qryFornecedor", "IDTPIJURFORN", "Tipo", 1, true, "FORNECEDOR.IDTPIJURFORN", 15, true},
        {"qryGrupoPermLan", "CDGRUPOPER", "Código", 2, true, "", 2, false},
        {"qryGrupoPermLan", "DSGRUPOPER", "Descrição", 30, true, "", 30, false},
        {"qryProdSerConsidera", "CDARVPROD", "Código", 20, true, "", 20, false},
        {"qryProdSerConsidera", "NMPRODUTO", "Nome", 50, true, "", 50, false},
    };
    std::map<String, int> position;
    for (const QF& e : fields) {
        SCOPED_TRACE(std::string(e.query) + "." + e.name);
        TDataSet* ds = Component<TADOIBQuery>(e.query)->Query();
        const int at = position[e.query]++;
        ASSERT_LT(at, ds->FieldCount());
        TField* f = ds->Fields()[at];
        EXPECT_EQ(f->FieldName(), e.name);
        EXPECT_EQ(f->ClassName(), "TADOIBStringField");
        EXPECT_EQ(f->DisplayLabel(), e.label);
        EXPECT_EQ(f->Size(), e.size);
        EXPECT_EQ(f->Visible(), e.visible);
        EXPECT_EQ(f->Origin(), e.origin);
        EXPECT_EQ(f->DisplayWidth(), e.displayWidth);
        EXPECT_EQ(static_cast<bool>(f->OnGetText), e.getText);
    }
    for (const auto& [query, count] : position)
        EXPECT_EQ(Component<TADOIBQuery>(query.c_str())->Query()->FieldCount(), count) << query;
}

// The "T" switch lists every row in the stated order; the empty text keeps the one asked for.
TEST_F(LayoutTest, LookupSwitchesAndOrder) {
    auto rows = [](TADOIBQuery* q, const char* column) {
        std::vector<String> out;
        q->Open();
        for (q->Query()->First(); !q->Query()->Eof(); q->Query()->Next())
            out.push_back(q->FieldByName(column)->AsString());
        q->Close();
        return out;
    };
    TfrmParamForne* f = Form();
    TADOIBQuery* forn = f->qryFornecedor;
    forn->ParamByName("P_NRINSJURFORN").SetAsString("");
    forn->ParamByName("P_TNRINSJURFORN").SetAsString("T");
    std::vector<String> all = rows(forn, "CDFORNECED");
    EXPECT_EQ(all.size(), 9u);
    forn->ParamByName("P_TNRINSJURFORN").SetAsString("");
    EXPECT_TRUE(rows(forn, "CDFORNECED").empty());
    forn->ParamByName("P_NRINSJURFORN").SetAsString("33987654000100");
    EXPECT_EQ(rows(forn, "CDFORNECED"), std::vector<String>{"000008"});
    // Ordered by person type, then inscription.
    forn->ParamByName("P_NRINSJURFORN").SetAsString("");
    forn->ParamByName("P_TNRINSJURFORN").SetAsString("T");
    std::vector<String> keys;
    forn->Open();
    for (forn->Query()->First(); !forn->Query()->Eof(); forn->Query()->Next())
        keys.push_back(forn->Query()->Fields()[3]->AsString() + "|" +
                       forn->Query()->Fields()[1]->AsString());
    forn->Close();
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));

    TADOIBQuery* grp = f->qryGrupoPermLan;
    grp->ParamByName("P_CDGRUPOPER").SetAsString("");
    grp->ParamByName("P_TGRUPOPER").SetAsString("T");
    std::vector<String> groups = rows(grp, "CDGRUPOPER");
    EXPECT_EQ(groups, (std::vector<String>{"01", "02", "03", "04"}));
    grp->ParamByName("P_CDGRUPOPER").SetAsString("03");
    grp->ParamByName("P_TGRUPOPER").SetAsString("");
    EXPECT_EQ(rows(grp, "CDGRUPOPER"), std::vector<String>{"03"});

    std::vector<String> products = rows(f->qryProdSerConsidera, "CDARVPROD");
    ASSERT_FALSE(products.empty());
    EXPECT_TRUE(std::is_sorted(products.begin(), products.end()));
    auto level = db_->Dump("SELECT CDARVPROD FROM PRODUTO WHERE CDNVPRODUTO = '1' ORDER BY 1");
    for (const String& p : products)
        EXPECT_NE(level.find(p), std::string::npos) << p;
    EXPECT_EQ(std::find(products.begin(), products.end(), "0101"), products.end());
}

// ---------------------------------------------------------------------------------------------
// The two server calls of the record, used on their own

class ExchangeTest : public LayoutTest {
protected:
    void SetUp() override {
        LayoutTest::SetUp();
        ASSERT_TRUE(Load("11222333000181"));
        ASSERT_EQ(Field("CDFORNECED")->AsString(), "000001");
        Dialogs();
    }
    Variant Answer(const char* code) { return Form()->GetParamForn(code); }
    Variant Packet(const char* code) { return Answer(code)[1]; }
    // Posts a change into the change log without the screen sending it at once.
    void PostWithoutSending(const char* field, const String& value) {
        TClientDataSet* cds = Form()->cdsParamForne;
        auto afterPost = cds->AfterPost;
        cds->AfterPost = nullptr;
        cds->Edit();
        cds->FieldByName(field)->SetAsString(value);
        cds->Post();
        cds->AfterPost = afterPost;
    }
};

TEST_F(ExchangeTest, GetParamFornAnswersMarkPacketAndServerDate) {
    Variant a = Answer("000008");
    ASSERT_TRUE(a.IsArray());
    ASSERT_EQ(a.ArrayLength(), 3u);
    EXPECT_EQ(a[0].AsString(), "S");
    EXPECT_EQ(a[2].AsString(), "08/12/2026");
    Variant missing = Answer("999999");
    ASSERT_TRUE(missing.IsArray());
    EXPECT_EQ(missing[0].AsString(), "N");
    EXPECT_EQ(missing[1].AsString(), "Fornecedor não cadastrado.");
}

// An error text is a failed load, as a refusal is: shown, then the operation ends.
TEST_F(ExchangeTest, AStringAnswerIsShownAndAbortsChangingNothing) {
    const TDateTime before = EncodeDate(2026, 1, 2);
    for (const Variant& answer : {Variant("Servidor de aplicação ocupado."),
                                  Variant::OleStr("Servidor de aplicação ocupado.")}) {
        dtDataAtual = before;
        stProdSerConsidera = "0101";
        EXPECT_THROW(Form()->CarregaParamForn(answer), EAbort);
        EXPECT_EQ(Dialogs(), std::vector<String>{"error:Servidor de aplicação ocupado."});
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(dtDataAtual, before);
        EXPECT_EQ(stProdSerConsidera, "0101");
    }
}

TEST_F(ExchangeTest, ARefusalShowsItsTextAndAborts) {
    const TDateTime before = dtDataAtual;
    struct Case {
        Variant answer;
        String shown;
    };
    const Case cases[] = {
        {Variant::Array({Variant("N"), Variant("Fornecedor bloqueado para parâmetros.")}),
         "Fornecedor bloqueado para parâmetros."},
        {Variant::Array({Variant::OleStr("N"), Variant(42)}), "42"},
        {Answer("999999"), "Fornecedor não cadastrado."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_THROW(Form()->CarregaParamForn(c.answer), EAbort);
        EXPECT_EQ(Dialogs(), std::vector<String>{"error:" + c.shown});
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
        EXPECT_EQ(dtDataAtual, before);
    }
}

TEST_F(ExchangeTest, AnyOtherMarkIsSuccessAndReplacesTheRowAndItsChangeLog) {
    const Variant packet8 = Packet("000008");
    const Variant packet1 = Packet("000001");
    int day = 1;
    for (const char* mark : {"S", "", "X", "n", "SIM"}) {
        SCOPED_TRACE(std::string("mark '") + mark + "'");
        // A pending change of the row shown, still in the log.
        PostWithoutSending("NRDIASBLOQNFFOR", "77");
        ASSERT_EQ(Form()->cdsParamForne->ChangeCount(), 1);

        const String date = (day < 10 ? "0" : "") + std::to_string(day) + "/01/2027";
        EXPECT_NO_THROW(
            Form()->CarregaParamForn(Variant::Array({Variant(mark), packet8, Variant(date)})));
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000008");
        EXPECT_TRUE(Field("NRDIASBLOQNFFOR")->IsNull());
        EXPECT_EQ(Field("QTREPETEPRODNF")->AsFloat(), 3.0);
        EXPECT_EQ(Form()->cdsParamForne->ChangeCount(), 0);
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(dtDataAtual, EncodeDate(2027, 1, day));
        EXPECT_TRUE(Dialogs().empty());

        // Back to the first supplier for the next mark.
        ASSERT_NO_THROW(Form()->CarregaParamForn(
            Variant::Array({Variant("S"), packet1, Variant("08/12/2026")})));
        ASSERT_EQ(Field("NRDIASBLOQNFFOR")->AsFloat(), 30.0);
        ++day;
    }
}

// The date is read before the row is replaced: a bad one leaves the previous row whole, never
// the new row under the old controls.
TEST_F(ExchangeTest, AnUnreadableDateOrAMissingPacketFailsWithTheRowUnchanged) {
    const Variant packet8 = Packet("000008");
    const Variant answers[] = {
        Variant::Array({Variant("S"), packet8, Variant("31/02/2027")}),
        Variant::Array({Variant("S"), packet8, Variant("amanhã")}),
        Variant::Array({Variant("S"), packet8, Variant("")}),
        Variant::Array({Variant("S"), Variant::Null(), Variant("08/12/2026")}),
    };
    for (const Variant& answer : answers) {
        ASSERT_NO_THROW(Form()->CarregaParamForn(Answer("000001")));
        const TDateTime before = dtDataAtual;
        stProdSerConsidera = "";
        EXPECT_THROW(Form()->CarregaParamForn(answer), Exception);
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(dtDataAtual, before);
        EXPECT_EQ(stProdSerConsidera, "");
    }
}

// An answer too short to hold a packet and a date fails without touching the row.
TEST_F(ExchangeTest, AnAnswerWithoutPacketFailsAndKeepsTheRow) {
    const TDateTime before = dtDataAtual;
    for (const Variant& answer : {Variant::Array({Variant("S")}), Variant::Array({Variant("N")})}) {
        EXPECT_THROW(Form()->CarregaParamForn(answer), Exception);
        EXPECT_EQ(Field("CDFORNECED")->AsString(), "000001");
        EXPECT_EQ(Form()->cdsParamForne->State(), dsBrowse);
        EXPECT_EQ(dtDataAtual, before);
    }
}

TEST_F(ExchangeTest, SetParamFornTellsWhetherTheDaysBoxIsBlank) {
    struct Case {
        const char* text;
        bool storedNull;
    };
    for (const Case c : {Case{"0", false}, Case{"12", false}, Case{"", true}, Case{"   ", true}}) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        db_->Sql() << "UPDATE PARAMFORNE SET NRDIASBLOQNFFOR = 30, IDSIMPLESNACIONAL = 'S' "
                      "WHERE CDFORNECED = '000001'";
        ASSERT_NO_THROW(Form()->CarregaParamForn(Answer("000001")));
        PostWithoutSending("IDSIMPLESNACIONAL", "N");
        // The box's text as the user left it; the record keeps 30 days.
        Form()->dbeNrDiasBloqNF->SetText(c.text);
        ASSERT_EQ(Field("NRDIASBLOQNFFOR")->AsFloat(), 30.0);

        EXPECT_NO_THROW(Form()->SetParamForn());
        auto row = db_->ParamRow("000001");
        ASSERT_TRUE(row.has_value());
        EXPECT_EQ(row->at("IDSIMPLESNACIONAL"), "N");
        if (c.storedNull)
            EXPECT_TRUE(row->at("NRDIASBLOQNFFOR").is_null()) << row->at("NRDIASBLOQNFFOR");
        else
            EXPECT_EQ(row->at("NRDIASBLOQNFFOR"), 30) << row->at("NRDIASBLOQNFFOR");
        EXPECT_TRUE(Dialogs().empty());
    }
}

#include <cctype>

#include <gtest/gtest.h>

#include "vcl/DfmParser.h"

namespace {

using K = DfmValue::Kind;

const char* const kForm = R"(object frmParamForne: TfrmParamForne
  Left = 515
  Top = -12
  Caption = 'Par'#226'metros por Fornecedor'
  Color = clBtnFace
  Font.Style = [fsBold, fsItalic]
  Anchors = []
  Hint = 'a long '#13#10 +
    'continued string'
  NomeSemana.Strings = (
    'Domingo'
    'Segunda'#39's' +
      ' feira')
  Glyph.Data = {
    0a0B0C
    FF}
  Enabled = False
  Visible = TRUE
  Ratio = -2.0E3
  OnClick = sbtConfirmaClick
  DataSource = dtsParamForn.DataSet
  object grbFornecedor: TGroupBox
    Caption = 'Fornecedor'
    inline fraBusca: TfraBusca
    end
  end
  inherited btnOk: TButton
  end
  object TMenuItem
  end
end
)";

TEST(DfmParser, ReadsEveryValueKindWithLines) {
    auto form = ParseDfm(kForm);
    EXPECT_EQ(form->kind, DfmObject::Kind::Object);
    EXPECT_EQ(form->name, "frmParamForne");
    EXPECT_EQ(form->className, "TfrmParamForne");
    EXPECT_EQ(form->line, 1);

    auto prop = [&](const char* name) -> const DfmValue& {
        const DfmProperty* p = form->Find(name);
        EXPECT_NE(p, nullptr) << name;
        static const DfmValue none;
        return p ? p->value : none;
    };
    EXPECT_EQ(prop("Left").kind, K::Integer);
    EXPECT_EQ(prop("Left").integer, 515);
    EXPECT_EQ(prop("Top").integer, -12);
    EXPECT_EQ(prop("Caption").kind, K::Text);
    EXPECT_EQ(prop("Caption").text, "Parâmetros por Fornecedor");
    EXPECT_EQ(prop("Color").kind, K::Identifier);
    EXPECT_EQ(prop("Color").text, "clBtnFace");
    EXPECT_EQ(prop("Font.Style").kind, K::Set);
    EXPECT_EQ(prop("Font.Style").items, (std::vector<String>{"fsBold", "fsItalic"}));
    EXPECT_EQ(prop("Anchors").kind, K::Set);
    EXPECT_TRUE(prop("Anchors").items.empty());
    EXPECT_EQ(prop("Hint").text, "a long \r\ncontinued string");
    EXPECT_EQ(prop("Hint").line, 8); // where the value starts
    EXPECT_EQ(prop("NomeSemana.Strings").kind, K::StringList);
    EXPECT_EQ(prop("NomeSemana.Strings").items,
              (std::vector<String>{"Domingo", "Segunda's feira"}));
    EXPECT_EQ(prop("Glyph.Data").kind, K::Binary);
    EXPECT_EQ(prop("Glyph.Data").text, "0A0B0CFF");
    EXPECT_EQ(prop("Enabled").kind, K::Boolean);
    EXPECT_FALSE(prop("Enabled").boolean);
    EXPECT_TRUE(prop("Visible").boolean);
    EXPECT_EQ(prop("Ratio").kind, K::Float);
    EXPECT_DOUBLE_EQ(prop("Ratio").number, -2000.0);
    EXPECT_EQ(prop("OnClick").text, "sbtConfirmaClick");
    EXPECT_EQ(prop("DataSource").text, "dtsParamForn.DataSet");

    // Properties keep file order and their own lines; Find ignores case as the language does.
    ASSERT_EQ(form->properties.size(), 14u);
    EXPECT_EQ(form->properties.front().name, "Left");
    EXPECT_EQ(form->properties.back().name, "DataSource");
    EXPECT_EQ(form->properties[10].line, 18);
    EXPECT_EQ(form->Find("caption"), form->Find("Caption"));
    EXPECT_EQ(form->Find("Width"), nullptr);
}

TEST(DfmParser, NestsChildrenInFileOrderWithTheirKeyword) {
    auto form = ParseDfm(kForm);
    ASSERT_EQ(form->children.size(), 3u);
    const DfmObject& group = *form->children[0];
    EXPECT_EQ(group.name, "grbFornecedor");
    EXPECT_EQ(group.line, 22);
    EXPECT_EQ(group.Find("Caption")->value.text, "Fornecedor");
    ASSERT_EQ(group.children.size(), 1u);
    EXPECT_EQ(group.children[0]->kind, DfmObject::Kind::Inline);
    EXPECT_EQ(group.children[0]->className, "TfraBusca");

    EXPECT_EQ(form->children[1]->kind, DfmObject::Kind::Inherited);
    EXPECT_EQ(form->children[1]->name, "btnOk");
    EXPECT_EQ(form->children[2]->name, "");
    EXPECT_EQ(form->children[2]->className, "TMenuItem");
}

TEST(DfmParser, InheritedRootAndKeywordsInAnyCase) {
    auto form = ParseDfm("\xEF\xBB\xBFINHERITED frmFilho: TfrmFilho\r\n  Tag = $FF\r\nEnd\r\n");
    EXPECT_EQ(form->kind, DfmObject::Kind::Inherited);
    EXPECT_EQ(form->Find("Tag")->value.integer, 255);
    EXPECT_EQ(form->Find("Tag")->line, 2);
}

struct StringCase {
    const char* source;
    const char* expected;
};

class DfmStringTest : public ::testing::TestWithParam<StringCase> {};

TEST_P(DfmStringTest, DecodesToUtf8) {
    String text = String("object a: TA\n  S = ") + GetParam().source + "\nend\n";
    auto form = ParseDfm(text);
    const DfmProperty* s = form->Find("S");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->value.kind, K::Text);
    EXPECT_EQ(s->value.text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DfmStringTest,
    ::testing::Values(StringCase{"''", ""}, StringCase{"'it''s'", "it's"},
                      StringCase{"'a'#13'b'", "a\rb"}, StringCase{"#$41#$e7", "Aç"},
                      StringCase{"'Ação já'", "Ação já"}, StringCase{"#8364", "€"},
                      StringCase{"#55357#56832", "\xF0\x9F\x98\x80"}, // surrogate pair joined
                      StringCase{"'a' +\n\n   'b' + #33", "ab!"}));

struct ErrorCase {
    const char* what;
    const char* text;
    int line;
    const char* reason; // part of the message
};

class DfmErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(DfmErrorTest, NamesLineAndReason) {
    const ErrorCase& c = GetParam();
    try {
        ParseDfm(c.text);
        FAIL() << c.what << ": accepted";
    } catch (const EDfmError& e) {
        EXPECT_EQ(e.Line(), c.line) << c.what << ": " << e.Message();
        EXPECT_NE(e.Reason().find(c.reason), String::npos) << c.what << ": " << e.Message();
        EXPECT_EQ(e.Message(),
                  "Definição de formulário, linha " + std::to_string(c.line) + ": " + e.Reason());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DfmErrorTest,
    ::testing::Values(
        ErrorCase{"empty", "\n  \n", 3, "vazia"},
        ErrorCase{"not an object", "Left = 1\n", 1, "'object'"},
        ErrorCase{"unterminated string", "object a: TA\n  S = 'abc\nend\n", 2, "não terminado"},
        ErrorCase{"unknown value kind", "object a: TA\n  X = )\nend\n", 2, "tipo desconhecido"},
        ErrorCase{"collection", "object a: TA\n  Cols = <\n  item\n  end>\nend\n", 2, "coleções"},
        ErrorCase{"missing end", "object a: TA\n  object b: TB\n  end\n", 4, "'a'"},
        ErrorCase{"junk after end", "object a: TA\nend\nend\n", 3, "após o último"},
        ErrorCase{"= expected", "object a: TA\n  Left 5\nend\n", 2, "'=' esperado"},
        ErrorCase{"header without class", "object a:\n  Left = 1\nend\n", 1, "cabeçalho"},
        ErrorCase{"header junk", "object a: TA [2]\nend\n", 1, "cabeçalho"},
        ErrorCase{"dotted name", "object a.b: TA\nend\n", 1, "cabeçalho"},
        ErrorCase{"duplicate property", "object a: TA\n  Left = 1\n  LEFT = 2\nend\n", 3,
                  "repetida"},
        ErrorCase{"comment", "object a: TA\n  // nada\nend\n", 2, "comentários"},
        ErrorCase{"+ without string", "object a: TA\n  S = 'a' +\n  Top = 1\nend\n", 3, "após '+'"},
        ErrorCase{"list item not text", "object a: TA\n  L = (\n 'a'\n 12)\nend\n", 4, "texto"},
        ErrorCase{"list unclosed", "object a: TA\n  L = (\n 'a'\n", 4, "linha 2"},
        ErrorCase{"set unclosed", "object a: TA\n  S = [fsBold\nend\n", 3, "','"},
        ErrorCase{"binary odd digits", "object a: TA\n  B = {0A0\n}\nend\n", 3, "ímpar"},
        ErrorCase{"binary non-hex", "object a: TA\n  B = {0A\n 0G}\nend\n", 3, "hexadecimal"},
        ErrorCase{"binary unclosed", "object a: TA\n  B = {0A\n", 2, "'}'"},
        ErrorCase{"malformed number", "object a: TA\n  N = 12ab\nend\n", 2, "número"},
        ErrorCase{"number range", "object a: TA\n  N = 99999999999999999999\nend\n", 2,
                  "intervalo"},
        ErrorCase{"char code range", "object a: TA\n  S = #1114112\nend\n", 2, "código"},
        ErrorCase{"lone surrogate", "object a: TA\n  S = #55357'x'\nend\n", 2, "substituto"},
        ErrorCase{"invalid utf-8", "object a: TA\n  S = 'Par\xE2metros'\nend\n", 2, "UTF-8"},
        ErrorCase{"trailing dot", "object a: TA\n  D = ds.\nend\n", 2, "identificador"}),
    [](const ::testing::TestParamInfo<ErrorCase>& test) {
        String name;
        for (const char* p = test.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(DfmParser, RunawayNestingIsRefusedNotCrashed) {
    auto nested = [](int depth) {
        String text;
        for (int i = 0; i < depth; ++i)
            text += "object o" + std::to_string(i) + ": TPanel\n";
        for (int i = 0; i < depth; ++i)
            text += "end\n";
        return text;
    };
    auto deep = ParseDfm(nested(200));
    EXPECT_EQ(deep->children.at(0)->children.at(0)->name, "o2");
    try {
        ParseDfm(nested(100000));
        FAIL() << "accepted";
    } catch (const EDfmError& e) {
        EXPECT_EQ(e.Line(), 201);
    }
}

TEST(DfmParser, ErrorIsAConversionError) {
    EXPECT_THROW(ParseDfm("object a: TA\n"), EConvertError);
}

} // namespace

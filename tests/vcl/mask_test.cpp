#include <gtest/gtest.h>

#include "vcl/MaskUtils.h"

namespace {

const char* const kCpf = "999.999.999-99;0;_";
const char* const kCnpj = ">AA.AAA.AAA/AAAA-99;0;_";
const char* const kDate = "!99/99/9999;1;_";

struct ParseCase {
    const char* mask;
    size_t positions;
    bool save;
    char32_t blank;
    bool leading;
    const char* blankText;
};

class MaskParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(MaskParseTest, ReadsFieldsAndPositions) {
    const ParseCase& c = GetParam();
    TEditMask m(c.mask);
    EXPECT_EQ(m.Source(), c.mask);
    EXPECT_EQ(m.Positions(), c.positions);
    EXPECT_EQ(m.SaveLiterals(), c.save);
    EXPECT_EQ(m.BlankChar(), c.blank);
    EXPECT_EQ(m.LeadingBlanks(), c.leading);
    EXPECT_EQ(m.BlankEditText(), c.blankText);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskParseTest,
    ::testing::Values(ParseCase{kCpf, 14, false, U'_', false, "___.___.___-__"},
                      ParseCase{kCnpj, 18, false, U'_', false, "__.___.___/____-__"},
                      ParseCase{kDate, 10, true, U'_', true, "__/__/____"},
                      ParseCase{"999", 3, true, U'_', false, "___"},
                      ParseCase{"999;0", 3, false, U'_', false, "___"},
                      ParseCase{"(99) 9999;1; ", 9, true, U' ', false, "(  )     "},
                      ParseCase{"\\0\\9\\\\9;0;*", 4, false, U'*', false, "09\\*"},
                      ParseCase{"9\\;9;0;•", 3, false, U'•', false, "•;•"},
                      ParseCase{"", 0, true, U'_', false, ""}));

TEST(Mask, LiteralsAndAcceptance) {
    TEditMask cpf(kCpf);
    EXPECT_TRUE(cpf.IsLiteral(3));
    EXPECT_EQ(cpf.LiteralAt(3), U'.');
    EXPECT_EQ(cpf.LiteralAt(11), U'-');
    EXPECT_FALSE(cpf.IsLiteral(0));
    EXPECT_EQ(cpf.LiteralAt(0), 0u);
    EXPECT_FALSE(cpf.IsLiteral(99));
    EXPECT_TRUE(cpf.Accepts(0, U'7'));
    EXPECT_FALSE(cpf.Accepts(0, U'a'));
    EXPECT_FALSE(cpf.Accepts(3, U'.')); // a literal position takes no input
    EXPECT_FALSE(cpf.Accepts(14, U'1'));

    TEditMask kinds("#LlAaCc;0;*");
    EXPECT_TRUE(kinds.Accepts(0, U'-'));
    EXPECT_FALSE(kinds.Accepts(0, U'x'));
    EXPECT_TRUE(kinds.Accepts(1, U'ç'));
    EXPECT_FALSE(kinds.Accepts(1, U'5'));
    EXPECT_TRUE(kinds.Accepts(3, U'5'));
    EXPECT_FALSE(kinds.Accepts(3, U'-'));
    EXPECT_TRUE(kinds.Accepts(5, U'-'));
    EXPECT_FALSE(kinds.Accepts(5, U'*')); // the blank char marks "unfilled", never content
    EXPECT_FALSE(kinds.Accepts(5, U'\t'));
}

struct FormatCase {
    const char* mask;
    const char* value;
    const char* editText;
};

class MaskFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(MaskFormatTest, EditTextFromValue) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(FormatMaskText(c.mask, c.value), c.editText) << c.mask << " / " << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskFormatTest,
    ::testing::Values(
        FormatCase{kCpf, "12345678909", "123.456.789-09"},
        FormatCase{kCpf, "123", "123.___.___-__"},            // too short: blanks at the end
        FormatCase{kCpf, "1234567890955", "123.456.789-09"},  // beyond the positions: dropped
        FormatCase{kCpf, "123.456.789-09", "123.456.789-09"}, // literals in a 0 value: dropped
        FormatCase{kCpf, "", "___.___.___-__"},
        FormatCase{kCnpj, "11222333000181", "11.222.333/0001-81"},
        FormatCase{kCnpj, "12abc34501de35", "12.ABC.345/01DE-35"},
        FormatCase{kDate, "12/03/2024", "12/03/2024"},
        FormatCase{kDate, "12032024", "12/03/2024"}, // saved without literals by older data
        FormatCase{kDate, "1/2/2024", "1_/2_/2024"}, // an early literal leaves positions open
        FormatCase{kDate, "  /  /    ", "__/__/____"}, FormatCase{"<LLL;0;_", "AÇÃ", "açã"},
        FormatCase{"", "free text", "free text"}));

TEST(Mask, CnpjValueAndReenteredTextAgree) {
    TEditMask m(kCnpj);
    String fromValue = m.EditTextFromValue("11222333000181");
    String fromText = m.EditTextFromText("11.222.333/0001-81");
    EXPECT_EQ(fromValue, "11.222.333/0001-81");
    EXPECT_EQ(fromText, fromValue);
    EXPECT_EQ(m.ValueFromEditText(fromValue), "11222333000181");
    EXPECT_EQ(m.ValueFromEditText(m.EditTextFromValue("12abc34501de35")), "12ABC34501DE35");
}

TEST(Mask, ReenteredTextDropsLiteralsAndRefusedCharacters) {
    TEditMask cpf(kCpf);
    EXPECT_EQ(cpf.EditTextFromText("CPF: 123.456.789-09"), "123.456.789-09");
    EXPECT_EQ(cpf.EditTextFromText("12-3"), "123.___.___-__");
    TEditMask date(kDate);
    EXPECT_EQ(date.EditTextFromText("1/2/2024"), "12/20/24__");
    EXPECT_EQ(TEditMask("").EditTextFromText("x.y"), "x.y");
}

struct ValueCase {
    const char* mask;
    const char* editText;
    const char* value;
};

class MaskValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(MaskValueTest, ValueFromEditText) {
    const ValueCase& c = GetParam();
    EXPECT_EQ(TEditMask(c.mask).ValueFromEditText(c.editText), c.value) << c.mask;
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskValueTest,
    ::testing::Values(ValueCase{kCpf, "123.456.789-09", "12345678909"},
                      ValueCase{"999.999.999-99;1;_", "123.456.789-09", "123.456.789-09"},
                      ValueCase{kCpf, "123.4__.___-__", "1234"},
                      ValueCase{kDate, "12/03/2024", "12/03/2024"},
                      ValueCase{kDate, "12/03/____", "12/03/"},
                      ValueCase{kDate, "__/__/____", ""}, // untouched field stores nothing
                      ValueCase{kCpf, "123", "123"},      // short edit text: the rest unfilled
                      ValueCase{"", "abc", "abc"}));

// Types text into a fresh edit text, one character at a time, failing on the first refusal.
String TypeAll(const TEditMask& m, const std::u32string& keys, size_t* cursorOut = nullptr) {
    String text = m.BlankEditText();
    size_t cursor = 0;
    for (char32_t k : keys) {
        auto next = m.TypeChar(text, cursor, k);
        EXPECT_TRUE(next.has_value()) << "refused key " << static_cast<uint32_t>(k);
        if (!next) break;
        cursor = *next;
    }
    if (cursorOut) *cursorOut = cursor;
    return text;
}

TEST(MaskTyping, LiteralsTypedAtTheirPlaceOrSkipped) {
    TEditMask cpf(kCpf);
    size_t cursor = 0;
    EXPECT_EQ(TypeAll(cpf, U"123.456.789-09", &cursor), "123.456.789-09");
    EXPECT_EQ(cursor, 14u);
    EXPECT_EQ(TypeAll(cpf, U"12345678909", &cursor), "123.456.789-09");
    EXPECT_EQ(cursor, 14u);

    String text = cpf.BlankEditText();
    EXPECT_EQ(cpf.TypeChar(text, 3, U'.'), 4u); // typed literal: moves past, changes nothing
    EXPECT_EQ(text, cpf.BlankEditText());
    EXPECT_EQ(cpf.TypeChar(text, 3, U'5'), 5u); // input at a literal: next input position
    EXPECT_EQ(text, "___.5__.___-__");
}

TEST(MaskTyping, RefusalsLeaveTheTextAlone) {
    TEditMask cpf(kCpf);
    String text = TypeAll(cpf, U"12");
    const String before = text;
    EXPECT_EQ(cpf.TypeChar(text, 2, U'x'), std::nullopt);
    EXPECT_EQ(cpf.TypeChar(text, 3, U'x'), std::nullopt);
    EXPECT_EQ(cpf.TypeChar(text, 14, U'1'), std::nullopt); // past the end
    EXPECT_EQ(text, before);
    TEditMask trailing("99-;0");
    String t = trailing.BlankEditText();
    EXPECT_EQ(trailing.TypeChar(t, 2, U'1'), std::nullopt); // only literals remain
}

TEST(MaskTyping, CaseRulesApplyWhileTyping) {
    EXPECT_EQ(TypeAll(TEditMask(kCnpj), U"12abc34501de35"), "12.ABC.345/01DE-35");
    EXPECT_EQ(TypeAll(TEditMask("<LL>LL<>LL;0;_"), U"AbCdEf"), "abCDEf");
    EXPECT_EQ(TypeAll(TEditMask(">ll;0;_"), U"éç"), "ÉÇ");
}

TEST(MaskTyping, BackspaceBlanksThePreviousInput) {
    TEditMask cpf(kCpf);
    size_t cursor = 0;
    String text = TypeAll(cpf, U"1234", &cursor);
    ASSERT_EQ(cursor, 5u);
    cursor = cpf.Backspace(text, cursor);
    EXPECT_EQ(cursor, 4u);
    EXPECT_EQ(text, "123.___.___-__");
    cursor = cpf.Backspace(text, cursor); // jumps over the '.'
    EXPECT_EQ(cursor, 2u);
    EXPECT_EQ(text, "12_.___.___-__");
    EXPECT_EQ(cpf.Backspace(text, 0), 0u);

    TEditMask phone("(99);0;_");
    String p = "(1_)";
    EXPECT_EQ(phone.Backspace(p, 1), 1u); // nothing to erase before the '('
    EXPECT_EQ(p, "(1_)");
}

TEST(MaskTyping, WithoutMaskTextIsFree) {
    TEditMask none;
    String text = "ac";
    EXPECT_EQ(none.TypeChar(text, 1, U'b'), 2u);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(none.TypeChar(text, 3, U'\n'), std::nullopt);
    EXPECT_EQ(none.Backspace(text, 3), 2u);
    EXPECT_EQ(text, "ab");
    EXPECT_TRUE(none.IsComplete(""));
}

TEST(Mask, Completeness) {
    TEditMask cpf(kCpf);
    EXPECT_TRUE(cpf.IsComplete("123.456.789-09"));
    EXPECT_TRUE(cpf.IsComplete("___.___.___-__"));  // 9 is optional
    EXPECT_FALSE(cpf.IsComplete("123.4x6.789-09")); // filled, but not acceptable
    TEditMask required("0009;0;_");
    EXPECT_TRUE(required.IsComplete("123_"));
    EXPECT_FALSE(required.IsComplete("12__"));
    EXPECT_FALSE(required.IsComplete("123")); // wrong length
    TEditMask cnpj(kCnpj);
    EXPECT_FALSE(cnpj.IsComplete(cnpj.EditTextFromValue("1122233300")));
    EXPECT_TRUE(cnpj.IsComplete(cnpj.EditTextFromValue("11222333000181")));
}

TEST(Mask, SaveLiteralsDecidesTheStoredForm) {
    for (const char* save : {"0", "1"}) {
        TEditMask m(String("999-99;") + save + ";_");
        String text = TypeAll(m, U"12345");
        String value = m.ValueFromEditText(text);
        EXPECT_EQ(value, m.SaveLiterals() ? "123-45" : "12345");
        EXPECT_EQ(m.EditTextFromValue(value), text); // the stored form displays back the same
    }
}

TEST(Mask, PositionsCountCharactersNotBytes) {
    TEditMask m("çc;0;·");
    EXPECT_EQ(m.Positions(), 2u);
    EXPECT_EQ(m.BlankEditText(), "ç·");
    String text = m.BlankEditText();
    EXPECT_EQ(m.TypeChar(text, 0, U'ã'), 2u);
    EXPECT_EQ(text, "çã");
    EXPECT_EQ(m.ValueFromEditText(text), "ã");
}

} // namespace

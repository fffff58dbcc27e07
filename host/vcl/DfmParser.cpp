#include "vcl/DfmParser.h"

#include "rtl/Utf8.h"

#include <charconv>
#include <cmath>
#include <optional>

namespace {

bool IsAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsIdentStart(char c) {
    return IsAsciiAlpha(c) || c == '_';
}
bool IsIdentChar(char c) {
    return IsIdentStart(c) || IsDigit(c);
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIdent(const String& a, const String& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when it is malformed.
size_t Utf8SequenceLength(const String& s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = byte(i);
    size_t len;
    char32_t cp;
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past the Unicode range are not text.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

enum class Tok { End, Ident, Integer, Float, String, Binary, Symbol };

struct Token {
    Tok kind = Tok::End;
    String text; // identifier, decoded string, binary hex, symbol, or the number as written
    int64_t integer = 0;
    double number = 0;
    int line = 1;
};

class Lexer {
public:
    explicit Lexer(const String& src) : src_(src) {
        // A byte-order mark is an editor's habit, not content.
        if (src_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
    }

    const Token& Peek() {
        if (!peeked_) {
            peeked_ = Scan();
        }
        return *peeked_;
    }

    Token Next() {
        Peek();
        Token t = std::move(*peeked_);
        peeked_.reset();
        return t;
    }

    int Line() const { return line_; }

private:
    [[noreturn]] void Fail(const String& reason) const { throw EDfmError(line_, reason); }

    char At(size_t i) const { return i < src_.size() ? src_[i] : '\0'; }

    void SkipBlanks() {
        while (pos_ < src_.size()) {
            char c = src_[pos_];
            if (c == '\n') {
                ++line_;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
            ++pos_;
        }
    }

    Token Scan() {
        SkipBlanks();
        Token t;
        t.line = line_;
        if (pos_ >= src_.size()) return t;
        char c = src_[pos_];
        if (IsIdentStart(c)) return ScanIdent(t);
        if (IsDigit(c) || c == '$' || (c == '-' && (IsDigit(At(pos_ + 1)) || At(pos_ + 1) == '$')))
            return ScanNumber(t);
        if (c == '\'' || c == '#') return ScanString(t);
        if (c == '{') return ScanBinary(t);
        if (c == '/' && At(pos_ + 1) == '/') Fail("comentários não são permitidos");
        static const String symbols = "=:[](),+<>";
        if (symbols.find(c) != String::npos) {
            ++pos_;
            t.kind = Tok::Symbol;
            t.text = String(1, c);
            return t;
        }
        if (static_cast<unsigned char>(c) >= 0x80 || c < 0x20)
            Fail("caractere inesperado fora de texto");
        Fail("caractere inesperado '" + String(1, c) + "'");
    }

    Token ScanIdent(Token& t) {
        size_t start = pos_;
        while (IsIdentChar(At(pos_)) || At(pos_) == '.') {
            // A dot separates two identifier parts; it never starts, ends or doubles.
            if (At(pos_) == '.' && !IsIdentStart(At(pos_ + 1)))
                Fail("identificador malformado: " + src_.substr(start, pos_ + 1 - start));
            ++pos_;
        }
        t.kind = Tok::Ident;
        t.text = src_.substr(start, pos_ - start);
        return t;
    }

    Token ScanNumber(Token& t) {
        size_t start = pos_;
        bool negative = false;
        if (At(pos_) == '-') {
            negative = true;
            ++pos_;
        }
        if (At(pos_) == '$') {
            ++pos_;
            size_t digits = pos_;
            while (IsHexDigit(At(pos_)))
                ++pos_;
            if (pos_ == digits || IsIdentChar(At(pos_)) || At(pos_) == '.')
                Fail("número malformado: " + src_.substr(start, pos_ + 1 - start));
            uint64_t magnitude = 0;
            auto [p, ec] = std::from_chars(src_.data() + digits, src_.data() + pos_, magnitude, 16);
            (void)p;
            if (ec != std::errc() || magnitude > static_cast<uint64_t>(INT64_MAX))
                Fail("número fora do intervalo: " + src_.substr(start, pos_ - start));
            t.kind = Tok::Integer;
            t.integer =
                negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
            t.text = src_.substr(start, pos_ - start);
            return t;
        }
        while (IsDigit(At(pos_)))
            ++pos_;
        bool isFloat = false;
        if (At(pos_) == '.') {
            isFloat = true;
            ++pos_;
            if (!IsDigit(At(pos_))) Fail("número malformado: " + src_.substr(start, pos_ - start));
            while (IsDigit(At(pos_)))
                ++pos_;
        }
        if (At(pos_) == 'e' || At(pos_) == 'E') {
            isFloat = true;
            ++pos_;
            if (At(pos_) == '+' || At(pos_) == '-') ++pos_;
            if (!IsDigit(At(pos_))) Fail("número malformado: " + src_.substr(start, pos_ - start));
            while (IsDigit(At(pos_)))
                ++pos_;
        }
        if (IsIdentChar(At(pos_)) || At(pos_) == '.')
            Fail("número malformado: " + src_.substr(start, pos_ + 1 - start));
        t.text = src_.substr(start, pos_ - start);
        const char* first = src_.data() + start;
        const char* last = src_.data() + pos_;
        if (isFloat) {
            auto [p, ec] = std::from_chars(first, last, t.number);
            if (ec != std::errc() || p != last || !std::isfinite(t.number))
                Fail("número fora do intervalo: " + t.text);
            t.kind = Tok::Float;
        } else {
            auto [p, ec] = std::from_chars(first, last, t.integer);
            if (ec != std::errc() || p != last) Fail("número fora do intervalo: " + t.text);
            t.kind = Tok::Integer;
        }
        return t;
    }

    // One string is quoted parts and #codes written side by side; a blank ends it.
    Token ScanString(Token& t) {
        t.kind = Tok::String;
        char32_t pendingHigh = 0; // a #code high surrogate waiting for its low half
        auto flushHigh = [&] {
            if (pendingHigh) Fail("código de caractere inválido: metade de par substituto isolada");
        };
        for (;;) {
            char c = At(pos_);
            if (c == '\'') {
                flushHigh();
                ++pos_;
                for (;;) {
                    if (pos_ >= src_.size() || src_[pos_] == '\n' || src_[pos_] == '\r')
                        Fail("texto não terminado");
                    char q = src_[pos_];
                    if (q == '\'') {
                        if (At(pos_ + 1) != '\'') break;
                        t.text += '\'';
                        pos_ += 2;
                        continue;
                    }
                    size_t len = Utf8SequenceLength(src_, pos_);
                    if (len == 0) Fail("texto com codificação inválida (esperado UTF-8)");
                    t.text.append(src_, pos_, len);
                    pos_ += len;
                }
                ++pos_; // closing quote
            } else if (c == '#') {
                ++pos_;
                size_t start = pos_;
                int base = 10;
                if (At(pos_) == '$') {
                    base = 16;
                    ++start;
                    ++pos_;
                }
                while (base == 16 ? IsHexDigit(At(pos_)) : IsDigit(At(pos_)))
                    ++pos_;
                if (pos_ == start) Fail("código de caractere esperado após '#'");
                uint32_t code = 0;
                auto [p, ec] = std::from_chars(src_.data() + start, src_.data() + pos_, code, base);
                (void)p;
                if (ec != std::errc() || code > 0x10FFFF)
                    Fail("código de caractere inválido: #" + src_.substr(start, pos_ - start));
                // Codes above 65535 may arrive as two UTF-16 halves written one after the other.
                if (code >= 0xD800 && code <= 0xDBFF) {
                    flushHigh();
                    pendingHigh = code;
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    if (!pendingHigh)
                        Fail("código de caractere inválido: metade de par substituto isolada");
                    t.text += ToUtf8(static_cast<char32_t>(
                        0x10000 + ((pendingHigh - 0xD800) << 10) + (code - 0xDC00)));
                    pendingHigh = 0;
                } else {
                    flushHigh();
                    t.text += ToUtf8(static_cast<char32_t>(code));
                }
            } else {
                break;
            }
        }
        flushHigh();
        if (IsIdentChar(At(pos_))) Fail("texto seguido de caracteres inesperados");
        return t;
    }

    Token ScanBinary(Token& t) {
        int openLine = line_;
        ++pos_;
        t.kind = Tok::Binary;
        for (;;) {
            if (pos_ >= src_.size())
                throw EDfmError(openLine, "dados binários sem '}' de fechamento");
            char c = src_[pos_++];
            if (c == '}') break;
            if (c == '\n') {
                ++line_;
            } else if (IsHexDigit(c)) {
                t.text += static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
            } else if (c != ' ' && c != '\t' && c != '\r') {
                Fail("dígito hexadecimal esperado em dados binários");
            }
        }
        if (t.text.size() % 2 != 0) Fail("dados binários com número ímpar de dígitos");
        return t;
    }

    const String& src_;
    size_t pos_ = 0;
    int line_ = 1;
    std::optional<Token> peeked_;
};

class Parser {
public:
    explicit Parser(const String& text) : lex_(text) {}

    std::unique_ptr<DfmObject> ParseFile() {
        Token first = lex_.Next();
        if (first.kind == Tok::End) throw EDfmError(first.line, "definição vazia");
        auto kind = ObjectKeyword(first);
        if (!kind) throw EDfmError(first.line, "'object', 'inherited' ou 'inline' esperado");
        auto root = ParseObject(*kind, first.line);
        const Token& rest = lex_.Peek();
        if (rest.kind != Tok::End) throw EDfmError(rest.line, "conteúdo após o último 'end'");
        return root;
    }

private:
    static std::optional<DfmObject::Kind> ObjectKeyword(const Token& t) {
        if (t.kind != Tok::Ident) return std::nullopt;
        if (SameIdent(t.text, "object")) return DfmObject::Kind::Object;
        if (SameIdent(t.text, "inherited")) return DfmObject::Kind::Inherited;
        if (SameIdent(t.text, "inline")) return DfmObject::Kind::Inline;
        return std::nullopt;
    }

    static bool IsPlainName(const String& s) { return s.find('.') == String::npos; }

    // The header stands alone on its line: "object Name: TClass" or "object TClass".
    void ParseHeader(DfmObject& obj, int line) {
        auto malformed = [&] { throw EDfmError(line, "cabeçalho de objeto malformado"); };
        auto sameLine = [&] {
            const Token& t = lex_.Peek();
            return t.kind != Tok::End && t.line == line;
        };
        if (!sameLine() || lex_.Peek().kind != Tok::Ident) malformed();
        Token first = lex_.Next();
        if (sameLine() && lex_.Peek().kind == Tok::Symbol && lex_.Peek().text == ":") {
            lex_.Next();
            if (!sameLine() || lex_.Peek().kind != Tok::Ident) malformed();
            obj.name = first.text;
            obj.className = lex_.Next().text;
        } else {
            obj.className = first.text;
        }
        if (sameLine() || !IsPlainName(obj.name) || !IsPlainName(obj.className)) malformed();
    }

    std::unique_ptr<DfmObject> ParseObject(DfmObject::Kind kind, int line) {
        // Forms nest a few levels; a runaway depth would only exhaust the stack.
        if (++depth_ > kMaxDepth)
            throw EDfmError(line, "objetos aninhados em excesso (mais de " +
                                      std::to_string(kMaxDepth) + " níveis)");
        auto obj = std::make_unique<DfmObject>();
        obj->kind = kind;
        obj->line = line;
        ParseHeader(*obj, line);
        for (;;) {
            Token t = lex_.Next();
            if (t.kind == Tok::End) {
                String what = obj->name.empty() ? obj->className : obj->name;
                throw EDfmError(t.line, "falta 'end' do objeto '" + what + "' aberto na linha " +
                                            std::to_string(line));
            }
            if (t.kind != Tok::Ident) throw EDfmError(t.line, "nome de propriedade esperado");
            if (SameIdent(t.text, "end")) {
                --depth_;
                return obj;
            }
            if (auto childKind = ObjectKeyword(t)) {
                obj->children.push_back(ParseObject(*childKind, t.line));
                continue;
            }
            if (obj->Find(t.text)) throw EDfmError(t.line, "propriedade repetida: " + t.text);
            const Token& eq = lex_.Peek();
            if (eq.kind != Tok::Symbol || eq.text != "=")
                throw EDfmError(eq.line, "'=' esperado após " + t.text);
            lex_.Next();
            DfmProperty prop;
            prop.name = t.text;
            prop.line = t.line;
            prop.value = ParseValue();
            obj->properties.push_back(std::move(prop));
        }
    }

    bool PeekSymbol(const char* s) {
        const Token& t = lex_.Peek();
        return t.kind == Tok::Symbol && t.text == s;
    }

    // A string with its '+' continuations, which may cross lines.
    String ParseStringExpr(Token first) {
        String text = std::move(first.text);
        while (PeekSymbol("+")) {
            lex_.Next();
            Token part = lex_.Next();
            if (part.kind != Tok::String) throw EDfmError(part.line, "texto esperado após '+'");
            text += part.text;
        }
        return text;
    }

    DfmValue ParseValue() {
        Token t = lex_.Next();
        DfmValue v;
        v.line = t.line;
        switch (t.kind) {
        case Tok::End:
            throw EDfmError(t.line, "valor esperado");
        case Tok::Integer:
            v.kind = DfmValue::Kind::Integer;
            v.integer = t.integer;
            return v;
        case Tok::Float:
            v.kind = DfmValue::Kind::Float;
            v.number = t.number;
            return v;
        case Tok::String:
            v.kind = DfmValue::Kind::Text;
            v.text = ParseStringExpr(std::move(t));
            return v;
        case Tok::Binary:
            v.kind = DfmValue::Kind::Binary;
            v.text = std::move(t.text);
            return v;
        case Tok::Ident:
            if (SameIdent(t.text, "true") || SameIdent(t.text, "false")) {
                v.kind = DfmValue::Kind::Boolean;
                v.boolean = SameIdent(t.text, "true");
            } else {
                v.kind = DfmValue::Kind::Identifier;
            }
            v.text = std::move(t.text);
            return v;
        case Tok::Symbol:
            if (t.text == "[") return ParseSet(std::move(v));
            if (t.text == "(") return ParseList(std::move(v));
            if (t.text == "<") throw EDfmError(t.line, "coleções ('<' ... '>') não são suportadas");
            break;
        }
        throw EDfmError(t.line, "valor de tipo desconhecido: " + t.text);
    }

    DfmValue ParseSet(DfmValue v) {
        v.kind = DfmValue::Kind::Set;
        if (PeekSymbol("]")) {
            lex_.Next();
            return v;
        }
        for (;;) {
            Token item = lex_.Next();
            if (item.kind != Tok::Ident && item.kind != Tok::Integer)
                throw EDfmError(item.line, "elemento de conjunto esperado");
            v.items.push_back(std::move(item.text));
            Token sep = lex_.Next();
            if (sep.kind == Tok::Symbol && sep.text == "]") return v;
            if (sep.kind != Tok::Symbol || sep.text != ",")
                throw EDfmError(sep.line, sep.kind == Tok::End ? "conjunto sem ']' de fechamento"
                                                               : "',' ou ']' esperado no conjunto");
        }
    }

    DfmValue ParseList(DfmValue v) {
        v.kind = DfmValue::Kind::StringList;
        for (;;) {
            Token item = lex_.Next();
            if (item.kind == Tok::Symbol && item.text == ")") return v;
            if (item.kind == Tok::End)
                throw EDfmError(item.line, "lista sem ')' de fechamento (aberta na linha " +
                                               std::to_string(v.line) + ")");
            if (item.kind != Tok::String)
                throw EDfmError(item.line, "item de lista deve ser texto entre aspas");
            v.items.push_back(ParseStringExpr(std::move(item)));
        }
    }

    static constexpr int kMaxDepth = 200;
    Lexer lex_;
    int depth_ = 0;
};

} // namespace

EDfmError::EDfmError(int line, const String& reason)
    : EConvertError("Definição de formulário, linha " + std::to_string(line) + ": " + reason),
      line_(line), reason_(reason) {}

const DfmProperty* DfmObject::Find(const String& wanted) const {
    for (const auto& p : properties)
        if (SameIdent(p.name, wanted)) return &p;
    return nullptr;
}

std::unique_ptr<DfmObject> ParseDfm(const String& text) {
    return Parser(text).ParseFile();
}

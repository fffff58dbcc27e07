#include "rtl/JsonReader.h"
#include "rtl/Utf8.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

using Json = nlohmann::json;

class PlainReader {
public:
    PlainReader(std::string_view text, int maxDepth)
        : p_(text.data()), end_(text.data() + text.size()), maxDepth_(maxDepth) {}

    bool Read(Json& out) {
        SkipBlanks();
        if (!Value(out, 0)) return false;
        SkipBlanks();
        return p_ == end_;
    }

private:
    const char* p_;
    const char* end_;
    int maxDepth_;

    void SkipBlanks() {
        // Most texts have no blanks: one comparison tells a character that is none.
        while (p_ != end_ && static_cast<unsigned char>(*p_) <= ' ' &&
               (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t'))
            ++p_;
    }

    bool Word(const char* word, size_t size) {
        if (static_cast<size_t>(end_ - p_) < size || std::memcmp(p_, word, size) != 0) return false;
        p_ += size;
        return true;
    }

    bool Value(Json& out, int depth) {
        if (p_ == end_) return false;
        switch (*p_) {
        case '{':
            return Object(out, depth + 1);
        case '[':
            return Array(out, depth + 1);
        case '"': {
            if (std::string_view plain; PlainText(plain)) {
                out = Json(plain);
                return true;
            }
            std::string s;
            if (!Text(s)) return false;
            out = std::move(s);
            return true;
        }
        case 't':
            if (!Word("true", 4)) return false;
            out = true;
            return true;
        case 'f':
            if (!Word("false", 5)) return false;
            out = false;
            return true;
        case 'n':
            if (!Word("null", 4)) return false;
            out = nullptr;
            return true;
        default:
            return Number(out);
        }
    }

    bool Array(Json& out, int depth) {
        if (depth > maxDepth_) return false;
        ++p_;
        out = Json(Json::value_t::array);
        auto& items = out.get_ref<Json::array_t&>();
        SkipBlanks();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            return true;
        }
        for (;;) {
            items.emplace_back();
            if (!Value(items.back(), depth)) return false;
            SkipBlanks();
            if (p_ == end_) return false;
            const char c = *p_++;
            if (c == ']') return true;
            if (c != ',') return false;
            SkipBlanks();
        }
    }

    bool Object(Json& out, int depth) {
        if (depth > maxDepth_) return false;
        ++p_;
        out = Json(Json::value_t::object);
        auto& members = out.get_ref<Json::object_t&>();
        SkipBlanks();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            return true;
        }
        for (;;) {
            if (p_ == end_ || *p_ != '"') return false;
            std::string key;
            if (std::string_view plain; PlainText(plain))
                key.assign(plain.data(), plain.size());
            else if (!Text(key))
                return false;
            SkipBlanks();
            if (p_ == end_ || *p_++ != ':') return false;
            SkipBlanks();
            // Names usually come in order, so the end is tried first. A repeated name finds its
            // member, whose value is replaced: the last one counts, as with the full parser.
            Json& member = members.emplace_hint(members.end(), std::move(key), nullptr)->second;
            if (!Value(member, depth)) return false;
            SkipBlanks();
            if (p_ == end_) return false;
            const char c = *p_++;
            if (c == '}') return true;
            if (c != ',') return false;
            SkipBlanks();
        }
    }

    // Where the run of plain characters (printable ASCII but the quote and the backslash) from
    // `p` ends: eight bytes are looked at together while all of them are plain.
    const char* PlainRun(const char* p) const {
        constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
        while (std::endian::native == std::endian::little && end_ - p >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            const std::uint64_t quote = w ^ (ones * '"'), slash = w ^ (ones * '\\');
            // A byte below 0x20, a zero byte of `quote` or of `slash`, or a high bit: each sets
            // the high bit of its byte. A borrow may also mark bytes above the first such byte,
            // never below it, so the lowest mark is where the run ends (the words are read
            // little-endian).
            const std::uint64_t marks = (((w - ones * 0x20) & ~w) | ((quote - ones) & ~quote) |
                                         ((slash - ones) & ~slash) | w) &
                                        highs;
            if (marks) return p + (std::countr_zero(marks) >> 3);
            p += 8;
        }
        while (p != end_ && static_cast<unsigned char>(*p) >= 0x20 && *p != '"' && *p != '\\' &&
               static_cast<unsigned char>(*p) < 0x80)
            ++p;
        return p;
    }

    // A string without escapes or multi-byte characters, the usual one, as its bytes between the
    // quotes (p_ at its opening quote, moved past the closing one); false leaves p_ alone.
    bool PlainText(std::string_view& text) {
        const char* start = p_ + 1;
        const char* p = PlainRun(start);
        if (p == end_ || *p != '"') return false;
        text = std::string_view(start, static_cast<size_t>(p - start));
        p_ = p + 1;
        return true;
    }

    bool Text(std::string& s) {
        const char* p = ++p_;
        for (;;) {
            // The plain characters of a run are taken together.
            const char* run = p;
            p = PlainRun(p);
            if (p == end_) return false;
            const auto c = static_cast<unsigned char>(*p);
            if (c == '"') {
                s.append(run, p);
                p_ = p + 1;
                return true;
            }
            if (c < 0x20) return false;
            if (c >= 0x80) {
                p_ = p;
                const size_t n = Utf8SequenceAt(p, end_);
                if (n == 0) return false;
                p += n;
                // The run so far is taken with the sequence; another run starts after it.
                s.append(run, p);
                continue;
            }
            // A backslash.
            s.append(run, p);
            if (++p == end_) return false;
            switch (*p) {
            case '"':
            case '\\':
            case '/':
                s += *p;
                break;
            case 'b':
                s += '\b';
                break;
            case 'f':
                s += '\f';
                break;
            case 'n':
                s += '\n';
                break;
            case 'r':
                s += '\r';
                break;
            case 't':
                s += '\t';
                break;
            default:
                return false; // \u, with its surrogate rules, is the full parser's
            }
            ++p;
        }
    }

    bool Digit() const { return p_ != end_ && *p_ >= '0' && *p_ <= '9'; }

    // An integer is a signed number when negative and an unsigned one otherwise, a number with a
    // fraction or an exponent a double: the kinds the full parser gives them.
    bool Number(Json& out) {
        const char* start = p_;
        const bool negative = *p_ == '-';
        if (negative) ++p_;
        if (!Digit()) return false;
        if (*p_ == '0') {
            ++p_;
        } else {
            while (Digit())
                ++p_;
        }
        const char* integerEnd = p_;
        bool decimal = false;
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            if (!Digit()) return false;
            while (Digit())
                ++p_;
            decimal = true;
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (!Digit()) return false;
            while (Digit())
                ++p_;
            decimal = true;
        }
        if (decimal) {
            // Correctly rounded, as strtod; an underflow or overflow is the full parser's.
            double d = 0;
            const auto [end, error] = std::from_chars(start, p_, d);
            if (error != std::errc() || end != p_ || !std::isfinite(d)) return false;
            out = d;
            return true;
        }
        const char* digits = start + (negative ? 1 : 0);
        if (integerEnd - digits > 18) return false;
        std::uint64_t v = 0;
        for (const char* d = digits; d != integerEnd; ++d)
            v = v * 10 + static_cast<std::uint64_t>(*d - '0');
        if (negative)
            out = -static_cast<std::int64_t>(v);
        else
            out = v;
        return true;
    }
};

} // namespace

bool ReadPlainJson(std::string_view text, int maxDepth, nlohmann::json& out) {
    return PlainReader(text, maxDepth).Read(out);
}

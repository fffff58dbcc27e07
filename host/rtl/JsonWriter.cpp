#include "rtl/JsonWriter.h"
#include "rtl/Utf8.h"

#include <charconv>
#include <cstdint>

namespace {

using Json = nlohmann::json;

Json::error_handler_t Handler(BadUtf8 bad) {
    return bad == BadUtf8::Replace ? Json::error_handler_t::replace : Json::error_handler_t::strict;
}

void AppendText(std::string& out, const std::string& s, BadUtf8 bad) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    const size_t start = out.size();
    out += '"';
    const auto* run = p;
    while (p != end) {
        const unsigned c = *p;
        if (c >= 0x20 && c != '"' && c != '\\' && c < 0x80) {
            ++p;
            continue;
        }
        if (c >= 0x80) {
            const size_t n = Utf8SequenceAt(reinterpret_cast<const char*>(p),
                                            reinterpret_cast<const char*>(end));
            if (n == 0) {
                // Not UTF-8: the library says so, in its words, or replaces what is not.
                out.resize(start);
                out += Json(s).dump(-1, ' ', false, Handler(bad));
                return;
            }
            p += n;
            continue;
        }
        out.append(reinterpret_cast<const char*>(run), reinterpret_cast<const char*>(p));
        out += '\\';
        switch (c) {
        case '"':
        case '\\':
            out += static_cast<char>(c);
            break;
        case '\b':
            out += 'b';
            break;
        case '\t':
            out += 't';
            break;
        case '\n':
            out += 'n';
            break;
        case '\f':
            out += 'f';
            break;
        case '\r':
            out += 'r';
            break;
        default: {
            static const char* hex = "0123456789abcdef";
            out.append("u00");
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        }
        run = ++p;
    }
    out.append(reinterpret_cast<const char*>(run), reinterpret_cast<const char*>(p));
    out += '"';
}

template <typename T> void AppendInteger(std::string& out, T v) {
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, v);
    out.append(digits, end);
}

} // namespace

void AppendJson(std::string& out, const Json& j, BadUtf8 bad) {
    switch (j.type()) {
    case Json::value_t::null:
        out += "null";
        return;
    case Json::value_t::boolean:
        out += j.get<bool>() ? "true" : "false";
        return;
    case Json::value_t::number_integer:
        AppendInteger(out, j.get<std::int64_t>());
        return;
    case Json::value_t::number_unsigned:
        AppendInteger(out, j.get<std::uint64_t>());
        return;
    case Json::value_t::string:
        AppendText(out, j.get_ref<const std::string&>(), bad);
        return;
    case Json::value_t::array: {
        out += '[';
        bool first = true;
        for (const Json& item : j.get_ref<const Json::array_t&>()) {
            if (!first) out += ',';
            first = false;
            AppendJson(out, item, bad);
        }
        out += ']';
        return;
    }
    case Json::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& [name, value] : j.get_ref<const Json::object_t&>()) {
            if (!first) out += ',';
            first = false;
            AppendText(out, name, bad);
            out += ':';
            AppendJson(out, value, bad);
        }
        out += '}';
        return;
    }
    default:
        // Doubles (the library's shortest form), binary values and the like, as it writes them.
        out += j.dump(-1, ' ', false, Handler(bad));
        return;
    }
}

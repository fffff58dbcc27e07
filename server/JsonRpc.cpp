#include "JsonRpc.h"

#include "RpcError.h"
#include "host/rtl/JsonDepth.h"
#include "host/rtl/JsonReader.h"

#include <charconv>
#include <cstdint>

using nlohmann::json;

namespace {

struct TooDeep {};

// The parser's own DOM builder, shown each number's text as well: a number written with
// non-zero digits that came out as zero was too small for a double, and would be stored as 0.
class DomWithoutUnderflow : public nlohmann::detail::json_sax_dom_parser<json> {
public:
    using Base = nlohmann::detail::json_sax_dom_parser<json>;
    using Base::Base;
    bool number_float(double value, const std::string& text) {
        if (value == 0) {
            const std::string mantissa = text.substr(0, text.find_first_of("eE"));
            if (mantissa.find_first_of("123456789") != std::string::npos) {
                underflow = text;
                return false;
            }
        }
        return Base::number_float(value, text);
    }
    std::string underflow;
};

} // namespace

json ParseRequestJson(const std::string& body) {
    json out;
    // Plain JSON, as clients write it, is read straight into the tree; anything else (escapes
    // \u, numbers out of range, faults) goes to the full parser, which reads it the same way or
    // says what is wrong.
    if (ReadPlainJson(body, kJsonMaxDepth, out)) return out;
    try {
        if (JsonNestsBeyond(body, kJsonMaxDepth)) throw TooDeep{};
        out = json(); // what the quick reader left of its try
        DomWithoutUnderflow dom(out);
        json::sax_parse(body, &dom);
        if (!dom.underflow.empty())
            throw RpcError(kRpcParseError,
                           "A requisição traz um número fora do intervalo aceito: " +
                               LogSafe(dom.underflow, 40) +
                               " é pequeno demais para ser representado (abaixo de cerca de "
                               "4,9e-324 em valor absoluto).");
        return out;
    } catch (const TooDeep&) {
        throw RpcError(kRpcParseError, "A requisição aninha listas ou objetos além de " +
                                           std::to_string(kJsonMaxDepth) + " níveis.");
    } catch (const json::parse_error& e) {
        throw RpcError(kRpcParseError,
                       "JSON malformado na requisição (posição " + std::to_string(e.byte) + ").",
                       e.what());
    } catch (const json::out_of_range& e) {
        throw RpcError(kRpcParseError,
                       "A requisição traz um número fora do intervalo aceito (até cerca de "
                       "1,8e308 em valor absoluto).",
                       e.what());
    } catch (const json::exception& e) {
        throw RpcError(kRpcParseError, "JSON inválido na requisição.", e.what());
    }
}

RpcCall DecodeRpcCall(const std::string& body, json& id) {
    id = nullptr;
    json call = ParseRequestJson(body);
    if (call.is_array())
        throw RpcError(kRpcInvalidRequest,
                       "Chamadas em lote não são aceitas: envie uma chamada por requisição.");
    if (!call.is_object())
        throw RpcError(kRpcInvalidRequest, "A requisição deve ser um objeto JSON-RPC.");
    RpcCall out;
    if (auto it = call.find("id"); it != call.end()) {
        if (!(it->is_string() || it->is_number() || it->is_null()))
            throw RpcError(kRpcInvalidRequest, "Identificador (id) da chamada inválido.");
        id = *it;
        out.id = *it;
    }
    if (call.value("jsonrpc", json()) != "2.0")
        throw RpcError(kRpcInvalidRequest, "A requisição deve declarar \"jsonrpc\": \"2.0\".");
    auto method = call.find("method");
    if (method == call.end() || !method->is_string())
        throw RpcError(kRpcInvalidRequest, "A requisição não traz o nome do método.");
    out.method = method->get<std::string>();
    if (auto p = call.find("params"); p != call.end()) {
        if (p->is_object())
            throw RpcError(kRpcInvalidParams, "Os parâmetros devem ser posicionais (lista).");
        if (!p->is_array())
            throw RpcError(kRpcInvalidRequest, "Parâmetros (params) devem ser uma lista.");
        out.params = std::move(*p); // the bulk of a save: moved, not copied
    }
    out.notification = !call.contains("id");
    return out;
}

namespace {

// The bytes of one well-formed UTF-8 sequence at `p` (first byte 0x80 or above), or 0.
size_t Utf8Sequence(const unsigned char* p, const unsigned char* end) {
    const auto at = [&](size_t i) { return p + i < end ? static_cast<unsigned>(p[i]) : 0u; };
    const auto in = [](unsigned c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; };
    const unsigned c = at(0);
    if (in(c, 0xC2, 0xDF)) return in(at(1), 0x80, 0xBF) ? 2 : 0;
    if (in(c, 0xE0, 0xEF)) {
        const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) ? 3 : 0;
    }
    if (in(c, 0xF0, 0xF4)) {
        const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

// Well-formed text without control characters is written here, its quotes and backslashes
// escaped; any other text, a double and anything unusual are the library's to write, so the
// bytes are always the library's own (a save's idempotency digest depends on them).
void AppendText(std::string& out, const std::string& text) {
    const size_t start = out.size();
    out += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p != end) {
        const unsigned char* run = p;
        while (p != end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\')
            ++p;
        out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end) break;
        if (*p == '"' || *p == '\\') {
            out += '\\';
            out += static_cast<char>(*p++);
            continue;
        }
        const size_t n = *p >= 0x80 ? Utf8Sequence(p, end) : 0;
        if (n == 0) {
            out.resize(start);
            out += json(text).dump(-1, ' ', false, json::error_handler_t::replace);
            return;
        }
        out.append(reinterpret_cast<const char*>(p), n);
        p += n;
    }
    out += '"';
}

void AppendJson(std::string& out, const json& value) {
    switch (value.type()) {
    case json::value_t::null:
        out += "null";
        return;
    case json::value_t::boolean:
        out += value.get<bool>() ? "true" : "false";
        return;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: {
        char digits[24];
        const std::to_chars_result written =
            value.is_number_unsigned()
                ? std::to_chars(digits, digits + sizeof digits, value.get<std::uint64_t>())
                : std::to_chars(digits, digits + sizeof digits, value.get<std::int64_t>());
        out.append(digits, written.ptr);
        return;
    }
    case json::value_t::string:
        AppendText(out, value.get_ref<const std::string&>());
        return;
    case json::value_t::array: {
        out += '[';
        bool first = true;
        for (const json& item : value) {
            if (!first) out += ',';
            first = false;
            AppendJson(out, item);
        }
        out += ']';
        return;
    }
    case json::value_t::object: {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : value.get_ref<const json::object_t&>()) {
            if (!first) out += ',';
            first = false;
            AppendText(out, key);
            out += ':';
            AppendJson(out, item);
        }
        out += '}';
        return;
    }
    default:
        out += value.dump(-1, ' ', false, json::error_handler_t::replace);
    }
}

} // namespace

std::string DumpJson(const json& value) {
    std::string out;
    AppendJson(out, value);
    return out;
}

std::string LogSafe(std::string_view text, size_t max) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f || c == '\\') {
            out += '\\';
            if (c == '\\') {
                out += '\\';
            } else {
                out += 'x';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

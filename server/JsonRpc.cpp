#include "JsonRpc.h"

#include "RpcError.h"
#include "host/rtl/JsonDepth.h"
#include "host/rtl/JsonReader.h"
#include "host/rtl/JsonWriter.h"

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

// The library's bytes, written without its serializer (a save's digest depends on them).
std::string DumpJson(const json& value) {
    std::string out;
    AppendJson(out, value, BadUtf8::Replace);
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

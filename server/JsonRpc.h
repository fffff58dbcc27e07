// The JSON-RPC 2.0 envelope of a request, decoded from an HTTP body that nobody vouches for:
// nesting is limited while parsing, so nothing later recurses over a depth the client chose.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

// Arrays and objects nested deeper than this are refused while parsing.
constexpr int kJsonMaxDepth = 64;

struct RpcCall {
    nlohmann::json id;         // string, number or null
    bool notification = false; // no "id": run, answer nothing
    std::string method;
    nlohmann::json params = nlohmann::json::array(); // positional
};

// Parses a request body; any fault is RpcError(-32700) with a Portuguese message of our own.
nlohmann::json ParseRequestJson(const std::string& body);

// The call in a body. Faults are RpcError; `id` receives the call's id as soon as it is known,
// so that the error answer can carry it.
RpcCall DecodeRpcCall(const std::string& body, nlohmann::json& id);

// JSON text of a value that may hold ill-formed UTF-8 (read from the database by another
// program, say): such bytes become U+FFFD instead of failing the answer.
std::string DumpJson(const nlohmann::json& value);

// Text from a client or the database made fit for one log line: control characters escaped,
// cut after `max` bytes.
std::string LogSafe(std::string_view text, size_t max = 200);

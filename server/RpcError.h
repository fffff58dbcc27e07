// A call that ends in a JSON-RPC error: the code and the Portuguese text the user sees, and
// for the server's log only, what the library or the database said.
#pragma once

#include <stdexcept>
#include <string>

enum RpcCode : int {
    kRpcParseError = -32700,
    kRpcInvalidRequest = -32600,
    kRpcMethodNotFound = -32601,
    kRpcInvalidParams = -32602,
    kRpcRefused = -32000,
    kRpcConflict = -32001,
    kRpcDatabaseFailure = -32002,
    kRpcUnauthorized = -32003,   // no valid session (HTTP 401)
    kRpcLoginFailed = -32004,    // wrong name or password (HTTP 401)
    kRpcThrottled = -32005,      // too many failed logins (HTTP 429)
    kRpcOutcomeUnknown = -32006, // a commit's answer was lost and the database stays away (503)
    kRpcInternalError = -32603,
};

class RpcError : public std::runtime_error {
public:
    RpcError(int code, const std::string& message, std::string detail = {})
        : std::runtime_error(message), code_(code), detail_(std::move(detail)) {}
    int Code() const { return code_; }
    const std::string& Detail() const { return detail_; }

private:
    int code_;
    std::string detail_;
};

inline const char* kConflictMessage =
    "Registro alterado por outro usuário. Recarregue o fornecedor e repita a alteração.";

// A call that ends in a JSON-RPC error: the code and the Portuguese text the user sees.
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
    kRpcInternalError = -32603,
};

class RpcError : public std::runtime_error {
public:
    RpcError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

inline const char* kConflictMessage =
    "Registro alterado por outro usuário. Recarregue o fornecedor e repita a alteração.";

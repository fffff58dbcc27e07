// A remote data module: a named set of methods that clients call by JSON-RPC.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

class Database;

// What a call knows about its caller and the server.
struct CallContext {
    Database& db;
    std::optional<std::string> operatorName; // from the X-Operator header
    std::string today;                       // the server's date, YYYY-MM-DD
    std::string now;                         // the server's timestamp, YYYY-MM-DD HH:MM:SS
    std::string subject;                     // set by the module: what the log line names
    bool applied = false;                    // set by the module once a change is committed
    // Idempotency-Key of the request: a method that changes data applies it at most once.
    std::optional<std::string> idempotencyKey;
    bool replayed = false; // set by the module: the answer is the one stored for the key
    std::string note{};    // set by the module: a remark for the log line of a call that succeeded
    // Set by the module when its COMMIT failed and the save was then found stored: the failure.
    std::string confirmedAfter{};
    // Set by the module that writes its answer as JSON text itself: the result sent, in place of
    // the value the method returns (which still tells the outcome for the log).
    std::string resultText{};
};

class RemoteModule {
public:
    virtual ~RemoteModule() = default;
    virtual std::string Name() const = 0;
    virtual std::vector<std::string> Methods() const = 0;
    // Runs one method with positional params; faults are thrown as RpcError.
    virtual nlohmann::json Call(const std::string& method, const nlohmann::json& params,
                                CallContext& ctx) = 0;
    // Whether the method is a short one (one row, one save): the server may run it on the
    // network thread that read it instead of handing it to a worker.
    virtual bool Quick(const std::string& /*method*/) const { return false; }
};

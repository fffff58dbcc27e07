// What the server tells its observers (metrics, access log) about one finished call.
#pragma once

#include <optional>
#include <string>

enum class CallOutcome {
    Ok,            // the method answered success
    Refused,       // a business refusal: ["N", text] or a validation error
    Conflict,      // the stored row changed since it was read
    Invalid,       // malformed request, unknown method, bad parameters
    DatabaseError, // the database failed or is unreachable
    InternalError,
    Unauthorized, // no valid session, a failed login or one refused while throttled
};
constexpr int kCallOutcomeCount = 7;

// What a login call came to; the other calls are None. A login that failed for the database or
// the server is counted too, so that failing logins show on the metrics whatever their cause.
enum class LoginOutcome { None, Ok, Wrong, Throttled, DatabaseError, InternalError };
constexpr int kLoginOutcomeCount = 5; // without None

// The label and log value of an outcome ("ok", "refused", ...).
const char* OutcomeName(CallOutcome outcome);

struct CallRecord {
    std::string requestId;
    std::string module;
    std::string method; // empty when the request never named one
    std::optional<std::string> operatorName;
    std::string supplier;
    double seconds = 0;
    CallOutcome outcome = CallOutcome::Ok;
    int code = 0;         // JSON-RPC error code, 0 on success
    std::string message;  // refusal or error text shown to the user
    bool applied = false; // a change was committed
    LoginOutcome login = LoginOutcome::None;
    std::string address; // the client's address, logged for logins and refused sessions
};

class CallObserver {
public:
    virtual ~CallObserver() = default;
    virtual void CallStarted() {}
    virtual void CallEnded(const CallRecord& record) = 0;
};

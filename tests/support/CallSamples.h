// A call as the server's observers (metrics, access log) receive it, for their tests and
// benchmarks: a save of the parameters refused because the row changed meanwhile.
#pragma once

#include "CallRecord.h"

#include <string>

inline CallRecord ConflictingSave(std::string requestId, double seconds, std::string message) {
    CallRecord r;
    r.requestId = std::move(requestId);
    r.module = "Kxf27400.rdmParamForne";
    r.method = "SetParamForn";
    r.operatorName = "Ana Lúcia";
    r.supplier = "000001";
    r.seconds = seconds;
    r.outcome = CallOutcome::Conflict;
    r.code = -32001;
    r.message = std::move(message);
    return r;
}

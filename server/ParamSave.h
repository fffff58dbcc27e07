// A validated change of one supplier's parameters, stored at most once: the save's transaction
// claims the idempotency key first, updates the row where every changed column still holds its
// original (or inserts the first row from the defaults), writes one audit row per changed column
// and stores its answer under the key.
#pragma once

#include "ParamRecord.h"
#include "RemoteModule.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

// The client's key for this save and what identifies its request (IdempotencyDigest): the same
// key with the same request gets the first answer, with another request a refusal.
struct IdempotencyClaim {
    std::string key;
    std::string digest;
};

// ["S"] once stored, or the answer stored under the claim's key when that request was applied
// already (nothing is written then). Refusals are RpcError: a supplier or operator group that is
// not registered (-32000), a row that changed since the client read it (-32001), the key of
// another request (-32600). Sets ctx.applied, ctx.replayed and ctx.confirmedAfter, and writes the
// audit with ctx.operatorName and ctx.now.
nlohmann::json SaveParamChange(CallContext& ctx, const ValidChange& change,
                               const std::optional<IdempotencyClaim>& claim);

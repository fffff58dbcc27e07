#include "ParamSave.h"

#include "Database.h"
#include "IdempotencyStore.h"
#include "ParamStore.h"
#include "RpcError.h"

using nlohmann::json;

void StoreParamChange(DbCall& db, const CallContext& ctx, const ValidChange& change) {
    const std::string& code = change.supplier;
    const StoredRow stored = StoredRowOf(db, code);
    if (stored == StoredRow::NoSupplier)
        throw RpcError(kRpcRefused, "Fornecedor " + code + " não cadastrado.");
    if (change.group && !GroupExists(db, *change.group))
        throw RpcError(kRpcRefused, "Campo CDGRPERMLANMAX: grupo de operadores \"" + *change.group +
                                        "\" não cadastrado.");
    if (stored == StoredRow::Stored) {
        if (UpdateParams(db, code, change.columns) != 1)
            throw RpcError(kRpcConflict, kConflictMessage);
    } else {
        // Only the default row may become the first stored row: anything else was read
        // from a row that has since been deleted.
        if (!change.fromDefaults || InsertParams(db, code, change.row) != 1)
            throw RpcError(kRpcConflict, kConflictMessage);
    }
    WriteParamLog(db, code, ctx.now, ctx.operatorName, change.columns);
}

json SaveParamChange(CallContext& ctx, const ValidChange& change,
                     const std::optional<IdempotencyClaim>& claim) {
    if (claim) PurgeExpiredIdempotencyKeys(ctx.db);
    // A COMMIT that broke may have been carried out: the key, stored with the save, tells.
    SettleCommit settle;
    if (claim)
        settle = [&](DbCall& db, const std::string& failure) -> std::optional<json> {
            std::optional<json> answer = CommittedAnswer(db, claim->key, claim->digest);
            if (answer) {
                ctx.applied = true;
                ctx.confirmedAfter = failure;
            }
            return answer;
        };
    return ctx.db.Run(
        [&](DbCall& db) -> json {
            db.Begin();
            json answer = json::array({"S"});
            if (claim) {
                if (auto stored = ClaimIdempotencyKey(db, claim->key, claim->digest, answer)) {
                    if (stored->digest != claim->digest)
                        throw RpcError(
                            kRpcInvalidRequest,
                            "Chave de idempotência já usada por outra gravação: gere uma "
                            "chave nova para cada gravação.");
                    ctx.replayed = true;
                    return stored->answer; // applied once already: nothing more is written
                }
            }
            StoreParamChange(db, ctx, change);
            db.Commit();
            ctx.applied = true;
            return answer;
        },
        settle);
}

#include "Operators.h"

#include "ParamRecord.h"
#include "RpcError.h"
#include "Sha256.h"
#include "host/rtl/Utf8.h"

#include <soci/soci.h>
#include <sodium.h>

#include <chrono>
#include <mutex>
#include <stdexcept>

namespace {

void InitSodium() {
    static const int ready = sodium_init();
    if (ready < 0) throw std::runtime_error("libsodium não pôde ser iniciada");
}

void DeleteSessionsOf(DbCall& db, const std::string& name) {
    std::string n = name;
    db.Sql() << "DELETE FROM SESSAOOPER WHERE CDOPERADOR = :n", soci::use(n);
}

} // namespace

long long NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string OperatorNameProblem(const std::string& name) {
    if (name.empty()) return "o nome do operador não pode ser vazio.";
    if (!ValidUtf8(name)) return "o nome do operador não é um texto UTF-8 válido.";
    if (ControlCharacterPosition(name))
        return "o nome do operador contém um caractere de controle.";
    if (Utf8Length(name) > kOperatorNameMax)
        return "o nome do operador excede " + std::to_string(kOperatorNameMax) + " caracteres.";
    if (name.front() == ' ' || name.back() == ' ')
        return "o nome do operador não pode começar nem terminar com espaço.";
    return "";
}

std::string PasswordProblem(const std::string& password) {
    if (!ValidUtf8(password)) return "a senha não é um texto UTF-8 válido.";
    if (Utf8Length(password) < kPasswordMin)
        return "a senha deve ter ao menos " + std::to_string(kPasswordMin) + " caracteres.";
    if (password.size() > kPasswordMax)
        return "a senha excede " + std::to_string(kPasswordMax) + " bytes.";
    return "";
}

std::string HashPassword(const std::string& password) {
    InitSodium();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("memória insuficiente para o hash da senha");
    return out;
}

bool PasswordMatches(const std::string& hash, const std::string& password) {
    InitSodium();
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

bool AddOperator(Database& database, const std::string& name, const std::string& password) {
    if (const std::string p = OperatorNameProblem(name); !p.empty()) throw std::invalid_argument(p);
    if (const std::string p = PasswordProblem(password); !p.empty()) throw std::invalid_argument(p);
    std::string n = name, hash = HashPassword(password), active = "S";
    long long now = NowSeconds();
    bool added = false;
    database.Run([&](DbCall& db) -> nlohmann::json {
        db.Begin();
        long long found = 0;
        Query(db, "SELECT COUNT(*) FROM OPERADOR WHERE CDOPERADOR = :n").Into(found).Use(n).Run();
        if (found) {
            db.Sql() << "UPDATE OPERADOR SET DSSENHAHASH = :h, IDATIVO = :a WHERE CDOPERADOR = :n",
                soci::use(hash), soci::use(active), soci::use(n);
            DeleteSessionsOf(db, n);
        } else {
            db.Sql() << "INSERT INTO OPERADOR (CDOPERADOR, DSSENHAHASH, IDATIVO, NRCRIACAO) "
                        "VALUES (:n, :h, :a, :t)",
                soci::use(n), soci::use(hash), soci::use(active), soci::use(now);
        }
        db.Commit();
        added = !found;
        return nullptr;
    });
    return added;
}

bool DisableOperator(Database& database, const std::string& name) {
    std::string n = name, inactive = "N";
    bool found = false;
    database.Run([&](DbCall& db) -> nlohmann::json {
        db.Begin();
        Query update(db, "UPDATE OPERADOR SET IDATIVO = :a WHERE CDOPERADOR = :n");
        update.Use(inactive).Use(n).Run();
        found = update.AffectedRows() == 1;
        DeleteSessionsOf(db, n);
        db.Commit();
        return nullptr;
    });
    return found;
}

std::vector<OperatorInfo> ListOperators(Database& database) {
    std::vector<OperatorInfo> out;
    long long now = NowSeconds();
    database.Run([&](DbCall& db) -> nlohmann::json {
        out.clear();
        std::string name, active;
        long long created = 0, sessions = 0;
        Query list(db, "SELECT O.CDOPERADOR, O.IDATIVO, O.NRCRIACAO, "
                       "(SELECT COUNT(*) FROM SESSAOOPER S WHERE S.CDOPERADOR = "
                       "O.CDOPERADOR AND S.NREXPIRA > :t) FROM OPERADOR O "
                       "ORDER BY O.CDOPERADOR");
        list.Into(name).Into(active).Into(created).Into(sessions).Use(now);
        for (bool got = list.Run(); got; got = list.Next())
            out.push_back({name, active == "S", created, sessions});
        return nullptr;
    });
    return out;
}

std::string NewSessionToken() {
    InitSodium();
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    return Hex(bytes, sizeof bytes);
}

std::string TokenDigest(const std::string& token) {
    return Sha256Hex(token);
}

LoginResult OpenSession(Database& database, const std::string& name, const std::string& password,
                        long long lifetimeSeconds, std::string& token) {
    // Checked against this when the name is unknown, so the answer takes as long either way.
    static const std::string decoy = HashPassword(NewSessionToken());
    std::string n = name, hash;
    bool active = false;
    database.Run([&](DbCall& db) -> nlohmann::json {
        std::string flag;
        soci::indicator ind = soci::i_null;
        const bool found =
            Query(db, "SELECT DSSENHAHASH, IDATIVO FROM OPERADOR WHERE CDOPERADOR = :n")
                .Into(hash, ind)
                .Into(flag)
                .Use(n)
                .Run();
        if (!found || ind != soci::i_ok) hash.clear();
        active = flag == "S";
        return nullptr;
    });
    const bool matches = PasswordMatches(hash.empty() ? decoy : hash, password);
    if (hash.empty()) return LoginResult::UnknownOperator;
    if (!matches || !active) return LoginResult::WrongCredentials;

    token = NewSessionToken();
    std::string digest = TokenDigest(token);
    long long now = NowSeconds(), expires = now + lifetimeSeconds;
    database.Run([&](DbCall& db) -> nlohmann::json {
        db.Begin();
        db.Sql() << "DELETE FROM SESSAOOPER WHERE NREXPIRA <= :t", soci::use(now);
        // Disabled between the check and now: no session.
        std::string flag;
        Query(db, "SELECT IDATIVO FROM OPERADOR WHERE CDOPERADOR = :n").Into(flag).Use(n).Run();
        if (flag != "S") {
            db.Rollback();
            active = false;
            return nullptr;
        }
        db.Sql() << "INSERT INTO SESSAOOPER (CDHASHSESSAO, CDOPERADOR, NRCRIACAO, NREXPIRA) "
                    "VALUES (:h, :n, :c, :e)",
            soci::use(digest), soci::use(n), soci::use(now), soci::use(expires);
        db.Commit();
        return nullptr;
    });
    if (!active) {
        token.clear();
        return LoginResult::WrongCredentials;
    }
    return LoginResult::Ok;
}

bool IsSessionToken(const std::string& token) {
    return token.size() == 64 && token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::optional<std::string> SessionOperatorOf(DbCall& db, const std::string& digest) {
    // Every call of a signed-in operator runs this: kept with its pooled session.
    struct Kept : PreparedCache::Entry {
        std::string digest, name;
        long long now = 0;
        soci::indicator ind = soci::i_null;
        std::unique_ptr<Query> query;
    };
    auto& kept = db.Prepared().Get<Kept>("SessionOperator", [&] {
        auto k = std::make_unique<Kept>();
        k->query =
            std::make_unique<Query>(db, "SELECT S.CDOPERADOR FROM SESSAOOPER S JOIN OPERADOR O ON "
                                        "O.CDOPERADOR = S.CDOPERADOR WHERE S.CDHASHSESSAO = :h AND "
                                        "S.NREXPIRA > :t AND O.IDATIVO = 'S'");
        k->query->Into(k->name, k->ind).Use(k->digest).Use(k->now);
        return k;
    });
    kept.digest = digest;
    kept.now = NowSeconds();
    std::optional<std::string> name;
    if (kept.query->Run() && kept.ind == soci::i_ok) name = kept.name;
    kept.query->Drain();
    return name;
}

std::optional<std::string> SessionOperator(Database& database, const std::string& token) {
    if (!IsSessionToken(token)) return std::nullopt;
    std::optional<std::string> name;
    database.Run([&](DbCall& db) -> nlohmann::json {
        name = SessionOperatorOf(db, TokenDigest(token));
        return nullptr;
    });
    return name;
}

void CloseSession(Database& database, const std::string& token) {
    std::string digest = TokenDigest(token);
    database.Run([&](DbCall& db) -> nlohmann::json {
        db.Begin();
        db.Sql() << "DELETE FROM SESSAOOPER WHERE CDHASHSESSAO = :h", soci::use(digest);
        db.Commit();
        return nullptr;
    });
}

long long CountOpenSessions(Database& database) {
    long long n = 0, now = NowSeconds();
    database.Run([&](DbCall& db) -> nlohmann::json {
        Query(db, "SELECT COUNT(*) FROM SESSAOOPER WHERE NREXPIRA > :t").Into(n).Use(now).Run();
        return nullptr;
    });
    return n;
}

bool OperatorExists(Database& database, const std::string& name) {
    std::string n = name;
    long long found = 0;
    database.Run([&](DbCall& db) -> nlohmann::json {
        Query(db, "SELECT COUNT(*) FROM OPERADOR WHERE CDOPERADOR = :n").Into(found).Use(n).Run();
        return nullptr;
    });
    return found > 0;
}

bool AnyActiveOperator(Database& database) {
    long long active = 0;
    database.Run([&](DbCall& db) -> nlohmann::json {
        Query(db, "SELECT COUNT(*) FROM OPERADOR WHERE IDATIVO = 'S'").Into(active).Run();
        return nullptr;
    });
    return active > 0;
}

bool OperatorTablesExist(Database& database) {
    try {
        database.Run([](DbCall& db) -> nlohmann::json {
            long long n = 0;
            Query(db, "SELECT COUNT(*) FROM OPERADOR O JOIN SESSAOOPER S ON S.CDOPERADOR = "
                      "O.CDOPERADOR WHERE 1 = 0")
                .Into(n)
                .Run();
            return nullptr;
        });
        return true;
    } catch (const RpcError&) {
        return false;
    }
}

#include "TestDatabase.h"

#include "Schema.h"
#include "ServerProcess.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <unistd.h>

using nlohmann::json;

namespace {

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

json CellValue(const soci::row& row, size_t i) {
    if (row.get_indicator(i) == soci::i_null) return nullptr;
    switch (row.get_properties(i).get_data_type()) {
    case soci::dt_string:
        return row.get<std::string>(i);
    case soci::dt_double:
        return row.get<double>(i);
    case soci::dt_integer:
        return row.get<int>(i);
    case soci::dt_long_long:
        return row.get<long long>(i);
    case soci::dt_unsigned_long_long:
        return row.get<unsigned long long>(i);
    case soci::dt_date: {
        std::tm tm = row.get<std::tm>(i);
        char buf[32];
        std::strftime(buf, sizeof buf,
                      tm.tm_hour || tm.tm_min || tm.tm_sec ? "%Y-%m-%d %H:%M:%S" : "%Y-%m-%d", &tm);
        return buf;
    }
    default:
        return "?";
    }
}

std::vector<std::map<std::string, json>> Rows(soci::session& sql, const std::string& query,
                                              const std::string& key) {
    std::vector<std::map<std::string, json>> out;
    soci::rowset<soci::row> rows = (sql.prepare << query, soci::use(key));
    for (const soci::row& r : rows) {
        std::map<std::string, json> m;
        for (size_t i = 0; i < r.size(); ++i)
            m[Upper(r.get_properties(i).get_name())] = CellValue(r, i);
        out.push_back(std::move(m));
    }
    return out;
}

std::atomic<int> databaseCounter{0};

} // namespace

TestDatabase::TestDatabase(const std::string& kind, Init init) : kind_(kind) {
    if (IsSqlite()) {
        url_ = "sqlite:" + SqlitePath();
    } else {
        const char* admin = std::getenv("KX_TEST_PG");
        if (!admin) throw std::runtime_error("KX_TEST_PG não definido");
        name_ = "kxs_" + std::to_string(getpid()) + "_" + std::to_string(++databaseCounter);
        Admin() << "DROP DATABASE IF EXISTS " + name_;
        Admin() << "CREATE DATABASE " + name_;
        // The server's URI with this database's name in place of the one it names.
        const auto named = [&](std::string base) {
            const auto query = base.find('?');
            const std::string tail = query == std::string::npos ? "" : base.substr(query);
            base = base.substr(0, query);
            const auto slash = base.find('/', base.find("://") + 3);
            return (slash == std::string::npos ? base : base.substr(0, slash)) + "/" + name_ + tail;
        };
        directUrl_ = named(admin);
        const char* pooler = std::getenv("KX_TEST_PG_POOLER");
        url_ = pooler && *pooler ? named(pooler) : directUrl_;
    }
    if (init == Init::Empty) return;
    if (init == Init::InProcess) {
        kxsql::InitDatabase(url_, true);
        return;
    }
    const RunResult run = RunAppserver({"init", "--db", url_, "--demo"});
    if (run.exitCode != 0) throw std::runtime_error("appserver init falhou: " + run.err);
}

TestDatabase::~TestDatabase() {
    sql_.reset();
    if (!IsSqlite()) {
        // A test may have ended the server's sessions, this one's too: then once more on a new one.
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                Admin() << "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)";
                break;
            } catch (const std::exception&) {
                admin_.reset();
            }
        }
    }
}

soci::session& TestDatabase::Sql() {
    if (!sql_) {
        sql_ = std::make_unique<soci::session>();
        kxsql::OpenSession(*sql_, IsSqlite() ? url_ : directUrl_);
    }
    return *sql_;
}

soci::session& TestDatabase::Admin() {
    if (!admin_) {
        admin_ = std::make_unique<soci::session>();
        kxsql::OpenSession(*admin_, std::getenv("KX_TEST_PG"));
    }
    return *admin_;
}

std::string TestDatabase::Dump(const std::string& query) {
    std::string out;
    soci::rowset<soci::row> rows = Sql().prepare << query;
    for (const soci::row& r : rows) {
        for (size_t i = 0; i < r.size(); ++i)
            out += CellValue(r, i).dump() + "|";
        out += "\n";
    }
    return out;
}

std::optional<std::map<std::string, json>> TestDatabase::ParamRow(const std::string& code) {
    auto rows = Rows(Sql(), "SELECT * FROM PARAMFORNE WHERE CDFORNECED = :c", code);
    if (rows.empty()) return std::nullopt;
    return rows[0];
}

std::vector<std::map<std::string, json>> TestDatabase::LogRows(const std::string& code) {
    return Rows(Sql(), "SELECT * FROM PARAMFORNELOG WHERE CDFORNECED = :c ORDER BY IDPARAMFORNELOG",
                code);
}

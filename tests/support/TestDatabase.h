// A demo database per test: a SQLite file, or a fresh PostgreSQL database on the server that
// KX_TEST_PG names, dropped afterwards. With KX_TEST_PG_POOLER (a pooler's URI in front of that
// server) the programs under test reach the database through the pooler (Url) while the test's
// own statements (Sql) go straight to the server.
#pragma once

#include "TempDir.h"

#include <nlohmann/json.hpp>
#include <soci/soci.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TestDatabase {
public:
    // How the tables and the demo data are made: by running "appserver init --demo" (the tests
    // of the server program), or by the same code in this process, which is faster; or not at
    // all, an empty database for a test that makes its own tables and rows.
    enum class Init { ByAppserver, InProcess, Empty };

    // kind "sqlite" or "postgresql".
    explicit TestDatabase(const std::string& kind, Init init = Init::ByAppserver);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;
    const std::string& Url() const { return url_; }
    bool IsSqlite() const { return kind_ == "sqlite"; }
    const std::string& Dir() const { return dir_.Path(); }
    std::string SqlitePath() const { return dir_.Path() + "/kx.db"; }
    soci::session& Sql(); // opened on first use
    void CloseSql() { sql_.reset(); }

    // Every row of a query, each column as text ("null" for null), for before/after checks.
    std::string Dump(const std::string& query);
    // A PARAMFORNE row as column name -> value (numbers as numbers, dates YYYY-MM-DD).
    std::optional<std::map<std::string, nlohmann::json>> ParamRow(const std::string& code);
    // PARAMFORNELOG rows of a supplier in insertion order.
    std::vector<std::map<std::string, nlohmann::json>> LogRows(const std::string& code);

    // PostgreSQL only: the server of KX_TEST_PG, for statements about this database.
    soci::session& Admin();
    std::string Name() const { return name_; }

private:
    std::string kind_;
    TempDir dir_;
    std::string url_;
    std::string directUrl_; // url_ without the pooler
    std::string name_;
    std::unique_ptr<soci::session> sql_;
    std::unique_ptr<soci::session> admin_;
};

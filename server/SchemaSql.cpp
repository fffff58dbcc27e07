// Writes the schema as an SQL script for one engine, for the server package: a database
// administrator may read it or apply it with the database's own tools instead of appserver init.
#include "Schema.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    const std::string engine = argc == 3 ? argv[1] : "";
    if (engine != "sqlite" && engine != "postgresql") {
        std::cerr << "uso: kx-schema-sql sqlite|postgresql ARQUIVO\n";
        return 2;
    }
    std::ofstream out(argv[2]);
    out << "-- Esquema do banco de dados do servidor de aplicação KX (" << engine << ").\n"
        << "-- Equivale a \"appserver init\": pode ser aplicado de novo sem perda de dados.\n\n";
    const auto e = engine == "sqlite" ? kxsql::Engine::SQLite : kxsql::Engine::PostgreSQL;
    for (const kxsql::SchemaStep& step : kxsql::SchemaSteps(e)) {
        out << "-- Versão " << step.version << " do esquema.\n\n";
        for (const std::string& statement : step.statements)
            out << statement << ";\n\n";
    }
    out << "-- A versão do esquema (não aplique este script a um banco de versão mais nova).\n\n";
    for (const std::string& statement : kxsql::SchemaStampStatements(e))
        out << statement << ";\n\n";
    out.close();
    return out ? 0 : 1;
}

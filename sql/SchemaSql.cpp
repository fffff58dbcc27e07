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
    for (const std::string& statement : kxsql::SchemaStatements(
             engine == "sqlite" ? kxsql::Engine::SQLite : kxsql::Engine::PostgreSQL))
        out << statement << ";\n\n";
    out.close();
    return out ? 0 : 1;
}

// bench-table: merges the JSON results of the benchmark programs into one table on stdout.
// Usage: bench-table [--baseline FILE.md] RESULT.json...   (each file named after its program,
// e.g. bench_net.json). FILE.md holds the throughput the load goals are compared with: the
// Markdown table with the columns "Motor", "Clientes" and "Chamadas/s antes".
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Row {
    std::string name, time, iterations, note;
};

double Nanoseconds(double value, const std::string& unit) {
    if (unit == "us") return value * 1e3;
    if (unit == "ms") return value * 1e6;
    if (unit == "s") return value * 1e9;
    return value;
}

// Three significant digits in the largest unit that keeps the value at or above 1.
std::string Readable(double ns) {
    const char* units[] = {"ns", "µs", "ms", "s"};
    int u = 0;
    while (u < 3 && ns >= 1000) {
        ns /= 1000;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf,
                  ns >= 100  ? "%.0f %s"
                  : ns >= 10 ? "%.1f %s"
                             : "%.2f %s",
                  ns, units[u]);
    return buf;
}

// Display width in characters (UTF-8 continuation bytes do not count).
size_t Width(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string Pad(const std::string& s, size_t width, bool right = false) {
    const std::string fill(width > Width(s) ? width - Width(s) : 0, ' ');
    return right ? fill + s : s + fill;
}

// A value of one benchmark: "real" or "cpu" time in microseconds, or one of its counters.
struct Measure {
    std::string bench, field;
};

struct Goal {
    std::string what;
    Measure now;
    std::vector<std::pair<Measure, double>> floor; // the floor: the sum of factor x value
    enum Kind { Ratio, Absolute, Margin, Report, AtLeast } kind;
    double limit;     // Ratio: now/floor; Absolute: now; Margin: now - floor; AtLeast: now/floor
    std::string unit; // of now and floor
    std::string goal;
};

// The goals of the scale and round-trip work, each against the floor measured in the same run.
const std::vector<Goal> kGoals = {
    {"GetParamForn, conexão mantida, p50",
     {"net/GetParamFornKeepAlive", "p50_us"},
     {{{"net/GetParamFornKeepAlive", "pingpong_p50_us"}, 1}},
     Goal::Ratio,
     4,
     "µs",
     "≤ 4× ping-pong"},
    {"SetParamForn (um campo, auditoria), p50",
     {"net/SetParamForn", "p50_us"},
     {{{"net/SetParamForn", "commit_p50_us"}, 1}, {{"net/SetParamForn", "pingpong_p50_us"}, 2}},
     Goal::Ratio,
     1.3,
     "µs",
     "≤ 1,3× (commit SQLite + 2 ping-pongs)"},
    {"CPU do cliente por GetParamForn",
     {"net/GetParamFornKeepAlive", "cpu"},
     {},
     Goal::Absolute,
     30,
     "µs",
     "≤ 30 µs"},
    {"lista de 1M fornecedores, SQLite, primeiras linhas",
     {"scale/SupplierList/sqlite", "real"},
     {{{"scale/SupplierListFloor/sqlite", "real"}, 1}},
     Goal::Absolute,
     50000,
     "µs",
     "≤ 50 ms"},
    {"lista de 1M fornecedores, PostgreSQL, primeiras linhas",
     {"scale/SupplierList/postgresql", "real"},
     {{{"scale/SupplierListFloor/postgresql", "real"}, 1}},
     Goal::Absolute,
     50000,
     "µs",
     "≤ 50 ms"},
    {"hostapp com a lista aberta, SQLite, pico",
     {"scale/HostappSupplierList/sqlite", "peak_mb"},
     {{{"scale/HostappSupplierList/sqlite", "peak_without_list_mb"}, 1}},
     Goal::Margin,
     20,
     "MB",
     "plana: ≤ sem a lista + 20 MB"},
    {"hostapp com a lista aberta, PostgreSQL, pico",
     {"scale/HostappSupplierList/postgresql", "peak_mb"},
     {{{"scale/HostappSupplierList/postgresql", "peak_without_list_mb"}, 1}},
     Goal::Margin,
     20,
     "MB",
     "plana: ≤ sem a lista + 20 MB"},
    {"busca por inscrição, 1M, SQLite",
     {"scale/InscriptionLookup/sqlite", "real"},
     {{{"scale/InscriptionLookupFloor/sqlite", "real"}, 1}},
     Goal::Report,
     0,
     "µs",
     "relatar (o OR do comando impede o índice)"},
    {"busca por inscrição, 1M, PostgreSQL",
     {"scale/InscriptionLookup/postgresql", "real"},
     {{{"scale/InscriptionLookupFloor/postgresql", "real"}, 1}},
     Goal::Absolute,
     1000,
     "µs",
     "índice: ≤ 1 ms (varredura ≈ 85 ms)"},
};

const char* const kEngines[] = {"sqlite", "postgresql"};
const int kLoadClients[] = {4, 16, 64};

std::string EngineCaption(const std::string& engine) {
    return engine == "sqlite" ? "SQLite" : engine == "postgresql" ? "PostgreSQL" : engine;
}

// Throughput of one server under load, against the figures taken before the server's rework
// (the baseline file's, entered as the benchmarks "antes/Load/ENGINE/CLIENTS").
std::vector<Goal> LoadGoals() {
    std::vector<Goal> goals;
    for (const char* engine : kEngines)
        for (int clients : kLoadClients) {
            const std::string key = std::string("Load/") + engine + "/" + std::to_string(clients);
            goals.push_back({"vazão, " + EngineCaption(engine) + ", " + std::to_string(clients) +
                                 " clientes (metade gravações)",
                             {"load/" + key, "calls_per_s"},
                             {{{"antes/" + key, "calls_per_s"}, 1}},
                             Goal::AtLeast,
                             2,
                             "/s",
                             "≥ 2× antes"});
        }
    return goals;
}

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// The cells of a Markdown table row ("| a | b |"); empty when the line is not one.
std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '|') return cells;
    size_t at = 1;
    for (size_t bar; (bar = t.find('|', at)) != std::string::npos; at = bar + 1)
        cells.push_back(Trim(t.substr(at, bar - at)));
    return cells;
}

// The leading number of a cell ("1450 (1380–1520)" reads 1450).
std::optional<double> LeadingNumber(const std::string& cell) {
    size_t used = 0;
    try {
        const double v = std::stod(cell, &used);
        if (used > 0 && std::isfinite(v) && v >= 0) return v;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// Reads the baseline table into results; an error names the file, the line and the reason.
bool ReadBaseline(const std::string& path, std::map<std::string, nlohmann::json>& results) {
    std::ifstream in(path);
    if (!in) {
        std::cerr << "bench-table: " << path << ": não foi possível abrir\n";
        return false;
    }
    std::string line;
    int number = 0;
    long engineCol = -1, clientsCol = -1, callsCol = -1;
    bool inTable = false, found = false, ok = true;
    while (std::getline(in, line)) {
        ++number;
        const std::vector<std::string> cells = Cells(line);
        if (cells.empty()) {
            inTable = false;
            continue;
        }
        if (!inTable && !found) {
            const auto col = [&](const char* name) {
                const auto it = std::find(cells.begin(), cells.end(), name);
                return it == cells.end() ? -1L : static_cast<long>(it - cells.begin());
            };
            engineCol = col("Motor");
            clientsCol = col("Clientes");
            callsCol = col("Chamadas/s antes");
            inTable = found = engineCol >= 0 && clientsCol >= 0 && callsCol >= 0;
            continue;
        }
        if (!inTable) continue;
        if (cells[0].find_first_not_of("-: ") == std::string::npos) continue; // the rule
        const auto fail = [&](const std::string& why) {
            std::cerr << "bench-table: " << path << ":" << number << ": " << why << "\n";
            ok = false;
        };
        if (static_cast<long>(cells.size()) <= std::max({engineCol, clientsCol, callsCol})) {
            fail("linha da tabela com menos colunas que o cabeçalho");
            continue;
        }
        const std::string& caption = cells[static_cast<size_t>(engineCol)];
        std::string engine;
        for (const char* e : kEngines)
            if (caption == EngineCaption(e)) engine = e;
        const std::optional<double> clients = LeadingNumber(cells[static_cast<size_t>(clientsCol)]);
        const std::optional<double> calls = LeadingNumber(cells[static_cast<size_t>(callsCol)]);
        if (engine.empty())
            fail("motor \"" + caption + "\" desconhecido (SQLite ou PostgreSQL)");
        else if (!clients || *clients != std::floor(*clients) || *clients < 1)
            fail("\"Clientes\" não é um número inteiro positivo");
        else if (!calls)
            fail("\"Chamadas/s antes\" não começa por um número");
        else
            results["antes/Load/" + engine + "/" + std::to_string(static_cast<int>(*clients))] = {
                {"calls_per_s", *calls}};
    }
    if (!found) {
        std::cerr << "bench-table: " << path
                  << ": nenhuma tabela com as colunas Motor, Clientes e Chamadas/s antes\n";
        return false;
    }
    return ok;
}

std::string Number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, v >= 100 ? "%.0f" : v >= 10 ? "%.1f" : "%.2f", v);
    return buf;
}

std::string ProgramOf(const std::string& path) {
    std::string base = path.substr(path.find_last_of('/') + 1);
    base = base.substr(0, base.find('.'));
    return base.rfind("bench_", 0) == 0 ? base.substr(6) : base;
}

// The value of a measure, or nothing when its benchmark did not run (no PostgreSQL, say). A
// benchmark is found by its name without the settings the library appends ("/iterations:1").
std::optional<double> ValueOf(const std::map<std::string, nlohmann::json>& results,
                              const Measure& m) {
    auto it = results.find(m.bench);
    if (it == results.end()) {
        it = results.lower_bound(m.bench + "/");
        if (it != results.end() && it->first.rfind(m.bench + "/", 0) != 0) it = results.end();
    }
    if (it == results.end() || it->second.value("error_occurred", false)) return std::nullopt;
    const nlohmann::json& b = it->second;
    if (m.field == "real" || m.field == "cpu") {
        const double ns = Nanoseconds(b.value(m.field + "_time", 0.0), b.value("time_unit", "ns"));
        return ns / 1e3;
    }
    if (!b.contains(m.field) || !b[m.field].is_number()) return std::nullopt;
    return b[m.field].get<double>();
}

// The goals as measured / floor; returns how many were missed.
int PrintGoals(const std::map<std::string, nlohmann::json>& results) {
    std::vector<std::array<std::string, 6>> lines = {
        {"Meta", "Agora", "Piso", "Razão", "Meta", "Situação"}};
    int missed = 0;
    std::vector<Goal> goals = kGoals;
    for (Goal& g : LoadGoals())
        goals.push_back(std::move(g));
    for (const Goal& g : goals) {
        const std::optional<double> now = ValueOf(results, g.now);
        double floor = 0; // the sum, when every part of it was measured
        bool measured = !g.floor.empty();
        for (const auto& [m, factor] : g.floor) {
            const std::optional<double> v = ValueOf(results, m);
            measured = measured && v.has_value();
            floor += factor * v.value_or(0);
        }
        if (!now) {
            lines.push_back({g.what, "-", "-", "-", g.goal, "não medido"});
            continue;
        }
        const bool hasFloor = measured && floor > 0;
        const double ratio = hasFloor ? *now / floor : 0;
        bool met = true;
        switch (g.kind) {
        case Goal::Ratio:
            met = hasFloor && ratio <= g.limit;
            break;
        case Goal::Absolute:
            met = *now <= g.limit;
            break;
        case Goal::Margin:
            met = measured && *now - floor <= g.limit;
            break;
        case Goal::AtLeast:
            met = hasFloor && ratio >= g.limit;
            break;
        case Goal::Report:
            break;
        }
        if (!met) ++missed;
        lines.push_back({g.what, Number(*now) + " " + g.unit,
                         measured ? Number(floor) + " " + g.unit : "-",
                         hasFloor ? Number(ratio) + "×" : "-", g.goal,
                         g.kind == Goal::Report ? "relatado"
                         : met                  ? "cumprida"
                                                : "NÃO cumprida"});
    }
    size_t w[6] = {};
    for (const auto& l : lines)
        for (size_t i = 0; i < 6; ++i)
            w[i] = std::max(w[i], Width(l[i]));
    std::cout << "\n";
    for (size_t n = 0; n < lines.size(); ++n) {
        for (size_t i = 0; i < 6; ++i)
            std::cout << Pad(lines[n][i], w[i], i >= 1 && i <= 3) << (i < 5 ? "  " : "\n");
        if (n == 0)
            std::cout << std::string(w[0] + w[1] + w[2] + w[3] + w[4] + w[5] + 10, '-') << "\n";
    }
    return missed;
}

// "latência × clientes": one server under load, per engine and number of clients (bench_load).
void PrintLoadTable(const std::map<std::string, nlohmann::json>& results) {
    const std::string prefix = "load/Load/";
    struct Line {
        int engine, clients;
        std::array<std::string, 9> cells;
    };
    std::vector<Line> lines;
    const auto us = [](const nlohmann::json& b, const char* counter) {
        return b.contains(counter) && b[counter].is_number()
                   ? Readable(b[counter].get<double>() * 1e3)
                   : std::string("-");
    };
    for (const auto& [name, b] : results) {
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string engine =
            name.substr(prefix.size(), name.find('/', prefix.size()) - prefix.size());
        const size_t at = prefix.size() + engine.size() + 1;
        const int clients = std::atoi(name.c_str() + std::min(at, name.size()));
        int order = 0;
        while (order < 2 && engine != kEngines[order])
            ++order;
        Line l{order, clients, {EngineCaption(engine), std::to_string(clients)}};
        if (b.value("error_occurred", false)) {
            l.cells[2] = "erro: " + b.value("error_message", "");
        } else {
            l.cells[2] = Number(b.value("calls_per_s", 0.0));
            l.cells[3] = us(b, "p50_us");
            l.cells[4] = us(b, "p99_us");
            l.cells[5] = us(b, "load_p50_us") + " / " + us(b, "load_p99_us");
            l.cells[6] = us(b, "save_p50_us") + " / " + us(b, "save_p99_us");
            l.cells[7] = std::to_string(std::lround(b.value("conflicts", 0.0)));
            l.cells[8] = std::to_string(std::lround(b.value("refusals", 0.0)));
        }
        lines.push_back(l);
    }
    if (lines.empty()) return;
    std::sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) {
        return std::tie(a.engine, a.clients) < std::tie(b.engine, b.clients);
    });
    const std::array<std::string, 9> head = {
        "Motor",  "Clientes",          "Chamadas/s",         "p50",
        "p99",    "Leitura p50 / p99", "Gravação p50 / p99", "Conflitos",
        "Recusas"};
    size_t w[9] = {};
    for (size_t i = 0; i < 9; ++i)
        w[i] = Width(head[i]);
    for (const Line& l : lines)
        for (size_t i = 0; i < 9; ++i)
            w[i] = std::max(w[i], Width(l.cells[i]));
    size_t total = 0;
    for (size_t width : w)
        total += width + 2;
    std::cout << "\nlatência × clientes (um servidor, metade das chamadas gravações)\n";
    const auto print = [&](const std::array<std::string, 9>& cells) {
        for (size_t i = 0; i < 9; ++i)
            std::cout << Pad(cells[i], w[i], i >= 1) << (i < 8 ? "  " : "\n");
    };
    print(head);
    std::cout << std::string(total - 2, '-') << "\n";
    for (const Line& l : lines)
        print(l.cells);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<Row> rows;
    std::map<std::string, nlohmann::json> results; // by program/name
    int failures = 0;
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--baseline") {
        if (!ReadBaseline(argv[2], results)) ++failures;
        first = 3;
    }
    for (int i = first; i < argc; ++i) {
        std::ifstream in(argv[i]);
        nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
        if (doc.is_discarded() || !doc.contains("benchmarks")) {
            rows.push_back({ProgramOf(argv[i]), "-", "-", "sem resultados"});
            ++failures;
            continue;
        }
        for (const auto& b : doc["benchmarks"]) {
            std::string name = b.value("name", "?");
            if (name.rfind("BM_", 0) == 0) name = name.substr(3);
            Row r{ProgramOf(argv[i]) + "/" + name, "-", "-", b.value("label", "")};
            results[r.name] = b;
            if (b.value("error_occurred", false)) {
                r.note = "erro: " + b.value("error_message", "");
                ++failures;
            } else {
                r.time =
                    Readable(Nanoseconds(b.value("real_time", 0.0), b.value("time_unit", "ns")));
                r.iterations = std::to_string(b.value("iterations", 0LL));
            }
            rows.push_back(r);
        }
    }
    Row head{"Medida", "Tempo/iteração", "Iterações", "Nota"};
    size_t w[3] = {Width(head.name), Width(head.time), Width(head.iterations)};
    for (const Row& r : rows) {
        w[0] = std::max(w[0], Width(r.name));
        w[1] = std::max(w[1], Width(r.time));
        w[2] = std::max(w[2], Width(r.iterations));
    }
    auto print = [&](const Row& r) {
        std::cout << Pad(r.name, w[0]) << "  " << Pad(r.time, w[1], true) << "  "
                  << Pad(r.iterations, w[2], true) << "  " << r.note << "\n";
    };
    print(head);
    std::cout << std::string(w[0] + w[1] + w[2] + 6 + Width(head.note), '-') << "\n";
    for (const Row& r : rows)
        print(r);
    PrintLoadTable(results);
    PrintGoals(results); // a goal missed is told, not a failure of the run
    return failures ? 1 : 0;
}

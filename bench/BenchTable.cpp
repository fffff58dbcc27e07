// bench-table: merges the JSON results of the benchmark programs into one table on stdout.
// Usage: bench-table RESULT.json...   (each file named after its program, e.g. bench_net.json)
#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
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
    enum Kind { Ratio, Absolute, Margin, Report } kind;
    double limit;     // Ratio: now/floor; Absolute: now; Margin: now - floor
    std::string unit; // of now and floor
    std::string goal;
};

// The goals of the scale and round-trip work, each against the floor measured in the same run.
const std::vector<Goal> kGoals = {
    {"GetParamForn, conexão mantida, p50",
     {"net/GetParamFornKeepAlive", "p50_us"},
     {{{"net/GetParamFornKeepAlive", "pingpong_p50_us"}, 1}},
     Goal::Ratio,
     3,
     "µs",
     "≤ 3× ping-pong"},
    {"SetParamForn (um campo, auditoria), p50",
     {"net/SetParamForn", "p50_us"},
     {{{"net/SetParamForn", "commit_p50_us"}, 1}, {{"net/SetParamForn", "pingpong_p50_us"}, 2}},
     Goal::Ratio,
     1.5,
     "µs",
     "≤ 1,5× (commit SQLite + 2 ping-pongs)"},
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
    for (const Goal& g : kGoals) {
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

} // namespace

int main(int argc, char** argv) {
    std::vector<Row> rows;
    std::map<std::string, nlohmann::json> results; // by program/name
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
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
    PrintGoals(results); // a goal missed is told, not a failure of the run
    return failures ? 1 : 0;
}

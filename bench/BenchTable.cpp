// bench-table: merges the JSON results of the benchmark programs into one table on stdout.
// Usage: bench-table RESULT.json...   (each file named after its program, e.g. bench_net.json)
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
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

std::string ProgramOf(const std::string& path) {
    std::string base = path.substr(path.find_last_of('/') + 1);
    base = base.substr(0, base.find('.'));
    return base.rfind("bench_", 0) == 0 ? base.substr(6) : base;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<Row> rows;
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
    return failures ? 1 : 0;
}

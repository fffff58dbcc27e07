#include "ParamsCsv.h"

#include <csv.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>

namespace ParamsCsv {

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr size_t kChunk = size_t{64} * 1024;

// What a cell needs quotes for: the separator, quotes, line breaks, and blanks at its ends, which
// a reader would trim. A decimal comma stays bare, as the spreadsheet writes it.
bool NeedsQuotes(const std::string& s) {
    if (s.empty()) return false;
    if (s.front() == ' ' || s.back() == ' ' || s.front() == '\t' || s.back() == '\t') return true;
    return s.find_first_of(";\"\r\n") != std::string::npos;
}

void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The separator of a header line: the one of ";" and "," found more often outside quotes.
char SeparatorOf(std::string_view line) {
    int semicolons = 0, commas = 0;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == ';') ++semicolons;
        if (c == ',') ++commas;
    }
    return commas > semicolons ? ',' : ';';
}

} // namespace

void Writer::Row(const std::vector<std::string>& cells) {
    if (!started_) {
        std::fputs(kBom, out_);
        started_ = true;
    }
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i) line += ';';
        const std::string& c = cells[i];
        if (!NeedsQuotes(c)) {
            line += c;
            continue;
        }
        std::string quoted(c.size() * 2 + 2, '\0');
        quoted.resize(csv_write(quoted.data(), quoted.size(), c.data(), c.size()));
        line += quoted;
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), out_);
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    static const unsigned short high[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char c : bytes)
        AppendUtf8(out, c >= 0x80 && c < 0xA0 ? high[c - 0x80] : c);
    return out;
}

bool LooksUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
        if (n == 0) return false;
        unsigned cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            if (i + k >= s.size()) return true; // cut at the chunk's end
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // No overlong form, surrogate or value past U+10FFFF: the server refuses them.
        static const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

struct Reader::Parser {
    csv_parser p{};
    std::vector<std::string> cells;
    std::vector<std::vector<std::string>> rows; // complete rows of the chunk fed last
    Parser() {
        if (csv_init(&p, CSV_STRICT | CSV_STRICT_FINI) != 0)
            throw std::runtime_error("sem memória para o CSV");
    }
    ~Parser() { csv_free(&p); }
    static void Field(void* s, size_t n, void* self) {
        auto* me = static_cast<Parser*>(self);
        me->cells.emplace_back(static_cast<const char*>(s), n);
    }
    static void End(int, void* self) {
        auto* me = static_cast<Parser*>(self);
        me->rows.push_back(std::move(me->cells));
        me->cells.clear();
    }
};

Reader::Reader(const std::string& path, ReadOptions options) : path_(path), options_(options) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) size_ = st.st_size;
}

Reader::~Reader() = default;

void Reader::Read(const RowFn& row, const std::function<void(long long)>& progress) {
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    if (!f)
        throw std::runtime_error("não foi possível abrir " + path_ + ": " + std::strerror(errno) +
                                 ".");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(f, std::fclose);
    Parser parser;
    std::string chunk(kChunk, '\0');
    long long read = 0, number = 0;
    bool first = true;
    auto deliver = [&]() -> bool {
        for (auto& cells : parser.rows)
            if (!row(++number, cells)) return false;
        parser.rows.clear();
        return true;
    };
    for (;;) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), f);
        if (n == 0) {
            if (std::ferror(f))
                throw std::runtime_error("falha ao ler " + path_ + ": " + std::strerror(errno) +
                                         ".");
            break;
        }
        read += static_cast<long long>(n);
        std::string_view bytes(chunk.data(), n);
        if (first) {
            first = false;
            const bool bom = bytes.substr(0, 3) == kBom;
            if (bom) bytes.remove_prefix(3);
            encoding_ = options_.encoding         ? *options_.encoding
                        : bom || LooksUtf8(bytes) ? Encoding::Utf8
                                                  : Encoding::Windows1252;
            separator_ = options_.separator ? *options_.separator
                                            : SeparatorOf(bytes.substr(0, bytes.find('\n')));
            csv_set_delim(&parser.p, static_cast<unsigned char>(separator_));
        }
        // libcsv reads bytes: a UTF-8 sequence cut between two chunks comes together in the cell.
        const std::string text =
            encoding_ == Encoding::Windows1252 ? Windows1252ToUtf8(bytes) : std::string(bytes);
        if (csv_parse(&parser.p, text.data(), text.size(), Parser::Field, Parser::End, &parser) !=
            text.size())
            throw std::runtime_error("arquivo CSV inválido na linha " +
                                     std::to_string(number + parser.rows.size() + 1) +
                                     ": aspas no meio de uma célula sem aspas, ou uma célula "
                                     "entre aspas seguida de outro texto.");
        if (progress) progress(read);
        if (!deliver()) return;
    }
    if (csv_fini(&parser.p, Parser::Field, Parser::End, &parser) != 0)
        throw std::runtime_error("arquivo CSV inválido na linha " +
                                 std::to_string(number + parser.rows.size() + 1) +
                                 ": uma célula entre aspas não se fecha até o fim do arquivo.");
    deliver();
}

} // namespace ParamsCsv

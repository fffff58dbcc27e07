// The CSV files of the supplier parameters, over libcsv: written as a Brazilian spreadsheet opens
// them (UTF-8 with a byte-order mark, ";", CRLF), read as a stream in UTF-8 or Windows-1252,
// separated by ";" or ",", either told or found in the header line.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ParamsCsv {

enum class Encoding { Utf8, Windows1252 };

// Writes rows to a stream: the byte-order mark first, then each row quoted where a cell needs it.
class Writer {
public:
    explicit Writer(std::FILE* out) : out_(out) {}
    void Row(const std::vector<std::string>& cells);
    bool Failed() const { return std::ferror(out_) != 0; }

private:
    std::FILE* out_;
    bool started_ = false;
};

// The text of Windows-1252 bytes in UTF-8 (the five bytes the code page leaves unassigned read
// as U+FFFD).
std::string Windows1252ToUtf8(std::string_view bytes);

// Whether the bytes are UTF-8, a sequence cut at their end allowed (a chunk of a longer text).
bool LooksUtf8(std::string_view bytes);

struct ReadOptions {
    std::optional<Encoding> encoding; // found from the first chunk when not told
    std::optional<char> separator;    // found in the header line when not told
};

// Reads a file row by row without holding more than a chunk and one row. Each row comes with its
// number (1 the header, as a spreadsheet numbers them; a cell with line breaks is one row). A row
// callback returning false stops the reading. Throws std::runtime_error, in Portuguese, for a file
// that cannot be opened or read, or a text that is not CSV (a quote never closed).
class Reader {
public:
    using RowFn = std::function<bool(long long number, std::vector<std::string>& cells)>;
    Reader(const std::string& path, ReadOptions options);
    ~Reader();
    // Reads to the end (or until `row` returns false); `progress` gets the bytes read so far.
    void Read(const RowFn& row, const std::function<void(long long bytes)>& progress = {});
    long long Size() const { return size_; }
    Encoding FoundEncoding() const { return encoding_; }
    char FoundSeparator() const { return separator_; }

private:
    struct Parser;
    std::string path_;
    ReadOptions options_;
    long long size_ = 0;
    Encoding encoding_ = Encoding::Utf8;
    char separator_ = ';';
};

} // namespace ParamsCsv

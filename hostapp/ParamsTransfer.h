// Export and import of the supplier parameters between a CSV file and the application server,
// in batches of the server's bulk methods: what kx-params and the desktop's menu entries run.
#pragma once

#include "ParamsCsv.h"

#include "rtl/SysUtils.h"

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class TNetConnection;

namespace ParamsTransfer {

// A file the server refuses as a whole (its header), as opposed to a connection that failed.
class EFileRefused : public Exception {
public:
    using Exception::Exception;
};

struct ExportFilter {
    std::vector<std::string> codes, inscriptions;
    std::vector<std::pair<std::string, std::string>> cells; // column (caption or field) -> cell
};

// How far the work is; the callback returns false to stop after the batch under way.
struct Progress {
    long long rows = 0;
    long long bytes = 0, totalBytes = 0; // import: of the file
};
using ProgressFn = std::function<bool(const Progress&)>;

// Writes every supplier the filter takes to `out`; the rows written. Exception when the server
// cannot be reached or refuses the filter.
long long Export(TNetConnection& conn, const ExportFilter& filter, std::FILE* out,
                 const ProgressFn& progress = {});

// What the server (or the reading, for a cell that is not text) said of one row.
struct RowResult {
    long long line = 0;
    std::string code, outcome;                               // outcomes as the server names them
    std::vector<std::array<std::string, 3>> changes;         // column, before, after
    std::vector<std::pair<std::string, std::string>> errors; // column ("" for the row), message
};

struct Summary {
    long long rows = 0, changed = 0, unchanged = 0, refused = 0, conflicts = 0, repeated = 0;
    bool cancelled = false;
    bool Clean() const { return refused == 0 && conflicts == 0 && !cancelled; }
};

struct ImportOptions {
    ParamsCsv::ReadOptions read;
    bool apply = false;
};

// Reads the file as a stream and sends it in batches, the dry run or the apply; each row's result
// goes to onRow as it comes. EFileRefused for a header the server refuses or a file that cannot be
// read as CSV; Exception when the server cannot be reached.
Summary Import(TNetConnection& conn, const std::string& path, const ImportOptions& options,
               const std::function<void(const RowResult&)>& onRow, const ProgressFn& progress = {});

// One row's result as a line of the report, in Portuguese.
std::string Describe(const RowResult& r);
// The closing line of a report.
std::string Describe(const Summary& s, bool apply);

} // namespace ParamsTransfer

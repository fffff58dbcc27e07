// A consistent copy of a live SQLite database, taken with SQLite's online backup while the server
// keeps serving: the copy is one snapshot (a read transaction held for the whole copy), writers
// are never blocked, and the file appears under its name only once it is complete and checked.
// It is readable by its owner only, and a copy ended by an error or a stop signal leaves nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

struct BackupError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct BackupResult {
    int pages = 0;
    int64_t bytes = 0;
};

// progress(copied, total) is called after every chunk of pages.
BackupResult BackupSqlite(const std::string& sourcePath, const std::string& targetPath,
                          const std::function<void(int, int)>& progress = {});

// Files the library touches: results files opened for reading, the reader's
// lock file, and the probe that tells whether a directory is writable.
//
// Each is an object owned by the operation that uses it; closing happens in
// destructors, so every path out of an operation, an exception included,
// closes what it opened and removes the lock it created.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/platform.h"

namespace qv::runtime {

// A name as hosts pass it, without trailing blanks.
std::string trim_name(const std::string& name);

// True when a regular file of that name (trailing blanks ignored) exists.
bool file_exists(const std::string& name);

// A results file opened for reading: its name for messages and its size when
// opened; reads never go beyond that size.
struct InputFile {
    std::string name;
    std::unique_ptr<platform::File> file;
    std::uint64_t size = 0;

    bool is_open() const { return file != nullptr; }
    void close() { file.reset(); }
};

// Opens `name` (trailing blanks ignored) for reading. False when no regular
// file has that name or when it exists but cannot be opened; `why` then says
// which.
bool open_input(const std::string& name, InputFile& out, std::string& why);

// The first line of the record in every lock file this library makes; the
// host name, the process id and the time follow, one a line.
inline constexpr const char* kLockMarker = "results_api reader lock";

// The reader's lock file while a base file is read. Created exclusively and
// without following links (the create is the check: a lock made by a solver
// or another reader at any moment makes it fail); removed at destruction
// when the name still names the file created here, and never otherwise.
class LockFile {
public:
    LockFile() = default;
    // Tries to create the lock and writes the record of who made it;
    // held() says whether it was created.
    explicit LockFile(const std::string& path);
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    bool held() const { return file_ != nullptr; }

private:
    std::string path_;
    std::unique_ptr<platform::File> file_;
};

// What a lock file that exists says of its maker. Only a file of this
// library's record, made on this machine by a process that no longer runs,
// is stale; a lock of any other origin (a solver's, an empty file, another
// machine's, a link) is never judged.
struct LockOrigin {
    bool stale = false;
    std::string host;
    std::int64_t process = 0;
};
LockOrigin judge_lock(const std::string& path);

// Removes the lock at `path` when it is (still) a stale one of this library;
// true when it did. A lock of any other origin stays.
bool remove_stale_lock(const std::string& path);

// 0 when a file can be created (and was deleted again) at `path` + a probe
// suffix, 1 when not. It never leaves a file behind.
int probe_writable(const std::string& path);

}  // namespace qv::runtime

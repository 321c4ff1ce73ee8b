// Platform services: path splitting, file status, directory enumeration and
// byte-stream files. Everything that differs between Linux and Windows lives
// behind this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv::platform {

// The separator the library inserts when it joins a directory and a name.
inline constexpr char kSeparator = '/';

// Paths are byte strings as hosts pass them: on Windows, text in the calling
// thread's ANSI code page, converted to UTF-16 for the system.

// A path split as the platform splitter does: the directory keeps its
// trailing separator, the name has no extension, the extension keeps its dot.
struct PathParts {
    std::string directory;
    std::string name;
    std::string extension;
};
PathParts split_path(const std::string& path);

// True when a regular file of that name exists. Directories and other
// special files count as no file.
bool is_regular_file(const std::string& path);
// True when anything at all has that name: a file, a directory, a special
// file or a symbolic link, dangling or not. Links are not followed.
bool entry_exists(const std::string& path);
bool is_directory(const std::string& path);

// Names of the entries of a directory that are not directories (files,
// links to files, dangling links), in the platform's order, or nothing when
// the directory cannot be read. On Windows, a name the thread's ANSI code
// page cannot express is left out: it could not be opened by that name.
std::optional<std::vector<std::string>> list_directory(const std::string& directory);

// Whether `path` is a symbolic link (or, on Windows, any reparse point)
// whose target is not an entry of the directory holding the link itself.
// Only names are resolved; the target is never opened. A link whose target
// cannot be resolved counts as leaving.
bool links_out_of_directory(const std::string& path);

// This machine's name and this process's id, for the lock record.
std::string host_name();
std::int64_t process_id();
// False only when the system says that no process `pid` runs on this
// machine; true when it runs or that cannot be told.
bool process_may_run(std::int64_t pid);
// Seconds since 1970-01-01 UTC.
std::int64_t seconds_now();
// The processors the calling thread may run on (its affinity: a cpuset, a
// batch system's allotment, taskset), fewer when its control group's quota
// allows less processor time (a container's CPU limit), at least 1: what
// "one thread per core" counts, so that a process confined to a part of a
// large machine does not start, and give buffers to, a thread for every
// processor it cannot use.
unsigned usable_processors();
// The processors a control group's quota allows, its quota over its period
// rounded up, the least over the group and the groups above it, or 0 when
// none is set: `membership` is the text of /proc/self/cgroup, `root` where
// the groups are mounted. Version 2 groups (cpu.max) and version 1 groups
// of the processor controller (cpu.cfs_quota_us, cpu.cfs_period_us) are
// both read. Always 0 on Windows.
unsigned processor_quota(const std::string& membership, const std::string& root);

// A file opened for reading or created for writing. Reads never go past the
// end; sizes and positions are 64-bit.
class File {
public:
    // Read: an existing regular file (links followed). ReadEntry: the same,
    // but a symbolic link (a reparse point) is not followed and fails.
    // CreateNew: a new file created exclusively; a name that exists in any
    // form, a symbolic link included, makes it fail, so it never creates or
    // opens a file elsewhere through a link.
    enum class Mode { Read, ReadEntry, CreateNew };
    static std::unique_ptr<File> open(const std::string& path, Mode mode);
    // Removes `path` when it still names this very file (not followed
    // through a link); true when it did.
    bool remove_if_same(const std::string& path) const;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Reads exactly n bytes; false (position unspecified) when fewer remain.
    // Small reads are served from a read-ahead of the file, so that walking
    // many short records, or passing over them, costs no system call each.
    bool read(void* dst, std::size_t n);
    // Writes n bytes at the position (a file of CreateNew), past any
    // read-ahead; false when not all were written.
    bool write(const void* src, std::size_t n);
    // Moves the position; nothing is read or asked of the system.
    bool seek(std::uint64_t offset);
    std::uint64_t position() const { return position_; }
    // Size of the file, measured at the call.
    std::uint64_t size() const;

private:
    explicit File(void* handle) : handle_(handle) {}
    // Up to n bytes at `offset`, however many the file has there (0 at its
    // end or on an error): the one read each platform provides.
    std::size_t read_at(std::uint64_t offset, void* dst, std::size_t n);
    // Reads a whole read-ahead block at `offset`; false when none could be
    // had (no memory for it: reads then go to the system directly).
    bool fill_ahead(std::uint64_t offset);

    void* handle_;
    std::uint64_t position_ = 0;
    std::unique_ptr<std::uint8_t[]> ahead_;
    std::uint64_t ahead_start_ = 0;
    std::size_t ahead_length_ = 0;
    bool narrow_ahead_ = false;  // after a large direct read or a long seek
};

}  // namespace qv::platform

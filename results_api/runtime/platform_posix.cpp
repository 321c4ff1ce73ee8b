// Platform services on POSIX systems, on the system calls.
// std::filesystem is not used: some of its calls that take an error code
// are noexcept yet allocate, so running out of memory inside them would end
// the process instead of failing the call.
#ifndef _WIN32
#include "runtime/platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::platform {

PathParts split_path(const std::string& path) {
    PathParts parts;
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    parts.directory = path.substr(0, name_start);
    const std::string file = path.substr(name_start);
    const std::size_t dot = file.find_last_of('.');
    if (dot == std::string::npos) {
        parts.name = file;
    } else {
        parts.name = file.substr(0, dot);
        parts.extension = file.substr(dot);
    }
    return parts;
}

bool is_regular_file(const std::string& path) {
    struct ::stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool entry_exists(const std::string& path) {
    struct ::stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
    struct ::stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::vector<std::string>> list_directory(const std::string& directory) {
    DIR* d = ::opendir(directory.c_str());
    if (!d) return std::nullopt;
    // Closed on every way out, running out of memory included.
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(d, ::closedir);
    std::vector<std::string> names;
    while (const struct ::dirent* e = ::readdir(d)) {
        const char* name = e->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        // Directories, and links to them, are left out; whatever else is
        // there is listed, dangling links included (is_regular_file tells
        // the callers what they can read).
        if (e->d_type == DT_DIR) continue;
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct ::stat st {};
            if (::fstatat(::dirfd(d), name, &st, 0) == 0 && S_ISDIR(st.st_mode)) continue;
        }
        names.emplace_back(name);
    }
    return names;
}

bool links_out_of_directory(const std::string& path) {
    struct ::stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    const std::size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? std::string(".")
                                  : slash == 0              ? std::string("/")
                                                            : path.substr(0, slash);
    // Both resolved by name only: realpath walks the links but opens no file.
    char* const target = ::realpath(path.c_str(), nullptr);
    char* const home = ::realpath(directory.c_str(), nullptr);
    bool out = true;
    if (target && home) {
        const std::string t(target), h(home);
        const std::size_t cut = t.find_last_of('/');
        const std::string target_directory = cut == 0 ? std::string("/") : t.substr(0, cut);
        out = target_directory != h;
    }
    std::free(target);
    std::free(home);
    return out;
}

std::string host_name() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::string();
    return std::string(name);
}

std::int64_t process_id() { return static_cast<std::int64_t>(::getpid()); }

bool process_may_run(std::int64_t pid) {
    if (pid <= 0 || pid > INT_MAX) return true;
    // Signal 0 asks only whether the process exists; EPERM means it does.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::int64_t seconds_now() { return static_cast<std::int64_t>(std::time(nullptr)); }

namespace {

// The first bytes of a small system file (a few lines), or nothing.
std::string small_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    char text[4096];
    std::size_t have = 0;
    for (ssize_t got; have < sizeof text && (got = ::read(fd, text + have, sizeof text - have)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            have = 0;
            break;
        }
        have += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return std::string(text, have);
}

// A whole decimal number of at most 18 digits (-1 for anything else; a
// quota of -1 or "max" is no quota).
long long whole_number(const std::string& text) {
    if (text.empty() || text.size() > 18) return -1;
    long long n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// The words of a line, split at blanks.
std::vector<std::string> words_of(const std::string& line) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t from = line.find_first_not_of(" \t\n", at);
        if (from == std::string::npos) break;
        const std::size_t to = std::min(line.find_first_of(" \t\n", from), line.size());
        words.push_back(line.substr(from, to - from));
        at = to;
    }
    return words;
}

// Processors a quota over a period allows, rounded up; 0 for none.
unsigned quota_processors(long long quota, long long period) {
    if (quota <= 0 || period <= 0) return 0;
    const long long n = (quota + period - 1) / period;
    return n > 65536 ? 65536u : static_cast<unsigned>(n);
}

}  // namespace

unsigned processor_quota(const std::string& membership, const std::string& root) {
    try {
        // A line "0::PATH" names the version 2 group; "N:LIST:PATH" with
        // "cpu" in the comma-separated LIST the version 1 group of the
        // processor controller.
        std::string v2, v1;
        bool has_v2 = false, has_v1 = false;
        for (std::size_t at = 0; at < membership.size();) {
            std::size_t end = membership.find('\n', at);
            if (end == std::string::npos) end = membership.size();
            const std::string line = membership.substr(at, end - at);
            at = end + 1;
            const std::size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
            if (b == std::string::npos) continue;
            const std::string id = line.substr(0, a), list = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
            if (path.empty() || path[0] != '/') continue;
            if (id == "0" && list.empty()) {
                v2 = path;
                has_v2 = true;
            }
            const std::string commas = "," + list + ",";
            if (commas.find(",cpu,") != std::string::npos) {
                v1 = path;
                has_v1 = true;
            }
        }
        // A path that leaves its group ("..") says nothing about it.
        const auto climbs = [](const std::string& path) { return ("/" + path + "/").find("/../") != std::string::npos; };
        unsigned least = 0;
        const auto keep = [&least](unsigned n) {
            if (n > 0 && (least == 0 || n < least)) least = n;
        };
        // The group and each group above it, up to the mount point.
        const auto each_level = [&climbs](const std::string& base, std::string path, auto visit) {
            if (climbs(path)) return;
            for (;;) {
                while (path.size() > 1 && path.back() == '/') path.pop_back();
                visit(path == "/" ? base : base + path);
                if (path == "/") break;
                const std::size_t slash = path.rfind('/');
                path = slash == 0 ? std::string("/") : path.substr(0, slash);
            }
        };
        if (has_v2) {
            each_level(root, v2, [&](const std::string& dir) {
                const std::vector<std::string> w = words_of(small_file(dir + "/cpu.max"));
                if (w.size() == 2) keep(quota_processors(whole_number(w[0]), whole_number(w[1])));
            });
        }
        // A hybrid system keeps the processor controller in version 1.
        if (has_v1) {
            for (const char* mount : {"/cpu,cpuacct", "/cpuacct,cpu", "/cpu"}) {
                const std::string base = root + mount;
                each_level(base, v1, [&](const std::string& dir) {
                    const std::vector<std::string> q = words_of(small_file(dir + "/cpu.cfs_quota_us"));
                    const std::vector<std::string> p = words_of(small_file(dir + "/cpu.cfs_period_us"));
                    if (q.size() == 1 && p.size() == 1) keep(quota_processors(whole_number(q[0]), whole_number(p[0])));
                });
            }
        }
        return least;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

unsigned usable_processors() {
    unsigned count = std::max(1u, std::thread::hardware_concurrency());
#if defined(__linux__)
    // A machine with more processors than a set holds refuses the set
    // (EINVAL): ask again with a larger one.
    for (int room = 1024; room <= (1 << 16); room *= 2) {
        cpu_set_t* set = CPU_ALLOC(room);
        if (!set) break;
        const std::size_t size = CPU_ALLOC_SIZE(room);
        const bool known = ::sched_getaffinity(0, size, set) == 0;
        const int in_set = known ? CPU_COUNT_S(size, set) : 0;
        const int why = errno;
        CPU_FREE(set);
        if (known) {
            count = in_set > 0 ? static_cast<unsigned>(in_set) : 1u;
            break;
        }
        if (why != EINVAL) break;
    }
    try {
        const unsigned quota = processor_quota(small_file("/proc/self/cgroup"), "/sys/fs/cgroup");
        if (quota > 0) count = std::min(count, quota);
    } catch (const std::bad_alloc&) {
        // the affinity alone, then
    }
#endif
    return count;
}

namespace {

int descriptor(void* handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)); }
void* as_handle(int fd) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)); }

}  // namespace

std::unique_ptr<File> File::open(const std::string& path, Mode mode) {
    int fd = -1;
    switch (mode) {
    case Mode::Read: {
        // Only regular files are results files. O_NONBLOCK keeps the open
        // from waiting on a pipe; the type is checked on what was opened.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct ::stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            fd = -1;
        }
        break;
    }
    case Mode::ReadEntry: {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
        struct ::stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            fd = -1;
        }
        break;
    }
    case Mode::CreateNew:
        // O_EXCL with O_CREAT never follows a link in the last component.
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        break;
    }
    if (fd < 0) return nullptr;
    // The object is allocated after the file was opened: when that fails,
    // the file is closed again before the exception leaves.
    std::unique_ptr<File> file(new (std::nothrow) File(as_handle(fd)));
    if (!file) {
        ::close(fd);
        // A file created here is not left behind.
        if (mode == Mode::CreateNew) ::unlink(path.c_str());
        throw std::bad_alloc();
    }
    return file;
}

bool File::remove_if_same(const std::string& path) const {
    struct ::stat mine {}, named {};
    if (::fstat(descriptor(handle_), &mine) != 0 || ::lstat(path.c_str(), &named) != 0)
        return false;
    if (mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) return false;
    return ::unlink(path.c_str()) == 0;
}

File::~File() { ::close(descriptor(handle_)); }

std::size_t File::read_at(std::uint64_t offset, void* dst, std::size_t n) {
    auto* out = static_cast<char*>(dst);
    std::size_t done = 0;
    while (done < n && offset + done <= static_cast<std::uint64_t>(INT64_MAX)) {
        const ::ssize_t got = ::pread(descriptor(handle_), out + done, n - done,
                                      static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool File::write(const void* src, std::size_t n) {
    const auto* in = static_cast<const char*>(src);
    std::size_t done = 0;
    while (done < n) {
        const ::ssize_t put = ::pwrite(descriptor(handle_), in + done, n - done,
                                       static_cast<off_t>(position_ + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    // What was read ahead no longer shows the file.
    ahead_length_ = 0;
    position_ += done;
    return true;
}

std::uint64_t File::size() const {
    struct ::stat st {};
    if (::fstat(descriptor(handle_), &st) != 0 || st.st_size < 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace qv::platform

#endif  // !_WIN32

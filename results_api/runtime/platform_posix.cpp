// Platform services on POSIX systems, on the system calls and stdio.
// std::filesystem is not used: some of its calls that take an error code
// are noexcept yet allocate, so running out of memory inside them would end
// the process instead of failing the call.
#ifndef _WIN32
#include "runtime/platform.h"

#include <cstdio>
#include <cstring>
#include <new>

#include <dirent.h>
#include <fcntl.h>
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

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

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

std::unique_ptr<File> File::open(const std::string& path, Mode mode) {
    std::FILE* f = nullptr;
    switch (mode) {
    case Mode::Read:
        // Only regular files are results files; this also keeps fopen from
        // "opening" a directory.
        if (!is_regular_file(path)) return nullptr;
        f = std::fopen(path.c_str(), "rb");
        break;
    case Mode::CreateNew: {
        // O_EXCL with O_CREAT never follows a link in the last component.
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 && !(f = ::fdopen(fd, "r+b"))) {
            ::close(fd);
            ::unlink(path.c_str());
        }
        break;
    }
    }
    if (!f) return nullptr;
    // The object is allocated after the file was opened: when that fails,
    // the file is closed again before the exception leaves.
    std::unique_ptr<File> file(new (std::nothrow) File(f));
    if (!file) {
        std::fclose(f);
        // A file created here is not left behind.
        if (mode == Mode::CreateNew) ::unlink(path.c_str());
        throw std::bad_alloc();
    }
    return file;
}

bool File::remove_if_same(const std::string& path) const {
    struct ::stat mine {}, named {};
    if (::fstat(::fileno(static_cast<std::FILE*>(handle_)), &mine) != 0 ||
        ::lstat(path.c_str(), &named) != 0)
        return false;
    if (mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) return false;
    return ::unlink(path.c_str()) == 0;
}

File::~File() { std::fclose(static_cast<std::FILE*>(handle_)); }

bool File::read(void* dst, std::size_t n) {
    if (n == 0) return true;
    auto* f = static_cast<std::FILE*>(handle_);
    const std::size_t got = std::fread(dst, 1, n, f);
    position_ += got;
    return got == n;
}

bool File::write(const void* src, std::size_t n) {
    if (n == 0) return true;
    auto* f = static_cast<std::FILE*>(handle_);
    const std::size_t put = std::fwrite(src, 1, n, f);
    position_ += put;
    return put == n;
}

bool File::seek(std::uint64_t offset) {
    auto* f = static_cast<std::FILE*>(handle_);
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    if (::fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    position_ = offset;
    return true;
}

std::uint64_t File::size() const {
    auto* f = static_cast<std::FILE*>(handle_);
    std::fflush(f);
    struct ::stat st {};
    if (::fstat(::fileno(f), &st) != 0 || st.st_size < 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace qv::platform

#endif  // !_WIN32

// A private directory for one test (under /tmp, or the user's temporary
// directory on Windows), removed with its contents when the helper goes out
// of scope; and paths as the library receives them.
#pragma once

#include <filesystem>
#include <string>

namespace qvtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The path of `name` inside the directory.
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A name with characters beyond ASCII in the encoding the library receives
// paths in: UTF-8 on POSIX systems, the ANSI code page on Windows. Empty
// when the ANSI code page has no such characters among the candidates.
std::string non_ascii_name();

// A path as the library receives it, for std::filesystem.
std::filesystem::path fs_path(const std::string& path);

// Makes `link` a symbolic link to `target`. False where links cannot be
// made (Windows without the privilege or developer mode, wine).
bool make_symlink(const std::string& target, const std::string& link);
// True when `path` is a symbolic link itself.
bool is_symlink(const std::string& path);

}  // namespace qvtest

// Names of the files of one analysis.
#include "host/analysis_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <vector>

namespace qvhost {
namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_base_name(const std::string& name) {
    return ends_with(name, ".qvres_base") || ends_with(name, "_base.qvres");
}

// The one base file of a directory, or the directory itself when it holds
// none or several.
std::string resolve_directory(const std::string& path) {
    if (!is_directory(path)) return path;
    std::vector<std::string> bases;
    if (DIR* d = ::opendir(path.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (is_base_name(e->d_name)) bases.emplace_back(e->d_name);
        ::closedir(d);
    }
    if (bases.size() != 1) return path;
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir + "/" + bases.front();
}

}  // namespace

bool path_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

AnalysisFiles analysis_files(const std::string& given) {
    AnalysisFiles f;
    f.given = given;
    f.path = resolve_directory(given);
    const std::size_t slash = f.path.find_last_of(kPathSeparators);
    f.directory = slash == std::string::npos ? "." : slash == 0 ? "/" : f.path.substr(0, slash);
    if (ends_with(f.path, ".qvres_base") || ends_with(f.path, "_base.qvres")) {
        f.stem = f.path.substr(0, f.path.size() - 11);
    } else {
        const std::size_t underscore = f.path.find_last_of('_');
        const bool in_name = underscore != std::string::npos && (slash == std::string::npos || underscore > slash);
        f.stem = in_name ? f.path.substr(0, underscore) : f.path;
        f.names_cycle_file = ends_with(f.path, ".qvres");
    }
    f.run = file_name_of(f.stem);
    return f;
}

std::string existing_base_file(const AnalysisFiles& f) {
    for (const std::string& candidate : {f.stem + ".qvres_base", f.stem + "_base.qvres"})
        if (path_exists(candidate) && !is_directory(candidate)) return candidate;
    return {};
}

}  // namespace qvhost

// Naming, locks and readability of the files of one analysis.
#include "host/analysis_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "host/error.h"

namespace qvhost {
namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

// Position of the second-to-last underscore of `name`, never position 0.
std::optional<std::size_t> second_to_last_underscore(const std::string& name) {
    int found = 0;
    for (std::size_t pos = name.empty() ? 0 : name.size() - 1; pos >= 1; --pos)
        if (name[pos] == '_' && ++found == 2) return pos;
    return std::nullopt;
}

// A directory holding exactly one newer-form base file stands for it.
std::string resolve_directory(const std::string& path) {
    if (!is_directory(path)) return path;
    std::vector<std::string> bases;
    if (DIR* d = ::opendir(path.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (ends_with(e->d_name, ".qvres_base")) bases.emplace_back(e->d_name);
        ::closedir(d);
    }
    if (bases.size() != 1)
        throw Error("no analysis found for " + path + ": a directory must hold exactly one " +
                    "base file (*.qvres_base); it holds " + std::to_string(bases.size()) +
                    ": name a file of the analysis instead");
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir + "/" + bases.front();
}

}  // namespace

AnalysisFiles analysis_files(const std::string& given) {
    AnalysisFiles f;
    f.given = given;
    const std::string path = resolve_directory(given);
    f.library_path = path;
    if (ends_with(path, ".qvres_base"))
        f.library_path = path.substr(0, path.size() - 11) + "_base.qvres";

    const std::size_t slash = f.library_path.find_last_of('/');
    std::string file = slash == std::string::npos ? f.library_path : f.library_path.substr(slash + 1);
    if (slash == std::string::npos)
        f.directory = ".";
    else
        f.directory = slash == 0 ? "/" : f.library_path.substr(0, slash);
    const std::size_t dot = file.find_last_of('.');
    f.name = dot == std::string::npos ? file : file.substr(0, dot);

    const std::size_t underscore = f.library_path.find_last_of('_');
    f.stem = underscore == std::string::npos ? std::string() : f.library_path.substr(0, underscore);
    f.base_newer = f.stem + ".qvres_base";
    f.base_older = f.library_path.substr(0, underscore == std::string::npos ? 0 : underscore + 1) +
                   "base.qvres";
    f.names_base_file = f.library_path.compare(
                            underscore == std::string::npos ? 0 : underscore + 1, 4, "base") == 0;
    if (const auto p = second_to_last_underscore(f.name)) f.run_prefix = f.name.substr(0, *p);
    return f;
}

std::string existing_base_file(const AnalysisFiles& f) {
    if (exists(f.base_newer)) return f.base_newer;
    if (exists(f.base_older)) return f.base_older;
    return {};
}

std::vector<std::string> existing_locks(const AnalysisFiles& f) {
    std::vector<std::string> locks;
    for (const std::string& lock : {f.directory + "/" + f.name + ".lock", f.stem + ".lock"})
        if (exists(lock) && std::find(locks.begin(), locks.end(), lock) == locks.end())
            locks.push_back(lock);
    return locks;
}

std::vector<std::string> run_cycle_files(const AnalysisFiles& f) {
    std::vector<std::string> files;
    if (!f.run_prefix) return files;
    DIR* d = ::opendir(f.directory.c_str());
    if (!d) return files;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (!ends_with(name, ".qvres") || name.compare(0, f.run_prefix->size(), *f.run_prefix) != 0)
            continue;
        const std::size_t underscore = name.find_last_of('_');
        if (underscore != std::string::npos && name.compare(underscore + 1, 4, "base") == 0)
            continue;
        files.push_back(f.directory + "/" + name);
    }
    ::closedir(d);
    return files;
}

void check_analysis(const AnalysisFiles& f) {
    const std::string& named = f.given;
    if (!exists(f.library_path) && !exists(named) && !(f.names_base_file && exists(f.base_newer)))
        throw Error("no analysis found for " + named + ": the file does not exist");
    const std::string base = existing_base_file(f);
    if (base.empty())
        throw Error("no analysis found for " + named + ": no base file (neither " + f.base_newer +
                    " nor " + f.base_older + " exists)");
    const std::vector<std::string> locks = existing_locks(f);
    if (!locks.empty())
        throw Error("the analysis is locked (" + locks.front() +
                    " exists): a solver or another reader is using it");
    if (!f.run_prefix)
        throw Error("cannot tell the cycle files of " + named +
                    ": its name does not have the form RUN_NAME_CYCLE.qvres");
    // The library ends the process when a file it must read exists but cannot
    // be opened: such files are reported here first.
    std::vector<std::string> must_read = run_cycle_files(f);
    must_read.push_back(base);
    if (!f.names_base_file) must_read.push_back(f.library_path);
    for (const std::string& file : must_read)
        if (!readable(file)) throw Error(file + " cannot be read: permission denied");
}

}  // namespace qvhost

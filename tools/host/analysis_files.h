// The names of one analysis as a host sees them: the path a person named,
// and the names of the run's files as the library gives them once the
// analysis is open (the tools never derive a run's names themselves).
#pragma once

#include <string>

namespace qvhost {

// What separates the components of a path: Windows takes both slashes.
#ifdef _WIN32
inline constexpr const char* kPathSeparators = "/\\";
#else
inline constexpr const char* kPathSeparators = "/";
#endif

// The last component of `path`.
inline std::string file_name_of(const std::string& path) {
    return path.substr(path.find_last_of(kPathSeparators) + 1);
}

struct AnalysisFiles {
    std::string given;      // the path as named by the person
    std::string path;       // `given`, or the base file when a directory was named
    std::string base_file;  // qvres_names: the base file read
    std::string directory;  // its directory, no trailing separator
    std::string stem;       // directory and run: cycle files are STEM_<n>.qvres
    std::string run;        // the run name
    bool names_cycle_file = false;  // `given` is a file other than the base file
};

// Whether `path` exists (a file or a directory).
bool path_exists(const std::string& path);
// Whether `path` is a directory.
bool is_directory(const std::string& path);
// Whether `a` and `b` are the same existing file.
bool same_file(const std::string& a, const std::string& b);

}  // namespace qvhost

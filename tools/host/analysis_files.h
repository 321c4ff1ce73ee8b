// The names of one analysis as a host sees them: from the one path a person
// names, the file that stands for it, the run's stem and its base file. The
// library finds the run's cycle files itself; the tools need the names for
// messages, output files and the summary.
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
    std::string path;       // `given`, or the one base file of a named directory
    std::string directory;  // of `path`, no trailing separator
    std::string stem;       // `path` without "_<n>.qvres", ".qvres_base" or "_base.qvres"
    std::string run;        // the file name part of `stem`
    bool names_cycle_file = false;  // `path` is a cycle file, not a base file
};

// Derives the names from `given`: a cycle file ("blast_cyc_100.qvres"), a
// base file ("blast_cyc.qvres_base" or "blast_cyc_base.qvres") or a
// directory holding exactly one base file (any other directory is left as
// named, for the library to say what is wrong with it).
AnalysisFiles analysis_files(const std::string& given);

// The base file the run has: the newer form when it exists, else the older
// form; empty when neither exists.
std::string existing_base_file(const AnalysisFiles& files);

// Whether `path` exists (a file or a directory).
bool path_exists(const std::string& path);

}  // namespace qvhost

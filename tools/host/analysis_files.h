// The files of one analysis as a host sees them on disk: from the one path a
// person names, the directory, the base file candidates, the lock files and
// the cycle files of the run; and the checks a host makes before it hands
// the path to the library, so that a missing, locked or unreadable analysis
// is reported in words instead of a bare false.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvhost {

struct AnalysisFiles {
    std::string given;         // the path as named by the person
    std::string library_path;  // the path handed to set_BaseFilename
    std::string directory;     // the run's directory, no trailing separator
    std::string name;          // file name part of library_path, no extension
    std::string stem;          // library_path up to its last underscore
    std::string base_newer;    // stem + ".qvres_base"
    std::string base_older;    // stem + "_base.qvres"
    bool names_base_file = false;
    std::optional<std::string> run_prefix;  // name up to its second-to-last underscore
};

// Derives everything from `path`: a cycle file ("blast_cyc_0000100.qvres"),
// an older-form base file ("blast_cyc_base.qvres") or a newer-form base file
// ("blast_cyc.qvres_base", handed to the library under its older-form name,
// which the library resolves to the newer form first).
AnalysisFiles analysis_files(const std::string& path);

// The base file that the library will load: the newer form when it exists,
// else the older form; empty when neither exists.
std::string existing_base_file(const AnalysisFiles& files);

// Lock files that exist for this analysis (the caller's and the reader's).
std::vector<std::string> existing_locks(const AnalysisFiles& files);

// The cycle files of the run in the directory, in directory order: names
// ending ".qvres" that start with the run prefix (older-form base files
// excluded).
std::vector<std::string> run_cycle_files(const AnalysisFiles& files);

// Throws qvhost::Error with one line saying what is wrong when the analysis
// cannot be opened: the named file is missing, there is no base file, a lock
// file shows that the run is in use, or a file of the run cannot be read.
void check_analysis(const AnalysisFiles& files);

}  // namespace qvhost

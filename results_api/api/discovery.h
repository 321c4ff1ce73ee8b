// Finding the cycle files of a run and registering them, sorted by time.
#pragma once

#include <string>
#include <vector>

#include "model/analysis.h"

namespace qv::api {

// Which files of a directory belong to the run.
struct ScanRules {
    // With `exact`, the run's cycle files are exactly STEM_<digits>.qvres for
    // the stem `name`; without, every ".qvres" file whose name starts with
    // `name` (the run prefix).
    std::string name;
    bool exact = false;
    // A file without a "<Model>" section, or whose cycle number an earlier
    // registered file has, is not registered (it is listed as skipped); so
    // is an entry named like a cycle file that is no regular file (a
    // dangling link, a pipe; directories are not listed at all), and so is
    // a link out of the run's directory (the exports pass over it without a
    // word, as over every file they do not register). A
    // directory longer than the scan's limit is scanned, its files listed as
    // skipped for their names' length.
    bool strict = false;
};

// A cycle file found but not registered, and why.
struct Skipped {
    std::string path;
    std::string reason;
};

struct Registration {
    std::vector<model::StepEntry> steps;  // in time order; equal times keep scan order
    bool model_found = false;             // some registered file has a "<Model>" section
    std::vector<Skipped> skipped;
    bool unlisted = false;  // the directory could not be listed
};

// Registers the run's cycle files in `directory`: not older-form base files,
// not locked (a lock path that exists in any form counts), and readable as
// cycle files. A file that cannot be opened or read is not registered. At
// most 100,000 files.
Registration scan_directory(const std::string& directory, const ScanRules& rules);

// The registered entries in scan order put in time order: a time that is
// not a number stays in place and splits the sort. With `strict`, an entry
// whose cycle number an earlier one of that order has is dropped (and listed
// as skipped), and what is left is sorted again between the entries whose
// time is no number.
void order_steps(Registration& out, bool strict);

}  // namespace qv::api

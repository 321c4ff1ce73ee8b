// Finding the cycle files of a run and registering them, sorted by time.
#pragma once

#include <string>
#include <vector>

#include "model/analysis.h"

namespace qv::api {

struct Registration {
    std::vector<model::StepEntry> steps;  // in time order; equal times keep scan order
    bool model_found = false;             // some registered file has a "<Model>" section
};

// Registers the cycle files in `directory` whose names start with `prefix`
// and end in ".qvres": not older-form base files, not locked (a lock path
// that exists in any form counts), and readable as cycle files. A file that
// cannot be opened or read is not registered. At most 100,000 files.
Registration scan_directory(const std::string& directory, const std::string& prefix);

}  // namespace qv::api

// The session of the 59 exports: the one process-wide state of the library.
// It holds the current analysis, the counts in force, the current cycle
// reader, the data extraction mode and the reason of the last failure; the
// core below takes each of them as an argument.
#pragma once

#include <cstdint>
#include <string>

#include "extract/slots.h"
#include "format/cycle_file.h"
#include "model/analysis.h"

namespace qv::api {

struct Session {
    // Held by value: the session itself never allocates, so no export can
    // fail before its guard.
    model::Analysis analysis;
    model::Counts counts;
    bool model_loaded = false;
    std::int32_t extraction_mode = 0;
    format::CycleReader cycle;
    // Why the last load or cycle open failed: the file and what did not fit.
    std::string last_failure;

    model::View view() const { return {analysis, counts, cycle.model(), model_loaded}; }
    extract::Source source() { return {view(), cycle, extraction_mode}; }
};

Session& session();

// Loads the base file that belongs to `path` and, with mode 1, registers
// the run's cycle files in `directory`. All or nothing: a load that fails
// anywhere (damaged or unopenable file, no memory) leaves the session
// without a model.
bool set_base_filename(std::int32_t mode, const std::string& path, const std::string& directory);
// Opens `path` as the current cycle file and reads its header and "<Model>"
// section. The previous cycle is closed first, whatever happens next.
bool set_results_filename(const std::string& path);
// Opens the cycle file of registered step `step` (0-based).
bool new_step(std::int32_t step);
// Closes the cycle file and releases what the clean-up releases: the
// materials, parallel task information, connectivity, element types and
// numberings. Counts, part records, coordinates and the steps stay.
void clean_up();

}  // namespace qv::api

// Finding the cycle files of a run and registering them in the result step
// table, sorted by time.
#include <algorithm>

#include "api/naming.h"
#include "format/cycle_file.h"
#include "model/store.h"
#include "runtime/file_units.h"

namespace qv::api {
namespace {

using runtime::unit::kRegistration;

// An older-form base file also ends in ".qvres": its file name has "base"
// right after its last underscore. Only the file name counts, so that an
// underscore in the directory cannot hide a run's cycle files.
bool is_older_base_file(const std::string& file_name) {
    const std::size_t underscore = file_name.find_last_of('_');
    return underscore != std::string::npos && file_name.compare(underscore + 1, 4, "base") == 0;
}

// Reads a candidate's cycle number and time and enters it in time order;
// equal times keep the order of registration. False when the file is not
// a cycle file that can be read.
bool register_cycle_file(const std::string& full_name, const std::string& file_name) {
    if (full_name.size() > kMaxStepFileName || runtime::file_state(full_name) == 0 ||
        is_older_base_file(file_name))
        return false;
    if (runtime::is_open(kRegistration)) runtime::close_unit(kRegistration);
    runtime::open_unit(kRegistration, full_name, runtime::status_code::kOld);
    format::CycleStamp stamp;
    const bool read = format::read_cycle_stamp(*runtime::connection(kRegistration), stamp);
    runtime::close_unit(kRegistration);
    if (!read) return false;

    model::ModelStore& s = model::store();
    if (stamp.model_found) s.model_loaded = true;
    model::StepEntry entry;
    entry.cycle = stamp.cycle;
    entry.time = stamp.time;
    entry.file_name = full_name;
    // Moved towards the front past every entry of a greater time, as single
    // swaps of neighbours would move it.
    auto at = s.steps.end();
    while (at != s.steps.begin() && (at - 1)->time > entry.time) --at;
    s.steps.insert(at, std::move(entry));
    return true;
}

}  // namespace

std::int32_t scan_directory(const std::string& directory, const std::string& prefix) {
    if (directory.size() > kMaxScanDirectory || !platform::is_directory(directory)) return 0;
    const auto entries = platform::list_directory(directory);
    if (!entries) return 0;
    std::int32_t registered = 0;
    for (const std::string& entry : *entries) {
        const platform::PathParts parts = platform::split_path(entry);
        if (parts.extension != ".qvres" || parts.name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string base = directory + platform::kSeparator;
        if (platform::is_regular_file(base + parts.name + ".lock") ||
            platform::is_directory(base + parts.name + ".lock"))
            continue;
        if (registered == model::kMaxSteps) break;
        if (register_cycle_file(base + entry, entry)) ++registered;
    }
    return registered;
}

}  // namespace qv::api

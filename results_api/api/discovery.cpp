// Finding the cycle files of a run and registering them in time order.
#include "api/discovery.h"

#include <algorithm>
#include <cmath>

#include "api/naming.h"
#include "format/cycle_file.h"
#include "runtime/files.h"

namespace qv::api {
namespace {

// Reads a candidate's cycle number and time; false when it is not a cycle
// file that can be opened and read.
bool read_stamp(const std::string& full_name, format::CycleStamp& stamp) {
    runtime::InputFile file;
    std::string why;
    if (!runtime::open_input(full_name, file, why)) return false;
    format::RecordReader r(std::move(file));
    return format::read_cycle_stamp(r, stamp);
}

}  // namespace

Registration scan_directory(const std::string& directory, const std::string& prefix) {
    Registration out;
    if (directory.size() > kMaxScanDirectory || !platform::is_directory(directory)) return out;
    const auto entries = platform::list_directory(directory);
    if (!entries) return out;
    const std::string base = directory + platform::kSeparator;
    for (const std::string& entry : *entries) {
        const platform::PathParts parts = platform::split_path(entry);
        if (parts.extension != ".qvres" || parts.name.compare(0, prefix.size(), prefix) != 0)
            continue;
        if (platform::entry_exists(base + parts.name + ".lock")) continue;
        if (out.steps.size() == static_cast<std::size_t>(model::kMaxSteps)) break;
        const std::string full_name = base + entry;
        if (full_name.size() > kMaxStepFileName || !runtime::file_exists(full_name) ||
            is_older_base_file(entry))
            continue;
        format::CycleStamp stamp;
        if (!read_stamp(full_name, stamp)) continue;
        if (stamp.model_found) out.model_found = true;
        out.steps.push_back(model::StepEntry{stamp.cycle, stamp.time, full_name});
    }
    // Time order, equal times in scan order. A time that is not a number
    // (a damaged file) compares with nothing: no later entry moves before
    // it, so each run between such entries is sorted on its own.
    const auto by_time = [](const model::StepEntry& a, const model::StepEntry& b) {
        return a.time < b.time;
    };
    auto run = out.steps.begin();
    for (auto it = run; it != out.steps.end(); ++it) {
        if (!std::isnan(it->time)) continue;
        std::stable_sort(run, it, by_time);
        run = it + 1;
    }
    std::stable_sort(run, out.steps.end(), by_time);
    return out;
}

}  // namespace qv::api

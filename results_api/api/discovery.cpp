// Finding the cycle files of a run and registering them in time order.
#include "api/discovery.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "api/naming.h"
#include "format/cycle_file.h"
#include "runtime/files.h"

namespace qv::api {
namespace {

// Whether `name` (without extension) is STEM_<digits>.
bool names_cycle_of(const std::string& name, const std::string& stem) {
    if (name.size() <= stem.size() + 1 || name.compare(0, stem.size(), stem) != 0 ||
        name[stem.size()] != '_')
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(stem.size()) + 1, name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

bool belongs(const platform::PathParts& parts, const ScanRules& rules) {
    if (parts.extension != ".qvres") return false;
    return rules.exact ? names_cycle_of(parts.name, rules.name)
                       : parts.name.compare(0, rules.name.size(), rules.name) == 0;
}

// Reads a candidate's cycle number and time; false, with `why`, when it is
// not a cycle file that can be opened and read.
bool read_stamp(const std::string& full_name, format::CycleStamp& stamp, std::string& why) {
    runtime::InputFile file;
    if (!runtime::open_input(full_name, file, why)) return false;
    format::RecordReader r(std::move(file));
    if (format::read_cycle_stamp(r, stamp)) return true;
    why = r.reason();
    return false;
}

// Time order, equal times in scan order. A time that is not a number (a
// damaged file) compares with nothing: no later entry moves before it, so
// each run between such entries is sorted on its own.
void sort_by_time(std::vector<model::StepEntry>& steps) {
    const auto by_time = [](const model::StepEntry& a, const model::StepEntry& b) {
        return a.time < b.time;
    };
    auto run = steps.begin();
    for (auto it = run; it != steps.end(); ++it) {
        if (!std::isnan(it->time)) continue;
        std::stable_sort(run, it, by_time);
        run = it + 1;
    }
    std::stable_sort(run, steps.end(), by_time);
}

// Keeps the first of the entries that share a cycle number; true when it
// dropped any.
bool drop_repeated_cycles(Registration& out) {
    std::unordered_map<std::int32_t, const model::StepEntry*> first;
    std::vector<model::StepEntry> kept;
    kept.reserve(out.steps.size());
    for (model::StepEntry& e : out.steps) {
        const auto [at, fresh] = first.emplace(e.cycle, nullptr);
        if (!fresh) {
            out.skipped.push_back({e.file_name, e.file_name + ": cycle " + std::to_string(e.cycle) +
                                                    " is also in " + at->second->file_name});
            continue;
        }
        kept.push_back(std::move(e));
        at->second = &kept.back();
    }
    const bool dropped = kept.size() < out.steps.size();
    out.steps = std::move(kept);
    return dropped;
}

}  // namespace

void order_steps(Registration& out, bool strict) {
    sort_by_time(out.steps);
    // A dropped entry whose time is no number joined the runs on either side
    // of it: they are sorted again as one (equal times keep their order).
    if (strict && drop_repeated_cycles(out)) sort_by_time(out.steps);
}

Registration scan_directory(const std::string& directory, const ScanRules& rules) {
    Registration out;
    // The strict scan goes on past the length limit: every cycle file then
    // has a name too long to register and is listed as skipped.
    if ((!rules.strict && directory.size() > kMaxScanDirectory) || !platform::is_directory(directory))
        return out;
    const auto entries = platform::list_directory(directory);
    if (!entries) {
        out.unlisted = true;
        return out;
    }
    const std::string base = directory + platform::kSeparator;
    for (const std::string& entry : *entries) {
        const platform::PathParts parts = platform::split_path(entry);
        if (!belongs(parts, rules)) continue;
        const std::string full_name = base + entry;
        if (platform::entry_exists(base + parts.name + ".lock")) {
            out.skipped.push_back({full_name, full_name + ": locked (" + parts.name + ".lock)"});
            continue;
        }
        if (out.steps.size() == static_cast<std::size_t>(model::kMaxSteps)) {
            out.skipped.push_back({full_name, full_name + ": beyond 100,000 cycle files"});
            continue;
        }
        if (is_older_base_file(entry)) continue;
        if (!runtime::file_exists(full_name)) {
            if (rules.strict) out.skipped.push_back({full_name, full_name + ": not a file"});
            continue;
        }
        // A link to a file of another directory (another run, or a file
        // that is no results file at all) is not this run's: nothing of its
        // target is read, not even its size.
        if (platform::links_out_of_directory(full_name)) {
            if (rules.strict)
                out.skipped.push_back({full_name, full_name + ": a link out of the run's directory"});
            continue;
        }
        if (full_name.size() > kMaxStepFileName) {
            out.skipped.push_back({full_name, full_name + ": name longer than 256 characters"});
            continue;
        }
        format::CycleStamp stamp;
        std::string why;
        if (!read_stamp(full_name, stamp, why)) {
            out.skipped.push_back({full_name, why});
            continue;
        }
        if (rules.strict && !stamp.model_found) {
            out.skipped.push_back({full_name, full_name + ": no \"<Model>\" section"});
            continue;
        }
        if (stamp.model_found) out.model_found = true;
        out.steps.push_back(model::StepEntry{stamp.cycle, stamp.time, full_name});
    }
    order_steps(out, rules.strict);
    return out;
}

}  // namespace qv::api

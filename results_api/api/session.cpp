// The session: naming an analysis, selecting cycles, clean-up.
#include "api/session.h"

#include "api/base_load.h"
#include "api/discovery.h"
#include "api/naming.h"
#include "runtime/files.h"

namespace qv::api {
namespace {

// Opens the cycle file as the current cycle. The previous one is closed and
// the model is invalid until a cycle file was opened.
bool open_cycle(Session& s, const std::string& path) {
    s.model_loaded = false;
    s.cycle = format::CycleReader{};
    format::CycleReader c;
    if (!c.open(path, s.analysis.counts)) {
        s.last_failure = c.reason();
        return false;
    }
    s.cycle = std::move(c);
    s.model_loaded = true;
    if (s.cycle.model().has_sizes) s.counts = s.cycle.model().counts;
    return true;
}

// The session as a load leaves it when it fails: no model, no cycle. The
// unit system and symmetry words stay those of the last base file read.
void drop_model(Session& s) {
    s.model_loaded = false;
    s.cycle = format::CycleReader{};
    model::Analysis empty;
    for (int i = 0; i < 3; ++i) empty.unit_codes[i] = s.analysis.unit_codes[i];
    for (int i = 0; i < 2; ++i) empty.symmetry[i] = s.analysis.symmetry[i];
    s.analysis = std::move(empty);
    s.counts = model::Counts{};
}

}  // namespace

Session& session() {
    static Session s;
    return s;
}

bool set_base_filename(std::int32_t mode, const std::string& path, const std::string& directory) {
    const std::optional<std::string> name = file_name_part(path);
    if (!name || directory.size() > kMaxPath) return false;
    const std::string caller_lock = directory + platform::kSeparator + *name + ".lock";
    if (caller_lock.size() > kMaxPath || platform::entry_exists(caller_lock)) return false;
    const BaseNames names = base_names(path);
    if (names.base_file.empty()) return false;
    // A locked run is refused before anything of the session goes. The
    // exports never clear a lock, stale or not.
    RunLock lock;
    std::string stale;
    if (lock_run(names.lock_file, lock, false, stale) != LockState::free) return false;

    // The load begins: the previous model and cycle go, whatever follows.
    Session& s = session();
    const bool was_loaded = s.model_loaded;
    drop_model(s);
    s.extraction_mode = 0;

    model::Analysis a;
    bool tags_found = false;
    const format::Failure loaded_base = load_base(names, a, tags_found);
    lock.file.reset();
    if (!loaded_base.ok()) {
        s.last_failure = loaded_base.message();
        return false;
    }
    model::Counts counts = a.counts;
    // A base file without any section tag leaves the model flag as it was.
    bool loaded = was_loaded || tags_found;

    format::CycleReader cycle;
    if (!names.names_base_file) {
        // Named by a cycle file: that file's sizes are the ones in force.
        if (!cycle.open(path, a.counts)) {
            s.last_failure = cycle.reason();
            return false;
        }
        cycle.close();
        loaded = true;
        if (cycle.model().has_sizes) counts = cycle.model().counts;
    }

    const std::optional<std::string> prefix = run_prefix(*name);
    const bool scan = mode == 1 && prefix;
    if (scan) {
        Registration found = scan_directory(directory, ScanRules{*prefix});
        a.steps = std::move(found.steps);
        loaded = loaded || found.model_found;
    }

    s.analysis = std::move(a);
    s.counts = counts;
    s.model_loaded = loaded;
    s.cycle = std::move(cycle);
    // Mode 0 asks for the model only; mode 1 for the cycles too, which needs
    // a run prefix; any other mode is refused after the load.
    return mode == 0 || scan;
}

bool set_results_filename(const std::string& path) {
    if (path.empty() || path.size() > kMaxPath) return false;
    return open_cycle(session(), path);
}

bool new_step(std::int32_t step) {
    if (step < 0 || step >= model::kMaxSteps) return false;
    Session& s = session();
    const auto& steps = s.analysis.steps;
    // An index past the registered cycles names an empty entry, whose blank
    // name no file has: the open fails as for a missing file, and the model
    // is invalid until a cycle is opened.
    const std::string name =
        static_cast<std::size_t>(step) < steps.size() ? steps[step].file_name : std::string();
    return open_cycle(s, name);
}

void clean_up() {
    Session& s = session();
    s.cycle.close();
    s.cycle.fractions = format::MaterialFractions{};
    model::Analysis& a = s.analysis;
    a.materials = model::Materials{};
    a.parallel_task_info = {};
    a.connectivity = {};
    a.element_types = {};
    a.numbering.node_numbers = {};
    a.numbering.element_numbers = {};
}

}  // namespace qv::api

// Naming an analysis: from one path to the base file, lock files and cycle
// files; loading the base file and opening cycle files.
#include "api/naming.h"

#include "api/session.h"
#include "format/base_file.h"
#include "format/compressed_array.h"
#include "format/cycle_file.h"
#include "format/record.h"
#include "model/store.h"
#include "runtime/file_units.h"

namespace qv::api {
namespace {

using runtime::unit::kBase;
using runtime::unit::kLock;
using runtime::unit::kResults;

bool exists(const std::string& path) { return runtime::file_state(path) != 0; }

// Any file system entry, as a status query sees it: lock files may be
// directories too.
bool entry_exists(const std::string& path) {
    return platform::is_regular_file(path) || platform::is_directory(path);
}

}  // namespace

std::optional<std::string> file_name_part(const std::string& path) {
    if (path.empty() || path.size() > kMaxPath) return std::nullopt;
    const platform::PathParts parts = platform::split_path(path);
    if (parts.name.size() > kMaxName || parts.extension.size() > kMaxExtension)
        return std::nullopt;
    return parts.name;
}

std::optional<std::string> run_prefix(const std::string& name) {
    // Scanned from the end; position 0 is never examined.
    int found = 0;
    for (std::size_t pos = name.size() - (name.empty() ? 0 : 1); pos >= 1; --pos)
        if (name[pos] == '_' && ++found == 2) return name.substr(0, pos);
    return std::nullopt;
}

BaseNames base_names(const std::string& path) {
    BaseNames names;
    const std::size_t underscore = path.find_last_of('_');
    const std::size_t p = underscore == std::string::npos ? 0 : underscore + 1;  // 1-based
    const std::string stem = p == 0 ? std::string() : path.substr(0, p - 1);
    const std::string newer = stem + ".qvres_base";
    const std::string older = path.substr(0, p) + "base.qvres";
    if (exists(newer))
        names.base_file = newer;
    else if (exists(older))
        names.base_file = older;
    names.lock_file = stem + ".lock";
    names.names_base_file = path.compare(p, 4, "base") == 0;
    return names;
}

bool load_base_file(const std::string& path) {
    const BaseNames names = base_names(path);
    if (names.base_file.empty() || entry_exists(names.lock_file)) return false;

    runtime::note_base_loader_started();
    if (runtime::probe_writable(names.lock_file) == 0)
        runtime::open_unit(kLock, names.lock_file, runtime::status_code::kUnknown);

    model::ModelStore& s = model::store();
    // No cycle of the previous analysis stays open under the new model.
    if (runtime::is_open(kResults)) runtime::close_unit(kResults);
    model::release_cycle(s);
    model::reset_base_model(s);
    format::release_skip_buffer();
    if (runtime::is_open(kBase)) runtime::close_unit(kBase);
    runtime::open_unit(kBase, names.base_file, runtime::status_code::kOld);
    const bool read = format::read_base_file(*runtime::connection(kBase), s);
    runtime::close_unit(kBase);
    runtime::close_unit(kLock, true);
    if (!read) {
        // Nothing half-read is ever served.
        model::reset_base_model(s);
        s.model_loaded = false;
        return false;
    }
    if (names.names_base_file) return true;

    const bool opened = open_cycle_file(path);
    runtime::close_unit(kResults);
    return opened;
}

bool open_cycle_file(const std::string& path) {
    model::ModelStore& s = model::store();
    s.mmvars_loaded = false;
    const int state = runtime::file_state(path);
    s.model_loaded = false;
    // The previous cycle file is closed whatever happens next, so that no
    // query can read from it once another cycle has been asked for.
    if (runtime::is_open(kResults)) runtime::close_unit(kResults);
    model::release_cycle(s);
    if (state == 0) return false;
    runtime::open_unit(kResults, path, runtime::status_code::kOld);
    runtime::Connection& c = *runtime::connection(kResults);
    if (format::read_cycle_header(c, s.cycle_header) != format::kReadOk ||
        !format::read_model_section(c, s)) {
        // A file that cannot serve as the current cycle is not left open to
        // be read from.
        s.model_loaded = false;
        runtime::close_unit(kResults);
        model::release_cycle(s);
        return false;
    }
    return true;
}

bool set_base_filename(std::int32_t mode, const std::string& path, const std::string& directory) {
    const std::optional<std::string> name = file_name_part(path);
    if (!name || directory.size() > kMaxPath) return false;
    const std::string caller_lock = directory + platform::kSeparator + *name + ".lock";
    if (caller_lock.size() > kMaxPath || entry_exists(caller_lock)) return false;
    if (!load_base_file(path)) return false;
    if (mode == 0) return true;
    const std::optional<std::string> prefix = run_prefix(*name);
    if (!prefix || mode != 1) return false;
    scan_directory(directory, *prefix);
    return true;
}

bool set_results_filename(const std::string& path) {
    if (path.empty() || path.size() > kMaxPath) return false;
    return open_cycle_file(path);
}

}  // namespace qv::api

// qvres.h: opening analyses, and the queries on the model and its cycles.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "api/base_load.h"
#include "api/naming.h"
#include "api/qvres_handles.h"
#include "model/material_queries.h"
#include "model/units.h"
#include "runtime/files.h"
#include "variables/unit_text.h"

using qv::api::guarded_status;
using qv::api::report;
using qv::api::succeed;

namespace qv::api {

qvres_status report(qvres_error* error, qvres_status status, const char* format, ...) {
    if (error) {
        error->status = status;
        va_list args;
        va_start(args, format);
        std::vsnprintf(error->message, sizeof error->message, format, args);
        va_end(args);
    }
    return status;
}

void copy_text(std::string_view text, char* out, std::size_t size) {
    std::size_t n = std::min(text.size(), size - 1);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\0')) --n;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace qv::api

namespace {

using qv::api::copy_text;

bool ends_with(const std::string& s, std::string_view tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The directory part of a path, without its trailing separator ("." when
// there is none).
std::string directory_of(const std::string& path) {
    std::string d = qv::platform::split_path(path).directory;
    if (d.empty()) return ".";
    if (d.size() > 1) d.pop_back();
    return d;
}

// The one base file of a directory; empty with `why` when there is none or
// more than one.
std::string base_file_in(const std::string& directory, std::string& why) {
    const auto entries = qv::platform::list_directory(directory);
    if (!entries) {
        why = directory + ": cannot list the directory";
        return {};
    }
    std::vector<std::string> found;
    for (const std::string& e : *entries) {
        const std::string path = directory + qv::platform::kSeparator + e;
        if ((ends_with(e, ".qvres_base") || ends_with(e, "_base.qvres")) &&
            qv::runtime::file_exists(path))
            found.push_back(path);
    }
    if (found.size() == 1) return found.front();
    why = directory + (found.empty() ? ": no base file (*.qvres_base or *_base.qvres)"
                                     : ": more than one base file; name one of them");
    return {};
}

// What an opened path names: the base file, the lock and the run's stem.
struct RunNames {
    qv::api::BaseNames base;
    std::string stem;  // path of the run without "_<n>.qvres" or the base suffix
};

RunNames run_names(const std::string& path) {
    RunNames r;
    for (const char* suffix : {".qvres_base", "_base.qvres"}) {
        if (!ends_with(path, suffix)) continue;
        r.stem = path.substr(0, path.size() - std::strlen(suffix));
        r.base.base_file = qv::runtime::file_exists(path) ? path : std::string();
        r.base.lock_file = r.stem + ".lock";
        r.base.names_base_file = true;
        return r;
    }
    r.base = qv::api::base_names(path);
    const std::size_t underscore = path.find_last_of('_');
    r.stem = underscore == std::string::npos ? std::string() : path.substr(0, underscore);
    return r;
}

qvres_status open_analysis(const char* raw_path, const qvres_open_options* options,
                           qvres_analysis** out, qvres_error* error) {
    if (options && options->prefix_rule != 0 && options->prefix_rule != 1)
        return report(error, QVRES_E_ARGUMENT, "prefix_rule %d is neither 0 nor 1", options->prefix_rule);
    std::string path = qv::runtime::trim_name(raw_path);
    if (qv::platform::is_directory(path)) {
        std::string why;
        const bool listed = qv::platform::list_directory(path).has_value();
        path = base_file_in(path, why);
        if (path.empty()) return report(error, listed ? QVRES_E_NOT_FOUND : QVRES_E_UNREADABLE, "%s", why.c_str());
    }
    const std::optional<std::string> name = qv::api::file_name_part(path);
    if (!name) return report(error, QVRES_E_ARGUMENT, "%s: path or name too long", path.c_str());
    const std::string directory = directory_of(path);
    const RunNames run = run_names(path);
    if (run.base.base_file.empty())
        return report(error, QVRES_E_NOT_FOUND, "%s: no base file for this run (%s.qvres_base or %s_base.qvres)",
                      path.c_str(), run.stem.c_str(), run.stem.c_str());
    const bool clear_stale = options && options->clear_stale_lock != 0;
    const std::string caller_lock = directory + qv::platform::kSeparator + *name + ".lock";
    qv::api::RunLock lock;
    for (const std::string& lock_path : {caller_lock, run.base.lock_file}) {
        std::string stale;
        // The run's own lock is taken; a lock named after the opened file is
        // honoured.
        const qv::api::LockState state =
            lock_path == run.base.lock_file
                ? qv::api::lock_run(lock_path, lock, clear_stale, stale)
                : qv::api::honour_lock(lock_path, clear_stale, stale);
        if (state == qv::api::LockState::stale)
            return report(error, QVRES_E_LOCKED,
                          "%s: the run is locked by %s, %s; remove the lock file if no solver is "
                          "writing the run",
                          path.c_str(), lock_path.c_str(), stale.c_str());
        if (state == qv::api::LockState::locked)
            return report(error, QVRES_E_LOCKED, "%s: the run is locked by %s", path.c_str(),
                          lock_path.c_str());
    }

    auto handle = std::make_unique<qvres_analysis>();
    handle->base_file = run.base.base_file;
    bool tags_found = false;
    const std::int64_t max_inflated = options ? options->max_inflated_bytes : 0;
    if (max_inflated < 0)
        return report(error, QVRES_E_ARGUMENT, "max_inflated_bytes %lld is negative",
                      static_cast<long long>(max_inflated));
    const qv::format::Failure loaded =
        qv::api::load_base(run.base, handle->analysis, tags_found, max_inflated);
    lock.file.reset();
    if (!loaded.ok()) return qv::api::report_failure(error, loaded);
    // N = T + U: hosts lay out T structured nodes over the coordinates. The
    // base file reader let a file without any coordinates through for the
    // exports; here the model does not add up.
    const qv::model::Analysis& an = handle->analysis;
    const std::int64_t slots = qv::model::structured_slots(an, an.counts);
    const std::int64_t nodes = an.coordinates.size() / 3;
    if (nodes < slots)
        return report(error, QVRES_E_DAMAGED,
                      "%s: <Parts>: %lld node coordinates for %lld structured slots and 0 "
                      "unstructured nodes",
                      run.base.base_file.c_str(), static_cast<long long>(nodes),
                      static_cast<long long>(slots));

    qv::api::ScanRules rules;
    rules.strict = true;
    const std::string stem_name = qv::platform::split_path(run.stem + ".x").name;
    if (options && options->prefix_rule == 1) {
        rules.name = qv::api::run_prefix(*name).value_or(stem_name);
    } else {
        rules.name = stem_name;
        rules.exact = true;
    }
    qv::api::Registration found = qv::api::scan_directory(directory, rules);
    if (found.unlisted)
        return report(error, QVRES_E_UNREADABLE,
                      "%s: the directory cannot be listed, so the run's cycle files cannot be found",
                      directory.c_str());
    handle->analysis.steps = std::move(found.steps);
    handle->skipped = std::move(found.skipped);
    *out = handle.release();
    return succeed(error);
}

const char* kStatusTexts[] = {
    "success", "invalid argument", "not found", "locked", "file cannot be opened",
    "damaged or truncated file", "not stored in this cycle", "buffer too small",
    "out of memory"};

template <class T>
qvres_status copy_values(const T* from, std::int64_t count, T* to, std::int64_t capacity,
                         const char* what, qvres_error* error) {
    if (!to && capacity != 0) return report(error, QVRES_E_ARGUMENT, "no buffer for the %s", what);
    if (count > capacity)
        return report(error, QVRES_E_CAPACITY, "%lld %s do not fit in a buffer of %lld",
                      static_cast<long long>(count), what, static_cast<long long>(capacity));
    std::copy(from, from + count, to);
    return succeed(error);
}

// The unstructured part `part` of the analysis, or nullptr.
const qv::model::Part* unstructured_part(const qvres_analysis* a, std::int64_t part) {
    const auto& parts = a->analysis.parts;
    if (!parts.contains(part) || parts(part).type != qv::model::kUnstructured) return nullptr;
    return &parts(part);
}

}  // namespace

extern "C" {

QVRES_EXPORT int32_t QVRES_CALL qvres_version(void) { return QVRES_VERSION; }

QVRES_EXPORT const char* QVRES_CALL qvres_status_text(qvres_status status) {
    const int i = static_cast<int>(status);
    return i >= 0 && i < 9 ? kStatusTexts[i] : "unknown status";
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_open(const char* path, const qvres_open_options* options,
                                                qvres_analysis** analysis, qvres_error* error) {
    if (!path || !analysis) return report(error, QVRES_E_ARGUMENT, "no path or no handle");
    *analysis = nullptr;
    return guarded_status(error, [&] { return open_analysis(path, options, analysis, error); });
}

QVRES_EXPORT void QVRES_CALL qvres_close(qvres_analysis* analysis) { delete analysis; }

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_model(const qvres_analysis* a, qvres_model* m,
                                                     qvres_error* error) {
    if (!a || !m) return report(error, QVRES_E_ARGUMENT, "no analysis or no model record");
    const qv::model::Analysis& an = a->analysis;
    const std::int64_t slots = qv::model::structured_slots(an, an.counts);
    *m = qvres_model{};
    m->structured_parts = an.counts.structured_parts;
    m->unstructured_parts = an.counts.unstructured_parts;
    m->structured_slots = slots;
    m->nodes = an.coordinates.size() / 3;
    m->unstructured_nodes = std::max<std::int64_t>(m->nodes - slots, 0);
    m->unstructured_elements = qv::model::part_element_total(an);
    m->materials = an.materials.count;
    m->cycles = static_cast<std::int64_t>(an.steps.size());
    m->skipped_files = static_cast<std::int64_t>(a->skipped.size());
    m->file_version = an.file_version;
    for (int i = 0; i < 3; ++i) m->unit_system[i] = an.unit_codes[i];
    for (int i = 0; i < 2; ++i) m->symmetry[i] = an.symmetry[i];
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_part(const qvres_analysis* a, int64_t part,
                                                    qvres_part* info, qvres_error* error) {
    if (!a || !info) return report(error, QVRES_E_ARGUMENT, "no analysis or no part record");
    const qv::model::Analysis& an = a->analysis;
    if (!an.parts.contains(part) || an.parts(part).type == 0)
        return report(error, QVRES_E_ARGUMENT, "%s: no part %lld", a->base_file.c_str(),
                      static_cast<long long>(part));
    const qv::model::Part& p = an.parts(part);
    *info = qvres_part{};
    copy_text(an.part_names(part).view(), info->name, sizeof info->name);
    info->structured = p.type == qv::model::kStructured;
    if (info->structured) {
        info->extent[0] = an.size_a(part);
        info->extent[1] = an.size_b(part);
        info->extent[2] = an.size_c(part);
    }
    info->elements = p.elements;
    info->nodes = p.nodes;
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_part_elements(const qvres_analysis* a, int64_t part,
                                                             int32_t* rows, int64_t capacity,
                                                             qvres_error* error) {
    if (!a) return report(error, QVRES_E_ARGUMENT, "no analysis");
    const qv::model::Part* p = unstructured_part(a, part);
    if (!p) return report(error, QVRES_E_ARGUMENT, "no unstructured part %lld", static_cast<long long>(part));
    return copy_values(p->element_ids.data(), p->element_ids.size(), rows, capacity,
                       "element rows", error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_part_nodes(const qvres_analysis* a, int64_t part,
                                                          int32_t* nodes, int64_t capacity,
                                                          qvres_error* error) {
    if (!a) return report(error, QVRES_E_ARGUMENT, "no analysis");
    const qv::model::Part* p = unstructured_part(a, part);
    if (!p) return report(error, QVRES_E_ARGUMENT, "no unstructured part %lld", static_cast<long long>(part));
    return copy_values(p->node_ids.data(), std::min<std::int64_t>(p->nodes, p->node_ids.size()),
                       nodes, capacity, "part nodes", error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_coordinates(const qvres_analysis* a, float* xyz,
                                                           int64_t capacity, qvres_error* error) {
    if (!a || (!xyz && capacity != 0)) return report(error, QVRES_E_ARGUMENT, "no analysis or no buffer");
    const qv::model::Analysis& an = a->analysis;
    const std::int64_t values = an.coordinates.size() / 3 * 3;
    if (values > capacity)
        return report(error, QVRES_E_CAPACITY, "%lld coordinates do not fit in a buffer of %lld",
                      static_cast<long long>(values), static_cast<long long>(capacity));
    // Every coordinate held, scaled as the node coordinate export scales.
    constexpr std::int32_t kLength = 8;  // dimension code of length
    const float scale = qv::model::UnitScale(an.unit_codes).factor(kLength);
    const float* c = an.coordinates.data();
    for (std::int64_t i = 0; i < values; ++i) xyz[i] = c[i] * scale;
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_connectivity(const qvres_analysis* a, int32_t* nodes,
                                                            int64_t capacity, qvres_error* error) {
    if (!a) return report(error, QVRES_E_ARGUMENT, "no analysis");
    const qv::model::Analysis& an = a->analysis;
    // E rows, as qvres_get_model counts them; a base file whose connectivity
    // holds fewer is damaged, not a shorter answer (the caller sized 8 * E).
    const std::int64_t rows = qv::model::part_element_total(an);
    if (an.connectivity.size() / 8 < rows)
        return report(error, QVRES_E_DAMAGED, "%s: the connectivity holds %lld of %lld rows",
                      a->base_file.c_str(), static_cast<long long>(an.connectivity.size() / 8),
                      static_cast<long long>(rows));
    return copy_values(an.connectivity.data(), 8 * rows, nodes, capacity, "connectivity entries",
                       error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_element_types(const qvres_analysis* a, int32_t* types,
                                                             int64_t capacity, qvres_error* error) {
    if (!a) return report(error, QVRES_E_ARGUMENT, "no analysis");
    const qv::model::Analysis& an = a->analysis;
    const std::int64_t n = qv::model::part_element_total(an);
    if (an.element_types.size() < n)
        return report(error, QVRES_E_DAMAGED, "%s: %lld element types for %lld elements",
                      a->base_file.c_str(), static_cast<long long>(an.element_types.size()),
                      static_cast<long long>(n));
    return copy_values(an.element_types.data(), n, types, capacity, "element types", error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_material(const qvres_analysis* a, int64_t material,
                                                        qvres_material* info, qvres_error* error) {
    if (!a || !info) return report(error, QVRES_E_ARGUMENT, "no analysis or no material record");
    const qv::model::Materials& m = a->analysis.materials;
    if (material < 1 || material > m.count || !m.names.contains(material))
        return report(error, QVRES_E_ARGUMENT, "%s: no material %lld", a->base_file.c_str(),
                      static_cast<long long>(material));
    *info = qvres_material{};
    copy_text(m.names(material).view(), info->name, sizeof info->name);
    if (m.body_names.contains(material))
        copy_text(m.body_names(material).view(), info->body_name, sizeof info->body_name);
    info->euler_id = qv::model::euler_id_for_material(a->analysis, static_cast<std::int32_t>(material));
    info->has_poisson = a->analysis.header_word(2) >= 4 && m.poisson_ratios.contains(material);
    if (info->has_poisson) info->poisson_ratio = m.poisson_ratios(material);
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_cycle(const qvres_analysis* a, int64_t index,
                                                     qvres_cycle* cycle, qvres_error* error) {
    if (!a || !cycle) return report(error, QVRES_E_ARGUMENT, "no analysis or no cycle record");
    const auto& steps = a->analysis.steps;
    if (index < 0 || index >= static_cast<std::int64_t>(steps.size()))
        return report(error, QVRES_E_ARGUMENT, "no cycle %lld of %zu", static_cast<long long>(index),
                      steps.size());
    constexpr std::int32_t kTime = 23;  // dimension code of time
    const float scale = qv::model::UnitScale(a->analysis.unit_codes).factor(kTime);
    cycle->number = steps[static_cast<std::size_t>(index)].cycle;
    cycle->time = steps[static_cast<std::size_t>(index)].time * scale;
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_skipped_file(const qvres_analysis* a, int64_t index,
                                                            qvres_skipped_file* file,
                                                            qvres_error* error) {
    if (!a || !file) return report(error, QVRES_E_ARGUMENT, "no analysis or no record");
    if (index < 0 || index >= static_cast<std::int64_t>(a->skipped.size()))
        return report(error, QVRES_E_ARGUMENT, "no skipped file %lld", static_cast<long long>(index));
    const qv::api::Skipped& s = a->skipped[static_cast<std::size_t>(index)];
    std::snprintf(file->path, sizeof file->path, "%s", s.path.c_str());
    std::snprintf(file->reason, sizeof file->reason, "%s", s.reason.c_str());
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_unit_powers(const int32_t codes[3], int32_t powers[3],
                                                       qvres_error* error) {
    if (!codes || !powers) return report(error, QVRES_E_ARGUMENT, "no codes or no powers");
    if (!qv::model::decimal_unit_powers(codes, powers))
        return report(error, QVRES_E_ARGUMENT, "unit codes %d, %d, %d name no decimal system",
                      codes[0], codes[1], codes[2]);
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_variable_unit(int32_t variable, char* unit,
                                                         int64_t capacity, int32_t exponents[4],
                                                         qvres_error* error) {
    if (!unit || capacity < 1) return report(error, QVRES_E_ARGUMENT, "no buffer for the unit");
    if (!qv::variables::real_row(variable))
        return report(error, QVRES_E_ARGUMENT, "no real variable %d in the catalogue", variable);
    return guarded_status(error, [&] {
        const qv::variables::Exponents e = qv::variables::real_exponents(variable);
        const std::string text = qv::variables::si_unit_text(e);
        if (static_cast<std::int64_t>(text.size()) >= capacity)
            return report(error, QVRES_E_CAPACITY, "unit text of %zu characters", text.size());
        std::memcpy(unit, text.c_str(), text.size() + 1);
        if (exponents) {
            exponents[0] = e.length;
            exponents[1] = e.time;
            exponents[2] = e.mass;
            exponents[3] = e.temperature;
        }
        return succeed(error);
    });
}

}  // extern "C"

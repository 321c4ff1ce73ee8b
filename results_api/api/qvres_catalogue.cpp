// qvres.h: the variable catalogue, cell kinds and the run's names.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/naming.h"
#include "api/qvres_handles.h"
#include "model/element_kinds.h"
#include "runtime/files.h"
#include "variables/catalogue_queries.h"
#include "variables/unit_text.h"
#include "variables/variable_queries.h"

using qv::api::copy_text;
using qv::api::guarded_status;
using qv::api::report;
using qv::api::succeed;

namespace {

namespace var = qv::variables;

// Fills an entry from the row of `code` in its family; false without a row.
bool fill_entry(bool real, std::int32_t code, qvres_catalogue_entry& e) {
    const char* name = nullptr;
    const char* identifier = nullptr;
    const char* description = nullptr;
    e = qvres_catalogue_entry{};
    if (real) {
        const var::RealRow* row = var::real_row(code);
        if (!row) return false;
        name = row->short_name, identifier = row->identifier, description = row->description;
        e.exponents[0] = row->length;
        e.exponents[1] = row->time;
        e.exponents[2] = row->mass;
        e.exponents[3] = row->temperature;
        const std::string unit = var::si_unit_text(var::real_exponents(code));
        copy_text(unit, e.unit, sizeof e.unit);
        e.multi_material = var::multi_material(code) ? 1 : 0;
        const var::Components c = var::components_of(code);
        e.group = static_cast<std::int32_t>(c.group);
        e.component = c.component;
        e.members = c.count;
        for (int m = 0; m < c.count; ++m) e.member[m] = c.members[m];
        copy_text(c.group_name, e.group_name, sizeof e.group_name);
    } else {
        const var::IntegerRow* row = var::integer_row(code);
        if (!row) return false;
        name = row->short_name, identifier = row->identifier, description = row->description;
    }
    e.variable = code;
    e.real = real ? 1 : 0;
    copy_text(name, e.name, sizeof e.name);
    copy_text(identifier, e.identifier, sizeof e.identifier);
    copy_text(description, e.description, sizeof e.description);
    // The display name is formed from the 50-character stored form.
    char stored[50], display[100];
    std::memset(stored, ' ', sizeof stored);
    std::memcpy(stored, name, std::min(std::strlen(name), sizeof stored));
    var::display_name(stored, display);
    copy_text(std::string_view(display, sizeof display), e.display_name, sizeof e.display_name);
    return true;
}

bool family_ok(std::int32_t real) { return real == 0 || real == 1; }

// The variable index of catalogue entry `entry` of a family.
std::int32_t code_of_entry(bool real, std::int64_t entry) {
    return real ? var::kRealRows[entry].code : var::kIntegerRows[entry].code;
}

}  // namespace

extern "C" {

QVRES_EXPORT qvres_status QVRES_CALL qvres_count_catalogue(int32_t real, int64_t* count,
                                                           qvres_error* error) {
    if (!count || !family_ok(real))
        return report(error, QVRES_E_ARGUMENT, "no count, or family %d is neither 0 nor 1", real);
    *count = real ? var::kRealRowCount : var::kIntegerRowCount;
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_catalogue_entry(int32_t real, int64_t entry,
                                                               qvres_catalogue_entry* e,
                                                               qvres_error* error) {
    if (!e || !family_ok(real))
        return report(error, QVRES_E_ARGUMENT, "no record, or family %d is neither 0 nor 1", real);
    const std::int64_t rows = real ? var::kRealRowCount : var::kIntegerRowCount;
    if (entry < 0 || entry >= rows)
        return report(error, QVRES_E_ARGUMENT, "no catalogue entry %lld of %lld",
                      static_cast<long long>(entry), static_cast<long long>(rows));
    return guarded_status(error, [&] {
        fill_entry(real != 0, code_of_entry(real != 0, entry), *e);
        return succeed(error);
    });
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_catalogue_variable(int32_t real, int32_t variable,
                                                                  qvres_catalogue_entry* e,
                                                                  qvres_error* error) {
    if (!e || !family_ok(real))
        return report(error, QVRES_E_ARGUMENT, "no record, or family %d is neither 0 nor 1", real);
    return guarded_status(error, [&] {
        if (!fill_entry(real != 0, variable, *e))
            return report(error, QVRES_E_NOT_FOUND, "no %s variable %d in the catalogue",
                          real ? "real" : "integer", variable);
        return succeed(error);
    });
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_find_variable(int32_t real, const char* name,
                                                         qvres_catalogue_entry* e,
                                                         qvres_error* error) {
    if (!e || !name || !family_ok(real))
        return report(error, QVRES_E_ARGUMENT, "no name or record, or family %d is neither 0 nor 1",
                      real);
    return guarded_status(error, [&] {
        const std::int32_t code = var::find_variable(real != 0, name);
        if (code == 0 || !fill_entry(real != 0, code, *e))
            return report(error, QVRES_E_NOT_FOUND, "no %s variable named \"%.200s\"",
                          real ? "real" : "integer", name);
        return succeed(error);
    });
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_cells(const qvres_analysis* a, qvres_cell* cells,
                                                     int64_t capacity, qvres_error* error) {
    if (!a || (!cells && capacity != 0))
        return report(error, QVRES_E_ARGUMENT, "no analysis or no buffer");
    const qv::model::Analysis& an = a->analysis;
    // E cells, as qvres_get_model counts them; type codes or connectivity
    // rows short of that are a damaged base file.
    const std::int64_t n = qv::model::part_element_total(an);
    if (an.element_types.size() < n || an.connectivity.size() / 8 < n)
        return report(error, QVRES_E_DAMAGED, "%s: type codes or connectivity for fewer than %lld elements",
                      a->base_file.c_str(), static_cast<long long>(n));
    if (n > capacity)
        return report(error, QVRES_E_CAPACITY, "%s: %lld cells, room for %lld", a->base_file.c_str(),
                      static_cast<long long>(n), static_cast<long long>(capacity));
    for (std::int64_t e = 1; e <= n; ++e) {
        const qv::model::CellShape s =
            qv::model::cell_shape(an.element_types(e), &an.connectivity(8 * (e - 1) + 1));
        cells[e - 1] = qvres_cell{s.kind, s.nodes, s.vtk_type};
    }
    return succeed(error);
}

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_names(const qvres_analysis* a, qvres_names* names,
                                                     qvres_error* error) {
    if (!a || !names) return report(error, QVRES_E_ARGUMENT, "no analysis or no record");
    return guarded_status(error, [&] {
        const std::string stem = qv::api::run_stem(a->base_file);
        const qv::platform::PathParts parts = qv::platform::split_path(stem);
        std::string directory = parts.directory;
        if (directory.size() > 1) directory.pop_back();  // its trailing separator
        if (directory.empty()) directory = ".";
        const std::string run = parts.name + parts.extension;
        const std::string shown_stem = parts.directory.empty() ? run : stem;
        *names = qvres_names{};
        if (a->base_file.size() >= sizeof names->base_file || shown_stem.size() >= sizeof names->stem ||
            run.size() >= sizeof names->run)
            return report(error, QVRES_E_CAPACITY, "%s: names too long", a->base_file.c_str());
        std::snprintf(names->base_file, sizeof names->base_file, "%s", a->base_file.c_str());
        std::snprintf(names->directory, sizeof names->directory, "%s", directory.c_str());
        std::snprintf(names->run, sizeof names->run, "%s", run.c_str());
        std::snprintf(names->stem, sizeof names->stem, "%s", shown_stem.c_str());
        return succeed(error);
    });
}

}  // extern "C"

// The process-wide model store and its lifecycle steps.
#include "model/store.h"

#include <algorithm>

namespace qv::model {

ModelStore& store() {
    static ModelStore s;
    return s;
}

void release_for_cleanup(ModelStore& s) {
    release(s.material_names);
    release(s.material_ids);
    release(s.body_names);
    release(s.poisson_ratios);
    s.material_count = 0;
    release(s.parallel_task_info);
    release(s.connectivity);
    release(s.element_types);
    release(s.numbering.node_numbers);
    release(s.numbering.element_numbers);
    s.mmvars_loaded = false;
}

void reset_base_model(ModelStore& s) {
    s.extraction_mode = 0;
    s.mmvars_loaded = false;
    s.steps.clear();
    release(s.base_header);
    s.file_version = 0;
    s.structured_parts = 0;
    s.unstructured_parts = 0;
    release(s.part_names);
    for (auto* a : {&s.size_a, &s.size_b, &s.size_c, &s.further_a, &s.further_b, &s.further_c})
        release(*a);
    release(s.parts);
    s.unstructured_element_total = 0;
    release(s.connectivity);
    release(s.coordinates);
    s.node_count = 0;
    s.derived_node_total = 0;
    release(s.element_types);
    s.kinds = ElementKinds{};
    release(s.numbering.node_numbers);
    release(s.numbering.element_numbers);
    s.numbering.node_map.clear();
    s.numbering.element_map.clear();
    s.pair_count = 0;
    release(s.pairs);
    s.pair_map.clear();
    release(s.parallel_task_info);
    s.material_count = 0;
    release(s.material_names);
    release(s.material_ids);
    release(s.body_names);
    release(s.poisson_ratios);
}

void release_cycle(ModelStore& s) {
    release(s.cycle_header.words);
    release(s.directory);
    s.variable_count = 0;
    release(s.structured_part_values);
    s.read_position = 0;
    s.mmvars_loaded = false;
    release(s.displacements);
    s.material_fractions.clear();
    release(s.cover_fraction);
    release(s.rigid_body_numbers);
    release(s.rigid_body_data);
    release(s.joint_numbers);
    release(s.joint_data);
}

std::int32_t usable_structured_parts(const ModelStore& s) {
    std::int64_t n = std::max<std::int32_t>(s.structured_parts, 0);
    n = std::min({n, s.size_a.size(), s.size_b.size(), s.size_c.size()});
    // A cycle may state more structured parts than the base file has: the
    // sizes of an unstructured part (E, M) are no block extents.
    for (std::int64_t p = 1; p <= n; ++p)
        if (s.parts.contains(p) && s.parts(p).type == kUnstructured)
            return static_cast<std::int32_t>(p - 1);
    return static_cast<std::int32_t>(n);
}

bool structured_parts_served(const ModelStore& s) {
    return s.structured_parts <= usable_structured_parts(s);
}

std::int64_t part_element_total(const ModelStore& s) {
    std::int64_t total = 0;
    for (const Part& p : s.parts)
        if (p.type == kUnstructured) total += std::max<std::int32_t>(p.elements, 0);
    return total;
}

std::int64_t structured_slots(const ModelStore& s) {
    std::int64_t total = 0;
    const std::int32_t n = usable_structured_parts(s);
    for (std::int32_t p = 1; p <= n; ++p) {
        const std::int64_t i = std::max<std::int32_t>(s.size_a(p), 0);
        const std::int64_t j = std::max<std::int32_t>(s.size_b(p), 0);
        const std::int64_t k = std::max<std::int32_t>(s.size_c(p), 0);
        total += i * j * k;  // extents are checked at load to keep this in range
    }
    return total;
}

}  // namespace qv::model

// Parts, nodes and elements, answered from the analysis and the counts in
// force.
#include "model/part_queries.h"

#include <algorithm>

namespace qv::model {
namespace {

// The part record of part p when the base file gave one; p may come from a
// cycle file's counts, so it is bounded by the records held.
const Part* part_record(const Analysis& a, std::int32_t p) {
    if (!a.parts.contains(p) || a.parts(p).type == 0) return nullptr;
    return &a.parts(p);
}

int copy_list(const Array<std::int32_t>& list, std::int32_t count, std::int32_t* out) {
    if (count < 0 || list.size() < count) return -1;
    std::copy(list.begin(), list.begin() + count, out);
    return 1;
}

int loaded_count(const View& m, std::int32_t value, std::int32_t& count) {
    count = m.loaded ? value : 0;
    return m.loaded ? 1 : -1;
}

bool unstructured_part(const View& m, std::int32_t part) {
    return m.loaded && part > m.counts.structured_parts &&
           std::int64_t(part) <= std::int64_t(m.counts.structured_parts) + m.counts.unstructured_parts;
}

}  // namespace

int num_nodes(const View& m, std::int32_t& count) {
    return loaded_count(m, m.counts.node_count, count);
}

int num_steps(const View& m, std::int32_t& count) {
    count = static_cast<std::int32_t>(m.analysis.steps.size());
    return m.loaded ? 1 : -1;
}

int num_structured_parts(const View& m, std::int32_t& count) {
    return loaded_count(m, m.counts.structured_parts, count);
}

int num_unstructured_parts(const View& m, std::int32_t& count) {
    return loaded_count(m, m.counts.unstructured_parts, count);
}

int num_unstructured_elements(const View& m, std::int32_t& count) {
    count = 0;
    if (!m.loaded) return -1;
    const std::int64_t total = element_total_in_force(m.analysis, m.counts);
    count = static_cast<std::int32_t>(std::min<std::int64_t>(total, INT32_MAX));
    return 1;
}

int structured_extents(const View& m, std::int32_t* i, std::int32_t* j, std::int32_t* k) {
    const Analysis& a = m.analysis;
    if (!m.loaded || !structured_parts_served(a, m.counts)) return -1;
    for (std::int32_t p = 1; p <= m.counts.structured_parts; ++p) {
        i[p - 1] = a.size_a(p);
        j[p - 1] = a.size_b(p);
        k[p - 1] = a.size_c(p);
    }
    return 1;
}

int part_info(const View& m, std::int32_t part, std::int32_t& elements, std::int32_t& nodes,
              const runtime::TextField& name) {
    const Analysis& a = m.analysis;
    if (!m.loaded || part < 1 ||
        std::int64_t(part) > std::int64_t(m.counts.structured_parts) + m.counts.unstructured_parts)
        return -1;
    const Part* record = part_record(a, part);
    if (!record || !a.part_names.contains(part)) return -1;
    name.write(a.part_names(part).view());
    elements = record->elements;
    nodes = record->nodes;
    return 1;
}

int element_part_connectivity(const View& m, std::int32_t part, std::int32_t* ids) {
    if (!unstructured_part(m, part)) return -1;
    const Part* record = part_record(m.analysis, part);
    if (!record || record->type != kUnstructured) return -1;
    return copy_list(record->element_ids, record->elements, ids);
}

int node_part_connectivity(const View& m, std::int32_t part, std::int32_t* ids) {
    if (!unstructured_part(m, part)) return -1;
    const Part* record = part_record(m.analysis, part);
    if (!record || record->type != kUnstructured) return -1;
    return copy_list(record->node_ids, record->nodes, ids);
}

int unstructured_connectivity(const View& m, std::int32_t* nodes) {
    const Analysis& a = m.analysis;
    if (!m.loaded) return -1;
    // No more rows than the part records in force hold: that is what hosts
    // size for.
    const std::int64_t elements = std::max(m.counts.unstructured_element_total, 0);
    if (elements > element_total_in_force(a, m.counts)) return -1;
    const std::int64_t count = 8 * elements;
    if (a.connectivity.size() < count) return -1;
    std::copy(a.connectivity.begin(), a.connectivity.begin() + count, nodes);
    return 1;
}

int element_types(const View& m, std::int32_t* types) {
    const Analysis& a = m.analysis;
    if (!m.loaded) return -1;
    const std::int64_t count = std::max(m.counts.unstructured_element_total, 0);
    if (count > element_total_in_force(a, m.counts) || a.element_types.size() < count) return -1;
    std::copy(a.element_types.begin(), a.element_types.begin() + count, types);
    return 1;
}

}  // namespace qv::model

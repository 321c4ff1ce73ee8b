// Parts, nodes and elements, answered from the model store.
#include "model/part_queries.h"

#include <algorithm>

#include "model/store.h"

namespace qv::model {
namespace {

// The part record of part p when the base file gave one; p may come from a
// cycle file's counts, so it is bounded by the records held.
const Part* part_record(const ModelStore& s, std::int32_t p) {
    if (!s.parts.contains(p) || s.parts(p).type == 0) return nullptr;
    return &s.parts(p);
}

int copy_list(const Array<std::int32_t>& list, std::int32_t count, std::int32_t* out) {
    if (count < 0 || list.size() < count) return -1;
    std::copy(list.begin(), list.begin() + count, out);
    return 1;
}

}  // namespace

int num_nodes(std::int32_t& count) {
    const ModelStore& s = store();
    count = s.model_loaded ? s.node_count : 0;
    return s.model_loaded ? 1 : -1;
}

int num_steps(std::int32_t& count) {
    const ModelStore& s = store();
    count = static_cast<std::int32_t>(s.steps.size());
    return s.model_loaded ? 1 : -1;
}

int num_structured_parts(std::int32_t& count) {
    const ModelStore& s = store();
    count = s.model_loaded ? s.structured_parts : 0;
    return s.model_loaded ? 1 : -1;
}

int num_unstructured_parts(std::int32_t& count) {
    const ModelStore& s = store();
    count = s.model_loaded ? s.unstructured_parts : 0;
    return s.model_loaded ? 1 : -1;
}

int num_unstructured_elements(std::int32_t& count) {
    ModelStore& s = store();
    count = 0;
    if (!s.model_loaded) return -1;
    // Recomputed from the part records, replacing what a cycle file stated.
    const std::int64_t parts = std::min<std::int64_t>(
        std::int64_t(s.structured_parts) + s.unstructured_parts, s.parts.size());
    std::int64_t total = 0;
    for (std::int64_t p = 1; p <= parts; ++p)
        if (s.parts(p).type == kUnstructured) total += s.parts(p).elements;
    s.unstructured_element_total = static_cast<std::int32_t>(std::min<std::int64_t>(total, INT32_MAX));
    count = s.unstructured_element_total;
    return 1;
}

int structured_extents(std::int32_t* i, std::int32_t* j, std::int32_t* k) {
    const ModelStore& s = store();
    if (!s.model_loaded) return -1;
    if (!structured_parts_served(s)) return -1;
    for (std::int32_t p = 1; p <= s.structured_parts; ++p) {
        i[p - 1] = s.size_a(p);
        j[p - 1] = s.size_b(p);
        k[p - 1] = s.size_c(p);
    }
    return 1;
}

int part_info(std::int32_t part, std::int32_t& elements, std::int32_t& nodes,
              const runtime::TextField& name) {
    const ModelStore& s = store();
    if (!s.model_loaded || part < 1 ||
        std::int64_t(part) > std::int64_t(s.structured_parts) + s.unstructured_parts)
        return -1;
    const Part* record = part_record(s, part);
    if (!record || !s.part_names.contains(part)) return -1;
    name.write(s.part_names(part).view());
    elements = record->elements;
    nodes = record->nodes;
    return 1;
}

int element_part_connectivity(std::int32_t part, std::int32_t* ids) {
    const ModelStore& s = store();
    if (!s.model_loaded || part <= s.structured_parts ||
        std::int64_t(part) > std::int64_t(s.structured_parts) + s.unstructured_parts)
        return -1;
    const Part* record = part_record(s, part);
    if (!record || record->type != kUnstructured) return -1;
    return copy_list(record->element_ids, record->elements, ids);
}

int node_part_connectivity(std::int32_t part, std::int32_t* ids) {
    const ModelStore& s = store();
    if (!s.model_loaded || part <= s.structured_parts ||
        std::int64_t(part) > std::int64_t(s.structured_parts) + s.unstructured_parts)
        return -1;
    const Part* record = part_record(s, part);
    if (!record || record->type != kUnstructured) return -1;
    return copy_list(record->node_ids, record->nodes, ids);
}

int unstructured_connectivity(std::int32_t* nodes) {
    const ModelStore& s = store();
    if (!s.model_loaded) return -1;
    // No more rows than the part records hold: that is what hosts size for.
    const std::int64_t elements = std::max(s.unstructured_element_total, 0);
    if (elements > part_element_total(s)) return -1;
    const std::int64_t count = 8 * elements;
    if (s.connectivity.size() < count) return -1;
    std::copy(s.connectivity.begin(), s.connectivity.begin() + count, nodes);
    return 1;
}

int element_types(std::int32_t* types) {
    const ModelStore& s = store();
    if (!s.model_loaded) return -1;
    const std::int64_t count = std::max(s.unstructured_element_total, 0);
    if (count > part_element_total(s) || s.element_types.size() < count) return -1;
    std::copy(s.element_types.begin(), s.element_types.begin() + count, types);
    return 1;
}

}  // namespace qv::model

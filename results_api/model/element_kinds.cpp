// Host element kinds and numbering maps.
#include "model/element_kinds.h"

#include <algorithm>

namespace qv::model {
namespace {

// Unstructured elements that both the type codes and the connectivity cover.
std::int64_t classified_elements(const ModelStore& s) {
    return std::min(s.element_types.size(), s.connectivity.size() / 8);
}

std::int32_t largest(const Array<std::int32_t>& numbers, std::int64_t n) {
    std::int32_t m = 0;
    for (std::int64_t i = 1; i <= n; ++i) m = i == 1 ? numbers(i) : std::max(m, numbers(i));
    return m;
}

void build_map(NumberMap& map, const Array<std::int32_t>& numbers, std::int64_t n) {
    const std::int32_t top = largest(numbers, std::min(n, numbers.size()));
    if (top > 0) {
        map.build(numbers.data(), std::min(n, numbers.size()), top);
    } else if (top == 0) {
        map.build_identity(static_cast<std::int32_t>(n));
    } else {
        map.clear();  // a numbering of negative numbers serves no lookup
    }
}

}  // namespace

std::int32_t element_kind(std::int32_t type_code, const std::int32_t* c) {
    switch (type_code) {
    case 1:
        if (c[7] >= 1) return kHexahedron;
        if (c[4] == 0) return kTetrahedron;
        if (c[5] == 0) return kPyramid;
        if (c[6] == 0) return kWedge;
        return 0;
    case 2:
        return c[3] == 0 ? kTriangularShell : kQuadrilateralShell;
    case 3:
        return kBeam;
    default:
        return 0;
    }
}

void build_element_kinds(ModelStore& s) {
    s.kinds = ElementKinds{};
    bool present[11] = {};
    const std::int64_t n = classified_elements(s);
    for (std::int64_t e = 1; e <= n; ++e)
        present[element_kind(s.element_types(e), &s.connectivity(8 * (e - 1) + 1))] = true;
    for (int p = 1; p <= 10; ++p)
        if (present[p]) s.kinds.type_number[p] = ++s.kinds.count;
}

void build_numbering_maps(ModelStore& s) {
    const std::int64_t elements = s.element_types.size();
    build_map(s.numbering.element_map, s.numbering.element_numbers,
              s.numbering.element_numbers.allocated() ? s.numbering.element_numbers.size()
                                                      : elements);
    build_map(s.numbering.node_map, s.numbering.node_numbers,
              s.numbering.node_numbers.allocated() ? s.numbering.node_numbers.size()
                                                   : s.derived_node_total);
}

int num_element_types(std::int32_t& count) {
    const ModelStore& s = store();
    count = s.model_loaded ? s.kinds.count : 0;
    return s.model_loaded ? 1 : -1;
}

int element_type_position(std::int32_t type_number, std::int32_t& position) {
    const ModelStore& s = store();
    if (!s.model_loaded) return -1;
    position = 0;
    for (int p = 1; p <= 10; ++p)
        if (s.kinds.type_number[p] == type_number) position = p;
    return 1;
}

int zp_element(std::int32_t external, std::int32_t& type, std::int32_t* nodes) {
    const ModelStore& s = store();
    if (external < 1 || external > s.numbering.element_map.size()) return -1;
    const std::int32_t e = s.numbering.element_map.find(external);
    if (e == 0 || !s.model_loaded) return -1;
    // The connectivity and type codes may have been released by a clean-up.
    if (e > classified_elements(s)) return -1;
    const std::int32_t* row = &s.connectivity(8 * std::int64_t(e - 1) + 1);
    std::copy(row, row + 8, nodes);
    type = s.kinds.type_number[element_kind(s.element_types(e), row)];
    return 1;
}

int zp_element_num_nodes(std::int32_t external, std::int32_t& count) {
    count = 0;
    std::int32_t type = 0;
    std::int32_t nodes[8];
    if (zp_element(external, type, nodes) <= 0) return -1;
    count = static_cast<std::int32_t>(std::find(nodes, nodes + 8, 0) - nodes);
    return 1;
}

std::int32_t element_position(std::int32_t external) {
    const NumberMap& map = store().numbering.element_map;
    if (external < 1 || external > map.size()) return -1;
    return map.find(external);
}

std::int32_t node_position(std::int32_t external) {
    const NumberMap& map = store().numbering.node_map;
    if (external < 1 || external > map.size()) return -1;
    return map.find(external);
}

}  // namespace qv::model

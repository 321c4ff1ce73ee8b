// Host element kinds and numbering maps.
#include "model/element_kinds.h"

#include <algorithm>

namespace qv::model {
namespace {

// Unstructured elements that both the type codes and the connectivity cover.
std::int64_t classified_elements(const Analysis& a) {
    return std::min(a.element_types.size(), a.connectivity.size() / 8);
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

CellShape cell_shape(std::int32_t type_code, const std::int32_t* c) {
    const std::int32_t kind = element_kind(type_code, c);
    switch (kind) {
    case kHexahedron: return {kind, 8, 12};
    case kWedge: return {kind, 6, 13};
    case kPyramid: return {kind, 5, 14};
    case kTetrahedron: return {kind, 4, 10};
    case kQuadrilateralShell: return {kind, 4, 9};
    case kTriangularShell: return {kind, 3, 5};
    case kBeam: return {kind, 2, 3};
    default: break;
    }
    std::int32_t n = 0;
    for (int s = 0; s < 8; ++s) n += c[s] != 0;
    return {0, n, n > 0 ? 2 : 0};
}

void build_element_kinds(Analysis& a) {
    a.kinds = ElementKinds{};
    bool present[11] = {};
    const std::int64_t n = classified_elements(a);
    for (std::int64_t e = 1; e <= n; ++e)
        present[element_kind(a.element_types(e), &a.connectivity(8 * (e - 1) + 1))] = true;
    for (int p = 1; p <= 10; ++p)
        if (present[p]) a.kinds.type_number[p] = ++a.kinds.count;
}

void build_numbering_maps(Analysis& a) {
    Numbering& n = a.numbering;
    build_map(n.element_map, n.element_numbers,
              n.element_numbers.allocated() ? n.element_numbers.size() : a.element_types.size());
    build_map(n.node_map, n.node_numbers,
              n.node_numbers.allocated() ? n.node_numbers.size() : a.derived_node_total);
}

int num_element_types(const View& m, std::int32_t& count) {
    count = m.loaded ? m.analysis.kinds.count : 0;
    return m.loaded ? 1 : -1;
}

int element_type_position(const View& m, std::int32_t type_number, std::int32_t& position) {
    if (!m.loaded) return -1;
    position = 0;
    for (int p = 1; p <= 10; ++p)
        if (m.analysis.kinds.type_number[p] == type_number) position = p;
    return 1;
}

int zp_element(const View& m, std::int32_t external, std::int32_t& type, std::int32_t* nodes) {
    const Analysis& a = m.analysis;
    if (external < 1 || external > a.numbering.element_map.size()) return -1;
    const std::int32_t e = a.numbering.element_map.find(external);
    if (e == 0 || !m.loaded) return -1;
    // The connectivity and type codes may have been released by a clean-up.
    if (e > classified_elements(a)) return -1;
    const std::int32_t* row = &a.connectivity(8 * std::int64_t(e - 1) + 1);
    std::copy(row, row + 8, nodes);
    type = a.kinds.type_number[element_kind(a.element_types(e), row)];
    return 1;
}

int zp_element_num_nodes(const View& m, std::int32_t external, std::int32_t& count) {
    count = 0;
    std::int32_t type = 0;
    std::int32_t nodes[8];
    if (zp_element(m, external, type, nodes) <= 0) return -1;
    count = static_cast<std::int32_t>(std::find(nodes, nodes + 8, 0) - nodes);
    return 1;
}

std::int32_t element_position(const Analysis& a, std::int32_t external) {
    const NumberMap& map = a.numbering.element_map;
    if (external < 1 || external > map.size()) return -1;
    return map.find(external);
}

std::int32_t node_position(const Analysis& a, std::int32_t external) {
    const NumberMap& map = a.numbering.node_map;
    if (external < 1 || external > map.size()) return -1;
    return map.find(external);
}

}  // namespace qv::model

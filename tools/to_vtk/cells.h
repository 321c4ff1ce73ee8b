// The cells of the model in VTK terms, in element order: the structured
// elements of every structured part, then the unstructured elements.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace qvvtk {

enum VtkCell : std::uint8_t {
    kEmpty = 0, kPolyVertex = 2, kLine = 3, kTriangle = 5, kQuad = 9,
    kTetra = 10, kHexahedron = 12, kWedge = 13, kPyramid = 14,
};

struct Cells {
    std::vector<std::int64_t> connectivity;
    std::vector<std::int64_t> offsets;
    std::vector<std::uint8_t> types;
};

// VTK type and node count of an unstructured element from its solver type
// code (1 solid, 2 shell, 3 beam) and its 8 connectivity entries. Elements
// of no known kind become poly-vertices of their non-zero entries, so that
// cells and element values stay aligned.
struct Kind {
    std::uint8_t type;
    int nodes;
};
Kind unstructured_kind(std::int32_t type_code, const std::int32_t* entries);

// Appends the hexahedra of a structured part of I x J x K nodes whose first
// node is point `first`: cell (i, j, k), i, j, k >= 2, K fastest, its
// corners in VTK order.
void add_structured_part(Cells& cells, std::int64_t first, std::int32_t i, std::int32_t j, std::int32_t k);

// Appends the unstructured elements. Connectivity entry n names point
// `unstructured_first + n - 1`. Throws std::runtime_error when an entry lies
// beyond the `unstructured_nodes`.
void add_unstructured(Cells& cells, std::int64_t unstructured_first, std::int64_t unstructured_nodes,
                      const std::vector<std::int32_t>& connectivity, const std::vector<std::int32_t>& type_codes);

}  // namespace qvvtk

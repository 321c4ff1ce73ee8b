// The cells of the model in VTK terms, in element order: the structured
// elements of every structured part, then the unstructured elements.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "qvres.h"

namespace qvvtk {

// VTK's type of the structured parts' cells; the unstructured elements'
// types are the library's (qvres_get_cells).
constexpr std::uint8_t kHexahedron = 12;

struct Cells {
    std::vector<std::int64_t> connectivity;
    std::vector<std::int64_t> offsets;
    std::vector<std::uint8_t> types;
};

// Appends the hexahedra of a structured part of I x J x K nodes whose first
// node is point `first`: cell (i, j, k), i, j, k >= 2, K fastest, its
// corners in VTK order.
void add_structured_part(Cells& cells, std::int64_t first, std::int32_t i, std::int32_t j, std::int32_t k);

// Appends the unstructured elements, each as the library's cell query says:
// its VTK type and the first `nodes` of its 8 entries, or for an element of
// no kind its entries that are not 0. Connectivity entry n names point
// `unstructured_first + n - 1`. Throws std::runtime_error when an entry lies
// beyond the `unstructured_nodes`.
void add_unstructured(Cells& cells, std::int64_t unstructured_first, std::int64_t unstructured_nodes,
                      const std::vector<std::int32_t>& connectivity, const std::vector<qvres_cell>& kinds);

}  // namespace qvvtk

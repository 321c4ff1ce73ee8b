// Model elements as VTK cells.
#include "to_vtk/cells.h"

#include <stdexcept>
#include <string>

namespace qvvtk {

Kind unstructured_kind(std::int32_t type_code, const std::int32_t* e) {
    switch (type_code) {
    case 1:
        if (e[7] >= 1) return {kHexahedron, 8};
        if (e[4] == 0) return {kTetra, 4};
        if (e[5] == 0) return {kPyramid, 5};
        if (e[6] == 0) return {kWedge, 6};
        break;
    case 2: return e[3] == 0 ? Kind{kTriangle, 3} : Kind{kQuad, 4};
    case 3: return {kLine, 2};
    default: break;
    }
    int n = 0;
    for (int s = 0; s < 8; ++s) n += e[s] != 0;
    return n == 0 ? Kind{kEmpty, 0} : Kind{kPolyVertex, n};
}

void add_structured_part(Cells& cells, std::int64_t first, std::int32_t I, std::int32_t J, std::int32_t K) {
    if (I < 2 || J < 2 || K < 2) return;
    const std::size_t n = static_cast<std::size_t>(I - 1) * (J - 1) * (K - 1);
    cells.connectivity.reserve(cells.connectivity.size() + 8 * n);
    cells.offsets.reserve(cells.offsets.size() + n);
    cells.types.reserve(cells.types.size() + n);
    auto p = [&](std::int64_t i, std::int64_t j, std::int64_t k) {
        return first + ((i - 1) * J + (j - 1)) * K + (k - 1);
    };
    for (std::int64_t i = 2; i <= I; ++i)
        for (std::int64_t j = 2; j <= J; ++j)
            for (std::int64_t k = 2; k <= K; ++k) {
                for (const std::int64_t n : {p(i - 1, j - 1, k - 1), p(i, j - 1, k - 1), p(i, j, k - 1),
                                             p(i - 1, j, k - 1), p(i - 1, j - 1, k), p(i, j - 1, k), p(i, j, k),
                                             p(i - 1, j, k)})
                    cells.connectivity.push_back(n);
                cells.offsets.push_back(static_cast<std::int64_t>(cells.connectivity.size()));
                cells.types.push_back(kHexahedron);
            }
}

void add_unstructured(Cells& cells, std::int64_t first, std::int64_t nodes,
                      const std::vector<std::int32_t>& connectivity, const std::vector<std::int32_t>& type_codes) {
    for (std::size_t e = 0; e < type_codes.size() && 8 * e + 8 <= connectivity.size(); ++e) {
        const std::int32_t* entries = &connectivity[8 * e];
        const Kind kind = unstructured_kind(type_codes[e], entries);
        int written = 0;
        for (int s = 0; s < 8 && written < kind.nodes; ++s) {
            const std::int32_t n = entries[s];
            if (kind.type == kPolyVertex && n == 0) continue;
            if (n < 1 || n > nodes)
                throw std::runtime_error("unstructured element " + std::to_string(e + 1) + " names node " +
                                         std::to_string(n) + ", but the model has " + std::to_string(nodes) +
                                         " unstructured nodes");
            cells.connectivity.push_back(first + n - 1);
            ++written;
        }
        cells.offsets.push_back(static_cast<std::int64_t>(cells.connectivity.size()));
        cells.types.push_back(kind.type);
    }
}

}  // namespace qvvtk

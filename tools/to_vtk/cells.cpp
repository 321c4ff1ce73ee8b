// Model elements as VTK cells.
#include "to_vtk/cells.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace qvvtk {

void add_structured_part(Cells& cells, std::int64_t first, std::int32_t I, std::int32_t J, std::int32_t K) {
    if (I < 2 || J < 2 || K < 2) return;
    const std::size_t n = static_cast<std::size_t>(I - 1) * (J - 1) * (K - 1);
    std::size_t at = cells.connectivity.size(), cell = cells.offsets.size();
    cells.connectivity.resize(at + 8 * n);
    cells.offsets.resize(cell + n);
    cells.types.resize(cell + n, kHexahedron);
    std::int64_t* c = cells.connectivity.data();
    std::int64_t* o = cells.offsets.data();
    // Cell (i, j, k) has its lowest corner at node (i-1, j-1, k-1); the other
    // corners lie one layer on in i (J*K points), j (K points) and k (1).
    const std::int64_t di = static_cast<std::int64_t>(J) * K, dj = K;
    for (std::int64_t i = 2; i <= I; ++i)
        for (std::int64_t j = 2; j <= J; ++j) {
            std::int64_t p = first + ((i - 2) * J + (j - 2)) * K;  // corner (i-1, j-1, 1)
            for (std::int64_t k = 2; k <= K; ++k, ++p) {
                const std::int64_t corners[8] = {p, p + di, p + di + dj, p + dj,
                                                 p + 1, p + di + 1, p + di + dj + 1, p + dj + 1};
                std::copy(corners, corners + 8, c + at);
                at += 8;
                o[cell++] = static_cast<std::int64_t>(at);
            }
        }
}

void add_unstructured(Cells& cells, std::int64_t first, std::int64_t nodes,
                      const std::vector<std::int32_t>& connectivity, const std::vector<qvres_cell>& kinds) {
    for (std::size_t e = 0; e < kinds.size() && 8 * e + 8 <= connectivity.size(); ++e) {
        const std::int32_t* entries = &connectivity[8 * e];
        const qvres_cell& kind = kinds[e];
        int written = 0;
        for (int s = 0; s < 8 && written < kind.nodes; ++s) {
            const std::int32_t n = entries[s];
            if (kind.kind == QVRES_CELL_NONE && n == 0) continue;
            if (n < 1 || n > nodes)
                throw std::runtime_error("unstructured element " + std::to_string(e + 1) + " names node " +
                                         std::to_string(n) + ", but the model has " + std::to_string(nodes) +
                                         " unstructured nodes");
            cells.connectivity.push_back(first + n - 1);
            ++written;
        }
        cells.offsets.push_back(static_cast<std::int64_t>(cells.connectivity.size()));
        cells.types.push_back(static_cast<std::uint8_t>(kind.vtk_type));
    }
}

}  // namespace qvvtk

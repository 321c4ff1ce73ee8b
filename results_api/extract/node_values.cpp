// Node coordinates, displacements and node values in model node order.
#include "extract/node_values.h"

#include <algorithm>

#include "model/store.h"
#include "model/units.h"

namespace qv::extract {

int node_coordinates(float* xyz) {
    model::ModelStore& s = model::store();
    if (!s.model_loaded) return -1;
    const std::int64_t n = model::structured_slots(s) + std::max(s.node_count, 0);
    model::refresh_unit_exponents();
    const float scale = model::si_factor(8);
    // The node count may describe more nodes than the base file's coordinates
    // hold (after a base-file-only load it counts them all again): only the
    // coordinates held are written.
    const std::int64_t held = std::min(n, s.coordinates.size() / 3);
    const float* c = s.coordinates.data();
    for (std::int64_t i = 0; i < 3 * held; ++i) xyz[i] = c[i] * scale;
    return 1;
}

// The cycle readers that these need arrive with the cycle-file format.
int node_displacements(float*) { return -1; }
int int_node_values(std::int32_t, std::int32_t, std::int32_t*) { return -1; }
int float_node_values(std::int32_t, std::int32_t, float*) { return -1; }

}  // namespace qv::extract

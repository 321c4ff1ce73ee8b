// Where the values of a value query stand: which structured parts give
// values, which of their slots, how many values per position, and where the
// unstructured values begin. Hosts read this instead of working the layout
// out themselves; it goes by the same walk (walk_of) as the getters.
#pragma once

#include <cstdint>
#include <vector>

#include "extract/slots.h"

namespace qv::extract {

// The value queries, as the layout tells them apart.
enum class Query {
    displacements,
    node_values,        // integer or real
    element_integers,   // element slots of parts with cells
    element_reals,      // also every slot of parts of one I layer; multi-material columns
    every_slot,         // integer or real, every slot as stored
    sublayer_integers,  // as element_reals, one value per slot
    material_fractions,
};

struct LayoutBlock {
    std::int32_t part = 0;
    std::int64_t first = 0;  // index of its first value
    std::int64_t extent[3] = {0, 0, 0};  // slots given along I, J, K (K fastest)
    std::int64_t origin[3] = {1, 1, 1};  // 1-based slot of the first one along I, J, K
    bool elements = false;   // every slot given is an element
};

struct Layout {
    bool nodes = false;
    std::int64_t values = 0;
    std::int64_t columns = 1;  // values per structured position
    std::vector<LayoutBlock> blocks;
    std::int64_t unstructured_first = 0;  // index of the first unstructured value
    std::int64_t unstructured = 0;        // unstructured positions
    std::int64_t unstructured_columns = 1;
    // Material (1-based) of each column; 0 for the slot's own value.
    std::vector<std::int32_t> column_materials;
};

// The layout of a query of `variable` on the current model; false when the
// cycle's sizes cannot be laid out (the count query fails alike).
bool layout_of(const model::View& m, Query q, std::int32_t variable, Layout& layout);

}  // namespace qv::extract

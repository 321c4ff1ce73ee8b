// Per-element material fractions of the current cycle.
#include "model/material_queries.h"

namespace qv::model {

// Needs the material fraction reader of the cycle-file format.
int material_fractions(std::int32_t, float*) { return -1; }

}  // namespace qv::model

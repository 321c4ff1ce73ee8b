// Element values of the current cycle.
#include "extract/element_values.h"

namespace qv::extract {

// The cycle readers that these need arrive with the cycle-file format.
int int_elem_values(std::int32_t, std::int32_t, std::int32_t*) { return -1; }
int float_elem_values(std::int32_t, std::int32_t, float*) { return -1; }
int layer_int_elem_values(std::int32_t, std::int32_t, std::int32_t*) { return -1; }

}  // namespace qv::extract

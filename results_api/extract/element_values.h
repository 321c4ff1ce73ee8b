// Element arrays of the current cycle: element slots only (mode 0) or every
// slot (mode 1), real values in SI units, and sublayer values.
#pragma once

#include <cstdint>

namespace qv::extract {

int int_elem_values(std::int32_t variable, std::int32_t part, std::int32_t* values);
int float_elem_values(std::int32_t variable, std::int32_t part, float* values);
int layer_int_elem_values(std::int32_t variable, std::int32_t sublayer, std::int32_t* values);

}  // namespace qv::extract

// Node arrays in model node order, real values in SI units.
#pragma once

#include <cstdint>

namespace qv::extract {

int node_coordinates(float* xyz);
int node_displacements(float* xyz);
int int_node_values(std::int32_t variable, std::int32_t part, std::int32_t* values);
int float_node_values(std::int32_t variable, std::int32_t part, float* values);

}  // namespace qv::extract

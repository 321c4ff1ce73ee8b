// Node arrays in model node order, real values in SI units.
#pragma once

#include <cstdint>

#include "extract/slots.h"

namespace qv::extract {

int node_coordinates(const model::View& m, float* xyz);
int node_displacements(const Source& src, float* xyz);
int int_node_values(const Source& src, std::int32_t variable, std::int32_t part,
                    std::int32_t* values);
int float_node_values(const Source& src, std::int32_t variable, std::int32_t part, float* values);

}  // namespace qv::extract

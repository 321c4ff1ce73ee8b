// Node arrays in model node order, real values in SI units.
#pragma once

#include <cstdint>

#include "extract/slots.h"

namespace qv::extract {

bool node_coordinates(const model::View& m, float* xyz);
bool node_displacements(const Source& src, float* xyz);
bool int_node_values(const Source& src, std::int32_t variable, std::int32_t part,
                    std::int32_t* values);
bool float_node_values(const Source& src, std::int32_t variable, std::int32_t part, float* values);
// float_node_values with the values given as runs: the same checks,
// failures and walk; rows of averaged values are worked out into the
// getter's own room and given with scale 1.
bool float_node_runs(const Source& src, std::int32_t variable, std::int32_t part, RealRuns& runs);

}  // namespace qv::extract

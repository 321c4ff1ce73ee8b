// Whole-model attributes: file version, unit system, symmetry, the base
// switch words, pyramid/tetrahedron partners and parallel task information.
#pragma once

#include <cstdint>

#include "model/cycle_model.h"

namespace qv::model {

int file_version(const View& m, std::int32_t& version);
int input_result_switches(const View& m, std::int32_t& layout, std::int32_t& materials);
int pyramid_tet_partner(const View& m, std::int32_t element, std::int32_t& partner);
// The registered cycles' numbers and times (in seconds).
int set_data(const View& m, std::int32_t* cycles, float* times);

}  // namespace qv::model

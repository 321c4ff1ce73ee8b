// Element arrays of the current cycle: element slots only (mode 0) or every
// slot (mode 1), real values in SI units, sublayer values, material
// fractions, joints and rigid bodies.
#pragma once

#include <cstdint>

#include "extract/slots.h"

namespace qv::extract {

bool int_elem_values(const Source& src, std::int32_t variable, std::int32_t part,
                    std::int32_t* values);
bool float_elem_values(const Source& src, std::int32_t variable, std::int32_t part, float* values);

// float_elem_values with the values given as runs: the same checks,
// failures and walk.
bool float_elem_runs(const Source& src, std::int32_t variable, std::int32_t part, RealRuns& runs);
bool layer_int_elem_values(const Source& src, std::int32_t variable, std::int32_t sublayer,
                          std::int32_t* values);

// (1 - cover fraction) x material fraction of every element of the
// structured parts with I extent 2 or more.
bool material_fractions(const Source& src, std::int32_t material, float* fractions);
// The values material_fractions writes; -1 when the model cannot be laid out.
std::int64_t material_fraction_count(const model::View& m);

bool joint_data(const Source& src, std::int32_t joint, std::int32_t quantity, float* record16);
bool rigid_body_data(const Source& src, std::int32_t body, float* record12);

}  // namespace qv::extract

namespace qv::extract {

// The header pair stored before the values of a node or element array
// (integer or real; a sublayer's when `sublayer`, its qualifier matched sign
// included), as 4-byte words. Reads the array as the getters do.
bool header_pair(const Source& src, bool nodes, bool real, bool sublayer, std::int32_t variable,
                std::int32_t part, std::uint32_t pair[2]);

}  // namespace qv::extract

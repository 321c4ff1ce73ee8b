// Materials and their Euler material-fraction identifiers, body names,
// Poisson ratios and, for the current cycle, per-element volume fractions.
#pragma once

#include <cstdint>

#include "runtime/text_field.h"

namespace qv::model {

int num_materials(std::int32_t& count);
int material_name(std::int32_t material, const runtime::TextField& name);
// The identifier of a material, -1 when the material is unknown.
std::int32_t euler_id_for_material(std::int32_t material);
// The first material with that identifier, -1 when none has it.
std::int32_t material_for_euler_id(std::int32_t id);
int euler_body_name(std::int32_t material, const runtime::TextField& name);
int poisson_ratio(std::int32_t material, float& ratio);
// (1 - cover fraction) x material fraction of every element of the
// structured parts with I extent 2 or more, for the current cycle.
int material_fractions(std::int32_t material, float* fractions);

}  // namespace qv::model

// Materials and their Euler material-fraction identifiers, body names and
// Poisson ratios.
#pragma once

#include <cstdint>

#include "model/cycle_model.h"
#include "runtime/text_field.h"

namespace qv::model {

int num_materials(const View& m, std::int32_t& count);
int material_name(const View& m, std::int32_t material, const runtime::TextField& name);
// The identifier of a material, -1 when the material is unknown.
std::int32_t euler_id_for_material(const Analysis& a, std::int32_t material);
// The first material with that identifier, -1 when none has it.
std::int32_t material_for_euler_id(const Analysis& a, std::int32_t id);
int euler_body_name(const View& m, std::int32_t material, const runtime::TextField& name);
int poisson_ratio(const View& m, std::int32_t material, float& ratio);

}  // namespace qv::model

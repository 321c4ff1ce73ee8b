// Joint quantities, rigid body transforms and the list of result sets.
#pragma once

#include <cstdint>

namespace qv::model {

int joint_data(std::int32_t joint, std::int32_t quantity, float* record16);
int rigid_body_data(std::int32_t body, float* record12);
int set_data(std::int32_t* cycles, float* times);

}  // namespace qv::model

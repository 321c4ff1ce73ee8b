// Whole-model attributes: file version, unit system, symmetry, the base
// switch words, pyramid/tetrahedron partners and parallel task information.
#pragma once

#include <cstdint>

namespace qv::model {

int file_version(std::int32_t& version);
void unit_system(std::int32_t& length, std::int32_t& mass, std::int32_t& time);
void model_symmetry(std::int32_t& word1, std::int32_t& word2);
int input_result_switches(std::int32_t& layout, std::int32_t& materials);
bool has_parallel_task_info();
std::int32_t parallel_task_info_size();
void parallel_task_information(std::int32_t* values);
int pyramid_tet_partner(std::int32_t element, std::int32_t& partner);

}  // namespace qv::model

// Queries on parts, nodes and elements. Each returns 1 on success and -1 on
// failure (no model loaded, or an index the store cannot serve).
#pragma once

#include <cstdint>

#include "runtime/text_field.h"

namespace qv::model {

int num_nodes(std::int32_t& count);
int num_steps(std::int32_t& count);
int num_structured_parts(std::int32_t& count);
int num_unstructured_parts(std::int32_t& count);
int num_unstructured_elements(std::int32_t& count);
int structured_extents(std::int32_t* i, std::int32_t* j, std::int32_t* k);
int part_info(std::int32_t part, std::int32_t& elements, std::int32_t& nodes,
              const runtime::TextField& name);
int element_part_connectivity(std::int32_t part, std::int32_t* ids);
int node_part_connectivity(std::int32_t part, std::int32_t* ids);
int unstructured_connectivity(std::int32_t* nodes);
int element_types(std::int32_t* types);

}  // namespace qv::model

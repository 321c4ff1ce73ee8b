// Queries on parts, nodes and elements. Each returns 1 on success and -1 on
// failure (no valid model, or an index the analysis cannot serve).
#pragma once

#include <cstdint>

#include "model/cycle_model.h"
#include "runtime/text_field.h"

namespace qv::model {

int num_nodes(const View& m, std::int32_t& count);
int num_steps(const View& m, std::int32_t& count);
int num_structured_parts(const View& m, std::int32_t& count);
int num_unstructured_parts(const View& m, std::int32_t& count);
// Recomputed from the part records; the session makes the result the
// element total in force, replacing what a cycle file stated.
int num_unstructured_elements(const View& m, std::int32_t& count);
int structured_extents(const View& m, std::int32_t* i, std::int32_t* j, std::int32_t* k);
int part_info(const View& m, std::int32_t part, std::int32_t& elements, std::int32_t& nodes,
              const runtime::TextField& name);
int element_part_connectivity(const View& m, std::int32_t part, std::int32_t* ids);
int node_part_connectivity(const View& m, std::int32_t part, std::int32_t* ids);
int unstructured_connectivity(const View& m, std::int32_t* nodes);
int element_types(const View& m, std::int32_t* types);

}  // namespace qv::model

// Host element kinds and the external numbering of elements and nodes.
#pragma once

#include <cstdint>

#include "model/store.h"

namespace qv::model {

// Kind positions 1..10; positions 1, 3 and 4 are never present.
inline constexpr std::int32_t kBeam = 2;
inline constexpr std::int32_t kTetrahedron = 5;
inline constexpr std::int32_t kHexahedron = 6;
inline constexpr std::int32_t kPyramid = 7;
inline constexpr std::int32_t kWedge = 8;
inline constexpr std::int32_t kTriangularShell = 9;
inline constexpr std::int32_t kQuadrilateralShell = 10;

// Kind position of an element from its type code and 8 connectivity
// entries; 0 when it is of no kind.
std::int32_t element_kind(std::int32_t type_code, const std::int32_t* nodes);

// Built once per base-file load, after the type codes and connectivity.
void build_element_kinds(ModelStore& s);
// Built from the numberings (identity maps when there are none).
void build_numbering_maps(ModelStore& s);

int num_element_types(std::int32_t& count);
int element_type_position(std::int32_t type_number, std::int32_t& position);
int zp_element(std::int32_t external, std::int32_t& type, std::int32_t* nodes);
int zp_element_num_nodes(std::int32_t external, std::int32_t& count);
// Row (position) carrying an external number, 0 when none; -1 outside the
// numbering.
std::int32_t element_position(std::int32_t external);
std::int32_t node_position(std::int32_t external);

}  // namespace qv::model

// Host element kinds and the external numbering of elements and nodes.
#pragma once

#include <cstdint>

#include "model/cycle_model.h"

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

// What a host draws an unstructured element as: its kind position, the
// node entries it uses (the kind's corner count; for an element of no kind
// its entries that are not 0) and the VTK cell type of that: hexahedron 12,
// wedge 13, pyramid 14, tetrahedron 10, quadrilateral 9, triangle 5, beam
// line 3; poly-vertex 2 for an element of no kind with nodes, 0 (an empty
// cell) for one with none.
struct CellShape {
    std::int32_t kind = 0;
    std::int32_t nodes = 0;
    std::int32_t vtk_type = 0;
};
CellShape cell_shape(std::int32_t type_code, const std::int32_t* nodes);

// Built once per base-file load, after the type codes and connectivity.
void build_element_kinds(Analysis& a);
// Built from the numberings (identity maps when there are none).
void build_numbering_maps(Analysis& a);

int num_element_types(const View& m, std::int32_t& count);
int element_type_position(const View& m, std::int32_t type_number, std::int32_t& position);
int zp_element(const View& m, std::int32_t external, std::int32_t& type, std::int32_t* nodes);
// Writes 0 first; then the number of node slots before the first 0.
int zp_element_num_nodes(const View& m, std::int32_t external, std::int32_t& count);
// Row (position) carrying an external number, 0 when none; -1 outside the
// numbering.
std::int32_t element_position(const Analysis& a, std::int32_t external);
std::int32_t node_position(const Analysis& a, std::int32_t external);

}  // namespace qv::model
